// One icon in the notification area; the shell's mouse messages for it reach a callback. All icons
// of the process share one hidden message window, and visible icons are put back when the shell
// restarts.
#pragma once

#include <windows.h>

#include <shellapi.h>

#include <functional>
#include <string>

class CTrayIcon {
public:
    using NotifyCallback = void (*)(CTrayIcon* icon, LPARAM message);

    // A null icon shows the system's application icon.
    CTrayIcon(const char* name, bool show, HICON icon, bool ownsIcon);
    virtual ~CTrayIcon();

    // TRUE when the shell took the new tip; nothing is sent while hidden.
    virtual BOOL SetTooltipText(const char* text);
    // TRUE when the state is already the requested one or the shell call succeeded.
    virtual BOOL ShowIcon(bool show);
    virtual void SetIcon(HICON icon, BOOL destroyOld);
    virtual void OnNotify(LPARAM message);

    void SetNotifyCallback(NotifyCallback callback) { m_pfnCallback = callback; }

    UINT GetId() const { return m_nId; }
    bool IsVisible() const { return m_bVisible; }
    HICON GetIcon() const { return m_hIcon; }
    const std::string& GetName() const { return m_strName; }

    // The message the shell sends for mouse events on an icon (wParam: the icon id).
    static constexpr UINT kCallbackMessage = WM_USER + 100;
    // The record size of the first shell version: a 64-character tip.
    static constexpr DWORD kRecordSize = NOTIFYICONDATAW_V1_SIZE;
    static constexpr int kTipChars = 64;

    // Every shell call goes through this seam (tests record the calls instead).
    using ShellNotify = std::function<BOOL(DWORD message, NOTIFYICONDATAW* data)>;
    static ShellNotify& Shell();
    // The shared hidden window; null while it cannot be made.
    static HWND MessageWindow();
    // The registered "TaskbarCreated" message.
    static UINT TaskbarCreatedMessage();

private:
    CTrayIcon(const CTrayIcon&) = delete;
    CTrayIcon& operator=(const CTrayIcon&) = delete;

    void FillRecord(NOTIFYICONDATAW& data) const;
    BOOL Add();
    static LRESULT CALLBACK WindowProc(HWND wnd, UINT message, WPARAM wParam, LPARAM lParam);

    UINT m_nId;
    std::string m_strName;
    bool m_bVisible = false;
    HICON m_hIcon;
    bool m_bOwnsIcon;
    NotifyCallback m_pfnCallback = nullptr;
};

// The client's one icon, "TrayIcon1"; the main dialog gives it its icon and callback.
extern CTrayIcon g_TrayIcon;
