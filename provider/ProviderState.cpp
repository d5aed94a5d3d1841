#include "provider/ProviderState.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstddef>
#include <cstring>

#include "client/app/Utf8.h"

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

// The text of an XML element as its writer meant it: the five predefined entities undone.
std::string XmlText(const std::string& escaped) {
    static const struct {
        const char* entity;
        char c;
    } kEntities[] = {{"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}};
    std::string out;
    for (size_t i = 0; i < escaped.size();) {
        bool replaced = false;
        for (const auto& e : kEntities) {
            const size_t n = std::strlen(e.entity);
            if (escaped.compare(i, n, e.entity) == 0) {
                out += e.c;
                i += n;
                replaced = true;
                break;
            }
        }
        if (!replaced) out += escaped[i++];
    }
    return out;
}

uint32_t ReplyCode(uint32_t request) {
    return request == MSG_CODE_REQ_USER_SPACE ? uint32_t(MSG_CODE_RSP_USER_SPACE) : request + 1;
}

// Any value but `truth`.
uint32_t Other(std::mt19937& g, uint32_t truth) {
    uint32_t v = g();
    return v == truth ? v ^ 1u : v;
}

void GarbleBytes(std::mt19937& g, void* field, size_t size) {
    uint8_t* p = static_cast<uint8_t*>(field);
    for (size_t i = 0; i < size; ++i) p[i] = static_cast<uint8_t>(g());
}

// The bytes after the text's NUL.
void GarbleText(std::mt19937& g, char* field, size_t size) {
    const size_t length = text::FieldLength(field, size);
    if (length + 1 < size) GarbleBytes(g, field + length + 1, size - length - 1);
}

void GarbleServer(std::mt19937& g, ServerRecord& r) {
    GarbleBytes(g, &r.unused1, sizeof r.unused1);
    GarbleText(g, r.host, sizeof r.host);
    GarbleBytes(g, r.unused2, sizeof r.unused2);
}

void GarbleSegment(std::mt19937& g, SegmentDescriptor& d) {
    GarbleBytes(g, d.unused1, sizeof d.unused1);
    GarbleBytes(g, &d.unused2, sizeof d.unused2);
    GarbleBytes(g, &d.unused3, sizeof d.unused3);
    GarbleBytes(g, &d.unused4, sizeof d.unused4);
}

void GarbleFile(std::mt19937& g, FileListRecord& r) {
    GarbleBytes(g, r.unused1, sizeof r.unused1);
    GarbleText(g, r.filePath, sizeof r.filePath);
    GarbleText(g, r.fileName, sizeof r.fileName);
    GarbleBytes(g, r.unused2, sizeof r.unused2);
    GarbleText(g, r.linkKey, sizeof r.linkKey);
}

// Each record of a list body (u32 count, then records) or the one record at `offset`.
template <typename Record, typename Edit>
void EditRecords(Bytes& reply, size_t offset, size_t count, Edit edit) {
    for (size_t i = 0, at = offset; i < count && at + sizeof(Record) <= reply.size(); ++i, at += sizeof(Record)) {
        Record r;
        std::memcpy(&r, reply.data() + at, sizeof r);
        edit(r);
        std::memcpy(reply.data() + at, &r, sizeof r);
    }
}

template <typename Record, typename Edit>
void EditList(Bytes& reply, Edit edit) {
    uint32_t count = 0;
    if (reply.size() >= sizeof(PacketHeader) + 4) std::memcpy(&count, reply.data() + sizeof(PacketHeader), 4);
    EditRecords<Record>(reply, sizeof(PacketHeader) + 4, count, edit);
}

}  // namespace

Bytes Reply(uint32_t code, const Bytes& body) {
    Bytes out;
    Append(out, MakeHeader(code, static_cast<uint32_t>(body.size())));
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

size_t Pacer::Grant(uint64_t rate, size_t want) {
    if (rate == 0) {
        m_started = false;
        return want;
    }
    auto now = std::chrono::steady_clock::now();
    if (!m_started) {
        m_started = true;
        m_last = now;
        m_tokens = 0;
    }
    double burst = std::max(static_cast<double>(rate) / 20.0, 1.0);
    double seconds = std::chrono::duration<double>(now - m_last).count();
    m_tokens = std::min(burst, m_tokens + seconds * static_cast<double>(rate));
    m_last = now;
    size_t n = static_cast<size_t>(std::min(static_cast<double>(want), std::floor(m_tokens)));
    m_tokens -= static_cast<double>(n);
    return n;
}

ProviderState::~ProviderState() = default;

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
    file.sink = NewSink(file.fileId, file.size);
    if (!file.data.empty()) file.sink->Write(0, file.data.data(), std::min<size_t>(file.data.size(), file.size));
    file.data.clear();
    uint64_t id = file.fileId;
    m_files[id] = std::move(file);
    return id;
}

void ProviderState::SetRefuseUploads(bool refuse) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_refuseUploads = refuse;
}

