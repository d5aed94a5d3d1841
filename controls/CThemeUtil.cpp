#include "controls/CThemeUtil.h"

#include <string>

namespace {
using IsThemeActiveFn = BOOL(WINAPI*)();
using OpenThemeDataFn = HTHEME(WINAPI*)(HWND, LPCWSTR);
using CloseThemeDataFn = HRESULT(WINAPI*)(HTHEME);
using GetThemeColorFn = HRESULT(WINAPI*)(HTHEME, int, int, int, COLORREF*);
using GetThemeIntFn = HRESULT(WINAPI*)(HTHEME, int, int, int, int*);
using GetThemeMarginsFn = HRESULT(WINAPI*)(HTHEME, HDC, int, int, int, LPCRECT, MARGINS*);
using GetThemeFilenameFn = HRESULT(WINAPI*)(HTHEME, int, int, int, LPWSTR, int);
using GetCurrentThemeNameFn = HRESULT(WINAPI*)(LPWSTR, int, LPWSTR, int, LPWSTR, int);

constexpr int kNameLength = 260;

void ClearText(LPWSTR buffer, int length) {
    if (buffer && length > 0) buffer[0] = L'\0';
}

bool SystemHasThemes() {
    OSVERSIONINFOW vi{};
    vi.dwOSVersionInfoSize = sizeof(vi);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    if (!::GetVersionExW(&vi)) return false;
#pragma GCC diagnostic pop
    return CThemeUtil::VersionHasThemes(vi.dwMajorVersion, vi.dwMinorVersion);
}
}  // namespace

CThemeUtil::ProcLookup& CThemeUtil::Lookup() {
    static ProcLookup lookup = [](HMODULE module, LPCSTR name) { return ::GetProcAddress(module, name); };
    return lookup;
}

CThemeUtil::BitmapLoader& CThemeUtil::Loader() {
    static BitmapLoader loader = [](HMODULE module, LPCWSTR name) { return ::LoadBitmapW(module, name); };
    return loader;
}

bool CThemeUtil::VersionHasThemes(DWORD major, DWORD minor) { return major > 5 || (major == 5 && minor >= 1); }

CThemeUtil::CThemeUtil() {
    if (SystemHasThemes()) m_hThemeLib = ::LoadLibraryW(L"UxTheme.dll");
}

CThemeUtil::~CThemeUtil() {
    CloseThemeData();
    if (m_hThemeLib) ::FreeLibrary(m_hThemeLib);
}

BOOL CThemeUtil::OpenThemeData(HWND hWnd, LPCWSTR classList) {
    if (!m_hThemeLib || !hWnd || m_hTheme) return FALSE;
    auto isActive = Proc<IsThemeActiveFn>("IsThemeActive");
    if (!isActive || !isActive()) return FALSE;
    auto open = Proc<OpenThemeDataFn>("OpenThemeData");
    if (!open) return FALSE;
    m_hTheme = open(hWnd, classList);
    if (!m_hTheme) return FALSE;
    WCHAR file[kNameLength], color[kNameLength], size[kNameLength];
    if (GetCurrentThemeName(file, kNameLength, color, kNameLength, size, kNameLength) && file[0]) {
        // Only its resources are wanted: no code of the theme file runs.
        m_hThemeFile = ::LoadLibraryExW(file, nullptr, LOAD_LIBRARY_AS_DATAFILE);
        if (m_hThemeFile) return TRUE;
    }
    CloseThemeData();
    return FALSE;
}

void CThemeUtil::CloseThemeData() {
    if (m_hTheme) {
        if (auto close = Proc<CloseThemeDataFn>("CloseThemeData")) close(m_hTheme);
        m_hTheme = nullptr;
    }
    if (m_hThemeFile) {
        ::FreeLibrary(m_hThemeFile);
        m_hThemeFile = nullptr;
    }
}

BOOL CThemeUtil::GetThemeColor(int part, int state, int prop, COLORREF* color) {
    if (color) *color = 0;
    auto fn = m_hTheme ? Proc<GetThemeColorFn>("GetThemeColor") : nullptr;
    if (!fn) return FALSE;
    fn(m_hTheme, part, state, prop, color);
    return TRUE;
}

BOOL CThemeUtil::GetThemeEnumValue(int part, int state, int prop, int* value) {
    if (value) *value = 0;
    auto fn = m_hTheme ? Proc<GetThemeIntFn>("GetThemeEnumValue") : nullptr;
    if (!fn) return FALSE;
    fn(m_hTheme, part, state, prop, value);
    return TRUE;
}

BOOL CThemeUtil::GetThemeInt(int part, int state, int prop, int* value) {
    if (value) *value = 0;
    auto fn = m_hTheme ? Proc<GetThemeIntFn>("GetThemeInt") : nullptr;
    if (!fn) return FALSE;
    fn(m_hTheme, part, state, prop, value);
    return TRUE;
}

BOOL CThemeUtil::GetThemeMargins(int part, int state, int prop, MARGINS* margins) {
    if (margins) *margins = MARGINS{};
    auto fn = m_hTheme ? Proc<GetThemeMarginsFn>("GetThemeMargins") : nullptr;
    if (!fn) return FALSE;
    fn(m_hTheme, nullptr, part, state, prop, nullptr, margins);
    return TRUE;
}

BOOL CThemeUtil::GetThemeFilename(int part, int state, int prop, LPWSTR buffer, int length) {
    ClearText(buffer, length);
    auto fn = m_hTheme ? Proc<GetThemeFilenameFn>("GetThemeFilename") : nullptr;
    if (!fn) return FALSE;
    fn(m_hTheme, part, state, prop, buffer, length);
    return TRUE;
}

BOOL CThemeUtil::GetCurrentThemeName(LPWSTR file, int fileLength, LPWSTR color, int colorLength, LPWSTR size,
                                     int sizeLength) {
    ClearText(file, fileLength);
    ClearText(color, colorLength);
    ClearText(size, sizeLength);
    auto fn = Proc<GetCurrentThemeNameFn>("GetCurrentThemeName");
    if (!fn) return FALSE;
    fn(file, fileLength, color, colorLength, size, sizeLength);
    return TRUE;
}

HBITMAP CThemeUtil::LoadThemeBitmap(LPCWSTR name) {
    if (!m_hThemeFile || !name) return nullptr;
    std::wstring resource;
    try {
        resource = name;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    for (wchar_t& c : resource)
        if (c == L'\\' || c == L'.') c = L'_';
    return Loader()(m_hThemeFile, resource.c_str());
}
