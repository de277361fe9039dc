// The camera as the platform's device enumerator hands it out, checked one behaviour at a time.
#include "support/camera.h"

#include <dvdmedia.h>
#include <uuids.h>

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <vector>

using namespace testcam_test;

namespace {

ULONG RefCount(IUnknown* object) {
    object->AddRef();
    return object->Release();
}

void FreeType(AM_MEDIA_TYPE* mt) {
    if (!mt) {
        return;
    }
    CoTaskMemFree(mt->pbFormat);
    if (mt->pUnk) {
        mt->pUnk->Release();
    }
    CoTaskMemFree(mt);
}

const VIDEOINFOHEADER* Vih(const AM_MEDIA_TYPE* mt) {
    return reinterpret_cast<const VIDEOINFOHEADER*>(mt->pbFormat);
}

// An enumerator that holds one item: asked for more, it answers S_FALSE with that one, which
// is returned; null when it holds another number.
template <class Enum, class Item> Item OnlyItem(Enum* e) {
    Item found[2] = {};
    ULONG count = 0;
    EXPECT_EQ(S_FALSE, e->Next(2, found, &count));
    EXPECT_EQ(1u, count);
    return count == 1 ? found[0] : nullptr;
}

// The pin's category, read as a graph builder reads it: the property's answer and size.
::testing::AssertionResult PinCategory(IPin* pin, GUID& category, DWORD& returned) {
    category = GUID_NULL;
    returned = 0;
    auto* props = Query<IKsPropertySet>(pin, IID_IKsPropertySet);
    if (!props) {
        return ::testing::AssertionFailure() << "no IKsPropertySet";
    }
    HRESULT hr = props->Get(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr, 0, &category,
                            sizeof(category), &returned);
    props->Release();
    if (hr != S_OK) {
        return ::testing::AssertionFailure() << "the category: " << std::hex << hr;
    }
    return ::testing::AssertionSuccess();
}

// A camera of one configuration, bound through the device enumerator, with its capture pin.
class Bound : public ::testing::Test {
protected:
    void Bind(const std::wstring& formats, const std::wstring& options = L"") {
        camera_ = new ScopedCamera(formats, options);
        ASSERT_EQ(S_OK, camera_->result());
        ASSERT_EQ(S_OK, BindFilter(camera_->name(), &filter_));
        pin_ = GetPin(filter_, L"Capture");
        ASSERT_NE(nullptr, pin_);
        pin_->QueryInterface(IID_IAMStreamConfig, reinterpret_cast<void**>(&config_));
    }
    void TearDown() override {
        if (config_) {
            config_->Release();
        }
        if (pin_) {
            pin_->Release();
        }
        if (filter_) {
            EXPECT_EQ(0u, filter_->Release());
        }
        delete camera_;
        EXPECT_EQ(0, Stats().objects);
    }

    ScopedCamera* camera_ = nullptr;
    IBaseFilter* filter_ = nullptr;
    IPin* pin_ = nullptr;
    IAMStreamConfig* config_ = nullptr;
};

} // namespace

TEST(Enumeration, InstanceIsListedWithItsFriendlyNameUntilRemoved) {
    std::wstring name;
    {
        ScopedCamera camera;
        ASSERT_EQ(S_OK, camera.result());
        name = camera.name();
        IMoniker* moniker = FindDevice(name);
        ASSERT_NE(nullptr, moniker);
        moniker->Release();
    }
    EXPECT_EQ(nullptr, FindDevice(name));
}

TEST(Enumeration, RemovingAnUnknownNameFails) {
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND),
              CameraInstall(FALSE, L"No Such Lookwell Camera"));
}

TEST(Enumeration, MalformedInstallTextIsRefused) {
    EXPECT_EQ(E_INVALIDARG, CameraInstall(TRUE, L"name=Broken;formats=RGB24:1x1"));
    EXPECT_EQ(nullptr, FindDevice(L"Broken"));
}

