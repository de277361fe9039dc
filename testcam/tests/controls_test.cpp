// The camera's controls as a program meets them: IAMVideoProcAmp and IAMVideoControl by their
// contracts, and the settings page in the platform's property frame.
#include "support/camera.h"
#include "support/wait.h"
#include "testcam/page_ids.h"

#include <commctrl.h>

#include <gtest/gtest.h>

#include <climits>
#include <iterator>
#include <string>

using namespace testcam_test;

namespace {

// One call of the contracts, its arguments, and what it answers and reads.
enum class Call { Range, Get, Set, SetAuto, Caps, SetMode, GetMode, Rates, Count, MaxRate, Actual };

struct ContractCase {
    const char* name;
    Call call;
    long a, b; // property and field, value and flags, mode, capability index and width
    HRESULT expected;
    long value; // what it read; LONG_MIN: nothing
};

// The instance's registry value, or LONG_MIN.
long StoredNumber(const std::wstring& camera, const wchar_t* name) {
    DWORD value = 0;
    DWORD bytes = sizeof(value);
    std::wstring key = L"CLSID\\{860BB310-5D01-11D0-BD3B-00A0C911CE86}\\Instance\\" + camera;
    if (RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), name, RRF_RT_REG_DWORD, nullptr, &value,
                     &bytes) != ERROR_SUCCESS) {
        return LONG_MIN;
    }
    return static_cast<long>(value);
}

HRESULT Make(const ContractCase& k, IAMVideoProcAmp* amp, IAMVideoControl* video, IPin* pin,
             long& value) {
    long v[5] = {};
    LONGLONG* times = nullptr;
    LONGLONG time = 0;
    SIZE size = {k.b, k.b * 3 / 4};
    HRESULT hr = E_FAIL;
    switch (k.call) {
    case Call::Range:
        hr = amp->GetRange(k.a, &v[0], &v[1], &v[2], &v[3], &v[4]);
        value = v[k.b];
        return hr;
    case Call::Get:
        return amp->Get(k.a, &value, &v[0]);
    case Call::Set:
        return amp->Set(k.a, k.b, VideoProcAmp_Flags_Manual);
    case Call::SetAuto:
        return amp->Set(k.a, k.b, VideoProcAmp_Flags_Auto);
    case Call::Caps:
        return video->GetCaps(k.a ? pin : nullptr, &value);
    case Call::SetMode:
        return video->SetMode(pin, k.a);
    case Call::GetMode:
        return video->GetMode(pin, &value);
    case Call::Rates:
        hr = video->GetFrameRateList(pin, k.a, size, &v[0], &times);
        value = SUCCEEDED(hr) ? static_cast<long>(times[0]) : 0;
        CoTaskMemFree(times);
        return hr;
    case Call::Count:
        return video->GetFrameRateList(pin, k.a, size, &value, nullptr);
    case Call::MaxRate:
        hr = video->GetMaxAvailableFrameRate(pin, k.a, size, &time);
        value = static_cast<long>(time);
        return hr;
    case Call::Actual:
        return video->GetCurrentActualFrameRate(pin, &time);
    }
    return hr;
}

} // namespace

