#include "controls/CGradientProgressCtrl.h"

#include <algorithm>
#include <cstdlib>

#include "controls/CMemDC.h"
#include "controls/CSelect.h"

BEGIN_MESSAGE_MAP(CGradientProgressCtrl, CProgressCtrl)
    ON_WM_ERASEBKGND()
    ON_WM_PAINT()
    ON_MESSAGE(PBM_SETBARCOLOR, &CGradientProgressCtrl::OnSetBarColor)
    ON_MESSAGE(PBM_SETBKCOLOR, &CGradientProgressCtrl::OnSetBkColor)
    ON_MESSAGE(PBM_SETPOS, &CGradientProgressCtrl::OnSetPos)
    ON_MESSAGE(PBM_DELTAPOS, &CGradientProgressCtrl::OnDeltaPos)
    ON_MESSAGE(PBM_STEPIT, &CGradientProgressCtrl::OnStepIt)
    ON_MESSAGE(PBM_SETSTEP, &CGradientProgressCtrl::OnSetStep)
END_MESSAGE_MAP()

namespace {
// (value - lower) * length / (upper - lower) without overflowing 32-bit ranges.
int Scale(int value, int lower, int upper, int length) {
    return static_cast<int>(static_cast<long long>(value - static_cast<long long>(lower)) * length /
                            (static_cast<long long>(upper) - lower));
}
}  // namespace

CGradientProgressCtrl::CGradientProgressCtrl()
    : m_crBk(GetSysColor(COLOR_BTNFACE)),
      m_crTextBar(GetSysColor(COLOR_CAPTIONTEXT)),
      m_crTextBk(GetSysColor(COLOR_BTNTEXT)) {
    BOOL gradientCaptions = FALSE;
    SystemParametersInfoW(SPI_GETGRADIENTCAPTIONS, 0, &gradientCaptions, 0);
    COLORREF start = GetSysColor(COLOR_ACTIVECAPTION);
    SetGradientColors(start, gradientCaptions ? GetSysColor(COLOR_GRADIENTACTIVECAPTION) : start);
}

CGradientProgressCtrl::~CGradientProgressCtrl() = default;

void CGradientProgressCtrl::SetGradientColors(COLORREF start, COLORREF end) {
    m_colors.RemoveAll();
    m_colors.Add(start);
    m_colors.Add(end);
}

CString CGradientProgressCtrl::FormatBarText(const CString& format, int value) {
    CString out;
    int n = format.GetLength();
    for (int i = 0; i < n; ++i) {
        wchar_t c = format[i];
        if (c == L'%' && i + 1 < n && format[i + 1] == L'%') {
            out += L'%';
            ++i;
        } else if (c == L'%' && i + 1 < n && format[i + 1] == L'd') {
            CString number;
            number.Format(L"%d", value);
            out += number;
            ++i;
        } else {
            out += c;
        }
    }
    return out;
}

CRect CGradientProgressCtrl::BarToClient(const DrawInfo& info, const CRect& r) {
    CRect out = info.area;
    bool reversed = (info.style & kStyleReverse) != 0;
    if (info.style & kStyleVertical) {
        out.top = info.area.top + (reversed ? r.left : info.area.Height() - r.right);
        out.bottom = out.top + r.Width();
    } else {
        out.left = info.area.left + (reversed ? info.area.Width() - r.right : r.left);
        out.right = out.left + r.Width();
    }
    return out;
}

BOOL CGradientProgressCtrl::OnEraseBkgnd(CDC*) { return TRUE; }

void CGradientProgressCtrl::OnPaint() {
    CPaintDC paint(this);
    CRect client;
    GetClientRect(&client);
    int pos = GetPos();
    int lower = 0, upper = 0;
    GetRange(lower, upper);

    CMemDC dc(&paint);
    if (m_hBkBrush)
        dc.FillRect(&client, m_hBkBrush);
    else
        dc.FillSolidRect(&client, m_crBk);

    DrawInfo info{&dc, GetStyle(), client, pos, lower, upper};
    info.area.DeflateRect(m_border.left, m_border.top, m_border.right, m_border.bottom);
    // An empty or inverted range has no filled part to scale (and must not divide by zero).
    if (upper <= lower || pos < lower || pos > upper) return;
    int length = (info.style & kStyleVertical) ? info.area.Height() : info.area.Width();
    if (length <= 0) return;

    CRect full(0, 0, length, 0);
    CRect filled(0, 0, Scale(pos, lower, upper, length), 0);
    if (info.style & kStyleMovingBlock)
        filled.left = std::min<int>(Scale(std::max(m_nTail, lower), lower, upper, length), filled.right);

    if (m_hBarBrush) {
        CRect r = BarToClient(info, filled);
        dc.FillRect(&r, m_hBarBrush);
    } else {
        PaintGradientBands(info, (info.style & kStyleGradientFilledOnly) ? filled : full, filled);
    }
    PaintBarText(info, full, filled);
}

