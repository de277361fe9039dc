// The About box on the real templates, opened by real system commands, and its version reader.
#include "framework/version_info.h"
#include "app/lookwell_app.h"
#include "support/dialog_test.h"
#include "support/main_window.h"
#include "support/resource_reader.h"
#include "ui/lookwell_dlg.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

using Texts = std::vector<std::wstring>; // name, version line, legal notice, maker

// What a timer saw of the About box during its modal run, before it pressed OK. Fixed buffers:
// nothing may throw in the timer's callback.
struct {
    int nOpened;
    wchar_t szTexts[4][128];
    // Each text's widest line against its control's width, in the control's font: the box's
    // template is fixed, so a text of ours that is wider is cut.
    int nWidestOver;
    LRESULT hIcon;
} g_seen;

// How far the widest line of the control's text reaches past its client width.
int Overhang(HWND hControl) {
    wchar_t szText[128];
    int nLength = ::GetWindowTextW(hControl, szText, 128);
    RECT rc{};
    ::GetClientRect(hControl, &rc);
    HDC hDC = ::GetDC(hControl);
    HGDIOBJ hOld =
        ::SelectObject(hDC, reinterpret_cast<HFONT>(::SendMessageW(hControl, WM_GETFONT, 0, 0)));
    int nWidest = 0;
    for (int nStart = 0; nStart < nLength;) {
        int nEnd = nStart;
        while (nEnd < nLength && szText[nEnd] != L'\r' && szText[nEnd] != L'\n') {
            ++nEnd;
        }
        SIZE size{};
        ::GetTextExtentPoint32W(hDC, szText + nStart, nEnd - nStart, &size);
        nWidest = std::max(nWidest, static_cast<int>(size.cx));
        nStart = nEnd + 1;
    }
    ::SelectObject(hDC, hOld);
    ::ReleaseDC(hControl, hDC);
    return nWidest - rc.right;
}

void CALLBACK SeeAndCloseAbout(HWND, UINT, UINT_PTR, DWORD) {
    // This thread's box only (tests run in parallel on one display), once the modal run has
    // shown it, which it does when its queue first runs empty.
    HWND hAbout = nullptr;
    do {
        hAbout = ::FindWindowExW(nullptr, hAbout, L"#32770", L"About Lookwell");
    } while (hAbout != nullptr &&
             ::GetWindowThreadProcessId(hAbout, nullptr) != ::GetCurrentThreadId());
    if (hAbout == nullptr || !::IsWindowVisible(hAbout)) {
        return;
    }
    ++g_seen.nOpened;
    const int ids[] = {IDC_ABOUT_NAME, IDC_ABOUT_VERSION, IDC_ABOUT_COPYRIGHT, IDC_ABOUT_COMPANY};
    for (int i = 0; i < 4; ++i) {
        ::GetDlgItemTextW(hAbout, ids[i], g_seen.szTexts[i], 128);
        g_seen.nWidestOver = std::max(g_seen.nWidestOver, Overhang(::GetDlgItem(hAbout, ids[i])));
    }
    g_seen.hIcon = ::SendMessageW(hAbout, WM_GETICON, ICON_BIG, 0);
    ::SendMessageW(hAbout, WM_COMMAND, IDOK, 0);
}

} // namespace

