#include "support/lookwell_session.h"

#include "res/resource.h"
#include "support/camera.h"
#include "support/dialog_test.h"
#include "support/lookwell_process.h"

#include <algorithm>
#include <cstdio>
#include <cwctype>

namespace {

bool EndsWithNoCase(const std::wstring& text, const std::wstring& tail) {
    if (text.size() < tail.size()) {
        return false;
    }
    return std::equal(tail.rbegin(), tail.rend(), text.rbegin(),
                      [](wchar_t a, wchar_t b) { return std::towlower(a) == std::towlower(b); });
}

// The camera DLL's extent in memory, from the copy this process loaded of the same file.
ULONG_PTR CameraImageSize() {
    auto* pBase = reinterpret_cast<const BYTE*>(testcam_test::CameraModule());
    if (pBase == nullptr) {
        return 0;
    }
    auto* pDos = reinterpret_cast<const IMAGE_DOS_HEADER*>(pBase);
    auto* pNt = reinterpret_cast<const IMAGE_NT_HEADERS*>(pBase + pDos->e_lfanew);
    return pNt->OptionalHeader.SizeOfImage;
}

// At a person's pace: a press that follows the move at once, or a release that follows the
// press at once, is now and then lost by Wine while the window is still settling after it was
// shown (the button sees no click). Each press and release also carries its point: the pointer
// the program's X11 side still reports from before the move can otherwise put it elsewhere on a
// loaded machine (a click on the button then never reached it).
void SendMouse(POINT pt, bool bRight, int nClicks) {
    ::SetCursorPos(pt.x, pt.y);
    ::Sleep(50);
    const DWORD down = bRight ? MOUSEEVENTF_RIGHTDOWN : MOUSEEVENTF_LEFTDOWN;
    const DWORD up = bRight ? MOUSEEVENTF_RIGHTUP : MOUSEEVENTF_LEFTUP;
    const LONG cx = ::GetSystemMetrics(SM_CXSCREEN);
    const LONG cy = ::GetSystemMetrics(SM_CYSCREEN);
    for (int i = 0; i < 2 * nClicks; ++i) {
        INPUT input{};
        input.type = INPUT_MOUSE;
        // Normalised to 0..65535, to the middle of the pixel.
        input.mi.dx = (pt.x * 65536 + 32768) / cx;
        input.mi.dy = (pt.y * 65536 + 32768) / cy;
        input.mi.dwFlags = (i % 2 == 0 ? down : up) | MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
        ::SendInput(1, &input, sizeof(INPUT));
        ::Sleep(30); // four events well inside the double-click time
    }
}

} // namespace

CLookwellSession::CLookwellSession(const std::wstring& exeName, const std::wstring& args) {
    m_hStarted = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    // A debugger must wait for its events on the thread that started the process.
    m_watcher = std::thread(&CLookwellSession::Watch, this,
                            L"\"" + ModuleFolder() + exeName + L"\" " + args);
    ::WaitForSingleObject(m_hStarted, INFINITE);
}

CLookwellSession::~CLookwellSession() {
    if (m_hProcess != nullptr && WaitForExit(0) == STILL_ACTIVE) {
        if (m_hMain != nullptr) {
            ::PostMessageW(m_hMain, WM_CLOSE, 0, 0);
        }
        if (WaitForExit() == STILL_ACTIVE) {
            ::TerminateProcess(m_hProcess, 99);
        }
    }
    m_watcher.join(); // it ends with the process
    if (m_hProcess != nullptr) {
        ::CloseHandle(m_hProcess);
    }
    ::CloseHandle(m_hStarted);
}

void CLookwellSession::Watch(std::wstring commandLine) {
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi{};
    if (!StartProcess(commandLine, DEBUG_ONLY_THIS_PROCESS, si, pi, m_dwStartError)) {
        ::SetEvent(m_hStarted);
        return;
    }
    ::CloseHandle(pi.hThread);
    m_hProcess = pi.hProcess;
    m_dwProcessId = pi.dwProcessId;
    ::SetEvent(m_hStarted);
    for (;;) {
        DEBUG_EVENT event{};
        if (!::WaitForDebugEvent(&event, INFINITE)) {
            std::fprintf(stderr, "waiting for the program's debug events failed, error %lu\n",
                         ::GetLastError());
            return;
        }
        DWORD dwContinue = DBG_CONTINUE;
        OnEvent(event, dwContinue);
        ::ContinueDebugEvent(event.dwProcessId, event.dwThreadId, dwContinue);
        // Only our process's end ends the watch: a watcher gone early closes its debug object,
        // and Wine then kills the program it debugs (STATUS_DEBUGGER_INACTIVE).
        if (event.dwDebugEventCode == EXIT_PROCESS_DEBUG_EVENT &&
            event.dwProcessId == pi.dwProcessId) {
            return;
        }
    }
}

