#include "provider/ProviderState.h"

#include <algorithm>
#include <chrono>
#include <cstring>

namespace provider {

using namespace protocol;

namespace {

template <typename T>
T Zeroed() {
    T v;
    std::memset(&v, 0, sizeof v);
    return v;
}

template <typename T>
void Append(Bytes& out, const T& v) {
    const uint8_t* p = reinterpret_cast<const uint8_t*>(&v);
    out.insert(out.end(), p, p + sizeof v);
}

template <typename T>
bool BodyAt(const Bytes& m, size_t offset, T& out) {
    if (m.size() < sizeof(PacketHeader) + offset + sizeof(T)) return false;
    std::memcpy(&out, m.data() + sizeof(PacketHeader) + offset, sizeof(T));
    return true;
}

void CopyText(char* field, size_t size, const std::string& text) { WriteTextField(field, size, text); }

ServerRecord ToRecord(const ServerInfo& s) {
    ServerRecord r = Zeroed<ServerRecord>();
    r.serverId = s.serverId;
    CopyText(r.host, sizeof r.host, s.host);
    r.load = s.load;
    r.extra = s.extra;
    r.port = s.port;
    return r;
}

uint32_t ReplyCode(uint32_t request) {
    return request == MSG_CODE_REQ_USER_SPACE ? uint32_t(MSG_CODE_RSP_USER_SPACE) : request + 1;
}

}  // namespace

Bytes Reply(uint32_t code, const Bytes& body) {
    Bytes out;
    Append(out, MakeHeader(code, static_cast<uint32_t>(body.size())));
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

bool StoredFile::Finished() const {
    if (forceFinished) return true;
    for (const SegmentState& s : segments)
        if (s.received < s.length) return false;
    return true;
}

void ProviderState::AddUser(const UserAccount& user) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_users.push_back(user);
}

void ProviderState::AddSession(const std::string& userName, const SessionGrant& grant) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_sessions[userName] = grant;
}

void ProviderState::AddServer(const ServerInfo& server) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_servers.push_back(server);
}

uint64_t ProviderState::AddFile(StoredFile file) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (file.fileId == 0) file.fileId = m_nextFileId++;
    if (file.data.size() < file.size && file.size <= (64u << 20)) file.data.resize(file.size);
    uint64_t id = file.fileId;
    m_files[id] = std::move(file);
    return id;
}

void ProviderState::SetRefuseUploads(bool refuse) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_refuseUploads = refuse;
}

void ProviderState::SetFault(uint32_t code, const Fault& fault) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_faults[code] = fault;
}

void ProviderState::ClearFaults() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_faults.clear();
}

Fault ProviderState::TakeFault(uint32_t code) {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_faults.find(code);
    if (it == m_faults.end()) return Fault();
    Fault f = it->second;
    if (it->second.times > 0 && --it->second.times == 0) m_faults.erase(it);
    return f;
}

void ProviderState::Record(const ReceivedRequest& request) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_requests.push_back(request);
    }
    m_changed.notify_all();
}

std::vector<ReceivedRequest> ProviderState::Requests() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_requests;
}

std::vector<ReceivedRequest> ProviderState::RequestsOf(uint32_t code) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<ReceivedRequest> out;
    for (const ReceivedRequest& r : m_requests)
        if (r.code == code) out.push_back(r);
    return out;
}

bool ProviderState::WaitForRequests(uint32_t code, size_t count, int timeoutMs) const {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
        return static_cast<size_t>(std::count_if(m_requests.begin(), m_requests.end(),
                                                 [&](const ReceivedRequest& r) { return r.code == code; })) >= count;
    });
}

std::optional<StoredFile> ProviderState::File(uint64_t fileId) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_files.find(fileId);
    if (it == m_files.end()) return std::nullopt;
    return it->second;
}

std::vector<StoredFile> ProviderState::Files() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<StoredFile> out;
    for (const auto& f : m_files) out.push_back(f.second);
    return out;
}