TEST(Enumeration, TwoInstancesOfferTheirOwnFormats) {
    ScopedCamera small(L"RGB24:160x120@30");
    ScopedCamera large(L"YUY2:1280x720@15,YUY2:640x480@30");
    const ScopedCamera* cameras[] = {&small, &large};
    const int counts[] = {1, 2};
    const LONG widths[] = {160, 1280};
    for (int i = 0; i < 2; ++i) {
        IBaseFilter* filter = nullptr;
        ASSERT_EQ(S_OK, BindFilter(cameras[i]->name(), &filter));
        IPin* pin = GetPin(filter, L"Capture");
        ASSERT_NE(nullptr, pin);
        IAMStreamConfig* config = nullptr;
        ASSERT_EQ(S_OK,
                  pin->QueryInterface(IID_IAMStreamConfig, reinterpret_cast<void**>(&config)));
        int count = 0, size = 0;
        EXPECT_EQ(S_OK, config->GetNumberOfCapabilities(&count, &size));
        EXPECT_EQ(counts[i], count);
        AM_MEDIA_TYPE* mt = nullptr;
        ASSERT_EQ(S_OK, config->GetFormat(&mt));
        EXPECT_EQ(widths[i], Vih(mt)->bmiHeader.biWidth);
        FreeType(mt);
        config->Release();
        pin->Release();
        EXPECT_EQ(0u, filter->Release());
    }
}

TEST(Enumeration, DamagedEntryFailsTheBind) {
    ScopedCamera camera;
    IMoniker* moniker = FindDevice(camera.name());
    ASSERT_NE(nullptr, moniker);
    IPropertyBag* bag = nullptr;
    ASSERT_EQ(S_OK, moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag,
                                           reinterpret_cast<void**>(&bag)));
    VARIANT v;
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocString(L"RGB24:640x480");
    EXPECT_EQ(S_OK, bag->Write(L"Formats", &v));
    VariantClear(&v);
    bag->Release();
    IBaseFilter* filter = nullptr;
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_INVALID_DATA),
              moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter,
                                    reinterpret_cast<void**>(&filter)));
    EXPECT_EQ(nullptr, filter);
    moniker->Release();
}

TEST_F(Bound, FilterIsALiveSource) {
    Bind(L"");
    CLSID clsid;
    EXPECT_EQ(S_OK, filter_->GetClassID(&clsid));
    IAMFilterMiscFlags* flags = nullptr;
    ASSERT_EQ(S_OK,
              filter_->QueryInterface(IID_IAMFilterMiscFlags, reinterpret_cast<void**>(&flags)));
    EXPECT_EQ(static_cast<ULONG>(AM_FILTER_MISC_FLAGS_IS_SOURCE), flags->GetMiscFlags());
    flags->Release();
}

// Connected, it cannot cue: Graph.PausedCameraCannotCueOnlyWhileConnected.
TEST_F(Bound, PausedUnconnectedSourceAnswersOk) {
    Bind(L"RGB24:160x120@30");
    FILTER_STATE state;
    EXPECT_EQ(S_OK, filter_->GetState(0, &state));
    EXPECT_EQ(State_Stopped, state);
    EXPECT_EQ(S_OK, filter_->Pause());
    EXPECT_EQ(S_OK, filter_->GetState(0, &state));
    EXPECT_EQ(State_Paused, state);
    EXPECT_EQ(S_OK, filter_->Run(0));
    EXPECT_EQ(S_OK, filter_->GetState(0, &state));
    EXPECT_EQ(State_Running, state);
    EXPECT_EQ(S_OK, filter_->Stop());
    EXPECT_EQ(S_OK, filter_->GetState(0, &state));
    EXPECT_EQ(State_Stopped, state);
}

