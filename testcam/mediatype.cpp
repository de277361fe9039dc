#include "testcam/mediatype.h"

#include <dvdmedia.h>
#include <uuids.h>

#include <climits>
#include <cstdlib>
#include <cstring>

namespace testcam {

namespace {

const GUID& SubtypeGuid(Subtype s) {
    return *Describe(s).guid;
}

DWORD Compression(Subtype s) {
    switch (s) {
    case Subtype::YUY2:
        return MAKEFOURCC('Y', 'U', 'Y', '2');
    case Subtype::MJPG:
        return MAKEFOURCC('M', 'J', 'P', 'G');
    case Subtype::NV12:
        return MAKEFOURCC('N', 'V', '1', '2');
    default:
        return BI_RGB;
    }
}

bool IsRgb(Subtype s) {
    return s == Subtype::RGB24 || s == Subtype::RGB32;
}

void FillBitmapHeader(const Format& f, BITMAPINFOHEADER& bmi) {
    bmi.biSize = sizeof(BITMAPINFOHEADER);
    bmi.biWidth = f.width;
    bmi.biHeight = f.height;
    bmi.biPlanes = 1;
    bmi.biBitCount = BitCount(f.subtype);
    bmi.biCompression = Compression(f.subtype);
    bmi.biSizeImage = ImageSize(f);
}

ULONG Gcd(ULONG a, ULONG b) {
    while (b != 0) {
        ULONG t = a % b;
        a = b;
        b = t;
    }
    return a;
}

} // namespace

HRESULT InitMediaType(const Format& f, AM_MEDIA_TYPE* mt) {
    ULONG size = f.videoInfo2 ? sizeof(VIDEOINFOHEADER2) : sizeof(VIDEOINFOHEADER);
    BYTE* block = static_cast<BYTE*>(CoTaskMemAlloc(size));
    if (!block) {
        return E_OUTOFMEMORY;
    }
    memset(block, 0, size);
    memset(mt, 0, sizeof(*mt));
    mt->majortype = MEDIATYPE_Video;
    mt->subtype = SubtypeGuid(f.subtype);
    // A JPEG's size varies from frame to frame; the sample size is the largest.
    mt->bFixedSizeSamples = f.subtype == Subtype::MJPG ? FALSE : TRUE;
    mt->bTemporalCompression = FALSE;
    mt->lSampleSize = ImageSize(f);
    mt->cbFormat = size;
    mt->pbFormat = block;
    if (f.videoInfo2) {
        mt->formattype = FORMAT_VideoInfo2;
        auto* vih = reinterpret_cast<VIDEOINFOHEADER2*>(block);
        vih->dwBitRate = BitRate(f);
        vih->AvgTimePerFrame = f.frameTime;
        ULONG gcd = Gcd(static_cast<ULONG>(f.width), static_cast<ULONG>(f.height));
        vih->dwPictAspectRatioX = static_cast<ULONG>(f.width) / gcd;
        vih->dwPictAspectRatioY = static_cast<ULONG>(f.height) / gcd;
        FillBitmapHeader(f, vih->bmiHeader);
    } else {
        mt->formattype = FORMAT_VideoInfo;
        auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(block);
        vih->dwBitRate = BitRate(f);
        vih->AvgTimePerFrame = f.frameTime;
        FillBitmapHeader(f, vih->bmiHeader);
    }
    return S_OK;
}

AM_MEDIA_TYPE* CreateMediaType(const Format& format) {
    auto* mt = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
    if (mt && FAILED(InitMediaType(format, mt))) {
        CoTaskMemFree(mt);
        mt = nullptr;
    }
    return mt;
}

void FreeMediaTypeContents(AM_MEDIA_TYPE& mt) {
    CoTaskMemFree(mt.pbFormat);
    mt.pbFormat = nullptr;
    mt.cbFormat = 0;
    if (mt.pUnk) {
        mt.pUnk->Release();
        mt.pUnk = nullptr;
    }
}

void DeleteMediaType(AM_MEDIA_TYPE* mt) {
    if (!mt) {
        return;
    }
    FreeMediaTypeContents(*mt);
    CoTaskMemFree(mt);
}

HRESULT CopyMediaType(AM_MEDIA_TYPE* dst, const AM_MEDIA_TYPE& src) {
    *dst = src;
    dst->pbFormat = nullptr;
    dst->cbFormat = 0;
    if (src.cbFormat && src.pbFormat) {
        dst->pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(src.cbFormat));
        if (!dst->pbFormat) {
            dst->pUnk = nullptr;
            return E_OUTOFMEMORY;
        }
        memcpy(dst->pbFormat, src.pbFormat, src.cbFormat);
        dst->cbFormat = src.cbFormat;
    }
    if (dst->pUnk) {
        dst->pUnk->AddRef();
    }
    return S_OK;
}

