// ferrant_driver: drives a running client's windows as a user would, for the road test and the
// demo. Commands run in order; each waits for its condition up to the time-out, and the first one
// that fails says why and ends the run.
#include <windows.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cwchar>
#include <functional>
#include <string>
#include <vector>

#include "tests/support/Capture.h"

namespace {

const char kHelp[] =
    "Usage: ferrant_driver [--timeout SECONDS] COMMAND [ARGUMENT] [COMMAND [ARGUMENT]]...\n"
    "\n"
    "Drives the running client's windows. Commands run in order; each waits for what it needs up\n"
    "to the time-out (default 60 s); the first that fails says why on stderr and ends the run.\n"
    "\n"
    "  wait-main            the main window shows, a user logged in; prints \"user: MAIL\"\n"
    "                       (fails at once when the login dialog asks for a password instead)\n"
    "  browse               presses \"浏览\" and waits for the open-file dialog\n"
    "  open PATH            answers the open-file dialog with PATH: puts it in the file-name\n"
    "                       field, presses Open and waits until the dialog has closed\n"
    "  wait-uploaded NAME   the upload row of NAME reports the upload finished (\"完成\")\n"
    "  tab N                selects tab N of the main window (0 从本地上传, 1 已上传文件)\n"
    "  copy-link NAME       presses \"复制下载地址\" of NAME in the uploaded list; prints \"link: TEXT\"\n"
    "                       with what the clipboard then holds\n"
    "  screenshot FILE      saves the screen as a BMP file\n"
    "  window-shot FILE     saves the main window as a BMP file\n"
    "  close                closes the main window and waits until the client has ended\n"
    "  end PATH             ends the processes whose program file is PATH (a client left over\n"
    "                       after a failed step) and waits until they have ended; prints how many\n"
    "\n"
    "Exit code: 0 when every command succeeded, 1 when one failed, 2 for a bad command line.\n";

const wchar_t kMainTitle[] = L"Tebrin上传助手";
const wchar_t kDialogClass[] = L"#32770";
// Controls the windows are known by.
const int kTabStrip = 1003, kUserName = 1045;
const int kLoginUser = 1059, kLoginPassword = 1034;
const int kTipsText = 1044;
const int kBrowse = 1004;
const int kRowName = 1008, kRowLink = 1010, kRowPercent = 1011, kRowCancel = 1032;
const int kDownload = 1018, kDelete = 1019;
const int kListName = 1023, kListCopy = 1024;
// The open-file dialog's file-name field: an edit, or a combo box holding one.
const int kFileNameEdit = 0x480, kFileNameCombo = 0x47C;

DWORD g_timeoutMs = 60000;

std::string Utf8(const std::wstring& text) {
    int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(size > 0 ? size - 1 : 0, '\0');
    if (size > 1) WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &out[0], size, nullptr, nullptr);
    return out;
}

void Say(const std::wstring& line) {
    std::string text = Utf8(line) + "\n";
    fwrite(text.data(), 1, text.size(), stdout);
    fflush(stdout);
}

// Says the problem; false, so that a command can end with `return Fail(...)`.
bool Fail(const std::wstring& line) {
    std::string text = "ferrant_driver: " + Utf8(line) + "\n";
    fwrite(text.data(), 1, text.size(), stderr);
    fflush(stderr);
    return false;
}

std::wstring Text(HWND h) {
    wchar_t buffer[1024] = {};
    if (h) GetWindowTextW(h, buffer, 1024);
    return buffer;
}

std::wstring ClassOf(HWND h) {
    wchar_t buffer[64] = {};
    GetClassNameW(h, buffer, 64);
    return buffer;
}

bool IsDialog(HWND h) { return ClassOf(h) == kDialogClass; }

// Window enumeration callbacks are stdcall on 32-bit x86, which a lambda cannot be.
BOOL CALLBACK CollectVisible(HWND h, LPARAM list) {
    if (IsWindowVisible(h)) reinterpret_cast<std::vector<HWND>*>(list)->push_back(h);
    return TRUE;
}

BOOL CALLBACK CollectAll(HWND h, LPARAM list) {
    reinterpret_cast<std::vector<HWND>*>(list)->push_back(h);
    return TRUE;
}

std::vector<HWND> TopWindows() {
    std::vector<HWND> found;
    EnumWindows(CollectVisible, reinterpret_cast<LPARAM>(&found));
    return found;
}

// Every window below `parent`, at any depth.
std::vector<HWND> Descendants(HWND parent) {
    std::vector<HWND> found;
    EnumChildWindows(parent, CollectAll, reinterpret_cast<LPARAM>(&found));
    return found;
}

