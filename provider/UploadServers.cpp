#include "provider/UploadServers.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace provider {

using namespace protocol;

void ShapeReply(const Fault& fault, uint32_t requestCode, Bytes& reply) {
    auto put32 = [&](size_t at, uint32_t v) {
        if (reply.size() >= at + 4) std::memcpy(reply.data() + at, &v, 4);
    };
    // By the request: the reply's own code may be garbage.
    if (fault.editSegment && requestCode == MSG_CODE_REQ_UPLOAD_INFO) {
        for (size_t at = sizeof(PacketHeader) + 4; at + sizeof(SegmentDescriptor) <= reply.size();
             at += sizeof(SegmentDescriptor)) {
            SegmentDescriptor d;
            std::memcpy(&d, reply.data() + at, sizeof d);
            fault.editSegment(d);
            std::memcpy(reply.data() + at, &d, sizeof d);
        }
    }
    if (fault.wrongMagic) put32(0, kMagic ^ 0x01000000u);
    if (fault.bodyLength) put32(8, *fault.bodyLength);
    if (fault.count) put32(12, *fault.count);
    if (fault.editReply) fault.editReply(reply);
}

void ControlServer::Serve(SOCKET s) {
    sockaddr_in local = {};
    int len = sizeof local;
    getsockname(s, reinterpret_cast<sockaddr*>(&local), &len);
    for (;;) {
        PacketHeader h;
        if (!ReceiveExact(s, &h, sizeof h)) return;
        if (h.bodyLength > kMaxRequestBody) return;
        ReceivedRequest request;
        request.code = h.code;
        request.port = ntohs(local.sin_port);
        request.bytes.resize(sizeof h + h.bodyLength);
        std::memcpy(request.bytes.data(), &h, sizeof h);
        if (!ReceiveExact(s, request.bytes.data() + sizeof h, h.bodyLength)) return;
        // Recorded once handled, so a test that waits for a request also sees its effect.
        Bytes reply = m_state.Handle(h.code, request.bytes);
        m_state.Record(request);
        if (!SendReply(s, h.code, std::move(reply))) return;
    }
}

bool ControlServer::SendReply(SOCKET s, uint32_t code, Bytes reply) {
    Fault f = m_state.TakeFault(code);
    if (f.stall) {
        HoldUnread(s);
        return false;
    }
    if (f.delayMs > 0 && !Pause(f.delayMs)) return false;
    if (f.closeWithoutReply) return false;
    if (reply.empty()) return true;
    ShapeReply(f, code, reply);
    bool closeAfter = false;
    if (f.shortBytes >= 0 && static_cast<size_t>(f.shortBytes) < reply.size()) {
        reply.resize(static_cast<size_t>(f.shortBytes));
        closeAfter = true;
    }
    size_t piece = f.splitBytes > 0 ? static_cast<size_t>(f.splitBytes) : reply.size();
    for (size_t at = 0; at < reply.size(); at += piece) {
        if (at > 0 && !Pause(5)) return false;
        if (!SendAll(s, reply.data() + at, std::min(piece, reply.size() - at))) return false;
    }
    return !closeAfter;
}

void DataServer::Serve(SOCKET s) {
    // Decided before any read: a connection that is never read has no record to judge.
    if (m_state.TakeFaultIf(MSG_CODE_SEND_FILE_DATA, [](const Fault& f) { return f.neverRead; })) {
        HoldUnread(s);
        return;
    }
    sockaddr_in local = {};
    int len = sizeof local;
    getsockname(s, reinterpret_cast<sockaddr*>(&local), &len);
    SegmentRecord record;
    if (!ReceiveExact(s, &record, sizeof record)) return;
    ReceivedRequest request;
    request.code = record.header.code;
    request.port = ntohs(local.sin_port);
    const uint8_t* p = reinterpret_cast<const uint8_t*>(&record);
    request.bytes.assign(p, p + sizeof record);
    // A record that does not fit its file's segments is refused before any byte is taken. It is
    // recorded once checked, so a test that waits for it also sees the refusal counted.
    bool accepted =
        record.header.magic == kMagic && record.header.code == MSG_CODE_SEND_FILE_DATA && m_state.AcceptSegment(record);
    m_state.Record(request);
    if (!accepted) return;
    Fault f = m_state.TakeFault(MSG_CODE_SEND_FILE_DATA);
    if (f.closeWithoutReply) return;
    if (f.stall) {
        // Stop reading: the sender's buffers fill and its writes time out.
        HoldUnread(s);
        return;
    }
    if (f.delayMs > 0 && !Pause(f.delayMs)) return;
    uint64_t offset = static_cast<uint64_t>(record.offset);
    uint64_t left = static_cast<uint64_t>(record.bytesRemaining), take = left;
    if (f.cutAfterBytes >= 0) take = std::min(take, static_cast<uint64_t>(f.cutAfterBytes));
    bool reset = false;
    if (f.cutWhenLeftBytes >= 0) {
        uint64_t before = left - std::min(left, static_cast<uint64_t>(f.cutWhenLeftBytes));
        reset = before <= take;
        take = std::min(take, before);
    }
    Pacer pacer;
    Bytes buffer(kDataChunk);
    while (take > 0) {
        size_t want = static_cast<size_t>(std::min<uint64_t>(take, kDataChunk));
        size_t granted = m_state.GrantData(pacer, want);
        if (granted == 0) {
            if (!Pause(10)) return;
            continue;
        }
        int n = ReceiveSome(s, buffer.data(), static_cast<int>(granted));
        if (n <= 0) return;
        m_state.RefundData(pacer, granted - static_cast<size_t>(n));
        if (!m_state.StoreData(record, offset, buffer.data(), static_cast<size_t>(n))) return;
        offset += static_cast<uint64_t>(n);
        take -= static_cast<uint64_t>(n);
    }
    // A plain close sends a FIN first and resets only for bytes already arrived.
    if (reset) Reset(s);
}

}  // namespace provider
