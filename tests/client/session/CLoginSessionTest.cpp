#include <gtest/gtest.h>

#include <cstring>

#include "client/app/CAppSettings.h"
#include "client/session/CLoginSession.h"
#include "client/session/SessionService.h"
#include "ScriptedControl.h"
#include "provider/Provider.h"
#include "provider/SessionService.h"

namespace {

using sessiontest::Answer;
using sessiontest::Bytes;
using sessiontest::LoginReplyBytes;
using sessiontest::SessionReplyBytes;

const char* kAddress = "127.0.7.2";
const wchar_t* kAddressW = L"127.0.7.2";

uint32_t U32(const Bytes& b, size_t at) {
    uint32_t v;
    std::memcpy(&v, b.data() + at, 4);
    return v;
}

std::string Field(const Bytes& b, size_t at, size_t size) {
    return std::string(reinterpret_cast<const char*>(b.data() + at),
                       strnlen(reinterpret_cast<const char*>(b.data() + at), size));
}

Answer Send(const Bytes& bytes, bool closeAfter = false) {
    Answer a;
    a.bytes = bytes;
    a.closeAfter = closeAfter;
    return a;
}

// A session reply whose header announces `length` body bytes, whatever follows.
Bytes Announcing(uint32_t length, const std::string& text) {
    Bytes b = SessionReplyBytes(text);
    std::memcpy(b.data() + 8, &length, 4);
    return b;
}

Answer Kind(Answer::Kind kind) {
    Answer a;
    a.kind = kind;
    return a;
}

class LoginSessionTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(control.Start(kAddress)) << "bind failed: " << WSAGetLastError();
        g_Settings.m_strServerAddr = kAddressW;
        g_Settings.SetServerPort(20000);
        session = CLoginSession();
    }
    void TearDown() override { control.Stop(); }

    void LoggedInBefore() {
        session.m_strMail = L"old@example.com";
        session.m_strPassword = L"oldpass";
        session.m_nUsedSpace = 11;
        session.m_nTotalSpace = 22;
        session.m_nUserId = 33;
        session.m_bLoggedIn = true;
    }

    sessiontest::ScriptedControl control;
    CLoginSession session;
};

