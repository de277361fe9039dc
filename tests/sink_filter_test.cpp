// The sink filter base asked what the platform's own conformance tests ask a renderer, with the
// same calls made on the platform's null renderer in the same test: the same answers, or a
// marked exception where ours differs on purpose. The upstream is the test camera.
#include "media/sink_filter.h"

#include <uuids.h>

#include <gtest/gtest.h>

#include "support/camera.h"

#include <cstdio>
#include <cstring>
#include <functional>
#include <sstream>

// In the platform's import library, though no header of the toolchain declares it.
EXTERN_C const CLSID CLSID_NullRenderer;

using testcam_test::ScopedCamera;
using testcam_test::Stats;

namespace {

// {5B0E7C1A-94D2-4E6B-8F31-2A7C6D9E0B45}
const CLSID CLSID_TestSink = {
    0x5b0e7c1a, 0x94d2, 0x4e6b, {0x8f, 0x31, 0x2a, 0x7c, 0x6d, 0x9e, 0x0b, 0x45}};

std::string Hr(HRESULT hr) {
    static const struct {
        HRESULT hr;
        const char* psz;
    } names[] = {{S_OK, "S_OK"},
                 {S_FALSE, "S_FALSE"},
                 {E_POINTER, "E_POINTER"},
                 {E_NOINTERFACE, "E_NOINTERFACE"},
                 {E_NOTIMPL, "E_NOTIMPL"},
                 {E_INVALIDARG, "E_INVALIDARG"},
                 {E_UNEXPECTED, "E_UNEXPECTED"},
                 {VFW_E_NOT_CONNECTED, "NOT_CONNECTED"},
                 {VFW_E_ALREADY_CONNECTED, "ALREADY_CONNECTED"},
                 {VFW_E_NOT_STOPPED, "NOT_STOPPED"},
                 {VFW_E_WRONG_STATE, "WRONG_STATE"},
                 {VFW_E_NO_ALLOCATOR, "NO_ALLOCATOR"},
                 {VFW_E_NOT_FOUND, "NOT_FOUND"},
                 {VFW_E_INVALID_DIRECTION, "INVALID_DIRECTION"},
                 {VFW_E_TYPE_NOT_ACCEPTED, "TYPE_NOT_ACCEPTED"},
                 {VFW_S_STATE_INTERMEDIATE, "STATE_INTERMEDIATE"}};
    for (const auto& name : names) {
        if (name.hr == hr) {
            return name.psz;
        }
    }
    char sz[16];
    std::snprintf(sz, sizeof(sz), "%#lx", static_cast<unsigned long>(hr));
    return sz;
}

// Tells what it was told, in order; samples counted, and whether they carried times.
class CRecorder final : public CSinkConsumer {
public:
    HRESULT OnConnect(const AM_MEDIA_TYPE&) noexcept override { return Log("connect"); }
    void OnDisconnect() noexcept override { Log("disconnect"); }
    void OnRun(REFERENCE_TIME) noexcept override { Log("run"); }
    void OnPause() noexcept override { Log("pause"); }
    void OnStop() noexcept override { Log("stop"); }
    HRESULT OnSample(const CSampleView& sample) noexcept override {
        CSingleLock lock(m_lock);
        ++m_nSamples;
        m_bTimes = m_bTimes && sample.bHasStart && sample.nArrival != 0 && sample.nLength > 0;
        return m_nSamples <= 2 ? Log("sample") : S_OK;
    }
    void OnEndOfStream() noexcept override { Log("eos"); }
    void OnBeginFlush() noexcept override { Log("flush"); }
    void OnEndFlush() noexcept override { Log("endflush"); }

