// How close the camera keeps to its frame rate and what a frame costs. Prints a table; the
// test suite does not run it (figures, not verdicts).
#include "support/camera.h"

#include <uuids.h>

#include <cstdio>

using namespace testcam_test;

namespace {

double Seconds() {
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

struct Case {
    const wchar_t* format;
    double rate;
};

// Camera -> null renderer over the capture pin, run for `seconds` after a warm-up.
bool Measure(const Case& c, double seconds) {
    ScopedCamera camera(c.format);
    if (FAILED(camera.result())) {
        return false;
    }
    CameraGraph g;
    HRESULT hr = g.Open(camera.name());
    if (SUCCEEDED(hr)) {
        hr = g.AddNullRenderer();
    }
    if (SUCCEEDED(hr)) {
        hr = g.builder->RenderStream(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, g.camera, nullptr,
                                     g.sink);
    }
    if (SUCCEEDED(hr)) {
        hr = g.control->Run();
    }
    if (SUCCEEDED(hr)) {
        Pump(1000);
        TestCamStats before = Stats();
        LONGLONG cpuBefore = ProcessCpu();
        double start = Seconds();
        Pump(static_cast<DWORD>(seconds * 1000));
        TestCamStats after = Stats();
        LONGLONG cpuAfter = ProcessCpu();
        double elapsed = Seconds() - start;
        g.control->Stop();
        double frames = static_cast<double>(after.delivered - before.delivered);
        if (frames > 0) {
            printf("%-22ls %9.2f %9.2f %8.1f%% %12.3f %12.3f\n", c.format, c.rate, frames / elapsed,
                   100.0 * frames / elapsed / c.rate,
                   static_cast<double>(after.renderTime - before.renderTime) / frames / 1e4,
                   static_cast<double>(cpuAfter - cpuBefore) / frames / 1e4);
        }
    }
    if (FAILED(hr)) {
        printf("%-22ls failed: 0x%08lx\n", c.format, static_cast<unsigned long>(hr));
    }
    return SUCCEEDED(hr);
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    double seconds = argc > 1 ? _wtof(argv[1]) : 5.0;
    if (seconds <= 0) {
        seconds = 5.0;
    }
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
        return 1;
    }
    const Case cases[] = {
        {L"RGB24:320x240@15", 15},   {L"RGB24:320x240@30", 30},  {L"RGB24:320x240@60", 60},
        {L"RGB24:640x480@30", 30},   {L"YUY2:640x480@30", 30},   {L"RGB32:640x480@30", 30},
        {L"RGB24:1920x1080@30", 30}, {L"YUY2:1920x1080@30", 30}, {L"RGB32:1920x1080@30", 30},
    };
    printf("%-22s %9s %9s %9s %12s %12s\n", "format", "set fps", "got fps", "of set", "draw ms/fr",
           "cpu ms/fr");
    bool ok = true;
    for (const Case& c : cases) {
        ok = Measure(c, seconds) && ok;
    }
    printf("draw: the camera's own time to paint a frame; cpu: the whole process per frame\n");
    CoUninitialize();
    return ok ? 0 : 1;
}
