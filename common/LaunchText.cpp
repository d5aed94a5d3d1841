#include "common/LaunchText.h"

namespace launch {

namespace {
const char kUrl[] = "url=";
const char kUsr[] = "&usr=";
const char kSid[] = "&sid=";

// The value of key up to the start of next (or the end when next is null or absent).
std::string Cut(const std::string& text, const char* key, const char* next) {
    std::size_t at = text.find(key);
    if (at == std::string::npos) return std::string();
    at += std::char_traits<char>::length(key);
    std::size_t end = next ? text.find(next, at) : std::string::npos;
    return text.substr(at, end == std::string::npos ? std::string::npos : end - at);
}
}  // namespace

std::string Format(const LaunchText& text) { return kUrl + text.host + kUsr + text.user + kSid + text.session; }

LaunchText Parse(const std::string& text) {
    LaunchText out;
    out.host = Cut(text, kUrl, kUsr);
    out.user = Cut(text, kUsr, kSid);
    out.session = Cut(text, kSid, nullptr);
    return out;
}

std::string FromRequest(const std::string& request) {
    std::size_t at = request.find(kRequestMarker);
    if (at == std::string::npos) return std::string();
    return request.substr(at + sizeof(kRequestMarker) - 1);
}

std::u16string CommandLine(const std::u16string& programPath, const std::u16string& launchText) {
    if (launchText.empty()) return programPath;
    return programPath + u" " + launchText;
}

}  // namespace launch
