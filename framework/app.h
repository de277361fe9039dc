// The application: one global object, started by the framework's entry point.
#pragma once

#include "framework/module.h"
#include "framework/object.h"
#include "framework/wnd.h"

class CWinApp : public CCmdTarget, private CNoCopy {
public:
    // pszAppName null: the application is named after its executable.
    explicit CWinApp(const wchar_t* pszAppName = nullptr);
    ~CWinApp() override;

    // Called once after the framework's own start; false ends the program without a
    // message loop.
    virtual BOOL InitInstance();
    // The process's exit code.
    virtual int ExitInstance();

    // Three-dimensional controls are the system's own drawing today; kept for its callers.
    BOOL Enable3dControlsStatic() { return TRUE; }

    // ID_HELP: opens the help file named after the executable.
    void OnHelp();
    virtual void WinHelp(DWORD_PTR dwData, UINT nCmd);

    // Sets the module's handles, both to hInstance, and the names derived from the
    // executable's file name.
    void SetCurrentHandles(HINSTANCE hInstance);

    HINSTANCE m_hInstance = nullptr;
    const wchar_t* m_pszAppName = nullptr;
    const wchar_t* m_pszExeName = nullptr;
    const wchar_t* m_pszHelpFilePath = nullptr;
    CWnd* m_pMainWnd = nullptr;

private:
    CString m_strAppName;
    CString m_strExeName;
    CString m_strHelpFilePath;
};

CWinApp* AfxGetApp();
CWnd* AfxGetMainWnd();
const wchar_t* AfxGetAppName();

// The framework's start: names the application, runs InitInstance, returns the exit code.
int AfxWinMain(HINSTANCE hInstance);
