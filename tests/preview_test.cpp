// The preview graph of a real main window with test cameras: built, run, torn down, and paused
// and resumed on the window's timers.
#include "support/dialog_test.h"
#include "support/graph_standin.h"
#include "support/preview_test.h"

#include <uuids.h>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

using testcam_test::CameraReleased;
using testcam_test::FramesFlow;
using testcam_test::HoldsFor;
using testcam_test::PumpUntil;
using testcam_test::ScopedCamera;
using testcam_test::Stats;

namespace {

class Preview : public ::testing::Test {
protected:
    // The window with the camera listed; the camera's entry, or -1.
    int Open(const ScopedCamera& camera) {
        EXPECT_EQ(S_OK, camera.result()) << "the camera was not registered";
        if (!dlg.Create(IDD_LOOKWELL_DIALOG)) {
            return -1;
        }
        return ComboFind(dlg.GetDlgItem(IDC_DEVICE_LIST), camera.name());
    }

    void ExpectNothingLeft() {
        EXPECT_EQ(nullptr, dlg.m_pVideoWindow);
        EXPECT_EQ(nullptr, dlg.m_pBuilder);
        EXPECT_EQ(nullptr, dlg.m_pMediaControl);
        EXPECT_EQ(nullptr, dlg.m_pGraph);
        EXPECT_EQ(nullptr, dlg.m_pCaptureFilter);
        EXPECT_EQ(nullptr, VideoWindowOf(dlg)) << "the renderer window is out of the frame";
        EXPECT_TRUE(CameraReleased()) << "every filter released";
        EXPECT_EQ(0, Stats().threads) << "streaming ended";
    }

    void TearDown() override {
        dlg.StopPreview();
        ::KillTimer(dlg.m_hWnd, CLookwellDlg::TIMER_PAUSE_CYCLE);
    }

    ClosingMainWindow dlg;
};

} // namespace

TEST_F(Preview, RunsInsideTheFrameInTheChosenFormatAndStopsCleanly) {
    ScopedCamera camera(L"RGB24:320x240@30,RGB32:160x120@15,RGB24:160x120@15");
    int nEntry = Open(camera);
    ASSERT_NE(-1, nEntry);
    dlg.ResizeToVideo(160, 120);

    for (int nPass = 0; nPass < 2; ++nPass) { // a build again right after a stop
        ASSERT_EQ(0u, dlg.BuildPreviewGraph(nEntry, 1));
        EXPECT_NE(nullptr, dlg.m_pVideoWindow);
        EXPECT_NE(nullptr, dlg.m_pBuilder);
        EXPECT_NE(nullptr, dlg.m_pMediaControl);
        EXPECT_NE(nullptr, dlg.m_pGraph);
        EXPECT_EQ(nullptr, dlg.m_pCaptureFilter) << "the graph holds the camera";

        HWND hVideo = VideoWindowOf(dlg);
        ASSERT_NE(nullptr, hVideo);
        EXPECT_TRUE(::IsWindowVisible(hVideo));
        EXPECT_EQ(static_cast<LONG_PTR>(WS_CHILD | WS_CLIPCHILDREN | WS_VISIBLE),
                  ::GetWindowLongPtrW(hVideo, GWL_STYLE) & ~static_cast<LONG_PTR>(WS_CLIPSIBLINGS));
        RECT rcVideo = ClientRect(hVideo);
        EXPECT_EQ(160, Width(rcVideo));
        EXPECT_EQ(120, Height(rcVideo));
        EXPECT_NE(0u, ::GetClassLongPtrW(hVideo, GCL_STYLE) & CS_DBLCLKS)
            << "double clicks on the picture arrive as double clicks";

        LONG width = 0;
        LONG height = 0;
        GUID subtype{};
        ASSERT_TRUE(ConnectedFormat(dlg, width, height, subtype));
        EXPECT_EQ(160, width);
        EXPECT_EQ(120, height);
        EXPECT_EQ(MEDIASUBTYPE_RGB32, subtype);
        EXPECT_EQ(State_Running, GraphState(dlg));
        EXPECT_TRUE(FramesFlow(3));

        dlg.StopPreview();
        ExpectNothingLeft();
    }
}

