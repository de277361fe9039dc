#include "support/dialog_test.h"
#include "ui/lookwell_dlg.h"

#include <gtest/gtest.h>

TEST(Layout, Smoke) {
    CLookwellDlg dlg;
    ASSERT_TRUE(dlg.Create(IDD_LOOKWELL_DIALOG));
    RECT rc = ChildRect(dlg.m_hWnd, dlg.GetDlgItem(IDC_PREVIEW));
    EXPECT_EQ(320, Width(rc));
}
