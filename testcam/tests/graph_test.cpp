// The camera in graphs the platform's capture graph builder puts together, running.
#include "support/camera.h"

#include <qedit.h>
#include <uuids.h>

#include <gtest/gtest.h>

#include <ostream>

#include <cstdio>
#include <vector>

using namespace testcam_test;

// In the platform's import library, though no header of the toolchain declares it.
EXTERN_C const CLSID CLSID_SampleGrabber;

namespace {

LONGLONG Now100ns() {
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return static_cast<LONGLONG>(static_cast<double>(now.QuadPart) * 1e7 /
                                 static_cast<double>(frequency.QuadPart));
}

// Notes every sample the sample grabber passes on: its time stamps and when it came.
class Recorder final : public ISampleGrabberCB {
public:
    struct Frame {
        HRESULT timeResult;
        REFERENCE_TIME start, stop;
        LONGLONG arrival;
        long length;
    };

    Recorder() { InitializeCriticalSection(&lock_); }
    ~Recorder() { DeleteCriticalSection(&lock_); }
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (iid == IID_IUnknown || iid == IID_ISampleGrabberCB) {
            *out = static_cast<ISampleGrabberCB*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override {
        return static_cast<ULONG>(InterlockedIncrement(&refs_));
    }
    STDMETHODIMP_(ULONG) Release() override {
        return static_cast<ULONG>(InterlockedDecrement(&refs_));
    }
    STDMETHODIMP SampleCB(double, IMediaSample* sample) override {
        Frame frame = {};
        frame.timeResult = sample->GetTime(&frame.start, &frame.stop);
        frame.arrival = Now100ns();
        frame.length = sample->GetActualDataLength();
        EnterCriticalSection(&lock_);
        try {
            frames_.push_back(frame);
        } catch (...) {
        }
        LeaveCriticalSection(&lock_);
        return S_OK;
    }
    STDMETHODIMP BufferCB(double, BYTE*, long) override { return E_NOTIMPL; }

    std::vector<Frame> Frames() {
        EnterCriticalSection(&lock_);
        std::vector<Frame> copy = frames_;
        LeaveCriticalSection(&lock_);
        return copy;
    }
    LONG refs() const { return refs_; }

private:
    CRITICAL_SECTION lock_;
    std::vector<Frame> frames_;
    LONG refs_ = 1;
};

// A camera graph that can also hold a sample grabber in front of its sink.
struct Graph : CameraGraph {
    // A sample grabber that tells `recorder`, and a null renderer, both in the graph.
    HRESULT AddGrabber(Recorder* recorder) {
        HRESULT hr = CoCreateInstance(CLSID_SampleGrabber, nullptr, CLSCTX_INPROC_SERVER,
                                      IID_IBaseFilter, reinterpret_cast<void**>(&grabber));
        if (SUCCEEDED(hr)) {
            hr = AddNullRenderer();
        }
        ISampleGrabber* settings = nullptr;
        if (SUCCEEDED(hr)) {
            hr = grabber->QueryInterface(IID_ISampleGrabber, reinterpret_cast<void**>(&settings));
        }
        if (SUCCEEDED(hr)) {
            hr = settings->SetCallback(recorder, 0);
            settings->Release();
        }
        if (SUCCEEDED(hr)) {
            hr = graph->AddFilter(grabber, L"Grabber");
        }
        return hr;
    }

