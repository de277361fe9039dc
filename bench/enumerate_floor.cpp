#include "bench/enumerate_floor.h"

#include "capture/capture_platform.h"
#include "res/resource.h"

void EnumerateFloor(HWND hDlg) {
    HWND hDevices = hDlg != nullptr ? ::GetDlgItem(hDlg, IDC_DEVICE_LIST) : nullptr;
    HWND hFormats = hDlg != nullptr ? ::GetDlgItem(hDlg, IDC_FORMAT_LIST) : nullptr;
    const wchar_t* pszEntry = L"640x480  30.0 RGB24 221184000";
    CComRef<ICreateDevEnum> pDevEnum;
    CComRef<IEnumMoniker> pClassEnum;
    CComRef<ICaptureGraphBuilder2> pBuilder;
    if (::CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC, IID_ICreateDevEnum,
                           pDevEnum.Out()) != S_OK ||
        pDevEnum->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &pClassEnum, 0) != S_OK ||
        pClassEnum == nullptr ||
        ::CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC,
                           IID_ICaptureGraphBuilder2, pBuilder.Out()) != S_OK) {
        return;
    }
    if (hDevices != nullptr) {
        ::SendMessageW(hDevices, CB_RESETCONTENT, 0, 0);
    }
    bool bFirst = true;
    for (;;) {
        CComRef<IMoniker> pMoniker;
        if (pClassEnum->Next(1, &pMoniker, nullptr) != S_OK) {
            break;
        }
        CComRef<IPropertyBag> pBag;
        if (pMoniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, pBag.Out()) != S_OK) {
            continue;
        }
        VARIANT name;
        ::VariantInit(&name);
        name.vt = VT_BSTR;
        CComRef<IBaseFilter> pFilter;
        CComRef<IAMStreamConfig> pConfig;
        int nCount = 0;
        int nSize = 0;
        if (pBag->Read(L"FriendlyName", &name, nullptr) == S_OK &&
            pMoniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, pFilter.Out()) == S_OK &&
            pBuilder->FindInterface(&PIN_CATEGORY_CAPTURE, nullptr, pFilter, IID_IAMStreamConfig,
                                    pConfig.Out()) == S_OK &&
            pConfig->GetNumberOfCapabilities(&nCount, &nSize) == S_OK) {
            for (int i = 0; i < nCount; ++i) {
                AM_MEDIA_TYPE* pmt = nullptr;
                BYTE caps[128];
                if (pConfig->GetStreamCaps(i, &pmt, caps) == S_OK) {
                    DeleteMediaType(pmt);
                }
            }
            if (hDevices != nullptr) {
                ::SendMessageW(hDevices, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name.bstrVal));
            }
            if (hFormats != nullptr && bFirst) {
                ::SendMessageW(hFormats, WM_SETREDRAW, FALSE, 0);
                ::SendMessageW(hFormats, CB_RESETCONTENT, 0, 0);
                ::SendMessageW(hFormats, CB_INITSTORAGE, static_cast<WPARAM>(nCount),
                               static_cast<LPARAM>(nCount) * 64);
                for (int i = 0; i < nCount; ++i) {
                    ::SendMessageW(hFormats, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(pszEntry));
                }
                ::SendMessageW(hFormats, WM_SETREDRAW, TRUE, 0);
                ::InvalidateRect(hFormats, nullptr, TRUE);
                ::SendMessageW(hFormats, CB_SETCURSEL, 0, 0);
                ::SendMessageW(hDevices, CB_SETCURSEL, 0, 0);
                bFirst = false;
            }
        }
        ::VariantClear(&name);
    }
}
