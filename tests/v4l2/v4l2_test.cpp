// Lookwell against a webcam that reaches it as a user's does on Linux: a V4L2 device, answered
// in user space by the preloaded camera, read through libv4l2 and Wine's own capture filter.
#include "support/camera.h"
#include "support/e2e_test.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>

namespace {

const wchar_t kCamera[] = L"Lookwell V4L2 Camera";

// The Windows path of a file the run names in a variable by its host path.
std::wstring HostFile(const wchar_t* pszVariable) {
    wchar_t szPath[MAX_PATH] = L"";
    DWORD nLength = ::GetEnvironmentVariableW(pszVariable, szPath, MAX_PATH);
    if (nLength == 0 || nLength >= MAX_PATH) {
        return L"";
    }
    std::wstring path = std::wstring(L"Z:") + szPath;
    for (wchar_t& ch : path) {
        ch = ch == L'/' ? L'\\' : ch;
    }
    return path;
}

// The camera's counters, summed over every process of the run.
struct CCameraStatus {
    uint64_t nOpens = 0, nCloses = 0, nMaps = 0, nUnmaps = 0, nStreamOns = 0, nStreamOffs = 0,
             nFrames = 0, nDequeues = 0;
    bool Idle() const { return nOpens == nCloses && nMaps == nUnmaps; }
};

CCameraStatus CameraStatus() {
    CCameraStatus status;
    std::ifstream in(HostFile(L"LOOKWELL_V4L2_STATUS").c_str(), std::ios::binary);
    in.read(reinterpret_cast<char*>(&status), sizeof(status));
    return in ? status : CCameraStatus{};
}

// The control file is replaced whole, so the camera never reads half of it.
bool SetCameraControl(const std::string& text) {
    std::wstring path = HostFile(L"LOOKWELL_V4L2_CONTROL");
    std::wstring next = path + L".next";
    {
        std::ofstream out(next.c_str(), std::ios::binary | std::ios::trunc);
        out << text;
        if (!out) {
            return false;
        }
    }
    return ::MoveFileExW(next.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
}

bool Near(DWORD seen, DWORD expected) {
    for (int shift = 0; shift < 24; shift += 8) {
        int a = static_cast<int>((seen >> shift) & 0xFF);
        int b = static_cast<int>((expected >> shift) & 0xFF);
        if (std::abs(a - b) > 8) {
            return false;
        }
    }
    return true;
}

// The bars run along the top, white on the left, and the grey band along the bottom: a
// picture turned upside down or mirrored has them elsewhere.
std::string Misplaced(const CScreenShot& shot) {
    std::string misplaced = MisplacedBars(shot);
    if (shot.IsEmpty()) {
        return misplaced;
    }
    LONG w = shot.Width();
    LONG h = shot.Height();
    if (!Near(shot.At(w / 16, h / 16), 0xFFFFFF) || !Near(shot.At(w - 1 - w / 16, h / 16), 0)) {
        misplaced += "no bars along the top; ";
    }
    if (!Near(shot.At(w / 2, h - 1 - h / 32), 0x404040)) {
        misplaced += "no band along the bottom; ";
    }
    return misplaced;
}

class E2eV4l2 : public CEndToEndTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(SetCameraControl(""));
        ASSERT_TRUE(CameraStatus().Idle());
    }
    void TearDown() override {
        CEndToEndTest::TearDown();
        // Whatever the test did, the program let go of the device when it ended.
        EXPECT_TRUE(WaitUntil([] { return CameraStatus().Idle(); }, 5000))
            << CameraStatus().nOpens << " opens, " << CameraStatus().nCloses << " closes, "
            << CameraStatus().nMaps << " maps, " << CameraStatus().nUnmaps << " unmaps";
        EXPECT_TRUE(SetCameraControl(""));
    }
};

struct CFormat {
    LONG nWidth, nHeight;
    const char* pszEntry;
};
// Wine's filter offers one RGB24 format per frame size the camera has in any of its formats,
// converted by libv4l2, in the order the camera lists them: 800 x 600 comes as MJPG only. Its
// media types have no frame time (the interval is in the capabilities only), and Wine's
// run-time library writes the infinite rate that gives as "1.$".
const CFormat kFormats[] = {
    {640, 480, "640x480   1.$ RGB24 221184000"},
    {320, 240, "320x240   1.$ RGB24 55296000"},
    {160, 120, "160x120   1.$ RGB24 13824000"},
    {800, 600, "800x600   1.$ RGB24 345600000"},
};

} // namespace

TEST_F(E2eV4l2, ListAndWindowShowTheCameraWithOneRgb24FormatPerFrameSize) {
    std::string expected = Narrow(kCamera) + "\r\n";
    for (const CFormat& format : kFormats) {
        expected += std::string("    ") + format.pszEntry + "\r\n";
    }
    CRunResult run = RunRedirected(L"/list");
    EXPECT_EQ(0u, run.nExit);
    EXPECT_EQ(expected, run.out);
    EXPECT_EQ("", run.err);

    ASSERT_TRUE(Launch());
    EXPECT_EQ(std::vector<std::wstring>{kCamera}, ComboTexts(Item(IDC_DEVICE_LIST)));
    std::string listed;
    for (const std::wstring& entry : ComboTexts(Item(IDC_FORMAT_LIST))) {
        listed += "    " + Narrow(entry) + "\r\n";
    }
    EXPECT_EQ(expected, Narrow(kCamera) + "\r\n" + listed);
}

