// Stands in for the browser: appends each address it is opened with, one UTF-8 line each, to
// the file that FERRANT_URL_RECORD names.
#include <windows.h>

#include <cstdio>
#include <string>

int wmain(int argc, wchar_t** argv) {
    wchar_t path[MAX_PATH] = {};
    if (argc < 2 || !GetEnvironmentVariableW(L"FERRANT_URL_RECORD", path, MAX_PATH)) return 1;
    const int size = WideCharToMultiByte(CP_UTF8, 0, argv[1], -1, nullptr, 0, nullptr, nullptr);
    std::string line(size > 0 ? size - 1 : 0, '\0');
    if (size > 1) WideCharToMultiByte(CP_UTF8, 0, argv[1], -1, &line[0], size, nullptr, nullptr);
    line += '\n';
    FILE* out = _wfopen(path, L"ab");
    if (!out) return 2;
    fwrite(line.data(), 1, line.size(), out);
    fclose(out);
    return 0;
}
