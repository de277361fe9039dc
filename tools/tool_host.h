// The host of the tools reached through keys beyond the main window's own: it dispatches their
// keys and owns their windows (full screen, the frame to the clipboard or a PNG file, the
// camera's own settings pages and mirror, the information window, the check's results). A
// message filter hook on the main window's modal loop sees the keys before the
// dialog does, so the dialog's templates, texts and own keys stay as they are. The tools use
// only the window's public interface for the tools; their timers and posted messages live on a
// message-only window of their own.
#pragma once

#include "capture/capture_platform.h"
#include "capture/video_format.h"
#include "check/check_window.h"
#include "framework/object.h"
#include "framework/str.h"
#include "framework/wnd.h"
#include "tools/command_line.h"
#include "tools/info_figures.h"
#include "tools/picture_recording.h"

#include <string>
#include <vector>

class CLookwellDlg;

// The class of the tools' small windows (notice, indicator, message-only): the framework's
// procedure, an arrow, the tooltip's colour.
bool RegisterToolWndClass(const wchar_t* pszClass);

// What a key does, and the modifiers it takes: exactly these, unless `bAnyModifiers`.
enum class ToolAction {
    FullScreen,
    // Esc: leaves full screen, or closes the information window it arrives at.
    Dismiss,
    Check,
    Copy,
    Save,
    Settings,
    Mirror,
    Info,
    Record,
    RecordUncompressed,
    CloseFullScreen,
    LeaveFullScreenFirst
};
enum : UINT { kModCtrl = 1, kModAlt = 2, kModShift = 4 };
struct CToolKey {
    UINT nKey;
    UINT nModifiers;
    bool bAnyModifiers;
    ToolAction action;
};
// The modifiers of a key message: Alt from the message's own context bit (a key that arrives
// without a focused window comes as a system key whether or not Alt is down); Ctrl with Alt
// both down is AltGr, which types characters and is neither.
UINT KeyModifiers(LPARAM lParam, bool bCtrlDown, bool bAltDown, bool bShiftDown);
// The action bound to the key with those modifiers; null for none.
const CToolKey* FindToolKey(UINT nKey, UINT nModifiers);

class CToolHost : private CNoCopy {
public:
    explicit CToolHost(CLookwellDlg& dlg);
    // Unhooks and closes the tools' windows.
    ~CToolHost();

    // Hooks the calling thread's dialog loops; the switches are applied once the main
    // window's loop runs. One object at a time per process.
    bool Install(const CCommandLine& options);

    // Each key's action; false where there was nothing to act on or it failed (after a beep,
    // and for a failure a notice saying what failed).
    bool ToggleFullScreen();
    bool LeaveFullScreen();
    bool IsFullScreen() const;
    bool CopyToClipboard();
    bool SaveSnapshot();
    bool ShowSettingsPages();
    bool ToggleMirror();
    bool ToggleInfoWindow();
    HWND InfoWindow() const { return m_info.m_hWnd; }
    // Ctrl+T: the selected device's formats checked one by one in the results window; a running
    // preview is stopped first, the Stop button's way. A results window still open comes to
    // the front instead; while a closed one's check is still letting the camera go, a notice
    // says so.
    bool CheckCamera();
    const CCheckWindow& CheckWindow() const { return m_check; }
    // Ctrl+R: starts recording the running picture into the Videos folder, or ends the
    // recording; Ctrl+Shift+R starts one that stores uncompressed pictures as they come. While it
    // records, a small indicator over the picture's top left says for how long and how large the
    // file is (its window text is the file's path). It ends with the picture too, and on its own
    // when a write fails, with a notice saying why; the file is finished so that it plays.
    bool ToggleRecording(bool bUncompressed);
    bool IsRecording() const { return m_recording.IsRecording(); }
    HWND RecordIndicator() const { return m_recordIndicator.m_hWnd; }
    // The tools' own notice, shown for a few seconds over the bottom of the picture (in full
    // screen, of the screen), as wide as its text allows and wrapped where it does not fit;
    // it follows the window while it shows. A failure's notice beeps.
    void ShowNotice(const std::wstring& text, bool bFailure = true);
    HWND NoticeWindow() const { return m_notice.m_hWnd; }

    // The frame for Ctrl+C and Ctrl+S as a packed DIB (header, then pixels), upright at the
    // format's size: the latest picture the preview's tap kept, which neither pauses the
    // picture nor waits for one; the renderer's image where there is no tap.
    HRESULT TakeFrame(std::vector<BYTE>& dib);
    // The renderer's current frame. A running picture is paused for the copy and runs again
    // afterwards; a paused one stays paused.
    HRESULT GrabFrame(std::vector<BYTE>& dib);
    // The text the information window shows now.
    void GetInfoText(CString& strText);

private:
    // The tools' window's posted messages and timers.
    static constexpr UINT kApplyOptions = WM_APP + 0x4C;
    static constexpr UINT kCloseMain = WM_APP + 0x4D;
    static constexpr UINT_PTR kRestoreTimer = 1;
    static constexpr UINT_PTR kNoticeTimer = 2;
    static constexpr UINT_PTR kRecordTimer = 3;

