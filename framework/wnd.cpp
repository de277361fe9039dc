#include "framework/wnd.h"

#include "framework/app.h"
#include "framework/module.h"

#include <algorithm>
#include <string>
#include <unordered_map>

namespace {

// A framework window of this thread: its object, and a subclassed window's own procedure.
// The object is null once a subclassed window was detached while a procedure set later still
// called ours: ours then hands everything on to the window's own until the window ends.
struct CWndEntry {
    CWnd* pWnd;
    WNDPROC pfnSuper;
};
using CWndTable = std::unordered_map<HWND, CWndEntry>;

// This thread's framework windows (see FromHandlePermanent). Made with the first and freed
// with the last, so that a thread that ends with none leaves nothing behind.
thread_local CWndTable* t_pWindows = nullptr;

// The object whose CreateEx runs on this thread: its window takes it at its first message,
// which for some styles comes before WM_NCCREATE.
thread_local CWnd* t_pWndInit = nullptr;

CWndEntry* FindEntry(HWND hWnd) {
    if (t_pWindows == nullptr) {
        return nullptr;
    }
    auto it = t_pWindows->find(hWnd);
    return it != t_pWindows->end() ? &it->second : nullptr;
}

bool AddEntry(HWND hWnd, CWnd* pWnd) {
    try {
        if (t_pWindows == nullptr) {
            t_pWindows = new CWndTable;
        }
        return t_pWindows->emplace(hWnd, CWndEntry{pWnd, nullptr}).second;
    } catch (...) {
        return false; // out of memory: the window is not ours
    }
}

void RemoveEntry(HWND hWnd) {
    if (t_pWindows != nullptr && t_pWindows->erase(hWnd) != 0 && t_pWindows->empty()) {
        delete t_pWindows;
        t_pWindows = nullptr;
    }
}

LRESULT CallSuper(WNDPROC pfnSuper, HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    return pfnSuper != nullptr ? ::CallWindowProcW(pfnSuper, hWnd, message, wParam, lParam)
                               : ::DefWindowProcW(hWnd, message, wParam, lParam);
}

bool RunsOurProcedure(HWND hWnd, WNDPROC pfnOurs) {
    return ::GetWindowLongPtrW(hWnd, GWLP_WNDPROC) == reinterpret_cast<LONG_PTR>(pfnOurs);
}

} // namespace

bool AfxRegisterWndClass(const wchar_t* pszClassName, UINT nClassStyle, HCURSOR hCursor,
                         HBRUSH hbrBackground, HICON hIcon) {
    HINSTANCE hInstance = AfxGetInstanceHandle();
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    if (::GetClassInfoExW(hInstance, pszClassName, &wc)) {
        return wc.lpfnWndProc == &CWnd::WindowProc;
    }
    wc.style = nClassStyle;
    wc.lpfnWndProc = &CWnd::WindowProc;
    wc.hInstance = hInstance;
    wc.hIcon = hIcon;
    wc.hCursor = hCursor;
    wc.hbrBackground = hbrBackground;
    wc.lpszClassName = pszClassName;
    return ::RegisterClassExW(&wc) != 0;
}

RECT AfxKeepOnWorkArea(const RECT& rc, HWND hNear) {
    MONITORINFO mi{};
    mi.cbSize = sizeof(mi);
    HMONITOR hMonitor = hNear != nullptr ? ::MonitorFromWindow(hNear, MONITOR_DEFAULTTONEAREST)
                                         : ::MonitorFromRect(&rc, MONITOR_DEFAULTTONEAREST);
    if (!::GetMonitorInfoW(hMonitor, &mi)) {
        return rc;
    }
    const RECT& rcArea = mi.rcWork;
    LONG cx = rc.right - rc.left;
    LONG cy = rc.bottom - rc.top;
    LONG x = std::max(rcArea.left, std::min(rc.left, rcArea.right - cx));
    LONG y = std::max(rcArea.top, std::min(rc.top, rcArea.bottom - cy));
    return RECT{x, y, x + cx, y + cy};
}

CWnd::~CWnd() {
    if (HWND hWnd = m_hWnd; hWnd != nullptr) {
        bool bSubclassed = IsSubclassed();
        Detach();
        if (!bSubclassed) {
            ::DestroyWindow(hWnd);
        }
    }
}

