// The application object: runs the main window as one modal dialog.
#pragma once

#include "framework/app.h"

class CLookwellApp : public CWinApp {
public:
    CLookwellApp() = default;

    BOOL InitInstance() override;

    DECLARE_MESSAGE_MAP()
};

extern CLookwellApp theApp;
