// The framework layer under the real window system: arrays, strings, message maps, dialogs.
#include "app/lookwell_app.h"
#include "framework/array.h"
#include "framework/dialog.h"
#include "res/resource.h"
#include "support/dialog_test.h"

#include <commctrl.h>

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {

// A window made, or the platform's error where it was not (a dialog's creation failed once under
// load, and was not seen again).
::testing::AssertionResult Made(bool bMade) {
    if (bMade) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "the platform's error " << ::GetLastError();
}

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
    void OnNameClick(NMHDR* pHeader, LRESULT* pResult) {
        m_calls.push_back(L"click from " + std::to_wstring(pHeader->idFrom));
        *pResult = 7;
    }
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
ON_NOTIFY(NM_CLICK, IDC_ABOUT_NAME, &CDerivedMapDlg::OnNameClick)
END_MESSAGE_MAP()

} // namespace

TEST(MessageMap, DerivedEntriesComeFirstAndBaseEntriesStillAnswer) {
    CDerivedMapDlg dlg;
    ASSERT_TRUE(Made(dlg.Create(IDD_ABOUTBOX)));
    dlg.m_bDefaultOnClose = false;
    dlg.SendMessage(WM_CLOSE);
    dlg.SendMessage(WM_TIMER, 7);
    EXPECT_EQ((std::vector<std::wstring>{L"derived close", L"base timer 7"}), dlg.m_calls);
}

TEST(MessageMap, CommandsMatchIdAndNotificationCode) {
    CDerivedMapDlg dlg;
    ASSERT_TRUE(Made(dlg.Create(IDD_ABOUTBOX)));
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

TEST(MessageMap, NotificationsMatchControlIdAndCodeAndAnswerWithTheHandlersResult) {
    CDerivedMapDlg dlg;
    ASSERT_TRUE(Made(dlg.Create(IDD_ABOUTBOX)));
    HWND hCtl = dlg.GetDlgItem(IDC_ABOUT_NAME);
    auto notify = [&](UINT_PTR nFrom, UINT nCode) {
        NMHDR header{hCtl, nFrom, nCode};
        return dlg.SendMessage(WM_NOTIFY, nFrom, reinterpret_cast<LPARAM>(&header));
    };
    EXPECT_EQ(7, notify(IDC_ABOUT_NAME, NM_CLICK));
    EXPECT_EQ(0, notify(IDC_ABOUT_NAME, NM_DBLCLK)) << "same control, other code";
    EXPECT_EQ(0, notify(IDC_ABOUT_VERSION, NM_CLICK)) << "other control, same code";
    EXPECT_EQ(0, dlg.SendMessage(WM_NOTIFY, IDC_ABOUT_NAME, 0)) << "no header at all";
    EXPECT_EQ((std::vector<std::wstring>{L"click from " + std::to_wstring(IDC_ABOUT_NAME)}),
              dlg.m_calls);
}

TEST(MessageMap, DefaultRunsTheSystemsProcessingAfterTheHandler) {
    CDerivedMapDlg dlg;
    ASSERT_TRUE(Made(dlg.Create(IDD_ABOUTBOX)));
    dlg.SendMessage(WM_CLOSE); // the dialog's default posts IDCANCEL
    PumpMessages();
    EXPECT_EQ((std::vector<std::wstring>{L"derived close", L"cancel"}), dlg.m_calls);
    EXPECT_EQ(IDCANCEL, dlg.m_nModalResult);

    CDerivedMapDlg quiet;
    ASSERT_TRUE(Made(quiet.Create(IDD_ABOUTBOX)));
    quiet.m_bDefaultOnClose = false;
    quiet.SendMessage(WM_CLOSE);
    PumpMessages();
    EXPECT_EQ((std::vector<std::wstring>{L"derived close"}), quiet.m_calls);
}

TEST(MessageMap, HandlerExceptionsStopAtTheWindowProcedure) {
    CDerivedMapDlg dlg;
    ASSERT_TRUE(Made(dlg.Create(IDD_ABOUTBOX)));
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
    ASSERT_TRUE(Made(main.Create(IDD_ABOUTBOX)));
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
    ASSERT_TRUE(Made(main.Create(IDD_ABOUTBOX)));
    RECT rcWork{};
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &rcWork, 0);
    POINT mainCentre = Centre(WindowRect(main.m_hWnd));
    EXPECT_NEAR(Centre(rcWork).x, mainCentre.x, 1);
    EXPECT_NEAR(Centre(rcWork).y, mainCentre.y, 1);

    ::SetWindowPos(main.m_hWnd, nullptr, 20, 30, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_SHOWWINDOW);
    CDialog owned(IDD_ABOUTBOX, &main);
    ASSERT_TRUE(Made(owned.Create(IDD_ABOUTBOX, &main)));
    POINT ownedCentre = Centre(WindowRect(owned.m_hWnd));
    POINT ownerCentre = Centre(WindowRect(main.m_hWnd));
    EXPECT_NEAR(ownerCentre.x, ownedCentre.x, 1);
    EXPECT_NEAR(ownerCentre.y, ownedCentre.y, 1);
}

