#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "client/transfer/Protocol.h"

using namespace protocol;

namespace {

Bytes Le32(uint32_t v) { return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}; }
Bytes Le64(uint64_t v) {
    Bytes b = Le32(uint32_t(v)), h = Le32(uint32_t(v >> 32));
    b.insert(b.end(), h.begin(), h.end());
    return b;
}
Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

// A zero-filled message of `size` bytes with the given header and pieces at body offsets.
Bytes Expect(size_t size, uint32_t code, uint32_t bodyLength, std::vector<std::pair<size_t, Bytes>> pieces) {
    Bytes b(size, 0);
    Bytes head = Text("FRNT"), c = Le32(code), l = Le32(bodyLength);
    head.insert(head.end(), c.begin(), c.end());
    head.insert(head.end(), l.begin(), l.end());
    std::copy(head.begin(), head.end(), b.begin());
    for (auto& p : pieces) std::copy(p.second.begin(), p.second.end(), b.begin() + 12 + p.first);
    return b;
}

Bytes Login(const std::string& mail, const std::string& pass) {
    Bytes b;
    EXPECT_TRUE(BuildLogin(mail, pass, b));
    return b;
}
Bytes LoginSession(const std::string& mail) {
    Bytes b;
    EXPECT_TRUE(BuildLoginBySession(mail, b));
    return b;
}

}  // namespace

TEST(ProtocolRequests, ExactBytesOfEveryMessageKind) {
    const std::string mail49(49, 'm');
    struct Case {
        const char* name;
        Bytes actual;
        Bytes expected;
    };
    const Case cases[] = {
        {"login", Login("a@b.cn", "pw"), Expect(120, 224, 108, {{8, Text("a@b.cn")}, {58, Text("pw")}})},
        {"login 49-byte mail", Login(mail49, "x"), Expect(120, 224, 108, {{8, Text(mail49)}, {58, Text("x")}})},
        {"login by session", LoginSession("u@b.cn"), Expect(120, 240, 108, {{8, Text("u@b.cn")}})},
        {"user space", BuildUserSpace(0x1122334455667788ull), Expect(20, 226, 8, {{0, Le64(0x1122334455667788ull)}})},
        {"server list", BuildServerList(), Expect(12, 230, 0, {})},
        {"file list", BuildFileList(7), Expect(20, 243, 8, {{0, Le64(7)}})},
        {"upload info", BuildUploadInfo(7, 0x80000001u), Expect(28, 245, 16, {{0, Le64(7)}, {8, Le64(0x80000001u)}})},
        {"upload file", BuildUploadFile(7, 0x100000005ull, 3, 5, "a.txt", "C:\\d\\a.txt"),
         Expect(564, 247, 552,
                {{0, Le64(7)},
                 {8, Le64(0x100000005ull)},
                 {16, Le32(3)},
                 {20, Le32(5)},
                 {40, Text("a.txt")},
                 {296, Text("C:\\d\\a.txt")}})},
        {"file server", BuildFileServer(9), Expect(20, 249, 8, {{0, Le64(9)}})},
        {"delete file", BuildDeleteFile(7, 8), Expect(28, 253, 16, {{0, Le64(7)}, {8, Le64(8)}})},
        {"rename file", BuildRenameFile(7, 8, "新.txt"),
         Expect(284, 254, 272, {{0, Le64(7)}, {8, Le64(8)}, {16, Text("新.txt")}})},
        {"segment record, zero-extended",
         ToBytes(MakeSegmentRecord(2, 1, 0x80000000u, 0xFFFFFFFFu, 0x90000000u, 5, 40000)),
         Expect(68, 242, 56,
                {{0, Le64(2)},
                 {8, Le64(1)},
                 {16, Le64(0x80000000u)},
                 {24, Le64(0xFFFFFFFFu)},
                 {32, Le64(0x90000000u)},
                 {40, Le64(5)},
                 {48, Le64(40000)}})},
    };
    for (const Case& c : cases) EXPECT_EQ(c.actual, c.expected) << c.name;
}

