// The tap on the preview's capture stream: the pictures it keeps, turned upright for the
// clipboard from every format a camera may send, what it counts, and the one subscriber; then
// the tap in real previews of the test camera, which copies without pausing the picture.
#include "framework/clock.h"
#include "media/jpeg_decoder.h"
#include "media/stream_tap.h"
#include "media/video_frame.h"
#include "tools/tool_host.h"
#include "testcam/jpeg.h"

#include <dvdmedia.h>
#include <uuids.h>

#include <gtest/gtest.h>

#include "support/preview_test.h"
#include "support/video_type.h"

#include <cstdlib>
#include <cstring>
#include <vector>

using testcam_test::CameraReleased;
using testcam_test::PumpUntil;
using testcam_test::ScopedCamera;
using testcam_test::Stats;

namespace {

// A tap whose sink took a 4 x 2 RGB24 stream of that nominal frame interval (0: none stated).
struct CTapUnderTest {
    std::shared_ptr<CStreamTap> pTap;
    CComRef<CSinkFilter> pFilter;
    HRESULT hrConnect = E_FAIL;

    explicit CTapUnderTest(LONGLONG frameTime) {
        if (CStreamTap::Create(pTap, &pFilter) == S_OK) {
            CVideoType type(MEDIASUBTYPE_RGB24, 4, 2, 24, frameTime);
            hrConnect = pFilter->Consumer().OnConnect(type.mt);
        }
    }
    CSinkConsumer& Consumer() { return pFilter->Consumer(); }
};

// The colour of a pixel of a packed DIB, x from the left and y from the picture's top.
DWORD DibPixel(const std::vector<BYTE>& dib, LONG x, LONG y) {
    const auto* pHeader = reinterpret_cast<const BITMAPINFOHEADER*>(dib.data());
    size_t nPixel = pHeader->biBitCount / 8u;
    size_t nStride = AfxDibStride(pHeader->biWidth, pHeader->biBitCount);
    LONG nRow = pHeader->biHeight > 0 ? pHeader->biHeight - 1 - y : y;
    const BYTE* p = dib.data() + pHeader->biSize + static_cast<size_t>(nRow) * nStride +
                    static_cast<size_t>(x) * nPixel;
    return static_cast<DWORD>(p[2]) << 16 | static_cast<DWORD>(p[1]) << 8 | p[0];
}

bool Near(DWORD seen, DWORD expected, int nTolerance) {
    for (int shift = 0; shift < 24; shift += 8) {
        if (std::abs(static_cast<int>((seen >> shift) & 0xFF) -
                     static_cast<int>((expected >> shift) & 0xFF)) > nTolerance) {
            return false;
        }
    }
    return true;
}

// A picture white in its top left quarter and black elsewhere, as RGB24 rows or MJPG. Each
// uncompressed layout's conversion is the recorder's tests' (ConvertToBgr24).
std::vector<BYTE> QuarterPicture(const GUID& subtype, LONG nWidth, LONG nHeight, bool bBottomUp) {
    auto bWhite = [&](LONG x, LONG y) { return x < nWidth / 2 && y < nHeight / 2; };
    std::vector<BYTE> frame;
    const size_t w = static_cast<size_t>(nWidth);
    const size_t h = static_cast<size_t>(nHeight);
    if (subtype == MEDIASUBTYPE_RGB24) {
        size_t nPixel = 3;
        size_t nStride = (w * nPixel + 3) / 4 * 4;
        frame.assign(nStride * h, 0);
        for (LONG y = 0; y < nHeight; ++y) {
            size_t nRow = static_cast<size_t>(bBottomUp ? nHeight - 1 - y : y);
            for (LONG x = 0; x < nWidth; ++x) {
                std::memset(&frame[nRow * nStride + static_cast<size_t>(x) * nPixel],
                            bWhite(x, y) ? 255 : 0, 3);
            }
        }
    } else if (subtype == MEDIASUBTYPE_MJPG) {
        std::vector<BYTE> bgr = QuarterPicture(MEDIASUBTYPE_RGB24, nWidth, nHeight, false);
        testcam::JpegEncoder encoder;
        frame.assign(w * h * 3 + 4096, 0);
        DWORD nWritten = 0;
        if (encoder.Init() != S_OK ||
            encoder.Encode(bgr.data(), static_cast<UINT>(nWidth), static_cast<UINT>(nHeight),
                           static_cast<UINT>((w * 3 + 3) / 4 * 4), frame.data(),
                           static_cast<DWORD>(frame.size()), &nWritten) != S_OK) {
            frame.clear();
        }
        frame.resize(nWritten);
    }
    return frame;
}

// Records what the tap hands its subscriber.
class CRecordingSubscriber final : public IStreamTapSubscriber {
public:
    void OnTapSample(const CTapSample& sample) noexcept override {
        m_sequence.push_back(sample.nSequence);
        m_firstBytes.push_back(sample.view.nLength > 0 ? sample.view.pData[0] : 0);
    }
    void OnTapEnd() noexcept override { ++m_nEnds; }

