#include "client/transfer/Protocol.h"

#include <cstdio>
#include <cstring>

#include "client/app/Utf8.h"

namespace protocol {
namespace {

template <typename T>
Bytes ToBytesOf(const T& value) {
    const uint8_t* p = reinterpret_cast<const uint8_t*>(&value);
    return Bytes(p, p + sizeof(T));
}

template <typename T>
T Zeroed() {
    T value;
    std::memset(&value, 0, sizeof(T));
    return value;
}

template <typename T>
bool ReadAt(const uint8_t* data, size_t size, size_t offset, T& out) {
    if (offset > size || size - offset < sizeof(T)) return false;
    std::memcpy(&out, data + offset, sizeof(T));
    return true;
}

bool FitsField(const std::string& text, size_t fieldSize) { return text.size() < fieldSize; }

bool BuildLoginMessage(uint32_t code, const std::string& mail, const std::string* password, Bytes& out) {
    out.clear();
    // A cut mail or password would log in as somebody else: refuse instead.
    if (!FitsField(mail, kShortField) || (password && !FitsField(*password, kShortField))) return false;
    LoginRequest r = Zeroed<LoginRequest>();
    r.header = MakeHeader(code, sizeof(LoginRequest) - sizeof(PacketHeader));
    WriteTextField(r.mail, sizeof r.mail, mail);
    if (password) WriteTextField(r.password, sizeof r.password, *password);
    out = ToBytesOf(r);
    return true;
}

Bytes IdMessage(uint32_t code, uint64_t id) {
    IdRequest r = Zeroed<IdRequest>();
    r.header = MakeHeader(code, 8);
    r.id = id;
    return ToBytesOf(r);
}

Bytes UserFileMessage(uint32_t code, uint64_t userId, uint64_t fileId) {
    UserFileRequest r = Zeroed<UserFileRequest>();
    r.header = MakeHeader(code, 16);
    r.userId = userId;
    r.fileId = fileId;
    return ToBytesOf(r);
}

// Items of a list body: u32 count, then records. Never reads past the body, and never more
// than `limit` items.
template <typename Record, typename Item, typename Convert>
bool ParseList(const uint8_t* message, size_t size, size_t limit, std::vector<Item>& out, ListInfo* info,
               Convert convert) {
    out.clear();
    uint32_t count = 0;
    if (!ReadAt(message, size, sizeof(PacketHeader), count)) return false;
    size_t fit = (size - sizeof(PacketHeader) - 4) / sizeof(Record);
    size_t take = count;
    if (take > fit) take = fit;
    if (take > limit) take = limit;
    for (size_t i = 0; i < take; ++i) {
        Record r;
        std::memcpy(&r, message + sizeof(PacketHeader) + 4 + i * sizeof(Record), sizeof(Record));
        out.push_back(convert(r));
    }
    if (info) {
        info->claimedCount = count;
        info->truncated = take < count;
    }
    return true;
}

const char kKeyStart[] = "<SessionKey>";
const char kKeyEnd[] = "</SessionKey>";
const char kBindStart[] = "<BindId>";
const char kBindEnd[] = "</BindId>";

bool HasElementEnd(const std::string& text, const std::string& start, const std::string& end) {
    const size_t at = text.find(start);
    return at != std::string::npos && text.find(end, at + start.size()) != std::string::npos;
}

// Whether more bytes could still change the key or the bind id: not after the text's NUL, nor
// once both elements are closed (later bytes move no first occurrence).
bool SessionTextComplete(const uint8_t* message, size_t size) {
    if (size <= sizeof(PacketHeader)) return false;
    const std::string text = SessionReplyText(message, size);
    if (text.size() < size - sizeof(PacketHeader)) return true;
    return HasElementEnd(text, kKeyStart, kKeyEnd) && HasElementEnd(text, kBindStart, kBindEnd);
}

// The user name comes from the launch text, which any web page can send: it must not be able
// to add elements of its own to the query.
std::string EscapeXml(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&apos;"; break;
        default: out += c;
        }
    }
    return out;
}

}  // namespace

PacketHeader MakeHeader(uint32_t code, uint32_t bodyLength) {
    PacketHeader h;
    h.magic = kMagic;
    h.code = code;
    h.bodyLength = bodyLength;
    return h;
}

size_t WriteTextField(char* field, size_t fieldSize, const std::string& text) {
    std::memset(field, 0, fieldSize);
    if (fieldSize == 0) return 0;
    size_t n = text::Utf8FitLength(text.data(), text.size(), fieldSize - 1);
    std::memcpy(field, text.data(), n);
    return n;
}

