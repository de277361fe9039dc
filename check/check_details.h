// One format's details in the results window: its small picture and a plot of its frame
// intervals over the measuring window, each drawn with GDI in a child window of its own.
#pragma once

#include "check/check_report.h"
#include "framework/wnd.h"

// The plot's colours: a normal interval, a gap (longer than 1.5 median intervals, the cadence
// the drops are counted against), the nominal interval's dashed line, and the silence after a
// stop.
constexpr COLORREF kPlotIntervalColour = RGB(40, 80, 170);
constexpr COLORREF kPlotGapColour = RGB(215, 30, 30);
constexpr COLORREF kPlotNominalColour = RGB(0, 150, 60);
constexpr COLORREF kPlotStoppedColour = RGB(255, 222, 222);

// The picture centred in the rectangle: enlarged by a whole factor, each pixel a sharp block,
// where it fits, else made smaller to fit. "No picture" where there is none or it is malformed.
void DrawThumbnail(HDC hdc, const RECT& rc, const CThumbnail& thumbnail);
// Each interval as a stem at the moment it ended, as tall as it lasted; gaps in red, clipped
// ones marked at the top; the nominal interval as a line; a stop marked and the silence after
// it shaded. The window's own font and a white ground.
void DrawIntervalPlot(HDC hdc, const RECT& rc, const CFormatMeasurement& row);

// A child window that draws one row's picture or plot; it keeps a copy of the row.
class CCheckDrawingWnd : public CWnd {
public:
    enum class Kind { Picture, Plot };
    explicit CCheckDrawingWnd(Kind kind) : m_kind(kind) {}

    // Registers the kind's class ("LookwellCheckPicture", "LookwellCheckPlot") and makes the
    // child; false when it could not be made.
    bool Create(HWND hParent, int nID);
    void SetRow(const CFormatMeasurement& row);
    void Clear();

private:
    void OnPaint();
    LRESULT OnPrintClient(WPARAM wParam, LPARAM lParam);
    void Draw(HDC hdc, const RECT& rc);

    Kind m_kind;
    bool m_bHasRow = false;
    CFormatMeasurement m_row;

    DECLARE_MESSAGE_MAP()
};