TEST(AboutBox, OpensOnItsSystemCommandsWithTheVersionOfTheExecutableItRunsAs) {
    const std::wstring folder = ModuleFolder();
    const Texts kVersion{L"Lookwell", L"Ver. 1, 0, 5, 1", L"(C) 2026 The Lookwell developers",
                         L"The Lookwell developers\r\nLookwell Project"};
    const Texts kEmpty{L"", L"Ver. ", L"", L""};
    const Texts kNotOpened;
    ResourceFile versionless(folder + L"testcam_list.exe");
    ASSERT_TRUE(versionless.IsOpen());
    ASSERT_TRUE(versionless.Languages(RT_VERSION, MAKEINTRESOURCEW(VS_VERSION_INFO)).empty());
    // Longer than the box's path buffer, while Wine itself reads such a path whole.
    wchar_t szTemp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, szTemp);
    const std::wstring overlong = szTemp + std::wstring(240, L'x') + L".exe";
    ASSERT_TRUE(::CopyFileW((folder + L"Lookwell.exe").c_str(), overlong.c_str(), FALSE));
    ASSERT_NE(0u, ::GetFileVersionInfoSizeW(overlong.c_str(), nullptr));

    struct Case {
        WPARAM nID;
        std::wstring module; // stands in for the executable; empty: the tests' own
        Texts expected;
        bool bStaysNormal; // the main window neither minimised nor ended
    };
    const Case cases[] = {
        {0x0010, L"", kVersion, true},
        {0x001F, L"", kVersion, true},
        {0x10015, L"", kVersion, true}, // bits above 15 are ignored
        {0x000F, L"", kNotOpened, true},
        {0x0020, L"", kNotOpened, true},
        {SC_MINIMIZE, L"", kNotOpened, false},
        {SC_CLOSE, L"", kNotOpened, false},
        {0x0010, folder + L"testcam_list.exe", kEmpty, true},
        {0x0010, overlong, kEmpty, true},
    };
    HINSTANCE hOwn = ::GetModuleHandleW(nullptr);
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.nID << " " << std::dec << c.module.size());
        // Mapped as a module for its file name only: none of its code runs.
        HINSTANCE hModule = c.module.empty() ? hOwn
                                             : ::LoadLibraryExW(c.module.c_str(), nullptr,
                                                                DONT_RESOLVE_DLL_REFERENCES);
        ASSERT_NE(nullptr, hModule);
        AfxSetModuleHandles(hModule, hOwn); // the templates stay the tests' own
        ClosingMainWindow dlg;
        ASSERT_TRUE(dlg.Create(IDD_LOOKWELL_DIALOG));
        theApp.m_pMainWnd = &dlg;
        g_seen = {};
        UINT_PTR nTimer = ::SetTimer(nullptr, 0, 50, SeeAndCloseAbout);
        dlg.SendMessage(WM_SYSCOMMAND, c.nID);
        ::KillTimer(nullptr, nTimer);
        PumpMessages();
        AfxSetModuleHandles(hOwn, hOwn);
        if (hModule != hOwn) {
            ::FreeLibrary(hModule);
        }

        EXPECT_EQ(c.expected.empty() ? 0 : 1, g_seen.nOpened);
        if (!c.expected.empty()) {
            EXPECT_EQ(c.expected, Texts(std::begin(g_seen.szTexts), std::end(g_seen.szTexts)));
            EXPECT_LE(g_seen.nWidestOver, 0) << "pixels of a line cut off";
            EXPECT_NE(0, g_seen.hIcon);
            EXPECT_EQ(reinterpret_cast<LRESULT>(dlg.m_hSharedIcon), g_seen.hIcon);
        }
        EXPECT_EQ(c.bStaysNormal, ::IsWindowVisible(dlg.m_hWnd) && !dlg.IsIconic());
    }
    ::DeleteFileW(overlong.c_str());
}

TEST(VersionInfo, IsEmptyWithoutReadableVersionDataAndForEmptyOrMissingValues) {
    const std::wstring folder = ModuleFolder();
    // No version resource (size 0), no such file, a path beyond every limit.
    for (const std::wstring& path : {folder + L"testcam_list.exe", folder + L"missing.exe",
                                     L"C:\\" + std::wstring(40000, L'x') + L".exe"}) {
        VersionInfo version(path.c_str());
        for (const wchar_t* key :
             {L"CompanyName", L"InternalName", L"LegalCopyright", L"ProductVersion"}) {
            EXPECT_STREQ(L"", version.GetStringValue(key)) << path.size() << " " << key;
        }
    }
    VersionInfo lookwell((folder + L"Lookwell.exe").c_str());
    EXPECT_STREQ(L"Lookwell", lookwell.GetStringValue(L"InternalName"));
    EXPECT_STREQ(L"", lookwell.GetStringValue(L"PrivateBuild")); // reported length 1
    EXPECT_STREQ(L"", lookwell.GetStringValue(L"NoSuchKey"));
}
