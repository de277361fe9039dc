// Lookwell's own work against the platform's floor, both measured in the same run, so that the
// ratio means the same on any machine. Run by hand:
//   scripts/wine-exec --prefix $PWD/build/bench-prefix build/lookwell_bench.exe
#include "app/lookwell_app.h"
#include "bench/bench_clock.h"
#include "bench/enumerate_floor.h"
#include "support/apartment.h"
#include "support/camera.h"
#include "support/lookwell_process.h"
#include "ui/lookwell_dlg.h"

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <memory>
#include <string>
#include <vector>

namespace {

// n distinct RGB24 formats.
std::wstring FormatList(int n) {
    std::wstring text;
    for (int i = 0; i < n; ++i) {
        CString strEntry;
        strEntry.Format(L"%sRGB24:%dx%d@%d", i == 0 ? L"" : L",", 160 + 16 * (i % 64),
                        120 + 8 * (i / 64), 15 + 15 * (i % 3));
        text += strEntry;
    }
    return text;
}

void BenchEnumeration() {
    struct Scenario {
        int nCameras;
        int nFormats;
    } scenarios[] = {{1, 64}, {8, 64}, {1, 512}, {8, 512}};
    std::printf("Device list: EnumerateDevices + SelectDevice against the same platform calls\n");
    std::printf("%-16s %9s %9s %7s %14s %9s %14s %7s\n", "cameras x fmts", "ours ms", "floor ms",
                "ratio", "ours us/format", "select ms", "+lists floor", "ratio");
    for (const Scenario& s : scenarios) {
        std::vector<std::unique_ptr<testcam_test::ScopedCamera>> cameras;
        for (int i = 0; i < s.nCameras; ++i) {
            cameras.push_back(std::make_unique<testcam_test::ScopedCamera>(FormatList(s.nFormats)));
        }
        CLookwellDlg dlg;
        if (!dlg.Create(IDD_LOOKWELL_DIALOG)) {
            std::printf("the main window could not be created\n");
            return;
        }
        std::vector<double> ours;
        std::vector<double> floor;
        std::vector<double> select;
        std::vector<double> listsFloor;
        // Alternating, so that drift in the machine's load falls on both alike.
        for (int run = 0; run < 15; ++run) {
            double t0 = NowMs();
            dlg.FreeDeviceList();
            dlg.EnumerateDevices();
            double tSelect = NowMs();
            dlg.SelectDevice(0, 0);
            double t1 = NowMs();
            EnumerateFloor();
            dlg.FreeDeviceList(); // the floor with lists replaces the window's entries
            double t2 = NowMs();
            EnumerateFloor(dlg.m_hWnd);
            double t3 = NowMs();
            if (run > 0) { // the first run loads code and warms caches
                ours.push_back(t1 - t0);
                floor.push_back(t2 - t1);
                select.push_back(t1 - tSelect);
                listsFloor.push_back(t3 - t2);
            }
        }
        double nOurs = Median(ours);
        double nFloor = Median(floor);
        int nTotal =
            static_cast<int>(::SendDlgItemMessageW(dlg.m_hWnd, IDC_DEVICE_LIST, CB_GETCOUNT, 0, 0));
        CString strLabel;
        strLabel.Format(L"%d x %d", s.nCameras, s.nFormats);
        double nListsFloor = Median(listsFloor);
        std::printf("%-16ls %9.2f %9.2f %7.3f %14.2f %9.2f %14.2f %7.3f  (%d devices)\n",
                    static_cast<const wchar_t*>(strLabel), nOurs, nFloor, nOurs / nFloor,
                    nOurs * 1000.0 / (s.nCameras * s.nFormats), Median(select), nListsFloor,
                    nOurs / nListsFloor, nTotal);
        dlg.SendMessage(WM_CLOSE);
        testcam_test::PumpMessagesFor(50);
    }
}

// Pumps this thread's messages (the renderer's window lives here) until done() holds; the time
// it took, or -1 after 10 s.
template <class Done> double WaitMs(double tStart, Done done) {
    while (!done()) {
        if (NowMs() - tStart > 10000.0) {
            return -1.0;
        }
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
        ::Sleep(0);
    }
    return NowMs() - tStart;
}

bool FrameDrawn(const RECT& rcFrame) {
    // The camera's picture starts with a white bar at the left.
    HDC hScreen = ::GetDC(nullptr);
    COLORREF color = ::GetPixel(hScreen, rcFrame.left + 4, rcFrame.top + 4);
    ::ReleaseDC(nullptr, hScreen);
    return color == RGB(255, 255, 255);
}

// The same graph as the window builds, by the shortest route: no lists, no records, no layout,
// no checks beyond what it needs to go on.
struct FloorGraph {
    CComRef<IGraphBuilder> pGraph;
    CComRef<ICaptureGraphBuilder2> pBuilder;
    CComRef<IMediaControl> pControl;
    CComRef<IVideoWindow> pWindow;

