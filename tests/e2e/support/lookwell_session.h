// Lookwell.exe, or a copy of it, started and driven from outside as a person drives it, and
// watched as a debugger watches a program: the threads the test camera's DLL starts and ends,
// exceptions nobody handled, and the end of the process.
#pragma once

#include "framework/object.h"
#include "support/wait.h"

#include <windows.h>

#include <mutex>
#include <string>
#include <thread>
#include <vector>

class CLookwellSession : private CNoCopy {
public:
    // Starts the executable of that name next to the tests, with those arguments.
    explicit CLookwellSession(const std::wstring& exeName = L"Lookwell.exe",
                              const std::wstring& args = L"");
    // Closes the window as a user does, and kills the process only when that fails.
    ~CLookwellSession();

    // Waits until the main window is shown and its initialisation has chosen a device or
    // reported a failure; false when that does not happen in time.
    bool WaitForWindow();
    HWND Main() const { return m_hMain; }
    HWND Item(int nId) const { return ::GetDlgItem(m_hMain, nId); }
    // The process's visible top-level windows.
    std::vector<HWND> Windows() const;
    DWORD ProcessId() const { return m_dwProcessId; }
    // Why the process could not be started; 0 when it was.
    DWORD StartError() const { return m_dwStartError; }

    // The exit code, or STILL_ACTIVE when the process did not end in time.
    DWORD WaitForExit(DWORD milliseconds = testcam_test::kPatienceMs);

    // Threads whose start address lies in the camera's DLL: the streaming threads.
    struct CCameraThreads {
        int nStarted = 0;
        int nEnded = 0;
        // Still running when the process reported its end; -1 while it has not.
        int nRunningAtExit = -1;
        // Whether the DLL was still loaded then: COM lets go of it only once every object of
        // it is released. In Wine the threads that the end of a process kills still report
        // their ends.
        bool bLoadedAtExit = false;
    };
    CCameraThreads CameraThreads() const;
    // Exceptions that the process did not handle (second chance), as "code at address".
    std::vector<std::string> UnhandledExceptions() const;

private:
    void Watch(std::wstring commandLine);
    void OnEvent(const DEBUG_EVENT& event, DWORD& dwContinue);

    std::thread m_watcher;
    HANDLE m_hStarted = nullptr;
    HANDLE m_hProcess = nullptr;
    DWORD m_dwProcessId = 0;
    DWORD m_dwStartError = 0;
    HWND m_hMain = nullptr;

    mutable std::mutex m_lock;
    ULONG_PTR m_nCameraBase = 0;
    ULONG_PTR m_nCameraEnd = 0;
    bool m_bCameraLoaded = false;
    std::vector<DWORD> m_cameraThreads; // running ones
    CCameraThreads m_threads;
    std::vector<std::string> m_unhandled;
};

// Waiting, here for another process: see support/wait.h.
using testcam_test::HoldsFor;
using testcam_test::kPatienceMs;
using testcam_test::PumpUntil;

// Real mouse input through the window system: the pointer moves there and the button goes
// down and up once, or twice for a double click, which the system itself recognises.
void Click(POINT pt, bool bRight = false);
// The pointer moved there, without a button.
void MoveMouse(POINT pt);
void DoubleClick(POINT pt, bool bRight = false);
POINT Centre(const RECT& rc);

// Selects a combo box entry as the control does when a user picks it: the selection, then the
// notification to its parent.
void SelectEntry(HWND hCombo, int nEntry);
int Selection(HWND hCombo);
