#include "framework/dialog.h"

#include "framework/app.h"
#include "framework/module.h"

CDialog::CDialog(UINT nIDTemplate, CWnd* pParentWnd)
    : m_nIDTemplate(nIDTemplate), m_pParentWnd(pParentWnd) {}

BEGIN_MESSAGE_MAP(CDialog, CWnd)
ON_COMMAND(IDOK, &CDialog::OnOK)
ON_COMMAND(IDCANCEL, &CDialog::OnCancel)
END_MESSAGE_MAP()

HWND CDialog::GetOwnerForModal() const {
    // Without a parent the application's main window owns the dialog, as long as it exists.
    HWND hOwner = m_pParentWnd != nullptr ? m_pParentWnd->m_hWnd : nullptr;
    CWnd* pMainWnd = AfxGetMainWnd();
    if (hOwner == nullptr && pMainWnd != nullptr && pMainWnd != this) {
        hOwner = pMainWnd->m_hWnd;
    }
    return hOwner != nullptr ? ::GetAncestor(hOwner, GA_ROOT) : nullptr;
}

INT_PTR CDialog::DoModal() {
    HINSTANCE hInstance = AfxGetResourceHandle();
    if (::FindResourceW(hInstance, MAKEINTRESOURCEW(m_nIDTemplate), RT_DIALOG) == nullptr) {
        return -1;
    }
    m_nModalResult =
        ::DialogBoxParamW(hInstance, MAKEINTRESOURCEW(m_nIDTemplate), GetOwnerForModal(),
                          DialogProc, reinterpret_cast<LPARAM>(this));
    return m_nModalResult;
}

bool CDialog::Create(UINT nIDTemplate, CWnd* pParentWnd) {
    m_nIDTemplate = nIDTemplate;
    m_pParentWnd = pParentWnd;
    HWND hWnd = ::CreateDialogParamW(AfxGetResourceHandle(), MAKEINTRESOURCEW(nIDTemplate),
                                     pParentWnd != nullptr ? pParentWnd->m_hWnd : nullptr,
                                     DialogProc, reinterpret_cast<LPARAM>(this));
    if (hWnd != nullptr && m_hWnd != hWnd) {
        ::DestroyWindow(hWnd); // it could not be tied to this object
        return false;
    }
    return hWnd != nullptr;
}

void CDialog::EndDialog(int nResult) {
    m_nModalResult = nResult;
    ::EndDialog(m_hWnd, nResult);
}

BOOL CDialog::UpdateData(BOOL bSaveAndValidate) {
    CDataExchange dx{bSaveAndValidate, this};
    DoDataExchange(&dx);
    return TRUE;
}

void CDialog::DoDataExchange(CDataExchange*) {}

BOOL CDialog::OnInitDialog() {
    UpdateData(FALSE);
    return TRUE;
}

void CDialog::OnOK() {
    if (UpdateData(TRUE)) {
        EndDialog(IDOK);
    }
}

void CDialog::OnCancel() {
    EndDialog(IDCANCEL);
}

bool CDialog::OnUnhandledCommand(WPARAM wParam, LPARAM lParam) {
    CWinApp* pApp = AfxGetApp();
    const CMessageMapEntry* pEntry =
        pApp != nullptr ? pApp->FindMessageEntry(WM_COMMAND, wParam, lParam) : nullptr;
    if (pEntry == nullptr) {
        return false;
    }
    pEntry->pfnHandler(pApp, wParam, lParam);
    return true;
}

void CDialog::CenterWindow() {
    RECT rcDlg;
    ::GetWindowRect(m_hWnd, &rcDlg);
    HWND hOwner = ::GetWindow(m_hWnd, GW_OWNER);
    if (hOwner != nullptr && (!::IsWindowVisible(hOwner) || ::IsIconic(hOwner))) {
        hOwner = nullptr;
    }
    RECT rcCenter{};
    if (hOwner != nullptr) {
        ::GetWindowRect(hOwner, &rcCenter);
    } else {
        MONITORINFO mi{};
        mi.cbSize = sizeof(mi);
        ::GetMonitorInfoW(::MonitorFromWindow(m_hWnd, MONITOR_DEFAULTTOPRIMARY), &mi);
        rcCenter = mi.rcWork;
    }
    int cx = rcDlg.right - rcDlg.left;
    int cy = rcDlg.bottom - rcDlg.top;
    int x = (rcCenter.left + rcCenter.right) / 2 - cx / 2;
    int y = (rcCenter.top + rcCenter.bottom) / 2 - cy / 2;
    // The whole dialog inside the work area.
    RECT rc = AfxKeepOnWorkArea(RECT{x, y, x + cx, y + cy}, hOwner != nullptr ? hOwner : m_hWnd);
    ::SetWindowPos(m_hWnd, nullptr, rc.left, rc.top, -1, -1,
                   SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

INT_PTR CDialog::HandleInitDialog(HWND hWnd) {
    if (!Attach(hWnd)) {
        ::EndDialog(hWnd, -1); // a dialog that cannot reach its object is not shown
        return FALSE;
    }
    RECT rcBefore;
    ::GetWindowRect(hWnd, &rcBefore);
    BOOL bResult = TRUE;
    try {
        bResult = OnInitDialog();
    } catch (...) {
        // A dialog whose initialisation failed half-way is not shown.
        EndDialog(-1);
        return FALSE;
    }
    // Centred unless the initialisation placed the dialog itself.
    RECT rcAfter;
    ::GetWindowRect(hWnd, &rcAfter);
    if (rcAfter.left == rcBefore.left && rcAfter.top == rcBefore.top) {
        CenterWindow();
    }
    return bResult;
}

INT_PTR CALLBACK CDialog::DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        return reinterpret_cast<CDialog*>(lParam)->HandleInitDialog(hWnd);
    }
    // Only CDialog runs this procedure, and attaches only itself.
    auto* pDlg = static_cast<CDialog*>(FromHandlePermanent(hWnd));
    if (pDlg == nullptr) {
        return FALSE; // messages before WM_INITDIALOG
    }
    if (message == WM_NCDESTROY) {
        pDlg->Detach();
    }
    LRESULT lResult = 0;
    if (!pDlg->OnWndMsg(message, wParam, lParam, &lResult) || message == WM_NCDESTROY) {
        return FALSE;
    }
    switch (message) {
    // These few answer through the dialog procedure's own result.
    case WM_QUERYDRAGICON:
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC:
    case WM_COMPAREITEM:
    case WM_VKEYTOITEM:
    case WM_CHARTOITEM:
        return static_cast<INT_PTR>(lResult);
    default:
        ::SetWindowLongPtrW(hWnd, DWLP_MSGRESULT, lResult);
        return TRUE;
    }
}
