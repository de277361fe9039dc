// The recorder's own work that the end-to-end tests cannot reach: each uncompressed pixel format
// converted upright to 24-bit pixels and through the JPEG encoder, and a recorder fed faster than
// its encoder keeps up.
#include "framework/dib.h"
#include "media/image_encoder.h"
#include "media/jpeg_decoder.h"
#include "media/pixel_convert.h"
#include "record/recorder.h"
#include "support/avi_readers.h"
#include "support/video_type.h"

#include <gtest/gtest.h>

#include <uuids.h>
#include <vfw.h>
#include <wincodec.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

// The picture's four quarters: red, green at the top; blue, white at the bottom. As BGR, and
// as BT.601 studio-range Y, U, V.
struct CQuarter {
    BYTE bgr[3];
    BYTE yuv[3];
};
const CQuarter kQuarters[4] = {
    {{0, 0, 255}, {81, 90, 240}},
    {{0, 255, 0}, {145, 54, 34}},
    {{255, 0, 0}, {41, 240, 110}},
    {{255, 255, 255}, {235, 128, 128}},
};

const CQuarter& QuarterAt(LONG x, LONG y, LONG nWidth, LONG nHeight) {
    return kQuarters[(y < nHeight / 2 ? 0 : 2) + (x < nWidth / 2 ? 0 : 1)];
}

// The picture in the camera's layout for that subtype; nHeight negative: top-down RGB rows.
std::vector<BYTE> SourcePicture(const GUID& subtype, LONG nWidth, LONG nHeight) {
    const LONG nRows = std::abs(nHeight);
    std::vector<BYTE> bytes;
    if (subtype == MEDIASUBTYPE_RGB24 || subtype == MEDIASUBTYPE_RGB32) {
        const size_t nPixel = subtype == MEDIASUBTYPE_RGB24 ? 3 : 4;
        const size_t nStride = AfxDibStride(nWidth, static_cast<WORD>(nPixel * 8));
        bytes.assign(nStride * static_cast<size_t>(nRows), 0xA5); // padding and alpha: noise
        for (LONG y = 0; y < nRows; ++y) {
            const LONG nRow = nHeight > 0 ? nRows - 1 - y : y; // bottom-up unless negative
            for (LONG x = 0; x < nWidth; ++x) {
                const BYTE* pBgr = QuarterAt(x, y, nWidth, nRows).bgr;
                for (size_t i = 0; i < 3; ++i) {
                    bytes[static_cast<size_t>(nRow) * nStride + static_cast<size_t>(x) * nPixel +
                          i] = pBgr[i];
                }
            }
        }
    } else if (subtype == MEDIASUBTYPE_YUY2) {
        for (LONG y = 0; y < nRows; ++y) {
            for (LONG x = 0; x < nWidth; x += 2) {
                const BYTE* pYuv = QuarterAt(x, y, nWidth, nRows).yuv;
                const BYTE y1 = QuarterAt(x + 1, y, nWidth, nRows).yuv[0];
                bytes.insert(bytes.end(), {pYuv[0], pYuv[1], y1, pYuv[2]});
            }
        }
    } else { // NV12: the luma plane, then U and V interleaved for each 2 x 2 block
        for (LONG y = 0; y < nRows; ++y) {
            for (LONG x = 0; x < nWidth; ++x) {
                bytes.push_back(QuarterAt(x, y, nWidth, nRows).yuv[0]);
            }
        }
        for (LONG y = 0; y < nRows; y += 2) {
            for (LONG x = 0; x < nWidth; x += 2) {
                const BYTE* pYuv = QuarterAt(x, y, nWidth, nRows).yuv;
                bytes.insert(bytes.end(), {pYuv[1], pYuv[2]});
            }
        }
    }
    return bytes;
}

int Distance(const BYTE* a, const BYTE* b) {
    int nMost = 0;
    for (int i = 0; i < 3; ++i) {
        nMost = std::max(nMost, std::abs(a[i] - b[i]));
    }
    return nMost;
}

} // namespace

