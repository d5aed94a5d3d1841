#include "client/transfer/EngineLog.h"

#include <cstdarg>
#include <string>

#include "framework/CString.h"
#include "trace/Trace.h"

namespace {

void SendLine(TraceNode& node, const std::wstring& text) { node.Send(text.c_str(), nullptr); }
void SendLine(TraceNode& node, const std::string& text) { node.SendA(text.c_str(), nullptr); }

template <typename Char>
void Log(const Char* format, va_list args) {
    std::basic_string<Char> text;
    afx_string::FormatV(text, format, args);
    if (TraceNode* node = GetLogNode()) SendLine(*node, text);
}

}  // namespace

void EngineLog(const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    Log(format, args);
    va_end(args);
}

void EngineLogA(const char* format, ...) {
    va_list args;
    va_start(args, format);
    Log(format, args);
    va_end(args);
}
