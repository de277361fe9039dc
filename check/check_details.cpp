#include "check/check_details.h"

#include "framework/dib.h"
#include "framework/object.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <cwchar>

namespace {

constexpr wchar_t kPictureClass[] = L"LookwellCheckPicture";
constexpr wchar_t kPlotClass[] = L"LookwellCheckPlot";
constexpr LONG kMaxThumbnailSide = 4096;
constexpr COLORREF kAxisColour = RGB(150, 150, 150);
constexpr COLORREF kLabelColour = RGB(80, 80, 80);

bool IsWhole(const CThumbnail& thumbnail) {
    return thumbnail.nWidth > 0 && thumbnail.nHeight > 0 && thumbnail.nWidth <= kMaxThumbnailSide &&
           thumbnail.nHeight <= kMaxThumbnailSide &&
           thumbnail.pixels.size() ==
               static_cast<size_t>(thumbnail.nWidth) * static_cast<size_t>(thumbnail.nHeight) * 3;
}

void DrawText(HDC hdc, const std::wstring& text, RECT rc, UINT nFormat, COLORREF colour) {
    ::SetTextColor(hdc, colour);
    ::DrawTextW(hdc, text.c_str(), static_cast<int>(text.size()), &rc,
                nFormat | DT_SINGLELINE | DT_NOPREFIX);
}

std::wstring Number(const wchar_t* pszFormat, double dValue) {
    wchar_t sz[64];
    ::swprintf(sz, 64, pszFormat, dValue);
    return sz;
}

// The smallest of 1, 2, 2.5 and 5 times a power of ten that is at least the value.
double NiceCeiling(double dValue) {
    double dPower = std::pow(10.0, std::floor(std::log10(std::max(dValue, 1e-3))));
    for (double dStep : {1.0, 2.0, 2.5, 5.0, 10.0}) {
        if (dStep * dPower >= dValue) {
            return dStep * dPower;
        }
    }
    return 10.0 * dPower;
}

void Line(HDC hdc, LONG x1, LONG y1, LONG x2, LONG y2) {
    ::MoveToEx(hdc, x1, y1, nullptr);
    ::LineTo(hdc, x2, y2);
}

constexpr CEnumText<StopCause> kStopTexts[] = {
    {StopCause::Error, L"stopped: the camera's error"},
    {StopCause::Removed, L"stopped: the camera was removed"},
    {StopCause::Silent, L"stopped: no more pictures"},
};

// A pen selected for a scope.
class CPen : private CNoCopy {
public:
    CPen(HDC hdc, int nStyle, int nWidth, COLORREF colour)
        : m_hdc(hdc), m_hPen(::CreatePen(nStyle, nWidth, colour)),
          m_hOld(::SelectObject(hdc, m_hPen)) {}
    ~CPen() {
        ::SelectObject(m_hdc, m_hOld);
        ::DeleteObject(m_hPen);
    }

private:
    HDC m_hdc;
    HPEN m_hPen;
    HGDIOBJ m_hOld;
};

} // namespace

