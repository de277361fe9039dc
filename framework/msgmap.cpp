#include "framework/msgmap.h"

const CMessageMap* CCmdTarget::GetThisMessageMap() {
    static const CMessageMapEntry entries[] = {{0, 0, 0, nullptr}};
    static const CMessageMap messageMap = {nullptr, entries};
    return &messageMap;
}

const CMessageMapEntry* CCmdTarget::FindMessageEntry(UINT nMessage, WPARAM wParam,
                                                     LPARAM lParam) const {
    UINT nID = 0;
    UINT nCode = 0;
    if (nMessage == WM_COMMAND) {
        nID = LOWORD(wParam);
        // Menus and accelerators (no control window) count as plain commands.
        nCode = lParam != 0 ? HIWORD(wParam) : 0;
    } else if (nMessage == WM_NOTIFY && lParam != 0) {
        const auto* pHeader = reinterpret_cast<const NMHDR*>(lParam);
        nID = static_cast<UINT>(pHeader->idFrom);
        nCode = pHeader->code;
    }
    bool bRouted = nMessage == WM_COMMAND || nMessage == WM_NOTIFY;
    for (const CMessageMap* pMap = GetMessageMap(); pMap != nullptr;
         pMap = pMap->pfnGetBaseMap != nullptr ? pMap->pfnGetBaseMap() : nullptr) {
        for (const CMessageMapEntry* pEntry = pMap->lpEntries; pEntry->pfnHandler != nullptr;
             ++pEntry) {
            if (pEntry->nMessage == nMessage &&
                (!bRouted || (pEntry->nID == nID && pEntry->nCode == nCode))) {
                return pEntry;
            }
        }
    }
    return nullptr;
}
