// CCustomTabCtrl, CCustomTabCtrlItem, TabNotifyRecord, TabSizeParentParams: an owner-drawn tab
// strip of its own window class that scrolls its tabs with arrow buttons, can rename a tab in
// place and tells its parent everything it learns from the mouse by WM_NOTIFY.
#pragma once

#include <windows.h>
#include <uxtheme.h>

#include <functional>

#include "framework/AfxWin.h"
#include "framework/CArray.h"

class CThemeUtil;

// Style bits of the control's own window style (the low word).
constexpr DWORD TABS_WIDEST = 0x0001;
constexpr DWORD TABS_FOURSCROLLBUTTONS = 0x0002;
constexpr DWORD TABS_AUTOSCROLLBUTTONS = 0x0004;
constexpr DWORD TABS_TOOLTIPS = 0x0008;
constexpr DWORD TABS_MULTIHIGHLIGHT = 0x0010;
constexpr DWORD TABS_EDITLABELS = 0x0020;
constexpr DWORD TABS_DRAGMOVE = 0x0040;
constexpr DWORD TABS_DRAGCOPY = 0x0080;
constexpr DWORD TABS_CLOSEBUTTON = 0x0100;
constexpr DWORD TABS_BUTTONSAFTER = 0x0200;
constexpr DWORD TABS_TOP = 0x0400;
constexpr DWORD TABS_VERTICAL = 0x0800;

// Notification codes besides the common NM_* ones.
constexpr int TABN_SELCHANGE = 0;
constexpr int TABN_HIGHLIGHTCHANGE = 1;
constexpr int TABN_ITEMMOVE = 2;
constexpr int TABN_ITEMCOPY = 3;
constexpr int TABN_LABELUPDATE = 4;

// The WM_NOTIFY record; for a negative item only the header, item and point are filled.
struct TabNotifyRecord {
    NMHDR hdr;
    int nItem;
    WCHAR szText[30];
    DWORD dwData;
    RECT rc;
    POINT pt;
    BOOL bSelected;
    BOOL bHighlighted;
};

// The layout record of WM_SIZEPARENT (a parent's docking pass over its bars).
struct TabSizeParentParams {
    HDWP hDWP;
    RECT rect;
    SIZE sizeTotal;
    BOOL bStretch;
};
#ifndef WM_SIZEPARENT
#define WM_SIZEPARENT 0x0361
#endif

class CCustomTabCtrlItem {
public:
    enum { kHidden = 0, kStubSelected = 1, kStub = 2, kFull = 3, kOverlapped = 4 };

    CCustomTabCtrlItem(const CString& text, DWORD data) : m_strText(text), m_dwData(data) {}

    // True when the tab shows and the point (strip coordinates) lies in its outline.
    BOOL HitTest(int x, int y) const { return m_nShape != kHidden && m_rgn.m_hObject && m_rgn.PtInRegion(x, y); }
    void SetShape(int shape, BOOL top);
    void Draw(CDC* dc, CFont* font, BOOL top, BOOL rightToLeft);

    CString m_strText;
    DWORD m_dwData;
    CRect m_rect;
    CRect m_rectText;
    CRgn m_rgn;
    int m_nShape = kOverlapped;
    BOOL m_bSelected = FALSE;
    BOOL m_bHighlighted = FALSE;
    BOOL m_bHighlightChanged = FALSE;
};

class CCustomTabCtrl : public CWnd {
public:
    // Hit codes; items are 0 and up.
    enum { kHitFirst = -1, kHitPrev = -2, kHitNext = -3, kHitLast = -4, kHitClose = -5, kHitNone = -6 };
    // Layout kinds of RecalcLayout.
    enum { kPrev = 0, kNext = 1, kEnsureVisible = 2, kFull = 3, kFirst = 4, kLast = 5, kEdit = 6, kClose = 7 };
    // Button states.
    enum { kHiddenBtn = 0, kNormal = 1, kHot = 2, kPressed = 3 };
    static constexpr int kMaxText = 29;
    static constexpr UINT kEditId = 1;
    static constexpr UINT_PTR kRepeatTimer = 1;
    static constexpr UINT_PTR kDragTimer = 2;

    CCustomTabCtrl();
    ~CCustomTabCtrl() override;

    static BOOL RegisterWindowClass();
    // A child window of the control's class; a dialog template may name the class instead.
    BOOL Create(DWORD style, const RECT& rect, CWnd* parent, UINT id);

    void SetControlFont(const LOGFONTW* font, BOOL redraw = FALSE);
    BOOL ModifyStyle(DWORD remove, DWORD add, UINT flags = 0);
    // The control never makes these itself; without them drags stay inactive.
    void SetDragCursors(HCURSOR move, HCURSOR copy);

    int InsertItem(int index, const CString& text, DWORD data = 0);
    int MoveItem(int from, int to, BOOL byMouse = FALSE);
    int CopyItem(int from, int to, BOOL byMouse = FALSE);
    int SetCurSel(int index) { return SetCurSelEx(index, FALSE, FALSE); }
    int SetCurSelEx(int index, BOOL byMouse, BOOL ctrl);
    int HighlightItem(int index, BOOL byMouse, BOOL ctrl);
    int EditLabel(int index, BOOL byMouse = FALSE);

