// The web-started login against the stand-ins: the web-mail server's login check, the control
// server's session query, the session service and the session login, with the main dialog
// replaced by a recorder.
#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "client/app/CAppSettings.h"
#include "client/app/CFerrantApp.h"
#include "client/session/CLoginSession.h"
#include "client/session/SessionService.h"
#include "client/transfer/Protocol.h"
#include "client/windows/LoginStore.h"
#include "provider/Provider.h"
#include "provider/SessionService.h"
#include "provider/WebSite.h"
#include "tests/support/Capture.h"
#include "tests/support/UploadTestSupport.h"

namespace {

const char kAddress[] = "127.0.0.41";
const char kOtherAddress[] = "127.0.0.42";
const char kUser[] = "web@example.com";
const uint16_t kWebPort = 18041;
const uint16_t kDeadPort = 18042;  // trusted, but nothing listens there
const char kCheckPath[] = "/mail/login/opt/loginAction_loginCheck.do";

std::string Host(const char* address, uint16_t port) { return std::string(address) + ":" + std::to_string(port); }

using upload_test::Wide;

std::string LaunchText(const std::string& host, const std::string& user, const std::string& session = "SID42") {
    return "url=" + host + "&usr=" + user + "&sid=" + session;
}

testing::Environment* const g_network = testing::AddGlobalTestEnvironment(new upload_test::NetworkEnvironment);

class WebLoginTest : public testing::Test {
protected:
    void SetUp() override {
        provider::UserAccount account;
        account.mail = kUser;
        account.userId = 7;
        m_provider.State().AddUser(account);
        m_provider.State().AddSession(kUser, {"KEY", "BIND"});
        ASSERT_TRUE(m_provider.Start(kAddress));
        ASSERT_TRUE(m_soap.Start(kAddress));
        m_soap.SetReply(provider::SessionService::Reply::Result0);
        ASSERT_TRUE(m_web.Start(kAddress, kWebPort));
        ASSERT_TRUE(m_otherWeb.Start(kOtherAddress, kWebPort));
        m_otherWeb.SetPage(kCheckPath, {200, "result=1"});
        session::SetSessionServiceEndpoint("http://127.0.0.41:14002");
        g_Settings.m_strServerAddr = Wide(kAddress);

        m_app.m_strTrustedHosts = Wide(Host(kAddress, kWebPort) + ";" + Host(kAddress, kDeadPort));
        m_app.m_runMainDialog = [this](CFerrantApp&) {
            ++m_nDialogs;
            m_bLoggedInAtDialog = g_LoginSession.IsLoggedIn() != 0;
            return m_nDialogResult;
        };
        Reset(CString());
    }
    void TearDown() override {
        session::SetSessionServiceEndpoint("");
        g_strUserName = CString();
        g_LoginSession = CLoginSession();
        m_web.Stop();
        m_otherWeb.Stop();
        m_soap.Stop();
        m_provider.Stop();
    }

    void Reset(const CString& currentUser) {
        g_LoginSession = CLoginSession();
        g_strUserName = currentUser;
        m_web.ClearRequests();
        m_otherWeb.ClearRequests();
        m_nDialogs = 0;
        m_bLoggedInAtDialog = false;
    }
    size_t SessionQueries() { return m_provider.State().RequestsOf(protocol::MSG_CODE_REQ_SESSION_QUERY).size(); }

