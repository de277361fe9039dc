// The tools' costs against floors from the same run: the frame to the clipboard and the stop
// it makes in the running picture against one frame interval, full screen against the
// renderer's bare switch, one information refresh, and a preview started by switch against a
// start and a button press.
#include "bench/bench_clock.h"
#include "support/camera.h"
#include "support/lookwell_process.h"
#include "tools/tool_host.h"
#include "ui/lookwell_dlg.h"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

void Row(const char* pszWhat, double nOurs, double nFloor) {
    std::printf("%-40s %10.2f %10.2f %7.3f\n", pszWhat, nOurs, nFloor, nOurs / nFloor);
}

void BenchCopyAndFullScreen(const wchar_t* pszFormat, const char* pszLabel) {
    testcam_test::ScopedCamera camera(pszFormat);
    CLookwellDlg dlg;
    if (!dlg.Create(IDD_LOOKWELL_DIALOG)) {
        return;
    }
    int nEntry = static_cast<int>(
        dlg.SendDlgItemMessage(IDC_DEVICE_LIST, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                               reinterpret_cast<LPARAM>(camera.name().c_str())));
    dlg.SendDlgItemMessage(IDC_DEVICE_LIST, CB_SETCURSEL, static_cast<WPARAM>(nEntry));
    dlg.SelectDevice(nEntry, 0);
    dlg.SendMessage(WM_COMMAND, MAKEWPARAM(IDC_PREVIEW_BUTTON, BN_CLICKED),
                    reinterpret_cast<LPARAM>(dlg.GetDlgItem(IDC_PREVIEW_BUTTON)));
    CToolHost tools(dlg);
    PumpFor(1000);
    // The floor: one frame interval as the camera really delivers them.
    const double nInterval =
        MeasuredFrameIntervalMs([] { return testcam_test::Stats().delivered; });
    double t0 = 0;

    std::vector<double> copy, gap, fullIn, fullOut, bareIn, bareOut;
    for (int run = 0; run < 11; ++run) {
        std::vector<BYTE> dib;
        t0 = NowMs();
        tools.GrabFrame(dib);
        gap.push_back(NowMs() - t0);
        PumpFor(200);
        t0 = NowMs();
        tools.CopyToClipboard();
        copy.push_back(NowMs() - t0);
        PumpFor(200);

        t0 = NowMs();
        tools.ToggleFullScreen();
        fullIn.push_back(NowMs() - t0);
        PumpFor(200);
        t0 = NowMs();
        tools.LeaveFullScreen();
        fullOut.push_back(NowMs() - t0);
        PumpFor(600); // the restore checks end

        t0 = NowMs();
        dlg.m_pVideoWindow->put_FullScreenMode(OATRUE);
        bareIn.push_back(NowMs() - t0);
        PumpFor(200);
        t0 = NowMs();
        dlg.m_pVideoWindow->put_FullScreenMode(OAFALSE);
        bareOut.push_back(NowMs() - t0);
        tools.ToggleFullScreen(); // puts the window back where it belongs
        tools.LeaveFullScreen();
        PumpFor(600);
    }
    std::printf("\nTools at %s, medians of 11%s\n", pszLabel, "");
    std::printf("%-40s %10s %10s %7s\n", "", "ours ms", "floor ms", "ratio");
    Row("Ctrl+C to clipboard / frame interval", Median(copy), nInterval);
    Row("stop in the picture / frame interval", Median(gap), nInterval);
    Row("F11 in / bare full-screen switch", Median(fullIn), Median(bareIn));
    Row("F11 out / bare switch back", Median(fullOut), Median(bareOut));

    // The information window: one refresh, as its timer makes it twice a second while it is
    // shown, and this thread's time over 5 s with it hidden (it has no timer then).
    tools.ToggleInfoWindow();
    double nCpu = CurrentThreadCpuMs();
    t0 = NowMs();
    for (int i = 0; i < 200; ++i) {
        ::SendMessageW(tools.InfoWindow(), WM_TIMER, 1, 0);
    }
    double nRefresh = (NowMs() - t0) / 200.0;
    double nRefreshCpu = (CurrentThreadCpuMs() - nCpu) / 200.0;
    tools.ToggleInfoWindow();
    nCpu = CurrentThreadCpuMs();
    t0 = NowMs();
    PumpFor(5000);
    double nHidden = (CurrentThreadCpuMs() - nCpu) / (NowMs() - t0) * 100.0;
    std::printf("%-40s %10.3f %10.3f\n", "info refresh ms, wall / processor", nRefresh,
                nRefreshCpu);
    std::printf("%-40s %9.3f%% %9.3f%%\n", "info shown (2 refreshes/s) / hidden", nRefresh * 0.2,
                nHidden);
    dlg.SendMessage(WM_CLOSE);
    PumpFor(100);
}

// From process start to the camera's white bar at the frame's top left on the screen.
double StartToPictureMs(const std::wstring& args, bool bPress) {
    double t0 = NowMs();
    LookwellProcess process(L"Lookwell.exe", args);
    HWND hMain = process.WaitForMainWindow();
    if (hMain == nullptr) {
        return -1.0;
    }
    if (bPress) {
        ::PostMessageW(hMain, WM_COMMAND, MAKEWPARAM(IDC_PREVIEW_BUTTON, BN_CLICKED),
                       reinterpret_cast<LPARAM>(::GetDlgItem(hMain, IDC_PREVIEW_BUTTON)));
    }
    double tDrawn = -1.0;
    while (NowMs() - t0 < 10000.0) {
        RECT rc;
        ::GetWindowRect(::GetDlgItem(hMain, IDC_PREVIEW), &rc);
        HDC hScreen = ::GetDC(nullptr);
        COLORREF color = ::GetPixel(hScreen, rc.left + 4, rc.top + 4);
        ::ReleaseDC(nullptr, hScreen);
        if (color == RGB(255, 255, 255)) {
            tDrawn = NowMs() - t0;
            break;
        }
        ::Sleep(2);
    }
    ::PostMessageW(hMain, WM_CLOSE, 0, 0);
    process.WaitForExit(10000);
    return tDrawn;
}

void BenchSwitchStart() {
    testcam_test::ScopedCamera camera(L"RGB24:640x480@30");
    std::vector<double> ours, floor;
    for (int run = 0; run < 8; ++run) {
        double nOurs = StartToPictureMs(L"/device:\"" + camera.name() + L"\" /preview", false);
        double nFloor = StartToPictureMs(L"", true);
        if (run > 0) {
            ours.push_back(nOurs);
            floor.push_back(nFloor);
        }
    }
    std::printf("\nProcess start to the first frame drawn, medians of 7\n");
    std::printf("%-40s %10s %10s %7s\n", "", "ours ms", "floor ms", "ratio");
    Row("/device /preview / start + button press", Median(ours), Median(floor));
}

} // namespace

void BenchTools() {
    BenchCopyAndFullScreen(L"RGB24:640x480@30", "RGB24 640x480 30 fps");
    BenchCopyAndFullScreen(L"RGB24:1920x1080@30", "RGB24 1920x1080 30 fps");
    BenchSwitchStart();
}
