// The command line: /list and /? answer on standard output without a window, and the switches
// that choose a device, a format, the preview and full screen, also when they name nothing.
#include "support/camera.h"
#include "support/e2e_test.h"

#include <cwctype>

using testcam_test::ScopedCamera;

namespace {

std::wstring Lower(std::wstring text) {
    for (wchar_t& ch : text) {
        ch = static_cast<wchar_t>(std::towlower(ch));
    }
    return text;
}

std::wstring Replace(std::wstring text, const std::wstring& from, const std::wstring& to) {
    for (size_t at; (at = text.find(from)) != std::wstring::npos;) {
        text.replace(at, from.size(), to);
    }
    return text;
}

std::wstring SelectedText(HWND hCombo) {
    std::vector<std::wstring> texts = ComboTexts(hCombo);
    int nSelection = Selection(hCombo);
    return nSelection >= 0 && static_cast<size_t>(nSelection) < texts.size()
               ? texts[static_cast<size_t>(nSelection)]
               : L"";
}

class E2eCommandLine : public CEndToEndTest {};

} // namespace

TEST_F(E2eCommandLine, ListAndHelpAnswerOnStandardOutputWithoutAWindow) {
    std::string windowLists;
    {
        ScopedCamera first(L"RGB24:320x240@30,RGB32:640x480@15");
        ScopedCamera second(L"RGB24:160x120@30,YUY2:320x240@30");
        // The lists as the window shows them, device by device.
        ASSERT_TRUE(Launch());
        HWND hDevices = Item(IDC_DEVICE_LIST);
        for (size_t i = 0; i < ComboTexts(hDevices).size(); ++i) {
            SelectEntry(hDevices, static_cast<int>(i));
            windowLists += Narrow(ComboTexts(hDevices)[i]) + "\r\n";
            for (const std::wstring& entry : ComboTexts(Item(IDC_FORMAT_LIST))) {
                windowLists += "    " + Narrow(entry) + "\r\n";
            }
        }
        for (const wchar_t* pszArgs : {L"/list", L"/LiSt ignored words /preview"}) {
            SCOPED_TRACE(Narrow(pszArgs));
            CRunResult run = RunRedirected(pszArgs);
            EXPECT_EQ(0u, run.nExit);
            EXPECT_EQ(windowLists, run.out);
            EXPECT_EQ("", run.err);
        }
        CRunResult help = RunRedirected(L"/?");
        EXPECT_EQ(0u, help.nExit);
        EXPECT_NE(std::string::npos, help.out.find("/device:NAME")) << help.out;
    }
    // No camera at all: a one-line reason on standard error and exit code 1.
    CRunResult none = RunRedirected(L"/list");
    EXPECT_EQ(1u, none.nExit);
    EXPECT_EQ("", none.out);
    EXPECT_EQ("No capture device found.\r\n", none.err);
}

TEST_F(E2eCommandLine, SwitchesChooseDeviceFormatPreviewAndFullScreenOrSayWhatIsMissing) {
    ScopedCamera first(L"RGB24:320x240@30,RGB32:640x480@15");
    ScopedCamera second(L"RGB24:160x120@30,RGB24:320x240@30,RGB32:320x240@60");
    struct {
        const wchar_t* pszArgs; // {A} and {B} stand for the cameras' names
        int nDevice;
        const wchar_t* pszFormat;  // the selected format entry
        const wchar_t* pszMessage; // the text in place of the picture; null for none
        bool bRunning;
        bool bFullScreen;
    } cases[] = {
        {L"/bogus words -x", 0, L"320x240  30.0 RGB24 55296000", nullptr, false, false},
        {L"/device:\"{B}\" /format:\"320x240 30\"", 1, L"320x240  30.0 RGB24 55296000", nullptr,
         false, false},
        {L"/FORMAT:2 /DEVICE:\"{b}\" /Preview", 1, L"320x240  60.0 RGB32 147456000", nullptr, true,
         false},
        {L"/device:1 /fullscreen", 1, L"160x120  30.0 RGB24 13824000", nullptr, true, true},
        {L"/device:\"Cam X\" /preview", 0, L"320x240  30.0 RGB24 55296000",
         L"No capture device named \"Cam X\".", false, false},
        {L"/device:2", 0, L"320x240  30.0 RGB24 55296000", L"No capture device at position 2.",
         false, false},
        {L"/format:5 /preview", 0, L"320x240  30.0 RGB24 55296000",
         L"No format at position 5 for \"{A}\".", false, false},
        {L"/device:1 /format:1920x1080 /preview", 1, L"160x120  30.0 RGB24 13824000",
         L"No format \"1920x1080\" for \"{B}\".", false, false},
    };
    auto names = [&](std::wstring text) {
        text = Replace(Replace(text, L"{A}", first.name()), L"{B}", second.name());
        return Replace(text, L"{b}", Lower(second.name()));
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Narrow(names(c.pszArgs)));
        ASSERT_TRUE(Launch(L"Lookwell.exe", names(c.pszArgs)));
        // The switches are applied once the window is up: wait for all their effects.
        HWND hMessage = Item(IDC_MESSAGE);
        RECT rcScreen{0, 0, ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)};
        auto fullScreen = [&] {
            for (HWND hWnd : Lookwell().Windows()) {
                if (SameRect(rcScreen, WindowRect(hWnd))) {
                    return true;
                }
            }
            return false;
        };
        auto message = [&] { return ::IsWindowVisible(hMessage) ? WindowText(hMessage) : L""; };
        std::wstring expected = c.pszMessage != nullptr ? names(c.pszMessage) : L"";
        WaitUntil(
            [&] {
                return message() == expected && Selection(Item(IDC_DEVICE_LIST)) == c.nDevice &&
                       SelectedText(Item(IDC_FORMAT_LIST)) == c.pszFormat &&
                       HasCaption(c.bRunning ? L"Stop" : L"Pre\nview") &&
                       fullScreen() == c.bFullScreen;
            },
            10000);
        EXPECT_EQ(Narrow(expected), Narrow(message()));
        EXPECT_EQ(c.nDevice, Selection(Item(IDC_DEVICE_LIST)));
        EXPECT_EQ(Narrow(c.pszFormat), Narrow(SelectedText(Item(IDC_FORMAT_LIST))));
        EXPECT_TRUE(HasCaption(c.bRunning ? L"Stop" : L"Pre\nview"));
        EXPECT_EQ(c.bFullScreen, fullScreen());
        ::PostMessageW(Main(), WM_CLOSE, 0, 0);
        EXPECT_EQ(0u, Lookwell().WaitForExit(10000));
    }
}

