// The upload server side of the stand-in driven by a raw client: segment split, sink content,
// resume from the segment list, throttle, refused connections, hostile segment records, data
// connections cut or held, rewritten segment lists and the close after a segment.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "provider/Provider.h"
#include "tests/support/RawClient.h"
#include "tests/support/TempDir.h"

using namespace protocol;
using provider::Fault;
using provider::Provider;
using provider_test::Client;

namespace {

const uint64_t kUser = 0x200000005ull;
const uint32_t kServer = 6;

// Bytes that differ from their neighbours, so a misplaced piece shows.
Bytes Pattern(size_t size) {
    Bytes b(size);
    for (size_t i = 0; i < size; ++i) b[i] = uint8_t((i * 131u) ^ (i >> 8) ^ (i >> 16));
    return b;
}

class UploadSideTest : public ::testing::Test {
protected:
    void StartAt(const std::string& host) {
        m_host = host;
        ASSERT_TRUE(m_provider.Start(host));
        State().AddUser({"u@b.cn", "pw", kUser, 0, 0});
        State().AddServer({kServer, host, 0, 0, kControlPort});
    }
    provider::ProviderState& State() { return m_provider.State(); }

    uint64_t Announce(uint64_t size, uint32_t threads) {
        Client c(m_host, kControlPort);
        Bytes m;
        uint64_t fileId = 0;
        if (!c.Send(BuildUploadFile(kUser, size, kServer, threads, "f.bin", "C:\\f.bin")) ||
            !ReadReply(c.Fn(), MSG_CODE_REQ_UPLOAD_FILE, HeaderCheck::Magic, m) ||
            !ParseUploadFileReply(m.data(), m.size(), fileId))
            return 0;
        return fileId;
    }
    std::vector<SegmentInfo> Segments(uint64_t fileId) {
        Client c(m_host, kControlPort);
        Bytes m;
        std::vector<SegmentInfo> out;
        EXPECT_TRUE(c.Send(BuildUploadInfo(kUser, fileId)));
        EXPECT_TRUE(ReadReply(c.Fn(), MSG_CODE_REQ_UPLOAD_INFO, HeaderCheck::NonZeroLength, m));
        EXPECT_TRUE(ParseSegmentList(m.data(), m.size(), out));
        return out;
    }
    bool FinishedFlag(uint64_t fileId) {
        Client c(m_host, kControlPort);
        Bytes m;
        std::vector<FileEntry> files;
        EXPECT_TRUE(c.Send(BuildFileList(kUser)));
        EXPECT_TRUE(ReadReply(c.Fn(), MSG_CODE_REQ_FILE_LIST, HeaderCheck::NonZeroLength, m));
        EXPECT_TRUE(ParseFileList(m.data(), m.size(), files));
        for (const FileEntry& f : files)
            if (f.fileId == fileId) return f.finished;
        ADD_FAILURE() << "file " << fileId << " not listed";
        return false;
    }
    // Opens one data connection per segment first, then streams them, as parallel senders do.
    void SendSegments(uint64_t fileId, const std::vector<SegmentInfo>& segments, const Bytes& content) {
        std::vector<std::unique_ptr<Client>> connections;
        for (size_t i = 0; i < segments.size(); ++i) {
            connections.emplace_back(new Client(m_host, kDataPort));
            ASSERT_TRUE(connections.back()->Connected());
        }
        for (size_t i = 0; i < segments.size(); ++i) {
            const SegmentInfo& seg = segments[i];
            Bytes out = ToBytes(MakeSegmentRecord(kServer, seg.segmentNumber, uint32_t(kUser), uint32_t(fileId),
                                                  seg.startOffset, seg.bytesDone, seg.bytesRemaining));
            out.insert(out.end(), content.begin() + seg.startOffset,
                       content.begin() + seg.startOffset + seg.bytesRemaining);
            // A cut or stalled connection may fail the send: what arrived is checked instead.
            connections[i]->Send(out);
        }
    }
    uint64_t ReceivedBytes(uint64_t fileId) {
        uint64_t done = 0;
        auto file = State().File(fileId);
        if (file)
            for (const auto& s : file->segments) done += s.received;
        return done;
    }
    bool WaitForReceived(uint64_t fileId, uint64_t bytes, int timeoutMs) {
        for (int waited = 0; waited < timeoutMs; waited += 10) {
            if (ReceivedBytes(fileId) >= bytes) return true;
            Sleep(10);
        }
        return false;
    }

