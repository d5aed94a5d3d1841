#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <string>

#include "client/app/CAppSettings.h"
#include "tests/support/TempDir.h"
#include "client/app/AutoRun.h"

namespace {

// A folder of this test process's own, with the program's settings file written into it.
class TempFolder {
public:
    // With the closing backslash, as a program folder is joined to a file name.
    CString path() const { return m_dir.File(L""); }
    void WriteIni(const std::wstring& content) const {
        HANDLE f = CreateFileW(m_dir.File(L"Setting.ini"), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(f, INVALID_HANDLE_VALUE);
        DWORD written = 0;
        const WORD bom = 0xFEFF;
        WriteFile(f, &bom, 2, &written, nullptr);
        WriteFile(f, content.data(), DWORD(content.size() * 2), &written, nullptr);
        CloseHandle(f);
    }

private:
    TempDir m_dir;
};

}  // namespace

TEST(Settings, LoaderReadsTheProgramsOwnFile) {
    const std::wstring longText(300, L'x');
    struct Case {
        const char* name;
        const wchar_t* program;  // file name of the program in the folder
        bool writeIni;
        std::wstring ini;
        int threads, autoLogin, autoLoginToRun, floatWnd;
        std::wstring server;
    };
    const Case cases[] = {
        {"missing file", L"Ferrant.exe", false, L"", 5, 1, 1, 1, L""},
        {"all keys", L"Ferrant.exe", true,
         L"[LoginInfo]\r\nServerAddr=127.0.2.1\r\nMailAddr=a@b.cn\r\nPass=pw\r\nAutoLogin=0\r\n"
         L"[Setting]\r\nAutoLoginToRun=0\r\nFloatWnd=0\r\nMaxSendFileThread=3\r\n",
         3, 0, 0, 0, L"127.0.2.1"},
        {"25 threads", L"Ferrant.exe", true, L"[Setting]\r\nMaxSendFileThread=25\r\n", 10, 1, 1, 1, L""},
        {"10 threads", L"Ferrant.exe", true, L"[Setting]\r\nMaxSendFileThread=10\r\n", 10, 1, 1, 1, L""},
        {"1 thread", L"Ferrant.exe", true, L"[Setting]\r\nMaxSendFileThread=1\r\n", 1, 1, 1, 1, L""},
        {"0 threads", L"Ferrant.exe", true, L"[Setting]\r\nMaxSendFileThread=0\r\n", 1, 1, 1, 1, L""},
        {"negative threads", L"Ferrant.exe", true, L"[Setting]\r\nMaxSendFileThread=-4\r\n", 1, 1, 1, 1, L""},
        {"long value", L"Ferrant.exe", true, L"[LoginInfo]\r\nServerAddr=" + longText + L"\r\n", 5, 1, 1, 1,
         longText.substr(0, 259)},
        {"program renamed", L"Quillex Client.exe", true, L"[LoginInfo]\r\nServerAddr=renamed.host\r\n", 5, 1, 1, 1,
         L"renamed.host"},
        {"CJK value", L"Ferrant.exe", true, L"[LoginInfo]\r\nServerAddr=服务器\r\n", 5, 1, 1, 1, L"服务器"},
    };
    for (const Case& c : cases) {
        TempFolder folder;
        if (c.writeIni) folder.WriteIni(c.ini);
        CAppSettings s(folder.path() + c.program);
        EXPECT_EQ(s.m_nMaxSendFileThread, c.threads) << c.name;
        EXPECT_EQ(s.m_nAutoLogin, c.autoLogin) << c.name;
        EXPECT_EQ(s.m_nAutoLoginToRun, c.autoLoginToRun) << c.name;
        EXPECT_EQ(s.m_nFloatWnd, c.floatWnd) << c.name;
        EXPECT_EQ(std::wstring(s.m_strServerAddr.GetString()), c.server) << c.name;
        EXPECT_EQ(s.GetServerPort(), 0u) << c.name;
        EXPECT_EQ(s.m_nSecondPort, 0u) << c.name;
    }
}

TEST(Settings, IniPathIsBesideTheProgramWhateverItsName) {
    struct Case {
        const wchar_t* program;
        const wchar_t* ini;
    };
    const Case cases[] = {
        {L"C:\\Program Files\\Quillex\\Ferrant.exe", L"C:\\Program Files\\Quillex\\Setting.ini"},
        {L"C:\\apps\\Other.exe", L"C:\\apps\\Setting.ini"},
        {L"C:\\Ferrant.exe.d\\Other.exe", L"C:\\Ferrant.exe.d\\Setting.ini"},
        {L"Ferrant.exe", L"Setting.ini"},
    };
    for (const Case& c : cases) EXPECT_STREQ(CAppSettings::IniPathFor(c.program), c.ini);
    EXPECT_EQ(GetModuleFolder().Right(1), CString(L"\\"));
    EXPECT_EQ(GetModuleFolder() + L"Setting.ini", CAppSettings::IniPathFor(GetModulePath()));
    CString appData = GetAppDataFolder();
    EXPECT_FALSE(appData.IsEmpty());
    EXPECT_NE(appData.Right(1), CString(L"\\"));
}

TEST(Settings, WideToUtf8KeepsToItsOutput) {
    struct Case {
        const wchar_t* in;
        int size;
        std::string kept;
    };
    const Case cases[] = {
        {L"", 1, ""},
        {L"mail@host.cn", 50, "mail@host.cn"},
        {L"上传", 50, "\xE4\xB8\x8A\xE4\xBC\xA0"},
        {L"a\U0001F600", 50, "a\xF0\x9F\x98\x80"},
        {L"上传", 6, "\xE4\xB8\x8A"},
        {L"abcdef", 4, "abc"},
    };
    for (const Case& c : cases) {
        char out[64];
        std::memset(out, 'G', sizeof out);
        int n = WideToUtf8(out, c.size, c.in);
        EXPECT_EQ(n, int(c.kept.size()));
        EXPECT_EQ(std::string(out, size_t(n)), c.kept);
        EXPECT_EQ(out[n], '\0');
        EXPECT_EQ(out[c.size], 'G');
        EXPECT_EQ(WideToUtf8String(c.in).substr(0, c.kept.size()), c.kept);
    }
    EXPECT_EQ(WideToUtf8String(L"上传"), "\xE4\xB8\x8A\xE4\xBC\xA0");
    struct Back {
        const char* in;
        const wchar_t* out;
    };
    const Back back[] = {{"", L""},
                         {"abc", L"abc"},
                         {"\xE4\xB8\x8A", L"上"},
                         {"\xF0\x9F\x98\x80", L"\U0001F600"},
                         {"a\xFF"
                          "b",
                          L"a\uFFFDb"}};
    for (const Back& b : back) {
        CString w(L"old");
        Utf8ToWide(b.in, w);
        EXPECT_STREQ(w, b.out);
    }
}

namespace {

class AutoRunTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_sub.Format(L"Software\\FerrantTests\\Run-%lu", GetCurrentProcessId());
        HKEY k;
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, m_sub, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr),
                  ERROR_SUCCESS);
        RegCloseKey(k);
        m_key = AutoRunKey{HKEY_CURRENT_USER, m_sub.GetString()};
    }
    void TearDown() override { RegDeleteKeyW(HKEY_CURRENT_USER, m_sub); }
    // The stored value as read back, with the size the registry holds; empty when absent.
    std::wstring Value(DWORD* bytes = nullptr) {
        wchar_t data[MAX_PATH + 2] = {};
        DWORD size = sizeof data, type = 0;
        if (RegGetValueW(HKEY_CURRENT_USER, m_sub, L"Quillex", RRF_RT_ANY | RRF_NOEXPAND, &type, data, &size) !=
            ERROR_SUCCESS)
            return L"";
        EXPECT_EQ(type, DWORD(REG_SZ));
        if (bytes) *bytes = size;
        return data;
    }
    CString m_sub;
    AutoRunKey m_key{};
};

}  // namespace

