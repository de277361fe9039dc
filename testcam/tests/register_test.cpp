// Registering the DLL on its own, as regsvr32 does without /i, and unregistering it. These
// tests need a category with no test camera in it, so they run in a Wine prefix of their own
// and one at a time (CMakeLists.txt): the other tests register cameras side by side.
#include "support/camera.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

using namespace testcam_test;

namespace {

const wchar_t kDefaultName[] = L"Lookwell Test Camera";
const CLSID kCameraClsid = {
    0x5bef085d, 0x938a, 0x4cb9, {0x99, 0x78, 0xd1, 0x40, 0xc7, 0xe1, 0x47, 0xe9}};
// Another program's device in the category: any class but the camera's.
const CLSID kOtherClsid = {
    0x2d1c5e2a, 0x7b1e, 0x4f4b, {0x9a, 0x55, 0x3e, 0x0c, 0x61, 0x8d, 0x42, 0x17}};
const wchar_t kOtherName[] = L"Lookwell Register Test Other Device";

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

// The devices the platform's enumerator lists, by friendly name: the camera's, or the others.
std::vector<std::wstring> Devices(bool cameras) {
    std::vector<std::wstring> names;
    ICreateDevEnum* devenum = nullptr;
    if (FAILED(CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER,
                                IID_ICreateDevEnum, reinterpret_cast<void**>(&devenum)))) {
        return names;
    }
    IEnumMoniker* devices = nullptr;
    HRESULT hr = devenum->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &devices, 0);
    devenum->Release();
    if (hr != S_OK) {
        return names;
    }
    wchar_t camera[40];
    StringFromGUID2(kCameraClsid, camera, 40);
    IMoniker* moniker = nullptr;
    while (devices->Next(1, &moniker, nullptr) == S_OK) {
        IPropertyBag* bag = nullptr;
        if (SUCCEEDED(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag,
                                             reinterpret_cast<void**>(&bag)))) {
            bool ours = _wcsicmp(ReadBag(bag, L"CLSID").c_str(), camera) == 0;
            if (ours == cameras) {
                names.push_back(ReadBag(bag, L"FriendlyName"));
            }
            bag->Release();
        }
        moniker->Release();
    }
    devices->Release();
    std::sort(names.begin(), names.end());
    return names;
}

HRESULT OtherDevice(bool add) {
    IFilterMapper2* mapper = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_IFilterMapper2, reinterpret_cast<void**>(&mapper));
    if (FAILED(hr)) {
        return hr;
    }
    if (add) {
        REGFILTER2 filter = {};
        filter.dwVersion = 2;
        filter.dwMerit = MERIT_DO_NOT_USE;
        IMoniker* moniker = nullptr;
        hr = mapper->RegisterFilter(kOtherClsid, kOtherName, &moniker,
                                    &CLSID_VideoInputDeviceCategory, kOtherName, &filter);
        if (moniker) {
            moniker->Release();
        }
    } else {
        hr = mapper->UnregisterFilter(&CLSID_VideoInputDeviceCategory, kOtherName, kOtherClsid);
    }
    mapper->Release();
    return hr;
}

struct RegisterCase {
    const char* name;
    std::vector<std::wstring> before; // the camera's instances, by name
    bool otherDevice;                 // another program's device in the category
    std::vector<std::wstring> after;
};

} // namespace

TEST(Register, OnItsOwnLeavesOneUsableCameraAndUnregisterRemovesEveryOne) {
    const RegisterCase cases[] = {
        {"NoCameraGetsTheDefault", {}, false, {kDefaultName}},
        {"AnotherProgramsDeviceIsNoTestCamera", {}, true, {kDefaultName}},
        {"TheDefaultIsKeptNotDoubled", {kDefaultName}, false, {kDefaultName}},
        {"ANamedCameraIsEnough", {L"Demo Camera"}, false, {L"Demo Camera"}},
        {"TwoNamedCamerasStay", {L"Demo A", L"Demo B"}, true, {L"Demo A", L"Demo B"}},
    };
    // Whatever an interrupted run left behind.
    CameraUnregister();
    OtherDevice(false);
    for (const RegisterCase& c : cases) {
        SCOPED_TRACE(c.name);
        for (const std::wstring& name : c.before) {
            ASSERT_EQ(S_OK, CameraInstall(TRUE, L"name=" + name));
        }
        if (c.otherDevice) {
            ASSERT_EQ(S_OK, OtherDevice(true));
        }
        ASSERT_EQ(c.before, Devices(true));

        EXPECT_EQ(S_OK, CameraRegister());
        EXPECT_EQ(c.after, Devices(true));
        // Again, as a second regsvr32 would: nothing changes.
        EXPECT_EQ(S_OK, CameraRegister());
        EXPECT_EQ(c.after, Devices(true));

        // The cameras can be bound: the default offers the default formats.
        for (const std::wstring& name : c.after) {
            IBaseFilter* filter = nullptr;
            ASSERT_EQ(S_OK, BindFilter(name, &filter)) << std::string(name.begin(), name.end());
            IPin* pin = GetPin(filter, L"Capture");
            ASSERT_NE(nullptr, pin);
            IAMStreamConfig* config = nullptr;
            ASSERT_EQ(S_OK,
                      pin->QueryInterface(IID_IAMStreamConfig, reinterpret_cast<void**>(&config)));
            int count = 0;
            int size = 0;
            EXPECT_EQ(S_OK, config->GetNumberOfCapabilities(&count, &size));
            EXPECT_EQ(15, count);
            config->Release();
            pin->Release();
            EXPECT_EQ(0u, filter->Release());
        }

        EXPECT_EQ(S_OK, CameraUnregister());
        EXPECT_TRUE(Devices(true).empty());
        IBaseFilter* filter = nullptr;
        EXPECT_EQ(REGDB_E_CLASSNOTREG,
                  CoCreateInstance(kCameraClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                   reinterpret_cast<void**>(&filter)));
        if (c.otherDevice) {
            std::vector<std::wstring> others = Devices(false);
            EXPECT_NE(others.end(), std::find(others.begin(), others.end(), kOtherName));
            EXPECT_EQ(S_OK, OtherDevice(false));
        }
    }
}
