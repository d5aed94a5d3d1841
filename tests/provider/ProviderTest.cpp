#include <gtest/gtest.h>

#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "provider/Provider.h"
#include "tests/support/RawClient.h"

using namespace protocol;
using provider::Fault;
using provider::Provider;
using provider_test::Client;

namespace {

class ProviderTest : public ::testing::Test {
protected:
    void StartAt(const std::string& address) {
        ASSERT_TRUE(m_provider.Start(address));
        auto& s = m_provider.State();
        s.AddUser({"a@b.cn", "secret", 0x100000007ull, 100, 1000000});
        s.AddServer({3, "127.0.2.9", 2, 0, 20000});
        s.AddServer({4, address, 1, 0, 20000});
        s.AddSession("web-user", {"KEY-1", "BIND-2"});
    }
    Provider m_provider;
};

}  // namespace

TEST_F(ProviderTest, WholeUploadRoadOverRawSockets) {
    const std::string host = "127.0.2.1";
    StartAt(host);
    auto& state = m_provider.State();

    Client control(host, kControlPort);
    ASSERT_TRUE(control.Connected());
    Bytes login, m;
    ASSERT_TRUE(BuildLogin("a@b.cn", "secret", login));
    ASSERT_TRUE(control.Send(login));
    ASSERT_TRUE(ReadFixedReply(control.Fn(), sizeof(LoginReply), m));
    LoginResult who;
    ASSERT_TRUE(ParseLoginReply(m.data(), m.size(), who));
    ASSERT_TRUE(who.accepted);
    EXPECT_EQ(who.userId, 0x100000007ull);
    ASSERT_EQ(state.RequestsOf(MSG_CODE_REQ_LOGIN).size(), 1u);
    EXPECT_EQ(state.RequestsOf(MSG_CODE_REQ_LOGIN)[0].bytes, login);

    // Several requests on one connection, as the list loads send them.
    ASSERT_TRUE(control.Send(BuildServerList()));
    ASSERT_TRUE(ReadReply(control.Fn(), MSG_CODE_REQ_SERVER_LIST, HeaderCheck::Magic, m));
    std::vector<ServerInfo> servers;
    ASSERT_TRUE(ParseServerList(m.data(), m.size(), servers));
    ASSERT_EQ(servers.size(), 2u);
    EXPECT_EQ(servers[1].host, host);

    const std::string content(70000, 'z');
    ASSERT_TRUE(control.Send(BuildUploadFile(who.userId, content.size(), 4, 3, "数据.bin", "C:\\数据.bin")));
    ASSERT_TRUE(ReadReply(control.Fn(), MSG_CODE_REQ_UPLOAD_FILE, HeaderCheck::Magic, m));
    uint64_t fileId = 0;
    ASSERT_TRUE(ParseUploadFileReply(m.data(), m.size(), fileId));
    ASSERT_NE(fileId, 0u);

    ASSERT_TRUE(control.Send(BuildUploadInfo(who.userId, fileId)));
    ASSERT_TRUE(ReadReply(control.Fn(), MSG_CODE_REQ_UPLOAD_INFO, HeaderCheck::NonZeroLength, m));
    std::vector<SegmentInfo> segments;
    ASSERT_TRUE(ParseSegmentList(m.data(), m.size(), segments));
    ASSERT_EQ(segments.size(), 3u);

    for (const SegmentInfo& seg : segments) {
        Client data(host, kDataPort);
        ASSERT_TRUE(data.Connected());
        Bytes record = ToBytes(MakeSegmentRecord(4, seg.segmentNumber, uint32_t(who.userId), uint32_t(fileId),
                                                 seg.startOffset, seg.bytesDone, seg.bytesRemaining));
        record.insert(record.end(), content.begin() + seg.startOffset,
                      content.begin() + seg.startOffset + seg.bytesRemaining);
        ASSERT_TRUE(data.Send(record));
    }
    ASSERT_TRUE(state.WaitForRequests(MSG_CODE_SEND_FILE_DATA, 3, 5000));
    for (int i = 0; i < 250 && !state.File(fileId)->Finished(); ++i) Sleep(20);
    auto stored = state.File(fileId);
    ASSERT_TRUE(stored->Finished());
    EXPECT_EQ(std::string(stored->data.begin(), stored->data.end()), content);
    EXPECT_EQ(stored->name, "数据.bin");

    ASSERT_TRUE(control.Send(BuildRenameFile(who.userId, fileId, "新.bin")));
    ASSERT_TRUE(control.Send(BuildFileList(who.userId)));
    ASSERT_TRUE(ReadReply(control.Fn(), MSG_CODE_REQ_FILE_LIST, HeaderCheck::NonZeroLength, m));
    std::vector<FileEntry> files;
    ASSERT_TRUE(ParseFileList(m.data(), m.size(), files));
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].fileName, "新.bin");
    EXPECT_TRUE(files[0].finished);
    EXPECT_EQ(files[0].fileSize, content.size());

    ASSERT_TRUE(control.Send(BuildFileServer(files[0].serverId)));
    ASSERT_TRUE(ReadFixedReply(control.Fn(), sizeof(FileServerReply), m));
    ServerInfo holder;
    ASSERT_TRUE(ParseFileServerReply(m.data(), m.size(), holder));
    EXPECT_EQ(holder.host, host);

    ASSERT_TRUE(control.Send(BuildUserSpace(who.userId)));
    ASSERT_TRUE(ReadFixedReply(control.Fn(), sizeof(UserSpaceReply), m));
    uint64_t used = 0, total = 0;
    EXPECT_TRUE(ParseUserSpaceReply(m.data(), m.size(), used, total));
    EXPECT_EQ(used, 100u + content.size());
    EXPECT_EQ(total, 1000000u);

    Bytes query;
    ASSERT_TRUE(BuildSessionQuery("web-user", query));
    ASSERT_TRUE(control.Send(query));
    ASSERT_TRUE(ReadSessionReply(control.Fn(), m));
    std::string key, bind;
    ASSERT_TRUE(ParseSessionReply(m.data(), m.size(), key, bind));
    EXPECT_EQ(key, "KEY-1");
    EXPECT_EQ(bind, "BIND-2");

    ASSERT_TRUE(control.Send(BuildDeleteFile(who.userId, fileId)));
    ASSERT_TRUE(state.WaitForRequests(MSG_CODE_REQ_DELETE_FILE, 1, 5000));
    EXPECT_FALSE(state.File(fileId).has_value());
    ASSERT_TRUE(control.Send(BuildUserSpace(who.userId)));
    ASSERT_TRUE(ReadFixedReply(control.Fn(), sizeof(UserSpaceReply), m));
    EXPECT_TRUE(ParseUserSpaceReply(m.data(), m.size(), used, total));
    EXPECT_EQ(used, 100u) << "a deleted file frees its space";
}