namespace {

constexpr wchar_t kPlainClass[] = L"LookwellTestPlain";
constexpr UINT kSum = WM_APP + 1;

// A plain window whose handlers write what they saw to a log that outlives it.
class CPlainWnd : public CWnd {
public:
    explicit CPlainWnd(std::vector<std::wstring>& log) : m_log(log) {}
    int m_nCreateResult = 0;
    bool m_bDefaultKeys = false;

protected:
    void Note(std::wstring text, std::initializer_list<UINT> values = {}) {
        for (UINT n : values) {
            text += L" " + std::to_wstring(n);
        }
        m_log.push_back(text + (m_hWnd != nullptr ? L" attached" : L" detached"));
    }
    int OnCreate(LPCREATESTRUCT pCreate) {
        Note(L"create " + std::wstring(pCreate->lpszName));
        return m_nCreateResult;
    }
    void OnSize(UINT nType, int cx, int cy) {
        Note(L"size", {nType, static_cast<UINT>(cx), static_cast<UINT>(cy)});
    }
    void OnKeyDown(UINT nChar, UINT nRepCnt, UINT nFlags) {
        Note(L"key", {nChar, nRepCnt, nFlags});
        if (m_bDefaultKeys) {
            Default();
        }
    }
    void OnClose() {
        Note(L"close");
        Default(); // the system's: destroys the window
    }
    void OnDestroy() { Note(L"destroy"); }
    void OnNcDestroy() { Note(L"ncdestroy"); }
    LRESULT OnSum(WPARAM wParam, LPARAM lParam) { return static_cast<LRESULT>(wParam) + lParam; }

    std::vector<std::wstring>& m_log;
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CPlainWnd, CWnd)
ON_WM_CREATE()
ON_WM_SIZE()
ON_WM_KEYDOWN()
ON_WM_CLOSE()
ON_WM_DESTROY()
ON_WM_NCDESTROY()
ON_MESSAGE(kSum, &CPlainWnd::OnSum)
END_MESSAGE_MAP()

bool CreatePlain(CWnd& wnd) {
    return AfxRegisterWndClass(kPlainClass) &&
           wnd.CreateEx(0, kPlainClass, L"plain", WS_POPUP, RECT{10, 20, 110, 70}, nullptr);
}

} // namespace

TEST(FrameworkWindow, PlainWindowDispatchesThroughItsMapAndLeavesTheRestToTheSystem) {
    std::vector<std::wstring> log;
    HWND hWnd = nullptr;
    {
        CPlainWnd wnd(log);
        ASSERT_TRUE(CreatePlain(wnd));
        EXPECT_FALSE(AfxRegisterWndClass(L"STATIC")) << "a name with another procedure";
        EXPECT_FALSE(CreatePlain(wnd)) << "one window per object";
        wnd.SendMessage(WM_SIZE, SIZE_MAXIMIZED, MAKELPARAM(300, 200));
        wnd.SendMessage(WM_KEYDOWN, 'A', 0x001E0003);
        EXPECT_EQ(12, wnd.SendMessage(kSum, 5, 7));
        wnd.SetWindowText(L"renamed"); // no entry: the system keeps the text
        EXPECT_EQ(L"renamed", WindowText(wnd.m_hWnd));
        hWnd = wnd.m_hWnd;
        wnd.SendMessage(WM_CLOSE); // the handler hands on to the system, which destroys it
        EXPECT_FALSE(::IsWindow(hWnd));
        EXPECT_EQ(nullptr, wnd.m_hWnd);
        EXPECT_EQ((std::vector<std::wstring>{L"create plain attached", L"size 0 100 50 attached",
                                             L"size 2 300 200 attached", L"key 65 3 30 attached",
                                             L"close attached", L"destroy attached",
                                             L"ncdestroy detached"}),
                  log);

        wnd.m_nCreateResult = -1;
        EXPECT_FALSE(CreatePlain(wnd));
        EXPECT_EQ(nullptr, wnd.m_hWnd);
        EXPECT_EQ(L"ncdestroy detached", log.back());
        CWnd notOurs;
        EXPECT_FALSE(notOurs.CreateEx(0, L"STATIC", L"not ours", WS_POPUP, RECT{}, nullptr));
        EXPECT_EQ(nullptr, ::FindWindowW(L"Static", L"not ours")) << "left behind";

        // An object that goes first takes its window along without a call into what is left.
        wnd.m_nCreateResult = 0;
        ASSERT_TRUE(CreatePlain(wnd));
        hWnd = wnd.m_hWnd;
        log.clear();
    }
    EXPECT_FALSE(::IsWindow(hWnd));
    EXPECT_TRUE(log.empty());
}

