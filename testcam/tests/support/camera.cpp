#include "camera.h"

#include <uuids.h>

#include <algorithm>
#include <cwchar>

// In the platform's import library, though no header of the toolchain declares it.
EXTERN_C const CLSID CLSID_NullRenderer;

namespace testcam_test {

namespace {

typedef HRESULT(STDAPICALLTYPE* InstallFn)(BOOL, LPCWSTR);
// DllCanUnloadNow, DllRegisterServer and DllUnregisterServer.
typedef HRESULT(STDAPICALLTYPE* PlainFn)();

FARPROC Export(const char* name) {
    HMODULE module = CameraModule();
    return module ? GetProcAddress(module, name) : nullptr;
}

HRESULT CallPlain(const char* name) {
    auto fn = reinterpret_cast<PlainFn>(reinterpret_cast<void*>(Export(name)));
    return fn ? fn() : E_FAIL;
}

} // namespace

HMODULE CameraModule() {
    static HMODULE module = [] {
        wchar_t path[MAX_PATH];
        DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
        wchar_t* slash = wcsrchr(path, L'\\');
        if (length == 0 || length >= MAX_PATH || !slash) {
            return static_cast<HMODULE>(nullptr);
        }
        lstrcpynW(slash + 1, L"lookwell_testcam.dll",
                  static_cast<int>(MAX_PATH - (slash + 1 - path)));
        return LoadLibraryW(path);
    }();
    return module;
}

TestCamStats Stats() {
    TestCamStats stats = {};
    auto get =
        reinterpret_cast<TestCamGetStatsFn>(reinterpret_cast<void*>(Export("TestCamGetStats")));
    if (get) {
        get(&stats);
    }
    return stats;
}

HRESULT CameraCanUnloadNow() {
    return CallPlain("DllCanUnloadNow");
}

HRESULT CameraInstall(BOOL install, const std::wstring& commandLine) {
    auto fn = reinterpret_cast<InstallFn>(reinterpret_cast<void*>(Export("DllInstall")));
    return fn ? fn(install, commandLine.c_str()) : E_FAIL;
}

HRESULT CameraRegister() {
    return CallPlain("DllRegisterServer");
}

HRESULT CameraUnregister() {
    return CallPlain("DllUnregisterServer");
}

ScopedCamera::ScopedCamera(const std::wstring& formats, const std::wstring& options,
                           const std::wstring& name) {
    static LONG serial = 0;
    wchar_t unique[80];
    // Zero-padded: the platform lists devices by name, and so in the order they were made.
    swprintf(unique, 80, L"Lookwell Test Camera %lu-%03ld", GetCurrentProcessId(),
             InterlockedIncrement(&serial));
    name_ = name.empty() ? unique : name;
    hr_ = CameraInstall(TRUE, L"name=" + name_ + L";formats=" + formats + L";options=" + options);
}

ScopedCamera::~ScopedCamera() {
    CameraInstall(FALSE, name_);
}

void ForEachDevice(const std::function<bool(IMoniker*, IPropertyBag*)>& visit) {
    ICreateDevEnum* devenum = nullptr;
    if (FAILED(CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER,
                                IID_ICreateDevEnum, reinterpret_cast<void**>(&devenum)))) {
        return;
    }
    IEnumMoniker* devices = nullptr;
    HRESULT hr = devenum->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &devices, 0);
    devenum->Release();
    if (hr != S_OK) {
        return; // S_FALSE: no device at all
    }
    bool more = true;
    IMoniker* moniker = nullptr;
    while (more && devices->Next(1, &moniker, nullptr) == S_OK) {
        IPropertyBag* bag = nullptr;
        if (SUCCEEDED(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag,
                                             reinterpret_cast<void**>(&bag)))) {
            more = visit(moniker, bag);
            bag->Release();
        }
        moniker->Release();
    }
    devices->Release();
}

