// The sink filter base asked what the platform's own conformance tests ask a renderer, with the
// same calls made on the platform's null renderer in the same test: the same answers, or a
// marked exception where ours differs on purpose. The upstream is the test camera, straight or
// behind the platform's smart tee.
#include "media/sink_filter.h"

#include <uuids.h>

#include <gtest/gtest.h>

#include "support/camera.h"
#include "support/wait.h"

#include <cstdio>
#include <cstring>
#include <functional>
#include <iterator>
#include <sstream>

// In the platform's import library, though no header of the toolchain declares it.
EXTERN_C const CLSID CLSID_NullRenderer;

using testcam_test::CameraReleased;
using testcam_test::kPatienceMs;
using testcam_test::PumpMessagesUntil;
using testcam_test::ScopedCamera;
using testcam_test::Stats;

namespace {

// {5B0E7C1A-94D2-4E6B-8F31-2A7C6D9E0B45}
const CLSID CLSID_TestSink = {
    0x5b0e7c1a, 0x94d2, 0x4e6b, {0x8f, 0x31, 0x2a, 0x7c, 0x6d, 0x9e, 0x0b, 0x45}};

std::string Hr(HRESULT hr) {
    static const HRESULT codes[] = {S_OK,
                                    S_FALSE,
                                    E_POINTER,
                                    E_NOINTERFACE,
                                    E_NOTIMPL,
                                    E_INVALIDARG,
                                    E_UNEXPECTED,
                                    VFW_E_NOT_CONNECTED,
                                    VFW_E_ALREADY_CONNECTED,
                                    VFW_E_NOT_STOPPED,
                                    VFW_E_WRONG_STATE,
                                    VFW_E_NO_ALLOCATOR,
                                    VFW_E_NOT_FOUND,
                                    VFW_E_INVALID_DIRECTION,
                                    VFW_S_STATE_INTERMEDIATE};
    static const char* const names[] = {
        "S_OK",         "S_FALSE",      "E_POINTER",     "E_NOINTERFACE",     "E_NOTIMPL",
        "E_INVALIDARG", "E_UNEXPECTED", "NOT_CONNECTED", "ALREADY_CONNECTED", "NOT_STOPPED",
        "WRONG_STATE",  "NO_ALLOCATOR", "NOT_FOUND",     "INVALID_DIRECTION", "STATE_INTERMEDIATE"};
    for (size_t i = 0; i < std::size(codes); ++i) {
        if (codes[i] == hr) {
            return names[i];
        }
    }
    char sz[16];
    std::snprintf(sz, sizeof(sz), "%#lx", static_cast<unsigned long>(hr));
    return sz;
}

// Says what it was told, in order (samples only the first two times), and counts samples.
class CRecorder final : public CSinkConsumer {
public:
    HRESULT OnConnect(const AM_MEDIA_TYPE&) noexcept override { return Log("connect"); }
    void OnDisconnect() noexcept override { Log("disconnect"); }
    void OnRun(REFERENCE_TIME) noexcept override { Log("run"); }
    void OnPause() noexcept override { Log("pause"); }
    void OnStop() noexcept override { Log("stop"); }
    HRESULT OnSample(const CSampleView& sample) noexcept override {
        CSingleLock lock(m_lock);
        m_nTimed += sample.bHasStart && sample.nArrival != 0 && sample.nLength > 0 ? 1 : 0;
        return ++m_nSamples <= 2 ? Log("sample") : S_OK;
    }
    void OnEndOfStream() noexcept override { Log("eos"); }
    void OnBeginFlush() noexcept override { Log("flush"); }
    void OnEndFlush() noexcept override { Log("endflush"); }

