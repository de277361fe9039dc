// Lookwell.exe started as a process of its own, ended when the object goes.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "support/dialog_test.h"

class LookwellProcess {
public:
    // The executable next to the tests, or another copy of it, with those arguments.
    explicit LookwellProcess(const std::wstring& exeName = L"Lookwell.exe",
                             const std::wstring& args = L"") {
        std::wstring command = L"\"" + ModuleFolder() + exeName + L"\" " + args;
        STARTUPINFOW si{};
        si.cb = sizeof(si);
        m_bStarted = ::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                      nullptr, &si, &m_pi) != FALSE;
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
    LookwellProcess(const LookwellProcess&) = delete;
    LookwellProcess& operator=(const LookwellProcess&) = delete;

    bool Started() const { return m_bStarted; }

    // The process's visible top-level windows.
    std::vector<HWND> Windows() const { return VisibleWindowsOf(m_pi.dwProcessId); }

    HWND WaitForMainWindow() const {
        for (int i = 0; i < 300; ++i) {
            std::vector<HWND> windows = Windows();
            if (!windows.empty()) {
                return windows.front();
            }
            if (::WaitForSingleObject(m_pi.hProcess, 50) != WAIT_TIMEOUT) {
                break;
            }
        }
        return nullptr;
    }

    // The exit code, or STILL_ACTIVE when the process did not end in time.
    DWORD WaitForExit(DWORD milliseconds) const {
        DWORD code = STILL_ACTIVE;
        if (::WaitForSingleObject(m_pi.hProcess, milliseconds) == WAIT_OBJECT_0) {
            ::GetExitCodeProcess(m_pi.hProcess, &code);
        }
        return code;
    }

private:
    PROCESS_INFORMATION m_pi{};
    bool m_bStarted = false;
};
