// A self-contained link label: holds a URL (by default its own text), shows it as a tooltip,
// draws its text underlined in a link, visited or hover colour and opens the URL on a click.
#pragma once

#include <functional>

#include "controls/CLinkLabel.h"

class CHyperLink : public CLinkLabel {
public:
    CHyperLink();
    ~CHyperLink() override;

    void SetURL(const CString& url);
    const CString& GetURL() const { return m_strURL; }
    bool IsVisited() const { return m_bVisited; }
    bool IsMouseOver() const { return m_bHover; }
    HCURSOR GetLinkCursor() const { return m_hCursor; }
    CToolTipCtrl& GetToolTip() { return m_tooltip; }

    // Returns the launch result (above 32: success).
    HINSTANCE GotoURL(const CString& url, int showCommand);

    // The browser command line when the shell cannot open the URL: the registered command cut
    // at "%1" (quoted or bare; whole line when absent), then a blank and the URL.
    static CString BuildFallbackCommand(const CString& commandLine, const CString& url);
    // The registered command line of ".htm" pages; empty when either key cannot be read.
    static CString HtmlOpenCommand();
    // Cursor 106 of the help program, copied, or null; the link falls back to the system hand.
    static HCURSOR LoadHelpCursor(const CString& programPath);

    // The shell and process launches go through these seams (tests launch nothing).
    using ShellOpener = std::function<HINSTANCE(LPCWSTR url, int showCommand)>;
    using CommandRunner = std::function<UINT(LPCWSTR commandLine, int showCommand)>;
    static ShellOpener& Opener();
    static CommandRunner& Runner();

    BOOL PreTranslateMessage(MSG* msg) override;

protected:
    void PreSubclassWindow() override;

    afx_msg void OnClicked();
    afx_msg HBRUSH CtlColor(CDC* dc, UINT kind);
    afx_msg BOOL OnSetCursor(CWnd* wnd, UINT hit, UINT message);
    afx_msg void OnMouseMove(UINT flags, CPoint point);
    void LeaveHover() override;

private:
    void FitToText();

    COLORREF m_crLink = 0xEE0000;
    COLORREF m_crVisited = 0x8B1A55;
    COLORREF m_crHover;
    bool m_bVisited = false;
    BOOL m_bUnderline = TRUE;
    BOOL m_bAdjustToFit = TRUE;
    CString m_strURL;
    HCURSOR m_hCursor = nullptr;
    bool m_bOwnCursor = false;
    CToolTipCtrl m_tooltip;

    DECLARE_MESSAGE_MAP()
};
