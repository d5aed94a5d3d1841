// The client's main window: a greeting with the user's mail address over a two-tab strip, the
// upload page and the uploaded-files tab below it. It owns the floating window, drives the tray
// icon, and its end is the client's end.
#pragma once

#include <functional>
#include <memory>

#include "client/windows/CFloatWnd.h"
#include "client/windows/CSkinDialog.h"
#include "client/windows/CTabUploaded.h"
#include "client/windows/CUpload.h"
#include "client/windows/Palette.h"
#include "client/windows/UpdateCheck.h"
#include "controls/CCustomTabCtrl.h"
#include "controls/MenuTracker.h"

class CTrayIcon;

// The caption buttons' registered message: wParam 1 closes the main dialog, 2 minimises it.
extern const UINT WMU_HITCAPBUTTON;
// The main dialog's and its floating window's handles while the main dialog lives, for the tray
// icon's callback; null otherwise.
extern HWND g_hMainDialog;
extern HWND g_hFloatWindow;

class CFerrantDlg : public CSkinDialog {
public:
    enum {
        IDD = 102,
        IDC_GREETING = 1000,
        IDC_TABS = 1003,
        IDC_PAGE_AREA = 1007,
        IDC_USER = 1045,
        IDR_CAPTION_MENU = 136,
        IDR_TRAY_MENU = 154,
        IDI_MAIN = 187,
        IDB_HEADER = 190,
        IDB_SECOND = 192,
        ID_SWITCH_USER = 32776,
        ID_SETTING = 32777,
        ID_CHECK_UPDATE = 32778,
        ID_ABOUT = 32779,
        ID_SHOW_FLOAT = 32783,
        ID_SHOW_MAIN = 32785,
        ID_EXIT = 32787,
    };
    // The tray menu's entries, as its tracking returns them.
    enum { kTrayShowFloat = 1, kTrayShowMain = 2, kTrayExit = 3 };
    static constexpr COLORREF kBackground = palette::kWindow;
    static constexpr COLORREF kLineColour = 0xE2CCBE;

    explicit CFerrantDlg(CWnd* parent = nullptr);
    ~CFerrantDlg() override;

    BOOL OnInitDialog() override;
    // Enter and Escape never end it: the uploads would end with it. Only the exit command, the
    // caption's close button and the tray menu's exit do.
    void OnOK() override {}
    void OnCancel() override {}

    BOOL IsShowAllowed() const { return m_bShowAllowed; }
    CFloatWnd* GetFloatWnd() const { return m_pFloatWnd.get(); }
    HICON GetIcon() const { return m_hIcon; }

    // g_TrayIcon's callback: a left click brings the main window back, a right click opens the
    // tray menu.
    static void OnTrayNotify(CTrayIcon* icon, LPARAM message);
    // The tray menu is tracked through this seam (tests need no mouse); it returns the entry chosen.
    static MenuTracker& Tracker();

    CStatic m_stcGreeting;
    CStatic m_stcUser;
    CButton m_btnPageArea;
    CCustomTabCtrl m_tabs;
    CUpload m_upload;
    CTabUploaded m_tabUploaded;

protected:
    void DoDataExchange(CDataExchange* dx) override;
    void AdjustClientRect(RECT& proposed) override;

    afx_msg int OnCreate(LPCREATESTRUCTW cs);
    afx_msg void OnPaint();
    afx_msg HCURSOR OnQueryDragIcon();
    afx_msg void OnTabSelChange(NMHDR* notify, LRESULT* result);
    afx_msg LRESULT OnUploadDone(WPARAM row, LPARAM);
    afx_msg LRESULT OnUpdateChecked(WPARAM, LPARAM);
    afx_msg void OnSwitchUser();
    afx_msg void OnSetting();
    afx_msg void CheckForUpdate();
    afx_msg void OnAbout();
    afx_msg void OnShowFloat();
    afx_msg void OnShowMain();
    afx_msg void OnExit();
    afx_msg void OnClose();
    afx_msg void OnSysCommand(UINT id, LPARAM lParam);
    afx_msg void OnDestroy();
    afx_msg LRESULT OnHitCapButton(WPARAM button, LPARAM);
    afx_msg HBRUSH OnCtlColor(CDC* dc, CWnd* wnd, UINT kind);
    afx_msg void OnWindowPosChanging(WINDOWPOS* pos);

private:
    // Login at start; false when it was given up, the dialog then ending unseen.
    bool LogInAtStart();
    void CreateFloatWnd();
    void ShowPage(int item);
    void MinimiseToTray();
    void PaintHeader(CDC& dc);
    static void ShowMainWindow(HWND main);

    HICON m_hIcon = nullptr;
    BOOL m_bShowAllowed = FALSE;
    BOOL m_bSilentUpdateCheck = TRUE;
    UpdateFetch m_updateFetch;  // the start-up check while it waits for the server
    BOOL m_bUploadPageLoaded = FALSE;
    BOOL m_bUploadedTabLoaded = FALSE;
    CBitmap m_bmpHeader;
    CBitmap m_bmpSecond;
    CFont m_fontBold;
    CFont m_fontSong;
    CFont m_fontArial;
    std::unique_ptr<CFloatWnd> m_pFloatWnd;
    CRect m_rcClientScreen;
    CBrush m_brush;
    DECLARE_MESSAGE_MAP()
};
