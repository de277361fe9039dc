// The whole main window driven as a user's actions arrive: the button, the lists, the keys,
// the close box and the mouse, with real test cameras and real graphs.
#include "support/dialog_test.h"
#include "support/preview_test.h"

#include <gtest/gtest.h>

#include <memory>

using testcam_test::CameraReleased;
using testcam_test::FramesFlow;
using testcam_test::HoldsFor;
using testcam_test::PumpUntil;
using testcam_test::ScopedCamera;

namespace {

const wchar_t* const kNotFound = L"Failed to find capture devices.";
const wchar_t* const kNoConnect = L"Failed to connect to capture device.";
const wchar_t* const kChanged = L"Changed number of capture devices.\nSelect capture device again.";

// What a person sees: which controls can be used, which of picture and message shows, the
// button's caption and the title.
struct Look {
    bool bLists;
    bool bButton;
    const wchar_t* pszCaption;
    const wchar_t* pszMessage; // null: the picture frame shows instead
    const wchar_t* pszTitle;
};

class Window : public ::testing::Test {
protected:
    HWND Item(int nID) const { return dlg.GetDlgItem(nID); }

    void ExpectLook(const Look& look) const {
        EXPECT_EQ(look.bLists, ::IsWindowEnabled(Item(IDC_DEVICE_LIST)) != FALSE);
        EXPECT_EQ(look.bLists, ::IsWindowEnabled(Item(IDC_FORMAT_LIST)) != FALSE);
        EXPECT_EQ(look.bButton, ::IsWindowEnabled(Item(IDC_PREVIEW_BUTTON)) != FALSE);
        EXPECT_EQ(look.pszCaption, WindowText(Item(IDC_PREVIEW_BUTTON)));
        EXPECT_EQ(look.pszMessage != nullptr, ::IsWindowVisible(Item(IDC_MESSAGE)) != FALSE);
        EXPECT_EQ(look.pszMessage == nullptr, ::IsWindowVisible(Item(IDC_PREVIEW)) != FALSE);
        if (look.pszMessage != nullptr) {
            EXPECT_EQ(look.pszMessage, WindowText(Item(IDC_MESSAGE)));
        }
        EXPECT_EQ(look.pszTitle, WindowText(dlg.m_hWnd));
        bool bStop = std::wstring(look.pszCaption) == L"Stop";
        EXPECT_EQ(bStop ? 1 : 0, dlg.m_bPreviewing);
        EXPECT_EQ(bStop, VideoWindowOf(dlg) != nullptr);
    }

    // A click on the button, as the button reports it.
    void Press() {
        dlg.SendDlgItemMessage(IDC_PREVIEW_BUTTON, BM_CLICK);
        PumpMessages();
    }

    // A choice in a list, as the list reports it.
    void Choose(int nID, int nEntry) {
        dlg.SendDlgItemMessage(nID, CB_SETCURSEL, static_cast<WPARAM>(nEntry));
        dlg.SendMessage(WM_COMMAND, MAKEWPARAM(nID, CBN_SELCHANGE),
                        reinterpret_cast<LPARAM>(Item(nID)));
    }

    // A key as the dialog manager handles it for the window.
    void Key(WPARAM nKey) {
        ::PostMessageW(Item(IDC_DEVICE_LIST), WM_KEYDOWN, nKey, 0);
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (!::IsDialogMessageW(dlg.m_hWnd, &msg)) {
                ::TranslateMessage(&msg);
                ::DispatchMessageW(&msg);
            }
        }
    }

    RECT Frame() const { return WindowRect(Item(IDC_PREVIEW)); }

    ClosingMainWindow dlg;
};

} // namespace

