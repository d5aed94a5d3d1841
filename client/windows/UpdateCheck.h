// CFileVersionInfo, SplitString, CompareVersions, CheckForUpdate and UpdateFetch: the client's own
// product version against the newest on the update server, and the offer to download it.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>

#include "framework/CArray.h"
#include "framework/CString.h"

class CWnd;

class CFileVersionInfo {
public:
    CFileVersionInfo() = default;
    ~CFileVersionInfo() { Free(); }
    CFileVersionInfo(const CFileVersionInfo&) = delete;
    CFileVersionInfo& operator=(const CFileVersionInfo&) = delete;

    void Free();
    // The version resource of the file and its first translation; false when it has none.
    bool Load(const CString& path);
    // A value of the string table of `translation` (0: the loaded one); empty when missing.
    CString QueryString(const CString& name, DWORD translation = 0) const;
    CString GetProductVersion() const { return QueryString(L"ProductVersion"); }
    // Language in the high half, code page in the low half ("%08lx": "080404b0").
    DWORD GetTranslation() const { return m_dwTranslation; }

private:
    std::unique_ptr<BYTE[]> m_pData;
    DWORD m_dwTranslation = 0;
};

// Appends the pieces of `text` between the separators to `array` (an empty piece where two
// separators meet or the text ends with one); the array's element count afterwards.
int SplitString(const CString& text, const CString& separator, CStringArray& array);
// 1: first is newer, 2: first is older, 3: equal, 0: either is not four parts. The second may
// be written with commas.
int CompareVersions(const CString& first, const CString& second);

// The update server, "host" or "host:port": the build's value unless set otherwise.
CString UpdateHost();
void SetUpdateHost(const CString& host);

// Opens the setup download in the browser; true when the browser started. Empty: the shell's
// own "open" of the address. Tests put a recorder here.
using DownloadOpener = std::function<bool(const CString& url)>;
DownloadOpener& SetupOpener();

// The version the update server names at `host`: its version file with every "version=" taken
// out; empty when it does not answer. Blocks for the request's time-outs and touches no window.
CString FetchServerVersion(const CString& host);
// Offers the download when `serverVersion` is newer than this program's; otherwise says the
// version is the newest, unless `silent` is set, which it then clears. Accepting the download
// ends the client once the browser has started.
void ShowUpdateResult(CWnd* owner, const CString& host, const CString& serverVersion, BOOL& silent);
// Both on the caller's thread.
void CheckForUpdate(CWnd* owner, BOOL& silent);

// A fetch of the server's version on a thread of its own, so that a silent update server holds
// up no window. Its answer is posted to a window; dropped once abandoned (or destroyed).
class UpdateFetch {
public:
    UpdateFetch() = default;
    ~UpdateFetch() { Abandon(); }
    UpdateFetch(const UpdateFetch&) = delete;
    UpdateFetch& operator=(const UpdateFetch&) = delete;

    // Asks the update server of the moment; `message` reaches `notify` when the answer (or its
    // failure) is in. False when no thread could start.
    bool Start(HWND notify, UINT message);
    bool Pending() const { return m_state != nullptr; }
    // The answer once the message came: the host asked and the version it named. False when no
    // fetch of this object is pending or it has not ended.
    bool Take(CString& host, CString& version);
    void Abandon();

private:
    struct State;
    static UINT __cdecl Run(LPVOID param);
    std::shared_ptr<State> m_state;
};
