#include "testcam/registry.h"

#include "framework/apartment.h"
#include "testcam/module.h"

#include <dshow.h>
#include <uuids.h>

#include <algorithm>
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

HRESULT SetString(HKEY key, const wchar_t* name, const std::wstring& value) {
    LONG err = RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                              static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    return HRESULT_FROM_WIN32(static_cast<unsigned long>(err));
}

std::wstring InstancePath(const std::wstring& name) {
    return InstanceRoot() + L"\\" + name;
}

// Whether the category holds an instance of that name, whoever it belongs to.
bool InstanceExists(const std::wstring& name) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, InstancePath(name).c_str(), 0, KEY_READ, &key) !=
        ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(key);
    return true;
}

// Whether the category's instance `name` belongs to this camera.
bool IsOurInstance(const std::wstring& name) {
    HKEY key = OpenOurInstance(name, KEY_READ);
    if (!key) {
        return false;
    }
    RegCloseKey(key);
    return true;
}

// The names of this camera's instances in the category.
std::vector<std::wstring> OurInstances() {
    std::vector<std::wstring> ours;
    HKEY root = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, InstanceRoot().c_str(), 0, KEY_READ, &root) !=
        ERROR_SUCCESS) {
        return ours;
    }
    // Every key, whatever the length of its name: the registry's limit of 255 characters is
    // not every registry's (Wine takes longer names).
    DWORD longest = 0;
    RegQueryInfoKeyW(root, nullptr, nullptr, nullptr, nullptr, &longest, nullptr, nullptr, nullptr,
                     nullptr, nullptr, nullptr);
    std::vector<wchar_t> name(std::max<DWORD>(longest, 255) + 1);
    for (DWORD i = 0;;) {
        DWORD length = static_cast<DWORD>(name.size());
        LONG err = RegEnumKeyExW(root, i, name.data(), &length, nullptr, nullptr, nullptr, nullptr);
        if (err == ERROR_MORE_DATA) {
            name.resize(name.size() * 2);
            continue;
        }
        if (err != ERROR_SUCCESS) {
            break;
        }
        std::wstring instance(name.data(), length);
        if (IsOurInstance(instance)) {
            ours.push_back(instance);
        }
        ++i;
    }
    RegCloseKey(root);
    return ours;
}

// The class's key with its name, and its in-process server: this DLL.
HRESULT RegisterComClass(const CLSID& clsid, const wchar_t* name, const wchar_t* path) {
    const std::wstring root = L"CLSID\\" + GuidString(clsid);
    HKEY server = nullptr;
    LONG err = RegCreateKeyExW(HKEY_CLASSES_ROOT, (root + L"\\InprocServer32").c_str(), 0, nullptr,
                               0, KEY_WRITE, nullptr, &server, nullptr);
    if (err != ERROR_SUCCESS) {
        return HRESULT_FROM_WIN32(static_cast<unsigned long>(err));
    }
    HRESULT hr = SetString(server, nullptr, path);
    // The filter is called from the graph's threads and its own.
    if (SUCCEEDED(hr)) {
        hr = SetString(server, L"ThreadingModel", L"Both");
    }
    RegCloseKey(server);
    HKEY key = nullptr;
    if (SUCCEEDED(hr) &&
        RegOpenKeyExW(HKEY_CLASSES_ROOT, root.c_str(), 0, KEY_WRITE, &key) == ERROR_SUCCESS) {
        hr = SetString(key, nullptr, name);
        RegCloseKey(key);
    }
    return hr;
}

HRESULT DeleteClass(const CLSID& clsid) {
    LONG err = RegDeleteTreeW(HKEY_CLASSES_ROOT, (L"CLSID\\" + GuidString(clsid)).c_str());
    if (err != ERROR_SUCCESS && err != ERROR_FILE_NOT_FOUND) {
        return HRESULT_FROM_WIN32(static_cast<unsigned long>(err));
    }
    return S_OK;
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

HKEY OpenOurInstance(const std::wstring& name, REGSAM access) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, InstancePath(name).c_str(), 0, access | KEY_QUERY_VALUE,
                      &key) != ERROR_SUCCESS) {
        return nullptr;
    }
    wchar_t clsid[40] = {};
    DWORD bytes = sizeof(clsid) - sizeof(wchar_t);
    DWORD type = 0;
    LONG err =
        RegQueryValueExW(key, L"CLSID", nullptr, &type, reinterpret_cast<BYTE*>(clsid), &bytes);
    if (err == ERROR_SUCCESS && type == REG_SZ &&
        lstrcmpiW(clsid, GuidString(CLSID_LookwellTestCamera).c_str()) == 0) {
        return key;
    }
    RegCloseKey(key);
    return nullptr;
}