TEST_F(ProviderTest, InjectedFaultsReachTheClientsReader) {
    const std::string host = "127.0.2.2";
    StartAt(host);
    struct Case {
        const char* name;
        Fault fault;
        bool ok;
        size_t servers;
    };
    Fault split, shortReply, closeNow, wrongMagic, hostileLength, hostileCount, delay, stall;
    split.splitBytes = 3;
    shortReply.shortBytes = 20;
    closeNow.closeWithoutReply = true;
    wrongMagic.wrongMagic = true;
    hostileLength.bodyLength = 0x7FFFFFF0u;
    hostileCount.count = 5000;
    delay.delayMs = 300;
    stall.stall = true;
    const Case cases[] = {
        {"split", split, true, 2},
        {"short", shortReply, false, 0},
        {"close without reply", closeNow, false, 0},
        {"wrong magic", wrongMagic, false, 0},
        {"hostile length", hostileLength, false, 0},
        {"hostile count", hostileCount, true, 2},
        {"delay", delay, true, 2},
        {"stall", stall, false, 0},
    };
    for (const Case& c : cases) {
        m_provider.State().SetFault(MSG_CODE_REQ_SERVER_LIST, c.fault);
        Client client(host, kControlPort, 1000);
        ASSERT_TRUE(client.Connected()) << c.name;
        ASSERT_TRUE(client.Send(BuildServerList())) << c.name;
        Bytes m;
        ASSERT_EQ(ReadReply(client.Fn(), MSG_CODE_REQ_SERVER_LIST, HeaderCheck::Magic, m), c.ok) << c.name;
        if (!c.ok) continue;
        std::vector<ServerInfo> servers;
        ASSERT_TRUE(ParseServerList(m.data(), m.size(), servers)) << c.name;
        EXPECT_EQ(servers.size(), c.servers) << c.name;
    }
    // A fault limited to one request lets the next one through.
    Fault once;
    once.closeWithoutReply = true;
    once.times = 1;
    m_provider.State().SetFault(MSG_CODE_REQ_SERVER_LIST, once);
    for (bool ok : {false, true}) {
        Client client(host, kControlPort, 1000);
        ASSERT_TRUE(client.Send(BuildServerList()));
        Bytes m;
        EXPECT_EQ(ReadReply(client.Fn(), MSG_CODE_REQ_SERVER_LIST, HeaderCheck::Magic, m), ok);
    }
}

