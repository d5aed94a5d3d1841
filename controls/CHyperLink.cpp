#include "controls/CHyperLink.h"

#include <shellapi.h>

#include <vector>

BEGIN_MESSAGE_MAP(CHyperLink, CLinkLabel)
    ON_CONTROL_REFLECT(STN_CLICKED, &CHyperLink::OnClicked)
    ON_WM_CTLCOLOR_REFLECT()
    ON_WM_SETCURSOR()
    ON_WM_MOUSEMOVE()
END_MESSAGE_MAP()

namespace {
constexpr UINT kRedraw = RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW;
constexpr UINT_PTR kTool = 1;

// The default value of a HKEY_CLASSES_ROOT key, whatever its length.
bool ReadClassDefault(const CString& key, CString& value) {
    HKEY h = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key, 0, KEY_QUERY_VALUE, &h) != ERROR_SUCCESS) return false;
    LONG size = 0;
    bool ok = RegQueryValueW(h, nullptr, nullptr, &size) == ERROR_SUCCESS && size > 0;
    if (ok) {
        std::vector<wchar_t> buf(static_cast<size_t>(size) / sizeof(wchar_t) + 1, L'\0');
        LONG got = static_cast<LONG>(buf.size() * sizeof(wchar_t));
        ok = RegQueryValueW(h, nullptr, buf.data(), &got) == ERROR_SUCCESS;
        buf.back() = L'\0';
        if (ok) value = buf.data();
    }
    RegCloseKey(h);
    return ok;
}
}  // namespace

CHyperLink::ShellOpener& CHyperLink::Opener() {
    static ShellOpener opener = [](LPCWSTR url, int show) {
        return ShellExecuteW(nullptr, L"open", url, nullptr, nullptr, show);
    };
    return opener;
}

// WinExec's results, without its narrow command line (URLs may hold any character).
CHyperLink::CommandRunner& CHyperLink::Runner() {
    static CommandRunner runner = [](LPCWSTR commandLine, int show) -> UINT {
        STARTUPINFOW si{sizeof(si)};
        si.dwFlags = STARTF_USESHOWWINDOW;
        si.wShowWindow = static_cast<WORD>(show);
        PROCESS_INFORMATION pi{};
        std::vector<wchar_t> line(commandLine, commandLine + lstrlenW(commandLine) + 1);
        if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
            DWORD e = GetLastError();
            return e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND || e == ERROR_BAD_FORMAT ? e : 0;
        }
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
        return 33;
    };
    return runner;
}

CHyperLink::CHyperLink() : m_crHover(GetSysColor(COLOR_HIGHLIGHT)) {}

CHyperLink::~CHyperLink() {
    if (m_bOwnCursor && m_hCursor) DestroyCursor(m_hCursor);
}

void CHyperLink::SetURL(const CString& url) {
    m_strURL = url;
    if (!IsWindow()) return;
    FitToText();
    if (m_tooltip.m_hWnd) m_tooltip.UpdateTipText(m_strURL, this, kTool);
}

CString CHyperLink::BuildFallbackCommand(const CString& commandLine, const CString& url) {
    CString line = commandLine;
    int at = line.Find(L"\"%1\"");
    if (at < 0) at = line.Find(L"%1");
    if (at >= 0) line = line.Left(at);
    return line + L" " + url;
}

CString CHyperLink::HtmlOpenCommand() {
    CString type, command;
    if (!ReadClassDefault(L".htm", type) || type.IsEmpty()) return CString();
    if (!ReadClassDefault(type + L"\\shell\\open\\command", command)) return CString();
    return command;
}

HINSTANCE CHyperLink::GotoURL(const CString& url, int showCommand) {
    HINSTANCE result = Opener()(url, showCommand);
    if (reinterpret_cast<UINT_PTR>(result) > 32) return result;
    CString command = HtmlOpenCommand();
    if (command.IsEmpty()) return result;
    CString line = BuildFallbackCommand(command, url);
    return reinterpret_cast<HINSTANCE>(static_cast<UINT_PTR>(Runner()(line, showCommand)));
}

HCURSOR CHyperLink::LoadHelpCursor(const CString& programPath) {
    // As data only: nothing of the program runs in this process.
    HMODULE module = LoadLibraryExW(programPath, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!module) return nullptr;
    HCURSOR cursor = LoadCursorW(module, MAKEINTRESOURCEW(106));
    HCURSOR copy = cursor ? static_cast<HCURSOR>(CopyIcon(cursor)) : nullptr;
    FreeLibrary(module);
    return copy;
}

