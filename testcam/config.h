// What one test camera instance offers: its name, its formats and its quirks. Stored as text
// in the instance's registry entry, parsed when the device enumerator binds the instance.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace testcam {

// MJPG frames are baseline JPEGs of the RGB24 picture; NV12 is planar 4:2:0.
enum class Subtype { YUY2, RGB24, RGB32, MJPG, NV12 };

struct Format {
    Subtype subtype = Subtype::RGB24;
    LONG width = 0;
    LONG height = 0;
    LONGLONG frameTime = 0;  // 100 ns units; 0 is allowed and means "not stated"
    bool videoInfo2 = false; // FORMAT_VideoInfo2 instead of FORMAT_VideoInfo
};

bool operator==(const Format& a, const Format& b);

// What the configuration, the media types and the frames know of a subtype, in one row each.
struct SubtypeInfo {
    Subtype subtype;
    const wchar_t* name; // as the configuration writes it
    const GUID* guid;
    WORD bitCount;
};

const SubtypeInfo& Describe(Subtype subtype);
WORD BitCount(Subtype subtype);
// Bytes per row: of the luma plane for NV12, of the RGB24 picture a JPEG is made from for MJPG.
DWORD Stride(const Format& format);
// Bytes per frame; for MJPG the largest frame the camera hands out.
DWORD ImageSize(const Format& format);
// Bits per second of the uncompressed stream, saturated at the largest DWORD.
DWORD BitRate(const Format& format);
// The interval the streaming thread keeps: a format with no frame time still streams.
LONGLONG DeliveryInterval(const Format& format);
// The delivery intervals of the formats of `format`'s subtype and size, shortest first; throws
// std::bad_alloc.
std::vector<LONGLONG> FrameTimesLike(const std::vector<Format>& formats, const Format& format);

// The size VIDEO_STREAM_CONFIG_CAPS has on every platform.
constexpr int kCapsSize = 128;

struct Config {
    std::wstring friendlyName = L"Lookwell Test Camera";
    std::vector<Format> formats;
    bool streamConfig = true; // the capture pin offers IAMStreamConfig
    int capsSize = kCapsSize; // what GetNumberOfCapabilities reports
    bool previewPin = false;  // a preview pin next to the capture pin
    // With the preview pin: only one of the two pins connects at a time, as a camera that
    // streams one of them at a time; the second refuses.
    bool oneStream = false;
    bool stuckRun = false; // Run never reaches the running state
    bool busy = false;     // another program has the device: it will not pause or run
    // The faults of real cameras, 0 (or -1 for the index) when off.
    LONGLONG realInterval = 0; // frames go out at this interval, whatever the format says
    long blackEvery = 0;       // every N-th delivered frame is all black
    long frozenRepeat = 0;     // every picture goes out N times in a row
    long shortEvery = 0;       // every N-th sample carries half a frame
    long refusedFormat = -1;   // SetFormat refuses this capability
    long stopAfter = 0;        // the device stops delivering after N frames of a run
    long stallAfter = 0;       // the same without a word: no event, nothing more
    long unplugAfter = 0;      // the same, told as an unplug: EC_DEVICE_LOST
};

Config DefaultConfig();

// "YUY2:640x480@30,RGB24:320x240@15:vih2,MJPG:1280x720@30,NV12:640x480@30". Frame rates may have
// decimals; "@0" gives a frame time of 0. False (and `out` untouched) on the first malformed entry.
bool ParseFormats(const std::wstring& text, std::vector<Format>& out);
std::wstring FormatsToString(const std::vector<Format>& formats);

// "nostreamconfig,capssize=64,previewpin,onestream,stuckrun,busy,realfps=12.5,black=N,frozen=N,short=N,
// refuse=I,stopafter=N,stallafter=N,unplugafter=N". False on an unknown or malformed option, or a
// refused index past the formats `config` holds.
bool ParseOptions(const std::wstring& text, Config& config);

// The text regsvr32 /i: hands over: either a bare friendly name or
// "name=...;formats=...;options=...". Empty text gives the default camera.
// The longest camera name: a registry key name, with room for the path around it.
constexpr size_t kLongestName = 200;
struct InstallRequest {
    std::wstring name;
    std::wstring formats; // raw text, empty for the default list
    std::wstring options;
};
bool ParseInstallRequest(const std::wstring& text, InstallRequest& out);

} // namespace testcam
