// The main window as tests create it: closed as a user closes it when the test ends, previews
// and apartment included, so that every test of a process starts with the thread's apartment
// closed and no window of an earlier test left.
#pragma once

#include "support/dialog_test.h"
#include "ui/lookwell_dlg.h"

class ClosingMainWindow : public CLookwellDlg {
public:
    ~ClosingMainWindow() override {
        if (m_hWnd != nullptr) {
            SendMessage(WM_CLOSE);
            PumpMessages(); // the Cancel command that the close request posts
        }
    }
};
