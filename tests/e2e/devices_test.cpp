// Cameras that come and go between presses, and cameras the window cannot use.
#include "support/camera.h"
#include "support/e2e_test.h"

#include <memory>

using testcam_test::ScopedCamera;

namespace {

class E2eDevices : public CEndToEndTest {
protected:
    ::testing::AssertionResult PressForMessage(const wchar_t* pszText) {
        return Press([&] { return WindowText(Item(IDC_MESSAGE)) == pszText; });
    }
};

} // namespace

TEST_F(E2eDevices, ARemovedCameraIsNoticedAtTheNextPressAndNoCameraLeftEndsCapture) {
    auto pFirst = std::make_unique<ScopedCamera>(L"RGB24:320x240@30");
    auto pSecond = std::make_unique<ScopedCamera>(L"RGB32:160x120@30");
    ASSERT_TRUE(Launch());
    HWND hDevices = Item(IDC_DEVICE_LIST);
    SelectEntry(hDevices, 1);
    ASSERT_TRUE(Start());
    ASSERT_TRUE(Stop());

    // The camera previewed goes.
    std::vector<std::wstring> listed = ComboTexts(hDevices);
    ASSERT_FALSE(listed.empty());
    bool bSecondListedFirst = listed.front() == pSecond->name();
    std::wstring remaining = bSecondListedFirst ? pSecond->name() : pFirst->name();
    (bSecondListedFirst ? pFirst : pSecond).reset();
    ASSERT_TRUE(
        PressForMessage(L"Changed number of capture devices.\nSelect capture device again."));
    EXPECT_TRUE(::IsWindowVisible(Item(IDC_MESSAGE)));
    EXPECT_FALSE(::IsWindowVisible(Item(IDC_PREVIEW)));
    EXPECT_EQ(std::vector<std::wstring>{remaining}, ComboTexts(hDevices));
    EXPECT_EQ(0, Selection(hDevices));
    EXPECT_EQ(0, Selection(Item(IDC_FORMAT_LIST)));
    EXPECT_EQ(L"Lookwell", WindowText(Main()));
    EXPECT_TRUE(HasCaption(L"Pre\nview"));
    for (int nId : {IDC_DEVICE_LIST, IDC_FORMAT_LIST, IDC_PREVIEW_BUTTON}) {
        EXPECT_TRUE(::IsWindowEnabled(Item(nId))) << nId;
    }

    // The next press starts the first device.
    ASSERT_TRUE(Start());
    EXPECT_FALSE(::IsWindowVisible(Item(IDC_MESSAGE)));
    EXPECT_TRUE(::IsWindowVisible(Item(IDC_PREVIEW)));
    EXPECT_TRUE(IsLive());
    EXPECT_TRUE(ShowsBars());
    ASSERT_TRUE(Stop());

    pFirst.reset();
    pSecond.reset();
    ASSERT_TRUE(PressForMessage(L"Failed to find capture devices."));
    EXPECT_TRUE(::IsWindowVisible(Item(IDC_MESSAGE)));
    for (int nId : {IDC_DEVICE_LIST, IDC_FORMAT_LIST, IDC_PREVIEW_BUTTON}) {
        EXPECT_FALSE(::IsWindowEnabled(Item(nId))) << nId;
    }
}

TEST_F(E2eDevices, CamerasWithoutUsableFormatsAreLeftOutAndAPreviewPinIsPreviewed) {
    ScopedCamera plain(L"RGB24:320x240@30");
    ScopedCamera noStreamConfig(L"RGB24:320x240@30", L"nostreamconfig");
    ScopedCamera oddCapsSize(L"RGB24:320x240@30", L"capssize=64");
    ScopedCamera videoInfo2Only(L"RGB24:320x240@30:vih2,RGB32:160x120@30:vih2");
    ScopedCamera previewPin(L"RGB24:160x120@30", L"previewpin");
    ASSERT_TRUE(Launch());
    std::vector<std::wstring> expected;
    for (const std::wstring& name : PlatformDeviceNames()) {
        if (name == plain.name() || name == previewPin.name()) {
            expected.push_back(name);
        }
    }
    HWND hDevices = Item(IDC_DEVICE_LIST);
    ASSERT_EQ(expected, ComboTexts(hDevices));

    SelectEntry(hDevices, ComboFind(hDevices, previewPin.name()));
    EXPECT_EQ(std::vector<std::wstring>{L"160x120  30.0 RGB24 13824000"},
              ComboTexts(Item(IDC_FORMAT_LIST)));
    ASSERT_TRUE(Start());
    EXPECT_EQ(160, Width(Frame()));
    EXPECT_EQ(120, Height(Frame()));
    EXPECT_TRUE(IsLive());
    EXPECT_TRUE(ShowsBars());
}
