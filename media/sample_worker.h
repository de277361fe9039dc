// Work on copies of samples on a thread of its own, so that the streaming thread only copies
// the bytes into a bounded queue and is never held up by the work (decoding a JPEG takes longer
// than a frame at 1080p).
#pragma once

#include "framework/object.h"
#include "framework/sync.h"

#include <windows.h>

#include <deque>
#include <vector>

class CSampleWorker : private CNoCopy {
public:
    class IHandler {
    public:
        // On the worker's thread, one sample at a time; the bytes are the worker's.
        virtual void OnWork(const std::vector<BYTE>& data) noexcept = 0;

    protected:
        ~IHandler() = default;
    };

    // bKeepLatest: a full queue gives its oldest sample up for a new one, so that the work
    // keeps up with the stream by leaving samples out rather than falling behind it.
    explicit CSampleWorker(size_t nMaxQueued, bool bKeepLatest = false)
        : m_nMaxQueued(nMaxQueued), m_bKeepLatest(bKeepLatest) {}
    // Drops what waits and ends the thread.
    ~CSampleWorker();

    // Starts the thread, in the multithreaded apartment; the handler must outlive it. False
    // when it could not start or has already.
    bool Start(IHandler* pHandler);
    bool IsStarted() const { return m_hThread != nullptr; }
    // Queues a copy of the bytes; false when they are lost: no thread, the queue full (unless it
    // keeps the latest), or no memory. Never waits.
    bool Post(const BYTE* pData, size_t nSize) noexcept;
    // Waits up to nMs for nothing to wait and nothing in hand; true when so.
    bool WaitIdle(DWORD nMs);
    // Drops what waits at once (a sample being worked on finishes); how many were dropped.
    size_t Drop();
    // Waits up to nMs for the queue to be worked off, then drops the rest and ends the thread;
    // how many were dropped.
    size_t Finish(DWORD nMs);

private:
    static DWORD WINAPI ThreadProc(void* pParam);
    void WorkQueued();

    const size_t m_nMaxQueued;
    const bool m_bKeepLatest;
    IHandler* m_pHandler = nullptr;
    HANDLE m_hThread = nullptr;
    HANDLE m_hWork = nullptr; // set when there is something to do (auto-reset)
    HANDLE m_hIdle = nullptr; // set while nothing waits and nothing is being worked on
    CCriticalSection m_lock;  // what follows
    std::deque<std::vector<BYTE>> m_queue;
    bool m_bBusy = false;
    bool m_bStop = true; // no thread, or it is ending: nothing more is queued
};
