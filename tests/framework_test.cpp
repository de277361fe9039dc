// The framework layer under the real window system: arrays, strings, message maps, dialogs.
#include "app/lookwell_app.h"
#include "framework/array.h"
#include "framework/dialog.h"
#include "res/resource.h"
#include "support/dialog_test.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct Record {
    int a;
    long long b;
};
using RecordArray = CArray<Record>;

// Sizes at which Add had to move the records to a new block.
std::vector<int> GrowthPoints(RecordArray& array, int nAdds) {
    std::vector<int> points;
    for (int i = 1; i <= nAdds; ++i) {
        const Record* before = array.GetData();
        array.Add(Record{i, -i});
        if (array.GetData() != before) {
            points.push_back(i);
        }
    }
    return points;
}

} // namespace

TEST(Array, NewArrayIsEmptyAndSetSizeZeroAllocatesNothing) {
    RecordArray array;
    array.SetSize(0, -1);
    EXPECT_EQ(0, array.GetSize());
    EXPECT_EQ(nullptr, array.GetData());
}

TEST(Array, FirstRecordTakesOneThenGrowsByAnEighthWithinFourAndAThousand) {
    RecordArray array;
    array.SetSize(0, -1);
    std::vector<int> expected{1, 2, 6, 10, 14, 18, 22, 26, 30, 34, 38, 42, 47, 52};
    EXPECT_EQ(expected, GrowthPoints(array, 55));

    // From 9000 records the step is capped at 1024: the block of 9000 grows to 10024.
    RecordArray big;
    big.SetSize(9000);
    EXPECT_EQ((std::vector<int>{1, 1025}), GrowthPoints(big, 1030));
}

TEST(Array, RecordsComeBackInOrderByteForByte) {
    RecordArray array;
    GrowthPoints(array, 100);
    ASSERT_EQ(100, array.GetSize());
    for (int i = 0; i < 100; ++i) {
        EXPECT_EQ(i + 1, array[i].a);
        EXPECT_EQ(-(i + 1), array.GetAt(i).b);
    }
}

TEST(Array, RecordsBroughtIntoUseAreZeroFilled) {
    RecordArray array;
    array.Add(Record{7, 7});
    array.Add(Record{8, 8});
    array.SetSize(1);
    array.SetSize(3);
    EXPECT_EQ(7, array[0].a);
    EXPECT_EQ(0, array[1].a);
    EXPECT_EQ(0, array[2].b);
}

TEST(Array, FailedAllocationThrowsAndKeepsTheArray) {
    RecordArray array;
    array.Add(Record{1, 2});
    const Record* block = array.GetData();
    EXPECT_THROW(array.SetSize(0x7FFFFFFF), CMemoryException);
    EXPECT_EQ(1, array.GetSize());
    EXPECT_EQ(block, array.GetData());
    EXPECT_EQ(2, array[0].b);
}

TEST(String, FormatsWithWindowsWideConventions) {
    CString text;
    text.Format(L"%s  %d[bit/s] %s", L"Lookwell", 147456000, L"YUY2");
    EXPECT_STREQ(L"Lookwell  147456000[bit/s] YUY2", text);
    text.Format(L"%dx%d %5.1f %s %d", 640, 480, 1.0 / (333333 * 1.0000000000000001e-7), L"YUY2",
                static_cast<int>(2147483648u));
    EXPECT_STREQ(L"640x480  30.0 YUY2 -2147483648", text);
    text.Format(L"");
    EXPECT_TRUE(text.IsEmpty());
}

TEST(String, LoadsStringResources) {
    CString text(L"old");
    EXPECT_TRUE(text.LoadString(IDS_ABOUTBOX));
    EXPECT_STREQ(L"&About Lookwell...", text);
    EXPECT_FALSE(text.LoadString(4242));
    EXPECT_TRUE(text.IsEmpty());
}

TEST(Application, IsNamedAfterItsExecutable) {
    EXPECT_STREQ(L"lookwell_tests", AfxGetAppName());
    EXPECT_STREQ(L"lookwell_tests", theApp.m_pszExeName);
    std::wstring help = theApp.m_pszHelpFilePath;
    EXPECT_EQ(ModuleFolder() + L"lookwell_tests.HLP", help);
    EXPECT_EQ(&theApp, AfxGetApp());
}