    Provider m_provider;
    std::string m_host;
};

}  // namespace

TEST_F(UploadSideTest, SegmentsCoverTheFileAndTheSinkHoldsItsBytes) {
    StartAt("127.0.9.1");
    TempDir sinkFolder;
    const std::wstring folder = static_cast<const wchar_t*>(sinkFolder.Path());
    for (bool toFile : {false, true}) {
        State().SetSinkFolder(toFile ? folder : std::wstring());
        for (uint64_t size : {0u, 1u, 32768u, 32769u, 40000u}) {
            for (uint32_t threads : {1u, 5u, 10u}) {
                SCOPED_TRACE(testing::Message() << (toFile ? "file" : "memory") << " sink, " << size << " bytes, "
                                                << threads << " threads");
                const Bytes content = Pattern(size);
                uint64_t fileId = Announce(size, threads);
                ASSERT_NE(fileId, 0u);
                std::vector<SegmentInfo> segments = Segments(fileId);
                // Equal contiguous ranges from 0 to the end, never an empty one.
                uint64_t each = size ? (size + threads - 1) / threads : 0;
                ASSERT_EQ(segments.size(), size ? (size + each - 1) / each : 0u);
                uint64_t next = 0;
                for (size_t i = 0; i < segments.size(); ++i) {
                    EXPECT_EQ(segments[i].segmentNumber, i);
                    EXPECT_EQ(segments[i].startOffset, next);
                    EXPECT_EQ(segments[i].bytesDone, 0u);
                    EXPECT_GT(segments[i].bytesRemaining, 0u);
                    EXPECT_LE(segments[i].bytesRemaining, each);
                    next += segments[i].bytesRemaining;
                }
                EXPECT_EQ(next, size);
                EXPECT_EQ(FinishedFlag(fileId), size == 0);

                SendSegments(fileId, segments, content);
                ASSERT_TRUE(State().WaitForFinished(fileId, 10000));
                Bytes stored;
                ASSERT_TRUE(State().Content(fileId, stored));
                EXPECT_TRUE(stored == content);
                EXPECT_TRUE(FinishedFlag(fileId));
                for (const SegmentInfo& s : Segments(fileId)) EXPECT_EQ(s.bytesRemaining, 0u);
            }
        }
    }
    // A deleted upload takes its sink file along.
    uint64_t fileId = Announce(10, 1);
    std::wstring part = folder + L"\\upload-" + std::to_wstring(fileId) + L".part";
    EXPECT_NE(GetFileAttributesW(part.c_str()), INVALID_FILE_ATTRIBUTES);
    Client c(m_host, kControlPort);
    ASSERT_TRUE(c.Send(BuildDeleteFile(kUser, fileId)));
    ASSERT_TRUE(State().WaitForRequests(MSG_CODE_REQ_DELETE_FILE, 1, 5000));
    EXPECT_EQ(GetFileAttributesW(part.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(State().RefusedSegments(), 0u);
    EXPECT_EQ(Announce(0x100000000ull, 1), 0u) << "a file beyond 32-bit offsets cannot be segmented";
}

TEST_F(UploadSideTest, BrokenDataConnectionsResumeFromTheSegmentList) {
    StartAt("127.0.9.2");
    struct Case {
        const char* name;
        uint32_t threads;
        Fault fault;
        uint64_t arrivedBefore;  // bytes the server holds before the resume
    };
    Fault cutOne, cutEach, cutToNothing, stallOne;
    cutOne.cutAfterBytes = 10000;
    cutOne.times = 1;
    cutEach.cutAfterBytes = 777;
    cutEach.times = 5;
    cutToNothing.cutAfterBytes = 0;
    cutToNothing.times = 10;
    stallOne.stall = true;
    stallOne.times = 1;
    const uint64_t size = 40000;
    const Case cases[] = {
        {"cut after 10000 bytes", 1, cutOne, 10000},
        {"every segment cut after 777 bytes", 5, cutEach, 5 * 777},
        {"cut before any byte", 10, cutToNothing, 0},
        {"stalled connection", 1, stallOne, 0},
    };
    const Bytes content = Pattern(size);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        uint64_t fileId = Announce(size, c.threads);
        ASSERT_NE(fileId, 0u);
        std::vector<SegmentInfo> first = Segments(fileId);
        State().SetFault(MSG_CODE_SEND_FILE_DATA, c.fault);
        size_t before = State().RequestsOf(MSG_CODE_SEND_FILE_DATA).size();
        SendSegments(fileId, first, content);
        ASSERT_TRUE(State().WaitForRequests(MSG_CODE_SEND_FILE_DATA, before + first.size(), 5000));
        ASSERT_TRUE(WaitForReceived(fileId, c.arrivedBefore, 5000));
        Sleep(100);  // nothing more may trickle in
        EXPECT_EQ(ReceivedBytes(fileId), c.arrivedBefore);
        EXPECT_FALSE(FinishedFlag(fileId));
        State().ClearFaults();

        std::vector<SegmentInfo> rest = Segments(fileId);
        ASSERT_EQ(rest.size(), first.size());
        uint64_t done = 0;
        for (size_t i = 0; i < rest.size(); ++i) {
            EXPECT_EQ(rest[i].startOffset, first[i].startOffset + rest[i].bytesDone);
            EXPECT_EQ(rest[i].bytesDone + rest[i].bytesRemaining, first[i].bytesRemaining);
            done += rest[i].bytesDone;
        }
        EXPECT_EQ(done, c.arrivedBefore);
        SendSegments(fileId, rest, content);
        ASSERT_TRUE(State().WaitForFinished(fileId, 10000));
        Bytes stored;
        ASSERT_TRUE(State().Content(fileId, stored));
        EXPECT_TRUE(stored == content);
        EXPECT_TRUE(FinishedFlag(fileId));
    }
    EXPECT_EQ(State().RefusedSegments(), 0u);
}

TEST_F(UploadSideTest, ThrottleHoldsAnUploadMidwayUntilLifted) {
    StartAt("127.0.9.3");
    struct Case {
        const char* name;
        uint32_t threads;
        bool overall;
    };
    const Case cases[] = {{"per connection", 1, false}, {"overall", 4, true}};
    const uint64_t size = 80000, rate = 40000;
    const Bytes content = Pattern(size);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        State().SetThrottle(rate, c.overall);
        uint64_t fileId = Announce(size, c.threads);
        auto start = std::chrono::steady_clock::now();
        SendSegments(fileId, Segments(fileId), content);
        // At 40000 bytes/s the first 6000 bytes take at least 0.1 s, the whole file 2 s.
        ASSERT_TRUE(WaitForReceived(fileId, 6000, 5000));
        double firstPart = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        EXPECT_GE(firstPart, 0.1);
        EXPECT_LT(ReceivedBytes(fileId), size);
        EXPECT_FALSE(FinishedFlag(fileId));

        State().SetThrottle(0, false);
        ASSERT_TRUE(State().WaitForFinished(fileId, 10000));
        Bytes stored;
        ASSERT_TRUE(State().Content(fileId, stored));
        EXPECT_TRUE(stored == content);
    }
    // A slow rate really is slow: 3000 bytes at 10000 bytes/s take about 0.3 s.
    State().SetThrottle(10000, false);
    uint64_t fileId = Announce(3000, 1);
    auto start = std::chrono::steady_clock::now();
    SendSegments(fileId, Segments(fileId), Pattern(3000));
    ASSERT_TRUE(State().WaitForFinished(fileId, 10000));
    EXPECT_GE(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 0.2);
    State().SetThrottle(0, false);
}

