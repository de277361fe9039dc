#include "check/check_window.h"

#include "framework/console.h"
#include "framework/files.h"
#include "framework/module.h"
#include "res/resource.h"
#include "res/version.h"

#include <commctrl.h>
#include <shlobj.h>

#include <algorithm>
#include <cwchar>
#include <memory>
#include <new>

namespace {

constexpr wchar_t kCheckClass[] = L"LookwellCameraCheck";
// One range, so that whatever is left of them can be taken out of the queue at once.
constexpr UINT kFormatStarted = WM_APP + 0x31;
constexpr UINT kRowDone = WM_APP + 0x32;
constexpr UINT kCheckFinished = WM_APP + 0x33;
constexpr UINT_PTR kProgressTimer = 1;
constexpr int kMargin = 6;
constexpr int kLineHeight = 16;
constexpr int kBarHeight = 14;
constexpr int kMinColumn = 28;
constexpr int kMinPlotWidth = 240;
// Fits a 1280 x 1024 screen with room to spare; never more than the work area.
constexpr int kWidth = 1040;
constexpr int kHeight = 660;

constexpr wchar_t kHint[] =
    L"Select a format for its details. Ctrl+C copies the table, Ctrl+S saves a report, Esc "
    L"closes.";

struct CStartedMessage {
    size_t nIndex;
    size_t nCount;
    std::wstring strFormat;
    DWORD nMsLeft;
};

enum Column { kFormat, kVerdict, kFps, kFirst, kDrops, kBad, kBlack, kFrozen, kRenderer, kColumns };
const wchar_t* const kTitles[kColumns] = {L"format",        L"verdict", L"fps of nominal",
                                          L"first picture", L"drops",   L"bad",
                                          L"black",         L"frozen",  L"renderer"};

std::wstring Printed(const wchar_t* pszFormat, double dFirst, double dSecond = 0) {
    wchar_t sz[64];
    ::swprintf(sz, 64, pszFormat, dFirst, dSecond);
    return sz;
}

std::wstring Cell(const CFormatMeasurement& row, int nColumn) {
    if (nColumn == kFormat) {
        return row.strFormat;
    }
    if (nColumn == kVerdict) {
        return GetVerdict(row);
    }
    if (nColumn == kRenderer) {
        return row.renderer == RendererAnswer::Yes  ? L"yes"
               : row.renderer == RendererAnswer::No ? L"no"
                                                    : L"-";
    }
    if (!row.bStarted) {
        return L"-";
    }
    switch (nColumn) {
    case kFps:
        return row.dNominalFps > 0 ? Printed(L"%.2f of %.2f", row.dMeasuredFps, row.dNominalFps)
                                   : Printed(L"%.2f", row.dMeasuredFps);
    case kFirst:
        return Printed(L"%.0f ms", row.dFirstSampleMs);
    case kDrops:
        return row.dropSource != DropSource::None ? std::to_wstring(row.nDropped) : L"-";
    case kBad:
        return std::to_wstring(row.nShort + row.nEmpty + row.nOversized + row.nUndecodable);
    case kBlack:
        return std::to_wstring(row.nBlack);
    default:
        return std::to_wstring(row.nFrozen);
    }
}

// The column whose figure a finding is about.
int FindingColumn(Finding finding) {
    switch (finding) {
    case Finding::DidNotStart:
        return kFirst;
    case Finding::Drops:
        return kDrops;
    case Finding::BadSamples:
        return kBad;
    case Finding::Black:
        return kBlack;
    case Finding::Frozen:
        return kFrozen;
    default:
        return kFps; // stopped, or a rate against nominal
    }
}

// A cell's colours where it tells something: the verdict, and a figure behind a failing
// finding. False for a plain cell.
bool ToneOf(const CFormatMeasurement& row, int nColumn, COLORREF& back, COLORREF& text) {
    bool bFailed = false;
    if (nColumn == kVerdict) {
        if (row.bCancelled) {
            back = kCheckCancelledBack;
            text = kCheckCancelledText;
            return true;
        }
        bFailed = !IsOk(row);
        back = bFailed ? kCheckFailedBack : kCheckOkBack;
        text = bFailed ? kCheckFailedText : kCheckOkText;
        return true;
    }
    for (Finding finding : GetFindings(row)) {
        bFailed = bFailed || FindingColumn(finding) == nColumn;
    }
    back = kCheckFailedBack;
    text = kCheckFailedText;
    return bFailed;
}

// The list control comes with the window: loaded here, not imported, so that a start of the
// program never loads comctl32, and without a manifest, so in the system's classic look.
bool LoadListControl() {
    auto pfnInit = AfxSystemFunction<decltype(&::InitCommonControlsEx)>(L"comctl32.dll",
                                                                        "InitCommonControlsEx");
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_LISTVIEW_CLASSES};
    return pfnInit != nullptr && pfnInit(&controls);
}