    CCriticalSection m_lock;
    std::string m_strLog;
    long m_nSamples = 0;
    long m_nTimed = 0; // samples with an arrival, a start time and bytes: the camera's

private:
    HRESULT Log(const char* psz) noexcept {
        CSingleLock lock(m_lock);
        m_strLog += (m_strLog.empty() ? "" : " ") + std::string(psz);
        return S_OK;
    }
};

// One filter under test in a graph with a camera of its own, and a sample to hand it.
struct CSubject {
    CComRef<IGraphBuilder> pGraph;
    CComRef<IBaseFilter> pFilter;
    CComRef<IPin> pPin;
    CComRef<IMemInputPin> pInput;
    CComRef<IBaseFilter> pCamera;
    CComRef<IPin> pCapture;
    std::vector<MediaTypeHolder> types; // the camera's
    CComRef<IMemAllocator> pAllocator;
    CComRef<IMediaSample> pSample; // released before its allocator

    bool Open(IBaseFilter* pSubject, const std::wstring& camera) {
        pSubject->QueryInterface(IID_IBaseFilter, pFilter.Out());
        CComRef<IEnumMediaTypes> pTypes;
        ALLOCATOR_PROPERTIES wanted{1, 64, 1, 0};
        ALLOCATOR_PROPERTIES actual{};
        if (::CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC, IID_IGraphBuilder,
                               pGraph.Out()) != S_OK ||
            pGraph->AddFilter(pFilter, L"sink") != S_OK || pFilter->FindPin(L"In", &pPin) != S_OK ||
            pPin->QueryInterface(IID_IMemInputPin, pInput.Out()) != S_OK ||
            testcam_test::BindFilter(camera, &pCamera) != S_OK ||
            pGraph->AddFilter(pCamera, L"camera") != S_OK ||
            FindCapturePin(pCamera, &pCapture) != S_OK ||
            pCapture->EnumMediaTypes(&pTypes) != S_OK ||
            ::CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC, IID_IMemAllocator,
                               pAllocator.Out()) != S_OK ||
            pAllocator->SetProperties(&wanted, &actual) != S_OK || pAllocator->Commit() != S_OK ||
            pAllocator->GetBuffer(&pSample, nullptr, nullptr, 0) != S_OK) {
            return false;
        }
        pSample->SetActualDataLength(64);
        for (AM_MEDIA_TYPE* pmt = nullptr; pTypes->Next(1, &pmt, nullptr) == S_OK;) {
            types.emplace_back(pmt, DeleteMediaType);
        }
        return !types.empty();
    }
    std::string Receive() { return Hr(pInput->Receive(pSample)); }
};

void Supports(std::ostream& a, IUnknown* pObject, std::initializer_list<const IID*> iids) {
    for (const IID* piid : iids) {
        CComRef<IUnknown> pAny;
        a << Hr(pObject->QueryInterface(*piid, pAny.Out())) << " ";
    }
}

// Whether every interface answers with one IUnknown.
void Identity(std::ostream& a, IUnknown* pObject, std::initializer_list<const IID*> iids) {
    IUnknown* pFirst = nullptr;
    bool bOne = true;
    for (const IID* piid : iids) {
        CComRef<IUnknown> pInterface;
        CComRef<IUnknown> pIdentity;
        pObject->QueryInterface(*piid, pInterface.Out());
        pInterface->QueryInterface(IID_IUnknown, pIdentity.Out());
        pFirst = pFirst != nullptr ? pFirst : static_cast<IUnknown*>(pIdentity);
        bOne = bOne && pIdentity == pFirst;
    }
    a << (bOne ? "one identity" : "two identities");
}

long RefCount(IUnknown* p) {
    p->AddRef();
    return static_cast<long>(p->Release());
}

std::string NextPins(IEnumPins* pEnum, ULONG nWanted, bool bCount) {
    IPin* pins[2] = {};
    ULONG nFetched = 99;
    std::string strAnswer = Hr(pEnum->Next(nWanted, pins, bCount ? &nFetched : nullptr));
    for (IPin* pPin : pins) {
        if (pPin != nullptr) {
            pPin->Release();
        }
    }
    return bCount ? strAnswer + " got " + std::to_string(nFetched) : strAnswer;
}

