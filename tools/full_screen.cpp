// F11: the renderer's own full-screen mode, and back to the window exactly as it was.
#include "tools/picture_tools.h"

#include "ui/lookwell_dlg.h"

bool CPictureTools::IsFullScreen() const {
    LONG nMode = OAFALSE;
    return m_dlg.m_pVideoWindow != nullptr &&
           SUCCEEDED(m_dlg.m_pVideoWindow->get_FullScreenMode(&nMode)) && nMode != OAFALSE;
}

bool CPictureTools::ToggleFullScreen() {
    if (IsFullScreen()) {
        return LeaveFullScreen();
    }
    IVideoWindow* pVideoWindow = m_dlg.m_pVideoWindow;
    if (!m_dlg.m_bPreviewing || pVideoWindow == nullptr) {
        ::MessageBeep(MB_OK);
        return false;
    }
    HWND hVideo = ::GetWindow(m_dlg.GetDlgItem(IDC_PREVIEW), GW_CHILD);
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
    return true;
}

bool CPictureTools::LeaveFullScreen() {
    if (!IsFullScreen()) {
        m_hFullScreenVideo = nullptr;
        return false;
    }
    IVideoWindow* pVideoWindow = m_dlg.m_pVideoWindow;
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
    m_nRestoreTimer = ::SetTimer(nullptr, m_nRestoreTimer, 50, nullptr);
    m_hFullScreenVideo = nullptr;
    return true;
}

void CPictureTools::CheckRestoredVideo() {
    if (--m_nRestoreChecks <= 0 || !::IsWindow(m_hRestoredVideo) ||
        m_dlg.m_pVideoWindow == nullptr) {
        ::KillTimer(nullptr, m_nRestoreTimer);
        m_nRestoreTimer = 0;
        return;
    }
    RECT rcNow{};
    ::GetWindowRect(m_hRestoredVideo, &rcNow);
    ::MapWindowPoints(nullptr, ::GetParent(m_hRestoredVideo), reinterpret_cast<POINT*>(&rcNow), 2);
    if (::EqualRect(&rcNow, &m_rcVideoBefore) == FALSE) {
        m_dlg.m_pVideoWindow->SetWindowPosition(m_rcVideoBefore.left, m_rcVideoBefore.top,
                                                m_rcVideoBefore.right - m_rcVideoBefore.left,
                                                m_rcVideoBefore.bottom - m_rcVideoBefore.top);
    }
}
