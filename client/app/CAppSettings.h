// Process-wide settings read once from "Setting.ini" in the program's folder, and the folder and
// text helpers the rest of the client uses.
#pragma once

#include <windows.h>

#include <string>

#include "framework/CString.h"

class CAppSettings {
public:
    // Loads from "Setting.ini" beside the running program.
    CAppSettings();
    // Loads from "Setting.ini" beside `programPath` (full path of a program file).
    explicit CAppSettings(const wchar_t* programPath);

    // The settings file that belongs to a program file, whatever the file is called.
    static CString IniPathFor(const wchar_t* programPath);
    void Load(const wchar_t* iniPath);

    void SetServerPort(UINT port) { m_nServerPort = port; }
    UINT GetServerPort() const { return m_nServerPort; }
    void SetFloatWnd(int value) { m_nFloatWnd = value; }
    void SetAutoRun(BOOL enable);

    CString m_strServerAddr;
    CString m_strMailAddr;
    CString m_strPass;
    UINT m_nServerPort = 0;
    UINT m_nSecondPort = 0;
    int m_nMaxSendFileThread = 5;
    BOOL m_bVistaOrLater = 0;
    int m_nAutoLogin = 1;
    int m_nAutoLoginToRun = 1;
    int m_nFloatWnd = 1;

    static const int kMaxSendFileThreads = 10;
};

extern CAppSettings g_Settings;

// Full path of the running program file.
CString GetModulePath();
// Roaming application-data folder without a trailing backslash; empty when the shell cannot name it.
CString GetAppDataFolder();
// Drive and directory of the running program, ending in a backslash.
CString GetModuleFolder();

// Writes the UTF-8 form of `text` into out[0..outSize), cut at a character boundary so the
// terminating zero always fits. Returns the bytes written without the zero.
int WideToUtf8(char* out, int outSize, const wchar_t* text);
// The whole UTF-8 form of `text`, for the protocol's request builders.
std::string WideToUtf8String(const wchar_t* text);
// Decodes the zero-terminated UTF-8 `text` into `out`.
void Utf8ToWide(const char* text, CString& out);
// The text in the ANSI code page (what the page cannot hold becomes its default character), and
// `length` bytes of ANSI text back.
std::string WideToAnsi(const CString& text);
CString AnsiToWide(const char* bytes, int length);
