// The camera check's results window driven from outside: Ctrl+T, its rows read from the list
// control across processes, their colours and a row's details read back from the screen, its
// keys and what it says about them, and Esc or the close box in the middle of the heaviest
// format while the main window keeps answering.
#include "check/check_window.h"
#include "framework/object.h"
#include "support/camera.h"
#include "support/e2e_test.h"
#include "support/remote_list.h"
#include "support/tool_keys.h"

#include <atomic>
#include <cwctype>
#include <thread>

using testcam_test::ScopedCamera;

namespace {

// A control's own text, asked of it across processes.
std::wstring ControlText(HWND hWnd) {
    std::wstring text(1024, L'\0');
    LRESULT nLength =
        ::SendMessageW(hWnd, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
    text.resize(nLength > 0 ? static_cast<size_t>(nLength) : 0);
    return text;
}

bool StartsWith(const std::wstring& text, const wchar_t* pszStart) {
    return text.rfind(pszStart, 0) == 0;
}

// The name and value pairs the details' figures list shows, two pairs a line.
std::vector<std::pair<std::wstring, std::wstring>> ShownFigures(HWND hFigures) {
    CRemoteList figures(hFigures);
    std::vector<std::pair<std::wstring, std::wstring>> pairs[2];
    for (int i = 0; i < figures.Count(); ++i) {
        for (int nPair = 0; nPair < 2; ++nPair) {
            std::wstring name = figures.Text(i, 2 * nPair);
            if (!name.empty()) {
                pairs[nPair].emplace_back(name, figures.Text(i, 2 * nPair + 1));
            }
        }
    }
    pairs[0].insert(pairs[0].end(), pairs[1].begin(), pairs[1].end());
    return pairs[0];
}

std::vector<std::wstring> Split(const std::wstring& text, wchar_t separator) {
    std::vector<std::wstring> parts(1);
    for (wchar_t ch : text) {
        if (ch == separator) {
            parts.emplace_back();
        } else if (ch != L'\r') {
            parts.back() += ch;
        }
    }
    return parts;
}

std::wstring ClipboardText() {
    std::wstring text;
    if (::OpenClipboard(nullptr)) {
        if (HANDLE hText = ::GetClipboardData(CF_UNICODETEXT)) {
            text = static_cast<const wchar_t*>(::GlobalLock(hText));
            ::GlobalUnlock(hText);
        }
        ::CloseClipboard();
    }
    return text;
}

RECT ClientOnScreen(HWND hWnd) {
    RECT rc{};
    ::GetClientRect(hWnd, &rc);
    ::MapWindowPoints(hWnd, nullptr, reinterpret_cast<POINT*>(&rc), 2);
    return rc;
}

int CountColour(const CScreenShot& shot, COLORREF colour) {
    DWORD rgb = static_cast<DWORD>(GetRValue(colour)) << 16 |
                static_cast<DWORD>(GetGValue(colour)) << 8 | GetBValue(colour);
    int n = 0;
    for (LONG y = 0; y < shot.Height(); ++y) {
        for (LONG x = 0; x < shot.Width(); ++x) {
            n += shot.At(x, y) == rgb ? 1 : 0;
        }
    }
    return n;
}

// A cell's ground: its colour just inside its left edge, clear of the text.
COLORREF Ground(const RECT& rcCell) {
    CScreenShot shot =
        CScreenShot::Of(RECT{rcCell.left + 2, rcCell.top + 2, rcCell.left + 3, rcCell.top + 3});
    DWORD c = shot.IsEmpty() ? 0xFFFFFFFF : shot.At(0, 0);
    return RGB((c >> 16) & 0xFF, (c >> 8) & 0xFF, c & 0xFF);
}

// How long a window's thread takes to answer WM_NULL, asked every 20 ms from a thread of its
// own for as long as the object lives.
class CAnswerWatch : private CNoCopy {
public:
    explicit CAnswerWatch(HWND hWnd)
        : m_hStop(::CreateEventW(nullptr, TRUE, FALSE, nullptr)), m_thread([this, hWnd] {
              do {
                  ULONGLONG nAsked = ::GetTickCount64();
                  DWORD_PTR nResult = 0;
                  if (!::SendMessageTimeoutW(hWnd, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &nResult)) {
                      m_bUnanswered = true;
                  }
                  m_nLongestMs = std::max<ULONGLONG>(m_nLongestMs, ::GetTickCount64() - nAsked);
              } while (::WaitForSingleObject(m_hStop, 20) == WAIT_TIMEOUT);
          }) {}
    ~CAnswerWatch() {
        ::SetEvent(m_hStop);
        m_thread.join();
        ::CloseHandle(m_hStop);
    }
    // The longest answer since the watch began, or since the last Restart.
    ULONGLONG LongestMs() const { return m_nLongestMs; }
    void Restart() { m_nLongestMs = 0; }
    bool AllAnswered() const { return !m_bUnanswered; }

private:
    HANDLE m_hStop;
    std::atomic<ULONGLONG> m_nLongestMs{0};
    std::atomic<bool> m_bUnanswered{false};
    std::thread m_thread;
};

class E2eCheckWindow : public CEndToEndTest {
protected:
    HWND OpenCheck() {
        PressKeys({VK_CONTROL, 'T'});
        return WaitForProcessWindow(Lookwell(), L"LookwellCameraCheck", nullptr);
    }
    static std::wstring Progress(HWND hCheck) {
        return ControlText(::GetDlgItem(hCheck, kCheckProgressId));
    }
    static std::wstring Message(HWND hCheck) {
        return ControlText(::GetDlgItem(hCheck, kCheckMessageId));
    }
    ::testing::AssertionResult Finished(HWND hCheck) {
        return PumpUntil(
            "the check's end", [&] { return StartsWith(Progress(hCheck), L"Done: "); }, 30000);
    }
    // The camera's streaming threads have all ended: the check let it go.
    ::testing::AssertionResult CameraFree(DWORD nMs = kPatienceMs) {
        return PumpUntil(
            "the camera's threads ended",
            [&] {
                CLookwellSession::CCameraThreads threads = Lookwell().CameraThreads();
                return threads.nStarted == threads.nEnded;
            },
            nMs);
    }
};

} // namespace

TEST_F(E2eCheckWindow, RowsAreColouredAndARowShowsEveryFigureItsPictureAndItsPlot) {
    // The second format is refused by the camera: one that did not start beside one that ran.
    ScopedCamera camera(L"RGB24:320x240@30,RGB24:160x120@30", L"refuse=1");
    ASSERT_TRUE(Launch());
    HWND hCheck = OpenCheck();
    ASSERT_NE(nullptr, hCheck);
    EXPECT_TRUE(PumpUntil("the progress counted from 1", [&] {
        return Progress(hCheck).find(L"(format 1 of 2)") != std::wstring::npos;
    })) << Narrow(Progress(hCheck));
    ASSERT_TRUE(Finished(hCheck)) << Narrow(Progress(hCheck));
    HWND hList = ::GetDlgItem(hCheck, kCheckListId);
    CRemoteList list(hList);
    ASSERT_TRUE(list.IsReady());
    ASSERT_EQ(2, list.Count());
    std::vector<std::wstring> titles;
    for (int i = 0; i < list.Columns(); ++i) {
        titles.push_back(list.Title(i));
    }
    EXPECT_EQ((std::vector<std::wstring>{L"format", L"verdict", L"fps of nominal", L"first picture",
                                         L"drops", L"bad", L"black", L"frozen", L"renderer"}),
              titles);
    std::vector<std::wstring> ran = list.Row(0);
    std::vector<std::wstring> refused = list.Row(1);
    EXPECT_EQ(L"320x240  30.0 RGB24 55296000", ran[0]);
    EXPECT_NE(std::wstring::npos, ran[2].find(L" of 30.00")) << Narrow(ran[2]);
    EXPECT_EQ(L"yes", ran[8]);
    EXPECT_EQ(L"160x120  30.0 RGB24 13824000", refused[0]);
    EXPECT_EQ(L"did not start", refused[1]);
    EXPECT_EQ(L"-", refused[2]);

    // Passing and failing at a glance: the verdicts' grounds, and the figure behind a failure.
    // A busy machine may starve the running format; its colour then follows its verdict.
    bool bRanOk = ran[1] == L"OK";
    EXPECT_EQ(bRanOk ? kCheckOkBack : kCheckFailedBack, Ground(list.Cell(0, 1))) << Narrow(ran[1]);
    EXPECT_EQ(kCheckFailedBack, Ground(list.Cell(1, 1)));
    EXPECT_EQ(kCheckFailedBack, Ground(list.Cell(1, 3))) << "no first picture";
    EXPECT_EQ(::GetSysColor(COLOR_WINDOW), Ground(list.Cell(1, 6))) << "black is no finding";

    // A click on the running format: its details below, and its verdict keeps its colour in
    // the selection.
    Click(Centre(list.Cell(0, 0)));
    ASSERT_TRUE(PumpUntil("the row selected", [&] { return list.IsSelected(0); }));
    ASSERT_TRUE(Settled());
    EXPECT_EQ(bRanOk ? kCheckOkBack : kCheckFailedBack, Ground(list.Cell(0, 1)));
    EXPECT_EQ(::GetSysColor(COLOR_HIGHLIGHT), Ground(list.Cell(0, 0)));
    // Every figure the table has for the row, as Ctrl+C copies it, and its picture's kind.
    DWORD nSequence = ::GetClipboardSequenceNumber();
    PressKeys({VK_CONTROL, 'C'}, hCheck);
    ASSERT_TRUE(ClipboardChanges(nSequence));
    std::vector<std::wstring> lines = Split(ClipboardText(), L'\n');
    ASSERT_GE(lines.size(), 3u);
    std::vector<std::wstring> names = Split(lines[0], L'\t');
    std::vector<std::wstring> values = Split(lines[1], L'\t');
    auto figures = ShownFigures(::GetDlgItem(hCheck, kCheckFiguresId));
    ASSERT_GE(figures.size(), names.size());
    for (size_t i = 0; i < names.size(); ++i) {
        EXPECT_EQ(Narrow(names[i] + L": " + values[i]),
                  Narrow(figures[i].first + L": " + figures[i].second));
    }
    EXPECT_EQ(L"picture", figures[names.size()].first);

    HWND hPicture = ::GetDlgItem(hCheck, kCheckPictureId);
    HWND hPlot = ::GetDlgItem(hCheck, kCheckPlotId);
    ASSERT_TRUE(hPicture != nullptr && hPlot != nullptr);
    // The picture: the camera's bars, drawn whole and enlarged within its window.
    CScreenShot picture = CScreenShot::Of(ClientOnScreen(hPicture));
    ASSERT_FALSE(picture.IsEmpty());
    DWORD ground = picture.At(0, 0);
    RECT rcDrawn{picture.Width(), picture.Height(), 0, 0};
    for (LONG y = 0; y < picture.Height(); ++y) {
        for (LONG x = 0; x < picture.Width(); ++x) {
            if (picture.At(x, y) != ground) {
                rcDrawn = RECT{std::min(rcDrawn.left, x), std::min(rcDrawn.top, y),
                               std::max(rcDrawn.right, x + 1), std::max(rcDrawn.bottom, y + 1)};
            }
        }
    }
    ASSERT_LT(rcDrawn.left, rcDrawn.right) << "no picture drawn";
    RECT rcPicture = ClientOnScreen(hPicture);
    ::OffsetRect(&rcDrawn, rcPicture.left, rcPicture.top);
    EXPECT_EQ("", MisplacedBars(CScreenShot::Of(rcDrawn)));
    // The plot: the intervals and the nominal line drawn.
    CScreenShot plot = CScreenShot::Of(ClientOnScreen(hPlot));
    EXPECT_GT(CountColour(plot, kPlotIntervalColour), 60) << "the intervals' stems";
    EXPECT_GT(CountColour(plot, kPlotNominalColour), 40) << "the nominal line";
}

TEST_F(E2eCheckWindow, EscAndTheCloseBoxCloseWithinASecondOfAnMjpg1080pDecode) {
    // The picture shows the first format; the check ends with the heavy one.
    ScopedCamera camera(L"RGB24:320x240@30,MJPG:1920x1080@30");
    for (bool bCloseBox : {false, true}) {
        SCOPED_TRACE(bCloseBox ? "the close box" : "Esc");
        // A program of its own each time: a check that was cancelled may go on letting the
        // camera go for a moment, and a new one waits for that.
        ASSERT_TRUE(Launch());
        CAnswerWatch watch(Main());
        HWND hCheck = OpenCheck();
        ASSERT_NE(nullptr, hCheck);
        // Near the end of its window, when the most pictures wait to be decoded.
        ASSERT_TRUE(PumpUntil(
            "the MJPG window's last second",
            [&] {
                return Progress(hCheck).find(L"(format 2 of 2), about 1 s left") !=
                       std::wstring::npos;
            },
            30000))
            << Narrow(Progress(hCheck));
        // Until now the machine's load alone may slow an answer (the camera and the decoding
        // share its two cores with the window); from the close on, a wait of the window's own
        // would show.
        EXPECT_TRUE(watch.AllAnswered()) << "the main window answered while the check ran";
        watch.Restart();
        ULONGLONG nAt = ::GetTickCount64();
        if (bCloseBox) {
            // Where the window itself says its close box is.
            RECT rc = WindowRect(hCheck);
            POINT pt{};
            for (LONG x = rc.right - 1; x > rc.right - 80 && pt.x == 0; --x) {
                for (LONG y = rc.top; y < rc.top + 30 && pt.x == 0; ++y) {
                    if (::SendMessageW(hCheck, WM_NCHITTEST, 0, MAKELPARAM(x, y)) == HTCLOSE) {
                        pt = POINT{x - 3, y + 3};
                    }
                }
            }
            ASSERT_NE(0, pt.x) << "no close box";
            nAt = ::GetTickCount64();
            Click(pt);
        } else {
            ::SetForegroundWindow(hCheck);
            PressKeys({VK_ESCAPE}, hCheck);
        }
        EXPECT_TRUE(PumpUntil(
            "the results window closed within a second", [&] { return !::IsWindow(hCheck); },
            1000));
        EXPECT_LE(::GetTickCount64() - nAt, 1000u);
        // The cancel reaches the camera too: the pictures still waiting to be decoded are
        // dropped, not worked through (a second, and the stop's own time on a busy machine).
        EXPECT_TRUE(CameraFree(1500));
        EXPECT_TRUE(watch.AllAnswered());
        EXPECT_LT(watch.LongestMs(), 1000u) << "the main window's longest answer from the close on";
    }
    EXPECT_TRUE(Start()) << "the window is idle, and the camera free for it";
}

TEST_F(E2eCheckWindow, OpensWholeBesideAWindowAtTheScreensEdgeAndSaysWhatItsKeysDid) {
    ScopedCamera camera(L"RGB24:160x120@30");
    ASSERT_TRUE(Launch());
    // The main window near the work area's far corner, its bottom right off the screen.
    RECT rcWork{};
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &rcWork, 0);
    ::SetWindowPos(Main(), nullptr, rcWork.right - 120, rcWork.bottom - 90, 0, 0,
                   SWP_NOSIZE | SWP_NOZORDER);
    HWND hCheck = OpenCheck();
    ASSERT_NE(nullptr, hCheck);
    RECT rc = WindowRect(hCheck);
    EXPECT_TRUE(rc.left >= rcWork.left && rc.top >= rcWork.top && rc.right <= rcWork.right &&
                rc.bottom <= rcWork.bottom)
        << rc.left << "," << rc.top << " - " << rc.right << "," << rc.bottom;
    EXPECT_GE(rc.right - rc.left, 800) << "room for its columns";
    EXPECT_EQ(Main(), ::GetWindow(hCheck, GW_OWNER));
    ASSERT_TRUE(Finished(hCheck));