TEST_F(ProviderTest, RefusalsAndChosenPorts) {
    ASSERT_TRUE(m_provider.Start("127.0.2.3", 0, 0));
    EXPECT_NE(m_provider.ControlPort(), 0);
    EXPECT_NE(m_provider.ControlPort(), m_provider.DataPort());
    Provider second;
    EXPECT_FALSE(second.Start("127.0.2.3", m_provider.ControlPort(), 0)) << "port already taken";

    m_provider.State().AddUser({"a@b.cn", "secret", 7, 0, 100});
    Client client("127.0.2.3", m_provider.ControlPort());
    Bytes login, m;
    ASSERT_TRUE(BuildLogin("a@b.cn", "wrong", login));
    ASSERT_TRUE(client.Send(login));
    ASSERT_TRUE(ReadFixedReply(client.Fn(), sizeof(LoginReply), m));
    LoginResult who;
    ASSERT_TRUE(ParseLoginReply(m.data(), m.size(), who));
    EXPECT_FALSE(who.accepted);
    // Quota 100: 60 fits, a further 60 does not; a refusing server takes nothing.
    struct Upload {
        uint64_t size;
        bool refuse;
        bool accepted;
    };
    for (const Upload& u :
         {Upload{60, false, true}, Upload{60, false, false}, Upload{10, true, false}, Upload{40, false, true}}) {
        m_provider.State().SetRefuseUploads(u.refuse);
        ASSERT_TRUE(client.Send(BuildUploadFile(7, u.size, 1, 1, "a", "b")));
        ASSERT_TRUE(ReadReply(client.Fn(), MSG_CODE_REQ_UPLOAD_FILE, HeaderCheck::Magic, m));
        uint64_t fileId = 1;
        ASSERT_TRUE(ParseUploadFileReply(m.data(), m.size(), fileId));
        EXPECT_EQ(fileId != 0, u.accepted) << u.size;
    }
    ASSERT_TRUE(client.Send(BuildUserSpace(7)));
    ASSERT_TRUE(ReadFixedReply(client.Fn(), sizeof(UserSpaceReply), m));
    uint64_t used = 0, total = 0;
    ASSERT_TRUE(ParseUserSpaceReply(m.data(), m.size(), used, total));
    EXPECT_EQ(used, 100u);
    EXPECT_EQ(total, 100u);
    // A stalled data side must not hold up the provider's shutdown.
    Fault stall;
    stall.stall = true;
    m_provider.State().SetFault(MSG_CODE_SEND_FILE_DATA, stall);
    Client data("127.0.2.3", m_provider.DataPort());
    ASSERT_TRUE(data.Send(ToBytes(MakeSegmentRecord(1, 0, 7, 1, 0, 0, 10))));
    EXPECT_TRUE(m_provider.State().WaitForRequests(MSG_CODE_SEND_FILE_DATA, 1, 5000));
    m_provider.Stop();
}