TEST(Recorder, EachUncompressedFormatConvertsUprightAndEncodesToAJpegOfItsSize) {
    struct {
        const char* pszWhat;
        GUID subtype;
        LONG nWidth;
        LONG nHeight; // negative: top-down RGB rows
        WORD nBits;
        int nTolerance; // the conversion's: YUV's rounding
    } cases[] = {
        {"RGB24 bottom-up", MEDIASUBTYPE_RGB24, 32, 32, 24, 0},
        {"RGB24 top-down", MEDIASUBTYPE_RGB24, 32, -32, 24, 0},
        {"RGB24 rows padded to 4 bytes", MEDIASUBTYPE_RGB24, 34, 32, 24, 0},
        {"RGB32 bottom-up, alpha ignored", MEDIASUBTYPE_RGB32, 32, 32, 32, 0},
        {"RGB32 top-down", MEDIASUBTYPE_RGB32, 32, -32, 32, 0},
        {"YUY2", MEDIASUBTYPE_YUY2, 32, 32, 16, 2},
        {"NV12", MEDIASUBTYPE_NV12, 32, 32, 12, 2},
        {"NV12 wider than high", MEDIASUBTYPE_NV12, 64, 32, 12, 2},
    };
    CImageEncoder encoder;
    CJpegDecoder decoder;
    ASSERT_EQ(S_OK, encoder.Open());
    ASSERT_EQ(S_OK, decoder.Open());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszWhat);
        CVideoType type(c.subtype, c.nWidth, c.nHeight, c.nBits, 333333);
        const CPixelLayout layout = PixelLayoutOf(type.mt);
        const std::vector<BYTE> source = SourcePicture(c.subtype, c.nWidth, c.nHeight);
        ASSERT_EQ(source.size(), layout.ImageBytes());
        const LONG nRows = std::abs(c.nHeight);
        const size_t nStride = static_cast<size_t>(c.nWidth) * 3 + 1; // any stride will do
        std::vector<BYTE> bgr(nStride * static_cast<size_t>(nRows));
        const auto nOutStride = static_cast<ptrdiff_t>(nStride);
        EXPECT_FALSE(
            ConvertToBgr24(layout, source.data(), source.size() - 1, bgr.data(), nOutStride));
        ASSERT_TRUE(ConvertToBgr24(layout, source.data(), source.size(), bgr.data(), nOutStride));
        int nWorst = 0;
        for (LONG y = 0; y < nRows; ++y) {
            for (LONG x = 0; x < c.nWidth; ++x) {
                const BYTE* pAt =
                    &bgr[static_cast<size_t>(y) * nStride + static_cast<size_t>(x) * 3];
                nWorst = std::max(nWorst, Distance(pAt, QuarterAt(x, y, c.nWidth, nRows).bgr));
            }
        }
        EXPECT_LE(nWorst, c.nTolerance);

        // Through the JPEG encoder and back: the size, and each quarter's colour at its centre.
        std::vector<BYTE> jpeg;
        ASSERT_EQ(S_OK, encoder.Encode(GUID_ContainerFormatJpeg, bgr.data(),
                                       static_cast<UINT>(c.nWidth), static_cast<UINT>(nRows),
                                       static_cast<UINT>(nStride), 0.85f, jpeg));
        CBgrPicture picture;
        ASSERT_TRUE(decoder.Decode(jpeg.data(), jpeg.size(), picture));
        ASSERT_EQ(static_cast<UINT>(c.nWidth), picture.nWidth);
        ASSERT_EQ(static_cast<UINT>(nRows), picture.nHeight);
        for (LONG y : {nRows / 4, nRows * 3 / 4}) {
            for (LONG x : {c.nWidth / 4, c.nWidth * 3 / 4}) {
                const BYTE* pAt = &picture.pixels[static_cast<size_t>(y) * picture.nStride +
                                                  static_cast<size_t>(x) * 3];
                EXPECT_LE(Distance(pAt, QuarterAt(x, y, c.nWidth, nRows).bgr), 24)
                    << "at " << x << "," << y;
            }
        }
    }
    // What cannot be converted says so.
    for (const auto& bad : {std::make_pair(MEDIASUBTYPE_YUY2, 31),
                            {MEDIASUBTYPE_NV12, 30},
                            {MEDIASUBTYPE_MJPG, 32},
                            {MEDIASUBTYPE_RGB565, 32}}) {
        CVideoType type(bad.first, bad.second, bad.first == MEDIASUBTYPE_NV12 ? 31 : 32, 16,
                        333333);
        EXPECT_EQ(SourcePixels::Unsupported, PixelLayoutOf(type.mt).pixels);
    }
}

TEST(Recorder, AnEncoderThatFallsBehindDropsAndCountsEveryFrameItLoses) {
    // 1080p pictures handed over as fast as a loop can: the camera's side only copies them, the
    // encoder takes tens of milliseconds each, and every sample ends up written or counted.
    CVideoType type(MEDIASUBTYPE_RGB24, 1920, 1080, 24, 333333);
    wchar_t szTemp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, szTemp);
    const std::wstring path = std::wstring(szTemp) + L"lookwell-recorder-behind.avi";
    ::DeleteFileW(path.c_str());
    std::vector<BYTE> picture(type.vih.bmiHeader.biSizeImage);
    for (size_t i = 0; i < picture.size(); ++i) {
        picture[i] = static_cast<BYTE>(i * 13 + i / 5760);
    }
    constexpr int kSamples = 30;
    CRecorderStatus status;
    {
        CRecorder recorder;
        std::wstring error;
        ASSERT_TRUE(recorder.Open(path, type.mt, 0, CRecorderOptions(), error)) << error.c_str();
        ASSERT_TRUE(recorder.Encodes());
        for (int i = 0; i < kSamples; ++i) {
            CSampleView sample;
            sample.bHasStart = true;
            sample.tStart = i * 333333LL;
            sample.pData = picture.data();
            sample.nLength = picture.size();
            recorder.OnSample(sample);
        }
        recorder.Stop(10000);
        recorder.GetStatus(status);
    }
    EXPECT_EQ(static_cast<ULONGLONG>(kSamples), status.nSamples);
    EXPECT_GT(status.nDroppedEncoder, 0u);
    EXPECT_GT(status.nFramesWritten, 0u);
    EXPECT_EQ(status.nSamples, status.nFramesWritten + status.Dropped());
    EXPECT_EQ(AviEnd::Stopped, status.end);
    CAviFileView file = ReadWithAviFile(path);
    ASSERT_EQ(S_OK, file.hr);
    EXPECT_EQ(mmioFOURCC('M', 'J', 'P', 'G'), file.bih.biCompression);
    size_t nPictures = 0;
    for (const std::vector<BYTE>& frame : file.frames) {
        nPictures += frame.empty() ? 0u : 1u;
    }
    EXPECT_EQ(status.nFramesWritten, nPictures);
    ::DeleteFileW(path.c_str());
}