    std::string m_strLog;
    CCriticalSection m_lock;
    long m_nSamples = 0;
    bool m_bTimes = true;

private:
    HRESULT Log(const char* psz) noexcept {
        CSingleLock lock(m_lock);
        m_strLog += m_strLog.empty() ? psz : std::string(" ") + psz;
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
    std::vector<MediaTypeHolder> types; // the camera's, in its order
    CComRef<IMemAllocator> pAllocator;
    CComRef<IMediaSample> pSample;

    bool Open(IBaseFilter* pSubject, const std::wstring& camera) {
        pSubject->QueryInterface(IID_IBaseFilter, pFilter.Out());
        CComRef<IAMStreamConfig> pConfig;
        int nCount = 0;
        int nSize = 0;
        ALLOCATOR_PROPERTIES wanted{1, 64, 1, 0};
        ALLOCATOR_PROPERTIES actual{};
        if (::CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC, IID_IGraphBuilder,
                               pGraph.Out()) != S_OK ||
            pGraph->AddFilter(pFilter, L"sink") != S_OK || pFilter->FindPin(L"In", &pPin) != S_OK ||
            pPin->QueryInterface(IID_IMemInputPin, pInput.Out()) != S_OK ||
            testcam_test::BindFilter(camera, &pCamera) != S_OK ||
            pGraph->AddFilter(pCamera, L"camera") != S_OK ||
            FindCapturePin(pCamera, &pCapture) != S_OK ||
            pCapture->QueryInterface(IID_IAMStreamConfig, pConfig.Out()) != S_OK ||
            pConfig->GetNumberOfCapabilities(&nCount, &nSize) != S_OK ||
            ::CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC, IID_IMemAllocator,
                               pAllocator.Out()) != S_OK ||
            pAllocator->SetProperties(&wanted, &actual) != S_OK || pAllocator->Commit() != S_OK ||
            pAllocator->GetBuffer(&pSample, nullptr, nullptr, 0) != S_OK) {
            return false;
        }
        pSample->SetActualDataLength(64);
        for (int i = 0; i < nCount; ++i) {
            AM_MEDIA_TYPE* pmt = nullptr;
            VIDEO_STREAM_CONFIG_CAPS caps;
            if (pConfig->GetStreamCaps(i, &pmt, reinterpret_cast<BYTE*>(&caps)) == S_OK) {
                types.emplace_back(pmt, DeleteMediaType);
            }
        }
        return !types.empty();
    }
    void Close() {
        if (pGraph != nullptr) {
            pGraph->Disconnect(pCapture);
            pGraph->Disconnect(pPin);
        }
        pSample.Release();
        if (pAllocator != nullptr) {
            pAllocator->Decommit();
        }
    }
};

// Until the condition holds or the time is up; the condition's last answer.
bool WaitFor(const std::function<bool()>& condition, DWORD nMs) {
    ULONGLONG nDeadline = ::GetTickCount64() + nMs;
    while (!condition() && ::GetTickCount64() < nDeadline) {
        ::Sleep(10);
    }
    return condition();
}

std::string Receive(CSubject& s) {
    return Hr(s.pInput->Receive(s.pSample));
}

std::string Supports(IUnknown* pObject, std::initializer_list<const IID*> iids) {
    std::ostringstream answer;
    for (const IID* piid : iids) {
        CComRef<IUnknown> pAny;
        answer << Hr(pObject->QueryInterface(*piid, pAny.Out())) << " ";
    }
    return answer.str();
}

// Whether every interface answers with one IUnknown.
std::string OneIdentity(IUnknown* pObject, std::initializer_list<const IID*> iids) {
    IUnknown* pFirst = nullptr;
    for (const IID* piid : iids) {
        CComRef<IUnknown> pInterface;
        CComRef<IUnknown> pIdentity;
        pObject->QueryInterface(*piid, pInterface.Out());
        pInterface->QueryInterface(IID_IUnknown, pIdentity.Out());
        pFirst = pFirst != nullptr ? pFirst : static_cast<IUnknown*>(pIdentity);
        if (pIdentity != pFirst) {
            return "two identities";
        }
    }
    return "one identity";
}

long RefCount(IUnknown* p) {
    p->AddRef();
    return static_cast<long>(p->Release());
}