TEST_F(AutoRunTest, BothRoadsWriteATerminatedPathAndRemoveIt) {
    const CString program = GetModulePath();
    DWORD bytes = 0;
    ASSERT_TRUE(RegisterAutoRunAt(m_key, program));
    EXPECT_EQ(Value(&bytes), std::wstring(program.GetString()));
    EXPECT_EQ(bytes, DWORD((program.GetLength() + 1) * 2));
    EXPECT_TRUE(UnregisterAutoRunAt(m_key));
    EXPECT_EQ(Value(), L"");
    EXPECT_FALSE(UnregisterAutoRunAt(m_key));

    SetAutoRunAt(m_key, program, true);
    EXPECT_EQ(Value(&bytes), std::wstring(program.GetString()));
    EXPECT_EQ(bytes, DWORD((program.GetLength() + 1) * 2));
    SetAutoRunAt(m_key, program, false);
    EXPECT_EQ(Value(), L"");

    // A program file that is not on disk changes nothing.
    SetAutoRunAt(m_key, L"C:\\no\\such\\Ferrant.exe", true);
    EXPECT_EQ(Value(), L"");
    AutoRunKey missing{HKEY_CURRENT_USER, L"Software\\FerrantTests\\NoSuchKey"};
    EXPECT_FALSE(RegisterAutoRunAt(missing, program));
}
