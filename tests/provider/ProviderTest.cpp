#include <gtest/gtest.h>

#include <winsock2.h>
#include <ws2tcpip.h>

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
