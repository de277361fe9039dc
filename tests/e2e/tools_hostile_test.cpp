// The tools as a keyboard user and a hostile world meet them: a start with Enter, devices that
// change under a selection, a close in full screen, pages that cannot be made, a sheet open when
// the window closes, a slow camera, a held clipboard with the notice that says so, and a save
// through the dialog.
#include "check/check_window.h"
#include "framework/object.h"
#include "support/camera.h"
#include "support/e2e_test.h"
#include "support/remote_list.h"
#include "support/tool_keys.h"

#include <wincodec.h>

#include <cstdio>

using testcam_test::ScopedCamera;

namespace {

const wchar_t kInstances[] = L"CLSID\\{860BB310-5D01-11D0-BD3B-00A0C911CE86}\\Instance\\";
const wchar_t kPageServer[] = L"CLSID\\{2E6A4C1B-7F3D-4B8E-9C52-1A0D6E3F8B47}\\InprocServer32";

// The mirror mode the camera stored, as every process binding it reads it.
DWORD StoredMode(const std::wstring& name) {
    DWORD nMode = 0;
    DWORD nSize = sizeof(nMode);
    ::RegGetValueW(HKEY_CLASSES_ROOT, (kInstances + name).c_str(), L"VideoControlMode",
                   RRF_RT_REG_DWORD, nullptr, &nMode, &nSize);
    return nMode;
}

std::wstring Unique(const wchar_t* pszWhat) {
    wchar_t szName[96];
    std::swprintf(szName, 96, L"Lookwell Cam %lu %ls", ::GetCurrentProcessId(), pszWhat);
    return szName;
}

HWND FocusOf(HWND hWnd) {
    GUITHREADINFO info{};
    info.cbSize = sizeof(info);
    ::GetGUIThreadInfo(::GetWindowThreadProcessId(hWnd, nullptr), &info);
    return info.hwndFocus;
}

// The camera's page class pointed at a file that is not there, for the life of the object.
class CUnusablePages : private CNoCopy {
public:
    CUnusablePages() {
        DWORD nSize = sizeof(m_szPath);
        m_bSaved = ::RegGetValueW(HKEY_CLASSES_ROOT, kPageServer, nullptr, RRF_RT_REG_SZ, nullptr,
                                  m_szPath, &nSize) == ERROR_SUCCESS;
        const wchar_t szMissing[] = L"Z:\\nonexistent\\page.dll";
        ::RegSetKeyValueW(HKEY_CLASSES_ROOT, kPageServer, nullptr, REG_SZ, szMissing,
                          sizeof(szMissing));
    }
    ~CUnusablePages() {
        if (m_bSaved) {
            ::RegSetKeyValueW(HKEY_CLASSES_ROOT, kPageServer, nullptr, REG_SZ, m_szPath,
                              static_cast<DWORD>((std::wcslen(m_szPath) + 1) * sizeof(wchar_t)));
        }
    }
    bool Saved() const { return m_bSaved; }

private:
    wchar_t m_szPath[MAX_PATH] = L"";
    bool m_bSaved = false;
};

class E2eToolsHostile : public CEndToEndTest {
protected:
    HWND VideoWindow() const { return ::GetWindow(Item(IDC_PREVIEW), GW_CHILD); }
    bool FullScreen() {
        RECT rcScreen{0, 0, ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)};
        HWND hVideo = VideoWindow();
        return hVideo == nullptr && [&] {
            for (HWND hWnd : Lookwell().Windows()) {
                if (SameRect(rcScreen, WindowRect(hWnd))) {
                    return true;
                }
            }
            return false;
        }();
    }
    ::testing::AssertionResult CopyChangesClipboard() {
        DWORD nSequence = ::GetClipboardSequenceNumber();
        PressKeys({VK_CONTROL, 'C'});
        return ClipboardChanges(nSequence);
    }
    HWND Notice() { return FindProcessWindow(Lookwell(), L"LookwellNotice", nullptr); }
};

} // namespace