HWND FindTop(const std::function<bool(HWND)>& match) {
    for (HWND h : TopWindows())
        if (match(h)) return h;
    return nullptr;
}

HWND FindBelow(HWND parent, const std::function<bool(HWND)>& match) {
    for (HWND h : Descendants(parent))
        if (match(h)) return h;
    return nullptr;
}

bool IsMain(HWND h) {
    HWND strip = GetDlgItem(h, kTabStrip);
    return Text(h) == kMainTitle && strip && ClassOf(strip) == L"CCustomTabCtrl";
}

bool IsLogin(HWND h) {
    HWND user = GetDlgItem(h, kLoginUser);
    return IsDialog(h) && user && ClassOf(user) == L"ComboBox" && GetDlgItem(h, kLoginPassword);
}

HWND MainWindow() { return FindTop(IsMain); }

DWORD ProcessOf(HWND h) {
    DWORD pid = 0;
    GetWindowThreadProcessId(h, &pid);
    return pid;
}

// A message box of the client (its text control and an OK button), which no step here expects.
HWND TipsBox() {
    return FindTop([](HWND h) {
        return IsDialog(h) && GetDlgItem(h, kTipsText) && GetDlgItem(h, IDOK) && !GetDlgItem(h, kFileNameEdit) &&
               !GetDlgItem(h, kFileNameCombo);
    });
}

// Polls `done` until it holds or the time-out passes; a message box of the client ends the
// wait at once, since nothing answers it.
bool WaitFor(const std::wstring& what, const std::function<bool()>& done) {
    const DWORD start = GetTickCount();
    for (;;) {
        if (done()) return true;
        if (HWND tips = TipsBox())
            return Fail(what + L": the client shows a message box \"" + Text(tips) + L"\": " +
                        Text(GetDlgItem(tips, kTipsText)));
        if (GetTickCount() - start > g_timeoutMs) {
            std::wstring seen;
            for (HWND h : TopWindows()) seen += L" [" + Text(h) + L"]";
            return Fail(what + L": not within " + std::to_wstring(g_timeoutMs / 1000) + L" s; windows shown:" + seen);
        }
        Sleep(50);
    }
}

bool NeedMain(HWND& main) {
    main = MainWindow();
    return main ? true : Fail(L"no main window of the client");
}

// Presses a control as the mouse would at its middle: down and up, each handled before the
// call returns.
void PressAtMiddle(HWND control) {
    RECT r;
    GetClientRect(control, &r);
    const LPARAM at = MAKELPARAM((r.left + r.right) / 2, (r.top + r.bottom) / 2);
    SendMessageW(control, WM_LBUTTONDOWN, MK_LBUTTON, at);
    SendMessageW(control, WM_LBUTTONUP, 0, at);
}

// The page of the main window that shows tab `index`: the upload page holds "浏览", the
// uploaded-files tab "下载" and "删除".
HWND Page(HWND main, int index) {
    for (HWND h = GetWindow(main, GW_CHILD); h; h = GetWindow(h, GW_HWNDNEXT)) {
        if (!IsDialog(h)) continue;
        if (index == 0 && GetDlgItem(h, kBrowse)) return h;
        if (index == 1 && GetDlgItem(h, kDownload) && GetDlgItem(h, kDelete)) return h;
    }
    return nullptr;
}

bool PageShows(HWND main, int index) {
    HWND page = Page(main, index);
    return page && IsWindowVisible(page);
}

bool WaitMain() {
    HWND main = nullptr;
    bool login = false;
    if (!WaitFor(L"wait-main", [&] {
            main = MainWindow();
            login = !main && FindTop(IsLogin);
            return main || login;
        }))
        return false;
    if (login) return Fail(L"wait-main: the login dialog asks for a password: the session was not taken");
    const std::wstring user = Text(GetDlgItem(main, kUserName));
    if (user.empty()) return Fail(L"wait-main: the main window names no user");
    Say(L"user: " + user);
    return true;
}

HWND FileDialog(DWORD pid, HWND main) {
    return FindTop([&](HWND h) {
        return h != main && ProcessOf(h) == pid && IsDialog(h) &&
               (GetDlgItem(h, kFileNameEdit) || GetDlgItem(h, kFileNameCombo));
    });
}

bool Browse() {
    HWND main = nullptr;
    if (!NeedMain(main)) return false;
    HWND page = Page(main, 0);
    if (!page || !IsWindowVisible(page)) return Fail(L"browse: the upload page does not show");
    const DWORD pid = ProcessOf(main);
    PostMessageW(GetDlgItem(page, kBrowse), BM_CLICK, 0, 0);
    if (!WaitFor(L"browse: the open-file dialog", [&] { return FileDialog(pid, main) != nullptr; })) return false;
    Say(L"open-file dialog");
    return true;
}

