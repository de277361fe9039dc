#include "support/e2e_test.h"

#include "support/lookwell_process.h"

#include <dshow.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

std::vector<std::wstring> PlatformDeviceNames() {
    std::vector<std::wstring> names;
    testcam_test::ForEachDevice([&](IMoniker*, IPropertyBag* bag) {
        std::wstring name = testcam_test::ReadBag(bag, L"FriendlyName");
        if (!name.empty()) {
            names.push_back(name);
        }
        return true;
    });
    return names;
}

std::wstring VersionText(const std::wstring& exePath, const wchar_t* pszKey) {
    DWORD nSize = ::GetFileVersionInfoSizeW(exePath.c_str(), nullptr);
    std::vector<BYTE> data(nSize);
    void* pText = nullptr;
    UINT nLength = 0;
    std::wstring path = std::wstring(L"\\StringFileInfo\\040904b0\\") + pszKey;
    if (nSize == 0 || !::GetFileVersionInfoW(exePath.c_str(), 0, nSize, data.data()) ||
        !::VerQueryValueW(data.data(), path.c_str(), &pText, &nLength) || nLength == 0) {
        return L"";
    }
    return static_cast<const wchar_t*>(pText);
}

std::string ReadAll(const std::wstring& path) {
    std::ifstream in(path.c_str(), std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

DWORD RunWithOutput(const std::wstring& args, HANDLE hOut, HANDLE hErr, DWORD nTimeoutMs) {
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = hOut;
    si.hStdError = hErr;
    std::wstring commandLine = L"\"" + ModuleFolder() + L"Lookwell.exe\" " + args;
    PROCESS_INFORMATION pi{};
    DWORD dwError = 0;
    DWORD nExit = STILL_ACTIVE;
    if (StartProcess(commandLine, 0, si, pi, dwError, TRUE)) {
        // A run that does not end is ended, so that its files can be read and removed.
        if (::WaitForSingleObject(pi.hProcess, nTimeoutMs) == WAIT_TIMEOUT) {
            ::TerminateProcess(pi.hProcess, 99);
            ::WaitForSingleObject(pi.hProcess, 5000);
        }
        ::GetExitCodeProcess(pi.hProcess, &nExit);
        ::CloseHandle(pi.hThread);
        ::CloseHandle(pi.hProcess);
    }
    return nExit;
}

CBackgroundRun::CBackgroundRun(const std::wstring& args) {
    // Files of this run's own, made so: test programs in other prefixes run beside this one in
    // the same folder, and Wine's process ids repeat across prefixes.
    wchar_t szOut[MAX_PATH] = L"";
    wchar_t szErr[MAX_PATH] = L"";
    ::GetTempFileNameW(ModuleFolder().c_str(), L"out", 0, szOut);
    ::GetTempFileNameW(ModuleFolder().c_str(), L"err", 0, szErr);
    m_outPath = szOut;
    m_errPath = szErr;
    SECURITY_ATTRIBUTES sa{sizeof(sa), nullptr, TRUE};
    HANDLE hOut = ::CreateFileW(m_outPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &sa,
                                CREATE_ALWAYS, 0, nullptr);
    HANDLE hErr = ::CreateFileW(m_errPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &sa,
                                CREATE_ALWAYS, 0, nullptr);
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = hOut;
    si.hStdError = hErr;
    DWORD dwError = 0;
    if (!StartProcess(L"\"" + ModuleFolder() + L"Lookwell.exe\" " + args, 0, si, m_pi, dwError,
                      TRUE)) {
        m_pi = PROCESS_INFORMATION{};
    }
    ::CloseHandle(hOut);
    ::CloseHandle(hErr);
}

CBackgroundRun::~CBackgroundRun() {
    Finish(0);
    ::DeleteFileW(m_outPath.c_str());
    ::DeleteFileW(m_errPath.c_str());
}

CRunResult CBackgroundRun::Finish(DWORD nMs) {
    if (m_bFinished) {
        return m_result;
    }
    m_bFinished = true;
    if (m_pi.hProcess != nullptr) {
        // A run that does not end is ended, so that its files can be read and removed.
        if (::WaitForSingleObject(m_pi.hProcess, nMs) == WAIT_TIMEOUT) {
            ::TerminateProcess(m_pi.hProcess, 99);
            ::WaitForSingleObject(m_pi.hProcess, 5000);
        }
        ::GetExitCodeProcess(m_pi.hProcess, &m_result.nExit);
        ::CloseHandle(m_pi.hThread);
        ::CloseHandle(m_pi.hProcess);
    }
    m_result.out = ReadAll(m_outPath);
    m_result.err = ReadAll(m_errPath);
    return m_result;
}

std::string CBackgroundRun::ErrorSoFar() const {
    return ReadAll(m_errPath);
}

CRunResult RunRedirected(const std::wstring& args, DWORD nTimeoutMs) {
    return CBackgroundRun(args).Finish(nTimeoutMs);
}

std::string Narrow(const std::wstring& text) {
    return std::string(text.begin(), text.end());
}

void CEndToEndTest::PressKeys(std::initializer_list<WORD> keys, HWND hTo) {
    // The platform queues keys for the foreground window's thread: pressed while the program's
    // window is not yet, or no longer, active (just shown, a sheet just gone), they are lost.
    ::testing::AssertionResult ready = PumpUntil("the window to take the keys in front", [&] {
        HWND hFront = ::GetForegroundWindow();
        DWORD dwProcessId = 0;
        ::GetWindowThreadProcessId(hFront, &dwProcessId);
        return hTo != nullptr ? hFront == hTo
                              : hFront != nullptr && dwProcessId == Lookwell().ProcessId() &&
                                    ::IsWindowEnabled(hFront);
    });
    if (!ready) {
        ADD_FAILURE() << ready.message() << "; the foreground window is "
                      << ::GetForegroundWindow();
        return;
    }
    std::vector<INPUT> inputs;
    for (WORD vk : keys) {
        INPUT in{};
        in.type = INPUT_KEYBOARD;
        in.ki.wVk = vk;
        inputs.push_back(in);
    }
    for (auto it = keys.end(); it != keys.begin();) {
        INPUT in{};
        in.type = INPUT_KEYBOARD;
        in.ki.wVk = *--it;
        in.ki.dwFlags = KEYEVENTF_KEYUP;
        inputs.push_back(in);
    }
    for (INPUT& in : inputs) {
        ::SendInput(1, &in, sizeof(INPUT));
    }
}

CScreenShot ClipboardFrame() {
    CScreenShot shot;
    if (!::OpenClipboard(nullptr)) {
        return shot;
    }
    if (HANDLE hData = ::GetClipboardData(CF_DIB); hData != nullptr) {
        if (const auto* pDib = static_cast<const BYTE*>(::GlobalLock(hData)); pDib != nullptr) {
            shot = CScreenShot::OfDib(pDib, ::GlobalSize(hData));
            ::GlobalUnlock(hData);
        }
    }
    ::CloseClipboard();
    return shot;
}

::testing::AssertionResult ClipboardChanges(DWORD nSequence) {
    return PumpUntil("something new on the clipboard", [&] {
        if (::GetClipboardSequenceNumber() == nSequence || !::OpenClipboard(nullptr)) {
            return false;
        }
        ::CloseClipboard();
        return true;
    });
}

void CEndToEndTest::TearDown() {
    if (HasFailure()) {
        m_shots.emplace_back("screen", CScreenShot::OfScreen());
        const ::testing::TestInfo* pInfo = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = std::string(pInfo->test_suite_name()) + "." + pInfo->name();
        std::wstring folder = ModuleFolder() + L"e2e-screenshots\\";
        ::CreateDirectoryW(folder.c_str(), nullptr);
        int nShot = 0;
        for (const auto& [label, shot] : m_shots) {
            char file[200];
            std::snprintf(file, sizeof(file), "%s-%02d-%s.bmp", name.c_str(), ++nShot,
                          label.c_str());
            shot.Save(folder + std::wstring(file, file + std::strlen(file)));
        }
        std::printf("Screenshots of this failure: e2e-screenshots/%s-*.bmp in the build folder\n",
                    name.c_str());
    }
    m_pLookwell.reset();
}

::testing::AssertionResult CEndToEndTest::Launch(const std::wstring& exeName,
                                                 const std::wstring& args) {
    // The last run ends first: two at once would fight over the foreground and the keys.
    m_pLookwell.reset();
    m_pLookwell = std::make_unique<CLookwellSession>(exeName, args);
    if (m_pLookwell->StartError() != 0) {
        return ::testing::AssertionFailure()
               << "the process did not start, error " << m_pLookwell->StartError();
    }
    if (!m_pLookwell->WaitForWindow()) {
        DWORD dwExit = m_pLookwell->WaitForExit(0);
        return ::testing::AssertionFailure()
               << "no ready main window in " << kPatienceMs << " ms"
               << (dwExit != STILL_ACTIVE ? ", the process ended with " + std::to_string(dwExit)
                                          : std::string());
    }
    return ::testing::AssertionSuccess();
}

RECT CEndToEndTest::Frame() const {
    return WindowRect(Item(IDC_PREVIEW));
}

bool CEndToEndTest::HasCaption(const wchar_t* pszCaption) const {
    return WindowText(Item(IDC_PREVIEW_BUTTON)) == pszCaption;
}

::testing::AssertionResult CEndToEndTest::Start() {
    return Press([this] { return HasCaption(L"Stop"); });
}

::testing::AssertionResult CEndToEndTest::Stop() {
    return Press([this] { return HasCaption(L"Pre\nview"); });
}

::testing::AssertionResult CEndToEndTest::Settled() const {
    DWORD_PTR nResult = 0;
    if (::SendMessageTimeoutW(Main(), WM_NULL, 0, 0, SMTO_NORMAL, kPatienceMs, &nResult) != 0) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure()
           << "the window did not answer within " << kPatienceMs << " ms";
}

CScreenShot CEndToEndTest::Shoot(const char* pszLabel) {
    CScreenShot shot = CScreenShot::Of(Frame());
    // A wait that shoots again and again keeps its last shot only, and a long run its last
    // steps: they tell what went wrong.
    if (!m_shots.empty() && m_shots.back().first == pszLabel) {
        m_shots.back().second = shot;
    } else {
        m_shots.emplace_back(pszLabel, shot);
    }
    if (m_shots.size() > 16) {
        m_shots.pop_front();
    }
    return shot;
}

::testing::AssertionResult CEndToEndTest::IsLive() {
    // The camera's own picture, not a repaint of the frame around it, must move.
    CScreenShot first;
    if (!testcam_test::PumpMessagesUntil(
            [&] { return MisplacedBars(first = Shoot("live-first")).empty(); }, kPatienceMs)) {
        return ::testing::AssertionFailure() << "no picture: " << MisplacedBars(first);
    }
    bool bMoved = testcam_test::PumpMessagesUntil(
        [&] {
            CScreenShot next = Shoot("live-next");
            return next != first && MisplacedBars(next).empty();
        },
        kPatienceMs);
    if (bMoved) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "the picture stood still for " << kPatienceMs << " ms";
}

::testing::AssertionResult CEndToEndTest::IsFrozen() {
    // Still for nine frame times at 30 a second, in which a live picture would have moved; and
    // still the camera's picture rather than an empty frame.
    CScreenShot last;
    bool bStill = testcam_test::PumpMessagesUntil(
        [&] {
            last = Shoot("frozen-first");
            return MisplacedBars(last).empty() &&
                   HoldsFor(300, "", [&] { return Shoot("frozen-next") == last; });
        },
        kPatienceMs);
    if (!bStill) {
        return ::testing::AssertionFailure() << "the picture went on moving";
    }
    return HoldsFor(400, "the picture stays still", [&] { return Shoot("frozen-later") == last; });
}

::testing::AssertionResult CEndToEndTest::IsEmptyFrame() {
    // Windows paints a static black rectangle in the window-frame colour, Wine 8 in the 3-D
    // dark shadow colour (106, 106, 106).
    std::vector<DWORD> colours;
    for (int nIndex : {COLOR_WINDOWFRAME, COLOR_3DDKSHADOW}) {
        COLORREF c = ::GetSysColor(nIndex);
        colours.push_back(static_cast<DWORD>(GetRValue(c)) << 16 |
                          static_cast<DWORD>(GetGValue(c)) << 8 | GetBValue(c));
    }
    // Painted a moment after the window was shown or the picture went.
    CScreenShot shot;
    if (testcam_test::PumpMessagesUntil(
            [&] {
                shot = Shoot("empty");
                return shot.IsUniform() &&
                       std::find(colours.begin(), colours.end(), shot.At(0, 0)) != colours.end();
            },
            kPatienceMs)) {
        return ::testing::AssertionSuccess();
    }
    char text[80];
    std::snprintf(text, sizeof(text), "the frame is not empty: %06lX at its top left%s",
                  shot.At(0, 0), shot.IsUniform() ? "" : ", other colours elsewhere");
    return ::testing::AssertionFailure() << text;
}

::testing::AssertionResult CEndToEndTest::ShowsBars() {
    // The renderer paints a new size with its next frame.
    std::string misplaced;
    if (testcam_test::PumpMessagesUntil(
            [&] { return (misplaced = MisplacedBars(Shoot("bars"))).empty(); }, kPatienceMs)) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << misplaced;
}

void CEndToEndTest::PassTheDoubleClickTime() {
    testcam_test::PumpMessagesFor(::GetDoubleClickTime() + 100);
}
