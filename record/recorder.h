// A recording of one live stream: the camera's samples into an AVI file (record/avi_writer.h).
// MJPG is stored as it comes; uncompressed pictures are encoded to MJPG on a worker of the
// recorder's, behind a small bounded queue, so that the camera's thread only copies a picture
// and never waits: when the encoder falls behind, a picture is dropped and counted. With
// bUncompressed they are stored as they come.
#pragma once

#include "framework/object.h"
#include "framework/sync.h"
#include "media/image_encoder.h"
#include "media/pixel_convert.h"
#include "media/sink_filter.h"
#include "record/avi_writer.h"

#include <deque>
#include <memory>
#include <string>
#include <vector>

struct CRecorderOptions {
    bool bUncompressed = false; // store RGB, YUY2 and NV12 as they come, not as MJPG
    float fQuality = 0.85f;     // the JPEG encoder's
    // Pictures waiting for the encoder: more only delays the drop when it cannot keep up.
    size_t nEncodeQueue = 3;
    // Samples from this time on (100 ns from the first) are not recorded; 0: no limit. The
    // file then holds at most the frame slots of that time, rounded to a whole slot.
    LONGLONG nTimeLimit = 0;
    CAviWriterOptions writer;
};

// What the recorder itself counts, beside the writer.
struct CRecorderCounts {
    ULONGLONG nSamples = 0;          // samples the recorder was handed
    ULONGLONG nDroppedEncoder = 0;   // the encoder's queue was full
    ULONGLONG nEncodeFailed = 0;     // pictures that could not be converted or encoded
    LONGLONG nEncoderCpuUs = 0;      // the encoder thread's processor time
    LONGLONG nLastSampleArrival = 0; // QueryPerformanceCounter of the last sample; 0 before one
    bool bLimitReached = false;      // a sample came at or past the time limit
    LONGLONG nLongestSampleUs = 0;   // the longest the camera's thread spent in OnSample
};

struct CRecorderStatus : CAviWriterStatus, CRecorderCounts {

    // Every frame lost on the way, whoever lost it.
    ULONGLONG Dropped() const {
        return nDroppedQueue + nDroppedLate + nRefused + nDroppedEncoder + nEncodeFailed;
    }
};

class CRecorder : private CNoCopy {
public:
    CRecorder();
    // Stops as Stop(5000) does.
    ~CRecorder();

    // Creates the file (never replacing one) for a stream of that media type and starts the
    // writer, and the encoder where the pictures are to be encoded. frameTime is the format's
    // frame interval, a capability's when the media type states none (0: the media type's).
    // False with the reason when the type cannot be recorded or the file cannot be made.
    bool Open(const std::wstring& path, const AM_MEDIA_TYPE& mt, LONGLONG frameTime,
              const CRecorderOptions& options, std::wstring& error);
    // On the camera's thread: one sample, placed by its stream time from the first sample's
    // (by its arrival where the camera stamps none). Copies what it keeps; never waits.
    void OnSample(const CSampleView& sample) noexcept;
    // Encodes and writes what waits, within nDeadlineMs in all, and closes the file.
    void Stop(DWORD nDeadlineMs);
    // Signalled when the writer has ended: after Stop, or on its own (status.end says why).
    HANDLE EndedEvent() const { return m_writer.EndedEvent(); }
    void GetStatus(CRecorderStatus& status) const;
    // Whether pictures go through the encoder.
    bool Encodes() const { return m_bEncode; }

private:
    struct CJob {
        std::vector<BYTE> data;
        LONGLONG time = 0;
    };

    static DWORD WINAPI EncodeThreadProc(void* pParam);
    void EncodeLoop();
    // One picture converted and encoded, then handed to the writer.
    void Encode(CImageEncoder& encoder, const CJob& job);
    // OnSample's work, timed by it.
    void TakeSample(const CSampleView& sample) noexcept;
    // The time of a sample since the recording's first one, in 100 ns.
    LONGLONG SampleTime(const CSampleView& sample);

    CAviWriter m_writer;
    CRecorderOptions m_options;
    bool m_bEncode = false;
    CPixelLayout m_layout;
    LONGLONG m_nQpcFrequency = 1;
    LONGLONG m_frameTime = 0;

    // The camera's thread's own.
    bool m_bFirst = true;
    bool m_bStamped = false;
    REFERENCE_TIME m_tFirst = 0;
    LONGLONG m_nFirstArrival = 0;

    // The encoder thread's own.
    std::vector<BYTE> m_bgr;
    std::vector<BYTE> m_jpeg;

    HANDLE m_hEncoder = nullptr;
    HANDLE m_hWork = nullptr;
    mutable CCriticalSection m_lock; // what follows
    std::deque<std::unique_ptr<CJob>> m_jobs;
    std::vector<std::unique_ptr<CJob>> m_spare; // recycled: the camera's thread rarely allocates
    bool m_bOpen = false;
    bool m_bStopEncoder = false;
    bool m_bAbandon = false;
    CRecorderCounts m_counts;
};
