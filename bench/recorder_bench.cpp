// The recorder's cost: WIC's JPEG encoding of a picture against one frame interval at 30 fps,
// and the process's processor time while a test camera's stream is recorded (MJPG as it comes,
// RGB24 encoded to MJPG) against the same camera and format streaming into a sink that only
// counts, in the same run.
#include "bench/bench_clock.h"
#include "capture/device_catalogue.h"
#include "check/check_sink.h"
#include "media/capture_graph.h"
#include "media/image_encoder.h"
#include "record/record_sink.h"

#include "support/camera.h"

#include <wincodec.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr double kFrameMs = 1000.0 / 30;

LONGLONG ProcessCpuUs() {
    return static_cast<LONGLONG>(ProcessCpuMs() * 1000.0);
}

// Colour bars with a square, as the test camera draws them ("simple"), or every pixel its own
// ("noisy"), the hardest picture for the encoder.
std::vector<BYTE> BenchPicture(UINT nWidth, UINT nHeight, bool bNoisy) {
    std::vector<BYTE> bgr(static_cast<size_t>(nWidth) * 3 * nHeight);
    UINT nSeed = 12345;
    for (UINT y = 0; y < nHeight; ++y) {
        for (UINT x = 0; x < nWidth; ++x) {
            BYTE* p = &bgr[(static_cast<size_t>(y) * nWidth + x) * 3];
            const UINT nBar = x * 8 / nWidth;
            p[0] = (nBar & 1) ? 255 : 0;
            p[1] = (nBar & 4) ? 0 : 255;
            p[2] = (nBar & 2) ? 0 : 255;
            if (x > nWidth / 3 && x < nWidth / 2 && y > nHeight / 3 && y < nHeight / 2) {
                p[0] = p[1] = p[2] = 40;
            }
            if (bNoisy) {
                nSeed = nSeed * 1103515245u + 12345u;
                p[0] = static_cast<BYTE>(nSeed >> 16);
                p[1] = static_cast<BYTE>(nSeed >> 8);
            }
        }
    }
    return bgr;
}

void BenchEncoding() {
    std::printf("WIC JPEG encoding (quality 0.85), ms a picture (medians of 15; processor time: "
                "means), against one frame interval at 30 fps (%.1f ms)\n",
                kFrameMs);
    std::printf("%-12s %10s %8s %10s %10s %8s %10s\n", "size", "simple ms", "ratio", "cpu ms",
                "noisy ms", "ratio", "cpu ms");
    CImageEncoder encoder;
    if (FAILED(encoder.Open())) {
        std::printf("  no imaging factory\n");
        return;
    }
    const UINT sizes[][2] = {{640, 480}, {1280, 720}, {1920, 1080}};
    for (const auto& size : sizes) {
        double dMs[2] = {};
        double dCpuMs[2] = {};
        for (int nNoisy = 0; nNoisy < 2; ++nNoisy) {
            const std::vector<BYTE> bgr = BenchPicture(size[0], size[1], nNoisy != 0);
            std::vector<BYTE> jpeg;
            std::vector<double> times;
            const LONGLONG nCpuStart = ThreadCpuUs();
            for (int i = 0; i < 15; ++i) {
                const double dStart = NowMs();
                encoder.Encode(GUID_ContainerFormatJpeg, bgr.data(), size[0], size[1], size[0] * 3,
                               0.85f, jpeg);
                times.push_back(NowMs() - dStart);
            }
            dMs[nNoisy] = Median(times);
            dCpuMs[nNoisy] = static_cast<double>(ThreadCpuUs() - nCpuStart) / 15000.0;
        }
        std::printf("%4ux%-7u %10.2f %8.2f %10.2f %10.2f %8.2f %10.2f\n", size[0], size[1], dMs[0],
                    dMs[0] / kFrameMs, dCpuMs[0], dMs[1], dMs[1] / kFrameMs, dCpuMs[1]);
    }
}

struct CStreamRun {
    double dCpuMs = -1; // the process's, over the run
    double dSeconds = 0;
    CRecorderStatus status;
};