    provider::Provider m_provider;
    provider::SessionService m_soap;
    provider::WebSite m_web;
    provider::WebSite m_otherWeb;
    CFerrantApp m_app;
    std::atomic<int> m_nDialogs{0};
    bool m_bLoggedInAtDialog = false;
    INT_PTR m_nDialogResult = IDCANCEL;
};

TEST_F(WebLoginTest, LaunchTexts) {
    const std::string trusted = Host(kAddress, kWebPort);
    const std::string longUser = std::string(60, 'u') + "@example.com";
    struct Case {
        const char* name;
        std::string text;
        std::string answer;     // the web-mail server's page
        const char* current;    // g_strUserName before
        size_t checks;          // login checks the trusted server saw
        size_t queries;         // session queries the control server saw
        const char* userAfter;  // g_strUserName after
        bool loggedIn;
        int dialogs;
    } cases[] = {
        {"empty text", "", "result=1", "", 0, 0, "", false, 1},
        {"nothing handed over", "url=&usr=&sid=", "result=1", "", 0, 0, "", false, 1},
        {"accepted", LaunchText(trusted, kUser), "result=1", "", 1, 1, kUser, true, 1},
        {"accepted inside other text", LaunchText(trusted, kUser), "<p>ok result=1;</p>", "", 1, 1, kUser, true, 1},
        {"refused", LaunchText(trusted, kUser), "result=0", "", 1, 0, "", false, 1},
        {"unreachable web-mail server", LaunchText(Host(kAddress, kDeadPort), kUser), "", "", 0, 0, "", false, 1},
        {"untrusted host", LaunchText(Host(kOtherAddress, kWebPort), kUser), "result=1", "", 0, 0, "", false, 1},
        {"host holding a '?'", LaunchText(trusted + "?x", kUser), "result=1", "", 0, 0, "", false, 1},
        {"user too long for its fields", LaunchText(trusted, longUser), "result=1", "", 1, 0, "", false, 1},
        {"a key missing", "url=" + trusted + "&usr=" + kUser, "result=1", "", 0, 0, "", false, 1},
        {"same user again", LaunchText(trusted, kUser), "result=1", kUser, 0, 0, kUser, false, 0},
        // Only the parsed user counts: a name that merely occurs in the text is another user.
        {"another user containing the current one", LaunchText(trusted, kUser), "result=1", "eb@example.com", 1, 1,
         kUser, true, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Reset(Wide(c.current));
        const size_t queriesBefore = SessionQueries();
        m_web.SetPage(kCheckPath, {200, c.answer});
        m_app.Onlogin(Wide(c.text));
        EXPECT_EQ(c.checks, m_web.RequestCount());
        EXPECT_EQ(0u, m_otherWeb.RequestCount());
        EXPECT_EQ(c.queries, SessionQueries() - queriesBefore);
        EXPECT_EQ(Wide(c.userAfter), g_strUserName);
        EXPECT_EQ(c.loggedIn, g_LoginSession.IsLoggedIn() != 0);
        EXPECT_EQ(c.loggedIn, m_bLoggedInAtDialog);
        EXPECT_EQ(c.dialogs, m_nDialogs.load());
        EXPECT_EQ(20000u, g_Settings.GetServerPort());
    }
}

TEST_F(WebLoginTest, CheckRequestAsSent) {
    m_web.SetPage(kCheckPath, {200, "result=1"});
    m_app.Onlogin(Wide(LaunchText(Host(kAddress, kWebPort), "U", "S")));
    ASSERT_EQ(1u, m_web.RequestCount());
    provider::WebSite::Request request = m_web.LastRequest();
    EXPECT_EQ("POST", request.method);
    EXPECT_EQ(kCheckPath, request.path);
    EXPECT_EQ("usr=U&sid=S", request.body);
    EXPECT_EQ("11", request.Header("Content-Length"));
    EXPECT_EQ(1, request.HeaderCount("Content-Length"));
    EXPECT_EQ("application/x-www-form-urlencoded", request.Header("Content-Type"));
    // The check said yes for U; the control server knows no session of U.
    EXPECT_EQ(CString(L"U"), g_strUserName);
    EXPECT_EQ(0, g_LoginSession.IsLoggedIn());
}

TEST_F(WebLoginTest, MainDialogEndingWithMinusTwoLogsOut) {
    m_web.SetPage(kCheckPath, {200, "result=1"});
    m_nDialogResult = -2;
    EXPECT_EQ(0, m_app.Onlogin(Wide(LaunchText(Host(kAddress, kWebPort), kUser))));
    EXPECT_TRUE(m_bLoggedInAtDialog);
    EXPECT_EQ(0, g_LoginSession.IsLoggedIn());
    m_nDialogResult = IDOK;
    Reset(CString());
    EXPECT_EQ(1, m_app.Onlogin(CString()));
}

TEST_F(WebLoginTest, OneLoginAtATime) {
    provider::WebSite::Page slow{200, "result=1"};
    slow.delayMs = 1500;
    m_web.SetPage(kCheckPath, slow);
    const CString text = Wide(LaunchText(Host(kAddress, kWebPort), kUser));
    std::thread first([&] { m_app.Onlogin(text); });
    ASSERT_TRUE(test_capture::PumpUntil([&] { return m_web.RequestCount() == 1; }, 10000));
    // The same text again while the first login waits for its check: dropped at once.
    EXPECT_EQ(0, m_app.Onlogin(text));
    first.join();
    EXPECT_EQ(1u, m_web.RequestCount());
    EXPECT_EQ(1, m_nDialogs.load());
    EXPECT_EQ(1, g_LoginSession.IsLoggedIn());
    // Once it is over the next text is taken again.
    Reset(CString());
    m_app.Onlogin(text);
    EXPECT_EQ(1, m_nDialogs.load());
}

}  // namespace
