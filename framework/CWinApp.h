// The application object and the program entry that runs it.
#pragma once

#include "framework/CWnd.h"

class CWinApp {
public:
    explicit CWinApp(LPCWSTR appName = nullptr);
    virtual ~CWinApp();

    virtual BOOL InitInstance() { return TRUE; }
    virtual int ExitInstance() { return m_nExitCode; }
    // The main message loop; returns ExitInstance's code once WM_QUIT arrives.
    virtual int Run();
    virtual BOOL PreTranslateMessage(MSG* msg);
    virtual BOOL OnIdle(LONG) {
        afx_detail::DeleteTempObjects();
        return FALSE;
    }

    void SetRegistryKey(LPCWSTR company);
    BOOL WriteProfileBinary(LPCWSTR section, LPCWSTR entry, const BYTE* data, UINT bytes);
    // The caller frees *data with delete[].
    BOOL GetProfileBinary(LPCWSTR section, LPCWSTR entry, BYTE** data, UINT* bytes);
    // HKCU\Software\<registry key>\<profile name>; empty until SetRegistryKey.
    CString GetAppRegistryPath() const;

    // Clears the main and active window pointers that point at wnd (any thread).
    void ForgetWindow(CWnd* wnd);

    HINSTANCE m_hInstance = nullptr;
    LPWSTR m_lpCmdLine = nullptr;
    int m_nCmdShow = SW_SHOWNORMAL;
    CWnd* volatile m_pMainWnd = nullptr;
    CWnd* volatile m_pActiveWnd = nullptr;
    CString m_strAppName;
    CString m_strRegistryKey;
    CString m_strProfileName;
    int m_nExitCode = 0;
};

CWinApp* AfxGetApp();
CWnd* AfxGetMainWnd();
// Runs the application object: InitInstance, then Run while a main window exists.
int AfxWinMain(HINSTANCE instance, HINSTANCE previous, LPWSTR cmdLine, int show);