TEST_F(Window, StartsStopsAndLaysOutForTheChosenFormat) {
    ScopedCamera first(L"RGB24:320x240@30,RGB32:160x120@15");
    ScopedCamera second(L"RGB24:176x144@30");
    ASSERT_TRUE(dlg.Create(IDD_LOOKWELL_DIALOG));
    ASSERT_EQ((std::vector<std::wstring>{first.name(), second.name()}),
              ComboTexts(Item(IDC_DEVICE_LIST)));
    ExpectLook({true, true, L"Pre\nview", nullptr, L"Lookwell"});

    Choose(IDC_FORMAT_LIST, 1);
    EXPECT_EQ(160, Width(Frame()));
    EXPECT_EQ(120, Height(Frame()));
    ExpectLook({true, true, L"Pre\nview", nullptr, L"Lookwell  9216000[bit/s] RGB32"});

    Press();
    ExpectLook({false, true, L"Stop", nullptr, L"Lookwell  9216000[bit/s] RGB32"});
    EXPECT_TRUE(FramesFlow(3));
    Key(VK_ESCAPE); // Esc and OK change nothing
    dlg.SendMessage(WM_COMMAND, IDOK);
    ExpectLook({false, true, L"Stop", nullptr, L"Lookwell  9216000[bit/s] RGB32"});
    Key(VK_RETURN); // the default button
    ExpectLook({true, true, L"Pre\nview", nullptr, L"Lookwell  9216000[bit/s] RGB32"});
    EXPECT_EQ(0, testcam_test::Stats().threads);

    // Another device: its first format, the bare title, the window as it was.
    RECT rcWindow = WindowRect(dlg.m_hWnd);
    Choose(IDC_DEVICE_LIST, 1);
    ExpectLook({true, true, L"Pre\nview", nullptr, L"Lookwell"});
    EXPECT_EQ(0, dlg.SendDlgItemMessage(IDC_FORMAT_LIST, CB_GETCURSEL));
    EXPECT_EQ(Width(rcWindow), Width(WindowRect(dlg.m_hWnd)));
    Press(); // laid out for the format first
    EXPECT_EQ(176, Width(Frame()));
    EXPECT_EQ(144, Height(Frame()));
    ExpectLook({false, true, L"Stop", nullptr, L"Lookwell  18247680[bit/s] RGB24"});

    // The close box ends it from a preview: the graph goes first, then the lists and COM.
    dlg.SendMessage(WM_CLOSE);
    PumpMessages(); // the Cancel command that the close request posts
    EXPECT_EQ(IDCANCEL, dlg.m_nModalResult);
    EXPECT_EQ(nullptr, dlg.m_pMediaControl);
    EXPECT_TRUE(CameraReleased());
    EXPECT_EQ(S_OK, ::CoInitialize(nullptr)) << "the window closed its apartment";
    ::CoUninitialize();
}

TEST_F(Window, DevicesThatCameAndWentBetweenPresses) {
    auto pFirst = std::make_unique<ScopedCamera>(L"RGB24:320x240@30,YUY2:320x240@30");
    auto pSecond = std::make_unique<ScopedCamera>(L"RGB24:160x120@30,RGB24:176x144@30");
    ASSERT_TRUE(dlg.Create(IDD_LOOKWELL_DIALOG));

    // A build that fails: the message, and everything still usable.
    Choose(IDC_FORMAT_LIST, 1); // YUY2, which Wine's renderer cannot show
    Press();
    ExpectLook({true, true, L"Pre\nview", kNoConnect, L"Lookwell  36864000[bit/s] YUY2"});

    // One device removed and another added: the same number, so the device now at the
    // remembered position starts, in the format at the remembered position, without a word.
    Choose(IDC_DEVICE_LIST, 1);
    Choose(IDC_FORMAT_LIST, 1);
    pFirst.reset();
    ScopedCamera third(L"RGB24:320x240@30,RGB32:352x288@30");
    Press();
    ExpectLook({false, true, L"Stop", nullptr, L"Lookwell  97320960[bit/s] RGB32"});
    EXPECT_EQ(352, Width(Frame()));
    Press();

    // One device removed: the notice, the first device and format, the bare title.
    pSecond.reset();
    Press();
    ExpectLook({true, true, L"Pre\nview", kChanged, L"Lookwell"});
    EXPECT_EQ(1, dlg.m_nDeviceCount);
    EXPECT_EQ(0, dlg.SendDlgItemMessage(IDC_DEVICE_LIST, CB_GETCURSEL));
    EXPECT_EQ(0, dlg.SendDlgItemMessage(IDC_FORMAT_LIST, CB_GETCURSEL));
    Press(); // the number is accepted now
    ExpectLook({false, true, L"Stop", nullptr, L"Lookwell  55296000[bit/s] RGB24"});
    Press();

    // The same number, but fewer formats than the remembered position.
    Choose(IDC_FORMAT_LIST, 1);
    ASSERT_TRUE(SetCameraValue(third.name(), L"Formats", L"RGB24:320x240@30"));
    Press();
    ExpectLook({true, true, L"Pre\nview", kNoConnect, L"Lookwell  97320960[bit/s] RGB32"});
    EXPECT_EQ(nullptr, dlg.m_pGraph);
}

