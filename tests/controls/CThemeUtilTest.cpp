#include <gtest/gtest.h>

#include <string>

#include "controls/CThemeUtil.h"

namespace {

// Theme functions of a fake theme library, picked by name through the lookup seam.
struct Fake {
    static BOOL active;
    static std::wstring file;
    static int closes;
    static BOOL WINAPI IsThemeActive() { return active; }
    static HTHEME WINAPI OpenThemeData(HWND, LPCWSTR) { return reinterpret_cast<HTHEME>(static_cast<INT_PTR>(0x1234)); }
    static HRESULT WINAPI CloseThemeData(HTHEME) {
        ++closes;
        return S_OK;
    }
    static HRESULT WINAPI GetCurrentThemeName(LPWSTR f, int n, LPWSTR, int, LPWSTR, int) {
        lstrcpynW(f, file.c_str(), n);
        return S_OK;
    }
    static HRESULT WINAPI GetThemeColor(HTHEME, int, int, int, COLORREF* c) {
        *c = RGB(1, 2, 3);
        return S_OK;
    }
};
BOOL Fake::active = TRUE;
std::wstring Fake::file;
int Fake::closes = 0;

template <typename Fn>
FARPROC AsProc(Fn fn) {
    return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(fn));
}

std::wstring ThisProgram() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    return path;
}

class ThemeUtil : public ::testing::Test {
protected:
    CThemeUtil::ProcLookup m_oldLookup = CThemeUtil::Lookup();
    CThemeUtil::BitmapLoader m_oldLoader = CThemeUtil::Loader();
    std::wstring m_strAsked;

    void SetUp() override {
        Fake::active = TRUE;
        Fake::file = ThisProgram();
        Fake::closes = 0;
        CThemeUtil::Lookup() = [](HMODULE, LPCSTR name) -> FARPROC {
            const std::string n = name;
            if (n == "IsThemeActive") return AsProc(&Fake::IsThemeActive);
            if (n == "OpenThemeData") return AsProc(&Fake::OpenThemeData);
            if (n == "CloseThemeData") return AsProc(&Fake::CloseThemeData);
            if (n == "GetCurrentThemeName") return AsProc(&Fake::GetCurrentThemeName);
            if (n == "GetThemeColor") return AsProc(&Fake::GetThemeColor);
            return nullptr;
        };
        CThemeUtil::Loader() = [this](HMODULE, LPCWSTR name) -> HBITMAP {
            m_strAsked = name;
            return nullptr;
        };
    }
    void TearDown() override {
        CThemeUtil::Lookup() = m_oldLookup;
        CThemeUtil::Loader() = m_oldLoader;
    }
    HWND Window() const { return GetDesktopWindow(); }
};

TEST(ThemeVersion, FivePointOneAndLaterHaveThemes) {
    struct Case {
        DWORD major, minor;
        bool themes;
    } cases[] = {{4, 10, false}, {5, 0, false}, {5, 1, true}, {5, 2, true},
                 {6, 0, true},   {6, 1, true},  {6, 2, true}, {10, 0, true}};
    for (const Case& c : cases)
        EXPECT_EQ(CThemeUtil::VersionHasThemes(c.major, c.minor), c.themes) << c.major << "." << c.minor;
}

TEST_F(ThemeUtil, InactiveThemesFailAndClearEveryOutput) {
    Fake::active = FALSE;
    CThemeUtil theme;
    ASSERT_TRUE(theme.HasLibrary());
    EXPECT_FALSE(theme.OpenThemeData(Window(), L"SPIN"));
    EXPECT_FALSE(theme.HasTheme());
    COLORREF color = 0xDEADBEEF;
    int value = 77;
    MARGINS margins{9, 9, 9, 9};
    WCHAR text[8] = L"junk";
    EXPECT_FALSE(theme.GetThemeColor(1, 1, 3819, &color));
    EXPECT_EQ(color, 0u);
    EXPECT_FALSE(theme.GetThemeEnumValue(1, 1, 4001, &value));
    EXPECT_EQ(value, 0);
    value = 77;
    EXPECT_FALSE(theme.GetThemeInt(1, 1, 2401, &value));
    EXPECT_EQ(value, 0);
    EXPECT_FALSE(theme.GetThemeMargins(1, 1, 3601, &margins));
    EXPECT_EQ(margins.cxLeftWidth + margins.cxRightWidth + margins.cyTopHeight + margins.cyBottomHeight, 0);
    EXPECT_FALSE(theme.GetThemeFilename(1, 1, 3001, text, 8));
    EXPECT_EQ(text[0], L'\0');
    EXPECT_EQ(theme.LoadThemeBitmap(L"x"), nullptr);
}

TEST_F(ThemeUtil, OpenLoadsThemeFileOnceAndMangledBitmapNames) {
    CThemeUtil theme;
    ASSERT_TRUE(theme.OpenThemeData(Window(), L"SPIN"));
    EXPECT_TRUE(theme.HasThemeFile());
    // A theme is open already.
    EXPECT_FALSE(theme.OpenThemeData(Window(), L"SPIN"));
    COLORREF color = 0;
    EXPECT_TRUE(theme.GetThemeColor(4, 1, 3819, &color));
    EXPECT_EQ(color, RGB(1, 2, 3));
    // Found in the library but not exported by this fake: 0, output cleared.
    int value = 5;
    EXPECT_FALSE(theme.GetThemeInt(4, 1, 2401, &value));
    EXPECT_EQ(value, 0);
    EXPECT_EQ(theme.LoadThemeBitmap(L"a\\b.bmp"), nullptr);
    EXPECT_EQ(m_strAsked, L"a_b_bmp");
    theme.CloseThemeData();
    EXPECT_EQ(Fake::closes, 1);
    EXPECT_FALSE(theme.HasTheme());
    EXPECT_FALSE(theme.HasThemeFile());
    // Closed: the object opens again.
    EXPECT_TRUE(theme.OpenThemeData(Window(), L"SPIN"));
}

TEST_F(ThemeUtil, UnloadableThemeFileLeavesNothingOpen) {
    Fake::file = L"C:\\no\\such\\theme.msstyles";
    CThemeUtil theme;
    EXPECT_FALSE(theme.OpenThemeData(Window(), L"SPIN"));
    EXPECT_FALSE(theme.HasTheme());
    EXPECT_FALSE(theme.HasThemeFile());
    EXPECT_EQ(Fake::closes, 1);
    EXPECT_FALSE(theme.OpenThemeData(nullptr, L"SPIN"));
}

}  // namespace
