#include "check/check_command.h"

#include "check/camera_check.h"
#include "ui/lookwell_dlg.h"

namespace {

// What the switches chose: the device and its formats, or the reason there is nothing.
struct CCheckTarget {
    std::wstring strName;
    std::wstring strDisplayName;
    std::vector<VideoFormat> formats;
    std::wstring strError;
};

std::wstring Quoted(const std::wstring& text) {
    return L"\"" + text + L"\"";
}

// The device and format lists filled the window's own way, in combo boxes nobody sees, and
// searched as the window's switches search them.
void FindCheckTarget(const CCommandLine& options, CCheckTarget& target) {
    HWND hHost = ::CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                   nullptr, nullptr);
    if (hHost == nullptr) {
        target.strError = L"No window for the device list.";
        return;
    }
    for (int nId : {IDC_DEVICE_LIST, IDC_FORMAT_LIST}) {
        ::CreateWindowExW(0, L"COMBOBOX", L"", WS_CHILD | CBS_DROPDOWNLIST, 0, 0, 100, 100, hHost,
                          reinterpret_cast<HMENU>(static_cast<INT_PTR>(nId)), nullptr, nullptr);
    }
    CLookwellDlg lister;
    lister.m_hWnd = hHost;
    HWND hDevices = lister.GetDlgItem(IDC_DEVICE_LIST);
    HWND hFormats = lister.GetDlgItem(IDC_FORMAT_LIST);
    bool bFound = StageSucceeded(lister.EnumerateDevices());
    int nDevices = bFound ? static_cast<int>(::SendMessageW(hDevices, CB_GETCOUNT, 0, 0)) : 0;
    int nDevice = nDevices > 0 ? 0 : -1;
    if (nDevices <= 0) {
        target.strError = L"No capture device found.";
    } else if (options.bDevice) {
        nDevice = -1;
        int nPosition = ParsePosition(options.strDevice);
        for (int i = 0; i < nDevices && nDevice < 0; ++i) {
            if (nPosition >= 0 ? i == nPosition
                               : SameDeviceName(ComboEntryText(hDevices, i), options.strDevice)) {
                nDevice = i;
            }
        }
        if (nDevice < 0) {
            target.strError =
                nPosition >= 0
                    ? L"No capture device at position " + std::to_wstring(nPosition) + L"."
                    : L"No capture device named " + Quoted(options.strDevice) + L".";
        }
    }
    if (nDevice >= 0) {
        lister.SelectDevice(nDevice, 0);
        target.strName = ComboEntryText(hDevices, nDevice);
        int nFormats = static_cast<int>(::SendMessageW(hFormats, CB_GETCOUNT, 0, 0));
        int nPosition = options.bFormat ? ParsePosition(options.strFormat) : -1;
        for (int j = 0; j < nFormats; ++j) {
            bool bWanted =
                !options.bFormat ||
                (nPosition >= 0 ? j == nPosition
                                : EntryStartsWith(ComboEntryText(hFormats, j), options.strFormat));
            VideoFormat format;
            if (bWanted && lister.GetFormat(nDevice, j, format)) {
                target.formats.push_back(format);
                if (options.bFormat) {
                    break; // the first that matches, as the window's switch chooses
                }
            }
        }
        if (target.formats.empty()) {
            target.strError = !options.bFormat ? L"No format for " + Quoted(target.strName) + L"."
                              : nPosition >= 0
                                  ? L"No format at position " + std::to_wstring(nPosition) +
                                        L" for " + Quoted(target.strName) + L"."
                                  : L"No format " + Quoted(options.strFormat) + L" for " +
                                        Quoted(target.strName) + L".";
        } else {
            target.strDisplayName =
                DeviceDisplayName(lister.GetDeviceFormats(nDevice)->m_nMonikerPosition);
            if (target.strDisplayName.empty()) {
                target.strError = L"The device " + Quoted(target.strName) + L" has no name.";
            }
        }
    }
    lister.FreeDeviceList();
    lister.m_hWnd = nullptr; // not a dialog of the framework's: destroyed here, not by it
    ::DestroyWindow(hHost);
}

// Progress on standard error, the rows kept for the table at the end.
class CCommandLineListener : public ICheckListener {
public:
    void OnFormatStarted(size_t nIndex, size_t nCount, const std::wstring& strFormat,
                         DWORD nMsLeft) override {
        WriteStd(STD_ERROR_HANDLE, L"Checking " + std::to_wstring(nIndex + 1) + L"/" +
                                       std::to_wstring(nCount) + L": " + strFormat + L" (about " +
                                       std::to_wstring((nMsLeft + 999) / 1000) + L" s left)\n");
    }
    void OnRowDone(size_t, const CCheckRow& row) override {
        try {
            m_rows.push_back(row);
        } catch (...) {
            m_bLost = true;
        }
    }
    void OnCheckFinished(bool bCancelled) override { m_bLost = m_bLost || bCancelled; }

    std::vector<CCheckRow> m_rows;
    bool m_bLost = false;
};

} // namespace

std::wstring DeviceDisplayName(int nMonikerPosition) {
    CDeviceWalk walk;
    HRESULT hr = S_OK;
    CComRef<IBindCtx> pContext;
    LPOLESTR pszName = nullptr;
    if (nMonikerPosition < 0 || walk.Find(nMonikerPosition, hr) != 0 ||
        ::CreateBindCtx(0, &pContext) != S_OK ||
        walk.m_pMoniker->GetDisplayName(pContext, nullptr, &pszName) != S_OK ||
        pszName == nullptr) {
        return std::wstring();
    }
    std::wstring name = pszName;
    ::CoTaskMemFree(pszName);
    return name;
}

int RunCheckSwitch(const CCommandLine& options) {
    DWORD nSeconds = options.CheckSeconds(kDefaultCheckSeconds);
    if (nSeconds == 0) {
        WriteStd(STD_ERROR_HANDLE, L"/seconds: takes a whole number from 1 to 60, not " +
                                       Quoted(options.strSeconds) + L".\n");
        return 2;
    }
    bool bCom = SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    CCheckTarget target;
    if (bCom) {
        FindCheckTarget(options, target);
    } else {
        target.strError = L"COM did not start.";
    }
    int nExit = 2;
    if (target.strError.empty()) {
        CCommandLineListener listener;
        {
            CCheckRunner runner;
            if (runner.Start(target.strDisplayName, target.formats, nSeconds, &listener)) {
                runner.Wait(INFINITE);
            } else {
                target.strError = L"The check could not start.";
            }
        }
        if (target.strError.empty() && listener.m_bLost) {
            target.strError = L"The check ran out of memory.";
        }
        if (target.strError.empty()) {
            const std::vector<CCheckRow>& rows = listener.m_rows;
            WriteStd(STD_OUTPUT_HANDLE,
                     options.bCsv ? FormatCheckCsv(rows) : FormatCheckTable(rows));
            bool bAllOk = true;
            for (const CCheckRow& row : rows) {
                bAllOk = bAllOk && IsOk(row);
            }
            nExit = bAllOk ? 0 : 1;
            if (!bAllOk) {
                WriteStd(STD_ERROR_HANDLE, FormatCheckSummary(rows) + L".\n");
            }
        }
    }
    if (!target.strError.empty()) {
        WriteStd(STD_ERROR_HANDLE, target.strError + L"\n");
    }
    if (bCom) {
        ::CoUninitialize();
    }
    return nExit;
}
