#include "provider/ConsoleOptions.h"

#include <cstdio>

namespace {
std::string Narrow(const std::wstring& w) { return std::string(w.begin(), w.end()); }
}  // namespace

int ConsoleUsage(const char* program, const std::string& problem) {
    fprintf(stderr, "%s: %s (--help lists the options)\n", program, problem.c_str());
    return 2;
}

int ParseConsoleOptions(int argc, wchar_t** argv, const char* program, const char* help,
                        const std::function<bool(const std::wstring&)>& flag,
                        const std::function<OptionResult(const std::wstring&, const std::wstring&)>& valued) {
    for (int i = 1; i < argc; ++i) {
        std::wstring a = argv[i];
        if (a == L"--help" || a == L"-h" || a == L"/?") {
            fputs(help, stdout);
            return 1;
        }
        if (flag(a)) continue;
        // Asked first with no value, so an unknown option is named as such even when it ends the line.
        if (i + 1 >= argc) {
            if (valued(a, std::wstring()) == OptionResult::Unknown)
                return ConsoleUsage(program, "unknown option " + Narrow(a));
            return ConsoleUsage(program, Narrow(a) + " needs a value");
        }
        std::wstring v = argv[++i];
        switch (valued(a, v)) {
        case OptionResult::Ok: break;
        case OptionResult::Unknown: return ConsoleUsage(program, "unknown option " + Narrow(a));
        case OptionResult::BadValue: return ConsoleUsage(program, "bad value for " + Narrow(a) + ": " + Narrow(v));
        }
    }
    return 0;
}
