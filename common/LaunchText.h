// The launch text handed from the web page through the service to the client:
// "url=" host "&usr=" user "&sid=" session. Portable: no Win32 here.
#pragma once

#include <string>

namespace launch {

// Marker in the request text after which the launch text begins.
constexpr const char kRequestMarker[] = "Ferrant?";
// Most bytes the client reads of it from the pipe.
constexpr std::size_t kPipeReadLimit = 255;

struct LaunchText {
    std::string host;
    std::string user;
    std::string session;

    // Nothing is handed over when every part is empty.
    bool Empty() const { return host.empty() && user.empty() && session.empty(); }
};

// Builds "url=...&usr=...&sid=..." unchanged (no percent coding).
std::string Format(const LaunchText& text);

// Cuts the three parts out of a launch text; a missing key gives an empty part.
LaunchText Parse(const std::string& text);

// Everything after the first "Ferrant?" in a request text, or empty when it is absent.
std::string FromRequest(const std::string& request);

// The client's command line: the program path, then a blank and the launch text when there is one.
std::u16string CommandLine(const std::u16string& programPath, const std::u16string& launchText);

}  // namespace launch