TEST_F(LoginSessionTest, LoginOutcomes) {
    struct Case {
        const char* name;
        Answer answer;
        bool listening;
        bool accepted;
    };
    Bytes full = LoginReplyBytes(1, 1000, 5000, 77);
    const Case cases[] = {
        {"accepted", Send(full), true, true},
        {"refused", Send(LoginReplyBytes(0, 1, 2, 3)), true, false},
        {"result 2 is a refusal", Send(LoginReplyBytes(2, 1, 2, 3)), true, false},
        {"short reply", Send(Bytes(full.begin(), full.end() - 1), true), true, false},
        {"closed without reply", Kind(Answer::Close), true, false},
        {"refused connect", Kind(Answer::Close), false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        control.SetAnswer(224, c.answer);
        if (!c.listening) {
            control.Stop();
        }
        LoggedInBefore();
        EXPECT_EQ(c.accepted ? 1 : 0, session.Login(L"li@example.com", L"secret"));
        EXPECT_EQ(c.accepted ? 1 : 0, session.IsLoggedIn());
        if (c.accepted) {
            EXPECT_EQ(CString(L"li@example.com"), session.m_strMail);
            EXPECT_EQ(CString(L"secret"), session.m_strPassword);
            EXPECT_EQ(1000u, session.m_nUsedSpace);
            EXPECT_EQ(5000u, session.m_nTotalSpace);
            EXPECT_EQ(77u, session.m_nUserId);
        } else {
            EXPECT_EQ(CString(L"old@example.com"), session.m_strMail);
            EXPECT_EQ(CString(L"oldpass"), session.m_strPassword);
            EXPECT_EQ(11u, session.m_nUsedSpace);
            EXPECT_EQ(22u, session.m_nTotalSpace);
            EXPECT_EQ(33u, session.m_nUserId);
        }
        if (!c.listening) {
            ASSERT_TRUE(control.Start(kAddress)) << "bind failed: " << WSAGetLastError();
        }
    }
}

TEST_F(LoginSessionTest, SilentControlServerIsARefusalAfterTheTimeOut) {
    control.SetAnswer(224, Kind(Answer::Silence));
    LoggedInBefore();
    DWORD begin = GetTickCount();
    EXPECT_EQ(0, session.Login(L"li@example.com", L"secret"));
    DWORD took = GetTickCount() - begin;
    EXPECT_GE(took, 4500u);
    EXPECT_LT(took, 15000u);
    EXPECT_EQ(0, session.IsLoggedIn());
    EXPECT_EQ(CString(L"old@example.com"), session.m_strMail);
    EXPECT_EQ(1u, control.Requests().size());
}

TEST_F(LoginSessionTest, LoginRequestBytes) {
    control.SetAnswer(224, Send(LoginReplyBytes(1, 0, 0, 5)));
    ASSERT_EQ(1, session.Login(L"\x674E@example.com", L"p\x00E4ss"));
    auto requests = control.Requests();
    ASSERT_EQ(1u, requests.size());
    const Bytes& b = requests[0].bytes;
    ASSERT_EQ(120u, b.size());
    EXPECT_EQ(0x544E5246u, U32(b, 0));
    EXPECT_EQ(224u, U32(b, 4));
    EXPECT_EQ(108u, U32(b, 8));
    EXPECT_EQ(Bytes(8, 0), Bytes(b.begin() + 12, b.begin() + 20));
    EXPECT_EQ("\xE6\x9D\x8E@example.com", Field(b, 20, 50));
    EXPECT_EQ("p\xC3\xA4ss", Field(b, 70, 50));
}

TEST_F(LoginSessionTest, SessionLoginSendsAZeroPassword) {
    control.SetAnswer(240, Send(LoginReplyBytes(1, 4, 8, 9)));
    LoggedInBefore();
    ASSERT_EQ(1, session.LoginBySession(L"web@example.com"));
    EXPECT_EQ(CString(), session.m_strPassword);
    EXPECT_EQ(9u, session.m_nUserId);
    auto requests = control.Requests();
    ASSERT_EQ(1u, requests.size());
    const Bytes& b = requests[0].bytes;
    ASSERT_EQ(120u, b.size());
    EXPECT_EQ(240u, U32(b, 4));
    EXPECT_EQ("web@example.com", Field(b, 20, 50));
    EXPECT_EQ(Bytes(50, 0), Bytes(b.begin() + 70, b.end()));
}

TEST_F(LoginSessionTest, OverlongNamesAreRefusedBeforeSending) {
    control.SetAnswer(224, Send(LoginReplyBytes(1, 0, 0, 5)));
    control.SetAnswer(240, Send(LoginReplyBytes(1, 0, 0, 5)));
    const CString longAscii(std::wstring(50, L'a').c_str());
    const CString longWide(std::wstring(17, L'\x674E').c_str());  // 17 characters, 51 UTF-8 bytes
    const CString longName(std::wstring(1024, L'u').c_str());
    EXPECT_EQ(0, session.Login(longAscii, L"p"));
    EXPECT_EQ(0, session.Login(L"ok@example.com", longWide));
    EXPECT_EQ(0, session.LoginBySession(longWide));
    EXPECT_EQ(0, session.QuerySessionKey(longName));
    EXPECT_TRUE(control.Requests().empty());
    // 49 bytes still fit.
    EXPECT_EQ(1, session.Login(CString(std::wstring(49, L'a').c_str()), L"p"));
}

TEST(ExtractBetweenTest, Table) {
    struct Case {
        const wchar_t* text;
        BOOL found;
        const wchar_t* out;
    };
    const Case cases[] = {
        {L"x<K>abc</K>y", TRUE, L"abc"},
        {L"<K></K>", TRUE, L""},
        {L"<K>a</K><K>b</K>", TRUE, L"a"},
        {L"</K>a<K>b", FALSE, L""},
        {L"<K>abc", FALSE, L""},
        {L"abc</K>", FALSE, L""},
        {L"", FALSE, L""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << static_cast<int>(&c - cases));
        CString out = L"stale";
        EXPECT_EQ(c.found, ExtractBetween(c.text, L"<K>", L"</K>", out));
        EXPECT_EQ(CString(c.out), out);
    }
}

class WebSessionTest : public LoginSessionTest {
protected:
    void SetUp() override {
        LoginSessionTest::SetUp();
        ASSERT_TRUE(soap.Start(kAddress)) << "bind failed: " << WSAGetLastError();
        session::SetSessionServiceEndpoint("http://127.0.7.2:14002");
        session::SetSessionServiceTimeouts(3, 3, 3);
        control.SetAnswer(240, Send(LoginReplyBytes(1, 100, 200, 42)));
    }
    void TearDown() override {
        soap.Stop();
        session::SetSessionServiceEndpoint("");
        session::SetSessionServiceTimeouts(10, 10, 10);
        LoginSessionTest::TearDown();
    }
    std::vector<uint32_t> Codes() {
        std::vector<uint32_t> codes;
        for (const auto& r : control.Requests()) codes.push_back(r.code);
        return codes;
    }
    provider::SessionService soap;
};

TEST_F(WebSessionTest, SessionQueryFrames) {
    struct Case {
        const wchar_t* user;
        const char* utf8;
        const char* digits;
    };
    const Case cases[] = {
        {L"user@example.com", "user@example.com", "0000000000000197"},
        {L"\x674E\x96F7@example.com", "\xE6\x9D\x8E\xE9\x9B\xB7@example.com", "0000000000000199"},
        // The name comes from the launch text: it cannot add elements of its own.
        {L"a&b<c>\"'@x</UserName>", "a&amp;b&lt;c&gt;&quot;&apos;@x&lt;/UserName&gt;", "0000000000000228"},
    };
    control.SetAnswer(251, Kind(Answer::Close));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.utf8);
        control.ClearRequests();
        EXPECT_EQ(0, session.QuerySessionKey(c.user));
        auto requests = control.Requests();
        ASSERT_EQ(1u, requests.size());
        std::string frame = std::string(c.digits) + "SGDP000000000001" +
                            "<?xml version='1.0' encoding='UTF-8' standalone='no' ?><xml><SessionQuery "
                            "type='result'><UserName>" +
                            c.utf8 +
                            "</UserName><Thread>1234567890</Thread><AppType>nsm</AppType></SessionQuery></xml>";
        const Bytes& b = requests[0].bytes;
        ASSERT_EQ(12 + frame.size(), b.size());
        EXPECT_EQ(0x544E5246u, U32(b, 0));
        EXPECT_EQ(251u, U32(b, 4));
        EXPECT_EQ(frame.size(), U32(b, 8));
        EXPECT_EQ(frame, std::string(b.begin() + 12, b.end()));
    }
}

