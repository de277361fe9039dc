#include "framework/app.h"

#include <string>

namespace {
CWinApp* g_pApp = nullptr;
}

CWinApp::CWinApp(const wchar_t* pszAppName) {
    if (pszAppName != nullptr) {
        m_strAppName = pszAppName;
        m_pszAppName = m_strAppName;
    }
    g_pApp = this;
}

CWinApp::~CWinApp() {
    if (g_pApp == this) {
        g_pApp = nullptr;
    }
}

BOOL CWinApp::InitInstance() {
    return TRUE;
}

int CWinApp::ExitInstance() {
    return 0;
}

void CWinApp::SetCurrentHandles(HINSTANCE hInstance) {
    m_hInstance = hInstance;
    AfxSetModuleHandles(hInstance, hInstance);
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        DWORD nLength =
            ::GetModuleFileNameW(hInstance, path.data(), static_cast<DWORD>(path.size()));
        if (nLength < path.size()) {
            path.resize(nLength);
            break;
        }
        path.resize(path.size() * 2);
    }
    // The executable's file name without directory and extension.
    std::size_t nameStart = path.find_last_of(L"\\/:");
    nameStart = nameStart == std::wstring::npos ? 0 : nameStart + 1;
    std::size_t dot = path.find_last_of(L'.');
    std::size_t nameEnd = dot == std::wstring::npos || dot < nameStart ? path.size() : dot;
    m_strExeName = CString(path.c_str() + nameStart, static_cast<int>(nameEnd - nameStart));
    m_pszExeName = m_strExeName;
    if (m_pszAppName == nullptr) {
        m_strAppName = m_strExeName;
        m_pszAppName = m_strAppName;
    }
    std::wstring helpPath = path.substr(0, nameEnd) + L".HLP";
    m_strHelpFilePath = helpPath.c_str();
    m_pszHelpFilePath = m_strHelpFilePath;
}

void CWinApp::OnHelp() {
    WinHelp(0, HELP_FINDER);
}

void CWinApp::WinHelp(DWORD_PTR dwData, UINT nCmd) {
    HWND hWnd = m_pMainWnd != nullptr ? m_pMainWnd->m_hWnd : nullptr;
    ::WinHelpW(hWnd, m_pszHelpFilePath, nCmd, dwData);
}

CWinApp* AfxGetApp() {
    return g_pApp;
}

CWnd* AfxGetMainWnd() {
    return g_pApp != nullptr ? g_pApp->m_pMainWnd : nullptr;
}

const wchar_t* AfxGetAppName() {
    return g_pApp != nullptr ? g_pApp->m_pszAppName : nullptr;
}

int AfxWinMain(HINSTANCE hInstance) {
    CWinApp* pApp = AfxGetApp();
    if (pApp == nullptr) {
        return -1;
    }
    pApp->SetCurrentHandles(hInstance);
    // No message loop of the framework's own follows: every window runs its own.
    pApp->InitInstance();
    return pApp->ExitInstance();
}
