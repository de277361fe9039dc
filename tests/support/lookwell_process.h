// Lookwell.exe started as a process of its own, ended when the object goes.
#pragma once

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "framework/object.h"
#include "support/camera.h"
#include "support/dialog_test.h"

// CreateProcessW, tried up to three times: under Wine on a loaded machine a start now and then
// fails at once, which is the platform's hiccup and not the program's. Each failure is printed.
inline bool StartProcess(std::wstring commandLine, DWORD dwFlags, STARTUPINFOW& si,
                         PROCESS_INFORMATION& pi, DWORD& dwError, BOOL bInheritHandles = FALSE) {
    for (int nTry = 1; nTry <= 3; ++nTry) {
        if (::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, bInheritHandles,
                             dwFlags, nullptr, nullptr, &si, &pi)) {
            dwError = 0;
            return true;
        }
        dwError = ::GetLastError();
        std::fprintf(stderr, "starting %ls failed (try %d), error %lu\n", commandLine.c_str(), nTry,
                     dwError);
        ::Sleep(200);
    }
    return false;
}

class LookwellProcess : private CNoCopy {
public:
    // The executable next to the tests, or another copy of it, with arguments if any.
    // With DETACHED_PROCESS it has no console, as when started from a shortcut.
    explicit LookwellProcess(const std::wstring& exeName = L"Lookwell.exe",
                             const std::wstring& arguments = L"", DWORD dwFlags = 0) {
        std::wstring command = L"\"" + ModuleFolder() + exeName + L"\"";
        if (!arguments.empty()) {
            command += L" " + arguments;
        }
        STARTUPINFOW si{};
        si.cb = sizeof(si);
        DWORD dwError = 0;
        m_bStarted = StartProcess(command, dwFlags, si, m_pi, dwError);
    }
    ~LookwellProcess() {
        if (m_bStarted) {
            if (::WaitForSingleObject(m_pi.hProcess, 0) == WAIT_TIMEOUT) {
                ::TerminateProcess(m_pi.hProcess, 99);
                ::WaitForSingleObject(m_pi.hProcess, 5000);
            }
            ::CloseHandle(m_pi.hThread);
            ::CloseHandle(m_pi.hProcess);
        }
    }

    bool Started() const { return m_bStarted; }

    // The process's visible top-level windows.
    std::vector<HWND> Windows() const { return VisibleWindowsOf(m_pi.dwProcessId); }

    // Null when none is shown in time or the process ended first.
    HWND WaitForMainWindow() const {
        HWND hMain = nullptr;
        testcam_test::PumpMessagesUntil(
            [&] {
                std::vector<HWND> windows = Windows();
                hMain = windows.empty() ? nullptr : windows.front();
                return hMain != nullptr || ::WaitForSingleObject(m_pi.hProcess, 0) != WAIT_TIMEOUT;
            },
            testcam_test::kPatienceMs);
        return hMain;
    }

    // The exit code, or STILL_ACTIVE when the process did not end in time.
    DWORD WaitForExit(DWORD milliseconds) const {
        DWORD code = STILL_ACTIVE;
        if (::WaitForSingleObject(m_pi.hProcess, milliseconds) == WAIT_OBJECT_0) {
            ::GetExitCodeProcess(m_pi.hProcess, &code);
        }
        return code;
    }

    // Ends the process at once, as a crash does; true once it has ended.
    bool Kill() const {
        return ::TerminateProcess(m_pi.hProcess, 99) &&
               ::WaitForSingleObject(m_pi.hProcess, 10000) == WAIT_OBJECT_0;
    }

private:
    PROCESS_INFORMATION m_pi{};
    bool m_bStarted = false;
};
