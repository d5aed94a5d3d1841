// CCustomTabCtrl's second job: geometry (tab widths, scrolling, tab outlines, button places,
// hit testing), the theme read for the scroll buttons, and painting the strip off screen.
#include "controls/CCustomTabCtrl.h"

#include <algorithm>

#include "controls/CMemDC.h"
#include "controls/CSelect.h"
#include "controls/CThemeUtil.h"

namespace {
constexpr COLORREF kStripBack = RGB(249, 251, 255);
constexpr COLORREF kUnselectedFill = RGB(225, 231, 242);
constexpr COLORREF kUnselectedText = RGB(141, 143, 148);
constexpr COLORREF kSelectedText = RGB(85, 85, 85);
constexpr COLORREF kOutline = RGB(190, 204, 226);
constexpr COLORREF kGlyphKey = RGB(255, 0, 255);

// Theme parts and properties of the "SPIN" class that the buttons use.
constexpr int kPartLeft = 4;   // SPNP_DOWNHORZ
constexpr int kPartRight = 3;  // SPNP_UPHORZ
constexpr int kBgType = 4001, kImageCount = 2401, kImageFile = 3001, kImageLayout = 4011, kSizingMargins = 3601;
constexpr int kGlyphType = 4012, kGlyphTextColor = 3819, kGlyphTransparentColor = 3820, kGlyphImageFile = 3008;
constexpr int kGlyphNone = 0, kGlyphImage = 1, kGlyphFont = 2;

// Glyph cells of the strip.
enum { kGlyphFirst = 0, kGlyphPrev = 1, kGlyphNext = 2, kGlyphLast = 3, kGlyphClose = 4 };
}  // namespace

// ---- items ----

void CCustomTabCtrlItem::SetShape(int shape, BOOL top) {
    m_nShape = shape;
    const int l = m_rect.left, r = m_rect.right, h = m_rect.Height();
    // Tabs of a strip at the top open downwards: the outline is flipped.
    const int yt = top ? m_rect.bottom + 1 : m_rect.top;
    const int yb = top ? m_rect.top : m_rect.bottom;
    const int ym = h / 2;
    POINT p[6] = {};
    switch (shape) {
    case kStubSelected:
        p[0] = {l, yt};
        p[1] = {l, yb};
        for (int i = 2; i < 6; ++i) p[i] = {l + h / 2, yt};
        break;
    case kStub:
        p[0] = {l, yt};
        p[1] = {l + h / 4, ym};
        for (int i = 2; i < 6; ++i) p[i] = {l, yb};
        break;
    case kFull:
    case kOverlapped:
        p[0] = {l, yt};
        p[1] = {l + h / 4, ym};
        p[2] = {l + h / 2, yb};
        p[3] = {r - h / 2, yb};
        p[4] = {r - h / 4, ym};
        p[5] = shape == kFull ? POINT{r, yt} : POINT{r - h / 2, yt};
        break;
    default: break;
    }
    m_rgn.DeleteObject();
    m_rgn.Attach(::CreatePolygonRgn(p, 6, WINDING));
}

void CCustomTabCtrlItem::Draw(CDC* dc, CFont* font, BOOL top, BOOL rightToLeft) {
    const CRect& r = m_rect;
    const int h = r.Height();
    if (!m_bSelected) dc->FillSolidRect(&r, kUnselectedFill);
    CPen outline(PS_SOLID, 1, kOutline);
    CPen* oldPen = dc->SelectObject(&outline);
    if (m_nShape == kStubSelected || m_nShape == kStub) {
        const int from = top ? r.top : r.bottom, to = top ? r.bottom : r.top;
        dc->MoveTo(r.left, from);
        dc->LineTo(r.left + h / 2, to);
        if (m_nShape == kStub) {
            CPen shadow(PS_SOLID, 1, ::GetSysColor(COLOR_BTNSHADOW));
            dc->SelectObject(&shadow);
            dc->MoveTo(r.left - 1, from);
            dc->LineTo(r.left - 1 + h / 2, to);
            dc->SelectObject(&outline);
        }
    } else if (m_nShape == kFull || m_nShape == kOverlapped) {
        dc->MoveTo(r.left, r.bottom);
        dc->LineTo(r.left, r.top);
        dc->LineTo(r.right - 1, r.top);
        dc->LineTo(r.right - 1, r.bottom);
        dc->MoveTo(r.right - 2, r.top);
        dc->LineTo(r.right - 2, r.bottom);
        if (!m_bSelected) {
            dc->MoveTo(r.left, r.bottom - 1);
            dc->LineTo(r.right, r.bottom - 1);
        }
    }
    dc->SelectObject(oldPen);
    if (m_nShape != kFull && m_nShape != kOverlapped) return;
    CSelTextColor text(dc, m_bSelected ? kSelectedText : kUnselectedText);
    CSelBkMode mode(dc, TRANSPARENT);
    const COLORREF oldBack = dc->SetBkColor(kUnselectedFill);
    CSelFont selFont(dc, font);
    CRect tr = r;
    tr.DeflateRect(h / 2, 2);
    dc->DrawText(m_strText, &tr, DT_CENTER | DT_VCENTER | DT_SINGLELINE | (rightToLeft ? DT_RTLREADING : 0));
    dc->SetBkColor(oldBack);
}