HWND CreateList(HWND hParent, int nID, DWORD dwStyle) {
    HWND hList =
        ::CreateWindowExW(WS_EX_CLIENTEDGE, WC_LISTVIEWW, L"",
                          WS_CHILD | WS_VISIBLE | WS_TABSTOP | LVS_REPORT | LVS_SINGLESEL |
                              LVS_SHOWSELALWAYS | dwStyle,
                          0, 0, 0, 0, hParent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(nID)),
                          AfxGetInstanceHandle(), nullptr);
    if (hList != nullptr) {
        ::SendMessageW(hList, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT,
                       LVS_EX_FULLROWSELECT);
    }
    return hList;
}

void AddColumn(HWND hList, int nColumn, const wchar_t* pszTitle, bool bRight) {
    LVCOLUMNW column{};
    column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
    column.fmt = bRight ? LVCFMT_RIGHT : LVCFMT_LEFT;
    column.cx = 60;
    column.pszText = const_cast<wchar_t*>(pszTitle);
    ::SendMessageW(hList, LVM_INSERTCOLUMNW, static_cast<WPARAM>(nColumn),
                   reinterpret_cast<LPARAM>(&column));
}

void SetCell(HWND hList, int nItem, int nColumn, const std::wstring& text) {
    LVITEMW item{};
    item.mask = LVIF_TEXT;
    item.iItem = nItem;
    item.iSubItem = nColumn;
    item.pszText = const_cast<wchar_t*>(text.c_str());
    if (nColumn == 0) {
        ::SendMessageW(hList, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
    } else {
        ::SendMessageW(hList, LVM_SETITEMTEXTW, static_cast<WPARAM>(nItem),
                       reinterpret_cast<LPARAM>(&item));
    }
}

int TextWidth(HWND hList, const std::wstring& text) {
    return static_cast<int>(
        ::SendMessageW(hList, LVM_GETSTRINGWIDTHW, 0, reinterpret_cast<LPARAM>(text.c_str())));
}

// The room for columns: the list's width less its edges and a vertical scroll bar, which
// comes as rows fill it, so that no horizontal one ever does.
int ColumnRoom(HWND hList) {
    RECT rc;
    ::GetWindowRect(hList, &rc);
    return std::max(0, static_cast<int>(rc.right - rc.left) - 2 * ::GetSystemMetrics(SM_CXEDGE) -
                           ::GetSystemMetrics(SM_CXVSCROLL) - 1);
}

// Widths summing to the room: the flexible column takes what is over, or gives first what is
// short, then the others but the first alike, the first last.
void FitWidths(std::vector<int>& widths, size_t nFlexible, int nRoom) {
    int nTotal = 0;
    for (int nWidth : widths) {
        nTotal += nWidth;
    }
    int nOver = nTotal - nRoom;
    if (nOver <= 0) {
        widths[nFlexible] -= nOver;
        return;
    }
    int nCut = std::min(nOver, std::max(0, widths[nFlexible] - kMinColumn));
    widths[nFlexible] -= nCut;
    nOver -= nCut;
    while (nOver > 0) {
        bool bCut = false;
        for (size_t i = widths.size(); i-- > 1 && nOver > 0;) {
            if (widths[i] > kMinColumn) {
                --widths[i];
                --nOver;
                bCut = true;
            }
        }
        if (!bCut) {
            widths[0] = std::max(kMinColumn, widths[0] - nOver);
            return;
        }
    }
}

void SetWidths(HWND hList, const std::vector<int>& widths) {
    for (size_t i = 0; i < widths.size(); ++i) {
        ::SendMessageW(hList, LVM_SETCOLUMNWIDTH, i, MAKELPARAM(widths[i], 0));
    }
}

std::vector<std::wstring> SplitTabs(const std::wstring& line) {
    std::vector<std::wstring> fields(1);
    for (wchar_t ch : line) {
        if (ch == L'\t') {
            fields.emplace_back();
        } else {
            fields.back() += ch;
        }
    }
    return fields;
}

// Every figure of a row as name and value: the table's own columns, then its picture and its
// measuring window.
std::vector<std::pair<std::wstring, std::wstring>> Figures(const CFormatMeasurement& row) {
    std::wstring text = FormatCheckTabbed({row});
    size_t nEnd = text.find(L'\n');
    std::vector<std::wstring> names = SplitTabs(text.substr(0, nEnd));
    std::wstring values = text.substr(nEnd + 1);
    if (!values.empty() && values.back() == L'\n') {
        values.pop_back();
    }
    std::vector<std::wstring> fields = SplitTabs(values);
    std::vector<std::pair<std::wstring, std::wstring>> figures;
    for (size_t i = 0; i < names.size(); ++i) {
        figures.emplace_back(names[i], i < fields.size() ? fields[i] : L"");
    }
    const wchar_t* pszPicture = L"none";
    switch (row.thumbnail.kind) {
    case CThumbnail::Kind::LastGood:
        pszPicture = L"the last good one";
        break;
    case CThumbnail::Kind::Black:
        pszPicture = L"a black one";
        break;
    case CThumbnail::Kind::Frozen:
        pszPicture = L"a frozen one";
        break;
    case CThumbnail::Kind::None:
        break;
    }
    figures.emplace_back(L"picture", row.thumbnail.pixels.empty() ? L"none" : pszPicture);
    figures.emplace_back(L"window",
                         row.dWindowMs > 0 ? Printed(L"%.1f s", row.dWindowMs / 1000) : L"-");
    return figures;
}

std::wstring VersionText() {
    const unsigned nVersion[] = {LOOKWELL_VERSION_NUMBERS};
    wchar_t sz[48];
    ::swprintf(sz, 48, L"%u.%u.%u.%u", nVersion[0], nVersion[1], nVersion[2], nVersion[3]);
    return sz;
}

RECT Placement(HWND hOwner) {
    HMONITOR hMonitor = hOwner != nullptr
                            ? ::MonitorFromWindow(hOwner, MONITOR_DEFAULTTONEAREST)
                            : ::MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY);
    MONITORINFO monitor{};
    monitor.cbSize = sizeof(monitor);
    RECT rcWork{0, 0, ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)};
    if (::GetMonitorInfoW(hMonitor, &monitor)) {
        rcWork = monitor.rcWork;
    }
    LONG nWidth = std::min<LONG>(kWidth, rcWork.right - rcWork.left);
    LONG nHeight = std::min<LONG>(kHeight, rcWork.bottom - rcWork.top);
    RECT rcOwner = rcWork;
    if (hOwner != nullptr) {
        ::GetWindowRect(hOwner, &rcOwner);
    }
    // Beside the owner's corner, but whole on the work area, close box included.
    LONG x = std::clamp<LONG>(rcOwner.left + 24, rcWork.left, rcWork.right - nWidth);
    LONG y = std::clamp<LONG>(rcOwner.top + 24, rcWork.top, rcWork.bottom - nHeight);
    return RECT{x, y, x + nWidth, y + nHeight};
}

