// The upload protocol: a 12-byte PacketHeader and a body per message code, little-endian and
// packed. Builders give the exact bytes of each request; parsers read replies without ever
// going past what arrived.
// Wire records: PacketHeader, LoginRequest, LoginReply, IdRequest, UserFileRequest,
// UserSpaceReply, ServerRecord, FileServerReply, UploadFileRequest, SegmentDescriptor,
// SegmentRecord, FileListRecord, RenameFileRequest.
// Parsed replies: LoginResult, ServerInfo, SegmentInfo, FileEntry, ListInfo.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
#error "the records below are laid out for a little-endian machine"
#endif

namespace protocol {

const uint32_t kMagic = 0x544E5246;  // "FRNT"
const uint16_t kControlPort = 20000;
const uint16_t kDataPort = 20001;

enum MessageCode : uint32_t {
    MSG_CODE_REQ_LOGIN = 224,
    MSG_CODE_REQ_USER_SPACE = 226,
    MSG_CODE_RSP_USER_SPACE = 227,
    MSG_CODE_REQ_SERVER_LIST = 230,
    MSG_CODE_REQ_LOGIN_BY_SESSION = 240,
    MSG_CODE_SEND_FILE_DATA = 242,
    MSG_CODE_REQ_FILE_LIST = 243,
    MSG_CODE_REQ_UPLOAD_INFO = 245,
    MSG_CODE_REQ_UPLOAD_FILE = 247,
    MSG_CODE_REQ_FILE_SERVER = 249,
    MSG_CODE_REQ_SESSION_QUERY = 251,
    MSG_CODE_REQ_DELETE_FILE = 253,
    MSG_CODE_REQ_RENAME_FILE = 254,
};

#pragma pack(push, 1)

struct PacketHeader {
    uint32_t magic;
    uint32_t code;
    uint32_t bodyLength;
};

struct LoginRequest {
    PacketHeader header;
    uint64_t zero;
    char mail[50];
    char password[50];
};

struct LoginReply {
    PacketHeader header;
    uint32_t result;
    uint32_t unused;
    uint64_t usedSpace;
    uint64_t totalSpace;
    uint64_t userId;
};

struct IdRequest {  // 226, 243 (user id), 249 (server id)
    PacketHeader header;
    uint64_t id;
};

struct UserFileRequest {  // 245, 253
    PacketHeader header;
    uint64_t userId;
    uint64_t fileId;
};

struct UserSpaceReply {
    PacketHeader header;
    uint64_t usedSpace;
    uint64_t totalSpace;
};

struct ServerRecord {
    uint32_t serverId;
    uint32_t unused1;
    char host[20];
    uint32_t load;
    uint32_t extra;
    uint16_t port;
    uint8_t unused2[6];
};

struct FileServerReply {
    PacketHeader header;
    ServerRecord server;
};

struct UploadFileRequest {
    PacketHeader header;
    uint64_t userId;
    uint64_t fileSize;
    uint32_t serverId;
    uint32_t threadCount;
    uint8_t zero[16];
    char fileName[256];
    char filePath[256];
};

struct SegmentDescriptor {
    uint32_t segmentNumber;
    uint8_t unused1[20];
    uint32_t startOffset;
    uint32_t unused2;
    uint32_t bytesDone;
    uint32_t unused3;
    uint32_t bytesRemaining;
    uint32_t unused4;
};

struct SegmentRecord {
    PacketHeader header;
    int64_t serverId;
    int64_t segmentNumber;
    int64_t userId;
    int64_t fileId;
    int64_t offset;
    int64_t bytesDone;
    int64_t bytesRemaining;
};

struct FileListRecord {
    uint64_t fileId;
    uint64_t serverId;
    uint64_t userId;
    uint8_t unused1[256];
    char filePath[256];
    char fileName[256];
    uint8_t unused2[16];
    char linkKey[64];
    uint64_t fileSize;
    uint16_t hoursLeft;
    uint16_t finished;
};

struct RenameFileRequest {
    PacketHeader header;
    uint64_t userId;
    uint64_t fileId;
    char newName[256];
};

#pragma pack(pop)

static_assert(sizeof(PacketHeader) == 12, "PacketHeader");
static_assert(offsetof(PacketHeader, code) == 4 && offsetof(PacketHeader, bodyLength) == 8, "PacketHeader");
static_assert(sizeof(LoginRequest) == 120, "LoginRequest");
static_assert(offsetof(LoginRequest, mail) == 12 + 8 && offsetof(LoginRequest, password) == 12 + 58, "LoginRequest");
static_assert(sizeof(LoginReply) == 44, "LoginReply");
static_assert(offsetof(LoginReply, usedSpace) == 12 + 8 && offsetof(LoginReply, totalSpace) == 12 + 16 &&
                  offsetof(LoginReply, userId) == 12 + 24,
              "LoginReply");
static_assert(sizeof(IdRequest) == 20 && sizeof(UserFileRequest) == 28, "id requests");
static_assert(sizeof(UserSpaceReply) == 28, "UserSpaceReply");
static_assert(sizeof(ServerRecord) == 44, "ServerRecord");
static_assert(offsetof(ServerRecord, host) == 8 && offsetof(ServerRecord, load) == 28 &&
                  offsetof(ServerRecord, extra) == 32 && offsetof(ServerRecord, port) == 36,
              "ServerRecord");
static_assert(sizeof(FileServerReply) == 56, "FileServerReply");
static_assert(sizeof(UploadFileRequest) == 564, "UploadFileRequest");
static_assert(offsetof(UploadFileRequest, fileSize) == 12 + 8 && offsetof(UploadFileRequest, serverId) == 12 + 16 &&
                  offsetof(UploadFileRequest, threadCount) == 12 + 20 &&
                  offsetof(UploadFileRequest, fileName) == 12 + 40 && offsetof(UploadFileRequest, filePath) == 12 + 296,
              "UploadFileRequest");
static_assert(sizeof(SegmentDescriptor) == 48, "SegmentDescriptor");
static_assert(offsetof(SegmentDescriptor, startOffset) == 24 && offsetof(SegmentDescriptor, bytesDone) == 32 &&
                  offsetof(SegmentDescriptor, bytesRemaining) == 40,
              "SegmentDescriptor");
static_assert(sizeof(SegmentRecord) == 68, "SegmentRecord");
static_assert(offsetof(SegmentRecord, serverId) == 12 && offsetof(SegmentRecord, fileId) == 36 &&
                  offsetof(SegmentRecord, bytesRemaining) == 60,
              "SegmentRecord");
static_assert(sizeof(FileListRecord) == 884, "FileListRecord");
static_assert(offsetof(FileListRecord, filePath) == 280 && offsetof(FileListRecord, fileName) == 536 &&
                  offsetof(FileListRecord, linkKey) == 808 && offsetof(FileListRecord, fileSize) == 872 &&
                  offsetof(FileListRecord, hoursLeft) == 880 && offsetof(FileListRecord, finished) == 882,
              "FileListRecord");
static_assert(sizeof(RenameFileRequest) == 284, "RenameFileRequest");

using Bytes = std::vector<uint8_t>;

// Text limits: a field holds its text and a NUL.
const size_t kShortField = 50;
const size_t kLongField = 256;
const size_t kSessionQueryLimit = 1024;  // header and frame together
const size_t kSessionReplyLimit = 1024;  // bytes of the session-query reply ever read
const size_t kSegmentLimit = 10;         // segments a row can hold

PacketHeader MakeHeader(uint32_t code, uint32_t bodyLength);

// Writes UTF-8 `text` into a zero-filled field, cut at a character boundary to leave room for
// the NUL; returns the bytes written.
size_t WriteTextField(char* field, size_t fieldSize, const std::string& text);
// Reads a field's text up to its NUL or the field's end, whichever comes first.
std::string ReadTextField(const char* field, size_t fieldSize);

// Requests. Texts are UTF-8. Builders that can refuse return false and leave `out` empty.
bool BuildLogin(const std::string& mail, const std::string& password, Bytes& out);
bool BuildLoginBySession(const std::string& mail, Bytes& out);
Bytes BuildUserSpace(uint64_t userId);
Bytes BuildServerList();
Bytes BuildFileList(uint64_t userId);
Bytes BuildUploadInfo(uint64_t userId, uint64_t fileId);
Bytes BuildUploadFile(uint64_t userId, uint64_t fileSize, uint32_t serverId, uint32_t threadCount,
                      const std::string& fileName, const std::string& filePath);
Bytes BuildFileServer(uint64_t serverId);
Bytes BuildDeleteFile(uint64_t userId, uint64_t fileId);
Bytes BuildRenameFile(uint64_t userId, uint64_t fileId, const std::string& newName);
// The whole message: header plus the frame text (16 digits, tag, XML). The name goes into the
// XML escaped, and the escaped message must fit kSessionQueryLimit.
bool BuildSessionQuery(const std::string& userName, Bytes& out);
std::string SessionQueryXml(const std::string& userName);

// The record a data connection starts with. The 32-bit values are zero-extended.
SegmentRecord MakeSegmentRecord(uint32_t serverId, uint32_t segmentNumber, uint32_t userId, uint32_t fileId,
                                uint32_t offset, uint32_t bytesDone, uint32_t bytesRemaining);
Bytes ToBytes(const SegmentRecord& record);

// Replies, parsed from what was read.
struct LoginResult {
    bool accepted = false;
    uint64_t usedSpace = 0, totalSpace = 0, userId = 0;
};
struct ServerInfo {
    uint32_t serverId = 0;
    std::string host;
    uint32_t load = 0;
    uint32_t extra = 0;
    uint16_t port = 0;
};
struct SegmentInfo {
    uint32_t segmentNumber = 0, startOffset = 0, bytesDone = 0, bytesRemaining = 0;
};
struct FileEntry {
    uint64_t fileId = 0, serverId = 0, userId = 0;
    std::string filePath, fileName, linkKey;
    uint64_t fileSize = 0;
    uint16_t hoursLeft = 0;
    bool finished = false;
};
struct ListInfo {
    uint32_t claimedCount = 0;  // the count the reply announced
    bool truncated = false;     // fewer items were taken than announced
};

// `message` is header and body as read. Each returns false when the bytes cannot be the reply.
bool ParseLoginReply(const uint8_t* message, size_t size, LoginResult& out);
bool ParseUserSpaceReply(const uint8_t* message, size_t size, uint64_t& used, uint64_t& total);
bool ParseServerList(const uint8_t* message, size_t size, std::vector<ServerInfo>& out, ListInfo* info = nullptr);
bool ParseUploadFileReply(const uint8_t* message, size_t size, uint64_t& fileId);
bool ParseSegmentList(const uint8_t* message, size_t size, std::vector<SegmentInfo>& out, ListInfo* info = nullptr);
bool ParseFileList(const uint8_t* message, size_t size, std::vector<FileEntry>& out, ListInfo* info = nullptr);
bool ParseFileServerReply(const uint8_t* message, size_t size, ServerInfo& out);
// The 8-bit text after the header of a session-query reply, up to its NUL or the end of what came.
std::string SessionReplyText(const uint8_t* message, size_t size);
// Session key and bind id from that text; empty where a marker is missing.
bool ParseSessionReply(const uint8_t* message, size_t size, std::string& sessionKey, std::string& bindId);
std::string ExtractBetweenText(const std::string& text, const std::string& start, const std::string& end);

ServerInfo ToServerInfo(const ServerRecord& r);
FileEntry ToFileEntry(const FileListRecord& r);

// Reading from a connection. The callback receives up to `size` bytes into the buffer and
// returns the count, 0 when the peer closed, below 0 on error.
using Receive = std::function<int(void* buffer, int size)>;

enum class HeaderCheck { None, Magic, NonZeroLength };

// How the client checks the reply header of each request: the magic for the server list and
// the announcement, a non-zero length for the segment and file lists, nothing else otherwise.
HeaderCheck HeaderCheckFor(uint32_t requestCode);

// Largest body a reply to `requestCode` may announce.
uint32_t MaxReplyBody(uint32_t requestCode);

// Reads until all `size` bytes came; false on a close or an error before that.
bool ReceiveExact(const Receive& receive, void* buffer, size_t size);
// Header and whole body; the header is checked and its length capped by MaxReplyBody.
bool ReadReply(const Receive& receive, uint32_t requestCode, HeaderCheck check, Bytes& message);
// A reply of known size, read whole (login 44, user space 28, file server 56).
bool ReadFixedReply(const Receive& receive, size_t size, Bytes& message);
// The session-query reply, whose header is never read: receives until kSessionReplyLimit bytes
// came, the peer closed, a receive failed (a time-out among them), a NUL arrived after the
// 12 header bytes, or the text there holds both closing markers after their start markers.
// `message` is what came; false when that is less than a header.
bool ReadSessionReply(const Receive& receive, Bytes& message);
// The reply to a request of `requestCode`, read the way that request's reply is read: fixed
// sizes for login, user space and file server, the session reply, else header and body with
// the request's header check. False for a request that has no reply.
bool ReadReplyTo(uint32_t requestCode, const Receive& receive, Bytes& message);
// Whether a request of `requestCode` is answered at all.
bool HasReply(uint32_t requestCode);

}  // namespace protocol
