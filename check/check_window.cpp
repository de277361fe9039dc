#include "check/check_window.h"

#include "framework/console.h"

#include <algorithm>
#include <cwchar>
#include <new>

namespace {

constexpr wchar_t kCheckClass[] = L"LookwellCameraCheck";
constexpr UINT kFormatStarted = WM_APP + 0x31;
constexpr UINT kRowDone = WM_APP + 0x32;
constexpr UINT kCheckFinished = WM_APP + 0x33;
constexpr UINT_PTR kProgressTimer = 1;
constexpr int kBarHeight = 14;
constexpr int kMargin = 6;

struct CStartedMessage {
    size_t nIndex;
    size_t nCount;
    std::wstring strFormat;
    DWORD nMsLeft;
};

} // namespace

CCheckWindow::~CCheckWindow() {
    Close();
}

bool CCheckWindow::Open(HWND hOwner, const std::wstring& deviceDisplayName,
                        const std::wstring& deviceName, const std::vector<VideoFormat>& formats,
                        int nFirstIndex, DWORD nSeconds) {
    if (m_hWnd != nullptr || formats.empty() || m_runner.IsRunning()) {
        return false;
    }
    HINSTANCE hInstance = ::GetModuleHandleW(nullptr);
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    if (!::GetClassInfoExW(hInstance, kCheckClass, &wc)) {
        wc.lpfnWndProc = WndProc;
        wc.hInstance = hInstance;
        wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
        wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        wc.lpszClassName = kCheckClass;
        if (::RegisterClassExW(&wc) == 0) {
            return false;
        }
    }
    m_rows.clear();
    m_strDevice = deviceName;
    m_nFirstIndex = nFirstIndex;
    m_nCount = formats.size();
    m_nCurrent = 0;
    m_nSeconds = nSeconds;
    m_bFinished = false;
    m_bCancelled = false;
    m_strCurrent.clear();
    m_strProgress = L"Starting the check...";
    RECT rcOwner{};
    if (hOwner != nullptr) {
        ::GetWindowRect(hOwner, &rcOwner);
    }
    std::wstring title = L"Camera check - " + deviceName;
    m_hWnd = ::CreateWindowExW(
        0, kCheckClass, title.c_str(), WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME,
        rcOwner.left + 20, rcOwner.top + 20, 900, 380, hOwner, nullptr, hInstance, this);
    if (m_hWnd == nullptr) {
        return false;
    }
    HFONT hFixed = static_cast<HFONT>(::GetStockObject(ANSI_FIXED_FONT));
    m_hProgress = ::CreateWindowExW(0, L"STATIC", m_strProgress.c_str(),
                                    WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOPREFIX, 0, 0, 0, 0,
                                    m_hWnd, nullptr, hInstance, nullptr);
    ::SendMessageW(m_hProgress, WM_SETFONT,
                   reinterpret_cast<WPARAM>(::GetStockObject(DEFAULT_GUI_FONT)), FALSE);
    m_hTable = ::CreateWindowExW(WS_EX_CLIENTEDGE, L"EDIT", L"",
                                 WS_CHILD | WS_VISIBLE | WS_HSCROLL | WS_VSCROLL | ES_MULTILINE |
                                     ES_READONLY | ES_AUTOHSCROLL | ES_AUTOVSCROLL,
                                 0, 0, 0, 0, m_hWnd, nullptr, hInstance, nullptr);
    if (m_hProgress == nullptr || m_hTable == nullptr) {
        ::DestroyWindow(m_hWnd);
        return false;
    }
    ::SendMessageW(m_hTable, WM_SETFONT, reinterpret_cast<WPARAM>(hFixed), FALSE);
    // The table's own keys would copy a selection and ignore Esc: the window's keys come first.
    ::SetWindowLongPtrW(m_hTable, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    m_pfnTableProc = reinterpret_cast<WNDPROC>(
        ::SetWindowLongPtrW(m_hTable, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(TableProc)));
    Layout();
    if (!m_runner.Start(deviceDisplayName, formats, nSeconds, this)) {
        ::DestroyWindow(m_hWnd);
        return false;
    }
    ::SetTimer(m_hWnd, kProgressTimer, 250, nullptr);
    ::ShowWindow(m_hWnd, SW_SHOW);
    ::SetFocus(m_hWnd);
    return true;
}

void CCheckWindow::Close() {
    m_runner.Cancel();
    // The format being measured ends within a second; its teardown releases the camera.
    m_runner.Wait(INFINITE);
    if (m_hWnd != nullptr) {
        DropPendingMessages();
        ::DestroyWindow(m_hWnd);
    }
}

void CCheckWindow::DropPendingMessages() {
    MSG msg;
    while (::PeekMessageW(&msg, m_hWnd, kFormatStarted, kCheckFinished, PM_REMOVE)) {
        if (msg.message == kFormatStarted) {
            delete reinterpret_cast<CStartedMessage*>(msg.lParam);
        } else if (msg.message == kRowDone) {
            delete reinterpret_cast<CFormatMeasurement*>(msg.lParam);
        }
    }
}

std::wstring CCheckWindow::TabbedText() const {
    return FormatCheckTabbed(m_rows);
}

void CCheckWindow::OnFormatStarted(size_t nIndex, size_t nCount, const std::wstring& strFormat,
                                   DWORD nMsLeft) {
    auto* pMessage = new (std::nothrow) CStartedMessage{nIndex, nCount, std::wstring(), nMsLeft};
    if (pMessage == nullptr) {
        return;
    }
    try {
        pMessage->strFormat = strFormat;
    } catch (...) {
        // The progress shows no name for this one.
    }
    if (!::PostMessageW(m_hWnd, kFormatStarted, 0, reinterpret_cast<LPARAM>(pMessage))) {
        delete pMessage;
    }
}

void CCheckWindow::OnRowDone(size_t, const CFormatMeasurement& row) {
    CFormatMeasurement* pRow = nullptr;
    try {
        pRow = new CFormatMeasurement(row);
    } catch (...) {
        return;
    }
    if (!::PostMessageW(m_hWnd, kRowDone, 0, reinterpret_cast<LPARAM>(pRow))) {
        delete pRow;
    }
}

void CCheckWindow::OnCheckFinished(bool bCancelled) {
    ::PostMessageW(m_hWnd, kCheckFinished, bCancelled ? 1 : 0, 0);
}

LRESULT CALLBACK CCheckWindow::WndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* pCreate = reinterpret_cast<CREATESTRUCTW*>(lParam);
        ::SetWindowLongPtrW(hWnd, GWLP_USERDATA,
                            reinterpret_cast<LONG_PTR>(pCreate->lpCreateParams));
        static_cast<CCheckWindow*>(pCreate->lpCreateParams)->m_hWnd = hWnd;
    }
    auto* pWindow = reinterpret_cast<CCheckWindow*>(::GetWindowLongPtrW(hWnd, GWLP_USERDATA));
    if (pWindow == nullptr || pWindow->m_hWnd != hWnd) {
        return ::DefWindowProcW(hWnd, message, wParam, lParam);
    }
    try {
        return pWindow->OnMessage(message, wParam, lParam);
    } catch (...) {
        return 0; // out of memory for a text: the next message tries again
    }
}

