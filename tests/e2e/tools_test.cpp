// The tools' keys pressed on the real keyboard path (through the X server) while the picture
// runs: full screen and back, the frame on the clipboard, the camera's settings pages, the
// mirror and the information window.
#include "support/camera.h"
#include "support/e2e_test.h"

using testcam_test::ScopedCamera;

namespace {

// A visible top-level window of the process whose class or title contains the text.
HWND FindProcessWindow(CLookwellSession& session, const wchar_t* pszClass,
                       const wchar_t* pszTitlePart) {
    for (HWND hWnd : session.Windows()) {
        wchar_t szClass[64] = L"";
        ::GetClassNameW(hWnd, szClass, 64);
        if ((pszClass != nullptr && std::wcscmp(szClass, pszClass) == 0) ||
            (pszTitlePart != nullptr && WindowText(hWnd).find(pszTitlePart) != std::wstring::npos &&
             hWnd != session.Main())) {
            return hWnd;
        }
    }
    return nullptr;
}

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
    ASSERT_TRUE(WaitUntil([&] { return Width(Frame()) == 400; }, 5000));
    ::Sleep(::GetDoubleClickTime() + 300);
    const RECT rcWindow = WindowRect(Main());
    const RECT rcVideo = WindowRect(VideoWindow());
    const HWND hVideo = VideoWindow();

    PressKeys({VK_F11});
    const RECT rcScreen{0, 0, ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)};
    EXPECT_TRUE(WaitUntil([&] { return SameRect(rcScreen, WindowRect(hVideo)); }, 5000));
    EXPECT_TRUE(WaitUntil([] { return MisplacedBars(CScreenShot::OfScreen()).empty(); }, 3000))
        << MisplacedBars(CScreenShot::OfScreen());
    PressKeys({VK_ESCAPE});
    EXPECT_TRUE(WaitUntil([&] { return VideoWindow() == hVideo; }, 5000));
    EXPECT_TRUE(WaitUntil([&] { return SameRect(rcVideo, WindowRect(hVideo)); }, 3000))
        << Width(WindowRect(hVideo)) << "x" << Height(WindowRect(hVideo));
    EXPECT_TRUE(SameRect(rcWindow, WindowRect(Main())));
    EXPECT_TRUE(IsLive());
    EXPECT_TRUE(ShowsBars());

    // The frame at the format's size, whatever the zoom; the picture runs on.
    DWORD nSequence = ::GetClipboardSequenceNumber();
    PressKeys({VK_CONTROL, 'C'});
    ASSERT_TRUE(WaitUntil([&] { return ::GetClipboardSequenceNumber() != nSequence; }, 5000));
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
    EXPECT_TRUE(WaitUntil([&] { return ::GetClipboardSequenceNumber() != nSequence; }, 5000));
    EXPECT_EQ("", MisplacedBars(ClipboardFrame()));
    EXPECT_TRUE(IsFrozen());
    Click(Centre(Frame()));
    ASSERT_TRUE(IsLive());

    // The camera's own mirror: the next frame has the bars the other way round.
    PressKeys({VK_CONTROL, 'M'});
    nSequence = ::GetClipboardSequenceNumber();
    PressKeys({VK_CONTROL, 'C'});
    ASSERT_TRUE(WaitUntil([&] { return ::GetClipboardSequenceNumber() != nSequence; }, 5000));
    EXPECT_EQ("", MisplacedBars(ClipboardFrame().Mirrored()));
    PressKeys({VK_CONTROL, 'M'});

    // The camera's settings pages; Cancel closes them and the picture never stopped.
    PressKeys({VK_MENU, VK_RETURN});
    HWND hPages = nullptr;
    ASSERT_TRUE(WaitUntil(
        [&] {
            return (hPages = FindProcessWindow(Lookwell(), nullptr, camera.name().c_str())) !=
                   nullptr;
        },
        5000));
    EXPECT_TRUE(IsLive());
    Click(Centre(WindowRect(::GetDlgItem(hPages, IDCANCEL))));
    EXPECT_TRUE(WaitUntil([&] { return !::IsWindow(hPages); }, 5000));

    // The information window beside the main one, its counters growing; Ctrl+I closes it.
    PressKeys({VK_CONTROL, 'I'});
    HWND hInfo = nullptr;
    ASSERT_TRUE(WaitUntil(
        [&] {
            return (hInfo = FindProcessWindow(Lookwell(), L"LookwellInformation", nullptr)) !=
                   nullptr;
        },
        5000));
    EXPECT_EQ(WindowRect(Main()).right, WindowRect(hInfo).left);
    EXPECT_NE(std::wstring::npos, WindowText(::GetWindow(hInfo, GW_CHILD)).find(camera.name()));
    long nFirst = Counter(hInfo, L"Delivered:");
    ::Sleep(1200);
    EXPECT_GT(Counter(hInfo, L"Delivered:"), nFirst);
    EXPECT_NEAR(30, Counter(hInfo, L"Measured:"), 3);
    // A snapshot pauses and resumes the graph, and the camera counts afresh: not the window.
    long nBefore = Counter(hInfo, L"Delivered:");
    PressKeys({VK_CONTROL, 'C'});
    ::Sleep(1200);
    EXPECT_GT(Counter(hInfo, L"Delivered:"), nBefore);
    PressKeys({VK_CONTROL, 'I'});
    EXPECT_TRUE(WaitUntil([&] { return !::IsWindow(hInfo); }, 5000));

    // None of it changed the window's own state.
    EXPECT_TRUE(SameRect(rcWindow, WindowRect(Main())));
    EXPECT_EQ(L"Lookwell  55296000[bit/s] RGB24", WindowText(Main()));
    ASSERT_TRUE(Stop());
    // Without a picture there is nothing to copy: the clipboard stays as it was.
    nSequence = ::GetClipboardSequenceNumber();
    PressKeys({VK_CONTROL, 'C'});
    ::Sleep(500);
    EXPECT_EQ(nSequence, ::GetClipboardSequenceNumber());
}
