#include "client/transfer/IcmpPacket.h"

#include <cstring>

namespace icmp {

uint16_t Checksum(const uint8_t* buffer, size_t size) {
    uint32_t sum = 0;
    size_t i = 0;
    for (; i + 1 < size; i += 2) sum += static_cast<uint32_t>(buffer[i] | (buffer[i + 1] << 8));
    if (i < size) sum += buffer[i];
    sum = (sum >> 16) + (sum & 0xFFFF);
    sum += sum >> 16;
    return static_cast<uint16_t>(~sum & 0xFFFF);
}

static void PutU16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

void FillEchoRequest(uint8_t* buffer, size_t size, uint16_t identifier, uint32_t tickCount) {
    if (size < kEchoHeaderSize) return;
    buffer[0] = kEchoRequest;
    buffer[1] = 0;
    PutU16(buffer + 2, 0);
    PutU16(buffer + 4, identifier);
    PutU16(buffer + 6, 0);
    for (int k = 0; k < 4; ++k) buffer[8 + k] = static_cast<uint8_t>(tickCount >> (8 * k));
    std::memset(buffer + kEchoHeaderSize, kFillByte, size - kEchoHeaderSize);
    PutU16(buffer + 2, Checksum(buffer, size));
}

bool IsEchoReplyFor(const uint8_t* datagram, size_t length, uint16_t identifier) {
    if (!datagram || length < 1) return false;
    const size_t headerLength = static_cast<size_t>(datagram[0] & 15) * 4;
    if (headerLength < 20 || length < headerLength + 8) return false;
    const uint8_t* icmpPart = datagram + headerLength;
    const uint16_t id = static_cast<uint16_t>(icmpPart[4] | (icmpPart[5] << 8));
    return icmpPart[0] == kEchoReply && id == identifier;
}

uint32_t SourceAddress(const uint8_t* datagram, size_t length) {
    if (!datagram || length < 16) return 0;
    uint32_t address;
    std::memcpy(&address, datagram + 12, 4);
    return address;
}

uint32_t ServerScore(uint64_t roundTripSum, uint32_t load, uint32_t successes) {
    if (successes == 0) return kNoAnswerScore;
    const uint64_t score = (roundTripSum + load) / successes;
    return score >= kNoAnswerScore ? kNoAnswerScore - 1 : static_cast<uint32_t>(score);
}

size_t LowestScore(const uint32_t* scores, size_t count) {
    size_t best = 0;
    uint32_t lowest = kNoAnswerScore;
    for (size_t i = 0; i < count; ++i) {
        if (scores[i] < lowest) {
            lowest = scores[i];
            best = i;
        }
    }
    return best;
}

}  // namespace icmp

namespace icmp {

size_t ChooseByPing(size_t count, const std::function<uint32_t(size_t)>& load,
                    const std::function<bool(size_t, uint32_t*)>& ping) {
    size_t best = 0;
    uint32_t lowest = kNoAnswerScore;
    for (size_t i = 0; i < count; ++i) {
        uint64_t sum = 0;
        uint32_t successes = 0;
        for (int attempt = 0; attempt < 2; ++attempt) {
            uint32_t roundTrip = 0;
            if (ping(i, &roundTrip)) {
                ++successes;
                sum += roundTrip;
            }
        }
        const uint32_t score = ServerScore(sum, load(i), successes);
        if (score < lowest) {
            lowest = score;
            best = i;
        }
    }
    return best;
}

}  // namespace icmp