// ---- geometry ----

void CCustomTabCtrl::GetStripSize(int& length, int& thickness) const {
    CRect rc;
    GetClientRect(&rc);
    const bool vertical = (GetStyle() & TABS_VERTICAL) != 0;
    length = vertical ? rc.Height() : rc.Width();
    thickness = vertical ? rc.Width() : rc.Height();
}

CPoint CCustomTabCtrl::ToStrip(CPoint client) const {
    if (!(GetStyle() & TABS_VERTICAL)) return client;
    CRect rc;
    GetClientRect(&rc);
    return CPoint(rc.Height() - client.y, client.x);
}

CRect CCustomTabCtrl::FromStrip(const CRect& strip) const {
    if (!(GetStyle() & TABS_VERTICAL)) return strip;
    CRect rc;
    GetClientRect(&rc);
    const int length = rc.Height();
    return CRect(strip.top, length - strip.right, strip.bottom, length - strip.left);
}

int CCustomTabCtrl::ShownButtons() const {
    int n = 0;
    for (int s : {m_nFirstState, m_nPrevState, m_nNextState, m_nLastState, m_nCloseState}) n += s != kHiddenBtn;
    return n;
}

int CCustomTabCtrl::RecalcTabWidths() {
    const int count = GetItemCount();
    if (count == 0 || !m_hWnd) return 0;
    int length = 0, thickness = 0;
    GetStripSize(length, thickness);
    const DWORD style = GetStyle();
    const bool top = (style & TABS_TOP) != 0;
    CClientDC dc(this);
    CSelFont font(&dc, &m_fontSelected);
    std::vector<int> widths;
    int widest = 0;
    for (int i = 0; i < count; ++i) {
        CRect r(0, 0, 0, 0);
        dc.DrawText(m_items[i]->m_strText, &r, DT_CALCRECT | DT_SINGLELINE);
        widths.push_back(r.Height() ? r.Width() : 0);
        widest = std::max(widest, widths.back());
    }
    const int half = thickness / 2;
    int x = 0;
    for (int i = 0; i < count; ++i) {
        CCustomTabCtrlItem* item = m_items[i];
        if (style & TABS_WIDEST) {
            if (top) {
                item->m_rect.SetRect(0, 0, widest + thickness + 4, thickness - 2);
                item->m_rectText.SetRect(half, 0, widest + half + 4, thickness - 2);
            } else {
                item->m_rect.SetRect(0, 1, widest + thickness + 4, thickness - 1);
                item->m_rectText.SetRect(half, 1, widest + half + 4, thickness - 1);
            }
            item->m_rect.OffsetRect(x, 0);
            item->m_rectText.OffsetRect(x, 0);
            x += item->m_rect.Width() - half;
        } else {
            // count > 0 here, so the division is safe.
            const int w = length / count;
            item->m_rect.SetRect(x, 0, x + w, thickness);
            // Where the caption is drawn: the tab less half its height at each end.
            item->m_rectText.SetRect(x + half, 2, std::max(x + half, x + w - half), std::max(2, thickness - 2));
            x += w;
        }
    }
    return m_items[count - 1]->m_rect.right;
}

