// Test helpers around the camera DLL and the platform's device enumerator; shared by the
// tests and the benchmark.
#pragma once

#include "framework/object.h"
#include "testcam/stats.h"

#include <dshow.h>

#include <functional>
#include <string>

namespace testcam_test {

// The camera DLL next to this executable, loaded once so its statistics can be read.
HMODULE CameraModule();
TestCamStats Stats();
HRESULT CameraCanUnloadNow();
HRESULT CameraInstall(BOOL install, const std::wstring& commandLine);
HRESULT CameraRegister();
HRESULT CameraUnregister();

// A camera instance registered for the life of the object under a name of its own, so
// that tests running side by side in one prefix never meet, and nothing is left behind.
class ScopedCamera : private CNoCopy {
public:
    // A name given is used as it is: the test makes it its own.
    explicit ScopedCamera(const std::wstring& formats = L"", const std::wstring& options = L"",
                          const std::wstring& name = L"");
    ~ScopedCamera();

    const std::wstring& name() const { return name_; }
    HRESULT result() const { return hr_; }

private:
    std::wstring name_;
    HRESULT hr_;
};

// Walks the video input devices the platform's enumerator lists, in its order, handing each
// one's moniker and property bag to `visit` until it answers false.
void ForEachDevice(const std::function<bool(IMoniker*, IPropertyBag*)>& visit);
// A text value of a device's property bag; empty when it has none.
std::wstring ReadBag(IPropertyBag* bag, const wchar_t* name);
// The enumerated device of that friendly name, or null.
IMoniker* FindDevice(const std::wstring& friendlyName);
HRESULT BindFilter(const std::wstring& friendlyName, IBaseFilter** filter);
// The filter's pin of that id, or null.
IPin* GetPin(IBaseFilter* filter, const wchar_t* id);
// The object's interface, or null.
template <class T> T* Query(IUnknown* object, REFIID iid) {
    T* out = nullptr;
    object->QueryInterface(iid, reinterpret_cast<void**>(&out));
    return out;
}

// A filter graph with the capture graph builder and the bound camera in it. Stops the graph
// and releases everything with the object.
struct CameraGraph : private CNoCopy {
    IGraphBuilder* graph = nullptr;
    ICaptureGraphBuilder2* builder = nullptr;
    IMediaControl* control = nullptr;
    IBaseFilter* camera = nullptr;
    IBaseFilter* grabber = nullptr;
    IBaseFilter* sink = nullptr;

    ~CameraGraph() { Release(); }

    HRESULT Open(const std::wstring& cameraName);
    // A null renderer in the graph, as `sink`.
    HRESULT AddNullRenderer();
    void Release();
};

// User and kernel time of the whole process, in 100 ns units.
LONGLONG ProcessCpu();

// How long a wait for a condition may last: room for a 2-core machine that runs a build and
// other busy processes besides the test, where what takes milliseconds when it is quiet has
// taken seconds. A bound, not a delay.
constexpr DWORD kPatienceMs = 20000;

// Dispatches this thread's messages (the renderer's window lives here) until `done` holds or
// `ms` milliseconds have passed; whether it held. Tests wait through support/wait.h, which says
// what did not happen.
bool PumpMessagesUntil(const std::function<bool()>& done, DWORD ms);
// Dispatches this thread's messages for `ms` milliseconds, letting time pass: the benchmark's
// measuring windows, and a test's check that nothing happens meanwhile.
void PumpMessagesFor(DWORD ms);

} // namespace testcam_test
