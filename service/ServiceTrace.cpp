#include "service/ServiceTrace.h"

#include "trace/Trace.h"

void ServiceTrace(const wchar_t* text) { GetLogNode()->Send(text, nullptr); }

void ServiceTraceA(const char* text) { GetLogNode()->SendA(text, nullptr); }
