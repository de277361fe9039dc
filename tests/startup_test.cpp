// Lookwell.exe itself, started as a process of its own.
#include "res/resource.h"
#include "support/dialog_test.h"
#include "support/camera.h"
#include "support/lookwell_process.h"
#include "support/wait.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

std::wstring ClassName(HWND hWnd) {
    wchar_t name[64] = L"";
    ::GetClassNameW(hWnd, name, 64);
    return name;
}

} // namespace

TEST(Startup, ShowsOneMainWindowAndEndsWithItsCloseBox) {
    LookwellProcess lookwell;
    ASSERT_TRUE(lookwell.Started());
    HWND hMain = lookwell.WaitForMainWindow();
    ASSERT_NE(nullptr, hMain);
    EXPECT_EQ(1u, lookwell.Windows().size());
    EXPECT_EQ(L"#32770", ClassName(hMain));
    EXPECT_EQ(L"Lookwell", WindowText(hMain));
    EXPECT_EQ(L"Pre\nview", WindowText(::GetDlgItem(hMain, IDC_PREVIEW_BUTTON)));
    RECT rcFrame = WindowRect(::GetDlgItem(hMain, IDC_PREVIEW));
    EXPECT_EQ(320, Width(rcFrame));
    EXPECT_EQ(240, Height(rcFrame));

    // Laid out before it was centred on the work area.
    RECT rcWork{};
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &rcWork, 0);
    RECT rcMain = WindowRect(hMain);
    EXPECT_NEAR((rcWork.left + rcWork.right) / 2, (rcMain.left + rcMain.right) / 2, 1);
    EXPECT_NEAR((rcWork.top + rcWork.bottom) / 2, (rcMain.top + rcMain.bottom) / 2, 1);

    ::PostMessageW(hMain, WM_CLOSE, 0, 0);
    EXPECT_EQ(0u, lookwell.WaitForExit(10000));
}

TEST(Startup, EscAndOkLeaveItRunningTheSystemMenusCloseEndsIt) {
    LookwellProcess lookwell;
    ASSERT_TRUE(lookwell.Started());
    HWND hMain = lookwell.WaitForMainWindow();
    ASSERT_NE(nullptr, hMain);

    ::PostMessageW(hMain, WM_COMMAND, IDCANCEL, 0);
    ::PostMessageW(hMain, WM_COMMAND, IDOK, 0);
    ::PostMessageW(hMain, WM_KEYDOWN, VK_ESCAPE, 0);
    // Long enough for any of them to have ended it: the process ends within milliseconds of a
    // close.
    EXPECT_TRUE(testcam_test::HoldsFor(1000, "still running after Esc and OK",
                                       [&] { return lookwell.WaitForExit(0) == STILL_ACTIVE; }));
    EXPECT_TRUE(::IsWindowVisible(hMain));

    ::PostMessageW(hMain, WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_EQ(0u, lookwell.WaitForExit(10000));
}

// Reads the screen back, so it runs on an X display of its own: another test's window on a
// shared display can cover the frame.
TEST(StartupOnItsOwnDisplay, PreviewsAPictureThatChangesAndEndsCleanlyFromAPreview) {
    testcam_test::ScopedCamera camera(L"RGB24:320x240@30");
    LookwellProcess lookwell;
    ASSERT_TRUE(lookwell.Started());
    HWND hMain = lookwell.WaitForMainWindow();
    ASSERT_NE(nullptr, hMain);
    HWND hButton = ::GetDlgItem(hMain, IDC_PREVIEW_BUTTON);
    ::SendMessageW(hMain, WM_COMMAND, MAKEWPARAM(IDC_PREVIEW_BUTTON, BN_CLICKED),
                   reinterpret_cast<LPARAM>(hButton));
    EXPECT_EQ(L"Stop", WindowText(hButton));
    EXPECT_EQ(L"Lookwell  55296000[bit/s] RGB24", WindowText(hMain));

    // The moving square and the counter change between frames.
    ::SetForegroundWindow(hMain);
    RECT rcFrame = WindowRect(::GetDlgItem(hMain, IDC_PREVIEW));
    // A drawn picture (the empty frame is one flat colour), then the next one, differing from it.
    std::vector<DWORD> first;
    ASSERT_TRUE(testcam_test::PumpUntil("a picture drawn", [&] {
        first = ScreenPixels(rcFrame);
        return std::count(first.begin(), first.end(), first.empty() ? 0 : first[0]) <
               static_cast<std::ptrdiff_t>(first.size());
    }));
    ASSERT_EQ(320u * 240u, first.size());
    EXPECT_TRUE(testcam_test::PumpUntil("the next picture drawn",
                                        [&] { return ScreenPixels(rcFrame) != first; }));

    ::SendMessageW(hMain, WM_COMMAND, MAKEWPARAM(IDC_PREVIEW_BUTTON, BN_CLICKED),
                   reinterpret_cast<LPARAM>(hButton));
    EXPECT_EQ(L"Pre\nview", WindowText(hButton));
    ::SendMessageW(hMain, WM_COMMAND, MAKEWPARAM(IDC_PREVIEW_BUTTON, BN_CLICKED),
                   reinterpret_cast<LPARAM>(hButton));
    ::PostMessageW(hMain, WM_CLOSE, 0, 0);
    EXPECT_EQ(0u, lookwell.WaitForExit(10000));
}
