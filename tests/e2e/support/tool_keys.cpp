#include "support/tool_keys.h"

#include "support/dialog_test.h"

#include <cwchar>
#include <vector>

void PressKeys(std::initializer_list<WORD> keys) {
    std::vector<INPUT> inputs;
    for (WORD vk : keys) {
        INPUT in{};
        in.type = INPUT_KEYBOARD;
        in.ki.wVk = vk;
        inputs.push_back(in);
    }
    for (auto it = keys.end(); it != keys.begin();) {
        INPUT in{};
        in.type = INPUT_KEYBOARD;
        in.ki.wVk = *--it;
        in.ki.dwFlags = KEYEVENTF_KEYUP;
        inputs.push_back(in);
    }
    for (INPUT& in : inputs) {
        ::SendInput(1, &in, sizeof(INPUT));
        ::Sleep(30);
    }
}

CScreenShot ClipboardFrame() {
    CScreenShot shot;
    if (!::OpenClipboard(nullptr)) {
        return shot;
    }
    if (HANDLE hData = ::GetClipboardData(CF_DIB); hData != nullptr) {
        if (const auto* pDib = static_cast<const BYTE*>(::GlobalLock(hData)); pDib != nullptr) {
            shot = CScreenShot::OfDib(pDib, ::GlobalSize(hData));
            ::GlobalUnlock(hData);
        }
    }
    ::CloseClipboard();
    return shot;
}

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
