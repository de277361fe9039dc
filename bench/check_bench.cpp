// The camera check's costs: the check of one format beyond its window against a bare graph of
// the same camera and format into a counting-only sink, and the sink's processor time per
// picture against counting only.
#include "bench/bench_clock.h"
#include "capture/capture_platform.h"
#include "check/camera_check.h"
#include "check/check_sink.h"
#include "tools/tool_host.h"

#include "support/camera.h"
#include "support/video_type.h"

#include <dvdmedia.h>
#include <uuids.h>
#include <wincodec.h>

#include <cstdio>
#include <cstring>

namespace {

// The imaging component's scaling-while-decoding interface, which the cross-compiler's headers
// leave out: only asked whether a decoder offers it.
struct IWicSourceTransform : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE CopyPixels(const WICRect* pRect, UINT nWidth, UINT nHeight,
                                                 WICPixelFormatGUID* pFormat,
                                                 WICBitmapTransformOptions options, UINT nStride,
                                                 UINT nSize, BYTE* pBuffer) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetClosestSize(UINT* pnWidth, UINT* pnHeight) = 0;
};
constexpr GUID kIidSourceTransform = {
    0x3b16811b, 0x6a43, 0x4ec9, {0xb7, 0x13, 0x3d, 0x5a, 0x0c, 0x13, 0xb9, 0x40}};

std::wstring DisplayNameOf(const std::wstring& friendlyName) {
    CComRef<IMoniker> pMoniker;
    *pMoniker.Out() = testcam_test::FindDevice(friendlyName);
    return pMoniker != nullptr ? std::wstring(GetMonikerName(pMoniker)) : std::wstring();
}

// The floor: the camera bound, its first format set, its capture pin straight into a
// counting-only sink, run to the first sample, held for the window and torn down.
double BareGraphMs(const std::wstring& friendlyName, DWORD nWindowMs, bool bAnalyse = false,
                   double* pdFps = nullptr) {
    double dStart = NowMs();
    CComRef<IBaseFilter> pCamera;
    if (testcam_test::BindFilter(friendlyName, &pCamera) != S_OK) {
        return -1;
    }
    CComRef<IPin> pPin;
    CComRef<IAMStreamConfig> pConfig;
    AM_MEDIA_TYPE* pmt = nullptr;
    VIDEO_STREAM_CONFIG_CAPS caps;
    if (FAILED(FindCapturePin(pCamera, &pPin)) ||
        pPin->QueryInterface(IID_IAMStreamConfig, pConfig.Out()) != S_OK ||
        pConfig->GetStreamCaps(0, &pmt, reinterpret_cast<BYTE*>(&caps)) != S_OK) {
        return -1;
    }
    pConfig->SetFormat(pmt);
    CComRef<IGraphBuilder> pGraph;
    ::CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC, IID_IGraphBuilder, pGraph.Out());
    CSinkRef<CCheckSink> sink;
    CCheckSink::Create(bAnalyse, sink);
    pGraph->AddFilter(pCamera, L"Video Capture");
    pGraph->AddFilter(sink.Filter(), L"Sink");
    pGraph->ConnectDirect(pPin, sink.Pin(), pmt);
    DeleteMediaType(pmt);
    CComRef<IMediaControl> pControl;
    pGraph->QueryInterface(IID_IMediaControl, pControl.Out());
    pControl->Run();
    ::WaitForSingleObject(sink.Consumer().FirstSampleEvent(), 5000);
    ::Sleep(nWindowMs);
    pControl->Stop();
    sink.Consumer().WaitForDecoding(10000);
    sink.Consumer().FinishDecoding();
    if (pdFps != nullptr) {
        CSinkFigures figures;
        sink.Consumer().GetFigures(figures);
        LARGE_INTEGER frequency;
        ::QueryPerformanceFrequency(&frequency);
        size_t n = figures.arrivals.size();
        *pdFps = n < 2
                     ? 0
                     : static_cast<double>(n - 1) * static_cast<double>(frequency.QuadPart) /
                           static_cast<double>(figures.arrivals.back() - figures.arrivals.front());
    }
    pGraph->Disconnect(pPin);
    pGraph->Disconnect(sink.Pin());
    pGraph->RemoveFilter(sink.Filter());
    pGraph->RemoveFilter(pCamera);
    return NowMs() - dStart;
}