// One camera, the calls in order: each sees what the ones before it set. Capabilities: 0 RGB24
// 320 x 240 at 30, 1 the same at 15, 2 YUY2 320 x 240 at 60, 3 RGB24 640 x 480 at 30.
TEST(Controls, ProcAmpAndVideoControlKeepTheirContractsAndPersist) {
    const long brightness = VideoProcAmp_Brightness, contrast = VideoProcAmp_Contrast;
    const long mirror = VideoControlFlag_FlipHorizontal, none = LONG_MIN;
    const ContractCase cases[] = {
        {"BrightnessMin", Call::Range, brightness, 0, S_OK, -100},
        {"BrightnessMax", Call::Range, brightness, 1, S_OK, 100},
        {"BrightnessStep", Call::Range, brightness, 2, S_OK, 1},
        {"BrightnessDefault", Call::Range, brightness, 3, S_OK, 0},
        {"BrightnessIsManual", Call::Range, brightness, 4, S_OK, VideoProcAmp_Flags_Manual},
        {"ContrastMax", Call::Range, contrast, 1, S_OK, 200},
        {"ContrastDefault", Call::Range, contrast, 3, S_OK, 100},
        {"HueIsNotOffered", Call::Range, VideoProcAmp_Hue, 0, E_PROP_ID_UNSUPPORTED, none},
        {"ContrastStartsAtItsDefault", Call::Get, contrast, 0, S_OK, 100},
        {"SetBrightness", Call::Set, brightness, -40, S_OK, none},
        {"BelowTheMinimum", Call::Set, brightness, -101, E_INVALIDARG, none},
        {"AboveTheMaximum", Call::Set, contrast, 201, E_INVALIDARG, none},
        {"RefusedValuesChangeNothing", Call::Get, brightness, 0, S_OK, -40},
        {"SetUnknown", Call::Set, VideoProcAmp_Gamma, 1, E_PROP_ID_UNSUPPORTED, none},
        {"NoAutomaticMode", Call::SetAuto, brightness, 0, E_INVALIDARG, none},
        {"GetUnknown", Call::Get, VideoProcAmp_Sharpness, 0, E_PROP_ID_UNSUPPORTED, none},
        {"FlipCaps", Call::Caps, 1, 0, S_OK, mirror | VideoControlFlag_FlipVertical},
        {"CapsNeedAPin", Call::Caps, 0, 0, E_POINTER, none},
        {"ModeStartsPlain", Call::GetMode, 0, 0, S_OK, 0},
        {"Mirror", Call::SetMode, mirror, 0, S_OK, none},
        {"NoTrigger", Call::SetMode, VideoControlFlag_ExternalTriggerEnable, 0, E_INVALIDARG, none},
        {"MirrorKept", Call::GetMode, 0, 0, S_OK, mirror},
        {"RatesOfASize", Call::Count, 0, 320, S_OK, 2},
        {"FastestFirst", Call::Rates, 1, 320, S_OK, 333333},
        {"OtherSubtypesRates", Call::MaxRate, 2, 320, S_OK, 166667},
        {"SizeNotOffered", Call::MaxRate, 0, 100, E_INVALIDARG, none},
        {"IndexPastTheLast", Call::Count, 4, 320, E_INVALIDARG, none},
        {"NoActualRateWhileStopped", Call::Actual, 0, 0, VFW_E_NOT_CONNECTED, none},
    };
    ScopedCamera camera(L"RGB24:320x240@30,RGB24:320x240@15,YUY2:320x240@60,RGB24:640x480@30");
    ASSERT_EQ(S_OK, camera.result());
    for (int bind = 0; bind < 2; ++bind) {
        IBaseFilter* filter = nullptr;
        ASSERT_EQ(S_OK, BindFilter(camera.name(), &filter));
        IPin* pin = GetPin(filter, L"Capture");
        auto* amp = Query<IAMVideoProcAmp>(filter, IID_IAMVideoProcAmp);
        auto* video = Query<IAMVideoControl>(filter, IID_IAMVideoControl);
        ASSERT_TRUE(pin && amp && video);
        // The second bind of the instance starts where the first left off, as stored.
        const ContractCase kept[] = {{"BrightnessKept", Call::Get, brightness, 0, S_OK, -40},
                                     {"MirrorKept", Call::GetMode, 0, 0, S_OK, mirror}};
        for (const ContractCase* k = bind ? kept : cases;
             k != (bind ? std::end(kept) : std::end(cases)); ++k) {
            SCOPED_TRACE(k->name);
            long value = none;
            EXPECT_EQ(k->expected, Make(*k, amp, video, pin, value));
            if (k->value != none) {
                EXPECT_EQ(k->value, value);
            }
        }
        video->Release();
        amp->Release();
        pin->Release();
        EXPECT_EQ(0u, filter->Release());
    }
    EXPECT_EQ(-40, StoredNumber(camera.name(), L"Brightness"));
    EXPECT_EQ(VideoControlFlag_FlipHorizontal, StoredNumber(camera.name(), L"VideoControlMode"));
}

