#include "check/check_command.h"

#include "capture/device_catalogue.h"
#include "check/camera_check.h"
#include "framework/console.h"
#include "framework/files.h"

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

// The device and formats the switches name, from the lists as the window fills them, searched
// as the window's switches search them.
void FindCheckTarget(const CCheckRequest& options, CCheckTarget& target) {
    std::vector<CDeviceListing> devices;
    if (!CollectDeviceListing(devices)) {
        target.strError = L"No capture device found.";
        return;
    }
    size_t nDevice = 0;
    if (options.bDevice) {
        std::vector<std::wstring> names;
        for (const CDeviceListing& device : devices) {
            names.push_back(device.strName);
        }
        int nFound = FindEntry(names, options.strDevice, DeviceNameMatches);
        if (nFound < 0) {
            target.strError = NoDeviceText(EscapeControls(options.strDevice));
            return;
        }
        nDevice = static_cast<size_t>(nFound);
    }
    const CDeviceListing& device = devices[nDevice];
    target.strName = device.strName;
    // The name the listing read: the device itself, whatever comes or goes before the check.
    target.strDisplayName = device.strDisplayName;
    if (!options.bFormat) {
        target.formats = device.records;
    } else if (int nFound = FindEntry(device.formats, options.strFormat, EntryStartsWith);
               nFound >= 0 && static_cast<size_t>(nFound) < device.records.size()) {
        target.formats.push_back(device.records[static_cast<size_t>(nFound)]);
    } else {
        target.strError =
            NoFormatText(EscapeControls(options.strFormat), EscapeControls(target.strName));
        return;
    }
    // Names are written out as /list writes them: each error stays one line.
    if (target.formats.empty()) {
        target.strError = L"No format for " + Quoted(EscapeControls(target.strName)) + L".";
    } else if (target.strDisplayName.empty()) {
        target.strError =
            L"The device " + Quoted(EscapeControls(target.strName)) + L" has no name.";
    }
}

// Progress on standard error, the rows kept for the table at the end.
class CCommandLineListener : public ICheckListener {
public:
    void OnFormatStarted(size_t nIndex, size_t nCount, const std::wstring& strFormat,
                         DWORD nMsLeft) override {
        AfxWriteStd(STD_ERROR_HANDLE, L"Checking " + std::to_wstring(nIndex + 1) + L"/" +
                                          std::to_wstring(nCount) + L": " + strFormat +
                                          L" (about " + std::to_wstring((nMsLeft + 999) / 1000) +
                                          L" s left)\n");
    }
    void OnRowDone(size_t, const CFormatMeasurement& row) override {
        try {
            m_rows.push_back(row);
        } catch (...) {
            m_bLost = true;
        }
    }
    void OnCheckFinished(bool bCancelled) override { m_bLost = m_bLost || bCancelled; }

    std::vector<CFormatMeasurement> m_rows;
    bool m_bLost = false;
};

} // namespace

DWORD CCheckRequest::Seconds(DWORD nDefault) const {
    if (!bSeconds) {
        return nDefault;
    }
    int n = ParsePosition(strSeconds);
    return n >= 1 && n <= 60 ? static_cast<DWORD>(n) : 0;
}

int RunCheckSwitch(const CCheckRequest& options) {
    DWORD nSeconds = options.Seconds(kDefaultCheckSeconds);
    if (nSeconds == 0) {
        AfxWriteStd(STD_ERROR_HANDLE, L"/seconds: takes a whole number from 1 to 60, not " +
                                          Quoted(options.strSeconds) + L".\n");
        return 2;
    }
    // A report that cannot be written is said before the check, not after it.
    if (options.bReport && (options.strReport.empty() || AfxIsDeviceName(options.strReport))) {
        AfxWriteStd(STD_ERROR_HANDLE, L"/report: takes the name of a file to write, not " +
                                          Quoted(EscapeControls(options.strReport)) + L".\n");
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
        SYSTEMTIME when{};
        ::GetLocalTime(&when);
        {
            CCheckRunner runner;
            // Every format ends within its bound; a runner held past all of them by a camera
            // is left behind (its destructor waits a second) and the check reports what it has.
            DWORD nBoundMs =
                static_cast<DWORD>(target.formats.size()) * (nSeconds * 1000 + kFormatBoundMs);
            if (runner.Start(target.strDisplayName, target.formats, nSeconds, &listener)) {
                if (!runner.Wait(nBoundMs)) {
                    runner.Cancel();
                    if (!runner.Wait(1000)) {
                        target.strError = L"The check did not end: a camera does not return.";
                    }
                }
            } else {
                target.strError = L"The check could not start.";
            }
        }
        if (target.strError.empty() && listener.m_bLost) {
            target.strError = L"The check ran out of memory.";
        }
        if (target.strError.empty()) {
            const std::vector<CFormatMeasurement>& rows = listener.m_rows;
            if (!AfxWriteStd(STD_OUTPUT_HANDLE,
                             options.bCsv ? FormatCheckCsv(rows) : FormatCheckTable(rows))) {
                // The figures are lost: nothing was delivered, which is not a success.
                AfxWriteStd(STD_ERROR_HANDLE, L"Writing to standard output failed.\n");
                if (bCom) {
                    ::CoUninitialize();
                }
                return 2;
            }
            bool bAllOk = true;
            for (const CFormatMeasurement& row : rows) {
                bAllOk = bAllOk && IsOk(row);
            }
            nExit = bAllOk ? 0 : 1;
            if (!bAllOk) {
                AfxWriteStd(STD_ERROR_HANDLE, FormatCheckSummary(rows) + L".\n");
            }
            if (options.bReport) {
                CCheckReportInfo info;
                info.strDevice = target.strName;
                info.strVersion = LookwellVersion();
                info.when = when;
                std::wstring error;
                if (!WriteCheckReport(options.strReport, info, rows, error)) {
                    // The table went out; the report the user asked for did not.
                    AfxWriteStd(STD_ERROR_HANDLE, L"The report was not written to " +
                                                      Quoted(EscapeControls(options.strReport)) +
                                                      L": " + error + L".\n");
                    nExit = 2;
                }
            }
        }
    }
    if (!target.strError.empty()) {
        AfxWriteStd(STD_ERROR_HANDLE, target.strError + L"\n");
    }
    if (bCom) {
        ::CoUninitialize();
    }
    return nExit;
}