namespace {

// Dialogs with maps of their own, built on the About box's template.
class CBaseMapDlg : public CDialog {
public:
    CBaseMapDlg() : CDialog(IDD_ABOUTBOX) {}
    std::vector<std::wstring> m_calls;
    bool m_bThrow = false;
    bool m_bDefaultOnClose = true;

protected:
    void OnTimer(UINT_PTR nIDEvent) {
        m_calls.push_back(L"base timer " + std::to_wstring(nIDEvent));
        ::KillTimer(m_hWnd, nIDEvent);
    }
    void OnClose() {
        m_calls.push_back(L"base close");
        if (m_bDefaultOnClose) {
            Default();
        }
    }
    void OnCancel() override {
        m_calls.push_back(L"cancel");
        CDialog::OnCancel();
    }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CBaseMapDlg, CDialog)
ON_WM_TIMER()
ON_WM_CLOSE()
END_MESSAGE_MAP()

class CDerivedMapDlg : public CBaseMapDlg {
protected:
    void OnClose() {
        m_calls.push_back(L"derived close");
        if (m_bDefaultOnClose) {
            Default();
        }
    }
    void OnSelchange() { m_calls.push_back(L"selchange"); }
    void OnCommand42() { m_calls.push_back(L"command 42"); }
    void OnPaint() {
        if (m_bThrow) {
            m_calls.push_back(L"paint throws");
            AfxThrowMemoryException();
        }
        Default();
    }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CDerivedMapDlg, CBaseMapDlg)
ON_WM_CLOSE()
ON_WM_PAINT()
ON_CBN_SELCHANGE(IDC_ABOUT_NAME, &CDerivedMapDlg::OnSelchange)
ON_COMMAND(42, &CDerivedMapDlg::OnCommand42)
END_MESSAGE_MAP()

} // namespace

TEST(MessageMap, DerivedEntriesComeFirstAndBaseEntriesStillAnswer) {
    CDerivedMapDlg dlg;
    ASSERT_TRUE(dlg.Create(IDD_ABOUTBOX));
    dlg.m_bDefaultOnClose = false;
    dlg.SendMessage(WM_CLOSE);
    dlg.SendMessage(WM_TIMER, 7);
    EXPECT_EQ((std::vector<std::wstring>{L"derived close", L"base timer 7"}), dlg.m_calls);
}

TEST(MessageMap, CommandsMatchIdAndNotificationCode) {
    CDerivedMapDlg dlg;
    ASSERT_TRUE(dlg.Create(IDD_ABOUTBOX));
    HWND hCtl = dlg.GetDlgItem(IDC_ABOUT_NAME);
    auto command = [&](WORD id, WORD code, HWND hFrom) {
        dlg.SendMessage(WM_COMMAND, MAKEWPARAM(id, code), reinterpret_cast<LPARAM>(hFrom));
    };
    command(IDC_ABOUT_NAME, CBN_SELCHANGE, hCtl);
    command(IDC_ABOUT_NAME, CBN_DROPDOWN, hCtl); // same control, other notification
    command(IDC_ABOUT_VERSION, CBN_SELCHANGE, hCtl);
    command(42, 0, nullptr); // menu
    command(42, 1, nullptr); // accelerator
    command(42, 1, hCtl);    // a control's notification 1 is no command
    EXPECT_EQ((std::vector<std::wstring>{L"selchange", L"command 42", L"command 42"}), dlg.m_calls);
}

