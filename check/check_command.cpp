#include "check/check_command.h"

#include "capture/device_catalogue.h"
#include "check/camera_check.h"
#include "framework/console.h"
#include "framework/files.h"

namespace {

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
                                          AfxQuoted(options.strSeconds) + L".\n");
        return 2;
    }
    // A report that cannot be written is said before the check, not after it.
    if (options.bReport && (options.strReport.empty() || AfxIsDeviceName(options.strReport))) {
        AfxWriteStd(STD_ERROR_HANDLE, L"/report: takes the name of a file to write, not " +
                                          AfxQuoted(EscapeControls(options.strReport)) + L".\n");
        return 2;
    }
    bool bCom = SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    CDeviceChoice target;
    std::wstring strError;
    if (!bCom) {
        strError = L"COM did not start.";
    } else {
        ChooseDevice(options.bDevice, options.strDevice, options.bFormat, options.strFormat, target,
                     strError);
    }
    int nExit = 2;
    if (strError.empty()) {
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
                        strError = L"The check did not end: a camera does not return.";
                    }
                }
            } else {
                strError = L"The check could not start.";
            }
        }
        if (strError.empty() && listener.m_bLost) {
            strError = L"The check ran out of memory.";
        }
        if (strError.empty()) {
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
                                                      AfxQuoted(EscapeControls(options.strReport)) +
                                                      L": " + error + L".\n");
                    nExit = 2;
                }
            }
        }
    }
    if (!strError.empty()) {
        AfxWriteStd(STD_ERROR_HANDLE, strError + L"\n");
    }
    if (bCom) {
        ::CoUninitialize();
    }
    return nExit;
}
