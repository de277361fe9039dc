// The About box: the program's name, version, legal notice and maker, as the executable's own
// version resource states them, beside the main window's icon.
#pragma once

#include "framework/dialog.h"
#include "res/resource.h"

class CAboutDlg : public CDialog {
public:
    CAboutDlg();

    enum { IDD = IDD_ABOUTBOX };

protected:
    BOOL OnInitDialog() override;

    DECLARE_MESSAGE_MAP()
};