// Where a tap on the preview sits: on the camera's capture pin, or on the capture output of the
// smart tee that the capture graph builder puts in for a preview, which hands over its input's
// allocator, read-only, without asking for one. The graph run until the camera has handed over
// five samples. (The graph's Run itself answers S_FALSE with the renderer, whose pause waits
// for a first picture, and S_OK with ours.)
void Stream(CSubject& s, std::ostream& a, bool bTee) {
    CComRef<IBaseFilter> pTee;
    CComRef<IPin> pTeeInput;
    CComRef<IPin> pFrom;
    CComRef<IMediaControl> pControl;
    s.pCapture->QueryInterface(IID_IPin, pFrom.Out());
    if (bTee) {
        pFrom.Release();
        ::CoCreateInstance(CLSID_SmartTee, nullptr, CLSCTX_INPROC, IID_IBaseFilter, pTee.Out());
        a << Hr(s.pGraph->AddFilter(pTee, L"tee")) << " " << Hr(pTee->FindPin(L"Input", &pTeeInput))
          << " " << Hr(pTee->FindPin(L"Capture", &pFrom)) << " "
          << Hr(s.pGraph->ConnectDirect(s.pCapture, pTeeInput, nullptr)) << ", ";
    }
    s.pGraph->QueryInterface(IID_IMediaControl, pControl.Out());
    LONGLONG nBefore = Stats().delivered;
    a << Hr(s.pGraph->ConnectDirect(pFrom, s.pPin, nullptr))
      << (SUCCEEDED(pControl->Run()) ? " runs" : " does not run")
      << (PumpMessagesUntil([&] { return Stats().delivered >= nBefore + 5; }, kPatienceMs)
              ? " taken"
              : " not taken")
      << " " << Hr(pControl->Stop()) << " " << Hr(s.pGraph->Disconnect(s.pPin));
    s.pGraph->Disconnect(pFrom);
    s.pGraph->Disconnect(s.pCapture);
    if (bTee) {
        s.pGraph->Disconnect(pTeeInput);
        s.pGraph->RemoveFilter(pTee);
    }
}

// Each step writes its answers left to right (`<<` is sequenced in that order).
struct CStep {
    const char* pszName;
    void (*call)(CSubject& s, std::ostream& a);
    // Null: the platform's answer. Else ours, where it differs on purpose (the comment says why).
    const char* pszOurs = nullptr;
    // Asked of ours only: the platform's answer is to hold the calling thread.
    bool bOursOnly = false;
};