TEST_F(Bound, OneCapturePinWithItsCategory) {
    Bind(L"");
    IEnumPins* pins = nullptr;
    ASSERT_EQ(S_OK, filter_->EnumPins(&pins));
    IPin* found = OnlyItem<IEnumPins, IPin*>(pins);
    EXPECT_EQ(pin_, found);
    if (found) {
        found->Release();
    }
    pins->Release();

    PIN_DIRECTION dir;
    EXPECT_EQ(S_OK, pin_->QueryDirection(&dir));
    EXPECT_EQ(PINDIR_OUTPUT, dir);
    IKsPropertySet* props = nullptr;
    ASSERT_EQ(S_OK, pin_->QueryInterface(IID_IKsPropertySet, reinterpret_cast<void**>(&props)));
    GUID category = GUID_NULL;
    DWORD returned = 0;
    EXPECT_TRUE(PinCategory(pin_, category, returned));
    EXPECT_EQ(PIN_CATEGORY_CAPTURE, category);
    EXPECT_EQ(sizeof(GUID), returned);
    DWORD support = 0;
    EXPECT_EQ(S_OK, props->QuerySupported(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, &support));
    EXPECT_EQ(static_cast<DWORD>(KSPROPERTY_SUPPORT_GET), support);
    EXPECT_EQ(E_PROP_SET_UNSUPPORTED,
              props->Get(PIN_CATEGORY_CAPTURE, AMPROPERTY_PIN_CATEGORY, nullptr, 0, &category,
                         sizeof(category), &returned));
    EXPECT_EQ(E_PROP_ID_UNSUPPORTED, props->Set(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr,
                                                0, &category, sizeof(category)));
    props->Release();
}

namespace {

// Walks an enumerator of `total` items through Next, Skip, Reset and Clone; `same` tells
// whether two fetched items are the same, `release` gives one back.
template <class Enum, class Item, class Same, class Release>
void Walk(Enum* e, ULONG total, Same same, Release release) {
    std::vector<Item> items(total + 1);
    ULONG fetched = 99;
    EXPECT_EQ(E_POINTER, e->Next(2, items.data(), nullptr));
    ASSERT_EQ(S_OK, e->Next(1, items.data(), nullptr));
    Item first = items[0];
    EXPECT_EQ(S_FALSE, e->Next(total + 1, items.data(), &fetched));
    EXPECT_EQ(total - 1, fetched);
    for (ULONG i = 0; i < fetched; ++i) {
        release(items[i]);
    }
    EXPECT_EQ(S_OK, e->Reset());
    EXPECT_EQ(S_OK, e->Skip(total));
    EXPECT_EQ(S_FALSE, e->Skip(1));
    // A clone starts where its original stands and moves on its own.
    EXPECT_EQ(S_OK, e->Reset());
    Enum* clone = nullptr;
    ASSERT_EQ(S_OK, e->Clone(&clone));
    EXPECT_EQ(S_OK, e->Skip(total));
    Item again = nullptr;
    ASSERT_EQ(S_OK, clone->Next(1, &again, nullptr));
    EXPECT_TRUE(same(first, again));
    release(again);
    clone->Release();
    release(first);
}

} // namespace

TEST_F(Bound, PinAndTypeEnumeratorsWalkTheirLists) {
    Bind(L"RGB24:160x120@30,YUY2:320x240@30,RGB32:640x480@15", L"previewpin");
    IEnumPins* pins = nullptr;
    ASSERT_EQ(S_OK, filter_->EnumPins(&pins));
    Walk<IEnumPins, IPin*>(
        pins, 2, [](IPin* a, IPin* b) { return a == b; }, [](IPin* p) { p->Release(); });
    pins->Release();

    IEnumMediaTypes* types = nullptr;
    ASSERT_EQ(S_OK, pin_->EnumMediaTypes(&types));
    Walk<IEnumMediaTypes, AM_MEDIA_TYPE*>(
        types, 3,
        [](AM_MEDIA_TYPE* a, AM_MEDIA_TYPE* b) {
            return a->subtype == b->subtype &&
                   Vih(a)->bmiHeader.biWidth == Vih(b)->bmiHeader.biWidth;
        },
        FreeType);
    types->Release();
}

TEST_F(Bound, PinsCountOnTheFilter) {
    Bind(L"");
    EXPECT_EQ(3u, RefCount(filter_)); // ours, the pin's and the stream configuration's
    IPin* again = GetPin(filter_, L"Capture");
    EXPECT_EQ(4u, RefCount(filter_));
    again->Release();
    EXPECT_EQ(3u, RefCount(filter_));
}