TEST(MessageMap, DefaultRunsTheSystemsProcessingAfterTheHandler) {
    CDerivedMapDlg dlg;
    ASSERT_TRUE(dlg.Create(IDD_ABOUTBOX));
    dlg.SendMessage(WM_CLOSE); // the dialog's default posts IDCANCEL
    PumpMessages();
    EXPECT_EQ((std::vector<std::wstring>{L"derived close", L"cancel"}), dlg.m_calls);
    EXPECT_EQ(IDCANCEL, dlg.m_nModalResult);

    CDerivedMapDlg quiet;
    ASSERT_TRUE(quiet.Create(IDD_ABOUTBOX));
    quiet.m_bDefaultOnClose = false;
    quiet.SendMessage(WM_CLOSE);
    PumpMessages();
    EXPECT_EQ((std::vector<std::wstring>{L"derived close"}), quiet.m_calls);
}

TEST(MessageMap, HandlerExceptionsStopAtTheWindowProcedure) {
    CDerivedMapDlg dlg;
    ASSERT_TRUE(dlg.Create(IDD_ABOUTBOX));
    ::ShowWindow(dlg.m_hWnd, SW_SHOW);
    PumpMessages();
    dlg.m_bThrow = true;
    ::InvalidateRect(dlg.m_hWnd, nullptr, TRUE);
    ::UpdateWindow(dlg.m_hWnd);
    PumpMessages();
    // The failed paint was validated: it does not come back.
    EXPECT_EQ((std::vector<std::wstring>{L"paint throws"}), dlg.m_calls);
    EXPECT_FALSE(::GetUpdateRect(dlg.m_hWnd, nullptr, FALSE));
    dlg.SendMessage(WM_TIMER, 3);
    EXPECT_EQ(L"base timer 3", dlg.m_calls.back());
}

namespace {

// A modal About-template dialog that notes its owner and place, then ends itself.
class COwnedDlg : public CDialog {
public:
    COwnedDlg() : CDialog(IDD_ABOUTBOX) {}
    HWND m_hOwner = nullptr;
    RECT m_rcAtInit{};

protected:
    BOOL OnInitDialog() override {
        CDialog::OnInitDialog();
        m_hOwner = ::GetWindow(m_hWnd, GW_OWNER);
        ::PostMessageW(m_hWnd, WM_COMMAND, IDOK, 0);
        return TRUE;
    }
};

POINT Centre(const RECT& rc) {
    return POINT{(rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2};
}

} // namespace

TEST(Dialog, ModalRunEndsWithItsResultOwnedByTheMainWindow) {
    CDialog main(IDD_ABOUTBOX);
    ASSERT_TRUE(main.Create(IDD_ABOUTBOX));
    ::ShowWindow(main.m_hWnd, SW_SHOW);
    theApp.m_pMainWnd = &main;

    COwnedDlg owned;
    EXPECT_EQ(IDOK, owned.DoModal());
    EXPECT_EQ(main.m_hWnd, owned.m_hOwner);
    EXPECT_EQ(nullptr, owned.m_hWnd);

    // The main window's end clears the application's pointer to it.
    main.DestroyWindow();
    EXPECT_EQ(nullptr, theApp.m_pMainWnd);
}

TEST(Dialog, ModalRunOfAMissingTemplateAnswersMinusOne) {
    CDialog missing(4242);
    EXPECT_EQ(-1, missing.DoModal());
}

TEST(Dialog, IsCentredOnItsOwnerOrTheWorkArea) {
    CDialog main(IDD_ABOUTBOX);
    ASSERT_TRUE(main.Create(IDD_ABOUTBOX));
    RECT rcWork{};
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &rcWork, 0);
    POINT mainCentre = Centre(WindowRect(main.m_hWnd));
    EXPECT_NEAR(Centre(rcWork).x, mainCentre.x, 1);
    EXPECT_NEAR(Centre(rcWork).y, mainCentre.y, 1);

    ::SetWindowPos(main.m_hWnd, nullptr, 20, 30, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_SHOWWINDOW);
    CDialog owned(IDD_ABOUTBOX, &main);
    ASSERT_TRUE(owned.Create(IDD_ABOUTBOX, &main));
    POINT ownedCentre = Centre(WindowRect(owned.m_hWnd));
    POINT ownerCentre = Centre(WindowRect(main.m_hWnd));
    EXPECT_NEAR(ownerCentre.x, ownedCentre.x, 1);
    EXPECT_NEAR(ownerCentre.y, ownedCentre.y, 1);
}
