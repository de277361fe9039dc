#include "ui/lookwell_dlg.h"

#include "about/about_dlg.h"
#include "capture/subtype_names.h"
#include "framework/app.h"

#include <algorithm>

CLookwellDlg::CLookwellDlg(CWnd* pParent) : CDialog(IDD, pParent) {
    m_hIcon = ::LoadIconW(AfxGetResourceHandle(), MAKEINTRESOURCEW(IDR_MAINFRAME));
}

BEGIN_MESSAGE_MAP(CLookwellDlg, CDialog)
ON_WM_SYSCOMMAND()
ON_WM_PAINT()
ON_WM_QUERYDRAGICON()
ON_WM_CLOSE()
ON_BN_CLICKED(IDC_PREVIEW_BUTTON, &CLookwellDlg::OnPreviewButton)
ON_CBN_SELCHANGE(IDC_DEVICE_LIST, &CLookwellDlg::OnSelchangeDeviceList)
ON_CBN_SELCHANGE(IDC_FORMAT_LIST, &CLookwellDlg::OnSelchangeFormatList)
ON_WM_RBUTTONDBLCLK()
ON_WM_LBUTTONDBLCLK()
ON_WM_LBUTTONDOWN()
ON_WM_TIMER()
ON_MESSAGE(WM_GRAPH_EVENT, &CLookwellDlg::OnGraphEvent)
END_MESSAGE_MAP()

void CLookwellDlg::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
}

BOOL CLookwellDlg::OnInitDialog() {
    CDialog::OnInitDialog();

    if (HMENU hSysMenu = GetSystemMenu(FALSE); hSysMenu != nullptr) {
        CString strAboutMenu;
        strAboutMenu.LoadString(IDS_ABOUTBOX);
        if (!strAboutMenu.IsEmpty()) {
            ::AppendMenuW(hSysMenu, MF_SEPARATOR, 0, nullptr);
            ::AppendMenuW(hSysMenu, MF_STRING, IDM_ABOUTBOX, strAboutMenu);
        }
    }

    SendMessage(WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    m_hSharedIcon = m_hIcon;

    m_bClosing = 0;
    m_bPreviewing = 0;
    m_nDeviceCount = 0;
    GetWindowText(m_strTitle);
    m_pVideoWindow = nullptr;
    m_pBuilder = nullptr;
    m_pMediaControl = nullptr;
    m_pGraph = nullptr;
    m_pCaptureFilter = nullptr;
    GetDlgItemText(IDC_PREVIEW_BUTTON, m_strButtonCaption);

    ResizeToVideo(320, 240);

    // Both lists drop down as wide as the window, measured once at this first layout.
    RECT rcClient;
    GetClientRect(&rcClient);
    WPARAM nDroppedWidth =
        static_cast<WPARAM>(rcClient.right - rcClient.left - 2 * ::GetSystemMetrics(SM_CYDLGFRAME));
    SendDlgItemMessage(IDC_DEVICE_LIST, CB_SETDROPPEDWIDTH, nDroppedWidth);
    SendDlgItemMessage(IDC_FORMAT_LIST, CB_SETDROPPEDWIDTH, nDroppedWidth);

    // S_FALSE counts as failure too: the thread's apartment is someone else's then. It is
    // still closed again at the end, as every successful CoInitialize must be. The
    // multithreaded apartment: the preview graph made here may then be stopped and released by
    // a thread of its own (preview/graph_stopper.h) as COM allows, while its renderer's window
    // stays on this thread with the keys and clicks (Wine's renderer makes its window on the
    // thread that makes the renderer).
    HRESULT hr = ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    m_bComInitialized = SUCCEEDED(hr);
    if (hr != S_OK) {
        ShowMessage(L"Failed to initial COM interface.");
        return TRUE;
    }

    StageResult r = EnumerateDevices();
    m_nDeviceCount = LOWORD(r);
    if (StageSucceeded(r)) {
        SelectDevice(0, 0);
        ::EnableWindow(GetDlgItem(IDC_PREVIEW_BUTTON), TRUE);
    } else {
        ShowMessage(L"Failed to find capture devices.");
    }
    return TRUE;
}

void CLookwellDlg::OnSysCommand(UINT nID, LPARAM) {
    // The system uses a system command's low four bits itself; the rest names the item.
    if ((nID & 0xFFF0) == IDM_ABOUTBOX) {
        CAboutDlg dlgAbout;
        dlgAbout.DoModal();
    } else {
        Default();
    }
}

void CLookwellDlg::OnOK() {
    // Enter belongs to the preview button; OK never ends the window.
}

void CLookwellDlg::OnClose() {
    m_bClosing = 1;
    Default(); // the dialog's default turns WM_CLOSE into IDCANCEL
}

void CLookwellDlg::OnCancel() {
    // Esc alone leaves the window open; only a close request ends it.
    if (!m_bClosing) {
        return;
    }
    if (m_bPreviewing) {
        OnPreviewButton(); // stops it
    }
    FreeDeviceList();
    if (m_bComInitialized) {
        ::CoUninitialize();
        m_bComInitialized = false;
    }
    CDialog::OnCancel();
}

void CLookwellDlg::OnPaint() {
    if (!IsIconic()) {
        Default();
        return;
    }
    PAINTSTRUCT ps;
    HDC hDC = ::BeginPaint(m_hWnd, &ps);
    SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(hDC), 0);
    int cxIcon = ::GetSystemMetrics(SM_CXICON);
    int cyIcon = ::GetSystemMetrics(SM_CYICON);
    RECT rcClient;
    GetClientRect(&rcClient);
    int x = (rcClient.right - rcClient.left - cxIcon + 1) / 2;
    int y = (rcClient.bottom - rcClient.top - cyIcon + 1) / 2;
    ::DrawIcon(hDC, x, y, m_hIcon);
    ::EndPaint(m_hWnd, &ps);
}

