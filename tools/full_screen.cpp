// F11: the renderer's own full-screen mode, and back to the window exactly as it was.
#include "tools/tool_host.h"

#include "ui/lookwell_dlg.h"

namespace {

// The largest rectangle of the picture's shape inside `rcArea`, centred in it.
RECT FitPicture(const RECT& rcArea, LONG nWidth, LONG nHeight) {
    const LONG cx = rcArea.right - rcArea.left;
    const LONG cy = rcArea.bottom - rcArea.top;
    if (nWidth <= 0 || nHeight <= 0 || cx <= 0 || cy <= 0) {
        return rcArea;
    }
    LONG w = cx;
    LONG h = static_cast<LONG>(static_cast<LONGLONG>(cx) * nHeight / nWidth);
    if (h > cy) {
        h = cy;
        w = static_cast<LONG>(static_cast<LONGLONG>(cy) * nWidth / nHeight);
    }
    const LONG x = rcArea.left + (cx - w) / 2;
    const LONG y = rcArea.top + (cy - h) / 2;
    return RECT{x, y, x + w, y + h};
}

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
    m_fullScreen.SubclassWindow(hVideo);
    // The renderer stretches the picture over the whole screen: it is drawn at its own shape
    // instead, centred, the rest of the window black.
    CComRef<IBasicVideo> pBasicVideo;
    LONG nWidth = 0;
    LONG nHeight = 0;
    RECT rcScreen{};
    if (SUCCEEDED(pVideoWindow->QueryInterface(IID_IBasicVideo, pBasicVideo.Out())) &&
        SUCCEEDED(pBasicVideo->GetVideoSize(&nWidth, &nHeight)) &&
        ::GetClientRect(hVideo, &rcScreen)) {
        const RECT rc = FitPicture(rcScreen, nWidth, nHeight);
        if (SUCCEEDED(pBasicVideo->SetDestinationPosition(rc.left, rc.top, rc.right - rc.left,
                                                          rc.bottom - rc.top))) {
            m_rcFullScreenPicture = rc;
        }
    }
    // The renderer paints its picture only: the rest keeps what the window showed before.
    ::RedrawWindow(hVideo, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ERASENOW);
    return true;
}

bool CToolHost::LeaveFullScreen() {
    m_fullScreen.UnsubclassWindow();
    m_rcFullScreenPicture = RECT{};
    if (!IsFullScreen()) {
        m_hFullScreenVideo = nullptr;
        return false;
    }
    IVideoWindow* pVideoWindow = m_dlg.GetPreviewVideoWindow();
    CComRef<IBasicVideo> pBasicVideo;
    if (SUCCEEDED(pVideoWindow->QueryInterface(IID_IBasicVideo, pBasicVideo.Out()))) {
        pBasicVideo->SetDefaultDestinationPosition();
    }
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
    // Wine also lets the X server's late focus change after the full-screen window went take
    // the activation from the main window: with no window active the keys reach nothing.
    if (HWND hFront = ::GetForegroundWindow();
        hFront == nullptr || hFront == ::GetDesktopWindow()) {
        ::SetForegroundWindow(m_dlg.m_hWnd);
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
ON_MESSAGE(WM_ERASEBKGND, &CToolHost::CFullScreenWnd::OnEraseBkgnd)
END_MESSAGE_MAP()

LRESULT CToolHost::CFullScreenWnd::OnEraseBkgnd(WPARAM wParam, LPARAM) {
    // Black around the picture, which the renderer paints itself.
    HDC hDC = reinterpret_cast<HDC>(wParam);
    RECT rcClient{};
    ::GetClientRect(m_hWnd, &rcClient);
    const RECT& rcPicture = m_tools.m_rcFullScreenPicture;
    ::ExcludeClipRect(hDC, rcPicture.left, rcPicture.top, rcPicture.right, rcPicture.bottom);
    ::FillRect(hDC, &rcClient, static_cast<HBRUSH>(::GetStockObject(BLACK_BRUSH)));
    return 1;
}

void CToolHost::CFullScreenWnd::OnClose() {
    // Posted: the full-screen switch must not run inside the renderer's own procedure.
    m_tools.m_toolWnd.PostMessage(kCloseMain);
}