TEST_F(Preview, StreamsTheChosenSubtypeWhereCapabilitiesShareTheirOtherValues) {
    struct Case {
        const wchar_t* listed;
        const wchar_t* built; // what the camera offers by the build, or null for the same
        int nFormat;
        GUID expected;
    } cases[] = {
        // A frame time of 0 makes both bit rates 0; at this size both saturate.
        {L"RGB24:640x480@0,RGB32:640x480@0", nullptr, 1, MEDIASUBTYPE_RGB32},
        {L"RGB24:4096x4096@60,RGB32:4096x4096@60", nullptr, 1, MEDIASUBTYPE_RGB32},
        {L"RGB24:4096x4096@60,RGB32:4096x4096@60", nullptr, 0, MEDIASUBTYPE_RGB24},
        // The chosen subtype gone: the first of the same size, rate and bit rate.
        {L"YUY2:640x480@0", L"RGB32:640x480@0,RGB24:640x480@0", 0, MEDIASUBTYPE_RGB32},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message()
                     << ::testing::PrintToString(std::wstring(c.listed)) << " entry " << c.nFormat);
        ScopedCamera camera(c.listed);
        ClosingMainWindow window;
        ASSERT_TRUE(window.Create(IDD_LOOKWELL_DIALOG));
        int nEntry = ComboFind(window.GetDlgItem(IDC_DEVICE_LIST), camera.name());
        ASSERT_NE(-1, nEntry);
        if (c.built != nullptr) {
            ASSERT_TRUE(SetCameraValue(camera.name(), L"Formats", c.built));
        }
        ASSERT_EQ(0u, window.BuildPreviewGraph(nEntry, c.nFormat));
        LONG width = 0;
        LONG height = 0;
        GUID subtype{};
        EXPECT_TRUE(ConnectedFormat(window, width, height, subtype));
        EXPECT_EQ(c.expected, subtype);
        window.StopPreview();
    }
}

TEST_F(Preview, DevicesThatCannotChooseAFormatPreviewInTheirOwn) {
    struct Case {
        const wchar_t* options; // what the camera turns into after it was listed
        LONG width;             // of the format it then streams
    } cases[] = {{L"nostreamconfig", 320},
                 {L"capssize=64", 320},
                 // The format is set on the preview pin too, which the picture comes from.
                 {L"previewpin", 160}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.options);
        ScopedCamera camera(L"RGB24:320x240@30,RGB24:160x120@30");
        ClosingMainWindow window;
        ASSERT_TRUE(window.Create(IDD_LOOKWELL_DIALOG));
        int nEntry = ComboFind(window.GetDlgItem(IDC_DEVICE_LIST), camera.name());
        ASSERT_NE(-1, nEntry);
        ASSERT_TRUE(SetCameraValue(camera.name(), L"Options", c.options));
        ASSERT_EQ(0u, window.BuildPreviewGraph(nEntry, 1));
        LONG width = 0;
        LONG height = 0;
        GUID subtype{};
        ASSERT_TRUE(ConnectedFormat(window, width, height, subtype));
        EXPECT_EQ(c.width, width);
        EXPECT_TRUE(FramesFlow(3));
        window.StopPreview();
        window.SendMessage(WM_CLOSE);
        EXPECT_TRUE(CameraReleased());
    }
}

