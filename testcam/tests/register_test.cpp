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
const CLSID kPageClsid = {
    0x2e6a4c1b, 0x7f3d, 0x4b8e, {0x9c, 0x52, 0x1a, 0x0d, 0x6e, 0x3f, 0x8b, 0x47}};
// Another program's device in the category: any class but the camera's.
const CLSID kOtherClsid = {
    0x2d1c5e2a, 0x7b1e, 0x4f4b, {0x9a, 0x55, 0x3e, 0x0c, 0x61, 0x8d, 0x42, 0x17}};
const wchar_t kOtherName[] = L"Lookwell Register Test Other Device";

// The devices the platform's enumerator lists, by friendly name: the camera's, or the others.
std::vector<std::wstring> Devices(bool cameras) {
    std::vector<std::wstring> names;
    wchar_t camera[40];
    StringFromGUID2(kCameraClsid, camera, 40);
    ForEachDevice([&](IMoniker*, IPropertyBag* bag) {
        bool ours = _wcsicmp(ReadBag(bag, L"CLSID").c_str(), camera) == 0;
        if (ours == cameras) {
            names.push_back(ReadBag(bag, L"FriendlyName"));
        }
        return true;
    });
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

namespace {

const wchar_t kInstanceRoot[] = L"CLSID\\{860BB310-5D01-11D0-BD3B-00A0C911CE86}\\Instance\\";

std::wstring GuidText(const GUID& guid) {
    wchar_t text[40];
    StringFromGUID2(guid, text, 40);
    return text;
}

std::wstring Key(const std::wstring& name) {
    return kInstanceRoot + name;
}

// An entry put in the category by hand, with a value of its own: another program's device, or
// with the camera's class one of ours that no registration would make.
void AddKey(const std::wstring& name, const CLSID& clsid) {
    std::wstring text = GuidText(clsid);
    const BYTE vendor[] = {1, 2, 3};
    RegSetKeyValueW(HKEY_CLASSES_ROOT, Key(name).c_str(), L"CLSID", REG_SZ, text.c_str(),
                    static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    RegSetKeyValueW(HKEY_CLASSES_ROOT, Key(name).c_str(), L"VendorData", REG_BINARY, vendor, 3);
}

// The class the entry names (empty when there is none) and its vendor data's size.
std::wstring KeyClass(const std::wstring& name, DWORD* vendorBytes) {
    wchar_t clsid[64] = {};
    DWORD bytes = sizeof(clsid);
    *vendorBytes = 0;
    RegGetValueW(HKEY_CLASSES_ROOT, Key(name).c_str(), L"CLSID", RRF_RT_REG_SZ, nullptr, clsid,
                 &bytes);
    RegGetValueW(HKEY_CLASSES_ROOT, Key(name).c_str(), L"VendorData", RRF_RT_REG_BINARY, nullptr,
                 nullptr, vendorBytes);
    return clsid;
}

// Every entry in the category whose class is the camera's, whatever its name's length.
int OurKeys() {
    HKEY root = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, kInstanceRoot, 0, KEY_READ, &root) != ERROR_SUCCESS) {
        return 0;
    }
    int ours = 0;
    wchar_t name[1024];
    DWORD length = 1024;
    for (DWORD i = 0;
         RegEnumKeyExW(root, i, name, &length, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
         ++i, length = 1024) {
        DWORD vendor = 0;
        ours += _wcsicmp(KeyClass(name, &vendor).c_str(), GuidText(kCameraClsid).c_str()) == 0;
    }
    RegCloseKey(root);
    return ours;
}

struct HostileCase {
    const char* name;
    std::wstring foreign; // another device's instance, or empty
    std::wstring ours;    // a camera of ours registered first, or empty
    DWORD formatsType;    // REG_NONE, or its Formats value rewritten with this type
    BOOL install;         // then DllInstall(install, text) when there is a text
    const wchar_t* text;
    HRESULT expected; // of DllInstall, or of binding our camera
};

} // namespace

// Hostile entries in the category: refused with a clear error, nothing foreign touched, nothing
// of ours left after unregistering.
TEST(Register, HostileEntriesAreRefusedAndNeverHarmAnotherDevice) {
    const std::wstring longName(256, L'A');
    const HRESULT invalid = HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
    const HostileCase cases[] = {
        {"ForeignNameIsNotTakenOver", L"Foreign Cam", L"", REG_NONE, TRUE,
         L"name=Foreign Cam;formats=RGB24:320x240@30", HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS)},
        {"ForeignNameIsNotRemoved", L"Foreign Cam", L"", REG_NONE, FALSE, L"Foreign Cam",
         E_ACCESSDENIED},
        {"MissingNameIsAFailure", L"", L"", REG_NONE, FALSE, L"NoSuchCam",
         HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)},
        {"LongNameBeforeOurs", longName, L"Demo Cam", REG_NONE, TRUE, nullptr, S_OK},
        {"FormatsAsDword", L"", L"Demo Cam", REG_DWORD, TRUE, nullptr, invalid},
        {"FormatsAsBinary", L"", L"Demo Cam", REG_BINARY, TRUE, nullptr, invalid},
        {"FormatsAsMultiString", L"", L"Demo Cam", REG_MULTI_SZ, TRUE, nullptr, invalid},
        {"FormatsAsExpandString", L"", L"Demo Cam", REG_EXPAND_SZ, TRUE, nullptr, invalid},
    };
    CameraUnregister();
    for (const HostileCase& c : cases) {
        SCOPED_TRACE(c.name);
        if (!c.foreign.empty()) {
            AddKey(c.foreign, kOtherClsid);
        }
        if (!c.ours.empty()) {
            ASSERT_EQ(S_OK, CameraInstall(TRUE, L"name=" + c.ours));
            // A second camera after it, and one of ours with a long name of its own.
            ASSERT_EQ(S_OK, CameraInstall(TRUE, L"name=Zoo Cam"));
            AddKey(std::wstring(256, L'B'), kCameraClsid);
        }
        if (c.formatsType != REG_NONE) {
            // Text that would parse: only its type is wrong (twice over for MULTI_SZ).
            const wchar_t text[] = L"RGB24:320x240@30\0RGB24:320x240@30\0";
            DWORD bytes = c.formatsType == REG_DWORD ? 4 : c.formatsType == REG_MULTI_SZ ? 68 : 34;
            RegSetKeyValueW(HKEY_CLASSES_ROOT, Key(c.ours).c_str(), L"Formats", c.formatsType, text,
                            bytes);
        }
        if (c.text) {
            EXPECT_EQ(c.expected, CameraInstall(c.install, c.text));
        } else {
            IBaseFilter* filter = nullptr;
            EXPECT_EQ(c.expected, BindFilter(c.ours, &filter));
            if (filter) {
                filter->Release();
            }
        }

        EXPECT_EQ(S_OK, CameraUnregister());
        EXPECT_EQ(0, OurKeys());
        HKEY key = nullptr;
        for (const CLSID* clsid : {&kCameraClsid, &kPageClsid}) {
            EXPECT_NE(ERROR_SUCCESS,
                      RegOpenKeyExW(HKEY_CLASSES_ROOT, (L"CLSID\\" + GuidText(*clsid)).c_str(), 0,
                                    KEY_READ, &key));
        }
        if (!c.foreign.empty()) {
            DWORD vendor = 0;
            EXPECT_EQ(GuidText(kOtherClsid), KeyClass(c.foreign, &vendor));
            EXPECT_EQ(3u, vendor);
            RegDeleteTreeW(HKEY_CLASSES_ROOT, Key(c.foreign).c_str());
        }
    }
}
