// Prints the friendly name of every video input device the platform enumerates, one a line.
// The run command asks it whether a camera is present before it registers the test camera.
#include <dshow.h>
#include <uuids.h>

#include <cstdio>

namespace {

void PrintNames(IEnumMoniker* devices) {
    IMoniker* moniker = nullptr;
    while (devices->Next(1, &moniker, nullptr) == S_OK) {
        IPropertyBag* bag = nullptr;
        if (SUCCEEDED(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag,
                                             reinterpret_cast<void**>(&bag)))) {
            VARIANT name;
            VariantInit(&name);
            if (SUCCEEDED(bag->Read(L"FriendlyName", &name, nullptr)) && name.vt == VT_BSTR) {
                printf("%ls\n", name.bstrVal);
            } else {
                printf("(unnamed)\n");
            }
            VariantClear(&name);
            bag->Release();
        }
        moniker->Release();
    }
}

} // namespace

int wmain() {
    if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {
        return 2;
    }
    int rc = 2;
    ICreateDevEnum* devenum = nullptr;
    if (SUCCEEDED(CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_ICreateDevEnum, reinterpret_cast<void**>(&devenum)))) {
        IEnumMoniker* devices = nullptr;
        HRESULT hr = devenum->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &devices, 0);
        // S_FALSE and no enumerator: the category is empty.
        if (hr == S_OK) {
            PrintNames(devices);
            devices->Release();
        }
        rc = SUCCEEDED(hr) ? 0 : 2;
        devenum->Release();
    }
    fflush(stdout);
    CoUninitialize();
    return rc;
}
