// Bookkeeping shared by the DLL's objects: the module handle, the live object count that
// DllCanUnloadNow answers from, and the streaming figures the tests read.
#pragma once

#include "testcam/stats.h"

#include <windows.h>

namespace testcam {

extern HMODULE g_module;

// {5BEF085D-938A-4CB9-9978-D140C7E147E9}
extern const CLSID CLSID_LookwellTestCamera;

void ObjectCreated();
void ObjectDestroyed();
void LockModule(bool lock);
bool ModuleInUse();

void ThreadStarted();
void ThreadEnded();
void ReceiveStarted();
void ReceiveEnded(LONGLONG renderTime);
void GetStats(TestCamStats* stats);

// A recursive lock without exceptions.
class CritSec {
public:
    CritSec() { InitializeCriticalSection(&cs_); }
    ~CritSec() { DeleteCriticalSection(&cs_); }
    CritSec(const CritSec&) = delete;
    CritSec& operator=(const CritSec&) = delete;
    void Enter() { EnterCriticalSection(&cs_); }
    void Leave() { LeaveCriticalSection(&cs_); }

private:
    CRITICAL_SECTION cs_;
};

class AutoLock {
public:
    explicit AutoLock(CritSec& cs) : cs_(cs) { cs_.Enter(); }
    ~AutoLock() { cs_.Leave(); }
    AutoLock(const AutoLock&) = delete;
    AutoLock& operator=(const AutoLock&) = delete;

private:
    CritSec& cs_;
};

} // namespace testcam
