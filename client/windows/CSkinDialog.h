// A dialog drawn with the skinned frame: the routing of its non-client messages to the frame,
// shared by the client's skinned dialogs, and where their client rectangle goes.
#pragma once

#include "client/windows/Palette.h"
#include "controls/CSkinButton.h"
#include "controls/CSkinFrame.h"
#include "framework/AfxWin.h"

class CSkinDialog : public CDialog {
public:
    CSkinDialog(UINT templateId, CWnd* parent) : CDialog(templateId, parent) {}

    CSkinFrame m_frame;

    // The face the client's windows give their push buttons: the bitmaps in the order the button
    // takes them (hovered, normal) and the caption's colour.
    static void SkinButton(CSkinButton& button, BOOL flatBorder = FALSE, INT_PTR hovered = 181, INT_PTR normal = 180,
                           COLORREF text = palette::kButton);

protected:
    // Moves the edges of the proposed client rectangle (window coordinates) for this skin: by
    // default 2 pixels wider on either side, the bottom 2 pixels up on newer systems and 2 down
    // on older ones.
    virtual void AdjustClientRect(RECT& proposed);
    // The rule of dialogs with the skinned caption: the client area starts below it (29 pixels,
    // less the system frame's 3) rather than below the system's, 2 pixels wider on each side
    // and 2 lower at the bottom.
    static void BelowSkinnedCaption(RECT& proposed);

    afx_msg int OnCreate(LPCREATESTRUCTW cs);
    afx_msg void OnSize(UINT type, int cx, int cy);
    afx_msg void OnPaint();
    afx_msg void OnActivate(UINT state, CWnd* other, BOOL minimised);
    afx_msg void OnNcPaint();
    afx_msg BOOL OnNcActivate(BOOL active);
    afx_msg void OnNcCalcSize(BOOL valid, NCCALCSIZE_PARAMS* params);
    afx_msg LRESULT OnNcHitTest(CPoint point);
    afx_msg void OnNcMouseMove(UINT hit, CPoint point);
    afx_msg void OnNcLButtonDown(UINT hit, CPoint point);
    afx_msg void OnNcLButtonUp(UINT hit, CPoint point);

    DECLARE_MESSAGE_MAP()
};