TEST_F(UploadSideTest, ClosedListenersRefuseUntilReopened) {
    StartAt("127.0.9.4");
    const Bytes content = Pattern(5000);
    for (bool control : {true, false}) {
        SCOPED_TRACE(control ? "control port" : "data port");
        provider::TcpServer& server = control ? static_cast<provider::TcpServer&>(m_provider.Control())
                                              : static_cast<provider::TcpServer&>(m_provider.Data());
        uint16_t port = control ? kControlPort : kDataPort;
        uint64_t fileId = Announce(content.size(), 2);
        ASSERT_NE(fileId, 0u);
        std::vector<SegmentInfo> segments = Segments(fileId);
        {
            Client kept(m_host, port);  // a connection made before the close goes on
            ASSERT_TRUE(kept.Connected());
            server.CloseListener();
            EXPECT_FALSE(server.Listening());
            Client refused(m_host, port);
            EXPECT_FALSE(refused.Connected());
            EXPECT_EQ(refused.Error(), WSAECONNREFUSED);
            if (control) {
                Bytes m;
                ASSERT_TRUE(kept.Send(BuildUploadInfo(kUser, fileId)));
                EXPECT_TRUE(ReadReply(kept.Fn(), MSG_CODE_REQ_UPLOAD_INFO, HeaderCheck::NonZeroLength, m));
            }
        }
        ASSERT_TRUE(server.Reopen());
        EXPECT_TRUE(server.Listening());
        EXPECT_EQ(server.Port(), port);
        SendSegments(fileId, segments, content);
        ASSERT_TRUE(State().WaitForFinished(fileId, 10000));
        Bytes stored;
        ASSERT_TRUE(State().Content(fileId, stored));
        EXPECT_TRUE(stored == content);
    }
}

