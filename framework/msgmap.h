// Message maps: small static tables of (message, notification code, control id, handler),
// searched by the window procedure, each chaining to its base class's table.
#pragma once

#include "framework/object.h"

#include <windows.h>

class CCmdTarget;

struct CMessageMapEntry {
    UINT nMessage;
    UINT nCode; // WM_COMMAND and WM_NOTIFY only: notification code (0 for commands)
    UINT nID;   // WM_COMMAND and WM_NOTIFY only: command or control id
    LRESULT (*pfnHandler)(CCmdTarget* pTarget, WPARAM wParam, LPARAM lParam);
};

struct CMessageMap {
    const CMessageMap* (*pfnGetBaseMap)();
    const CMessageMapEntry* lpEntries;
};

// Anything with a message map: windows and the application.
class CCmdTarget : public CObject {
public:
    // The entry for this message in this object's maps, most derived first; null if none.
    const CMessageMapEntry* FindMessageEntry(UINT nMessage, WPARAM wParam, LPARAM lParam) const;

protected:
    static const CMessageMap* GetThisMessageMap();
    virtual const CMessageMap* GetMessageMap() const { return GetThisMessageMap(); }
};

#define DECLARE_MESSAGE_MAP()                                                                      \
protected:                                                                                         \
    static const CMessageMap* GetThisMessageMap();                                                 \
    const CMessageMap* GetMessageMap() const override;

#define BEGIN_MESSAGE_MAP(theClass, baseClass)                                                     \
    const CMessageMap* theClass::GetMessageMap() const {                                           \
        return GetThisMessageMap();                                                                \
    }                                                                                              \
    const CMessageMap* theClass::GetThisMessageMap() {                                             \
        using ThisClass [[maybe_unused]] = theClass; /* unused by an empty map */                  \
        using TheBaseClass = baseClass;                                                            \
        static const CMessageMapEntry entries[] = {

#define END_MESSAGE_MAP()                                                                          \
    { 0, 0, 0, nullptr }                                                                           \
    }                                                                                              \
    ;                                                                                              \
    static const CMessageMap messageMap = {&TheBaseClass::GetThisMessageMap, entries};             \
    return &messageMap;                                                                            \
    }

#define AFX_HANDLER(body)                                                                          \
    [](CCmdTarget* pTarget, [[maybe_unused]] WPARAM wParam,                                        \
       [[maybe_unused]] LPARAM lParam) -> LRESULT {                                                \
        ThisClass* pThis = static_cast<ThisClass*>(pTarget);                                       \
        body;                                                                                      \
        return 0;                                                                                  \
    }

// Commands and control notifications.
#define ON_COMMAND(id, memberFxn) {WM_COMMAND, 0, id, AFX_HANDLER((pThis->*(memberFxn))())},
#define ON_BN_CLICKED(id, memberFxn)                                                               \
    {WM_COMMAND, BN_CLICKED, id, AFX_HANDLER((pThis->*(memberFxn))())},
#define ON_CBN_SELCHANGE(id, memberFxn)                                                            \
    {WM_COMMAND, CBN_SELCHANGE, id, AFX_HANDLER((pThis->*(memberFxn))())},

// A control's WM_NOTIFY of that code, from the control of that id; the handler may set the
// message's result.
#define ON_NOTIFY(code, id, memberFxn)                                                             \
    {WM_NOTIFY, static_cast<UINT>(code), id,                                                       \
     [](CCmdTarget* pTarget, WPARAM, LPARAM lParam) -> LRESULT {                                   \
         LRESULT lResult = 0;                                                                      \
         (static_cast<ThisClass*>(pTarget)->*(memberFxn))(reinterpret_cast<NMHDR*>(lParam),        \
                                                          &lResult);                               \
         return lResult;                                                                           \
     }},

// A message of the program's own, its parameters as they come.
#define ON_MESSAGE(message, memberFxn)                                                             \
    {message, 0, 0, [](CCmdTarget* pTarget, WPARAM wParam, LPARAM lParam) -> LRESULT {             \
         return (static_cast<ThisClass*>(pTarget)->*(memberFxn))(wParam, lParam);                  \
     }},

// Window messages, each cracked for its handler's prescribed name.
#define ON_WM_CREATE()                                                                             \
    {WM_CREATE, 0, 0, [](CCmdTarget* pTarget, WPARAM, LPARAM lParam) -> LRESULT {                  \
         return static_cast<ThisClass*>(pTarget)->OnCreate(                                        \
             reinterpret_cast<LPCREATESTRUCT>(lParam));                                            \
     }},
#define ON_WM_DESTROY() {WM_DESTROY, 0, 0, AFX_HANDLER(pThis->OnDestroy())},
// The object is detached already (m_hWnd null): the window is gone.
#define ON_WM_NCDESTROY() {WM_NCDESTROY, 0, 0, AFX_HANDLER(pThis->OnNcDestroy())},
#define ON_WM_SIZE()                                                                               \
    {WM_SIZE, 0, 0,                                                                                \
     AFX_HANDLER(pThis->OnSize(static_cast<UINT>(wParam), LOWORD(lParam), HIWORD(lParam)))},
#define ON_WM_KEYDOWN()                                                                            \
    {WM_KEYDOWN, 0, 0,                                                                             \
     AFX_HANDLER(pThis->OnKeyDown(static_cast<UINT>(wParam), LOWORD(lParam), HIWORD(lParam)))},
#define ON_WM_PAINT() {WM_PAINT, 0, 0, AFX_HANDLER(pThis->OnPaint())},
#define ON_WM_CLOSE() {WM_CLOSE, 0, 0, AFX_HANDLER(pThis->OnClose())},
#define ON_WM_GETMINMAXINFO()                                                                      \
    {WM_GETMINMAXINFO, 0, 0,                                                                       \
     AFX_HANDLER(pThis->OnGetMinMaxInfo(reinterpret_cast<MINMAXINFO*>(lParam)))},
#define ON_WM_QUERYDRAGICON()                                                                      \
    {WM_QUERYDRAGICON, 0, 0, [](CCmdTarget* pTarget, WPARAM, LPARAM) -> LRESULT {                  \
         return reinterpret_cast<LRESULT>(static_cast<ThisClass*>(pTarget)->OnQueryDragIcon());    \
     }},
#define ON_WM_SYSCOMMAND()                                                                         \
    {WM_SYSCOMMAND, 0, 0, AFX_HANDLER(pThis->OnSysCommand(static_cast<UINT>(wParam), lParam))},
#define ON_WM_TIMER() {WM_TIMER, 0, 0, AFX_HANDLER(pThis->OnTimer(static_cast<UINT_PTR>(wParam)))},
#define AFX_MOUSE_HANDLER(msg, memberFxn)                                                          \
    {msg, 0, 0,                                                                                    \
     AFX_HANDLER(                                                                                  \
         pThis->memberFxn(static_cast<UINT>(wParam), POINT{static_cast<short>(LOWORD(lParam)),     \
                                                           static_cast<short>(HIWORD(lParam))}))},
#define ON_WM_LBUTTONDOWN() AFX_MOUSE_HANDLER(WM_LBUTTONDOWN, OnLButtonDown)
#define ON_WM_LBUTTONDBLCLK() AFX_MOUSE_HANDLER(WM_LBUTTONDBLCLK, OnLButtonDblClk)
#define ON_WM_RBUTTONDBLCLK() AFX_MOUSE_HANDLER(WM_RBUTTONDBLCLK, OnRButtonDblClk)