bool Open(const std::wstring& path) {
    HWND main = nullptr;
    if (!NeedMain(main)) return false;
    const DWORD pid = ProcessOf(main);
    HWND dialog = nullptr;
    if (!WaitFor(L"open: the open-file dialog", [&] { return (dialog = FileDialog(pid, main)) != nullptr; }))
        return false;
    HWND name = GetDlgItem(dialog, kFileNameEdit);
    if (!name) name = FindBelow(GetDlgItem(dialog, kFileNameCombo), [](HWND h) { return ClassOf(h) == L"Edit"; });
    if (!name) return Fail(L"open: the open-file dialog has no file-name field");
    SendMessageW(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()));
    PostMessageW(GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0);
    if (!WaitFor(L"open: the open-file dialog to close", [&] { return !IsWindow(dialog); })) return false;
    Say(L"opened: " + path);
    return true;
}

// The upload row of `name`: a dialog with the name label, the pause/resume link and cancel.
HWND UploadRow(HWND main, const std::wstring& name) {
    HWND label = FindBelow(main, [&](HWND h) {
        HWND row = GetParent(h);
        return GetDlgCtrlID(h) == kRowName && Text(h) == name && GetDlgItem(row, kRowLink) &&
               GetDlgItem(row, kRowCancel);
    });
    return label ? GetParent(label) : nullptr;
}

bool WaitUploaded(const std::wstring& name) {
    HWND main = nullptr;
    if (!NeedMain(main)) return false;
    HWND row = nullptr;
    std::wstring link;
    if (!WaitFor(L"wait-uploaded: the row of " + name, [&] {
            row = UploadRow(main, name);
            link = row ? Text(GetDlgItem(row, kRowLink)) : L"";
            // "续传" and "重传" come only when a run ended without the whole file on the server.
            return link == L"完成" || link == L"续传" || link == L"重传";
        }))
        return false;
    if (link != L"完成") return Fail(L"wait-uploaded: the upload of " + name + L" stopped: the row offers " + link);
    Say(L"uploaded: " + name + L" " + Text(GetDlgItem(row, kRowPercent)));
    return true;
}

bool SelectTab(const std::wstring& which) {
    if (which != L"0" && which != L"1") return Fail(L"tab: give 0 or 1, not " + which);
    const int index = which == L"0" ? 0 : 1;
    HWND main = nullptr;
    if (!NeedMain(main)) return false;
    HWND strip = GetDlgItem(main, kTabStrip);
    RECT r;
    GetClientRect(strip, &r);
    const int y = (r.top + r.bottom) / 2;
    // The strip tells no one where its tabs are: press along it, from the side of the wanted
    // tab (the first tab is leftmost), until its page shows. Each press is handled, page switch
    // included, before the next one.
    for (int step = 0; step < r.right && !PageShows(main, index); step += 4) {
        const int x = index == 0 ? step : r.right - 1 - step;
        SendMessageW(strip, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y));
        SendMessageW(strip, WM_LBUTTONUP, 0, MAKELPARAM(x, y));
    }
    if (!PageShows(main, index)) return Fail(L"tab: no press on the tab strip showed page " + which);
    Say(L"tab: " + which);
    return true;
}

HWND UploadedRow(HWND main, const std::wstring& name) {
    HWND label = FindBelow(main, [&](HWND h) {
        return GetDlgCtrlID(h) == kListName && Text(h) == name && GetDlgItem(GetParent(h), kListCopy);
    });
    return label ? GetParent(label) : nullptr;
}

std::wstring ClipboardText() {
    std::wstring text;
    if (!OpenClipboard(nullptr)) return text;
    if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
        if (const auto* p = static_cast<const wchar_t*>(GlobalLock(data))) {
            text = p;
            GlobalUnlock(data);
        }
    }
    CloseClipboard();
    return text;
}

bool CopyLink(const std::wstring& name) {
    HWND main = nullptr;
    if (!NeedMain(main)) return false;
    if (!PageShows(main, 1)) return Fail(L"copy-link: the uploaded list does not show (tab 1 first)");
    HWND row = nullptr;
    if (!WaitFor(L"copy-link: the row of " + name + L" in the uploaded list", [&] {
            row = UploadedRow(main, name);
            return row && IsWindowVisible(row);
        }))
        return false;
    // Emptied first, so that what is read afterwards can only be the client's.
    if (OpenClipboard(nullptr)) {
        EmptyClipboard();
        CloseClipboard();
    }
    PressAtMiddle(GetDlgItem(row, kListCopy));
    std::wstring link;
    if (!WaitFor(L"copy-link: text on the clipboard", [&] { return !(link = ClipboardText()).empty(); })) return false;
    Say(L"link: " + link);
    return true;
}