    bool Build(const std::wstring& camera, HWND hFrame, HWND hDrain) {
        CComRef<IBaseFilter> pFilter;
        if (::CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC, IID_IGraphBuilder,
                               pGraph.Out()) != S_OK ||
            ::CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC,
                               IID_ICaptureGraphBuilder2, pBuilder.Out()) != S_OK ||
            testcam_test::BindFilter(camera, &pFilter) != S_OK) {
            return false;
        }
        CComRef<IAMStreamConfig> pConfig;
        if (pBuilder->FindInterface(&PIN_CATEGORY_CAPTURE, nullptr, pFilter, IID_IAMStreamConfig,
                                    pConfig.Out()) == S_OK) {
            AM_MEDIA_TYPE* pmt = nullptr;
            BYTE caps[128];
            if (pConfig->GetStreamCaps(0, &pmt, caps) == S_OK) {
                pConfig->SetFormat(pmt);
                DeleteMediaType(pmt);
            }
        }
        RECT rc;
        ::GetWindowRect(hFrame, &rc);
        if (pBuilder->SetFiltergraph(pGraph) != S_OK ||
            pGraph->QueryInterface(IID_IMediaControl, pControl.Out()) != S_OK ||
            pGraph->AddFilter(pFilter, L"Video Capture") != S_OK ||
            FAILED(pBuilder->RenderStream(&PIN_CATEGORY_PREVIEW, &MEDIATYPE_Video, pFilter, nullptr,
                                          nullptr)) ||
            pGraph->QueryInterface(IID_IVideoWindow, pWindow.Out()) != S_OK) {
            return false;
        }
        pWindow->put_Owner(reinterpret_cast<OAHWND>(hFrame));
        pWindow->put_WindowStyle(WS_CHILD | WS_CLIPCHILDREN);
        pWindow->put_MessageDrain(reinterpret_cast<OAHWND>(hDrain));
        pWindow->SetWindowPosition(0, 0, rc.right - rc.left, rc.bottom - rc.top);
        pWindow->put_Visible(OATRUE);
        return SUCCEEDED(pControl->Run());
    }

    void Tear() {
        if (pControl != nullptr) {
            pControl->Stop();
        }
        if (pWindow != nullptr) {
            pWindow->put_Visible(OAFALSE);
            pWindow->put_Owner(0);
        }
        pWindow.Release();
        pControl.Release();
        pBuilder.Release();
        pGraph.Release();
    }
};