TEST_F(Bound, CapabilitiesReadBackAsConfigured) {
    Bind(L"YUY2:640x480@30,RGB24:1920x1080@15");
    int count = 0, size = 0;
    ASSERT_EQ(S_OK, config_->GetNumberOfCapabilities(&count, &size));
    EXPECT_EQ(2, count);
    EXPECT_EQ(128, size);
    EXPECT_EQ(sizeof(VIDEO_STREAM_CONFIG_CAPS), static_cast<size_t>(size));

    AM_MEDIA_TYPE* mt = nullptr;
    VIDEO_STREAM_CONFIG_CAPS caps;
    ASSERT_EQ(S_OK, config_->GetStreamCaps(1, &mt, reinterpret_cast<BYTE*>(&caps)));
    EXPECT_EQ(MEDIATYPE_Video, mt->majortype);
    EXPECT_EQ(MEDIASUBTYPE_RGB24, mt->subtype);
    EXPECT_EQ(FORMAT_VideoInfo, mt->formattype);
    EXPECT_EQ(TRUE, mt->bFixedSizeSamples);
    EXPECT_EQ(1920u * 1080 * 3, mt->lSampleSize);
    ASSERT_EQ(sizeof(VIDEOINFOHEADER), mt->cbFormat);
    EXPECT_EQ(666667, Vih(mt)->AvgTimePerFrame);
    EXPECT_EQ(1920u * 1080 * 24 * 15, Vih(mt)->dwBitRate);
    EXPECT_EQ(1920, Vih(mt)->bmiHeader.biWidth);
    EXPECT_EQ(1080, Vih(mt)->bmiHeader.biHeight);
    EXPECT_EQ(24, Vih(mt)->bmiHeader.biBitCount);
    EXPECT_EQ(static_cast<DWORD>(BI_RGB), Vih(mt)->bmiHeader.biCompression);
    FreeType(mt);
    EXPECT_EQ(FORMAT_VideoInfo, caps.guid);
    EXPECT_EQ(1920, caps.InputSize.cx);
    EXPECT_EQ(1080, caps.MaxOutputSize.cy);
    EXPECT_EQ(caps.MinOutputSize.cx, caps.MaxOutputSize.cx);
    EXPECT_EQ(666667, caps.MinFrameInterval);
    EXPECT_EQ(666667, caps.MaxFrameInterval);
    EXPECT_EQ(1920L * 1080 * 24 * 15, caps.MaxBitsPerSecond);

    ASSERT_EQ(S_OK, config_->GetStreamCaps(0, &mt, reinterpret_cast<BYTE*>(&caps)));
    EXPECT_EQ(MEDIASUBTYPE_YUY2, mt->subtype);
    EXPECT_EQ(static_cast<DWORD>(MAKEFOURCC('Y', 'U', 'Y', '2')), Vih(mt)->bmiHeader.biCompression);
    EXPECT_EQ(16, Vih(mt)->bmiHeader.biBitCount);
    FreeType(mt);

    mt = nullptr;
    EXPECT_EQ(S_FALSE, config_->GetStreamCaps(2, &mt, reinterpret_cast<BYTE*>(&caps)));
    EXPECT_EQ(nullptr, mt);
    EXPECT_EQ(E_POINTER, config_->GetStreamCaps(0, &mt, nullptr));
}

TEST_F(Bound, FormatDefaultsToTheFirstAndFollowsSetFormat) {
    Bind(L"RGB24:320x240@30,YUY2:320x240@30");
    AM_MEDIA_TYPE* mt = nullptr;
    ASSERT_EQ(S_OK, config_->GetFormat(&mt));
    EXPECT_EQ(MEDIASUBTYPE_RGB24, mt->subtype);
    FreeType(mt);

    VIDEO_STREAM_CONFIG_CAPS caps;
    ASSERT_EQ(S_OK, config_->GetStreamCaps(1, &mt, reinterpret_cast<BYTE*>(&caps)));
    EXPECT_EQ(S_OK, config_->SetFormat(mt));
    FreeType(mt);
    ASSERT_EQ(S_OK, config_->GetFormat(&mt));
    EXPECT_EQ(MEDIASUBTYPE_YUY2, mt->subtype);
    FreeType(mt);

    // The pin now offers the chosen format alone.
    IEnumMediaTypes* types = nullptr;
    ASSERT_EQ(S_OK, pin_->EnumMediaTypes(&types));
    AM_MEDIA_TYPE* offered = OnlyItem<IEnumMediaTypes, AM_MEDIA_TYPE*>(types);
    types->Release();
    ASSERT_NE(nullptr, offered);
    EXPECT_EQ(MEDIASUBTYPE_YUY2, offered->subtype);
    EXPECT_EQ(S_OK, pin_->QueryAccept(offered));
    FreeType(offered);
}

