// Pieces the upload tests share: source files of known bytes, loopback addresses of a test's
// own, and a provider stand-in with one account and one upload server.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "client/transfer/Protocol.h"
#include "framework/CString.h"
#include "provider/Provider.h"

namespace upload_test {

// A temporary file of `size` pseudo-random bytes (seeded by the size), removed at the end.
struct TempFile {
    TempFile(size_t size, const wchar_t* tag, uint32_t seed) {
        wchar_t dir[MAX_PATH];
        GetTempPathW(MAX_PATH, dir);
        static int serial = 0;
        swprintf(path, MAX_PATH, L"%lsferrant-%ls-%lu-%d.bin", dir, tag, GetCurrentProcessId(), serial++);
        bytes.resize(size);
        uint32_t x = static_cast<uint32_t>(size) * 2654435761u + seed;
        for (auto& b : bytes) b = static_cast<uint8_t>((x = x * 1103515245u + 12345u) >> 24);
        FILE* f = _wfopen(path, L"wb");
        if (size) fwrite(bytes.data(), 1, size, f);
        fclose(f);
    }
    ~TempFile() { DeleteFileW(path); }
    wchar_t path[MAX_PATH];
    std::vector<uint8_t> bytes;
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
inline std::unique_ptr<provider::Provider> NewProvider(const std::string& address, const char* mail,
                                                       uint64_t userId, uint32_t serverId) {
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
