// The hook on the dialog loops: the tools' keys, where they arrive at the main window, the
// information window or the full-screen picture, and the switches once the window is up.
#include "tools/picture_tools.h"

#include "ui/lookwell_dlg.h"

namespace {

// The only object whose hook runs: the hook procedure has no other way to find it.
CPictureTools* g_pTools = nullptr;
// Posted to the thread before the main window's loop starts; that loop is the first to run.
constexpr UINT kApplyOptions = WM_APP + 0x4C;

bool IsDown(int nKey) {
    return ::GetKeyState(nKey) < 0;
}

// The entry a switch names: a position written in digits, else the first entry that matches
// the text; -1 for none.
template <class Match> int FindEntry(HWND hCombo, const std::wstring& text, Match match) {
    int nCount = static_cast<int>(::SendMessageW(hCombo, CB_GETCOUNT, 0, 0));
    int nPosition = ParsePosition(text);
    if (nPosition >= 0) {
        return nPosition < nCount ? nPosition : -1;
    }
    for (int i = 0; i < nCount; ++i) {
        if (match(ComboEntryText(hCombo, i), text)) {
            return i;
        }
    }
    return -1;
}

} // namespace

CPictureTools::CPictureTools(CLookwellDlg& dlg) : m_dlg(dlg) {}

CPictureTools::~CPictureTools() {
    if (m_hInfo != nullptr && ::IsWindow(m_hInfo)) {
        ::DestroyWindow(m_hInfo);
    }
    if (m_nRestoreTimer != 0) {
        ::KillTimer(nullptr, m_nRestoreTimer);
    }
    if (m_hHook != nullptr) {
        ::UnhookWindowsHookEx(m_hHook);
    }
    if (g_pTools == this) {
        g_pTools = nullptr;
    }
}

bool CPictureTools::Install(const CCommandLine& options) {
    if (g_pTools != nullptr) {
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
        ::PostThreadMessageW(::GetCurrentThreadId(), kApplyOptions, 0, 0);
    }
    return true;
}

