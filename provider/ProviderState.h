// UserAccount, SessionGrant, SegmentState, StoredFile, ReceivedRequest, Fault, Pacer, ProviderState:
// what the stand-in provider knows and what it was sent, shared by all its servers.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <map>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "client/transfer/Protocol.h"
#include "provider/Sink.h"

namespace provider {

using protocol::Bytes;

struct UserAccount {
    std::string mail, password;
    uint64_t userId = 0;
    uint64_t usedSpace = 0, totalSpace = 0;
};

struct SessionGrant {
    std::string sessionKey, bindId;
};

struct SegmentState {
    uint32_t number = 0, start = 0, length = 0, received = 0;
};

struct StoredFile {
    uint64_t fileId = 0, userId = 0, serverId = 0;
    std::string name, path, linkKey;
    uint64_t size = 0;
    uint16_t hoursLeft = 72;
    std::vector<SegmentState> segments;
    // Bytes received, at their file offsets. Given to AddFile: content already there. In the
    // copies File() and Files() hand out: what a memory sink holds (empty for other sinks).
    Bytes data;
    std::shared_ptr<Sink> sink;  // set by the state
    bool forceFinished = false;
    bool Finished() const;
};

struct ReceivedRequest {
    uint32_t code = 0;
    uint16_t port = 0;  // local port it came in on
    Bytes bytes;        // header and body as received (for 242: the 68-byte record)
};

// How the servers misbehave for one message code.
struct Fault {
    int delayMs = 0;                     // wait before replying
    int splitBytes = 0;                  // send the reply in pieces of this size
    int shortBytes = -1;                 // send only this many bytes of the reply, then close
    bool closeWithoutReply = false;      // close instead of replying (242: right after the record)
    bool wrongMagic = false;             // reply header carries another magic
    std::optional<uint32_t> bodyLength;  // reply header announces this body length
    std::optional<uint32_t> count;       // u32 at body offset 0 replaced
    bool stall = false;                  // never answer (242: stop reading); held unread till the peer goes
    int64_t cutAfterBytes = -1;          // 242: close the data connection after this many file bytes
    // 242: reset the data connection (SO_LINGER 0, no FIN) once at most this many bytes of the
    // segment are left to read, e.g. bytes the sender's socket already took; 0: after the last byte.
    int64_t cutWhenLeftBytes = -1;
    // 242: read nothing, not even the record, and record no request; held like `stall`. Counted
    // per connection, the other 242 faults per accepted record.
    bool neverRead = false;
    // 245: rewrites each descriptor of the segment list before count and bodyLength apply.
    std::function<void(protocol::SegmentDescriptor&)> editSegment;
    // Any reply: rewrites its bytes, header included, after the edits above.
    std::function<void(Bytes&)> editReply;
    int times = -1;  // requests it applies to; -1 = all
};

// Paces reads to a byte rate with a small burst allowance.
class Pacer {
public:
    // Bytes that may be read now out of `want` at `rate` bytes per second (0: no limit).
    size_t Grant(uint64_t rate, size_t want);
    void Refund(size_t bytes) { m_tokens += static_cast<double>(bytes); }

private:
    double m_tokens = 0;
    bool m_started = false;
    std::chrono::steady_clock::time_point m_last;
};

class ProviderState {
public:
    ~ProviderState();
    void AddUser(const UserAccount& user);
    void AddSession(const std::string& userName, const SessionGrant& grant);
    void AddServer(const protocol::ServerInfo& server);
    uint64_t AddFile(StoredFile file);  // returns the file id (assigned when 0)
    // Announcements are refused (file id 0) while set, and whenever a file exceeds its user's
    // quota (total 0: no quota); an accepted file counts as used space at once.
    void SetRefuseUploads(bool refuse);
    // The server's state lost, as after a restart: every file, its bytes and segments unknown.
    void ForgetFiles();
    // While set, every reply field the client does not read holds garbage: the whole header of the
    // login, session-query and file-server replies, the magic and length of the user-space reply,
    // the code of the list and announcement replies (and the magic of the segment and file lists),
    // the unread record fields and the bytes after a text's NUL. The lengths lie in turn per code:
    // 0, one more than the truth, any value.
    void SetHeaderGarbage(bool garbage);

