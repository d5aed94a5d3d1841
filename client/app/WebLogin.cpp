#include "client/app/WebLogin.h"

namespace weblogin {

namespace {

const std::u16string kUrlKey = u"url=";
const std::u16string kUserKey = u"usr=";
const std::u16string kSessionKey = u"&sid=";

char16_t Lower(char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c; }

bool SameLetters(const std::u16string& a, const std::u16string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (Lower(a[i]) != Lower(b[i])) return false;
    }
    return true;
}

std::u16string Decimal(size_t value) {
    std::string digits = std::to_string(value);
    return std::u16string(digits.begin(), digits.end());
}

}  // namespace

bool HandsOverNothing(const std::u16string& text) {
    return text.empty() || text.find(u"url=&usr=&sid=") != std::u16string::npos;
}

bool CutLoginCheck(const std::u16string& text, LoginCheck& out) {
    out = LoginCheck();
    const size_t url = text.find(kUrlKey);
    const size_t user = text.find(kUserKey);
    if (url == std::u16string::npos || user == std::u16string::npos) return false;
    const size_t hostStart = url + kUrlKey.size();
    if (user < hostStart + 1 || text[user - 1] != u'&') return false;
    const size_t session = text.find(kSessionKey, user + kUserKey.size());
    if (session == std::u16string::npos) return false;

    out.host = text.substr(hostStart, user - 1 - hostStart);
    const size_t userStart = user + kUserKey.size();
    // The user ends at the first '&' after its key, which is at the latest the session's.
    out.user = text.substr(userStart, text.find(u'&', userStart) - userStart);
    out.url = u"http://" + out.host + kCheckPath;
    out.body = text.substr(user);
    return true;
}

bool IsTrustedHost(const std::u16string& host, const std::u16string& trusted) {
    if (host.empty()) return false;
    size_t start = 0;
    while (start <= trusted.size()) {
        size_t end = trusted.find(u';', start);
        if (end == std::u16string::npos) end = trusted.size();
        if (SameLetters(host, trusted.substr(start, end - start))) return true;
        start = end + 1;
    }
    return false;
}

bool NamesUser(const std::u16string& text, const std::u16string& current) {
    LoginCheck check;
    return !current.empty() && CutLoginCheck(text, check) && check.user == current;
}

bool Accepted(const std::u16string& answer) { return answer.find(u"result=1") != std::u16string::npos; }

std::u16string CheckHeaders(size_t bodyBytes) {
    return u"Content-Length: " + Decimal(bodyBytes) + u"\r\nContent-Type: application/x-www-form-urlencoded\r\n";
}

}  // namespace weblogin
