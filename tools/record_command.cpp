#include "tools/record_command.h"

#include "capture/device_catalogue.h"
#include "framework/console.h"
#include "framework/files.h"
#include "media/capture_graph.h"
#include "record/record_sink.h"

#include <atomic>
#include <cwchar>

namespace {

constexpr DWORD kFirstFrameMs = 5000;
// A camera that sends nothing for this long (or three frame intervals, if longer) has stopped.
constexpr DWORD kSilenceMs = 3000;
constexpr DWORD kProgressMs = 250;
constexpr DWORD kStopRecorderMs = 5000;
constexpr DWORD kStopCameraMs = 3000;

// Set from the console's own thread, which the platform starts for a control event.
std::atomic<HANDLE> g_hInterrupt{nullptr};

BOOL WINAPI OnConsoleControl(DWORD nType) {
    if (nType == CTRL_C_EVENT || nType == CTRL_BREAK_EVENT || nType == CTRL_CLOSE_EVENT) {
        if (HANDLE hInterrupt = g_hInterrupt.load()) {
            ::SetEvent(hInterrupt);
        }
        return TRUE;
    }
    return FALSE;
}

std::wstring ProgressText(const CRecorderStatus& status) {
    return RecordTimeText(status.duration) + L"  " + std::to_wstring(status.nFramesWritten) +
           L" frames written, " + std::to_wstring(status.Dropped()) + L" dropped, " +
           RecordSizeText(status.nBytesWritten);
}

// The camera's stream as it stands: empty while it runs, else why it stopped.
std::wstring CameraTrouble(CCaptureGraph& graph, CRecordSink& sink, const CRecorderStatus& status,
                           LONGLONG nSilenceTicks) {
    CStreamEvents events = graph.Events();
    if (events.bRemoved) {
        return L"the camera was removed";
    }
    if (events.bFailed) {
        return L"the camera stopped with an error";
    }
    if (sink.Ended()) {
        return L"the camera ended its stream";
    }
    LARGE_INTEGER now;
    ::QueryPerformanceCounter(&now);
    if (status.nLastSampleArrival != 0 &&
        now.QuadPart - status.nLastSampleArrival > nSilenceTicks) {
        return L"the camera sent no frame for " + std::to_wstring(kSilenceMs / 1000) + L" s";
    }
    return L"";
}

// Records into an open recorder until the time is up, Ctrl+C, or the stream or the file ends.
// The exit code, with the last line.
int Record(CCaptureGraph& graph, CRecordSink& sink, DWORD nSeconds, const std::wstring& path,
           std::wstring& line) {
    CRecorder& recorder = sink.Recorder();
    LARGE_INTEGER frequency;
    ::QueryPerformanceFrequency(&frequency);
    const LONGLONG nFrameMs = graph.FrameTime() / 10000;
    const LONGLONG nSilenceTicks =
        frequency.QuadPart * (nFrameMs * 3 > kSilenceMs ? nFrameMs * 3 : kSilenceMs) / 1000;
    const ULONGLONG nRunAt = ::GetTickCount64();
    ULONGLONG nFirstAt = 0;
    ULONGLONG nShownAt = 0;
    std::wstring early;
    bool bInterrupted = false;
    CRecorderStatus status;
    // Without an event for Ctrl+C (none could be made) only the recording's end is awaited.
    HANDLE waits[] = {recorder.EndedEvent(), g_hInterrupt.load()};
    const DWORD nWaits = waits[1] != nullptr ? 2 : 1;
    for (;;) {
        DWORD nWait = ::WaitForMultipleObjects(nWaits, waits, FALSE, 50);
        const ULONGLONG nNow = ::GetTickCount64();
        recorder.GetStatus(status);
        if (nFirstAt == 0 && status.nSamples > 0) {
            nFirstAt = nNow;
        }
        if (nWait == WAIT_OBJECT_0 + 1) {
            bInterrupted = true;
            break;
        }
        if (nWait == WAIT_OBJECT_0) {
            early = RecordEndText(status);
            break;
        }
        if (nFirstAt == 0 && nNow - nRunAt >= kFirstFrameMs) {
            early = L"-";
            break;
        }
        // The recorder ends at the time by the camera's stamps; the clock only where the
        // stamps run far slow.
        if (status.bLimitReached ||
            (nFirstAt != 0 && nSeconds != 0 && nNow - nFirstAt >= nSeconds * 1000ull + 2000)) {
            break;
        }
        if (nFirstAt != 0) {
            early = CameraTrouble(graph, sink, status, nSilenceTicks);
            if (!early.empty()) {
                break;
            }
        }
        if (nNow - nShownAt >= kProgressMs) {
            nShownAt = nNow;
            AfxWriteStd(STD_ERROR_HANDLE, L"\rRecording " + ProgressText(status) + L"   ");
        }
    }
    recorder.Stop(kStopRecorderMs);
    recorder.GetStatus(status);
    if (early.empty()) {
        early = RecordEndText(status); // a write that failed at the end
    }
    const bool bStuck = !graph.Stop(kStopCameraMs);
    if (nFirstAt != 0 || status.nSamples > 0) {
        AfxWriteStd(STD_ERROR_HANDLE, L"\rRecording " + ProgressText(status) + L"   \n");
    }
    const std::wstring what = std::to_wstring(status.nFramesWritten) + L" frames, " +
                              std::to_wstring(status.Dropped()) + L" dropped, " +
                              RecordSizeText(status.nBytesWritten);
    const std::wstring stuck = bStuck ? L" The camera did not stop." : L"";
    if (early == L"-") {
        // Nothing came: the empty file is ours, and goes.
        ::DeleteFileW(path.c_str());
        line = L"No frame came from the camera within 5 s; nothing was recorded." + stuck;
        return 2;
    }
    if (!early.empty()) {
        line = L"The recording stopped after " + RecordTimeText(status.duration) + L": " + early +
               L". " + AfxQuoted(path) + L" holds " + what + L"." + stuck;
        return 1;
    }
    line = std::wstring(bInterrupted ? L"Stopped by Ctrl+C after " : L"Recorded ") +
           RecordTimeText(status.duration) + L" to " + AfxQuoted(path) + L": " + what + L"." +
           stuck;
    return 0;
}

} // namespace

