// Ctrl+I: a small window beside the main one with the device, the format, the nominal and the
// measured frame rate and the frame counters, refreshed twice a second while it is shown.
#include "tools/tool_host.h"

#include "ui/lookwell_dlg.h"

#include <algorithm>
#include <climits>
#include <cwchar>

namespace {

constexpr wchar_t kInfoClass[] = L"LookwellInformation";
constexpr UINT_PTR kRefreshTimer = 1;
constexpr UINT kRefreshMs = 500;
constexpr int kInfoWidth = 280;
constexpr int kInfoHeight = 170;

} // namespace

bool CToolHost::ToggleInfoWindow() {
    if (m_info.m_hWnd != nullptr) {
        m_info.DestroyWindow();
        return true;
    }
    if (!AfxRegisterWndClass(kInfoClass, 0, ::LoadCursorW(nullptr, IDC_ARROW),
                             reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1))) {
        ::MessageBeep(MB_OK);
        return false;
    }
    // Beside the main window on the right, or on the left where the screen ends.
    RECT rcMain;
    m_dlg.GetWindowRect(&rcMain);
    MONITORINFO mi{};
    mi.cbSize = sizeof(mi);
    ::GetMonitorInfoW(::MonitorFromWindow(m_dlg.m_hWnd, MONITOR_DEFAULTTOPRIMARY), &mi);
    int x = rcMain.right;
    if (x + kInfoWidth > mi.rcWork.right) {
        x = std::max<int>(mi.rcWork.left, rcMain.left - kInfoWidth);
    }
    if (!m_info.CreateEx(WS_EX_TOOLWINDOW, kInfoClass, L"Lookwell information",
                         WS_POPUP | WS_CAPTION | WS_SYSMENU,
                         RECT{x, rcMain.top, x + kInfoWidth, rcMain.top + kInfoHeight},
                         m_dlg.m_hWnd)) {
        ::MessageBeep(MB_OK);
        return false;
    }
    RECT rcClient;
    m_info.GetClientRect(&rcClient);
    HWND hText = ::CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOPREFIX,
                                   6, 4, rcClient.right - 12, rcClient.bottom - 8, m_info.m_hWnd,
                                   nullptr, ::GetModuleHandleW(nullptr), nullptr);
    ::SendMessageW(hText, WM_SETFONT, reinterpret_cast<WPARAM>(::GetStockObject(DEFAULT_GUI_FONT)),
                   FALSE);
    RefreshInfo();
    m_info.SetTimer(kRefreshTimer, kRefreshMs);
    // Shown without taking the focus from the picture's window.
    m_info.ShowWindow(SW_SHOWNOACTIVATE);
    return true;
}

BEGIN_MESSAGE_MAP(CToolHost::CInfoWnd, CWnd)
ON_WM_TIMER()
END_MESSAGE_MAP()

void CToolHost::CInfoWnd::OnTimer(UINT_PTR nIDEvent) {
    if (nIDEvent == kRefreshTimer) {
        m_tools.RefreshInfo(); // out of memory for a text: the next tick tries again
    } else {
        Default();
    }
}

void CToolHost::RefreshInfo() {
    if (m_info.m_hWnd == nullptr) {
        return;
    }
    CString strText;
    GetInfoText(strText);
    HWND hText = ::GetWindow(m_info.m_hWnd, GW_CHILD);
    wchar_t szOld[512];
    ::GetWindowTextW(hText, szOld, 512);
    // Unchanged text is not set again: it would repaint for nothing.
    if (std::wcscmp(szOld, strText) != 0) {
        ::SetWindowTextW(hText, strText);
    }
}

void CToolHost::GetInfoText(CString& strText) {
    CInfoFigures figures;
    CLookwellDlg::CSelection selection;
    if (m_dlg.GetSelection(selection)) {
        figures.strDevice = selection.strDevice;
    }
    VideoFormat format{};
    figures.bPreviewing = m_dlg.GetPreviewFormat(format);
    if (!figures.bPreviewing) {
        format = selection.format;
    }
    if (figures.bPreviewing || selection.bHasFormat) {
        GetFormatEntryText(format, figures.strFormat);
    }
    if (format.frameTime > 0) {
        figures.nNominalFps = FrameRate(format.frameTime);
    }
    CComRef<IBaseFilter> pFilter;
    if (figures.bPreviewing && SUCCEEDED(m_dlg.GetPreviewCaptureFilter(&pFilter))) {
        CollectCounters(pFilter, format, figures);
    }
    if (m_recording.IsRecording()) {
        CRecorderStatus status;
        m_recording.GetStatus(status);
        figures.bRecording = true;
        figures.nRecordWritten = status.nFramesWritten;
        figures.nRecordDropped = status.Dropped();
    }
    FormatInfoText(figures, strText);
}