TEST_F(WebSessionTest, UnusableSessionRepliesStopBeforeTheServiceCall) {
    struct Case {
        const char* name;
        Answer answer;
    };
    const Bytes header = SessionReplyBytes("");
    const Case cases[] = {
        // A text that may still grow is read on till the time-out.
        {"bind id missing, line kept open", Send(SessionReplyBytes("<SessionKey>K1</SessionKey>"))},
        {"session key missing", Send(SessionReplyBytes("<BindId>B1</BindId>"), true)},
        {"markers reversed", Send(SessionReplyBytes("</SessionKey>K1<SessionKey><BindId>B1</BindId>"), true)},
        {"empty text", Send(SessionReplyBytes(""), true)},
        {"header only, cut", Send(Bytes(header.begin(), header.begin() + 8), true)},
        {"closed without reply", Kind(Answer::Close)},
    };
    soap.SetReply(provider::SessionService::Reply::Result0);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        control.ClearRequests();
        control.SetAnswer(251, c.answer);
        EXPECT_EQ(0, session.QuerySessionKey(L"web@example.com"));
        EXPECT_EQ(0, session.IsLoggedIn());
        EXPECT_FALSE(session.m_bWebSession);
        EXPECT_EQ(std::vector<uint32_t>{251}, Codes());
    }
    EXPECT_TRUE(soap.Requests().empty());
}