TEST_F(E2eToolsHostile, AfterAStartWithEnterEveryKeyActsAndEnterStopsAgain) {
    ScopedCamera camera(L"RGB24:320x240@30");
    ASSERT_TRUE(Launch());
    // The focus in the device list, as a keyboard user has it: opened and closed again.
    Click(Centre(WindowRect(Item(IDC_DEVICE_LIST))));
    PressKeys({VK_ESCAPE});
    ASSERT_TRUE(PumpUntil("the focus in the device list",
                          [&] { return FocusOf(Main()) == Item(IDC_DEVICE_LIST); }));
    PressKeys({VK_RETURN});
    ASSERT_TRUE(PumpUntil("the start", [&] { return HasCaption(L"Stop"); }));
    EXPECT_EQ(Item(IDC_PREVIEW_BUTTON), FocusOf(Main())) << "where a mouse press puts it";

    PressKeys({VK_F11});
    EXPECT_TRUE(PumpUntil("full screen", [&] { return FullScreen(); }));
    PressKeys({VK_ESCAPE});
    EXPECT_TRUE(
        PumpUntil("the picture back in the frame", [&] { return VideoWindow() != nullptr; }));
    // Wine quirk: after full screen the X server's focus change can come late and take keys
    // pressed before the program has its window active again (seen with the foreground left at
    // the desktop). Once, in a whole run under two suites and two busy loops, this Ctrl+C changed
    // nothing while the next keys acted; a person presses again, and so does this test, once.
    if (!CopyChangesClipboard()) {
        EXPECT_TRUE(CopyChangesClipboard()) << "a second Ctrl+C";
    }
    EXPECT_EQ(320, ClipboardFrame().Width());
    PressKeys({VK_CONTROL, 'M'});
    EXPECT_TRUE(
        PumpUntil("the mirror stored", [&] { return (StoredMode(camera.name()) & 1) != 0; }));
    PressKeys({VK_CONTROL, 'M'});
    EXPECT_TRUE(
        PumpUntil("the mirror undone", [&] { return (StoredMode(camera.name()) & 1) == 0; }));
    PressKeys({VK_CONTROL, 'I'});
    HWND hInfo = WaitForProcessWindow(Lookwell(), L"LookwellInformation", nullptr);
    PressKeys({VK_CONTROL, 'I'});
    EXPECT_TRUE(PumpUntil("the information window closed", [&] { return !::IsWindow(hInfo); }));

    // Enter is the button's again: it stops, and opens nothing.
    PressKeys({VK_RETURN});
    EXPECT_TRUE(PumpUntil("the stop", [&] { return HasCaption(L"Pre\nview"); }));
    EXPECT_EQ(1u, Lookwell().Windows().size());
    EXPECT_TRUE(::IsWindowEnabled(Main()));
}

TEST_F(E2eToolsHostile, SettingsAndMirrorReachTheSelectedCameraAfterTheDevicesChanged) {
    // Listed in the order of their names: A, B, C; then AB comes between A and B.
    ScopedCamera a(L"RGB24:160x120@30", L"", Unique(L"A"));
    ScopedCamera b(L"RGB24:160x120@30", L"", Unique(L"B"));
    ScopedCamera c(L"RGB24:160x120@30", L"", Unique(L"C"));
    ASSERT_TRUE(Launch(L"Lookwell.exe", L"/device:\"" + c.name() + L"\""));
    ASSERT_TRUE(PumpUntil("C selected, third of three", [&] {
        std::vector<std::wstring> names = ComboTexts(Item(IDC_DEVICE_LIST));
        int nSelection = Selection(Item(IDC_DEVICE_LIST));
        return nSelection == 2 && names.size() == 3 && names[2] == c.name();
    }));
    ScopedCamera ab(L"RGB24:160x120@30", L"", Unique(L"AB"));

    PressKeys({VK_CONTROL, 'M'});
    EXPECT_TRUE(PumpUntil("C's mirror stored", [&] { return StoredMode(c.name()) == 1; }));
    EXPECT_EQ(0u, StoredMode(b.name())) << "the camera now at the old position is not touched";
    EXPECT_EQ(0u, StoredMode(ab.name()));

    PressKeys({VK_MENU, VK_RETURN});
    HWND hSheet = WaitForProcessWindow(Lookwell(), nullptr, c.name().c_str());
    ASSERT_NE(nullptr, hSheet);
    // One sheet at a time: the main window is disabled under it.
    EXPECT_FALSE(::IsWindowEnabled(Main()));
    PressKeys({VK_ESCAPE}, hSheet);
    EXPECT_TRUE(PumpUntil("the sheet closed", [&] { return !::IsWindow(hSheet); }));
    EXPECT_TRUE(PumpUntil("the window enabled again", [&] { return ::IsWindowEnabled(Main()); }));

    // Closing the window while a sheet is up closes the sheet and then the program.
    PressKeys({VK_MENU, VK_RETURN});
    ASSERT_NE(nullptr, WaitForProcessWindow(Lookwell(), nullptr, c.name().c_str()));
    ::PostMessageW(Main(), WM_CLOSE, 0, 0);
    EXPECT_EQ(0u, Lookwell().WaitForExit());
    EXPECT_EQ(1u, StoredMode(c.name())) << "Cancel stored nothing";
}

