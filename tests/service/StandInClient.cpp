// Stand-in for the client in launch tests: records its command line and what the pipe hands it, in
// "standin.out" (the last run) and appended to "standin.log" (every run, each record ending "\n----\n").
// Beside it, "standin.cfg" holds the pipe name on its first line and "read" or "ignore" on the second.
#include <windows.h>

#include <cstdio>
#include <string>

#include "common/NamedPipe.h"

int wmain(int, wchar_t**) {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring folder = self;
    folder.resize(folder.rfind(L'\\') + 1);
    wchar_t pipeName[128] = L"OrvoQUILLEXZN", mode[16] = L"read";
    if (FILE* cfg = _wfopen((folder + L"standin.cfg").c_str(), L"r")) {
        fwscanf(cfg, L"%127ls %15ls", pipeName, mode);
        fclose(cfg);
    }
    std::string received;
    bool gotPipe = false;
    if (std::wstring(mode) == L"read") {
        for (int i = 0; i < 100 && !gotPipe; ++i) {
            try {
                NamedPipe::ServerAvailable(L".", pipeName, 1000);
                NamedPipe pipe;
                pipe.Open(L".", pipeName, GENERIC_READ | 1, 0, nullptr, 0);
                char buffer[256] = {};
                DWORD n = 0;
                try {
                    n = pipe.Read(buffer, 255, nullptr);
                } catch (CNamedPipeException* e) {
                    e->Delete();  // zero bytes written and closed: nothing to read
                }
                received.assign(buffer, n);
                gotPipe = true;
            } catch (CNamedPipeException* e) {
                e->Delete();
                Sleep(100);
            }
        }
    }
    int len = WideCharToMultiByte(CP_UTF8, 0, GetCommandLineW(), -1, nullptr, 0, nullptr, nullptr);
    std::string line(static_cast<std::size_t>(len), '\0');
    WideCharToMultiByte(CP_UTF8, 0, GetCommandLineW(), -1, &line[0], len, nullptr, nullptr);
    line.resize(static_cast<std::size_t>(len - 1));
    std::string record = line + "\n" + (gotPipe ? "pipe" : "nopipe") + "\n" + received;
    std::wstring out = folder + L"standin.out";
    std::wstring temp = out + L".tmp";
    if (FILE* f = _wfopen(temp.c_str(), L"wb")) {
        fwrite(record.data(), 1, record.size(), f);
        fclose(f);
        MoveFileExW(temp.c_str(), out.c_str(), MOVEFILE_REPLACE_EXISTING);
    }
    // One append call per record, so that stand-ins running side by side never interleave.
    HANDLE log = CreateFileW((folder + L"standin.log").c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             nullptr, OPEN_ALWAYS, 0, nullptr);
    if (log != INVALID_HANDLE_VALUE) {
        record += "\n----\n";
        DWORD written = 0;
        WriteFile(log, record.data(), static_cast<DWORD>(record.size()), &written, nullptr);
        CloseHandle(log);
    }
    return 0;
}
