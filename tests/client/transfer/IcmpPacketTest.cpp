#include "client/transfer/IcmpPacket.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

using namespace icmp;

namespace {

// An IPv4 datagram (header of `ihlWords` 32-bit words) around an ICMP message.
std::vector<uint8_t> Datagram(uint8_t type, uint16_t id, int ihlWords = 5) {
    std::vector<uint8_t> d(ihlWords * 4 + 12, 0);
    d[0] = static_cast<uint8_t>(0x40 | ihlWords);
    d[9] = 1;
    d[12] = 127, d[13] = 0, d[14] = 8, d[15] = 9;
    uint8_t* p = d.data() + ihlWords * 4;
    p[0] = type;
    p[4] = static_cast<uint8_t>(id);
    p[5] = static_cast<uint8_t>(id >> 8);
    return d;
}

}  // namespace

TEST(IcmpChecksum, KnownValues) {
    struct Case {
        std::vector<uint8_t> bytes;
        uint16_t sum;
    };
    const Case cases[] = {
        {{}, 0xFFFF},
        {{0x00, 0x00}, 0xFFFF},
        {{0xFF, 0xFF}, 0x0000},
        {{0x01}, 0xFFFE},  // odd last byte added as its value
        {{0x01, 0x02, 0x03}, static_cast<uint16_t>(~(0x0201 + 0x03))},
        {{0xFF, 0xFF, 0xFF, 0xFF, 0x02, 0x00}, 0xFFFD},  // carries fold back in
        // RFC 1071's example words 0001 f203 f4f5 f6f7 (memory order here): sum ddf2 -> 220d
        {{0x01, 0x00, 0x03, 0xF2, 0xF5, 0xF4, 0xF7, 0xF6}, 0x220D},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.sum, Checksum(c.bytes.data(), c.bytes.size())) << c.bytes.size() << " bytes";
}

TEST(IcmpEchoRequest, LayoutAndChecksum) {
    for (size_t dataSize : {8u, 32u, 255u}) {
        std::vector<uint8_t> p(dataSize + kEchoHeaderSize, 0xAA);
        FillEchoRequest(p.data(), p.size(), 0xBEEF, 0x11223344);
        EXPECT_EQ(8, p[0]);
        EXPECT_EQ(0, p[1]);
        EXPECT_EQ(0xEF, p[4]);
        EXPECT_EQ(0xBE, p[5]);
        EXPECT_EQ(0, p[6]);
        EXPECT_EQ(0, p[7]);
        EXPECT_EQ(0x44, p[8]);
        EXPECT_EQ(0x11, p[11]);
        for (size_t i = kEchoHeaderSize; i < p.size(); ++i) ASSERT_EQ(0x45, p[i]) << i;
        // A packet carrying its own checksum sums to zero.
        EXPECT_EQ(0, Checksum(p.data(), p.size())) << dataSize;
    }
}

TEST(IcmpEchoReply, AcceptsOnlyOurReply) {
    struct Case {
        const char* what;
        std::vector<uint8_t> d;
        bool mine;
    };
    auto truncated = Datagram(0, 0x1234);
    truncated.resize(27);
    auto badIhl = Datagram(0, 0x1234);
    badIhl[0] = 0x40;  // header length 0 would read the IP header as ICMP
    auto longOptions = Datagram(0, 0x1234, 15);
    longOptions.resize(64);
    const Case cases[] = {
        {"our reply", Datagram(0, 0x1234), true},
        {"our reply after IP options", Datagram(0, 0x1234, 6), true},
        {"our own request read back", Datagram(8, 0x1234), false},
        {"another process's reply", Datagram(0, 0x4321), false},
        {"unreachable", Datagram(3, 0x1234), false},
        {"shorter than header + 8", truncated, false},
        {"header length below 20", badIhl, false},
        {"options run past the end", longOptions, false},
    };
    for (const auto& c : cases) EXPECT_EQ(c.mine, IsEchoReplyFor(c.d.data(), c.d.size(), 0x1234)) << c.what;
    EXPECT_FALSE(IsEchoReplyFor(nullptr, 0, 0x1234));
}

TEST(IcmpEchoReply, SourceAddress) {
    auto d = Datagram(0, 1);
    uint32_t expected;
    const uint8_t bytes[] = {127, 0, 8, 9};
    std::memcpy(&expected, bytes, 4);
    EXPECT_EQ(expected, SourceAddress(d.data(), d.size()));
    EXPECT_EQ(0u, SourceAddress(d.data(), 15));
}

TEST(ServerScore, Rules) {
    struct Case {
        uint64_t rtt;
        uint32_t load;
        uint32_t ok;
        uint32_t score;
    };
    const Case cases[] = {
        {50, 10, 2, 30},             // (20 + 30 + 10) / 2
        {40, 10, 1, 50},             // load divided by the pings that succeeded
        {0, 10, 0, kNoAnswerScore},  // no answer: load does not matter
        {0, 0, 2, 0},
        {10, 0xFFFFFFFFu, 1, kNoAnswerScore - 1},  // would wrap to 9 in 32 bits
        {0xFFFFFFFFu, 0xFFFFFFFFu, 2, kNoAnswerScore - 1},
        {2, 0xFFFFFFFFu, 2, 0x80000000u},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.score, ServerScore(c.rtt, c.load, c.ok)) << c.rtt << " " << c.load << " " << c.ok;
}

TEST(ServerScore, LowestWins) {
    struct Case {
        std::vector<uint32_t> scores;
        size_t chosen;
    };
    const uint32_t none = kNoAnswerScore;
    const Case cases[] = {
        {{}, 0},
        {{none, none, none}, 0},
        {{none, 70, none}, 1},
        {{30, 30}, 0},  // ties keep the earlier record
        {{40, 30, 30, 35}, 1},
        {{none, none - 1}, 1},  // a saturated but answering host beats a silent one
    };
    for (const auto& c : cases) EXPECT_EQ(c.chosen, LowestScore(c.scores.data(), c.scores.size()));
}

TEST(ServerChoice, PingsEveryServerTwiceAndTakesLowestScore) {
    struct Server {
        uint32_t load;
        std::vector<int> pings;
    };  // -1: ping fails
    struct Case {
        const char* what;
        std::vector<Server> servers;
        size_t chosen;
    };
    const Case cases[] = {
        {"no server answers", {{5, {-1, -1}}, {0, {-1, -1}}}, 0},
        {"only the second answers", {{0, {-1, -1}}, {900, {100, -1}}}, 1},
        {"average with load", {{10, {20, 30}}, {0, {31, 31}}}, 0},  // 30 vs 31
        {"equal scores keep the first", {{10, {20, 30}}, {10, {20, 30}}}, 0},
        {"one ping counts the load once", {{10, {40, -1}}, {0, {45, 45}}}, 1},  // 50 vs 45
        {"huge load does not wrap", {{0xFFFFFFF0u, {100, 100}}, {0, {-1, -1}}, {500, {1, 1}}}, 2},
    };
    for (const auto& c : cases) {
        std::vector<int> calls(c.servers.size(), 0);
        const size_t chosen = ChooseByPing(
            c.servers.size(), [&](size_t i) { return c.servers[i].load; },
            [&](size_t i, uint32_t* rtt) {
                const int r = c.servers[i].pings[calls[i]++];
                if (r < 0) return false;
                *rtt = static_cast<uint32_t>(r);
                return true;
            });
        EXPECT_EQ(c.chosen, chosen) << c.what;
        for (int n : calls) EXPECT_EQ(2, n) << c.what;
    }
}