TEST_F(Bound, SetFormatRefusesWhatIsNotOffered) {
    Bind(L"RGB24:320x240@30");
    AM_MEDIA_TYPE* mt = nullptr;
    ASSERT_EQ(S_OK, config_->GetFormat(&mt));
    auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(mt->pbFormat);
    vih->bmiHeader.biWidth = 640;
    EXPECT_EQ(E_FAIL, config_->SetFormat(mt));
    EXPECT_EQ(S_FALSE, pin_->QueryAccept(mt));
    vih->bmiHeader.biWidth = 320;
    vih->AvgTimePerFrame = 666667;
    EXPECT_EQ(E_FAIL, config_->SetFormat(mt));
    // No frame time is a wildcard; a negative height asks for top-down rows.
    vih->AvgTimePerFrame = 0;
    vih->bmiHeader.biHeight = -240;
    EXPECT_EQ(S_OK, config_->SetFormat(mt));
    FreeType(mt);
}

namespace {

BITMAPINFOHEADER* Bmi(AM_MEDIA_TYPE* mt) {
    if (mt->formattype == FORMAT_VideoInfo2) {
        return &reinterpret_cast<VIDEOINFOHEADER2*>(mt->pbFormat)->bmiHeader;
    }
    return &reinterpret_cast<VIDEOINFOHEADER*>(mt->pbFormat)->bmiHeader;
}

void SetFrameTime(AM_MEDIA_TYPE* mt, REFERENCE_TIME frameTime) {
    reinterpret_cast<VIDEOINFOHEADER*>(mt->pbFormat)->AvgTimePerFrame = frameTime;
}

bool SameType(const AM_MEDIA_TYPE* a, const AM_MEDIA_TYPE* b) {
    return a->majortype == b->majortype && a->subtype == b->subtype &&
           a->formattype == b->formattype && a->bFixedSizeSamples == b->bFixedSizeSamples &&
           a->lSampleSize == b->lSampleSize && a->cbFormat == b->cbFormat &&
           memcmp(a->pbFormat, b->pbFormat, a->cbFormat) == 0;
}

// A type a client hands to SetFormat and QueryAccept: one of the camera's capabilities with
// something changed.
struct TypeCase {
    const char* name;
    int capability;
    void (*change)(AM_MEDIA_TYPE* mt);
    HRESULT setFormat;
    HRESULT queryAccept;
    int chosen; // the capability GetFormat answers with afterwards
};

} // namespace