std::wstring RecordSizeText(ULONGLONG nBytes) {
    wchar_t szText[32];
    ::swprintf(szText, 32, L"%.1f MB", static_cast<double>(nBytes) / 1e6);
    return szText;
}

std::wstring RecordEndText(const CRecorderStatus& status) {
    switch (status.end) {
    case AviEnd::WriteFailed:
        return L"writing failed: " + status.strEnd;
    case AviEnd::LowDiskSpace:
    case AviEnd::FileLimit:
        return status.strEnd;
    case AviEnd::None:
    case AviEnd::Stopped:
        break;
    }
    return L"";
}

std::wstring RecordTimeText(LONGLONG duration) {
    // Rounded: two seconds of slots at 30 fps end 33 ms short of 2 s.
    const LONGLONG nSeconds = duration < 0 ? 0 : (duration + 5000000) / 10000000;
    wchar_t szText[32];
    if (nSeconds >= 3600) {
        ::swprintf(szText, 32, L"%lld:%02lld:%02lld", nSeconds / 3600, nSeconds / 60 % 60,
                   nSeconds % 60);
    } else {
        ::swprintf(szText, 32, L"%lld:%02lld", nSeconds / 60, nSeconds % 60);
    }
    return szText;
}

int RunRecordSwitch(const CCommandLine& options) {
    auto fail = [](const std::wstring& text) {
        AfxWriteStd(STD_ERROR_HANDLE, text + L"\n");
        return 2;
    };
    if (options.bCheck) {
        return fail(L"/record and /check cannot be used together.");
    }
    DWORD nSeconds = 0;
    if (options.bSeconds) {
        int n = ParsePosition(options.strSeconds);
        if (n < 1 || static_cast<DWORD>(n) > kMostRecordSeconds) {
            return fail(L"/seconds: takes a whole number from 1 to " +
                        std::to_wstring(kMostRecordSeconds) + L", not " +
                        AfxQuoted(options.strSeconds) + L".");
        }
        nSeconds = static_cast<DWORD>(n);
    }
    const std::wstring& path = options.strRecord;
    if (path.empty()) {
        return fail(L"/record: needs a file name.");
    }
    if (AfxIsDeviceName(path)) {
        return fail(AfxQuoted(path) + L" names a device, not a file.");
    }
    if (::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) {
        return fail(AfxQuoted(path) + L" exists; a recording never replaces a file.");
    }
    HRESULT hrCom = ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (FAILED(hrCom)) {
        return fail(L"COM did not start.");
    }
    int nExit = 2;
    std::wstring line;
    bool bStuck = false;
    {
        CDeviceChoice target;
        CSinkRef<CRecordSink> sink;
        CCaptureGraph graph;
        std::wstring failure;
        if (!ChooseDevice(options.bDevice, options.strDevice, options.bFormat, options.strFormat,
                          target, line)) {
            // line says what is missing
        } else if (CRecordSink::Create(sink) != S_OK) {
            line = L"Out of memory.";
        } else if (!graph.Build(target.strDisplayName, target.formats[0], sink.Filter(), sink.Pin(),
                                failure)) {
            line =
                L"Nothing was recorded from " + AfxQuoted(target.strName) + L": " + failure + L".";
        } else {
            CRecorderOptions recordOptions;
            recordOptions.bUncompressed = options.bUncompressed;
            recordOptions.nTimeLimit = static_cast<LONGLONG>(nSeconds) * 10000000;
            CRecorder& recorder = sink.Consumer().Recorder();
            if (!recorder.Open(path, *graph.MediaType(), graph.FrameTime(), recordOptions,
                               failure)) {
                line = L"The file " + AfxQuoted(path) + L" could not be made: " + failure + L".";
            } else {
                AfxAttachParentConsole();
                g_hInterrupt = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
                ::SetConsoleCtrlHandler(OnConsoleControl, TRUE);
                if (FAILED(graph.Run())) {
                    recorder.Stop(0);
                    ::DeleteFileW(path.c_str());
                    line = L"Nothing was recorded from " + AfxQuoted(target.strName) +
                           L": the graph did not run.";
                } else {
                    nExit = Record(graph, sink.Consumer(), nSeconds, path, line);
                }
                bStuck = !graph.Stop(kStopCameraMs);
                ::SetConsoleCtrlHandler(OnConsoleControl, FALSE);
                ::CloseHandle(g_hInterrupt.exchange(nullptr));
            }
        }
        if (bStuck) {
            // The camera holds the graph: what it holds is left to the process's end.
            AfxWriteStd(STD_ERROR_HANDLE, line + L"\n");
            ::ExitProcess(static_cast<UINT>(nExit));
        }
    }
    AfxWriteStd(STD_ERROR_HANDLE, line + L"\n");
    ::CoUninitialize();
    return nExit;
}