    std::vector<ULONGLONG> m_sequence;
    std::vector<BYTE> m_firstBytes;
    int m_nEnds = 0;
};

} // namespace

TEST(StreamTap, FramesComeOutAsUprightDibsAtTheirOwnSize) {
    struct {
        const char* pszName;
        GUID subtype;
        WORD nBits;
        LONG nWidth, nHeight; // the header's: a negative RGB height is top-down
        int nTolerance;
    } cases[] = {
        {"RGB24 bottom-up, rows padded", MEDIASUBTYPE_RGB24, 24, 18, 8, 0},
        {"RGB24 top-down", MEDIASUBTYPE_RGB24, 24, 16, -8, 0},
        {"MJPG, decoded", MEDIASUBTYPE_MJPG, 24, 64, 32, 40},
    };
    CJpegDecoder jpeg;
    ASSERT_EQ(S_OK, jpeg.Open());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszName);
        CVideoType type(c.subtype, c.nWidth, c.nHeight, c.nBits, 333333);
        type.vih.bmiHeader.biSizeImage = 1 << 20; // room for the compressed picture
        CFrameLayout layout = FrameLayoutOf(type.mt);
        ASSERT_TRUE(layout.IsSupported());
        LONG nHeight = c.nHeight < 0 ? -c.nHeight : c.nHeight;
        std::vector<BYTE> frame =
            QuarterPicture(c.subtype, c.nWidth, nHeight, layout.pixels.bBottomUp);
        ASSERT_FALSE(frame.empty());
        std::vector<BYTE> dib;
        ASSERT_EQ(S_OK, FrameToDib(layout, frame.data(), frame.size(), jpeg, dib));
        const auto* pHeader = reinterpret_cast<const BITMAPINFOHEADER*>(dib.data());
        EXPECT_EQ(c.nWidth, pHeader->biWidth);
        EXPECT_EQ(nHeight, pHeader->biHeight) << "bottom-up, which every reader shows upright";
        EXPECT_EQ(24, pHeader->biBitCount);
        ASSERT_EQ(sizeof(BITMAPINFOHEADER) + pHeader->biSizeImage, dib.size());
        // White at the top left, black at the top right and the bottom left: not turned over,
        // not mirrored.
        EXPECT_TRUE(Near(DibPixel(dib, 1, 1), 0xFFFFFF, c.nTolerance)) << DibPixel(dib, 1, 1);
        EXPECT_TRUE(Near(DibPixel(dib, c.nWidth - 2, 1), 0, c.nTolerance));
        EXPECT_TRUE(Near(DibPixel(dib, 1, nHeight - 2), 0, c.nTolerance));
        if (!layout.bMjpg) {
            // A sample one byte short is refused, not read past its end.
            EXPECT_EQ(E_INVALIDARG, FrameToDib(layout, frame.data(), frame.size() - 1, jpeg, dib));
        } else {
            frame[frame.size() / 2] ^= 0xFF;
            frame.resize(frame.size() / 2);
            EXPECT_EQ(E_FAIL, FrameToDib(layout, frame.data(), frame.size(), jpeg, dib))
                << "a cut picture";
        }
    }
    EXPECT_FALSE(FrameLayoutOf(CVideoType(MEDIASUBTYPE_IYUV, 16, 8, 12, 0).mt).IsSupported());
    EXPECT_FALSE(FrameLayoutOf(CVideoType(MEDIASUBTYPE_RGB24, 20000, 8, 24, 0).mt).IsSupported())
        << "past 16384";
}

