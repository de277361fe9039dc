// The tap's costs against floors from the same run: the process's processor time while a
// preview runs with the tap against the same preview without it, a copy from the tap against
// one frame interval, and the watchdog's time from the last picture to the stopped picture
// against its limit.
#include "bench/bench_clock.h"
#include "support/camera.h"
#include "tools/tool_host.h"
#include "ui/lookwell_dlg.h"

#include <cstdio>
#include <cstring>
#include <vector>

namespace {

// The camera's first format previewed in a new main window, with or without the tap.
bool StartPreview(CLookwellDlg& dlg, const std::wstring& camera, bool bTap) {
    dlg.m_bPreviewTap = bTap;
    if (!dlg.Create(IDD_LOOKWELL_DIALOG)) {
        return false;
    }
    int nEntry = static_cast<int>(dlg.SendDlgItemMessage(IDC_DEVICE_LIST, CB_FINDSTRINGEXACT,
                                                         static_cast<WPARAM>(-1),
                                                         reinterpret_cast<LPARAM>(camera.c_str())));
    dlg.SendDlgItemMessage(IDC_DEVICE_LIST, CB_SETCURSEL, static_cast<WPARAM>(nEntry));
    dlg.SelectDevice(nEntry, 0);
    dlg.SendMessage(WM_COMMAND, MAKEWPARAM(IDC_PREVIEW_BUTTON, BN_CLICKED),
                    reinterpret_cast<LPARAM>(dlg.GetDlgItem(IDC_PREVIEW_BUTTON)));
    return dlg.m_bPreviewing != 0 && (!bTap || dlg.GetPreviewTap() != nullptr);
}

void Close(CLookwellDlg& dlg) {
    if (dlg.m_hWnd != nullptr) {
        dlg.SendMessage(WM_CLOSE);
    }
    PumpFor(200);
}

// Percent of a core over 4 s of a running preview, after a second to settle; -1 when it did not
// start.
double PreviewCpu(const std::wstring& camera, bool bTap) {
    CLookwellDlg dlg;
    double nPercent = -1.0;
    if (StartPreview(dlg, camera, bTap)) {
        PumpFor(1000);
        double nCpu = ProcessCpuMs();
        double t0 = NowMs();
        PumpFor(4000);
        nPercent = (ProcessCpuMs() - nCpu) / (NowMs() - t0) * 100.0;
    }
    Close(dlg);
    return nPercent;
}

void Row(const char* pszWhat, double nOurs, double nFloor) {
    std::printf("%-44s %10.2f %10.2f %7.3f\n", pszWhat, nOurs, nFloor, nOurs / nFloor);
}

void BenchPreviewCpu(const wchar_t* pszFormat, const char* pszLabel, size_t nFrameBytes) {
    testcam_test::ScopedCamera camera(pszFormat);
    std::vector<double> ours, floor;
    // In turns, so that the machine's load falls on both alike.
    for (int turn = 0; turn < 3; ++turn) {
        ours.push_back(PreviewCpu(camera.name(), true));
        floor.push_back(PreviewCpu(camera.name(), false));
    }
    if (Median(ours) < 0 || Median(floor) < 0) {
        std::printf("%-44s does not preview here\n", pszLabel);
        return;
    }
    Row(pszLabel, Median(ours), Median(floor));
    // Keeping every picture is one copy of it: that copy alone at 30 a second, for comparison.
    if (nFrameBytes > 0) {
        std::vector<BYTE> from(nFrameBytes, 1), to(nFrameBytes);
        std::vector<double> copies;
        for (int i = 0; i < 60; ++i) {
            double t0 = NowMs();
            std::memcpy(to.data(), from.data(), nFrameBytes);
            copies.push_back(NowMs() - t0);
            from[static_cast<size_t>(i)] = to[nFrameBytes - 1 - static_cast<size_t>(i)];
        }
        std::printf("%-44s %10.2f\n", "  one copy of each picture, % of a core",
                    Median(copies) * 30 / 10);
    }
}

// The clipboard's part of a copy: the memory handed over and the clipboard filled, in ms.
double ClipboardMs(HWND hOwner, const std::vector<BYTE>& dib) {
    double t0 = NowMs();
    HGLOBAL hGlobal = ::GlobalAlloc(GMEM_MOVEABLE, dib.size());
    void* pData = hGlobal != nullptr ? ::GlobalLock(hGlobal) : nullptr;
    if (pData == nullptr) {
        return -1.0;
    }
    std::memcpy(pData, dib.data(), dib.size());
    ::GlobalUnlock(hGlobal);
    if (!::OpenClipboard(hOwner)) {
        ::GlobalFree(hGlobal);
        return -1.0;
    }
    if (!::EmptyClipboard() || ::SetClipboardData(CF_DIB, hGlobal) == nullptr) {
        ::GlobalFree(hGlobal);
    }
    ::CloseClipboard();
    return NowMs() - t0;
}

// Ctrl+C's work from the tap against one frame interval as the camera delivers them.
void BenchCopy(const wchar_t* pszFormat, const char* pszLabel) {
    testcam_test::ScopedCamera camera(pszFormat);
    CLookwellDlg dlg;
    if (StartPreview(dlg, camera.name(), true)) {
        CToolHost tools(dlg);
        PumpFor(1000);
        const double nInterval =
            MeasuredFrameIntervalMs([] { return testcam_test::Stats().delivered; });
        double t0 = 0;
        std::vector<double> copy, picture, renderer, clipTap, clipRenderer;
        std::shared_ptr<CStreamTap> pTap = dlg.GetPreviewTap();
        for (int run = 0; run < 11; ++run) {
            t0 = NowMs();
            tools.CopyToClipboard();
            copy.push_back(NowMs() - t0);
            PumpFor(100);
            std::vector<BYTE> dib;
            HRESULT hr = S_OK;
            t0 = NowMs();
            pTap->GetLatestPicture(dib, hr);
            picture.push_back(NowMs() - t0);
            clipTap.push_back(ClipboardMs(dlg.m_hWnd, dib));
            PumpFor(100);
            t0 = NowMs();
            tools.GrabFrame(dib);
            renderer.push_back(NowMs() - t0);
            clipRenderer.push_back(ClipboardMs(dlg.m_hWnd, dib));
            PumpFor(100);
        }
        Row(pszLabel, Median(copy), nInterval);
        std::printf("%-44s %10.2f %10.2f\n", "  of it the tap's picture / the renderer's",
                    Median(picture), Median(renderer));
        std::printf("%-44s %10.2f %10.2f\n", "  the clipboard's part, after each", Median(clipTap),
                    Median(clipRenderer));
    } else {
        std::printf("%-44s does not preview here\n", pszLabel);
    }
    Close(dlg);
}

// From the camera's last picture (it stalls without a word after 60) to the picture stopped,
// against the watchdog's limit of 2 s; the camera's count is watched every millisecond.
void BenchWatchdog() {
    std::vector<double> latency;
    for (int run = 0; run < 3; ++run) {
        testcam_test::ScopedCamera camera(L"RGB24:320x240@30", L"stallafter=60");
        CLookwellDlg dlg;
        if (!StartPreview(dlg, camera.name(), true)) {
            Close(dlg);
            continue;
        }
        LONGLONG nLast = testcam_test::Stats().delivered;
        double tLast = NowMs();
        double tStart = tLast;
        while (dlg.m_bPreviewing && NowMs() - tStart < 15000) {
            PumpFor(1);
            LONGLONG nNow = testcam_test::Stats().delivered;
            if (nNow != nLast) {
                nLast = nNow;
                tLast = NowMs();
            }
        }
        if (!dlg.m_bPreviewing) {
            latency.push_back(NowMs() - tLast);
        }
        Close(dlg);
    }
    Row("watchdog: last picture to stop / limit ms", Median(latency), 2000.0);
}

} // namespace

