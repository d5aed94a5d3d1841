#include <gtest/gtest.h>

#include <chrono>

#include "client/session/SessionService.h"
#include "provider/SessionService.h"

namespace {

const char* kAddress = "127.0.7.1";
const char* kEndpoint = "http://127.0.7.1:14002";

using Reply = provider::SessionService::Reply;

class AuthSessionTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(service.Start(kAddress)) << "bind failed: " << WSAGetLastError();
        session::SetSessionServiceEndpoint(kEndpoint);
        session::SetSessionServiceTimeouts(2, 2, 2);
    }
    void TearDown() override {
        service.Stop();
        session::SetSessionServiceEndpoint("");
        session::SetSessionServiceTimeouts(10, 10, 10);
    }
    provider::SessionService service;
};

struct OutcomeCase {
    const char* name;
    Reply reply;
    const char* customBody;
    bool failed;  // a non-zero toolkit error
    bool hasResult;
    int result;
    bool confirmed;
};

TEST_F(AuthSessionTest, OutcomeOfEachKindOfAnswer) {
    const OutcomeCase cases[] = {
        {"result 0", Reply::Result0, nullptr, false, true, 0, true},
        {"result 1", Reply::Result1, nullptr, false, true, 1, false},
        {"fault", Reply::Fault, nullptr, true, false, 0, false},
        {"missing result", Reply::NoResult, nullptr, false, false, 0, false},
        {"html page", Reply::Html, nullptr, true, false, 0, false},
        {"404", Reply::NotFound, nullptr, true, false, 0, false},
        {"early close", Reply::EarlyClose, nullptr, true, false, 0, false},
        {"other response name", Reply::Custom, "<ns2:somethingElse><result>0</result></ns2:somethingElse>", false, true,
         0, true},
        {"result twice: first counts", Reply::Custom,
         "<ns2:authsessionResponse><result>1</result><result>0</result></ns2:authsessionResponse>", false, true, 1,
         false},
        {"unknown child skipped", Reply::Custom,
         "<ns2:authsessionResponse><note>x</note><result>0</result></ns2:authsessionResponse>", false, true, 0, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.customBody)
            service.SetCustomBody(provider::SessionService::Envelope(c.customBody));
        else
            service.SetReply(c.reply);
        session::AuthSessionOutcome out = session::CallAuthSession("user@example.com", "KEY", "BIND");
        EXPECT_EQ(c.failed, out.error != 0) << out.error;
        EXPECT_EQ(c.hasResult, out.hasResult);
        if (c.hasResult) {
            EXPECT_EQ(c.result, out.result);
        }
        EXPECT_EQ(c.confirmed, out.Confirmed());
    }
}

TEST_F(AuthSessionTest, FaultTextIsKept) {
    service.SetReply(Reply::Fault);
    session::AuthSessionOutcome out = session::CallAuthSession("u", "k", "b");
    EXPECT_NE(0, out.error);
    EXPECT_NE(std::string::npos, out.fault.find("session unknown")) << out.fault;
}

TEST_F(AuthSessionTest, SilentServiceEndsWithinTheReceiveTimeout) {
    service.SetReply(Reply::Silence);
    auto begin = std::chrono::steady_clock::now();
    session::AuthSessionOutcome out = session::CallAuthSession("u", "k", "b");
    auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    EXPECT_NE(0, out.error);
    EXPECT_FALSE(out.Confirmed());
    EXPECT_LT(seconds, 8.0);
}

TEST_F(AuthSessionTest, RequestOnTheWire) {
    service.SetReply(Reply::Result0);
    // "李" in UTF-8 must go out once-encoded; an empty key is an empty element.
    session::CallAuthSession("\xE6\x9D\x8E@example.com", "", "B<1>");
    std::string request = service.LastRequest();
    std::string body = service.LastBody();
    EXPECT_EQ(0u, request.find("POST / HTTP/1.1\r\n")) << request;
    EXPECT_NE(std::string::npos, request.find("\r\nHost: 127.0.7.1:14002\r\n")) << request;
    EXPECT_NE(std::string::npos, request.find("\r\nSOAPAction: \"\"\r\n")) << request;
    EXPECT_NE(std::string::npos, request.find("\r\nContent-Type: text/xml; charset=utf-8\r\n")) << request;
    EXPECT_NE(std::string::npos, request.find("\r\nContent-Length: " + std::to_string(body.size()) + "\r\n"));
    const std::string expected =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<SOAP-ENV:Envelope xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\" "
        "xmlns:SOAP-ENC=\"http://schemas.xmlsoap.org/soap/encoding/\" "
        "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
        "xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\" xmlns:ns2=\"urn:qxd\">"
        "<SOAP-ENV:Body SOAP-ENV:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\">"
        "<ns2:authsession><username>\xE6\x9D\x8E@example.com</username><sessionkey/>"
        "<bindid>B&lt;1&gt;</bindid></ns2:authsession></SOAP-ENV:Body></SOAP-ENV:Envelope>\r\n";
    EXPECT_EQ(expected, body);
}

TEST(AuthSessionNoService, RefusedConnectIsAFailure) {
    session::SetSessionServiceEndpoint("http://127.0.7.9:14002");
    session::SetSessionServiceTimeouts(2, 2, 2);
    session::AuthSessionOutcome out = session::CallAuthSession("u", "k", "b");
    EXPECT_NE(0, out.error);
    EXPECT_FALSE(out.Confirmed());
    session::SetSessionServiceEndpoint("");
}

TEST(AuthSessionNoService, DefaultEndpointIsTheBuiltInHost) {
    session::SetSessionServiceEndpoint("");
    EXPECT_EQ("", session::SessionServiceEndpoint());
}

}  // namespace