bool SaveBmp(const test_capture::Pixels& p, const std::wstring& path) {
    if (p.w <= 0 || p.h <= 0) return Fail(L"nothing to save in " + path);
    if (!test_capture::WriteBmp(p, path)) return Fail(L"cannot write " + path);
    Say(L"saved: " + path);
    return true;
}

bool Screenshot(const std::wstring& path) {
    HDC screen = GetDC(nullptr);
    test_capture::Pixels p =
        test_capture::ReadDC(screen, GetSystemMetrics(SM_CXVIRTUALSCREEN), GetSystemMetrics(SM_CYVIRTUALSCREEN));
    ReleaseDC(nullptr, screen);
    return SaveBmp(p, path);
}

bool WindowShot(const std::wstring& path) {
    HWND main = nullptr;
    if (!NeedMain(main)) return false;
    return SaveBmp(test_capture::WindowPixels(main), path);
}

bool Close() {
    HWND main = nullptr;
    if (!NeedMain(main)) return false;
    HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, ProcessOf(main));
    PostMessageW(main, WM_CLOSE, 0, 0);
    bool ended;
    if (process) {
        ended = WaitFor(L"close: the client to end", [&] { return WaitForSingleObject(process, 0) == WAIT_OBJECT_0; });
        CloseHandle(process);
    } else {
        ended = WaitFor(L"close: the main window to go", [&] { return !IsWindow(main); });
    }
    if (ended) Say(L"closed");
    return ended;
}

bool End(const std::wstring& path) {
    wchar_t full[MAX_PATH] = {};
    if (!GetFullPathNameW(path.c_str(), MAX_PATH, full, nullptr)) return Fail(L"end: no such path " + path);
    std::vector<HANDLE> ending;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
        HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE | SYNCHRONIZE, FALSE,
                                     entry.th32ProcessID);
        if (!process) continue;
        wchar_t image[MAX_PATH] = {};
        DWORD size = MAX_PATH;
        if (QueryFullProcessImageNameW(process, 0, image, &size) && lstrcmpiW(image, full) == 0 &&
            TerminateProcess(process, 1)) {
            ending.push_back(process);
        } else {
            CloseHandle(process);
        }
    }
    CloseHandle(snapshot);
    const bool ended = WaitFor(L"end: the processes of " + path, [&] {
        for (HANDLE process : ending)
            if (WaitForSingleObject(process, 0) != WAIT_OBJECT_0) return false;
        return true;
    });
    for (HANDLE process : ending) CloseHandle(process);
    if (ended) Say(L"ended: " + std::to_wstring(ending.size()));
    return ended;
}

struct Command {
    const wchar_t* name;
    bool takesArgument;
    std::function<bool(const std::wstring&)> run;
};

const std::vector<Command>& Commands() {
    static const std::vector<Command> commands = {
        {L"wait-main", false, [](const std::wstring&) { return WaitMain(); }},
        {L"browse", false, [](const std::wstring&) { return Browse(); }},
        {L"open", true, Open},
        {L"wait-uploaded", true, WaitUploaded},
        {L"tab", true, SelectTab},
        {L"copy-link", true, CopyLink},
        {L"screenshot", true, Screenshot},
        {L"window-shot", true, WindowShot},
        {L"close", false, [](const std::wstring&) { return Close(); }},
        {L"end", true, End},
    };
    return commands;
}

int Usage(const std::wstring& problem) {
    Fail(problem + L" (--help for the commands)");
    return 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    struct Step {
        const Command* command;
        std::wstring argument;
    };
    std::vector<Step> steps;
    for (int i = 1; i < argc; ++i) {
        const std::wstring word = argv[i];
        if (word == L"--help") {
            fputs(kHelp, stdout);
            return 0;
        }
        if (word == L"--timeout") {
            wchar_t* end = nullptr;
            const long seconds = i + 1 < argc ? wcstol(argv[i + 1], &end, 10) : 0;
            if (i + 1 >= argc || *end || seconds <= 0 || seconds > 3600) return Usage(L"--timeout wants 1 to 3600");
            g_timeoutMs = static_cast<DWORD>(seconds) * 1000;
            ++i;
            continue;
        }
        const Command* found = nullptr;
        for (const Command& c : Commands())
            if (word == c.name) found = &c;
        if (!found) return Usage(L"unknown command " + word);
        if (found->takesArgument && i + 1 >= argc) return Usage(word + L" wants an argument");
        steps.push_back({found, found->takesArgument ? argv[++i] : L""});
    }
    if (steps.empty()) return Usage(L"no command");
    for (const Step& s : steps)
        if (!s.command->run(s.argument)) return 1;
    return 0;
}
