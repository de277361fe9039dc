#include "testcam/registry.h"
#include "testcam/module.h"

#include <dshow.h>
#include <uuids.h>

#include <vector>

namespace testcam {

namespace {

std::wstring GuidString(const GUID& guid) {
    wchar_t text[40];
    StringFromGUID2(guid, text, 40);
    return text;
}

std::wstring InstanceRoot() {
    return L"CLSID\\" + GuidString(CLSID_VideoInputDeviceCategory) + L"\\Instance";
}

std::wstring ServerKey() {
    return L"CLSID\\" + GuidString(CLSID_LookwellTestCamera);
}

HRESULT SetString(HKEY key, const wchar_t* name, const std::wstring& value) {
    LONG err = RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                              static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    return HRESULT_FROM_WIN32(static_cast<unsigned long>(err));
}

// Whether the category's instance `name` belongs to this camera.
bool IsOurInstance(const std::wstring& name) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, (InstanceRoot() + L"\\" + name).c_str(), 0, KEY_READ,
                      &key) != ERROR_SUCCESS) {
        return false;
    }
    wchar_t clsid[40] = {};
    DWORD bytes = sizeof(clsid) - sizeof(wchar_t);
    DWORD type = 0;
    LONG err =
        RegQueryValueExW(key, L"CLSID", nullptr, &type, reinterpret_cast<BYTE*>(clsid), &bytes);
    RegCloseKey(key);
    return err == ERROR_SUCCESS && type == REG_SZ &&
           lstrcmpiW(clsid, GuidString(CLSID_LookwellTestCamera).c_str()) == 0;
}

// COM for the length of a registration call; regsvr32 may or may not have started it.
class ComScope {
public:
    ComScope() : hr_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
    ~ComScope() {
        if (SUCCEEDED(hr_)) {
            CoUninitialize();
        }
    }
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;

private:
    HRESULT hr_;
};

// The names of this camera's instances in the category.
std::vector<std::wstring> OurInstances() {
    std::vector<std::wstring> ours;
    HKEY root = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, InstanceRoot().c_str(), 0, KEY_READ, &root) ==
        ERROR_SUCCESS) {
        wchar_t name[256];
        for (DWORD i = 0;; ++i) {
            DWORD length = 256;
            if (RegEnumKeyExW(root, i, name, &length, nullptr, nullptr, nullptr, nullptr) !=
                ERROR_SUCCESS) {
                break;
            }
            if (IsOurInstance(name)) {
                ours.push_back(name);
            }
        }
        RegCloseKey(root);
    }
    return ours;
}

HRESULT WriteBagString(IPropertyBag* bag, const wchar_t* name, const std::wstring& value) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocStringLen(value.data(), static_cast<UINT>(value.size()));
    if (!v.bstrVal) {
        return E_OUTOFMEMORY;
    }
    HRESULT hr = bag->Write(name, &v);
    VariantClear(&v);
    return hr;
}

} // namespace

HRESULT RegisterServer() {
    wchar_t path[MAX_PATH];
    DWORD length = GetModuleFileNameW(g_module, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return E_FAIL;
    }
    HKEY server = nullptr;
    LONG err = RegCreateKeyExW(HKEY_CLASSES_ROOT, (ServerKey() + L"\\InprocServer32").c_str(), 0,
                               nullptr, 0, KEY_WRITE, nullptr, &server, nullptr);
    if (err != ERROR_SUCCESS) {
        return HRESULT_FROM_WIN32(static_cast<unsigned long>(err));
    }
    HRESULT hr = SetString(server, nullptr, path);
    // The filter is called from the graph's threads and its own.
    if (SUCCEEDED(hr)) {
        hr = SetString(server, L"ThreadingModel", L"Both");
    }
    RegCloseKey(server);
    HKEY clsid = nullptr;
    if (SUCCEEDED(hr) && RegOpenKeyExW(HKEY_CLASSES_ROOT, ServerKey().c_str(), 0, KEY_WRITE,
                                       &clsid) == ERROR_SUCCESS) {
        hr = SetString(clsid, nullptr, L"Lookwell Test Camera");
        RegCloseKey(clsid);
    }
    return hr;
}

HRESULT UnregisterServer() {
    for (const std::wstring& name : OurInstances()) {
        HRESULT hr = RemoveInstance(name);
        if (FAILED(hr)) {
            return hr;
        }
    }
    LONG err = RegDeleteTreeW(HKEY_CLASSES_ROOT, ServerKey().c_str());
    if (err != ERROR_SUCCESS && err != ERROR_FILE_NOT_FOUND) {
        return HRESULT_FROM_WIN32(static_cast<unsigned long>(err));
    }
    return S_OK;
}

HRESULT AddDefaultInstanceIfNone() {
    if (!OurInstances().empty()) {
        return S_FALSE;
    }
    InstallRequest request;
    request.name = Config().friendlyName;
    return AddInstance(request);
}

HRESULT AddInstance(const InstallRequest& request) {
    ComScope com;
    // A fresh entry, so no value of an earlier configuration lingers.
    if (IsOurInstance(request.name)) {
        RemoveInstance(request.name);
    }

    IFilterMapper2* mapper = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_IFilterMapper2, reinterpret_cast<void**>(&mapper));
    if (FAILED(hr)) {
        return hr;
    }
    REGPINTYPES type = {&MEDIATYPE_Video, &MEDIASUBTYPE_NULL};
    REGFILTERPINS2 pin = {};
    pin.dwFlags = REG_PINFLAG_B_OUTPUT;
    pin.cInstances = 1;
    pin.nMediaTypes = 1;
    pin.lpMediaType = &type;
    pin.clsPinCategory = &PIN_CATEGORY_CAPTURE;
    REGFILTER2 filter = {};
    filter.dwVersion = 2;
    filter.dwMerit = MERIT_DO_NOT_USE;
    filter.cPins2 = 1;
    filter.rgPins2 = &pin;
    IMoniker* moniker = nullptr;
    hr = mapper->RegisterFilter(CLSID_LookwellTestCamera, request.name.c_str(), &moniker,
                                &CLSID_VideoInputDeviceCategory, request.name.c_str(), &filter);
    mapper->Release();
    if (FAILED(hr)) {
        return hr;
    }

    IPropertyBag* bag = nullptr;
    hr = moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, reinterpret_cast<void**>(&bag));
    moniker->Release();
    if (SUCCEEDED(hr)) {
        if (!request.formats.empty()) {
            hr = WriteBagString(bag, L"Formats", request.formats);
        }
        if (SUCCEEDED(hr) && !request.options.empty()) {
            hr = WriteBagString(bag, L"Options", request.options);
        }
        bag->Release();
    }
    if (FAILED(hr)) {
        RemoveInstance(request.name);
    }
    return hr;
}

HRESULT RemoveInstance(const std::wstring& name) {
    if (!IsOurInstance(name)) {
        return S_FALSE;
    }
    ComScope com;
    IFilterMapper2* mapper = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_IFilterMapper2, reinterpret_cast<void**>(&mapper));
    if (FAILED(hr)) {
        return hr;
    }
    hr = mapper->UnregisterFilter(&CLSID_VideoInputDeviceCategory, name.c_str(),
                                  CLSID_LookwellTestCamera);
    mapper->Release();
    return hr;
}

} // namespace testcam
