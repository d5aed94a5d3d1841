#include "framework/CFile.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

void WriteFile(const CString& path, const char* text) {
    CFile f(path, CFile::modeCreate | CFile::modeWrite);
    f.Write(text, static_cast<UINT>(strlen(text)));
    f.Close();
}

// Runs op, which must throw CFileException*, and returns it (deleted by the caller's holder).
template <typename Op>
std::unique_ptr<CFileException, void (*)(CFileException*)> Thrown(Op op) {
    CFileException* caught = nullptr;
    try {
        op();
    } catch (CFileException* e) {
        caught = e;
    }
    return {caught, [](CFileException* e) {
                if (e) e->Delete();
            }};
}

}  // namespace

TEST(CFile, OpenModes) {
    TempDir dir;
    CString existing = dir.File(L"data.bin");
    WriteFile(existing, "0123456789");
    struct Case {
        const wchar_t* name;
        UINT flags;
        BOOL opened;
        int cause;
        LONG osError;
        ULONGLONG lengthAfter;
    } cases[] = {
        {L"data.bin", CFile::modeRead, TRUE, CFileException::none, 0, 10},
        {L"data.bin", CFile::modeCreate | CFile::modeNoTruncate | CFile::modeReadWrite, TRUE, CFileException::none, 0,
         10},
        {L"missing.bin", CFile::modeRead, FALSE, CFileException::fileNotFound, ERROR_FILE_NOT_FOUND, 0},
        {L"no\\such\\dir.bin", CFile::modeRead, FALSE, CFileException::badPath, ERROR_PATH_NOT_FOUND, 0},
        {L"new.bin", CFile::modeCreate | CFile::modeWrite, TRUE, CFileException::none, 0, 0},
        {L"data.bin", CFile::modeCreate | CFile::modeWrite, TRUE, CFileException::none, 0, 0},  // truncates
        {L"data.bin", CFile::modeRead | 3, FALSE, CFileException::genericException, 0, 0},      // no such mode
        {L"data.bin", CFile::modeRead | 0x50, FALSE, CFileException::genericException, 0, 0},   // no such sharing
    };
    for (const auto& c : cases) {
        CFile f;
        CFileException error;
        EXPECT_EQ(c.opened, f.Open(dir.File(c.name), c.flags, &error)) << c.name << " " << c.flags;
        EXPECT_EQ(c.cause, error.m_cause) << c.name << " " << c.flags;
        EXPECT_EQ(c.osError, error.m_lOsError) << c.name << " " << c.flags;
        if (c.opened) {
            EXPECT_EQ(c.lengthAfter, f.GetLength()) << c.name << " " << c.flags;
        }
    }
    CFile noErrorObject;
    EXPECT_FALSE(noErrorObject.Open(dir.File(L"missing.bin"), CFile::modeRead));
    EXPECT_EQ(CFile::hFileNull, noErrorObject.m_hFile);
}

TEST(CFile, ShareModes) {
    TempDir dir;
    CString path = dir.File(L"shared.bin");
    WriteFile(path, "abc");
    struct Case {
        UINT first, second;
        BOOL secondOpens;
    } cases[] = {
        {CFile::modeRead | CFile::shareExclusive, CFile::modeRead | CFile::shareDenyNone, FALSE},
        {CFile::modeRead | CFile::shareCompat, CFile::modeRead | CFile::shareDenyNone, FALSE},
        {CFile::modeRead | CFile::shareDenyNone, CFile::modeRead | CFile::shareExclusive, FALSE},
        {CFile::modeRead | CFile::shareDenyWrite, CFile::modeRead | CFile::shareDenyWrite, TRUE},
        {CFile::modeRead | CFile::shareDenyWrite, CFile::modeWrite | CFile::shareDenyNone, FALSE},
        {CFile::modeRead | CFile::shareDenyNone, CFile::modeReadWrite | CFile::shareDenyNone, TRUE},
        {CFile::modeWrite | CFile::shareDenyRead, CFile::modeRead | CFile::shareDenyNone, FALSE},
        {CFile::modeWrite | CFile::shareDenyRead, CFile::modeWrite | CFile::shareDenyRead, TRUE},
    };
    for (const auto& c : cases) {
        CFile first;
        ASSERT_TRUE(first.Open(path, c.first));
        CFile second;
        CFileException error;
        EXPECT_EQ(c.secondOpens, second.Open(path, c.second, &error)) << c.first << " then " << c.second;
        if (!c.secondOpens) {
            EXPECT_EQ(CFileException::sharingViolation, error.m_cause);
            EXPECT_EQ(ERROR_SHARING_VIOLATION, error.m_lOsError);
        }
    }
}

