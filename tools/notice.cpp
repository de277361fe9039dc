// The tools' notice: a few seconds of text over the bottom of the picture, sized for its text and
// kept with the window while it shows (the window may move, zoom or go to full screen).
#include "tools/tool_host.h"

#include "ui/lookwell_dlg.h"

#include <algorithm>

namespace {

constexpr wchar_t kNoticeClass[] = L"LookwellNotice";
constexpr ULONGLONG kNoticeMs = 5000;
// Often enough that it keeps up with a window being dragged.
constexpr UINT kNoticeTickMs = 100;
// Wider than the picture where the text needs it, up to this; beyond, it wraps.
constexpr LONG kNoticeMostWidth = 420;
constexpr LONG kMarginX = 4;
constexpr LONG kMarginY = 2;

// The text's size in the notice's font, wrapped at `nWidth` (unwrapped for 0).
SIZE MeasureText(HWND hWnd, const std::wstring& text, LONG nWidth) {
    RECT rc{0, 0, nWidth, 0};
    UINT nFormat = DT_CALCRECT | DT_NOPREFIX | (nWidth > 0 ? DT_WORDBREAK : DT_SINGLELINE);
    if (HDC hDC = ::GetDC(hWnd)) {
        HGDIOBJ hOld = ::SelectObject(hDC, ::GetStockObject(DEFAULT_GUI_FONT));
        ::DrawTextW(hDC, text.c_str(), static_cast<int>(text.size()), &rc, nFormat);
        ::SelectObject(hDC, hOld);
        ::ReleaseDC(hWnd, hDC);
    }
    return SIZE{rc.right - rc.left, rc.bottom - rc.top};
}

} // namespace

bool RegisterToolWndClass(const wchar_t* pszClass) {
    return AfxRegisterWndClass(pszClass, 0, ::LoadCursorW(nullptr, IDC_ARROW),
                               reinterpret_cast<HBRUSH>(COLOR_INFOBK + 1));
}

void CToolHost::ShowNotice(const std::wstring& text, bool bFailure) {
    if (bFailure) {
        ::MessageBeep(MB_ICONWARNING);
    }
    if (!RegisterToolWndClass(kNoticeClass)) {
        return;
    }
    if (m_notice.m_hWnd == nullptr) {
        if (!m_notice.CreateEx(WS_EX_TOOLWINDOW | WS_EX_NOACTIVATE, kNoticeClass, L"",
                               WS_POPUP | WS_BORDER, RECT{}, m_dlg.m_hWnd)) {
            return;
        }
        HWND hText =
            ::CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOPREFIX, 0,
                              0, 0, 0, m_notice.m_hWnd, nullptr, nullptr, nullptr);
        ::SendMessageW(hText, WM_SETFONT,
                       reinterpret_cast<WPARAM>(::GetStockObject(DEFAULT_GUI_FONT)), FALSE);
    }
    m_notice.SetWindowText(text.c_str());
    ::SetWindowTextW(::GetWindow(m_notice.m_hWnd, GW_CHILD), text.c_str());
    m_nNoticeShownAt = ::GetTickCount64();
    PlaceNotice();
    m_toolWnd.SetTimer(kNoticeTimer, kNoticeTickMs);
}

void CToolHost::UpdateNotice() {
    if (m_notice.m_hWnd == nullptr || ::GetTickCount64() - m_nNoticeShownAt >= kNoticeMs) {
        m_toolWnd.KillTimer(kNoticeTimer);
        if (m_notice.m_hWnd != nullptr) {
            m_notice.ShowWindow(SW_HIDE);
        }
        return;
    }
    PlaceNotice();
}

void CToolHost::PlaceNotice() {
    // Along the bottom of what shows the picture: the main window's client area, or in full
    // screen the picture's window, where the notice is centred.
    const bool bFullScreen = m_hFullScreenVideo != nullptr && ::IsWindow(m_hFullScreenVideo);
    HWND hAnchor = bFullScreen ? m_hFullScreenVideo : m_dlg.m_hWnd;
    RECT rcAnchor{};
    ::GetClientRect(hAnchor, &rcAnchor);
    ::MapWindowPoints(hAnchor, nullptr, reinterpret_cast<POINT*>(&rcAnchor), 2);
    HWND hText = ::GetWindow(m_notice.m_hWnd, GW_CHILD);
    std::wstring text(static_cast<size_t>(::GetWindowTextLengthW(hText)) + 1, L'\0');
    text.resize(
        static_cast<size_t>(::GetWindowTextW(hText, text.data(), static_cast<int>(text.size()))));

    const LONG nAnchorWidth = rcAnchor.right - rcAnchor.left;
    const LONG nMost = std::max(nAnchorWidth, kNoticeMostWidth);
    const LONG nWidth =
        std::clamp(MeasureText(hText, text, 0).cx + 2 * kMarginX + 2, nAnchorWidth, nMost);
    const SIZE wrapped = MeasureText(hText, text, nWidth - 2 * kMarginX - 2);
    const LONG nHeight = wrapped.cy + 2 * kMarginY + 2;
    const LONG x = bFullScreen ? rcAnchor.left + (nAnchorWidth - nWidth) / 2 : rcAnchor.left;
    const RECT rc =
        AfxKeepOnWorkArea(RECT{x, rcAnchor.bottom - nHeight, x + nWidth, rcAnchor.bottom}, hAnchor);
    RECT rcNow{};
    ::GetWindowRect(m_notice.m_hWnd, &rcNow);
    if (::IsWindowVisible(m_notice.m_hWnd) && ::EqualRect(&rc, &rcNow) && !bFullScreen) {
        return; // where it belongs, and left in its place among other programs' windows
    }
    ::SetWindowPos(hText, nullptr, kMarginX, kMarginY, nWidth - 2 * kMarginX - 2, wrapped.cy,
                   SWP_NOZORDER | SWP_NOACTIVATE);
    // Above the full-screen picture, which comes to the top when it is clicked.
    ::SetWindowPos(m_notice.m_hWnd, HWND_TOP, rc.left, rc.top, nWidth, nHeight,
                   SWP_NOACTIVATE | SWP_SHOWWINDOW);
}