LRESULT CALLBACK CCheckWindow::TableProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* pWindow = reinterpret_cast<CCheckWindow*>(::GetWindowLongPtrW(hWnd, GWLP_USERDATA));
    if (pWindow == nullptr) {
        return ::DefWindowProcW(hWnd, message, wParam, lParam);
    }
    if (message == WM_KEYDOWN && pWindow->OnKey(wParam)) {
        return 0;
    }
    return ::CallWindowProcW(pWindow->m_pfnTableProc, hWnd, message, wParam, lParam);
}

bool CCheckWindow::OnKey(WPARAM nKey) {
    if (nKey == VK_ESCAPE) {
        ::PostMessageW(m_hWnd, WM_CLOSE, 0, 0);
        return true;
    }
    if ((nKey == 'C' || nKey == VK_INSERT) && ::GetKeyState(VK_CONTROL) < 0) {
        CopyTable();
        return true;
    }
    return false;
}

void CCheckWindow::CopyTable() {
    if (!AfxCopyText(m_hWnd, TabbedText())) {
        ::MessageBeep(MB_OK);
    }
}

void CCheckWindow::Layout() {
    RECT rc;
    ::GetClientRect(m_hWnd, &rc);
    int nWidth = rc.right - 2 * kMargin;
    ::MoveWindow(m_hProgress, kMargin, kMargin, nWidth, 16, TRUE);
    int nTop = kMargin + 16 + kMargin + kBarHeight + kMargin;
    ::MoveWindow(m_hTable, kMargin, nTop, nWidth, std::max<int>(0, rc.bottom - nTop - kMargin),
                 TRUE);
}

