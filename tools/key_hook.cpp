// The hook on the dialog loops: the tools' keys from one table, where they arrive at the main
// window, the information window or the full-screen picture; and the tools' message-only
// window, which carries their timers and the switches once the main window is up.
#include "tools/tool_host.h"

#include "ui/lookwell_dlg.h"

namespace {

// The only object whose hook runs: a hook procedure gets no window and no data of its own, so
// it has no other way to find its object.
CToolHost* g_pTools = nullptr;

constexpr wchar_t kToolClass[] = L"LookwellTools";

constexpr CToolKey kToolKeys[] = {
    {VK_F11, 0, false, ToolAction::FullScreen},
    {VK_ESCAPE, 0, false, ToolAction::Dismiss},
    {'C', kModCtrl, false, ToolAction::Copy},
    {'S', kModCtrl, false, ToolAction::Save},
    {'M', kModCtrl, false, ToolAction::Mirror},
    {'I', kModCtrl, false, ToolAction::Info},
    {'T', kModCtrl, false, ToolAction::Check},
    {'R', kModCtrl, false, ToolAction::Record},
    {'R', kModCtrl | kModShift, false, ToolAction::RecordUncompressed},
    {VK_RETURN, kModAlt, false, ToolAction::Settings},
    {VK_F4, kModAlt, false, ToolAction::CloseFullScreen},
    // They belong to the focused button, which may stop the picture: the window is back first.
    {VK_RETURN, 0, true, ToolAction::LeaveFullScreenFirst},
    {VK_SPACE, 0, true, ToolAction::LeaveFullScreenFirst},
};

bool IsDown(int nKey) {
    return ::GetKeyState(nKey) < 0;
}

// A list's entries as a person reads them.
std::vector<std::wstring> EntryTexts(const CLookwellDlg& dlg, int nListId, int nCount) {
    std::vector<std::wstring> texts;
    for (int i = 0; i < nCount; ++i) {
        texts.emplace_back(dlg.GetEntryText(nListId, i));
    }
    return texts;
}

// The tools' window and the notice share their look.
// Said under the window's own message, which names no reason.
constexpr CEnumText<StartFailure> kStartFailureTexts[] = {
    {StartFailure::RendererCannotDraw, L"The system's video renderer cannot draw this format here; "
                                       L"Ctrl+T checks what the camera delivers."},
    {StartFailure::CameraInUse, L"The camera is in use by another program."},
    {StartFailure::FormatRefused, L"The camera refused this format."},
};

} // namespace

UINT KeyModifiers(LPARAM lParam, bool bCtrlDown, bool bAltDown, bool bShiftDown) {
    bool bAlt = (lParam & (1 << 29)) != 0;
    if (bCtrlDown && (bAlt || bAltDown)) {
        return kModCtrl | kModAlt; // AltGr: no tool's combination
    }
    return (bCtrlDown ? kModCtrl : 0u) | (bAlt ? kModAlt : 0u) | (bShiftDown ? kModShift : 0u);
}

const CToolKey* FindToolKey(UINT nKey, UINT nModifiers) {
    for (const CToolKey& key : kToolKeys) {
        if (key.nKey == nKey && (key.bAnyModifiers || key.nModifiers == nModifiers)) {
            return &key;
        }
    }
    return nullptr;
}

CToolHost::CToolHost(CLookwellDlg& dlg) : m_dlg(dlg) {}

CToolHost::~CToolHost() {
    EndRecording(L"", true);
    m_check.Close();
    m_fullScreen.UnsubclassWindow();
    m_info.DestroyWindow();
    m_notice.DestroyWindow();
    m_tip.UnsubclassWindow();
    if (m_hTip != nullptr) {
        ::DestroyWindow(m_hTip);
    }
    m_toolWnd.DestroyWindow();
    if (m_hHook != nullptr) {
        ::UnhookWindowsHookEx(m_hHook);
    }
    if (g_pTools == this) {
        g_pTools = nullptr;
    }
}

bool CToolHost::Install(const CCommandLine& options) {
    if (g_pTools != nullptr || !RegisterToolWndClass(kToolClass) ||
        !m_toolWnd.CreateEx(0, kToolClass, L"", 0, RECT{}, HWND_MESSAGE)) {
        return false;
    }
    m_hHook = ::SetWindowsHookExW(WH_MSGFILTER, MsgFilterProc, nullptr, ::GetCurrentThreadId());
    if (m_hHook == nullptr) {
        return false;
    }
    g_pTools = this;
    m_options = options;
    m_bOptionsPending = options.NeedsWindowWork();
    if (m_bOptionsPending) {
        // Handled by the first loop that runs: the main window's.
        m_toolWnd.PostMessage(kApplyOptions);
    }
    return true;
}