void BenchTap() {
    std::printf("\nThe tap: a preview's processor time, %% of a core over 4 s, medians of 3\n");
    std::printf("%-44s %10s %10s %7s\n", "", "tap", "no tap", "ratio");
    BenchPreviewCpu(L"RGB24:640x480@30", "RGB24 640x480 30 fps", 640 * 480 * 3);
    BenchPreviewCpu(L"RGB24:1920x1080@30", "RGB24 1920x1080 30 fps", 1920 * 1080 * 3);
    BenchPreviewCpu(L"MJPG:640x480@30", "MJPG 640x480 30 fps", 0);
    BenchPreviewCpu(L"MJPG:1920x1080@30", "MJPG 1920x1080 30 fps", 0);
    std::printf("\nCopy from the tap, medians of 11\n");
    std::printf("%-44s %10s %10s %7s\n", "", "ours ms", "floor ms", "ratio");
    BenchCopy(L"RGB24:640x480@30", "Ctrl+C 640x480 RGB24 / frame interval");
    BenchCopy(L"RGB24:1920x1080@30", "Ctrl+C 1920x1080 RGB24 / frame interval");
    BenchCopy(L"MJPG:1920x1080@30", "Ctrl+C 1920x1080 MJPG / frame interval");
    std::printf("\n");
    BenchWatchdog();
}
