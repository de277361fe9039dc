// The preview button: stops a running preview, or lists the devices afresh and starts the
// chosen one when their number has not changed.
#include "ui/lookwell_dlg.h"

void CLookwellDlg::OnPreviewButton() {
    if (m_bPreviewing) {
        bool bStopped = StopPreview();
        m_bPreviewing = 0;
        SetDlgItemText(IDC_PREVIEW_BUTTON, m_strButtonCaption);
        ::EnableWindow(GetDlgItem(IDC_DEVICE_LIST), TRUE);
        ::EnableWindow(GetDlgItem(IDC_FORMAT_LIST), TRUE);
        if (!bStopped) {
            // The driver still holds the camera: the window is stopped all the same.
            ShowMessage(L"The capture device stopped delivering pictures.");
        }
        return;
    }

    int nDevice = static_cast<int>(SendDlgItemMessage(IDC_DEVICE_LIST, CB_GETCURSEL));
    int nFormat = static_cast<int>(SendDlgItemMessage(IDC_FORMAT_LIST, CB_GETCURSEL));
    // A device whose last graph still waits for its driver's Stop is not opened again meanwhile.
    if (const VideoFormatArray* pFormats = GetDeviceFormats(nDevice);
        pFormats != nullptr && m_stopper.IsStopping(pFormats->m_strDisplayName)) {
        ShowMessage(L"Failed to connect to capture device.");
        return;
    }
    FreeDeviceList();
    StageResult r = EnumerateDevices();
    if (!StageSucceeded(r)) {
        // The window gives up capture until it closes.
        ShowMessage(L"Failed to find capture devices.");
        // With every control disabled the keys still reach the window itself.
        KeepFocusFrom({IDC_DEVICE_LIST, IDC_FORMAT_LIST, IDC_PREVIEW_BUTTON}, m_hWnd);
        ::EnableWindow(GetDlgItem(IDC_DEVICE_LIST), FALSE);
        ::EnableWindow(GetDlgItem(IDC_FORMAT_LIST), FALSE);
        ::EnableWindow(GetDlgItem(IDC_PREVIEW_BUTTON), FALSE);
        return;
    }
    SelectDevice(nDevice, nFormat);
    // The number of devices is the only sign that devices came or went.
    if (LOWORD(r) != m_nDeviceCount) {
        ShowMessage(L"Changed number of capture devices.\nSelect capture device again.");
        SetWindowText(m_strTitle);
        m_nDeviceCount = LOWORD(r);
        SelectDevice(0, 0);
        return;
    }

    // The same number, but the remembered positions may no longer exist: every device was
    // left out, or the device now there has fewer formats.
    VideoFormat format;
    if (!GetFormat(nDevice, nFormat, format)) {
        ShowMessage(L"Failed to connect to capture device.");
        return;
    }
    // A frame that a zoom changed is brought back to the format's size.
    RECT rcPreview;
    ::GetWindowRect(GetDlgItem(IDC_PREVIEW), &rcPreview);
    if (format.width != rcPreview.right - rcPreview.left ||
        format.height != rcPreview.bottom - rcPreview.top) {
        ResizeToVideo(format.width, format.height);
    }
    m_hrStartFailure = S_OK;
    if (StageResult built = BuildPreviewGraph(nDevice, nFormat); !StageSucceeded(built)) {
        ShowMessage(L"Failed to connect to capture device.");
        StartFailure why = ClassifyStartFailure(HIWORD(built), m_hrStartFailure);
        if (why != StartFailure::Unknown) {
            PostMessage(WM_START_FAILED, static_cast<WPARAM>(why));
        }
        return;
    }
    // A start from the keyboard (Enter in a list) must not leave the keyboard dead: the focus
    // goes to the button, where a mouse press would have put it, so that Enter stops again.
    KeepFocusFrom({IDC_DEVICE_LIST, IDC_FORMAT_LIST}, GetDlgItem(IDC_PREVIEW_BUTTON));
    ::EnableWindow(GetDlgItem(IDC_DEVICE_LIST), FALSE);
    ::EnableWindow(GetDlgItem(IDC_FORMAT_LIST), FALSE);
    ::ShowWindow(GetDlgItem(IDC_MESSAGE), SW_HIDE);
    ::ShowWindow(GetDlgItem(IDC_PREVIEW), SW_SHOW);
    UpdateTitle(format.bitRate, format.subtype);
    m_bPreviewing = 1;
    SetDlgItemText(IDC_PREVIEW_BUTTON, L"Stop");
    ++m_nPreviewRun;
    m_nPreviewStartTick = ::GetTickCount64();
    m_previewFormat = format;
}

StartFailure ClassifyStartFailure(DWORD nStage, HRESULT hr) {
    // What drivers answer for a device another program has open, at whichever stage.
    if (hr == HRESULT_FROM_WIN32(ERROR_BUSY) || hr == HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION) ||
        hr == HRESULT_FROM_WIN32(ERROR_DEVICE_IN_USE)) {
        return StartFailure::CameraInUse;
    }
    switch (nStage) {
    case 14: // the device's SetFormat
        return StartFailure::FormatRefused;
    case 11: // rendering the preview stream: no way from this format to the renderer
        return hr == VFW_E_CANNOT_CONNECT || hr == VFW_E_NO_ACCEPTABLE_TYPES ||
                       hr == VFW_E_CANNOT_RENDER || hr == VFW_E_TYPE_NOT_ACCEPTED || hr == E_FAIL
                   ? StartFailure::RendererCannotDraw
                   : StartFailure::Unknown;
    default:
        return StartFailure::Unknown;
    }
}

void CLookwellDlg::KeepFocusFrom(std::initializer_list<int> controls, HWND hTo) {
    // Disabling the focused window leaves no window focused, and keys then arrive at the
    // active window as system keys, which no control takes.
    HWND hFocus = ::GetFocus();
    for (int nId : controls) {
        HWND hControl = GetDlgItem(nId);
        if (hFocus != nullptr && (hFocus == hControl || ::IsChild(hControl, hFocus))) {
            if (hTo == m_hWnd) {
                ::SetFocus(m_hWnd);
            } else {
                SendMessage(WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(hTo), TRUE);
            }
            return;
        }
    }
}
