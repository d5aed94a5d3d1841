// ICMP echo packets and the server score: plain bytes and numbers, no sockets.
#pragma once

#include <cstddef>
#include <cstdint>

namespace icmp {

constexpr uint8_t kEchoRequest = 8;
constexpr uint8_t kEchoReply = 0;
constexpr size_t kEchoHeaderSize = 12;  // type, code, checksum, identifier, sequence, tick count
constexpr uint8_t kFillByte = 0x45;
constexpr uint32_t kNoAnswerScore = 0xFFFFFFFFu;

// Internet checksum (RFC 1071) over 16-bit words as they lie in memory (little-endian).
uint16_t Checksum(const uint8_t* buffer, size_t size);

// Builds an echo request of `size` bytes (at least kEchoHeaderSize): sequence 0, the given
// identifier and tick count, filler bytes after the header, checksum over the whole packet.
void FillEchoRequest(uint8_t* buffer, size_t size, uint16_t identifier, uint32_t tickCount);

// True when the IP datagram holds an echo reply carrying `identifier`. Our own echo requests
// read back on loopback, foreign ICMP and truncated or malformed datagrams are refused.
bool IsEchoReplyFor(const uint8_t* datagram, size_t length, uint16_t identifier);

// IPv4 source address of an IP datagram as it lies in the packet (network order bytes read
// into memory order), or 0 when the datagram is too short to hold one.
uint32_t SourceAddress(const uint8_t* datagram, size_t length);

// Score of a server: (round trips + load) / successful pings. kNoAnswerScore when no ping
// succeeded; a host that answered saturates just below it, so a huge load never wraps to
// a small score and an answering host still beats one that never answered.
uint32_t ServerScore(uint64_t roundTripSum, uint32_t load, uint32_t successes);

// Index of the lowest score; the earlier one on ties; 0 when none is below kNoAnswerScore
// (or count is 0).
size_t LowestScore(const uint32_t* scores, size_t count);

}  // namespace icmp

#include <functional>

namespace icmp {

// Pings every server twice (`ping` returns true and the round trip in ms on success), scores
// each with its load and returns the index of the lowest score. Every server is pinged: there
// is no early exit.
size_t ChooseByPing(size_t count, const std::function<uint32_t(size_t)>& load,
                    const std::function<bool(size_t, uint32_t*)>& ping);

}  // namespace icmp