const CStep kSteps[] = {
    {"filter interfaces, identity, info",
     [](CSubject& s, std::ostream& a) {
         Supports(a, s.pFilter,
                  {&IID_IUnknown, &IID_IPersist, &IID_IMediaFilter, &IID_IBaseFilter, &IID_IPin,
                   &IID_IAMFilterMiscFlags, &IID_IQualProp, &IID_IVideoWindow, &IID_IBasicVideo});
         Identity(a, s.pFilter,
                  {&IID_IUnknown, &IID_IPersist, &IID_IMediaFilter, &IID_IBaseFilter});
         FILTER_INFO info{};
         a << ", info " << Hr(s.pFilter->QueryFilterInfo(&info))
           << (std::wstring(info.achName) == L"sink" && info.pGraph != nullptr ? " in the graph"
                                                                               : " ?");
         if (info.pGraph != nullptr) {
             info.pGraph->Release();
         }
     }},
    // A live stream has no position to seek; without these the graph does not count the sink
    // as a renderer and does not wait for an EC_COMPLETE of its. No quality messages either: a
    // camera is not slowed down for a sink.
    {"filter seeking and quality",
     [](CSubject& s, std::ostream& a) {
         Supports(a, s.pFilter, {&IID_IMediaSeeking, &IID_IMediaPosition, &IID_IQualityControl});
     },
     "E_NOINTERFACE E_NOINTERFACE E_NOINTERFACE "},
    {"pin interfaces, identity, count",
     [](CSubject& s, std::ostream& a) {
         Supports(a, s.pPin,
                  {&IID_IUnknown, &IID_IPin, &IID_IMemInputPin, &IID_IBaseFilter,
                   &IID_IMediaSeeking, &IID_IMediaPosition, &IID_IKsPropertySet,
                   &IID_IQualityControl});
         Identity(a, s.pPin, {&IID_IUnknown, &IID_IPin, &IID_IMemInputPin});
         a << (RefCount(s.pPin) == RefCount(s.pFilter) ? ", the filter's count" : ", its own");
     }},
    {"EnumPins",
     [](CSubject& s, std::ostream& a) {
         CComRef<IEnumPins> pEnum;
         CComRef<IEnumPins> pClone;
         long nBefore = RefCount(s.pFilter);
         a << Hr(s.pFilter->EnumPins(nullptr)) << " " << Hr(s.pFilter->EnumPins(&pEnum))
           << " holds " << RefCount(s.pFilter) - nBefore << ", next "
           << Hr(pEnum->Next(1, nullptr, nullptr)) << " " << NextPins(pEnum, 1, false) << " "
           << NextPins(pEnum, 1, true) << ", two " << Hr(pEnum->Reset()) << " "
           << NextPins(pEnum, 2, false) << " " << NextPins(pEnum, 2, true) << ", clone "
           << Hr(pEnum->Reset()) << " " << Hr(pEnum->Clone(&pClone)) << ", skip "
           << Hr(pEnum->Skip(2)) << " " << Hr(pEnum->Skip(1)) << " " << Hr(pEnum->Skip(1)) << " "
           << NextPins(pEnum, 1, false) << ", the clone " << NextPins(pClone, 1, true);
     }},
    {"FindPin and the pin's info",
     [](CSubject& s, std::ostream& a) {
         CComRef<IPin> pFound;
         CComRef<IPin> pNone;
         CComRef<IEnumPins> pEnum;
         CComRef<IPin> pEnumerated;
         PIN_INFO info{};
         s.pFilter->EnumPins(&pEnum);
         pEnum->Next(1, &pEnumerated, nullptr);
         a << Hr(s.pFilter->FindPin(L"input pin", &pNone)) << " "
           << Hr(s.pFilter->FindPin(L"In", &pFound))
           << (pFound == pEnumerated ? " the enumerated one" : " another") << ", info "
           << Hr(s.pPin->QueryPinInfo(&info))
           << (info.pFilter == s.pFilter && info.dir == PINDIR_INPUT ? " input of the filter" : "?")
           << (std::wstring(info.achName) == L"In" ? " In" : " ?") << ", internal "
           << Hr(s.pPin->QueryInternalConnections(nullptr, nullptr));
         if (info.pFilter != nullptr) {
             info.pFilter->Release();
         }
     }},
    // Media types: none proposed, every one taken.
    {"EnumMediaTypes and QueryAccept",
     [](CSubject& s, std::ostream& a) {
         CComRef<IEnumMediaTypes> pEnum;
         CComRef<IEnumMediaTypes> pClone;
         AM_MEDIA_TYPE* types[2] = {};
         AM_MEDIA_TYPE empty{};
         ULONG nFetched = 99;
         a << Hr(s.pPin->EnumMediaTypes(&pEnum)) << " " << Hr(pEnum->Next(1, types, nullptr)) << " "
           << Hr(pEnum->Next(1, types, &nFetched)) << " got " << nFetched << " "
           << Hr(pEnum->Next(2, types, nullptr)) << " " << Hr(pEnum->Reset()) << " "
           << Hr(pEnum->Clone(&pClone)) << " " << Hr(pEnum->Skip(1)) << " "
           << Hr(pClone->Next(1, types, nullptr)) << ", accepts "
           << Hr(s.pPin->QueryAccept(&empty));
         for (const MediaTypeHolder& pType : s.types) {
             a << " " << Hr(s.pPin->QueryAccept(pType.get()));
         }
     }},
    {"unconnected",
     [](CSubject& s, std::ostream& a) {
         IPin* pPeer = s.pPin;
         AM_MEDIA_TYPE mt{};
         a << Hr(s.pPin->ConnectedTo(&pPeer)) << (pPeer == nullptr ? " null" : " a pin")
           << ", type " << Hr(s.pPin->ConnectionMediaType(&mt)) << ", disconnect "
           << Hr(s.pPin->Disconnect()) << ", receive " << s.Receive() << ", connect "
           << Hr(s.pPin->Connect(s.pCapture, s.types[0].get())) << ", from an input pin "
           << Hr(s.pPin->ReceiveConnection(s.pPin, s.types[0].get()));
     }},
    {"allocator",
     [](CSubject& s, std::ostream& a) {
         CComRef<IMemAllocator> pNone;
         CComRef<IMemAllocator> pNotified;
         ALLOCATOR_PROPERTIES props{};
         a << Hr(s.pInput->GetAllocator(&pNone)) << " "
           << Hr(s.pInput->GetAllocatorRequirements(&props)) << " "
           << Hr(s.pInput->NotifyAllocator(nullptr, TRUE)) << " "
           << Hr(s.pInput->NotifyAllocator(s.pAllocator, TRUE)) << " "
           << Hr(s.pInput->GetAllocator(&pNotified))
           << (pNotified == s.pAllocator ? " the notified one" : " another");
     }},
    // The streaming thread is never held up in it: the renderer's is, to present pictures.
    {"ReceiveCanBlock", [](CSubject& s, std::ostream& a) { a << Hr(s.pInput->ReceiveCanBlock()); },
     "S_FALSE"},
    {"connected with each of the camera's types, twice, and taken apart",
     [](CSubject& s, std::ostream& a) {
         for (const MediaTypeHolder& pType : s.types) {
             const AM_MEDIA_TYPE& mt = *pType;
             CComRef<IPin> pPeer;
             CComRef<IMemAllocator> pUpstreams;
             CComRef<IMemAllocator> pNone;
             AM_MEDIA_TYPE connected{};
             a << Hr(s.pGraph->ConnectDirect(s.pCapture, s.pPin, &mt)) << " to "
               << Hr(s.pPin->ConnectedTo(&pPeer)) << (pPeer == s.pCapture ? " the camera" : " ?")
               << ", type " << Hr(s.pPin->ConnectionMediaType(&connected))
               << (connected.subtype == mt.subtype && connected.cbFormat == mt.cbFormat &&
                           std::memcmp(connected.pbFormat, mt.pbFormat, mt.cbFormat) == 0
                       ? " the same"
                       : " another")
               << ", allocator " << Hr(s.pInput->GetAllocator(&pUpstreams)) << ", again "
               << Hr(s.pPin->ReceiveConnection(s.pCapture, &mt)) << ", off "
               << Hr(s.pGraph->Disconnect(s.pPin)) << " " << Hr(s.pGraph->Disconnect(s.pPin)) << " "
               << Hr(s.pGraph->Disconnect(s.pCapture)) << ", allocator "
               << Hr(s.pInput->GetAllocator(&pNone)) << "; ";
             FreeMediaType(connected);
         }
     }},
    // States, flushing and end of stream, connected, the filter driven directly. A live
    // stream's sink has no first picture to cue: a pause is complete at once, and the graph's
    // GetState answers without waiting.
    {"connect and pause",
     [](CSubject& s, std::ostream& a) {
         FILTER_STATE state = State_Stopped;
         a << Hr(s.pGraph->ConnectDirect(s.pCapture, s.pPin, s.types[0].get())) << " "
           << Hr(s.pFilter->Pause()) << " " << Hr(s.pFilter->GetState(0, &state))
           << (state == State_Paused ? " paused" : " not paused");
     },
     "S_OK S_OK S_OK paused"},
    {"paused: a connection, a disconnection",
     [](CSubject& s, std::ostream& a) {
         a << Hr(s.pPin->ReceiveConnection(s.pCapture, s.types[0].get())) << " "
           << Hr(s.pPin->Disconnect());
     }},
    // The renderer holds a sample that comes while paused until it runs, to show it as the
    // first picture; ours takes it at once and never holds the camera's thread.
    {"paused: a sample",
     [](CSubject& s, std::ostream& a) {
         FILTER_STATE state = State_Stopped;
         a << s.Receive() << " " << Hr(s.pFilter->GetState(0, &state));
     },
     "S_OK S_OK", true},
    {"run",
     [](CSubject& s, std::ostream& a) {
         FILTER_STATE state = State_Stopped;
         a << Hr(s.pFilter->Run(0)) << " " << Hr(s.pFilter->GetState(0, &state))
           << (state == State_Running ? " running " : " not running ") << s.Receive();
     }},
    {"flushing; end of stream, then a flush",
     [](CSubject& s, std::ostream& a) {
         a << Hr(s.pPin->BeginFlush()) << " " << s.Receive() << " " << Hr(s.pPin->EndFlush()) << " "
           << s.Receive() << ", eos " << Hr(s.pPin->EndOfStream()) << " " << s.Receive() << " "
           << Hr(s.pPin->BeginFlush()) << " " << Hr(s.pPin->EndFlush()) << " " << s.Receive();
     }},
    // While flushing an end of stream is dropped (S_FALSE), as the interface documents: the
    // flush overtook it, and the consumer is not told of an end that did not happen.
    {"end of stream while flushing",
     [](CSubject& s, std::ostream& a) {
         a << Hr(s.pPin->BeginFlush()) << " " << Hr(s.pPin->EndOfStream()) << " "
           << Hr(s.pPin->EndFlush()) << " " << s.Receive();
     },
     "S_OK S_FALSE S_OK S_OK"},
    {"stop and disconnect",
     [](CSubject& s, std::ostream& a) {
         FILTER_STATE state = State_Running;
         a << Hr(s.pFilter->Stop()) << " " << Hr(s.pFilter->GetState(0, &state))
           << (state == State_Stopped ? " stopped " : " not stopped ") << s.Receive() << " "
           << Hr(s.pGraph->Disconnect(s.pPin)) << " " << Hr(s.pGraph->Disconnect(s.pCapture));
     }},
    {"streams from the camera's capture pin",
     [](CSubject& s, std::ostream& a) { Stream(s, a, false); }},
    {"streams from a smart tee's capture output",
     [](CSubject& s, std::ostream& a) { Stream(s, a, true); }},
};

} // namespace

