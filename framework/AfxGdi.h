// CSize, CPoint, CRect, CGdiObject, CPen, CBrush, CFont, CBitmap, CRgn, CDC, CPaintDC, CClientDC,
// CWindowDC, afx_detail::TempGdiObjects: geometry values and GDI wrappers. CDC never owns a DC it
// was only attached to; the CGdiObject family owns its handle and deletes it unless detached.
// Objects handed back by SelectObject/FromHandle are temporary, non-owning, and live until the
// thread's next idle.
#pragma once

#include <windows.h>

#include "framework/CString.h"

class CSize : public SIZE {
public:
    CSize() { cx = cy = 0; }
    CSize(int x, int y) {
        cx = x;
        cy = y;
    }
    CSize(SIZE s) {
        cx = s.cx;
        cy = s.cy;
    }
    bool operator==(SIZE s) const { return cx == s.cx && cy == s.cy; }
    bool operator!=(SIZE s) const { return !(*this == s); }
};

class CPoint : public POINT {
public:
    CPoint() { x = y = 0; }
    CPoint(int px, int py) {
        x = px;
        y = py;
    }
    CPoint(POINT p) {
        x = p.x;
        y = p.y;
    }
    // Packed coordinates are signed 16-bit values (a second monitor left of the first).
    explicit CPoint(LPARAM packed) {
        x = static_cast<short>(LOWORD(packed));
        y = static_cast<short>(HIWORD(packed));
    }
    void Offset(int dx, int dy) {
        x += dx;
        y += dy;
    }
    bool operator==(POINT p) const { return x == p.x && y == p.y; }
    bool operator!=(POINT p) const { return !(*this == p); }
    CPoint operator+(SIZE s) const { return CPoint(x + s.cx, y + s.cy); }
    CPoint operator-(SIZE s) const { return CPoint(x - s.cx, y - s.cy); }
    CSize operator-(POINT p) const { return CSize(x - p.x, y - p.y); }
};

class CRect : public RECT {
public:
    CRect() { left = top = right = bottom = 0; }
    CRect(int l, int t, int r, int b) {
        left = l;
        top = t;
        right = r;
        bottom = b;
    }
    CRect(const RECT& r) { CopyRect(r); }
    CRect(const RECT* r) {
        if (r)
            CopyRect(*r);
        else
            SetRectEmpty();
    }
    CRect(POINT p, SIZE s) {
        left = p.x;
        top = p.y;
        right = p.x + s.cx;
        bottom = p.y + s.cy;
    }

    operator LPRECT() { return this; }
    operator LPCRECT() const { return this; }
    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
    CSize Size() const { return CSize(Width(), Height()); }
    CPoint TopLeft() const { return CPoint(left, top); }
    CPoint BottomRight() const { return CPoint(right, bottom); }
    CPoint CenterPoint() const { return CPoint((left + right) / 2, (top + bottom) / 2); }
    bool IsRectEmpty() const { return ::IsRectEmpty(this) != FALSE; }
    bool IsRectNull() const { return left == 0 && top == 0 && right == 0 && bottom == 0; }
    bool PtInRect(POINT p) const { return ::PtInRect(this, p) != FALSE; }
    void SetRect(int l, int t, int r, int b) {
        left = l;
        top = t;
        right = r;
        bottom = b;
    }
    void SetRectEmpty() { left = top = right = bottom = 0; }
    void CopyRect(const RECT& r) {
        left = r.left;
        top = r.top;
        right = r.right;
        bottom = r.bottom;
    }
    void OffsetRect(int dx, int dy) {
        left += dx;
        right += dx;
        top += dy;
        bottom += dy;
    }
    void OffsetRect(POINT p) { OffsetRect(p.x, p.y); }
    void MoveToXY(int x, int y) { OffsetRect(x - left, y - top); }
    void MoveToX(int x) { OffsetRect(x - left, 0); }
    void MoveToY(int y) { OffsetRect(0, y - top); }
    void InflateRect(int dx, int dy) {
        left -= dx;
        top -= dy;
        right += dx;
        bottom += dy;
    }
    void InflateRect(int l, int t, int r, int b) {
        left -= l;
        top -= t;
        right += r;
        bottom += b;
    }
    void DeflateRect(int dx, int dy) { InflateRect(-dx, -dy); }
    void DeflateRect(int l, int t, int r, int b) { InflateRect(-l, -t, -r, -b); }
    void NormalizeRect() {
        if (left > right) std::swap(left, right);
        if (top > bottom) std::swap(top, bottom);
    }
    bool IntersectRect(const RECT* a, const RECT* b) { return ::IntersectRect(this, a, b) != FALSE; }
    bool UnionRect(const RECT* a, const RECT* b) { return ::UnionRect(this, a, b) != FALSE; }
    bool operator==(const RECT& r) const { return ::EqualRect(this, &r) != FALSE; }
    bool operator!=(const RECT& r) const { return !(*this == r); }
};

