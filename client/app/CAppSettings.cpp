#include "client/app/CAppSettings.h"

#include <shlobj.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "client/app/AutoRun.h"
#include "client/app/Utf8.h"

CAppSettings g_Settings;

namespace {

// The text's UTF-16 units as the portable converter takes them (up to its zero).
std::u16string WideToU16(const wchar_t* textIn) {
    std::u16string wide;
    if (textIn)
        for (const wchar_t* p = textIn; *p; ++p) wide += static_cast<char16_t>(*p);
    return wide;
}

const int kTextSize = 260;

CString ReadString(const wchar_t* section, const wchar_t* key, const wchar_t* ini) {
    wchar_t buffer[kTextSize] = {};
    GetPrivateProfileStringW(section, key, L"", buffer, kTextSize, ini);
    return CString(buffer);
}

int ReadInt(const wchar_t* section, const wchar_t* key, int fallback, const wchar_t* ini) {
    return static_cast<int>(GetPrivateProfileIntW(section, key, fallback, ini));
}

bool IsVistaOrLater() {
    OSVERSIONINFOEXW info;
    std::memset(&info, 0, sizeof info);
    info.dwOSVersionInfoSize = sizeof info;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    if (!GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&info))) return false;
#pragma GCC diagnostic pop
    return info.dwMajorVersion > 5;
}

}  // namespace

CAppSettings::CAppSettings() : CAppSettings(GetModulePath()) {}

CAppSettings::CAppSettings(const wchar_t* programPath) { Load(IniPathFor(programPath)); }

CString CAppSettings::IniPathFor(const wchar_t* programPath) {
    CString path(programPath);
    // The folder of the program file, not the place of a fixed program name in the path: a
    // renamed program would otherwise read "Setting.ini" from the Windows folder.
    int slash = path.ReverseFind(L'\\');
    int other = path.ReverseFind(L'/');
    if (other > slash) slash = other;
    return path.Left(slash + 1) + L"Setting.ini";
}

void CAppSettings::Load(const wchar_t* ini) {
    m_strServerAddr.Empty();
    m_strMailAddr.Empty();
    m_strPass.Empty();
    m_nAutoLoginToRun = ReadInt(L"Setting", L"AutoLoginToRun", 1, ini);
    m_nFloatWnd = ReadInt(L"Setting", L"FloatWnd", 1, ini);
    m_nMaxSendFileThread = ReadInt(L"Setting", L"MaxSendFileThread", 5, ini);
    // A row holds at most ten segments, and fewer than one sender would never finish.
    if (m_nMaxSendFileThread > kMaxSendFileThreads) m_nMaxSendFileThread = kMaxSendFileThreads;
    if (m_nMaxSendFileThread < 1) m_nMaxSendFileThread = 1;
    m_strServerAddr = ReadString(L"LoginInfo", L"ServerAddr", ini);
    m_strMailAddr = ReadString(L"LoginInfo", L"MailAddr", ini);
    m_strPass = ReadString(L"LoginInfo", L"Pass", ini);
    m_nAutoLogin = ReadInt(L"LoginInfo", L"AutoLogin", 1, ini);
    m_bVistaOrLater = IsVistaOrLater() ? 1 : 0;
}

void CAppSettings::SetAutoRun(BOOL enable) { SetAutoRunAt(DefaultAutoRunKey(), GetModulePath(), enable != 0); }

CString GetModulePath() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    return CString(path);
}

CString GetAppDataFolder() {
    wchar_t folder[MAX_PATH] = {};
    if (!SHGetSpecialFolderPathW(nullptr, folder, CSIDL_APPDATA, FALSE)) return CString();
    CString out;
    out.Format(L"%s", folder);
    return out;
}

CString GetModuleFolder() {
    wchar_t drive[_MAX_DRIVE] = {}, dir[_MAX_DIR] = {}, name[_MAX_FNAME] = {}, ext[_MAX_EXT] = {};
    CString path = GetModulePath();
    _wsplitpath_s(path, drive, _MAX_DRIVE, dir, _MAX_DIR, name, _MAX_FNAME, ext, _MAX_EXT);
    return CString(drive) + dir;
}

std::string WideToAnsi(const CString& textIn) { return afx_string::Narrow(textIn.GetString(), textIn.GetLength()); }

CString AnsiToWide(const char* bytes, int length) { return CString(afx_string::Widen(bytes, length)); }

std::string WideToUtf8String(const wchar_t* textIn) { return text::Utf16ToUtf8(WideToU16(textIn)); }

int WideToUtf8(char* out, int outSize, const wchar_t* textIn) {
    if (!out || outSize <= 0) return 0;
    std::u16string wide = WideToU16(textIn);
    return static_cast<int>(text::Utf16ToUtf8Field(out, static_cast<size_t>(outSize), wide.data(), wide.size()));
}

void Utf8ToWide(const char* textIn, CString& out) {
    out.Empty();
    if (!textIn) return;
    std::u16string wide = text::Utf8ToUtf16(textIn, std::strlen(textIn));
    std::wstring w(wide.begin(), wide.end());
    out = w.c_str();
}