TEST_F(E2eCommandLine, LostOutputIsAFailureAndNamesMatchInAnyCaseOfUnicode) {
    const std::wstring unicodeName =
        L"Caméra Été Камера " + std::to_wstring(::GetCurrentProcessId());
    ScopedCamera unicode(L"RGB24:320x240@30", L"", unicodeName);
    ScopedCamera twoLines(L"RGB24:160x120@30");
    // A name with a line break in it, as a driver may report one.
    const std::wstring key =
        L"CLSID\\{860BB310-5D01-11D0-BD3B-00A0C911CE86}\\Instance\\" + twoLines.name();
    const wchar_t szBroken[] = L"Broken\nName";
    ASSERT_EQ(ERROR_SUCCESS, ::RegSetKeyValueW(HKEY_CLASSES_ROOT, key.c_str(), L"FriendlyName",
                                               REG_SZ, szBroken, sizeof(szBroken)));
    CRunResult list = RunRedirected(L"/list");
    EXPECT_EQ(0u, list.nExit);
    EXPECT_NE(std::string::npos, list.out.find("\r\nBroken\\nName\r\n    160x120")) << list.out;

    // Standard output that takes nothing: a full device, a pipe nobody reads any more.
    SECURITY_ATTRIBUTES sa{sizeof(sa), nullptr, TRUE};
    HANDLE hFull =
        ::CreateFileW(L"Z:\\dev\\full", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa,
                      OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, hFull);
    HANDLE hRead = nullptr;
    HANDLE hWrite = nullptr;
    ASSERT_TRUE(::CreatePipe(&hRead, &hWrite, &sa, 0));
    ::CloseHandle(hRead);
    for (HANDLE hOut : {hFull, hWrite}) {
        for (const wchar_t* pszArgs : {L"/list", L"/?"}) {
            SCOPED_TRACE(Narrow(pszArgs));
            STARTUPINFOW si{};
            si.cb = sizeof(si);
            si.dwFlags = STARTF_USESTDHANDLES;
            si.hStdOutput = hOut;
            si.hStdError = hOut;
            std::wstring commandLine = L"\"" + ModuleFolder() + L"Lookwell.exe\" " + pszArgs;
            PROCESS_INFORMATION pi{};
            ASSERT_TRUE(::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0,
                                         nullptr, nullptr, &si, &pi));
            DWORD nExit = STILL_ACTIVE;
            ::WaitForSingleObject(pi.hProcess, 30000);
            ::GetExitCodeProcess(pi.hProcess, &nExit);
            ::CloseHandle(pi.hThread);
            ::CloseHandle(pi.hProcess);
            EXPECT_EQ(1u, nExit) << "the output was lost";
        }
    }
    ::CloseHandle(hFull);
    ::CloseHandle(hWrite);

    // Any case of any script, and a leading run of spaces in a format.
    std::wstring upper = unicodeName;
    ::CharUpperBuffW(upper.data(), static_cast<DWORD>(upper.size()));
    ASSERT_TRUE(Launch(L"Lookwell.exe", L"/device:\"" + upper + L"\" /format:\"   320x240  30\""));
    EXPECT_TRUE(WaitUntil(
        [&] {
            std::vector<std::wstring> names = ComboTexts(Item(IDC_DEVICE_LIST));
            int nSelection = Selection(Item(IDC_DEVICE_LIST));
            return nSelection >= 0 && static_cast<size_t>(nSelection) < names.size() &&
                   names[static_cast<size_t>(nSelection)] == unicodeName;
        },
        10000));
    EXPECT_FALSE(::IsWindowVisible(Item(IDC_MESSAGE))) << Narrow(WindowText(Item(IDC_MESSAGE)));
}
