#include "about/about_dlg.h"

#include "framework/version_info.h"
#include "framework/module.h"
#include "ui/lookwell_dlg.h"

CAboutDlg::CAboutDlg() : CDialog(IDD) {}

BEGIN_MESSAGE_MAP(CAboutDlg, CDialog)
END_MESSAGE_MAP()

BOOL CAboutDlg::OnInitDialog() {
    CDialog::OnInitDialog();

    // The main window owns the box. Owned by any other window it goes without an icon.
    if (auto* pMainDlg = dynamic_cast<CLookwellDlg*>(GetParent()); pMainDlg != nullptr) {
        SendMessage(WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(pMainDlg->m_hSharedIcon));
    }

    // A longer path is cut to the buffer, and the version data is then not found. Wine leaves
    // a cut path without its terminating null (Windows adds one): terminate it here.
    wchar_t szPath[MAX_PATH];
    DWORD nLength = ::GetModuleFileNameW(AfxGetInstanceHandle(), szPath, MAX_PATH);
    szPath[nLength < MAX_PATH ? nLength : MAX_PATH - 1] = L'\0';

    VersionInfo version(szPath);
    CString strCompany = version.GetCompanyName();
    CString strName = version.GetInternalName();
    CString strLegal = version.GetLegalNotice();
    CString strVersion = version.GetProductVersion();

    SetDlgItemText(IDC_ABOUT_NAME, strName);
    CString strVersionLine;
    strVersionLine.Format(L"Ver. %s", static_cast<const wchar_t*>(strVersion));
    SetDlgItemText(IDC_ABOUT_VERSION, strVersionLine);
    SetDlgItemText(IDC_ABOUT_COPYRIGHT, strLegal);
    SetDlgItemText(IDC_ABOUT_COMPANY, strCompany);
    return TRUE;
}
