#include "tools/command_line.h"

#include "capture/video_format.h"
#include "ui/lookwell_dlg.h"

#include <climits>
#include <cstdlib>

namespace {

bool StartsWithSwitch(const std::wstring& arg, const wchar_t* pszSwitch, std::wstring* pValue) {
    size_t nLength = std::wcslen(pszSwitch);
    if (arg.size() < nLength || ::_wcsnicmp(arg.c_str(), pszSwitch, nLength) != 0) {
        return false;
    }
    if (pValue == nullptr) {
        return arg.size() == nLength; // a plain switch takes nothing after it
    }
    *pValue = arg.substr(nLength);
    return true;
}

// Runs of spaces as one, a leading run dropped: entries never start with a space.
std::wstring Squeezed(const std::wstring& text) {
    std::wstring result;
    for (wchar_t ch : text) {
        if (ch == L' ' && (result.empty() || result.back() == L' ')) {
            continue;
        }
        result += ch;
    }
    return result;
}

bool EqualNoCase(const wchar_t* a, int nLengthA, const wchar_t* b, int nLengthB) {
    return ::CompareStringOrdinal(a, nLengthA, b, nLengthB, TRUE) == CSTR_EQUAL;
}

// The text on standard output; 0, or 1 with a line on standard error when it was lost.
int WriteOrSay(const std::wstring& text) {
    if (WriteStd(STD_OUTPUT_HANDLE, text)) {
        return 0;
    }
    WriteStd(STD_ERROR_HANDLE, L"Writing to standard output failed.\n");
    return 1;
}

} // namespace

void CCommandLine::Parse(const std::vector<std::wstring>& args) {
    for (const std::wstring& arg : args) {
        std::wstring value;
        if (StartsWithSwitch(arg, L"/list", nullptr)) {
            bList = true;
        } else if (StartsWithSwitch(arg, L"/?", nullptr)) {
            bHelp = true;
        } else if (StartsWithSwitch(arg, L"/preview", nullptr)) {
            bPreview = true;
        } else if (StartsWithSwitch(arg, L"/fullscreen", nullptr)) {
            bFullScreen = true;
        } else if (StartsWithSwitch(arg, L"/check", nullptr)) {
            bCheck = true;
        } else if (StartsWithSwitch(arg, L"/csv", nullptr)) {
            bCsv = true;
        } else if (StartsWithSwitch(arg, L"/seconds:", &value)) {
            bSeconds = true;
            strSeconds = value;
        } else if (StartsWithSwitch(arg, L"/device:", &value)) {
            bDevice = true;
            strDevice = value;
        } else if (StartsWithSwitch(arg, L"/format:", &value)) {
            bFormat = true;
            strFormat = value;
        }
    }
}

void CCommandLine::ParseProcess() {
    // The run-time library's own split of the command line: the platform's CommandLineToArgvW
    // would bring shell32 into every start, which under Wine costs milliseconds of loading.
    if (__wargv == nullptr) {
        return;
    }
    std::vector<std::wstring> args;
    for (int i = 1; i < __argc; ++i) {
        args.emplace_back(__wargv[i]);
    }
    Parse(args);
}

DWORD CCommandLine::CheckSeconds(DWORD nDefault) const {
    if (!bSeconds) {
        return nDefault;
    }
    int n = ParsePosition(strSeconds);
    return n >= 1 && n <= 60 ? static_cast<DWORD>(n) : 0;
}

int ParsePosition(const std::wstring& text) {
    if (text.empty()) {
        return kNotAPosition;
    }
    long long n = 0;
    for (wchar_t ch : text) {
        if (ch < L'0' || ch > L'9') {
            return kNotAPosition;
        }
        if (n <= INT_MAX) {
            n = n * 10 + (ch - L'0');
        }
    }
    return n > INT_MAX ? kPositionTooLarge : static_cast<int>(n);
}

std::wstring PositionText(const std::wstring& digits) {
    size_t nFirst = digits.find_first_not_of(L'0');
    return nFirst == std::wstring::npos ? L"0" : digits.substr(nFirst);
}

bool DeviceNameMatches(const std::wstring& name, const std::wstring& text) {
    return EqualNoCase(name.c_str(), static_cast<int>(name.size()), text.c_str(),
                       static_cast<int>(text.size()));
}

