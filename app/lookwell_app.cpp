#include "app/lookwell_app.h"

#include "ui/lookwell_dlg.h"

#ifndef ID_HELP
#define ID_HELP 0xE146
#endif

CLookwellApp theApp;

BEGIN_MESSAGE_MAP(CLookwellApp, CWinApp)
ON_COMMAND(ID_HELP, &CWinApp::OnHelp)
END_MESSAGE_MAP()

BOOL CLookwellApp::InitInstance() {
    Enable3dControlsStatic();

    CLookwellDlg dlg;
    m_pMainWnd = &dlg;
    // Every way the dialog ends leads to the same exit.
    dlg.DoModal();

    // No message loop follows: the process ends with the dialog.
    return FALSE;
}