TEST(StreamTap, CountsGapsAgainstTheCadenceKeepsTheLatestPictureAndFeedsItsSubscriber) {
    // Arrival times in ms at 25 pictures a second (40 ms); a pause between two runs.
    struct {
        const char* pszName;
        std::vector<int> arrivals;
        int nPauseBefore; // the index of the picture a pause and run precede; -1 for none
        ULONGLONG nGaps;
    } cases[] = {
        {"steady", {0, 40, 80, 120, 160}, -1, 0},
        {"late but within 1.5 intervals", {0, 40, 99, 139}, -1, 0},
        {"one picture missing", {0, 40, 120, 160}, -1, 1},
        {"two long gaps", {0, 100, 140, 400}, -1, 2},
        {"a pause is no gap", {0, 40, 2000, 2040}, 2, 0},
    };
    const LONGLONG nPerSecond = AfxQpcFrequency();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszName);
        CTapUnderTest tap(400000);
        ASSERT_EQ(S_OK, tap.hrConnect);
        CStreamTap* pTap = tap.pTap.get();
        CSinkConsumer& consumer = tap.Consumer();
        CRecordingSubscriber subscriber;
        ASSERT_TRUE(pTap->Subscribe(&subscriber));
        CRecordingSubscriber other;
        EXPECT_FALSE(pTap->Subscribe(&other)) << "one subscriber at a time";
        std::vector<BYTE> dib;
        HRESULT hr = S_OK;
        EXPECT_FALSE(pTap->GetLatestPicture(dib, hr)) << "no picture yet";
        EXPECT_EQ(VFW_E_WRONG_STATE, hr);
        consumer.OnRun(0);
        // The pictures arrived over the last seconds, up to now.
        const LONGLONG nBase = AfxQpcNow() - (c.arrivals.back() + 1) * nPerSecond / 1000;
        std::vector<BYTE> bytes(24);
        for (size_t i = 0; i < c.arrivals.size(); ++i) {
            if (static_cast<int>(i) == c.nPauseBefore) {
                consumer.OnPause();
                consumer.OnRun(0);
            }
            std::fill(bytes.begin(), bytes.end(), static_cast<BYTE>(i + 1));
            CSampleView sample;
            sample.nArrival = nBase + c.arrivals[i] * nPerSecond / 1000;
            sample.pData = bytes.data();
            sample.nLength = bytes.size();
            EXPECT_EQ(S_OK, consumer.OnSample(sample));
        }
        CTapFigures figures;
        pTap->GetFigures(figures);
        EXPECT_EQ(c.arrivals.size(), figures.nSamples);
        EXPECT_EQ(c.nGaps, figures.nGaps);
        EXPECT_EQ(400000, figures.nominalFrameTime) << "the media type's";
        EXPECT_EQ(State_Running, figures.state);
        EXPECT_TRUE(figures.bConnected);
        EXPECT_FALSE(figures.bEnded);
        EXPECT_EQ(0u, figures.nNotKept);

        // The latest picture is the last one, whatever came before it.
        ASSERT_TRUE(pTap->GetLatestPicture(dib, hr)) << std::hex << hr;
        EXPECT_EQ(0x010101u * c.arrivals.size(), DibPixel(dib, 0, 0));
        EXPECT_EQ(0x010101u * c.arrivals.size(), DibPixel(dib, 3, 1));

        // The subscriber saw every picture in order, and hears of the end of the stream.
        ASSERT_EQ(c.arrivals.size(), subscriber.m_sequence.size());
        for (size_t i = 0; i < c.arrivals.size(); ++i) {
            EXPECT_EQ(i + 1, subscriber.m_sequence[i]);
            EXPECT_EQ(i + 1, subscriber.m_firstBytes[i]);
        }
        consumer.OnEndOfStream();
        EXPECT_EQ(1, subscriber.m_nEnds);
        pTap->GetFigures(figures);
        EXPECT_TRUE(figures.bEnded) << "the watchdog's cue";
        pTap->Unsubscribe(&subscriber);
        CSampleView late;
        late.nArrival = AfxQpcNow();
        late.pData = bytes.data();
        late.nLength = bytes.size();
        consumer.OnSample(late);
        EXPECT_EQ(c.arrivals.size(), subscriber.m_sequence.size()) << "nothing after unsubscribing";
        consumer.OnStop();
        consumer.OnDisconnect();
    }
}