TEST(CFile, SeeksAndLengthsBeyondFourGigabytes) {
    TempDir dir;
    CFile f(dir.File(L"big.bin"), CFile::modeCreate | CFile::modeReadWrite);
    const ULONGLONG beyond = 5ULL << 30;
    EXPECT_EQ(beyond, f.Seek(static_cast<LONGLONG>(beyond), CFile::begin));
    f.Write("Z", 1);
    EXPECT_EQ(beyond + 1, f.GetLength());
    EXPECT_EQ(beyond + 1, f.GetPosition());
    EXPECT_EQ(beyond, f.Seek(-1, CFile::end));
    char c = 0;
    EXPECT_EQ(1u, f.Read(&c, 1));
    EXPECT_EQ('Z', c);
    EXPECT_EQ(0u, f.Read(&c, 1));  // at the end
    EXPECT_EQ(beyond - 10, f.Seek(-11, CFile::current));
    f.SetLength(3);
    EXPECT_EQ(3u, f.GetLength());
    EXPECT_EQ(0u, f.SeekToEnd() - 3);
}

TEST(CFile, FailuresThrowWithCauseAndFileName) {
    TempDir dir;
    CString path = dir.File(L"x.bin");
    WriteFile(path, "hello");

    auto missing = Thrown([&] { CFile f(dir.File(L"gone.bin"), CFile::modeRead); });
    ASSERT_TRUE(missing);
    EXPECT_EQ(CFileException::fileNotFound, missing->m_cause);
    EXPECT_EQ(dir.File(L"gone.bin"), missing->m_strFileName);

    CFile f(path, CFile::modeRead | CFile::shareDenyNone);
    auto beforeStart = Thrown([&] { f.Seek(-1, CFile::begin); });
    ASSERT_TRUE(beforeStart);
    EXPECT_EQ(CFileException::badSeek, beforeStart->m_cause);
    EXPECT_EQ(ERROR_NEGATIVE_SEEK, beforeStart->m_lOsError);

    auto writeReadOnly = Thrown([&] { f.Write("x", 1); });
    ASSERT_TRUE(writeReadOnly);
    EXPECT_EQ(CFileException::accessDenied, writeReadOnly->m_cause);

    f.Close();
    char buf[4];
    auto closed = Thrown([&] { f.Read(buf, 4); });
    ASSERT_TRUE(closed);
    EXPECT_EQ(CFileException::invalidFile, closed->m_cause);
    EXPECT_EQ(ERROR_INVALID_HANDLE, closed->m_lOsError);
}

TEST(CFile, RemoveRenameAndNames) {
    TempDir dir;
    CString a = dir.File(L"report 2024.txt"), b = dir.File(L"b.txt");
    WriteFile(a, "1");
    {
        CFile f(a, CFile::modeRead);
        EXPECT_EQ(CString(L"report 2024.txt"), f.GetFileName());
        EXPECT_EQ(a, f.GetFilePath());
    }
    CFile::Rename(a, b);
    CFile f;
    EXPECT_FALSE(f.Open(a, CFile::modeRead));
    CFile::Remove(b);
    auto again = Thrown([&] { CFile::Remove(b); });
    ASSERT_TRUE(again);
    EXPECT_EQ(CFileException::fileNotFound, again->m_cause);
}