TEST(ProtocolRequests, SessionQueryFrameAnnouncesXmlLengthPlusTwo) {
    const size_t base = SessionQueryXml("").size();
    ASSERT_LT(base, 190u);
    const std::string user(190 - base, 'u');
    Bytes b;
    ASSERT_TRUE(BuildSessionQuery(user, b));
    const std::string frame = "0000000000000192SGDP000000000001" + SessionQueryXml(user);
    Bytes expected = Expect(12, 251, uint32_t(frame.size()), {});
    expected.insert(expected.end(), frame.begin(), frame.end());
    EXPECT_EQ(b, expected);
    EXPECT_EQ(frame.size(), 32u + 190u);
    EXPECT_NE(SessionQueryXml(user).find("<UserName>" + user + "</UserName>"), std::string::npos);
}

TEST(ProtocolRequests, TextLimits) {
    Bytes b;
    // The largest user name whose message fills exactly 1024 bytes, and one byte more.
    const size_t fits = 1024 - 12 - 32 - SessionQueryXml("").size();
    EXPECT_TRUE(BuildSessionQuery(std::string(fits, 'u'), b));
    EXPECT_EQ(b.size(), 1024u);
    EXPECT_FALSE(BuildSessionQuery(std::string(fits + 1, 'u'), b));
    EXPECT_TRUE(b.empty());

    struct Refused {
        std::string mail, pass;
    };
    for (const Refused& r : {Refused{std::string(50, 'm'), "p"}, Refused{"m", std::string(50, 'p')}}) {
        EXPECT_FALSE(BuildLogin(r.mail, r.pass, b));
        EXPECT_TRUE(b.empty());
    }
    EXPECT_FALSE(BuildLoginBySession(std::string(50, 'm'), b));

    // Long texts are cut at a character boundary and keep their NUL.
    struct Cut {
        std::string in;
        size_t kept;
    };
    const Cut cuts[] = {
        {std::string(300, 'a'), 255},
        {std::string(254, 'a') + "中", 254},                // 3-byte character would end at 257
        {std::string(252, 'a') + "中", 255},                // ends exactly at 255
        {std::string(253, 'a') + "\xF0\x9F\x98\x80", 253},  // 4-byte character
    };
    for (const Cut& c : cuts) {
        Bytes r = BuildRenameFile(1, 2, c.in);
        const char* field = reinterpret_cast<const char*>(r.data()) + 28;
        EXPECT_EQ(ReadTextField(field, 256), c.in.substr(0, c.kept)) << c.in.size();
        EXPECT_EQ(field[255], 0);
        Bytes u = BuildUploadFile(1, 1, 1, 1, c.in, c.in);
        EXPECT_EQ(ReadTextField(reinterpret_cast<const char*>(u.data()) + 12 + 296, 256), c.in.substr(0, c.kept));
    }
}

TEST(ProtocolRequests, SessionQueryEscapesTheUserName) {
    const std::string head =
        "<?xml version='1.0' encoding='UTF-8' standalone='no' ?><xml><SessionQuery "
        "type='result'><UserName>";
    const std::string tail = "</UserName><Thread>1234567890</Thread><AppType>nsm</AppType></SessionQuery></xml>";
    struct Case {
        std::string name, escaped;
        const char* digits;
    };  // no digits: refused
    const Case cases[] = {
        {"user", "user", "0000000000000185"},
        {"a&b", "a&amp;b", "0000000000000188"},
        {"<x>", "&lt;x&gt;", "0000000000000190"},
        {"\"q'", "&quot;q&apos;", "0000000000000194"},
        {"&amp;", "&amp;amp;", "0000000000000190"},
        {"</UserName><AppType>x</AppType>", "&lt;/UserName&gt;&lt;AppType&gt;x&lt;/AppType&gt;", "0000000000000230"},
        // 797 bytes as typed, 801 escaped: the message fills 1024 bytes exactly.
        {std::string(796, 'u') + "&", std::string(796, 'u') + "&amp;", "0000000000000982"},
        // Fits as typed, not once escaped.
        {std::string(797, 'u') + "&", "", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name.substr(0, 40));
        Bytes b;
        if (!c.digits) {
            EXPECT_FALSE(BuildSessionQuery(c.name, b));
            EXPECT_TRUE(b.empty());
            continue;
        }
        const std::string xml = head + c.escaped + tail;
        EXPECT_EQ(SessionQueryXml(c.name), xml);
        ASSERT_TRUE(BuildSessionQuery(c.name, b));
        const std::string frame = c.digits + std::string("SGDP000000000001") + xml;
        Bytes expected = Expect(12, 251, uint32_t(frame.size()), {});
        expected.insert(expected.end(), frame.begin(), frame.end());
        EXPECT_EQ(b, expected);
    }
}