std::string ReadTextField(const char* field, size_t fieldSize) {
    return std::string(field, text::FieldLength(field, fieldSize));
}

bool BuildLogin(const std::string& mail, const std::string& password, Bytes& out) {
    return BuildLoginMessage(MSG_CODE_REQ_LOGIN, mail, &password, out);
}

bool BuildLoginBySession(const std::string& mail, Bytes& out) {
    return BuildLoginMessage(MSG_CODE_REQ_LOGIN_BY_SESSION, mail, nullptr, out);
}

Bytes BuildUserSpace(uint64_t userId) { return IdMessage(MSG_CODE_REQ_USER_SPACE, userId); }
Bytes BuildServerList() { return ToBytesOf(MakeHeader(MSG_CODE_REQ_SERVER_LIST, 0)); }
Bytes BuildFileList(uint64_t userId) { return IdMessage(MSG_CODE_REQ_FILE_LIST, userId); }
Bytes BuildFileServer(uint64_t serverId) { return IdMessage(MSG_CODE_REQ_FILE_SERVER, serverId); }

Bytes BuildUploadInfo(uint64_t userId, uint64_t fileId) {
    return UserFileMessage(MSG_CODE_REQ_UPLOAD_INFO, userId, fileId);
}

Bytes BuildDeleteFile(uint64_t userId, uint64_t fileId) {
    return UserFileMessage(MSG_CODE_REQ_DELETE_FILE, userId, fileId);
}

Bytes BuildUploadFile(uint64_t userId, uint64_t fileSize, uint32_t serverId, uint32_t threadCount,
                      const std::string& fileName, const std::string& filePath) {
    UploadFileRequest r = Zeroed<UploadFileRequest>();
    r.header = MakeHeader(MSG_CODE_REQ_UPLOAD_FILE, sizeof(UploadFileRequest) - sizeof(PacketHeader));
    r.userId = userId;
    r.fileSize = fileSize;
    r.serverId = serverId;
    r.threadCount = threadCount;
    WriteTextField(r.fileName, sizeof r.fileName, fileName);
    WriteTextField(r.filePath, sizeof r.filePath, filePath);
    return ToBytesOf(r);
}

Bytes BuildRenameFile(uint64_t userId, uint64_t fileId, const std::string& newName) {
    RenameFileRequest r = Zeroed<RenameFileRequest>();
    r.header = MakeHeader(MSG_CODE_REQ_RENAME_FILE, sizeof(RenameFileRequest) - sizeof(PacketHeader));
    r.userId = userId;
    r.fileId = fileId;
    WriteTextField(r.newName, sizeof r.newName, newName);
    return ToBytesOf(r);
}

std::string SessionQueryXml(const std::string& userName) {
    return "<?xml version='1.0' encoding='UTF-8' standalone='no' ?><xml><SessionQuery type='result'><UserName>" +
           EscapeXml(userName) + "</UserName><Thread>1234567890</Thread><AppType>nsm</AppType></SessionQuery></xml>";
}

bool BuildSessionQuery(const std::string& userName, Bytes& out) {
    out.clear();
    std::string xml = SessionQueryXml(userName);
    char digits[32];
    std::snprintf(digits, sizeof digits, "%016lu", static_cast<unsigned long>(xml.size() + 2));
    std::string frame = std::string(digits) + "SGDP000000000001" + xml;
    if (sizeof(PacketHeader) + frame.size() > kSessionQueryLimit) return false;
    out = ToBytesOf(MakeHeader(MSG_CODE_REQ_SESSION_QUERY, static_cast<uint32_t>(frame.size())));
    out.insert(out.end(), frame.begin(), frame.end());
    return true;
}

SegmentRecord MakeSegmentRecord(uint32_t serverId, uint32_t segmentNumber, uint32_t userId, uint32_t fileId,
                                uint32_t offset, uint32_t bytesDone, uint32_t bytesRemaining) {
    SegmentRecord r = Zeroed<SegmentRecord>();
    r.header = MakeHeader(MSG_CODE_SEND_FILE_DATA, sizeof(SegmentRecord) - sizeof(PacketHeader));
    r.serverId = static_cast<int64_t>(static_cast<uint64_t>(serverId));
    r.segmentNumber = static_cast<int64_t>(static_cast<uint64_t>(segmentNumber));
    r.userId = static_cast<int64_t>(static_cast<uint64_t>(userId));
    r.fileId = static_cast<int64_t>(static_cast<uint64_t>(fileId));
    r.offset = static_cast<int64_t>(static_cast<uint64_t>(offset));
    r.bytesDone = static_cast<int64_t>(static_cast<uint64_t>(bytesDone));
    r.bytesRemaining = static_cast<int64_t>(static_cast<uint64_t>(bytesRemaining));
    return r;
}