class CGdiObject {
public:
    CGdiObject() = default;
    CGdiObject(const CGdiObject&) = delete;
    CGdiObject& operator=(const CGdiObject&) = delete;
    virtual ~CGdiObject() { DeleteObject(); }

    HGDIOBJ m_hObject = nullptr;
    HGDIOBJ GetSafeHandle() const { return m_hObject; }
    operator HGDIOBJ() const { return m_hObject; }
    BOOL Attach(HGDIOBJ h) {
        if (!h) return FALSE;
        DeleteObject();
        m_hObject = h;
        return TRUE;
    }
    HGDIOBJ Detach() {
        HGDIOBJ h = m_hObject;
        m_hObject = nullptr;
        return h;
    }
    BOOL DeleteObject() {
        if (!m_hObject) return FALSE;
        BOOL ok = ::DeleteObject(Detach());
        return ok;
    }
    int GetObject(int size, void* out) const { return ::GetObjectW(m_hObject, size, out); }
    // Non-owning temporary wrapper of any GDI handle.
    static CGdiObject* FromHandle(HGDIOBJ h);
};

class CPen : public CGdiObject {
public:
    CPen() = default;
    CPen(int style, int width, COLORREF color) { CreatePen(style, width, color); }
    BOOL CreatePen(int style, int width, COLORREF color) { return Attach(::CreatePen(style, width, color)); }
    operator HPEN() const { return static_cast<HPEN>(m_hObject); }
    static CPen* FromHandle(HPEN h) { return static_cast<CPen*>(CGdiObject::FromHandle(h)); }
};

class CBrush : public CGdiObject {
public:
    CBrush() = default;
    explicit CBrush(COLORREF color) { CreateSolidBrush(color); }
    BOOL CreateSolidBrush(COLORREF color) { return Attach(::CreateSolidBrush(color)); }
    BOOL CreateSysColorBrush(int index) { return Attach(::GetSysColorBrush(index)); }
    BOOL CreatePatternBrush(HBITMAP bmp) { return Attach(::CreatePatternBrush(bmp)); }
    operator HBRUSH() const { return static_cast<HBRUSH>(m_hObject); }
    static CBrush* FromHandle(HBRUSH h) { return static_cast<CBrush*>(CGdiObject::FromHandle(h)); }
};

class CFont : public CGdiObject {
public:
    BOOL CreateFontIndirect(const LOGFONTW* lf) { return Attach(::CreateFontIndirectW(lf)); }
    BOOL CreatePointFont(int pointTenths, LPCWSTR face, HDC dc = nullptr);
    int GetLogFont(LOGFONTW* lf) const { return GetObject(sizeof(LOGFONTW), lf); }
    operator HFONT() const { return static_cast<HFONT>(m_hObject); }
    static CFont* FromHandle(HFONT h) { return static_cast<CFont*>(CGdiObject::FromHandle(h)); }
};

class CBitmap : public CGdiObject {
public:
    BOOL LoadBitmap(UINT id);
    BOOL CreateCompatibleBitmap(HDC dc, int w, int h) { return Attach(::CreateCompatibleBitmap(dc, w, h)); }
    BOOL CreateBitmap(int w, int h, UINT planes, UINT bits, const void* data) {
        return Attach(::CreateBitmap(w, h, planes, bits, data));
    }
    int GetBitmap(BITMAP* bm) const { return GetObject(sizeof(BITMAP), bm); }
    CSize GetSize() const {
        BITMAP bm{};
        GetBitmap(&bm);
        return CSize(bm.bmWidth, bm.bmHeight);
    }
    operator HBITMAP() const { return static_cast<HBITMAP>(m_hObject); }
    static CBitmap* FromHandle(HBITMAP h) { return static_cast<CBitmap*>(CGdiObject::FromHandle(h)); }
};

class CRgn : public CGdiObject {
public:
    BOOL CreateRectRgn(int l, int t, int r, int b) { return Attach(::CreateRectRgn(l, t, r, b)); }
    BOOL CreateRectRgnIndirect(LPCRECT r) { return Attach(::CreateRectRgnIndirect(r)); }
    BOOL CreateRoundRectRgn(int l, int t, int r, int b, int w, int h) {
        return Attach(::CreateRoundRectRgn(l, t, r, b, w, h));
    }
    int CombineRgn(HRGN a, HRGN b, int mode) { return ::CombineRgn(*this, a, b, mode); }
    BOOL PtInRegion(int x, int y) const { return ::PtInRegion(*this, x, y); }
    operator HRGN() const { return static_cast<HRGN>(m_hObject); }
    static CRgn* FromHandle(HRGN h) { return static_cast<CRgn*>(CGdiObject::FromHandle(h)); }
};