TEST(SinkFilter, AnswersWhatThePlatformsNullRendererAnswers) {
    ScopedCamera camera(L"RGB24:160x120@30,RGB32:160x120@30,YUY2:160x120@30,NV12:160x120@30,"
                        L"MJPG:160x120@30");
    ASSERT_EQ(S_OK, camera.result());
    {
        CComRef<IBaseFilter> pNull;
        ASSERT_EQ(S_OK, ::CoCreateInstance(CLSID_NullRenderer, nullptr, CLSCTX_INPROC,
                                           IID_IBaseFilter, pNull.Out()));
        CSinkRef<CRecorder> ours;
        ASSERT_EQ(S_OK, ours.Create(CLSID_TestSink, L"Test Sink"));
        CSubject platform;
        CSubject subject;
        ASSERT_TRUE(platform.Open(pNull, camera.name()));
        ASSERT_TRUE(subject.Open(ours.Filter(), camera.name()));
        ASSERT_EQ(5u, subject.types.size());
        for (const CStep& step : kSteps) {
            SCOPED_TRACE(step.pszName);
            std::ostringstream platformAnswer;
            std::ostringstream ourAnswer;
            if (!step.bOursOnly) {
                step.call(platform, platformAnswer);
            }
            step.call(subject, ourAnswer);
            if (step.pszOurs == nullptr) {
                EXPECT_EQ(platformAnswer.str(), ourAnswer.str());
            } else {
                EXPECT_EQ(step.pszOurs, ourAnswer.str());
                EXPECT_NE(platformAnswer.str(), ourAnswer.str()) << "the platform's is the same";
            }
        }
        // Told once per change, and only of the samples it took.
        std::string strExpected;
        for (size_t i = 0; i < subject.types.size(); ++i) {
            strExpected += "connect disconnect ";
        }
        EXPECT_EQ(strExpected + "connect pause sample run sample flush endflush eos flush endflush "
                                "flush endflush stop disconnect connect pause run pause stop "
                                "disconnect connect pause run pause stop disconnect",
                  ours.Consumer().m_strLog);
        EXPECT_LE(10, ours.Consumer().m_nTimed) << "the camera's samples with their times";
    }
    EXPECT_TRUE(CameraReleased());
}