LRESULT CALLBACK CPictureTools::MsgFilterProc(int nCode, WPARAM wParam, LPARAM lParam) {
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

bool CPictureTools::OnFilterMessage(const MSG& msg) {
    HWND hMain = m_dlg.m_hWnd;
    if (hMain == nullptr) {
        return false;
    }
    if (m_dlg.m_pGraph != m_pSeenGraph) {
        // A new graph is a new start (messages follow a button press within milliseconds).
        m_pSeenGraph = m_dlg.m_pGraph;
        m_nStartTick = ::GetTickCount64();
        m_rateSamples.clear();
        m_counts = CCounts();
    }
    if (msg.hwnd == nullptr && msg.message == kApplyOptions) {
        if (m_bOptionsPending) {
            m_bOptionsPending = false;
            ApplyOptions();
        }
        return true;
    }
    if (msg.hwnd == nullptr && msg.message == WM_TIMER && m_nRestoreTimer != 0 &&
        msg.wParam == m_nRestoreTimer) {
        CheckRestoredVideo();
        return true;
    }
    HWND hRoot = msg.hwnd != nullptr ? ::GetAncestor(msg.hwnd, GA_ROOT) : nullptr;
    bool bOurs =
        hRoot != nullptr && (hRoot == hMain || hRoot == m_hInfo ||
                             (m_hFullScreenVideo != nullptr && hRoot == m_hFullScreenVideo));
    // While a modal window of ours (About, settings, Save As) is up, the main one is disabled.
    if (!bOurs || !::IsWindowEnabled(hMain)) {
        return false;
    }
    switch (msg.message) {
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
        return OnKey(msg);
    case WM_LBUTTONDBLCLK:
    case WM_RBUTTONDBLCLK:
        // A zoom would resize the full-screen picture behind the user's back, and the first
        // press's pause would follow: neither happens.
        if (!IsFullScreen()) {
            return false;
        }
        ::KillTimer(hMain, CLookwellDlg::TIMER_SINGLE_CLICK);
        return true;
    case WM_CLOSE:
        LeaveFullScreen(); // the window closes as it was
        return false;
    case WM_SYSCOMMAND:
        if ((msg.wParam & 0xFFF0) == SC_CLOSE) {
            LeaveFullScreen();
        }
        return false;
    default:
        return false;
    }
}

bool CPictureTools::OnKey(const MSG& msg) {
    bool bRepeat = (msg.lParam & (1 << 30)) != 0;
    bool bAlt = msg.message == WM_SYSKEYDOWN;
    bool bCtrl = IsDown(VK_CONTROL) && !bAlt && !IsDown(VK_SHIFT);
    HWND hRoot = ::GetAncestor(msg.hwnd, GA_ROOT);
    switch (msg.wParam) {
    case VK_F11:
        if (bAlt || IsDown(VK_CONTROL)) {
            return false;
        }
        if (!bRepeat) {
            ToggleFullScreen();
        }
        return true;
    case VK_ESCAPE:
        if (IsFullScreen()) {
            LeaveFullScreen();
            return true;
        }
        if (m_hInfo != nullptr && hRoot == m_hInfo) {
            ::DestroyWindow(m_hInfo);
            return true;
        }
        return false; // the main window's own Esc: nothing happens there
    case VK_RETURN:
    case VK_SPACE:
        if (!bAlt || msg.wParam == VK_SPACE) {
            // They belong to the focused button, which may stop the picture: the window is
            // back first.
            LeaveFullScreen();
            return false;
        }
        if (!bRepeat) {
            ShowSettingsPages();
        }
        return true;
    case 'C':
    case 'S':
    case 'M':
    case 'I':
        break;
    default:
        return false;
    }
    if (!bCtrl) {
        return false;
    }
    if (bRepeat) {
        return true;
    }
    switch (msg.wParam) {
    case 'C':
        CopyToClipboard();
        break;
    case 'S':
        SaveSnapshot();
        break;
    case 'M':
        ToggleMirror();
        break;
    default:
        ToggleInfoWindow();
        break;
    }
    return true;
}

void CPictureTools::ApplyOptions() {
    HWND hMain = m_dlg.m_hWnd;
    HWND hDevices = m_dlg.GetDlgItem(IDC_DEVICE_LIST);
    HWND hFormats = m_dlg.GetDlgItem(IDC_FORMAT_LIST);
    // As a person's choice in the list would: the selection, then its notification.
    auto choose = [hMain](HWND hCombo, int nId, int nEntry) {
        ::SendMessageW(hCombo, CB_SETCURSEL, static_cast<WPARAM>(nEntry), 0);
        ::SendMessageW(hMain, WM_COMMAND, MAKEWPARAM(nId, CBN_SELCHANGE),
                       reinterpret_cast<LPARAM>(hCombo));
    };
    CString strMessage;
    if (m_options.bDevice) {
        int nFound = FindEntry(hDevices, m_options.strDevice,
                               [](const std::wstring& entry, const std::wstring& text) {
                                   return ::_wcsicmp(entry.c_str(), text.c_str()) == 0;
                               });
        if (nFound < 0) {
            int nPosition = ParsePosition(m_options.strDevice);
            if (nPosition >= 0) {
                strMessage.Format(L"No capture device at position %d.", nPosition);
            } else {
                strMessage.Format(L"No capture device named \"%s\".", m_options.strDevice.c_str());
            }
            m_dlg.ShowMessage(strMessage);
            return;
        }
        choose(hDevices, IDC_DEVICE_LIST, nFound);
    }
    if (m_options.bFormat) {
        int nFound = FindEntry(hFormats, m_options.strFormat, EntryStartsWith);
        if (nFound < 0) {
            CString strDevice;
            m_dlg.GetDlgItemText(IDC_DEVICE_LIST, strDevice);
            int nPosition = ParsePosition(m_options.strFormat);
            if (nPosition >= 0) {
                strMessage.Format(L"No format at position %d for \"%s\".", nPosition,
                                  static_cast<const wchar_t*>(strDevice));
            } else {
                strMessage.Format(L"No format \"%s\" for \"%s\".", m_options.strFormat.c_str(),
                                  static_cast<const wchar_t*>(strDevice));
            }
            m_dlg.ShowMessage(strMessage);
            return;
        }
        choose(hFormats, IDC_FORMAT_LIST, nFound);
    }
    HWND hButton = m_dlg.GetDlgItem(IDC_PREVIEW_BUTTON);
    if ((m_options.bPreview || m_options.bFullScreen) && ::IsWindowEnabled(hButton)) {
        ::SendMessageW(hMain, WM_COMMAND, MAKEWPARAM(IDC_PREVIEW_BUTTON, BN_CLICKED),
                       reinterpret_cast<LPARAM>(hButton));
        // The press disabled the list that had the focus, and a window without a focus gets
        // no keys: the focus goes where a click would have put it.
        HWND hFocus = ::GetFocus();
        if (hFocus == nullptr || !::IsWindowEnabled(hFocus)) {
            ::SendMessageW(hMain, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(hButton), TRUE);
        }
    }
    if (m_options.bFullScreen && m_dlg.m_bPreviewing) {
        ToggleFullScreen();
    }
}