void ProviderState::ForgetFiles() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_files.clear();
}

void ProviderState::SetHeaderGarbage(bool garbage) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_headerGarbage = garbage;
}

void ProviderState::SetSinkFolder(const std::wstring& folder) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_sinkFolder = folder;
}

void ProviderState::SetDiscardAll(bool discard) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_discardAll = discard;
}

void ProviderState::SetThrottle(uint64_t bytesPerSecond, bool overall) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_throttleRate = bytesPerSecond;
    m_throttleOverall = overall;
}

std::shared_ptr<Sink> ProviderState::NewSink(uint64_t fileId, uint64_t size) {
    if (m_discardAll) return MakeDiscardSink();
    if (!m_sinkFolder.empty()) {
        std::wstring folder = m_sinkFolder;
        if (folder.back() != L'\\' && folder.back() != L'/') folder += L'\\';
        if (auto sink = MakeFileSink(folder + L"upload-" + std::to_wstring(fileId) + L".part")) return sink;
    }
    if (size <= kMemorySinkLimit) return MakeMemorySink(size);
    return MakeDiscardSink();
}

StoredFile ProviderState::Snapshot(const StoredFile& f) const {
    StoredFile copy = f;
    if (f.sink && f.size <= kMemorySinkLimit) f.sink->Read(copy.data);
    return copy;
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
    return TakeFaultIf(code, [](const Fault&) { return true; }).value_or(Fault());
}

std::optional<Fault> ProviderState::TakeFaultIf(uint32_t code, const std::function<bool(const Fault&)>& applies) {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_faults.find(code);
    if (it == m_faults.end() || !applies(it->second)) return std::nullopt;
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
    return Snapshot(it->second);
}

std::vector<StoredFile> ProviderState::Files() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<StoredFile> out;
    for (const auto& f : m_files) out.push_back(Snapshot(f.second));
    return out;
}

Bytes ProviderState::Handle(uint32_t code, const Bytes& m) {
    std::lock_guard<std::mutex> lock(m_mutex);
    Bytes reply;
    switch (code) {
    case MSG_CODE_REQ_LOGIN: reply = Login(m, false); break;
    case MSG_CODE_REQ_LOGIN_BY_SESSION: reply = Login(m, true); break;
    case MSG_CODE_REQ_USER_SPACE: reply = UserSpace(m); break;
    case MSG_CODE_REQ_SERVER_LIST: reply = ServerList(); break;
    case MSG_CODE_REQ_FILE_LIST: reply = FileList(m); break;
    case MSG_CODE_REQ_UPLOAD_INFO: reply = UploadInfo(m); break;
    case MSG_CODE_REQ_UPLOAD_FILE: reply = UploadFile(m); break;
    case MSG_CODE_REQ_FILE_SERVER: reply = FileServer(m); break;
    case MSG_CODE_REQ_SESSION_QUERY: reply = SessionQuery(m); break;
    case MSG_CODE_REQ_DELETE_FILE: DeleteFile(m); break;
    case MSG_CODE_REQ_RENAME_FILE: RenameFile(m); break;
    default: break;
    }
    if (m_headerGarbage) Garble(code, reply);
    return reply;
}

