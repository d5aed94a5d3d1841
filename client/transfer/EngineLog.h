// Diagnostic lines of the upload engine.
#pragma once

void EngineLog(const wchar_t* format, ...);
void EngineLogA(const char* format, ...);