class CWnd;

class CDC {
public:
    CDC() = default;
    CDC(const CDC&) = delete;
    CDC& operator=(const CDC&) = delete;
    virtual ~CDC() {
        if (m_bOwned) DeleteDC();
    }

    HDC m_hDC = nullptr;
    operator HDC() const { return m_hDC; }
    HDC GetSafeHdc() const { return m_hDC; }
    BOOL Attach(HDC dc) {
        m_hDC = dc;
        m_bOwned = false;
        return dc != nullptr;
    }
    HDC Detach() {
        HDC dc = m_hDC;
        m_hDC = nullptr;
        m_bOwned = false;
        return dc;
    }
    // A memory DC made here is owned and deleted with the object.
    BOOL CreateCompatibleDC(CDC* dc) {
        if (m_bOwned) DeleteDC();
        m_hDC = ::CreateCompatibleDC(dc ? dc->m_hDC : nullptr);
        m_bOwned = m_hDC != nullptr;
        return m_bOwned;
    }
    BOOL DeleteDC() {
        if (!m_hDC) return FALSE;
        BOOL ok = m_bOwned ? ::DeleteDC(m_hDC) : FALSE;
        m_hDC = nullptr;
        m_bOwned = false;
        return ok;
    }
    static CDC* FromHandle(HDC dc);

    HGDIOBJ SelectObject(HGDIOBJ h) { return ::SelectObject(m_hDC, h); }
    CPen* SelectObject(CPen* p) { return CPen::FromHandle(static_cast<HPEN>(SelectObject(p->m_hObject))); }
    CBrush* SelectObject(CBrush* b) { return CBrush::FromHandle(static_cast<HBRUSH>(SelectObject(b->m_hObject))); }
    CFont* SelectObject(CFont* f) { return CFont::FromHandle(static_cast<HFONT>(SelectObject(f->m_hObject))); }
    CBitmap* SelectObject(CBitmap* b) { return CBitmap::FromHandle(static_cast<HBITMAP>(SelectObject(b->m_hObject))); }
    HGDIOBJ SelectStockObject(int index) { return SelectObject(::GetStockObject(index)); }

    COLORREF SetTextColor(COLORREF c) { return ::SetTextColor(m_hDC, c); }
    COLORREF SetBkColor(COLORREF c) { return ::SetBkColor(m_hDC, c); }
    COLORREF GetTextColor() const { return ::GetTextColor(m_hDC); }
    COLORREF GetBkColor() const { return ::GetBkColor(m_hDC); }
    int SetBkMode(int mode) { return ::SetBkMode(m_hDC, mode); }
    COLORREF GetPixel(int x, int y) const { return ::GetPixel(m_hDC, x, y); }
    COLORREF SetPixel(int x, int y, COLORREF c) { return ::SetPixel(m_hDC, x, y, c); }

