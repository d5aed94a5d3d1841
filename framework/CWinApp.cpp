#include "framework/CWinApp.h"

namespace {
CWinApp* g_app = nullptr;
}

CWinApp* AfxGetApp() { return g_app; }
CWnd* AfxGetMainWnd() { return g_app ? g_app->m_pMainWnd : nullptr; }

CWinApp::CWinApp(LPCWSTR appName) {
    if (appName) m_strAppName = appName;
    g_app = this;
}

CWinApp::~CWinApp() {
    if (g_app == this) g_app = nullptr;
}

void CWinApp::ForgetWindow(CWnd* wnd) {
    InterlockedCompareExchangePointer(reinterpret_cast<PVOID volatile*>(&m_pActiveWnd), nullptr, wnd);
    if (InterlockedCompareExchangePointer(reinterpret_cast<PVOID volatile*>(&m_pMainWnd), nullptr, wnd) == wnd) {
        // Closing the main window ends the program's loop.
        ::PostQuitMessage(0);
    }
}

BOOL CWinApp::PreTranslateMessage(MSG* msg) {
    CWnd* main = m_pMainWnd;
    return CWnd::WalkPreTranslateTree(main ? main->m_hWnd : nullptr, msg);
}

int CWinApp::Run() {
    MSG msg;
    LONG idle = 0;
    for (;;) {
        while (!::PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE)) {
            if (!OnIdle(idle++)) break;
        }
        BOOL got = ::GetMessageW(&msg, nullptr, 0, 0);
        if (got == 0 || got == -1) {
            m_nExitCode = got == 0 ? static_cast<int>(msg.wParam) : -1;
            return ExitInstance();
        }
        if (!PreTranslateMessage(&msg)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
        idle = 0;
    }
}

void CWinApp::SetRegistryKey(LPCWSTR company) {
    m_strRegistryKey = company ? company : L"";
    if (m_strProfileName.IsEmpty()) m_strProfileName = m_strAppName;
}

CString CWinApp::GetAppRegistryPath() const {
    if (m_strRegistryKey.IsEmpty()) return CString();
    CString path = L"Software\\";
    path += m_strRegistryKey;
    path += L"\\";
    path += m_strProfileName;
    return path;
}

BOOL CWinApp::WriteProfileBinary(LPCWSTR section, LPCWSTR entry, const BYTE* data, UINT bytes) {
    CString path = GetAppRegistryPath();
    if (path.IsEmpty() || !section) return FALSE;
    path += L"\\";
    path += section;
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, path, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return FALSE;
    LONG rc = RegSetValueExW(key, entry, 0, REG_BINARY, data, bytes);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS;
}

BOOL CWinApp::GetProfileBinary(LPCWSTR section, LPCWSTR entry, BYTE** data, UINT* bytes) {
    *data = nullptr;
    *bytes = 0;
    CString path = GetAppRegistryPath();
    if (path.IsEmpty() || !section) return FALSE;
    path += L"\\";
    path += section;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return FALSE;
    DWORD type = 0, size = 0;
    BOOL ok = FALSE;
    if (RegQueryValueExW(key, entry, nullptr, &type, nullptr, &size) == ERROR_SUCCESS && type == REG_BINARY) {
        *data = new BYTE[size ? size : 1];
        if (RegQueryValueExW(key, entry, nullptr, &type, *data, &size) == ERROR_SUCCESS) {
            *bytes = size;
            ok = TRUE;
        } else {
            delete[] * data;
            *data = nullptr;
        }
    }
    RegCloseKey(key);
    return ok;
}

int AfxWinMain(HINSTANCE instance, HINSTANCE, LPWSTR cmdLine, int show) {
    CWinApp* app = AfxGetApp();
    if (!app) return -1;
    app->m_hInstance = instance;
    app->m_lpCmdLine = cmdLine;
    app->m_nCmdShow = show;
    if (app->m_strAppName.IsEmpty()) {
        wchar_t path[MAX_PATH] = {};
        GetModuleFileNameW(instance, path, MAX_PATH);
        CString name = path;
        int slash = name.ReverseFind(L'\\');
        if (slash >= 0) name = name.Mid(slash + 1);
        int dot = name.ReverseFind(L'.');
        if (dot > 0) name = name.Left(dot);
        app->m_strAppName = name;
    }
    if (!app->InitInstance()) {
        // No loop: the application did its work (often a modal dialog) in InitInstance.
        return app->ExitInstance();
    }
    return app->Run();
}
