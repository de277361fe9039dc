// The AVI writer's cost: its throughput (frames pushed as fast as it takes them, header and
// indexes brought up to date every second) against a plain sequential WriteFile of the same
// bytes into the same folder, its thread's processor time per frame, and the camera thread's
// longest wait in Push.
#include "bench/bench_clock.h"
#include "record/avi_writer.h"

#include "support/video_type.h"

#include <uuids.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

std::wstring BenchPath(const wchar_t* pszName) {
    wchar_t szTemp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, szTemp);
    std::wstring path = std::wstring(szTemp) + pszName;
    ::DeleteFileW(path.c_str());
    return path;
}

// The floor: the frames' bytes in one sequential stream, flushed once at the end; its thread's
// processor time in *pnCpuUs. The frames come from as many buffers in turn as the writer's queue
// holds, so that both read their bytes from memory alike, not from a cache.
double PlainWriteMs(const std::vector<std::vector<BYTE>>& frames, int nFrames, LONGLONG* pnCpuUs) {
    const LONGLONG nCpuStart = ThreadCpuUs();
    const std::wstring path = BenchPath(L"lookwell-bench-floor.bin");
    double dStart = NowMs();
    HANDLE hFile = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hFile == INVALID_HANDLE_VALUE) {
        return -1;
    }
    for (int i = 0; i < nFrames; ++i) {
        const std::vector<BYTE>& frame = frames[static_cast<size_t>(i) % frames.size()];
        DWORD nWritten = 0;
        ::WriteFile(hFile, frame.data(), static_cast<DWORD>(frame.size()), &nWritten, nullptr);
    }
    ::FlushFileBuffers(hFile);
    ::CloseHandle(hFile);
    double dMs = NowMs() - dStart;
    *pnCpuUs = ThreadCpuUs() - nCpuStart;
    ::DeleteFileW(path.c_str());
    return dMs;
}

struct CWriterRun {
    double dMs = -1;
    CAviWriterStatus status;
};

CWriterRun WriterRun(const GUID& subtype, LONG nWidth, LONG nHeight, WORD nBits,
                     const std::vector<BYTE>& frame, int nFrames, DWORD nCheckpointMs) {
    CWriterRun run;
    CVideoType type(subtype, nWidth, nHeight, nBits, 333333);
    type.vih.bmiHeader.biSizeImage = static_cast<DWORD>(frame.size());
    const AM_MEDIA_TYPE& mt = type.mt;
    const std::wstring path = BenchPath(L"lookwell-bench.avi");
    CAviWriterOptions options;
    options.nCheckpointMs = nCheckpointMs;
    CAviWriter writer;
    std::wstring error;
    double dStart = NowMs();
    if (!writer.Open(path, mt, 0, options, error)) {
        std::printf("  the file could not be made: %ls\n", error.c_str());
        return run;
    }
    for (int i = 0; i < nFrames; ++i) {
        // As fast as the writer takes them: a frame waits for room rather than being dropped.
        for (;;) {
            writer.GetStatus(run.status);
            if (run.status.nQueueFrames + 1 < options.nQueueFrames &&
                run.status.nQueueBytes + frame.size() < options.nQueueBytes) {
                break;
            }
            ::Sleep(1);
        }
        writer.Push(frame.data(), frame.size(), i * 333333ll + 1000);
    }
    writer.Stop(60000);
    run.dMs = NowMs() - dStart;
    writer.GetStatus(run.status);
    ::DeleteFileW(path.c_str());
    return run;
}

} // namespace

void BenchRecord() {
    struct {
        const char* pszName;
        GUID subtype;
        LONG nWidth;
        LONG nHeight;
        WORD nBits;
        size_t nFrameBytes;
        int nFrames;
    } cases[] = {
        {"MJPG 1280x720, 60 KB frames", MEDIASUBTYPE_MJPG, 1280, 720, 24, 60000, 3000},
        {"RGB24 640x480", MEDIASUBTYPE_RGB24, 640, 480, 24, 640 * 480 * 3, 300},
        {"RGB24 1280x720", MEDIASUBTYPE_RGB24, 1280, 720, 24, 1280 * 720 * 3, 120},
        {"RGB24 1920x1080", MEDIASUBTYPE_RGB24, 1920, 1080, 24, 1920 * 1080 * 3, 50},
    };
    std::printf("AVI writer: frames pushed as fast as it takes them, against a plain sequential "
                "WriteFile of the same bytes (medians of 3)\n");
    std::printf("%-28s %9s %9s %9s %6s %6s %9s %9s %9s %6s %8s %6s\n", "case", "need MB/s",
                "ours MB/s", "no ckpt", "floor", "ratio", "cpu us/fr", "no ckpt", "floor", "ratio",
                "push us", "queue");
    for (const auto& c : cases) {
        std::vector<BYTE> frame(c.nFrameBytes);
        for (size_t i = 0; i < frame.size(); ++i) {
            frame[i] = static_cast<BYTE>(i * 13 + i / 1000);
        }
        const CAviWriterOptions defaults;
        const size_t nBuffers =
            std::min(defaults.nQueueFrames, defaults.nQueueBytes / frame.size());
        const std::vector<std::vector<BYTE>> buffers(nBuffers, frame);
        // Alternating, so that the disk's and the machine's drift fall on all alike. "no ckpt":
        // the writer with its header brought up to date only at the end, what the per-second
        // checkpoints (two flushes each) cost.
        std::vector<double> ours;
        std::vector<double> plain;
        std::vector<double> floor;
        std::vector<double> oursCpu;
        std::vector<double> plainCpu;
        std::vector<double> floorCpu;
        CWriterRun last;
        for (int round = 0; round < 3; ++round) {
            last = WriterRun(c.subtype, c.nWidth, c.nHeight, c.nBits, frame, c.nFrames, 1000);
            ours.push_back(last.dMs);
            oursCpu.push_back(static_cast<double>(last.status.nWriterCpuUs));
            CWriterRun once =
                WriterRun(c.subtype, c.nWidth, c.nHeight, c.nBits, frame, c.nFrames, 3600000);
            plain.push_back(once.dMs);
            plainCpu.push_back(static_cast<double>(once.status.nWriterCpuUs));
            LONGLONG nCpu = 0;
            floor.push_back(PlainWriteMs(buffers, c.nFrames, &nCpu));
            floorCpu.push_back(static_cast<double>(nCpu));
        }
        const double dMb = static_cast<double>(c.nFrameBytes) * c.nFrames / 1e6;
        auto rate = [dMb](const std::vector<double>& ms) { return dMb * 1000 / Median(ms); };
        auto perFrame = [&c](const std::vector<double>& us) { return Median(us) / c.nFrames; };
        std::printf("%-28s %9.1f %9.1f %9.1f %9.1f %6.2f %9.1f %9.1f %9.1f %6.2f %8lld %3zu/%zu\n",
                    c.pszName, static_cast<double>(c.nFrameBytes) * 30 / 1e6, rate(ours),
                    rate(plain), rate(floor), rate(floor) / rate(ours), perFrame(oursCpu),
                    perFrame(plainCpu), perFrame(floorCpu), perFrame(oursCpu) / perFrame(floorCpu),
                    last.status.nLongestPushUs, last.status.nQueueFramesMost,
                    CAviWriterOptions().nQueueFrames);
    }
}
