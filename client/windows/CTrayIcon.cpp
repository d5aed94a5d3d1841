#include "client/windows/CTrayIcon.h"

#include "client/app/CAppSettings.h"

#include <map>

namespace {

const wchar_t kClassName[] = L"TRAY_ICON_MESSAGE_PROCESSOR_WND_CLASS";
const wchar_t kWindowName[] = L"TRAY_ICON_MESSAGE_PROCESSOR_WND";

// Plain process-wide values, zero before any constructor runs, so the static icon can use them.
UINT s_nLastId = 0;
std::map<UINT, CTrayIcon*>* s_pIcons = nullptr;
HWND s_hWnd = nullptr;
bool s_bClassRegistered = false;

const UINT s_nTaskbarCreated = ::RegisterWindowMessageW(L"TaskbarCreated");

CString WideName(const std::string& name) { return AnsiToWide(name.c_str(), static_cast<int>(name.size())); }

}  // namespace

CTrayIcon g_TrayIcon("TrayIcon1", false, nullptr, false);

CTrayIcon::ShellNotify& CTrayIcon::Shell() {
    static ShellNotify shell = [](DWORD message, NOTIFYICONDATAW* data) { return ::Shell_NotifyIconW(message, data); };
    return shell;
}

UINT CTrayIcon::TaskbarCreatedMessage() { return s_nTaskbarCreated; }

HWND CTrayIcon::MessageWindow() {
    if (s_hWnd) return s_hWnd;
    HINSTANCE instance = ::GetModuleHandleW(nullptr);
    if (!s_bClassRegistered) {
        WNDCLASSW wc = {};
        wc.lpfnWndProc = &CTrayIcon::WindowProc;
        wc.hInstance = instance;
        wc.hIcon = ::LoadIconW(nullptr, IDI_WINLOGO);
        wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
        wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
        wc.lpszClassName = kClassName;
        s_bClassRegistered = ::RegisterClassW(&wc) != 0 || ::GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
        if (!s_bClassRegistered) return nullptr;
    }
    s_hWnd = ::CreateWindowExW(0, kClassName, kWindowName, WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, instance, nullptr);
    return s_hWnd;
}

CTrayIcon::CTrayIcon(const char* name, bool show, HICON icon, bool ownsIcon)
    : m_nId(++s_nLastId), m_strName(name ? name : ""), m_hIcon(icon), m_bOwnsIcon(ownsIcon) {
    // Made before the first icon is done, so it outlives the static icon at exit.
    Shell();
    if (!s_pIcons) s_pIcons = new std::map<UINT, CTrayIcon*>;
    (*s_pIcons)[m_nId] = this;
    ShowIcon(show);
}

CTrayIcon::~CTrayIcon() {
    ShowIcon(false);
    SetIcon(nullptr, m_bOwnsIcon);
    if (s_pIcons) {
        s_pIcons->erase(m_nId);
        if (s_pIcons->empty()) {
            delete s_pIcons;
            s_pIcons = nullptr;
        }
    }
}

void CTrayIcon::FillRecord(NOTIFYICONDATAW& data) const {
    ZeroMemory(&data, sizeof data);
    data.cbSize = kRecordSize;
    data.hWnd = MessageWindow();
    data.uID = m_nId;
}

BOOL CTrayIcon::Add() {
    NOTIFYICONDATAW data;
    FillRecord(data);
    data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    data.uCallbackMessage = kCallbackMessage;
    data.hIcon = m_hIcon ? m_hIcon : ::LoadIconW(nullptr, IDI_APPLICATION);
    ::lstrcpynW(data.szTip, WideName(m_strName), kTipChars);
    return Shell()(NIM_ADD, &data);
}

BOOL CTrayIcon::ShowIcon(bool show) {
    if (show == m_bVisible) return TRUE;
    // The flag keeps the request even when the shell refuses, so a restarted shell gets the icon.
    m_bVisible = show;
    if (show) return Add();
    NOTIFYICONDATAW data;
    FillRecord(data);
    return Shell()(NIM_DELETE, &data);
}

void CTrayIcon::SetIcon(HICON icon, BOOL destroyOld) {
    if (icon == m_hIcon) return;
    if (destroyOld && m_hIcon) ::DestroyIcon(m_hIcon);
    m_hIcon = icon;
    if (!m_bVisible) return;
    NOTIFYICONDATAW data;
    FillRecord(data);
    data.uFlags = NIF_ICON;
    data.hIcon = m_hIcon ? m_hIcon : ::LoadIconW(nullptr, IDI_APPLICATION);
    Shell()(NIM_MODIFY, &data);
}

BOOL CTrayIcon::SetTooltipText(const char* text) {
    m_strName = text ? text : "";
    if (!m_bVisible) return FALSE;
    NOTIFYICONDATAW data;
    FillRecord(data);
    data.uFlags = NIF_TIP;
    ::lstrcpynW(data.szTip, WideName(m_strName), kTipChars);
    return Shell()(NIM_MODIFY, &data);
}

void CTrayIcon::OnNotify(LPARAM message) {
    if (m_pfnCallback) m_pfnCallback(this, message);
}

LRESULT CALLBACK CTrayIcon::WindowProc(HWND wnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kCallbackMessage) {
        if (s_pIcons) {
            auto it = s_pIcons->find(static_cast<UINT>(wParam));
            if (it != s_pIcons->end()) it->second->OnNotify(lParam);
        }
        return 0;
    }
    if (message == s_nTaskbarCreated && s_nTaskbarCreated != 0) {
        if (s_pIcons)
            for (auto& entry : *s_pIcons)
                if (entry.second->m_bVisible) entry.second->Add();
    }
    return ::DefWindowProcW(wnd, message, wParam, lParam);
}