namespace {

WNDPROC g_pfnBelow = nullptr;
LRESULT CALLBACK SetLaterProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    return ::CallWindowProcW(g_pfnBelow, hWnd, message, wParam, lParam);
}

LONG_PTR Proc(HWND hWnd) {
    return ::GetWindowLongPtrW(hWnd, GWLP_WNDPROC);
}

// Del at the start of the edit control's text "abc": what the text is afterwards.
std::wstring AfterDelete(HWND hEdit) {
    ::SetWindowTextW(hEdit, L"abc");
    ::SendMessageW(hEdit, EM_SETSEL, 0, 0);
    ::SendMessageW(hEdit, WM_KEYDOWN, VK_DELETE, 0);
    return WindowText(hEdit);
}

} // namespace

TEST(FrameworkWindow, SubclassTakesTheMapsMessagesAndGivesBackTheOwnProcedureOnlyWhileOursIsOn) {
    struct Case {
        const char* name;
        bool bDefaultKeys;
        bool bLaterProc; // another procedure is set over ours before we unsubclass
    };
    for (const Case& c : {Case{"taken", false, false}, Case{"handed on", true, false},
                          Case{"under a later one", false, true}}) {
        SCOPED_TRACE(c.name);
        std::vector<std::wstring> log;
        HWND hEdit = ::CreateWindowExW(0, L"EDIT", L"", WS_POPUP, 0, 0, 100, 20, nullptr, nullptr,
                                       nullptr, nullptr);
        LONG_PTR pfnOwn = Proc(hEdit);
        CPlainWnd wnd(log);
        wnd.m_bDefaultKeys = c.bDefaultKeys;
        ASSERT_TRUE(wnd.SubclassWindow(hEdit));
        EXPECT_FALSE(CPlainWnd(log).SubclassWindow(hEdit)) << "ours runs once";
        EXPECT_EQ(&wnd, CWnd::FromHandlePermanent(hEdit));
        EXPECT_EQ(c.bDefaultKeys ? L"bc" : L"abc", AfterDelete(hEdit));
        EXPECT_EQ(L"key 46 0 0 attached", log.back());
        LONG_PTR pfnOurs = Proc(hEdit);
        if (c.bLaterProc) {
            g_pfnBelow = reinterpret_cast<WNDPROC>(
                ::SetWindowLongPtrW(hEdit, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(SetLaterProc)));
        }
        EXPECT_EQ(hEdit, wnd.UnsubclassWindow());
        EXPECT_EQ(nullptr, CWnd::FromHandlePermanent(hEdit));
        EXPECT_EQ(c.bLaterProc ? reinterpret_cast<LONG_PTR>(SetLaterProc) : pfnOwn, Proc(hEdit));
        // Whatever still passes through ours reaches the control's own procedure.
        log.clear();
        EXPECT_EQ(L"bc", AfterDelete(hEdit));
        if (c.bLaterProc) {
            ::SetWindowLongPtrW(hEdit, GWLP_WNDPROC, pfnOurs); // the later one leaves
            EXPECT_EQ(L"bc", AfterDelete(hEdit));
            EXPECT_FALSE(wnd.SubclassWindow(hEdit)) << "ours is still in its chain";
        }
        EXPECT_TRUE(log.empty());
        ::DestroyWindow(hEdit);
    }
}

TEST(FrameworkWindow, ObjectsAreFoundOnlyForThisThreadsOwnWindows) {
    std::vector<std::wstring> log;
    CDialog dlg(IDD_ABOUTBOX);
    ASSERT_TRUE(Made(dlg.Create(IDD_ABOUTBOX)));
    // The same kind of window as this thread's, still open on another thread.
    HANDLE hMade = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE hDone = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HWND hOther = nullptr;
    std::thread other([&] {
        std::vector<std::wstring> otherLog;
        CPlainWnd otherWnd(otherLog);
        CreatePlain(otherWnd);
        hOther = otherWnd.m_hWnd;
        ::SetEvent(hMade);
        ::WaitForSingleObject(hDone, INFINITE);
    });
    EXPECT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(hMade, 10000)) << "no window on the thread";
    EXPECT_NE(nullptr, hOther);
    EXPECT_EQ(&dlg, CWnd::FromHandlePermanent(dlg.m_hWnd));
    EXPECT_EQ(nullptr, CWnd::FromHandlePermanent(dlg.GetDlgItem(IDOK)));
    EXPECT_EQ(nullptr, CWnd::FromHandlePermanent(hOther));
    EXPECT_FALSE(CPlainWnd(log).SubclassWindow(hOther));
    ::SetEvent(hDone);
    other.join();
    ::CloseHandle(hMade);
    ::CloseHandle(hDone);
}
