// The processor while a webcam previews through libv4l2 and Wine's capture filter: the window's
// preview against a bare graph of the same camera in the same process and run, process times
// and each thread's apart, so that Wine's stream thread is seen apart from our work. It needs
// the user-space webcam preloaded (scripts/v4l2-display).
#include "bench/bench_clock.h"
#include "support/camera.h"
#include "ui/lookwell_dlg.h"

#include <tlhelp32.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace {

const wchar_t kCamera[] = L"Lookwell V4L2 Camera";
const double kWindowMs = 5000.0;

// Kernel and user time of every thread of this process that is there now, by its id.
std::map<DWORD, double> ThreadCpuMs() {
    std::map<DWORD, double> times;
    HANDLE hSnapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (hSnapshot == INVALID_HANDLE_VALUE) {
        return times;
    }
    THREADENTRY32 entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL bMore = ::Thread32First(hSnapshot, &entry); bMore;
         bMore = ::Thread32Next(hSnapshot, &entry)) {
        if (entry.th32OwnerProcessID != ::GetCurrentProcessId()) {
            continue;
        }
        HANDLE hThread = ::OpenThread(THREAD_QUERY_INFORMATION, FALSE, entry.th32ThreadID);
        FILETIME created, exited, kernel, user;
        if (hThread != nullptr && ::GetThreadTimes(hThread, &created, &exited, &kernel, &user)) {
            times[entry.th32ThreadID] = FiletimeMs(kernel) + FiletimeMs(user);
        }
        if (hThread != nullptr) {
            ::CloseHandle(hThread);
        }
    }
    ::CloseHandle(hSnapshot);
    return times;
}

// The webcam's counters over every process of the run: frames delivered and dequeue requests.
struct CCameraCounts {
    uint64_t nFrames = 0;
    uint64_t nDequeues = 0;
};

CCameraCounts CameraCounts() {
    CCameraCounts counts;
    const char* pszPath = std::getenv("LOOKWELL_V4L2_STATUS");
    if (pszPath == nullptr) {
        return counts;
    }
    uint64_t counters[8] = {};
    std::ifstream in((std::string("Z:") + pszPath).c_str(), std::ios::binary);
    in.read(reinterpret_cast<char*>(counters), sizeof(counters));
    if (in) {
        counts.nFrames = counters[6];
        counts.nDequeues = counters[7];
    }
    return counts;
}

// One measuring window over a running picture, in processor ms per second.
struct CShare {
    double nProcess = 0;
    double nBusiest = 0; // the busiest thread: Wine's stream thread
    double nOthers = 0;  // every other thread there before and after
    double nFps = 0;
    double nDequeuesPerSecond = 0;
};

CShare MeasureShare() {
    PumpFor(1000); // past the start
    std::map<DWORD, double> before = ThreadCpuMs();
    CCameraCounts countsBefore = CameraCounts();
    double nCpuBefore = ProcessCpuMs();
    double t0 = NowMs();
    PumpFor(kWindowMs);
    double nSeconds = (NowMs() - t0) / 1000.0;
    CShare share;
    share.nProcess = (ProcessCpuMs() - nCpuBefore) / nSeconds;
    CCameraCounts countsAfter = CameraCounts();
    share.nFps = static_cast<double>(countsAfter.nFrames - countsBefore.nFrames) / nSeconds;
    share.nDequeuesPerSecond =
        static_cast<double>(countsAfter.nDequeues - countsBefore.nDequeues) / nSeconds;
    for (const auto& thread : ThreadCpuMs()) {
        auto it = before.find(thread.first);
        if (it == before.end()) {
            continue;
        }
        double nMs = (thread.second - it->second) / nSeconds;
        share.nOthers += nMs;
        share.nBusiest = std::max(share.nBusiest, nMs);
    }
    share.nOthers -= share.nBusiest;
    return share;
}