bool EntryStartsWith(const std::wstring& entry, const std::wstring& text) {
    std::wstring squeezedText = Squeezed(text);
    std::wstring squeezedEntry = Squeezed(entry);
    return !squeezedText.empty() && squeezedEntry.size() >= squeezedText.size() &&
           EqualNoCase(squeezedEntry.c_str(), static_cast<int>(squeezedText.size()),
                       squeezedText.c_str(), static_cast<int>(squeezedText.size()));
}

std::wstring EscapeControls(const std::wstring& text) {
    auto hex = [](std::wstring& out, const wchar_t* pszPrefix, unsigned nValue, int nDigits) {
        out += pszPrefix;
        for (int i = nDigits - 1; i >= 0; --i) {
            out += L"0123456789ABCDEF"[(nValue >> (4 * i)) & 0xF];
        }
    };
    std::wstring result;
    for (wchar_t ch : text) {
        if (ch == L'\n') {
            result += L"\\n";
        } else if (ch == L'\r') {
            result += L"\\r";
        } else if (ch == L'\t') {
            result += L"\\t";
        } else if (ch < 0x20 || ch == 0x7F || (ch >= 0x80 && ch < 0xA0)) {
            hex(result, L"\\x", ch, 2);
        } else if (ch == 0x2028 || ch == 0x2029) {
            // Line and paragraph separators end a line for many readers.
            hex(result, L"\\u", ch, 4);
        } else {
            result += ch;
        }
    }
    return result;
}

int FindEntry(const std::vector<std::wstring>& entries, const std::wstring& text,
              bool (*match)(const std::wstring& entry, const std::wstring& text)) {
    int nCount = static_cast<int>(entries.size());
    int nPosition = ParsePosition(text);
    if (nPosition != kNotAPosition) {
        return nPosition >= 0 && nPosition < nCount ? nPosition : -1;
    }
    for (int i = 0; i < nCount; ++i) {
        if (match(entries[static_cast<size_t>(i)], text)) {
            return i;
        }
    }
    return -1;
}

std::wstring NoDeviceText(const std::wstring& text) {
    return ParsePosition(text) != kNotAPosition
               ? L"No capture device at position " + PositionText(text) + L"."
               : L"No capture device named \"" + text + L"\".";
}

std::wstring NoFormatText(const std::wstring& text, const std::wstring& device) {
    return ParsePosition(text) != kNotAPosition
               ? L"No format at position " + PositionText(text) + L" for \"" + device + L"\"."
               : L"No format \"" + text + L"\" for \"" + device + L"\".";
}

bool CollectDeviceListing(std::vector<CDeviceListing>& devices) {
    // The window's own code fills the lists, in combo boxes nobody sees.
    HWND hHost = ::CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                   nullptr, nullptr);
    if (hHost == nullptr) {
        return false;
    }
    for (int nId : {IDC_DEVICE_LIST, IDC_FORMAT_LIST}) {
        ::CreateWindowExW(0, L"COMBOBOX", L"", WS_CHILD | CBS_DROPDOWNLIST, 0, 0, 100, 100, hHost,
                          reinterpret_cast<HMENU>(static_cast<INT_PTR>(nId)), nullptr, nullptr);
    }
    CLookwellDlg lister;
    lister.m_hWnd = hHost;
    bool bFound = StageSucceeded(lister.EnumerateDevices());
    int nDevices = bFound ? lister.GetDeviceCount() : 0;
    for (int i = 0; i < nDevices; ++i) {
        lister.SelectDevice(i, 0);
        CLookwellDlg::CSelection selection;
        if (!lister.GetSelection(selection)) {
            continue;
        }
        CDeviceListing device;
        device.strName = selection.strDevice;
        device.strDisplayName = selection.strDisplayName;
        device.records = selection.formats;
        for (int j = 0; j < lister.GetFormatCount(); ++j) {
            device.formats.push_back(std::wstring(lister.GetEntryText(IDC_FORMAT_LIST, j)));
        }
        devices.push_back(device);
    }
    lister.FreeDeviceList();
    lister.m_hWnd = nullptr; // not a dialog of the framework's: destroyed here, not by it
    ::DestroyWindow(hHost);
    return !devices.empty();
}

