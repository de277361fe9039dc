// The device and format lists filled from the platform's real device enumerator, with test
// cameras registered in the tests' prefix. Other tests register cameras of their own side by
// side, so each test looks only at its own cameras' entries.
#include "support/camera.h"
#include "support/com_standin.h"
#include "support/dialog_test.h"
#include "support/main_window.h"
#include "ui/lookwell_dlg.h"

#include <gtest/gtest.h>

using testcam_test::ScopedCamera;

namespace {

class DeviceList : public ::testing::Test {
protected:
    HWND Devices() const { return dlg.GetDlgItem(IDC_DEVICE_LIST); }
    HWND Formats() const { return dlg.GetDlgItem(IDC_FORMAT_LIST); }
    int DeviceEntry(const ScopedCamera& camera) const {
        return ComboFind(Devices(), camera.name());
    }
    LRESULT Data(int nEntry) const {
        return ::SendMessageW(Devices(), CB_GETITEMDATA, static_cast<WPARAM>(nEntry), 0);
    }
    // The format entries of a device, as SelectDevice shows them.
    std::vector<std::wstring> FormatEntries(int nEntry) {
        dlg.SelectDevice(nEntry, 0);
        return ComboTexts(Formats());
    }
    int Selection(HWND hCombo) const {
        return static_cast<int>(::SendMessageW(hCombo, CB_GETCURSEL, 0, 0));
    }

    ClosingMainWindow dlg;
};

} // namespace

TEST_F(DeviceList, ListsQualifyingDevicesWithTheirFormatsInOrder) {
    struct Case {
        const wchar_t* formats;
        const wchar_t* options;
        std::vector<std::wstring> entries; // empty: the device is left out
    };
    const Case cases[] = {
        {L"", L"", {}}, // the default camera: checked below
        {L"RGB24:320x240@30,YUY2:320x240@15:vih2,RGB32:160x120@0,RGB32:1920x1080@60,YUY2:640x480@"
         L"25",
         L"",
         {L"320x240  30.0 RGB24 55296000", L"160x120   1.$ RGB32 0",
          L"1920x1080  60.0 RGB32 3981312000", L"640x480  25.0 YUY2 122880000"}},
        {L"RGB24:320x240@30", L"nostreamconfig", {}},
        {L"RGB24:320x240@30", L"capssize=64", {}},
        {L"RGB24:320x240@30:vih2,YUY2:640x480@30:vih2", L"", {}},
        {L"RGB24:320x240@30", L"previewpin", {L"320x240  30.0 RGB24 55296000"}},
    };
    std::vector<std::unique_ptr<ScopedCamera>> cameras;
    for (const Case& c : cases) {
        cameras.push_back(std::make_unique<ScopedCamera>(c.formats, c.options));
        ASSERT_EQ(S_OK, cameras.back()->result());
    }
    ASSERT_TRUE(dlg.Create(IDD_LOOKWELL_DIALOG));
    EXPECT_EQ(0, testcam_test::Stats().objects) << "every bound filter released";
    EXPECT_EQ(::SendMessageW(Devices(), CB_GETCOUNT, 0, 0), dlg.m_nDeviceCount);

    std::vector<std::wstring> defaults = FormatEntries(DeviceEntry(*cameras[0]));
    ASSERT_EQ(15u, defaults.size());
    EXPECT_EQ(L"640x480  30.0 RGB24 221184000", defaults[0]);
    EXPECT_EQ(L"640x480  30.0 YUY2 147456000", defaults[1]);
    for (size_t i = 1; i < std::size(cases); ++i) {
        SCOPED_TRACE(i);
        int nEntry = DeviceEntry(*cameras[i]);
        if (cases[i].entries.empty()) {
            EXPECT_EQ(-1, nEntry) << "left out";
            continue;
        }
        ASSERT_NE(-1, nEntry);
        EXPECT_EQ(cases[i].entries, FormatEntries(nEntry));
        EXPECT_EQ(nEntry, Selection(Devices()));
        EXPECT_EQ(0, Selection(Formats()));
    }
}

