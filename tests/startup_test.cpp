// Lookwell.exe itself, started as a process of its own.
#include "res/resource.h"
#include "support/dialog_test.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

class LookwellProcess {
public:
    LookwellProcess() {
        std::wstring command = L"\"" + ModuleFolder() + L"Lookwell.exe\"";
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
    std::vector<HWND> Windows() const {
        struct Search {
            DWORD pid;
            std::vector<HWND> found;
        } search{m_pi.dwProcessId, {}};
        ::EnumWindows(
            [](HWND hWnd, LPARAM lParam) -> BOOL {
                auto* s = reinterpret_cast<Search*>(lParam);
                DWORD pid = 0;
                ::GetWindowThreadProcessId(hWnd, &pid);
                if (pid == s->pid && ::IsWindowVisible(hWnd)) {
                    s->found.push_back(hWnd);
                }
                return TRUE;
            },
            reinterpret_cast<LPARAM>(&search));
        return search.found;
    }

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

std::wstring ClassName(HWND hWnd) {
    wchar_t name[64] = L"";
    ::GetClassNameW(hWnd, name, 64);
    return name;
}

} // namespace

TEST(Startup, ShowsOneMainWindowAndEndsWithItsCloseBox) {
    LookwellProcess lookwell;
    ASSERT_TRUE(lookwell.Started());
    HWND hMain = lookwell.WaitForMainWindow();
    ASSERT_NE(nullptr, hMain);
    EXPECT_EQ(1u, lookwell.Windows().size());
    EXPECT_EQ(L"#32770", ClassName(hMain));
    EXPECT_EQ(L"Lookwell", WindowText(hMain));
    EXPECT_EQ(L"Pre\nview", WindowText(::GetDlgItem(hMain, IDC_PREVIEW_BUTTON)));
    RECT rcFrame = WindowRect(::GetDlgItem(hMain, IDC_PREVIEW));
    EXPECT_EQ(320, Width(rcFrame));
    EXPECT_EQ(240, Height(rcFrame));

    // Laid out before it was centred on the work area.
    RECT rcWork{};
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &rcWork, 0);
    RECT rcMain = WindowRect(hMain);
    EXPECT_NEAR((rcWork.left + rcWork.right) / 2, (rcMain.left + rcMain.right) / 2, 1);
    EXPECT_NEAR((rcWork.top + rcWork.bottom) / 2, (rcMain.top + rcMain.bottom) / 2, 1);

    ::PostMessageW(hMain, WM_CLOSE, 0, 0);
    EXPECT_EQ(0u, lookwell.WaitForExit(10000));
}

TEST(Startup, EscAndOkLeaveItRunningTheSystemMenusCloseEndsIt) {
    LookwellProcess lookwell;
    ASSERT_TRUE(lookwell.Started());
    HWND hMain = lookwell.WaitForMainWindow();
    ASSERT_NE(nullptr, hMain);

    ::PostMessageW(hMain, WM_COMMAND, IDCANCEL, 0);
    ::PostMessageW(hMain, WM_COMMAND, IDOK, 0);
    ::PostMessageW(hMain, WM_KEYDOWN, VK_ESCAPE, 0);
    EXPECT_EQ(STILL_ACTIVE, lookwell.WaitForExit(1000));
    EXPECT_TRUE(::IsWindowVisible(hMain));

    ::PostMessageW(hMain, WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_EQ(0u, lookwell.WaitForExit(10000));
}