TEST_F(UploadSideTest, HostileSegmentRecordsAreRefusedAndWriteNothing) {
    StartAt("127.0.9.5");
    const uint64_t size = 30000;
    uint64_t fileId = Announce(size, 3);  // segments of 10000 bytes at 0, 10000 and 20000
    ASSERT_NE(fileId, 0u);
    const Bytes content = Pattern(size);
    // Segment 1 gets its first 100 bytes, so its next byte is at 10100.
    SendSegments(fileId, {SegmentInfo{1, 10000, 0, 100}}, content);
    ASSERT_TRUE(WaitForReceived(fileId, 100, 5000));

    struct Case {
        const char* name;
        int64_t segment, fileId, offset, remaining;
    };
    const int64_t id = int64_t(fileId);
    const Case cases[] = {
        {"unknown file id", 0, id + 1, 0, 100},
        {"file id 0", 0, 0, 0, 100},
        {"unknown segment", 7, id, 0, 100},
        {"negative segment", -1, id, 0, 100},
        {"negative offset", 0, id, -5, 100},
        {"offset before the segment", 1, id, 9990, 100},
        {"offset past the next missing byte", 1, id, 10200, 100},
        {"offset past the segment", 0, id, 15000, 100},
        {"offset past the file", 2, id, 40000, 100},
        {"more than the segment holds", 0, id, 0, 10001},
        {"more than the rest of the segment", 1, id, 10100, 9901},
        {"negative remaining", 0, id, 0, -1},
        {"huge remaining", 2, id, 20000, 0x7FFFFFFFFFFFFFFFll},
    };
    uint64_t refused = State().RefusedSegments();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SegmentRecord r = MakeSegmentRecord(kServer, 0, uint32_t(kUser), 0, 0, 0, 0);
        r.segmentNumber = c.segment;
        r.fileId = c.fileId;
        r.offset = c.offset;
        r.bytesRemaining = c.remaining;
        Bytes out = ToBytes(r);
        out.insert(out.end(), 4000, 0xEE);
        size_t before = State().RequestsOf(MSG_CODE_SEND_FILE_DATA).size();
        {
            Client data(m_host, kDataPort);
            ASSERT_TRUE(data.Connected());
            data.Send(out);
            ASSERT_TRUE(State().WaitForRequests(MSG_CODE_SEND_FILE_DATA, before + 1, 5000));
        }
        EXPECT_EQ(State().RefusedSegments(), ++refused);
        EXPECT_EQ(ReceivedBytes(fileId), 100u);
    }
    // A record of the wrong magic or code is dropped as no data connection at all.
    {
        SegmentRecord r = MakeSegmentRecord(kServer, 0, uint32_t(kUser), uint32_t(fileId), 0, 0, 100);
        r.header.magic ^= 1;
        Client data(m_host, kDataPort);
        Bytes out = ToBytes(r);
        out.insert(out.end(), 100, 0xEE);
        data.Send(out);
    }
    // More bytes than announced: only the announced ones are taken.
    {
        Bytes out = ToBytes(MakeSegmentRecord(kServer, 0, uint32_t(kUser), uint32_t(fileId), 0, 0, 50));
        out.insert(out.end(), content.begin(), content.begin() + 50);
        out.insert(out.end(), 500, 0xEE);
        Client data(m_host, kDataPort);
        data.Send(out);
        ASSERT_TRUE(WaitForReceived(fileId, 150, 5000));
    }
    Sleep(100);
    EXPECT_EQ(ReceivedBytes(fileId), 150u);
    Bytes stored;
    ASSERT_TRUE(State().Content(fileId, stored));
    Bytes expected(size, 0);
    std::copy(content.begin(), content.begin() + 50, expected.begin());
    std::copy(content.begin() + 10000, content.begin() + 10100, expected.begin() + 10000);
    EXPECT_TRUE(stored == expected) << "refused data left no trace in the sink";

    // The upload still completes from its segment list.
    SendSegments(fileId, Segments(fileId), content);
    ASSERT_TRUE(State().WaitForFinished(fileId, 10000));
    ASSERT_TRUE(State().Content(fileId, stored));
    EXPECT_TRUE(stored == content);
    EXPECT_EQ(State().RefusedSegments(), refused);
}