HICON ProgramIcon(int nSize) {
    return static_cast<HICON>(::LoadImageW(AfxGetResourceHandle(), MAKEINTRESOURCEW(IDR_MAINFRAME),
                                           IMAGE_ICON, nSize, nSize, LR_SHARED));
}

} // namespace

CCheckWindow::~CCheckWindow() {
    Close();
}

bool CCheckWindow::Open(HWND hOwner, const std::wstring& deviceDisplayName,
                        const std::wstring& deviceName, const std::vector<VideoFormat>& formats,
                        DWORD nSeconds) {
    if (m_hWnd != nullptr || formats.empty() || m_runner.IsRunning() || !LoadListControl() ||
        !AfxRegisterWndClass(kCheckClass, 0, ::LoadCursorW(nullptr, IDC_ARROW),
                             reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1),
                             ProgramIcon(::GetSystemMetrics(SM_CXICON)))) {
        return false;
    }
    m_rows.clear();
    m_strDevice = deviceName;
    ::GetLocalTime(&m_started);
    m_nCount = formats.size();
    m_nCurrent = 0;
    m_nSeconds = nSeconds;
    m_nFormatStartTick = 0;
    m_bFinished = false;
    m_bCancelled = false;
    m_strCurrent.clear();
    m_strProgress = L"Starting the check...";
    m_strMessage = kHint;
    std::wstring title = L"Camera check - " + deviceName;
    if (!CreateEx(0, kCheckClass, title.c_str(),
                  WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX |
                      WS_MAXIMIZEBOX,
                  Placement(hOwner), hOwner)) {
        return false;
    }
    SendMessage(WM_SETICON, ICON_BIG,
                reinterpret_cast<LPARAM>(ProgramIcon(::GetSystemMetrics(SM_CXICON))));
    SendMessage(WM_SETICON, ICON_SMALL,
                reinterpret_cast<LPARAM>(ProgramIcon(::GetSystemMetrics(SM_CXSMICON))));
    Layout();
    m_poster.Attach(m_hWnd);
    if (!m_runner.Start(deviceDisplayName, formats, nSeconds, &m_poster)) {
        DestroyWindow();
        return false;
    }
    SetTimer(kProgressTimer, 250);
    ShowWindow(SW_SHOW);
    ::SetFocus(m_hList);
    return true;
}