void BenchPreview() {
    testcam_test::ScopedCamera camera(L"RGB24:640x480@30");
    CLookwellDlg dlg;
    if (!dlg.Create(IDD_LOOKWELL_DIALOG)) {
        return;
    }
    ::SetWindowPos(dlg.m_hWnd, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    int nEntry = static_cast<int>(
        dlg.SendDlgItemMessage(IDC_DEVICE_LIST, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                               reinterpret_cast<LPARAM>(camera.name().c_str())));
    dlg.SendDlgItemMessage(IDC_DEVICE_LIST, CB_SETCURSEL, static_cast<WPARAM>(nEntry));
    dlg.SelectDevice(nEntry, 0);
    dlg.ResizeToVideo(640, 480);
    HWND hFrame = dlg.GetDlgItem(IDC_PREVIEW);
    RECT rcFrame;
    ::GetWindowRect(hFrame, &rcFrame);
    auto delivered = [] { return testcam_test::Stats().delivered; };

    std::vector<double> build, buildDrawn, press, pressDrawn, floor, floorDrawn;
    for (int run = 0; run < 11; ++run) {
        // The window's build alone, then the whole button press (enumeration included).
        LONGLONG nBefore = delivered();
        double t0 = NowMs();
        dlg.BuildPreviewGraph(nEntry, 0);
        double tFirst = WaitMs(t0, [&] { return delivered() > nBefore; });
        double tDrawn = WaitMs(t0, [&] { return FrameDrawn(rcFrame); });
        dlg.StopPreview();
        testcam_test::PumpMessagesFor(100);

        nBefore = delivered();
        t0 = NowMs();
        dlg.SendMessage(WM_COMMAND, MAKEWPARAM(IDC_PREVIEW_BUTTON, BN_CLICKED),
                        reinterpret_cast<LPARAM>(dlg.GetDlgItem(IDC_PREVIEW_BUTTON)));
        double tPress = WaitMs(t0, [&] { return delivered() > nBefore; });
        double tPressDrawn = WaitMs(t0, [&] { return FrameDrawn(rcFrame); });
        dlg.SendMessage(WM_COMMAND, MAKEWPARAM(IDC_PREVIEW_BUTTON, BN_CLICKED),
                        reinterpret_cast<LPARAM>(dlg.GetDlgItem(IDC_PREVIEW_BUTTON)));
        testcam_test::PumpMessagesFor(100);

        FloorGraph graph;
        nBefore = delivered();
        t0 = NowMs();
        graph.Build(camera.name(), hFrame, dlg.m_hWnd);
        double tFloor = WaitMs(t0, [&] { return delivered() > nBefore; });
        double tFloorDrawn = WaitMs(t0, [&] { return FrameDrawn(rcFrame); });
        graph.Tear();
        testcam_test::PumpMessagesFor(100);
        if (run > 0) {
            build.push_back(tFirst);
            buildDrawn.push_back(tDrawn);
            press.push_back(tPress);
            pressDrawn.push_back(tPressDrawn);
            floor.push_back(tFloor);
            floorDrawn.push_back(tFloorDrawn);
        }
    }
    std::printf("\nPreview start, RGB24 640x480 at 30 fps, medians of 10\n");
    std::printf("%-34s %10s %10s %7s\n", "", "ours ms", "floor ms", "ratio");
    auto row = [](const char* pszWhat, double nOurs, double nFloor) {
        std::printf("%-34s %10.2f %10.2f %7.3f\n", pszWhat, nOurs, nFloor, nOurs / nFloor);
    };
    row("BuildPreviewGraph to first frame", Median(build), Median(floor));
    row("BuildPreviewGraph to first drawn", Median(buildDrawn), Median(floorDrawn));
    row("button press to first frame", Median(press), Median(floor));
    row("button press to first drawn", Median(pressDrawn), Median(floorDrawn));
    dlg.SendMessage(WM_CLOSE);
    testcam_test::PumpMessagesFor(50);
}

// Starts the executable next to this one and times it until its first window is visible; then
// closes it. -1 when it showed nothing.
double StartToWindowMs(const wchar_t* pszExe, const wchar_t* pszArguments = L"") {
    double t0 = NowMs();
    LookwellProcess process(pszExe, pszArguments);
    if (!process.Started()) {
        return -1.0;
    }
    HWND hShown = nullptr;
    double tShown = WaitMs(t0, [&] {
        std::vector<HWND> windows = process.Windows();
        hShown = windows.empty() ? nullptr : windows.front();
        return hShown != nullptr;
    });
    if (hShown != nullptr) {
        ::PostMessageW(hShown, WM_CLOSE, 0, 0);
    }
    process.WaitForExit(10000);
    return tShown;
}

INT_PTR CALLBACK FairFloorDialogProc(HWND, UINT message, WPARAM, LPARAM) {
    if (message == WM_INITDIALOG) {
        EnumerateFloor();
        return TRUE;
    }
    return FALSE;
}

// The window's creation inside this process, initialisation included, against the same template
// created after the same platform calls: the program's own start-up work without the noise of
// process creation. Each part of the initialisation is timed on its own as well.
void BenchCreation() {
    std::vector<double> ours;
    std::vector<double> fair;
    std::vector<double> layout;
    for (int run = 0; run < 16; ++run) {
        double t0 = NowMs();
        {
            CLookwellDlg dlg;
            dlg.Create(IDD_LOOKWELL_DIALOG);
            double tCreated = NowMs();
            dlg.ResizeToVideo(321, 241);
            double tLaidOut = NowMs();
            if (run > 0) {
                ours.push_back(tCreated - t0);
                layout.push_back(tLaidOut - tCreated);
            }
            dlg.SendMessage(WM_CLOSE);
            testcam_test::PumpMessagesFor(0);
        }
        testcam_test::PumpMessagesFor(20);
        t0 = NowMs();
        if (::CoInitializeEx(nullptr, COINIT_MULTITHREADED) == S_OK) {
            HWND hFloor =
                ::CreateDialogParamW(AfxGetResourceHandle(), MAKEINTRESOURCEW(IDD_LOOKWELL_DIALOG),
                                     nullptr, FairFloorDialogProc, 0);
            if (run > 0) {
                fair.push_back(NowMs() - t0);
            }
            ::DestroyWindow(hFloor);
            ::CoUninitialize();
        }
        testcam_test::PumpMessagesFor(20);
    }
    std::printf("ours %.2f ms, fair %.2f ms, ratio %.3f; one layout %.2f ms\n", Median(ours),
                Median(fair), Median(ours) / Median(fair), Median(layout));
}

// Against two floors: the same template shown bare, and shown after the same platform calls
// (the fair floor: what remains above it is the program's own work). A process start under Wine
// scatters by tens of milliseconds, more than the difference sought: the three start in turns,
// in a rotating order, and the program's own work is the median of the differences within a
// turn.
void BenchStart() {
    constexpr int kTurns = 31;
    std::printf("\nProcess start to main window shown, %d turns, medians\n", kTurns);
    std::printf("%-16s %9s %9s %9s %9s %7s %14s\n", "test cameras", "ours ms", "bare ms", "fair ms",
                "own ms", "/fair", "/fair (paired)");
    for (int nCameras : {1, 8}) {
        std::vector<std::unique_ptr<testcam_test::ScopedCamera>> cameras;
        for (int i = 0; i < nCameras; ++i) {
            cameras.push_back(std::make_unique<testcam_test::ScopedCamera>(FormatList(64)));
        }
        std::vector<double> ours;
        std::vector<double> bare;
        std::vector<double> fair;
        std::vector<double> own;
        for (int turn = 0; turn <= kTurns; ++turn) {
            double nTimes[3] = {};
            for (int i = 0; i < 3; ++i) {
                int nWhich = (turn + i) % 3;
                nTimes[nWhich] = nWhich == 0 ? StartToWindowMs(L"Lookwell.exe")
                                 : nWhich == 1
                                     ? StartToWindowMs(L"lookwell_bare_dialog.exe")
                                     : StartToWindowMs(L"lookwell_bare_dialog.exe", L"platform");
            }
            // The first turn warms the caches; a start that showed nothing is no figure.
            if (turn == 0 || nTimes[0] < 0 || nTimes[1] < 0 || nTimes[2] < 0) {
                continue;
            }
            ours.push_back(nTimes[0]);
            bare.push_back(nTimes[1]);
            fair.push_back(nTimes[2]);
            own.push_back(nTimes[0] - nTimes[2]);
        }
        if (ours.empty()) {
            std::printf("%d cameras: a program never showed its window\n", nCameras);
            continue;
        }
        CString strLabel;
        strLabel.Format(L"%d x 64 formats", nCameras);
        std::printf("%-16ls %9.1f %9.1f %9.1f %9.1f %7.3f %14.3f\n",
                    static_cast<const wchar_t*>(strLabel), Median(ours), Median(bare), Median(fair),
                    Median(own), Median(ours) / Median(fair), 1.0 + Median(own) / Median(fair));
        std::printf("  in process, window created (medians of 15): ");
        BenchCreation();
    }
}

} // namespace