std::string NextPins(IEnumPins* pEnum, ULONG nWanted, bool bCount) {
    IPin* pins[2] = {};
    ULONG nFetched = 99;
    std::ostringstream answer;
    answer << Hr(pEnum->Next(nWanted, pins, bCount ? &nFetched : nullptr));
    if (bCount) {
        answer << " got " << nFetched;
    }
    for (IPin* pPin : pins) {
        if (pPin != nullptr) {
            pPin->Release();
        }
    }
    return answer.str();
}

std::string ConnectEach(CSubject& s) {
    std::ostringstream answer;
    for (const MediaTypeHolder& pType : s.types) {
        const AM_MEDIA_TYPE& mt = *pType;
        CComRef<IPin> pPeer;
        CComRef<IMemAllocator> pAllocator;
        AM_MEDIA_TYPE connected{};
        answer << Hr(s.pGraph->ConnectDirect(s.pCapture, s.pPin, &mt));
        answer << " to " << Hr(s.pPin->ConnectedTo(&pPeer))
               << (pPeer == s.pCapture ? " the camera" : " another pin");
        answer << ", type " << Hr(s.pPin->ConnectionMediaType(&connected));
        answer << (connected.subtype == mt.subtype && connected.cbFormat == mt.cbFormat &&
                           std::memcmp(connected.pbFormat, mt.pbFormat, mt.cbFormat) == 0
                       ? " the same"
                       : " another");
        FreeMediaType(connected);
        answer << ", allocator " << Hr(s.pInput->GetAllocator(&pAllocator));
        answer << ", again " << Hr(s.pPin->ReceiveConnection(s.pCapture, &mt));
        answer << ", off " << Hr(s.pGraph->Disconnect(s.pPin)) << " "
               << Hr(s.pGraph->Disconnect(s.pPin));
        s.pGraph->Disconnect(s.pCapture);
        pAllocator.Release();
        answer << ", allocator " << Hr(s.pInput->GetAllocator(&pAllocator)) << "; ";
    }
    return answer.str();
}

struct CStep {
    const char* pszName;
    std::string (*call)(CSubject& s);
    // Null: the platform's answer. Else ours, where it differs on purpose (the comment says why).
    const char* pszOurs;
    // Asked of ours only, where the platform's answer is to hold the calling thread.
    bool bOursOnly = false;
};

