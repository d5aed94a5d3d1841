#include "client/session/SessionService.h"

#include <cstdio>
#include <mutex>
#include <sstream>
#include <vector>

#include "soapH.h"
#include "qxd.nsmap"

namespace session {
namespace {

std::mutex g_lock;
std::string g_endpoint;
int g_connectTimeout = 10, g_sendTimeout = 10, g_receiveTimeout = 10;

std::string PrintFault(struct soap* soap) {
    std::ostringstream text;
    soap_stream_fault(soap, text);
    return text.str();
}

}  // namespace

void SetSessionServiceEndpoint(const std::string& endpoint) {
    std::lock_guard<std::mutex> hold(g_lock);
    g_endpoint = endpoint;
}

std::string SessionServiceEndpoint() {
    std::lock_guard<std::mutex> hold(g_lock);
    return g_endpoint;
}

void SetSessionServiceTimeouts(int connectSeconds, int sendSeconds, int receiveSeconds) {
    std::lock_guard<std::mutex> hold(g_lock);
    g_connectTimeout = connectSeconds;
    g_sendTimeout = sendSeconds;
    g_receiveTimeout = receiveSeconds;
}

AuthSessionOutcome CallAuthSession(const std::string& userName, const std::string& sessionKey,
                                   const std::string& bindId) {
    std::string endpoint;
    int connectTimeout, sendTimeout, receiveTimeout;
    {
        std::lock_guard<std::mutex> hold(g_lock);
        endpoint = g_endpoint;
        connectTimeout = g_connectTimeout;
        sendTimeout = g_sendTimeout;
        receiveTimeout = g_receiveTimeout;
    }
    // The generated call takes writable texts; hand it copies.
    std::vector<char> user(userName.begin(), userName.end()), key(sessionKey.begin(), sessionKey.end()),
        bind(bindId.begin(), bindId.end());
    user.push_back(0);
    key.push_back(0);
    bind.push_back(0);

    AuthSessionOutcome outcome;
    struct soap soap;
    // Our texts are UTF-8 already: without this mode they would be encoded a second time.
    soap_init1(&soap, SOAP_C_UTFSTRING);
    soap_set_namespaces(&soap, namespaces);
    soap.encodingStyle = "http://schemas.xmlsoap.org/soap/encoding/";
    // Without time-outs a silent service would hold the caller for ever.
    soap.connect_timeout = connectTimeout;
    soap.send_timeout = sendTimeout;
    soap.recv_timeout = receiveTimeout;

    ns2__authsessionResponse response;
    response.result = nullptr;
    outcome.error = soap_call_ns2__authsession(&soap, endpoint.empty() ? nullptr : endpoint.c_str(), "", user.data(),
                                               key.data(), bind.data(), response);
    if (outcome.error != SOAP_OK) {
        outcome.fault = PrintFault(&soap);
        std::fputs(outcome.fault.c_str(), stderr);
    } else if (response.result) {
        outcome.hasResult = true;
        outcome.result = *response.result;
    }
    soap_destroy(&soap);
    soap_end(&soap);
    soap_done(&soap);
    return outcome;
}

}  // namespace session
