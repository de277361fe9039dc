// The command line's switches: listing the devices, choosing a device and format, starting
// the preview or full screen, and the camera check. Anything that is not one of them is ignored.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

struct CCommandLine {
    bool bList = false;
    bool bHelp = false;
    bool bPreview = false;
    bool bFullScreen = false;
    bool bDevice = false;
    bool bFormat = false;
    bool bCheck = false;
    bool bCsv = false;
    bool bSeconds = false;
    std::wstring strDevice;
    std::wstring strFormat;
    std::wstring strSeconds; // as written; CheckSeconds reads it

    // The arguments after the program's name.
    void Parse(const std::vector<std::wstring>& args);
    // This process's own command line.
    void ParseProcess();
    // Whether the window has anything to do once it is up.
    bool NeedsWindowWork() const { return bDevice || bFormat || bPreview || bFullScreen; }
    // /seconds:N, 1 to 60, else nDefault without the switch; 0 for a value out of range.
    DWORD CheckSeconds(DWORD nDefault) const;
};

// A position written as digits only (a name is anything else); -1 when it is not one.
int ParsePosition(const std::wstring& text);
// Whether an entry text, runs of spaces taken as one and case ignored, starts with the text.
bool EntryStartsWith(const std::wstring& entry, const std::wstring& text);

// A combo box entry's text; empty for a position it does not have.
std::wstring ComboEntryText(HWND hCombo, int nIndex);

// Every device with its format entries as the window's lists show them; one device per line,
// its formats indented below it.
struct CDeviceListing {
    std::wstring strName;
    std::vector<std::wstring> formats;
};
// Fills the lists the window's own way, in a hidden window; false when no device is found.
bool CollectDeviceListing(std::vector<CDeviceListing>& devices);

// /list and /?: the text on standard output (or the error on standard error), and the exit
// code.
int RunListSwitch();
int RunHelpSwitch();

// Standard output or error of a program without a console of its own: the redirected handle
// it was given, else the console of the process that started it. Nothing when neither exists.
// False when nothing could be written.
bool WriteStd(DWORD nStdHandle, const std::wstring& text);