void DrawThumbnail(HDC hdc, const RECT& rc, const CThumbnail& thumbnail) {
    ::FillRect(hdc, &rc, ::GetSysColorBrush(COLOR_BTNFACE));
    ::SetBkMode(hdc, TRANSPARENT);
    LONG nBoxWidth = rc.right - rc.left;
    LONG nBoxHeight = rc.bottom - rc.top;
    if (!IsWhole(thumbnail)) {
        DrawText(hdc, L"No picture", rc, DT_CENTER | DT_VCENTER, ::GetSysColor(COLOR_GRAYTEXT));
        return;
    }
    if (nBoxWidth <= 0 || nBoxHeight <= 0) {
        return;
    }
    LONG nWidth = thumbnail.nWidth;
    LONG nHeight = thumbnail.nHeight;
    // A whole factor keeps every pixel a sharp square; only a picture too large is resampled.
    bool bWhole = nWidth <= nBoxWidth && nHeight <= nBoxHeight;
    LONG nDrawWidth = nWidth;
    LONG nDrawHeight = nHeight;
    if (bWhole) {
        LONG nFactor = std::min(nBoxWidth / nWidth, nBoxHeight / nHeight);
        nDrawWidth *= nFactor;
        nDrawHeight *= nFactor;
    } else if (nBoxWidth * nHeight <= nBoxHeight * nWidth) {
        nDrawWidth = nBoxWidth;
        nDrawHeight = std::max<LONG>(1, nHeight * nBoxWidth / nWidth);
    } else {
        nDrawHeight = nBoxHeight;
        nDrawWidth = std::max<LONG>(1, nWidth * nBoxHeight / nHeight);
    }
    // A DIB's rows are whole DWORDs; the thumbnail's are packed.
    size_t nRow = static_cast<size_t>(nWidth) * 3;
    size_t nStride = (nRow + 3) & ~static_cast<size_t>(3);
    std::vector<BYTE> bits(nStride * static_cast<size_t>(nHeight));
    for (size_t y = 0; y < static_cast<size_t>(nHeight); ++y) {
        std::memcpy(&bits[y * nStride], &thumbnail.pixels[y * nRow], nRow);
    }
    BITMAPINFO bmi{};
    bmi.bmiHeader = AfxRgbBitmapHeader(nWidth, -nHeight, 24);
    int nOldMode = ::SetStretchBltMode(hdc, bWhole ? COLORONCOLOR : HALFTONE);
    ::SetBrushOrgEx(hdc, 0, 0, nullptr); // as HALFTONE asks
    ::StretchDIBits(hdc, rc.left + (nBoxWidth - nDrawWidth) / 2,
                    rc.top + (nBoxHeight - nDrawHeight) / 2, nDrawWidth, nDrawHeight, 0, 0, nWidth,
                    nHeight, bits.data(), &bmi, DIB_RGB_COLORS, SRCCOPY);
    ::SetStretchBltMode(hdc, nOldMode);
}

