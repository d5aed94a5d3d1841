// Access to the visual-styles theme without linking the theme library: the library is loaded at
// run time, each theme function looked up by name when it is called, one theme opened for a
// window, and the current theme file loaded as a data module so that its bitmaps can be read.
#pragma once

#include <windows.h>
#include <uxtheme.h>

#include <functional>

class CThemeUtil {
public:
    CThemeUtil();
    virtual ~CThemeUtil();
    CThemeUtil(const CThemeUtil&) = delete;
    CThemeUtil& operator=(const CThemeUtil&) = delete;

    // 1 when the theme is open and its file loaded; 0 otherwise (nothing is left open then).
    BOOL OpenThemeData(HWND hWnd, LPCWSTR classList);
    void CloseThemeData();

    // Each is 1 when the theme function was found and called (its own result is not looked
    // at), else 0. The outputs are cleared first, so a failed call leaves zeros, not garbage.
    BOOL GetThemeColor(int part, int state, int prop, COLORREF* color);
    BOOL GetThemeEnumValue(int part, int state, int prop, int* value);
    BOOL GetThemeInt(int part, int state, int prop, int* value);
    BOOL GetThemeMargins(int part, int state, int prop, MARGINS* margins);
    BOOL GetThemeFilename(int part, int state, int prop, LPWSTR buffer, int length);
    BOOL GetCurrentThemeName(LPWSTR file, int fileLength, LPWSTR color, int colorLength, LPWSTR size, int sizeLength);
    // A bitmap of the theme file, its name with every '\' and '.' turned into '_'; null without one.
    HBITMAP LoadThemeBitmap(LPCWSTR name);

    bool HasLibrary() const { return m_hThemeLib != nullptr; }
    bool HasTheme() const { return m_hTheme != nullptr; }
    bool HasThemeFile() const { return m_hThemeFile != nullptr; }

    // Themes exist from version 5.1 on.
    static bool VersionHasThemes(DWORD major, DWORD minor);

    // Where theme functions are looked up, and how a bitmap is taken from the theme file:
    // GetProcAddress and LoadBitmapW unless a test replaces them.
    using ProcLookup = std::function<FARPROC(HMODULE module, LPCSTR name)>;
    using BitmapLoader = std::function<HBITMAP(HMODULE module, LPCWSTR name)>;
    static ProcLookup& Lookup();
    static BitmapLoader& Loader();

private:
    template <typename Fn>
    Fn Proc(LPCSTR name) const {
        return m_hThemeLib ? reinterpret_cast<Fn>(reinterpret_cast<void*>(Lookup()(m_hThemeLib, name))) : nullptr;
    }

    HMODULE m_hThemeLib = nullptr;
    HMODULE m_hThemeFile = nullptr;
    HTHEME m_hTheme = nullptr;
};
