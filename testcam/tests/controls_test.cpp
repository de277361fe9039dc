// The camera's controls as a program meets them: IAMVideoProcAmp and IAMVideoControl by their
// contracts, and the settings page in the platform's property frame.
#include "support/camera.h"
#include "testcam/page_ids.h"

#include <commctrl.h>

#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <string>

using namespace testcam_test;

namespace {

struct Controls {
    IAMVideoProcAmp* amp = nullptr;
    IAMVideoControl* video = nullptr;
    IPin* pin = nullptr;
};

struct ContractCase {
    const char* name;
    std::function<HRESULT(Controls&, long&)> call; // sets `value` to what it read
    HRESULT expected;
    long value; // LONG_MIN: not checked
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

HRESULT Range(Controls& c, long property, int field, long& value) {
    long v[5] = {};
    HRESULT hr = c.amp->GetRange(property, &v[0], &v[1], &v[2], &v[3], &v[4]);
    value = v[field];
    return hr;
}

HRESULT Rates(Controls& c, long index, SIZE size, int field, long& value) {
    long count = 0;
    LONGLONG* times = nullptr;
    HRESULT hr = c.video->GetFrameRateList(c.pin, index, size, &count, &times);
    value = field < 0 ? count : static_cast<long>(times[field]);
    CoTaskMemFree(times);
    return hr;
}

} // namespace

// One camera, the calls in order: each sees what the ones before it set.
TEST(Controls, ProcAmpAndVideoControlKeepTheirContractsAndPersist) {
    using P = VideoProcAmpProperty;
    const long manual = VideoProcAmp_Flags_Manual;
    const SIZE small = {320, 240};
    const ContractCase cases[] = {
        {"BrightnessMin",
         [](Controls& c, long& v) { return Range(c, P::VideoProcAmp_Brightness, 0, v); }, S_OK,
         -100},
        {"BrightnessMax",
         [](Controls& c, long& v) { return Range(c, P::VideoProcAmp_Brightness, 1, v); }, S_OK,
         100},
        {"BrightnessStep",
         [](Controls& c, long& v) { return Range(c, P::VideoProcAmp_Brightness, 2, v); }, S_OK, 1},
        {"BrightnessDefault",
         [](Controls& c, long& v) { return Range(c, P::VideoProcAmp_Brightness, 3, v); }, S_OK, 0},
        {"BrightnessIsManual",
         [](Controls& c, long& v) { return Range(c, P::VideoProcAmp_Brightness, 4, v); }, S_OK,
         manual},
        {"ContrastMax",
         [](Controls& c, long& v) { return Range(c, P::VideoProcAmp_Contrast, 1, v); }, S_OK, 200},
        {"ContrastDefault",
         [](Controls& c, long& v) { return Range(c, P::VideoProcAmp_Contrast, 3, v); }, S_OK, 100},
        {"HueIsNotOffered",
         [](Controls& c, long& v) { return Range(c, P::VideoProcAmp_Hue, 0, v); },
         E_PROP_ID_UNSUPPORTED, LONG_MIN},
        {"ContrastStartsAtItsDefault",
         [](Controls& c, long& v) {
             long f;
             return c.amp->Get(P::VideoProcAmp_Contrast, &v, &f);
         },
         S_OK, 100},
        {"SetBrightness",
         [](Controls& c, long& v) {
             long f;
             c.amp->Set(P::VideoProcAmp_Brightness, -40, VideoProcAmp_Flags_Manual);
             return c.amp->Get(P::VideoProcAmp_Brightness, &v, &f);
         },
         S_OK, -40},
        {"BelowTheMinimum",
         [](Controls& c, long&) {
             return c.amp->Set(P::VideoProcAmp_Brightness, -101, VideoProcAmp_Flags_Manual);
         },
         E_INVALIDARG, LONG_MIN},
        {"AboveTheMaximum",
         [](Controls& c, long&) {
             return c.amp->Set(P::VideoProcAmp_Contrast, 201, VideoProcAmp_Flags_Manual);
         },
         E_INVALIDARG, LONG_MIN},
        {"NoAutomaticMode",
         [](Controls& c, long&) {
             return c.amp->Set(P::VideoProcAmp_Contrast, 50, VideoProcAmp_Flags_Auto);
         },
         E_INVALIDARG, LONG_MIN},
        {"RefusedValuesChangeNothing",
         [](Controls& c, long& v) {
             long f;
             return c.amp->Get(P::VideoProcAmp_Brightness, &v, &f);
         },
         S_OK, -40},
        {"SetUnknown",
         [](Controls& c, long&) {
             return c.amp->Set(P::VideoProcAmp_Gamma, 1, VideoProcAmp_Flags_Manual);
         },
         E_PROP_ID_UNSUPPORTED, LONG_MIN},
        {"GetUnknown",
         [](Controls& c, long& v) {
             long f;
             return c.amp->Get(P::VideoProcAmp_Sharpness, &v, &f);
         },
         E_PROP_ID_UNSUPPORTED, LONG_MIN},
        {"FlipCaps", [](Controls& c, long& v) { return c.video->GetCaps(c.pin, &v); }, S_OK,
         VideoControlFlag_FlipHorizontal | VideoControlFlag_FlipVertical},
        {"CapsNeedAPin", [](Controls& c, long& v) { return c.video->GetCaps(nullptr, &v); },
         E_POINTER, LONG_MIN},
        {"ModeStartsPlain", [](Controls& c, long& v) { return c.video->GetMode(c.pin, &v); }, S_OK,
         0},
        {"Mirror",
         [](Controls& c, long& v) {
             c.video->SetMode(c.pin, VideoControlFlag_FlipHorizontal);
             return c.video->GetMode(c.pin, &v);
         },
         S_OK, VideoControlFlag_FlipHorizontal},
        {"NoTrigger",
         [](Controls& c, long&) {
             return c.video->SetMode(c.pin, VideoControlFlag_ExternalTriggerEnable);
         },
         E_INVALIDARG, LONG_MIN},
        {"RateCountOfASize", [small](Controls& c, long& v) { return Rates(c, 0, small, -1, v); },
         S_OK, 2},
        {"FastestFirst", [small](Controls& c, long& v) { return Rates(c, 0, small, 0, v); }, S_OK,
         333333},
        {"ThenSlower", [small](Controls& c, long& v) { return Rates(c, 0, small, 1, v); }, S_OK,
         666667},
        {"CountAlone",
         [small](Controls& c, long& v) {
             return c.video->GetFrameRateList(c.pin, 0, small, &v, nullptr);
         },
         S_OK, 2},
        {"OtherSubtypesRates",
         [small](Controls& c, long& v) {
             LONGLONG t = 0;
             HRESULT hr = c.video->GetMaxAvailableFrameRate(c.pin, 2, small, &t);
             v = static_cast<long>(t);
             return hr;
         },
         S_OK, 166667},
        {"SizeNotOffered",
         [](Controls& c, long&) {
             LONGLONG t;
             return c.video->GetMaxAvailableFrameRate(c.pin, 0, SIZE{100, 100}, &t);
         },
         E_INVALIDARG, LONG_MIN},
        {"IndexPastTheLast",
         [small](Controls& c, long& v) {
             return c.video->GetFrameRateList(c.pin, 4, small, &v, nullptr);
         },
         E_INVALIDARG, LONG_MIN},
        {"NoActualRateWhileStopped",
         [](Controls& c, long&) {
             LONGLONG t;
             return c.video->GetCurrentActualFrameRate(c.pin, &t);
         },
         VFW_E_NOT_CONNECTED, LONG_MIN},
    };
    ScopedCamera camera(L"RGB24:320x240@30,RGB24:320x240@15,YUY2:320x240@60,RGB24:640x480@30");
    ASSERT_EQ(S_OK, camera.result());
    for (int bind = 0; bind < 2; ++bind) {
        IBaseFilter* filter = nullptr;
        ASSERT_EQ(S_OK, BindFilter(camera.name(), &filter));
        Controls c;
        c.pin = GetPin(filter, L"Capture");
        ASSERT_EQ(S_OK,
                  filter->QueryInterface(IID_IAMVideoProcAmp, reinterpret_cast<void**>(&c.amp)));
        ASSERT_EQ(S_OK,
                  filter->QueryInterface(IID_IAMVideoControl, reinterpret_cast<void**>(&c.video)));
        if (bind == 0) {
            for (const ContractCase& k : cases) {
                SCOPED_TRACE(k.name);
                long value = LONG_MIN;
                EXPECT_EQ(k.expected, k.call(c, value));
                if (k.value != LONG_MIN) {
                    EXPECT_EQ(k.value, value);
                }
            }
        } else {
            // The next bind of the instance starts where the last one left off, as stored.
            long value = 0, flags = 0;
            EXPECT_EQ(S_OK, c.amp->Get(VideoProcAmp_Brightness, &value, &flags));
            EXPECT_EQ(-40, value);
            EXPECT_EQ(S_OK, c.video->GetMode(c.pin, &value));
            EXPECT_EQ(VideoControlFlag_FlipHorizontal, value);
            EXPECT_EQ(-40, StoredNumber(camera.name(), L"Brightness"));
            EXPECT_EQ(VideoControlFlag_FlipHorizontal,
                      StoredNumber(camera.name(), L"VideoControlMode"));
        }
        c.video->Release();
        c.amp->Release();
        c.pin->Release();
        EXPECT_EQ(0u, filter->Release());
    }
}

namespace {

struct FrameSearch {
    DWORD thread;
    HWND found;
};

// The property frame's window, once its thread shows it.
HWND WaitForFrame(DWORD thread) {
    for (int i = 0; i < 200; ++i) {
        FrameSearch search = {thread, nullptr};
        EnumThreadWindows(
            thread,
            [](HWND window, LPARAM param) {
                auto* s = reinterpret_cast<FrameSearch*>(param);
                if (IsWindowVisible(window)) {
                    s->found = window;
                    return FALSE;
                }
                return TRUE;
            },
            reinterpret_cast<LPARAM>(&search));
        if (search.found) {
            return search.found;
        }
        Sleep(50);
    }
    return nullptr;
}

// A control of the page by its id, anywhere in the frame.
HWND Find(HWND frame, int id) {
    FrameSearch search = {static_cast<DWORD>(id), nullptr};
    EnumChildWindows(
        frame,
        [](HWND window, LPARAM param) {
            auto* s = reinterpret_cast<FrameSearch*>(param);
            if (GetDlgCtrlID(window) == static_cast<int>(s->thread)) {
                s->found = window;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
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
    DWORD id = 0;
    HANDLE thread = CreateThread(nullptr, 0, ShowFrame, &call, 0, &id);
    ASSERT_NE(nullptr, thread);
    HWND frame = WaitForFrame(id);
    ASSERT_NE(nullptr, frame);
    HWND brightness = Find(frame, IDC_BRIGHTNESS);
    HWND contrast = Find(frame, IDC_CONTRAST);
    HWND apply = Find(frame, 0x3021);
    ASSERT_TRUE(brightness && contrast && apply);
    EXPECT_EQ(L"0", Text(Find(frame, IDC_BRIGHTNESS_VALUE)));
    EXPECT_EQ(L"100", Text(Find(frame, IDC_CONTRAST_VALUE)));

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

    SendMessageW(contrast, WM_KEYDOWN, VK_HOME, 0);
    EXPECT_EQ(L"0", Text(Find(frame, IDC_CONTRAST_VALUE)));
    SendMessageW(Find(frame, IDCANCEL), BM_CLICK, 0, 0);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, 10000));
    CloseHandle(thread);
    EXPECT_EQ(S_OK, call.hr);
    EXPECT_EQ(S_OK, amp->Get(VideoProcAmp_Contrast, &value, &flags));
    EXPECT_EQ(100, value);
    EXPECT_EQ(100, StoredNumber(camera.name(), L"Contrast"));
    CoTaskMemFree(call.pages.pElems);
    amp->Release();
    EXPECT_EQ(0u, filter->Release());
    EXPECT_EQ(0, Stats().objects);
}