// A JPEG of the picture, through WIC's encoder.
std::vector<BYTE> EncodeJpeg(IWICImagingFactory* pWic, std::vector<BYTE>& bgr, UINT nWidth,
                             UINT nHeight) {
    std::vector<BYTE> jpeg;
    CComRef<IWICBitmap> pBitmap;
    CComRef<IStream> pStream;
    CComRef<IWICBitmapEncoder> pEncoder;
    CComRef<IWICBitmapFrameEncode> pFrame;
    CComRef<IPropertyBag2> pProps;
    UINT nStride = (nWidth * 3 + 3) / 4 * 4;
    WICPixelFormatGUID format = GUID_WICPixelFormat24bppBGR;
    if (FAILED(pWic->CreateBitmapFromMemory(nWidth, nHeight, GUID_WICPixelFormat24bppBGR, nStride,
                                            static_cast<UINT>(bgr.size()), bgr.data(), &pBitmap)) ||
        FAILED(::CreateStreamOnHGlobal(nullptr, TRUE, &pStream)) ||
        FAILED(pWic->CreateEncoder(GUID_ContainerFormatJpeg, nullptr, &pEncoder)) ||
        FAILED(pEncoder->Initialize(pStream, WICBitmapEncoderNoCache)) ||
        FAILED(pEncoder->CreateNewFrame(&pFrame, &pProps)) || FAILED(pFrame->Initialize(pProps)) ||
        FAILED(pFrame->SetSize(nWidth, nHeight)) || FAILED(pFrame->SetPixelFormat(&format)) ||
        FAILED(pFrame->WriteSource(pBitmap, nullptr)) || FAILED(pFrame->Commit()) ||
        FAILED(pEncoder->Commit())) {
        return jpeg;
    }
    HGLOBAL hGlobal = nullptr;
    STATSTG stat{};
    if (FAILED(::GetHGlobalFromStream(pStream, &hGlobal)) ||
        FAILED(pStream->Stat(&stat, STATFLAG_NONAME))) {
        return jpeg;
    }
    const BYTE* p = static_cast<const BYTE*>(::GlobalLock(hGlobal));
    jpeg.assign(p, p + stat.cbSize.QuadPart);
    ::GlobalUnlock(hGlobal);
    return jpeg;
}