BEGIN_MESSAGE_MAP(CCheckWindow, CWnd)
ON_WM_CREATE()
ON_MESSAGE(kFormatStarted, &CCheckWindow::OnFormatStartedMessage)
ON_MESSAGE(kRowDone, &CCheckWindow::OnRowDoneMessage)
ON_MESSAGE(kCheckFinished, &CCheckWindow::OnCheckFinishedMessage)
ON_NOTIFY(NM_CUSTOMDRAW, kCheckListId, &CCheckWindow::OnListCustomDraw)
ON_NOTIFY(LVN_ITEMCHANGED, kCheckListId, &CCheckWindow::OnListItemChanged)
ON_WM_TIMER()
ON_WM_PAINT()
ON_WM_SIZE()
ON_WM_GETMINMAXINFO()
ON_WM_KEYDOWN()
ON_WM_CLOSE()
ON_WM_DESTROY()
ON_WM_NCDESTROY()
END_MESSAGE_MAP()

int CCheckWindow::OnCreate(LPCREATESTRUCT) {
    auto text = [&](const std::wstring& initial, int nID) {
        return ::CreateWindowExW(0, L"STATIC", initial.c_str(),
                                 WS_CHILD | WS_VISIBLE | SS_LEFTNOWORDWRAP | SS_NOPREFIX, 0, 0, 0,
                                 0, m_hWnd, reinterpret_cast<HMENU>(static_cast<INT_PTR>(nID)),
                                 AfxGetInstanceHandle(), nullptr);
    };
    m_hProgress = text(m_strProgress, kCheckProgressId);
    m_hMessage = text(m_strMessage, kCheckMessageId);
    m_hList = CreateList(m_hWnd, kCheckListId, 0);
    m_hFigures = CreateList(m_hWnd, kCheckFiguresId, LVS_NOCOLUMNHEADER);
    if (m_hProgress == nullptr || m_hMessage == nullptr || m_hList == nullptr ||
        m_hFigures == nullptr || !m_picture.Create(m_hWnd, kCheckPictureId) ||
        !m_plot.Create(m_hWnd, kCheckPlotId) || !m_listKeys.SubclassWindow(m_hList) ||
        !m_figuresKeys.SubclassWindow(m_hFigures)) {
        return -1;
    }
    for (HWND hChild : {m_hProgress, m_hMessage, m_hList, m_hFigures}) {
        ::SendMessageW(hChild, WM_SETFONT,
                       reinterpret_cast<WPARAM>(::GetStockObject(DEFAULT_GUI_FONT)), FALSE);
    }
    for (int i = 0; i < kColumns; ++i) {
        AddColumn(m_hList, i, kTitles[i], i != kFormat && i != kVerdict && i != kRenderer);
    }
    for (int i = 0; i < 4; ++i) {
        AddColumn(m_hFigures, i, L"", false);
    }
    return 0;
}

void CCheckWindow::Close() {
    // The runner's Cancel returns at once; its thread ends the format and lets the camera go.
    m_runner.Cancel();
    if (m_hWnd != nullptr) {
        ::DestroyWindow(m_hWnd);
    }
}

std::wstring CCheckWindow::TabbedText() const {
    return FormatCheckTabbed(m_rows);
}