namespace {

struct Feed {
    Bytes data;
    size_t piece;        // bytes per receive
    bool error = false;  // an error instead of a close at the end: a connection left open, cut by the time-out
    size_t pos = 0;
    bool waited = false;  // a receive came after the last byte
    Receive Fn() {
        return [this](void* buf, int size) -> int {
            if (pos >= data.size()) {
                waited = true;
                return error ? -1 : 0;
            }
            size_t n = std::min({piece, size_t(size), data.size() - pos});
            std::memcpy(buf, data.data() + pos, n);
            pos += n;
            return int(n);
        };
    }
};

Bytes Message(uint32_t magic, uint32_t code, uint32_t length, const Bytes& body) {
    Bytes b = Le32(magic), c = Le32(code), l = Le32(length);
    b.insert(b.end(), c.begin(), c.end());
    b.insert(b.end(), l.begin(), l.end());
    b.insert(b.end(), body.begin(), body.end());
    return b;
}

Bytes ServerRec(uint32_t id, const std::string& host, uint32_t load, uint16_t port) {
    ServerRecord r;
    std::memset(&r, 0, sizeof r);
    r.serverId = id;
    std::memcpy(r.host, host.data(), std::min(host.size(), sizeof r.host));
    r.load = load;
    r.port = port;
    const uint8_t* p = reinterpret_cast<const uint8_t*>(&r);
    return Bytes(p, p + sizeof r);
}

Bytes Segment(uint32_t n, uint32_t start, uint32_t done, uint32_t left) {
    SegmentDescriptor d;
    std::memset(&d, 0xAB, sizeof d);  // unread fields hold noise
    d.segmentNumber = n;
    d.startOffset = start;
    d.bytesDone = done;
    d.bytesRemaining = left;
    const uint8_t* p = reinterpret_cast<const uint8_t*>(&d);
    return Bytes(p, p + sizeof d);
}

Bytes Cat(std::vector<Bytes> parts) {
    Bytes out;
    for (auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

}  // namespace

TEST(ProtocolReplies, ServerListAndSegmentListReadersAcceptAndReject) {
    const Bytes list2 = Cat({Le32(2), ServerRec(1, "10.0.0.1", 5, 20000), ServerRec(2, "10.0.0.2", 6, 20000)});
    const uint32_t big = MaxReplyBody(MSG_CODE_REQ_SERVER_LIST) + 1;
    struct Case {
        const char* name;
        Bytes wire;
        size_t piece;
        HeaderCheck check;
        bool ok;
    };
    const Case cases[] = {
        {"whole", Message(kMagic, 231, uint32_t(list2.size()), list2), 4096, HeaderCheck::Magic, true},
        {"split in single bytes", Message(kMagic, 231, uint32_t(list2.size()), list2), 1, HeaderCheck::Magic, true},
        {"short header", Cat({Le32(kMagic), Le32(231)}), 4096, HeaderCheck::Magic, false},
        {"body cut by close", Message(kMagic, 231, uint32_t(list2.size()) + 10, list2), 4096, HeaderCheck::Magic,
         false},
        {"wrong magic", Message(0x544E5247, 231, uint32_t(list2.size()), list2), 4096, HeaderCheck::Magic, false},
        {"wrong magic, not checked", Message(0x544E5247, 231, uint32_t(list2.size()), list2), 4096,
         HeaderCheck::NonZeroLength, true},
        {"zero length where it counts", Message(kMagic, 231, 0, {}), 4096, HeaderCheck::NonZeroLength, false},
        {"oversized length", Message(kMagic, 231, big, list2), 4096, HeaderCheck::Magic, false},
        {"hostile length 0xFFFFFFFF", Message(kMagic, 231, 0xFFFFFFFFu, list2), 4096, HeaderCheck::None, false},
    };
    for (const Case& c : cases) {
        Feed f{c.wire, c.piece};
        Bytes m;
        EXPECT_EQ(ReadReply(f.Fn(), MSG_CODE_REQ_SERVER_LIST, c.check, m), c.ok) << c.name;
        if (!c.ok) continue;
        std::vector<ServerInfo> servers;
        ASSERT_TRUE(ParseServerList(m.data(), m.size(), servers)) << c.name;
        ASSERT_EQ(servers.size(), 2u) << c.name;
        EXPECT_EQ(servers[1].host, "10.0.0.2");
        EXPECT_EQ(servers[1].load, 6u);
        EXPECT_EQ(servers[1].port, 20000);
    }
    EXPECT_EQ(HeaderCheckFor(MSG_CODE_REQ_UPLOAD_FILE), HeaderCheck::Magic);
    EXPECT_EQ(HeaderCheckFor(MSG_CODE_REQ_FILE_LIST), HeaderCheck::NonZeroLength);
    EXPECT_EQ(HeaderCheckFor(MSG_CODE_REQ_SESSION_QUERY), HeaderCheck::None);
    Feed failing{Message(kMagic, 231, 100, Bytes(50, 0)), 4096, true};
    Bytes m;
    EXPECT_FALSE(ReadReply(failing.Fn(), MSG_CODE_REQ_SERVER_LIST, HeaderCheck::Magic, m));
}

TEST(ProtocolReplies, ListCountsAreBoundByBodyAndRowSize) {
    // Count larger than the body: only whole records present are taken.
    Bytes overCount = Message(kMagic, 231, 0, Cat({Le32(1000), ServerRec(1, "1.2.3.4", 0, 1), Bytes(30, 0)}));
    std::vector<ServerInfo> servers;
    ListInfo info;
    ASSERT_TRUE(ParseServerList(overCount.data(), overCount.size(), servers, &info));
    EXPECT_EQ(servers.size(), 1u);
    EXPECT_TRUE(info.truncated);
    EXPECT_EQ(info.claimedCount, 1000u);

    // A host of 20 characters with no NUL stops at the field's end.
    Bytes noNul = Message(kMagic, 250, 44, ServerRec(3, "12345678901234567890", 0, 0));
    ServerInfo s;
    ASSERT_TRUE(ParseFileServerReply(noNul.data(), noNul.size(), s));
    EXPECT_EQ(s.host, "12345678901234567890");
    EXPECT_FALSE(ParseFileServerReply(noNul.data(), 55, s));

    // Twelve segments announced and sent: a row takes ten.
    std::vector<Bytes> parts{Le32(12)};
    for (uint32_t i = 0; i < 12; ++i) parts.push_back(Segment(i, i * 100, i, 100 - i));
    Bytes segs = Message(kMagic, 246, 0, Cat(parts));
    std::vector<SegmentInfo> list;
    ASSERT_TRUE(ParseSegmentList(segs.data(), segs.size(), list, &info));
    ASSERT_EQ(list.size(), 10u);
    EXPECT_TRUE(info.truncated);
    EXPECT_EQ(list[9].segmentNumber, 9u);
    EXPECT_EQ(list[9].startOffset, 900u);
    EXPECT_EQ(list[9].bytesDone, 9u);
    EXPECT_EQ(list[9].bytesRemaining, 91u);

    // No room for the count at all.
    Bytes empty = Message(kMagic, 246, 0, Bytes(3, 0));
    EXPECT_FALSE(ParseSegmentList(empty.data(), empty.size(), list));

    // File list record: texts and tail fields; a key with no NUL stops at 64 bytes.
    FileListRecord r;
    std::memset(&r, 0, sizeof r);
    r.fileId = 0x8000000000000001ull;
    r.serverId = 4;
    std::strcpy(r.fileName, "报告.doc");
    std::strcpy(r.filePath, "C:\\报告.doc");
    std::memset(r.linkKey, 'k', sizeof r.linkKey);
    r.fileSize = 5000000000ull;
    r.hoursLeft = 71;
    r.finished = 1;
    const uint8_t* p = reinterpret_cast<const uint8_t*>(&r);
    Bytes files = Message(kMagic, 244, 0, Cat({Le32(2), Bytes(p, p + sizeof r), Bytes(100, 0)}));
    std::vector<FileEntry> entries;
    ASSERT_TRUE(ParseFileList(files.data(), files.size(), entries, &info));
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].fileId, 0x8000000000000001ull);
    EXPECT_EQ(entries[0].fileName, "报告.doc");
    EXPECT_EQ(entries[0].filePath, "C:\\报告.doc");
    EXPECT_EQ(entries[0].linkKey, std::string(64, 'k'));
    EXPECT_EQ(entries[0].fileSize, 5000000000ull);
    EXPECT_EQ(entries[0].hoursLeft, 71);
    EXPECT_TRUE(entries[0].finished);
}

