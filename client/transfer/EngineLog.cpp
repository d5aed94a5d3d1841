#include "client/transfer/EngineLog.h"

#include "framework/CString.h"

void EngineLog(const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    std::wstring text;
    afx_string::FormatV(text, format, args);
    va_end(args);
    OutputDebugStringW(text.c_str());
}

void EngineLogA(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string text;
    afx_string::FormatV(text, format, args);
    va_end(args);
    OutputDebugStringA(text.c_str());
}