Bytes ProviderState::Handle(uint32_t code, const Bytes& m) {
    std::lock_guard<std::mutex> lock(m_mutex);
    switch (code) {
    case MSG_CODE_REQ_LOGIN: return Login(m, false);
    case MSG_CODE_REQ_LOGIN_BY_SESSION: return Login(m, true);
    case MSG_CODE_REQ_USER_SPACE: return UserSpace(m);
    case MSG_CODE_REQ_SERVER_LIST: return ServerList();
    case MSG_CODE_REQ_FILE_LIST: return FileList(m);
    case MSG_CODE_REQ_UPLOAD_INFO: return UploadInfo(m);
    case MSG_CODE_REQ_UPLOAD_FILE: return UploadFile(m);
    case MSG_CODE_REQ_FILE_SERVER: return FileServer(m);
    case MSG_CODE_REQ_SESSION_QUERY: return SessionQuery(m);
    case MSG_CODE_REQ_DELETE_FILE: DeleteFile(m); return Bytes();
    case MSG_CODE_REQ_RENAME_FILE: RenameFile(m); return Bytes();
    default: return Bytes();
    }
}

Bytes ProviderState::Login(const Bytes& m, bool bySession) {
    LoginReply r = Zeroed<LoginReply>();
    r.header = MakeHeader(ReplyCode(bySession ? MSG_CODE_REQ_LOGIN_BY_SESSION : MSG_CODE_REQ_LOGIN), 32);
    LoginRequest q;
    if (m.size() >= sizeof q) {
        std::memcpy(&q, m.data(), sizeof q);
        std::string mail = ReadTextField(q.mail, sizeof q.mail), pass = ReadTextField(q.password, sizeof q.password);
        for (const UserAccount& u : m_users) {
            if (u.mail != mail || (!bySession && u.password != pass)) continue;
            r.result = 1;
            r.usedSpace = u.usedSpace;
            r.totalSpace = u.totalSpace;
            r.userId = u.userId;
            break;
        }
    }
    Bytes out;
    Append(out, r);
    return out;
}

Bytes ProviderState::UserSpace(const Bytes& m) {
    uint64_t userId = 0;
    BodyAt(m, 0, userId);
    UserSpaceReply r = Zeroed<UserSpaceReply>();
    r.header = MakeHeader(MSG_CODE_RSP_USER_SPACE, 16);
    for (const UserAccount& u : m_users)
        if (u.userId == userId) {
            r.usedSpace = u.usedSpace;
            r.totalSpace = u.totalSpace;
        }
    Bytes out;
    Append(out, r);
    return out;
}

Bytes ProviderState::ServerList() {
    Bytes body;
    Append(body, static_cast<uint32_t>(m_servers.size()));
    for (const ServerInfo& s : m_servers) Append(body, ToRecord(s));
    return Reply(ReplyCode(MSG_CODE_REQ_SERVER_LIST), body);
}

Bytes ProviderState::FileList(const Bytes& m) {
    uint64_t userId = 0;
    BodyAt(m, 0, userId);
    std::vector<FileListRecord> records;
    for (const auto& entry : m_files) {
        const StoredFile& f = entry.second;
        if (f.userId != userId) continue;
        FileListRecord r = Zeroed<FileListRecord>();
        r.fileId = f.fileId;
        r.serverId = f.serverId;
        r.userId = f.userId;
        CopyText(r.filePath, sizeof r.filePath, f.path);
        CopyText(r.fileName, sizeof r.fileName, f.name);
        CopyText(r.linkKey, sizeof r.linkKey, f.linkKey);
        r.fileSize = f.size;
        r.hoursLeft = f.hoursLeft;
        r.finished = f.Finished() ? 1 : 0;
        records.push_back(r);
    }
    Bytes body;
    Append(body, static_cast<uint32_t>(records.size()));
    for (const FileListRecord& r : records) Append(body, r);
    return Reply(ReplyCode(MSG_CODE_REQ_FILE_LIST), body);
}

Bytes ProviderState::UploadInfo(const Bytes& m) {
    uint64_t fileId = 0;
    BodyAt(m, 8, fileId);
    Bytes body;
    auto it = m_files.find(fileId);
    std::vector<SegmentState> segments;
    if (it != m_files.end()) segments = it->second.segments;
    Append(body, static_cast<uint32_t>(segments.size()));
    for (const SegmentState& s : segments) {
        SegmentDescriptor d = Zeroed<SegmentDescriptor>();
        d.segmentNumber = s.number;
        d.startOffset = s.start + s.received;
        d.bytesDone = s.received;
        d.bytesRemaining = s.length - s.received;
        Append(body, d);
    }
    return Reply(ReplyCode(MSG_CODE_REQ_UPLOAD_INFO), body);
}

