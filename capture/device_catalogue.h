// The platform's video input devices read once, without a window: each device's name, its
// moniker's display name and its formats. The main window's lists, /list, /check and the
// tools' search all take their devices from here, and find them by the same matching.
#pragma once

#include "capture/capture_platform.h"
#include "capture/video_format.h"

#include <memory>
#include <string>
#include <vector>

// One device that passed every test of the walk: its friendly name and its formats, which
// carry the device's moniker position and display name.
struct CDeviceEntry {
    CString strName;
    std::unique_ptr<VideoFormatArray> pFormats;
};

// One walk over the video input devices, each bound once to read its formats. Stage 0 with
// every qualifying device in the platform's order; otherwise the step that failed, with
// `devices` untouched: 1 creating the device enumerator, 2 the class enumerator refused
// (S_FALSE: no device at all), 3 none handed out, 4 no capture graph builder.
DWORD ReadDeviceCatalogue(std::vector<CDeviceEntry>& devices);

// A device with its format entries as the window's lists show them.
struct CDeviceListing {
    std::wstring strName;
    std::wstring strDisplayName;
    std::vector<std::wstring> formats;
    std::vector<VideoFormat> records;
};
// The catalogue as text and records; false when no device is found. The caller is in a COM
// apartment.
bool CollectDeviceListing(std::vector<CDeviceListing>& devices);

// The capture filter of the device whose moniker has that display name, bound afresh: S_OK,
// VFW_E_NOT_FOUND when no device has it now, or the bind's own failure.
HRESULT BindDeviceByName(const wchar_t* pszDisplayName, IBaseFilter** ppFilter);

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

// A device a command-line switch chose, with the formats another one chose.
struct CDeviceChoice {
    std::wstring strName;
    std::wstring strDisplayName; // the device itself, whatever comes or goes after the choice
    std::vector<VideoFormat> formats;
};
// The device /device: names (the first without it) and the format /format: names (every one of
// the device's without it), searched as the window's switches search them. False with the one
// line that says what is missing, names written out as /list writes them. The caller is in a
// COM apartment.
bool ChooseDevice(bool bDevice, const std::wstring& strDevice, bool bFormat,
                  const std::wstring& strFormat, CDeviceChoice& choice, std::wstring& error);
