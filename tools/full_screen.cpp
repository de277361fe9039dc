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
    pVideoWindow->GetWindowPosition(&m_nVideoLeft, &m_nVideoTop, &m_nVideoWidth,
                                    &m_nVideoHeight);
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
    // zoomed frame's.
    pVideoWindow->SetWindowPosition(m_nVideoLeft, m_nVideoTop, m_nVideoWidth, m_nVideoHeight);
    pVideoWindow->put_Visible(OATRUE);
    RECT rcNow;
    m_dlg.GetWindowRect(&rcNow);
    if (::EqualRect(&rcNow, &m_rcMainBefore) == FALSE) {
        ::SetWindowPos(m_dlg.m_hWnd, nullptr, m_rcMainBefore.left, m_rcMainBefore.top,
                       m_rcMainBefore.right - m_rcMainBefore.left,
                       m_rcMainBefore.bottom - m_rcMainBefore.top, SWP_NOZORDER | SWP_NOACTIVATE);
    }
    ::SetForegroundWindow(m_dlg.m_hWnd);
    m_hFullScreenVideo = nullptr;
    return true;
}
