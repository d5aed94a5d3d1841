// The stand-in of the provider's servers, run in-process by tests (and later by the demo): one
// state shared by every server, each server bound to the same loopback address.
#pragma once

#include <string>

#include "provider/ProviderState.h"
#include "provider/UploadServers.h"

namespace provider {

class Provider {
public:
    Provider() : m_control(m_state), m_data(m_state) {}
    ~Provider() { Stop(); }

    // Binds both upload-protocol servers to `address`; false (and nothing running) when either fails.
    bool Start(const std::string& address, uint16_t controlPort = protocol::kControlPort,
               uint16_t dataPort = protocol::kDataPort);
    void Stop();

    ProviderState& State() { return m_state; }
    // The servers themselves, e.g. to refuse connections for a while (CloseListener / Reopen).
    ControlServer& Control() { return m_control; }
    DataServer& Data() { return m_data; }
    const std::string& Address() const { return m_address; }
    uint16_t ControlPort() const { return m_control.Port(); }
    uint16_t DataPort() const { return m_data.Port(); }

private:
    ProviderState m_state;  // first: outlives the servers
    ControlServer m_control;
    DataServer m_data;
    std::string m_address;
};

}  // namespace provider
