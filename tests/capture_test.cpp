// Format records, their list entries, subtype names and media type disposal.
#include "capture/capture_platform.h"
#include "capture/subtype_names.h"
#include "capture/video_format.h"

#include <uuids.h>

#include <gtest/gtest.h>

#include <cstring>

namespace {

// A video subtype the table does not list.
const GUID kH264 = {0x34363248, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};

} // namespace

TEST(SubtypeNames, ShortNamesFromTheTableOrTheGuidText) {
    struct Case {
        const GUID& subtype;
        const wchar_t* expected;
    } cases[] = {
        {GUID_NULL, L"NULL"}, // the first row
        {MEDIASUBTYPE_YUY2, L"YUY2"},
        {MEDIASUBTYPE_RGB24, L"RGB24"},
        {MEDIASUBTYPE_MJPG, L"MJPG"},
        {MEDIASUBTYPE_DVSD, L"DVSD"},                           // the case is as stored:
        {MEDIASUBTYPE_dvsd, L"dvsd"},                           // another GUID
        {MEDIASUBTYPE_PCMAudio_Obsolete, L"PCMAudio_Obsolete"}, // only the first underscore
        {MEDIASUBTYPE_RGB32_D3D_DX7_RT, L"RGB32_D3D_DX7_RT"},
        {MEDIASUBTYPE_AnalogVideo_SECAM_L, L"AnalogVideo_SECAM_L"}, // the last row
        {MEDIATYPE_Video, L"73646976-0000-0010-8000-00AA00389B71"}, // in no row
        {kH264, L"34363248-0000-0010-8000-00AA00389B71"},
    };
    for (const Case& c : cases) {
        // The caller's text is replaced, not appended to.
        CString strName(L"previous");
        GetSubtypeName(c.subtype, strName);
        EXPECT_STREQ(c.expected, strName);
    }
}

TEST(FormatEntries, ReadSizeRateSubtypeAndUnsignedBitRate) {
    struct Case {
        VideoFormat format;
        const wchar_t* expected;
    } cases[] = {
        {{640, 480, 333333, 147456000, MEDIASUBTYPE_YUY2}, L"640x480  30.0 YUY2 147456000"},
        {{320, 240, 400000, 1, MEDIASUBTYPE_RGB24}, L"320x240  25.0 RGB24 1"},
        {{160, 120, 666666, 0, MEDIASUBTYPE_RGB32}, L"160x120  15.0 RGB32 0"},
        {{1920, 1080, 166666, 0, MEDIASUBTYPE_RGB24}, L"1920x1080  60.0 RGB24 0"},
        {{8, 8, 1, 0, MEDIASUBTYPE_RGB24}, L"8x8 10000000.0 RGB24 0"},
        {{8, -8, 100000000, 0, MEDIASUBTYPE_RGB24}, L"8x-8   0.1 RGB24 0"},
        // Rates of 2^31 and above are real rates, not negative ones.
        {{1920, 1080, 166666, 2147483648u, MEDIASUBTYPE_RGB32},
         L"1920x1080  60.0 RGB32 2147483648"},
        {{1, 1, 1, 4294967295u, MEDIASUBTYPE_RGB32}, L"1x1 10000000.0 RGB32 4294967295"},
        // A frame time of 0 is listed; its rate is infinite, written as the C library does:
        // msvcrt rounds "1.#INF" to one decimal ("1.#J" on Windows, "1.$" under Wine 8).
        {{1, 1, 0, 0, MEDIASUBTYPE_RGB24}, L"1x1   1.$ RGB24 0"},
        {{1, 1, 333333, 0, MEDIATYPE_Video}, L"1x1  30.0 73646976-0000-0010-8000-00AA00389B71 0"},
    };
    for (const Case& c : cases) {
        CString strText(L"previous");
        GetFormatEntryText(c.format, strText);
        EXPECT_STREQ(c.expected, strText);
    }
}

namespace {

class CountedUnknown final : public IUnknown {
public:
    STDMETHODIMP QueryInterface(REFIID, void** ppv) override {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++m_nRefs); }
    STDMETHODIMP_(ULONG) Release() override { return static_cast<ULONG>(--m_nRefs); }
    LONG m_nRefs = 1;
};

} // namespace

TEST(MediaTypes, DisposalGoesByTheByteCountAndReleasesTheObject) {
    CountedUnknown unknown;
    BYTE stale[4] = {};
    AM_MEDIA_TYPE mt{};
    // A stale pointer behind a count of 0 is not the caller's to free.
    mt.pbFormat = stale;
    mt.cbFormat = 0;
    mt.pUnk = &unknown;
    FreeMediaType(mt);
    EXPECT_EQ(stale, mt.pbFormat);
    EXPECT_EQ(nullptr, mt.pUnk);
    EXPECT_EQ(0, unknown.m_nRefs);

    mt.cbFormat = 88;
    mt.pbFormat = static_cast<BYTE*>(::CoTaskMemAlloc(88));
    FreeMediaType(mt);
    EXPECT_EQ(0u, mt.cbFormat);
    EXPECT_EQ(nullptr, mt.pbFormat);

    auto* pmt = static_cast<AM_MEDIA_TYPE*>(::CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
    *pmt = AM_MEDIA_TYPE{};
    pmt->cbFormat = 16;
    pmt->pbFormat = static_cast<BYTE*>(::CoTaskMemAlloc(16));
    DeleteMediaType(pmt);
    DeleteMediaType(nullptr);
}

TEST(MediaTypes, OnlyCompleteVideoInfoBlocksQualify) {
    VIDEOINFOHEADER vih{};
    AM_MEDIA_TYPE mt{};
    mt.majortype = MEDIATYPE_Video;
    mt.formattype = FORMAT_VideoInfo;
    mt.cbFormat = sizeof(vih);
    mt.pbFormat = reinterpret_cast<BYTE*>(&vih);
    EXPECT_EQ(&vih, GetVideoInfo(mt));

    AM_MEDIA_TYPE other = mt;
    other.majortype = MEDIATYPE_Audio;
    EXPECT_EQ(nullptr, GetVideoInfo(other));
    other = mt;
    other.formattype = FORMAT_VideoInfo2;
    EXPECT_EQ(nullptr, GetVideoInfo(other));
    other = mt;
    other.cbFormat = 87;
    EXPECT_EQ(nullptr, GetVideoInfo(other));
    other = mt;
    other.pbFormat = nullptr;
    EXPECT_EQ(nullptr, GetVideoInfo(other));
}