    BOOL BitBlt(int x, int y, int w, int h, CDC* src, int sx, int sy, DWORD rop) {
        return ::BitBlt(m_hDC, x, y, w, h, src ? src->m_hDC : nullptr, sx, sy, rop);
    }
    BOOL StretchBlt(int x, int y, int w, int h, CDC* src, int sx, int sy, int sw, int sh, DWORD rop) {
        return ::StretchBlt(m_hDC, x, y, w, h, src ? src->m_hDC : nullptr, sx, sy, sw, sh, rop);
    }
    void FillRect(LPCRECT r, CBrush* b) { ::FillRect(m_hDC, r, *b); }
    void FillRect(LPCRECT r, HBRUSH b) { ::FillRect(m_hDC, r, b); }
    void FillSolidRect(LPCRECT r, COLORREF c) {
        COLORREF old = ::SetBkColor(m_hDC, c);
        ::ExtTextOutW(m_hDC, 0, 0, ETO_OPAQUE, r, nullptr, 0, nullptr);
        ::SetBkColor(m_hDC, old);
    }
    void FillSolidRect(int x, int y, int w, int h, COLORREF c) {
        CRect r(x, y, x + w, y + h);
        FillSolidRect(&r, c);
    }
    void FrameRect(LPCRECT r, CBrush* b) { ::FrameRect(m_hDC, r, *b); }
    void Draw3dRect(LPCRECT r, COLORREF topLeft, COLORREF bottomRight) {
        Draw3dRect(r->left, r->top, r->right - r->left, r->bottom - r->top, topLeft, bottomRight);
    }
    void Draw3dRect(int x, int y, int w, int h, COLORREF topLeft, COLORREF bottomRight) {
        FillSolidRect(x, y, w - 1, 1, topLeft);
        FillSolidRect(x, y, 1, h - 1, topLeft);
        FillSolidRect(x + w, y, -1, h, bottomRight);
        FillSolidRect(x, y + h, w, -1, bottomRight);
    }
    void DrawFocusRect(LPCRECT r) { ::DrawFocusRect(m_hDC, r); }
    CPoint MoveTo(int x, int y) {
        POINT p{};
        ::MoveToEx(m_hDC, x, y, &p);
        return p;
    }
    BOOL LineTo(int x, int y) { return ::LineTo(m_hDC, x, y); }
    BOOL Rectangle(LPCRECT r) { return ::Rectangle(m_hDC, r->left, r->top, r->right, r->bottom); }
    BOOL RoundRect(LPCRECT r, POINT p) { return ::RoundRect(m_hDC, r->left, r->top, r->right, r->bottom, p.x, p.y); }
    int DrawText(const CString& text, LPRECT r, UINT format) {
        return ::DrawTextW(m_hDC, text, text.GetLength(), r, format);
    }
    int DrawText(LPCWSTR text, int count, LPRECT r, UINT format) { return ::DrawTextW(m_hDC, text, count, r, format); }
    BOOL TextOut(int x, int y, const CString& text) { return ::TextOutW(m_hDC, x, y, text, text.GetLength()); }
    CSize GetTextExtent(const CString& text) const {
        SIZE s{};
        ::GetTextExtentPoint32W(m_hDC, text, text.GetLength(), &s);
        return s;
    }
    BOOL DrawState(CPoint p, CSize s, HBITMAP bmp, UINT flags, HBRUSH brush = nullptr) {
        return ::DrawStateW(m_hDC, brush, nullptr, reinterpret_cast<LPARAM>(bmp), 0, p.x, p.y, s.cx, s.cy,
                            flags | DST_BITMAP);
    }
    BOOL DrawState(CPoint p, CSize s, HICON icon, UINT flags, HBRUSH brush = nullptr) {
        return ::DrawStateW(m_hDC, brush, nullptr, reinterpret_cast<LPARAM>(icon), 0, p.x, p.y, s.cx, s.cy,
                            flags | DST_ICON);
    }
    BOOL DrawIcon(int x, int y, HICON icon) { return ::DrawIcon(m_hDC, x, y, icon); }
    int ExcludeClipRect(LPCRECT r) { return ::ExcludeClipRect(m_hDC, r->left, r->top, r->right, r->bottom); }
    int IntersectClipRect(LPCRECT r) { return ::IntersectClipRect(m_hDC, r->left, r->top, r->right, r->bottom); }
    int SelectClipRgn(CRgn* rgn) { return ::SelectClipRgn(m_hDC, rgn ? static_cast<HRGN>(*rgn) : nullptr); }
    int GetDeviceCaps(int index) const { return ::GetDeviceCaps(m_hDC, index); }
    int SaveDC() { return ::SaveDC(m_hDC); }
    BOOL RestoreDC(int saved) { return ::RestoreDC(m_hDC, saved); }

protected:
    bool m_bOwned = false;
};

// DCs tied to a window; each gives its DC back in the destructor.
class CPaintDC : public CDC {
public:
    explicit CPaintDC(CWnd* wnd);
    ~CPaintDC() override;
    PAINTSTRUCT m_ps{};
    HWND m_hWnd;
};

class CClientDC : public CDC {
public:
    explicit CClientDC(CWnd* wnd);
    ~CClientDC() override;
    HWND m_hWnd;
};

class CWindowDC : public CDC {
public:
    explicit CWindowDC(CWnd* wnd);
    ~CWindowDC() override;
    HWND m_hWnd;
};

namespace afx_detail {
// The calling thread's temporary GDI object and DC wrappers (made by FromHandle). They wrap
// handles they don't own, so they let go of them before they go, also when the thread ends.
// The store is part of the thread's window state (CWnd.cpp).
struct TempGdiObjects {
    TempGdiObjects();
    ~TempGdiObjects();
    TempGdiObjects(const TempGdiObjects&) = delete;
    TempGdiObjects& operator=(const TempGdiObjects&) = delete;
    void Release();

    struct Maps;
    Maps* m_pMaps;
};
TempGdiObjects& ThreadGdiTemps();
// Frees the calling thread's temporary GDI object and DC wrappers.
void DeleteTempGdiObjects();
}  // namespace afx_detail