    int GetCurSel() const { return m_nSel; }
    int GetItemCount() const { return static_cast<int>(m_items.GetSize()); }
    const CCustomTabCtrlItem* GetItem(int index) const {
        return index >= 0 && index < GetItemCount() ? m_items[index] : nullptr;
    }
    int GetFirstVisible() const { return m_nFirstVisible; }
    // State of a button by its hit code.
    int GetButtonState(int hit) const;
    CToolTipCtrl& GetToolTip() { return m_wndToolTip; }

    // Geometry and painting (CCustomTabCtrlPainting.cpp).
    void RecalcLayout(int kind, int item);
    int RecalcTabWidths();
    void PlaceItems(int buttonArea);
    void PlaceEditControl(int buttonArea, int item);
    // An item index or a hit code for a point in client coordinates.
    int HitTest(CPoint client);
    void DrawGlyph(CDC* dc, CPoint point, int glyph, int colorIndex);
    void DrawThemeImage(CDC* dc, const CRect& rect, HBITMAP image, BOOL horizontal, const MARGINS& margins, int frame);
    COLORREF GetGlyphColor(int index) const { return m_crGlyph[index]; }
    bool HasThemedButtons() const { return m_hBmpLeft != nullptr; }

    LRESULT NotifyParent(int code, int item, CPoint point);

    // Where the scroll repeat reads the time: GetTickCount unless a test replaces it.
    using TickSource = std::function<DWORD()>;
    static TickSource& Ticks();

    BOOL PreTranslateMessage(MSG* msg) override;

protected:
    void PreSubclassWindow() override;

    afx_msg BOOL OnEraseBkgnd(CDC*) { return TRUE; }
    afx_msg void OnLButtonDown(UINT flags, CPoint point);
    afx_msg void OnRButtonDown(UINT flags, CPoint point);
    afx_msg void OnLButtonUp(UINT flags, CPoint point);
    afx_msg void OnMouseLeave();
    afx_msg LRESULT OnThemeChanged(WPARAM = 0, LPARAM = 0);
    afx_msg void OnMouseMove(UINT flags, CPoint point);
    afx_msg void OnPaint();
    afx_msg void OnSize(UINT type, int cx, int cy);
    afx_msg void OnLButtonDblClk(UINT flags, CPoint point);
    afx_msg void OnTimer(UINT_PTR id);
    afx_msg void OnEditUpdate();
    afx_msg void OnRButtonDblClk(UINT flags, CPoint point);
    afx_msg HBRUSH OnCtlColor(CDC* dc, CWnd* wnd, UINT ctlColor);
    afx_msg LRESULT OnSizeParent(WPARAM wParam, LPARAM lParam);
    DECLARE_MESSAGE_MAP()

private:
    int ProcessLButtonDown(int hit, UINT flags, CPoint point);
    // Strip geometry: length, thickness, and a client point in strip coordinates.
    void GetStripSize(int& length, int& thickness) const;
    CPoint ToStrip(CPoint client) const;
    CRect FromStrip(const CRect& strip) const;
    int HitTestStrip(int x, int y) const;
    int ShownButtons() const;
    bool ButtonsShown() const { return m_nPrevState != kHiddenBtn || m_nFirstState != kHiddenBtn; }
    void ResetButtons();
    void DeleteThemeImages();
    BOOL ReadThemePart(CThemeUtil& theme, int part, HBITMAP& image, BOOL& horizontal, MARGINS& margins);
    BOOL ReadGlyphColors(CThemeUtil& theme);
    void DrawButton(CDC* dc, const CRect& rect, int state, int glyph, BOOL leftImage, BOOL plainShift);
    // Tooltip bookkeeping (only when a tooltip window exists).
    void SetToolRect(int id, const CRect& stripRect);
    void ShiftItemTools(int from, int delta);
    CString GetToolText(int id);
    void SetToolText(int id, const CString& text);
    bool HasToolTip() const { return m_wndToolTip.m_hWnd && ::IsWindow(m_wndToolTip.m_hWnd); }
    // The rename's nested loop; returns when it ended.
    void RunEditLoop(int index);
    BOOL CommitEdit(int index);

    HCURSOR m_hCursorMove = nullptr;
    HCURSOR m_hCursorCopy = nullptr;
    CFont m_font;
    CFont m_fontSelected;
    int m_nSel = -1;
    int m_nFirstVisible = 0;
    int m_nDragTarget = 0;
    int m_nPrevState = kHiddenBtn;
    int m_nNextState = kHiddenBtn;
    int m_nFirstState = kHiddenBtn;
    int m_nLastState = kHiddenBtn;
    int m_nCloseState = kHiddenBtn;
    int m_nPressed = kHitNone;
    DWORD m_dwPressTime = 0;
    COLORREF m_crGlyph[4] = {};
    CBitmap m_bmpGlyphs;
    HBITMAP m_hBmpLeft = nullptr;
    HBITMAP m_hBmpRight = nullptr;
    BOOL m_bLeftHorizontal = FALSE;
    BOOL m_bRightHorizontal = FALSE;
    MARGINS m_marginsLeft = {};
    MARGINS m_marginsRight = {};
    CToolTipCtrl m_wndToolTip;
    CEdit m_edit;
    CArray<CCustomTabCtrlItem*> m_items;
    CBrush m_brEdit;
    CString m_strEditOld;
    bool m_bEditing = false;
};
