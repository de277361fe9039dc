// The main window's device and format lists: filled from the platform's video input devices,
// each device entry owning the formats of its device.
#include "capture/capture_platform.h"
#include "capture/video_format.h"
#include "ui/lookwell_dlg.h"

#include <memory>

StageResult CLookwellDlg::EnumerateDevices() {
    HWND hDevices = GetDlgItem(IDC_DEVICE_LIST); // once: a server round trip under Wine
    DWORD nStage = 0;
    {
        // Released in reverse order: graph builder, class enumerator, device enumerator.
        CComRef<ICreateDevEnum> pDevEnum;
        CComRef<IEnumMoniker> pClassEnum;
        CComRef<ICaptureGraphBuilder2> pBuilder;
        if (::CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC, IID_ICreateDevEnum,
                               pDevEnum.Out()) != S_OK) {
            nStage = 1;
        } else if (pDevEnum->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &pClassEnum,
                                                   0) != S_OK) {
            nStage = 2; // S_FALSE: no video capture device at all
        } else if (pClassEnum == nullptr) {
            nStage = 3;
        } else if (::CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC,
                                      IID_ICaptureGraphBuilder2, pBuilder.Out()) != S_OK) {
            nStage = 4;
        } else {
            ::SendMessageW(hDevices, CB_RESETCONTENT, 0, 0);
            CString strName;
            int nPosition = 0;
            for (;;) {
                CComRef<IMoniker> pMoniker;
                ULONG nFetched = 0;
                if (pClassEnum->Next(1, &pMoniker, &nFetched) != S_OK) {
                    break;
                }
                if (pMoniker != nullptr) {
                    AddDevice(hDevices, pMoniker, pBuilder, nPosition, strName);
                }
                ++nPosition;
            }
        }
    }
    LRESULT nCount = ::SendMessageW(hDevices, CB_GETCOUNT, 0, 0);
    return MakeStageResult(nStage, static_cast<DWORD>(nCount));
}

void CLookwellDlg::AddDevice(HWND hDevices, IMoniker* pMoniker, ICaptureGraphBuilder2* pBuilder,
                             int nPosition, CString& strName) {
    CComRef<IPropertyBag> pBag;
    if (pMoniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, pBag.Out()) != S_OK) {
        return;
    }
    VARIANT varName;
    ::VariantInit(&varName);
    varName.vt = VT_BSTR;
    std::unique_ptr<VideoFormatArray> pFormats;
    if (pBag->Read(L"FriendlyName", &varName, nullptr) == S_OK) {
        // Only a text answer is a name; anything else would be read as a pointer.
        strName = varName.vt == VT_BSTR ? varName.bstrVal : nullptr;
        CComRef<IBaseFilter> pFilter;
        if (pMoniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, pFilter.Out()) == S_OK) {
            CComRef<IAMStreamConfig> pConfig;
            if (pBuilder->FindInterface(&PIN_CATEGORY_CAPTURE, nullptr, pFilter,
                                        IID_IAMStreamConfig, pConfig.Out()) == S_OK) {
                pFormats = CollectFormats(pConfig);
            }
        }
    }
    ::VariantClear(&varName);
    if (pFormats == nullptr || pFormats->GetSize() == 0) {
        return;
    }
    pFormats->m_nMonikerPosition = nPosition;
    pFormats->m_strDisplayName = GetMonikerName(pMoniker);
    LRESULT nIndex = ::SendMessageW(hDevices, CB_ADDSTRING, 0,
                                    reinterpret_cast<LPARAM>(static_cast<const wchar_t*>(strName)));
    if (nIndex >= 0) {
        ::SendMessageW(hDevices, CB_SETITEMDATA, static_cast<WPARAM>(nIndex),
                       reinterpret_cast<LPARAM>(pFormats.release()));
    }
}

std::unique_ptr<VideoFormatArray> CLookwellDlg::CollectFormats(IAMStreamConfig* pConfig) {
    int nCount = 0;
    int nSize = 0;
    if (pConfig->GetNumberOfCapabilities(&nCount, &nSize) != S_OK || nCount <= 0 ||
        nSize != sizeof(VIDEO_STREAM_CONFIG_CAPS)) {
        return nullptr;
    }
    std::unique_ptr<VideoFormatArray> pFormats(new VideoFormatArray);
    pFormats->SetSize(0, -1);
    for (int i = 0; i < nCount; ++i) {
        AM_MEDIA_TYPE* pmt = nullptr;
        VIDEO_STREAM_CONFIG_CAPS caps;
        if (pConfig->GetStreamCaps(i, &pmt, reinterpret_cast<BYTE*>(&caps)) != S_OK) {
            continue;
        }
        // Disposed of even when Add throws.
        std::unique_ptr<AM_MEDIA_TYPE, void (*)(AM_MEDIA_TYPE*)> holder(pmt, DeleteMediaType);
        if (pmt == nullptr) {
            continue;
        }
        if (const VIDEOINFOHEADER* pvih = GetVideoInfo(*pmt); pvih != nullptr) {
            VideoFormat format{pvih->bmiHeader.biWidth, pvih->bmiHeader.biHeight,
                               pvih->AvgTimePerFrame, pvih->dwBitRate, pmt->subtype};
            pFormats->Add(format);
        }
    }
    return pFormats;
}

