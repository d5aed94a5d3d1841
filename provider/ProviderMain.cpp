// ferrant_provider: the provider stand-in as a program of its own, for the demo, the road test
// and the upload benchmark. It serves the control, data and session servers (and, when asked, the
// web server) on one loopback address until its standard input closes or Ctrl+C.
#include <winsock2.h>
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

#include "provider/Provider.h"
#include "provider/SessionService.h"
#include "provider/ConsoleOptions.h"
#include "provider/TcpServer.h"
#include "provider/WebSite.h"

namespace {

const char kHelp[] =
    "Usage: ferrant_provider [options]\n"
    "\n"
    "Runs the stand-in of the provider's servers (control, data and session service, and the web\n"
    "server when asked) on one loopback address. Prints one line when ready, e.g.\n"
    "  ferrant_provider ready: address=127.0.0.1 control=20000 data=20001 session=14002 plain=0 web=0\n"
    "and runs until its standard input closes (Ctrl+D, or the parent closing the pipe) or Ctrl+C.\n"
    "When it stops it prints one line per announced file: its id, size, segments, whether complete.\n"
    "\n"
    "Options (ports: 0 lets the system pick a free one; the ready line tells which):\n"
    "  --address A          loopback address to bind, 127.x.y.z (default 127.0.0.1)\n"
    "  --control-port N     control server: login, lists, announcement, delete (default 20000)\n"
    "  --data-port N        data server, one segment per connection (default 20001; the client\n"
    "                       always sends data to 20001)\n"
    "  --session-port N     session service for the web-started login (default 14002; -1: none)\n"
    "  --plain-port N       also run a plain receiver that reads and drops whatever a connection\n"
    "                       sends, for comparisons with a bare sender (default: none)\n"
    "  --sink KIND          where uploaded bytes go:\n"
    "                         memory   kept in memory for files up to 64 MiB, larger files are\n"
    "                                  taken and dropped (default)\n"
    "                         discard  taken and dropped, whatever the size\n"
    "                         file     one file per upload in --sink-folder, removed again when\n"
    "                                  the upload is deleted or the program ends\n"
    "  --sink-folder DIR    folder of the file sink (required with --sink file)\n"
    "  --user MAIL:PASSWORD the account that may log in (default demo@example.com:demo)\n"
    "  --user-id N          its user id (default 1)\n"
    "  --used BYTES         its used space (default 0)\n"
    "  --quota BYTES        its total space; 0: no quota (default 0)\n"
    "  --session KEY:BIND   session key and bind id the session query hands out for the account\n"
    "                       (default: none, so a web-started login is refused)\n"
    "  --server-id N        id of the one upload server listed, this address (default 1)\n"
    "  --web-port N         also run the web server: the login check of a handed-over web session\n"
    "                       answers result=1 for the account and --web-session, result=0 otherwise;\n"
    "                       the version file names a version no client is older than (default: none)\n"
    "  --web-session SID    the web session id the login check accepts (default: none accepted)\n"
    "  --header-garbage     garbage in every reply field the client does not read: whole headers\n"
    "                       of the login, session-query and file-server replies (a length of 0\n"
    "                       among them), magic and length of the user-space reply, the codes of\n"
    "                       the other replies and the magic of the segment and file lists, unread\n"
    "                       record fields and the bytes after a text's NUL\n"
    "  --ignore-stdin       run until Ctrl+C only, e.g. when started with stdin closed\n"
    "  --help               this text\n";

const char kLoginCheckPath[] = "/mail/login/opt/loginAction_loginCheck.do";

HANDLE g_stop = nullptr;

BOOL WINAPI OnConsoleControl(DWORD) {
    SetEvent(g_stop);
    return TRUE;
}

DWORD WINAPI WatchStdin(LPVOID) {
    HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    char buffer[256];
    DWORD got = 0;
    while (in && in != INVALID_HANDLE_VALUE && ReadFile(in, buffer, sizeof buffer, &got, nullptr) && got > 0) {
    }
    SetEvent(g_stop);
    return 0;
}

// Reads and drops every byte of every connection, through the same bounded reads (and the same
// read size) as the data server, so a bare sender meets the same receiving side.
class PlainReceiver : public provider::TcpServer {
public:
    ~PlainReceiver() override { Stop(); }
    uint64_t Received() const { return m_received; }

protected:
    void Serve(SOCKET s) override {
        std::vector<char> buffer(provider::DataServer::kDataChunk);
        for (;;) {
            int n = ReceiveSome(s, buffer.data(), static_cast<int>(buffer.size()));
            if (n <= 0) return;
            m_received += static_cast<uint64_t>(n);
        }
    }

private:
    std::atomic<uint64_t> m_received{0};
};

// A port free on the address just now (0 when none): the session service takes a fixed port.
uint16_t FreePort(const std::string& address) {
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) return 0;
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = inet_addr(address.c_str());
    int len = sizeof a;
    uint16_t port = 0;
    if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) == 0)
        port = ntohs(a.sin_port);
    closesocket(s);
    return port;
}

