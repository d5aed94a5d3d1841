#include "framework/AfxSocketInit.h"

#include <cstdlib>

namespace {
void Cleanup() { ::WSACleanup(); }
}  // namespace

BOOL AfxSocketInit(WSADATA* data) {
    static WSADATA started;
    static const int rc = [] {
        int r = ::WSAStartup(MAKEWORD(2, 2), &started);
        if (r == 0) std::atexit(Cleanup);
        return r;
    }();
    if (data) *data = started;
    return rc == 0;
}