void DrawIntervalPlot(HDC hdc, const RECT& rc, const CFormatMeasurement& row) {
    ::FillRect(hdc, &rc, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
    ::FrameRect(hdc, &rc, ::GetSysColorBrush(COLOR_BTNSHADOW));
    ::SetBkMode(hdc, TRANSPARENT);
    const std::vector<float>& intervals = row.intervalsMs;
    if (intervals.empty()) {
        DrawText(hdc, row.bStarted ? L"No intervals recorded" : L"No pictures", rc,
                 DT_CENTER | DT_VCENTER, ::GetSysColor(COLOR_GRAYTEXT));
        return;
    }
    // A stopped stream's last interval is the silence after its last picture: shaded, no stem.
    bool bStopped = row.stopCause != StopCause::None;
    size_t nStems = intervals.size() - (bStopped ? 1 : 0);

    TEXTMETRICW tm{};
    ::GetTextMetricsW(hdc, &tm);
    LONG nLine = tm.tmHeight;
    SIZE labelSize{};
    ::GetTextExtentPoint32W(hdc, L"0000 ms", 7, &labelSize);
    RECT plot{rc.left + labelSize.cx + 8, rc.top + nLine + 6, rc.right - 10, rc.bottom - nLine - 6};
    if (plot.right - plot.left < 20 || plot.bottom - plot.top < 20) {
        return;
    }

    double dTotal = 0;
    double dLongest = 0;
    std::vector<double> sorted;
    for (size_t i = 0; i < intervals.size(); ++i) {
        dTotal += intervals[i];
        if (i < nStems) {
            dLongest = std::max<double>(dLongest, intervals[i]);
            sorted.push_back(intervals[i]);
        }
    }
    double dSpan = std::max(row.dWindowMs, dTotal);
    double dNominal = row.dNominalFps > 0 ? 1000.0 / row.dNominalFps : 0;
    double dMedian = row.dMedianMs;
    if (dMedian <= 0 && !sorted.empty()) {
        std::nth_element(sorted.begin(), sorted.begin() + static_cast<ptrdiff_t>(sorted.size() / 2),
                         sorted.end());
        dMedian = sorted[sorted.size() / 2];
    }
    // Room for twice the cadence; a long gap beyond four times it is clipped, not allowed to
    // flatten every other interval.
    double dBase = std::max(dNominal, dMedian);
    if (dBase <= 0) {
        dBase = std::max(dLongest, 1.0);
    }
    double dTop = NiceCeiling(std::max(2 * dBase, std::min(dLongest, 4 * dBase)));
    if (dSpan <= 0) {
        dSpan = 1;
    }
    LONG nPlotWidth = plot.right - plot.left;
    LONG nPlotHeight = plot.bottom - plot.top;
    auto x = [&](double dMs) {
        return plot.left +
               static_cast<LONG>(std::lround(std::min(dMs, dSpan) / dSpan * nPlotWidth));
    };
    auto y = [&](double dMs) {
        return plot.bottom -
               static_cast<LONG>(std::lround(std::min(dMs, dTop) / dTop * nPlotHeight));
    };

    // The title gives way, shortened or left out, where it would run into the nominal's label.
    std::wstring nominalLabel =
        dNominal > 0 && dNominal <= dTop ? Number(L"nominal %.1f ms", dNominal) : L"";
    SIZE nominalSize{};
    ::GetTextExtentPoint32W(hdc, nominalLabel.c_str(), static_cast<int>(nominalLabel.size()),
                            &nominalSize);
    for (const wchar_t* pszTitle : {L"frame intervals over the window", L"frame intervals"}) {
        SIZE titleSize{};
        ::GetTextExtentPoint32W(hdc, pszTitle, static_cast<int>(std::wcslen(pszTitle)), &titleSize);
        if (titleSize.cx + nominalSize.cx + 12 <= plot.right - plot.left) {
            DrawText(hdc, pszTitle, RECT{plot.left, rc.top + 3, plot.right, plot.top}, DT_LEFT,
                     kLabelColour);
            break;
        }
    }
    if (bStopped) {
        double dStopAt = row.dStoppedAtMs > 0 ? row.dStoppedAtMs : dTotal - intervals.back();
        RECT rcSilence{x(dStopAt), plot.top, std::max(x(dTotal), x(dStopAt) + 2), plot.bottom};
        HBRUSH hShade = ::CreateSolidBrush(kPlotStoppedColour);
        ::FillRect(hdc, &rcSilence, hShade);
        ::DeleteObject(hShade);
        CPen pen(hdc, PS_SOLID, 2, kPlotGapColour);
        Line(hdc, rcSilence.left, plot.top, rcSilence.left, plot.bottom);
        DrawText(hdc, AfxEnumText(kStopTexts, row.stopCause),
                 RECT{rcSilence.left + 4, plot.top + 2, plot.right, plot.top + nLine + 2}, DT_LEFT,
                 kPlotGapColour);
    }
    {
        CPen pen(hdc, PS_SOLID, 1, kAxisColour);
        Line(hdc, plot.left - 1, plot.top, plot.left - 1, plot.bottom + 1);
        Line(hdc, plot.left - 1, plot.bottom, plot.right, plot.bottom);
    }
    RECT rcLabels{rc.left + 2, plot.top - nLine / 2, plot.left - 4, plot.top + nLine};
    DrawText(hdc, Number(L"%.0f ms", dTop), rcLabels, DT_RIGHT, kLabelColour);
    DrawText(hdc, L"0", RECT{rc.left + 2, plot.bottom - nLine, plot.left - 4, plot.bottom},
             DT_RIGHT, kLabelColour);
    RECT rcTime{plot.left, plot.bottom + 3, plot.right, rc.bottom - 2};
    DrawText(hdc, L"0 s", rcTime, DT_LEFT, kLabelColour);
    DrawText(hdc, Number(L"%.1f s", dSpan / 1000.0), rcTime, DT_RIGHT, kLabelColour);

    // Stems: the steady ones first, the gaps over them.
    double dGap = 1.5 * dMedian;
    for (int nPass = 0; nPass < 2; ++nPass) {
        bool bGaps = nPass == 1;
        CPen pen(hdc, PS_SOLID, bGaps ? 2 : 1, bGaps ? kPlotGapColour : kPlotIntervalColour);
        double dAt = 0;
        for (size_t i = 0; i < nStems; ++i) {
            dAt += intervals[i];
            if ((dMedian > 0 && intervals[i] > dGap) != bGaps) {
                continue;
            }
            LONG nX = x(dAt);
            Line(hdc, nX, plot.bottom, nX, y(intervals[i]));
            if (intervals[i] > dTop) { // clipped: a cap says it goes on
                Line(hdc, nX - 3, plot.top + 3, nX, plot.top);
                Line(hdc, nX, plot.top, nX + 4, plot.top + 4);
            }
        }
    }
    if (!nominalLabel.empty()) {
        CPen pen(hdc, PS_DASH, 1, kPlotNominalColour);
        LONG nY = y(dNominal);
        Line(hdc, plot.left, nY, plot.right, nY);
        DrawText(hdc, nominalLabel, RECT{plot.left, rc.top + 3, plot.right, plot.top}, DT_RIGHT,
                 kPlotNominalColour);
    }
}

BEGIN_MESSAGE_MAP(CCheckDrawingWnd, CWnd)
ON_WM_PAINT()
ON_MESSAGE(WM_PRINTCLIENT, &CCheckDrawingWnd::OnPrintClient)
END_MESSAGE_MAP()

bool CCheckDrawingWnd::Create(HWND hParent, int nID) {
    const wchar_t* pszClass = m_kind == Kind::Picture ? kPictureClass : kPlotClass;
    // No background brush: the drawing covers every pixel, so nothing flickers under it.
    return AfxRegisterWndClass(pszClass, 0, ::LoadCursorW(nullptr, IDC_ARROW)) &&
           CreateEx(0, pszClass, L"", WS_CHILD | WS_VISIBLE, RECT{}, hParent,
                    reinterpret_cast<HMENU>(static_cast<INT_PTR>(nID)));
}

void CCheckDrawingWnd::SetRow(const CFormatMeasurement& row) {
    m_row = row;
    m_bHasRow = true;
    ::InvalidateRect(m_hWnd, nullptr, FALSE);
}

void CCheckDrawingWnd::Clear() {
    m_row = CFormatMeasurement();
    m_bHasRow = false;
    ::InvalidateRect(m_hWnd, nullptr, FALSE);
}

void CCheckDrawingWnd::Draw(HDC hdc, const RECT& rc) {
    HGDIOBJ hOldFont = ::SelectObject(hdc, ::GetStockObject(DEFAULT_GUI_FONT));
    if (m_kind == Kind::Picture) {
        DrawThumbnail(hdc, rc, m_row.thumbnail);
    } else if (m_bHasRow) {
        DrawIntervalPlot(hdc, rc, m_row);
    } else {
        ::FillRect(hdc, &rc, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
        ::FrameRect(hdc, &rc, ::GetSysColorBrush(COLOR_BTNSHADOW));
    }
    ::SelectObject(hdc, hOldFont);
}

void CCheckDrawingWnd::OnPaint() {
    PAINTSTRUCT ps;
    HDC hdc = ::BeginPaint(m_hWnd, &ps);
    RECT rc;
    GetClientRect(&rc);
    // Drawn aside and copied in one piece: a plot of thousands of stems does not flicker.
    HDC hMemory = ::CreateCompatibleDC(hdc);
    HBITMAP hBitmap =
        ::CreateCompatibleBitmap(hdc, std::max<LONG>(rc.right, 1), std::max<LONG>(rc.bottom, 1));
    if (hMemory != nullptr && hBitmap != nullptr) {
        HGDIOBJ hOld = ::SelectObject(hMemory, hBitmap);
        Draw(hMemory, rc);
        ::BitBlt(hdc, 0, 0, rc.right, rc.bottom, hMemory, 0, 0, SRCCOPY);
        ::SelectObject(hMemory, hOld);
    } else {
        Draw(hdc, rc);
    }
    if (hBitmap != nullptr) {
        ::DeleteObject(hBitmap);
    }
    if (hMemory != nullptr) {
        ::DeleteDC(hMemory);
    }
    ::EndPaint(m_hWnd, &ps);
}

LRESULT CCheckDrawingWnd::OnPrintClient(WPARAM wParam, LPARAM) {
    RECT rc;
    GetClientRect(&rc);
    Draw(reinterpret_cast<HDC>(wParam), rc);
    return 0;
}
