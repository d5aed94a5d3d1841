#include "client/transfer/EngineLog.h"

#include "framework/CString.h"
#include "trace/Trace.h"

void EngineLog(const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    std::wstring text;
    afx_string::FormatV(text, format, args);
    va_end(args);
    if (TraceNode* node = GetLogNode()) node->Send(text.c_str(), nullptr);
}

void EngineLogA(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string text;
    afx_string::FormatV(text, format, args);
    va_end(args);
    if (TraceNode* node = GetLogNode()) node->SendA(text.c_str(), nullptr);
}
