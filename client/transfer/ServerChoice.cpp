#include <cstring>
#include <string>

#include "client/transfer/EngineLog.h"
#include "client/transfer/IcmpPacket.h"
#include "client/transfer/CIcmpPing.h"
#include "client/transfer/Protocol.h"
#include "framework/CString.h"

namespace {

int PingWithIcmp(LPCWSTR host, PingResult* result, DWORD timeoutMs, BYTE dataSize, const StopTest& stop) {
    CIcmpPing ping;
    return ping.Ping2(host, result, timeoutMs, dataSize, stop);
}

}  // namespace

ServerPing& ServerPinger() {
    static ServerPing s_ping = PingWithIcmp;
    return s_ping;
}

int ChooseTheBestUploadServer(const protocol::ServerRecord* records, int count, const StopTest& stop) {
    if (!records || count <= 0) return 0;
    const size_t chosen = icmp::ChooseByPing(
        static_cast<size_t>(count), [&](size_t i) { return records[i].load; },
        [&](size_t i, uint32_t* roundTrip) {
            if (stop && stop()) return false;
            // The host field may lack its NUL: never read past it.
            const char* field = records[i].host;
            const std::string host(field, strnlen(field, sizeof records[i].host));
            EngineLogA("into p2.Ping2");
            EngineLogA("%s", host.c_str());
            PingResult result = {};
            if (!ServerPinger()(CString(host.c_str()), &result, 5000, 32, stop)) return false;
            EngineLogA("exe p2.Ping2");
            *roundTrip = result.roundTrip;
            return true;
        });
    return static_cast<int>(chosen);
}