std::string Narrow(const std::wstring& w) { return std::string(w.begin(), w.end()); }

bool ParseNumber(const std::wstring& text, long long low, long long high, long long& out) {
    if (text.empty()) return false;
    wchar_t* end = nullptr;
    long long v = wcstoll(text.c_str(), &end, 10);
    if (*end != L'\0' || v < low || v > high) return false;
    out = v;
    return true;
}

bool SplitPair(const std::wstring& text, std::string& first, std::string& second) {
    size_t colon = text.find(L':');
    if (colon == std::wstring::npos) return false;
    first = Narrow(text.substr(0, colon));
    second = Narrow(text.substr(colon + 1));
    return !first.empty();
}

struct Options {
    std::string address = "127.0.0.1";
    long long controlPort = protocol::kControlPort, dataPort = protocol::kDataPort, sessionPort = 14002;
    long long plainPort = -1;
    std::wstring sink = L"memory", sinkFolder;
    std::string mail = "demo@example.com", password = "demo";
    long long userId = 1, used = 0, quota = 0, serverId = 1;
    std::string sessionKey, bindId;
    long long webPort = -1;
    std::string webSession;
    bool ignoreStdin = false;
    bool headerGarbage = false;
};

int Usage(const char* problem) { return ConsoleUsage("ferrant_provider", problem); }

// 0 when parsed, 1 after --help, 2 on a bad command line.
int Parse(int argc, wchar_t** argv, Options& o) {
    const long long kMaxU64 = 0x7FFFFFFFFFFFFFFFll;
    auto flag = [&](const std::wstring& a) {
        if (a == L"--ignore-stdin") return o.ignoreStdin = true;
        if (a == L"--header-garbage") return o.headerGarbage = true;
        return false;
    };
    auto valued = [&](const std::wstring& a, const std::wstring& v) {
        bool ok = true;
        if (a == L"--address") {
            o.address = Narrow(v);
            ok = v.size() < 16 && inet_addr(o.address.c_str()) != INADDR_NONE && o.address.compare(0, 4, "127.") == 0;
        } else if (a == L"--control-port") {
            ok = ParseNumber(v, 0, 65535, o.controlPort);
        } else if (a == L"--data-port") {
            ok = ParseNumber(v, 0, 65535, o.dataPort);
        } else if (a == L"--session-port") {
            ok = ParseNumber(v, -1, 65535, o.sessionPort);
        } else if (a == L"--plain-port") {
            ok = ParseNumber(v, 0, 65535, o.plainPort);
        } else if (a == L"--sink") {
            o.sink = v;
            ok = v == L"memory" || v == L"discard" || v == L"file";
        } else if (a == L"--sink-folder") {
            o.sinkFolder = v;
        } else if (a == L"--user") {
            ok = SplitPair(v, o.mail, o.password);
        } else if (a == L"--user-id") {
            ok = ParseNumber(v, 1, kMaxU64, o.userId);
        } else if (a == L"--used") {
            ok = ParseNumber(v, 0, kMaxU64, o.used);
        } else if (a == L"--quota") {
            ok = ParseNumber(v, 0, kMaxU64, o.quota);
        } else if (a == L"--session") {
            ok = SplitPair(v, o.sessionKey, o.bindId);
        } else if (a == L"--server-id") {
            ok = ParseNumber(v, 0, 0xFFFFFFFFll, o.serverId);
        } else if (a == L"--web-port") {
            ok = ParseNumber(v, 0, 65535, o.webPort);
        } else if (a == L"--web-session") {
            o.webSession = Narrow(v);
            ok = !v.empty();
        } else {
            return OptionResult::Unknown;
        }
        return ok ? OptionResult::Ok : OptionResult::BadValue;
    };
    if (int parsed = ParseConsoleOptions(argc, argv, "ferrant_provider", kHelp, flag, valued)) return parsed;
    if (o.sink == L"file" && o.sinkFolder.empty()) return Usage("--sink file needs --sink-folder");
    if (o.sink == L"file" && GetFileAttributesW(o.sinkFolder.c_str()) == INVALID_FILE_ATTRIBUTES)
        return Usage("the sink folder does not exist");
    return 0;
}

