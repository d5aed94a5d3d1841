// CIcmpPing, PingResult: ICMP echo over a raw socket, and the choice of an upload server by
// ping and load.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <cstdint>

#include "client/transfer/SocketFunctions.h"

#pragma pack(push, 1)
struct PingResult {
    uint32_t address;    // IPv4 address of the host that replied, network order as received
    uint32_t roundTrip;  // milliseconds
};
#pragma pack(pop)
static_assert(sizeof(PingResult) == 8, "PingResult is 8 bytes");

class CIcmpPing {
public:
    CIcmpPing() = default;
    ~CIcmpPing();  // only the program's global instance cleans WinSock up

    // Pings host (dotted IPv4 text or a name) with dataSize filler bytes. 1 with result filled,
    // or 0 with the thread's last error: 10055 data size too small, 10060 no reply in time, or
    // the failing WinSock call's error. A stop test that turns true ends the wait for the reply
    // within a few tens of milliseconds (0, last error 10004).
    int Ping2(LPCWSTR host, PingResult* result, DWORD timeoutMs, BYTE dataSize, const StopTest& stop = StopTest());

    static BOOL Startup();
    static void FillEchoRequest(char* buffer, int size);
    static USHORT Checksum(const void* buffer, int size);
    // 1 with readable set, or 0 when select failed.
    static int WaitReadable(SOCKET s, DWORD timeoutMs, BOOL* readable);
    // 1 when the datagram is an echo reply carrying this process's identifier; else 0 and
    // last error 59.
    static int IsMyEchoReply(const char* buffer, int length);

private:
    static bool s_global;
    friend struct IcmpGlobal;
};

namespace protocol {
struct ServerRecord;
}
// Pings every listed host twice and returns the index (0 .. count - 1) of the record with the
// lowest (round trips + load) / answered pings; 0 when no host answered. Once `stop` turns
// true no host is pinged any more and no reply is waited for: the result is then meaningless.
int ChooseTheBestUploadServer(const protocol::ServerRecord* records, int count, const StopTest& stop = StopTest());
// How the server choice pings one host; tests put silent hosts in its place.
using ServerPing = int (*)(LPCWSTR host, PingResult* result, DWORD timeoutMs, BYTE dataSize, const StopTest& stop);
ServerPing& ServerPinger();