TEST_F(UploadSideTest, DataRecordsFindFilesByTheLowBitsOfTheirId) {
    StartAt("127.0.9.6");
    // The record widens a 32-bit id with its sign, so 0x80000010 arrives as a negative number.
    for (uint64_t id : {0x80000010ull, 0x300000020ull, 0xFFFFFFFFull}) {
        SCOPED_TRACE(id);
        provider::StoredFile f;
        f.fileId = id;
        f.userId = kUser;
        f.size = 300;
        f.segments = {{0, 0, 200, 0}, {1, 200, 100, 0}};
        ASSERT_EQ(State().AddFile(f), id);
        const Bytes content = Pattern(300);
        SendSegments(id, Segments(id), content);
        ASSERT_TRUE(State().WaitForFinished(id, 10000));
        Bytes stored;
        ASSERT_TRUE(State().Content(id, stored));
        EXPECT_TRUE(stored == content);
    }
    EXPECT_EQ(State().RefusedSegments(), 0u);
}

TEST_F(UploadSideTest, DataFaultsResetOrHoldTheConnection) {
    StartAt("127.0.9.7");
    enum class Sends { Nothing, Record, Everything, UntilFull };
    struct Case {
        const char* name;
        Fault fault;
        uint64_t size;  // of the file, one segment
        Sends sends;
        uint64_t stored;  // bytes the server keeps
        bool resetClose;  // a held connection's sender closes abortively, else plainly
    };
    auto cut = [](int64_t left) {
        Fault f;
        f.cutWhenLeftBytes = left;
        f.delayMs = 100;  // the sender's socket has taken every byte before the cut
        f.times = 1;
        return f;
    };
    Fault neverRead, stall;
    neverRead.neverRead = true;
    neverRead.times = 1;
    stall.stall = true;
    stall.times = 1;
    // Loopback buffers under Wine took about 4 MB: the held segments are well beyond that.
    const uint64_t small = 40000, large = 16u << 20;
    const Case cases[] = {
        {"cut with 10000 bytes left", cut(10000), small, Sends::Everything, small - 10000, false},
        {"cut after the last byte", cut(0), small, Sends::Everything, small, false},
        {"cut with more left than the segment", cut(small + 1), small, Sends::Everything, 0, false},
        {"never read, full buffers, reset", neverRead, large, Sends::UntilFull, 0, true},
        {"never read, nothing sent, plain close", neverRead, large, Sends::Nothing, 0, false},
        {"stall, full buffers, reset", stall, large, Sends::UntilFull, 0, true},
        {"stall, record read, plain close", stall, large, Sends::Record, 0, false},
    };
    const Bytes content = Pattern(large);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        uint64_t fileId = Announce(c.size, 1);
        ASSERT_NE(fileId, 0u);
        const SegmentInfo seg = Segments(fileId).at(0);
        State().SetFault(MSG_CODE_SEND_FILE_DATA, c.fault);
        const size_t before = State().RequestsOf(MSG_CODE_SEND_FILE_DATA).size();
        const Bytes record = ToBytes(MakeSegmentRecord(kServer, seg.segmentNumber, uint32_t(kUser), uint32_t(fileId),
                                                       seg.startOffset, seg.bytesDone, seg.bytesRemaining));
        Client data(m_host, kDataPort);
        ASSERT_TRUE(data.Connected());
        if (c.sends == Sends::Everything) {
            Bytes out = record;
            out.insert(out.end(), content.begin(), content.begin() + c.size);
            ASSERT_TRUE(data.Send(out));
            int n = data.ReceiveOne();
            // Wine hands a reset to recv as a close; a send then fails, where after a FIN it would not.
            EXPECT_TRUE(n == 0 || (n < 0 && data.Error() == WSAECONNRESET)) << n << ", error " << data.Error();
            const uint8_t more = 0;
            EXPECT_EQ(data.SendNow(&more, 1), -1);
            EXPECT_EQ(data.Error(), WSAECONNRESET);
            ASSERT_TRUE(State().WaitForRequests(MSG_CODE_SEND_FILE_DATA, before + 1, 5000));
        } else {
            if (c.sends != Sends::Nothing) {
                ASSERT_TRUE(data.Send(record));
            }
            if (c.sends == Sends::UntilFull) {
                uint64_t sent = 0;
                auto quietSince = std::chrono::steady_clock::now();
                while (sent < c.size &&
                       std::chrono::steady_clock::now() - quietSince < std::chrono::milliseconds(300)) {
                    int n = data.SendNow(content.data() + sent, size_t(c.size - sent));
                    ASSERT_GE(n, 0) << "error " << data.Error();
                    if (n == 0) {
                        Sleep(5);
                        continue;
                    }
                    sent += uint64_t(n);
                    quietSince = std::chrono::steady_clock::now();
                }
                EXPECT_LT(sent, c.size) << "the sends stop progressing";
            }
            for (int waited = 0; m_provider.Data().LiveConnections() == 0 && waited < 5000; waited += 10) Sleep(10);
            Sleep(100);
            EXPECT_EQ(m_provider.Data().LiveConnections(), 1u) << "held open";
            // Nothing is recorded of a connection that was never read.
            size_t recorded = c.fault.stall && c.sends != Sends::Nothing ? 1 : 0;
            ASSERT_TRUE(State().WaitForRequests(MSG_CODE_SEND_FILE_DATA, before + recorded, 5000));
            EXPECT_EQ(State().RequestsOf(MSG_CODE_SEND_FILE_DATA).size(), before + recorded);
            data.Close(c.resetClose);
        }
        // The connection ends with the sender's close, not only with the server's stop.
        auto closed = std::chrono::steady_clock::now();
        for (int waited = 0; m_provider.Data().LiveConnections() > 0 && waited < 5000; waited += 10) Sleep(10);
        EXPECT_EQ(m_provider.Data().LiveConnections(), 0u);
        EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - closed).count(), 1.0);

        EXPECT_EQ(ReceivedBytes(fileId), c.stored);
        std::vector<SegmentInfo> rest = Segments(fileId);
        ASSERT_EQ(rest.size(), 1u);
        EXPECT_EQ(rest[0].startOffset, c.stored);
        EXPECT_EQ(rest[0].bytesDone, c.stored);
        EXPECT_EQ(rest[0].bytesRemaining, c.size - c.stored);
        // The fault was used up by its one connection: the rest arrives on the next one.
        SendSegments(fileId, rest, content);
        ASSERT_TRUE(State().WaitForFinished(fileId, 20000));
        Bytes stored;
        ASSERT_TRUE(State().Content(fileId, stored));
        EXPECT_TRUE(std::equal(stored.begin(), stored.end(), content.begin()));
        EXPECT_EQ(stored.size(), c.size);
    }
    EXPECT_EQ(State().RefusedSegments(), 0u);
}

