#include "framework/CFileException.h"

#include <gtest/gtest.h>

TEST(CFileException, CausesFollowTheFrameworkNumbering) {
    EXPECT_EQ(0, CFileException::none);
    EXPECT_EQ(1, CFileException::genericException);
    EXPECT_EQ(2, CFileException::fileNotFound);
    EXPECT_EQ(11, CFileException::sharingViolation);
    EXPECT_EQ(14, CFileException::endOfFile);
    struct Case {
        LONG os;
        int cause;
    } cases[] = {
        {NO_ERROR, CFileException::none},
        {ERROR_FILE_NOT_FOUND, CFileException::fileNotFound},
        {ERROR_PATH_NOT_FOUND, CFileException::badPath},
        {ERROR_TOO_MANY_OPEN_FILES, CFileException::tooManyOpenFiles},
        {ERROR_ACCESS_DENIED, CFileException::accessDenied},
        {ERROR_INVALID_HANDLE, CFileException::invalidFile},
        {ERROR_CURRENT_DIRECTORY, CFileException::removeCurrentDir},
        {ERROR_CANNOT_MAKE, CFileException::directoryFull},
        {ERROR_NEGATIVE_SEEK, CFileException::badSeek},
        {ERROR_CRC, CFileException::hardIO},
        {ERROR_SHARING_VIOLATION, CFileException::sharingViolation},
        {ERROR_LOCK_VIOLATION, CFileException::lockViolation},
        {ERROR_DISK_FULL, CFileException::diskFull},
        {ERROR_HANDLE_EOF, CFileException::endOfFile},
        {ERROR_NOT_ENOUGH_MEMORY, CFileException::genericException},
    };
    for (const auto& c : cases) EXPECT_EQ(c.cause, CFileException::OsErrorToException(c.os)) << c.os;
}

TEST(CFileException, MessagesNameTheFileAndFitTheBuffer) {
    CFileException e(CFileException::sharingViolation, ERROR_SHARING_VIOLATION, L"C:\\资料.bin");
    CString text = e.GetErrorMessage();
    EXPECT_NE(-1, text.Find(L"C:\\资料.bin")) << CStringA(text).GetString();
    EXPECT_NE(-1, text.Find(L"sharing"));

    wchar_t small[8];
    UINT help = 99;
    EXPECT_TRUE(e.GetErrorMessage(small, 8, &help));
    EXPECT_EQ(0u, help);
    EXPECT_EQ(7u, wcslen(small));
    EXPECT_EQ(text.Left(7), CString(small));

    EXPECT_FALSE(CFileException(99).GetErrorMessage().IsEmpty());  // unknown cause: generic text
    EXPECT_FALSE(e.GetErrorMessage(nullptr, 8));
}

TEST(CException, ThrownByPointerAndDeletedByTheCatcher) {
    int caught = 0;
    try {
        CFileException::ThrowOsError(ERROR_LOCK_VIOLATION, L"f");
    } catch (CException* e) {
        CFileException* fe = dynamic_cast<CFileException*>(e);
        ASSERT_NE(nullptr, fe);
        EXPECT_EQ(CFileException::lockViolation, fe->m_cause);
        EXPECT_EQ(ERROR_LOCK_VIOLATION, fe->m_lOsError);
        e->Delete();
        ++caught;
    }
    try {
        AfxThrowMemoryException();
    } catch (CMemoryException* e) {
        EXPECT_FALSE(e->GetErrorMessage().IsEmpty());
        e->Delete();
        ++caught;
    }
    EXPECT_EQ(2, caught);
    CFileException onStack(CFileException::none, 0, nullptr);
    onStack.m_bAutoDelete = FALSE;
    onStack.Delete();  // a stack object is left alone
    EXPECT_EQ(CFileException::none, onStack.m_cause);
}
