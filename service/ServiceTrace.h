// Where the service writes its diagnostic lines; one place to switch to the trace client.
#pragma once

void ServiceTrace(const wchar_t* text);
void ServiceTraceA(const char* text);
