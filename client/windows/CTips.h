// The client's own message box: one text line, OK and Cancel, drawn with the skinned frame.
#pragma once

#include "controls/CSkinButton.h"
#include "controls/CSkinFrame.h"
#include "framework/AfxWin.h"

class CTips : public CDialog {
public:
    enum { IDD = 179, IDC_TEXT = 1044 };
    explicit CTips(CWnd* parent = nullptr);

    void SetText(const CString& text) { m_strText = text; }
    void SetTitle(const CString& title) { m_strTitle = title; }
    void SetOkText(const CString& text) { m_strOkText = text; }
    void SetCancelText(const CString& text) { m_strCancelText = text; }

    BOOL OnInitDialog() override;

    CSkinFrame m_frame;
    CSkinButton m_ok;
    CSkinButton m_cancel;
    CStatic m_label;

protected:
    void DoDataExchange(CDataExchange* dx) override;
    afx_msg HBRUSH OnCtlColor(CDC* dc, CWnd* wnd, UINT kind);
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

private:
    CString m_strText, m_strTitle, m_strOkText, m_strCancelText;
    CBrush m_background;
    DECLARE_MESSAGE_MAP()
};
