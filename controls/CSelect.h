// CSelect, CMyFont, CSelFont, CSelBkMode, CSelTextColor, CSelTextAlign: small objects that
// change one DC setting and put the first value they replaced back when restored or destroyed,
// so drawing code cannot leave a DC in a changed state.
#pragma once

#include "framework/AfxGdi.h"

// A font that deletes its GDI object when destroyed.
class CMyFont : public CFont {
public:
    ~CMyFont() override { DeleteObject(); }
};

class CSelect {
public:
    explicit CSelect(CDC* dc) : m_pDC(dc) {}
    CSelect(const CSelect&) = delete;
    CSelect& operator=(const CSelect&) = delete;
    virtual ~CSelect() = default;
    CDC* GetDC() const { return m_pDC; }

protected:
    CDC* m_pDC;
};

class CSelFont : public CSelect {
public:
    explicit CSelFont(CDC* dc) : CSelect(dc) {}
    CSelFont(CDC* dc, CFont* font) : CSelect(dc) { Select(font); }
    CSelFont(CDC* dc, HFONT font) : CSelect(dc) { Select(font); }
    // An owned font made from the face and size (tenths of a point).
    CSelFont(CDC* dc, int pointTenths, LPCWSTR face) : CSelect(dc) { Select(pointTenths, face); }
    ~CSelFont() override { Restore(); }

    void Select(CFont* font) { Select(font ? static_cast<HFONT>(font->m_hObject) : nullptr); }
    void Select(HFONT font);
    void Select(int pointTenths, LPCWSTR face);
    void Restore();
    HFONT GetOldFont() const { return m_hOldFont; }

private:
    HFONT m_hOldFont = nullptr;
    CMyFont m_ownFont;
};

class CSelBkMode : public CSelect {
public:
    explicit CSelBkMode(CDC* dc) : CSelect(dc) {}
    CSelBkMode(CDC* dc, int mode) : CSelect(dc) { Select(mode); }
    ~CSelBkMode() override { Restore(); }
    void Select(int mode);
    void Restore();
    int GetOldMode() const { return m_nOldMode; }

private:
    int m_nOldMode = 0;  // 0: nothing kept
};

class CSelTextColor : public CSelect {
public:
    explicit CSelTextColor(CDC* dc) : CSelect(dc) {}
    CSelTextColor(CDC* dc, COLORREF color) : CSelect(dc) { Select(color); }
    ~CSelTextColor() override { Restore(); }
    void Select(COLORREF color);
    void Restore();
    COLORREF GetOldColor() const { return m_crOldColor; }

private:
    COLORREF m_crOldColor = CLR_INVALID;  // nothing kept
};

class CSelTextAlign : public CSelect {
public:
    explicit CSelTextAlign(CDC* dc) : CSelect(dc) {}
    CSelTextAlign(CDC* dc, UINT align) : CSelect(dc) { Select(align); }
    ~CSelTextAlign() override { Restore(); }
    void Select(UINT align);
    void Restore();
    UINT GetOldAlign() const { return m_nOldAlign; }

private:
    UINT m_nOldAlign = GDI_ERROR;  // nothing kept
};
