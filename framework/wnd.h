// Window: a handle plus thin wrappers over the Win32 calls the program makes.
#pragma once

#include "framework/msgmap.h"
#include "framework/str.h"

class CWnd : public CCmdTarget {
public:
    HWND m_hWnd = nullptr;

    // The framework object of one of this thread's framework windows; null for any other
    // window, and for a framework window before its initialisation or after its end.
    static CWnd* FromHandlePermanent(HWND hWnd);
    // The parent window, for a popup its owner, as a framework object (see above).
    CWnd* GetParent() const { return FromHandlePermanent(::GetParent(m_hWnd)); }

    HWND GetDlgItem(int nID) const { return ::GetDlgItem(m_hWnd, nID); }
    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const {
        return ::SendMessageW(m_hWnd, message, wParam, lParam);
    }
    LRESULT SendDlgItemMessage(int nID, UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const {
        return ::SendDlgItemMessageW(m_hWnd, nID, message, wParam, lParam);
    }
    void SetWindowText(const wchar_t* pszText) const { ::SetWindowTextW(m_hWnd, pszText); }
    void GetWindowText(CString& rString) const { GetText(m_hWnd, rString); }
    void SetDlgItemText(int nID, const wchar_t* pszText) const {
        ::SetDlgItemTextW(m_hWnd, nID, pszText);
    }
    void GetDlgItemText(int nID, CString& rString) const { GetText(GetDlgItem(nID), rString); }
    HMENU GetSystemMenu(BOOL bRevert) const { return ::GetSystemMenu(m_hWnd, bRevert); }
    BOOL IsIconic() const { return ::IsIconic(m_hWnd); }
    void GetClientRect(RECT* pRect) const { ::GetClientRect(m_hWnd, pRect); }
    void GetWindowRect(RECT* pRect) const { ::GetWindowRect(m_hWnd, pRect); }
    BOOL DestroyWindow();

    // Asks for the system's default processing of the message being handled, once the
    // handler returns; every handler that wants it calls this last.
    void Default() { m_bDefault = true; }

    // The window procedures' dispatch: runs the handler of the message from the message map.
    // Returns false when the message is to get default processing. Catches everything a
    // handler throws, since nothing may unwind through Windows.
    bool OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult);

protected:
    // Commands no entry of this window's map takes; false when nobody took it.
    virtual bool OnUnhandledCommand(WPARAM wParam, LPARAM lParam);

private:
    static void GetText(HWND hWnd, CString& rString);

    bool m_bDefault = false;
};
