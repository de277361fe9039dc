// The command line's switches: listing the devices, choosing a device and format, starting
// the preview or full screen, and the camera check. Anything that is not one of them is ignored.
#pragma once

#include "capture/video_format.h"

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

// A position written as digits only (a name is anything else): the number, kNotAPosition for
// anything else, kPositionTooLarge for digits past the largest int.
constexpr int kNotAPosition = -1;
constexpr int kPositionTooLarge = -2;
int ParsePosition(const std::wstring& text);
// The digits of a position as a message shows them: without leading zeros.
std::wstring PositionText(const std::wstring& digits);
// Whether a device name is the text, case ignored for all of Unicode.
bool DeviceNameMatches(const std::wstring& name, const std::wstring& text);
// Whether an entry text starts with the text, runs of spaces taken as one (a leading run is
// ignored) and case ignored for all of Unicode.
bool EntryStartsWith(const std::wstring& entry, const std::wstring& text);
// A name with its control characters written out ("\n", "\x1B"), so that it stays one line.
std::wstring EscapeControls(const std::wstring& text);

// The entry a switch names: a position written in digits, else the first entry that matches
// the text; -1 for none.
int FindEntry(const std::vector<std::wstring>& entries, const std::wstring& text,
              bool (*match)(const std::wstring& entry, const std::wstring& text));
// The line shown, or written, when a switch names no device, or no format of that device.
std::wstring NoDeviceText(const std::wstring& text);
std::wstring NoFormatText(const std::wstring& text, const std::wstring& device);

// Every device with its format entries as the window's lists show them, its format records
// and its moniker's display name.
struct CDeviceListing {
    std::wstring strName;
    std::wstring strDisplayName;
    std::vector<std::wstring> formats;
    std::vector<VideoFormat> records;
};
// Fills the lists the window's own way, in a hidden window; false when no device is found.
bool CollectDeviceListing(std::vector<CDeviceListing>& devices);

// /list and /?: the text on standard output (or the error on standard error), and the exit
// code: not 0 when the output could not be written.
int RunListSwitch();
int RunHelpSwitch();

// Standard output or error of a program without a console of its own: the redirected handle
// it was given, else the console of the process that started it. False when the text could not
// be written whole (a full disk, a closed pipe, no output at all).
bool WriteStd(DWORD nStdHandle, const std::wstring& text);
