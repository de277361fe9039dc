// The DLL's entry points: class factory, registration and the test-only statistics.
#include "testcam/filter.h"
#include "testcam/module.h"
#include "testcam/page.h"
#include "testcam/registry.h"

#include <new>

namespace testcam {

HMODULE g_module = nullptr;

const CLSID CLSID_LookwellTestCamera = {
    0x5bef085d, 0x938a, 0x4cb9, {0x99, 0x78, 0xd1, 0x40, 0xc7, 0xe1, 0x47, 0xe9}};
const CLSID CLSID_LookwellTestCameraPage = {
    0x2e6a4c1b, 0x7f3d, 0x4b8e, {0x9c, 0x52, 0x1a, 0x0d, 0x6e, 0x3f, 0x8b, 0x47}};

namespace {

volatile LONG g_objects = 0;
volatile LONG g_locks = 0;
volatile LONG g_threads = 0;
volatile LONG g_inReceive = 0;
volatile LONGLONG g_delivered = 0;
volatile LONGLONG g_renderTime = 0;

typedef HRESULT (*CreateFn)(REFIID iid, void** out);

class ClassFactory final : public SingleInterfaceObject<IClassFactory, &IID_IClassFactory> {
public:
    explicit ClassFactory(CreateFn create) : create_(create) {}

    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
        if (!out) {
            return E_POINTER;
        }
        *out = nullptr;
        if (outer) {
            return CLASS_E_NOAGGREGATION;
        }
        return create_(iid, out);
    }
    STDMETHODIMP LockServer(BOOL lock) override {
        LockModule(lock != FALSE);
        return S_OK;
    }

private:
    CreateFn create_;
};

} // namespace

void ObjectCreated() {
    InterlockedIncrement(&g_objects);
}
void ObjectDestroyed() {
    InterlockedDecrement(&g_objects);
}
void LockModule(bool lock) {
    if (lock) {
        InterlockedIncrement(&g_locks);
    } else {
        InterlockedDecrement(&g_locks);
    }
}
bool ModuleInUse() {
    return g_objects != 0 || g_locks != 0;
}

void ThreadStarted() {
    InterlockedIncrement(&g_threads);
}
void ThreadEnded() {
    InterlockedDecrement(&g_threads);
}
void ReceiveStarted() {
    InterlockedIncrement(&g_inReceive);
}
void ReceiveEnded(LONGLONG renderTime) {
    InterlockedIncrement64(&g_delivered);
    InterlockedAdd64(&g_renderTime, renderTime);
    InterlockedDecrement(&g_inReceive);
}

void GetStats(TestCamStats* stats) {
    stats->objects = g_objects;
    stats->threads = g_threads;
    stats->inReceive = g_inReceive;
    stats->delivered = InterlockedCompareExchange64(&g_delivered, 0, 0);
    stats->renderTime = InterlockedCompareExchange64(&g_renderTime, 0, 0);
}

} // namespace testcam

using namespace testcam;

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void*) {
    if (reason == DLL_PROCESS_ATTACH) {
        g_module = instance;
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
    if (!out) {
        return E_POINTER;
    }
    *out = nullptr;
    CreateFn create = nullptr;
    if (clsid == CLSID_LookwellTestCamera) {
        create = Filter::Create;
    } else if (clsid == CLSID_LookwellTestCameraPage) {
        create = CreatePropertyPage;
    } else {
        return CLASS_E_CLASSNOTAVAILABLE;
    }
    ClassFactory* factory = nullptr;
    HRESULT hr = NewObject<ClassFactory>(&factory, create);
    if (FAILED(hr)) {
        return hr;
    }
    hr = factory->QueryInterface(iid, out);
    factory->Release();
    return hr;
}

STDAPI DllCanUnloadNow() {
    return ModuleInUse() ? S_FALSE : S_OK;
}

// Registering the DLL on its own (regsvr32 without /i), as people register a virtual camera,
// leaves a camera to use: the default one when there is no test camera yet.
STDAPI DllRegisterServer() {
    try {
        HRESULT hr = RegisterServer();
        if (SUCCEEDED(hr)) {
            hr = AddDefaultInstanceIfNone();
        }
        return SUCCEEDED(hr) ? S_OK : hr;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

STDAPI DllUnregisterServer() {
    try {
        return UnregisterServer();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

// regsvr32 /n /i:"text" adds a camera instance, regsvr32 /u /n /i:"name" removes one. Without
// /n, regsvr32 calls DllRegisterServer first.
STDAPI DllInstall(BOOL install, LPCWSTR commandLine) {
    try {
        InstallRequest request;
        if (!ParseInstallRequest(commandLine ? commandLine : L"", request)) {
            return E_INVALIDARG;
        }
        return install ? AddInstance(request) : RemoveInstance(request.name);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

void WINAPI TestCamGetStats(TestCamStats* stats) {
    if (stats) {
        GetStats(stats);
    }
}

} // extern "C"