Bytes ToBytes(const SegmentRecord& record) { return ToBytesOf(record); }

ServerInfo ToServerInfo(const ServerRecord& r) {
    ServerInfo s;
    s.serverId = r.serverId;
    s.host = ReadTextField(r.host, sizeof r.host);
    s.load = r.load;
    s.extra = r.extra;
    s.port = r.port;
    return s;
}

FileEntry ToFileEntry(const FileListRecord& r) {
    FileEntry f;
    f.fileId = r.fileId;
    f.serverId = r.serverId;
    f.userId = r.userId;
    f.filePath = ReadTextField(r.filePath, sizeof r.filePath);
    f.fileName = ReadTextField(r.fileName, sizeof r.fileName);
    f.linkKey = ReadTextField(r.linkKey, sizeof r.linkKey);
    f.fileSize = r.fileSize;
    f.hoursLeft = r.hoursLeft;
    f.finished = r.finished != 0;
    return f;
}

bool ParseLoginReply(const uint8_t* message, size_t size, LoginResult& out) {
    out = LoginResult();
    LoginReply r;
    if (size < sizeof r || !ReadAt(message, size, 0, r)) return false;
    out.accepted = r.result == 1;
    if (out.accepted) {
        out.usedSpace = r.usedSpace;
        out.totalSpace = r.totalSpace;
        out.userId = r.userId;
    }
    return true;
}

bool ParseUserSpaceReply(const uint8_t* message, size_t size, uint64_t& used, uint64_t& total) {
    used = total = 0;
    UserSpaceReply r;
    if (!ReadAt(message, size, 0, r) || r.header.code != MSG_CODE_RSP_USER_SPACE) return false;
    used = r.usedSpace;
    total = r.totalSpace;
    return true;
}

bool ParseServerList(const uint8_t* message, size_t size, std::vector<ServerInfo>& out, ListInfo* info) {
    return ParseList<ServerRecord>(message, size, SIZE_MAX, out, info, ToServerInfo);
}

bool ParseSegmentList(const uint8_t* message, size_t size, std::vector<SegmentInfo>& out, ListInfo* info) {
    return ParseList<SegmentDescriptor>(message, size, kSegmentLimit, out, info, [](const SegmentDescriptor& d) {
        SegmentInfo s;
        s.segmentNumber = d.segmentNumber;
        s.startOffset = d.startOffset;
        s.bytesDone = d.bytesDone;
        s.bytesRemaining = d.bytesRemaining;
        return s;
    });
}

bool ParseFileList(const uint8_t* message, size_t size, std::vector<FileEntry>& out, ListInfo* info) {
    return ParseList<FileListRecord>(message, size, SIZE_MAX, out, info, ToFileEntry);
}

bool ParseUploadFileReply(const uint8_t* message, size_t size, uint64_t& fileId) {
    fileId = 0;
    return ReadAt(message, size, sizeof(PacketHeader), fileId);
}

bool ParseFileServerReply(const uint8_t* message, size_t size, ServerInfo& out) {
    out = ServerInfo();
    FileServerReply r;
    if (!ReadAt(message, size, 0, r)) return false;
    out = ToServerInfo(r.server);
    return true;
}

std::string ExtractBetweenText(const std::string& text, const std::string& start, const std::string& end) {
    size_t first = text.find(start);
    if (first == std::string::npos) return std::string();
    first += start.size();
    size_t last = text.find(end, first);
    if (last == std::string::npos) return std::string();
    return text.substr(first, last - first);
}

std::string SessionReplyText(const uint8_t* message, size_t size) {
    if (size <= sizeof(PacketHeader)) return std::string();
    const char* body = reinterpret_cast<const char*>(message) + sizeof(PacketHeader);
    return std::string(body, text::FieldLength(body, size - sizeof(PacketHeader)));
}

bool ParseSessionReply(const uint8_t* message, size_t size, std::string& sessionKey, std::string& bindId) {
    sessionKey.clear();
    bindId.clear();
    if (size < sizeof(PacketHeader)) return false;
    const std::string textPart = SessionReplyText(message, size);
    sessionKey = ExtractBetweenText(textPart, kKeyStart, kKeyEnd);
    bindId = ExtractBetweenText(textPart, kBindStart, kBindEnd);
    return true;
}