TEST_F(E2eToolsHostile, AltF4InFullScreenClosesTheProgramAsItsOwnCloseDoes) {
    // Alt+F4 on the picture, and a close that reaches the full-screen window itself (a window
    // manager's close box or taskbar), which no message filter sees.
    for (bool bKey : {true, false}) {
        SCOPED_TRACE(bKey ? "Alt+F4" : "WM_CLOSE to the full-screen window");
        ScopedCamera camera(L"RGB24:320x240@30");
        ASSERT_TRUE(Launch());
        ASSERT_TRUE(Start());
        HWND hVideo = VideoWindow();
        PressKeys({VK_F11});
        ASSERT_TRUE(PumpUntil("full screen", [&] { return FullScreen(); }));
        if (bKey) {
            PressKeys({VK_MENU, VK_F4});
        } else {
            ::PostMessageW(hVideo, WM_CLOSE, 0, 0);
        }
        EXPECT_EQ(0u, Lookwell().WaitForExit());
        EXPECT_EQ(0, Lookwell().CameraThreads().nRunningAtExit);
        EXPECT_EQ(Lookwell().CameraThreads().nStarted, Lookwell().CameraThreads().nEnded);
    }
}

TEST_F(E2eToolsHostile, PagesThatCannotBeMadeBeepAndTheNextKeysStillAct) {
    ScopedCamera camera(L"RGB24:320x240@30");
    CUnusablePages unusable;
    ASSERT_TRUE(unusable.Saved());
    ASSERT_TRUE(Launch());
    ASSERT_TRUE(Start());
    PressKeys({VK_MENU, VK_RETURN});
    // No menu mode after the refused Alt+Enter: Ctrl+I opens the information window at once
    // and Down opens no menu.
    PressKeys({VK_CONTROL, 'I'});
    EXPECT_NE(nullptr, WaitForProcessWindow(Lookwell(), L"LookwellInformation", nullptr));
    PressKeys({VK_DOWN});
    EXPECT_EQ(nullptr, FindProcessWindow(Lookwell(), L"#32768", nullptr)) << "a menu";
    EXPECT_EQ(nullptr, FindProcessWindow(Lookwell(), nullptr, camera.name().c_str()))
        << "a sheet without pages";
    EXPECT_TRUE(IsLive());
}

