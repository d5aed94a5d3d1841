#include "common/LaunchText.h"

namespace launch {

namespace {
const char kUrl[] = "url=";
const char kUsr[] = "&usr=";
const char kSid[] = "&sid=";

// The keys are ASCII: the same code units in every width.
template <class Char>
std::basic_string<Char> Key(const char* ascii) {
    std::basic_string<Char> key;
    for (; *ascii; ++ascii) key += static_cast<Char>(*ascii);
    return key;
}

template <class Char>
LaunchCuts<Char> CutAny(const std::basic_string<Char>& text) {
    using Text = std::basic_string<Char>;
    const Text url = Key<Char>(kUrl), usr = Key<Char>(kUsr + 1), sid = Key<Char>(kSid);
    LaunchCuts<Char> out;
    const std::size_t u = text.find(usr);
    if (u == Text::npos) return out;
    out.tail = text.substr(u);
    const std::size_t a = text.find(url);
    const bool hostFirst = a != Text::npos && u >= a + url.size() + 1;
    if (hostFirst) out.host = text.substr(a + url.size(), u - 1 - (a + url.size()));
    const std::size_t amp = out.tail.find(static_cast<Char>('&'), usr.size());
    if (out.host.find(static_cast<Char>('&')) == Text::npos && amp != Text::npos)
        out.user = out.tail.substr(usr.size(), amp - usr.size());
    const std::size_t s = out.tail.find(sid, usr.size());
    if (s != Text::npos) out.session = out.tail.substr(s + sid.size());
    out.whole = hostFirst && text[u - 1] == static_cast<Char>('&') && s != Text::npos;
    return out;
}

}  // namespace

LaunchCuts<char> Cut(const std::string& text) { return CutAny(text); }
LaunchCuts<wchar_t> Cut(const std::wstring& text) { return CutAny(text); }

std::string Format(const LaunchText& text) { return kUrl + text.host + kUsr + text.user + kSid + text.session; }

LaunchText Parse(const std::string& text) {
    LaunchCuts<char> cuts = Cut(text);
    return LaunchText{cuts.host, cuts.user, cuts.session};
}

std::wstring FromRequest(const std::wstring& request) {
    const std::wstring marker = Key<wchar_t>(kRequestMarker);
    std::size_t at = request.find(marker);
    if (at == std::wstring::npos) return std::wstring();
    return request.substr(at + marker.size());
}

std::wstring CommandLine(const std::wstring& programPath, const std::wstring& launchText) {
    if (launchText.empty()) return programPath;
    return programPath + L' ' + launchText;
}

}  // namespace launch
