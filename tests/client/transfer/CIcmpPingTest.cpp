#include "client/transfer/CIcmpPing.h"

#include <gtest/gtest.h>

#include "client/transfer/Protocol.h"
#include "framework/CString.h"

#include <thread>
#include <vector>

namespace {

uint32_t Address(const char* dotted) { return inet_addr(dotted); }

}  // namespace

TEST(IcmpPing, LoopbackHostsAnswer) {
    // On loopback our own request is read back before the reply; the ping must pass over it.
    struct Case {
        const wchar_t* host;
        const char* replier;
        BYTE dataSize;
    };
    const Case cases[] = {
        {L"127.0.8.1", "127.0.8.1", 32},
        {L"127.0.8.2", "127.0.8.2", 8},
        {L"127.0.8.3", "127.0.8.3", 255},
        {L"localhost", "127.0.0.1", 32},
    };
    CIcmpPing ping;
    for (const auto& c : cases) {
        PingResult r = {0xFFFFFFFF, 0xFFFFFFFF};
        ASSERT_EQ(1, ping.Ping2(c.host, &r, 5000, c.dataSize)) << c.replier << " error " << GetLastError();
        EXPECT_EQ(Address(c.replier), r.address);
        EXPECT_LT(r.roundTrip, 1000u);
    }
}

TEST(IcmpPing, Failures) {
    struct Case {
        const wchar_t* host;
        BYTE dataSize;
        DWORD error;
    };
    const Case cases[] = {
        {L"127.0.8.1", 7, 10055},
        {L"127.0.8.1", 0, 10055},
    };
    CIcmpPing ping;
    for (const auto& c : cases) {
        PingResult r = {};
        SetLastError(0);
        EXPECT_EQ(0, ping.Ping2(c.host, &r, 1000, c.dataSize));
        EXPECT_EQ(c.error, GetLastError());
    }
    PingResult r = {};
    EXPECT_EQ(0, ping.Ping2(L"no-such-host.invalid", &r, 1000, 32));
    // A ping whose upload was given up waits for no reply.
    SetLastError(0);
    EXPECT_EQ(0, ping.Ping2(L"127.0.8.1", &r, 5000, 32, [] { return true; }));
    EXPECT_EQ(static_cast<DWORD>(WSAEINTR), GetLastError());
    EXPECT_EQ(1, ping.Ping2(L"127.0.8.1", &r, 5000, 32, [] { return false; }));
}

TEST(IcmpPing, ConcurrentPingsKeepTheirOwnHost) {
    // All threads share the process id, so identifiers match; the sender must still be ours.
    constexpr int kThreads = 6;
    std::vector<std::thread> threads;
    std::vector<int> ok(kThreads, 0);
    std::vector<uint32_t> from(kThreads, 0);
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &ok, &from] {
            wchar_t host[32];
            swprintf(host, 32, L"127.0.8.%d", 20 + t);
            CIcmpPing ping;
            for (int k = 0; k < 5; ++k) {
                PingResult r = {};
                if (!ping.Ping2(host, &r, 5000, 32)) return;
                from[t] = r.address;
                if (r.address != inet_addr(CStringA(host))) return;
            }
            ok[t] = 1;
        });
    }
    for (auto& th : threads) th.join();
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(1, ok[t]) << "thread " << t << " got " << from[t];
}

TEST(IcmpPing, HelpersMatchThePacketRules) {
    char packet[44];
    CIcmpPing::FillEchoRequest(packet, sizeof packet);
    EXPECT_EQ(8, packet[0]);
    EXPECT_EQ(0, CIcmpPing::Checksum(packet, sizeof packet));
    EXPECT_EQ(static_cast<USHORT>(GetCurrentProcessId() & 0xFFFF),
              static_cast<USHORT>((packet[4] & 0xFF) | ((packet[5] & 0xFF) << 8)));

    // Our own request wrapped in an IP header is not a reply.
    char datagram[20 + sizeof packet] = {0x45};
    memcpy(datagram + 20, packet, sizeof packet);
    SetLastError(0);
    EXPECT_EQ(0, CIcmpPing::IsMyEchoReply(datagram, sizeof datagram));
    EXPECT_EQ(59u, GetLastError());
    datagram[20] = 0;
    EXPECT_EQ(1, CIcmpPing::IsMyEchoReply(datagram, sizeof datagram));
}

TEST(ServerChoice, PingsListedHostsAndWeighsTheirLoad) {
    // Every loopback host answers within a millisecond or so; the load decides.
    auto record = [](const char* host, uint32_t load) {
        protocol::ServerRecord r = {};
        strncpy(r.host, host, sizeof r.host - 1);
        r.load = load;
        return r;
    };
    struct Case {
        const char* what;
        std::vector<protocol::ServerRecord> records;
        int chosen;
    };
    protocol::ServerRecord unterminated = record("127.0.8.60", 0);
    memset(unterminated.host, '1', sizeof unterminated.host);  // no NUL: not an address
    const Case cases[] = {
        {"lowest load wins", {record("127.0.8.60", 900), record("127.0.8.61", 100), record("127.0.8.62", 500)}, 1},
        {"silent hosts lose", {record("x.invalid", 0), record("127.0.8.63", 300)}, 1},
        {"no host answers: the first", {record("a.invalid", 5), record("b.invalid", 1)}, 0},
        {"a host field without its NUL", {unterminated, record("127.0.8.64", 50)}, 1},
        {"huge load does not wrap", {record("127.0.8.65", 0xFFFFFFFFu), record("127.0.8.66", 1000)}, 1},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.chosen, ChooseTheBestUploadServer(c.records.data(), static_cast<int>(c.records.size()))) << c.what;
    EXPECT_EQ(0, ChooseTheBestUploadServer(nullptr, 0));

    // Once stopped, no host is pinged any more.
    static int pings;
    pings = 0;
    const ServerPing saved = ServerPinger();
    ServerPinger() = [](LPCWSTR, PingResult*, DWORD, BYTE, const StopTest&) { return ++pings, 0; };
    const std::vector<protocol::ServerRecord> two = {record("127.0.8.67", 0), record("127.0.8.68", 0)};
    int asked = 0;
    ChooseTheBestUploadServer(two.data(), 2, [&] { return ++asked > 1; });
    ServerPinger() = saved;
    EXPECT_EQ(pings, 1);
}
