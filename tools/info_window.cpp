// Ctrl+I: a small window beside the main one with the device, the format, the nominal and the
// measured frame rate and the frame counters, refreshed twice a second while it is shown.
#include "tools/tool_host.h"

#include "ui/lookwell_dlg.h"

#include <algorithm>
#include <cwchar>

namespace {

constexpr wchar_t kInfoClass[] = L"LookwellInformation";
constexpr UINT_PTR kRefreshTimer = 1;
constexpr UINT kRefreshMs = 500;
constexpr int kInfoWidth = 280;
constexpr int kInfoHeight = 170;

CToolHost* g_pInfoOwner = nullptr;

} // namespace

void CToolHost::ToggleInfoWindow() {
    if (m_hInfo != nullptr) {
        ::DestroyWindow(m_hInfo);
        return;
    }
    HINSTANCE hInstance = ::GetModuleHandleW(nullptr);
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    if (!::GetClassInfoExW(hInstance, kInfoClass, &wc)) {
        wc.lpfnWndProc = InfoWndProc;
        wc.hInstance = hInstance;
        wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
        wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        wc.lpszClassName = kInfoClass;
        if (::RegisterClassExW(&wc) == 0) {
            ::MessageBeep(MB_OK);
            return;
        }
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
    g_pInfoOwner = this;
    m_hInfo = ::CreateWindowExW(WS_EX_TOOLWINDOW, kInfoClass, L"Lookwell information",
                                WS_POPUP | WS_CAPTION | WS_SYSMENU, x, rcMain.top, kInfoWidth,
                                kInfoHeight, m_dlg.m_hWnd, nullptr, hInstance, nullptr);
    if (m_hInfo == nullptr) {
        ::MessageBeep(MB_OK);
        return;
    }
    RECT rcClient;
    ::GetClientRect(m_hInfo, &rcClient);
    HWND hText = ::CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOPREFIX,
                                   6, 4, rcClient.right - 12, rcClient.bottom - 8, m_hInfo, nullptr,
                                   hInstance, nullptr);
    ::SendMessageW(hText, WM_SETFONT, reinterpret_cast<WPARAM>(::GetStockObject(DEFAULT_GUI_FONT)),
                   FALSE);
    RefreshInfo();
    ::SetTimer(m_hInfo, kRefreshTimer, kRefreshMs, nullptr);
    // Shown without taking the focus from the picture's window.
    ::ShowWindow(m_hInfo, SW_SHOWNOACTIVATE);
}

LRESULT CALLBACK CToolHost::InfoWndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    CToolHost* pTools = g_pInfoOwner;
    if (message == WM_TIMER && wParam == kRefreshTimer && pTools != nullptr) {
        try {
            pTools->RefreshInfo();
        } catch (...) {
            // Out of memory for a text: the next tick tries again.
        }
        return 0;
    }
    if (message == WM_NCDESTROY && pTools != nullptr && pTools->m_hInfo == hWnd) {
        pTools->m_hInfo = nullptr;
    }
    return ::DefWindowProcW(hWnd, message, wParam, lParam);
}

void CToolHost::RefreshInfo() {
    if (m_hInfo == nullptr) {
        return;
    }
    CString strText;
    GetInfoText(strText);
    HWND hText = ::GetWindow(m_hInfo, GW_CHILD);
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
    CComRef<IAMDroppedFrames> pDropped;
    long nCount = 0;
    long nDropped = 0;
    if (SUCCEEDED(pFilter->QueryInterface(IID_IAMDroppedFrames, pDropped.Out())) &&
        SUCCEEDED(pDropped->GetNumNotDropped(&nCount)) &&
        SUCCEEDED(pDropped->GetNumDropped(&nDropped))) {
        m_counter.Add(nNow, nCount, nDropped);
        figures.nDelivered = m_counter.Delivered();
        figures.nDropped = m_counter.Dropped();
        double nRate = 0;
        if (m_counter.GetRate(nRate)) {
            figures.nMeasuredFps = nRate;
        }
    }
    // Without counters, the camera's own measure.
    CComRef<IAMVideoControl> pVideoControl;
    LONGLONG nFrameTime = 0;
    if (figures.nMeasuredFps < 0 && pPin != nullptr &&
        SUCCEEDED(pFilter->QueryInterface(IID_IAMVideoControl, pVideoControl.Out())) &&
        SUCCEEDED(pVideoControl->GetCurrentActualFrameRate(pPin, &nFrameTime)) && nFrameTime > 0) {
        figures.nMeasuredFps = 1e7 / static_cast<double>(nFrameTime);
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
        }
        if (figures.nDelivered < 0 && SUCCEEDED(pQuality->get_FramesDrawn(&nValue))) {
            figures.nDelivered = nValue;
        }
        if (figures.nDropped < 0 && SUCCEEDED(pQuality->get_FramesDroppedInRenderer(&nValue))) {
            figures.nDropped = nValue;
        }
    }
    figures.bNoCounters = pDropped == nullptr && !bRendererCounts;
}
