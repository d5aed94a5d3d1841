#include "controls/CGradientProgressCtrl.h"

BEGIN_MESSAGE_MAP(CGradientProgressCtrl, CProgressCtrl)
END_MESSAGE_MAP()

CGradientProgressCtrl::CGradientProgressCtrl()
    : m_bkColor(GetSysColor(COLOR_BTNFACE)), m_textBar(GetSysColor(COLOR_CAPTIONTEXT)),
      m_textBk(GetSysColor(COLOR_BTNTEXT)) {
    SetGradientColors(GetSysColor(COLOR_ACTIVECAPTION), GetSysColor(COLOR_ACTIVECAPTION));
}

CGradientProgressCtrl::~CGradientProgressCtrl() = default;

void CGradientProgressCtrl::SetGradientColors(COLORREF start, COLORREF end) {
    m_colors.RemoveAll();
    m_colors.Add(start);
    m_colors.Add(end);
}

void CGradientProgressCtrl::SetGradientColorsArray(const CDWordArray& colors) { m_colors.Copy(colors); }
CRect CGradientProgressCtrl::BarToClient(const DrawInfo& info, const CRect&) { return info.area; }
void CGradientProgressCtrl::PaintGradientBands(DrawInfo&, const CRect&, const CRect&) {}
void CGradientProgressCtrl::PaintGradientBand(DrawInfo&, const CRect&, const CRect&, COLORREF, COLORREF) {}
void CGradientProgressCtrl::PaintBarText(DrawInfo&, const CRect&, const CRect&) {}
void CGradientProgressCtrl::PaintClippedText(DrawInfo&, const CRect&, const CString&, CPoint) {}
BOOL CGradientProgressCtrl::MoveBlock(LRESULT*, int, BOOL) { return FALSE; }
BOOL CGradientProgressCtrl::OnEraseBkgnd(CDC*) { return TRUE; }
void CGradientProgressCtrl::OnPaint() { Default(); }
LRESULT CGradientProgressCtrl::OnSetBarColor(WPARAM, LPARAM) { return CLR_DEFAULT; }
LRESULT CGradientProgressCtrl::OnSetBkColor(WPARAM, LPARAM) { return CLR_DEFAULT; }
LRESULT CGradientProgressCtrl::OnSetPos(WPARAM, LPARAM) { return Default(); }
LRESULT CGradientProgressCtrl::OnDeltaPos(WPARAM, LPARAM) { return Default(); }
LRESULT CGradientProgressCtrl::OnStepIt(WPARAM, LPARAM) { return Default(); }
LRESULT CGradientProgressCtrl::OnSetStep(WPARAM, LPARAM) { return Default(); }
