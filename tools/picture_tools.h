// The tools reached through keys beyond the main window's own: full screen, the frame to the
// clipboard or a PNG file, the camera's own settings pages and mirror, and the information
// window. A message filter hook on the main window's modal loop sees the keys before the
// dialog does, so the dialog's templates, texts and own keys stay as they are.
#pragma once

#include "capture/capture_platform.h"
#include "framework/str.h"
#include "tools/command_line.h"

#include <deque>
#include <utility>
#include <vector>

class CLookwellDlg;

// A capture filter's capture pin, found by its category as the preview graph finds it.
HRESULT FindCapturePin(IBaseFilter* pFilter, IPin** ppPin);

class CPictureTools {
public:
    explicit CPictureTools(CLookwellDlg& dlg);
    // Unhooks and closes the information window.
    ~CPictureTools();
    CPictureTools(const CPictureTools&) = delete;
    CPictureTools& operator=(const CPictureTools&) = delete;

    // Hooks the calling thread's dialog loops; the switches are applied once the main
    // window's loop runs. One object at a time per process.
    bool Install(const CCommandLine& options);

    // Each key's action; false (after a beep) where there was nothing to act on.
    bool ToggleFullScreen();
    bool LeaveFullScreen();
    bool IsFullScreen() const;
    bool CopyToClipboard();
    bool SaveSnapshot();
    bool ShowSettingsPages();
    bool ToggleMirror();
    void ToggleInfoWindow();
    HWND InfoWindow() const { return m_hInfo; }

    // The renderer's current frame as a packed DIB (header, then pixels). A running picture
    // is paused for the copy and runs again afterwards; a paused one stays paused.
    HRESULT GrabFrame(std::vector<BYTE>& dib);
    // The text the information window shows now.
    void GetInfoText(CString& strText);

private:
    static LRESULT CALLBACK MsgFilterProc(int nCode, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK InfoWndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
    // True when the message was taken and must go no further.
    bool OnFilterMessage(const MSG& msg);
    bool OnKey(const MSG& msg);
    void ApplyOptions();
    // The capture filter of the running preview, or else the selected device's, bound afresh.
    HRESULT GetCameraFilter(IBaseFilter** ppFilter);
    // The graph's video renderer.
    HRESULT FindRenderer(IBaseFilter** ppRenderer);
    void RefreshInfo();

    CLookwellDlg& m_dlg;
    HHOOK m_hHook = nullptr;
    CCommandLine m_options;
    bool m_bOptionsPending = false;

    // Full screen: the renderer's window and where it and the main window were before.
    HWND m_hFullScreenVideo = nullptr;
    RECT m_rcMainBefore{};
    RECT m_rcVideoBefore{};
    // The picture's window checked for a while after full screen.
    HWND m_hRestoredVideo = nullptr;
    int m_nRestoreChecks = 0;
    UINT_PTR m_nRestoreTimer = 0;
    void CheckRestoredVideo();

    HWND m_hInfo = nullptr;
    // The graph seen last, to know when a preview started.
    IGraphBuilder* m_pSeenGraph = nullptr;
    ULONGLONG m_nStartTick = 0;
    // The delivered count at the information window's last refreshes, for the rate over the
    // last second.
    std::deque<std::pair<ULONGLONG, long>> m_rateSamples;
    struct CCounts {
        long nDeliveredBefore = 0;
        long nDroppedBefore = 0;
        long nLastDelivered = 0;
        long nLastDropped = 0;
    } m_counts;
};