// The camera's format streamed for nMs into a recorder (bRecord) or the counting-only sink.
CStreamRun StreamRun(const CDeviceChoice& target, bool bRecord, DWORD nMs) {
    CStreamRun run;
    CSinkRef<CRecordSink> recordSink;
    CSinkRef<CCheckSink> countSink;
    HRESULT hr = bRecord ? CRecordSink::Create(recordSink) : CCheckSink::Create(false, countSink);
    if (hr != S_OK) {
        return run;
    }
    CSinkFilter* pSink = bRecord ? recordSink.Filter() : countSink.Filter();
    CCaptureGraph graph;
    std::wstring failure;
    if (!graph.Build(target.strDisplayName, target.formats[0], pSink, pSink->Pin(), failure)) {
        std::printf("  the graph was not built: %ls\n", failure.c_str());
        return run;
    }
    wchar_t szTemp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, szTemp);
    const std::wstring path = std::wstring(szTemp) + L"lookwell-bench-recorder.avi";
    ::DeleteFileW(path.c_str());
    if (bRecord && !recordSink.Consumer().Recorder().Open(
                       path, *graph.MediaType(), graph.FrameTime(), CRecorderOptions(), failure)) {
        std::printf("  the file was not made: %ls\n", failure.c_str());
        return run;
    }
    graph.Run();
    PumpFor(500); // the camera's first frames and the threads' start, outside the window
    const LONGLONG nCpuStart = ProcessCpuUs();
    const double dStart = NowMs();
    PumpFor(nMs);
    run.dCpuMs = static_cast<double>(ProcessCpuUs() - nCpuStart) / 1000.0;
    run.dSeconds = (NowMs() - dStart) / 1000.0;
    if (bRecord) {
        CRecorder& recorder = recordSink.Consumer().Recorder();
        recorder.Stop(5000);
        recorder.GetStatus(run.status);
    }
    graph.Stop(5000);
    ::DeleteFileW(path.c_str());
    return run;
}

void BenchRecorderStreams() {
    std::printf("Recorder: the process's processor time over 5 s, recording against the same "
                "camera into a counting-only sink, in turns (medians of 3)\n");
    // "writer %": the writer thread's own share of a core, the part of "ours" that is the
    // recording's alone whatever the camera's own cost does from run to run.
    std::printf("%-24s %9s %9s %6s %9s %9s %9s %9s %9s %9s\n", "camera format", "ours %", "floor %",
                "ratio", "writer %", "written", "dropped", "queue", "wait us", "MB/s");
    const wchar_t* formats[] = {L"MJPG:1280x720@30", L"RGB24:1280x720@30", L"RGB24:640x480@30",
                                L"RGB24:1920x1080@30"};
    for (const wchar_t* pszFormat : formats) {
        testcam_test::ScopedCamera camera(pszFormat);
        CDeviceChoice target;
        std::wstring error;
        if (!ChooseDevice(true, camera.name(), false, L"", target, error)) {
            std::printf("  %ls\n", error.c_str());
            continue;
        }
        std::vector<double> ours;
        std::vector<double> floor;
        CStreamRun last;
        for (int round = 0; round < 3; ++round) {
            last = StreamRun(target, true, 5000);
            ours.push_back(last.dCpuMs / last.dSeconds / 10.0);
            CStreamRun bare = StreamRun(target, false, 5000);
            floor.push_back(bare.dCpuMs / bare.dSeconds / 10.0);
        }
        const double dMbs = static_cast<double>(last.status.nBytesWritten) / 1e6 /
                            (static_cast<double>(last.status.duration) / 1e7 + 1e-9);
        const double dWriter = static_cast<double>(last.status.nWriterCpuUs) / 10000.0 /
                               (last.dSeconds + 0.5); // the thread ran since the warm-up
        std::printf("%-24ls %9.1f %9.1f %6.2f %9.2f %9llu %9llu %5zu/%-3zu %9lld %9.2f\n",
                    pszFormat, Median(ours), Median(floor), Median(ours) / Median(floor), dWriter,
                    last.status.nFramesWritten, last.status.Dropped(), last.status.nQueueFramesMost,
                    CAviWriterOptions().nQueueFrames, last.status.nLongestSampleUs, dMbs);
    }
}

} // namespace

void BenchRecorder() {
    BenchEncoding();
    BenchRecorderStreams();
}
