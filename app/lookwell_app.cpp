#include "app/lookwell_app.h"

#include "check/check_command.h"
#include "tools/record_command.h"
#include "tools/tool_host.h"
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

    // Switches that answer without a window.
    CCommandLine options;
    options.ParseProcess();
    if (options.bRecord && !options.bHelp) {
        m_nExitCode = RunRecordSwitch(options);
        return FALSE;
    }
    if (options.bCheck && !options.bHelp) {
        m_nExitCode = RunCheckSwitch(options);
        return FALSE;
    }
    if (options.bHelp || options.bList) {
        m_nExitCode = options.bHelp ? RunHelpSwitch() : RunListSwitch();
        return FALSE;
    }

    CLookwellDlg dlg;
    m_pMainWnd = &dlg;
    // The keys and switches beyond the window's own; the window works without them.
    CToolHost tools(dlg);
    tools.Install(options);
    // Every way the dialog ends leads to the same exit.
    dlg.DoModal();

    // No message loop follows: the process ends with the dialog.
    return FALSE;
}

int CLookwellApp::ExitInstance() {
    return m_nExitCode;
}