TEST_F(Preview, EveryFailedStageLeavesNothingAndANewBuildCanFollow) {
    ScopedCamera camera(L"RGB24:160x120@30,YUY2:160x120@30");
    int nEntry = Open(camera);
    ASSERT_NE(-1, nEntry);
    GraphStandIn standIn;
    std::unique_ptr<ScopedClassOverride> pOverride;
    auto failCreation = [&pOverride](const CLSID& clsid, HRESULT hr) {
        return [&pOverride, &clsid, hr] {
            pOverride = std::make_unique<ScopedClassOverride>(clsid, hr);
        };
    };
    auto failCall = [&standIn](GraphStandIn::Call call) {
        return [&standIn, call] {
            standIn.failing = call;
            standIn.hrFailure = E_ACCESSDENIED;
            standIn.Install();
        };
    };
    struct Case {
        StageResult expected;
        int nFormat;
        std::function<void()> arrange;
    } cases[] = {
        // The camera's configuration turned invalid: the bind fails as its Load does.
        {0x0005000D, 0, [&camera] { SetCameraValue(camera.name(), L"Formats", L"bogus"); }},
        {0x0006000E, 0, failCreation(CLSID_FilterGraph, E_OUTOFMEMORY)},
        {0x00074002, 0, failCreation(CLSID_CaptureGraphBuilder2, E_NOINTERFACE)},
        {0x00080005, 0, failCall(GraphStandIn::SetFiltergraph)},
        {0x00090005, 0, failCall(GraphStandIn::QueryMediaControl)},
        {0x000A0005, 0, failCall(GraphStandIn::AddFilter)},
        // Wine's video renderer takes no YUY2: VFW_E_CANNOT_CONNECT.
        {0x000B0217, 1, [] {}},
        {0x000C0005, 0, failCall(GraphStandIn::QueryVideoWindow)},
        // A graph still changing state after the bounded wait: VFW_S_STATE_INTERMEDIATE.
        {0x000D0237, 0, [&camera] { SetCameraValue(camera.name(), L"Options", L"stuckrun"); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected);
        c.arrange();
        EXPECT_EQ(c.expected, dlg.BuildPreviewGraph(nEntry, c.nFormat));
        pOverride.reset();
        standIn.Uninstall();
        SetCameraValue(camera.name(), L"Formats", L"RGB24:160x120@30,YUY2:160x120@30");
        SetCameraValue(camera.name(), L"Options", L"");
        ExpectNothingLeft();
        ASSERT_EQ(0u, dlg.BuildPreviewGraph(nEntry, 0));
        dlg.StopPreview();
    }
}

TEST_F(Preview, PositionsOutsideTheListsFailAtStageFourReadingNothing) {
    ScopedCamera camera(L"RGB24:160x120@30");
    int nEntry = Open(camera);
    ASSERT_NE(-1, nEntry);
    int nDevices = static_cast<int>(dlg.SendDlgItemMessage(IDC_DEVICE_LIST, CB_GETCOUNT));
    for (auto [nDevice, nFormat] : {std::pair{-1, 0}, {nDevices, 0}, {nEntry, 1}, {nEntry, -1}}) {
        EXPECT_EQ(0x00040001u, dlg.BuildPreviewGraph(nDevice, nFormat)) << nDevice << nFormat;
    }
    dlg.FreeDeviceList(); // an entry whose formats are gone
    EXPECT_EQ(0x00040001u, dlg.BuildPreviewGraph(nEntry, 0));
    ExpectNothingLeft();
}

TEST_F(Preview, TimersActOnlyOnTheStatesTheGraphReports) {
    ScopedCamera camera(L"RGB24:160x120@30");
    int nEntry = Open(camera);
    ASSERT_NE(-1, nEntry);
    GraphStandIn standIn;
    standIn.Install();
    ASSERT_EQ(0u, dlg.BuildPreviewGraph(nEntry, 0));
    dlg.m_bPreviewing = 1;
    standIn.scriptState = true;

    const UINT_PTR kClick = CLookwellDlg::TIMER_SINGLE_CLICK;
    const UINT_PTR kCycle = CLookwellDlg::TIMER_PAUSE_CYCLE;
    struct Case {
        UINT_PTR nTimer;
        HRESULT hr;
        OAFilterState state;
        int nRuns;
        int nPauses;
        bool bCycleAgain; // the pause cycle's timer set once more
    } cases[] = {
        {kClick, S_OK, State_Running, 0, 1, false},
        {kClick, S_OK, State_Paused, 0, 0, false},
        {kClick, VFW_S_CANT_CUE, State_Paused, 1, 0, false},
        {kClick, VFW_S_CANT_CUE, State_Running, 0, 0, false},
        {kClick, E_UNEXPECTED, State_Paused, 1, 0, false},
        {kClick, E_FAIL, State_Paused, 0, 0, false},
        {kClick, S_OK, State_Stopped, 0, 0, false},
        {kCycle, S_OK, State_Running, 0, 1, true},
        {kCycle, VFW_S_CANT_CUE, State_Paused, 1, 0, false},
        {kCycle, E_UNEXPECTED, State_Running, 0, 1, true},
        {kCycle, E_FAIL, State_Running, 0, 0, false},
        {kCycle, S_OK, State_Stopped, 0, 0, false},
        {0x4242, S_OK, State_Running, 0, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.nTimer << " " << c.hr << " " << c.state);
        standIn.hrGetState = c.hr;
        standIn.state = c.state;
        standIn.nRuns = standIn.nPauses = 0;
        ::SetTimer(dlg.m_hWnd, c.nTimer, 60000, nullptr);
        LRESULT lResult = 0;
        EXPECT_FALSE(dlg.OnWndMsg(WM_TIMER, c.nTimer, 0, &lResult)) << "default processing";
        EXPECT_EQ(c.nRuns, standIn.nRuns);
        EXPECT_EQ(c.nPauses, standIn.nPauses);
        EXPECT_EQ(c.bCycleAgain, ::KillTimer(dlg.m_hWnd, kCycle) != FALSE);
        EXPECT_FALSE(::KillTimer(dlg.m_hWnd, kClick)) << "a timer kills itself";
    }

    // Not previewing: a click changes nothing, even on a running graph.
    dlg.m_bPreviewing = 0;
    standIn.hrGetState = S_OK;
    standIn.state = State_Running;
    standIn.nPauses = 0;
    LRESULT lResult = 0;
    dlg.OnWndMsg(WM_TIMER, kClick, 0, &lResult);
    EXPECT_EQ(0, standIn.nPauses);

    // Timers still pending after a stop find no graph and change nothing.
    dlg.StopPreview();
    for (UINT_PTR nTimer : {kClick, kCycle}) {
        ::SetTimer(dlg.m_hWnd, nTimer, 60000, nullptr);
        EXPECT_FALSE(dlg.OnWndMsg(WM_TIMER, nTimer, 0, &lResult));
        EXPECT_FALSE(::KillTimer(dlg.m_hWnd, nTimer));
    }
    standIn.Uninstall();
    ExpectNothingLeft();
}

TEST_F(Preview, ExecutablesNamedPrArmOnePauseCycleAfterASuccessfulBuild) {
    ScopedCamera camera(L"RGB24:160x120@30");
    int nEntry = Open(camera);
    ASSERT_NE(-1, nEntry);
    struct Case {
        const wchar_t* name;
        bool bArmed;
    } cases[] = {{L"LookwellPR", true}, {L"lookwellpr", true}, {L"xPr", true},
                 {L"pR", true},         {L"Lookwell", false},  {L"prLookwell", false},
                 {L"Lookwellp", false}, {L"r", false},         {L"", false}};
    for (const Case& c : cases) {
        ScopedAppName name(c.name);
        ASSERT_EQ(0u, dlg.BuildPreviewGraph(nEntry, 0));
        EXPECT_EQ(c.bArmed, ::KillTimer(dlg.m_hWnd, CLookwellDlg::TIMER_PAUSE_CYCLE) != FALSE)
            << ::testing::PrintToString(std::wstring(c.name));
        dlg.StopPreview();
    }
    ScopedAppName name(L"LookwellPR");
    EXPECT_EQ(0x00040001u, dlg.BuildPreviewGraph(nEntry, 5));
    EXPECT_FALSE(::KillTimer(dlg.m_hWnd, CLookwellDlg::TIMER_PAUSE_CYCLE))
        << "never after a failure";
}

TEST_F(Preview, ThePauseCyclePausesASecondAndRunsAgainOnce) {
    ScopedCamera camera(L"RGB24:160x120@30");
    int nEntry = Open(camera);
    ASSERT_NE(-1, nEntry);
    ScopedAppName name(L"LookwellPr");
    ULONGLONG nStart = ::GetTickCount64();
    ASSERT_EQ(0u, dlg.BuildPreviewGraph(nEntry, 0));
    HRESULT hr = E_FAIL;
    // Timers never fire early, however late a loaded machine lets them fire.
    ASSERT_TRUE(PumpUntil("the pause", [&] { return GraphState(dlg) == State_Paused; }));
    EXPECT_GE(::GetTickCount64() - nStart, 900u) << "a second after the start";
    EXPECT_EQ(State_Paused, GraphState(dlg, &hr));
    EXPECT_EQ(VFW_S_CANT_CUE, hr) << "a paused live source";
    ASSERT_TRUE(PumpUntil("running again", [&] { return GraphState(dlg) == State_Running; }));
    EXPECT_GE(::GetTickCount64() - nStart, 1900u) << "paused for a second";
    EXPECT_EQ(State_Running, GraphState(dlg, &hr));
    EXPECT_EQ(S_OK, hr);
    // Another cycle would pause a second after this run.
    EXPECT_TRUE(
        HoldsFor(1200, "running: once only", [&] { return GraphState(dlg) == State_Running; }));
    EXPECT_TRUE(FramesFlow(4));
}

TEST_F(Preview, ALoneClickPausesALiveGraphAndTheNextResumesIt) {
    ScopedCamera camera(L"RGB24:160x120@30");
    int nEntry = Open(camera);
    ASSERT_NE(-1, nEntry);
    ASSERT_EQ(0u, dlg.BuildPreviewGraph(nEntry, 0));
    dlg.m_bPreviewing = 1;
    for (OAFilterState expected : {State_Paused, State_Running}) {
        ::PostMessageW(dlg.m_hWnd, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(10, 60));
        // A double click may still follow: nothing happens within the double-click time.
        EXPECT_TRUE(HoldsFor(::GetDoubleClickTime() / 2, "not yet", [&] {
            return GraphState(dlg) == State_Running + State_Paused - expected;
        }));
        EXPECT_TRUE(PumpUntil("the click acted", [&] { return GraphState(dlg) == expected; }));
    }
    EXPECT_TRUE(FramesFlow(4));
}

TEST_F(Preview, ARefusedFormatFailsTheStartAndAPreviewPinShowsTheFormatChosen) {
    struct {
        const wchar_t* pszOptions;
        int nFormat;
        bool bStarts;
        LONG nShownWidth; // what the rendered pin streams
    } cases[] = {
        {L"refuse=1", 1, false, 0},
        {L"refuse=1", 0, true, 320},
        {L"previewpin,refuse=0", 0, false, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << ::testing::PrintToString(std::wstring(c.pszOptions))
                                          << " entry " << c.nFormat);
        ScopedCamera camera(L"RGB24:320x240@30,RGB24:160x120@30", c.pszOptions);
        ClosingMainWindow window;
        ASSERT_TRUE(window.Create(IDD_LOOKWELL_DIALOG));
        int nEntry = ComboFind(window.GetDlgItem(IDC_DEVICE_LIST), camera.name());
        ASSERT_NE(-1, nEntry);
        StageResult r = window.BuildPreviewGraph(nEntry, c.nFormat);
        EXPECT_EQ(c.bStarts, StageSucceeded(r)) << std::hex << r;
        LONG width = 0;
        LONG height = 0;
        GUID subtype{};
        EXPECT_EQ(c.bStarts, ConnectedFormat(window, width, height, subtype));
        EXPECT_EQ(c.nShownWidth, width);
        window.StopPreview();
        EXPECT_EQ(nullptr, window.m_pGraph);
    }
    EXPECT_TRUE(CameraReleased());
}

TEST_F(Preview, ACameraThatStopsDeliveringStopsThePictureWithOneLine) {
    // The camera tells the graph as capture drivers do: an abort after 15 frames, or a device
    // lost when its entry is removed while it streams.
    for (bool bRemoved : {false, true}) {
        SCOPED_TRACE(bRemoved ? "removed" : "stopped after 15 frames");
        auto camera =
            std::make_unique<ScopedCamera>(L"RGB24:160x120@30", bRemoved ? L"" : L"stopafter=15");
        ClosingMainWindow window;
        ASSERT_TRUE(window.Create(IDD_LOOKWELL_DIALOG));
        int nEntry = ComboFind(window.GetDlgItem(IDC_DEVICE_LIST), camera->name());
        ASSERT_NE(-1, nEntry);
        window.ChooseEntry(IDC_DEVICE_LIST, nEntry);
        ASSERT_TRUE(window.PressPreviewButton());
        ASSERT_TRUE(window.IsPreviewing());
        if (bRemoved) {
            ASSERT_TRUE(FramesFlow(3)) << "streaming before it goes";
            camera.reset();
        }
        EXPECT_TRUE(PumpUntil("the picture stopped", [&] { return !window.IsPreviewing(); }));
        EXPECT_EQ(nullptr, window.m_pGraph);
        EXPECT_TRUE(::IsWindowVisible(window.GetDlgItem(IDC_MESSAGE)));
        EXPECT_EQ(L"The capture device stopped delivering pictures.",
                  WindowText(window.GetDlgItem(IDC_MESSAGE)));
        EXPECT_EQ(L"Pre\nview", WindowText(window.GetDlgItem(IDC_PREVIEW_BUTTON)));
        EXPECT_TRUE(::IsWindowEnabled(window.GetDlgItem(IDC_DEVICE_LIST)));
    }
    EXPECT_TRUE(CameraReleased());
}