// The reply is read by its text alone, on a line the server keeps open unless said otherwise: a
// header that says anything at all still gives the key and the bind id, without waiting for a
// close or the time-out.
TEST_F(WebSessionTest, SessionReplyHeaderIsNotRead) {
    const std::string both = "<SessionKey>K1</SessionKey><BindId>B1</BindId>";
    Bytes garbage = Announcing(0, both);
    const uint32_t magic = 0x0BADF00D, code = 0xFFFFFFFF;
    std::memcpy(garbage.data(), &magic, 4);
    std::memcpy(garbage.data() + 4, &code, 4);
    Answer pieces = Send(Announcing(0, both));
    pieces.pieceBytes = 5;
    struct Case {
        const char* name;
        Answer answer;
    };
    const Case cases[] = {
        {"length 0", Send(Announcing(0, both))},
        {"length 0, in pieces", pieces},
        {"magic and code garbage", Send(garbage)},
        {"announces more than fits 1024 bytes", Send(Announcing(1013, both))},
        {"announces more than it sends, then closes", Send(Announcing(uint32_t(both.size()) + 1, both), true)},
        {"announces less than it sends", Send(Announcing(5, both))},
        {"its NUL and bytes after it", Send(Announcing(0, both + std::string("\0junk", 5)))},
    };
    soap.SetReply(provider::SessionService::Reply::Result0);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        session = CLoginSession();
        control.ClearRequests();
        control.SetAnswer(251, c.answer);
        const DWORD begin = GetTickCount();
        EXPECT_EQ(0, session.QuerySessionKey(L"web@example.com"));
        EXPECT_LT(GetTickCount() - begin, 2500u) << "no wait for the time-out";
        EXPECT_EQ(1, session.IsLoggedIn());
        EXPECT_TRUE(session.m_bWebSession);
        EXPECT_EQ((std::vector<uint32_t>{251, 240}), Codes());
        EXPECT_NE(std::string::npos, soap.LastBody().find("<sessionkey>K1</sessionkey><bindid>B1</bindid>"));
    }
}

TEST_F(WebSessionTest, SilentControlServerTimesOut) {
    control.SetAnswer(251, Kind(Answer::Silence));
    DWORD begin = GetTickCount();
    EXPECT_EQ(0, session.QuerySessionKey(L"web@example.com"));
    EXPECT_LT(GetTickCount() - begin, 15000u);
    EXPECT_EQ(0, session.IsLoggedIn());
    EXPECT_TRUE(soap.Requests().empty());
}

TEST_F(WebSessionTest, WholeRoad) {
    // The reply whole, and cut into small pieces that arrive one after the other.
    for (int pieceBytes : {0, 7}) {
        SCOPED_TRACE(pieceBytes);
        session = CLoginSession();
        control.ClearRequests();
        Answer reply =
            Send(SessionReplyBytes("<xml><SessionKey>KEY-1</SessionKey><Other/><BindId>BIND-7</BindId></xml>"));
        reply.pieceBytes = pieceBytes;
        control.SetAnswer(251, reply);
        soap.SetReply(provider::SessionService::Reply::Result0);
        EXPECT_EQ(0, session.QuerySessionKey(L"\x674E@example.com"));
        EXPECT_EQ(1, session.IsLoggedIn());
        EXPECT_TRUE(session.m_bWebSession);
        EXPECT_EQ(42u, session.m_nUserId);
        EXPECT_EQ(CString(L"\x674E@example.com"), session.m_strMail);
        EXPECT_EQ(CString(), session.m_strPassword);

        auto requests = control.Requests();
        ASSERT_EQ(2u, requests.size());
        EXPECT_EQ(251u, requests[0].code);
        EXPECT_EQ(240u, requests[1].code);
        EXPECT_NE(requests[0].connection, requests[1].connection);
        EXPECT_EQ(1u, requests[1].openConnections.count(requests[0].connection))
            << "the query's connection is still open during the session login";
        EXPECT_EQ("\xE6\x9D\x8E@example.com", Field(requests[1].bytes, 20, 50));

        std::string body = soap.LastBody();
        EXPECT_NE(std::string::npos,
                  body.find("<ns2:authsession><username>\xE6\x9D\x8E@example.com</username><sessionkey>KEY-1"
                            "</sessionkey><bindid>BIND-7</bindid></ns2:authsession>"))
            << body;
    }
}

