// Dialog built from a template in the program's resources, run modally or (for tests) modeless.
#pragma once

#include "framework/wnd.h"

struct CDataExchange {
    BOOL m_bSaveAndValidate;
    CWnd* m_pDlgWnd;
};

class CDialog : public CWnd {
public:
    explicit CDialog(UINT nIDTemplate, CWnd* pParentWnd = nullptr);

    // Runs the dialog until it ends; its result, or -1 when it could not be created.
    virtual INT_PTR DoModal();
    // Creates the dialog modeless; false when it could not be created.
    bool Create(UINT nIDTemplate, CWnd* pParentWnd = nullptr);

    void EndDialog(int nResult);
    BOOL UpdateData(BOOL bSaveAndValidate = TRUE);

    // The result passed to the last EndDialog.
    INT_PTR m_nModalResult = -1;

protected:
    virtual BOOL OnInitDialog();
    virtual void OnOK();
    virtual void OnCancel();
    virtual void DoDataExchange(CDataExchange* pDX);

    // Routes commands that the dialog does not take to the application (ID_HELP).
    bool OnUnhandledCommand(WPARAM wParam, LPARAM lParam) override;

    UINT m_nIDTemplate;
    CWnd* m_pParentWnd;

    DECLARE_MESSAGE_MAP()

private:
    static INT_PTR CALLBACK DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR HandleInitDialog(HWND hWnd);
    void CenterWindow();
    HWND GetOwnerForModal() const;
};
