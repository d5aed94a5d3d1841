#include "client/app/WebLogin.h"

#include "common/LaunchText.h"

namespace weblogin {

namespace {

wchar_t Lower(wchar_t c) { return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c; }

bool SameLetters(const std::wstring& a, const std::wstring& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (Lower(a[i]) != Lower(b[i])) return false;
    }
    return true;
}

}  // namespace

bool HandsOverNothing(const std::wstring& text) {
    return text.empty() || text.find(L"url=&usr=&sid=") != std::wstring::npos;
}

bool CutLoginCheck(const std::wstring& text, LoginCheck& out) {
    out = LoginCheck();
    launch::LaunchCuts<wchar_t> cuts = launch::Cut(text);
    if (!cuts.whole) return false;
    out.host = cuts.host;
    out.user = cuts.user;
    // A '?' in the host ends the request URL there.
    const std::wstring url = L"http://" + cuts.host + kCheckPath + L"?" + cuts.tail;
    const size_t query = url.find(L'?');
    out.url = url.substr(0, query);
    out.body = url.substr(query + 1);
    return true;
}

bool IsTrustedHost(const std::wstring& host, const std::wstring& trusted) {
    if (host.empty()) return false;
    size_t start = 0;
    while (start <= trusted.size()) {
        size_t end = trusted.find(L';', start);
        if (end == std::wstring::npos) end = trusted.size();
        if (SameLetters(host, trusted.substr(start, end - start))) return true;
        start = end + 1;
    }
    return false;
}

bool NamesUser(const std::wstring& text, const std::wstring& current) {
    LoginCheck check;
    return !current.empty() && CutLoginCheck(text, check) && check.user == current;
}

bool Accepted(const std::wstring& answer) { return answer.find(L"result=1") != std::wstring::npos; }

std::wstring CheckHeaders(size_t bodyBytes) {
    return L"Content-Length: " + std::to_wstring(bodyBytes) +
           L"\r\nContent-Type: application/x-www-form-urlencoded\r\n";
}

}  // namespace weblogin