TEST_F(E2eToolsHostile, CopyWaitsForASlowCameraAndSaysWhenTheClipboardIsHeld) {
    {
        // A frame every 1.7 s: more than the old half second's wait.
        ScopedCamera slow(L"RGB24:160x120@0.6");
        ASSERT_TRUE(Launch());
        ASSERT_TRUE(Start());
        EXPECT_TRUE(CopyChangesClipboard());
        EXPECT_EQ(160, ClipboardFrame().Width());
        EXPECT_EQ(nullptr, Notice());
        ::PostMessageW(Main(), WM_CLOSE, 0, 0);
        EXPECT_EQ(0u, Lookwell().WaitForExit());
    }
    // The narrowest picture: the notice's whole text still shows, and it stays with the picture
    // when that zooms and when it goes to full screen.
    ScopedCamera camera(L"RGB24:160x120@30");
    ASSERT_TRUE(Launch());
    ASSERT_TRUE(Start());
    RECT rcWork{};
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &rcWork, 0);
    auto heldCopy = [&] {
        if (!::OpenClipboard(nullptr)) {
            return static_cast<HWND>(nullptr);
        }
        PressKeys({VK_CONTROL, 'C'});
        HWND hNotice = WaitForProcessWindow(Lookwell(), L"LookwellNotice", nullptr);
        ::CloseClipboard();
        return hNotice;
    };
    // Its text wrapped into its window, the window on the work area, its bottom at `nBottom`.
    auto readable = [&](HWND hNotice, LONG nBottom) -> ::testing::AssertionResult {
        HWND hText = ::GetWindow(hNotice, GW_CHILD);
        RECT rcText = WindowRect(hText);
        RECT rcNotice = WindowRect(hNotice);
        RECT rcNeeded{0, 0, Width(rcText), 0};
        HDC hDC = ::GetDC(nullptr);
        HGDIOBJ hOld = ::SelectObject(hDC, ::GetStockObject(DEFAULT_GUI_FONT));
        const std::wstring text = WindowText(hText);
        ::DrawTextW(hDC, text.c_str(), static_cast<int>(text.size()), &rcNeeded,
                    DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
        ::SelectObject(hDC, hOld);
        ::ReleaseDC(nullptr, hDC);
        RECT rcIn{};
        if (Height(rcNeeded) > Height(rcText) || Width(rcNeeded) > Width(rcText) ||
            !::IntersectRect(&rcIn, &rcText, &rcNotice) || !SameRect(rcIn, rcText) ||
            !::IntersectRect(&rcIn, &rcNotice, &rcWork) || !SameRect(rcIn, rcNotice) ||
            rcNotice.bottom != nBottom) {
            return ::testing::AssertionFailure()
                   << "text needs " << Width(rcNeeded) << "x" << Height(rcNeeded) << ", has "
                   << Width(rcText) << "x" << Height(rcText) << "; notice " << rcNotice.left << ","
                   << rcNotice.top << "-" << rcNotice.right << "," << rcNotice.bottom
                   << ", bottom wanted " << nBottom;
        }
        return ::testing::AssertionSuccess();
    };
    auto clientBottom = [&] {
        RECT rc{};
        ::GetClientRect(Main(), &rc);
        ::MapWindowPoints(Main(), nullptr, reinterpret_cast<POINT*>(&rc), 2);
        return rc.bottom;
    };
    HWND hNotice = heldCopy();
    ASSERT_NE(nullptr, hNotice);
    EXPECT_EQ(L"The frame was not copied: another program holds the clipboard.",
              WindowText(hNotice));
    EXPECT_TRUE(readable(hNotice, clientBottom()));
    const LONG nBottomBefore = clientBottom();
    DoubleClick(Centre(Frame()));
    EXPECT_TRUE(PumpUntil("the notice at the zoomed window's bottom", [&] {
        return clientBottom() != nBottomBefore && readable(hNotice, clientBottom());
    })) << readable(hNotice, clientBottom());
    EXPECT_TRUE(PumpUntil("the notice gone by itself", [&] { return Notice() == nullptr; }));
    EXPECT_TRUE(CopyChangesClipboard());

    PressKeys({VK_F11});
    ASSERT_TRUE(PumpUntil("full screen", [&] { return FullScreen(); }));
    hNotice = heldCopy();
    ASSERT_NE(nullptr, hNotice);
    EXPECT_TRUE(readable(hNotice, rcWork.bottom));
    // The full-screen window comes up through the X server, the notice is kept above it.
    EXPECT_TRUE(PumpUntil("the notice above the full-screen picture", [&] {
        return ::GetAncestor(::WindowFromPoint(Centre(WindowRect(hNotice))), GA_ROOT) == hNotice;
    }));
    PressKeys({VK_ESCAPE});
    EXPECT_TRUE(PumpUntil("the window back", [&] { return !FullScreen(); }));
}

