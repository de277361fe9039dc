// Devices addressed by position while devices come and go: this process owns its prefix's
// device list, so positions are stable between listing and previewing.
#include "support/dialog_test.h"
#include "support/preview_test.h"

#include <gtest/gtest.h>

#include <memory>

using testcam_test::ScopedCamera;
using testcam_test::Stats;

namespace {

LRESULT EntryData(const CLookwellDlg& dlg, int nEntry) {
    return dlg.SendDlgItemMessage(IDC_DEVICE_LIST, CB_GETITEMDATA, static_cast<WPARAM>(nEntry));
}

LONG PreviewWidth(const CLookwellDlg& dlg) {
    LONG width = 0;
    LONG height = 0;
    GUID subtype{};
    return ConnectedFormat(dlg, width, height, subtype) ? width : -1;
}

} // namespace

TEST(DevicePositions, AnEntryLeadsToItsOwnDeviceWhenOneAheadWasLeftOut) {
    ScopedCamera first(L"RGB24:320x240@30");
    ScopedCamera leftOut(L"RGB24:640x480@30", L"nostreamconfig");
    ScopedCamera third(L"RGB24:160x120@30");
    ClosingMainWindow dlg;
    ASSERT_TRUE(dlg.Create(IDD_LOOKWELL_DIALOG));
    ASSERT_EQ((std::vector<std::wstring>{first.name(), third.name()}),
              ComboTexts(dlg.GetDlgItem(IDC_DEVICE_LIST)));
    EXPECT_EQ(0, reinterpret_cast<VideoFormatArray*>(EntryData(dlg, 0))->m_nMonikerPosition);
    EXPECT_EQ(2, reinterpret_cast<VideoFormatArray*>(EntryData(dlg, 1))->m_nMonikerPosition);

    // The second entry previews the third device, not the one left out.
    ASSERT_EQ(0u, dlg.BuildPreviewGraph(1, 0));
    EXPECT_EQ(160, PreviewWidth(dlg));
    dlg.StopPreview();
    ASSERT_EQ(0u, dlg.BuildPreviewGraph(0, 0));
    EXPECT_EQ(320, PreviewWidth(dlg));
    dlg.StopPreview();
    EXPECT_TRUE(testcam_test::CameraReleased());
}

TEST(DevicePositions, DevicesGoneSinceTheListingFailAtStagesTwoAndFour) {
    auto pFirst = std::make_unique<ScopedCamera>(L"RGB24:320x240@30");
    auto pSecond = std::make_unique<ScopedCamera>(L"RGB24:160x120@30");
    ClosingMainWindow dlg;
    ASSERT_TRUE(dlg.Create(IDD_LOOKWELL_DIALOG));
    ASSERT_EQ(2, dlg.m_nDeviceCount);

    // Past the last device: every moniker on the way released, the last Next answering S_FALSE.
    pSecond.reset();
    EXPECT_EQ(0x00040001u, dlg.BuildPreviewGraph(1, 0));
    EXPECT_EQ(0, Stats().objects);
    // No device at all: an empty category.
    pFirst.reset();
    EXPECT_EQ(0x00020001u, dlg.BuildPreviewGraph(0, 0));
    EXPECT_EQ(nullptr, dlg.m_pCaptureFilter);
    EXPECT_EQ(nullptr, dlg.m_pGraph);
}