void CCustomTabCtrl::PlaceItems(int buttonArea) {
    int length = 0, thickness = 0;
    GetStripSize(length, thickness);
    const DWORD style = GetStyle();
    const bool after = (style & TABS_BUTTONSAFTER) != 0;
    const int b = thickness - 3;
    const int count = GetItemCount();
    const int first = m_nFirstVisible;
    int x = after ? 0 : buttonArea;
    for (int i = 0; i < count; ++i) {
        CCustomTabCtrlItem* item = m_items[i];
        int shape;
        if (i < first - 1) {
            shape = CCustomTabCtrlItem::kHidden;
            item->m_rectText.SetRectEmpty();
            x += thickness / 2 - item->m_rect.Width();
        } else if (i == first - 1) {
            shape = item->m_bSelected ? CCustomTabCtrlItem::kStubSelected : CCustomTabCtrlItem::kStub;
            x += thickness / 2 - item->m_rect.Width();
            item->m_rect.SetRect(0, 1, thickness / 2, thickness - 1);
            if (!after) {
                const int buttons = ((style & TABS_FOURSCROLLBUTTONS) ? 4 : 2) + ((style & TABS_CLOSEBUTTON) ? 1 : 0);
                item->m_rect.OffsetRect(b * buttons + 3, 0);
            }
            item->m_rectText.SetRectEmpty();
        } else {
            shape = item->m_bSelected || i == count - 1 ? CCustomTabCtrlItem::kFull : CCustomTabCtrlItem::kOverlapped;
            item->m_rect.OffsetRect(x, 0);
            item->m_rectText.OffsetRect(x, 0);
        }
        item->SetShape(shape, (style & TABS_TOP) != 0);
        if (HasToolTip()) {
            CRect tip = item->m_rectText;
            if (tip.left >= length)
                tip.SetRectEmpty();
            else
                tip.right = std::min<LONG>(tip.right, length);
            SetToolRect(i + 1, tip);
        }
    }
}

void CCustomTabCtrl::RecalcLayout(int kind, int item) {
    if (!m_hWnd) return;
    int length = 0, thickness = 0;
    GetStripSize(length, thickness);
    const DWORD style = GetStyle();
    const bool after = (style & TABS_BUTTONSAFTER) != 0;
    const int b = thickness - 3;
    const int count = GetItemCount();
    m_nFirstVisible = std::max(0, std::min(m_nFirstVisible, count - 1));
    int buttons = 0, area = 0;
    if (style & TABS_CLOSEBUTTON) {
        if (m_nCloseState == kHiddenBtn) m_nCloseState = kNormal;
        buttons = 1;
        area = b + 3;
    } else {
        m_nCloseState = kHiddenBtn;
    }
    const int total = RecalcTabWidths();

    if ((style & TABS_AUTOSCROLLBUTTONS) && (count < 2 || total <= length - area)) {
        m_nFirstState = m_nPrevState = m_nNextState = m_nLastState = kHiddenBtn;
        m_nFirstVisible = 0;
        PlaceItems(area);
        if (kind == kEdit) PlaceEditControl(0, item);
        if (HasToolTip()) {
            for (int id = kHitFirst; id >= kHitLast; --id) SetToolRect(id, CRect());
            CRect close;
            if (m_nCloseState != kHiddenBtn)
                close = after ? CRect(length - b - 1, 0, length, thickness) : CRect(0, 0, b + 1, thickness);
            SetToolRect(kHitClose, close);
        }
        return;
    }
    if (m_nPrevState == kHiddenBtn) m_nPrevState = kNormal;
    if (m_nNextState == kHiddenBtn) m_nNextState = kNormal;
    if (style & TABS_FOURSCROLLBUTTONS) {
        if (m_nFirstState == kHiddenBtn) m_nFirstState = kNormal;
        if (m_nLastState == kHiddenBtn) m_nLastState = kNormal;
        buttons += 4;
    } else {
        m_nFirstState = m_nLastState = kHiddenBtn;
        buttons += 2;
    }
    if (HasToolTip()) {
        // The hit rectangles of the buttons are their tool rectangles.
        for (int id = kHitFirst; id >= kHitClose; --id) {
            CRect r;
            for (int x = 0; x < length && r.IsRectEmpty(); ++x)
                if (HitTestStrip(x, thickness / 2) == id) r.SetRect(x, 0, x + 1, thickness);
            while (r.right < length && HitTestStrip(r.right, thickness / 2) == id) ++r.right;
            SetToolRect(id, r);
        }
    }
    if (count == 0) return;
    area = buttons * b + 3;
    const int usable = after ? length - area : length;
    auto recompute = [&] {
        RecalcTabWidths();
        PlaceItems(area);
    };
    auto lastRight = [&] { return m_items[count - 1]->m_rect.right; };
    switch (kind) {
    case kPrev:
        PlaceItems(area);
        if (m_nFirstVisible > 0) {
            --m_nFirstVisible;
            recompute();
        }
        break;
    case kNext:
        PlaceItems(area);
        if (!(lastRight() <= usable || m_nFirstVisible >= count - 1)) {
            ++m_nFirstVisible;
            recompute();
        }
        break;
    case kEnsureVisible: {
        PlaceItems(area);
        if (item < 0 || item >= count) break;
        if (item < m_nFirstVisible) {
            // A stub or a hidden tab: it becomes the first one shown.
            m_nFirstVisible = item;
            recompute();
            break;
        }
        const int start = after ? 0 : area;
        while (m_nFirstVisible < item && m_items[item]->m_nShape == CCustomTabCtrlItem::kFull &&
               m_items[item]->m_rect.right > usable && m_items[item]->m_rect.left > start) {
            ++m_nFirstVisible;
            recompute();
        }
        break;
    }
    case kFirst:
        m_nFirstVisible = 0;
        recompute();
        break;
    case kClose: recompute(); break;
    case kEdit:
        PlaceItems(area);
        PlaceEditControl(area, item);
        break;
    case kLast: m_nFirstVisible = count - 1; [[fallthrough]];
    default: {
        PlaceItems(area);
        bool wentBack = false;
        while (m_nFirstVisible >= 0 && lastRight() < usable) {
            --m_nFirstVisible;
            wentBack = true;
            if (m_nFirstVisible >= 0) recompute();
        }
        if (wentBack) {
            ++m_nFirstVisible;
            recompute();
        }
        break;
    }
    }
}

