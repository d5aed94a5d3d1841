#include "client/windows/Palette.h"

namespace palette {

HBRUSH Brush(CBrush& brush, COLORREF colour) {
    if (!brush.m_hObject) brush.CreateSolidBrush(colour);
    return brush;
}

HBRUSH Paint(CDC& dc, CBrush& brush, COLORREF back, COLORREF text) {
    dc.SetBkColor(back);
    if (text != CLR_INVALID) dc.SetTextColor(text);
    return Brush(brush, back);
}

}  // namespace palette