void CLookwellDlg::SelectDevice(int nDeviceIndex, int nFormatIndex) {
    // The handles once: under Wine every GetDlgItem is a round trip to the server, which for a
    // long format list cost more than everything else here together.
    HWND hDevices = GetDlgItem(IDC_DEVICE_LIST);
    HWND hFormats = GetDlgItem(IDC_FORMAT_LIST);
    int nDevices = static_cast<int>(::SendMessageW(hDevices, CB_GETCOUNT, 0, 0));
    if (nDevices <= 0 || nDeviceIndex < 0 || nDeviceIndex >= nDevices) {
        return;
    }
    ::SendMessageW(hDevices, CB_SETCURSEL, static_cast<WPARAM>(nDeviceIndex), 0);
    ::EnableWindow(hDevices, TRUE);

    const VideoFormatArray* pFormats = GetDeviceFormats(nDeviceIndex);
    // Filled with drawing off and room made first, not redrawn and regrown entry by entry.
    ::SendMessageW(hFormats, WM_SETREDRAW, FALSE, 0);
    ::SendMessageW(hFormats, CB_RESETCONTENT, 0, 0);
    // An entry whose formats were freed shows an empty format list.
    int nFormats = pFormats != nullptr ? pFormats->GetSize() : 0;
    ::SendMessageW(hFormats, CB_INITSTORAGE, static_cast<WPARAM>(nFormats),
                   static_cast<LPARAM>(nFormats) * 64);
    CString strEntry;
    for (int i = 0; i < nFormats; ++i) {
        GetFormatEntryText((*pFormats)[i], strEntry);
        ::SendMessageW(hFormats, CB_ADDSTRING, 0,
                       reinterpret_cast<LPARAM>(static_cast<const wchar_t*>(strEntry)));
    }
    ::SendMessageW(hFormats, WM_SETREDRAW, TRUE, 0);
    ::InvalidateRect(hFormats, nullptr, TRUE);

    int nEntries = static_cast<int>(::SendMessageW(hFormats, CB_GETCOUNT, 0, 0));
    if (nEntries > 0 && nFormatIndex < nEntries) {
        ::SendMessageW(hFormats, CB_SETCURSEL, static_cast<WPARAM>(nFormatIndex), 0);
        ::EnableWindow(hFormats, TRUE);
    }
}

VideoFormatArray* CLookwellDlg::GetDeviceFormats(int nDeviceIndex) const {
    LRESULT nData =
        SendDlgItemMessage(IDC_DEVICE_LIST, CB_GETITEMDATA, static_cast<WPARAM>(nDeviceIndex));
    // CB_ERR for a position the list does not have.
    if (nData == CB_ERR) {
        return nullptr;
    }
    return reinterpret_cast<VideoFormatArray*>(nData);
}

void CLookwellDlg::FreeDeviceList() {
    HWND hDevices = GetDlgItem(IDC_DEVICE_LIST);
    int nDevices = static_cast<int>(::SendMessageW(hDevices, CB_GETCOUNT, 0, 0));
    for (int i = 0; i < nDevices; ++i) {
        VideoFormatArray* pFormats = GetDeviceFormats(i);
        // Cleared first, so that no later use or second free can reach the deleted array.
        ::SendMessageW(hDevices, CB_SETITEMDATA, static_cast<WPARAM>(i), 0);
        delete pFormats;
    }
}

bool CLookwellDlg::GetFormat(int nDeviceIndex, int nFormatIndex, VideoFormat& format) const {
    const VideoFormatArray* pFormats = nDeviceIndex >= 0 ? GetDeviceFormats(nDeviceIndex) : nullptr;
    if (pFormats == nullptr || nFormatIndex < 0 || nFormatIndex >= pFormats->GetSize()) {
        return false;
    }
    format = (*pFormats)[nFormatIndex];
    return true;
}
