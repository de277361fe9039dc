// F11: the renderer's own full-screen mode, and back to the window exactly as it was.
#include "tools/tool_host.h"

#include "ui/lookwell_dlg.h"

bool CToolHost::IsFullScreen() const {
    IVideoWindow* pVideoWindow = m_dlg.GetPreviewVideoWindow();
    LONG nMode = OAFALSE;
    return pVideoWindow != nullptr && SUCCEEDED(pVideoWindow->get_FullScreenMode(&nMode)) &&
           nMode != OAFALSE;
}

bool CToolHost::ToggleFullScreen() {
    if (IsFullScreen()) {
        return LeaveFullScreen();
    }
    IVideoWindow* pVideoWindow = m_dlg.GetPreviewVideoWindow();
    HWND hVideo = m_dlg.GetPreviewVideoHwnd();
    if (!m_dlg.IsPreviewing() || pVideoWindow == nullptr || hVideo == nullptr) {
        ::MessageBeep(MB_OK);
        return false;
    }
    m_dlg.GetWindowRect(&m_rcMainBefore);
    // Where the picture lies in its frame: the renderer answers in screen coordinates.
    RECT rcVideo{};
    ::GetWindowRect(hVideo, &rcVideo);
    ::MapWindowPoints(nullptr, ::GetParent(hVideo), reinterpret_cast<POINT*>(&rcVideo), 2);
    m_rcVideoBefore = rcVideo;
    if (FAILED(pVideoWindow->put_FullScreenMode(OATRUE))) {
        ::MessageBeep(MB_OK);
        return false;
    }
    m_hFullScreenVideo = hVideo;
    m_fullScreen.SubclassWindow(hVideo);
    return true;
}

bool CToolHost::LeaveFullScreen() {
    m_fullScreen.UnsubclassWindow();
    if (!IsFullScreen()) {
        m_hFullScreenVideo = nullptr;
        return false;
    }
    IVideoWindow* pVideoWindow = m_dlg.GetPreviewVideoWindow();
    pVideoWindow->put_FullScreenMode(OAFALSE);
    // The renderer puts its window back at the size it had on the screen; the picture had the
    // zoomed frame's. Wine's renderer also restores the visible style without showing the
    // window: hidden and shown again, it is really there.
    pVideoWindow->put_Visible(OAFALSE);
    pVideoWindow->SetWindowPosition(m_rcVideoBefore.left, m_rcVideoBefore.top,
                                    m_rcVideoBefore.right - m_rcVideoBefore.left,
                                    m_rcVideoBefore.bottom - m_rcVideoBefore.top);
    pVideoWindow->put_Visible(OATRUE);
    RECT rcNow;
    m_dlg.GetWindowRect(&rcNow);
    if (::EqualRect(&rcNow, &m_rcMainBefore) == FALSE) {
        ::SetWindowPos(m_dlg.m_hWnd, nullptr, m_rcMainBefore.left, m_rcMainBefore.top,
                       m_rcMainBefore.right - m_rcMainBefore.left,
                       m_rcMainBefore.bottom - m_rcMainBefore.top, SWP_NOZORDER | SWP_NOACTIVATE);
    }
    ::SetForegroundWindow(m_dlg.m_hWnd);
    // Wine applies the full-screen window's last size from the X server after it has become a
    // child again: checked for a while and put right.
    m_hRestoredVideo = m_hFullScreenVideo;
    m_nRestoreChecks = 40;
    m_toolWnd.SetTimer(kRestoreTimer, 50);
    m_hFullScreenVideo = nullptr;
    return true;
}

void CToolHost::CheckRestoredVideo() {
    IVideoWindow* pVideoWindow = m_dlg.GetPreviewVideoWindow();
    if (--m_nRestoreChecks <= 0 || !::IsWindow(m_hRestoredVideo) || pVideoWindow == nullptr) {
        m_toolWnd.KillTimer(kRestoreTimer);
        return;
    }
    RECT rcNow{};
    ::GetWindowRect(m_hRestoredVideo, &rcNow);
    ::MapWindowPoints(nullptr, ::GetParent(m_hRestoredVideo), reinterpret_cast<POINT*>(&rcNow), 2);
    if (::EqualRect(&rcNow, &m_rcVideoBefore) == FALSE) {
        pVideoWindow->SetWindowPosition(m_rcVideoBefore.left, m_rcVideoBefore.top,
                                        m_rcVideoBefore.right - m_rcVideoBefore.left,
                                        m_rcVideoBefore.bottom - m_rcVideoBefore.top);
    }
}

// In full screen the picture is the renderer's own top-level window, and a close (Alt+F4, a
// window manager's close box, its system menu) goes straight to it, where it would destroy the
// picture and leave the main window with an empty frame. While full screen lasts its window is
// subclassed: a close leaves full screen and closes the program the main window's way.
BEGIN_MESSAGE_MAP(CToolHost::CFullScreenWnd, CWnd)
ON_WM_CLOSE()
END_MESSAGE_MAP()

void CToolHost::CFullScreenWnd::OnClose() {
    // Posted: the full-screen switch must not run inside the renderer's own procedure.
    m_tools.m_toolWnd.PostMessage(kCloseMain);
}