// Capabilities: 0 YUY2 640 x 480 at 30, 1 RGB24 320 x 240 at 30, 2 the same at 15, 3 RGB24
// 160 x 120 at 30 in VIDEOINFOHEADER2. Refused types leave the default, capability 0.
TEST(StreamConfig, SetFormatAndQueryAcceptGoBySubtypeSizeAndFrameTime) {
    const TypeCase cases[] = {
        {"AsReported", 1, [](AM_MEDIA_TYPE*) {}, S_OK, S_OK, 1},
        {"OtherBitCount", 1, [](AM_MEDIA_TYPE* mt) { Bmi(mt)->biBitCount = 32; }, S_OK, S_OK, 1},
        {"OtherCompression", 1, [](AM_MEDIA_TYPE* mt) { Bmi(mt)->biCompression = BI_BITFIELDS; },
         S_OK, S_OK, 1},
        {"NoImageSize", 1, [](AM_MEDIA_TYPE* mt) { Bmi(mt)->biSizeImage = 0; }, S_OK, S_OK, 1},
        {"OtherSampleSize", 1, [](AM_MEDIA_TYPE* mt) { mt->lSampleSize = 12345; }, S_OK, S_OK, 1},
        {"Yuy2WithRgbFields", 0,
         [](AM_MEDIA_TYPE* mt) {
             Bmi(mt)->biBitCount = 24;
             Bmi(mt)->biCompression = BI_RGB;
             Bmi(mt)->biSizeImage = 1;
             mt->lSampleSize = 1;
         },
         S_OK, S_OK, 0},
        {"CarelessVideoInfo2", 3,
         [](AM_MEDIA_TYPE* mt) {
             Bmi(mt)->biBitCount = 16;
             mt->lSampleSize = 0;
         },
         S_OK, S_OK, 3},
        {"NoFrameTimeTakesTheFirstOfThatSize", 2, [](AM_MEDIA_TYPE* mt) { SetFrameTime(mt, 0); },
         S_OK, S_OK, 1},
        {"FrameTimePicksTheRate", 1, [](AM_MEDIA_TYPE* mt) { SetFrameTime(mt, 666667); }, S_OK,
         S_OK, 2},
        {"TopDownRows", 1, [](AM_MEDIA_TYPE* mt) { Bmi(mt)->biHeight = -240; }, S_OK, S_OK, 1},
        {"OtherWidth", 1, [](AM_MEDIA_TYPE* mt) { Bmi(mt)->biWidth = 640; }, E_FAIL, S_FALSE, 0},
        {"OtherHeight", 1, [](AM_MEDIA_TYPE* mt) { Bmi(mt)->biHeight = 480; }, E_FAIL, S_FALSE, 0},
        {"TopDownYuy2", 0, [](AM_MEDIA_TYPE* mt) { Bmi(mt)->biHeight = -480; }, E_FAIL, S_FALSE, 0},
        {"OtherMajorType", 1, [](AM_MEDIA_TYPE* mt) { mt->majortype = MEDIATYPE_Audio; }, E_FAIL,
         S_FALSE, 0},
        {"SubtypeNotOffered", 1, [](AM_MEDIA_TYPE* mt) { mt->subtype = MEDIASUBTYPE_RGB565; },
         E_FAIL, S_FALSE, 0},
        {"SubtypeOfferedInAnotherSize", 1,
         [](AM_MEDIA_TYPE* mt) { mt->subtype = MEDIASUBTYPE_YUY2; }, E_FAIL, S_FALSE, 0},
        {"OtherFormatType", 1, [](AM_MEDIA_TYPE* mt) { mt->formattype = FORMAT_VideoInfo2; },
         E_FAIL, S_FALSE, 0},
        {"VideoInfoForAVideoInfo2Format", 3,
         [](AM_MEDIA_TYPE* mt) { mt->formattype = FORMAT_VideoInfo; }, E_FAIL, S_FALSE, 0},
        {"FrameRateNotOffered", 1, [](AM_MEDIA_TYPE* mt) { SetFrameTime(mt, 1000000); }, E_FAIL,
         S_FALSE, 0},
        {"ShortFormatBlock", 1, [](AM_MEDIA_TYPE* mt) { mt->cbFormat = 8; }, E_FAIL, S_FALSE, 0},
    };
    ScopedCamera camera(L"YUY2:640x480@30,RGB24:320x240@30,RGB24:320x240@15,"
                        L"RGB24:160x120@30:vih2");
    ASSERT_EQ(S_OK, camera.result());
    for (const TypeCase& c : cases) {
        SCOPED_TRACE(c.name);
        IBaseFilter* filter = nullptr;
        ASSERT_EQ(S_OK, BindFilter(camera.name(), &filter));
        IPin* pin = GetPin(filter, L"Capture");
        ASSERT_NE(nullptr, pin);
        IAMStreamConfig* config = nullptr;
        ASSERT_EQ(S_OK,
                  pin->QueryInterface(IID_IAMStreamConfig, reinterpret_cast<void**>(&config)));
        VIDEO_STREAM_CONFIG_CAPS caps;
        AM_MEDIA_TYPE* mt = nullptr;
        ASSERT_EQ(S_OK, config->GetStreamCaps(c.capability, &mt, reinterpret_cast<BYTE*>(&caps)));
        c.change(mt);
        EXPECT_EQ(c.queryAccept, pin->QueryAccept(mt));
        EXPECT_EQ(c.setFormat, config->SetFormat(mt));
        FreeType(mt);

        AM_MEDIA_TYPE* expected = nullptr;
        AM_MEDIA_TYPE* current = nullptr;
        ASSERT_EQ(S_OK, config->GetStreamCaps(c.chosen, &expected, reinterpret_cast<BYTE*>(&caps)));
        ASSERT_EQ(S_OK, config->GetFormat(&current));
        EXPECT_TRUE(SameType(expected, current));
        FreeType(expected);
        FreeType(current);
        config->Release();
        pin->Release();
        EXPECT_EQ(0u, filter->Release());
    }
}

