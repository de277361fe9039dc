#include "testcam/config.h"

#include <uuids.h>

#include <algorithm>
#include <iterator>
#include <cmath>
#include <cwchar>
#include <cwctype>

namespace testcam {

namespace {

// In the enum's order.
constexpr SubtypeInfo kSubtypes[] = {
    {Subtype::YUY2, L"YUY2", &MEDIASUBTYPE_YUY2, 16},
    {Subtype::RGB24, L"RGB24", &MEDIASUBTYPE_RGB24, 24},
    {Subtype::RGB32, L"RGB32", &MEDIASUBTYPE_RGB32, 32},
    {Subtype::MJPG, L"MJPG", &MEDIASUBTYPE_MJPG, 24},
    {Subtype::NV12, L"NV12", &MEDIASUBTYPE_NV12, 12},
};

constexpr bool InEnumOrder() {
    for (size_t i = 0; i < sizeof(kSubtypes) / sizeof(kSubtypes[0]); ++i) {
        if (static_cast<size_t>(kSubtypes[i].subtype) != i) {
            return false;
        }
    }
    return true;
}
static_assert(InEnumOrder(), "Describe indexes the table by the enum");

std::wstring Trim(const std::wstring& s) {
    size_t b = 0;
    size_t e = s.size();
    while (b < e && iswspace(s[b])) {
        ++b;
    }
    while (e > b && iswspace(s[e - 1])) {
        --e;
    }
    return s.substr(b, e - b);
}

std::vector<std::wstring> Split(const std::wstring& s, wchar_t sep) {
    std::vector<std::wstring> parts;
    size_t start = 0;
    for (;;) {
        size_t pos = s.find(sep, start);
        parts.push_back(Trim(s.substr(start, pos == std::wstring::npos ? pos : pos - start)));
        if (pos == std::wstring::npos) {
            return parts;
        }
        start = pos + 1;
    }
}

bool EqualNoCase(const std::wstring& a, const wchar_t* b) {
    return _wcsicmp(a.c_str(), b) == 0;
}

// A whole decimal number in [1, max], nothing else.
bool ParseCount(const std::wstring& s, long max, long& out) {
    if (s.empty() || s.size() > 9) {
        return false;
    }
    long value = 0;
    for (wchar_t c : s) {
        if (c < L'0' || c > L'9') {
            return false;
        }
        value = value * 10 + (c - L'0');
    }
    if (value < 1 || value > max) {
        return false;
    }
    out = value;
    return true;
}

// A whole decimal number in [0, max].
bool ParseIndex(const std::wstring& s, long max, long& out) {
    if (s == L"0") {
        out = 0;
        return true;
    }
    return ParseCount(s, max, out);
}

// Frames per second, with optional decimals, into a frame time in 100 ns units.
bool ParseRate(const std::wstring& s, LONGLONG& frameTime) {
    if (s.empty() || s.size() > 12) {
        return false;
    }
    double rate = 0;
    double scale = 0;
    for (wchar_t c : s) {
        if (c == L'.' && scale == 0) {
            scale = 1;
        } else if (c >= L'0' && c <= L'9') {
            if (scale == 0) {
                rate = rate * 10 + (c - L'0');
            } else {
                scale /= 10;
                rate += scale * (c - L'0');
            }
        } else {
            return false;
        }
    }
    if (rate == 0) {
        frameTime = 0;
        return true;
    }
    if (rate > 1000 || rate < 0.1) {
        return false;
    }
    frameTime = static_cast<LONGLONG>(10000000.0 / rate + 0.5);
    return true;
}

const SubtypeInfo* FindSubtype(const std::wstring& name) {
    for (const SubtypeInfo& info : kSubtypes) {
        if (EqualNoCase(name, info.name)) {
            return &info;
        }
    }
    return nullptr;
}

bool ParseFormat(const std::wstring& entry, Format& f) {
    std::vector<std::wstring> fields = Split(entry, L':');
    if (fields.size() < 2 || fields.size() > 3) {
        return false;
    }
    const SubtypeInfo* info = FindSubtype(fields[0]);
    if (!info) {
        return false;
    }
    f.subtype = info->subtype;
    if (fields.size() == 3) {
        if (!EqualNoCase(fields[2], L"vih2")) {
            return false;
        }
        f.videoInfo2 = true;
    }
    const std::wstring& geometry = fields[1];
    size_t x = geometry.find(L'x');
    size_t at = geometry.find(L'@');
    if (x == std::wstring::npos || at == std::wstring::npos || at < x) {
        return false;
    }
    long w = 0;
    long h = 0;
    if (!ParseCount(geometry.substr(0, x), 4096, w) ||
        !ParseCount(geometry.substr(x + 1, at - x - 1), 4096, h)) {
        return false;
    }
    // YUY2 packs two pixels into one macropixel; NV12 shares a chroma sample among 2 x 2.
    if ((f.subtype == Subtype::YUY2 || f.subtype == Subtype::NV12) && w % 2 != 0) {
        return false;
    }
    if (f.subtype == Subtype::NV12 && h % 2 != 0) {
        return false;
    }
    f.width = w;
    f.height = h;
    return ParseRate(geometry.substr(at + 1), f.frameTime);
}

} // namespace

bool operator==(const Format& a, const Format& b) {
    return a.subtype == b.subtype && a.width == b.width && a.height == b.height &&
           a.frameTime == b.frameTime && a.videoInfo2 == b.videoInfo2;
}

const SubtypeInfo& Describe(Subtype subtype) {
    return kSubtypes[static_cast<size_t>(subtype)];
}

WORD BitCount(Subtype subtype) {
    return Describe(subtype).bitCount;
}

DWORD Stride(const Format& format) {
    if (format.subtype == Subtype::NV12) {
        return static_cast<DWORD>(format.width);
    }
    // DIB rows are padded to whole DWORDs.
    DWORD bytes = static_cast<DWORD>(format.width) * BitCount(format.subtype) / 8;
    return (bytes + 3) & ~3u;
}

DWORD ImageSize(const Format& format) {
    DWORD size = Stride(format) * static_cast<DWORD>(format.height);
    if (format.subtype == Subtype::NV12) {
        return size + size / 2;
    }
    // A JPEG of the test picture is far smaller than the picture, but a tiny one is mostly its
    // headers and tables.
    return format.subtype == Subtype::MJPG ? size + 4096 : size;
}

DWORD BitRate(const Format& format) {
    if (format.frameTime <= 0) {
        return 0;
    }
    double bits = static_cast<double>(format.width) * format.height * BitCount(format.subtype);
    // The frame time is rounded to 100 ns; the nominal rate is what it was rounded from.
    double fps = std::round(10000000.0 / static_cast<double>(format.frameTime) * 1000.0) / 1000.0;
    double rate = bits * fps;
    if (rate >= 4294967295.0) {
        return 0xFFFFFFFFu;
    }
    return static_cast<DWORD>(rate + 0.5);
}

LONGLONG DeliveryInterval(const Format& format) {
    return format.frameTime > 0 ? format.frameTime : 333333;
}

std::vector<LONGLONG> FrameTimesLike(const std::vector<Format>& formats, const Format& format) {
    std::vector<LONGLONG> times;
    for (const Format& f : formats) {
        if (f.subtype == format.subtype && f.width == format.width && f.height == format.height) {
            times.push_back(DeliveryInterval(f));
        }
    }
    std::sort(times.begin(), times.end());
    times.erase(std::unique(times.begin(), times.end()), times.end());
    return times;
}

Config DefaultConfig() {
    Config config;
    // The first two differ only in subtype; the sizes and rates cover what webcams offer.
    ParseFormats(L"RGB24:640x480@30,YUY2:640x480@30,RGB32:640x480@30,"
                 L"RGB24:160x120@30,RGB24:320x240@30,RGB24:640x480@15,RGB24:1280x720@30,"
                 L"RGB24:1920x1080@30,YUY2:160x120@30,YUY2:320x240@60,YUY2:640x480@15,"
                 L"YUY2:1280x720@30,YUY2:1920x1080@30,RGB32:320x240@30,RGB32:1920x1080@15",
                 config.formats);
    return config;
}

bool ParseFormats(const std::wstring& text, std::vector<Format>& out) {
    std::vector<Format> formats;
    for (const std::wstring& entry : Split(text, L',')) {
        Format f;
        if (!ParseFormat(entry, f)) {
            return false;
        }
        formats.push_back(f);
    }
    out = std::move(formats);
    return true;
}

std::wstring FormatsToString(const std::vector<Format>& formats) {
    std::wstring text;
    for (const Format& f : formats) {
        wchar_t entry[64];
        double rate = f.frameTime > 0 ? 10000000.0 / static_cast<double>(f.frameTime) : 0.0;
        swprintf(entry, 64, L"%ls%ls:%ldx%ld@%g%ls", text.empty() ? L"" : L",",
                 Describe(f.subtype).name, f.width, f.height, rate, f.videoInfo2 ? L":vih2" : L"");
        text += entry;
    }
    return text;
}

namespace {

// "name=value" when `option` starts with "name=" (any case): the value in `value`.
bool Valued(const std::wstring& option, const wchar_t* name, std::wstring& value) {
    size_t length = wcslen(name);
    if (option.size() <= length || option[length] != L'=' ||
        _wcsnicmp(option.c_str(), name, length) != 0) {
        return false;
    }
    value = option.substr(length + 1);
    return true;
}

// The options that are a word alone, and the ones that count frames.
struct FlagOption {
    const wchar_t* name;
    bool Config::*member;
    bool value;
};
constexpr FlagOption kFlags[] = {
    {L"nostreamconfig", &Config::streamConfig, false},
    {L"previewpin", &Config::previewPin, true},
    {L"stuckrun", &Config::stuckRun, true},
    {L"busy", &Config::busy, true},
};
struct CountOption {
    const wchar_t* name;
    long Config::*member;
};
constexpr CountOption kCounts[] = {
    {L"black", &Config::blackEvery},        {L"short", &Config::shortEvery},
    {L"stopafter", &Config::stopAfter},     {L"stallafter", &Config::stallAfter},
    {L"unplugafter", &Config::unplugAfter},
};

} // namespace

bool ParseOptions(const std::wstring& text, Config& config) {
    Config result = config;
    const long kMany = 1000000;
    for (const std::wstring& option : Split(text, L',')) {
        if (option.empty()) {
            continue;
        }
        const FlagOption* flag =
            std::find_if(std::begin(kFlags), std::end(kFlags),
                         [&](const FlagOption& f) { return EqualNoCase(option, f.name); });
        if (flag != std::end(kFlags)) {
            result.*flag->member = flag->value;
            continue;
        }
        std::wstring value;
        const CountOption* count =
            std::find_if(std::begin(kCounts), std::end(kCounts),
                         [&](const CountOption& c) { return Valued(option, c.name, value); });
        bool ok = true;
        if (count != std::end(kCounts)) {
            ok = ParseCount(value, kMany, result.*count->member);
        } else if (EqualNoCase(option, L"onestream")) {
            result.previewPin = true;
            result.oneStream = true;
        } else if (_wcsnicmp(option.c_str(), L"capssize=", 9) == 0) {
            long size = 0;
            ok = ParseCount(option.substr(9), 4096, size);
            result.capsSize = static_cast<int>(size);
        } else if (Valued(option, L"realfps", value)) {
            // A rate of 0 is a frame time of 0, which no camera delivers at.
            ok = ParseRate(value, result.realInterval) && result.realInterval > 0;
        } else if (Valued(option, L"frozen", value)) {
            // Once is every picture as it is: no fault.
            ok = ParseCount(value, kMany, result.frozenRepeat) && result.frozenRepeat >= 2;
        } else if (Valued(option, L"refuse", value)) {
            ok = ParseIndex(value, kMany, result.refusedFormat) &&
                 static_cast<size_t>(result.refusedFormat) < result.formats.size();
        } else {
            ok = false;
        }
        if (!ok) {
            return false;
        }
    }
    config = std::move(result);
    return true;
}

bool ParseInstallRequest(const std::wstring& text, InstallRequest& out) {
    InstallRequest request;
    std::wstring trimmed = Trim(text);
    if (trimmed.find(L'=') == std::wstring::npos) {
        request.name = trimmed;
    } else {
        for (const std::wstring& field : Split(trimmed, L';')) {
            size_t eq = field.find(L'=');
            if (eq == std::wstring::npos) {
                return false;
            }
            std::wstring key = Trim(field.substr(0, eq));
            std::wstring value = Trim(field.substr(eq + 1));
            if (EqualNoCase(key, L"name")) {
                request.name = value;
            } else if (EqualNoCase(key, L"formats")) {
                request.formats = value;
            } else if (EqualNoCase(key, L"options")) {
                request.options = value;
            } else {
                return false;
            }
        }
    }
    if (request.name.empty()) {
        request.name = Config().friendlyName;
    }
    // The name is also a registry key name.
    if (request.name.find(L'\\') != std::wstring::npos || request.name.size() > kLongestName) {
        return false;
    }
    // The options are judged against the formats they come with, as the bind judges them.
    Config options = DefaultConfig();
    if (!request.formats.empty() && !ParseFormats(request.formats, options.formats)) {
        return false;
    }
    if (!ParseOptions(request.options, options)) {
        return false;
    }
    out = std::move(request);
    return true;
}

} // namespace testcam
