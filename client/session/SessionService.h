// AuthSessionOutcome: the client of the session service's `authsession` operation (SOAP 1.1,
// RPC encoded, plain HTTP).
#pragma once

#include <string>

namespace session {

// Where the call goes: empty means the endpoint built into the program
// ("http://" + the configured host + ":14002"). Tests point it at loopback.
void SetSessionServiceEndpoint(const std::string& endpoint);
std::string SessionServiceEndpoint();

// Connect, send and receive time-outs in seconds (10 each unless changed).
void SetSessionServiceTimeouts(int connectSeconds, int sendSeconds, int receiveSeconds);

struct AuthSessionOutcome {
    int error = 0;           // the toolkit's error code; 0 when the exchange succeeded
    bool hasResult = false;  // the response carried "result"
    int result = 0;          // its value when present
    std::string fault;       // the printed fault when error is not 0
    // Only an answered "result" of 0 confirms the session.
    bool Confirmed() const { return error == 0 && hasResult && result == 0; }
};

// One call on a fresh context. userName is UTF-8; sessionKey and bindId are passed as given.
AuthSessionOutcome CallAuthSession(const std::string& userName, const std::string& sessionKey,
                                   const std::string& bindId);

}  // namespace session
