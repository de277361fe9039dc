// The main window's device and format lists: filled from the device catalogue, each device
// entry owning the formats of its device.
#include "capture/capture_platform.h"
#include "capture/device_catalogue.h"
#include "capture/video_format.h"
#include "ui/lookwell_dlg.h"

#include <memory>

StageResult CLookwellDlg::EnumerateDevices() {
    HWND hDevices = GetDlgItem(IDC_DEVICE_LIST); // once: a server round trip under Wine
    std::vector<CDeviceEntry> devices;
    DWORD nStage = ReadDeviceCatalogue(devices);
    if (nStage == 0) {
        ::SendMessageW(hDevices, CB_RESETCONTENT, 0, 0);
        for (CDeviceEntry& device : devices) {
            LRESULT nIndex = ::SendMessageW(
                hDevices, CB_ADDSTRING, 0,
                reinterpret_cast<LPARAM>(static_cast<const wchar_t*>(device.strName)));
            // The entry owns its formats from here; a refused entry's go with the catalogue.
            if (nIndex >= 0) {
                ::SendMessageW(hDevices, CB_SETITEMDATA, static_cast<WPARAM>(nIndex),
                               reinterpret_cast<LPARAM>(device.pFormats.release()));
            }
        }
    }
    LRESULT nCount = ::SendMessageW(hDevices, CB_GETCOUNT, 0, 0);
    return MakeStageResult(nStage, static_cast<DWORD>(nCount));
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