TEST(ProtocolReplies, FixedSizeReplies) {
    Bytes login = Message(kMagic, 225, 32, Cat({Le32(1), Le32(0), Le64(10), Le64(20), Le64(0x123456789ull)}));
    struct Case {
        const char* name;
        Bytes wire;
        size_t piece;
        bool read;
        bool accepted;
    };
    Bytes refused = login;
    refused[12] = 2;
    const Case cases[] = {
        {"accepted", login, 4096, true, true},
        {"accepted, split", login, 3, true, true},
        {"refused", refused, 4096, true, false},
        {"short", Bytes(login.begin(), login.end() - 1), 4096, false, false},
    };
    for (const Case& c : cases) {
        Feed f{c.wire, c.piece};
        Bytes m;
        ASSERT_EQ(ReadFixedReply(f.Fn(), 44, m), c.read) << c.name;
        LoginResult r;
        EXPECT_EQ(ParseLoginReply(m.data(), m.size(), r) && r.accepted, c.accepted) << c.name;
        if (c.accepted) {
            EXPECT_EQ(r.usedSpace, 10u);
            EXPECT_EQ(r.totalSpace, 20u);
            EXPECT_EQ(r.userId, 0x123456789ull);
        }
    }
    uint64_t used = 9, total = 9;
    Bytes space = Message(kMagic, 227, 16, Cat({Le64(100), Le64(200)}));
    EXPECT_TRUE(ParseUserSpaceReply(space.data(), space.size(), used, total));
    EXPECT_EQ(used, 100u);
    EXPECT_EQ(total, 200u);
    space[4] = 228;
    EXPECT_FALSE(ParseUserSpaceReply(space.data(), space.size(), used, total));
    EXPECT_EQ(used + total, 0u);

    uint64_t fileId = 1;
    Bytes upload = Message(kMagic, 248, 8, Le64(77));
    EXPECT_TRUE(ParseUploadFileReply(upload.data(), upload.size(), fileId));
    EXPECT_EQ(fileId, 77u);
    EXPECT_FALSE(ParseUploadFileReply(upload.data(), 19, fileId));
}