void ProviderState::Garble(uint32_t code, Bytes& reply) {
    if (reply.size() < sizeof(PacketHeader)) return;
    std::mt19937& g = m_garbage;
    if (code == MSG_CODE_REQ_SESSION_QUERY) {
        // After the text's NUL: bytes nobody reads.
        Bytes tail(1 + g() % 16);
        GarbleBytes(g, tail.data(), tail.size());
        reply.insert(reply.end(), tail.begin(), tail.end());
    }
    PacketHeader h;
    std::memcpy(&h, reply.data(), sizeof h);
    const uint32_t truth = static_cast<uint32_t>(reply.size() - sizeof h);
    const uint32_t turn = m_garbageTurns[code]++;
    const uint32_t lie = turn % 3 == 0 ? 0 : turn % 3 == 1 ? truth + 1 : Other(g, truth);
    switch (code) {
    case MSG_CODE_REQ_LOGIN:
    case MSG_CODE_REQ_LOGIN_BY_SESSION:
        h = {Other(g, kMagic), Other(g, h.code), lie};
        GarbleBytes(g, reply.data() + offsetof(LoginReply, unused), sizeof(uint32_t));
        break;
    case MSG_CODE_REQ_USER_SPACE: h = {Other(g, kMagic), h.code, lie}; break;  // the code 227 is read
    case MSG_CODE_REQ_FILE_SERVER:
        h = {Other(g, kMagic), Other(g, h.code), lie};
        EditRecords<ServerRecord>(reply, sizeof(PacketHeader), 1, [&g](ServerRecord& r) { GarbleServer(g, r); });
        break;
    case MSG_CODE_REQ_SESSION_QUERY: h = {Other(g, kMagic), Other(g, h.code), lie}; break;
    // Bodies read by their length: only what the reader does not test goes.
    case MSG_CODE_REQ_SERVER_LIST:
        h.code = Other(g, h.code);
        EditList<ServerRecord>(reply, [&g](ServerRecord& r) { GarbleServer(g, r); });
        break;
    case MSG_CODE_REQ_UPLOAD_FILE: h.code = Other(g, h.code); break;
    case MSG_CODE_REQ_UPLOAD_INFO:
        h = {Other(g, kMagic), Other(g, h.code), h.bodyLength};
        EditList<SegmentDescriptor>(reply, [&g](SegmentDescriptor& d) { GarbleSegment(g, d); });
        break;
    case MSG_CODE_REQ_FILE_LIST:
        h = {Other(g, kMagic), Other(g, h.code), h.bodyLength};
        EditList<FileListRecord>(reply, [&g](FileListRecord& r) { GarbleFile(g, r); });
        break;
    default: return;
    }
    std::memcpy(reply.data(), &h, sizeof h);
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
    // Segment offsets are 32-bit on the wire: a larger file could never be described or finished.
    if (m.size() >= sizeof q && !m_refuseUploads && fits && q.fileSize <= 0xFFFFFFFFu) {
        if (owner) owner->usedSpace += q.fileSize;
        StoredFile f;
        f.fileId = fileId = m_nextFileId++;
        f.userId = q.userId;
        f.serverId = q.serverId;
        f.name = ReadTextField(q.fileName, sizeof q.fileName);
        f.path = ReadTextField(q.filePath, sizeof q.filePath);
        f.linkKey = "key" + std::to_string(fileId);
        f.size = q.fileSize;
        f.sink = NewSink(fileId, f.size);
        // Segments: n = the threads offered, at least 1 and at most 10; the file is cut into
        // contiguous ranges of ceil(size / n) bytes from offset 0, the last one shorter. Ranges
        // that would start at or past the end are left out, so a small file gets fewer segments
        // than offered, and an empty file none (it is finished as announced).
        uint64_t threads = std::min<uint64_t>(std::max<uint32_t>(q.threadCount, 1), kSegmentLimit);
        uint64_t each = (f.size + threads - 1) / threads;
        for (uint64_t i = 0, start = 0; i < threads && start < f.size; ++i, start += each) {
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
    std::string user = XmlText(ExtractBetweenText(frame, "<UserName>", "</UserName>"));
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
    if (it != m_files.end() && it->second.userId == q.userId)
        it->second.name = ReadTextField(q.newName, sizeof q.newName);
}

bool ProviderState::Content(uint64_t fileId, Bytes& out) const {
    std::shared_ptr<Sink> sink;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_files.find(fileId);
        if (it == m_files.end() || !it->second.sink) return false;
        sink = it->second.sink;
    }
    return sink->Read(out);
}

bool ProviderState::WaitForFinished(uint64_t fileId, int timeoutMs) const {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
        auto it = m_files.find(fileId);
        return it != m_files.end() && it->second.Finished();
    });
}

