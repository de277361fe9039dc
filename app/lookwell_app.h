// The application object: runs the main window as one modal dialog.
#pragma once

#include "framework/app.h"

class CLookwellApp : public CWinApp {
public:
    CLookwellApp() = default;

    BOOL InitInstance() override;
    int ExitInstance() override;

    DECLARE_MESSAGE_MAP()

private:
    int m_nExitCode = 0;
};

extern CLookwellApp theApp;
