#include "tools/picture_recording.h"

#include "framework/files.h"
#include "tools/record_command.h"
#include "tools/tool_host.h"
#include "ui/lookwell_dlg.h"

#include <shlobj.h>

#include <cwchar>
#include <new>

namespace {

// A name taken by more recordings than this within one second is not ours to keep trying.
constexpr int kMostNumbers = 99;

bool Exists(const std::wstring& path) {
    return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

} // namespace

std::wstring RecordingFileName(const SYSTEMTIME& st, int n) {
    wchar_t szName[64];
    ::swprintf(szName, 64, L"Lookwell %04u-%02u-%02u %02u-%02u-%02u", st.wYear, st.wMonth, st.wDay,
               st.wHour, st.wMinute, st.wSecond);
    std::wstring name = szName;
    if (n > 1) {
        name += L" (" + std::to_wstring(n) + L")";
    }
    return name + L".avi";
}

CPictureRecording::~CPictureRecording() {
    Stop(5000);
}

bool CPictureRecording::Start(const std::shared_ptr<CStreamTap>& pTap, LONGLONG frameTime,
                              bool bUncompressed, const std::wstring& folder, std::wstring& error) {
    if (IsRecording() || pTap == nullptr) {
        error = L"there is no picture to record";
        return false;
    }
    AM_MEDIA_TYPE mt;
    if (!pTap->GetMediaType(mt)) {
        error = L"there is no picture to record";
        return false;
    }
    std::unique_ptr<CRecorder> pRecorder(new (std::nothrow) CRecorder);
    bool bOpen = false;
    if (pRecorder == nullptr) {
        error = L"out of memory";
    } else {
        SYSTEMTIME st;
        ::GetLocalTime(&st);
        CRecorderOptions options;
        options.bUncompressed = bUncompressed;
        std::wstring path;
        // The recorder never replaces a file; a name taken is passed by before it is tried.
        for (int n = 1; n <= kMostNumbers; ++n) {
            path = folder + L"\\" + RecordingFileName(st, n);
            if (!Exists(path)) {
                break;
            }
        }
        bOpen = pRecorder->Open(path, mt, frameTime, options, error);
        if (bOpen) {
            m_file = path;
        }
    }
    FreeMediaType(mt);
    if (!bOpen) {
        return false;
    }
    m_pRecorder = std::move(pRecorder);
    m_pTap = pTap;
    if (!m_pTap->Subscribe(this)) {
        Stop(0);
        error = L"the picture is already being recorded";
        return false;
    }
    return true;
}

void CPictureRecording::Stop(DWORD nDeadlineMs) {
    if (m_pTap != nullptr) {
        m_pTap->Unsubscribe(this); // no sample reaches the recorder after this
        m_pTap.reset();
    }
    if (m_pRecorder != nullptr) {
        m_pRecorder->Stop(nDeadlineMs);
        m_pRecorder->GetStatus(m_final);
        m_pRecorder.reset();
    }
}

bool CPictureRecording::HasEnded() const {
    return m_pRecorder != nullptr &&
           ::WaitForSingleObject(m_pRecorder->EndedEvent(), 0) == WAIT_OBJECT_0;
}

void CPictureRecording::GetStatus(CRecorderStatus& status) const {
    if (m_pRecorder != nullptr) {
        m_pRecorder->GetStatus(status);
    } else {
        status = m_final;
    }
}

void CPictureRecording::OnTapSample(const CTapSample& sample) noexcept {
    // Set before the subscription and reset only after it: never null here.
    m_pRecorder->OnSample(sample.view);
}

// The tool host's Ctrl+R.

namespace {

constexpr wchar_t kIndicatorClass[] = L"LookwellRecording";
constexpr UINT kRecordTickMs = 500;
// The file is finished within this at a key, a stop or the program's end.
constexpr DWORD kFinishMs = 1500;

// The user's Videos folder, made where it is missing.
bool VideosFolder(std::wstring& folder, std::wstring& error) {
    auto pfnKnownFolderPath = AfxSystemFunction<decltype(&::SHGetKnownFolderPath)>(
        L"shell32.dll", "SHGetKnownFolderPath");
    PWSTR pszFolder = nullptr;
    HRESULT hr = pfnKnownFolderPath != nullptr
                     ? pfnKnownFolderPath(FOLDERID_Videos, KF_FLAG_CREATE, nullptr, &pszFolder)
                     : E_NOTIMPL;
    if (SUCCEEDED(hr)) {
        folder = pszFolder;
    } else {
        error = L"the Videos folder was not found";
    }
    ::CoTaskMemFree(pszFolder);
    return SUCCEEDED(hr);
}

} // namespace

bool CToolHost::ToggleRecording(bool bUncompressed) {
    if (m_recording.IsRecording()) {
        EndRecording(L"");
        return true;
    }
    if (!m_dlg.IsPreviewing()) {
        ::MessageBeep(MB_OK);
        return false;
    }
    std::shared_ptr<CStreamTap> pTap = m_dlg.GetPreviewTap();
    std::wstring folder;
    std::wstring error;
    if (pTap == nullptr) {
        ShowNotice(L"The picture cannot be recorded: the camera shares no stream for it.");
        return false;
    }
    CTapFigures figures;
    pTap->GetFigures(figures);
    if (!VideosFolder(folder, error) ||
        !m_recording.Start(pTap, figures.nominalFrameTime, bUncompressed, folder, error)) {
        ShowNotice(L"The recording did not start: " + error + L".");
        return false;
    }
    if (m_recordIndicator.m_hWnd == nullptr && RegisterToolWndClass(kIndicatorClass) &&
        m_recordIndicator.CreateEx(WS_EX_TOOLWINDOW | WS_EX_NOACTIVATE, kIndicatorClass, L"",
                                   WS_POPUP | WS_BORDER, RECT{}, m_dlg.m_hWnd)) {
        HWND hText = ::CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE | SS_LEFT, 4, 2, 0,
                                       0, m_recordIndicator.m_hWnd, nullptr, nullptr, nullptr);
        ::SendMessageW(hText, WM_SETFONT,
                       reinterpret_cast<WPARAM>(::GetStockObject(DEFAULT_GUI_FONT)), FALSE);
    }
    m_recordIndicator.SetWindowText(m_recording.File().c_str());
    m_toolWnd.SetTimer(kRecordTimer, kRecordTickMs);
    UpdateRecording();
    return true;
}