bool CWnd::CreateEx(DWORD dwExStyle, const wchar_t* pszClassName, const wchar_t* pszTitle,
                    DWORD dwStyle, const RECT& rect, HWND hParent, HMENU hMenuOrId) {
    if (m_hWnd != nullptr) {
        return false;
    }
    t_pWndInit = this;
    HWND hWnd = ::CreateWindowExW(dwExStyle, pszClassName, pszTitle, dwStyle, rect.left, rect.top,
                                  rect.right - rect.left, rect.bottom - rect.top, hParent,
                                  hMenuOrId, AfxGetInstanceHandle(), nullptr);
    t_pWndInit = nullptr;
    if (hWnd == nullptr || m_hWnd != hWnd) {
        // Not a class of ours, or the object could not be tied to it: no half-made window.
        if (hWnd != nullptr) {
            ::DestroyWindow(hWnd);
        }
        Detach(); // nor an object tied to a window that ended before its last message
        return false;
    }
    return true;
}

bool CWnd::SubclassWindow(HWND hWnd) {
    // A window that runs our procedure anywhere in its chain (a framework window, one of our
    // classes, one whose subclass could not be undone) would reach it twice.
    if (m_hWnd != nullptr || hWnd == nullptr ||
        ::GetWindowThreadProcessId(hWnd, nullptr) != ::GetCurrentThreadId() ||
        FindEntry(hWnd) != nullptr || RunsOurProcedure(hWnd, &WindowProc) || !Attach(hWnd)) {
        return false;
    }
    auto pfnSuper = reinterpret_cast<WNDPROC>(
        ::SetWindowLongPtrW(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&WindowProc)));
    if (pfnSuper == nullptr) {
        Detach();
        return false;
    }
    FindEntry(hWnd)->pfnSuper = pfnSuper;
    return true;
}

HWND CWnd::UnsubclassWindow() {
    HWND hWnd = m_hWnd;
    if (!IsSubclassed()) {
        return nullptr;
    }
    Detach();
    return hWnd;
}

bool CWnd::IsSubclassed() const {
    const CWndEntry* pEntry = FindEntry(m_hWnd);
    return pEntry != nullptr && pEntry->pfnSuper != nullptr;
}

bool CWnd::Attach(HWND hWnd) {
    if (!AddEntry(hWnd, this)) {
        return false;
    }
    m_hWnd = hWnd;
    return true;
}

void CWnd::Detach() {
    HWND hWnd = m_hWnd;
    if (hWnd == nullptr) {
        return;
    }
    CWndEntry* pEntry = FindEntry(hWnd);
    WNDPROC pfnSuper = pEntry != nullptr ? pEntry->pfnSuper : nullptr;
    // A subclass is undone only while ours is still the window's procedure: one set later,
    // which calls ours, stays, and ours then hands everything on to the window's own.
    if (pfnSuper != nullptr && !RunsOurProcedure(hWnd, &WindowProc)) {
        pEntry->pWnd = nullptr;
    } else {
        if (pfnSuper != nullptr) {
            ::SetWindowLongPtrW(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(pfnSuper));
        }
        RemoveEntry(hWnd);
    }
    m_hWnd = nullptr;
    // The application must not keep pointing at a window that is gone.
    CWinApp* pApp = AfxGetApp();
    if (pApp != nullptr && pApp->m_pMainWnd == this) {
        pApp->m_pMainWnd = nullptr;
    }
}

// One lookup for every framework window, dialogs included: this thread's own table, which
// only Attach fills, and only with windows of this thread, so that no other window, of this
// process or another, can pass for one of ours. A window property read after a thread check
// would be as safe, but under Wine each read is a round trip to its server: about 30 us a
// message on a loaded machine, against well under one for the table.
CWnd* CWnd::FromHandlePermanent(HWND hWnd) {
    const CWndEntry* pEntry = FindEntry(hWnd);
    return pEntry != nullptr ? pEntry->pWnd : nullptr;
}

LRESULT CALLBACK CWnd::WindowProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    // Copied: a handler may end the window, and its entry with it.
    CWndEntry entry{nullptr, nullptr};
    if (const CWndEntry* pEntry = FindEntry(hWnd)) {
        entry = *pEntry;
    } else if (CWnd* pWnd = t_pWndInit; pWnd != nullptr) {
        t_pWndInit = nullptr;
        if (pWnd->Attach(hWnd)) {
            entry.pWnd = pWnd;
        }
    }
    LRESULT lResult = 0;
    if (entry.pWnd != nullptr) {
        if (message == WM_NCDESTROY) {
            entry.pWnd->Detach();
        }
        if (entry.pWnd->OnWndMsg(message, wParam, lParam, &lResult) && message != WM_NCDESTROY) {
            return lResult;
        }
    }
    // What no entry took, and the window's end whatever the handler did.
    lResult = CallSuper(entry.pfnSuper, hWnd, message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        RemoveEntry(hWnd); // left by a subclass that could not be undone
    }
    return lResult;
}

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
