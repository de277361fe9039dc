// The main window: device and format lists, the preview button and the picture frame.
#pragma once

#include "capture/capture_platform.h"
#include "capture/video_format.h"
#include "framework/dialog.h"
#include "media/stream_tap.h"
#include "preview/graph_stopper.h"
#include "res/resource.h"

#include <control.h>

#include <initializer_list>
#include <memory>
#include <vector>

// Why a start failed, where the platform or the camera said so.
enum class StartFailure : WPARAM { Unknown, RendererCannotDraw, CameraInUse, FormatRefused };
// From the stage of the start that failed (BuildPreviewGraph's) and what that stage answered.
StartFailure ClassifyStartFailure(DWORD nStage, HRESULT hr);

class CLookwellDlg : public CDialog {
public:
    explicit CLookwellDlg(CWnd* pParent = nullptr);
    ~CLookwellDlg() override = default;

    enum { IDD = IDD_LOOKWELL_DIALOG };

    // Fits the picture frame to width x height and sizes the window around it.
    void ResizeToVideo(int width, int height);

    // Refills the device list from the platform; low half: the number of entries afterwards.
    // Callers free the old list first.
    StageResult EnumerateDevices();
    // Selects a device, refills the format list from its formats and selects one of them.
    void SelectDevice(int nDeviceIndex, int nFormatIndex);
    // Deletes every entry's formats; the entries stay.
    void FreeDeviceList();

    // Builds and runs the preview of a listed device in one of its formats, the renderer's
    // window inside the picture frame, and a tap on its capture stream where one connects.
    // 0 on success; on failure nothing is left behind.
    StageResult BuildPreviewGraph(int nDeviceIndex, int nFormatIndex);
    // Takes the graph's window out of the frame, stops the graph and releases it, on a thread of
    // its own: false when the camera's driver did not return from its Stop within about a
    // second, and the graph is released once it does. The members are null either way.
    bool StopPreview();

    // The formats that device entry nDeviceIndex owns; null when it has none (freed, or no
    // such entry).
    VideoFormatArray* GetDeviceFormats(int nDeviceIndex) const;
    // The record at those positions, or false when the lists have none there.
    bool GetFormat(int nDeviceIndex, int nFormatIndex, VideoFormat& format) const;

    // A failure text in place of the picture.
    void ShowMessage(const wchar_t* pszText);
    // The chosen format in the window title.
    void UpdateTitle(DWORD bitRate, GUID subtype);

    // What the tools that work on the window from outside may use of it, and nothing more.
    // The preview runs or is paused.
    bool IsPreviewing() const { return m_bPreviewing != 0; }
    // Counts the successful starts, so that a new start is known as such; 0 before the first.
    DWORD GetPreviewRun() const { return m_nPreviewRun; }
    // When the running preview started (GetTickCount64), and the format it was started with.
    ULONGLONG GetPreviewStartTick() const { return m_nPreviewStartTick; }
    bool GetPreviewFormat(VideoFormat& format) const;
    // An interface of the running preview's filter graph, AddRef'd; VFW_E_WRONG_STATE without
    // a preview.
    HRESULT QueryPreviewGraph(REFIID riid, void** ppv) const;
    // The running preview's own capture filter, AddRef'd.
    HRESULT GetPreviewCaptureFilter(IBaseFilter** ppFilter) const;
    // The running preview's video window (not AddRef'd), and its window inside the frame.
    IVideoWindow* GetPreviewVideoWindow() const { return m_pVideoWindow; }
    HWND GetPreviewVideoHwnd() const;
    // The tap on the running preview's capture stream; null without a preview, or where none
    // could be connected.
    std::shared_ptr<CStreamTap> GetPreviewTap() const;
    // The selected device entry and its selected format.
    struct CSelection {
        CString strDevice;
        // The device's moniker display name: names the device whatever its position.
        CString strDisplayName;
        VideoFormat format{};
        bool bHasFormat = false;
        // Every format of the device, in the list's order.
        std::vector<VideoFormat> formats;
    };
    bool GetSelection(CSelection& selection) const;
    // The lists' entries as a person reads them, and a person's choice in them: the
    // selection, then the control's notification.
    int GetDeviceCount() const;
    int GetFormatCount() const;
    CString GetEntryText(int nListId, int nEntry) const;
    void ChooseEntry(int nListId, int nEntry);
    // Presses the preview button as a click does, when it is enabled.
    bool PressPreviewButton();
    // A left press that is waiting to become a single click does nothing.
    void CancelSingleClick() const;