std::wstring ReadBag(IPropertyBag* bag, const wchar_t* name) {
    VARIANT v;
    VariantInit(&v);
    std::wstring text;
    if (SUCCEEDED(bag->Read(name, &v, nullptr)) && v.vt == VT_BSTR) {
        text = v.bstrVal;
    }
    VariantClear(&v);
    return text;
}

IMoniker* FindDevice(const std::wstring& friendlyName) {
    IMoniker* found = nullptr;
    ForEachDevice([&](IMoniker* moniker, IPropertyBag* bag) {
        if (ReadBag(bag, L"FriendlyName") == friendlyName) {
            found = moniker;
            found->AddRef();
        }
        return found == nullptr;
    });
    return found;
}

HRESULT BindFilter(const std::wstring& friendlyName, IBaseFilter** filter) {
    *filter = nullptr;
    IMoniker* moniker = FindDevice(friendlyName);
    if (!moniker) {
        return VFW_E_NOT_FOUND;
    }
    HRESULT hr =
        moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, reinterpret_cast<void**>(filter));
    moniker->Release();
    return hr;
}

IPin* GetPin(IBaseFilter* filter, const wchar_t* id) {
    IPin* pin = nullptr;
    if (FAILED(filter->FindPin(id, &pin))) {
        return nullptr;
    }
    return pin;
}

LONGLONG ProcessCpu() {
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    ULARGE_INTEGER k = {{kernel.dwLowDateTime, kernel.dwHighDateTime}};
    ULARGE_INTEGER u = {{user.dwLowDateTime, user.dwHighDateTime}};
    return static_cast<LONGLONG>(k.QuadPart + u.QuadPart);
}

bool PumpMessagesUntil(const std::function<bool()>& done, DWORD ms) {
    ULONGLONG end = GetTickCount64() + ms;
    for (;;) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        if (done && done()) {
            return true;
        }
        ULONGLONG now = GetTickCount64();
        if (now >= end) {
            return false;
        }
        // Wakes for a message at once; other conditions are polled.
        MsgWaitForMultipleObjects(
            0, nullptr, FALSE, static_cast<DWORD>(std::min<ULONGLONG>(10, end - now)), QS_ALLINPUT);
    }
}

void PumpMessagesFor(DWORD ms) {
    PumpMessagesUntil(nullptr, ms);
}

HRESULT CameraGraph::Open(const std::wstring& cameraName) {
    HRESULT hr = CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_IGraphBuilder, reinterpret_cast<void**>(&graph));
    if (SUCCEEDED(hr)) {
        hr = CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC_SERVER,
                              IID_ICaptureGraphBuilder2, reinterpret_cast<void**>(&builder));
    }
    if (SUCCEEDED(hr)) {
        hr = builder->SetFiltergraph(graph);
    }
    if (SUCCEEDED(hr)) {
        hr = graph->QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(&control));
    }
    if (SUCCEEDED(hr)) {
        hr = BindFilter(cameraName, &camera);
    }
    if (SUCCEEDED(hr)) {
        hr = graph->AddFilter(camera, L"Camera");
    }
    return hr;
}

HRESULT CameraGraph::AddNullRenderer() {
    HRESULT hr = CoCreateInstance(CLSID_NullRenderer, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_IBaseFilter, reinterpret_cast<void**>(&sink));
    if (SUCCEEDED(hr)) {
        hr = graph->AddFilter(sink, L"Sink");
    }
    return hr;
}

void CameraGraph::Release() {
    if (control) {
        control->Stop();
    }
    for (IUnknown** p :
         {reinterpret_cast<IUnknown**>(&sink), reinterpret_cast<IUnknown**>(&grabber),
          reinterpret_cast<IUnknown**>(&camera), reinterpret_cast<IUnknown**>(&control),
          reinterpret_cast<IUnknown**>(&builder), reinterpret_cast<IUnknown**>(&graph)}) {
        if (*p) {
            (*p)->Release();
        }
        *p = nullptr;
    }
}

} // namespace testcam_test