Bytes ProviderState::UploadFile(const Bytes& m) {
    UploadFileRequest q;
    uint64_t fileId = 0;
    if (m.size() >= sizeof q) std::memcpy(&q, m.data(), sizeof q);
    UserAccount* owner = nullptr;
    for (UserAccount& u : m_users)
        if (m.size() >= sizeof q && u.userId == q.userId) owner = &u;
    // A known user with a quota gets no file that would not fit.
    bool fits = !owner || owner->totalSpace == 0 || owner->usedSpace + q.fileSize <= owner->totalSpace;
    if (m.size() >= sizeof q && !m_refuseUploads && fits) {
        if (owner) owner->usedSpace += q.fileSize;
        StoredFile f;
        f.fileId = fileId = m_nextFileId++;
        f.userId = q.userId;
        f.serverId = q.serverId;
        f.name = ReadTextField(q.fileName, sizeof q.fileName);
        f.path = ReadTextField(q.filePath, sizeof q.filePath);
        f.linkKey = "key" + std::to_string(fileId);
        f.size = q.fileSize;
        if (f.size <= (64u << 20)) f.data.resize(f.size);
        uint64_t threads = std::min<uint64_t>(std::max<uint32_t>(q.threadCount, 1), kSegmentLimit);
        uint64_t each = (f.size + threads - 1) / threads;
        for (uint64_t i = 0, start = 0; i < threads && start < f.size && f.size <= 0xFFFFFFFFu; ++i, start += each) {
            SegmentState s;
            s.number = static_cast<uint32_t>(i);
            s.start = static_cast<uint32_t>(start);
            s.length = static_cast<uint32_t>(std::min(each, f.size - start));
            f.segments.push_back(s);
        }
        m_files[fileId] = std::move(f);
    }
    Bytes body;
    Append(body, fileId);
    return Reply(ReplyCode(MSG_CODE_REQ_UPLOAD_FILE), body);
}

Bytes ProviderState::FileServer(const Bytes& m) {
    uint64_t serverId = 0;
    BodyAt(m, 0, serverId);
    FileServerReply r = Zeroed<FileServerReply>();
    r.header = MakeHeader(ReplyCode(MSG_CODE_REQ_FILE_SERVER), sizeof(ServerRecord));
    for (const ServerInfo& s : m_servers)
        if (s.serverId == serverId) r.server = ToRecord(s);
    Bytes out;
    Append(out, r);
    return out;
}

Bytes ProviderState::SessionQuery(const Bytes& m) {
    std::string frame(m.begin() + std::min(m.size(), sizeof(PacketHeader)), m.end());
    std::string user = ExtractBetweenText(frame, "<UserName>", "</UserName>");
    std::string text = "<?xml version='1.0' encoding='UTF-8'?><xml><SessionResult>";
    auto it = m_sessions.find(user);
    if (it != m_sessions.end())
        text += "<SessionKey>" + it->second.sessionKey + "</SessionKey><BindId>" + it->second.bindId + "</BindId>";
    text += "</SessionResult></xml>";
    Bytes body(text.begin(), text.end());
    body.push_back(0);
    return Reply(ReplyCode(MSG_CODE_REQ_SESSION_QUERY), body);
}

void ProviderState::DeleteFile(const Bytes& m) {
    uint64_t userId = 0, fileId = 0;
    if (!BodyAt(m, 0, userId) || !BodyAt(m, 8, fileId)) return;
    auto it = m_files.find(fileId);
    if (it == m_files.end() || it->second.userId != userId) return;
    for (UserAccount& u : m_users)
        if (u.userId == userId) u.usedSpace -= std::min(u.usedSpace, it->second.size);
    m_files.erase(it);
}

void ProviderState::RenameFile(const Bytes& m) {
    RenameFileRequest q;
    if (m.size() < sizeof q) return;
    std::memcpy(&q, m.data(), sizeof q);
    auto it = m_files.find(q.fileId);
    if (it != m_files.end() && it->second.userId == q.userId) it->second.name = ReadTextField(q.newName, sizeof q.newName);
}

bool ProviderState::StoreData(const SegmentRecord& record, uint64_t offset, const uint8_t* data, size_t size) {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_files.find(static_cast<uint64_t>(record.fileId));
    if (it == m_files.end()) return false;
    StoredFile& f = it->second;
    if (offset > f.size || size > f.size - offset) return false;
    if (f.data.size() == f.size) std::memcpy(f.data.data() + offset, data, size);
    for (SegmentState& s : f.segments)
        if (s.number == static_cast<uint64_t>(record.segmentNumber) && offset + size > s.start) {
            uint64_t end = std::min<uint64_t>(s.length, offset + size - s.start);
            if (end > s.received) s.received = static_cast<uint32_t>(end);
        }
    return true;
}

}  // namespace provider