TEST_F(E2eV4l2, EveryFormatPreviewsLiveUprightAtItsSizeAndCopiesItsFrame) {
    ASSERT_TRUE(Launch());
    // The window grows right and down from where it is: from the top left of the screen the
    // largest size stays on it, where the test can see it.
    ::SetWindowPos(Main(), nullptr, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    HWND hFormats = Item(IDC_FORMAT_LIST);
    for (const CFormat& format : kFormats) {
        SCOPED_TRACE(format.pszEntry);
        int nEntry = ComboFind(
            hFormats, std::wstring(format.pszEntry, format.pszEntry + strlen(format.pszEntry)));
        ASSERT_LE(0, nEntry);
        SelectEntry(hFormats, nEntry);
        uint64_t nStreamOns = CameraStatus().nStreamOns;
        ASSERT_TRUE(Start());
        EXPECT_EQ(format.nWidth, Width(Frame()));
        EXPECT_EQ(format.nHeight, Height(Frame()));
        EXPECT_TRUE(IsLive());
        std::string misplaced;
        EXPECT_TRUE(
            WaitUntil([&] { return (misplaced = Misplaced(Shoot("upright"))).empty(); }, 3000))
            << misplaced;
        // It streams from the camera through libv4l2: the camera delivers, mapped.
        EXPECT_EQ(nStreamOns + 1, CameraStatus().nStreamOns);
        EXPECT_LT(CameraStatus().nUnmaps, CameraStatus().nMaps);

        DWORD nSequence = ::GetClipboardSequenceNumber();
        PressKeys({VK_CONTROL, 'C'});
        ASSERT_TRUE(WaitUntil([&] { return ::GetClipboardSequenceNumber() != nSequence; }, 5000));
        CScreenShot frame = ClipboardFrame();
        EXPECT_EQ(format.nWidth, frame.Width());
        EXPECT_EQ(format.nHeight, frame.Height());
        EXPECT_EQ("", Misplaced(frame));
        EXPECT_TRUE(IsLive());
        ASSERT_TRUE(Stop());
        // Stopped, the filter lets go of the device's buffers and closes it.
        EXPECT_TRUE(WaitUntil([] { return CameraStatus().Idle(); }, 5000));
    }
}

TEST_F(E2eV4l2, ACameraUnpluggedWhileListedIsNoticedAtTheNextPress) {
    struct {
        bool bTestCameraBeside;
        const wchar_t* pszMessage;
    } cases[] = {
        // The only device gone: nothing is left to choose, and /list finds nothing either.
        {false, L"Failed to find capture devices."},
        {true, L"Changed number of capture devices.\nSelect capture device again."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bTestCameraBeside ? "beside a test camera" : "alone");
        std::unique_ptr<testcam_test::ScopedCamera> pOther;
        if (c.bTestCameraBeside) {
            pOther = std::make_unique<testcam_test::ScopedCamera>(L"RGB24:320x240@30");
        }
        ASSERT_TRUE(Launch());
        HWND hDevices = Item(IDC_DEVICE_LIST);
        ASSERT_EQ(c.bTestCameraBeside ? 2u : 1u, ComboTexts(hDevices).size());
        SelectEntry(hDevices, ComboFind(hDevices, kCamera));
        uint64_t nStreamOns = CameraStatus().nStreamOns;
        ASSERT_TRUE(SetCameraControl("fault=unplugged\n"));
        // The message comes first and the controls are disabled after it: both awaited.
        ASSERT_TRUE(Press([&] {
            return WindowText(Item(IDC_MESSAGE)) == c.pszMessage &&
                   (c.bTestCameraBeside || !::IsWindowEnabled(Item(IDC_PREVIEW_BUTTON)));
        })) << Narrow(WindowText(Item(IDC_MESSAGE)));
        EXPECT_TRUE(::IsWindowVisible(Item(IDC_MESSAGE)));
        EXPECT_TRUE(HasCaption(L"Pre\nview"));
        for (int nId : {IDC_DEVICE_LIST, IDC_FORMAT_LIST, IDC_PREVIEW_BUTTON}) {
            EXPECT_EQ(c.bTestCameraBeside, ::IsWindowEnabled(Item(nId)) != FALSE) << nId;
        }
        EXPECT_EQ(nStreamOns, CameraStatus().nStreamOns);
        if (c.bTestCameraBeside) {
            EXPECT_EQ(std::vector<std::wstring>{pOther->name()}, ComboTexts(hDevices));
        } else {
            CRunResult run = RunRedirected(L"/list");
            EXPECT_EQ(1u, run.nExit);
            EXPECT_EQ("No capture device found.\r\n", run.err);
        }
        ::PostMessageW(Main(), WM_CLOSE, 0, 0);
        EXPECT_EQ(0u, Lookwell().WaitForExit(10000));
        ASSERT_TRUE(SetCameraControl(""));
    }
}