TEST_F(Bound, StreamCapsPastTheLastIsFalseWhateverThePointers) {
    Bind(L"RGB24:320x240@30,RGB24:160x120@30");
    AM_MEDIA_TYPE* mt = nullptr;
    VIDEO_STREAM_CONFIG_CAPS caps;
    for (int index : {2, 3, 1000}) {
        EXPECT_EQ(S_FALSE, config_->GetStreamCaps(index, nullptr, nullptr)) << index;
        EXPECT_EQ(S_FALSE, config_->GetStreamCaps(index, &mt, nullptr)) << index;
        EXPECT_EQ(S_FALSE, config_->GetStreamCaps(index, nullptr, reinterpret_cast<BYTE*>(&caps)))
            << index;
        EXPECT_EQ(nullptr, mt) << index;
    }
    EXPECT_EQ(E_POINTER, config_->GetStreamCaps(1, nullptr, reinterpret_cast<BYTE*>(&caps)));
    EXPECT_EQ(E_POINTER, config_->GetStreamCaps(1, &mt, nullptr));
}

TEST_F(Bound, UnconnectedPinSaysSo) {
    Bind(L"");
    IPin* peer = reinterpret_cast<IPin*>(1);
    EXPECT_EQ(VFW_E_NOT_CONNECTED, pin_->ConnectedTo(&peer));
    EXPECT_EQ(nullptr, peer);
    AM_MEDIA_TYPE mt;
    EXPECT_EQ(VFW_E_NOT_CONNECTED, pin_->ConnectionMediaType(&mt));
    EXPECT_EQ(S_FALSE, pin_->Disconnect());
    EXPECT_EQ(E_UNEXPECTED, pin_->EndOfStream());
    EXPECT_EQ(E_UNEXPECTED, pin_->ReceiveConnection(pin_, &mt));
}

TEST_F(Bound, WithoutStreamConfiguration) {
    Bind(L"", L"nostreamconfig");
    EXPECT_EQ(nullptr, config_);
    void* unknown = reinterpret_cast<void*>(1);
    EXPECT_EQ(E_NOINTERFACE, pin_->QueryInterface(IID_IAMStreamConfig, &unknown));
    EXPECT_EQ(nullptr, unknown);
}

TEST_F(Bound, CapabilitySizeOtherThan128IsReportedAndRespected) {
    Bind(L"RGB24:320x240@30", L"capssize=64");
    int count = 0, size = 0;
    ASSERT_EQ(S_OK, config_->GetNumberOfCapabilities(&count, &size));
    EXPECT_EQ(64, size);
    BYTE caps[256];
    memset(caps, 0xA5, sizeof(caps));
    AM_MEDIA_TYPE* mt = nullptr;
    ASSERT_EQ(S_OK, config_->GetStreamCaps(0, &mt, caps));
    FreeType(mt);
    EXPECT_EQ(0, memcmp(&FORMAT_VideoInfo, caps, sizeof(GUID)));
    EXPECT_EQ(0xA5, caps[64]);
}