    // Ctrl+C while another program holds the clipboard: said in the window, and then done.
    ASSERT_TRUE(::OpenClipboard(nullptr));
    PressKeys({VK_CONTROL, 'C'}, hCheck);
    EXPECT_TRUE(PumpUntil("the window to say so", [&] {
        return Message(hCheck) == L"The table was not copied: another program holds the clipboard.";
    })) << Narrow(Message(hCheck));
    ::CloseClipboard();
    DWORD nSequence = ::GetClipboardSequenceNumber();
    PressKeys({VK_CONTROL, 'C'}, hCheck);
    ASSERT_TRUE(ClipboardChanges(nSequence));
    std::vector<std::wstring> lines = Split(ClipboardText(), L'\n');
    ASSERT_EQ(3u, lines.size()) << "header, one row, and the last line's end";
    EXPECT_EQ(20u, Split(lines[0], L'\t').size());
    EXPECT_EQ(Split(lines[0], L'\t').size(), Split(lines[1], L'\t').size());
    EXPECT_EQ(L"The table is on the clipboard: 1 format, tab-separated, header first.",
              Message(hCheck));

    // Ctrl+S: the Save As dialog over the results, the report proposed by the check's date.
    PressKeys({VK_CONTROL, 'S'}, hCheck);
    HWND hSave = nullptr;
    ASSERT_TRUE(PumpUntil("the Save As dialog", [&] {
        hSave = FindProcessWindow(Lookwell(), L"#32770", nullptr);
        return hSave != nullptr && ::GetWindow(hSave, GW_OWNER) == hCheck;
    }));
    HWND hName = WaitForFileNameBox(hSave);
    ASSERT_NE(nullptr, hName);
    std::wstring proposed = ControlText(hName);
    EXPECT_TRUE(proposed.size() == 39 && StartsWith(proposed, L"Lookwell check 20") &&
                proposed.substr(34) == L".html")
        << Narrow(proposed);
    wchar_t szTemp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, szTemp);
    std::wstring path = std::wstring(szTemp) + L"lookwell e2e report.html";
    ::DeleteFileW(path.c_str());
    ::SendMessageW(hName, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()));
    PressKeys({VK_RETURN}, hSave);
    ASSERT_TRUE(PumpUntil("the window to say what became of it", [&] {
        return StartsWith(Message(hCheck), L"The report was");
    })) << Narrow(Message(hCheck));
    EXPECT_EQ(L"The report was saved as " + path + L".", Message(hCheck));
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, ::GetFileAttributesW(path.c_str()));
    ::DeleteFileW(path.c_str());
}
