// The main window's lists, title and layout, its About box and its end, read from outside.
#include "support/camera.h"
#include "support/e2e_test.h"

#include <algorithm>
#include <map>

using testcam_test::ScopedCamera;

namespace {

struct CFormatCase {
    const wchar_t* pszEntry;
    const wchar_t* pszTitle;
    LONG nWidth;
    LONG nHeight;
};

struct CCameraCase {
    const wchar_t* pszFormats;
    std::vector<CFormatCase> formats;
};

const CCameraCase kCameras[] = {
    {L"RGB24:320x240@30,RGB32:160x120@15,RGB24:640x480@30",
     {{L"320x240  30.0 RGB24 55296000", L"Lookwell  55296000[bit/s] RGB24", 320, 240},
      {L"160x120  15.0 RGB32 9216000", L"Lookwell  9216000[bit/s] RGB32", 160, 120},
      {L"640x480  30.0 RGB24 221184000", L"Lookwell  221184000[bit/s] RGB24", 640, 480}}},
    {L"RGB32:640x360@30,YUY2:320x240@15",
     {{L"640x360  30.0 RGB32 221184000", L"Lookwell  221184000[bit/s] RGB32", 640, 360},
      {L"320x240  15.0 YUY2 18432000", L"Lookwell  18432000[bit/s] YUY2", 320, 240}}},
};

class E2eWindow : public CEndToEndTest {};

} // namespace

TEST_F(E2eWindow, ListsTwoCamerasInThePlatformsOrderAndLaysOutEachFormat) {
    ScopedCamera first(kCameras[0].pszFormats);
    ScopedCamera second(kCameras[1].pszFormats);
    std::map<std::wstring, const CCameraCase*> cases{{first.name(), &kCameras[0]},
                                                     {second.name(), &kCameras[1]}};
    ASSERT_TRUE(Launch());
    HWND hDevices = Item(IDC_DEVICE_LIST);
    HWND hFormats = Item(IDC_FORMAT_LIST);
    std::vector<std::wstring> order = PlatformDeviceNames();
    ASSERT_EQ(order, ComboTexts(hDevices));
    EXPECT_EQ(0, Selection(hDevices));
    EXPECT_EQ(0, Selection(hFormats));
    for (int nId : {IDC_DEVICE_LIST, IDC_FORMAT_LIST, IDC_PREVIEW_BUTTON}) {
        EXPECT_TRUE(::IsWindowEnabled(Item(nId))) << nId;
    }
    EXPECT_FALSE(::IsWindowVisible(Item(IDC_MESSAGE)));
    EXPECT_EQ(L"Lookwell", WindowText(Main()));
    EXPECT_EQ(320, Width(Frame()));
    EXPECT_EQ(240, Height(Frame()));
    LONG nFrameTop = ChildRect(Main(), Item(IDC_PREVIEW)).top;

    // Last device first: choosing a device changes the lists, not the layout.
    for (int nDevice : {1, 0}) {
        SCOPED_TRACE(nDevice);
        const CCameraCase& camera = *cases[order[static_cast<size_t>(nDevice)]];
        RECT rcBefore = WindowRect(Main());
        SelectEntry(hDevices, nDevice);
        EXPECT_EQ(L"Lookwell", WindowText(Main()));
        EXPECT_EQ(0, Selection(hFormats));
        EXPECT_TRUE(SameRect(rcBefore, WindowRect(Main())));
        std::vector<std::wstring> entries;
        for (const CFormatCase& format : camera.formats) {
            entries.push_back(format.pszEntry);
        }
        EXPECT_EQ(entries, ComboTexts(hFormats));

        for (size_t i = camera.formats.size(); i-- > 0;) {
            const CFormatCase& format = camera.formats[i];
            SelectEntry(hFormats, static_cast<int>(i));
            EXPECT_EQ(format.pszTitle, WindowText(Main()));
            EXPECT_EQ(format.nWidth, Width(Frame())) << format.pszEntry;
            EXPECT_EQ(format.nHeight, Height(Frame())) << format.pszEntry;
            // The window wraps the frame, with room for the controls above it.
            RECT rcClient = ClientRect(Main());
            EXPECT_EQ(std::max(format.nWidth, 160L), Width(rcClient)) << format.pszEntry;
            EXPECT_EQ(nFrameTop + std::max(format.nHeight, 120L), Height(rcClient))
                << format.pszEntry;
        }
    }
}

TEST_F(E2eWindow, TheSystemMenusAboutItemShowsNameVersionNoticeAndMaker) {
    ASSERT_TRUE(Launch());
    // Posted: the About box runs modally inside the handler.
    ::PostMessageW(Main(), WM_SYSCOMMAND, IDM_ABOUTBOX, 0);
    HWND hAbout = nullptr;
    ASSERT_TRUE(PumpUntil("the About box", [&] {
        for (HWND hWnd : Lookwell().Windows()) {
            if (WindowText(hWnd) == L"About Lookwell") {
                hAbout = hWnd;
            }
        }
        return hAbout != nullptr;
    }));
    std::wstring exePath = ModuleFolder() + L"Lookwell.exe";
    std::wstring maker = WindowText(::GetDlgItem(hAbout, IDC_ABOUT_COMPANY));
    EXPECT_EQ(L"Lookwell", WindowText(::GetDlgItem(hAbout, IDC_ABOUT_NAME)));
    EXPECT_EQ(L"Ver. 1, 0, 5, 1", WindowText(::GetDlgItem(hAbout, IDC_ABOUT_VERSION)));
    EXPECT_EQ(VersionText(exePath, L"LegalCopyright"),
              WindowText(::GetDlgItem(hAbout, IDC_ABOUT_COPYRIGHT)));
    EXPECT_NE(L"", WindowText(::GetDlgItem(hAbout, IDC_ABOUT_COPYRIGHT)));
    EXPECT_EQ(VersionText(exePath, L"CompanyName"), maker);
    EXPECT_EQ(1, std::count(maker.begin(), maker.end(), L'\n')) << "two lines";
    EXPECT_FALSE(::IsWindowEnabled(Main())) << "the About box is modal";

    Click(Centre(WindowRect(::GetDlgItem(hAbout, IDOK))));
    EXPECT_TRUE(PumpUntil("the About box closed", [&] { return !::IsWindow(hAbout); }));
    EXPECT_TRUE(::IsWindowEnabled(Main()));
}

TEST_F(E2eWindow, ClosingDuringAPreviewStopsTheCameraBeforeTheProcessEndsWithCodeZero) {
    ScopedCamera camera(L"RGB24:320x240@30");
    for (bool bPaused : {false, true}) {
        SCOPED_TRACE(bPaused ? "paused" : "running");
        ASSERT_TRUE(Launch());
        ASSERT_TRUE(Start());
        ASSERT_TRUE(IsLive());
        if (bPaused) {
            Click(Centre(Frame()));
            ASSERT_TRUE(IsFrozen());
        }
        CLookwellSession::CCameraThreads threads = Lookwell().CameraThreads();
        ASSERT_GT(threads.nStarted - threads.nEnded, 0) << "the camera streams";

        ::PostMessageW(Main(), WM_CLOSE, 0, 0); // as the close box sends it
        EXPECT_EQ(0u, Lookwell().WaitForExit());
        threads = Lookwell().CameraThreads();
        EXPECT_EQ(0, threads.nRunningAtExit);
        EXPECT_EQ(threads.nStarted, threads.nEnded);
        EXPECT_FALSE(threads.bLoadedAtExit) << "camera objects left when the process ended";
        EXPECT_TRUE(Lookwell().UnhandledExceptions().empty());
    }
}