HCURSOR CLookwellDlg::OnQueryDragIcon() {
    return static_cast<HCURSOR>(m_hIcon);
}

void CLookwellDlg::OnSelchangeDeviceList() {
    SelectDevice(static_cast<int>(SendDlgItemMessage(IDC_DEVICE_LIST, CB_GETCURSEL)), 0);
    SetWindowText(m_strTitle);
}

void CLookwellDlg::OnSelchangeFormatList() {
    int nDevice = static_cast<int>(SendDlgItemMessage(IDC_DEVICE_LIST, CB_GETCURSEL));
    int nFormat = static_cast<int>(SendDlgItemMessage(IDC_FORMAT_LIST, CB_GETCURSEL));
    VideoFormat format;
    if (!GetFormat(nDevice, nFormat, format)) {
        return;
    }
    ResizeToVideo(format.width, format.height);
    UpdateTitle(format.bitRate, format.subtype);
}

void CLookwellDlg::UpdateTitle(DWORD bitRate, GUID subtype) {
    CString strName;
    GetSubtypeName(subtype, strName);
    CString strTitle;
    // Unsigned, as in the format list: uncompressed HD rates pass 2^31.
    strTitle.Format(L"%s  %u[bit/s] %s", static_cast<const wchar_t*>(m_strTitle),
                    static_cast<unsigned>(bitRate), static_cast<const wchar_t*>(strName));
    SetWindowText(strTitle);
}

void CLookwellDlg::ShowMessage(const wchar_t* pszText) {
    SetDlgItemText(IDC_MESSAGE, pszText);
    ::ShowWindow(GetDlgItem(IDC_MESSAGE), SW_SHOW);
    ::ShowWindow(GetDlgItem(IDC_PREVIEW), SW_HIDE);
}

void CLookwellDlg::ResizeToVideo(int width, int height) {
    HWND hPreview = GetDlgItem(IDC_PREVIEW);

    // The frame's top in client coordinates, measured from where the frame is now.
    RECT rcPreview;
    ::GetWindowRect(hPreview, &rcPreview);
    POINT ptTop{rcPreview.left, rcPreview.top};
    ::ScreenToClient(m_hWnd, &ptTop);
    int top = ptTop.y;

    ::SetWindowPos(hPreview, HWND_TOP, 0, top, width, height, SWP_SHOWWINDOW);

    // Go on with the size the frame really took.
    ::GetWindowRect(hPreview, &rcPreview);
    int w = rcPreview.right - rcPreview.left;
    int h = rcPreview.bottom - rcPreview.top;

    // The window is sized from the client area it must have, whatever its frame and caption
    // really measure.
    RECT rcWindow{0, 0, std::max(w, 160), std::max(h, 120) + top};
    ::AdjustWindowRectEx(&rcWindow, static_cast<DWORD>(::GetWindowLongPtrW(m_hWnd, GWL_STYLE)),
                         FALSE, static_cast<DWORD>(::GetWindowLongPtrW(m_hWnd, GWL_EXSTYLE)));
    ::SetWindowPos(m_hWnd, HWND_TOP, 0, 0, rcWindow.right - rcWindow.left,
                   rcWindow.bottom - rcWindow.top, SWP_NOMOVE);

    ::SetWindowPos(GetDlgItem(IDC_MESSAGE), nullptr, 0, top, w, h, SWP_NOOWNERZORDER);
}