StoredFile* ProviderState::FindByRecord(const SegmentRecord& record) {
    // The record carries only the low 32 bits of the file id.
    uint32_t low = static_cast<uint32_t>(record.fileId);
    for (auto& entry : m_files)
        if (static_cast<uint32_t>(entry.first) == low) return &entry.second;
    return nullptr;
}

namespace {
SegmentState* FindSegment(StoredFile& f, int64_t number) {
    for (SegmentState& s : f.segments)
        if (static_cast<int64_t>(s.number) == number) return &s;
    return nullptr;
}
}  // namespace

bool ProviderState::AcceptSegment(const SegmentRecord& record) {
    std::lock_guard<std::mutex> lock(m_mutex);
    StoredFile* f = FindByRecord(record);
    SegmentState* s = f ? FindSegment(*f, record.segmentNumber) : nullptr;
    bool ok = false;
    if (s && record.offset >= 0 && record.bytesRemaining >= 0) {
        uint64_t offset = static_cast<uint64_t>(record.offset), end = uint64_t(s->start) + s->length;
        ok = offset >= s->start && offset <= uint64_t(s->start) + s->received &&
             static_cast<uint64_t>(record.bytesRemaining) <= end - offset;
    }
    if (!ok) ++m_refusedSegments;
    return ok;
}

uint64_t ProviderState::RefusedSegments() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_refusedSegments;
}

bool ProviderState::StoreData(const SegmentRecord& record, uint64_t offset, const uint8_t* data, size_t size) {
    std::shared_ptr<Sink> sink;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        StoredFile* f = FindByRecord(record);
        SegmentState* s = f ? FindSegment(*f, record.segmentNumber) : nullptr;
        // Never past the next missing byte: bytes counted as received are always contiguous.
        if (!s || !f->sink || offset < s->start || offset > uint64_t(s->start) + s->received ||
            size > uint64_t(s->start) + s->length - offset)
            return false;
        sink = f->sink;
    }
    // Written outside the lock so that segments go to the sink in parallel.
    if (!sink->Write(offset, data, size)) return false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        StoredFile* f = FindByRecord(record);
        SegmentState* s = f && f->sink == sink ? FindSegment(*f, record.segmentNumber) : nullptr;
        if (!s) return false;
        uint64_t end = offset + size - s->start;
        if (end > s->received) s->received = static_cast<uint32_t>(end);
    }
    m_changed.notify_all();
    return true;
}

size_t ProviderState::GrantData(Pacer& connection, size_t want) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_throttleRate == 0) return want;
    return (m_throttleOverall ? m_overallPacer : connection).Grant(m_throttleRate, want);
}

void ProviderState::RefundData(Pacer& connection, size_t bytes) {
    std::lock_guard<std::mutex> lock(m_mutex);
    (m_throttleOverall ? m_overallPacer : connection).Refund(bytes);
}

}  // namespace provider