TEST(ProtocolReplies, SessionReplyIsReadByItsTextNotItsHeader) {
    const std::string both = "<r><SessionKey>K1</SessionKey><BindId>B2</BindId></r>";
    const std::string nul(1, '\0');
    const std::string past(1100, 'x');
    const size_t closed = 12 + both.find("</r>");  // just past "</BindId>"
    const std::string endsFirst = "</SessionKey></BindId><SessionKey>K</SessionKey><BindId>B</BindId>";
    enum End { Closes, StaysOpen };
    struct Case {
        const char* name;
        Bytes wire;
        size_t piece;
        End end;
        bool ok;
        std::string key, bind;
        size_t read;  // bytes taken
        bool waits;   // read on after the last byte, till the close or the time-out
    };
    const Bytes whole = Message(kMagic, 252, uint32_t(both.size() + 1), Text(both + nul));
    const Case cases[] = {
        {"header as sent", whole, 4096, Closes, true, "K1", "B2", whole.size(), false},
        {"length 0", Message(kMagic, 252, 0, Text(both + nul)), 4096, Closes, true, "K1", "B2", 12 + both.size() + 1,
         false},
        {"length past the body, open", Message(kMagic, 252, 500, Text(both + nul)), 4096, StaysOpen, true, "K1", "B2",
         12 + both.size() + 1, false},
        {"length past the cap", Message(kMagic, 252, 0xFFFFFFFFu, Text(both + nul)), 4096, Closes, true, "K1", "B2",
         12 + both.size() + 1, false},
        {"garbage magic and code", Message(0x12345678, 7, 3, Text(both + nul)), 4096, Closes, true, "K1", "B2",
         12 + both.size() + 1, false},
        {"zero header in pieces of 4", Message(0, 0, 0, Text(both + nul)), 4, StaysOpen, true, "K1", "B2", 64,
         false},  // the piece that completes "</BindId>"
        {"split in single bytes", whole, 1, Closes, true, "K1", "B2", closed, false},
        {"end marker missing", Message(kMagic, 252, 0, Text("<SessionKey>a<BindId>9</BindId>")), 4096, Closes, true, "",
         "9", 12 + 31, true},
        // No NUL and the peer keeps the line: the closing markers end the read at once.
        {"no NUL, open, whole", Message(kMagic, 252, 0, Text(both)), 4096, StaysOpen, true, "K1", "B2",
         12 + both.size(), false},
        {"no NUL, open, byte by byte", Message(kMagic, 252, 0, Text(both)), 1, StaysOpen, true, "K1", "B2", closed,
         false},
        {"bind id first, open", Message(kMagic, 252, 0, Text("<BindId>B</BindId><SessionKey>K</SessionKey>")), 2,
         StaysOpen, true, "K", "B", 12 + 44, false},
        {"closing markers before the start markers do not end it", Message(kMagic, 252, 0, Text(endsFirst)), 1,
         StaysOpen, true, "K", "B", 12 + endsFirst.size(), false},
        {"NUL ends it before the bind id", Message(kMagic, 252, 0, Text("<SessionKey>K</SessionKey>" + nul + both)), 4,
         StaysOpen, true, "K", "", 12 + 28, false},
        {"peer closes after part of the text", Message(kMagic, 252, 0, Text("<SessionKey>K</SessionKey><BindId>B")), 5,
         Closes, true, "K", "", 12 + 35, true},
        {"time-out after part of the text", Message(kMagic, 252, 0, Text("<SessionKey>K</SessionKey><BindId>B")), 4096,
         StaysOpen, true, "K", "", 12 + 35, true},
        {"header only", Message(kMagic, 252, 40, {}), 4096, Closes, true, "", "", 12, true},
        {"part of a header", Bytes(8, 'h'), 4096, Closes, false, "", "", 8, true},
        {"nothing, then close", {}, 4096, Closes, false, "", "", 0, true},
        {"nothing, then time-out", {}, 4096, StaysOpen, false, "", "", 0, true},
        // Never more than 1024 bytes, whatever follows: markers past them are not seen.
        {"1024-byte cap", Message(kMagic, 252, 0, Text(past + both)), 100, StaysOpen, true, "", "", 1024, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Feed f{c.wire, c.piece, c.end == StaysOpen};
        Bytes m{9};
        ASSERT_EQ(ReadSessionReply(f.Fn(), m), c.ok);
        EXPECT_EQ(f.pos, c.read);
        EXPECT_EQ(f.waited, c.waits);
        if (!c.ok) {
            EXPECT_TRUE(m.empty());
            continue;
        }
        EXPECT_EQ(m, Bytes(c.wire.begin(), c.wire.begin() + c.read));
        std::string key, bind;
        ASSERT_TRUE(ParseSessionReply(m.data(), m.size(), key, bind));
        EXPECT_EQ(key, c.key);
        EXPECT_EQ(bind, c.bind);
    }
}

TEST(ProtocolReplies, EachRequestCodeReadsItsOwnReply) {
    const Bytes login = Message(kMagic, 225, 32, Bytes(32, 1));
    const Bytes list = Cat({Le32(1), ServerRec(1, "10.0.0.1", 5, 20000)});
    const Bytes next = Message(kMagic, 231, 0, {});  // a following message, left unread
    const uint32_t wrongMagic = 0x544E5247;
    struct Case {
        const char* name;
        uint32_t code;
        Bytes wire;
        size_t piece;
        bool ok;
        size_t read;  // bytes taken when ok
    };
    const Case cases[] = {
        {"login", MSG_CODE_REQ_LOGIN, Cat({login, next}), 4096, true, 44},
        {"session login, split", MSG_CODE_REQ_LOGIN_BY_SESSION, login, 3, true, 44},
        {"login cut", MSG_CODE_REQ_LOGIN, Bytes(login.begin(), login.end() - 1), 4096, false, 0},
        {"user space, length field not used", MSG_CODE_REQ_USER_SPACE,
         Cat({Message(kMagic, 227, 0xFFFFFFFFu, Bytes(16, 2)), next}), 4096, true, 28},
        {"file server", MSG_CODE_REQ_FILE_SERVER, Cat({Message(kMagic, 250, 44, Bytes(44, 3)), next}), 4096, true, 56},
        {"file server cut", MSG_CODE_REQ_FILE_SERVER, Message(kMagic, 250, 44, Bytes(43, 3)), 4096, false, 0},
        {"login, header all garbage", MSG_CODE_REQ_LOGIN, Cat({Message(wrongMagic, 0, 0, Bytes(32, 1)), next}), 4096,
         true, 44},
        {"user space, magic and length not used", MSG_CODE_REQ_USER_SPACE, Message(wrongMagic, 227, 0, Bytes(16, 2)),
         4096, true, 28},
        // Only its parser tests the code 227.
        {"user space, another code read all the same", MSG_CODE_REQ_USER_SPACE, Message(kMagic, 228, 16, Bytes(16, 2)),
         4096, true, 28},
        {"file server, header all garbage", MSG_CODE_REQ_FILE_SERVER,
         Cat({Message(wrongMagic, 0, 0xFFFFFFFFu, Bytes(44, 3)), next}), 4096, true, 56},
        // Read by its text: the header's length and magic count for nothing.
        {"session reply, header all garbage", MSG_CODE_REQ_SESSION_QUERY,
         Message(wrongMagic, 0, 0, Text("<SessionKey>K</SessionKey><BindId>B</BindId>")), 4096, true, 12 + 44},
        {"session reply past its announced 1013 bytes", MSG_CODE_REQ_SESSION_QUERY,
         Message(kMagic, 252, 1013, Bytes(1100, 'x')), 4096, true, 1024},
        {"session reply, part of a header", MSG_CODE_REQ_SESSION_QUERY, Bytes(11, 'x'), 4096, false, 0},
        {"server list", MSG_CODE_REQ_SERVER_LIST, Cat({Message(kMagic, 231, uint32_t(list.size()), list), next}), 5,
         true, 12 + list.size()},
        {"server list, code not checked", MSG_CODE_REQ_SERVER_LIST,
         Message(kMagic, 0xDEADBEEF, uint32_t(list.size()), list), 4096, true, 12 + list.size()},
        {"server list, zero length not checked", MSG_CODE_REQ_SERVER_LIST, Cat({Message(kMagic, 231, 0, {}), next}),
         4096, true, 12},
        {"server list, wrong magic", MSG_CODE_REQ_SERVER_LIST, Message(wrongMagic, 231, uint32_t(list.size()), list),
         4096, false, 0},
        {"server list over its cap", MSG_CODE_REQ_SERVER_LIST,
         Message(kMagic, 231, MaxReplyBody(MSG_CODE_REQ_SERVER_LIST) + 1, list), 4096, false, 0},
        {"upload file", MSG_CODE_REQ_UPLOAD_FILE, Cat({Message(kMagic, 248, 8, Le64(77)), next}), 4096, true, 20},
        {"upload file, code not checked", MSG_CODE_REQ_UPLOAD_FILE, Message(kMagic, 0, 8, Le64(77)), 4096, true, 20},
        {"upload file, wrong magic", MSG_CODE_REQ_UPLOAD_FILE, Message(wrongMagic, 248, 8, Le64(77)), 4096, false, 0},
        {"upload file, body cut", MSG_CODE_REQ_UPLOAD_FILE, Message(kMagic, 248, 8, Bytes(7, 0)), 4096, false, 0},
        {"upload info, magic not checked", MSG_CODE_REQ_UPLOAD_INFO, Message(wrongMagic, 246, 4, Le32(0)), 4096, true,
         16},
        {"upload info, code not checked", MSG_CODE_REQ_UPLOAD_INFO,
         Cat({Message(kMagic, 0xDEADBEEF, 4, Le32(0)), next}), 4096, true, 16},
        {"upload info, zero length", MSG_CODE_REQ_UPLOAD_INFO, Message(kMagic, 246, 0, {}), 4096, false, 0},
        {"upload info over its cap", MSG_CODE_REQ_UPLOAD_INFO,
         Message(kMagic, 246, MaxReplyBody(MSG_CODE_REQ_UPLOAD_INFO) + 1, Le32(0)), 4096, false, 0},
        {"file list, magic and code not checked", MSG_CODE_REQ_FILE_LIST,
         Cat({Message(wrongMagic, 0, 4, Le32(0)), next}), 2, true, 16},
        {"file list, zero length", MSG_CODE_REQ_FILE_LIST, Message(kMagic, 244, 0, {}), 4096, false, 0},
        {"file list, body cut", MSG_CODE_REQ_FILE_LIST, Message(kMagic, 244, 900, Bytes(899, 0)), 4096, false, 0},
        {"file list over its cap", MSG_CODE_REQ_FILE_LIST,
         Message(kMagic, 244, MaxReplyBody(MSG_CODE_REQ_FILE_LIST) + 1, {}), 4096, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_TRUE(HasReply(c.code));
        Feed f{c.wire, c.piece};
        Bytes m{9};
        ASSERT_EQ(ReadReplyTo(c.code, f.Fn(), m), c.ok);
        if (!c.ok) {
            EXPECT_TRUE(m.empty());
            continue;
        }
        EXPECT_EQ(m, Bytes(c.wire.begin(), c.wire.begin() + c.read));
        EXPECT_EQ(f.pos, c.read);
    }
    // Requests nobody answers: nothing is read for them.
    for (uint32_t code : {MSG_CODE_SEND_FILE_DATA, MSG_CODE_REQ_DELETE_FILE, MSG_CODE_REQ_RENAME_FILE}) {
        SCOPED_TRACE(code);
        EXPECT_FALSE(HasReply(code));
        Feed f{login, 4096};
        Bytes m{9};
        EXPECT_FALSE(ReadReplyTo(code, f.Fn(), m));
        EXPECT_TRUE(m.empty());
        EXPECT_EQ(f.pos, 0u);
    }
}