bool WriteStd(DWORD nStdHandle, const std::wstring& text) {
    std::wstring crlf;
    for (wchar_t ch : text) {
        if (ch == L'\n') {
            crlf += L'\r';
        }
        crlf += ch;
    }
    HANDLE hOut = ::GetStdHandle(nStdHandle);
    bool bHandle = hOut != nullptr && hOut != INVALID_HANDLE_VALUE;
    DWORD nMode = 0;
    DWORD nWritten = 0;
    if (bHandle && !::GetConsoleMode(hOut, &nMode)) {
        // A file, a pipe or a device: UTF-8, as files and pipes expect today. A full disk, a
        // pipe closed early or a device that takes nothing fails here.
        int nBytes = ::WideCharToMultiByte(CP_UTF8, 0, crlf.data(), static_cast<int>(crlf.size()),
                                           nullptr, 0, nullptr, nullptr);
        std::string bytes(static_cast<size_t>(nBytes), '\0');
        ::WideCharToMultiByte(CP_UTF8, 0, crlf.data(), static_cast<int>(crlf.size()), bytes.data(),
                              nBytes, nullptr, nullptr);
        return ::WriteFile(hOut, bytes.data(), static_cast<DWORD>(bytes.size()), &nWritten,
                           nullptr) != FALSE &&
               nWritten == bytes.size();
    }
    if (bHandle) {
        return ::WriteConsoleW(hOut, crlf.data(), static_cast<DWORD>(crlf.size()), &nWritten,
                               nullptr) != FALSE &&
               nWritten == crlf.size();
    }
    // A GUI program has no console; the one it was started from is borrowed.
    if (!::AttachConsole(ATTACH_PARENT_PROCESS) && ::GetLastError() != ERROR_ACCESS_DENIED) {
        return false;
    }
    HANDLE hConsole = ::CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
    if (hConsole == INVALID_HANDLE_VALUE) {
        return false;
    }
    bool bOk = ::WriteConsoleW(hConsole, crlf.data(), static_cast<DWORD>(crlf.size()), &nWritten,
                               nullptr) != FALSE &&
               nWritten == crlf.size();
    ::CloseHandle(hConsole);
    return bOk;
}

int RunListSwitch() {
    bool bCom = ::CoInitialize(nullptr) == S_OK;
    std::vector<CDeviceListing> devices;
    bool bFound = bCom && CollectDeviceListing(devices);
    if (bCom) {
        ::CoUninitialize();
    }
    if (!bFound) {
        WriteStd(STD_ERROR_HANDLE, L"No capture device found.\n");
        return 1;
    }
    std::wstring text;
    for (const CDeviceListing& device : devices) {
        text += EscapeControls(device.strName) + L"\n";
        for (const std::wstring& format : device.formats) {
            text += L"    " + format + L"\n";
        }
    }
    return WriteOrSay(text);
}

int RunHelpSwitch() {
    return WriteOrSay(
        L"Lookwell [/list] [/device:NAME|N] [/format:TEXT|N] [/preview] [/fullscreen]\n"
        L"         [/check [/csv] [/seconds:N]]\n"
        L"  /list           lists the capture devices and their formats, then exits\n"
        L"  /device:NAME    selects the first device of that name (any case)\n"
        L"  /device:N       selects the device at position N, counting from 0\n"
        L"  /format:TEXT    selects the first format whose entry starts with TEXT\n"
        L"  /format:N       selects the format at position N, counting from 0\n"
        L"  /preview        starts the preview once the window is up\n"
        L"  /fullscreen     starts the preview and shows it full screen\n"
        L"  /check          checks the device's formats (or the chosen one) and writes\n"
        L"                  a table of what each delivers, without a window\n"
        L"  /csv            with /check: comma-separated values instead of the table\n"
        L"  /seconds:N      with /check: measures each format N seconds (1 to 60, 3)\n"
        L"  /?              shows this text\n"
        L"Keys: F11 full screen (Esc leaves it), Ctrl+C copy the frame, Ctrl+S save it,\n"
        L"Alt+Enter camera settings, Ctrl+M mirror, Ctrl+I information window,\n"
        L"Ctrl+T camera check.\n");
}