void CCheckWindow::CPoster::Attach(HWND hWnd) {
    CSingleLock lock(m_lock);
    m_hWnd = hWnd;
}

void CCheckWindow::CPoster::Detach() {
    CSingleLock lock(m_lock);
    if (m_hWnd == nullptr) {
        return;
    }
    MSG msg;
    while (::PeekMessageW(&msg, m_hWnd, kFormatStarted, kCheckFinished, PM_REMOVE)) {
        Free(msg);
    }
    m_hWnd = nullptr;
}

void CCheckWindow::CPoster::Free(const MSG& msg) {
    if (msg.message == kFormatStarted) {
        delete reinterpret_cast<CStartedMessage*>(msg.lParam);
    } else if (msg.message == kRowDone) {
        delete reinterpret_cast<CFormatMeasurement*>(msg.lParam);
    }
}

bool CCheckWindow::CPoster::Post(UINT message, WPARAM wParam, LPARAM lParam) {
    // Under the lock: the window's end, which takes it too, cannot come between the check
    // and the post.
    CSingleLock lock(m_lock);
    return m_hWnd != nullptr && ::PostMessageW(m_hWnd, message, wParam, lParam);
}

void CCheckWindow::CPoster::OnFormatStarted(size_t nIndex, size_t nCount,
                                            const std::wstring& strFormat, DWORD nMsLeft) {
    auto* pMessage = new (std::nothrow) CStartedMessage{nIndex, nCount, std::wstring(), nMsLeft};
    if (pMessage == nullptr) {
        return;
    }
    try {
        pMessage->strFormat = strFormat;
    } catch (...) {
        // The progress shows no name for this one.
    }
    if (!Post(kFormatStarted, 0, reinterpret_cast<LPARAM>(pMessage))) {
        delete pMessage;
    }
}

void CCheckWindow::CPoster::OnRowDone(size_t, const CFormatMeasurement& row) {
    CFormatMeasurement* pRow = nullptr;
    try {
        pRow = new CFormatMeasurement(row);
    } catch (...) {
        return;
    }
    if (!Post(kRowDone, 0, reinterpret_cast<LPARAM>(pRow))) {
        delete pRow;
    }
}

void CCheckWindow::CPoster::OnCheckFinished(bool bCancelled) {
    Post(kCheckFinished, bCancelled ? 1 : 0, 0);
}

BEGIN_MESSAGE_MAP(CCheckWindow::CKeysWnd, CWnd)
ON_WM_KEYDOWN()
END_MESSAGE_MAP()

void CCheckWindow::CKeysWnd::OnKeyDown(UINT nChar, UINT, UINT nFlags) {
    if (!m_owner.OnKey(nChar, nFlags)) {
        Default();
    }
}

bool CCheckWindow::OnKey(UINT nKey, UINT nFlags) {
    if (nKey == VK_ESCAPE) {
        PostMessage(WM_CLOSE);
        return true;
    }
    // Ctrl alone: with Alt it is AltGr, which types characters.
    bool bCtrl = ::GetKeyState(VK_CONTROL) < 0 && ::GetKeyState(VK_MENU) >= 0;
    bool bRepeat = (nFlags & KF_REPEAT) != 0;
    if (bCtrl && (nKey == 'C' || nKey == VK_INSERT)) {
        if (!bRepeat) {
            CopyTable();
        }
        return true;
    }
    if (bCtrl && nKey == 'S') {
        if (!bRepeat) {
            SaveReport();
        }
        return true;
    }
    return false;
}

void CCheckWindow::ShowMessage(const std::wstring& text, bool bFailure) {
    if (bFailure) {
        ::MessageBeep(MB_ICONWARNING);
    }
    m_strMessage = text;
    ::SetWindowTextW(m_hMessage, text.c_str());
}

void CCheckWindow::CopyTable() {
    bool bHeld = false;
    if (AfxCopyText(m_hWnd, TabbedText(), &bHeld)) {
        ShowMessage(L"The table is on the clipboard: " + std::to_wstring(m_rows.size()) +
                        (m_rows.size() == 1 ? L" format" : L" formats") +
                        L", tab-separated, header first.",
                    false);
    } else {
        ShowMessage(bHeld ? L"The table was not copied: another program holds the clipboard."
                          : L"The table was not copied: the clipboard refused it.",
                    true);
    }
}

