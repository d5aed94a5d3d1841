// Pieces the upload tests share: the program's network start, loopback addresses of a test's
// own, and a provider stand-in with one account and one upload server. Their source files are
// TempFile (tests/support/TempDir.h).
#pragma once

#include <winsock2.h>
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "client/transfer/CIcmpPing.h"
#include "client/transfer/Protocol.h"
#include "framework/CString.h"
#include "provider/Provider.h"
#include "tests/support/TempDir.h"

namespace upload_test {

// WinSock and the ping, started as the program starts them before any upload.
struct NetworkEnvironment : testing::Environment {
    void SetUp() override {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
        CIcmpPing::Startup();
    }
    void TearDown() override { WSACleanup(); }
};

// The same for tests that show upload rows: their controls' classes too.
struct WindowNetworkEnvironment : NetworkEnvironment {
    void SetUp() override {
        NetworkEnvironment::SetUp();
        INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
        InitCommonControlsEx(&icc);
    }
};

// The upload servers listen on fixed ports, so each test takes an address of its own: a
// listener of an earlier test that is still closing is never met.
class Addresses {
public:
    explicit Addresses(const char* prefix) : m_prefix(prefix) {}
    std::string Next() { return m_prefix + std::to_string(m_next++); }

private:
    std::string m_prefix;
    int m_next = 1;
};

inline CString Wide(const std::string& ascii) { return CString(std::wstring(ascii.begin(), ascii.end()).c_str()); }

// A stand-in with the account `userId` and one upload server on `address`; not started yet.
inline std::unique_ptr<provider::Provider> NewProvider(const std::string& address, const char* mail, uint64_t userId,
                                                       uint32_t serverId) {
    std::unique_ptr<provider::Provider> p(new provider::Provider);
    provider::UserAccount user;
    user.mail = mail;
    user.userId = userId;
    p->State().AddUser(user);
    protocol::ServerInfo server;
    server.serverId = serverId;
    server.host = address;
    server.port = protocol::kDataPort;
    p->State().AddServer(server);
    return p;
}

// The stand-in holds exactly the file's bytes for `fileId` now.
inline bool HoldsNow(provider::Provider& p, uint64_t fileId, const TempFile& file) {
    protocol::Bytes content;
    if (!p.State().Content(fileId, content)) return file.bytes.empty();
    return content.size() == file.bytes.size() && std::equal(content.begin(), content.end(), file.bytes.begin());
}

// The same once the stand-in has every byte (bounded wait).
inline bool HoldsExactly(provider::Provider& p, uint64_t fileId, const TempFile& file) {
    p.State().WaitForFinished(fileId, 10000);
    return HoldsNow(p, fileId, file);
}

}  // namespace upload_test