namespace {

// What the client takes from a reply to `code`, through its own parsers; "unreadable" when they refuse it.
std::string Taken(uint32_t code, const Bytes& m) {
    std::string out;
    auto add = [&out](const auto&... values) { ((out += std::to_string(values) + " "), ...); };
    auto server = [&](const ServerInfo& s) {
        add(s.serverId, s.load, s.extra, s.port);
        out += s.host + "; ";
    };
    const uint8_t* p = m.data();
    switch (code) {
    case MSG_CODE_REQ_LOGIN: {
        LoginResult r;
        if (!ParseLoginReply(p, m.size(), r)) return "unreadable";
        add(int(r.accepted), r.usedSpace, r.totalSpace, r.userId);
        return out;
    }
    case MSG_CODE_REQ_USER_SPACE: {
        uint64_t used = 0, total = 0;
        if (!ParseUserSpaceReply(p, m.size(), used, total)) return "unreadable";
        add(used, total);
        return out;
    }
    case MSG_CODE_REQ_SERVER_LIST: {
        std::vector<ServerInfo> list;
        if (!ParseServerList(p, m.size(), list)) return "unreadable";
        for (const ServerInfo& s : list) server(s);
        return out;
    }
    case MSG_CODE_REQ_FILE_SERVER: {
        ServerInfo s;
        if (!ParseFileServerReply(p, m.size(), s)) return "unreadable";
        server(s);
        return out;
    }
    case MSG_CODE_REQ_UPLOAD_INFO: {
        std::vector<SegmentInfo> list;
        if (!ParseSegmentList(p, m.size(), list)) return "unreadable";
        for (const SegmentInfo& s : list) add(s.segmentNumber, s.startOffset, s.bytesDone, s.bytesRemaining);
        return out;
    }
    case MSG_CODE_REQ_FILE_LIST: {
        std::vector<FileEntry> list;
        if (!ParseFileList(p, m.size(), list)) return "unreadable";
        for (const FileEntry& f : list) {
            add(f.fileId, f.serverId, f.userId, f.fileSize, f.hoursLeft, int(f.finished));
            out += f.filePath + "|" + f.fileName + "|" + f.linkKey + "; ";
        }
        return out;
    }
    case MSG_CODE_REQ_SESSION_QUERY: {
        std::string key, bind;
        if (!ParseSessionReply(p, m.size(), key, bind)) return "unreadable";
        return key + "|" + bind;
    }
    default: return "unreadable";
    }
}

}  // namespace