void CLookwellSession::OnEvent(const DEBUG_EVENT& event, DWORD& dwContinue) {
    std::lock_guard<std::mutex> guard(m_lock);
    // Wine, under load: a start that failed (error 1359) may still have made a process on this
    // thread's debug object. Its events come here too, and count for nothing.
    const bool bOurs = event.dwProcessId == m_dwProcessId;
    switch (event.dwDebugEventCode) {
    case CREATE_PROCESS_DEBUG_EVENT:
        if (event.u.CreateProcessInfo.hFile != nullptr) {
            ::CloseHandle(event.u.CreateProcessInfo.hFile);
        }
        break;
    case LOAD_DLL_DEBUG_EVENT:
        if (event.u.LoadDll.hFile != nullptr) {
            wchar_t path[MAX_PATH] = L"";
            ::GetFinalPathNameByHandleW(event.u.LoadDll.hFile, path, MAX_PATH, 0);
            if (bOurs && EndsWithNoCase(path, L"\\lookwell_testcam.dll")) {
                m_nCameraBase = reinterpret_cast<ULONG_PTR>(event.u.LoadDll.lpBaseOfDll);
                m_nCameraEnd = m_nCameraBase + CameraImageSize();
                m_bCameraLoaded = true;
            }
            ::CloseHandle(event.u.LoadDll.hFile);
        }
        break;
    case UNLOAD_DLL_DEBUG_EVENT:
        if (bOurs && reinterpret_cast<ULONG_PTR>(event.u.UnloadDll.lpBaseOfDll) == m_nCameraBase) {
            m_bCameraLoaded = false;
        }
        break;
    case CREATE_THREAD_DEBUG_EVENT: {
        auto nStart = reinterpret_cast<ULONG_PTR>(event.u.CreateThread.lpStartAddress);
        if (bOurs && nStart >= m_nCameraBase && nStart < m_nCameraEnd) {
            m_cameraThreads.push_back(event.dwThreadId);
            ++m_threads.nStarted;
        }
        break;
    }
    case EXIT_THREAD_DEBUG_EVENT: {
        auto it = std::find(m_cameraThreads.begin(), m_cameraThreads.end(), event.dwThreadId);
        if (it != m_cameraThreads.end()) {
            m_cameraThreads.erase(it);
            ++m_threads.nEnded;
        }
        break;
    }
    case EXCEPTION_DEBUG_EVENT: {
        const EXCEPTION_RECORD& record = event.u.Exception.ExceptionRecord;
        // The loader's breakpoint belongs to the debugger; everything else to the program.
        if (record.ExceptionCode != EXCEPTION_BREAKPOINT) {
            dwContinue = DBG_EXCEPTION_NOT_HANDLED;
        }
        if (bOurs && !event.u.Exception.dwFirstChance) {
            char text[64];
            std::snprintf(text, sizeof(text), "%08lX at %p", record.ExceptionCode,
                          record.ExceptionAddress);
            m_unhandled.push_back(text);
        }
        break;
    }
    case EXIT_PROCESS_DEBUG_EVENT:
        if (!bOurs) {
            break;
        }
        m_threads.nRunningAtExit = static_cast<int>(m_cameraThreads.size());
        m_threads.bLoadedAtExit = m_bCameraLoaded;
        break;
    default:
        break;
    }
}

bool CLookwellSession::WaitForWindow() {
    if (m_hProcess == nullptr) {
        return false;
    }
    return testcam_test::PumpMessagesUntil(
        [this] {
            for (HWND hWnd : Windows()) {
                wchar_t className[16] = L"";
                ::GetClassNameW(hWnd, className, 16);
                // Switches may have changed the title by now; it still starts with the name.
                if (std::wstring(className) == L"#32770" &&
                    WindowText(hWnd).rfind(L"Lookwell", 0) == 0) {
                    m_hMain = hWnd;
                }
            }
            // Shown only after its initialisation, which either enables the button or
            // reports why it cannot.
            return m_hMain != nullptr && (::IsWindowEnabled(Item(IDC_PREVIEW_BUTTON)) ||
                                          ::IsWindowVisible(Item(IDC_MESSAGE)));
        },
        kPatienceMs);
}

std::vector<HWND> CLookwellSession::Windows() const {
    return VisibleWindowsOf(m_dwProcessId);
}

DWORD CLookwellSession::WaitForExit(DWORD milliseconds) {
    DWORD dwCode = STILL_ACTIVE;
    if (m_hProcess != nullptr && ::WaitForSingleObject(m_hProcess, milliseconds) == WAIT_OBJECT_0) {
        ::GetExitCodeProcess(m_hProcess, &dwCode);
        // The process object signals before its debugger has seen the last event.
        testcam_test::PumpMessagesUntil([this] { return CameraThreads().nRunningAtExit >= 0; },
                                        kPatienceMs);
    }
    return dwCode;
}

CLookwellSession::CCameraThreads CLookwellSession::CameraThreads() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_threads;
}

std::vector<std::string> CLookwellSession::UnhandledExceptions() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_unhandled;
}

void Click(POINT pt, bool bRight) {
    SendMouse(pt, bRight, 1);
}

void MoveMouse(POINT pt) {
    INPUT input{};
    input.type = INPUT_MOUSE;
    input.mi.dx = (pt.x * 65536 + 32768) / ::GetSystemMetrics(SM_CXSCREEN);
    input.mi.dy = (pt.y * 65536 + 32768) / ::GetSystemMetrics(SM_CYSCREEN);
    input.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    ::SendInput(1, &input, sizeof(INPUT));
}

void DoubleClick(POINT pt, bool bRight) {
    SendMouse(pt, bRight, 2);
}

POINT Centre(const RECT& rc) {
    return POINT{(rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2};
}

void SelectEntry(HWND hCombo, int nEntry) {
    ::SendMessageW(hCombo, CB_SETCURSEL, static_cast<WPARAM>(nEntry), 0);
    ::SendMessageW(::GetParent(hCombo), WM_COMMAND,
                   MAKEWPARAM(::GetDlgCtrlID(hCombo), CBN_SELCHANGE),
                   reinterpret_cast<LPARAM>(hCombo));
}

int Selection(HWND hCombo) {
    return static_cast<int>(::SendMessageW(hCombo, CB_GETCURSEL, 0, 0));
}
