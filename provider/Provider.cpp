#include "provider/Provider.h"

namespace provider {

bool Provider::Start(const std::string& address, uint16_t controlPort, uint16_t dataPort) {
    m_address = address;
    if (!m_control.Start(address, controlPort)) return false;
    if (!m_data.Start(address, dataPort)) {
        m_control.Stop();
        return false;
    }
    return true;
}

void Provider::Stop() {
    m_control.Stop();
    m_data.Stop();
}

}  // namespace provider