TEST_F(DeviceList, StagesTheRealPlatformCannotProduceLeaveTheListAlone) {
    ScopedCamera camera;
    ASSERT_TRUE(dlg.Create(IDD_LOOKWELL_DIALOG));
    std::vector<std::wstring> before = ComboTexts(Devices());
    ASSERT_FALSE(before.empty());
    LRESULT nData = Data(0);

    // A device enumerator that answers 0 but hands out no enumerator.
    struct NoEnumerator final : ICreateDevEnum {
        STDMETHODIMP QueryInterface(REFIID, void** ppv) override {
            *ppv = this;
            return S_OK;
        }
        STDMETHODIMP_(ULONG) AddRef() override { return 2; }
        STDMETHODIMP_(ULONG) Release() override { return 1; }
        STDMETHODIMP CreateClassEnumerator(REFCLSID, IEnumMoniker** ppEnum, DWORD) override {
            *ppEnum = nullptr;
            return S_OK;
        }
    } noEnumerator;

    struct Case {
        const CLSID& clsid;
        ScopedClassOverride::CreateFn create;
        DWORD nStage;
    } cases[] = {
        {CLSID_SystemDeviceEnum, [](IClassFactory*, REFIID, void**) { return E_OUTOFMEMORY; }, 1},
        {CLSID_SystemDeviceEnum,
         [&noEnumerator](IClassFactory*, REFIID, void** ppv) {
             *ppv = &noEnumerator;
             return S_OK;
         },
         3},
        {CLSID_CaptureGraphBuilder2, [](IClassFactory*, REFIID, void**) { return E_FAIL; }, 4},
    };
    for (const Case& c : cases) {
        ScopedClassOverride standIn(c.clsid, c.create);
        ASSERT_EQ(S_OK, standIn.Result());
        StageResult r = dlg.EnumerateDevices();
        EXPECT_EQ(MakeStageResult(c.nStage, static_cast<DWORD>(before.size())), r);
        EXPECT_EQ(1, standIn.Creations());
        EXPECT_EQ(before, ComboTexts(Devices()));
        EXPECT_EQ(nData, Data(0));
    }
}

TEST_F(DeviceList, SelectDeviceStaysInsideTheLists) {
    ScopedCamera camera(L"RGB24:320x240@30,RGB24:160x120@15");
    ASSERT_TRUE(dlg.Create(IDD_LOOKWELL_DIALOG));
    int nEntry = DeviceEntry(camera);
    ASSERT_NE(-1, nEntry);
    int nDevices = static_cast<int>(::SendMessageW(Devices(), CB_GETCOUNT, 0, 0));
    dlg.SelectDevice(nEntry, 1);
    std::vector<std::wstring> shown = ComboTexts(Formats());

    // No such device: neither list changes.
    for (int nDevice : {nDevices, -1}) {
        dlg.SelectDevice(nDevice, 0);
        EXPECT_EQ(nEntry, Selection(Devices()));
        EXPECT_EQ(shown, ComboTexts(Formats()));
        EXPECT_EQ(1, Selection(Formats()));
    }

    // No such format: the list is filled but left without a selection, its state as it was.
    ::EnableWindow(Formats(), FALSE);
    dlg.SelectDevice(nEntry, 2);
    EXPECT_EQ(shown, ComboTexts(Formats()));
    EXPECT_EQ(-1, Selection(Formats()));
    EXPECT_FALSE(::IsWindowEnabled(Formats()));
    dlg.SelectDevice(nEntry, -1);
    EXPECT_EQ(-1, Selection(Formats()));
    EXPECT_TRUE(::IsWindowEnabled(Formats())) << "enabled, though nothing is selected";

    // Freed entries keep their text but lead to no formats, however often they are freed.
    dlg.FreeDeviceList();
    dlg.FreeDeviceList();
    for (int i = 0; i < nDevices; ++i) {
        EXPECT_EQ(0, Data(i));
    }
    EXPECT_EQ(nDevices, ::SendMessageW(Devices(), CB_GETCOUNT, 0, 0));
    dlg.SelectDevice(nEntry, 0);
    EXPECT_EQ(0, ::SendMessageW(Formats(), CB_GETCOUNT, 0, 0));
}

