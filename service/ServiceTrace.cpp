#include "service/ServiceTrace.h"

#include <windows.h>

#include <string>

void ServiceTrace(const wchar_t* text) {
    std::wstring line = L"QuillexHelper: ";
    line += text ? text : L"";
    line += L"\n";
    OutputDebugStringW(line.c_str());
}

void ServiceTraceA(const char* text) {
    std::string line = "QuillexHelper: ";
    line += text ? text : "";
    line += "\n";
    OutputDebugStringA(line.c_str());
}