bool CLookwellDlg::GetPreviewFormat(VideoFormat& format) const {
    if (!m_bPreviewing) {
        return false;
    }
    format = m_previewFormat;
    return true;
}

HRESULT CLookwellDlg::QueryPreviewGraph(REFIID riid, void** ppv) const {
    *ppv = nullptr;
    if (!m_bPreviewing || m_pGraph == nullptr) {
        return VFW_E_WRONG_STATE;
    }
    return m_pGraph->QueryInterface(riid, ppv);
}

HRESULT CLookwellDlg::GetPreviewCaptureFilter(IBaseFilter** ppFilter) const {
    *ppFilter = nullptr;
    if (!m_bPreviewing || m_pGraph == nullptr) {
        return VFW_E_WRONG_STATE;
    }
    // The name the build gave it when it added the device to the graph.
    return m_pGraph->FindFilterByName(L"Video Capture", ppFilter);
}

HWND CLookwellDlg::GetPreviewVideoHwnd() const {
    return m_pVideoWindow != nullptr ? ::GetWindow(GetDlgItem(IDC_PREVIEW), GW_CHILD) : nullptr;
}

bool CLookwellDlg::GetSelection(CSelection& selection) const {
    int nDevice = static_cast<int>(SendDlgItemMessage(IDC_DEVICE_LIST, CB_GETCURSEL));
    const VideoFormatArray* pFormats = nDevice >= 0 ? GetDeviceFormats(nDevice) : nullptr;
    if (pFormats == nullptr) {
        return false;
    }
    selection.strDevice = GetEntryText(IDC_DEVICE_LIST, nDevice);
    selection.strDisplayName = pFormats->m_strDisplayName;
    int nFormat = static_cast<int>(SendDlgItemMessage(IDC_FORMAT_LIST, CB_GETCURSEL));
    selection.bHasFormat = GetFormat(nDevice, nFormat, selection.format);
    selection.formats.clear();
    for (int i = 0; i < pFormats->GetSize(); ++i) {
        selection.formats.push_back((*pFormats)[i]);
    }
    return true;
}

int CLookwellDlg::GetDeviceCount() const {
    return static_cast<int>(SendDlgItemMessage(IDC_DEVICE_LIST, CB_GETCOUNT));
}

int CLookwellDlg::GetFormatCount() const {
    return static_cast<int>(SendDlgItemMessage(IDC_FORMAT_LIST, CB_GETCOUNT));
}

CString CLookwellDlg::GetEntryText(int nListId, int nEntry) const {
    LRESULT nLength = SendDlgItemMessage(nListId, CB_GETLBTEXTLEN, static_cast<WPARAM>(nEntry));
    if (nLength < 0) {
        return CString();
    }
    std::wstring text(static_cast<size_t>(nLength) + 1, L'\0');
    LRESULT nCopied = SendDlgItemMessage(nListId, CB_GETLBTEXT, static_cast<WPARAM>(nEntry),
                                         reinterpret_cast<LPARAM>(text.data()));
    return nCopied < 0 ? CString() : CString(text.c_str(), static_cast<int>(nCopied));
}

void CLookwellDlg::ChooseEntry(int nListId, int nEntry) {
    HWND hList = GetDlgItem(nListId);
    ::SendMessageW(hList, CB_SETCURSEL, static_cast<WPARAM>(nEntry), 0);
    SendMessage(WM_COMMAND, MAKEWPARAM(nListId, CBN_SELCHANGE), reinterpret_cast<LPARAM>(hList));
}

bool CLookwellDlg::PressPreviewButton() {
    HWND hButton = GetDlgItem(IDC_PREVIEW_BUTTON);
    if (!::IsWindowEnabled(hButton)) {
        return false;
    }
    SendMessage(WM_COMMAND, MAKEWPARAM(IDC_PREVIEW_BUTTON, BN_CLICKED),
                reinterpret_cast<LPARAM>(hButton));
    return true;
}

void CLookwellDlg::CancelSingleClick() const {
    ::KillTimer(m_hWnd, TIMER_SINGLE_CLICK);
}