void CToolHost::UpdateRecording() {
    if (!m_recording.IsRecording()) {
        EndRecording(L"");
        return;
    }
    // Stop, the watchdog, a new start: the picture it recorded is gone.
    if (m_dlg.GetPreviewTap().get() != m_recording.Tap()) {
        EndRecording(L"");
        return;
    }
    CRecorderStatus status;
    m_recording.GetStatus(status);
    if (m_recording.HasEnded()) {
        std::wstring why = RecordEndText(status);
        EndRecording(why.empty() ? L"the file could not be written on" : why);
        return;
    }
    // In full screen the main window is hidden: the indicator, owned by it, would float there.
    if (m_recordIndicator.m_hWnd == nullptr || IsFullScreen()) {
        if (m_recordIndicator.m_hWnd != nullptr) {
            m_recordIndicator.ShowWindow(SW_HIDE);
        }
        return;
    }
    std::wstring text =
        L"REC " + RecordTimeText(status.duration) + L"  " + RecordSizeText(status.nBytesWritten);
    HWND hText = ::GetWindow(m_recordIndicator.m_hWnd, GW_CHILD);
    ::SetWindowTextW(hText, text.c_str());
    // Over the picture's top left corner, as wide as its text.
    SIZE size{120, 16};
    if (HDC hDC = ::GetDC(hText)) {
        HGDIOBJ hOld = ::SelectObject(hDC, ::GetStockObject(DEFAULT_GUI_FONT));
        ::GetTextExtentPoint32W(hDC, text.c_str(), static_cast<int>(text.size()), &size);
        ::SelectObject(hDC, hOld);
        ::ReleaseDC(hText, hDC);
    }
    RECT rcFrame;
    ::GetWindowRect(m_dlg.GetDlgItem(IDC_PREVIEW), &rcFrame);
    ::SetWindowPos(hText, nullptr, 4, 2, size.cx + 2, size.cy, SWP_NOZORDER | SWP_NOACTIVATE);
    ::SetWindowPos(m_recordIndicator.m_hWnd, HWND_TOP, rcFrame.left + 4, rcFrame.top + 4,
                   size.cx + 12, size.cy + 6, SWP_NOACTIVATE | SWP_SHOWWINDOW);
}

void CToolHost::EndRecording(const std::wstring& why, bool bQuiet) {
    if (m_toolWnd.m_hWnd != nullptr) {
        m_toolWnd.KillTimer(kRecordTimer);
    }
    const bool bRecording = m_recording.IsRecording();
    std::wstring file;
    if (bRecording) {
        file = m_recording.File();
        m_recording.Stop(kFinishMs);
    }
    // Only now: while the indicator shows, the file may still be written.
    if (m_recordIndicator.m_hWnd != nullptr) {
        m_recordIndicator.ShowWindow(SW_HIDE);
    }
    if (!bRecording) {
        return;
    }
    if (!why.empty()) {
        ShowNotice(L"The recording ended: " + why + L".");
    } else if (!bQuiet) {
        ShowNotice(L"The recording was saved as " + file + L".", false);
    }
}