namespace {

struct Search {
    int id; // 0: the first visible window
    HWND found;
};

BOOL CALLBACK Match(HWND window, LPARAM param) {
    auto* s = reinterpret_cast<Search*>(param);
    if (s->id ? GetDlgCtrlID(window) == s->id : IsWindowVisible(window) != FALSE) {
        s->found = window;
        return FALSE;
    }
    return TRUE;
}

// The property frame's window, once its thread shows it.
::testing::AssertionResult WaitForFrame(DWORD thread, HWND& frame) {
    Search search = {0, nullptr};
    ::testing::AssertionResult shown = PumpUntil("the property frame shown", [&] {
        EnumThreadWindows(thread, Match, reinterpret_cast<LPARAM>(&search));
        return search.found != nullptr;
    });
    frame = search.found;
    return shown;
}

// A control of the page by its id, anywhere in the frame.
HWND Find(HWND frame, int id) {
    Search search = {id, nullptr};
    EnumChildWindows(frame, Match, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::wstring Text(HWND window) {
    wchar_t text[64] = {};
    GetWindowTextW(window, text, 64);
    return text;
}

struct FrameCall {
    IUnknown* object;
    CAUUID pages;
    HRESULT hr;
};

DWORD WINAPI ShowFrame(void* param) {
    auto* call = static_cast<FrameCall*>(param);
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    call->hr = OleCreatePropertyFrame(nullptr, 0, 0, L"Test Camera", 1, &call->object,
                                      call->pages.cElems, call->pages.pElems, 0, 0, nullptr);
    CoUninitialize();
    return 0;
}

} // namespace

// The page as a person uses it in the platform's frame: a key moves a trackbar, Apply sets the
// value through IAMVideoProcAmp and stores it; Cancel drops a change.
TEST(Controls, SettingsPageAppliesThroughProcAmpInThePropertyFrame) {
    ScopedCamera camera(L"RGB24:320x240@30");
    IBaseFilter* filter = nullptr;
    ASSERT_EQ(S_OK, BindFilter(camera.name(), &filter));
    ISpecifyPropertyPages* specify = nullptr;
    ASSERT_EQ(S_OK, filter->QueryInterface(IID_ISpecifyPropertyPages,
                                           reinterpret_cast<void**>(&specify)));
    FrameCall call = {filter, {0, nullptr}, E_FAIL};
    ASSERT_EQ(S_OK, specify->GetPages(&call.pages));
    specify->Release();
    ASSERT_EQ(1u, call.pages.cElems);
    // Another program (another binding) changes the contrast: the page shows the camera's value.
    IBaseFilter* other = nullptr;
    ASSERT_EQ(S_OK, BindFilter(camera.name(), &other));
    IAMVideoProcAmp* otherAmp = nullptr;
    ASSERT_EQ(S_OK,
              other->QueryInterface(IID_IAMVideoProcAmp, reinterpret_cast<void**>(&otherAmp)));
    EXPECT_EQ(S_OK, otherAmp->Set(VideoProcAmp_Contrast, 150, VideoProcAmp_Flags_Manual));
    DWORD id = 0;
    HANDLE thread = CreateThread(nullptr, 0, ShowFrame, &call, 0, &id);
    ASSERT_NE(nullptr, thread);
    HWND frame = nullptr;
    ASSERT_TRUE(WaitForFrame(id, frame));
    HWND brightness = Find(frame, IDC_BRIGHTNESS);
    HWND contrast = Find(frame, IDC_CONTRAST);
    HWND apply = Find(frame, 0x3021);
    ASSERT_TRUE(brightness && contrast && apply);
    EXPECT_EQ(L"0", Text(Find(frame, IDC_BRIGHTNESS_VALUE)));
    EXPECT_EQ(L"150", Text(Find(frame, IDC_CONTRAST_VALUE)));
    // And again while the page is open: applying the brightness must not put the page's
    // untouched contrast back over it.
    EXPECT_EQ(S_OK, otherAmp->Set(VideoProcAmp_Contrast, 120, VideoProcAmp_Flags_Manual));
    otherAmp->Release();
    EXPECT_EQ(0u, other->Release());

    // Two pages of ten to the right, as the Page Down key moves it.
    SendMessageW(brightness, WM_KEYDOWN, VK_NEXT, 0);
    SendMessageW(brightness, WM_KEYDOWN, VK_NEXT, 0);
    EXPECT_EQ(L"20", Text(Find(frame, IDC_BRIGHTNESS_VALUE)));
    EXPECT_TRUE(IsWindowEnabled(apply));
    SendMessageW(apply, BM_CLICK, 0, 0);
    IAMVideoProcAmp* amp = nullptr;
    ASSERT_EQ(S_OK, filter->QueryInterface(IID_IAMVideoProcAmp, reinterpret_cast<void**>(&amp)));
    long value = 0, flags = 0;
    EXPECT_EQ(S_OK, amp->Get(VideoProcAmp_Brightness, &value, &flags));
    EXPECT_EQ(20, value);
    EXPECT_EQ(20, StoredNumber(camera.name(), L"Brightness"));
    EXPECT_EQ(120, StoredNumber(camera.name(), L"Contrast")) << "only what changed is applied";

    SendMessageW(contrast, WM_KEYDOWN, VK_HOME, 0);
    EXPECT_EQ(L"0", Text(Find(frame, IDC_CONTRAST_VALUE)));
    SendMessageW(Find(frame, IDCANCEL), BM_CLICK, 0, 0);
    // The sheet's modal loop sees that it ended at its thread's next message, which a person's
    // next move of the mouse brings.
    EXPECT_TRUE(PumpUntil("the frame's thread ended", [&] {
        PostThreadMessageW(id, WM_NULL, 0, 0);
        return WaitForSingleObject(thread, 0) == WAIT_OBJECT_0;
    }));
    CloseHandle(thread);
    EXPECT_EQ(S_OK, call.hr);
    EXPECT_EQ(S_OK, amp->Get(VideoProcAmp_Contrast, &value, &flags));
    EXPECT_EQ(120, value) << "the camera's current value";
    EXPECT_EQ(120, StoredNumber(camera.name(), L"Contrast"));
    CoTaskMemFree(call.pages.pElems);
    amp->Release();
    EXPECT_EQ(0u, filter->Release());
    EXPECT_EQ(0, Stats().objects);
}

// What the platform's own capture-filter conformance test asks of every capability: the frame
// rates listed for its size lie within its MinFrameInterval..MaxFrameInterval. Here they span it.
TEST(Controls, FrameRateListsAgreeWithEachCapability) {
    ScopedCamera camera(L"RGB24:320x240@30,RGB24:320x240@15,YUY2:320x240@60,RGB24:320x240@0,"
                        L"RGB24:640x480@7.5:vih2,YUY2:320x240@60");
    IBaseFilter* filter = nullptr;
    ASSERT_EQ(S_OK, BindFilter(camera.name(), &filter));
    IPin* pin = GetPin(filter, L"Capture");
    ASSERT_NE(nullptr, pin);
    auto* config = Query<IAMStreamConfig>(pin, IID_IAMStreamConfig);
    auto* video = Query<IAMVideoControl>(filter, IID_IAMVideoControl);
    ASSERT_TRUE(config && video);
    AM_MEDIA_TYPE* mt = nullptr;
    VIDEO_STREAM_CONFIG_CAPS caps;
    for (int i = 0; config->GetStreamCaps(i, &mt, reinterpret_cast<BYTE*>(&caps)) == S_OK; ++i) {
        SCOPED_TRACE(i);
        CoTaskMemFree(mt->pbFormat);
        CoTaskMemFree(mt);
        long rates = 0;
        LONGLONG* times = nullptr;
        ASSERT_EQ(S_OK, video->GetFrameRateList(pin, i, caps.MinOutputSize, &rates, &times));
        for (long j = 0; j < rates; ++j) {
            EXPECT_TRUE(times[j] >= caps.MinFrameInterval && times[j] <= caps.MaxFrameInterval);
        }
        EXPECT_EQ(caps.MinFrameInterval, times[0]);
        EXPECT_EQ(caps.MaxFrameInterval, times[rates - 1]);
        LONGLONG fastest = 0;
        EXPECT_EQ(S_OK, video->GetMaxAvailableFrameRate(pin, i, caps.MinOutputSize, &fastest));
        EXPECT_EQ(caps.MinFrameInterval, fastest);
        CoTaskMemFree(times);
    }
    video->Release();
    config->Release();
    pin->Release();
    EXPECT_EQ(0u, filter->Release());
    EXPECT_EQ(0, Stats().objects);
}
