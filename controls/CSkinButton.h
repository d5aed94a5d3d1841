// An owner-drawn push button whose face comes from a pair of bitmaps (hovered/pressed and
// normal), with state-dependent caption colours, hover tracking, check-box mode and an
// optional flat border. Dialog buttons are subclassed with it and configured right after.
#pragma once

#include <functional>

#include "controls/MenuTracker.h"
#include "framework/AfxWin.h"

class CSkinButton : public CButton {
public:
    enum { kOk = 0, kInvalidBitmap = 1, kMaskFailed = 2, kInvalidIndex = 3, kInvalidAlign = 4, kInvalidStyle = 6 };
    enum { kAlignLeft = 0, kAlignTop = 1, kAlignRight = 2, kAlignOverlap = 3 };
    enum { kColorBkIn = 0, kColorFgIn = 1, kColorBkOut = 2, kColorFgOut = 3, kColorBkFocus = 4, kColorFgFocus = 5 };
    static constexpr INT_PTR kDarkerOfHovered = -3;
    static constexpr INT_PTR kGreyOfHovered = -2;

    CSkinButton();
    ~CSkinButton() override;

    DWORD SetBitmaps(INT_PTR hoveredId, COLORREF hoveredKey, INT_PTR normalId = 0, COLORREF normalKey = 0);
    DWORD SetBitmapHandles(HBITMAP hovered, COLORREF hoveredKey, HBITMAP normal = nullptr, COLORREF normalKey = 0);
    DWORD SetAlign(BYTE align, BOOL repaint = TRUE);
    DWORD SetColor(BYTE index, COLORREF color, BOOL repaint = TRUE);
    DWORD SetDefaultColors(BOOL repaint = TRUE);
    DWORD SetPressedStyle(BYTE style, BOOL repaint = TRUE);
    DWORD SetFlatBorder(BOOL draw, BOOL repaint = TRUE);
    DWORD SetFlat(BOOL flat, BOOL repaint = TRUE);
    DWORD SetTextOffset(int x, int y, BOOL repaint = TRUE);
    DWORD ClearImageMargins();
    DWORD SetCheck(int check, BOOL repaint = TRUE);
    int GetCheck() const { return m_nChecked; }
    DWORD SetURL(LPCWSTR url);
    DWORD SetMenu(UINT menuId, HWND owner, BOOL repaint = TRUE);
    DWORD SetBtnCursor(HCURSOR cursor) {
        m_hCursor = cursor;
        return kOk;
    }
    void SetAlwaysTrack(BOOL track) { m_bAlwaysTrack = track != FALSE; }
    COLORREF GetColor(BYTE index) const { return index < 6 ? m_crColors[index] : 0; }
    bool IsHovered() const { return m_bHover; }
    bool IsDefault() const { return m_bDefault; }
    bool IsCheckBox() const { return m_bCheckBox; }

    // Shell launches and popup menus go through these seams (tests need neither).
    using UrlOpener = std::function<void(LPCWSTR url)>;
    static UrlOpener& Opener();
    static MenuTracker& Tracker();

    void DrawItem(LPDRAWITEMSTRUCT dis) override;
    BOOL PreTranslateMessage(MSG* msg) override;

protected:
    void PreSubclassWindow() override;
    virtual DWORD PaintBackground(CDC* dc, CRect* rect);
    virtual DWORD PaintBorder(CDC* dc, CRect* rect);
    virtual void PaintIcon(CDC* dc, BOOL hasCaption, CRect* item, CRect* caption, BOOL pressed, BOOL disabled);
    virtual void PaintBitmap(CDC* dc, BOOL hasCaption, CRect* item, CRect* caption, BOOL pressed, BOOL disabled);
    virtual void PaintCaption(CDC* dc, const CString& text, CRect* item, CRect* caption, BOOL pressed, BOOL disabled);

    afx_msg BOOL OnSetCursor(CWnd* wnd, UINT hit, UINT message);
    afx_msg void OnKillFocus(CWnd* next);
    afx_msg void OnMouseMove(UINT flags, CPoint point);
    afx_msg void OnSysColorChange();
    afx_msg BOOL OnClicked();
    afx_msg void OnActivate(UINT state, CWnd* other, BOOL minimised);
    afx_msg void OnEnable(BOOL enable);
    afx_msg void OnCancelMode();
    afx_msg UINT OnGetDlgCode();
    afx_msg HBRUSH CtlColor(CDC* dc, UINT kind);
    afx_msg LRESULT OnSetStyle(WPARAM style, LPARAM redraw);
    afx_msg LRESULT OnMouseLeaveMsg(WPARAM, LPARAM);
    afx_msg LRESULT OnSetCheckMsg(WPARAM check, LPARAM);
    afx_msg LRESULT OnGetCheckMsg(WPARAM, LPARAM);

private:
    struct Image {
        HBITMAP bitmap = nullptr;
        int width = 0, height = 0;
        HBITMAP mask = nullptr;
        COLORREF key = 0;
    };
    void FreeImages();
    DWORD TakeImage(Image& image, HBITMAP bitmap, COLORREF key);
    void CancelHover();
    void PlaceImage(BOOL hasCaption, const CRect& item, CRect* caption, BOOL pressed, int w, int h, CRect* image);
    static HBITMAP CreateMask(HBITMAP source, int w, int h, COLORREF key);
    static HBITMAP CreateShadedCopy(HBITMAP source, COLORREF key, bool grey);
    void Repaint(BOOL repaint) {
        if (repaint && m_hWnd) Invalidate();
    }

    bool m_bShowDisabledBitmap = true;
    int m_nMarginX = 3, m_nMarginY = 3;
    int m_nPressedX = 1, m_nPressedY = 1;
    bool m_bFlat = true, m_bHover = false;
    bool m_bPressed = false, m_bFocused = false, m_bDisabled = false;
    bool m_bDefault = false, m_bCheckBox = false;
    BYTE m_nAlign = 0;
    bool m_bDrawBorder = true, m_bFlatFocus = false;
    COLORREF m_crColors[6] = {};
    HWND m_hMenuOwner = nullptr;
    bool m_bMenuShown = false;
    int m_nTextX = 0, m_nTextY = 0;
    HMENU m_hMenu = nullptr;
    HCURSOR m_hCursor = nullptr;
    CToolTipCtrl m_tooltip;
    bool m_bAlwaysTrack = true;
    int m_nChecked = 0;
    UINT m_nType = BS_TYPEMASK;
    DWORD m_dwTooltipStyle = 0;
    wchar_t m_szURL[261] = {};
    Image m_images[2];  // [0] hovered/pressed, [1] normal

    DECLARE_MESSAGE_MAP()
};
