// F11: the renderer's own full-screen mode, and back to the window exactly as it was.
#include "tools/tool_host.h"

#include "ui/lookwell_dlg.h"

namespace {

CToolHost* g_pFullScreenOwner = nullptr;

} // namespace

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
    Subclass(hVideo);
    return true;
}

bool CToolHost::LeaveFullScreen() {
    Unsubclass();
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
    ::SetTimer(m_hToolWnd, kRestoreTimer, 50, nullptr);
    m_hFullScreenVideo = nullptr;
    return true;
}

void CToolHost::CheckRestoredVideo() {
    IVideoWindow* pVideoWindow = m_dlg.GetPreviewVideoWindow();
    if (--m_nRestoreChecks <= 0 || !::IsWindow(m_hRestoredVideo) || pVideoWindow == nullptr) {
        ::KillTimer(m_hToolWnd, kRestoreTimer);
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
void CToolHost::Subclass(HWND hVideo) {
    if (m_pfnVideoProc != nullptr || g_pFullScreenOwner != nullptr) {
        return;
    }
    g_pFullScreenOwner = this;
    m_pfnVideoProc = reinterpret_cast<WNDPROC>(
        ::SetWindowLongPtrW(hVideo, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(FullScreenWndProc)));
    if (m_pfnVideoProc == nullptr) {
        g_pFullScreenOwner = nullptr;
    }
}

void CToolHost::Unsubclass() {
    if (m_pfnVideoProc == nullptr) {
        return;
    }
    HWND hVideo = m_hFullScreenVideo;
    // Only while ours is still the window's procedure: another one set later stays.
    if (hVideo != nullptr && ::IsWindow(hVideo) &&
        ::GetWindowLongPtrW(hVideo, GWLP_WNDPROC) ==
            reinterpret_cast<LONG_PTR>(FullScreenWndProc)) {
        ::SetWindowLongPtrW(hVideo, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_pfnVideoProc));
    }
    m_pfnVideoProc = nullptr;
    g_pFullScreenOwner = nullptr;
}

LRESULT CALLBACK CToolHost::FullScreenWndProc(HWND hWnd, UINT message, WPARAM wParam,
                                              LPARAM lParam) {
    CToolHost* pTools = g_pFullScreenOwner;
    WNDPROC pfnOriginal = pTools != nullptr ? pTools->m_pfnVideoProc : nullptr;
    if (pfnOriginal == nullptr) {
        return ::DefWindowProcW(hWnd, message, wParam, lParam);
    }
    if (message == WM_CLOSE) {
        // Posted: the full-screen switch must not run inside the renderer's own procedure.
        ::PostMessageW(pTools->m_hToolWnd, kCloseMain, 0, 0);
        return 0;
    }
    if (message == WM_NCDESTROY) {
        pTools->Unsubclass();
    }
    return ::CallWindowProcW(pfnOriginal, hWnd, message, wParam, lParam);
}