// Milliseconds per picture in the sink, median of 5 rounds of nFrames, for pictures that
// change every frame: its Receive calls, and the decoder thread's work until it is done.
double SinkMsPerFrame(bool bAnalyse, const GUID& subtype, LONG nWidth, LONG nHeight, WORD nBits,
                      const std::vector<std::vector<BYTE>>& pictures, int nFrames,
                      double dIntervalMs = 0, double* pdPerFormatMs = nullptr) {
    CVideoType type(subtype, nWidth, nHeight, nBits, 333333);
    type.vih.bmiHeader.biSizeImage = static_cast<DWORD>(pictures[0].size() * 2);
    const AM_MEDIA_TYPE& mt = type.mt;
    size_t nLargest = 0;
    for (const auto& picture : pictures) {
        nLargest = std::max(nLargest, picture.size());
    }
    // An output pin to connect from: the platform's smart tee's, left unconnected itself.
    CComRef<IBaseFilter> pTee;
    CComRef<IPin> pPeer;
    ::CoCreateInstance(CLSID_SmartTee, nullptr, CLSCTX_INPROC, IID_IBaseFilter, pTee.Out());
    pTee->FindPin(L"Capture", &pPeer);
    std::vector<double> rounds;
    for (int nRound = 0; nRound < 5; ++nRound) {
        CSinkRef<CCheckSink> sink;
        CCheckSink::Create(bAnalyse, sink);
        sink.Pin()->ReceiveConnection(pPeer, &mt);
        CComRef<IMemInputPin> pInput;
        sink.Pin()->QueryInterface(IID_IMemInputPin, pInput.Out());
        CComRef<IMemAllocator> pAllocator;
        ::CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC, IID_IMemAllocator,
                           pAllocator.Out());
        ALLOCATOR_PROPERTIES wanted{1, static_cast<long>(nLargest), 1, 0};
        ALLOCATOR_PROPERTIES actual{};
        pAllocator->SetProperties(&wanted, &actual);
        pAllocator->Commit();
        sink.Filter()->Run(0);
        double dSpent = 0;
        double dRoundStart = NowMs();
        for (int i = 0; i < nFrames; ++i) {
            const std::vector<BYTE>& picture = pictures[static_cast<size_t>(i) % pictures.size()];
            IMediaSample* pSample = nullptr;
            pAllocator->GetBuffer(&pSample, nullptr, nullptr, 0);
            BYTE* pData = nullptr;
            pSample->GetPointer(&pData);
            std::memcpy(pData, picture.data(), picture.size());
            pSample->SetActualDataLength(static_cast<long>(picture.size()));
            double dAt = NowMs();
            pInput->Receive(pSample);
            dSpent += NowMs() - dAt;
            pSample->Release();
            // At a camera's pace, where one is given: the decoder takes the latest picture.
            while (dIntervalMs > 0 && NowMs() - dRoundStart < dIntervalMs * (i + 1)) {
                ::Sleep(1);
            }
        }
        // A decoder thread works alongside: the round lasts until it is done.
        double dDrainStart = NowMs();
        sink.Consumer().WaitForDecoding(600000);
        double dDrain = NowMs() - dDrainStart;
        sink.Consumer().FinishDecoding();
        double dRound = NowMs() - dRoundStart;
        CSinkFigures figures;
        sink.Consumer().GetFigures(figures);
        if (pdPerFormatMs != nullptr) {
            // What the check adds once a format: its picture and its interval record.
            double dAt = NowMs();
            CFormatMeasurement row;
            sink.Consumer().GetThumbnail(CThumbnail::Kind::LastGood, row.thumbnail);
            LARGE_INTEGER frequency;
            ::QueryPerformanceFrequency(&frequency);
            for (size_t i = 1; i < figures.arrivals.size(); ++i) {
                row.intervalsMs.push_back(static_cast<float>(
                    static_cast<double>(figures.arrivals[i] - figures.arrivals[i - 1]) * 1000.0 /
                    static_cast<double>(frequency.QuadPart)));
            }
            row.dMedianMs = ComputeIntervals(row.intervalsMs).dMedianMs;
            *pdPerFormatMs = NowMs() - dAt;
        }
        if (figures.nUndecodable != 0) {
            std::printf("  %ld pictures not decodable\n", figures.nUndecodable);
        }
        bool bDecoded = bAnalyse && subtype == MEDIASUBTYPE_MJPG;
        if (bDecoded && dIntervalMs > 0) {
            std::printf("  round %d at %.1f ms a picture: %ld of %d analysed, %.1f ms left to "
                        "drain after the last\n",
                        nRound, dIntervalMs, figures.nAnalysed, nFrames, dDrain);
        }
        // Per picture analysed: the decoder leaves out what it cannot keep up with.
        rounds.push_back(bDecoded ? dRound / std::max<long>(figures.nAnalysed, 1)
                                  : dSpent / nFrames);
        sink.Filter()->Stop();
        sink.Pin()->Disconnect();
        pAllocator->Decommit();
    }
    return Median(rounds);
}

// Pictures of the format with a bar that moves every frame.
std::vector<std::vector<BYTE>> Pictures(LONG nWidth, LONG nHeight, size_t nPixel, int nCount) {
    size_t nStride = (static_cast<size_t>(nWidth) * nPixel + 3) / 4 * 4;
    std::vector<std::vector<BYTE>> pictures;
    for (int n = 0; n < nCount; ++n) {
        std::vector<BYTE> picture(nStride * static_cast<size_t>(nHeight));
        for (LONG y = 0; y < nHeight; ++y) {
            for (LONG x = 0; x < nWidth; ++x) {
                BYTE v = static_cast<BYTE>((x / 8 + n * 4) % 256);
                std::memset(
                    &picture[static_cast<size_t>(y) * nStride + static_cast<size_t>(x) * nPixel], v,
                    nPixel);
            }
        }
        pictures.push_back(std::move(picture));
    }
    return pictures;
}

} // namespace