TEST_F(Window, NoDeviceLeftGivesUpCaptureUntilTheWindowCloses) {
    auto pCamera = std::make_unique<ScopedCamera>(L"RGB24:320x240@30");
    ASSERT_TRUE(dlg.Create(IDD_LOOKWELL_DIALOG));
    pCamera.reset();
    Press();
    ExpectLook({false, false, L"Pre\nview", kNotFound, L"Lookwell"});
    // The old entries lead nowhere now, and closing frees nothing twice.
    EXPECT_EQ(0, dlg.SendDlgItemMessage(IDC_DEVICE_LIST, CB_GETITEMDATA, 0));
    Key(VK_RETURN);
    ExpectLook({false, false, L"Pre\nview", kNotFound, L"Lookwell"});
}

TEST_F(Window, NoListedDeviceButAnEnabledButton) {
    ScopedCamera unusable(L"RGB24:320x240@30", L"nostreamconfig");
    ASSERT_TRUE(dlg.Create(IDD_LOOKWELL_DIALOG));
    ExpectLook({false, true, L"Pre\nview", nullptr, L"Lookwell"});
    Press(); // nothing at the remembered positions, nothing read outside the lists
    ExpectLook({false, true, L"Pre\nview", kNoConnect, L"Lookwell"});
}

TEST_F(Window, DoubleClicksZoomByAQuarterWithinTheLimits) {
    ScopedCamera camera(L"RGB24:320x240@30");
    ASSERT_TRUE(dlg.Create(IDD_LOOKWELL_DIALOG));
    HWND hFrame = Item(IDC_PREVIEW);
    // A double click as it arrives at the window: the point is where the cursor was.
    auto click = [&](UINT message, int x, int y) {
        ::SetCursorPos(x, y);
        ::PostMessageW(dlg.m_hWnd, message, 0, 0);
        PumpMessages();
    };
    auto onFrame = [&](UINT message) {
        RECT rc = Frame();
        click(message, rc.left + 5, rc.top + 5);
    };
    auto picture = [&] {
        RECT rc = ClientRect(VideoWindowOf(dlg));
        return std::pair{Width(rc), Height(rc)};
    };
    auto frame = [&] { return std::pair{Width(Frame()), Height(Frame())}; };
    using Size = std::pair<int, int>;

    onFrame(WM_LBUTTONDBLCLK); // no preview: nothing
    EXPECT_EQ((Size{320, 240}), frame());

    Press();
    struct Step {
        UINT message;
        Size frame;
        Size picture;
    } steps[] = {
        {WM_LBUTTONDBLCLK, {400, 300}, {400, 300}},
        {WM_RBUTTONDBLCLK, {300, 225}, {300, 225}},
        {WM_RBUTTONDBLCLK, {225, 169}, {225, 169}},
        {WM_RBUTTONDBLCLK, {169, 127}, {169, 127}},
        // 127 - 31 is below 120: the frame stays, the picture shrinks inside it.
        {WM_RBUTTONDBLCLK, {169, 127}, {127, 96}},
        {WM_RBUTTONDBLCLK, {169, 127}, {127, 96}},
        {WM_LBUTTONDBLCLK, {211, 158}, {211, 158}},
        {WM_LBUTTONDBLCLK, {263, 197}, {263, 197}},
    };
    for (const Step& step : steps) {
        onFrame(step.message);
        EXPECT_EQ(step.frame, frame());
        EXPECT_EQ(step.picture, picture());
    }

    // Exactly 160 x 120 is applied; a width of exactly 16383 is not.
    dlg.ResizeToVideo(213, 160);
    onFrame(WM_RBUTTONDBLCLK);
    EXPECT_EQ((Size{160, 120}), frame());
    dlg.ResizeToVideo(13107, 200);
    Size big = frame();
    onFrame(WM_LBUTTONDBLCLK);
    EXPECT_EQ(big, frame());
    EXPECT_EQ((Size{big.first + big.first / 4, 250}), picture());

    // All four edges count; one pixel past the right or bottom edge does not.
    dlg.ResizeToVideo(320, 240);
    RECT rc = Frame();
    for (auto [x, y, bInside] : {std::tuple{rc.right, rc.bottom, true},
                                 {rc.left, rc.top, true},
                                 {rc.right + 1, rc.top, false},
                                 {rc.left, rc.bottom + 1, false}}) {
        dlg.ResizeToVideo(320, 240);
        click(WM_LBUTTONDBLCLK, x, y);
        Size expected = bInside ? Size{400, 300} : Size{320, 240};
        EXPECT_EQ(expected, frame()) << x << "," << y;
    }

    // Through the video window's message drain the point is the video window's own; the top
    // band of the picture, whose points lie above the frame in the main window's terms, zooms.
    dlg.ResizeToVideo(320, 240);
    dlg.m_pVideoWindow->SetWindowPosition(0, 0, 320, 240);
    rc = Frame();
    ::SetCursorPos(rc.left + 10, rc.top + 3);
    ::PostMessageW(VideoWindowOf(dlg), WM_LBUTTONDBLCLK, 0, MAKELPARAM(10, 3));
    // The renderer hands it on to the message drain, which posts it on again.
    EXPECT_TRUE(PumpUntil("the zoom", [&] { return frame() != Size{320, 240}; }));
    EXPECT_EQ((Size{400, 300}), frame());
    EXPECT_EQ(hFrame, ::GetParent(VideoWindowOf(dlg)));
}

