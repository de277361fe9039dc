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
    if (m_hWnd != nullptr || formats.empty() || m_runner.IsRunning() ||
        !AfxRegisterWndClass(kCheckClass, 0, ::LoadCursorW(nullptr, IDC_ARROW),
                             reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1))) {
        return false;
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
    if (!CreateEx(0, kCheckClass, title.c_str(), WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME,
                  RECT{rcOwner.left + 20, rcOwner.top + 20, rcOwner.left + 920, rcOwner.top + 400},
                  hOwner)) {
        return false;
    }
    Layout();
    if (!m_runner.Start(deviceDisplayName, formats, nSeconds, this)) {
        DestroyWindow();
        return false;
    }
    SetTimer(kProgressTimer, 250);
    ShowWindow(SW_SHOW);
    ::SetFocus(m_hWnd);
    return true;
}

BEGIN_MESSAGE_MAP(CCheckWindow, CWnd)
ON_WM_CREATE()
ON_MESSAGE(kFormatStarted, &CCheckWindow::OnFormatStartedMessage)
ON_MESSAGE(kRowDone, &CCheckWindow::OnRowDoneMessage)
ON_MESSAGE(kCheckFinished, &CCheckWindow::OnCheckFinishedMessage)
ON_WM_TIMER()
ON_WM_PAINT()
ON_WM_SIZE()
ON_WM_KEYDOWN()
ON_WM_CLOSE()
ON_WM_DESTROY()
ON_WM_NCDESTROY()
END_MESSAGE_MAP()

int CCheckWindow::OnCreate(LPCREATESTRUCT) {
    HINSTANCE hInstance = ::GetModuleHandleW(nullptr);
    m_hProgress = ::CreateWindowExW(0, L"STATIC", m_strProgress.c_str(),
                                    WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOPREFIX, 0, 0, 0, 0,
                                    m_hWnd, nullptr, hInstance, nullptr);
    ::SendMessageW(m_hProgress, WM_SETFONT,
                   reinterpret_cast<WPARAM>(::GetStockObject(DEFAULT_GUI_FONT)), FALSE);
    HWND hTable = ::CreateWindowExW(WS_EX_CLIENTEDGE, L"EDIT", L"",
                                    WS_CHILD | WS_VISIBLE | WS_HSCROLL | WS_VSCROLL | ES_MULTILINE |
                                        ES_READONLY | ES_AUTOHSCROLL | ES_AUTOVSCROLL,
                                    0, 0, 0, 0, m_hWnd, nullptr, hInstance, nullptr);
    if (m_hProgress == nullptr || hTable == nullptr || !m_table.SubclassWindow(hTable)) {
        return -1;
    }
    m_table.SendMessage(WM_SETFONT, reinterpret_cast<WPARAM>(::GetStockObject(ANSI_FIXED_FONT)),
                        FALSE);
    return 0;
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

BEGIN_MESSAGE_MAP(CCheckWindow::CTableWnd, CWnd)
ON_WM_KEYDOWN()
END_MESSAGE_MAP()

void CCheckWindow::CTableWnd::OnKeyDown(UINT nChar, UINT, UINT) {
    if (!m_owner.OnKey(nChar)) {
        Default();
    }
}

bool CCheckWindow::OnKey(UINT nKey) {
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
    ::MoveWindow(m_table.m_hWnd, kMargin, nTop, nWidth,
                 std::max<int>(0, rc.bottom - nTop - kMargin), TRUE);
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

LRESULT CCheckWindow::OnFormatStartedMessage(WPARAM, LPARAM lParam) {
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

LRESULT CCheckWindow::OnRowDoneMessage(WPARAM, LPARAM lParam) {
    auto* pRow = reinterpret_cast<CFormatMeasurement*>(lParam);
    try {
        m_rows.push_back(*pRow);
    } catch (...) {
        // The row is lost; the others stay.
    }
    delete pRow;
    m_table.SetWindowText(AfxToCrlf(FormatCheckTable(m_rows)).c_str());
    UpdateProgress();
    return 0;
}

LRESULT CCheckWindow::OnCheckFinishedMessage(WPARAM wParam, LPARAM) {
    m_bFinished = true;
    m_bCancelled = wParam != 0;
    KillTimer(kProgressTimer);
    UpdateProgress();
    return 0;
}

void CCheckWindow::OnTimer(UINT_PTR nIDEvent) {
    if (nIDEvent == kProgressTimer) {
        UpdateProgress();
    }
}

void CCheckWindow::OnPaint() {
    PAINTSTRUCT ps;
    HDC hdc = ::BeginPaint(m_hWnd, &ps);
    DrawBar(hdc);
    ::EndPaint(m_hWnd, &ps);
}

void CCheckWindow::OnSize(UINT, int, int) {
    Layout();
}

void CCheckWindow::OnKeyDown(UINT nChar, UINT, UINT) {
    if (!OnKey(nChar)) {
        Default();
    }
}

void CCheckWindow::OnClose() {
    Close();
}

void CCheckWindow::OnDestroy() {
    // Also when the owner goes first: the runner posts to this window until it ends.
    m_runner.Cancel();
    m_runner.Wait(INFINITE);
    DropPendingMessages();
    KillTimer(kProgressTimer);
}

void CCheckWindow::OnNcDestroy() {
    m_hProgress = nullptr;
}