LRESULT CALLBACK CToolHost::MsgFilterProc(int nCode, WPARAM wParam, LPARAM lParam) {
    if (nCode == MSGF_DIALOGBOX && g_pTools != nullptr && lParam != 0) {
        bool bTaken = false;
        try {
            bTaken = g_pTools->OnFilterMessage(*reinterpret_cast<const MSG*>(lParam));
        } catch (...) {
            // Nothing may unwind through the system's loop; the key is simply not taken.
        }
        if (bTaken) {
            return TRUE;
        }
    }
    return ::CallNextHookEx(nullptr, nCode, wParam, lParam);
}

BEGIN_MESSAGE_MAP(CToolHost::CToolWnd, CWnd)
ON_MESSAGE(kApplyOptions, &CToolWnd::OnApplyOptions)
ON_MESSAGE(kCloseMain, &CToolWnd::OnCloseMain)
ON_WM_TIMER()
END_MESSAGE_MAP()

LRESULT CToolHost::CToolWnd::OnApplyOptions(WPARAM, LPARAM) {
    if (m_tools.m_bOptionsPending) {
        m_tools.m_bOptionsPending = false;
        m_tools.ApplyOptions();
    }
    return 0;
}

LRESULT CToolHost::CToolWnd::OnCloseMain(WPARAM, LPARAM) {
    m_tools.LeaveFullScreen();
    ::PostMessageW(m_tools.m_dlg.m_hWnd, WM_CLOSE, 0, 0);
    return 0;
}

void CToolHost::CToolWnd::OnTimer(UINT_PTR nIDEvent) {
    if (nIDEvent == kRestoreTimer) {
        m_tools.CheckRestoredVideo();
    } else if (nIDEvent == kRecordTimer) {
        m_tools.UpdateRecording();
    } else if (nIDEvent == kNoticeTimer) {
        m_tools.UpdateNotice();
    }
}

bool CToolHost::OnFilterMessage(const MSG& msg) {
    HWND hMain = m_dlg.m_hWnd;
    if (hMain == nullptr || msg.hwnd == nullptr) {
        return false;
    }
    if (msg.hwnd == hMain && msg.message == CLookwellDlg::WM_START_FAILED) {
        ShowNotice(AfxEnumText(kStartFailureTexts, static_cast<StartFailure>(msg.wParam)));
        return true;
    }
    if (m_bSheetOpen && msg.hwnd == hMain &&
        (msg.message == WM_CLOSE ||
         (msg.message == WM_SYSCOMMAND && (msg.wParam & 0xFFF0) == SC_CLOSE))) {
        // The main window closes, but not over a sheet that would keep the process alive.
        CloseSettingsSheet();
        return true;
    }
    HWND hRoot = ::GetAncestor(msg.hwnd, GA_ROOT);
    bool bOurs =
        hRoot != nullptr && (hRoot == hMain || hRoot == m_info.m_hWnd ||
                             (m_hFullScreenVideo != nullptr && hRoot == m_hFullScreenVideo));
    // While a modal window of ours (About, settings, Save As) is up, the main one is disabled.
    if (!bOurs || !::IsWindowEnabled(hMain)) {
        return false;
    }
    if (hRoot == hMain) {
        RelayToPictureTip(msg);
    }
    switch (msg.message) {
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
        return OnKey(msg);
    case WM_SYSKEYUP:
        if (msg.wParam == VK_MENU && m_bSwallowAltUp) {
            m_bSwallowAltUp = false;
            return true;
        }
        return false;
    case WM_LBUTTONDBLCLK:
    case WM_RBUTTONDBLCLK:
        // A zoom would resize the full-screen picture behind the user's back, and the first
        // press's pause would follow: neither happens.
        if (!IsFullScreen()) {
            return false;
        }
        m_dlg.CancelSingleClick();
        return true;
    case WM_CLOSE:
    case WM_SYSCOMMAND:
        // The main window closes as it was. A close of the full-screen picture's own window is
        // its subclass's to turn into the main window's close.
        if (msg.hwnd == hMain && (msg.message == WM_CLOSE || (msg.wParam & 0xFFF0) == SC_CLOSE)) {
            LeaveFullScreen();
        }
        return false;
    default:
        return false;
    }
}

bool CToolHost::OnKey(const MSG& msg) {
    if (msg.message == WM_SYSKEYDOWN && msg.wParam == VK_MENU && (msg.lParam & (1 << 30)) == 0) {
        m_bSwallowAltUp = false; // a fresh Alt press: its release is the window's again
    }
    UINT nModifiers =
        KeyModifiers(msg.lParam, IsDown(VK_CONTROL), IsDown(VK_MENU), IsDown(VK_SHIFT));
    const CToolKey* pKey = FindToolKey(static_cast<UINT>(msg.wParam), nModifiers);
    if (pKey == nullptr) {
        return false;
    }
    bool bTaken = RunAction(pKey->action, msg);
    if (bTaken && (nModifiers & kModAlt) != 0) {
        // The window never saw a key between Alt's press and release, and would take the
        // release for a lone Alt: the menu bar's mode, which swallows the next keys.
        m_bSwallowAltUp = true;
    }
    return bTaken;
}

