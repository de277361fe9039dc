// The tools' keys pressed on the real keyboard path (through the X server) while the picture
// runs: full screen and back, the frame on the clipboard, the camera's settings pages, the
// mirror and the information window.
#include "support/camera.h"
#include "support/e2e_test.h"
#include "support/tool_keys.h"

#include <cstdlib>

using testcam_test::ScopedCamera;

namespace {

// The number after "label:" in the information window's text; -1 where it shows none.
long Counter(HWND hInfo, const wchar_t* pszLabel) {
    std::wstring text = WindowText(::GetWindow(hInfo, GW_CHILD));
    size_t nAt = text.find(pszLabel);
    return nAt == std::wstring::npos
               ? -1
               : std::wcstol(text.c_str() + nAt + std::wcslen(pszLabel) + 1, nullptr, 10);
}

class E2eTools : public CEndToEndTest {
protected:
    HWND VideoWindow() const { return ::GetWindow(Item(IDC_PREVIEW), GW_CHILD); }
};

} // namespace

TEST_F(E2eTools, KeysGiveFullScreenTheFrameTheSettingsTheMirrorAndTheCounters) {
    ScopedCamera camera(L"RGB24:320x240@30");
    ASSERT_TRUE(Launch());
    ASSERT_TRUE(Start());
    // Zoomed first: full screen must come back to the zoomed picture, not the format's size.
    DoubleClick(Centre(Frame()));
    ASSERT_TRUE(PumpUntil("the zoom", [&] { return Width(Frame()) == 400; }));
    ASSERT_TRUE(Settled());
    PassTheDoubleClickTime();
    EXPECT_TRUE(IsLive()) << "the double click's first press paused it";
    const RECT rcWindow = WindowRect(Main());
    const RECT rcVideo = WindowRect(VideoWindow());
    const HWND hVideo = VideoWindow();

    PressKeys({VK_F11});
    const RECT rcScreen{0, 0, ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)};
    EXPECT_TRUE(PumpUntil("full screen", [&] { return SameRect(rcScreen, WindowRect(hVideo)); }));
    // At the picture's own shape (4:3 on the 5:4 screen), centred on black.
    const LONG nPictureHeight = rcScreen.right * 3 / 4;
    const RECT rcPicture{0, (rcScreen.bottom - nPictureHeight) / 2, rcScreen.right,
                         (rcScreen.bottom + nPictureHeight) / 2};
    const RECT rcAbove{0, 0, rcScreen.right, rcPicture.top};
    const RECT rcBelow{0, rcPicture.bottom, rcScreen.right, rcScreen.bottom};
    auto black = [](const RECT& rc) {
        CScreenShot shot = CScreenShot::Of(rc);
        return !shot.IsEmpty() && shot.IsUniform() && shot.At(0, 0) == 0;
    };
    EXPECT_TRUE(PumpUntil("the bars at the picture's shape, black above and below", [&] {
        return MisplacedBars(CScreenShot::Of(rcPicture)).empty() && black(rcAbove) &&
               black(rcBelow);
    })) << MisplacedBars(CScreenShot::Of(rcPicture));
    PressKeys({VK_ESCAPE});
    EXPECT_TRUE(
        PumpUntil("the picture back in the frame", [&] { return VideoWindow() == hVideo; }));
    EXPECT_TRUE(
        PumpUntil("the picture's old place", [&] { return SameRect(rcVideo, WindowRect(hVideo)); }))
        << Width(WindowRect(hVideo)) << "x" << Height(WindowRect(hVideo));
    EXPECT_TRUE(SameRect(rcWindow, WindowRect(Main())));
    EXPECT_TRUE(IsLive());
    EXPECT_TRUE(ShowsBars());

    // The frame at the format's size, whatever the zoom; the picture runs on.
    DWORD nSequence = ::GetClipboardSequenceNumber();
    PressKeys({VK_CONTROL, 'C'});
    ASSERT_TRUE(ClipboardChanges(nSequence));
    CScreenShot frame = ClipboardFrame();
    EXPECT_EQ(320, frame.Width());
    EXPECT_EQ(240, frame.Height());
    EXPECT_EQ("", MisplacedBars(frame));
    EXPECT_TRUE(IsLive());
    // A paused picture gives its frame and stays paused.
    Click(Centre(Frame()));
    ASSERT_TRUE(IsFrozen());
    nSequence = ::GetClipboardSequenceNumber();
    PressKeys({VK_CONTROL, 'C'});
    EXPECT_TRUE(ClipboardChanges(nSequence));
    EXPECT_EQ("", MisplacedBars(ClipboardFrame()));
    EXPECT_TRUE(IsFrozen());
    Click(Centre(Frame()));
    ASSERT_TRUE(IsLive());

    // The camera's own mirror: a frame made after it has the bars the other way round. Frames
    // already on their way to the renderer were made before it, so it is copied until one comes.
    PressKeys({VK_CONTROL, 'M'});
    EXPECT_TRUE(PumpUntil("a mirrored frame copied", [&] {
        nSequence = ::GetClipboardSequenceNumber();
        PressKeys({VK_CONTROL, 'C'});
        return ClipboardChanges(nSequence) && MisplacedBars(ClipboardFrame().Mirrored()).empty();
    }));
    PressKeys({VK_CONTROL, 'M'});

    // The camera's settings pages, at the main window's client corner and wholly on the work
    // area, also where the main window stands at the area's corner; Cancel closes them and the
    // picture runs on.
    RECT rcWork{};
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &rcWork, 0);
    for (bool bAtCorner : {false, true}) {
        SCOPED_TRACE(bAtCorner ? "main window at the work area's corner" : "main window centred");
        if (bAtCorner) {
            ::SetWindowPos(Main(), nullptr, rcWork.right - Width(rcWindow) / 2,
                           rcWork.bottom - Height(rcWindow) / 2, 0, 0,
                           SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        }
        PressKeys({VK_MENU, VK_RETURN});
        HWND hPages = WaitForProcessWindow(Lookwell(), nullptr, camera.name().c_str());
        ASSERT_NE(nullptr, hPages);
        POINT ptCorner{0, 0};
        ::ClientToScreen(Main(), &ptCorner);
        RECT rcPages = WindowRect(hPages);
        RECT rcOnArea{};
        EXPECT_TRUE(::IntersectRect(&rcOnArea, &rcPages, &rcWork) && SameRect(rcOnArea, rcPages));
        if (!bAtCorner) {
            EXPECT_EQ(ptCorner.x, rcPages.left);
            EXPECT_EQ(ptCorner.y, rcPages.top);
        }
        Click(Centre(WindowRect(::GetDlgItem(hPages, IDCANCEL))));
        EXPECT_TRUE(PumpUntil("the pages closed", [&] { return !::IsWindow(hPages); }));
    }
    ::SetWindowPos(Main(), nullptr, rcWindow.left, rcWindow.top, 0, 0,
                   SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    EXPECT_TRUE(IsLive());

    // The information window beside the main one, its counters growing; Ctrl+I closes it.
    PressKeys({VK_CONTROL, 'I'});
    HWND hInfo = WaitForProcessWindow(Lookwell(), L"LookwellInformation", nullptr);
    ASSERT_NE(nullptr, hInfo);
    EXPECT_EQ(WindowRect(Main()).right, WindowRect(hInfo).left);
    EXPECT_NE(std::wstring::npos, WindowText(::GetWindow(hInfo, GW_CHILD)).find(camera.name()));
    // It refreshes twice a second; the rate it shows is the last second's.
    long nFirst = Counter(hInfo, L"Delivered:");
    EXPECT_TRUE(
        PumpUntil("the count growing", [&] { return Counter(hInfo, L"Delivered:") > nFirst; }));
    EXPECT_TRUE(PumpUntil("about 30 frames a second measured", [&] {
        return std::abs(30 - Counter(hInfo, L"Measured:")) <= 3;
    })) << Counter(hInfo, L"Measured:");
    // A snapshot pauses and resumes the graph, and the camera counts afresh: not the window.
    long nBefore = Counter(hInfo, L"Delivered:");
    DWORD nCopies = ::GetClipboardSequenceNumber();
    PressKeys({VK_CONTROL, 'C'});
    EXPECT_TRUE(ClipboardChanges(nCopies));
    long nAtCopy = Counter(hInfo, L"Delivered:");
    EXPECT_TRUE(
        PumpUntil("the next refresh", [&] { return Counter(hInfo, L"Delivered:") != nAtCopy; }));
    EXPECT_GT(Counter(hInfo, L"Delivered:"), nBefore);
    PressKeys({VK_CONTROL, 'I'});
    EXPECT_TRUE(PumpUntil("the information window closed", [&] { return !::IsWindow(hInfo); }));

    // None of it changed the window's own state.
    EXPECT_TRUE(SameRect(rcWindow, WindowRect(Main())));
    EXPECT_EQ(L"Lookwell  55296000[bit/s] RGB24", WindowText(Main()));
    ASSERT_TRUE(Stop());
    // Without a picture there is nothing to copy: the clipboard stays as it was.
    nSequence = ::GetClipboardSequenceNumber();
    PressKeys({VK_CONTROL, 'C'});
    // A copy takes a few milliseconds from the key on.
    EXPECT_TRUE(HoldsFor(500, "the clipboard as it was",
                         [&] { return ::GetClipboardSequenceNumber() == nSequence; }));
}
