// Alt+Enter and Ctrl+M: the camera's own settings pages and its horizontal flip, of the
// previewing camera, or of the selected device while none previews.
#include "tools/tool_host.h"

#include "ui/lookwell_dlg.h"

#include <olectl.h>

namespace {

// The sheet's placement: the platform makes the frame inside OleCreatePropertyFrame, and a
// hook on this thread is the one place that sees it before it shows. Wine places the frame at
// the screen's corner whatever the position asked; Windows at the owner's client corner.
struct CSheetPlacement {
    HHOOK hHook = nullptr;
    HWND hOwner = nullptr;
    bool bPlaced = false;
};
thread_local CSheetPlacement t_sheet;

LRESULT CALLBACK PlaceSheetProc(int nCode, WPARAM wParam, LPARAM lParam) {
    HWND hWnd = reinterpret_cast<HWND>(wParam);
    wchar_t szClass[16] = L"";
    if (nCode == HCBT_ACTIVATE && !t_sheet.bPlaced && hWnd != t_sheet.hOwner &&
        ::GetClassNameW(hWnd, szClass, 16) > 0 && std::wcscmp(szClass, L"#32770") == 0 &&
        ::GetParent(hWnd) == nullptr) {
        t_sheet.bPlaced = true;
        POINT ptCorner{0, 0};
        ::ClientToScreen(t_sheet.hOwner, &ptCorner);
        RECT rc{};
        ::GetWindowRect(hWnd, &rc);
        ::OffsetRect(&rc, ptCorner.x - rc.left, ptCorner.y - rc.top);
        rc = AfxKeepOnWorkArea(rc, t_sheet.hOwner);
        ::SetWindowPos(hWnd, nullptr, rc.left, rc.top, 0, 0,
                       SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    return ::CallNextHookEx(t_sheet.hHook, nCode, wParam, lParam);
}

} // namespace

HRESULT CToolHost::GetCameraFilter(IBaseFilter** ppFilter, CString& strName) {
    *ppFilter = nullptr;
    CLookwellDlg::CSelection selection;
    bool bSelected = m_dlg.GetSelection(selection);
    strName = selection.strDevice;
    if (m_dlg.IsPreviewing()) {
        return m_dlg.GetPreviewCaptureFilter(ppFilter);
    }
    // By its name, not its position: devices may have come or gone since the list was made,
    // and the device now at that position is another one.
    if (!bSelected || selection.strDisplayName.IsEmpty()) {
        return E_FAIL;
    }
    return BindDeviceByName(selection.strDisplayName, ppFilter);
}

bool CToolHost::ShowSettingsPages() {
    if (m_bSheetOpen) {
        ::MessageBeep(MB_OK);
        return false;
    }
    CComRef<IBaseFilter> pFilter;
    CComRef<ISpecifyPropertyPages> pSpecify;
    CAUUID pages{};
    CString strName;
    if (FAILED(GetCameraFilter(&pFilter, strName)) ||
        FAILED(pFilter->QueryInterface(IID_ISpecifyPropertyPages, pSpecify.Out())) ||
        FAILED(pSpecify->GetPages(&pages))) {
        pages.cElems = 0;
    }
    // Only pages that can be made: a frame with none shows an empty sheet that Wine's frame
    // never lets close.
    std::vector<CLSID> usable;
    for (ULONG i = 0; i < pages.cElems; ++i) {
        CComRef<IPropertyPage> pPage;
        if (SUCCEEDED(::CoCreateInstance(pages.pElems[i], nullptr, CLSCTX_INPROC_SERVER,
                                         IID_IPropertyPage, pPage.Out()))) {
            usable.push_back(pages.pElems[i]);
        }
    }
    ::CoTaskMemFree(pages.pElems);
    if (usable.empty()) {
        ::MessageBeep(MB_OK);
        return false;
    }
    HWND hMain = m_dlg.m_hWnd;
    IUnknown* pObject = pFilter;
    // Modal; the graph runs on its own threads meanwhile. Wine's frame leaves its owner enabled,
    // which would let a second sheet open and the main window close under it: disabled here as
    // a modal window's owner is.
    m_bSheetOpen = true;
    ::EnableWindow(hMain, FALSE);
    t_sheet = CSheetPlacement{};
    t_sheet.hOwner = hMain;
    t_sheet.hHook = ::SetWindowsHookExW(WH_CBT, PlaceSheetProc, nullptr, ::GetCurrentThreadId());
    HRESULT hr = ::OleCreatePropertyFrame(hMain, 0, 0, strName, 1, &pObject,
                                          static_cast<ULONG>(usable.size()), usable.data(),
                                          ::GetUserDefaultLCID(), 0, nullptr);
    if (t_sheet.hHook != nullptr) {
        ::UnhookWindowsHookEx(t_sheet.hHook);
    }
    t_sheet = CSheetPlacement{};
    ::EnableWindow(hMain, TRUE);
    m_bSheetOpen = false;
    if (m_bCloseAfterSheet) {
        m_bCloseAfterSheet = false;
        ::PostMessageW(hMain, WM_CLOSE, 0, 0);
    } else {
        ::SetActiveWindow(hMain);
    }
    if (FAILED(hr)) {
        ::MessageBeep(MB_OK);
        return false;
    }
    return true;
}

void CToolHost::CloseSettingsSheet() {
    m_bCloseAfterSheet = true;
    // Wine's frame has no owner: the sheet is this thread's other top-level dialog.
    ::EnumThreadWindows(
        ::GetCurrentThreadId(),
        [](HWND hWnd, LPARAM lParam) -> BOOL {
            wchar_t szClass[16] = L"";
            ::GetClassNameW(hWnd, szClass, 16);
            if (hWnd != reinterpret_cast<HWND>(lParam) && ::IsWindowVisible(hWnd) &&
                std::wcscmp(szClass, L"#32770") == 0) {
                ::PostMessageW(hWnd, PSM_PRESSBUTTON, PSBTN_CANCEL, 0);
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(m_dlg.m_hWnd));
}

bool CToolHost::ToggleMirror() {
    CComRef<IBaseFilter> pFilter;
    CComRef<IAMVideoControl> pControl;
    CComRef<IPin> pPin;
    CString strName;
    long nCaps = 0;
    long nMode = 0;
    bool bOk = SUCCEEDED(GetCameraFilter(&pFilter, strName)) &&
               SUCCEEDED(pFilter->QueryInterface(IID_IAMVideoControl, pControl.Out())) &&
               SUCCEEDED(FindCapturePin(pFilter, &pPin)) &&
               SUCCEEDED(pControl->GetCaps(pPin, &nCaps)) &&
               (nCaps & VideoControlFlag_FlipHorizontal) != 0 &&
               SUCCEEDED(pControl->GetMode(pPin, &nMode)) &&
               SUCCEEDED(pControl->SetMode(pPin, nMode ^ VideoControlFlag_FlipHorizontal));
    if (!bOk) {
        ::MessageBeep(MB_OK);
    }
    return bOk;
}
