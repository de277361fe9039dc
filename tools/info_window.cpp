// Ctrl+I: a small window beside the main one with the device, the format, the nominal and the
// measured frame rate and the frame counters, refreshed twice a second while it is shown.
#include "tools/picture_tools.h"

#include "ui/lookwell_dlg.h"

#include <algorithm>
#include <cwchar>

namespace {

constexpr wchar_t kInfoClass[] = L"LookwellInformation";
constexpr UINT_PTR kRefreshTimer = 1;
constexpr UINT kRefreshMs = 500;
constexpr int kInfoWidth = 280;
constexpr int kInfoHeight = 170;

CPictureTools* g_pInfoOwner = nullptr;

} // namespace

void CPictureTools::ToggleInfoWindow() {
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

LRESULT CALLBACK CPictureTools::InfoWndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    CPictureTools* pTools = g_pInfoOwner;
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

void CPictureTools::RefreshInfo() {
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

void CPictureTools::GetInfoText(CString& strText) {
    CString strDevice;
    CString strFormat;
    m_dlg.GetDlgItemText(IDC_DEVICE_LIST, strDevice);
    m_dlg.GetDlgItemText(IDC_FORMAT_LIST, strFormat);

    // The nominal rate of the selected format record.
    wchar_t szNominal[32] = L"n/a";
    LRESULT nDevice = m_dlg.SendDlgItemMessage(IDC_DEVICE_LIST, CB_GETCURSEL);
    LRESULT nFormat = m_dlg.SendDlgItemMessage(IDC_FORMAT_LIST, CB_GETCURSEL);
    VideoFormat format;
    if (m_dlg.GetFormat(static_cast<int>(nDevice), static_cast<int>(nFormat), format) &&
        format.frameTime > 0) {
        ::swprintf(szNominal, 32, L"%.2f fps", FrameRate(format.frameTime));
    }

    wchar_t szMeasured[32] = L"n/a";
    wchar_t szDelivered[32] = L"n/a";
    wchar_t szDropped[32] = L"n/a";
    wchar_t szElapsed[32] = L"n/a";
    const wchar_t* pszState = L"stopped";
    CComRef<IBaseFilter> pFilter;
    if (m_dlg.m_bPreviewing && m_dlg.m_pGraph != nullptr &&
        SUCCEEDED(m_dlg.m_pGraph->FindFilterByName(L"Video Capture", &pFilter))) {
        CComRef<IAMDroppedFrames> pDropped;
        long nCount = 0;
        long nDropped = 0;
        if (SUCCEEDED(pFilter->QueryInterface(IID_IAMDroppedFrames, pDropped.Out())) &&
            SUCCEEDED(pDropped->GetNumNotDropped(&nCount)) &&
            SUCCEEDED(pDropped->GetNumDropped(&nDropped))) {
            // The camera counts from each run; a pause and resume (a click, a snapshot) starts
            // a new one. The counts since the preview's start go on across them.
            if (nCount < m_counts.nLastDelivered || nDropped < m_counts.nLastDropped) {
                m_counts.nDeliveredBefore += m_counts.nLastDelivered;
                m_counts.nDroppedBefore += m_counts.nLastDropped;
            }
            m_counts.nLastDelivered = nCount;
            m_counts.nLastDropped = nDropped;
            nCount += m_counts.nDeliveredBefore;
            nDropped += m_counts.nDroppedBefore;
            ::swprintf(szDelivered, 32, L"%ld", nCount);
            ::swprintf(szDropped, 32, L"%ld", nDropped);
            // Over the last second: the delivered count now against a second ago.
            ULONGLONG nNow = ::GetTickCount64();
            m_rateSamples.emplace_back(nNow, nCount);
            while (m_rateSamples.size() > 1 && nNow - m_rateSamples[1].first >= 1000) {
                m_rateSamples.pop_front();
            }
            ULONGLONG nSpan = nNow - m_rateSamples.front().first;
            if (nSpan >= 900) {
                ::swprintf(szMeasured, 32, L"%.2f fps",
                           static_cast<double>(nCount - m_rateSamples.front().second) * 1000.0 /
                               static_cast<double>(nSpan));
            }
        }
        // Without counters, the camera's own measure.
        CComRef<IAMVideoControl> pControl;
        CComRef<IPin> pPin;
        LONGLONG nFrameTime = 0;
        if (std::wcscmp(szMeasured, L"n/a") == 0 &&
            SUCCEEDED(pFilter->QueryInterface(IID_IAMVideoControl, pControl.Out())) &&
            SUCCEEDED(FindCapturePin(pFilter, &pPin)) &&
            SUCCEEDED(pControl->GetCurrentActualFrameRate(pPin, &nFrameTime)) && nFrameTime > 0) {
            ::swprintf(szMeasured, 32, L"%.2f fps", 1e7 / static_cast<double>(nFrameTime));
        }
        // The renderer's own counters, where it keeps them and the camera does not.
        CComRef<IQualProp> pQuality;
        int nValue = 0;
        if (SUCCEEDED(m_dlg.m_pGraph->QueryInterface(IID_IQualProp, pQuality.Out()))) {
            if (std::wcscmp(szMeasured, L"n/a") == 0 &&
                SUCCEEDED(pQuality->get_AvgFrameRate(&nValue))) {
                ::swprintf(szMeasured, 32, L"%.2f fps", nValue / 100.0);
            }
            if (std::wcscmp(szDelivered, L"n/a") == 0 &&
                SUCCEEDED(pQuality->get_FramesDrawn(&nValue))) {
                ::swprintf(szDelivered, 32, L"%d", nValue);
            }
            if (std::wcscmp(szDropped, L"n/a") == 0 &&
                SUCCEEDED(pQuality->get_FramesDroppedInRenderer(&nValue))) {
                ::swprintf(szDropped, 32, L"%d", nValue);
            }
        }
        ULONGLONG nSeconds = (::GetTickCount64() - m_nStartTick) / 1000;
        ::swprintf(szElapsed, 32, L"%llu:%02llu:%02llu", nSeconds / 3600, nSeconds / 60 % 60,
                   nSeconds % 60);
        OAFilterState state = State_Stopped;
        m_dlg.m_pMediaControl->GetState(0, &state);
        pszState = state == State_Paused ? L"paused" : L"running";
    }
    strText.Format(L"Device:\t%s\nFormat:\t%s\nNominal:\t%s\nMeasured:\t%s\nDelivered:\t%s\n"
                   L"Dropped:\t%s\nSince start:\t%s\nPicture:\t%s",
                   static_cast<const wchar_t*>(strDevice), static_cast<const wchar_t*>(strFormat),
                   szNominal, szMeasured, szDelivered, szDropped, szElapsed, pszState);
}