// The client reads a reply to each request its own way; whatever it does not read the stand-in
// may fill with garbage, and each reply must still give the client exactly what it gave before.
TEST_F(ProviderTest, HeaderGarbageLeavesWhatTheClientTakes) {
    const std::string host = "127.0.2.4";
    StartAt(host);
    auto& state = m_provider.State();
    // One connection per exchange: the garbage after the session text's NUL stays unread.
    auto ask = [&](const Bytes& request, uint32_t code, Bytes& m) {
        Client c(host, kControlPort);
        return c.Send(request) && ReadReplyTo(code, c.Fn(), m);
    };
    Bytes m;
    ASSERT_TRUE(
        ask(BuildUploadFile(0x100000007ull, 50000, 4, 3, "数据.bin", "C:\\数据.bin"), MSG_CODE_REQ_UPLOAD_FILE, m));
    uint64_t fileId = 0;
    ASSERT_TRUE(ParseUploadFileReply(m.data(), m.size(), fileId));
    ASSERT_NE(fileId, 0u);
    Bytes login, query;
    ASSERT_TRUE(BuildLogin("a@b.cn", "secret", login));
    ASSERT_TRUE(BuildSessionQuery("web-user", query));

    enum : int { kMagicField = 1, kCodeField = 2, kLengthField = 4 };
    struct Case {
        const char* name;
        uint32_t code;
        Bytes request;
        int garbageFields;  // header fields that must differ from the honest reply
        bool bodyGarbage;   // unread body bytes differ too
    };
    const Case cases[] = {
        {"login", MSG_CODE_REQ_LOGIN, login, kMagicField | kCodeField | kLengthField, true},
        {"user space, code 227 kept", MSG_CODE_REQ_USER_SPACE, BuildUserSpace(0x100000007ull),
         kMagicField | kLengthField, false},
        {"server list", MSG_CODE_REQ_SERVER_LIST, BuildServerList(), kCodeField, true},
        {"segment list", MSG_CODE_REQ_UPLOAD_INFO, BuildUploadInfo(0x100000007ull, fileId), kMagicField | kCodeField,
         true},
        {"file list", MSG_CODE_REQ_FILE_LIST, BuildFileList(0x100000007ull), kMagicField | kCodeField, true},
        {"file server", MSG_CODE_REQ_FILE_SERVER, BuildFileServer(4), kMagicField | kCodeField | kLengthField, true},
        {"session query", MSG_CODE_REQ_SESSION_QUERY, query, kMagicField | kCodeField | kLengthField, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        state.SetHeaderGarbage(false);
        Bytes honest;
        ASSERT_TRUE(ask(c.request, c.code, honest));
        ASSERT_NE(Taken(c.code, honest), "unreadable");
        PacketHeader truth;
        std::memcpy(&truth, honest.data(), sizeof truth);
        state.SetHeaderGarbage(true);
        // Each of the lies about an unread length: 0 first.
        for (int round = 0; round < 3; ++round) {
            SCOPED_TRACE(round);
            Bytes garbled;
            ASSERT_TRUE(ask(c.request, c.code, garbled));
            EXPECT_EQ(Taken(c.code, garbled), Taken(c.code, honest));
            PacketHeader h;
            std::memcpy(&h, garbled.data(), sizeof h);
            EXPECT_EQ(h.magic != truth.magic, (c.garbageFields & kMagicField) != 0);
            EXPECT_EQ(h.code != truth.code, (c.garbageFields & kCodeField) != 0);
            EXPECT_EQ(h.bodyLength != truth.bodyLength, (c.garbageFields & kLengthField) != 0);
            if (round == 0 && (c.garbageFields & kLengthField)) {
                EXPECT_EQ(h.bodyLength, 0u);
            }
            // What came of a session reply past its NUL may or may not hold the garbage after it.
            const bool bodySame = garbled.size() >= honest.size() &&
                                  std::equal(honest.begin() + sizeof h, honest.end(), garbled.begin() + sizeof h);
            EXPECT_EQ(!bodySame, c.bodyGarbage);
        }
    }
    // The announcement's code goes too, and its file id stays.
    Bytes garbled;
    ASSERT_TRUE(ask(BuildUploadFile(0x100000007ull, 10, 4, 1, "b", "C:\\b"), MSG_CODE_REQ_UPLOAD_FILE, garbled));
    PacketHeader h;
    std::memcpy(&h, garbled.data(), sizeof h);
    EXPECT_EQ(h.magic, kMagic);
    EXPECT_NE(h.code, MSG_CODE_REQ_UPLOAD_FILE + 1u);
    EXPECT_EQ(h.bodyLength, 8u);
    ASSERT_TRUE(ParseUploadFileReply(garbled.data(), garbled.size(), fileId));
    EXPECT_NE(fileId, 0u);
}
