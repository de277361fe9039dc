// Window: a handle plus thin wrappers over the Win32 calls the program makes, and the window
// procedure of the program's own window classes and of the windows it subclasses. Like the
// dialogs' procedure (dialog.h), it finds the window's object and dispatches through OnWndMsg.
#pragma once

#include "framework/msgmap.h"
#include "framework/object.h"
#include "framework/str.h"

// windowsx.h (which dshow.h includes) defines SubclassWindow as a macro: included first, its
// guard keeps it from coming back after the name is freed for CWnd's member.
#include <windowsx.h>
#undef SubclassWindow

// Registers a window class of the program (its executable's instance) whose procedure is the
// framework's; true also when it is registered already with that procedure, false when the
// name is taken by a class with another one or registration failed.
bool AfxRegisterWndClass(const wchar_t* pszClassName, UINT nClassStyle = 0,
                         HCURSOR hCursor = nullptr, HBRUSH hbrBackground = nullptr,
                         HICON hIcon = nullptr);

// The rectangle moved, at its size, the least way onto the work area of the monitor nearest
// `hNear` (of the rectangle itself when null); a rectangle larger than the area keeps its top
// left corner on it.
RECT AfxKeepOnWorkArea(const RECT& rc, HWND hNear = nullptr);

class CWnd : public CCmdTarget, private CNoCopy {
public:
    HWND m_hWnd = nullptr;

    // A window still attached is detached first, so that it never calls into a half-destroyed
    // object; then a subclassed one gets its own procedure back, any other is destroyed.
    ~CWnd() override;

    // Creates a window of a class registered with AfxRegisterWndClass, attached to this object
    // from its first message on. False (and m_hWnd null) when this object has a window already
    // or the window was not made, for example because OnCreate answered -1.
    bool CreateEx(DWORD dwExStyle, const wchar_t* pszClassName, const wchar_t* pszTitle,
                  DWORD dwStyle, const RECT& rect, HWND hParent, HMENU hMenuOrId = nullptr);
    // Routes an existing window of this thread (a control, a window of the platform's) through
    // this object's map; what no entry takes goes on to its own procedure. False when this
    // object has a window already, or the window is another thread's or a framework window's.
    bool SubclassWindow(HWND hWnd);
    // Detaches a subclassed window. Its own procedure is put back only while ours is still the
    // window's: a procedure set later stays, and what reaches ours goes on to the window's own.
    // Returns the window, or null when none was subclassed.
    HWND UnsubclassWindow();

    // The framework object of one of this thread's framework windows; null for any other
    // window, and for a framework window before its first message or after its end.
    static CWnd* FromHandlePermanent(HWND hWnd);
    // The parent window, for a popup its owner, as a framework object (see above).
    CWnd* GetParent() const { return FromHandlePermanent(::GetParent(m_hWnd)); }

    HWND GetDlgItem(int nID) const { return ::GetDlgItem(m_hWnd, nID); }
    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const {
        return ::SendMessageW(m_hWnd, message, wParam, lParam);
    }
    BOOL PostMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const {
        return ::PostMessageW(m_hWnd, message, wParam, lParam);
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
    BOOL ShowWindow(int nCmdShow) const { return ::ShowWindow(m_hWnd, nCmdShow); }
    UINT_PTR SetTimer(UINT_PTR nIDEvent, UINT nElapse) const {
        return ::SetTimer(m_hWnd, nIDEvent, nElapse, nullptr);
    }
    BOOL KillTimer(UINT_PTR nIDEvent) const { return ::KillTimer(m_hWnd, nIDEvent); }
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

    // Ties a window of this thread to this object (the one lookup of FromHandlePermanent) and
    // unties it; the window procedures call Detach at WM_NCDESTROY, before that message's
    // handler. An object is used on its window's thread only.
    bool Attach(HWND hWnd);
    void Detach();

private:
    static void GetText(HWND hWnd, CString& rString);
    static LRESULT CALLBACK WindowProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
    friend bool AfxRegisterWndClass(const wchar_t*, UINT, HCURSOR, HBRUSH, HICON);
    bool IsSubclassed() const;

    bool m_bDefault = false;
};