TEST(StreamTap, MeasuresTheRateOfTheLastTwoSeconds) {
    struct {
        const char* pszName;
        int nIntervalMs;
        int nSpanMs;   // pictures over this time, up to now
        int nSilentMs; // then nothing for this long
        double dRate;  // -1: not known yet
    } cases[] = {
        {"30 a second", 33, 4000, 0, 30.0},
        {"12 a second", 83, 4000, 0, 12.0},
        {"a start: over the time since the first", 40, 1000, 0, 25.0},
        {"too soon to tell", 40, 200, 0, -1},
        {"nothing for three seconds", 33, 3000, 3000, 0},
    };
    const LONGLONG nPerSecond = AfxQpcFrequency();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszName);
        CTapUnderTest tap(0);
        ASSERT_EQ(S_OK, tap.hrConnect);
        CSinkConsumer& consumer = tap.Consumer();
        consumer.OnRun(0);
        const LONGLONG nEnd = AfxQpcNow() - c.nSilentMs * nPerSecond / 1000;
        std::vector<BYTE> bytes(24);
        for (int t = c.nSpanMs; t >= 0; t -= c.nIntervalMs) {
            CSampleView sample;
            sample.nArrival = nEnd - t * nPerSecond / 1000;
            sample.pData = bytes.data();
            sample.nLength = bytes.size();
            consumer.OnSample(sample);
        }
        CTapFigures figures;
        tap.pTap->GetFigures(figures);
        if (c.dRate < 0) {
            EXPECT_EQ(-1.0, figures.dRate);
        } else {
            EXPECT_NEAR(c.dRate, figures.dRate, c.dRate * 0.06 + 0.01);
        }
        consumer.OnStop();
        consumer.OnDisconnect();
    }
}

// Previews of the test camera: the tap is on the capture pin where the camera has a preview
// pin, else on the smart tee's capture output; the preview path is the same either way, and a
// copy of the latest picture neither pauses the graph nor waits for a frame. A camera whose
// stream takes no tap previews as without one.
TEST(StreamTap, PreviewsShareTheirCaptureStreamAndCopyWhileThePictureMoves) {
    struct {
        const wchar_t* pszFormats;
        const wchar_t* pszOptions;
        LONG nWidth, nHeight;
        bool bTapped; // else the picture runs as without a tap, a copy the renderer's
    } cases[] = {
        {L"RGB24:320x240@30", L"", 320, 240, true},
        {L"RGB32:160x120@30", L"", 160, 120, true},
        {L"RGB24:320x240@30", L"previewpin", 320, 240, true},
        {L"RGB24:160x120@30", L"realfps=12.5", 160, 120, true},
        // Streams one pin at a time: its capture pin refuses the tap beside the preview pin.
        {L"RGB24:320x240@30", L"onestream", 320, 240, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(std::wstring(c.pszFormats) + L" " + c.pszOptions));
        ScopedCamera camera(c.pszFormats, c.pszOptions);
        ASSERT_EQ(S_OK, camera.result());
        ClosingMainWindow dlg;
        ASSERT_TRUE(dlg.Create(IDD_LOOKWELL_DIALOG));
        int nEntry = ComboFind(dlg.GetDlgItem(IDC_DEVICE_LIST), camera.name());
        ASSERT_NE(-1, nEntry);
        dlg.ChooseEntry(IDC_DEVICE_LIST, nEntry);
        ASSERT_TRUE(dlg.PressPreviewButton());
        ASSERT_TRUE(dlg.IsPreviewing());
        EXPECT_NE(nullptr, VideoWindowOf(dlg)) << "the preview path is there as before";
        std::shared_ptr<CStreamTap> pTap = dlg.GetPreviewTap();
        if (!c.bTapped) {
            EXPECT_EQ(nullptr, pTap);
            LONGLONG nDelivered = Stats().delivered;
            EXPECT_TRUE(
                PumpUntil("frames delivered", [&] { return Stats().delivered >= nDelivered + 3; }));
            CToolHost tools(dlg);
            std::vector<BYTE> dib;
            ASSERT_EQ(S_OK, tools.GrabFrame(dib)) << "the renderer's image";
            EXPECT_EQ(c.nWidth, reinterpret_cast<const BITMAPINFOHEADER*>(dib.data())->biWidth);
            EXPECT_TRUE(dlg.PressPreviewButton());
            EXPECT_TRUE(CameraReleased());
            continue;
        }
        ASSERT_NE(nullptr, pTap) << "connected beside the preview";
        ASSERT_TRUE(PumpUntil("pictures at the tap", [&] {
            CTapFigures figures;
            pTap->GetFigures(figures);
            return figures.nSamples >= 3;
        }));

        // Copies one after another: each at once, of the format's size, with the graph running
        // throughout and the picture moving between them.
        std::vector<BYTE> first;
        std::vector<BYTE> dib;
        HRESULT hr = S_OK;
        ASSERT_TRUE(pTap->GetLatestPicture(first, hr)) << std::hex << hr;
        const auto* pHeader = reinterpret_cast<const BITMAPINFOHEADER*>(first.data());
        EXPECT_EQ(c.nWidth, pHeader->biWidth);
        EXPECT_EQ(c.nHeight, pHeader->biHeight);
        EXPECT_EQ(24, pHeader->biBitCount);
        // The first bar is white, the last black, the band grey along the bottom: upright.
        EXPECT_TRUE(Near(DibPixel(first, c.nWidth / 16, c.nHeight / 16), 0xFFFFFF, 0));
        EXPECT_TRUE(Near(DibPixel(first, c.nWidth - 1 - c.nWidth / 16, c.nHeight / 16), 0, 0));
        EXPECT_TRUE(Near(DibPixel(first, c.nWidth / 2, c.nHeight - 2), 0x404040, 0));
        // Copies while the camera delivers two more frames: the last one differs from the first.
        LONGLONG nDelivered = Stats().delivered;
        EXPECT_TRUE(PumpUntil("two more frames delivered between copies", [&] {
            EXPECT_EQ(State_Running, GraphState(dlg)) << "never paused for a copy";
            EXPECT_TRUE(pTap->GetLatestPicture(dib, hr)) << std::hex << hr;
            return Stats().delivered >= nDelivered + 2;
        }));
        EXPECT_TRUE(PumpUntil("a copy that differs from the first",
                              [&] { return pTap->GetLatestPicture(dib, hr) && dib != first; }));

        CTapFigures figures;
        pTap->GetFigures(figures);
        EXPECT_EQ(333333, figures.nominalFrameTime);
        EXPECT_TRUE(dlg.PressPreviewButton());
        EXPECT_FALSE(dlg.IsPreviewing());
        EXPECT_EQ(nullptr, dlg.GetPreviewTap());
        EXPECT_EQ(nullptr, dlg.m_pGraph);
        EXPECT_TRUE(CameraReleased());
    }
}

