#include "client/windows/NetworkState.h"

#include <windows.h>

namespace {

// Both live in libraries MinGW does not ship import libraries for (or that few programs load):
// found at run time.
typedef BOOL(WINAPI* IsNetworkAliveFn)(LPDWORD);
typedef BOOL(WINAPI* InternetGetConnectedStateFn)(LPDWORD, DWORD);

template <typename Fn>
Fn Lookup(const wchar_t* library, const char* name) {
    HMODULE module = GetModuleHandleW(library);
    if (!module) module = LoadLibraryW(library);
    return module ? reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name))) : nullptr;
}

}  // namespace

NetworkProbe& ConnectionProbe() {
    static NetworkProbe s_probe;
    return s_probe;
}

bool NetworkConnected() {
    if (ConnectionProbe()) return ConnectionProbe()();
    DWORD flags = 0;
    if (auto alive = Lookup<IsNetworkAliveFn>(L"sensapi.dll", "IsNetworkAlive")) {
        if (!alive(&flags)) return false;
    }
    flags = 0;
    if (auto connected = Lookup<InternetGetConnectedStateFn>(L"wininet.dll", "InternetGetConnectedState")) {
        if (!connected(&flags, 0)) return false;
    }
    return true;
}