const CStep kSteps[] = {
    // Interfaces and identity.
    {"filter interfaces",
     [](CSubject& s) {
         return Supports(s.pFilter, {&IID_IUnknown, &IID_IPersist, &IID_IMediaFilter,
                                     &IID_IBaseFilter, &IID_IPin, &IID_IAMFilterMiscFlags,
                                     &IID_IQualProp, &IID_IVideoWindow, &IID_IBasicVideo});
     },
     nullptr},
    // A live stream has no position to seek; without these the graph does not count the sink
    // as a renderer and does not wait for an EC_COMPLETE of its.
    {"filter seeking",
     [](CSubject& s) {
         return Supports(s.pFilter, {&IID_IMediaSeeking, &IID_IMediaPosition});
     },
     "E_NOINTERFACE E_NOINTERFACE "},
    // No quality messages: a camera is not slowed down for a sink.
    {"filter quality control",
     [](CSubject& s) { return Supports(s.pFilter, {&IID_IQualityControl}); }, "E_NOINTERFACE "},
    {"pin interfaces",
     [](CSubject& s) {
         return Supports(s.pPin, {&IID_IUnknown, &IID_IPin, &IID_IMemInputPin, &IID_IBaseFilter,
                                  &IID_IMediaSeeking, &IID_IMediaPosition, &IID_IKsPropertySet,
                                  &IID_IQualityControl});
     },
     nullptr},
    {"filter identity",
     [](CSubject& s) {
         return OneIdentity(s.pFilter,
                            {&IID_IUnknown, &IID_IPersist, &IID_IMediaFilter, &IID_IBaseFilter});
     },
     nullptr},
    {"pin identity",
     [](CSubject& s) {
         return OneIdentity(s.pPin, {&IID_IUnknown, &IID_IPin, &IID_IMemInputPin});
     },
     nullptr},
    {"the pin shares the filter's count",
     [](CSubject& s) {
         return std::string(RefCount(s.pPin) == RefCount(s.pFilter) ? "shared" : "its own");
     },
     nullptr},
    {"filter info in the graph",
     [](CSubject& s) {
         FILTER_INFO info{};
         std::ostringstream answer;
         answer << Hr(s.pFilter->QueryFilterInfo(&info))
                << (std::wstring(info.achName) == L"sink" ? " sink" : " another name")
                << (info.pGraph != nullptr ? " in a graph" : " no graph");
         if (info.pGraph != nullptr) {
             info.pGraph->Release();
         }
         return answer.str();
     },
     nullptr},

    // The pin enumeration.
    {"EnumPins",
     [](CSubject& s) {
         CComRef<IEnumPins> pEnum;
         CComRef<IEnumPins> pClone;
         long nBefore = RefCount(s.pFilter);
         std::ostringstream answer;
         answer << Hr(s.pFilter->EnumPins(nullptr)) << " " << Hr(s.pFilter->EnumPins(&pEnum))
                << " holds " << RefCount(s.pFilter) - nBefore;
         answer << ", next " << Hr(pEnum->Next(1, nullptr, nullptr)) << " "
                << NextPins(pEnum, 1, false) << " " << NextPins(pEnum, 1, true);
         pEnum->Reset();
         answer << ", two " << NextPins(pEnum, 2, false) << " " << NextPins(pEnum, 2, true);
         pEnum->Reset();
         answer << ", clone " << Hr(pEnum->Clone(&pClone));
         answer << ", skip " << Hr(pEnum->Skip(2)) << " " << Hr(pEnum->Skip(1)) << " "
                << Hr(pEnum->Skip(1)) << " " << NextPins(pEnum, 1, false);
         answer << ", the clone " << NextPins(pClone, 1, true);
         return answer.str();
     },
     nullptr},
    {"FindPin and the pin's info",
     [](CSubject& s) {
         CComRef<IPin> pFound;
         CComRef<IPin> pNone;
         CComRef<IEnumPins> pEnum;
         CComRef<IPin> pEnumerated;
         PIN_INFO info{};
         PIN_DIRECTION dir = PINDIR_OUTPUT;
         LPWSTR pszId = nullptr;
         std::ostringstream answer;
         answer << Hr(s.pFilter->FindPin(L"input pin", &pNone)) << " "
                << Hr(s.pFilter->FindPin(L"In", &pFound));
         s.pFilter->EnumPins(&pEnum);
         pEnum->Next(1, &pEnumerated, nullptr);
         answer << (pFound == pEnumerated ? " the enumerated one" : " another");
         answer << ", info " << Hr(s.pPin->QueryPinInfo(&info))
                << (info.pFilter == s.pFilter ? " of the filter" : " of another")
                << (info.dir == PINDIR_INPUT && std::wstring(info.achName) == L"In" ? " In" : "?");
         if (info.pFilter != nullptr) {
             info.pFilter->Release();
         }
         answer << ", direction " << Hr(s.pPin->QueryDirection(&dir))
                << (dir == PINDIR_INPUT ? " input" : " output");
         answer << ", id " << Hr(s.pPin->QueryId(&pszId))
                << (pszId != nullptr && std::wstring(pszId) == L"In" ? " In" : " ?");
         ::CoTaskMemFree(pszId);
         answer << ", internal " << Hr(s.pPin->QueryInternalConnections(nullptr, nullptr));
         return answer.str();
     },
     nullptr},

    // Media types: none proposed, every one taken.
    {"EnumMediaTypes",
     [](CSubject& s) {
         CComRef<IEnumMediaTypes> pEnum;
         CComRef<IEnumMediaTypes> pClone;
         AM_MEDIA_TYPE* types[2] = {};
         ULONG nFetched = 99;
         std::ostringstream answer;
         answer << Hr(s.pPin->EnumMediaTypes(&pEnum)) << " " << Hr(pEnum->Next(1, types, nullptr))
                << " " << Hr(pEnum->Next(1, types, &nFetched)) << " got " << nFetched << " "
                << Hr(pEnum->Next(2, types, nullptr)) << " " << Hr(pEnum->Reset()) << " "
                << Hr(pEnum->Clone(&pClone)) << " " << Hr(pEnum->Skip(1)) << " "
                << Hr(pClone->Next(1, types, nullptr));
         return answer.str();
     },
     nullptr},
    {"QueryAccept, an empty type and the camera's",
     [](CSubject& s) {
         AM_MEDIA_TYPE empty{};
         std::ostringstream answer;
         answer << Hr(s.pPin->QueryAccept(&empty));
         for (const MediaTypeHolder& pType : s.types) {
             answer << " " << Hr(s.pPin->QueryAccept(pType.get()));
         }
         return answer.str();
     },
     nullptr},

    // Unconnected.
    {"unconnected",
     [](CSubject& s) {
         IPin* pPeer = s.pPin;
         AM_MEDIA_TYPE mt{};
         std::ostringstream answer;
         answer << Hr(s.pPin->ConnectedTo(&pPeer)) << (pPeer == nullptr ? " null" : " a pin");
         answer << ", type " << Hr(s.pPin->ConnectionMediaType(&mt));
         answer << ", disconnect " << Hr(s.pPin->Disconnect()) << ", receive " << Receive(s);
         return answer.str();
     },
     nullptr},
    {"allocator",
     [](CSubject& s) {
         CComRef<IMemAllocator> pAllocator;
         ALLOCATOR_PROPERTIES props{};
         std::ostringstream answer;
         answer << Hr(s.pInput->GetAllocator(&pAllocator)) << " "
                << Hr(s.pInput->GetAllocatorRequirements(&props)) << " "
                << Hr(s.pInput->NotifyAllocator(nullptr, TRUE)) << " "
                << Hr(s.pInput->NotifyAllocator(s.pAllocator, TRUE));
         pAllocator.Release();
         answer << " " << Hr(s.pInput->GetAllocator(&pAllocator))
                << (pAllocator == s.pAllocator ? " the notified one" : " another");
         return answer.str();
     },
     nullptr},
    // The streaming thread is never held up in it: the renderer's is, to present pictures.
    {"ReceiveCanBlock", [](CSubject& s) { return Hr(s.pInput->ReceiveCanBlock()); }, "S_FALSE"},
    {"Connect and a connection from an input pin",
     [](CSubject& s) {
         std::ostringstream answer;
         answer << Hr(s.pPin->Connect(s.pCapture, s.types[0].get())) << " "
                << Hr(s.pPin->ReceiveConnection(s.pPin, s.types[0].get()));
         return answer.str();
     },
     nullptr},
    {"connected with each of the camera's types, twice, and taken apart", ConnectEach, nullptr},

    // States, flushing and end of stream, connected, the filter driven directly.
    {"connect",
     [](CSubject& s) { return Hr(s.pGraph->ConnectDirect(s.pCapture, s.pPin, s.types[0].get())); },
     nullptr},
    // A live stream's sink has no first picture to cue: a pause is complete at once, as the
    // graph's GetState then answers without waiting.
    {"pause",
     [](CSubject& s) {
         FILTER_STATE state = State_Stopped;
         std::ostringstream answer;
         answer << Hr(s.pFilter->Pause()) << " " << Hr(s.pFilter->GetState(0, &state))
                << (state == State_Paused ? " paused" : " not paused");
         return answer.str();
     },
     "S_OK S_OK paused"},
    {"paused: a connection, a disconnection",
     [](CSubject& s) {
         std::ostringstream answer;
         answer << Hr(s.pPin->ReceiveConnection(s.pCapture, s.types[0].get())) << " "
                << Hr(s.pPin->Disconnect());
         return answer.str();
     },
     nullptr},
    // The renderer holds a sample that comes while paused until it runs, to show it as the
    // first picture; ours takes it at once and never holds the camera's thread.
    {"paused: a sample",
     [](CSubject& s) {
         FILTER_STATE state = State_Stopped;
         std::ostringstream answer;
         answer << Receive(s) << " " << Hr(s.pFilter->GetState(0, &state));
         return answer.str();
     },
     "S_OK S_OK", true},
    {"run",
     [](CSubject& s) {
         FILTER_STATE state = State_Stopped;
         std::ostringstream answer;
         answer << Hr(s.pFilter->Run(0)) << " " << Hr(s.pFilter->GetState(0, &state))
                << (state == State_Running ? " running " : " not running ") << Receive(s);
         return answer.str();
     },
     nullptr},
    {"flushing",
     [](CSubject& s) {
         std::ostringstream answer;
         answer << Hr(s.pPin->BeginFlush()) << " " << Receive(s) << " " << Hr(s.pPin->EndFlush())
                << " " << Receive(s);
         return answer.str();
     },
     nullptr},
    {"end of stream, then a flush",
     [](CSubject& s) {
         std::ostringstream answer;
         answer << Hr(s.pPin->EndOfStream()) << " " << Receive(s) << " " << Hr(s.pPin->BeginFlush())
                << " " << Hr(s.pPin->EndFlush()) << " " << Receive(s);
         return answer.str();
     },
     nullptr},
    // While flushing an end of stream is dropped (S_FALSE), as the interface documents: the
    // flush overtook it, and the consumer is not told of an end that did not happen.
    {"end of stream while flushing",
     [](CSubject& s) {
         std::ostringstream answer;
         answer << Hr(s.pPin->BeginFlush()) << " " << Hr(s.pPin->EndOfStream()) << " "
                << Hr(s.pPin->EndFlush()) << " " << Receive(s);
         return answer.str();
     },
     "S_OK S_FALSE S_OK S_OK"},
    {"stop",
     [](CSubject& s) {
         FILTER_STATE state = State_Running;
         std::ostringstream answer;
         answer << Hr(s.pFilter->Stop()) << " " << Hr(s.pFilter->GetState(0, &state))
                << (state == State_Stopped ? " stopped " : " not stopped ") << Receive(s);
         return answer.str();
     },
     nullptr},
    {"disconnect", [](CSubject& s) { return Hr(s.pGraph->Disconnect(s.pPin)); }, nullptr},
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
            std::string strPlatform = step.bOursOnly ? "" : step.call(platform);
            std::string strOurs = step.call(subject);
            if (step.pszOurs == nullptr) {
                EXPECT_EQ(strPlatform, strOurs);
            } else {
                EXPECT_EQ(step.pszOurs, strOurs);
                EXPECT_NE(strPlatform, strOurs) << "the platform answers the same now";
            }
        }
        // Told once per change, and only of the samples it took.
        std::string strConnections;
        for (size_t i = 0; i < subject.types.size(); ++i) {
            strConnections += "connect disconnect ";
        }
        EXPECT_EQ(strConnections + "connect pause sample run sample flush endflush eos flush "
                                   "endflush flush endflush stop disconnect",
                  ours.Consumer().m_strLog);
        platform.Close();
        subject.Close();
    }
    EXPECT_TRUE(WaitFor([] { return Stats().objects == 0; }, 5000)) << "the camera released";
}