TEST_F(UploadSideTest, SegmentListsCarryRewrittenDescriptors) {
    StartAt("127.0.9.8");
    const uint64_t size = 30000;
    uint64_t fileId = Announce(size, 3);  // segments of 10000 bytes; segment 1 gets 100 of them
    ASSERT_NE(fileId, 0u);
    SendSegments(fileId, {SegmentInfo{1, 10000, 0, 100}}, Pattern(size));
    ASSERT_TRUE(WaitForReceived(fileId, 100, 5000));
    const std::vector<SegmentInfo> truth = Segments(fileId);
    ASSERT_EQ(truth.size(), 3u);

    struct Case {
        const char* name;
        std::optional<uint32_t> start, done, remaining;
        int64_t onlySegment;  // -1: every one
        std::optional<uint32_t> count;
        int times;
    };
    const Case cases[] = {
        {"done at 2^31", std::nullopt, 0x80000000u, std::nullopt, -1, std::nullopt, 1},
        {"done at 2^32 - 1, nothing remaining", std::nullopt, 0xFFFFFFFFu, 0u, -1, std::nullopt, 2},
        {"offset beyond the file, count rewritten too", uint32_t(size + 1), std::nullopt, std::nullopt, -1, 5000u, 1},
        {"offset at 2^32 - 1 of one segment", 0xFFFFFFFFu, std::nullopt, 0x80000000u, 2, std::nullopt, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Fault f;
        f.editSegment = [c](SegmentDescriptor& d) {
            if (c.onlySegment >= 0 && d.segmentNumber != uint32_t(c.onlySegment)) return;
            if (c.start) d.startOffset = *c.start;
            if (c.done) d.bytesDone = *c.done;
            if (c.remaining) d.bytesRemaining = *c.remaining;
        };
        f.count = c.count;
        f.times = c.times;
        State().SetFault(MSG_CODE_REQ_UPLOAD_INFO, f);
        for (int request = 0; request < c.times; ++request) {
            Client control(m_host, kControlPort);
            Bytes m;
            ASSERT_TRUE(control.Send(BuildUploadInfo(kUser, fileId)));
            ASSERT_TRUE(ReadReply(control.Fn(), MSG_CODE_REQ_UPLOAD_INFO, HeaderCheck::NonZeroLength, m));
            ASSERT_EQ(m.size(), sizeof(PacketHeader) + 4 + truth.size() * sizeof(SegmentDescriptor));
            uint32_t count = 0;
            std::memcpy(&count, m.data() + sizeof(PacketHeader), 4);
            EXPECT_EQ(count, c.count.value_or(uint32_t(truth.size())));
            for (size_t i = 0; i < truth.size(); ++i) {
                SegmentDescriptor d;
                std::memcpy(&d, m.data() + sizeof(PacketHeader) + 4 + i * sizeof d, sizeof d);
                bool edited = c.onlySegment < 0 || c.onlySegment == int64_t(i);
                EXPECT_EQ(d.segmentNumber, truth[i].segmentNumber);
                EXPECT_EQ(d.startOffset, edited ? c.start.value_or(truth[i].startOffset) : truth[i].startOffset);
                EXPECT_EQ(d.bytesDone, edited ? c.done.value_or(truth[i].bytesDone) : truth[i].bytesDone);
                EXPECT_EQ(d.bytesRemaining,
                          edited ? c.remaining.value_or(truth[i].bytesRemaining) : truth[i].bytesRemaining);
            }
        }
        // Once its times are used up the list is the true one again.
        std::vector<SegmentInfo> after = Segments(fileId);
        ASSERT_EQ(after.size(), truth.size());
        for (size_t i = 0; i < truth.size(); ++i) {
            EXPECT_EQ(after[i].startOffset, truth[i].startOffset);
            EXPECT_EQ(after[i].bytesDone, truth[i].bytesDone);
            EXPECT_EQ(after[i].bytesRemaining, truth[i].bytesRemaining);
        }
    }
}

TEST_F(UploadSideTest, DataServerClosesOnceTheSegmentIsRead) {
    StartAt("127.0.9.9");
    struct Case {
        const char* name;
        bool nothingRemaining;  // the segment is complete: the record announces 0 bytes
        bool shutDownFirst;     // the sender shuts down its sending side after its last byte
    };
    const Case cases[] = {
        {"whole segment, sender shut down", false, true},
        {"whole segment, sender still open", false, false},
        {"nothing remaining, sender shut down", true, true},
    };
    const uint64_t size = 20000;
    const Bytes content = Pattern(size);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        uint64_t fileId = Announce(size, 1);
        ASSERT_NE(fileId, 0u);
        if (c.nothingRemaining) {
            SendSegments(fileId, Segments(fileId), content);
            ASSERT_TRUE(State().WaitForFinished(fileId, 10000));
        }
        const SegmentInfo seg = Segments(fileId).at(0);
        ASSERT_EQ(seg.bytesRemaining, c.nothingRemaining ? 0u : size);
        Bytes out = ToBytes(MakeSegmentRecord(kServer, seg.segmentNumber, uint32_t(kUser), uint32_t(fileId),
                                              seg.startOffset, seg.bytesDone, seg.bytesRemaining));
        out.insert(out.end(), content.begin() + seg.startOffset,
                   content.begin() + seg.startOffset + seg.bytesRemaining);
        Client data(m_host, kDataPort);
        ASSERT_TRUE(data.Send(out));
        auto sent = std::chrono::steady_clock::now();
        if (c.shutDownFirst) data.ShutdownSend();
        EXPECT_EQ(data.ReceiveOne(), 0) << "error " << data.Error();
        EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - sent).count(), 1.0);
        ASSERT_TRUE(State().WaitForFinished(fileId, 5000));
        Bytes stored;
        ASSERT_TRUE(State().Content(fileId, stored));
        EXPECT_TRUE(stored == content);
    }
    EXPECT_EQ(State().RefusedSegments(), 0u);
}
