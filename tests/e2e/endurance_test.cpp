// Two hundred starts and stops, each with a moving picture, a grow and a shrink, in one
// Lookwell.exe: what the process holds comes back to what it held after the first cycle.
#include "support/camera.h"
#include "support/e2e_test.h"
#include "support/process_figures.h"

#include <algorithm>
#include <cmath>

using testcam_test::ScopedCamera;

namespace {

constexpr int kCycles = 200;
// Handles beyond what the platform leaves behind, and private bytes: room for the heap's and
// the platform's caches, well under one handle or 1.5 KiB a cycle (measured: 0 handles, and
// about 80 KiB, most of it in the first 50 cycles).
constexpr int kHandleBound = 16;
constexpr SIZE_T kPrivateBound = 256 * 1024;

// Handles, by type, that Wine 8's own classes leave open for what one start asks of them: a
// walk of the video input devices to list them and another to bind the chosen one (a registry
// key for the walk and one for each device met), and a filter graph (an event). Measured here.
std::map<std::wstring, double> PlatformHandlesLeftPerStart() {
    constexpr int kRounds = 20;
    auto round = [] {
        PlatformDeviceNames();
        PlatformDeviceNames();
        IGraphBuilder* pGraph = nullptr;
        if (::CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                               reinterpret_cast<void**>(&pGraph)) == S_OK) {
            pGraph->Release();
        }
    };
    round(); // what the first use loads for good
    CProcessFigures before = MeasureProcess(::GetCurrentProcess(), ::GetCurrentProcessId());
    for (int i = 0; i < kRounds; ++i) {
        round();
    }
    CProcessFigures after = MeasureProcess(::GetCurrentProcess(), ::GetCurrentProcessId());
    std::map<std::wstring, double> perStart;
    for (const auto& [type, nCount] : after.handles) {
        int nGrowth = nCount - before.handles[type];
        if (nGrowth > 0) {
            perStart[type] = static_cast<double>(nGrowth) / kRounds;
        }
    }
    return perStart;
}

class E2eEndurance : public CEndToEndTest {};

} // namespace

TEST_F(E2eEndurance, TwoHundredStartsStopsAndZoomsComeBackToTheFirstFigures) {
    ScopedCamera camera(L"RGB24:320x240@30");
    std::map<std::wstring, double> platformLeft = PlatformHandlesLeftPerStart();
    ASSERT_TRUE(Launch());
    HANDLE hProcess =
        ::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ | PROCESS_DUP_HANDLE, FALSE,
                      Lookwell().ProcessId());
    ASSERT_NE(nullptr, hProcess);
    DWORD dwStart = ::GetTickCount();
    CProcessFigures idle = MeasureProcess(hProcess, Lookwell().ProcessId());
    CProcessFigures first;
    CProcessFigures last;
    int nMaxHandles = 0;
    SIZE_T nMaxPrivate = 0;
    std::string series; // every fiftieth cycle: handles, private KiB
    for (int nCycle = 1; nCycle <= kCycles; ++nCycle) {
        SCOPED_TRACE(nCycle);
        ASSERT_TRUE(Start());
        ASSERT_TRUE(IsLive());
        POINT pt = Centre(Frame());
        DoubleClick(pt);
        ASSERT_TRUE(PumpUntil("the zoom", [&] { return Width(Frame()) == 400; }));
        DoubleClick(pt, true);
        ASSERT_TRUE(PumpUntil("the shrink", [&] { return Width(Frame()) == 300; }));
        ASSERT_TRUE(Stop());

        last = MeasureProcess(hProcess, Lookwell().ProcessId());
        // The first start loads the platform's capture and rendering DLLs.
        if (nCycle == 1) {
            first = last;
        }
        nMaxHandles = std::max(nMaxHandles, last.nHandles);
        nMaxPrivate = std::max(nMaxPrivate, last.nPrivateBytes);
        if (nCycle == 1 || nCycle % 50 == 0) {
            char text[64];
            std::snprintf(text, sizeof(text), " %d: %d, %zu;", nCycle, last.nHandles,
                          last.nPrivateBytes / 1024);
            series += text;
        }
    }
    DWORD dwSeconds = (::GetTickCount() - dwStart) / 1000;
    ::CloseHandle(hProcess);

    std::printf("Endurance, %d cycles in %lu s: handles %d before the first start, first %d, "
                "last %d, max %d; private bytes first %zu, last %zu, max %zu\n",
                kCycles, dwSeconds, idle.nHandles, first.nHandles, last.nHandles, nMaxHandles,
                first.nPrivateBytes, last.nPrivateBytes, nMaxPrivate);
    std::printf("  by cycle (handles, private KiB):%s\n", series.c_str());
    int nBeyondPlatform = 0;
    for (const auto& [type, nCount] : last.handles) {
        int nGrowth = nCount - first.handles[type];
        int nAllowed = static_cast<int>(std::ceil(platformLeft[type] * (kCycles - 1)));
        if (nGrowth != 0 || nAllowed != 0) {
            std::printf("  %ls: %d more, %d of them left by the platform's own classes\n",
                        type.c_str(), nGrowth, nAllowed);
        }
        nBeyondPlatform += std::max(0, nGrowth - nAllowed);
    }
    EXPECT_LE(nBeyondPlatform, kHandleBound);
    EXPECT_LE(last.nPrivateBytes, first.nPrivateBytes + kPrivateBound);
}
