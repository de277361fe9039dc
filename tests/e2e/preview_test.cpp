// The live picture: started, paused and resumed by clicks, zoomed by double clicks, stopped,
// the pause cycle of a copy named "...pr", and starts that fail with a reason.
#include "support/camera.h"
#include "support/e2e_test.h"
#include "support/tool_keys.h"

using testcam_test::ScopedCamera;

namespace {

class E2ePreview : public CEndToEndTest {
protected:
    HWND VideoWindow() const { return ::GetWindow(Item(IDC_PREVIEW), GW_CHILD); }
};

} // namespace

TEST_F(E2ePreview, StartsPausesZoomsAndStopsAsAPersonUsesIt) {
    ScopedCamera camera(L"RGB24:320x240@30");
    ASSERT_TRUE(Launch());
    ASSERT_TRUE(IsEmptyFrame());
    RECT rcWindow = WindowRect(Main());

    ASSERT_TRUE(Start());
    EXPECT_FALSE(::IsWindowEnabled(Item(IDC_DEVICE_LIST)));
    EXPECT_FALSE(::IsWindowEnabled(Item(IDC_FORMAT_LIST)));
    EXPECT_FALSE(::IsWindowVisible(Item(IDC_MESSAGE)));
    EXPECT_EQ(L"Lookwell  55296000[bit/s] RGB24", WindowText(Main()));
    EXPECT_TRUE(IsLive());
    EXPECT_TRUE(ShowsBars());

    // Resting over the picture the pointer shows what the mouse and keys do there; the click
    // hides it and still pauses once the double-click time has passed; the next one resumes.
    auto tip = [&] { return FindProcessWindow(Lookwell(), L"tooltips_class32", nullptr); };
    MoveMouse(POINT{Centre(Frame()).x + 3, Centre(Frame()).y});
    MoveMouse(Centre(Frame()));
    ASSERT_TRUE(PumpUntil("the tooltip", [&] { return tip() != nullptr; }));
    // Its eight lines (Wine's tooltip gives no text to another process).
    EXPECT_GE(Height(WindowRect(tip())), 80);
    Click(Centre(Frame()));
    EXPECT_TRUE(IsFrozen());
    EXPECT_EQ(nullptr, tip());
    Click(Centre(Frame()));
    EXPECT_TRUE(IsLive());

    // Beside the picture, in the window's empty corner above it, a double click zooms nothing.
    DoubleClick(POINT{Frame().right - 5, Frame().top - 10});
    PassTheDoubleClickTime();
    EXPECT_EQ(320, Width(Frame()));
    EXPECT_TRUE(IsLive());

    // The picture's middle, and its top band: points there lie above the frame in the video
    // window's own coordinates, which the renderer hands on with the click.
    for (LONG nFromTop : {120L, 6L}) {
        SCOPED_TRACE(nFromTop);
        POINT pt{Centre(Frame()).x, Frame().top + nFromTop};
        DoubleClick(pt);
        ASSERT_TRUE(PumpUntil("the zoom", [&] { return Width(Frame()) == 400; }));
        ASSERT_TRUE(Settled()) << "the picture is laid out after the frame";
        EXPECT_EQ(300, Height(Frame()));
        EXPECT_EQ(Width(rcWindow) + 80, Width(WindowRect(Main())));
        EXPECT_EQ(Height(rcWindow) + 60, Height(WindowRect(Main())));
        EXPECT_EQ(400, Width(ClientRect(VideoWindow())));
        EXPECT_EQ(300, Height(ClientRect(VideoWindow())));
        EXPECT_TRUE(ShowsBars());
        // The double click's first press must not pause it.
        PassTheDoubleClickTime();
        EXPECT_TRUE(IsLive());

        DoubleClick(pt, true);
        ASSERT_TRUE(PumpUntil("the shrink", [&] { return Width(Frame()) == 300; }));
        ASSERT_TRUE(Settled());
        EXPECT_EQ(225, Height(Frame()));
        EXPECT_EQ(300, Width(ClientRect(VideoWindow())));
        EXPECT_TRUE(ShowsBars());

        // Stopped: the lists come back, the frame is empty again and the title stays.
        ASSERT_TRUE(Stop());
        EXPECT_TRUE(::IsWindowEnabled(Item(IDC_DEVICE_LIST)));
        EXPECT_TRUE(::IsWindowEnabled(Item(IDC_FORMAT_LIST)));
        EXPECT_EQ(L"Lookwell  55296000[bit/s] RGB24", WindowText(Main()));
        EXPECT_TRUE(IsEmptyFrame());

        // A start after a zoom lays the window out for the format again.
        ASSERT_TRUE(Start());
        EXPECT_EQ(320, Width(Frame()));
        EXPECT_EQ(240, Height(Frame()));
        EXPECT_TRUE(SameRect(rcWindow, WindowRect(Main())));
        EXPECT_TRUE(IsLive());
    }
}

