// Clicks on the picture: a lone left click pauses or resumes, a left double click grows the
// picture by a quarter and a right double click shrinks it.
#include "ui/lookwell_dlg.h"

#include <windowsx.h>

void CLookwellDlg::OnLButtonDown(UINT, POINT) {
    // Restarted by every press; a double click kills it before it fires.
    ::SetTimer(m_hWnd, TIMER_SINGLE_CLICK, ::GetDoubleClickTime(), nullptr);
    Default();
}

void CLookwellDlg::OnLButtonDblClk(UINT, POINT) {
    ::KillTimer(m_hWnd, TIMER_SINGLE_CLICK);
    if (m_bPreviewing) {
        Zoom(true);
    }
    Default();
}

void CLookwellDlg::OnRButtonDblClk(UINT, POINT) {
    if (m_bPreviewing) {
        Zoom(false);
    }
    Default();
}

void CLookwellDlg::Zoom(bool bGrow) {
    RECT rcFrame;
    ::GetWindowRect(GetDlgItem(IDC_PREVIEW), &rcFrame);
    // Where the click happened on the screen. The message's own point is relative to the
    // window that was clicked: the video window's, for clicks that reach us through its drain.
    DWORD dwPos = ::GetMessagePos();
    POINT pt{GET_X_LPARAM(dwPos), GET_Y_LPARAM(dwPos)};
    // All four edges count as inside.
    if (pt.x < rcFrame.left || pt.x > rcFrame.right || pt.y < rcFrame.top ||
        pt.y > rcFrame.bottom) {
        return;
    }
    int w = rcFrame.right - rcFrame.left;
    int h = rcFrame.bottom - rcFrame.top;
    int nWidth = bGrow ? w + w / 4 : w - w / 4;
    int nHeight = bGrow ? h + h / 4 : h - h / 4;
    // Past the limits the frame and window keep their size; the picture still changes.
    bool bLayout = bGrow ? nWidth < 16383 && nHeight < 16383 : nWidth >= 160 && nHeight >= 120;
    if (bLayout) {
        ResizeToVideo(nWidth, nHeight);
    }
    if (m_pVideoWindow != nullptr) {
        m_pVideoWindow->SetWindowPosition(0, 0, nWidth, nHeight);
    }
}