    // The tools' message-only window: their timers and posted messages.
    class CToolWnd : public CWnd {
    public:
        explicit CToolWnd(CToolHost& tools) : m_tools(tools) {}

    private:
        LRESULT OnApplyOptions(WPARAM wParam, LPARAM lParam);
        LRESULT OnCloseMain(WPARAM wParam, LPARAM lParam);
        void OnTimer(UINT_PTR nIDEvent);
        CToolHost& m_tools;
        DECLARE_MESSAGE_MAP()
    };
    // The information window: its refresh timer.
    class CInfoWnd : public CWnd {
    public:
        explicit CInfoWnd(CToolHost& tools) : m_tools(tools) {}

    private:
        void OnTimer(UINT_PTR nIDEvent);
        CToolHost& m_tools;
        DECLARE_MESSAGE_MAP()
    };
    // The renderer's window, subclassed while it is full screen: its close is the main window's.
    class CFullScreenWnd : public CWnd {
    public:
        explicit CFullScreenWnd(CToolHost& tools) : m_tools(tools) {}

    private:
        void OnClose();
        LRESULT OnEraseBkgnd(WPARAM wParam, LPARAM lParam);
        CToolHost& m_tools;
        DECLARE_MESSAGE_MAP()
    };

    // The tooltip control over the picture, subclassed: for it the pointer over the picture
    // (the renderer's window) is over the frame, whose tool it is.
    class CPictureTipWnd : public CWnd {
    public:
        explicit CPictureTipWnd(CToolHost& tools) : m_tools(tools) {}

    private:
        LRESULT OnWindowFromPoint(WPARAM wParam, LPARAM lParam);
        CToolHost& m_tools;
        DECLARE_MESSAGE_MAP()
    };

    // The hook procedure has no way to reach its object but a global (see key_hook.cpp).
    static LRESULT CALLBACK MsgFilterProc(int nCode, WPARAM wParam, LPARAM lParam);
    // True when the message was taken and must go no further.
    bool OnFilterMessage(const MSG& msg);
    bool OnKey(const MSG& msg);
    bool RunAction(ToolAction action, const MSG& msg);
    void ApplyOptions();
    // The capture filter of the running preview, or else the selected device's, found by its
    // moniker's display name and bound afresh.
    HRESULT GetCameraFilter(IBaseFilter** ppFilter, CString& strName);
    // The graph's video renderer.
    HRESULT FindRenderer(IBaseFilter** ppRenderer);
    void RefreshInfo();
    void CollectCounters(IBaseFilter* pFilter, const VideoFormat& format, CInfoFigures& figures);
    // Closes an open settings sheet; the main window's close follows once it is gone.
    void CloseSettingsSheet();
    void CheckRestoredVideo();
    // The recording's tick: the indicator brought up to date, and the recording ended where the
    // picture stopped or the writer ended.
    void UpdateRecording();
    // `why` it ended early; else the notice names the finished file, unless `bQuiet`.
    void EndRecording(const std::wstring& why, bool bQuiet = false);
    // The tooltip over the picture frame listing what the mouse and keys do there; it is fed the
    // mouse messages the dialog loop sees, and hides at the first key.
    void CreatePictureTip();
    void RelayToPictureTip(const MSG& msg);
    // The notice's tick: kept in place, and hidden when its time is over.
    void UpdateNotice();
    void PlaceNotice();

    CLookwellDlg& m_dlg;
    HHOOK m_hHook = nullptr;
    CToolWnd m_toolWnd{*this};
    CCommandLine m_options;
    bool m_bOptionsPending = false;
    // An Alt combination was taken: its Alt release must not open the window's menu.
    bool m_bSwallowAltUp = false;

    // Full screen: the renderer's window and where it and the main window were before.
    HWND m_hFullScreenVideo = nullptr;
    CFullScreenWnd m_fullScreen{*this};
    RECT m_rcMainBefore{};
    RECT m_rcVideoBefore{};
    // Where the picture is drawn in full screen, at its own shape.
    RECT m_rcFullScreenPicture{};
    // The picture's window checked for a while after full screen.
    HWND m_hRestoredVideo = nullptr;
    int m_nRestoreChecks = 0;

    // The settings sheet: one at a time, the main window disabled under it.
    bool m_bSheetOpen = false;
    bool m_bCloseAfterSheet = false;

    CInfoWnd m_info{*this};
    CWnd m_notice; // takes no message of its own
    HWND m_hTip = nullptr;
    bool m_bTipMade = false;
    CPictureTipWnd m_tip{*this};
    ULONGLONG m_nNoticeShownAt = 0;
    // The start the information window's counters belong to.
    DWORD m_nSeenRun = 0;
    CFrameCounter m_counter;
    CCheckWindow m_check;
    CPictureRecording m_recording;
    CWnd m_recordIndicator; // takes no message of its own
};