TEST_F(Window, ALoneClickPausesADoubleClickNever) {
    ScopedCamera camera(L"RGB24:320x240@30");
    ASSERT_TRUE(dlg.Create(IDD_LOOKWELL_DIALOG));
    Press();
    RECT rc = Frame();
    ::SetCursorPos(rc.left + 20, rc.top + 20);
    ::PostMessageW(dlg.m_hWnd, WM_LBUTTONDOWN, MK_LBUTTON, 0);
    ::PostMessageW(dlg.m_hWnd, WM_LBUTTONDBLCLK, MK_LBUTTON, 0);
    // A lone press would pause once the double-click time is over.
    EXPECT_TRUE(HoldsFor(::GetDoubleClickTime() + 100, "running after a double click",
                         [&] { return GraphState(dlg) == State_Running; }));

    ::PostMessageW(dlg.m_hWnd, WM_LBUTTONDOWN, MK_LBUTTON, 0);
    EXPECT_TRUE(PumpUntil("a lone click's pause", [&] { return GraphState(dlg) == State_Paused; }));
    ExpectLook({false, true, L"Stop", nullptr, L"Lookwell  55296000[bit/s] RGB24"});
    Press(); // a paused preview stops like a running one
    ExpectLook({true, true, L"Pre\nview", nullptr, L"Lookwell  55296000[bit/s] RGB24"});
}

TEST_F(Window, MinimisedItShowsItsIcon) {
    ASSERT_TRUE(dlg.Create(IDD_LOOKWELL_DIALOG));
    EXPECT_EQ(reinterpret_cast<LRESULT>(dlg.m_hIcon), dlg.SendMessage(WM_QUERYDRAGICON));
    ::ShowWindow(dlg.m_hWnd, SW_MINIMIZE);
    ::RedrawWindow(dlg.m_hWnd, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    EXPECT_TRUE(::IsIconic(dlg.m_hWnd));
    EXPECT_FALSE(::GetUpdateRect(dlg.m_hWnd, nullptr, FALSE)) << "painted";
}
