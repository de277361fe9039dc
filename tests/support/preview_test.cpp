#include "support/preview_test.h"

#include "framework/app.h"

#include <uuids.h>

bool SetCameraValue(const std::wstring& camera, const wchar_t* pszValue, const wchar_t* pszText) {
    std::wstring key = L"CLSID\\{860BB310-5D01-11D0-BD3B-00A0C911CE86}\\Instance\\" + camera;
    DWORD cbText = static_cast<DWORD>((wcslen(pszText) + 1) * sizeof(wchar_t));
    return ::RegSetKeyValueW(HKEY_CLASSES_ROOT, key.c_str(), pszValue, REG_SZ, pszText, cbText) ==
           ERROR_SUCCESS;
}

HWND VideoWindowOf(const CLookwellDlg& dlg) {
    return ::GetWindow(dlg.GetDlgItem(IDC_PREVIEW), GW_CHILD);
}

OAFilterState GraphState(const CLookwellDlg& dlg, HRESULT* phr) {
    OAFilterState state = -1;
    HRESULT hr =
        dlg.m_pMediaControl != nullptr ? dlg.m_pMediaControl->GetState(5000, &state) : E_POINTER;
    if (phr != nullptr) {
        *phr = hr;
    }
    return hr == E_FAIL ? -1 : state;
}

bool ConnectedFormat(const CLookwellDlg& dlg, LONG& width, LONG& height, GUID& subtype) {
    bool bFound = false;
    IBaseFilter* pCamera = nullptr;
    if (dlg.m_pGraph == nullptr ||
        dlg.m_pGraph->FindFilterByName(L"Video Capture", &pCamera) != S_OK) {
        return false;
    }
    // The preview pin when the camera has one, else the capture pin through the smart tee.
    IPin* pPin = testcam_test::GetPin(pCamera, L"Preview");
    if (pPin == nullptr) {
        pPin = testcam_test::GetPin(pCamera, L"Capture");
    }
    AM_MEDIA_TYPE mt{};
    if (pPin != nullptr && pPin->ConnectionMediaType(&mt) == S_OK) {
        if (mt.formattype == FORMAT_VideoInfo && mt.cbFormat >= sizeof(VIDEOINFOHEADER)) {
            auto* pvih = reinterpret_cast<const VIDEOINFOHEADER*>(mt.pbFormat);
            width = pvih->bmiHeader.biWidth;
            height = pvih->bmiHeader.biHeight;
            subtype = mt.subtype;
            bFound = true;
        }
        FreeMediaType(mt);
    }
    if (pPin != nullptr) {
        pPin->Release();
    }
    pCamera->Release();
    return bFound;
}

ScopedAppName::ScopedAppName(const wchar_t* pszName) : m_pszOld(AfxGetApp()->m_pszAppName) {
    AfxGetApp()->m_pszAppName = pszName;
}

ScopedAppName::~ScopedAppName() {
    AfxGetApp()->m_pszAppName = m_pszOld;
}