    // Received bytes go to a file per upload in `folder` when set (its files are removed with the
    // upload or the state), else to memory for files up to kMemorySinkLimit and nowhere beyond.
    void SetSinkFolder(const std::wstring& folder);
    // While set, received bytes go nowhere whatever the file's size or the folder.
    void SetDiscardAll(bool discard);
    static const uint64_t kMemorySinkLimit = 64u << 20;
    // Limits the data connections' reads to bytesPerSecond (0: no limit), for each connection on
    // its own or for all of them together. Takes effect on running connections at once.
    void SetThrottle(uint64_t bytesPerSecond, bool overall);

    void SetFault(uint32_t code, const Fault& fault);
    void ClearFaults();
    // The fault to apply to the next request of `code` (counts down limited faults).
    Fault TakeFault(uint32_t code);
    // The same, but only when the fault set for `code` satisfies `applies`; nothing taken otherwise.
    std::optional<Fault> TakeFaultIf(uint32_t code, const std::function<bool(const Fault&)>& applies);

    std::vector<ReceivedRequest> Requests() const;
    std::vector<ReceivedRequest> RequestsOf(uint32_t code) const;
    // Waits until `count` requests of `code` came; bounded by timeoutMs.
    bool WaitForRequests(uint32_t code, size_t count, int timeoutMs) const;
    void Record(const ReceivedRequest& request);

    std::optional<StoredFile> File(uint64_t fileId) const;
    std::vector<StoredFile> Files() const;

    // Replies of the control side; an empty result means no reply.
    Bytes Handle(uint32_t code, const Bytes& message);
    // Waits until the file exists and all its bytes arrived; bounded by timeoutMs.
    bool WaitForFinished(uint64_t fileId, int timeoutMs) const;
    // The received content of a file; false when the file is unknown or its sink keeps nothing.
    bool Content(uint64_t fileId, Bytes& out) const;

    // A data connection's record is taken only when it names a known file (low 32 bits of the
    // id, as sent) and one of its segments, starts inside that segment no later than its next
    // missing byte and announces no more than the segment holds. Refusals are counted.
    bool AcceptSegment(const protocol::SegmentRecord& record);
    uint64_t RefusedSegments() const;
    // Data of an accepted segment connection, written to the sink at its offset; false (nothing
    // written) when the bytes no longer fit the segment, e.g. the file was deleted meanwhile.
    bool StoreData(const protocol::SegmentRecord& record, uint64_t offset, const uint8_t* data, size_t size);
    // How much of `want` a data connection with its own pacer may read now.
    size_t GrantData(Pacer& connection, size_t want);
    void RefundData(Pacer& connection, size_t bytes);

private:
    Bytes Login(const Bytes& m, bool bySession);
    Bytes UserSpace(const Bytes& m);
    Bytes ServerList();
    Bytes FileList(const Bytes& m);
    Bytes UploadInfo(const Bytes& m);
    Bytes UploadFile(const Bytes& m);
    Bytes FileServer(const Bytes& m);
    Bytes SessionQuery(const Bytes& m);
    void DeleteFile(const Bytes& m);
    void RenameFile(const Bytes& m);
    std::shared_ptr<Sink> NewSink(uint64_t fileId, uint64_t size);
    StoredFile Snapshot(const StoredFile& f) const;
    StoredFile* FindByRecord(const protocol::SegmentRecord& record);
    // The reply to a request of `code`, garbage written where the client does not read.
    void Garble(uint32_t code, Bytes& reply);

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    std::vector<UserAccount> m_users;
    std::map<std::string, SessionGrant> m_sessions;
    std::vector<protocol::ServerInfo> m_servers;
    std::map<uint64_t, StoredFile> m_files;
    std::map<uint32_t, Fault> m_faults;
    std::vector<ReceivedRequest> m_requests;
    uint64_t m_nextFileId = 1001;
    bool m_refuseUploads = false;
    std::wstring m_sinkFolder;
    bool m_discardAll = false;
    uint64_t m_throttleRate = 0;
    bool m_throttleOverall = false;
    Pacer m_overallPacer;
    uint64_t m_refusedSegments = 0;
    bool m_headerGarbage = false;
    std::mt19937 m_garbage{0x46524E54u};  // fixed seed: a failure repeats
    std::map<uint32_t, uint32_t> m_garbageTurns;
};

// A reply message: header {magic, code, body size} and the body.
Bytes Reply(uint32_t code, const Bytes& body);

}  // namespace provider
