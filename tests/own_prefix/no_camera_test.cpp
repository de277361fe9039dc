// With no video capture device at all: these tests own their prefix's device list.
#include "support/dialog_test.h"
#include "support/lookwell_process.h"
#include "support/preview_test.h"

#include <gtest/gtest.h>

namespace {

void ExpectNoCaptureState(HWND hMain) {
    HWND hMessage = ::GetDlgItem(hMain, IDC_MESSAGE);
    EXPECT_TRUE(::IsWindowVisible(hMessage));
    EXPECT_EQ(L"Failed to find capture devices.", WindowText(hMessage));
    EXPECT_FALSE(::IsWindowVisible(::GetDlgItem(hMain, IDC_PREVIEW)));
    for (int id : {IDC_DEVICE_LIST, IDC_FORMAT_LIST, IDC_PREVIEW_BUTTON}) {
        EXPECT_FALSE(::IsWindowEnabled(::GetDlgItem(hMain, id))) << id;
    }
    EXPECT_EQ(L"Lookwell", WindowText(hMain));
}

} // namespace

TEST(NoCamera, TheEmptyCategoryIsStageTwoAndTheWindowGivesUpCapture) {
    ClosingMainWindow dlg;
    ASSERT_TRUE(dlg.Create(IDD_LOOKWELL_DIALOG));
    ExpectNoCaptureState(dlg.m_hWnd);
    EXPECT_EQ(0, dlg.m_nDeviceCount);
    // S_FALSE from CreateClassEnumerator, on an empty list.
    EXPECT_EQ(0x00020000u, dlg.EnumerateDevices());
    dlg.SendMessage(WM_CLOSE);
    PumpMessages();
    EXPECT_EQ(IDCANCEL, dlg.m_nModalResult);
}

TEST(NoCamera, LookwellExeSaysSoAndStillEndsNormally) {
    LookwellProcess lookwell;
    ASSERT_TRUE(lookwell.Started());
    HWND hMain = lookwell.WaitForMainWindow();
    ASSERT_NE(nullptr, hMain);
    ExpectNoCaptureState(hMain);
    ::PostMessageW(hMain, WM_CLOSE, 0, 0);
    EXPECT_EQ(0u, lookwell.WaitForExit(10000));
}
