#include "client/transfer/FileListing.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "client/app/CAppSettings.h"
#include "provider/Provider.h"
#include "tests/support/UploadTestSupport.h"

namespace {

testing::Environment* const g_environment = testing::AddGlobalTestEnvironment(new upload_test::NetworkEnvironment);

using filelisting::Kind;

const uint64_t kUserId = 61;

upload_test::Addresses g_addresses("127.0.61.");

struct Stored {
    const char* name;
    uint32_t serverId;
    bool finished;
};

// Finished and unfinished records alternate, each on a server of its own, so a filter or an
// order that is off shows in the ids asked for.
const std::vector<Stored> kMixed = {
    {"u1.bin", 7, false}, {"f1.bin", 8, true}, {"u2.bin", 9, false}, {"f2.bin", 10, true}};

// Of a received request: its code and the id it asks about (user for 243, server for 249,
// file for 245).
std::string Asked(const provider::ReceivedRequest& r) {
    uint64_t id = 0;
    const size_t at = sizeof(protocol::PacketHeader) + (r.code == protocol::MSG_CODE_REQ_UPLOAD_INFO ? 8 : 0);
    if (r.bytes.size() >= at + sizeof id) std::memcpy(&id, r.bytes.data() + at, sizeof id);
    return std::to_string(r.code) + ":" + std::to_string(id);
}

// The second request of `code` is closed unanswered; the first is answered.
void FailSecond(provider::ProviderState& state, uint32_t code) {
    provider::Fault first;
    first.times = 1;
    first.editReply = [&state, code](protocol::Bytes&) {
        provider::Fault close;
        close.closeWithoutReply = true;
        state.SetFault(code, close);
    };
    state.SetFault(code, first);
}

class FileListingTest : public testing::Test {
protected:
    void SetUp() override { g_Settings.SetServerPort(protocol::kControlPort); }

    void Start(const std::vector<Stored>& files) {
        const std::string address = g_addresses.Next();
        g_Settings.m_strServerAddr = upload_test::Wide(address);
        m_control = upload_test::NewProvider(address, "list@example.com", kUserId, 7);
        for (uint32_t id = 8; id <= 10; ++id) {
            protocol::ServerInfo server;
            server.serverId = id;
            server.host = "10.0.0." + std::to_string(id);
            server.port = static_cast<uint16_t>(20000 + id);
            m_control->State().AddServer(server);
        }
        m_ids.clear();
        for (const Stored& s : files) {
            provider::StoredFile f;
            f.userId = kUserId;
            f.serverId = s.serverId;
            f.name = s.name;
            f.size = 5000;
            f.forceFinished = s.finished;
            if (!s.finished) f.segments.push_back({0, 0, 5000, 1200});
            m_ids.push_back(m_control->State().AddFile(f));
        }
        ASSERT_TRUE(m_control->Start(address));
    }

    std::vector<std::string> Wire() const {
        std::vector<std::string> asked;
        for (const provider::ReceivedRequest& r : m_control->State().Requests()) asked.push_back(Asked(r));
        return asked;
    }

    static std::vector<std::string> Names(const filelisting::Listing& listing) {
        std::vector<std::string> names;
        for (const filelisting::ListedFile& f : listing.files) names.push_back(f.file.fileName);
        return names;
    }

    std::string Id(size_t file) const { return std::to_string(m_ids[file]); }