void CCheckWindow::SaveReport() {
    // Named after the check's start, as the report is dated.
    wchar_t szName[64];
    ::swprintf(szName, 64, L"Lookwell check %04u-%02u-%02u %02u-%02u-%02u.html", m_started.wYear,
               m_started.wMonth, m_started.wDay, m_started.wHour, m_started.wMinute,
               m_started.wSecond);
    std::wstring file;
    SaveAsAnswer answer = AfxAskSaveAs(m_hWnd, FOLDERID_Documents, szName,
                                       L"Web page (*.html)\0*.html\0", L"html", file);
    if (answer == SaveAsAnswer::NoDialog) {
        ShowMessage(L"The report was not saved: the Save As dialog is missing.", true);
        return;
    }
    // The dialog runs its own loop: the window may be gone when it returns (its owner closed).
    if (answer == SaveAsAnswer::Cancelled || m_hWnd == nullptr) {
        return; // nothing to say
    }
    CCheckReportInfo info;
    info.strDevice = m_strDevice;
    info.strVersion = VersionText();
    info.when = m_started;
    std::wstring error;
    if (WriteCheckReport(file, info, m_rows, error)) {
        ShowMessage(L"The report was saved as " + file + L".", false);
    } else {
        ShowMessage(L"The report was not saved: " + error + L".", true);
    }
}

void CCheckWindow::Layout() {
    RECT rc;
    GetClientRect(&rc);
    int nWidth = std::max(0, static_cast<int>(rc.right) - 2 * kMargin);
    int nHeight = static_cast<int>(rc.bottom);
    int nTop = kMargin + kLineHeight + kMargin + kBarHeight + kMargin;
    int nMessageTop = nHeight - kMargin - kLineHeight;
    // The details take about two fifths of what is left, within bounds; the list the rest.
    int nDetails = std::clamp((nMessageTop - kMargin - nTop) * 2 / 5, 120, 260);
    int nDetailsTop = std::max(nTop, nMessageTop - kMargin - nDetails);
    // The figures as wide as their texts (the format's entry is the widest), leaving the plot
    // its least.
    int nFiguresWanted = 2 * ::GetSystemMetrics(SM_CXEDGE) + 1;
    for (int nColumn : FigureWidths()) {
        nFiguresWanted += nColumn;
    }
    int nPicture = std::min(nDetails * 4 / 3, nWidth * 28 / 100);
    int nFigures = std::clamp(nFiguresWanted, 240,
                              std::max(240, nWidth - nPicture - 2 * kMargin - kMinPlotWidth));
    int nPlot = std::max(0, nWidth - nFigures - nPicture - 2 * kMargin);
    ::MoveWindow(m_hProgress, kMargin, kMargin, nWidth, kLineHeight, TRUE);
    ::MoveWindow(m_hList, kMargin, nTop, nWidth, std::max(0, nDetailsTop - kMargin - nTop), TRUE);
    ::MoveWindow(m_hFigures, kMargin, nDetailsTop, nFigures, nDetails, TRUE);
    ::MoveWindow(m_picture.m_hWnd, kMargin + nFigures + kMargin, nDetailsTop, nPicture, nDetails,
                 TRUE);
    ::MoveWindow(m_plot.m_hWnd, kMargin + nFigures + nPicture + 2 * kMargin, nDetailsTop, nPlot,
                 nDetails, TRUE);
    ::MoveWindow(m_hMessage, kMargin, nMessageTop, nWidth, kLineHeight, TRUE);
    FitColumns();
}

void CCheckWindow::FitColumns() {
    // The table: each column as wide as its widest text, all of them within the list, so that
    // the format column never scrolls out of view; the verdict takes what is over or short.
    std::vector<int> widths;
    for (int i = 0; i < kColumns; ++i) {
        int nWidth = TextWidth(m_hList, kTitles[i]);
        for (const CFormatMeasurement& row : m_rows) {
            nWidth = std::max(nWidth, TextWidth(m_hList, Cell(row, i)));
        }
        widths.push_back(nWidth + 14);
    }
    FitWidths(widths, kVerdict, ColumnRoom(m_hList));
    SetWidths(m_hList, widths);

    // The figures: the first pair's value (the format's entry) takes what is over or short.
    // Their few lines scroll only in a window made very low: the room is what the client has.
    std::vector<int> figures = FigureWidths();
    RECT rcFigures{};
    ::GetClientRect(m_hFigures, &rcFigures);
    FitWidths(figures, 1, std::max(0, static_cast<int>(rcFigures.right) - 1));
    SetWidths(m_hFigures, figures);
}