bool CToolHost::RunAction(ToolAction action, const MSG& msg) {
    bool bRepeat = (msg.lParam & (1 << 30)) != 0;
    HWND hRoot = ::GetAncestor(msg.hwnd, GA_ROOT);
    switch (action) {
    case ToolAction::Dismiss:
        if (IsFullScreen()) {
            LeaveFullScreen();
            return true;
        }
        if (m_info.m_hWnd != nullptr && hRoot == m_info.m_hWnd) {
            m_info.DestroyWindow();
            return true;
        }
        return false; // the main window's own Esc: nothing happens there
    case ToolAction::LeaveFullScreenFirst:
        LeaveFullScreen();
        return false;
    case ToolAction::CloseFullScreen:
        if (!IsFullScreen()) {
            return false; // the main window's own Alt+F4 closes it
        }
        // The close would reach the renderer's window, not ours: back first, then closed as
        // the main window's own close.
        LeaveFullScreen();
        m_toolWnd.PostMessage(kCloseMain);
        return true;
    default:
        break;
    }
    if (bRepeat) {
        return true;
    }
    if (action == ToolAction::Record || action == ToolAction::RecordUncompressed) {
        ToggleRecording(action == ToolAction::RecordUncompressed);
        return true;
    }
    // The tools a key starts or toggles, once a press (a held key's repeats do nothing).
    static constexpr struct {
        ToolAction action;
        bool (CToolHost::*pfnRun)();
    } kTools[] = {
        {ToolAction::FullScreen, &CToolHost::ToggleFullScreen},
        {ToolAction::Copy, &CToolHost::CopyToClipboard},
        {ToolAction::Save, &CToolHost::SaveSnapshot},
        {ToolAction::Settings, &CToolHost::ShowSettingsPages},
        {ToolAction::Mirror, &CToolHost::ToggleMirror},
        {ToolAction::Check, &CToolHost::CheckCamera},
        {ToolAction::Info, &CToolHost::ToggleInfoWindow},
    };
    for (const auto& tool : kTools) {
        if (tool.action == action) {
            (this->*tool.pfnRun)();
        }
    }
    return true;
}

void CToolHost::ApplyOptions() {
    if (m_options.bDevice) {
        int nFound = FindEntry(EntryTexts(m_dlg, IDC_DEVICE_LIST, m_dlg.GetDeviceCount()),
                               m_options.strDevice, DeviceNameMatches);
        if (nFound < 0) {
            m_dlg.ShowMessage(NoDeviceText(m_options.strDevice).c_str());
            return;
        }
        m_dlg.ChooseEntry(IDC_DEVICE_LIST, nFound);
    }
    if (m_options.bFormat) {
        int nFound = FindEntry(EntryTexts(m_dlg, IDC_FORMAT_LIST, m_dlg.GetFormatCount()),
                               m_options.strFormat, EntryStartsWith);
        if (nFound < 0) {
            CLookwellDlg::CSelection selection;
            m_dlg.GetSelection(selection);
            m_dlg.ShowMessage(
                NoFormatText(m_options.strFormat, std::wstring(selection.strDevice)).c_str());
            return;
        }
        m_dlg.ChooseEntry(IDC_FORMAT_LIST, nFound);
    }
    if (m_options.bPreview || m_options.bFullScreen) {
        m_dlg.PressPreviewButton();
    }
    if (m_options.bFullScreen && m_dlg.IsPreviewing()) {
        ToggleFullScreen();
    }
}

bool CToolHost::CheckCamera() {
    if (m_check.IsOpen()) {
        // Its results stay until it is closed: Ctrl+T brings them back to the front.
        ::SetForegroundWindow(m_check.Window());
        return false;
    }
    if (m_check.IsChecking()) {
        ShowNotice(L"The camera check could not start: the last one is still letting the "
                   L"camera go. Try again in a moment.");
        return false;
    }
    CLookwellDlg::CSelection selection;
    if (!m_dlg.GetSelection(selection) || selection.formats.empty()) {
        ::MessageBeep(MB_OK);
        return false;
    }
    if (m_dlg.IsPreviewing()) {
        // The camera is the check's now: stopped as the Stop button stops it.
        LeaveFullScreen();
        m_dlg.PressPreviewButton();
    }
    if (!m_check.Open(m_dlg.m_hWnd, std::wstring(selection.strDisplayName),
                      std::wstring(selection.strDevice), selection.formats, kDefaultCheckSeconds)) {
        ShowNotice(L"The camera check could not start: its window could not be made.");
        return false;
    }
    return true;
}
