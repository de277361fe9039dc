// The tooltip over the picture frame: what the mouse and keys do there, for a user who has not
// read about them. The platform's tooltip control, fed the frame's mouse messages from the
// dialog loop's hook, so that neither the frame nor the renderer's window is subclassed and a
// click reaches them exactly as before.
#include "tools/tool_host.h"

#include "ui/lookwell_dlg.h"

#include <commctrl.h>

namespace {

constexpr wchar_t kTipText[] = L"Click: pause or resume\r\n"
                               L"Double click: larger; right double click: smaller\r\n"
                               L"F11: full screen (Esc leaves it)\r\n"
                               L"Ctrl+C: copy the picture; Ctrl+S: save it\r\n"
                               L"Ctrl+R: record (Ctrl+Shift+R: uncompressed)\r\n"
                               L"Ctrl+T: check the camera\r\n"
                               L"Ctrl+I: information; Ctrl+M: mirror\r\n"
                               L"Alt+Enter: the camera's settings";
constexpr int kTipWidth = 400; // lines break only where the text does

} // namespace

void CToolHost::CreatePictureTip() {
    INITCOMMONCONTROLSEX init{sizeof(init), ICC_WIN95_CLASSES};
    HWND hFrame = m_dlg.GetDlgItem(IDC_PREVIEW);
    if (!::InitCommonControlsEx(&init) || hFrame == nullptr) {
        return;
    }
    // Always: also while the window is not the active one, as over a paused picture.
    m_hTip =
        ::CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr,
                          WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP, CW_USEDEFAULT, CW_USEDEFAULT,
                          CW_USEDEFAULT, CW_USEDEFAULT, m_dlg.m_hWnd, nullptr, nullptr, nullptr);
    if (m_hTip == nullptr) {
        return;
    }
    m_tip.SubclassWindow(m_hTip);
    TTTOOLINFOW tool{};
    tool.cbSize = sizeof(tool);
    // The whole frame, whatever its size; transparent to the mouse, should it come under it.
    tool.uFlags = TTF_IDISHWND | TTF_TRANSPARENT;
    tool.hwnd = m_dlg.m_hWnd;
    tool.uId = reinterpret_cast<UINT_PTR>(hFrame);
    tool.lpszText = const_cast<wchar_t*>(kTipText);
    ::SendMessageW(m_hTip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    ::SendMessageW(m_hTip, TTM_SETMAXTIPWIDTH, 0, kTipWidth);
}

void CToolHost::RelayToPictureTip(const MSG& msg) {
    // Made with the first message of the main window's loop: the hook is installed before the
    // window exists.
    if (!m_bTipMade) {
        m_bTipMade = true;
        CreatePictureTip();
    }
    if (m_hTip == nullptr) {
        return;
    }
    m_tip.SubclassWindow(m_hTip);
    if (msg.message == WM_KEYDOWN || msg.message == WM_SYSKEYDOWN) {
        ::SendMessageW(m_hTip, TTM_POP, 0, 0);
        return;
    }
    if (msg.message < WM_MOUSEFIRST || msg.message > WM_MOUSELAST || IsFullScreen()) {
        return;
    }
    // Over the idle frame the dialog gets the message (the static frame lets the mouse through),
    // over the picture the renderer's window: either way it goes on as the frame's own.
    HWND hFrame = m_dlg.GetDlgItem(IDC_PREVIEW);
    POINT pt{GET_X_LPARAM(msg.lParam), GET_Y_LPARAM(msg.lParam)};
    ::MapWindowPoints(msg.hwnd, hFrame, &pt, 1);
    RECT rcFrame{};
    ::GetClientRect(hFrame, &rcFrame);
    MSG relayed = msg;
    if (!::PtInRect(&rcFrame, pt)) {
        relayed.hwnd = m_dlg.m_hWnd; // off the frame: the tip's hide
        ::MapWindowPoints(hFrame, m_dlg.m_hWnd, &pt, 1);
    } else {
        relayed.hwnd = hFrame;
    }
    relayed.lParam = MAKELPARAM(pt.x, pt.y);
    ::SendMessageW(m_hTip, TTM_RELAYEVENT, 0, reinterpret_cast<LPARAM>(&relayed));
}

BEGIN_MESSAGE_MAP(CToolHost::CPictureTipWnd, CWnd)
ON_MESSAGE(TTM_WINDOWFROMPOINT, &CToolHost::CPictureTipWnd::OnWindowFromPoint)
END_MESSAGE_MAP()

LRESULT CToolHost::CPictureTipWnd::OnWindowFromPoint(WPARAM, LPARAM lParam) {
    const POINT pt = *reinterpret_cast<const POINT*>(lParam);
    HWND hFrame = m_tools.m_dlg.GetDlgItem(IDC_PREVIEW);
    RECT rcFrame{};
    ::GetWindowRect(hFrame, &rcFrame);
    HWND hUnder = ::WindowFromPoint(pt);
    // Over the frame of our window: the picture in it, or the idle frame that lets the mouse
    // through to the dialog.
    if (::PtInRect(&rcFrame, pt) && hUnder != nullptr &&
        (hUnder == m_tools.m_dlg.m_hWnd || ::IsChild(m_tools.m_dlg.m_hWnd, hUnder))) {
        return reinterpret_cast<LRESULT>(hFrame);
    }
    return reinterpret_cast<LRESULT>(hUnder);
}