void CGradientProgressCtrl::PaintGradientBands(DrawInfo& info, const CRect& gradient, const CRect& clip) {
    INT_PTR count = m_colors.GetSize();
    if (count < 2 || clip.Width() <= 0) return;
    INT_PTR segments = count - 1;
    double segment = gradient.Width() / static_cast<double>(segments);
    for (INT_PTR i = 0; i < segments; ++i) {
        int x0 = static_cast<int>(i * segment) + gradient.left;
        int x1 = i == segments - 1 ? gradient.right : static_cast<int>((i + 1) * segment) + gradient.left;
        if (x1 <= clip.left) continue;
        CRect band(x0, 0, x1, 0);
        CRect cut(std::max<int>(x0, clip.left), 0, std::min<int>(x1, clip.right), 0);
        PaintGradientBand(info, band, cut, m_colors[i], m_colors[i + 1]);
        if (x1 >= clip.right) break;
    }
}

void CGradientProgressCtrl::PaintGradientBand(DrawInfo& info, const CRect& gradient, const CRect& clip, COLORREF start,
                                              COLORREF end) {
    int sr = GetRValue(start), sg = GetGValue(start), sb = GetBValue(start);
    int dr = GetRValue(end) - sr, dg = GetGValue(end) - sg, db = GetBValue(end) - sb;
    int steps = std::max({std::abs(dr), std::abs(dg), std::abs(db)});
    steps = std::max(std::min(steps, gradient.Width()), 1);
    double ir = dr / static_cast<double>(steps), ig = dg / static_cast<double>(steps),
           ib = db / static_cast<double>(steps);

    CDC* dc = info.dc;
    bool palette = (dc->GetDeviceCaps(RASTERCAPS) & RC_PALETTE) != 0;
    if (!palette && steps >= 2 && dc->GetDeviceCaps(BITSPIXEL) * dc->GetDeviceCaps(PLANES) < 8) steps = 1;

    double width = gradient.Width() / static_cast<double>(steps);
    for (int i = 0; i < steps; ++i) {
        int x0 = static_cast<int>(i * width) + gradient.left;
        int x1 = i == steps - 1 ? gradient.right : static_cast<int>((i + 1) * width) + gradient.left;
        if (x1 <= clip.left) continue;
        CRect step(std::max<int>(x0, clip.left), 0, std::min<int>(x1, clip.right), 0);
        if (step.Width() > 0) {
            COLORREF c = RGB((sr + static_cast<int>(i * ir)) & 0xFF, (sg + static_cast<int>(i * ig)) & 0xFF,
                             (sb + static_cast<int>(i * ib)) & 0xFF);
            CRect r = BarToClient(info, step);
            if (palette) {
                CBrush brush(c);
                dc->FillRect(&r, &brush);
            } else {
                dc->FillSolidRect(&r, c);
            }
        }
        if (x1 >= clip.right) break;
    }
}

