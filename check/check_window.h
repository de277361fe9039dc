// The camera check's results window, owned by the main window: one row per format in the
// platform's list control, filled in as the formats are measured, the verdicts coloured; below,
// the selected format's figures, picture and interval plot. Esc or the close box cancels and
// closes at once; Ctrl+C copies the table as tab-separated text, Ctrl+S writes the report.
#pragma once

#include "capture/video_format.h"
#include "check/camera_check.h"
#include "check/check_details.h"
#include "framework/sync.h"
#include "framework/wnd.h"

#include <string>
#include <utility>
#include <vector>

// The children, by their control ids.
enum : int {
    kCheckListId = 1,
    kCheckFiguresId = 2,
    kCheckPictureId = 3,
    kCheckPlotId = 4,
    kCheckProgressId = 5,
    kCheckMessageId = 6
};

// The verdict cell's colours, and those of a figure behind a failing finding.
constexpr COLORREF kCheckOkBack = RGB(198, 239, 206);
constexpr COLORREF kCheckOkText = RGB(0, 97, 0);
constexpr COLORREF kCheckFailedBack = RGB(255, 199, 206);
constexpr COLORREF kCheckFailedText = RGB(156, 0, 6);
constexpr COLORREF kCheckCancelledBack = RGB(255, 235, 156);
constexpr COLORREF kCheckCancelledText = RGB(110, 80, 0);

class CCheckWindow : public CWnd {
public:
    // Closes the window; a check still ending is waited for as the runner's end waits.
    ~CCheckWindow() override;

    // Shows the window and starts checking the formats of that device for nSeconds each.
    // False (and nothing shown) when the window is open already, the last check is still
    // ending, or the window could not be made.
    bool Open(HWND hOwner, const std::wstring& deviceDisplayName, const std::wstring& deviceName,
              const std::vector<VideoFormat>& formats, DWORD nSeconds);
    bool IsOpen() const { return m_hWnd != nullptr; }
    // Cancels the check and destroys the window at once: nothing here waits for the camera.
    // The check's thread ends the format being measured and releases the camera on its own,
    // within a second; what it still reports is freed, never delivered.
    void Close();

    HWND Window() const { return m_hWnd; }
    // The check's thread runs: measuring, or ending after a cancel.
    bool IsChecking() const { return m_runner.IsRunning(); }
    // The rows so far as tab-separated text, header first: what Ctrl+C copies.
    std::wstring TabbedText() const;
    // The progress line as shown.
    std::wstring ProgressText() const { return m_strProgress; }
    // The line at the bottom: what Ctrl+C or Ctrl+S did, or why it failed.
    std::wstring MessageText() const { return m_strMessage; }

private:
    // The lists, subclassed: their own keys would ignore Esc and search for typed letters, so
    // the window's keys come first.
    class CKeysWnd : public CWnd {
    public:
        explicit CKeysWnd(CCheckWindow& owner) : m_owner(owner) {}

    private:
        void OnKeyDown(UINT nChar, UINT nRepCnt, UINT nFlags);
        CCheckWindow& m_owner;
        DECLARE_MESSAGE_MAP()
    };

    // What the runner reports, on its thread, posted to the window while it is there. Once
    // the window ends, nothing more is posted and what it did not take is freed, so that a late
    // row never reaches a window that is gone, or another that got its handle.
    class CPoster : public ICheckListener {
    public:
        void Attach(HWND hWnd);
        // On the window's thread, while the window is still there.
        void Detach();
        static void Free(const MSG& msg);

        void OnFormatStarted(size_t nIndex, size_t nCount, const std::wstring& strFormat,
                             DWORD nMsLeft) override;
        void OnRowDone(size_t nIndex, const CFormatMeasurement& row) override;
        void OnCheckFinished(bool bCancelled) override;

    private:
        bool Post(UINT message, WPARAM wParam, LPARAM lParam);
        CCriticalSection m_lock;
        HWND m_hWnd = nullptr;
    };

    int OnCreate(LPCREATESTRUCT lpCreateStruct);
    LRESULT OnFormatStartedMessage(WPARAM wParam, LPARAM lParam);
    LRESULT OnRowDoneMessage(WPARAM wParam, LPARAM lParam);
    LRESULT OnCheckFinishedMessage(WPARAM wParam, LPARAM lParam);
    void OnListCustomDraw(NMHDR* pHeader, LRESULT* pResult);
    void OnListItemChanged(NMHDR* pHeader, LRESULT* pResult);
    void OnTimer(UINT_PTR nIDEvent);
    void OnPaint();
    void OnSize(UINT nType, int cx, int cy);
    void OnGetMinMaxInfo(MINMAXINFO* pInfo);
    void OnKeyDown(UINT nChar, UINT nRepCnt, UINT nFlags);
    void OnClose();
    void OnDestroy();
    void OnNcDestroy();

    // True when the key was the window's: Esc, Ctrl+C, Ctrl+S.
    bool OnKey(UINT nKey, UINT nFlags);
    void CopyTable();
    void SaveReport();
    void ShowMessage(const std::wstring& text, bool bFailure);
    void Layout();
    void FitColumns();
    // The figures' four columns as their texts want them.
    std::vector<int> FigureWidths() const;
    void ShowDetails(size_t nRow);
    void UpdateProgress();
    void DrawBar(HDC hdc);

    CKeysWnd m_listKeys{*this};
    CKeysWnd m_figuresKeys{*this};
    HWND m_hList = nullptr;
    HWND m_hFigures = nullptr;
    HWND m_hProgress = nullptr;
    HWND m_hMessage = nullptr;
    CCheckDrawingWnd m_picture{CCheckDrawingWnd::Kind::Picture};
    CCheckDrawingWnd m_plot{CCheckDrawingWnd::Kind::Plot};
    // Before the runner: it takes the runner's calls until the runner is gone.
    CPoster m_poster;
    CCheckRunner m_runner;

    std::wstring m_strDevice;
    SYSTEMTIME m_started{};
    std::vector<CFormatMeasurement> m_rows;
    // The details' figures, name and value, of the row they show.
    std::vector<std::pair<std::wstring, std::wstring>> m_figures;
    std::wstring m_strProgress;
    std::wstring m_strMessage;
    std::wstring m_strCurrent; // the format being measured
    size_t m_nCount = 0;
    size_t m_nCurrent = 0;
    DWORD m_nSeconds = kDefaultCheckSeconds;
    ULONGLONG m_nFormatStartTick = 0;
    DWORD m_nMsLeftAtStart = 0;
    bool m_bFinished = false;
    bool m_bCancelled = false;
    bool m_bDrawingSelected = false; // the list row being drawn is selected

    DECLARE_MESSAGE_MAP()
};