void BenchCheck() {
    std::printf("camera check, one format: the check against the bare graph, window 1 s, "
                "medians of 7\n");
    {
        testcam_test::ScopedCamera camera(L"RGB24:640x480@30");
        std::wstring displayName = DisplayNameOf(camera.name());
        VideoFormat format{640, 480, 333333, 221184000, MEDIASUBTYPE_RGB24};
        // On a thread of a multithreaded apartment, as the runner checks: the thread that takes
        // a format's graph apart joins that apartment rather than making one.
        struct CRounds {
            std::wstring strDisplayName;
            std::wstring strName;
            VideoFormat format;
            std::vector<double> ours;
            std::vector<double> floor;
        } rounds{displayName, camera.name(), format, {}, {}};
        auto proc = [](void* pParam) -> DWORD {
            auto& r = *static_cast<CRounds*>(pParam);
            if (FAILED(::CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {
                return 1;
            }
            {
                CComRef<IBaseFilter> pRenderer;
                CComRef<IPin> pRendererPin;
                CreateRendererPin(&pRenderer, &pRendererPin); // once for a whole check
                for (int i = 0; i < 7; ++i) {
                    double dStart = NowMs();
                    CFormatMeasurement row =
                        CheckFormat(r.strDisplayName, r.format, 1, nullptr, pRendererPin);
                    r.ours.push_back(NowMs() - dStart - 1000.0);
                    if (!row.bStarted) {
                        std::printf("  the check did not start: %ls\n", row.strFailure.c_str());
                    }
                    r.floor.push_back(BareGraphMs(r.strName, 1000) - 1000.0);
                }
            }
            ::CoUninitialize();
            return 0;
        };
        HANDLE hThread = ::CreateThread(nullptr, 0, proc, &rounds, 0, nullptr);
        if (hThread != nullptr) {
            ::WaitForSingleObject(hThread, INFINITE);
            ::CloseHandle(hThread);
        }
        std::vector<double>& ours = rounds.ours;
        std::vector<double>& floor = rounds.floor;
        double dOurs = Median(ours);
        double dFloor = Median(floor);

        std::printf("  beyond the window: ours %.1f ms, bare graph %.1f ms, ratio %.3f\n", dOurs,
                    dFloor, dOurs / dFloor);
    }

    {
        // What the camera delivers into either sink: the test camera's own JPEG encoder and the
        // sink's decoder share the machine.
        testcam_test::ScopedCamera camera(L"MJPG:1920x1080@30");
        double dCounting = 0;
        double dAnalysing = 0;
        BareGraphMs(camera.name(), 4000, false, &dCounting);
        BareGraphMs(camera.name(), 4000, true, &dAnalysing);
        std::printf("  test camera MJPG 1920x1080 at 30: %.1f fps into the counting sink, %.1f "
                    "into the analysing one\n",
                    dCounting, dAnalysing);
    }
    std::printf("sink per picture (ms, median of 5 rounds), analysing against counting only\n");
    CComRef<IWICImagingFactory> pWic;
    ::CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                       IID_IWICImagingFactory, pWic.Out());
    struct {
        const char* pszName;
        GUID subtype;
        LONG nWidth, nHeight;
        WORD nBits;
        double dIntervalMs;
    } cases[] = {
        {"640x480 RGB24", MEDIASUBTYPE_RGB24, 640, 480, 24, 33.33},
        {"1920x1080 RGB32", MEDIASUBTYPE_RGB32, 1920, 1080, 32, 33.33},
        {"1920x1080 MJPG", MEDIASUBTYPE_MJPG, 1920, 1080, 24, 33.33},
    };
    for (const auto& c : cases) {
        bool bMjpg = c.subtype == MEDIASUBTYPE_MJPG;
        auto pictures = Pictures(c.nWidth, c.nHeight, bMjpg ? 3 : c.nBits / 8u, 4);
        if (bMjpg) {
            for (auto& picture : pictures) {
                picture = EncodeJpeg(pWic, picture, static_cast<UINT>(c.nWidth),
                                     static_cast<UINT>(c.nHeight));
            }
        }
        int nFrames = bMjpg ? 20 : 100;
        double dCount =
            SinkMsPerFrame(false, c.subtype, c.nWidth, c.nHeight, c.nBits, pictures, nFrames);
        double dPerFormat = 0;
        double dOurs = SinkMsPerFrame(true, c.subtype, c.nWidth, c.nHeight, c.nBits, pictures,
                                      nFrames, 0, &dPerFormat);
        std::printf("  %s: analysing %.4f, counting %.4f, ratio %.1f, %.2f %% of a frame "
                    "interval; once a format (picture and %d intervals) %.4f ms\n",
                    c.pszName, dOurs, dCount, dOurs / dCount, 100.0 * dOurs / c.dIntervalMs,
                    nFrames - 1, dPerFormat);
        if (bMjpg) {
            // At the camera's pace: how much is analysed, and what is left after the window.
            SinkMsPerFrame(true, c.subtype, c.nWidth, c.nHeight, c.nBits, pictures, 90,
                           c.dIntervalMs);
        }
        if (bMjpg) {
            // The platform's own part: WIC decoding the same pictures whole, to BGR.
            std::vector<double> decodes;
            for (int i = 0; i < nFrames; ++i) {
                const std::vector<BYTE>& jpeg = pictures[static_cast<size_t>(i) % pictures.size()];
                double dAt = NowMs();
                CComRef<IWICStream> pStream;
                CComRef<IWICBitmapDecoder> pDecoder;
                CComRef<IWICBitmapFrameDecode> pFrame;
                CComRef<IWICBitmapSource> pBgr;
                std::vector<BYTE> bgr(static_cast<size_t>(c.nWidth) * 3 *
                                      static_cast<size_t>(c.nHeight));
                pWic->CreateStream(&pStream);
                pStream->InitializeFromMemory(const_cast<BYTE*>(jpeg.data()),
                                              static_cast<DWORD>(jpeg.size()));
                pWic->CreateDecoder(GUID_ContainerFormatJpeg, nullptr, &pDecoder);
                pDecoder->Initialize(pStream, WICDecodeMetadataCacheOnDemand);
                pDecoder->GetFrame(0, &pFrame);
                ::WICConvertBitmapSource(GUID_WICPixelFormat24bppBGR, pFrame, &pBgr);
                pBgr->CopyPixels(nullptr, static_cast<UINT>(c.nWidth * 3),
                                 static_cast<UINT>(bgr.size()), bgr.data());
                decodes.push_back(NowMs() - dAt);
            }
            double dDecode = Median(decodes);
            std::printf("  %s: WIC's decode alone %.4f, ratio %.3f\n", c.pszName, dDecode,
                        dOurs / dDecode);
            // Whether the platform's JPEG decoder scales while it decodes: at the grid's scale
            // a picture would cost a fraction of a whole decode.
            CComRef<IWICStream> pStream;
            CComRef<IWICBitmapDecoder> pDecoder;
            CComRef<IWICBitmapFrameDecode> pFrame;
            CComRef<IWicSourceTransform> pTransform;
            pWic->CreateStream(&pStream);
            pStream->InitializeFromMemory(pictures[0].data(),
                                          static_cast<DWORD>(pictures[0].size()));
            pWic->CreateDecoder(GUID_ContainerFormatJpeg, nullptr, &pDecoder);
            pDecoder->Initialize(pStream, WICDecodeMetadataCacheOnDemand);
            pDecoder->GetFrame(0, &pFrame);
            HRESULT hr = pFrame->QueryInterface(kIidSourceTransform, pTransform.Out());
            UINT nClosestWidth = kGridColumns;
            UINT nClosestHeight = kGridRows;
            if (SUCCEEDED(hr)) {
                pTransform->GetClosestSize(&nClosestWidth, &nClosestHeight);
            }
            std::printf("  %s: IWICBitmapSourceTransform %s (0x%08lx)%s\n", c.pszName,
                        SUCCEEDED(hr) ? "offered" : "not offered", static_cast<unsigned long>(hr),
                        SUCCEEDED(hr) ? (", closest to the grid: " + std::to_string(nClosestWidth) +
                                         "x" + std::to_string(nClosestHeight))
                                            .c_str()
                                      : "");
        }
    }

    // The report of the default test camera: 15 formats, each with its picture and 90
    // intervals, as one real format's row gives them.
    {
        testcam_test::ScopedCamera camera(L"RGB24:640x480@30");
        VideoFormat format{640, 480, 333333, 221184000, MEDIASUBTYPE_RGB24};
        CFormatMeasurement row =
            CheckFormat(DisplayNameOf(camera.name()), format, 3, nullptr, nullptr);
        std::vector<CFormatMeasurement> rows(15, row);
        CCheckReportInfo info;
        info.strDevice = L"Lookwell Test Camera";
        info.strVersion = LookwellVersion();
        ::GetLocalTime(&info.when);
        wchar_t szFolder[MAX_PATH];
        ::GetTempPathW(MAX_PATH, szFolder);
        std::wstring path = std::wstring(szFolder) + L"lookwell-bench-report.html";
        std::vector<double> formats;
        std::vector<double> writes;
        size_t nBytes = 0;
        for (int i = 0; i < 5; ++i) {
            double dAt = NowMs();
            nBytes = FormatCheckReportHtml(info, rows).size();
            formats.push_back(NowMs() - dAt);
            dAt = NowMs();
            std::wstring error;
            if (!WriteCheckReport(path, info, rows, error)) {
                std::printf("  the report was not written: %ls\n", error.c_str());
            }
            writes.push_back(NowMs() - dAt);
        }
        ::DeleteFileW(path.c_str());
        std::printf("report of 15 formats (%zu bytes), medians of 5: made %.1f ms, made and "
                    "written %.1f ms\n",
                    nBytes, Median(formats), Median(writes));
    }
}