TEST_F(E2eToolsHostile, SaveThroughTheDialogWritesTheFrameAsAPng) {
    ScopedCamera camera(L"RGB24:320x240@30");
    const std::wstring path = ModuleFolder() + L"e2e-snapshot.png";
    ::DeleteFileW(path.c_str());
    ASSERT_TRUE(Launch());
    ASSERT_TRUE(Start());
    PressKeys({VK_CONTROL, 'S'});
    HWND hDialog = WaitForProcessWindow(Lookwell(), nullptr, L"Save");
    ASSERT_NE(nullptr, hDialog);
    HWND hName = WaitForFileNameBox(hDialog);
    ASSERT_NE(nullptr, hName);
    ::SendMessageW(hName, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()));
    PressKeys({VK_RETURN}, hDialog);
    ASSERT_TRUE(PumpUntil("the file written", [&] {
        return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
    }));
    EXPECT_TRUE(PumpUntil("the dialog closed", [&] { return !::IsWindow(hDialog); }));
    HWND hNotice = WaitForProcessWindow(Lookwell(), L"LookwellNotice", nullptr);
    EXPECT_EQ(L"The picture was saved as " + path + L".", WindowText(hNotice));

    IWICImagingFactory* pFactory = nullptr;
    IWICBitmapDecoder* pDecoder = nullptr;
    IWICBitmapFrameDecode* pFrame = nullptr;
    UINT nWidth = 0, nHeight = 0;
    HRESULT hr = ::CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                    IID_IWICImagingFactory, reinterpret_cast<void**>(&pFactory));
    if (SUCCEEDED(hr)) {
        hr = pFactory->CreateDecoderFromFilename(path.c_str(), nullptr, GENERIC_READ,
                                                 WICDecodeMetadataCacheOnDemand, &pDecoder);
    }
    if (SUCCEEDED(hr)) {
        hr = pDecoder->GetFrame(0, &pFrame);
    }
    if (SUCCEEDED(hr)) {
        hr = pFrame->GetSize(&nWidth, &nHeight);
    }
    for (IUnknown* p : std::initializer_list<IUnknown*>{pFrame, pDecoder, pFactory}) {
        if (p != nullptr) {
            p->Release();
        }
    }
    EXPECT_EQ(S_OK, hr);
    EXPECT_EQ(320u, nWidth);
    EXPECT_EQ(240u, nHeight);
    ::DeleteFileW(path.c_str());
}

TEST_F(E2eToolsHostile, CtrlTStopsThePictureChecksRowByRowAndEscReleasesTheCamera) {
    ScopedCamera camera(L"RGB24:320x240@30,RGB24:160x120@30,RGB32:160x120@15");
    ASSERT_TRUE(Launch());
    ASSERT_TRUE(Start());
    PressKeys({VK_CONTROL, 'T'});
    HWND hCheck = WaitForProcessWindow(Lookwell(), L"LookwellCameraCheck", nullptr);
    ASSERT_NE(nullptr, hCheck);
    EXPECT_TRUE(HasCaption(L"Pre\nview")) << "stopped first, the Stop button's way";
    EXPECT_TRUE(::IsWindowEnabled(Item(IDC_DEVICE_LIST)));
    // The first row in, the second not yet: it fills in row by row.
    CRemoteList table(::GetDlgItem(hCheck, kCheckListId));
    ASSERT_TRUE(table.IsReady());
    EXPECT_TRUE(PumpUntil("the first row", [&] { return table.Count() >= 1; }));
    EXPECT_EQ(L"320x240  30.0 RGB24 55296000", table.Text(0, 0));
    // A verdict, whichever: a loaded machine may starve the camera below its rate.
    EXPECT_FALSE(table.Text(0, 1).empty());
    EXPECT_LT(table.Count(), 3) << "the last format is still to come";
    // Esc cancels within a second and the camera's threads end.
    ::SetForegroundWindow(hCheck);
    PressKeys({VK_ESCAPE}, hCheck);
    EXPECT_TRUE(PumpUntil(
        "the check's window closed within a second", [&] { return !::IsWindow(hCheck); }, 1500));
    EXPECT_TRUE(PumpUntil(
        "the camera's threads ended",
        [&] {
            CLookwellSession::CCameraThreads threads = Lookwell().CameraThreads();
            return threads.nStarted > 0 && threads.nStarted == threads.nEnded;
        },
        2000));
    EXPECT_TRUE(Start()) << "the window is idle, and the camera free for it";
}
