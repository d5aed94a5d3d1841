// A progress bar that paints itself: the filled part is a gradient over any number of
// colours, the rest a background colour or brush; it can show a percentage or position text
// and run as a moving block. Composed off screen and copied in one blit, so it never flickers.
#pragma once

#include "framework/AfxWin.h"
#include "framework/CArray.h"

class CGradientProgressCtrl : public CProgressCtrl {
public:
    // Style bits read from the window style.
    enum : DWORD {
        kStyleVertical = PBS_VERTICAL,
        kStyleShowPercent = 0x100,
        kStyleShowPosition = 0x200,
        kStyleGradientFilledOnly = 0x2000,
        kStyleReverse = 0x4000,
        kStyleMovingBlock = 0x8000,
    };

    // What one paint hands to the drawing operations.
    struct DrawInfo {
        CDC* dc;
        DWORD style;
        CRect area;  // client rectangle inset by the border rectangle
        int pos, lower, upper;
    };

    CGradientProgressCtrl();
    ~CGradientProgressCtrl() override;

    void SetGradientColors(COLORREF start, COLORREF end);
    const CDWordArray& GetGradientColors() const { return m_colors; }
    void SetBkColour(COLORREF color) { m_crBk = color; }
    COLORREF GetBkColour() const { return m_crBk; }
    int GetBlockTail() const { return m_nTail; }
    int GetStep() const { return m_nStep; }

    // The bar text: format's "%d" takes the value and "%%" is a percent sign; anything else
    // is shown as it stands, so a window text can never act as an unchecked format.
    static CString FormatBarText(const CString& format, int value);

    // Bar coordinates (x along the bar from 0) into client coordinates.
    static CRect BarToClient(const DrawInfo& info, const CRect& r);

protected:
    virtual void PaintGradientBands(DrawInfo& info, const CRect& gradient, const CRect& clip);
    virtual void PaintGradientBand(DrawInfo& info, const CRect& gradient, const CRect& clip, COLORREF start,
                                   COLORREF end);
    virtual void PaintBarText(DrawInfo& info, const CRect& full, const CRect& filled);
    virtual void PaintClippedText(DrawInfo& info, const CRect& clip, const CString& text, CPoint anchor);
    virtual BOOL MoveBlock(LRESULT* result, int value, BOOL increment);

    afx_msg BOOL OnEraseBkgnd(CDC* dc);
    afx_msg void OnPaint();
    afx_msg LRESULT OnSetBarColor(WPARAM end, LPARAM start);
    afx_msg LRESULT OnSetBkColor(WPARAM, LPARAM color);
    afx_msg LRESULT OnSetPos(WPARAM pos, LPARAM);
    afx_msg LRESULT OnDeltaPos(WPARAM delta, LPARAM);
    afx_msg LRESULT OnStepIt(WPARAM, LPARAM);
    afx_msg LRESULT OnSetStep(WPARAM step, LPARAM);

private:
    CDWordArray m_colors;
    HBRUSH m_hBarBrush = nullptr;
    COLORREF m_crBk;
    HBRUSH m_hBkBrush = nullptr;
    COLORREF m_crTextBar, m_crTextBk;
    int m_nTail = 0;
    int m_nBlockLength = 40;
    int m_nStep = 10;
    CRect m_border;

    DECLARE_MESSAGE_MAP()
};
