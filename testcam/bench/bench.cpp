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

struct Figures {
    double fps = 0;
    double drawMs = 0; // the camera's own time to paint (and encode) a frame
    double cpuMs = 0;  // the whole process per frame
};

// Camera -> null renderer over the capture pin, run for `seconds` after a warm-up; with
// `adjusted`, brightness and contrast away from their defaults.
HRESULT Measure(const Case& c, double seconds, bool adjusted, Figures& out) {
    ScopedCamera camera(c.format);
    if (FAILED(camera.result())) {
        return camera.result();
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
    if (SUCCEEDED(hr) && adjusted) {
        IAMVideoProcAmp* amp = nullptr;
        hr = g.camera->QueryInterface(IID_IAMVideoProcAmp, reinterpret_cast<void**>(&amp));
        if (SUCCEEDED(hr)) {
            hr = amp->Set(VideoProcAmp_Brightness, 30, VideoProcAmp_Flags_Manual);
        }
        if (SUCCEEDED(hr)) {
            hr = amp->Set(VideoProcAmp_Contrast, 150, VideoProcAmp_Flags_Manual);
        }
        if (amp) {
            amp->Release();
        }
    }
    if (SUCCEEDED(hr)) {
        hr = g.control->Run();
    }
    if (FAILED(hr)) {
        return hr;
    }
    PumpMessagesFor(1000);
    TestCamStats before = Stats();
    LONGLONG cpuBefore = ProcessCpu();
    double start = Seconds();
    PumpMessagesFor(static_cast<DWORD>(seconds * 1000));
    TestCamStats after = Stats();
    LONGLONG cpuAfter = ProcessCpu();
    double elapsed = Seconds() - start;
    g.control->Stop();
    double frames = static_cast<double>(after.delivered - before.delivered);
    if (frames <= 0) {
        return E_FAIL;
    }
    out.fps = frames / elapsed;
    out.drawMs = static_cast<double>(after.renderTime - before.renderTime) / frames / 1e4;
    out.cpuMs = static_cast<double>(cpuAfter - cpuBefore) / frames / 1e4;
    return S_OK;
}

bool Report(HRESULT hr, const wchar_t* format) {
    if (FAILED(hr)) {
        printf("%-22ls failed: 0x%08lx\n", format, static_cast<unsigned long>(hr));
    }
    return SUCCEEDED(hr);
}

bool BenchFormats(double seconds) {
    const Case cases[] = {
        {L"RGB24:320x240@15", 15},  {L"RGB24:320x240@30", 30},   {L"RGB24:320x240@60", 60},
        {L"RGB24:640x480@30", 30},  {L"YUY2:640x480@30", 30},    {L"RGB32:640x480@30", 30},
        {L"NV12:640x480@30", 30},   {L"MJPG:640x480@30", 30},    {L"RGB24:1920x1080@30", 30},
        {L"YUY2:1920x1080@30", 30}, {L"RGB32:1920x1080@30", 30}, {L"NV12:1920x1080@30", 30},
        {L"MJPG:1920x1080@30", 30},
    };
    printf("%-22s %9s %9s %9s %12s %12s\n", "format", "set fps", "got fps", "of set", "draw ms/fr",
           "cpu ms/fr");
    bool ok = true;
    for (const Case& c : cases) {
        Figures f;
        HRESULT hr = Measure(c, seconds, false, f);
        if (Report(hr, c.format)) {
            printf("%-22ls %9.2f %9.2f %8.1f%% %12.3f %12.3f\n", c.format, c.rate, f.fps,
                   100.0 * f.fps / c.rate, f.drawMs, f.cpuMs);
        }
        ok = SUCCEEDED(hr) && ok;
    }
    printf("draw: the camera's own time to paint a frame (and encode it, for MJPG); cpu: the "
           "whole process per frame\n\n");
    return ok;
}

// The floor of an MJPG frame is the same picture uncompressed: the rest is WIC's encoder.
bool BenchJpeg(double seconds) {
    const Case jpeg[][2] = {{{L"RGB24:640x480@30", 30}, {L"MJPG:640x480@30", 30}},
                            {{L"RGB24:1920x1080@30", 30}, {L"MJPG:1920x1080@30", 30}}};
    printf("%-22s %14s %14s %14s %9s\n", "MJPG encoding", "RGB24 draw ms", "MJPG draw ms",
           "encode ms/fr", "ratio");
    bool ok = true;
    for (const auto& pair : jpeg) {
        Figures floor, coded;
        HRESULT hr = Measure(pair[0], seconds, false, floor);
        if (SUCCEEDED(hr)) {
            hr = Measure(pair[1], seconds, false, coded);
        }
        if (Report(hr, pair[1].format)) {
            printf("%-22ls %14.3f %14.3f %14.3f %9.2f\n", pair[1].format, floor.drawMs,
                   coded.drawMs, coded.drawMs - floor.drawMs, coded.drawMs / floor.drawMs);
        }
        ok = SUCCEEDED(hr) && ok;
    }
    printf("\n");
    return ok;
}

// Picture controls cost nothing per frame: they are drawn into the still picture once.
bool BenchLooks(double seconds) {
    const Case looks[] = {{L"RGB24:640x480@30", 30},
                          {L"RGB24:1920x1080@30", 30},
                          {L"YUY2:1920x1080@30", 30},
                          {L"MJPG:640x480@30", 30}};
    printf("%-26s %12s %12s %9s %12s %12s %9s\n", "brightness 30 contrast 150", "default cpu",
           "adjusted cpu", "ratio", "default draw", "adjusted draw", "ratio");
    bool ok = true;
    for (const Case& c : looks) {
        Figures plain, adjusted;
        HRESULT hr = Measure(c, seconds, false, plain);
        if (SUCCEEDED(hr)) {
            hr = Measure(c, seconds, true, adjusted);
        }
        if (Report(hr, c.format)) {
            printf("%-26ls %12.3f %12.3f %9.2f %12.3f %12.3f %9.2f\n", c.format, plain.cpuMs,
                   adjusted.cpuMs, adjusted.cpuMs / plain.cpuMs, plain.drawMs, adjusted.drawMs,
                   adjusted.drawMs / plain.drawMs);
        }
        ok = SUCCEEDED(hr) && ok;
    }
    printf("cpu and draw in ms a frame\n");
    return ok;
}

} // namespace

// testcam_bench [seconds a case] [formats|mjpg|looks]: all three tables, or the one named.
int wmain(int argc, wchar_t** argv) {
    double seconds = argc > 1 ? _wtof(argv[1]) : 5.0;
    if (seconds <= 0) {
        seconds = 5.0;
    }
    auto wanted = [argc, argv](const wchar_t* table) {
        return argc < 3 || _wcsicmp(argv[2], table) == 0;
    };
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
        return 1;
    }
    bool ok = true;
    ok = (!wanted(L"formats") || BenchFormats(seconds)) && ok;
    ok = (!wanted(L"mjpg") || BenchJpeg(seconds)) && ok;
    ok = (!wanted(L"looks") || BenchLooks(seconds)) && ok;
    CoUninitialize();
    return ok ? 0 : 1;
}
