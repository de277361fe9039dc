// Stopping a preview graph off the window's thread. A camera's driver may not return from its
// Stop while the camera delivers nothing (Wine's capture filter waits for its read without limit;
// on Windows a hung driver does the same), and the window must keep answering meanwhile: the
// graph's Stop and the release of its interfaces run on a thread of their own, and the window
// waits a bounded time for them, answering the messages sent to it.
//
// The window's thread and the stopping thread are both in the process's multithreaded
// apartment, where the graph was made, so the interfaces are used there as COM allows: none of
// the graph's objects is free-threaded (measured under Wine 8: the filter graph, the capture
// graph builder, the smart tee, the video renderer, Wine's capture filter and the test camera
// answer QueryInterface(IID_IMarshal) with E_NOINTERFACE; the platform's documentation calls
// none of them free-threaded either).
#pragma once

#include "framework/object.h"
#include "framework/str.h"

#include <windows.h>

#include <dshow.h>

#include <memory>
#include <vector>

class CGraphStopper : private CNoCopy {
public:
    // Stops that have not finished are left to their threads, and to the process's end.
    ~CGraphStopper();

    // Takes over the references: stops the graph through pControl, then releases pInterfaces in
    // their order (null ones are skipped; pControl is among them). Waits up to nWaitMs for that,
    // answering the messages sent to this thread. True when it was done in time; otherwise the
    // device counts as stopping until the driver returns and the graph is released.
    bool Stop(IMediaControl* pControl, const std::vector<IUnknown*>& interfaces,
              const wchar_t* pszDevice, DWORD nWaitMs);
    // A graph of that device (a moniker's display name) still waits for its driver's Stop.
    bool IsStopping(const wchar_t* pszDevice);

private:
    struct CJob;
    static DWORD WINAPI ThreadProc(void* pParam);
    static void Run(CJob& job);
    // Forgets the stops that have finished.
    void Prune();

    std::vector<std::shared_ptr<CJob>> m_jobs;
};