std::vector<int> CCheckWindow::FigureWidths() const {
    // Two pairs of name and value side by side, each column as wide as its widest text.
    std::vector<int> widths(4, kMinColumn);
    size_t nLines = std::max<size_t>((m_figures.size() + 1) / 2, 1);
    for (size_t i = 0; i < m_figures.size(); ++i) {
        size_t nName = 2 * std::min<size_t>(i / nLines, 1);
        widths[nName] = std::max(widths[nName], TextWidth(m_hFigures, m_figures[i].first) + 14);
        widths[nName + 1] =
            std::max(widths[nName + 1], TextWidth(m_hFigures, m_figures[i].second) + 14);
    }
    return widths;
}

void CCheckWindow::ShowDetails(size_t nRow) {
    ::SendMessageW(m_hFigures, WM_SETREDRAW, FALSE, 0);
    ::SendMessageW(m_hFigures, LVM_DELETEALLITEMS, 0, 0);
    m_figures.clear();
    if (nRow < m_rows.size()) {
        const CFormatMeasurement& row = m_rows[nRow];
        m_figures = Figures(row);
        size_t nLines = (m_figures.size() + 1) / 2;
        for (size_t i = 0; i < m_figures.size(); ++i) {
            int nItem = static_cast<int>(i % nLines);
            int nColumn = i < nLines ? 0 : 2;
            SetCell(m_hFigures, nItem, nColumn, m_figures[i].first);
            SetCell(m_hFigures, nItem, nColumn + 1, m_figures[i].second);
        }
        m_picture.SetRow(row);
        m_plot.SetRow(row);
    } else {
        m_picture.Clear();
        m_plot.Clear();
    }
    ::SendMessageW(m_hFigures, WM_SETREDRAW, TRUE, 0);
    Layout(); // the figures' width follows their texts
    ::InvalidateRect(m_hFigures, nullptr, TRUE);
}

void CCheckWindow::DrawBar(HDC hdc) {
    RECT rc;
    GetClientRect(&rc);
    RECT rcBar{kMargin, kMargin + kLineHeight + kMargin, rc.right - kMargin,
               kMargin + kLineHeight + kMargin + kBarHeight};
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
        m_strProgress = (m_bCancelled ? L"Cancelled: " : L"Done: ") + FormatCheckSummary(m_rows);
    } else if (!m_strCurrent.empty()) {
        ULONGLONG nSpent = ::GetTickCount64() - m_nFormatStartTick;
        ULONGLONG nLeft = nSpent < m_nMsLeftAtStart ? m_nMsLeftAtStart - nSpent : 0;
        wchar_t sz[320];
        ::swprintf(sz, 320, L"Measuring %ls (format %u of %u), about %u s left",
                   m_strCurrent.c_str(), static_cast<unsigned>(m_nCurrent + 1),
                   static_cast<unsigned>(m_nCount), static_cast<unsigned>((nLeft + 999) / 1000));
        m_strProgress = sz;
    }
    wchar_t szOld[320];
    ::GetWindowTextW(m_hProgress, szOld, 320);
    if (m_strProgress != szOld) {
        ::SetWindowTextW(m_hProgress, m_strProgress.c_str());
    }
    RECT rc;
    GetClientRect(&rc);
    RECT rcBar{0, kMargin + kLineHeight, rc.right,
               kMargin + kLineHeight + 2 * kMargin + kBarHeight};
    ::InvalidateRect(m_hWnd, &rcBar, TRUE);
}

LRESULT CCheckWindow::OnFormatStartedMessage(WPARAM, LPARAM lParam) {
    std::unique_ptr<CStartedMessage> pMessage(reinterpret_cast<CStartedMessage*>(lParam));
    m_nCurrent = pMessage->nIndex;
    m_nCount = pMessage->nCount;
    m_strCurrent.swap(pMessage->strFormat);
    m_nMsLeftAtStart = pMessage->nMsLeft;
    m_nFormatStartTick = ::GetTickCount64();
    UpdateProgress();
    return 0;
}