void CCustomTabCtrl::PlaceEditControl(int buttonArea, int item) {
    if (!m_edit.m_hWnd || item < 0 || item >= GetItemCount()) return;
    int length = 0, thickness = 0;
    GetStripSize(length, thickness);
    const int usable = (GetStyle() & TABS_BUTTONSAFTER) ? length - buttonArea : length;
    CRect rect;
    for (;;) {
        CRect text(0, 0, 0, 0);
        {
            CClientDC dc(this);
            CSelFont font(&dc, &m_fontSelected);
            dc.DrawText(m_items[item]->m_strText + L"X", &text, DT_CALCRECT | DT_SINGLELINE);
        }
        rect = m_items[item]->m_rectText;
        if (rect.Height() > text.Height()) {
            const int d = (rect.Height() - text.Height()) / 2;
            rect.top += d;
            rect.bottom -= d;
        }
        rect.left += 2;
        if (rect.right <= usable || m_nSel <= m_nFirstVisible) break;
        ++m_nFirstVisible;
        RecalcTabWidths();
        PlaceItems(buttonArea);
    }
    rect.right = std::min<LONG>(rect.right, usable);
    m_edit.MoveWindow(&rect, TRUE);
    DWORD start = 0, end = 0;
    m_edit.SendMessage(EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    const int len = m_edit.GetWindowTextLength();
    if (start == end && static_cast<int>(end) == len) {
        m_edit.SetSel(0, 0);
        m_edit.SetSel(len, len);
    }
}

int CCustomTabCtrl::HitTest(CPoint client) {
    const CPoint p = ToStrip(client);
    return HitTestStrip(p.x, p.y);
}

int CCustomTabCtrl::HitTestStrip(int x, int y) const {
    int length = 0, thickness = 0;
    GetStripSize(length, thickness);
    const int L = length, T = thickness, b = T - 3;
    const bool after = (GetStyle() & TABS_BUTTONSAFTER) != 0;
    const CPoint p(x, y);
    if (m_nCloseState != kHiddenBtn) {
        const CRect close = after ? CRect(L - b - 1, 0, L, T) : CRect(0, 0, b + 1, T);
        if (close.PtInRect(p)) return kHitClose;
    }
    const int c = m_nCloseState != kHiddenBtn ? b : 0;
    CRect first, prev, next, last;
    const bool four = m_nFirstState != kHiddenBtn;
    if (!after) {
        if (!four) {
            prev.SetRect(c, 0, c + b + 1, T);
            next.SetRect(c + b + 1, 0, c + 2 * b + 3, T);
        } else {
            first.SetRect(c, 0, c + b + 1, T);
            prev.SetRect(c + b + 1, 0, c + 2 * b + 1, T);
            next.SetRect(c + 2 * b + 1, 0, c + 3 * b + 2, T);
            last.SetRect(c + 3 * b + 2, 0, c + 4 * b + 3, T);
        }
    } else if (!four) {
        next.SetRect(L - c - b - 1, 0, L - c, T);
        prev.SetRect(L - c - 2 * b - 3, 0, L - c - b - 1, T);
    } else {
        last.SetRect(L - c - b - 1, 0, L - c, T);
        next.SetRect(L - c - 2 * b - 1, 0, L - c - b - 1, T);
        prev.SetRect(L - c - 3 * b - 2, 0, L - c - 2 * b - 1, T);
        first.SetRect(L - c - 4 * b - 3, 0, L - c - 3 * b - 2, T);
    }
    if (m_nFirstState != kHiddenBtn && first.PtInRect(p)) return kHitFirst;
    if (m_nPrevState != kHiddenBtn && prev.PtInRect(p)) return kHitPrev;
    if (m_nNextState != kHiddenBtn && next.PtInRect(p)) return kHitNext;
    if (m_nLastState != kHiddenBtn && last.PtInRect(p)) return kHitLast;
    for (int i = 0; i < GetItemCount(); ++i)
        if (m_items[i]->HitTest(x, y)) return i;
    return kHitNone;
}

// ---- theme ----

void CCustomTabCtrl::DeleteThemeImages() {
    if (m_hBmpLeft) ::DeleteObject(m_hBmpLeft);
    if (m_hBmpRight) ::DeleteObject(m_hBmpRight);
    m_hBmpLeft = m_hBmpRight = nullptr;
}

BOOL CCustomTabCtrl::ReadThemePart(CThemeUtil& theme, int part, HBITMAP& image, BOOL& horizontal, MARGINS& margins) {
    int value = -1;
    if (!theme.GetThemeEnumValue(part, 0, kBgType, &value) || value != 0) return FALSE;
    if (!theme.GetThemeInt(part, 0, kImageCount, &value) || value != 4) return FALSE;
    WCHAR file[MAX_PATH];
    if (!theme.GetThemeFilename(part, 0, kImageFile, file, MAX_PATH)) return FALSE;
    image = theme.LoadThemeBitmap(file);
    if (!image) return FALSE;
    if (!theme.GetThemeEnumValue(part, 0, kImageLayout, &value)) return FALSE;
    horizontal = value != 0;
    return theme.GetThemeMargins(part, 0, kSizingMargins, &margins);
}

BOOL CCustomTabCtrl::ReadGlyphColors(CThemeUtil& theme) {
    int type = kGlyphNone;
    if (!theme.GetThemeEnumValue(kPartLeft, 0, kGlyphType, &type)) return FALSE;
    if (type == kGlyphFont) {
        for (int state = 1; state <= 3; ++state)
            if (!theme.GetThemeColor(kPartRight, state, kGlyphTextColor, &m_crGlyph[state - 1])) return FALSE;
        return TRUE;
    }
    if (type != kGlyphImage) return FALSE;
    COLORREF key = kGlyphKey;
    if (!theme.GetThemeColor(kPartLeft, 0, kGlyphTransparentColor, &key)) key = kGlyphKey;
    WCHAR file[MAX_PATH];
    if (!theme.GetThemeFilename(kPartLeft, 0, kGlyphImageFile, file, MAX_PATH)) return FALSE;
    CBitmap glyphs;
    if (!glyphs.Attach(theme.LoadThemeBitmap(file))) return FALSE;
    for (COLORREF& c : m_crGlyph) c = key;
    const CSize size = glyphs.GetSize();
    CDC dc;
    if (!dc.CreateCompatibleDC(nullptr)) return FALSE;
    CBitmap* old = dc.SelectObject(&glyphs);
    BOOL ok = TRUE;
    for (int k = 0; k < 4 && ok; ++k) {
        // Quarters side by side for a horizontal layout, stacked for a vertical one.
        CRect q = m_bLeftHorizontal ? CRect(k * size.cx / 4, 0, (k + 1) * size.cx / 4, size.cy)
                                    : CRect(0, k * size.cy / 4, size.cx, (k + 1) * size.cy / 4);
        bool found = false;
        for (int y = q.top; y < q.bottom && !found; ++y)
            for (int x = q.left; x < q.right && !found; ++x) {
                const COLORREF c = dc.GetPixel(x, y);
                if (c != key && c != CLR_INVALID) {
                    m_crGlyph[k] = c;
                    found = true;
                }
            }
        ok = found;
    }
    dc.SelectObject(old);
    return ok;
}

LRESULT CCustomTabCtrl::OnThemeChanged(WPARAM, LPARAM) {
    DeleteThemeImages();
    CThemeUtil theme;
    BOOL ok = m_hWnd && theme.OpenThemeData(m_hWnd, L"SPIN");
    ok = ok && ReadThemePart(theme, kPartLeft, m_hBmpLeft, m_bLeftHorizontal, m_marginsLeft);
    ok = ok && ReadThemePart(theme, kPartRight, m_hBmpRight, m_bRightHorizontal, m_marginsRight);
    ok = ok && ReadGlyphColors(theme);
    if (!ok) DeleteThemeImages();
    theme.CloseThemeData();
    return 0;
}

// ---- painting ----

void CCustomTabCtrl::DrawGlyph(CDC* dc, CPoint point, int glyph, int colorIndex) {
    CDC mono, cell;
    CBitmap cellBmp;
    if (!mono.CreateCompatibleDC(dc) || !cell.CreateCompatibleDC(dc) || !cellBmp.CreateCompatibleBitmap(*dc, 8, 7))
        return;
    CBitmap* oldMono = mono.SelectObject(&m_bmpGlyphs);
    CBitmap* oldCell = cell.SelectObject(&cellBmp);
    // Ink takes the glyph colour, the rest white.
    cell.SetTextColor(m_crGlyph[std::max(0, std::min(colorIndex, 3))]);
    cell.SetBkColor(RGB(255, 255, 255));
    cell.BitBlt(0, 0, 8, 7, &mono, glyph * 8, 0, SRCCOPY);
    const COLORREF oldBack = dc->SetBkColor(RGB(255, 255, 255));
    const COLORREF oldText = dc->SetTextColor(RGB(0, 0, 0));
    dc->BitBlt(point.x, point.y, 8, 7, &cell, 0, 0, SRCINVERT);
    dc->BitBlt(point.x, point.y, 8, 7, &mono, glyph * 8, 0, SRCAND);
    dc->BitBlt(point.x, point.y, 8, 7, &cell, 0, 0, SRCINVERT);
    dc->SetBkColor(oldBack);
    dc->SetTextColor(oldText);
    cell.SelectObject(oldCell);
    mono.SelectObject(oldMono);
}

void CCustomTabCtrl::DrawThemeImage(CDC* dc, const CRect& rect, HBITMAP image, BOOL horizontal, const MARGINS& margins,
                                    int frame) {
    BITMAP bm{};
    if (!image || !::GetObjectW(image, sizeof(bm), &bm)) return;
    const int fw = horizontal ? bm.bmWidth / 4 : bm.bmWidth;
    const int fh = horizontal ? bm.bmHeight : bm.bmHeight / 4;
    const int sx = horizontal ? frame * fw : 0, sy = horizontal ? 0 : frame * fh;
    CDC src;
    if (!src.CreateCompatibleDC(dc)) return;
    HGDIOBJ old = src.SelectObject(image);
    const int l = margins.cxLeftWidth, r = margins.cxRightWidth, t = margins.cyTopHeight, b = margins.cyBottomHeight;
    const int dw = rect.Width() - l - r, dh = rect.Height() - t - b;
    const int sw = fw - l - r, sh = fh - t - b;
    auto blit = [&](int x, int y, int w, int h, int fx, int fy, int fw2, int fh2) {
        if (w <= 0 || h <= 0 || fw2 <= 0 || fh2 <= 0) return;
        if (w == fw2 && h == fh2)
            dc->BitBlt(x, y, w, h, &src, fx, fy, SRCCOPY);
        else
            dc->StretchBlt(x, y, w, h, &src, fx, fy, fw2, fh2, SRCCOPY);
    };
    const int x0 = rect.left, x1 = rect.left + l, x2 = rect.right - r;
    const int y0 = rect.top, y1 = rect.top + t, y2 = rect.bottom - b;
    // Corners unscaled, edges and middle stretched.
    blit(x0, y0, l, t, sx, sy, l, t);
    blit(x2, y0, r, t, sx + fw - r, sy, r, t);
    blit(x0, y2, l, b, sx, sy + fh - b, l, b);
    blit(x2, y2, r, b, sx + fw - r, sy + fh - b, r, b);
    blit(x1, y0, dw, t, sx + l, sy, sw, t);
    blit(x1, y2, dw, b, sx + l, sy + fh - b, sw, b);
    blit(x0, y1, l, dh, sx, sy + t, l, sh);
    blit(x2, y1, r, dh, sx + fw - r, sy + t, r, sh);
    blit(x1, y1, dw, dh, sx + l, sy + t, sw, sh);
    src.SelectObject(old);
}

void CCustomTabCtrl::DrawButton(CDC* dc, const CRect& rect, int state, int glyph, BOOL leftImage, BOOL plainShift) {
    HBITMAP image = leftImage ? m_hBmpLeft : m_hBmpRight;
    BOOL horizontal = leftImage ? m_bLeftHorizontal : m_bRightHorizontal;
    if (!image) {
        // The other image when the wanted one is missing.
        image = leftImage ? m_hBmpRight : m_hBmpLeft;
        horizontal = leftImage ? m_bRightHorizontal : m_bLeftHorizontal;
    }
    const bool plain = image == nullptr;
    if (!plain) {
        DrawThemeImage(dc, rect, image, horizontal, image == m_hBmpLeft ? m_marginsLeft : m_marginsRight, state - 1);
    } else {
        CRect r = rect;
        ::DrawFrameControl(*dc, &r, DFC_BUTTON, DFCS_BUTTONPUSH | (state == kPressed ? DFCS_PUSHED : 0));
    }
    const int w = rect.Width(), h = rect.Height();
    CPoint p(rect.left + (w - 8) / 2 + (w % 2), rect.top + (h - 7) / 2);
    if (plain && plainShift) --p.x;
    DrawGlyph(dc, p, glyph, state - 1);
}

void CCustomTabCtrl::OnPaint() {
    CPaintDC paint(this);
    if (!m_hBmpLeft)
        for (COLORREF& c : m_crGlyph) c = ::GetSysColor(COLOR_BTNTEXT);
    int length = 0, thickness = 0;
    GetStripSize(length, thickness);
    const DWORD style = GetStyle();
    const BOOL rtl = (GetExStyle() & WS_EX_LAYOUTRTL) != 0;
    const int L = length, T = thickness, b = T - 3;

    auto paintStrip = [&](CDC* dc) {
        dc->FillSolidRect(0, 0, L, T, kStripBack);
        const BOOL top = (style & TABS_TOP) != 0;
        for (int i = 0; i < GetItemCount(); ++i) {
            CCustomTabCtrlItem* item = m_items[i];
            if (item->m_nShape == CCustomTabCtrlItem::kHidden || item->m_bSelected) continue;
            item->Draw(dc, item->m_bHighlighted ? &m_fontSelected : &m_font, top, rtl);
        }
        if (m_nSel >= 0 && m_nSel < GetItemCount() && m_items[m_nSel]->m_nShape != CCustomTabCtrlItem::kHidden)
            m_items[m_nSel]->Draw(dc, &m_fontSelected, top, rtl);

        if (m_nCloseState != kHiddenBtn || m_nPrevState != kHiddenBtn) {
            const bool after = (style & TABS_BUTTONSAFTER) != 0;
            const int area = ShownButtons() * b + 3;
            CRect box = top ? CRect(0, 0, area, T - 1) : CRect(0, 1, area, T);
            if (after) box.OffsetRect(L - area, 0);
            CPen pen(PS_SOLID, 1, ::GetSysColor(COLOR_BTNTEXT));
            CPen* oldPen = dc->SelectObject(&pen);
            HGDIOBJ oldBrush = dc->SelectStockObject(WHITE_BRUSH);
            dc->Rectangle(&box);
            dc->SelectObject(oldBrush);
            dc->SelectObject(oldPen);

            const int x0 = after ? L - area : (m_nCloseState != kHiddenBtn ? b : 0);
            const int y1 = top ? 1 : 2, y2 = top ? T - 2 : T - 1;
            if (m_nCloseState != kHiddenBtn) {
                const CRect r = after ? CRect(L - b - 1, y1, L - 1, y2) : CRect(1, y1, b + 1, y2);
                const bool right = (rtl != FALSE) != after;
                DrawButton(dc, r, m_nCloseState, kGlyphClose, !right, FALSE);
            }
            if (m_nFirstState == kHiddenBtn) {
                if (m_nPrevState != kHiddenBtn)
                    DrawButton(dc, CRect(x0 + 1, y1, x0 + b + 1, y2), m_nPrevState, kGlyphPrev, !rtl, FALSE);
                if (m_nNextState != kHiddenBtn)
                    DrawButton(dc, CRect(x0 + b + 2, y1, x0 + 2 * b + 2, y2), m_nNextState, kGlyphNext, rtl, TRUE);
            } else {
                DrawButton(dc, CRect(x0 + 1, y1, x0 + b + 1, y2), m_nFirstState, kGlyphFirst, !rtl, FALSE);
                DrawButton(dc, CRect(x0 + b + 1, y1, x0 + 2 * b + 1, y2), m_nPrevState, kGlyphPrev, !rtl, FALSE);
                DrawButton(dc, CRect(x0 + 2 * b + 2, y1, x0 + 3 * b + 2, y2), m_nNextState, kGlyphNext, rtl, TRUE);
                DrawButton(dc, CRect(x0 + 3 * b + 2, y1, x0 + 4 * b + 2, y2), m_nLastState, kGlyphLast, rtl, FALSE);
            }
        }

        const HCURSOR cursor = ::GetCursor();
        if (m_nPressed >= 0 && m_nDragTarget >= 0 && GetItemCount() > 0 && cursor &&
            (cursor == m_hCursorMove || cursor == m_hCursorCopy)) {
            const int count = GetItemCount();
            int x = m_nDragTarget >= count ? m_items[count - 1]->m_rectText.right + T / 4 - 3
                                           : m_items[m_nDragTarget]->m_rectText.left - T / 4 - 3;
            x = std::min(x, L - 7);
            CPen pen(PS_SOLID, 1, ::GetSysColor(COLOR_BTNTEXT));
            CPen* oldPen = dc->SelectObject(&pen);
            for (int k = 0; k < 4; ++k) {
                dc->MoveTo(x + k, 1 + k);
                dc->LineTo(x + 7 - k, 1 + k);
            }
            dc->SelectObject(oldPen);
        }
    };

    if (!(style & TABS_VERTICAL)) {
        CRect strip(0, 0, L, T);
        CMemDC mem(&paint, &strip);
        paintStrip(&mem);
        return;
    }
    // A vertical strip is painted lying down and turned a quarter on the way to the screen.
    CDC mem;
    CBitmap bmp;
    if (!mem.CreateCompatibleDC(&paint) || !bmp.CreateCompatibleBitmap(paint, L, T)) return;
    CBitmap* old = mem.SelectObject(&bmp);
    paintStrip(&mem);
    if (!rtl) {
        const POINT pts[3] = {{0, L}, {0, 0}, {T, L}};
        ::PlgBlt(paint, pts, mem, 0, 0, L, T, nullptr, 0, 0);
    } else {
        const POINT pts[3] = {{-1, L}, {-1, 0}, {T - 1, L}};
        ::PlgBlt(paint, pts, mem, -1, 0, L, T, nullptr, 0, 0);
    }
    mem.SelectObject(old);
}