// Ctrl+R's recording from the tap never replaces a file: a name taken in its second gets a
// number, and the file that had it is left as it was.
TEST(StreamTap, ARecordingFromTheTapTakesANameNoFileHas) {
    CTapUnderTest tap(333333);
    ASSERT_EQ(S_OK, tap.hrConnect);
    std::shared_ptr<CStreamTap>& pTap = tap.pTap;
    wchar_t szTemp[MAX_PATH];
    ASSERT_NE(0u, ::GetTempPathW(MAX_PATH, szTemp));
    const std::wstring folder =
        std::wstring(szTemp) + L"lookwell-names-" + std::to_wstring(::GetCurrentProcessId());
    ASSERT_TRUE(::CreateDirectoryW(folder.c_str(), nullptr));
    // This second's name and the next one's, should the second turn before the start.
    SYSTEMTIME now;
    ::GetLocalTime(&now);
    FILETIME ft;
    ASSERT_TRUE(::SystemTimeToFileTime(&now, &ft));
    ULARGE_INTEGER next{{ft.dwLowDateTime, ft.dwHighDateTime}};
    next.QuadPart += 10000000;
    ft = FILETIME{next.LowPart, next.HighPart};
    SYSTEMTIME then;
    ASSERT_TRUE(::FileTimeToSystemTime(&ft, &then));
    std::vector<std::wstring> taken;
    for (const SYSTEMTIME& st : {now, then}) {
        taken.push_back(folder + L"\\" + RecordingFileName(st, 1));
        HANDLE hFile =
            ::CreateFileW(taken.back().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, hFile);
        DWORD nWritten = 0;
        ::WriteFile(hFile, "mine", 4, &nWritten, nullptr);
        ::CloseHandle(hFile);
    }
    std::wstring made;
    {
        CPictureRecording recording;
        std::wstring error;
        ASSERT_TRUE(recording.Start(pTap, 0, false, folder, error))
            << ::testing::PrintToString(error);
        made = recording.File();
        recording.Stop(1000);
    }
    EXPECT_NE(std::wstring::npos, made.find(L" (2).avi")) << ::testing::PrintToString(made);
    for (const std::wstring& path : taken) {
        WIN32_FILE_ATTRIBUTE_DATA data{};
        EXPECT_TRUE(::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data));
        EXPECT_EQ(4u, data.nFileSizeLow) << "left as it was";
        ::DeleteFileW(path.c_str());
    }
    ::DeleteFileW(made.c_str());
    EXPECT_TRUE(::RemoveDirectoryW(folder.c_str()));
    tap.Consumer().OnDisconnect();
}