    // Camera -> sample grabber -> null renderer over the capture pin.
    HRESULT RenderToGrabber(Recorder* recorder) {
        HRESULT hr = AddGrabber(recorder);
        if (SUCCEEDED(hr)) {
            hr = builder->RenderStream(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, camera, grabber,
                                       sink);
        }
        return hr;
    }
};

bool RunGraph(IMediaControl* control) {
    HRESULT hr = control->Run();
    if (FAILED(hr)) {
        return false;
    }
    OAFilterState state = State_Stopped;
    return SUCCEEDED(control->GetState(5000, &state)) && state == State_Running;
}

struct RateCase {
    const wchar_t* formats;
    double rate;
    const char* name;
};

// Names the case in test listings, instead of a dump of its bytes.
void PrintTo(const RateCase& c, std::ostream* os) {
    *os << c.name;
}

class FrameRate : public ::testing::TestWithParam<RateCase> {};

} // namespace

TEST(Graph, PreviewWithoutPreviewPinGoesThroughTheSmartTee) {
    ScopedCamera camera(L"RGB24:320x240@30");
    Graph g;
    ASSERT_EQ(S_OK, g.Open(camera.name()));
    EXPECT_EQ(VFW_S_NOPREVIEWPIN, g.builder->RenderStream(&PIN_CATEGORY_PREVIEW, &MEDIATYPE_Video,
                                                          g.camera, nullptr, nullptr));
    LONGLONG before = Stats().delivered;
    ASSERT_TRUE(RunGraph(g.control));
    Pump(500);
    EXPECT_GE(Stats().delivered - before, 5);
    EXPECT_EQ(S_OK, g.control->Stop());
}

TEST(Graph, PreviewPinIsRenderedDirectly) {
    ScopedCamera camera(L"RGB24:320x240@30", L"previewpin");
    Graph g;
    ASSERT_EQ(S_OK, g.Open(camera.name()));
    EXPECT_EQ(S_OK, g.builder->RenderStream(&PIN_CATEGORY_PREVIEW, &MEDIATYPE_Video, g.camera,
                                            nullptr, nullptr));
    IPin* preview = GetPin(g.camera, L"Preview");
    IPin* capture = GetPin(g.camera, L"Capture");
    ASSERT_TRUE(preview && capture);
    IPin* peer = nullptr;
    EXPECT_EQ(S_OK, preview->ConnectedTo(&peer));
    if (peer) {
        peer->Release();
    }
    EXPECT_EQ(VFW_E_NOT_CONNECTED, capture->ConnectedTo(&peer));
    preview->Release();
    capture->Release();
    ASSERT_TRUE(RunGraph(g.control));
    LONGLONG before = Stats().delivered;
    Pump(500);
    EXPECT_GE(Stats().delivered - before, 5);
}

TEST(Graph, PausedGraphWithALiveSourceCannotCue) {
    ScopedCamera camera(L"RGB24:160x120@30");
    Graph g;
    ASSERT_EQ(S_OK, g.Open(camera.name()));
    ASSERT_EQ(VFW_S_NOPREVIEWPIN, g.builder->RenderStream(&PIN_CATEGORY_PREVIEW, &MEDIATYPE_Video,
                                                          g.camera, nullptr, nullptr));
    EXPECT_TRUE(SUCCEEDED(g.control->Pause()));
    OAFilterState state = State_Stopped;
    EXPECT_EQ(VFW_S_CANT_CUE, g.control->GetState(1000, &state));
    EXPECT_EQ(State_Paused, state);
    // Nothing flows while paused.
    LONGLONG before = Stats().delivered;
    Pump(200);
    EXPECT_EQ(before, Stats().delivered);
}

TEST(Graph, PausedCameraCannotCueOnlyWhileConnected) {
    ScopedCamera camera(L"RGB24:160x120@30");
    Graph g;
    ASSERT_EQ(S_OK, g.Open(camera.name()));
    ASSERT_EQ(S_OK, g.AddNullRenderer());
    ASSERT_EQ(S_OK, g.builder->RenderStream(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, g.camera,
                                            nullptr, g.sink));
    FILTER_STATE state = State_Stopped;
    ASSERT_EQ(S_OK, g.camera->Pause());
    EXPECT_EQ(VFW_S_CANT_CUE, g.camera->GetState(0, &state));
    EXPECT_EQ(State_Paused, state);
    ASSERT_EQ(S_OK, g.camera->Stop());

    IPin* pin = GetPin(g.camera, L"Capture");
    ASSERT_NE(nullptr, pin);
    IPin* peer = nullptr;
    ASSERT_EQ(S_OK, pin->ConnectedTo(&peer));
    EXPECT_EQ(S_OK, g.graph->Disconnect(peer));
    EXPECT_EQ(S_OK, g.graph->Disconnect(pin));
    peer->Release();
    pin->Release();
    ASSERT_EQ(S_OK, g.camera->Pause());
    EXPECT_EQ(S_OK, g.camera->GetState(0, &state));
    EXPECT_EQ(State_Paused, state);
    EXPECT_EQ(S_OK, g.camera->Stop());
}

TEST_P(FrameRate, FramesArriveAtTheConfiguredRateWithIncreasingStamps) {
    ScopedCamera camera(GetParam().formats);
    Recorder recorder;
    {
        Graph g;
        ASSERT_EQ(S_OK, g.Open(camera.name()));
        ASSERT_EQ(S_OK, g.RenderToGrabber(&recorder));
        ASSERT_TRUE(RunGraph(g.control));
        Pump(2500);
        EXPECT_EQ(S_OK, g.control->Stop());
    }
    EXPECT_EQ(1, recorder.refs());
    std::vector<Recorder::Frame> frames = recorder.Frames();
    ASSERT_GE(frames.size(), 10u);
    // Measured over the steady part, after the first half second.
    size_t first = 0;
    while (first < frames.size() && frames[first].arrival - frames[0].arrival < 5000000) {
        ++first;
    }
    ASSERT_LT(first + 5, frames.size());
    const Recorder::Frame& a = frames[first];
    const Recorder::Frame& b = frames.back();
    double measured = static_cast<double>(frames.size() - 1 - first) * 1e7 /
                      static_cast<double>(b.arrival - a.arrival);
    EXPECT_NEAR(GetParam().rate, measured, GetParam().rate * 0.1);

    LONGLONG interval = static_cast<LONGLONG>(1e7 / GetParam().rate + 0.5);
    for (size_t i = 0; i < frames.size(); ++i) {
        ASSERT_EQ(S_OK, frames[i].timeResult) << i;
        EXPECT_EQ(interval, frames[i].stop - frames[i].start) << i;
        if (i > 0) {
            EXPECT_GT(frames[i].start, frames[i - 1].start) << i;
        }
    }
    EXPECT_GE(frames[0].start, 0);
}

INSTANTIATE_TEST_SUITE_P(Rates, FrameRate,
                         ::testing::Values(RateCase{L"RGB24:320x240@15", 15.0, "Rgb24At15"},
                                           RateCase{L"YUY2:320x240@30", 30.0, "Yuy2At30"},
                                           RateCase{L"RGB24:160x120@60", 60.0, "Rgb24At60"},
                                           RateCase{L"RGB24:160x120@0", 30.0, "NoFrameTime"}),
                         [](const ::testing::TestParamInfo<RateCase>& param) {
                             return std::string(param.param.name);
                         });

TEST(Graph, StopEndsTheThreadAndTheFrames) {
    ScopedCamera camera(L"RGB24:320x240@30");
    Recorder recorder;
    Graph g;
    ASSERT_EQ(S_OK, g.Open(camera.name()));
    ASSERT_EQ(S_OK, g.RenderToGrabber(&recorder));
    ASSERT_TRUE(RunGraph(g.control));
    Pump(300);
    EXPECT_EQ(1, Stats().threads);
    EXPECT_EQ(S_OK, g.control->Stop());
    TestCamStats stopped = Stats();
    EXPECT_EQ(0, stopped.threads);
    EXPECT_EQ(0, stopped.inReceive);
    size_t seen = recorder.Frames().size();
    EXPECT_GE(seen, 3u);
    Pump(300);
    EXPECT_EQ(stopped.delivered, Stats().delivered);
    EXPECT_EQ(seen, recorder.Frames().size());
}

TEST(Graph, PauseRunStopAHundredTimes) {
    ScopedCamera camera(L"RGB24:160x120@60");
    Recorder recorder;
    Graph g;
    ASSERT_EQ(S_OK, g.Open(camera.name()));
    ASSERT_EQ(S_OK, g.RenderToGrabber(&recorder));
    for (int i = 0; i < 100; ++i) {
        ASSERT_TRUE(SUCCEEDED(g.control->Pause())) << i;
        ASSERT_TRUE(SUCCEEDED(g.control->Run())) << i;
        if (i % 10 == 0) {
            Pump(40);
        }
        ASSERT_EQ(S_OK, g.control->Stop()) << i;
        TestCamStats stats = Stats();
        ASSERT_EQ(0, stats.threads) << i;
        ASSERT_EQ(0, stats.inReceive) << i;
    }
    LONGLONG delivered = Stats().delivered;
    Pump(100);
    EXPECT_EQ(delivered, Stats().delivered);
    // Still streams after all that.
    ASSERT_TRUE(RunGraph(g.control));
    Pump(300);
    EXPECT_GE(Stats().delivered - delivered, 5);
}

TEST(Graph, ReleasedGraphReleasesTheCamera) {
    ScopedCamera camera(L"RGB24:320x240@30", L"previewpin");
    {
        Graph g;
        ASSERT_EQ(S_OK, g.Open(camera.name()));
        ASSERT_EQ(S_OK, g.builder->RenderStream(&PIN_CATEGORY_PREVIEW, &MEDIATYPE_Video, g.camera,
                                                nullptr, nullptr));
        ASSERT_EQ(S_OK, g.builder->RenderStream(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, g.camera,
                                                nullptr, nullptr));
        ASSERT_TRUE(RunGraph(g.control));
        Pump(300);
        EXPECT_EQ(2, Stats().threads);
        EXPECT_EQ(S_OK, g.control->Stop());
        EXPECT_GE(Stats().objects, 1);
    }
    EXPECT_EQ(0, Stats().objects);
    EXPECT_EQ(0, Stats().threads);
    EXPECT_EQ(S_OK, CameraCanUnloadNow());
}

TEST(Graph, SetFormatOnAConnectedPinReconnects) {
    ScopedCamera camera(L"RGB24:320x240@30,RGB24:160x120@30");
    Recorder recorder;
    Graph g;
    ASSERT_EQ(S_OK, g.Open(camera.name()));
    // Connected directly: Wine's smart tee keeps its outputs' old allocator across a
    // reconnection of its input, and then passes nothing on.
    ASSERT_EQ(S_OK, g.AddGrabber(&recorder));
    IPin* pin = GetPin(g.camera, L"Capture");
    IPin* grabberIn = GetPin(g.grabber, L"In");
    ASSERT_TRUE(pin && grabberIn);
    ASSERT_EQ(S_OK, g.graph->ConnectDirect(pin, grabberIn, nullptr));
    grabberIn->Release();
    IPin* grabberOut = GetPin(g.grabber, L"Out");
    ASSERT_NE(nullptr, grabberOut);
    ASSERT_EQ(S_OK, g.graph->Render(grabberOut));
    grabberOut->Release();

    IAMStreamConfig* config = nullptr;
    ASSERT_EQ(S_OK, pin->QueryInterface(IID_IAMStreamConfig, reinterpret_cast<void**>(&config)));
    AM_MEDIA_TYPE* mt = nullptr;
    VIDEO_STREAM_CONFIG_CAPS caps;
    ASSERT_EQ(S_OK, config->GetStreamCaps(1, &mt, reinterpret_cast<BYTE*>(&caps)));
    EXPECT_EQ(S_OK, config->SetFormat(mt));
    CoTaskMemFree(mt->pbFormat);
    CoTaskMemFree(mt);
    AM_MEDIA_TYPE connected = {};
    ASSERT_EQ(S_OK, pin->ConnectionMediaType(&connected));
    EXPECT_EQ(160, reinterpret_cast<VIDEOINFOHEADER*>(connected.pbFormat)->bmiHeader.biWidth);
    CoTaskMemFree(connected.pbFormat);
    config->Release();
    pin->Release();

    ASSERT_TRUE(RunGraph(g.control));
    Pump(300);
    std::vector<Recorder::Frame> frames = recorder.Frames();
    ASSERT_GE(frames.size(), 3u);
    EXPECT_EQ(160 * 120 * 3, frames.back().length);
}

namespace {

struct DeviceCase {
    const wchar_t* formats;
    const wchar_t* options;
    const char* name;
};

void PrintTo(const DeviceCase& c, std::ostream* os) {
    *os << c.name;
}

class SpecialDevice : public ::testing::TestWithParam<DeviceCase> {};

} // namespace

TEST_P(SpecialDevice, StillStreamsThroughTheCaptureGraphBuilder) {
    ScopedCamera camera(GetParam().formats, GetParam().options);
    Recorder recorder;
    Graph g;
    ASSERT_EQ(S_OK, g.Open(camera.name()));
    ASSERT_EQ(S_OK, g.RenderToGrabber(&recorder));
    ASSERT_TRUE(RunGraph(g.control));
    Pump(400);
    EXPECT_EQ(S_OK, g.control->Stop());
    EXPECT_GE(recorder.Frames().size(), 5u);
}

INSTANTIATE_TEST_SUITE_P(
    Quirks, SpecialDevice,
    ::testing::Values(DeviceCase{L"RGB24:160x120@30", L"nostreamconfig", "NoStreamConfig"},
                      DeviceCase{L"RGB24:160x120@30", L"capssize=64", "CapsSize64"},
                      DeviceCase{L"RGB24:160x120@30:vih2", L"", "VideoInfo2"},
                      DeviceCase{L"RGB32:1920x1080@60", L"", "BitRateOver2G"}),
    [](const ::testing::TestParamInfo<DeviceCase>& param) {
        return std::string(param.param.name);
    });

// Measured on Wine 8: the graph's Run answers S_FALSE when it starts from stopped, whatever
// the camera's Run answers (the renderer's Pause cannot cue yet). Its GetState polls a filter
// between states until the timeout runs out, then answers VFW_S_STATE_INTERMEDIATE.
TEST(Graph, StuckRunNeverReachesRunning) {
    ScopedCamera camera(L"RGB24:160x120@30", L"stuckrun");
    Graph g;
    ASSERT_EQ(S_OK, g.Open(camera.name()));
    ASSERT_EQ(S_OK, g.AddNullRenderer());
    ASSERT_EQ(S_OK, g.builder->RenderStream(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, g.camera,
                                            nullptr, g.sink));
    LONGLONG delivered = Stats().delivered;
    EXPECT_EQ(S_FALSE, g.control->Run());

    OAFilterState state = State_Stopped;
    LONGLONG start = Now100ns();
    LONGLONG cpu = ProcessCpu();
    EXPECT_EQ(VFW_S_STATE_INTERMEDIATE, g.control->GetState(5000, &state));
    LONGLONG waited = (Now100ns() - start) / 10000;
    cpu = (ProcessCpu() - cpu) / 10000;
    EXPECT_EQ(State_Running, state);
    EXPECT_GE(waited, 4900);
    EXPECT_LT(waited, 7000);
    // The camera makes the graph's poll wait, not spin (about 2 s of processor time if it did).
    EXPECT_LT(cpu, 1000);

    FILTER_STATE own = State_Stopped;
    EXPECT_EQ(VFW_S_STATE_INTERMEDIATE, g.camera->GetState(0, &own));
    EXPECT_EQ(State_Running, own);
    EXPECT_EQ(delivered, Stats().delivered);
    EXPECT_EQ(0, Stats().inReceive);

    // Pause and Stop settle it, at once.
    EXPECT_TRUE(SUCCEEDED(g.control->Pause()));
    EXPECT_EQ(VFW_S_CANT_CUE, g.control->GetState(0, &state));
    EXPECT_EQ(State_Paused, state);
    EXPECT_EQ(S_OK, g.control->Stop());
    EXPECT_EQ(S_OK, g.control->GetState(0, &state));
    EXPECT_EQ(State_Stopped, state);
    EXPECT_EQ(0, Stats().threads);
}
