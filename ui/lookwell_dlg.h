// The main window: device and format lists, the preview button and the picture frame.
#pragma once

#include "framework/dialog.h"
#include "res/resource.h"

#include <strmif.h>
#include <control.h>

class CLookwellDlg : public CDialog {
public:
    explicit CLookwellDlg(CWnd* pParent = nullptr);
    ~CLookwellDlg() override = default;

    enum { IDD = IDD_LOOKWELL_DIALOG };

    // Fits the picture frame to width x height and sizes the window around it.
    void ResizeToVideo(int width, int height);

    HICON m_hSharedIcon = nullptr;
    HICON m_hIcon = nullptr;
    CString m_strButtonCaption;
    IVideoWindow* m_pVideoWindow = nullptr;
    ICaptureGraphBuilder2* m_pBuilder = nullptr;
    IMediaControl* m_pMediaControl = nullptr;
    IGraphBuilder* m_pGraph = nullptr;
    IBaseFilter* m_pCaptureFilter = nullptr;
    CString m_strTitle;
    WORD m_nDeviceCount = 0;
    int m_bPreviewing = 0;
    int m_bClosing = 0;

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;
    void OnOK() override;
    void OnCancel() override;

    void OnSysCommand(UINT nID, LPARAM lParam);
    void OnClose();

    DECLARE_MESSAGE_MAP()
};
