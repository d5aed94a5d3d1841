#include "client/windows/UpdateCheck.h"

#include <shellapi.h>

#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "client/app/WebRequestClient.h"
#include "client/windows/CTips.h"
#include "client/windows/VersionText.h"
#include "framework/CWinThread.h"

// The update server is a deployment value, given by the build.
#ifndef FERRANT_UPDATE_HOST
#error "FERRANT_UPDATE_HOST names the update server"
#endif

namespace {

CString& HostOverride() {
    static CString s_strHost;
    return s_strHost;
}

bool ShellOpen(const CString& url) {
    HINSTANCE result = ShellExecuteW(nullptr, L"open", url, nullptr, nullptr, SW_SHOW);
    return reinterpret_cast<INT_PTR>(result) > 32;
}

void ShowTips(CWnd* owner, const CString& text, const CString& ok, const CString& cancel) {
    CTips box(owner);
    box.SetTitle(L"版本更新");
    box.SetText(text);
    box.SetOkText(ok);
    box.SetCancelText(cancel);
    box.DoModal();
}

}  // namespace

void CFileVersionInfo::Free() {
    m_pData.reset();
    m_dwTranslation = 0;
}

bool CFileVersionInfo::Load(const CString& path) {
    Free();
    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeW(path, &handle);
    if (size == 0) return false;
    m_pData.reset(new (std::nothrow) BYTE[size]);
    if (!m_pData) return false;
    void* value = nullptr;
    UINT length = 0;
    if (!GetFileVersionInfoW(path, 0, size, m_pData.get()) ||
        !VerQueryValueW(m_pData.get(), L"\\VarFileInfo\\Translation", &value, &length) || length < sizeof(DWORD)) {
        Free();
        return false;
    }
    DWORD first = *static_cast<const DWORD*>(value);
    m_dwTranslation = MAKELONG(HIWORD(first), LOWORD(first));
    return true;
}

CString CFileVersionInfo::QueryString(const CString& name, DWORD translation) const {
    if (!m_pData) return CString();
    CString block;
    block.Format(L"\\StringFileInfo\\%08lx\\%s", translation ? translation : m_dwTranslation, name.GetString());
    void* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(m_pData.get(), block, &value, &length) || !value || length == 0) return CString();
    return CString(static_cast<const wchar_t*>(value));
}

int SplitString(const CString& text, const CString& separator, CStringArray& array) {
    std::vector<std::wstring> pieces;
    versiontext::Split(std::wstring(text.GetString(), text.GetLength()),
                       std::wstring(separator.GetString(), separator.GetLength()), pieces);
    for (const std::wstring& piece : pieces) array.Add(CString(piece.c_str()));
    return static_cast<int>(array.GetSize());
}

int CompareVersions(const CString& first, const CString& second) {
    return versiontext::Compare(std::wstring(first.GetString(), first.GetLength()),
                                std::wstring(second.GetString(), second.GetLength()));
}

CString UpdateHost() { return HostOverride().IsEmpty() ? CString(FERRANT_UPDATE_HOST) : HostOverride(); }

void SetUpdateHost(const CString& host) { HostOverride() = host; }

DownloadOpener& SetupOpener() {
    static DownloadOpener s_opener;
    return s_opener;
}

CString FetchServerVersion(const CString& host) {
    WebRequestClient client(L"http://" + host + L"/Quillex/version.txt");
    client.SetHeaders(L"Content-Length: 0\r\nContent-Type: application/x-www-form-urlencoded\r\n");
    client.SendHttpRequest(L"GET", false);
    CString serverVersion = client.GetResponseBody();
    serverVersion.Replace(L"version=", L"");
    return serverVersion;
}

void CheckForUpdate(CWnd* owner, BOOL& silent) {
    const CString host = UpdateHost();
    ShowUpdateResult(owner, host, FetchServerVersion(host), silent);
}

void ShowUpdateResult(CWnd* owner, const CString& host, const CString& serverVersion, BOOL& silent) {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    CFileVersionInfo info;
    CString ownVersion;
    if (info.Load(path)) ownVersion = info.GetProductVersion();
    info.Free();

    if (CompareVersions(serverVersion, ownVersion) == 1) {
        CTips offer(owner);
        offer.SetTitle(L"版本更新");
        offer.SetText(L"Tebrin上传助手有新版本可用，请立即下载安装。更新期间软件将无法使用。");
        offer.SetOkText(L"立即下载");
        offer.SetCancelText(L"下次再说");
        if (offer.DoModal() != IDOK) return;
        CString url = L"http://" + host + L"/QuillexSetup.exe";
        bool opened = SetupOpener() ? SetupOpener()(url) : ShellOpen(url);
        // Ending without a browser would leave the user with neither the old client nor the new.
        if (opened) {
            PostQuitMessage(0);
            return;
        }
        ShowTips(owner, L"无法打开浏览器，请手动下载新版本：\r\n" + url, L"确定", L"取消");
        return;
    }
    if (silent) {
        silent = FALSE;
        return;
    }
    ShowTips(owner, L"您的版本已是最新，没有新版本可用。", L"确定", L"取消");
}

struct UpdateFetch::State {
    std::mutex lock;
    HWND notify = nullptr;
    UINT message = 0;
    CString host;
    CString version;
    bool done = false;
    bool abandoned = false;
};

UINT __cdecl UpdateFetch::Run(LPVOID param) {
    std::unique_ptr<std::shared_ptr<UpdateFetch::State>> owned(
        static_cast<std::shared_ptr<UpdateFetch::State>*>(param));
    UpdateFetch::State& state = **owned;
    const CString version = FetchServerVersion(state.host);
    std::lock_guard<std::mutex> hold(state.lock);
    state.version = version;
    state.done = true;
    // Under the lock: once Abandon returns, nothing reaches the window any more.
    if (!state.abandoned) ::PostMessageW(state.notify, state.message, 0, 0);
    return 0;
}

bool UpdateFetch::Start(HWND notify, UINT message) {
    Abandon();
    auto state = std::make_shared<State>();
    state->notify = notify;
    state->message = message;
    state->host = UpdateHost();
    auto* param = new std::shared_ptr<State>(state);
    if (!AfxBeginThread(&UpdateFetch::Run, param)) {
        delete param;
        return false;
    }
    m_state = std::move(state);
    return true;
}

bool UpdateFetch::Take(CString& host, CString& version) {
    if (!m_state) return false;
    {
        std::lock_guard<std::mutex> hold(m_state->lock);
        if (!m_state->done) return false;
        host = m_state->host;
        version = m_state->version;
    }
    m_state.reset();
    return true;
}

void UpdateFetch::Abandon() {
    if (!m_state) return;
    {
        std::lock_guard<std::mutex> hold(m_state->lock);
        m_state->abandoned = true;
    }
    m_state.reset();
}