TEST_F(Bound, LargerCapabilitySizeIsZeroFilled) {
    Bind(L"RGB24:320x240@30", L"capssize=200");
    BYTE caps[256];
    memset(caps, 0xA5, sizeof(caps));
    AM_MEDIA_TYPE* mt = nullptr;
    ASSERT_EQ(S_OK, config_->GetStreamCaps(0, &mt, caps));
    FreeType(mt);
    EXPECT_EQ(320, reinterpret_cast<VIDEO_STREAM_CONFIG_CAPS*>(caps)->InputSize.cx);
    EXPECT_EQ(0, caps[128]);
    EXPECT_EQ(0, caps[199]);
    EXPECT_EQ(0xA5, caps[200]);
}

TEST_F(Bound, VideoInfo2Formats) {
    Bind(L"RGB24:320x240@30:vih2,RGB24:640x480@30");
    AM_MEDIA_TYPE* mt = nullptr;
    VIDEO_STREAM_CONFIG_CAPS caps;
    ASSERT_EQ(S_OK, config_->GetStreamCaps(0, &mt, reinterpret_cast<BYTE*>(&caps)));
    EXPECT_EQ(FORMAT_VideoInfo2, mt->formattype);
    EXPECT_EQ(FORMAT_VideoInfo2, caps.guid);
    ASSERT_EQ(sizeof(VIDEOINFOHEADER2), mt->cbFormat);
    const auto* vih = reinterpret_cast<const VIDEOINFOHEADER2*>(mt->pbFormat);
    EXPECT_EQ(320, vih->bmiHeader.biWidth);
    EXPECT_EQ(4u, vih->dwPictAspectRatioX);
    EXPECT_EQ(3u, vih->dwPictAspectRatioY);
    EXPECT_EQ(S_OK, pin_->QueryAccept(mt));
    FreeType(mt);
}

TEST_F(Bound, PreviewPinOfItsOwn) {
    Bind(L"", L"previewpin");
    IPin* preview = GetPin(filter_, L"Preview");
    ASSERT_NE(nullptr, preview);
    GUID category = GUID_NULL;
    DWORD returned = 0;
    EXPECT_TRUE(PinCategory(preview, category, returned));
    EXPECT_EQ(PIN_CATEGORY_PREVIEW, category);
    preview->Release();
}

TEST_F(Bound, FrameTimeOfZero) {
    Bind(L"RGB24:320x240@0");
    AM_MEDIA_TYPE* mt = nullptr;
    VIDEO_STREAM_CONFIG_CAPS caps;
    ASSERT_EQ(S_OK, config_->GetStreamCaps(0, &mt, reinterpret_cast<BYTE*>(&caps)));
    EXPECT_EQ(0, Vih(mt)->AvgTimePerFrame);
    EXPECT_EQ(0u, Vih(mt)->dwBitRate);
    // The capability holds the interval the camera keeps, as the platform's filter does when
    // its media type states none.
    EXPECT_EQ(333333, caps.MinFrameInterval);
    EXPECT_EQ(333333, caps.MaxFrameInterval);
    FreeType(mt);
}

TEST_F(Bound, BitRateBeyondWhatALongHolds) {
    Bind(L"RGB32:1920x1080@60");
    AM_MEDIA_TYPE* mt = nullptr;
    VIDEO_STREAM_CONFIG_CAPS caps;
    ASSERT_EQ(S_OK, config_->GetStreamCaps(0, &mt, reinterpret_cast<BYTE*>(&caps)));
    EXPECT_EQ(3981312000u, Vih(mt)->dwBitRate);
    EXPECT_GE(Vih(mt)->dwBitRate, 2147483648u);
    EXPECT_EQ(LONG_MAX, caps.MaxBitsPerSecond);
    FreeType(mt);
}

TEST(Lifetime, ReleasedFilterLeavesTheDllUnloadable) {
    ScopedCamera camera;
    IBaseFilter* filter = nullptr;
    ASSERT_EQ(S_OK, BindFilter(camera.name(), &filter));
    EXPECT_GE(Stats().objects, 1);
    EXPECT_EQ(S_FALSE, CameraCanUnloadNow());
    EXPECT_EQ(0u, filter->Release());
    EXPECT_EQ(0, Stats().objects);
    EXPECT_EQ(S_OK, CameraCanUnloadNow());
}
