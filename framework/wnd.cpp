#include "framework/wnd.h"

#include <string>

BOOL CWnd::DestroyWindow() {
    return m_hWnd != nullptr ? ::DestroyWindow(m_hWnd) : FALSE;
}

void CWnd::GetText(HWND hWnd, CString& rString) {
    int nLength = ::GetWindowTextLengthW(hWnd);
    std::wstring text(static_cast<std::size_t>(nLength) + 1, L'\0');
    nLength = ::GetWindowTextW(hWnd, text.data(), nLength + 1);
    rString = CString(text.c_str(), nLength);
}

bool CWnd::OnUnhandledCommand(WPARAM, LPARAM) {
    return false;
}

bool CWnd::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult) {
    *pResult = 0;
    const CMessageMapEntry* pEntry = FindMessageEntry(message, wParam, lParam);
    bool bOuterDefault = m_bDefault; // handlers may send messages to their own window
    m_bDefault = false;
    bool bHandled = false;
    try {
        if (pEntry != nullptr) {
            *pResult = pEntry->pfnHandler(this, wParam, lParam);
            bHandled = !m_bDefault;
        } else if (message == WM_COMMAND) {
            bHandled = OnUnhandledCommand(wParam, lParam);
        }
    } catch (...) {
        // The handler is abandoned; the message counts as handled. A paint that failed is
        // validated so that it does not come back forever.
        if (message == WM_PAINT) {
            ::ValidateRect(m_hWnd, nullptr);
        }
        *pResult = 0;
        bHandled = true;
    }
    m_bDefault = bOuterDefault;
    return bHandled;
}