TEST_F(E2ePreview, ACopyNamedPrPausesOneSecondAfterTheStartAndResumesASecondLaterOnce) {
    ScopedCamera camera(L"RGB24:320x240@30");
    std::wstring copy = ModuleFolder() + L"LookwellPr.exe";
    ASSERT_TRUE(::CopyFileW((ModuleFolder() + L"Lookwell.exe").c_str(), copy.c_str(), FALSE));
    ASSERT_TRUE(Launch(L"LookwellPr.exe"));
    ASSERT_TRUE(Start());

    // Five seconds of the picture, sampled every 100 ms: "+" moved since the sample before. A
    // measurement: it lets the time pass, whatever happens in it.
    DWORD dwStart = ::GetTickCount();
    std::vector<DWORD> times;
    std::string timeline;
    CScreenShot last = Shoot("pr-start");
    while (::GetTickCount() - dwStart < 5000) {
        testcam_test::PumpMessagesFor(100);
        CScreenShot next = CScreenShot::Of(Frame());
        times.push_back(::GetTickCount() - dwStart);
        timeline += next != last ? '+' : '.';
        last = next;
    }
    // Stretches of at least 400 ms without a move, from the last move before to the first after.
    std::vector<std::pair<DWORD, DWORD>> stills;
    for (size_t i = 0; i < timeline.size();) {
        size_t nEnd = timeline.find('+', i);
        nEnd = nEnd == std::string::npos ? timeline.size() - 1 : nEnd;
        DWORD dwFrom = i > 0 ? times[i - 1] : 0;
        if (timeline[i] == '.' && times[nEnd] - dwFrom >= 400) {
            stills.emplace_back(dwFrom, times[nEnd]);
        }
        i = timeline[i] == '.' ? nEnd + 1 : i + 1;
    }
    ASSERT_EQ(1u, stills.size()) << timeline;
    EXPECT_GE(stills[0].first, 700u) << timeline;
    EXPECT_LE(stills[0].first, 2000u) << timeline;
    EXPECT_GE(stills[0].second - stills[0].first, 700u) << timeline;
    EXPECT_LE(stills[0].second - stills[0].first, 1800u) << timeline;
    EXPECT_TRUE(IsLive()) << "still the camera's picture";

    ::PostMessageW(Main(), WM_CLOSE, 0, 0);
    EXPECT_EQ(0u, Lookwell().WaitForExit());
    ::DeleteFileW(copy.c_str());
}

// A failed start shows the window's own line and, in a notice beneath it, why where the platform
// or the camera said so.
TEST_F(E2ePreview, AFailedStartSaysWhyInANoticeUnderItsMessage) {
    const struct {
        const wchar_t* formats;
        const wchar_t* options;
        const wchar_t* why;
    } cases[] = {
        // Wine's renderer takes no YUY2, and nothing in Wine converts it.
        {L"YUY2:320x240@30", L"",
         L"The system's video renderer cannot draw this format here; Ctrl+T checks what the "
         L"camera delivers."},
        {L"RGB24:320x240@30", L"busy", L"The camera is in use by another program."},
        {L"RGB24:320x240@30", L"refuse=0", L"The camera refused this format."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Narrow(c.why));
        ScopedCamera camera(c.formats, c.options);
        ASSERT_TRUE(Launch());
        ASSERT_TRUE(Press([&] { return ::IsWindowVisible(Item(IDC_MESSAGE)) != FALSE; }));
        EXPECT_EQ(L"Failed to connect to capture device.", WindowText(Item(IDC_MESSAGE)));
        HWND hNotice = WaitForProcessWindow(Lookwell(), L"LookwellNotice", nullptr);
        ASSERT_NE(nullptr, hNotice);
        EXPECT_EQ(c.why, WindowText(hNotice));
        EXPECT_FALSE(HasCaption(L"Stop"));
        ::PostMessageW(Main(), WM_CLOSE, 0, 0);
        EXPECT_EQ(0u, Lookwell().WaitForExit());
    }
}