HRESULT ReadText(HKEY key, const wchar_t* name, std::wstring& out) {
    DWORD type = 0;
    DWORD bytes = 0;
    LONG err = RegQueryValueExW(key, name, nullptr, &type, nullptr, &bytes);
    if (err == ERROR_FILE_NOT_FOUND) {
        return S_FALSE;
    }
    if (err != ERROR_SUCCESS || type != REG_SZ) {
        return HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
    }
    std::vector<wchar_t> text(bytes / sizeof(wchar_t) + 1, L'\0');
    bytes = static_cast<DWORD>((text.size() - 1) * sizeof(wchar_t));
    err = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(text.data()), &bytes);
    if (err != ERROR_SUCCESS || type != REG_SZ) {
        return HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
    }
    out = text.data();
    return S_OK;
}

HRESULT ReadNumber(HKEY key, const wchar_t* name, LONG& out) {
    DWORD type = 0;
    DWORD value = 0;
    DWORD bytes = sizeof(value);
    LONG err = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &bytes);
    if (err == ERROR_FILE_NOT_FOUND) {
        return S_FALSE;
    }
    if (err != ERROR_SUCCESS || type != REG_DWORD || bytes != sizeof(value)) {
        return HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
    }
    out = static_cast<LONG>(value);
    return S_OK;
}

HRESULT WriteNumber(const std::wstring& instance, const wchar_t* name, LONG value) {
    HKEY key = OpenOurInstance(instance, KEY_SET_VALUE);
    if (!key) {
        return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    }
    DWORD data = static_cast<DWORD>(value);
    LONG err =
        RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data), sizeof(data));
    RegCloseKey(key);
    return HRESULT_FROM_WIN32(static_cast<unsigned long>(err));
}

HRESULT RegisterServer() {
    wchar_t path[MAX_PATH];
    DWORD length = GetModuleFileNameW(g_module, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return E_FAIL;
    }
    HRESULT hr = RegisterComClass(CLSID_LookwellTestCamera, L"Lookwell Test Camera", path);
    if (SUCCEEDED(hr)) {
        hr = RegisterComClass(CLSID_LookwellTestCameraPage, L"Lookwell Test Camera Picture Page",
                              path);
    }
    return hr;
}

HRESULT UnregisterServer() {
    // Every instance is tried, whatever happens to one of them; the server stays while any of
    // them is left, so that none points at nothing.
    HRESULT hr = S_OK;
    for (const std::wstring& name : OurInstances()) {
        HRESULT removed = RemoveInstance(name);
        if (FAILED(removed) && SUCCEEDED(hr)) {
            hr = removed;
        }
    }
    if (!OurInstances().empty()) {
        return FAILED(hr) ? hr : E_FAIL;
    }
    hr = DeleteClass(CLSID_LookwellTestCameraPage);
    return SUCCEEDED(hr) ? DeleteClass(CLSID_LookwellTestCamera) : hr;
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
    // Another device's entry of that name is not ours to take over.
    if (InstanceExists(request.name) && !IsOurInstance(request.name)) {
        return HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS);
    }
    HRESULT hr = RegisterServer();
    if (FAILED(hr)) {
        return hr;
    }
    // COM for the length of the call; regsvr32 may or may not have started it.
    CComApartment com(COINIT_APARTMENTTHREADED);
    // A fresh entry, so no value of an earlier configuration lingers.
    if (IsOurInstance(request.name)) {
        hr = RemoveInstance(request.name);
        if (FAILED(hr)) {
            return hr;
        }
    }

    IFilterMapper2* mapper = nullptr;
    hr = CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper2,
                          reinterpret_cast<void**>(&mapper));
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
        return InstanceExists(name) ? E_ACCESSDENIED : HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    }
    // COM for the length of the call; regsvr32 may or may not have started it.
    CComApartment com(COINIT_APARTMENTTHREADED);
    HRESULT hr = S_OK;
    // Wine's mapper overruns a buffer on a name longer than the registry's usual limit, which
    // no registration of ours makes: such a key goes directly. Only its absence counts.
    if (name.size() <= kLongestName) {
        IFilterMapper2* mapper = nullptr;
        hr = CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER,
                              IID_IFilterMapper2, reinterpret_cast<void**>(&mapper));
        if (SUCCEEDED(hr)) {
            hr = mapper->UnregisterFilter(&CLSID_VideoInputDeviceCategory, name.c_str(),
                                          CLSID_LookwellTestCamera);
            mapper->Release();
        }
    }
    if (IsOurInstance(name)) {
        LONG err = RegDeleteTreeW(HKEY_CLASSES_ROOT, InstancePath(name).c_str());
        hr = err == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(static_cast<unsigned long>(err));
    }
    return IsOurInstance(name) ? (FAILED(hr) ? hr : E_FAIL) : S_OK;
}

} // namespace testcam
