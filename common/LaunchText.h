// LaunchText, LaunchCuts: the launch text handed from the web page through the service to the
// client, "url=" host "&usr=" user "&sid=" session, and the one set of cuts every reader of it
// takes. Portable: no Win32 here.
#pragma once

#include <string>

namespace launch {

// Marker in the request text after which the launch text begins.
constexpr const char kRequestMarker[] = "Ferrant?";
// Most bytes the client reads of it from the pipe.
constexpr std::size_t kPipeReadLimit = 255;

// Each key is found at its first occurrence. Texts that lack a key or hold the keys in another
// order give empty or partial parts and `whole` false.
template <class Char>
struct LaunchCuts {
    using Text = std::basic_string<Char>;
    Text host;  // after "url=" up to the character before "usr=" (the '&' between them)
    // After "usr=" up to the first '&' behind it; empty when the host holds a '&' (the login
    // check cuts at the first '&' of its URL, and the host comes first there) or none follows.
    Text user;
    Text session;  // after the first "&sid=" behind "usr=", to the end
    Text tail;     // from "usr=" to the end: "usr=" user "&sid=" session
    // "url=", then '&' and "usr=", then "&sid=".
    bool whole = false;
};

LaunchCuts<char> Cut(const std::string& text);
LaunchCuts<wchar_t> Cut(const std::wstring& text);

struct LaunchText {
    std::string host;
    std::string user;
    std::string session;

    // Nothing is handed over when every part is empty.
    bool Empty() const { return host.empty() && user.empty() && session.empty(); }
};

// Builds "url=...&usr=...&sid=..." unchanged (no percent coding).
std::string Format(const LaunchText& text);

// The three parts of Cut; a missing key gives an empty part.
LaunchText Parse(const std::string& text);

// Everything after the first "Ferrant?" in a request text, or empty when it is absent.
std::wstring FromRequest(const std::wstring& request);

// The client's command line: the program path, then a blank and the launch text when there is one.
std::wstring CommandLine(const std::wstring& programPath, const std::wstring& launchText);

}  // namespace launch