// The tools' keys and switches (tools_bench.cpp).
void BenchTools();
// The camera check (check_bench.cpp).
void BenchCheck();
// The AVI writer (record_bench.cpp).
void BenchRecord();
// The recorder: JPEG encoding and recording a camera (recorder_bench.cpp).
void BenchRecorder();
// The tap on a preview's capture stream (tap_bench.cpp).
void BenchTap();
// A webcam through Wine's capture filter (v4l2_bench.cpp); only when named.
void BenchV4l2();

// With no argument every part runs but v4l2; otherwise only the parts named: list, preview,
// start, tools, check, record, recorder, tap, v4l2.
int wmain(int argc, wchar_t** argv) {
    theApp.SetCurrentHandles(::GetModuleHandleW(nullptr));
    if (!HoldMultithreadedApartment()) {
        return 1;
    }
    auto wanted = [argc, argv](const wchar_t* pszPart) {
        return argc < 2 || std::find_if(argv + 1, argv + argc, [pszPart](const wchar_t* pszArg) {
                               return std::wcscmp(pszArg, pszPart) == 0;
                           }) != argv + argc;
    };
    const struct {
        const wchar_t* pszName;
        void (*pfnBench)();
    } kParts[] = {{L"list", BenchEnumeration},  {L"preview", BenchPreview},
                  {L"start", BenchStart},       {L"tools", BenchTools},
                  {L"check", BenchCheck},       {L"record", BenchRecord},
                  {L"recorder", BenchRecorder}, {L"tap", BenchTap}};
    for (const auto& part : kParts) {
        if (wanted(part.pszName)) {
            part.pfnBench();
        }
    }
    if (argc >= 2 && wanted(L"v4l2")) {
        BenchV4l2();
    }
    return 0;
}
