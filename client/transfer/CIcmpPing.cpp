#include "client/transfer/CIcmpPing.h"

#include <ws2tcpip.h>

#include <vector>

#include "client/transfer/EngineLog.h"
#include "client/transfer/IcmpPacket.h"
#include "framework/CString.h"

namespace {

// Written once, on the first ping; later calls only read them.
volatile LONG g_started = 0;
BOOL g_startupOk = FALSE;
LARGE_INTEGER g_frequency = {};

constexpr int kReceiveSize = 1024;
// Longest wait between two looks at a stop test.
constexpr DWORD kStopSliceMs = 50;

USHORT ProcessIdentifier() { return static_cast<USHORT>(GetCurrentProcessId() & 0xFFFF); }

}  // namespace

// The program's one instance; its destructor ends WinSock at exit.
static CIcmpPing g_IcmpPing;

CIcmpPing::~CIcmpPing() {
    if (this == &g_IcmpPing && g_started && g_startupOk) WSACleanup();
}

BOOL CIcmpPing::Startup() {
    if (InterlockedCompareExchange(&g_started, 1, 0) == 0) {
        WSADATA data;
        const bool ws = WSAStartup(0x0102, &data) == 0;
        g_startupOk = ws && QueryPerformanceFrequency(&g_frequency) && g_frequency.QuadPart > 0;
        MemoryBarrier();
        InterlockedExchange(&g_started, 2);
    }
    // A concurrent first call waits for the one doing the start-up.
    while (g_started != 2) Sleep(0);
    return g_startupOk;
}

USHORT CIcmpPing::Checksum(const void* buffer, int size) {
    return size > 0 ? icmp::Checksum(static_cast<const uint8_t*>(buffer), static_cast<size_t>(size))
                    : icmp::Checksum(nullptr, 0);
}

void CIcmpPing::FillEchoRequest(char* buffer, int size) {
    if (size < static_cast<int>(icmp::kEchoHeaderSize)) return;
    icmp::FillEchoRequest(reinterpret_cast<uint8_t*>(buffer), static_cast<size_t>(size), ProcessIdentifier(),
                          GetTickCount());
}

int CIcmpPing::WaitReadable(SOCKET s, DWORD timeoutMs, BOOL* readable) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    timeval tv;
    tv.tv_sec = static_cast<long>(timeoutMs / 1000);
    tv.tv_usec = static_cast<long>((timeoutMs % 1000) * 1000);
    const int r = select(0, &set, nullptr, nullptr, &tv);
    if (r == SOCKET_ERROR) return 0;
    *readable = r != 0;
    return 1;
}

int CIcmpPing::IsMyEchoReply(const char* buffer, int length) {
    if (length > 0 && icmp::IsEchoReplyFor(reinterpret_cast<const uint8_t*>(buffer), static_cast<size_t>(length),
                                           ProcessIdentifier()))
        return 1;
    SetLastError(59);
    return 0;
}

int CIcmpPing::Ping2(LPCWSTR host, PingResult* result, DWORD timeoutMs, BYTE dataSize, const StopTest& stop) {
    if (dataSize <= 7) {
        SetLastError(10055);
        return 0;
    }
    if (!Startup()) return 0;

    const CStringA hostA(host ? host : L"");
    sockaddr_in to = {};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = inet_addr(hostA);
    if (to.sin_addr.s_addr == INADDR_NONE) {
        hostent* he = gethostbyname(hostA);
        if (!he || !he->h_addr_list || !he->h_addr_list[0] || he->h_length != 4) return 0;
        memcpy(&to.sin_addr, he->h_addr_list[0], 4);
        to.sin_family = static_cast<short>(he->h_addrtype);
    }

    SOCKET s = WSASocketW(AF_INET, SOCK_RAW, IPPROTO_ICMP, nullptr, 0, 0);
    if (s == INVALID_SOCKET) return 0;
    auto fail = [&](DWORD error) {
        closesocket(s);
        SetLastError(error);
        return 0;
    };

    const int size = dataSize + static_cast<int>(icmp::kEchoHeaderSize);
    std::vector<char> request(static_cast<size_t>(size));
    FillEchoRequest(request.data(), size);
    LARGE_INTEGER start, now;
    QueryPerformanceCounter(&start);
    if (sendto(s, request.data(), size, 0, reinterpret_cast<sockaddr*>(&to), sizeof to) == SOCKET_ERROR)
        return fail(WSAGetLastError());

    // Other datagrams reach a raw socket too (on loopback our own request comes back first):
    // read until our reply from the pinged host arrives or the time is up.
    const LONGLONG limit = static_cast<LONGLONG>(timeoutMs) * g_frequency.QuadPart / 1000;
    char reply[kReceiveSize];
    for (;;) {
        QueryPerformanceCounter(&now);
        const LONGLONG elapsed = now.QuadPart - start.QuadPart;
        if (elapsed >= limit) return fail(10060);
        if (stop && stop()) return fail(WSAEINTR);
        DWORD left = static_cast<DWORD>((limit - elapsed) * 1000 / g_frequency.QuadPart) + 1;
        if (stop && left > kStopSliceMs) left = kStopSliceMs;
        BOOL readable = FALSE;
        if (!WaitReadable(s, left, &readable)) return fail(WSAGetLastError());
        if (!readable) continue;  // the time left is measured again above
        sockaddr_in from = {};
        int fromLength = sizeof from;
        const int n = recvfrom(s, reply, sizeof reply, 0, reinterpret_cast<sockaddr*>(&from), &fromLength);
        QueryPerformanceCounter(&now);
        if (n == SOCKET_ERROR) {
            // A datagram larger than our buffer is not our reply.
            if (WSAGetLastError() == WSAEMSGSIZE) continue;
            return fail(WSAGetLastError());
        }
        if (IsMyEchoReply(reply, n) && from.sin_addr.s_addr == to.sin_addr.s_addr) {
            result->address = from.sin_addr.s_addr;
            result->roundTrip = static_cast<uint32_t>((now.QuadPart - start.QuadPart) * 1000 / g_frequency.QuadPart);
            closesocket(s);
            return 1;
        }
    }
}
