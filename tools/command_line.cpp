#include "tools/command_line.h"

#include "framework/console.h"

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

// The text on standard output; 0, or 1 with a line on standard error when it was lost.
int WriteOrSay(const std::wstring& text) {
    if (AfxWriteStd(STD_OUTPUT_HANDLE, text)) {
        return 0;
    }
    AfxWriteStd(STD_ERROR_HANDLE, L"Writing to standard output failed.\n");
    return 1;
}

} // namespace

void CCommandLine::Parse(const std::vector<std::wstring>& args) {
    // Each switch sets its flag; one that ends in a colon also takes the rest of the argument.
    // Anything else is passed over.
    struct CSwitch {
        const wchar_t* pszName;
        bool CCommandLine::*pbGiven;
        std::wstring CCommandLine::*pstrValue;
    };
    static const CSwitch kSwitches[] = {
        {L"/list", &CCommandLine::bList, nullptr},
        {L"/?", &CCommandLine::bHelp, nullptr},
        {L"/preview", &CCommandLine::bPreview, nullptr},
        {L"/fullscreen", &CCommandLine::bFullScreen, nullptr},
        {L"/check", &CCommandLine::bCheck, nullptr},
        {L"/record:", &CCommandLine::bRecord, &CCommandLine::strRecord},
        {L"/uncompressed", &CCommandLine::bUncompressed, nullptr},
        {L"/csv", &CCommandLine::bCsv, nullptr},
        {L"/report:", &CCommandLine::bReport, &CCommandLine::strReport},
        {L"/seconds:", &CCommandLine::bSeconds, &CCommandLine::strSeconds},
        {L"/device:", &CCommandLine::bDevice, &CCommandLine::strDevice},
        {L"/format:", &CCommandLine::bFormat, &CCommandLine::strFormat},
    };
    for (const std::wstring& arg : args) {
        for (const CSwitch& option : kSwitches) {
            std::wstring value;
            if (StartsWithSwitch(arg, option.pszName,
                                 option.pstrValue != nullptr ? &value : nullptr)) {
                this->*option.pbGiven = true;
                if (option.pstrValue != nullptr) {
                    this->*option.pstrValue = value;
                }
                break;
            }
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

int RunListSwitch() {
    bool bCom = ::CoInitialize(nullptr) == S_OK;
    std::vector<CDeviceListing> devices;
    bool bFound = bCom && CollectDeviceListing(devices);
    if (bCom) {
        ::CoUninitialize();
    }
    if (!bFound) {
        AfxWriteStd(STD_ERROR_HANDLE, L"No capture device found.\n");
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
    const std::wstring text =
        L"Lookwell [/list] [/device:NAME|N] [/format:TEXT|N] [/preview] [/fullscreen]\n"
        L"         [/check [/csv] [/seconds:N] [/report:FILE.html]]\n"
        L"         [/record:FILE [/seconds:N] [/uncompressed]]\n"
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
        L"  /report:FILE    with /check: also writes the results as a report to send (HTML)\n"
        L"  /record:FILE    records the device's format (or the chosen one) to a new AVI\n"
        L"                  file without a window, until Ctrl+C or for /seconds:N\n"
        L"                  (1 to 86400); uncompressed formats are stored as MJPG\n"
        L"  /uncompressed   with /record: stores RGB, YUY2 and NV12 as they come\n"
        L"  /?              shows this text\n"
        L"Keys: F11 full screen (Esc leaves it), Ctrl+C copy the frame, Ctrl+S save it,\n"
        L"Alt+Enter camera settings, Ctrl+M mirror, Ctrl+I information window,\n"
        L"Ctrl+T camera check, Ctrl+R record to the Videos folder (Ctrl+Shift+R uncompressed).\n";
    // Started from a shortcut there is no console to print to: the text is shown instead, its
    // columns of spaces made tabs, which a message box's proportional font keeps in line.
    if (!AfxHasStdTarget(STD_OUTPUT_HANDLE)) {
        std::wstring boxed;
        for (size_t i = 0; i < text.size(); ++i) {
            if (text[i] == L' ' && i + 1 < text.size() && text[i + 1] == L' ') {
                boxed += L'\t';
                while (i + 1 < text.size() && text[i + 1] == L' ') {
                    ++i;
                }
            } else {
                boxed += text[i];
            }
        }
        ::MessageBoxW(nullptr, boxed.c_str(), L"Lookwell", MB_OK | MB_ICONINFORMATION);
        return 0;
    }
    return WriteOrSay(text);
}