// The web-mail server's part of the road: the login check of a handed-over session and a
// version file that offers no update.
void ServeWeb(provider::WebSite& web, const Options& o) {
    const std::string accepted = "usr=" + o.mail + "&sid=" + o.webSession;
    const bool anySession = !o.webSession.empty();
    web.SetResponder(kLoginCheckPath, [accepted, anySession](const provider::WebSite::Request& request) {
        return anySession && request.method == "POST" && request.body == accepted ? "result=1" : "result=0";
    });
    web.SetVersionBody("version=0.0.0.0");
}

void PrintFiles(const provider::ProviderState& state) {
    for (const provider::StoredFile& f : state.Files())
        fprintf(stderr, "ferrant_provider: file %llu \"%s\" %llu bytes, %zu segments, %s\n",
                static_cast<unsigned long long>(f.fileId), f.name.c_str(), static_cast<unsigned long long>(f.size),
                f.segments.size(), f.Finished() ? "complete" : "incomplete");
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    Options o;
    if (int parsed = Parse(argc, argv, o)) return parsed == 1 ? 0 : parsed;  // 1: after --help

    WSADATA wsa;
    if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) {
        fprintf(stderr, "ferrant_provider: WSAStartup failed\n");
        return 1;
    }
    provider::Provider servers;
    provider::ProviderState& state = servers.State();
    provider::UserAccount user;
    user.mail = o.mail;
    user.password = o.password;
    user.userId = static_cast<uint64_t>(o.userId);
    user.usedSpace = static_cast<uint64_t>(o.used);
    user.totalSpace = static_cast<uint64_t>(o.quota);
    state.AddUser(user);
    if (!o.sessionKey.empty()) state.AddSession(o.mail, {o.sessionKey, o.bindId});
    protocol::ServerInfo server;
    server.serverId = static_cast<uint32_t>(o.serverId);
    server.host = o.address;
    server.port = static_cast<uint16_t>(o.dataPort);
    state.AddServer(server);
    if (o.sink == L"discard") state.SetDiscardAll(true);
    if (o.sink == L"file") state.SetSinkFolder(o.sinkFolder);
    state.SetHeaderGarbage(o.headerGarbage);

    if (!servers.Start(o.address, static_cast<uint16_t>(o.controlPort), static_cast<uint16_t>(o.dataPort))) {
        fprintf(stderr, "ferrant_provider: cannot listen on %s (control %lld, data %lld): error %d\n",
                o.address.c_str(), o.controlPort, o.dataPort, WSAGetLastError());
        return 1;
    }
    provider::SessionService session;
    uint16_t sessionPort = 0;
    if (o.sessionPort >= 0) {
        sessionPort = o.sessionPort ? static_cast<uint16_t>(o.sessionPort) : FreePort(o.address);
        if (!sessionPort || !session.Start(o.address, sessionPort)) {
            fprintf(stderr, "ferrant_provider: cannot listen on %s:%lld (session service): error %d\n",
                    o.address.c_str(), o.sessionPort, WSAGetLastError());
            return 1;
        }
    }
    PlainReceiver plain;
    if (o.plainPort >= 0 && !plain.Start(o.address, static_cast<uint16_t>(o.plainPort))) {
        fprintf(stderr, "ferrant_provider: cannot listen on %s:%lld (plain receiver): error %d\n", o.address.c_str(),
                o.plainPort, WSAGetLastError());
        return 1;
    }

    provider::WebSite web;
    if (o.webPort >= 0) {
        ServeWeb(web, o);
        if (!web.Start(o.address, static_cast<uint16_t>(o.webPort))) {
            fprintf(stderr, "ferrant_provider: cannot listen on %s:%lld (web server): error %d\n", o.address.c_str(),
                    o.webPort, WSAGetLastError());
            return 1;
        }
    }

    g_stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
    if (!o.ignoreStdin) CloseHandle(CreateThread(nullptr, 0, WatchStdin, nullptr, 0, nullptr));

    printf("ferrant_provider ready: address=%s control=%u data=%u session=%u plain=%u web=%u\n", o.address.c_str(),
           servers.ControlPort(), servers.DataPort(), sessionPort, o.plainPort >= 0 ? plain.Port() : 0u,
           o.webPort >= 0 ? web.Port() : 0u);
    fflush(stdout);

    WaitForSingleObject(g_stop, INFINITE);
    web.Stop();
    plain.Stop();
    session.Stop();
    servers.Stop();
    PrintFiles(state);
    fprintf(stderr, "ferrant_provider: stopped (%zu files announced, plain receiver took %llu bytes)\n",
            state.Files().size(), static_cast<unsigned long long>(plain.Received()));
    WSACleanup();
    return 0;
}
