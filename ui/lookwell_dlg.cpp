#include "ui/lookwell_dlg.h"

#include "about/about_dlg.h"
#include "framework/app.h"

#include <algorithm>

CLookwellDlg::CLookwellDlg(CWnd* pParent) : CDialog(IDD, pParent) {
    m_hIcon = ::LoadIconW(AfxGetResourceHandle(), MAKEINTRESOURCEW(IDR_MAINFRAME));
}

BEGIN_MESSAGE_MAP(CLookwellDlg, CDialog)
ON_WM_SYSCOMMAND()
ON_WM_CLOSE()
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
    CDialog::OnCancel();
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