// The service call and the session login take the name as typed; the service's XML is
// escaped by its own layer, once.
TEST_F(WebSessionTest, OnlyTheQueryEscapesTheUserName) {
    control.SetAnswer(251, Send(SessionReplyBytes("<SessionKey>K</SessionKey><BindId>B</BindId>")));
    soap.SetReply(provider::SessionService::Reply::Result0);
    EXPECT_EQ(0, session.QuerySessionKey(L"a&b<c>@x"));
    EXPECT_EQ(1, session.IsLoggedIn());
    auto requests = control.Requests();
    ASSERT_EQ(2u, requests.size());
    const std::string query(requests[0].bytes.begin(), requests[0].bytes.end());
    EXPECT_NE(std::string::npos, query.find("<UserName>a&amp;b&lt;c&gt;@x</UserName>")) << query;
    EXPECT_EQ("a&b<c>@x", Field(requests[1].bytes, 20, 50));
    EXPECT_NE(std::string::npos, soap.LastBody().find("<username>a&amp;b&lt;c&gt;@x</username>")) << soap.LastBody();
}

TEST_F(WebSessionTest, ServiceOutcomesDecideTheSessionLogin) {
    using Reply = provider::SessionService::Reply;
    struct Case {
        const char* name;
        Reply reply;
        bool loggedIn;
        bool callFailed;
    };
    const Case cases[] = {
        {"result 0", Reply::Result0, true, false},
        {"result 1", Reply::Result1, false, false},
        {"missing result", Reply::NoResult, false, false},
        {"fault", Reply::Fault, false, true},
        {"404", Reply::NotFound, false, true},
        {"silence", Reply::Silence, false, true},
    };
    control.SetAnswer(251, Send(SessionReplyBytes("<SessionKey></SessionKey><BindId></BindId>")));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        session = CLoginSession();
        control.ClearRequests();
        soap.SetReply(c.reply);
        int rc = session.QuerySessionKey(L"web@example.com");
        EXPECT_EQ(c.callFailed, rc != 0);
        EXPECT_EQ(c.loggedIn ? 1 : 0, session.IsLoggedIn());
        EXPECT_EQ(c.loggedIn, session.m_bWebSession);
        EXPECT_EQ(c.loggedIn ? 2u : 1u, Codes().size());
        // Empty values still go out, as empty elements.
        EXPECT_NE(std::string::npos, soap.LastBody().find("<sessionkey/><bindid/>"));
    }
}

TEST(WebSessionOnProvider, WholeRoadAgainstTheStandIn) {
    provider::Provider servers;
    provider::SessionService soap;
    ASSERT_TRUE(servers.Start("127.0.7.3"));
    ASSERT_TRUE(soap.Start("127.0.7.3"));
    provider::UserAccount user;
    // Characters the query's XML escapes: the stand-in must find the user all the same.
    user.mail = "\xE5\xBC\xA0&o'neil@example.com";
    user.password = "unused";
    user.userId = 4242;
    user.usedSpace = 10;
    user.totalSpace = 1000;
    servers.State().AddUser(user);
    servers.State().AddSession(user.mail, {"SK-9", "BI-3"});
    g_Settings.m_strServerAddr = L"127.0.7.3";
    g_Settings.SetServerPort(20000);
    session::SetSessionServiceEndpoint("http://127.0.7.3:14002");

    // The stand-in as it is, then with garbage in every header field the client does not read,
    // through each of its lies about the lengths (0 first).
    const bool garbage[] = {false, true, true, true};
    for (size_t i = 0; i < sizeof garbage; ++i) {
        SCOPED_TRACE(testing::Message() << "round " << i);
        servers.State().SetHeaderGarbage(garbage[i]);
        CLoginSession s;
        EXPECT_EQ(0, s.QuerySessionKey(L"\x5F20&o'neil@example.com"));
        EXPECT_EQ(1, s.IsLoggedIn());
        EXPECT_EQ(4242u, s.m_nUserId);
        EXPECT_EQ(10u, s.m_nUsedSpace);
        EXPECT_EQ(1000u, s.m_nTotalSpace);
        EXPECT_NE(std::string::npos, soap.LastBody().find("<sessionkey>SK-9</sessionkey><bindid>BI-3</bindid>"));
        EXPECT_EQ(i + 1, servers.State().RequestsOf(251).size());
        EXPECT_EQ(i + 1, servers.State().RequestsOf(240).size());
    }

    session::SetSessionServiceEndpoint("");
    soap.Stop();
    servers.Stop();
}

}  // namespace
