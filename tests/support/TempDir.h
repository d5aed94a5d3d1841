// TempDir, TempFile: a fresh folder, or a file of known bytes, under the temporary folder; both
// go (the folder with its files) at the end of the test.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <vector>

#include "framework/CString.h"

// A path under the temporary folder that no other test takes: the process id, the tick count
// (a folder left by an earlier process of the same id is not reused) and a counter.
inline CString TempPath(const wchar_t* prefix, const wchar_t* suffix = L"") {
    static std::atomic<unsigned long> s_counter{0};
    wchar_t base[MAX_PATH];
    ::GetTempPathW(MAX_PATH, base);
    CString path;
    path.Format(L"%s%s-%lu-%lu-%lu%s", base, prefix, ::GetCurrentProcessId(), ::GetTickCount(), s_counter++, suffix);
    return path;
}

class TempDir {
public:
    TempDir() : m_strPath(TempPath(L"fwtest")) { ::CreateDirectoryW(m_strPath, nullptr); }
    ~TempDir() {
        WIN32_FIND_DATAW fd;
        HANDLE h = ::FindFirstFileW(m_strPath + L"\\*", &fd);
        if (h != INVALID_HANDLE_VALUE) {
            do {
                ::DeleteFileW(m_strPath + L"\\" + fd.cFileName);
            } while (::FindNextFileW(h, &fd));
            ::FindClose(h);
        }
        ::RemoveDirectoryW(m_strPath);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const CString& Path() const { return m_strPath; }
    CString File(const wchar_t* name) const { return m_strPath + L"\\" + name; }

private:
    CString m_strPath;
};

// A fresh folder made the working folder for the object's life: where windows that keep
// ".\Setting.ini" write it. The previous working folder comes back at the end.
class TempWorkingFolder {
public:
    TempWorkingFolder() {
        wchar_t previous[MAX_PATH] = {};
        ::GetCurrentDirectoryW(MAX_PATH, previous);
        m_strPrevious = previous;
        ::SetCurrentDirectoryW(m_dir.Path());
    }
    ~TempWorkingFolder() { ::SetCurrentDirectoryW(m_strPrevious); }
    TempWorkingFolder(const TempWorkingFolder&) = delete;
    TempWorkingFolder& operator=(const TempWorkingFolder&) = delete;
    const TempDir& Dir() const { return m_dir; }

private:
    TempDir m_dir;
    CString m_strPrevious;
};

// `size` pseudo-random bytes, the same for the same size and seed.
struct TempFile {
    explicit TempFile(size_t size, const wchar_t* tag = L"ferrant", uint32_t seed = 1)
        : path(TempPath(tag, L".bin")), bytes(size) {
        uint32_t x = static_cast<uint32_t>(size) * 2654435761u + seed;
        for (auto& b : bytes) b = static_cast<uint8_t>((x = x * 1103515245u + 12345u) >> 24);
        HANDLE h = ::CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        DWORD written = 0;
        if (size) ::WriteFile(h, bytes.data(), static_cast<DWORD>(size), &written, nullptr);
        ::CloseHandle(h);
    }
    ~TempFile() { ::DeleteFileW(path); }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    CString path;
    std::vector<uint8_t> bytes;
};