void CGradientProgressCtrl::PaintBarText(DrawInfo& info, const CRect& full, const CRect& filled) {
    if (!(info.style & (kStyleShowPercent | kStyleShowPosition))) return;
    bool percent = (info.style & kStyleShowPercent) != 0;
    CString format = GetWindowText();
    if (format.IsEmpty()) format = percent ? L"%d%%" : L"%d";
    int value = percent ? static_cast<int>(static_cast<double>(info.pos - info.lower) * 100.0 /
                                           (static_cast<double>(info.upper) - info.lower))
                        : info.pos;
    CString text = FormatBarText(format, value);
    if (text.IsEmpty()) return;

    CDC* dc = info.dc;
    HFONT font = reinterpret_cast<HFONT>(SendMessage(WM_GETFONT));
    CSelFont selFont(dc, font);
    CSelTextColor selColor(dc, m_crTextBar);
    CSelBkMode selMode(dc, TRANSPARENT);
    CSelTextAlign selAlign(dc, TA_CENTER | TA_BOTTOM);

    CSize size = dc->GetTextExtent(text);
    LOGFONTW lf{};
    if (!font || !GetObjectW(font, sizeof(lf), &lf)) GetObjectW(GetCurrentObject(dc->m_hDC, OBJ_FONT), sizeof(lf), &lf);
    // The bottom centre of the text, wherever its baseline points.
    CPoint centre = BarToClient(info, full).CenterPoint();
    CPoint anchor = centre;
    switch (((lf.lfEscapement % 3600) + 3600) % 3600 / 900) {
    case 1: anchor.x += size.cy / 2; break;
    case 2: anchor.y -= size.cy / 2; break;
    case 3: anchor.x -= size.cy / 2; break;
    default: anchor.y += size.cy / 2; break;
    }

    if (m_crTextBar == m_crTextBk) {
        dc->TextOut(anchor.x, anchor.y, text);
    } else {
        PaintClippedText(info, filled, text, anchor);
        selColor.Select(m_crTextBk);
        PaintClippedText(info, CRect(0, 0, filled.left, 0), text, anchor);
        PaintClippedText(info, CRect(filled.right, 0, full.right, 0), text, anchor);
    }
    selAlign.Restore();
    selMode.Restore();
    selColor.Restore();
    selFont.Restore();
}

void CGradientProgressCtrl::PaintClippedText(DrawInfo& info, const CRect& clip, const CString& text, CPoint anchor) {
    if (clip.Width() <= 0) return;
    CDC* dc = info.dc;
    // Clip regions are in device units; the off-screen DC's origin may be moved.
    CRect r = BarToClient(info, clip);
    ::LPtoDP(dc->m_hDC, reinterpret_cast<LPPOINT>(&r), 2);
    CRgn region;
    region.CreateRectRgnIndirect(&r);
    dc->SelectClipRgn(&region);
    dc->TextOut(anchor.x, anchor.y, text);
    dc->SelectClipRgn(nullptr);
}

BOOL CGradientProgressCtrl::MoveBlock(LRESULT* result, int value, BOOL increment) {
    if (!(GetStyle() & kStyleMovingBlock)) return FALSE;
    int lower = 0, upper = 0;
    GetRange(lower, upper);
    int next;
    if (increment) {
        int p = GetPos();
        if (p == upper && p - m_nTail < m_nBlockLength) p = m_nTail + m_nBlockLength;
        next = std::abs(value) + p;
    } else {
        next = value;
    }
    if (next > upper + m_nBlockLength) {
        next -= (upper - lower) + m_nBlockLength;
        next = std::min(next, upper + m_nBlockLength);
        ModifyStyle(GetStyle() & kStyleReverse, ~GetStyle() & kStyleReverse);
    } else if (next >= upper) {
        Invalidate();
    }
    m_nTail = std::max(next - m_nBlockLength, lower);
    LRESULT r = DefWindowProc(PBM_SETPOS, static_cast<WPARAM>(next), 0);
    if (result) *result = r;
    return TRUE;
}

LRESULT CGradientProgressCtrl::OnSetBarColor(WPARAM end, LPARAM start) {
    SetGradientColors(static_cast<COLORREF>(start), end ? static_cast<COLORREF>(end) : static_cast<COLORREF>(start));
    return static_cast<LRESULT>(CLR_DEFAULT);
}

LRESULT CGradientProgressCtrl::OnSetBkColor(WPARAM, LPARAM color) {
    m_crBk = static_cast<COLORREF>(color);
    return static_cast<LRESULT>(CLR_DEFAULT);
}

LRESULT CGradientProgressCtrl::OnSetPos(WPARAM pos, LPARAM) {
    LRESULT r = 0;
    if (MoveBlock(&r, static_cast<int>(pos), FALSE)) return r;
    return Default();
}

LRESULT CGradientProgressCtrl::OnDeltaPos(WPARAM delta, LPARAM) {
    LRESULT r = 0;
    if (MoveBlock(&r, static_cast<int>(delta), TRUE)) return r;
    return Default();
}

LRESULT CGradientProgressCtrl::OnStepIt(WPARAM, LPARAM) {
    LRESULT r = 0;
    if (MoveBlock(&r, m_nStep, TRUE)) return r;
    return Default();
}

LRESULT CGradientProgressCtrl::OnSetStep(WPARAM step, LPARAM) {
    m_nStep = static_cast<int>(step);
    return Default();
}
