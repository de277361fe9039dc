// The main window's initialisation and its ways of ending, on the real template.
#include "app/lookwell_app.h"
#include "support/dialog_test.h"
#include "support/main_window.h"
#include "ui/lookwell_dlg.h"

#include <gtest/gtest.h>

namespace {

std::wstring MenuText(HMENU hMenu, int nPos) {
    wchar_t text[128] = L"";
    ::GetMenuStringW(hMenu, static_cast<UINT>(nPos), text, 128, MF_BYPOSITION);
    return text;
}

} // namespace

TEST(MainWindow, InitialisesItsMembersIconsAndControls) {
    ClosingMainWindow dlg;
    ASSERT_TRUE(dlg.Create(IDD_LOOKWELL_DIALOG));

    EXPECT_STREQ(L"Lookwell", dlg.m_strTitle);
    EXPECT_STREQ(L"Pre\nview", dlg.m_strButtonCaption);
    EXPECT_EQ(0, dlg.m_bClosing);
    EXPECT_EQ(0, dlg.m_bPreviewing);
    EXPECT_EQ(dlg.SendDlgItemMessage(IDC_DEVICE_LIST, CB_GETCOUNT), dlg.m_nDeviceCount)
        << "the number of devices listed";
    EXPECT_EQ(nullptr, dlg.m_pVideoWindow);
    EXPECT_EQ(nullptr, dlg.m_pBuilder);
    EXPECT_EQ(nullptr, dlg.m_pMediaControl);
    EXPECT_EQ(nullptr, dlg.m_pGraph);
    EXPECT_EQ(nullptr, dlg.m_pCaptureFilter);

    ASSERT_NE(nullptr, dlg.m_hIcon);
    EXPECT_EQ(dlg.m_hIcon, dlg.m_hSharedIcon);
    EXPECT_EQ(reinterpret_cast<LRESULT>(dlg.m_hIcon), dlg.SendMessage(WM_GETICON, ICON_BIG));
    EXPECT_EQ(0, dlg.SendMessage(WM_GETICON, ICON_SMALL)) << "no small icon is set";
    ICONINFO info{};
    ASSERT_TRUE(::GetIconInfo(dlg.m_hIcon, &info));
    BITMAP bm{};
    ::GetObjectW(info.hbmColor, sizeof(bm), &bm);
    EXPECT_EQ(32, bm.bmWidth);
    ::DeleteObject(info.hbmColor);
    ::DeleteObject(info.hbmMask);
    // Whether the lists and the button are enabled depends on the devices listed: the tests
    // that own their prefix's device list check that.
}

TEST(MainWindow, AppendsTheAboutItemToTheSystemMenu) {
    ClosingMainWindow dlg;
    ASSERT_TRUE(dlg.Create(IDD_LOOKWELL_DIALOG));
    HMENU hMenu = ::GetSystemMenu(dlg.m_hWnd, FALSE);
    int nCount = ::GetMenuItemCount(hMenu);
    ASSERT_GE(nCount, 2);
    EXPECT_EQ(static_cast<UINT>(MF_SEPARATOR),
              ::GetMenuState(hMenu, static_cast<UINT>(nCount - 2), MF_BYPOSITION) & MF_SEPARATOR);
    EXPECT_EQ(static_cast<UINT>(IDM_ABOUTBOX), ::GetMenuItemID(hMenu, nCount - 1));
    EXPECT_EQ(L"&About Lookwell...", MenuText(hMenu, nCount - 1));
}

TEST(MainWindow, EscAndOkLeaveItOpenOnlyACloseRequestEndsIt) {
    ClosingMainWindow dlg;
    ASSERT_TRUE(dlg.Create(IDD_LOOKWELL_DIALOG));
    HWND hCancel = dlg.GetDlgItem(IDCANCEL);
    dlg.SendMessage(WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                    reinterpret_cast<LPARAM>(hCancel));
    dlg.SendMessage(WM_COMMAND, IDOK);
    PumpMessages();
    EXPECT_EQ(-1, dlg.m_nModalResult);
    EXPECT_EQ(0, dlg.m_bClosing);

    dlg.SendMessage(WM_CLOSE);
    PumpMessages();
    EXPECT_EQ(1, dlg.m_bClosing);
    EXPECT_EQ(IDCANCEL, dlg.m_nModalResult);
}

namespace {

// Stands in for the system's help viewer: the help service hands the request to the window
// of this class.
struct HelpViewer {
    static inline std::string s_strFile;
    static inline WORD s_nCommand = 0;

    static LRESULT CALLBACK WndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_COPYDATA) {
            auto* pData = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
            struct Request {
                WORD size, command;
                LONG data, reserved;
                WORD ofsFilename, ofsData;
            };
            auto* pRequest = static_cast<const Request*>(pData->lpData);
            s_nCommand = pRequest->command;
            s_strFile = reinterpret_cast<const char*>(pRequest) + pRequest->ofsFilename;
            return TRUE;
        }
        return ::DefWindowProcW(hWnd, message, wParam, lParam);
    }
};

} // namespace

TEST(MainWindow, HelpCommandReachesTheApplicationsHelp) {
    WNDCLASSW wc{};
    wc.lpfnWndProc = HelpViewer::WndProc;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.lpszClassName = L"MS_WINHELP";
    ::RegisterClassW(&wc);
    HWND hViewer =
        ::CreateWindowW(L"MS_WINHELP", L"", 0, 0, 0, 0, 0, nullptr, nullptr, wc.hInstance, nullptr);
    ASSERT_NE(nullptr, hViewer);

    ClosingMainWindow dlg;
    ASSERT_TRUE(dlg.Create(IDD_LOOKWELL_DIALOG));
    dlg.SendMessage(WM_COMMAND, 0xE146); // ID_HELP
    PumpMessages();
    EXPECT_EQ(HELP_FINDER, HelpViewer::s_nCommand);
    EXPECT_NE(std::string::npos, HelpViewer::s_strFile.find("lookwell_tests.HLP"))
        << HelpViewer::s_strFile;
    ::DestroyWindow(hViewer);
}