uint32_t MaxReplyBody(uint32_t requestCode) {
    switch (requestCode) {
    case MSG_CODE_REQ_SERVER_LIST: return 4 + 1024 * sizeof(ServerRecord);
    case MSG_CODE_REQ_UPLOAD_INFO: return 4 + 256 * sizeof(SegmentDescriptor);
    case MSG_CODE_REQ_FILE_LIST: return 4 + 16384 * sizeof(FileListRecord);
    case MSG_CODE_REQ_UPLOAD_FILE: return 1024;
    default: return 1024;
    }
}

HeaderCheck HeaderCheckFor(uint32_t requestCode) {
    switch (requestCode) {
    case MSG_CODE_REQ_SERVER_LIST:
    case MSG_CODE_REQ_UPLOAD_FILE: return HeaderCheck::Magic;
    case MSG_CODE_REQ_UPLOAD_INFO:
    case MSG_CODE_REQ_FILE_LIST: return HeaderCheck::NonZeroLength;
    default: return HeaderCheck::None;
    }
}

bool ReceiveExact(const Receive& receive, void* buffer, size_t size) {
    uint8_t* p = static_cast<uint8_t*>(buffer);
    size_t got = 0;
    while (got < size) {
        size_t want = size - got;
        if (want > 0x10000000) want = 0x10000000;
        int n = receive(p + got, static_cast<int>(want));
        if (n <= 0 || static_cast<size_t>(n) > want) return false;
        got += static_cast<size_t>(n);
    }
    return true;
}

bool ReadReply(const Receive& receive, uint32_t requestCode, HeaderCheck check, Bytes& message) {
    message.clear();
    PacketHeader h;
    if (!ReceiveExact(receive, &h, sizeof h)) return false;
    if (check == HeaderCheck::Magic && h.magic != kMagic) return false;
    if (check == HeaderCheck::NonZeroLength && h.bodyLength == 0) return false;
    if (h.bodyLength > MaxReplyBody(requestCode)) return false;
    Bytes m(sizeof h + h.bodyLength);
    std::memcpy(m.data(), &h, sizeof h);
    if (!ReceiveExact(receive, m.data() + sizeof h, h.bodyLength)) return false;
    message.swap(m);
    return true;
}

bool ReadFixedReply(const Receive& receive, size_t size, Bytes& message) {
    message.assign(size, 0);
    if (ReceiveExact(receive, message.data(), size)) return true;
    message.clear();
    return false;
}

bool ReadSessionReply(const Receive& receive, Bytes& message) {
    message.clear();
    Bytes m(kSessionReplyLimit);
    size_t got = 0;
    while (got < m.size()) {
        const size_t want = m.size() - got;
        const int n = receive(m.data() + got, static_cast<int>(want));
        // A close, an error or the time-out's cut ends the reply with what came.
        if (n <= 0 || static_cast<size_t>(n) > want) break;
        got += static_cast<size_t>(n);
        // A server may keep the connection open after a whole reply: no waiting for its close.
        if (SessionTextComplete(m.data(), got)) break;
    }
    if (got < sizeof(PacketHeader)) return false;
    m.resize(got);
    message.swap(m);
    return true;
}

bool HasReply(uint32_t requestCode) {
    switch (requestCode) {
    case MSG_CODE_SEND_FILE_DATA:
    case MSG_CODE_REQ_DELETE_FILE:
    case MSG_CODE_REQ_RENAME_FILE: return false;
    default: return true;
    }
}

bool ReadReplyTo(uint32_t requestCode, const Receive& receive, Bytes& message) {
    message.clear();
    switch (requestCode) {
    case MSG_CODE_REQ_LOGIN:
    case MSG_CODE_REQ_LOGIN_BY_SESSION: return ReadFixedReply(receive, sizeof(LoginReply), message);
    case MSG_CODE_REQ_USER_SPACE: return ReadFixedReply(receive, sizeof(UserSpaceReply), message);
    case MSG_CODE_REQ_FILE_SERVER: return ReadFixedReply(receive, sizeof(FileServerReply), message);
    case MSG_CODE_REQ_SESSION_QUERY: return ReadSessionReply(receive, message);
    default:
        if (!HasReply(requestCode)) return false;
        return ReadReply(receive, requestCode, HeaderCheckFor(requestCode), message);
    }
}

}  // namespace protocol
