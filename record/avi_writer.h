// Records a camera's frames to an AVI file of its own (record/avi_file.h) on a thread of its
// own. The camera's thread only copies a frame into a bounded queue and never waits for the
// disk; the writer thread places each frame in the frame slot its time falls in, fills slots
// without a picture with empty chunks so that the file plays at real speed, brings the file's
// header and indexes up to date every second, and ends the recording cleanly, the file cut back
// to its last whole frame, when a write fails or the disk runs low.
#pragma once

#include "framework/object.h"
#include "framework/sync.h"
#include "record/avi_file.h"

#include <windows.h>

#include <dshow.h>

#include <deque>
#include <memory>
#include <string>
#include <vector>

struct CAviWriterOptions {
    // The queue between the camera and the disk: a frame that would pass either bound is
    // dropped and counted.
    size_t nQueueFrames = 64;
    size_t nQueueBytes = 256u << 20;
    // Below this much free space the recording ends, before the disk is full.
    ULONGLONG nFreeSpaceMargin = 64ull << 20;
    // How often the header and indexes are brought up to date: what a crash can lose.
    DWORD nCheckpointMs = 1000;
    // A timed recording's slots: a frame that would be placed at or past the last one (its own
    // slot taken by the frame before it) is left out. 0: no end.
    ULONGLONG nSlotLimit = 0;
    // Tests only: see CAviFile::m_bHolesForPictures.
    bool bHolesForPictures = false;
};

enum class AviEnd {
    None,         // still recording, or never started
    Stopped,      // Stop was called
    WriteFailed,  // a write failed (a full disk, a removed drive): the system's words say why
    LowDiskSpace, // free space fell below the margin
    FileLimit,    // the file's indexes are full
};

// What the UI polls: a copy taken under the writer's lock.
struct CAviWriterStatus {
    ULONGLONG nFramesWritten = 0; // pictures in the file
    ULONGLONG nEmptySlots = 0;    // slots without a picture, written as empty chunks
    ULONGLONG nDroppedQueue = 0;  // the queue had no room, or was let go at a deadline or an end
    ULONGLONG nDroppedLate = 0;   // its slot and the next were taken
    ULONGLONG nRefused = 0;       // empty, smaller than an uncompressed picture, or a day ahead
    ULONGLONG nBytesWritten = 0;  // the file's size as written
    ULONGLONG nSecuredSlots = 0;  // slots a file cut now keeps: those of the last checkpoint
    LONGLONG duration = 0;        // 100 ns: the slots written
    size_t nQueueFrames = 0;
    size_t nQueueBytes = 0;
    size_t nQueueFramesMost = 0; // high-water mark
    LONGLONG nLongestPushUs = 0; // the longest time Push took
    LONGLONG nWriterCpuUs = 0;   // the writer thread's processor time
    bool bRunning = false;       // the writer thread has not ended
    AviEnd end = AviEnd::None;
    std::wstring strEnd; // why it ended, for a notice: "There is not enough space on the disk"
};

// The calling thread's processor time so far, in microseconds.
LONGLONG ThreadCpuUs();

class CAviWriter : private CNoCopy {
public:
    CAviWriter();
    // Stops as Stop(5000) does.
    ~CAviWriter();

    // Creates the file (never replacing one: the caller chooses a free name) and starts the
    // writer. frameTime is the format's frame interval in 100 ns (a capability's when the media
    // type states none; 0 takes the media type's). False, with the reason, when the path names
    // a device, the format cannot be recorded, the disk is below the margin, or the file cannot
    // be made.
    bool Open(const std::wstring& path, const AM_MEDIA_TYPE& mt, LONGLONG frameTime,
              const CAviWriterOptions& options, std::wstring& error);
    // On the camera's thread: copies the frame into the queue and returns; time is the frame's
    // time since the recording's start, in 100 ns. False when it was dropped, refused, or the
    // recording has ended.
    bool Push(const BYTE* pData, size_t nSize, LONGLONG time);
    // Writes what is queued, within nDeadlineMs (what is left then is dropped and counted),
    // finishes the file and closes it. Returns once it is closed.
    void Stop(DWORD nDeadlineMs);
    // Signalled when the writer thread has ended: after Stop, or when the recording ended by
    // itself (status.end says why). Valid while the writer exists.
    HANDLE EndedEvent() const { return m_hEnded; }
    void GetStatus(CAviWriterStatus& status) const;

private:
    struct CFrame {
        std::vector<BYTE> chunk; // 8 bytes for the chunk's header, the picture, a pad byte
        DWORD nSize = 0;
        ULONGLONG nSlot = 0;
    };

    static DWORD WINAPI ThreadProc(void* pParam);
    void WriteLoop();
    // Writes the frame in its slot, empty slots before it. ERROR_SUCCESS or why not.
    DWORD WriteFrame(CFrame& frame);
    // Finishes the file and records why the recording ended.
    void End(AviEnd end, const std::wstring& text);
    // True, with a text, when the disk has less free space than the margin.
    bool DiskLow(std::wstring& text) const;

    std::unique_ptr<CAviFile> m_pFile;
    CAviVideoFormat m_format;
    CAviWriterOptions m_options;
    std::wstring m_strFolder;
    HANDLE m_hThread = nullptr;
    HANDLE m_hWork = nullptr;
    HANDLE m_hEnded = nullptr;
    LONGLONG m_qpcFrequency = 1;

    mutable CCriticalSection m_lock;
    // Under m_lock:
    std::deque<std::unique_ptr<CFrame>> m_queue;
    std::vector<std::unique_ptr<CFrame>> m_spare; // recycled, so pushing rarely allocates
    ULONGLONG m_nNextSlot = 0;                    // the first slot no frame was given
    bool m_bStopping = false;
    bool m_bAbandon = false; // past the deadline: the queue is dropped
    bool m_bEnded = true;
    CAviWriterStatus m_status;
};