namespace {

// The bitmap header and frame time of `mt`'s format block, when the block has the format type
// `f` uses and is long enough to read; null otherwise.
const BITMAPINFOHEADER* Header(const AM_MEDIA_TYPE& mt, const Format& f,
                               REFERENCE_TIME* frameTime) {
    if (!mt.pbFormat) {
        return nullptr;
    }
    if (mt.formattype == FORMAT_VideoInfo && !f.videoInfo2 &&
        mt.cbFormat >= sizeof(VIDEOINFOHEADER)) {
        const auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(mt.pbFormat);
        *frameTime = vih->AvgTimePerFrame;
        return &vih->bmiHeader;
    }
    if (mt.formattype == FORMAT_VideoInfo2 && f.videoInfo2 &&
        mt.cbFormat >= sizeof(VIDEOINFOHEADER2)) {
        const auto* vih = reinterpret_cast<const VIDEOINFOHEADER2*>(mt.pbFormat);
        *frameTime = vih->AvgTimePerFrame;
        return &vih->bmiHeader;
    }
    return nullptr;
}

} // namespace

bool SelectsFormat(const AM_MEDIA_TYPE& mt, const Format& f, bool* topDown) {
    if (mt.majortype != MEDIATYPE_Video || mt.subtype != SubtypeGuid(f.subtype)) {
        return false;
    }
    REFERENCE_TIME frameTime = 0;
    const BITMAPINFOHEADER* bmi = Header(mt, f, &frameTime);
    if (!bmi || bmi->biWidth != f.width) {
        return false;
    }
    // Rows may run either way in RGB; YUV and JPEG have a positive height and run top-down.
    bool flipped = bmi->biHeight == -f.height && IsRgb(f.subtype);
    if (bmi->biHeight != f.height && !flipped) {
        return false;
    }
    // Formats of one size may differ in frame rate alone: a stated frame time picks one.
    if (frameTime != 0 && frameTime != f.frameTime) {
        return false;
    }
    if (topDown) {
        *topDown = flipped;
    }
    return true;
}

bool MatchesFormat(const AM_MEDIA_TYPE& mt, const Format& f, bool* topDown) {
    bool flipped = false;
    if (!SelectsFormat(mt, f, &flipped)) {
        return false;
    }
    REFERENCE_TIME frameTime = 0;
    const BITMAPINFOHEADER* bmi = Header(mt, f, &frameTime);
    if (bmi->biBitCount != BitCount(f.subtype) || bmi->biCompression != Compression(f.subtype)) {
        return false;
    }
    if (topDown) {
        *topDown = flipped;
    }
    return true;
}

bool AllowsFormat(const AM_MEDIA_TYPE& mt, const Format& f) {
    if (mt.majortype != GUID_NULL && mt.majortype != MEDIATYPE_Video) {
        return false;
    }
    if (mt.subtype != GUID_NULL && mt.subtype != SubtypeGuid(f.subtype)) {
        return false;
    }
    const GUID& formatType = f.videoInfo2 ? FORMAT_VideoInfo2 : FORMAT_VideoInfo;
    if (mt.formattype != GUID_NULL && mt.formattype != formatType) {
        return false;
    }
    if (mt.formattype != GUID_NULL && mt.pbFormat) {
        return MatchesFormat(mt, f, nullptr);
    }
    return true;
}

void FillCaps(const Format& f, LONGLONG shortest, LONGLONG longest,
              VIDEO_STREAM_CONFIG_CAPS* caps) {
    memset(caps, 0, sizeof(*caps));
    caps->guid = f.videoInfo2 ? FORMAT_VideoInfo2 : FORMAT_VideoInfo;
    caps->VideoStandard = 0; // AnalogVideo_None: a digital source
    SIZE size = {f.width, f.height};
    caps->InputSize = size;
    caps->MinCroppingSize = size;
    caps->MaxCroppingSize = size;
    caps->CropGranularityX = 1;
    caps->CropGranularityY = 1;
    caps->CropAlignX = 1;
    caps->CropAlignY = 1;
    // One size per capability: no scaling, no cropping.
    caps->MinOutputSize = size;
    caps->MaxOutputSize = size;
    caps->OutputGranularityX = 0;
    caps->OutputGranularityY = 0;
    caps->MinFrameInterval = shortest;
    caps->MaxFrameInterval = longest;
    // The caps hold a LONG: a faster stream saturates there, the media type keeps the DWORD.
    auto bitsAt = [&f](LONGLONG interval) {
        Format at = f;
        at.frameTime = interval;
        DWORD bits = BitRate(at);
        return bits > static_cast<DWORD>(LONG_MAX) ? LONG_MAX : static_cast<LONG>(bits);
    };
    caps->MinBitsPerSecond = bitsAt(longest);
    caps->MaxBitsPerSecond = bitsAt(shortest);
}

} // namespace testcam
