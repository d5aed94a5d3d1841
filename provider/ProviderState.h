// What the stand-in provider knows and what it was sent, shared by all its servers.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "client/transfer/Protocol.h"

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
    Bytes data;  // bytes received, at their file offsets
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
    int delayMs = 0;                      // wait before replying
    int splitBytes = 0;                   // send the reply in pieces of this size
    int shortBytes = -1;                  // send only this many bytes of the reply, then close
    bool closeWithoutReply = false;       // close instead of replying (242: right after the record)
    bool wrongMagic = false;              // reply header carries another magic
    std::optional<uint32_t> bodyLength;   // reply header announces this body length
    std::optional<uint32_t> count;        // u32 at body offset 0 replaced
    bool stall = false;                   // never answer (242: stop reading)
    int times = -1;                       // requests it applies to; -1 = all
};

class ProviderState {
public:
    void AddUser(const UserAccount& user);
    void AddSession(const std::string& userName, const SessionGrant& grant);
    void AddServer(const protocol::ServerInfo& server);
    uint64_t AddFile(StoredFile file);  // returns the file id (assigned when 0)
    // Announcements are refused (file id 0) while set, and whenever a file exceeds its user's
    // quota (total 0: no quota); an accepted file counts as used space at once.
    void SetRefuseUploads(bool refuse);

    void SetFault(uint32_t code, const Fault& fault);
    void ClearFaults();
    // The fault to apply to the next request of `code` (counts down limited faults).
    Fault TakeFault(uint32_t code);

    std::vector<ReceivedRequest> Requests() const;
    std::vector<ReceivedRequest> RequestsOf(uint32_t code) const;
    // Waits until `count` requests of `code` came; bounded by timeoutMs.
    bool WaitForRequests(uint32_t code, size_t count, int timeoutMs) const;
    void Record(const ReceivedRequest& request);

    std::optional<StoredFile> File(uint64_t fileId) const;
    std::vector<StoredFile> Files() const;

    // Replies of the control side; an empty result means no reply.
    Bytes Handle(uint32_t code, const Bytes& message);
    // Data of a segment connection; returns false when the bytes fall outside the file.
    bool StoreData(const protocol::SegmentRecord& record, uint64_t offset, const uint8_t* data, size_t size);

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
};

// A reply message: header {magic, code, body size} and the body.
Bytes Reply(uint32_t code, const Bytes& body);

}  // namespace provider