// Where a tap on the preview sits: on the camera's capture pin, or on the capture output of the
// smart tee that the capture graph builder puts in for a preview, which hands over its input's
// allocator, read-only, without asking for one. Samples flow into ours from both, as into the
// null renderer, with their times.
TEST(SinkFilter, TakesSamplesFromTheCameraAndFromASmartTeesCaptureOutput) {
    ScopedCamera camera(L"RGB24:160x120@30");
    ASSERT_EQ(S_OK, camera.result());
    for (bool bTee : {false, true}) {
        for (bool bOurs : {false, true}) {
            SCOPED_TRACE(std::string(bTee ? "smart tee, " : "camera, ") +
                         (bOurs ? "ours" : "null renderer"));
            CComRef<IGraphBuilder> pGraph;
            CComRef<IBaseFilter> pCamera;
            CComRef<IPin> pCapture;
            CComRef<IBaseFilter> pTee;
            CComRef<IPin> pTeeInput;
            CComRef<IPin> pTeeCapture;
            CSinkRef<CRecorder> ours;
            CComRef<IBaseFilter> pSink;
            CComRef<IPin> pSinkPin;
            CComRef<IMediaControl> pControl;
            ASSERT_EQ(S_OK, ::CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC,
                                               IID_IGraphBuilder, pGraph.Out()));
            ASSERT_EQ(S_OK, testcam_test::BindFilter(camera.name(), &pCamera));
            ASSERT_EQ(S_OK, FindCapturePin(pCamera, &pCapture));
            if (bOurs) {
                ASSERT_EQ(S_OK, ours.Create(CLSID_TestSink, L"Test Sink"));
                ours.Filter()->QueryInterface(IID_IBaseFilter, pSink.Out());
            } else {
                ASSERT_EQ(S_OK, ::CoCreateInstance(CLSID_NullRenderer, nullptr, CLSCTX_INPROC,
                                                   IID_IBaseFilter, pSink.Out()));
            }
            ASSERT_EQ(S_OK, pSink->FindPin(L"In", &pSinkPin));
            ASSERT_EQ(S_OK, pGraph->AddFilter(pCamera, L"camera"));
            ASSERT_EQ(S_OK, pGraph->AddFilter(pSink, L"sink"));
            IPin* pFrom = pCapture;
            if (bTee) {
                ASSERT_EQ(S_OK, ::CoCreateInstance(CLSID_SmartTee, nullptr, CLSCTX_INPROC,
                                                   IID_IBaseFilter, pTee.Out()));
                ASSERT_EQ(S_OK, pGraph->AddFilter(pTee, L"tee"));
                ASSERT_EQ(S_OK, pTee->FindPin(L"Input", &pTeeInput));
                ASSERT_EQ(S_OK, pTee->FindPin(L"Capture", &pTeeCapture));
                ASSERT_EQ(S_OK, pGraph->ConnectDirect(pCapture, pTeeInput, nullptr));
                pFrom = pTeeCapture;
            }
            EXPECT_EQ(S_OK, pGraph->ConnectDirect(pFrom, pSinkPin, nullptr));
            ASSERT_EQ(S_OK, pGraph->QueryInterface(IID_IMediaControl, pControl.Out()));
            LONGLONG nBefore = Stats().delivered;
            EXPECT_TRUE(SUCCEEDED(pControl->Run()));
            EXPECT_TRUE(WaitFor([&] { return Stats().delivered >= nBefore + 5; }, 10000))
                << "five samples taken within 10 s";
            EXPECT_EQ(S_OK, pControl->Stop());
            if (bOurs) {
                CSingleLock lock(ours.Consumer().m_lock);
                EXPECT_LE(5, ours.Consumer().m_nSamples);
                EXPECT_TRUE(ours.Consumer().m_bTimes) << "arrival, start time and bytes";
            }
            pGraph->Disconnect(pFrom);
            pGraph->Disconnect(pSinkPin);
            if (bTee) {
                pGraph->Disconnect(pCapture);
                pGraph->Disconnect(pTeeInput);
            }
        }
    }
    EXPECT_TRUE(WaitFor([] { return Stats().objects == 0; }, 5000)) << "the camera released";
}
