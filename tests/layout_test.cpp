// The main window's layout rule on the real dialog template.
#include "support/dialog_test.h"
#include "support/main_window.h"
#include "support/camera.h"
#include "ui/lookwell_dlg.h"

#include <gtest/gtest.h>

namespace {

class Layout : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dlg.Create(IDD_LOOKWELL_DIALOG));
        hPreview = dlg.GetDlgItem(IDC_PREVIEW);
        hMessage = dlg.GetDlgItem(IDC_MESSAGE);
        // The frame's top as the template places it, in pixels.
        RECT rcUnits{0, 30, 0, 0};
        ::MapDialogRect(dlg.m_hWnd, &rcUnits);
        top = rcUnits.top;
    }

    RECT Frame() const { return ChildRect(dlg.m_hWnd, hPreview); }
    RECT Message() const { return ChildRect(dlg.m_hWnd, hMessage); }
    RECT Client() const { return ClientRect(dlg.m_hWnd); }

    void ExpectFrame(int width, int height) const {
        RECT rc = Frame();
        EXPECT_EQ((RECT{0, top, width, top + height}), rc);
        EXPECT_EQ(rc, Message()) << "the message static covers the frame exactly";
    }

    void ExpectClient(int width, int height) const {
        EXPECT_EQ(width, Width(Client()));
        EXPECT_EQ(height, Height(Client()));
    }

    // A device to list, so that the window starts idle rather than with a failure text.
    testcam_test::ScopedCamera camera;
    ClosingMainWindow dlg;
    HWND hPreview = nullptr;
    HWND hMessage = nullptr;
    int top = 0;
};

} // namespace

inline bool operator==(const RECT& a, const RECT& b) {
    return ::EqualRect(&a, &b) != FALSE;
}

inline std::ostream& operator<<(std::ostream& os, const RECT& rc) {
    return os << "(" << rc.left << ", " << rc.top << ", " << rc.right << ", " << rc.bottom << ")";
}

TEST_F(Layout, StartsWithA320By240PictureAndWideDropDowns) {
    ExpectFrame(320, 240);
    ExpectClient(320, top + 240);
    EXPECT_TRUE(::IsWindowVisible(hPreview));
    EXPECT_FALSE(::IsWindowVisible(hMessage));

    LRESULT nDropped = 320 - 2 * ::GetSystemMetrics(SM_CYDLGFRAME);
    EXPECT_EQ(nDropped, dlg.SendDlgItemMessage(IDC_DEVICE_LIST, CB_GETDROPPEDWIDTH));
    EXPECT_EQ(nDropped, dlg.SendDlgItemMessage(IDC_FORMAT_LIST, CB_GETDROPPEDWIDTH));
}

TEST_F(Layout, WindowIsSizedByTheDialogFrameMetrics) {
    // Under this window system the real frame is as thick as the metrics say.
    dlg.ResizeToVideo(400, 300);
    RECT rc = WindowRect(dlg.m_hWnd);
    EXPECT_EQ(400 + 2 * ::GetSystemMetrics(SM_CXDLGFRAME), Width(rc));
    EXPECT_EQ(300 + 2 * ::GetSystemMetrics(SM_CYDLGFRAME) + top + ::GetSystemMetrics(SM_CYCAPTION),
              Height(rc));
}

TEST_F(Layout, SmallPicturesKeepAMinimumClientArea) {
    dlg.ResizeToVideo(100, 80);
    ExpectFrame(100, 80);
    ExpectClient(160, top + 120);

    dlg.ResizeToVideo(160, 120);
    ExpectFrame(160, 120);
    ExpectClient(160, top + 120);

    dlg.ResizeToVideo(161, 119);
    ExpectFrame(161, 119);
    ExpectClient(161, top + 120);
}

TEST_F(Layout, TheSameSizeTwiceChangesNothing) {
    dlg.ResizeToVideo(640, 480);
    RECT rcWindow = WindowRect(dlg.m_hWnd);
    RECT rcFrame = Frame();
    dlg.ResizeToVideo(640, 480);
    EXPECT_EQ(rcWindow, WindowRect(dlg.m_hWnd));
    EXPECT_EQ(rcFrame, Frame());
    ExpectFrame(640, 480);
}

TEST_F(Layout, TheWindowNeverMoves) {
    RECT rcStart = WindowRect(dlg.m_hWnd);
    for (SIZE size : {SIZE{100, 80}, SIZE{1600, 1200}, SIZE{320, 240}, SIZE{3000, 50}}) {
        dlg.ResizeToVideo(size.cx, size.cy);
        RECT rc = WindowRect(dlg.m_hWnd);
        EXPECT_EQ(rcStart.left, rc.left) << size.cx << " x " << size.cy;
        EXPECT_EQ(rcStart.top, rc.top) << size.cx << " x " << size.cy;
        ExpectFrame(size.cx, size.cy);
    }
}

TEST_F(Layout, FrameComesBackVisibleUnderAShownMessage) {
    ::ShowWindow(hMessage, SW_SHOW);
    ::ShowWindow(hPreview, SW_HIDE);
    dlg.ResizeToVideo(200, 150);
    EXPECT_TRUE(::IsWindowVisible(hPreview));
    EXPECT_TRUE(::IsWindowVisible(hMessage));
    ExpectFrame(200, 150);
    // The message stays above the frame.
    HWND hWnd = hMessage;
    while (hWnd != nullptr && hWnd != hPreview) {
        hWnd = ::GetWindow(hWnd, GW_HWNDNEXT);
    }
    EXPECT_EQ(hPreview, hWnd);
}

TEST_F(Layout, ThickerRealFrameDoesNotMoveThePicture) {
    // A sizing border makes the real frame thicker than the dialog frame metrics.
    LONG_PTR style = ::GetWindowLongPtrW(dlg.m_hWnd, GWL_STYLE);
    ::SetWindowLongPtrW(dlg.m_hWnd, GWL_STYLE, style | WS_THICKFRAME);
    ::SetWindowPos(dlg.m_hWnd, nullptr, 0, 0, 0, 0,
                   SWP_FRAMECHANGED | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER);
    for (int i = 0; i < 3; ++i) {
        dlg.ResizeToVideo(320, 240);
        ExpectFrame(320, 240);
        ExpectClient(320, top + 240);
    }
}