TEST_F(DeviceList, ChoosingADeviceRefillsItsFormatsAndPutsTheBareTitleBack) {
    ScopedCamera first(L"RGB24:320x240@30");
    ScopedCamera second(L"RGB32:160x120@15,RGB24:640x480@30");
    ASSERT_TRUE(dlg.Create(IDD_LOOKWELL_DIALOG));
    EXPECT_TRUE(::IsWindowEnabled(Devices()));
    EXPECT_TRUE(::IsWindowEnabled(Formats()));
    EXPECT_TRUE(::IsWindowEnabled(dlg.GetDlgItem(IDC_PREVIEW_BUTTON)));
    RECT rcBefore = WindowRect(dlg.m_hWnd);

    for (const ScopedCamera* pCamera : {&second, &first}) {
        dlg.SetWindowText(L"Lookwell  1[bit/s] RGB24");
        int nEntry = DeviceEntry(*pCamera);
        ::SendMessageW(Devices(), CB_SETCURSEL, static_cast<WPARAM>(nEntry), 0);
        dlg.SendMessage(WM_COMMAND, MAKEWPARAM(IDC_DEVICE_LIST, CBN_SELCHANGE),
                        reinterpret_cast<LPARAM>(Devices()));
        EXPECT_EQ(L"Lookwell", WindowText(dlg.m_hWnd));
        EXPECT_EQ(0, Selection(Formats()));
        EXPECT_EQ(pCamera == &first ? 1u : 2u, ComboTexts(Formats()).size());
    }
    std::vector<std::wstring> entries = FormatEntries(DeviceEntry(second));
    ASSERT_FALSE(entries.empty());
    EXPECT_EQ(L"160x120  15.0 RGB32 9216000", entries.front());
    RECT rcAfter = WindowRect(dlg.m_hWnd);
    EXPECT_TRUE(::EqualRect(&rcBefore, &rcAfter)) << "no resize";
}

TEST(MainWindowCom, AnApartmentItDidNotOpenStaysOpenAfterClosing) {
    // The thread's apartment already open, as single- or multithreaded: CoInitialize answers
    // S_FALSE or RPC_E_CHANGED_MODE, and either way the window shows its failure text.
    for (DWORD dwModel : {COINIT_APARTMENTTHREADED, COINIT_MULTITHREADED}) {
        ASSERT_EQ(S_OK, ::CoInitializeEx(nullptr, dwModel));
        {
            ClosingMainWindow dlg;
            ASSERT_TRUE(dlg.Create(IDD_LOOKWELL_DIALOG));
            EXPECT_TRUE(::IsWindowVisible(dlg.GetDlgItem(IDC_MESSAGE)));
            EXPECT_FALSE(::IsWindowVisible(dlg.GetDlgItem(IDC_PREVIEW)));
            EXPECT_EQ(L"Failed to initial COM interface.", WindowText(dlg.GetDlgItem(IDC_MESSAGE)));
            EXPECT_EQ(0, ::SendDlgItemMessageW(dlg.m_hWnd, IDC_DEVICE_LIST, CB_GETCOUNT, 0, 0));
            for (int id : {IDC_DEVICE_LIST, IDC_FORMAT_LIST, IDC_PREVIEW_BUTTON}) {
                EXPECT_FALSE(::IsWindowEnabled(dlg.GetDlgItem(id))) << id;
            }
            dlg.SendMessage(WM_CLOSE);
            PumpMessages();
            EXPECT_EQ(IDCANCEL, dlg.m_nModalResult);
        }
        // Still open: the window closed only what its own CoInitialize opened.
        EXPECT_EQ(S_FALSE, ::CoInitializeEx(nullptr, dwModel)) << dwModel;
        ::CoUninitialize();
        ::CoUninitialize();
    }
}