void CToolHost::CollectCounters(IBaseFilter* pFilter, const VideoFormat& format,
                                CInfoFigures& figures) {
    if (m_dlg.GetPreviewRun() != m_nSeenRun) {
        // A new start counts afresh.
        m_nSeenRun = m_dlg.GetPreviewRun();
        m_counter.Reset();
    }
    ULONGLONG nNow = ::GetTickCount64();
    figures.nElapsedSeconds = (nNow - m_dlg.GetPreviewStartTick()) / 1000;
    CComRef<IMediaControl> pControl;
    OAFilterState state = State_Running;
    if (SUCCEEDED(m_dlg.QueryPreviewGraph(IID_IMediaControl, pControl.Out()))) {
        pControl->GetState(0, &state);
    }
    figures.bPaused = state == State_Paused;

    CComRef<IPin> pPin;
    FindCapturePin(pFilter, &pPin);
    if (figures.nNominalFps <= 0 && pPin != nullptr) {
        // The media type states no frame time: the capability of that size does.
        figures.nNominalFps = CapabilityFrameRate(pPin, format);
        figures.bNominalFromCaps = figures.nNominalFps > 0;
    }
    // The camera's own dropped count, where it keeps one.
    CComRef<IAMDroppedFrames> pDropped;
    long nCount = 0;
    long nDropped = 0;
    bool bCameraCounts = SUCCEEDED(pFilter->QueryInterface(IID_IAMDroppedFrames, pDropped.Out())) &&
                         SUCCEEDED(pDropped->GetNumNotDropped(&nCount)) &&
                         SUCCEEDED(pDropped->GetNumDropped(&nDropped));
    if (bCameraCounts) {
        m_counter.Add(nNow, nCount, nDropped);
    }
    // Every picture the tap on the capture stream saw, and the rate it measured; the gaps it
    // counted where the camera counts no dropped frames.
    if (std::shared_ptr<CStreamTap> pTap = m_dlg.GetPreviewTap(); pTap != nullptr) {
        CTapFigures tap;
        pTap->GetFigures(tap);
        figures.nDelivered = static_cast<long>(std::min<ULONGLONG>(tap.nSamples, LONG_MAX));
        figures.deliveredFrom = CountSource::Tap;
        if (tap.dRate >= 0) {
            figures.nMeasuredFps = tap.dRate;
            figures.measuredFrom = CountSource::Tap;
        }
        figures.nDropped = bCameraCounts
                               ? m_counter.Dropped()
                               : static_cast<long>(std::min<ULONGLONG>(tap.nGaps, LONG_MAX));
        figures.droppedFrom = bCameraCounts ? CountSource::Camera : CountSource::Gaps;
        return;
    }
    if (bCameraCounts) {
        figures.nDelivered = m_counter.Delivered();
        figures.nDropped = m_counter.Dropped();
        figures.deliveredFrom = figures.droppedFrom = CountSource::Camera;
        double nRate = 0;
        if (m_counter.GetRate(nRate)) {
            figures.nMeasuredFps = nRate;
            figures.measuredFrom = CountSource::Camera;
        }
    }
    // Without counters, the camera's own measure.
    CComRef<IAMVideoControl> pVideoControl;
    LONGLONG nFrameTime = 0;
    if (figures.nMeasuredFps < 0 && pPin != nullptr &&
        SUCCEEDED(pFilter->QueryInterface(IID_IAMVideoControl, pVideoControl.Out())) &&
        SUCCEEDED(pVideoControl->GetCurrentActualFrameRate(pPin, &nFrameTime)) && nFrameTime > 0) {
        figures.nMeasuredFps = 1e7 / static_cast<double>(nFrameTime);
        figures.measuredFrom = CountSource::Camera;
    }
    // The renderer's own counters, where it keeps them and the camera does not: on the
    // renderer filter, where the platform's renderers offer them.
    CComRef<IBaseFilter> pRenderer;
    CComRef<IQualProp> pQuality;
    int nValue = 0;
    bool bRendererCounts = SUCCEEDED(FindRenderer(&pRenderer)) &&
                           SUCCEEDED(pRenderer->QueryInterface(IID_IQualProp, pQuality.Out()));
    if (bRendererCounts) {
        if (figures.nMeasuredFps < 0 && SUCCEEDED(pQuality->get_AvgFrameRate(&nValue))) {
            figures.nMeasuredFps = nValue / 100.0;
            figures.measuredFrom = CountSource::Renderer;
        }
        if (figures.nDelivered < 0 && SUCCEEDED(pQuality->get_FramesDrawn(&nValue))) {
            figures.nDelivered = nValue;
            figures.deliveredFrom = CountSource::Renderer;
        }
        if (figures.nDropped < 0 && SUCCEEDED(pQuality->get_FramesDroppedInRenderer(&nValue))) {
            figures.nDropped = nValue;
            figures.droppedFrom = CountSource::Renderer;
        }
    }
    figures.bNoCounters = !bCameraCounts && !bRendererCounts;
}