// The capture pin rendered by the platform's video renderer into the same frame, nothing more.
CShare MeasureBareGraph(HWND hFrame) {
    CShare share;
    CComRef<IGraphBuilder> pGraph;
    CComRef<ICaptureGraphBuilder2> pBuilder;
    CComRef<IBaseFilter> pFilter;
    CComRef<IMediaControl> pControl;
    CComRef<IVideoWindow> pWindow;
    RECT rc;
    ::GetClientRect(hFrame, &rc);
    if (::CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC, IID_IGraphBuilder,
                           pGraph.Out()) != S_OK ||
        ::CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC,
                           IID_ICaptureGraphBuilder2, pBuilder.Out()) != S_OK ||
        testcam_test::BindFilter(kCamera, &pFilter) != S_OK ||
        pBuilder->SetFiltergraph(pGraph) != S_OK ||
        pGraph->AddFilter(pFilter, L"Video Capture") != S_OK ||
        FAILED(pBuilder->RenderStream(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, pFilter, nullptr,
                                      nullptr)) ||
        pGraph->QueryInterface(IID_IMediaControl, pControl.Out()) != S_OK ||
        pGraph->QueryInterface(IID_IVideoWindow, pWindow.Out()) != S_OK) {
        std::printf("  the bare graph could not be built\n");
        return share;
    }
    pWindow->put_Owner(reinterpret_cast<OAHWND>(hFrame));
    pWindow->put_WindowStyle(WS_CHILD | WS_CLIPCHILDREN);
    pWindow->SetWindowPosition(0, 0, rc.right, rc.bottom);
    pWindow->put_Visible(OATRUE);
    if (SUCCEEDED(pControl->Run())) {
        share = MeasureShare();
    }
    CComRef<IBasicVideo> pVideo;
    long nWidth = 0;
    long nHeight = 0;
    if (pGraph->QueryInterface(IID_IBasicVideo, pVideo.Out()) == S_OK &&
        pVideo->get_SourceWidth(&nWidth) == S_OK && pVideo->get_SourceHeight(&nHeight) == S_OK) {
        std::printf("  bare graph at %ldx%ld\n", nWidth, nHeight);
    }
    pControl->Stop();
    pWindow->put_Visible(OAFALSE);
    pWindow->put_Owner(0);
    return share;
}

void PrintShare(const char* pszWhat, const CShare& share, double nFloor) {
    std::printf("%-22s %9.1f %9.1f %9.1f %7.1f %12.0f %7.3f\n", pszWhat, share.nProcess,
                share.nBusiest, share.nOthers, share.nFps, share.nDequeuesPerSecond,
                nFloor > 0 ? share.nProcess / nFloor : 0.0);
}

} // namespace

void BenchV4l2() {
    CLookwellDlg dlg;
    if (!dlg.Create(IDD_LOOKWELL_DIALOG)) {
        return;
    }
    int nEntry = static_cast<int>(dlg.SendDlgItemMessage(IDC_DEVICE_LIST, CB_FINDSTRINGEXACT,
                                                         static_cast<WPARAM>(-1),
                                                         reinterpret_cast<LPARAM>(kCamera)));
    if (nEntry < 0) {
        std::printf("\nV4L2 webcam: not listed (run under scripts/v4l2-display)\n");
        dlg.SendMessage(WM_CLOSE);
        return;
    }
    dlg.SendDlgItemMessage(IDC_DEVICE_LIST, CB_SETCURSEL, static_cast<WPARAM>(nEntry));
    dlg.SelectDevice(nEntry, 0);
    auto press = [&dlg] {
        dlg.SendMessage(WM_COMMAND, MAKEWPARAM(IDC_PREVIEW_BUTTON, BN_CLICKED),
                        reinterpret_cast<LPARAM>(dlg.GetDlgItem(IDC_PREVIEW_BUTTON)));
    };
    std::printf("\nV4L2 webcam through Wine's filter, first format, processor ms per second "
                "over %.0f s, three turns\n",
                kWindowMs / 1000.0);
    std::printf("%-22s %9s %9s %9s %7s %12s %7s\n", "", "process", "busiest", "others", "fps",
                "dequeues/s", "ratio");
    for (int nTurn = 0; nTurn < 3; ++nTurn) {
        press();
        if (!dlg.IsPreviewing()) {
            std::printf("  the preview did not start\n");
            break;
        }
        CShare ours = MeasureShare();
        press();
        PumpFor(500);
        CShare bare = MeasureBareGraph(dlg.GetDlgItem(IDC_PREVIEW));
        PumpFor(500);
        PrintShare("Lookwell's preview", ours, bare.nProcess);
        PrintShare("bare graph", bare, bare.nProcess);
    }
    dlg.SendMessage(WM_CLOSE);
    PumpFor(50);
}
