// Lookwell's own work against the platform's floor, both measured in the same run, so that the
// ratio means the same on any machine. Run by hand:
//   scripts/wine-exec --prefix $PWD/build/bench-prefix build/lookwell_bench.exe
#include "app/lookwell_app.h"
#include "support/apartment.h"
#include "support/camera.h"
#include "ui/lookwell_dlg.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace {

double NowMs() {
    LARGE_INTEGER now;
    LARGE_INTEGER frequency;
    ::QueryPerformanceCounter(&now);
    ::QueryPerformanceFrequency(&frequency);
    return static_cast<double>(now.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// n distinct RGB24 formats.
std::wstring FormatList(int n) {
    std::wstring text;
    for (int i = 0; i < n; ++i) {
        CString strEntry;
        strEntry.Format(L"%sRGB24:%dx%d@%d", i == 0 ? L"" : L",", 160 + 16 * (i % 64),
                        120 + 8 * (i / 64), 15 + 15 * (i % 3));
        text += strEntry;
    }
    return text;
}

// The platform calls the device list makes, in the same order, with no list work: no entries,
// no records, no texts.
void EnumerateFloor() {
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
        }
        ::VariantClear(&name);
    }
}

void BenchEnumeration() {
    struct Scenario {
        int nCameras;
        int nFormats;
    } scenarios[] = {{1, 64}, {8, 64}, {1, 512}, {8, 512}};
    std::printf("Device list: EnumerateDevices + SelectDevice against the same platform calls\n");
    std::printf("%-16s %10s %10s %7s %14s %10s\n", "cameras x fmts", "ours ms", "floor ms", "ratio",
                "ours us/format", "select ms");
    for (const Scenario& s : scenarios) {
        std::vector<std::unique_ptr<testcam_test::ScopedCamera>> cameras;
        for (int i = 0; i < s.nCameras; ++i) {
            cameras.push_back(std::make_unique<testcam_test::ScopedCamera>(FormatList(s.nFormats)));
        }
        CLookwellDlg dlg;
        if (!dlg.Create(IDD_LOOKWELL_DIALOG)) {
            std::printf("the main window could not be created\n");
            return;
        }
        std::vector<double> ours;
        std::vector<double> floor;
        std::vector<double> select;
        // Alternating, so that drift in the machine's load falls on both alike.
        for (int run = 0; run < 15; ++run) {
            double t0 = NowMs();
            dlg.FreeDeviceList();
            dlg.EnumerateDevices();
            double tSelect = NowMs();
            dlg.SelectDevice(0, 0);
            double t1 = NowMs();
            EnumerateFloor();
            double t2 = NowMs();
            if (run > 0) { // the first run loads code and warms caches
                ours.push_back(t1 - t0);
                floor.push_back(t2 - t1);
                select.push_back(t1 - tSelect);
            }
        }
        double nOurs = Median(ours);
        double nFloor = Median(floor);
        int nTotal =
            static_cast<int>(::SendDlgItemMessageW(dlg.m_hWnd, IDC_DEVICE_LIST, CB_GETCOUNT, 0, 0));
        CString strLabel;
        strLabel.Format(L"%d x %d", s.nCameras, s.nFormats);
        std::printf("%-16ls %10.2f %10.2f %7.3f %14.2f %10.2f  (%d devices listed)\n",
                    static_cast<const wchar_t*>(strLabel), nOurs, nFloor, nOurs / nFloor,
                    nOurs * 1000.0 / (s.nCameras * s.nFormats), Median(select), nTotal);
        dlg.SendMessage(WM_CLOSE);
        testcam_test::Pump(50);
    }
}

} // namespace

int wmain() {
    theApp.SetCurrentHandles(::GetModuleHandleW(nullptr));
    if (!HoldMultithreadedApartment()) {
        return 1;
    }
    BenchEnumeration();
    return 0;
}
