// The camera check's results window, owned by the main window: a table that fills in row by
// row, a progress bar with the format being measured and the time left. Esc or the close box
// cancels within a second and releases the camera; Ctrl+C copies the table as tab-separated
// text.
#pragma once

#include "capture/video_format.h"
#include "check/camera_check.h"
#include "framework/wnd.h"

#include <string>
#include <vector>

class CCheckWindow : public CWnd, private ICheckListener {
public:
    CCheckWindow() = default;
    // Closes the window, cancelling a running check.
    ~CCheckWindow() override;
    CCheckWindow(const CCheckWindow&) = delete;
    CCheckWindow& operator=(const CCheckWindow&) = delete;

    // Shows the window and starts checking the formats of that device. nFirstIndex is the
    // position of formats[0] in the device's format list, for the progress text. False (and
    // nothing shown) when the window is open already or could not be made.
    bool Open(HWND hOwner, const std::wstring& deviceDisplayName, const std::wstring& deviceName,
              const std::vector<VideoFormat>& formats, int nFirstIndex, DWORD nSeconds);
    bool IsOpen() const { return m_hWnd != nullptr; }
    // Cancels the check (the camera is released before it returns) and destroys the window.
    void Close();

    HWND Window() const { return m_hWnd; }
    bool IsChecking() const { return m_runner.IsRunning(); }
    // The rows so far as tab-separated text, header first: what Ctrl+C copies.
    std::wstring TabbedText() const;
    // The progress line as shown.
    std::wstring ProgressText() const { return m_strProgress; }

private:
    // The table, subclassed: its own keys would copy a selection and ignore Esc, so the
    // window's keys come first.
    class CTableWnd : public CWnd {
    public:
        explicit CTableWnd(CCheckWindow& owner) : m_owner(owner) {}

    private:
        void OnKeyDown(UINT nChar, UINT nRepCnt, UINT nFlags);
        CCheckWindow& m_owner;
        DECLARE_MESSAGE_MAP()
    };

    int OnCreate(LPCREATESTRUCT lpCreateStruct);
    LRESULT OnFormatStartedMessage(WPARAM wParam, LPARAM lParam);
    LRESULT OnRowDoneMessage(WPARAM wParam, LPARAM lParam);
    LRESULT OnCheckFinishedMessage(WPARAM wParam, LPARAM lParam);
    void OnTimer(UINT_PTR nIDEvent);
    void OnPaint();
    void OnSize(UINT nType, int cx, int cy);
    void OnKeyDown(UINT nChar, UINT nRepCnt, UINT nFlags);
    void OnClose();
    void OnDestroy();
    void OnNcDestroy();
    // True when the key was the window's: Esc, Ctrl+C.
    bool OnKey(UINT nKey);
    void CopyTable();
    void Layout();
    void UpdateProgress();
    void DrawBar(HDC hdc);
    // Frees what the worker posted and the window did not take.
    void DropPendingMessages();

    // ICheckListener, on the runner's thread: everything is posted to the window.
    void OnFormatStarted(size_t nIndex, size_t nCount, const std::wstring& strFormat,
                         DWORD nMsLeft) override;
    void OnRowDone(size_t nIndex, const CFormatMeasurement& row) override;
    void OnCheckFinished(bool bCancelled) override;

    CTableWnd m_table{*this};
    HWND m_hProgress = nullptr;
    CCheckRunner m_runner;
    std::wstring m_strDevice;
    std::vector<CFormatMeasurement> m_rows;
    std::wstring m_strProgress;
    std::wstring m_strCurrent; // the format being measured
    int m_nFirstIndex = 0;
    size_t m_nCount = 0;
    size_t m_nCurrent = 0;
    DWORD m_nSeconds = kDefaultCheckSeconds;
    ULONGLONG m_nFormatStartTick = 0;
    DWORD m_nMsLeftAtStart = 0;
    bool m_bFinished = false;
    bool m_bCancelled = false;

    DECLARE_MESSAGE_MAP()
};
