#include "support/tool_keys.h"

#include "support/dialog_test.h"

#include <gtest/gtest.h>

#include <cwchar>
#include <vector>

HWND FindProcessWindow(CLookwellSession& session, const wchar_t* pszClass,
                       const wchar_t* pszTitlePart) {
    for (HWND hWnd : session.Windows()) {
        wchar_t szClass[64] = L"";
        ::GetClassNameW(hWnd, szClass, 64);
        if ((pszClass != nullptr && std::wcscmp(szClass, pszClass) == 0) ||
            (pszTitlePart != nullptr && WindowText(hWnd).find(pszTitlePart) != std::wstring::npos &&
             hWnd != session.Main())) {
            return hWnd;
        }
    }
    return nullptr;
}

HWND WaitForProcessWindow(CLookwellSession& session, const wchar_t* pszClass,
                          const wchar_t* pszTitlePart) {
    HWND hFound = nullptr;
    std::wstring what = pszClass != nullptr ? pszClass : pszTitlePart;
    EXPECT_TRUE(PumpUntil("a window " + std::string(what.begin(), what.end()), [&] {
        return (hFound = FindProcessWindow(session, pszClass, pszTitlePart)) != nullptr;
    }));
    return hFound;
}

HWND WaitForFileNameBox(HWND hDialog) {
    HWND hName = nullptr;
    EXPECT_TRUE(PumpUntil("the file name box", [&] {
        hName = nullptr;
        ::EnumChildWindows(
            hDialog,
            [](HWND hWnd, LPARAM lParam) -> BOOL {
                wchar_t szClass[16] = L"";
                ::GetClassNameW(hWnd, szClass, 16);
                if (_wcsicmp(szClass, L"Edit") == 0 && ::IsWindowVisible(hWnd) &&
                    ::IsWindowEnabled(hWnd)) {
                    *reinterpret_cast<HWND*>(lParam) = hWnd;
                    return FALSE;
                }
                return TRUE;
            },
            reinterpret_cast<LPARAM>(&hName));
        return hName != nullptr;
    }));
    return hName;
}