    // One pause and resume after each start, for executables named "...pr".
    static constexpr UINT_PTR TIMER_PAUSE_CYCLE = 101;
    // A lone left click pauses or resumes once the double-click time has passed.
    static constexpr UINT_PTR TIMER_SINGLE_CLICK = 513;
    // The running graph's events arrive as this message of the main window.
    static constexpr UINT WM_GRAPH_EVENT = WM_APP + 1;
    // Posted to the window itself after a start failed for a known reason (wParam: the
    // StartFailure): the window shows only its own message, the tools say why.
    static constexpr UINT WM_START_FAILED = WM_APP + 2;
    // The watchdog's look at the tap, while a preview with a tap runs.
    static constexpr UINT_PTR TIMER_WATCHDOG = 1024;
    static constexpr UINT kWatchdogMs = 250;
    // How long a press waits for the camera's driver to stop.
    static constexpr DWORD kStopWaitMs = 1000;

    HICON m_hSharedIcon = nullptr;
    HICON m_hIcon = nullptr;
    CString m_strButtonCaption;
    IVideoWindow* m_pVideoWindow = nullptr;
    ICaptureGraphBuilder2* m_pBuilder = nullptr;
    IMediaControl* m_pMediaControl = nullptr;
    IGraphBuilder* m_pGraph = nullptr;
    IBaseFilter* m_pCaptureFilter = nullptr;
    CString m_strTitle;
    WORD m_nDeviceCount = 0;
    int m_bPreviewing = 0;
    int m_bClosing = 0;
    // Whether OnInitDialog opened the thread's apartment, so that closing closes only that.
    bool m_bComInitialized = false;
    // The running preview's start, for the tools.
    DWORD m_nPreviewRun = 0;
    // What the stage of the last failed start answered, whole (a StageResult keeps its low half).
    HRESULT m_hrStartFailure = S_OK;
    ULONGLONG m_nPreviewStartTick = 0;
    VideoFormat m_previewFormat{};
    // Whether a preview gets a tap; the benchmark's floor previews without one.
    bool m_bPreviewTap = true;

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;
    void OnOK() override;
    void OnCancel() override;

    void OnSysCommand(UINT nID, LPARAM lParam);
    void OnPaint();
    HCURSOR OnQueryDragIcon();
    void OnClose();
    void OnPreviewButton();
    void OnSelchangeDeviceList();
    void OnSelchangeFormatList();
    void OnRButtonDblClk(UINT nFlags, POINT point);
    void OnLButtonDblClk(UINT nFlags, POINT point);
    void OnLButtonDown(UINT nFlags, POINT point);
    void OnTimer(UINT_PTR nIDEvent);
    LRESULT OnGraphEvent(WPARAM wParam, LPARAM lParam);

    DECLARE_MESSAGE_MAP()

private:
    // Sets the wanted format on the capture pin, and on a preview pin of the device's own, which
    // is what is rendered then; a failure only when the device refused it.
    HRESULT ChooseFormat(const VideoFormat& wanted);
    HRESULT ChooseFormatOn(const GUID& category, const VideoFormat& wanted);
    void SetUpVideoWindow();
    StageResult FailBuild(DWORD nStage, HRESULT hr);
    void ReleasePreviewInterfaces();
    // The tap on the capture stream, beside the preview path that is already built: the
    // camera's capture pin where the preview has a pin of its own, else the smart tee's capture
    // output. Leaves the graph as it was when it cannot connect.
    void ConnectTap(const VideoFormat& format);
    // The watchdog's tick: a running picture that stopped coming, or a stream that ended, is
    // stopped the Stop button's way with one line in its place.
    void CheckPreviewStream();

    // Moves the focus to hTo when one of the controls has it, before they are disabled.
    void KeepFocusFrom(std::initializer_list<int> controls, HWND hTo);

    // Grows or shrinks the picture by a quarter of the frame, for a double click on it.
    void Zoom(bool bGrow);

    std::shared_ptr<CStreamTap> m_pPreviewTap;
    // The device the running preview shows: its moniker's display name.
    CString m_strPreviewDevice;
    // Graphs stopping off this thread, and those whose driver has not returned yet.
    CGraphStopper m_stopper;
};
