// Alt+Enter and Ctrl+M: the camera's own settings pages and its horizontal flip, of the
// previewing camera, or of the selected device while none previews.
#include "tools/picture_tools.h"

#include "ui/lookwell_dlg.h"

#include <olectl.h>

HRESULT FindCapturePin(IBaseFilter* pFilter, IPin** ppPin) {
    CComRef<ICaptureGraphBuilder2> pBuilder;
    HRESULT hr = ::CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC,
                                    IID_ICaptureGraphBuilder2, pBuilder.Out());
    if (FAILED(hr)) {
        return hr;
    }
    return pBuilder->FindPin(pFilter, PINDIR_OUTPUT, &PIN_CATEGORY_CAPTURE, nullptr, FALSE, 0,
                             ppPin);
}

HRESULT CPictureTools::GetCameraFilter(IBaseFilter** ppFilter) {
    *ppFilter = nullptr;
    if (m_dlg.m_bPreviewing && m_dlg.m_pGraph != nullptr) {
        return m_dlg.m_pGraph->FindFilterByName(L"Video Capture", ppFilter);
    }
    auto nSelection = static_cast<int>(m_dlg.SendDlgItemMessage(IDC_DEVICE_LIST, CB_GETCURSEL));
    const VideoFormatArray* pFormats =
        nSelection >= 0 ? m_dlg.GetDeviceFormats(nSelection) : nullptr;
    if (pFormats == nullptr) {
        return E_FAIL;
    }
    const int nPosition = pFormats->m_nMonikerPosition;
    CDeviceWalk walk;
    HRESULT hr = S_OK;
    if (walk.Find(nPosition, hr) != 0) {
        return E_FAIL;
    }
    return walk.m_pMoniker->BindToObject(nullptr, nullptr, IID_IBaseFilter,
                                         reinterpret_cast<void**>(ppFilter));
}

bool CPictureTools::ShowSettingsPages() {
    CComRef<IBaseFilter> pFilter;
    CComRef<ISpecifyPropertyPages> pSpecify;
    CAUUID pages{};
    if (FAILED(GetCameraFilter(&pFilter)) ||
        FAILED(pFilter->QueryInterface(IID_ISpecifyPropertyPages, pSpecify.Out())) ||
        FAILED(pSpecify->GetPages(&pages)) || pages.cElems == 0) {
        ::CoTaskMemFree(pages.pElems);
        ::MessageBeep(MB_OK);
        return false;
    }
    CString strName;
    m_dlg.GetDlgItemText(IDC_DEVICE_LIST, strName);
    IUnknown* pObject = pFilter;
    // Modal; the graph runs on its own threads meanwhile.
    HRESULT hr = ::OleCreatePropertyFrame(m_dlg.m_hWnd, 0, 0, strName, 1, &pObject, pages.cElems,
                                          pages.pElems, ::GetUserDefaultLCID(), 0, nullptr);
    ::CoTaskMemFree(pages.pElems);
    if (FAILED(hr)) {
        ::MessageBeep(MB_OK);
        return false;
    }
    return true;
}

bool CPictureTools::ToggleMirror() {
    CComRef<IBaseFilter> pFilter;
    CComRef<IAMVideoControl> pControl;
    CComRef<IPin> pPin;
    long nCaps = 0;
    long nMode = 0;
    bool bOk = SUCCEEDED(GetCameraFilter(&pFilter)) &&
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
