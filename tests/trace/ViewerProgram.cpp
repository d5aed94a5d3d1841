// A small trace viewer program started from the viewer's registry path by the tests. It appends
// one line per start and per received list to the file named by TRACE_TEST_VIEWER_OUT, and
// leaves after a line "viewer-exit" or after 15 seconds. With TRACE_TEST_VIEWER_QUIT it runs
// without a window until that named event is set.
#include <windows.h>

#include <string>

#include "trace/TraceCommands.h"

namespace {

std::wstring g_out;

void Append(const std::string& line) {
    HANDLE f = CreateFileW(g_out.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, 0,
                           nullptr);
    if (f == INVALID_HANDLE_VALUE) return;
    std::string text = line + "\n";
    DWORD written;
    WriteFile(f, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(f);
}

LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_COPYDATA) {
        auto* data = reinterpret_cast<COPYDATASTRUCT*>(lp);
        if (data->dwData == 123 && data->lpData) {
            auto commands = SplitTraceCommands(static_cast<const char*>(data->lpData), data->cbData);
            std::string line = "list";
            bool quit = false;
            for (const std::string& c : commands) {
                line += "|" + c;
                if (TraceCommandCodeOf(c) == kTraceLeftText && TraceCommandPayload(c) == "viewer-exit") quit = true;
            }
            Append(line);
            if (quit) DestroyWindow(hwnd);
        }
        return TRUE;
    }
    if (msg == WM_TIMER) {
        DestroyWindow(hwnd);
        return 0;
    }
    if (msg == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show) {
    wchar_t out[MAX_PATH] = {};
    if (!GetEnvironmentVariableW(L"TRACE_TEST_VIEWER_OUT", out, MAX_PATH)) return 1;
    g_out = out;
    // A viewer that never shows its window, until the test lets it go.
    wchar_t quit[MAX_PATH] = {};
    if (GetEnvironmentVariableW(L"TRACE_TEST_VIEWER_QUIT", quit, MAX_PATH)) {
        Append("start");
        HANDLE event = OpenEventW(SYNCHRONIZE, FALSE, quit);
        if (event) {
            WaitForSingleObject(event, 15000);
            CloseHandle(event);
        }
        Append("end");
        return 0;
    }
    // Another viewer already runs: leave it to that one.
    if (FindWindowW(L"TFormReceiver", L"FormReceiver")) return 2;
    Append("start");
    WNDCLASSW wc = {};
    wc.lpfnWndProc = Proc;
    wc.hInstance = instance;
    wc.lpszClassName = L"TFormReceiver";
    RegisterClassW(&wc);
    HWND hwnd = CreateWindowW(L"TFormReceiver", L"FormReceiver", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr, nullptr,
                              instance, nullptr);
    if (!hwnd) return 3;
    ShowWindow(hwnd, show);
    SetTimer(hwnd, 1, 15000, nullptr);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return 0;
}