void CHyperLink::PreSubclassWindow() {
    ModifyStyle(0, SS_NOTIFY);
    CString text = GetWindowText();
    if (m_strURL.IsEmpty()) m_strURL = text;
    if (text.IsEmpty()) SetWindowText(m_strURL);

    if (CreateLinkFont(m_bUnderline)) SetFont(&m_font, TRUE);

    FitToText();

    if (!m_hCursor) {
        wchar_t dir[MAX_PATH] = {};
        UINT n = GetWindowsDirectoryW(dir, MAX_PATH);
        if (n > 0 && n < MAX_PATH) m_hCursor = LoadHelpCursor(CString(dir) + L"\\winhlp32.exe");
        m_bOwnCursor = m_hCursor != nullptr;
        // Without the help program's cursor a link still looks like one.
        if (!m_hCursor) m_hCursor = LoadCursorW(nullptr, IDC_HAND);
    }

    if (m_tooltip.Create(this)) {
        CRect client;
        GetClientRect(&client);
        m_tooltip.AddTool(this, m_strURL, &client, kTool);
    }
    CLinkLabel::PreSubclassWindow();
}

void CHyperLink::FitToText() {
    if (!IsWindow() || !m_bAdjustToFit) return;
    CRect r;
    GetWindowRect(&r);
    if (CWnd* parent = GetParent()) parent->ScreenToClient(&r);

    CString text = GetWindowText();
    HDC dc = ::GetDC(m_hWnd);
    HGDIOBJ old = m_font.m_hObject ? ::SelectObject(dc, m_font.m_hObject) : nullptr;
    SIZE extent{};
    ::GetTextExtentPoint32W(dc, text, text.GetLength(), &extent);
    if (old) ::SelectObject(dc, old);
    ::ReleaseDC(m_hWnd, dc);

    DWORD style = GetStyle();
    if (style & SS_CENTERIMAGE) {
        int dy = (r.Height() - extent.cy) / 2;
        r.top += dy;
        r.bottom -= dy;
    } else {
        r.bottom = r.top + extent.cy;
    }
    if ((style & SS_TYPEMASK) == SS_CENTER) {
        int dx = (r.Width() - extent.cx) / 2;
        r.left += dx;
        r.right -= dx;
    } else if ((style & SS_TYPEMASK) == SS_RIGHT) {
        r.left = r.right - extent.cx;
    } else {
        r.right = r.left + extent.cx;
    }
    SetWindowPos(nullptr, r.left, r.top, r.Width(), r.Height(), SWP_NOZORDER);
}

void CHyperLink::OnClicked() {
    HINSTANCE result = GotoURL(m_strURL, SW_SHOW);
    if (reinterpret_cast<UINT_PTR>(result) <= 32) {
        MessageBeep(MB_ICONEXCLAMATION);
        return;
    }
    m_bVisited = true;
    if (IsWindow()) Invalidate();
}

HBRUSH CHyperLink::CtlColor(CDC* dc, UINT) {
    dc->SetTextColor(m_bHover ? m_crHover : m_bVisited ? m_crVisited : m_crLink);
    dc->SetBkMode(TRANSPARENT);
    return static_cast<HBRUSH>(GetStockObject(NULL_BRUSH));
}

BOOL CHyperLink::OnSetCursor(CWnd*, UINT, UINT) {
    if (!m_hCursor) return FALSE;
    ::SetCursor(m_hCursor);
    return TRUE;
}

void CHyperLink::LeaveHover() {
    if (!m_bHover) return;
    m_bHover = false;
    if (::GetCapture() == m_hWnd) ReleaseCapture();
    RedrawWindow(nullptr, nullptr, kRedraw);
}

void CHyperLink::OnMouseMove(UINT, CPoint point) {
    Default();
    CRect client;
    GetClientRect(&client);
    bool inside = client.PtInRect(point) && IsWindowVisible();
    if (!m_bHover) {
        if (!inside) return;
        m_bHover = true;
        RedrawWindow(nullptr, nullptr, kRedraw);
        SetCapture();
    } else if (!inside) {
        LeaveHover();
    }
}

BOOL CHyperLink::PreTranslateMessage(MSG* msg) {
    m_tooltip.RelayEvent(msg);
    return CLinkLabel::PreTranslateMessage(msg);
}