void CCheckWindow::DrawBar(HDC hdc) {
    RECT rc;
    ::GetClientRect(m_hWnd, &rc);
    RECT rcBar{kMargin, kMargin + 16 + kMargin, rc.right - kMargin,
               kMargin + 16 + kMargin + kBarHeight};
    ::FrameRect(hdc, &rcBar, static_cast<HBRUSH>(::GetStockObject(GRAY_BRUSH)));
    double dDone = static_cast<double>(m_rows.size());
    if (!m_bFinished && m_nFormatStartTick != 0) {
        double dPerFormat = m_nSeconds * 1000.0 + kOverheadMs;
        dDone += std::min(0.99, static_cast<double>(::GetTickCount64() - m_nFormatStartTick) /
                                    dPerFormat);
    }
    double dShare = m_nCount > 0 ? std::min(1.0, dDone / static_cast<double>(m_nCount)) : 0;
    RECT rcFill = rcBar;
    ::InflateRect(&rcFill, -1, -1);
    rcFill.right = rcFill.left + static_cast<LONG>((rcFill.right - rcFill.left) * dShare);
    ::FillRect(hdc, &rcFill, ::GetSysColorBrush(COLOR_HIGHLIGHT));
}

void CCheckWindow::UpdateProgress() {
    if (m_bFinished) {
        m_strProgress = m_bCancelled ? L"Cancelled: " + FormatCheckSummary(m_rows)
                                     : L"Done: " + FormatCheckSummary(m_rows);
    } else if (!m_strCurrent.empty()) {
        ULONGLONG nSpent = ::GetTickCount64() - m_nFormatStartTick;
        ULONGLONG nLeft = nSpent < m_nMsLeftAtStart ? m_nMsLeftAtStart - nSpent : 0;
        wchar_t sz[320];
        ::swprintf(sz, 320, L"Measuring %ls (format %d, %u of %u), about %u s left",
                   m_strCurrent.c_str(), m_nFirstIndex + static_cast<int>(m_nCurrent),
                   static_cast<unsigned>(m_nCurrent + 1), static_cast<unsigned>(m_nCount),
                   static_cast<unsigned>((nLeft + 999) / 1000));
        m_strProgress = sz;
    }
    wchar_t szOld[320];
    ::GetWindowTextW(m_hProgress, szOld, 320);
    if (m_strProgress != szOld) {
        ::SetWindowTextW(m_hProgress, m_strProgress.c_str());
    }
    RECT rc;
    ::GetClientRect(m_hWnd, &rc);
    RECT rcBar{0, kMargin + 16, rc.right, kMargin + 16 + 2 * kMargin + kBarHeight};
    ::InvalidateRect(m_hWnd, &rcBar, TRUE);
}

LRESULT CCheckWindow::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case kFormatStarted: {
        auto* pMessage = reinterpret_cast<CStartedMessage*>(lParam);
        m_nCurrent = pMessage->nIndex;
        m_nCount = pMessage->nCount;
        m_strCurrent.swap(pMessage->strFormat);
        m_nMsLeftAtStart = pMessage->nMsLeft;
        m_nFormatStartTick = ::GetTickCount64();
        delete pMessage;
        UpdateProgress();
        return 0;
    }
    case kRowDone: {
        auto* pRow = reinterpret_cast<CFormatMeasurement*>(lParam);
        try {
            m_rows.push_back(*pRow);
        } catch (...) {
            // The row is lost; the others stay.
        }
        delete pRow;
        ::SetWindowTextW(m_hTable, AfxToCrlf(FormatCheckTable(m_rows)).c_str());
        UpdateProgress();
        return 0;
    }
    case kCheckFinished:
        m_bFinished = true;
        m_bCancelled = wParam != 0;
        ::KillTimer(m_hWnd, kProgressTimer);
        UpdateProgress();
        return 0;
    case WM_TIMER:
        if (wParam == kProgressTimer) {
            UpdateProgress();
        }
        return 0;
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC hdc = ::BeginPaint(m_hWnd, &ps);
        DrawBar(hdc);
        ::EndPaint(m_hWnd, &ps);
        return 0;
    }
    case WM_SIZE:
        Layout();
        return 0;
    case WM_KEYDOWN:
        if (OnKey(wParam)) {
            return 0;
        }
        break;
    case WM_CLOSE:
        Close();
        return 0;
    case WM_DESTROY:
        // Also when the owner goes first: the runner posts to this window until it ends.
        m_runner.Cancel();
        m_runner.Wait(INFINITE);
        DropPendingMessages();
        ::KillTimer(m_hWnd, kProgressTimer);
        return 0;
    case WM_NCDESTROY: {
        HWND hWnd = m_hWnd;
        m_hWnd = nullptr;
        m_hTable = nullptr;
        m_hProgress = nullptr;
        ::SetWindowLongPtrW(hWnd, GWLP_USERDATA, 0);
        return ::DefWindowProcW(hWnd, message, wParam, lParam);
    }
    default:
        break;
    }
    return ::DefWindowProcW(m_hWnd, message, wParam, lParam);
}