    std::unique_ptr<provider::Provider> m_control;
    std::vector<uint64_t> m_ids;
};

TEST_F(FileListingTest, AsksEachWantedRecordsServerThenItsSegmentsInListOrder) {
    Start(kMixed);
    const filelisting::Listing unfinished = filelisting::ListFiles(kUserId, Kind::Unfinished);
    EXPECT_EQ(Wire(), (std::vector<std::string>{"243:61", "249:7", "245:" + Id(0), "249:9", "245:" + Id(2)}));
    EXPECT_TRUE(unfinished.listed);
    EXPECT_FALSE(unfinished.serverFailed);
    EXPECT_EQ(Names(unfinished), (std::vector<std::string>{"u1.bin", "u2.bin"}));
    const filelisting::ListedFile& second = unfinished.files[1];
    EXPECT_EQ(second.file.fileId, m_ids[2]);
    EXPECT_EQ(second.server.host, "10.0.0.9");
    EXPECT_EQ(second.server.port, 20009);
    ASSERT_EQ(second.segments.size(), 1u);
    EXPECT_EQ(second.segments[0].bytesDone, 1200u);
    EXPECT_EQ(second.segments[0].bytesRemaining, 3800u);

    m_control->Stop();
    Start(kMixed);
    const filelisting::Listing finished = filelisting::ListFiles(kUserId, Kind::Finished);
    EXPECT_EQ(Wire(), (std::vector<std::string>{"243:61", "249:8", "249:10"}));
    EXPECT_EQ(Names(finished), (std::vector<std::string>{"f1.bin", "f2.bin"}));
    EXPECT_EQ(finished.files[1].server.host, "10.0.0.10");
    EXPECT_TRUE(finished.files[0].segments.empty());
}

TEST_F(FileListingTest, AFailedQuestionMidListKeepsWhatCameBeforeIt) {
    const struct {
        Kind kind;
        uint32_t failing;
        std::vector<std::string> wire;  // {0}, {1}, {2}: ids of the stored files
        std::vector<std::string> names;
        bool serverFailed;
    } cases[] = {
        // The file whose segments did not come is kept without them; the broken connection ends the list.
        {Kind::Unfinished,
         protocol::MSG_CODE_REQ_UPLOAD_INFO,
         {"243:61", "249:7", "245:{0}", "249:8", "245:{1}"},
         {"a.bin", "b.bin"},
         false},
        {Kind::Unfinished,
         protocol::MSG_CODE_REQ_FILE_SERVER,
         {"243:61", "249:7", "245:{0}", "249:8"},
         {"a.bin"},
         true},
        {Kind::Finished, protocol::MSG_CODE_REQ_FILE_SERVER, {"243:61", "249:7", "249:8"}, {"a.bin"}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.failing);
        const bool finished = c.kind == Kind::Finished;
        Start({{"a.bin", 7, finished}, {"b.bin", 8, finished}, {"c.bin", 9, finished}});
        FailSecond(m_control->State(), c.failing);
        const filelisting::Listing listing = filelisting::ListFiles(kUserId, c.kind);
        std::vector<std::string> wire = c.wire;
        for (std::string& w : wire) {
            for (size_t i = 0; i < 3; ++i) {
                const std::string mark = "{" + std::to_string(i) + "}";
                if (w.find(mark) != std::string::npos) w.replace(w.find(mark), mark.size(), Id(i));
            }
        }
        EXPECT_EQ(Wire(), wire);
        EXPECT_TRUE(listing.listed);
        EXPECT_EQ(Names(listing), c.names);
        EXPECT_EQ(listing.serverFailed, c.serverFailed);
        if (c.serverFailed) {
            EXPECT_EQ(listing.failedServerId, 8u);
        }
        if (!finished) {
            EXPECT_EQ(listing.files[0].segments.size(), 1u);
        }
        if (listing.files.size() > 1) {
            EXPECT_TRUE(listing.files[1].segments.empty());
        }
        m_control->Stop();
    }
}

TEST_F(FileListingTest, AnEmptyListAsksNothingMoreAndNoListIsReported) {
    Start({});
    for (Kind kind : {Kind::Unfinished, Kind::Finished}) {
        const filelisting::Listing listing = filelisting::ListFiles(kUserId, kind);
        EXPECT_TRUE(listing.listed);
        EXPECT_TRUE(listing.files.empty());
        EXPECT_FALSE(listing.serverFailed);
    }
    EXPECT_EQ(Wire(), (std::vector<std::string>{"243:61", "243:61"}));

    // A list question that is not answered, and a control server that is not there.
    provider::Fault close;
    close.closeWithoutReply = true;
    m_control->State().SetFault(protocol::MSG_CODE_REQ_FILE_LIST, close);
    EXPECT_FALSE(filelisting::ListFiles(kUserId, Kind::Finished).listed);
    m_control->Stop();
    const filelisting::Listing none = filelisting::ListFiles(kUserId, Kind::Unfinished);
    EXPECT_FALSE(none.listed);
    EXPECT_TRUE(none.files.empty());
}

}  // namespace