LRESULT CCheckWindow::OnRowDoneMessage(WPARAM, LPARAM lParam) {
    std::unique_ptr<CFormatMeasurement> pRow(reinterpret_cast<CFormatMeasurement*>(lParam));
    try {
        m_rows.push_back(std::move(*pRow));
    } catch (...) {
        return 0; // the row is lost; the others stay
    }
    const CFormatMeasurement& row = m_rows.back();
    int nItem = static_cast<int>(m_rows.size() - 1);
    for (int i = 0; i < kColumns; ++i) {
        SetCell(m_hList, nItem, i, Cell(row, i));
    }
    FitColumns();
    // Until a row is chosen, the details follow the newest one.
    if (::SendMessageW(m_hList, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED) < 0) {
        ::SendMessageW(m_hList, LVM_ENSUREVISIBLE, static_cast<WPARAM>(nItem), FALSE);
        ShowDetails(m_rows.size() - 1);
    }
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

void CCheckWindow::OnListCustomDraw(NMHDR* pHeader, LRESULT* pResult) {
    auto* pDraw = reinterpret_cast<NMLVCUSTOMDRAW*>(pHeader);
    *pResult = CDRF_DODEFAULT;
    if (pDraw->nmcd.dwDrawStage == CDDS_PREPAINT) {
        *pResult = CDRF_NOTIFYITEMDRAW;
    } else if (pDraw->nmcd.dwDrawStage == CDDS_ITEMPREPAINT) {
        // The control would paint a selected row over in the selection's colour, the verdict
        // included: it is told the row is plain, and the selection is painted here.
        m_bDrawingSelected = (pDraw->nmcd.uItemState & CDIS_SELECTED) != 0;
        pDraw->nmcd.uItemState &= ~static_cast<UINT>(CDIS_SELECTED);
        *pResult = CDRF_NOTIFYSUBITEMDRAW;
    } else if (pDraw->nmcd.dwDrawStage == (CDDS_ITEMPREPAINT | CDDS_SUBITEM)) {
        size_t nRow = pDraw->nmcd.dwItemSpec;
        COLORREF back = 0;
        COLORREF text = 0;
        if (nRow < m_rows.size() && ToneOf(m_rows[nRow], pDraw->iSubItem, back, text)) {
            pDraw->clrTextBk = back;
            pDraw->clrText = text;
        } else if (m_bDrawingSelected) {
            bool bFocus = ::GetFocus() == m_hList;
            pDraw->clrTextBk = ::GetSysColor(bFocus ? COLOR_HIGHLIGHT : COLOR_BTNFACE);
            pDraw->clrText = ::GetSysColor(bFocus ? COLOR_HIGHLIGHTTEXT : COLOR_BTNTEXT);
        } else {
            pDraw->clrTextBk = ::GetSysColor(COLOR_WINDOW);
            pDraw->clrText = ::GetSysColor(COLOR_WINDOWTEXT);
        }
    }
}

void CCheckWindow::OnListItemChanged(NMHDR* pHeader, LRESULT*) {
    auto* pChange = reinterpret_cast<NMLISTVIEW*>(pHeader);
    if ((pChange->uChanged & LVIF_STATE) == 0 ||
        ((pChange->uNewState ^ pChange->uOldState) & LVIS_SELECTED) == 0) {
        return;
    }
    auto nSelected = static_cast<int>(
        ::SendMessageW(m_hList, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
    if (nSelected >= 0) {
        ShowDetails(static_cast<size_t>(nSelected));
    } else if (!m_rows.empty()) {
        ShowDetails(m_rows.size() - 1);
    }
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

void CCheckWindow::OnGetMinMaxInfo(MINMAXINFO* pInfo) {
    pInfo->ptMinTrackSize = POINT{560, 420};
}

void CCheckWindow::OnKeyDown(UINT nChar, UINT, UINT nFlags) {
    if (!OnKey(nChar, nFlags)) {
        Default();
    }
}

void CCheckWindow::OnClose() {
    Close();
}

void CCheckWindow::OnDestroy() {
    // Also when the owner goes first. The runner is not waited for: from here on, what it
    // reports is freed, and what it reported and the window did not take is freed now.
    m_runner.Cancel();
    m_poster.Detach();
    KillTimer(kProgressTimer);
}

void CCheckWindow::OnNcDestroy() {
    m_hProgress = nullptr;
    m_hMessage = nullptr;
    m_hList = nullptr;
    m_hFigures = nullptr;
}
