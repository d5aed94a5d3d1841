// upload_bench: uploads a file over 10 segments through the upload engine to the provider
// stand-in (its own process, so the figures below are this client's alone), then sends the same
// file through a bare Winsock sender of the same chunk size, and prints both side by side.
#include <winsock2.h>
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "client/app/CAppSettings.h"
#include "client/session/CLoginSession.h"
#include "client/transfer/CIcmpPing.h"
#include "client/transfer/CServerExchange.h"
#include "client/transfer/Protocol.h"
#include "client/transfer/CUploadSegments.h"
#include "client/transfer/SocketFunctions.h"
#include "client/transfer/CUploading.h"
#include "provider/ConsoleOptions.h"
#include "framework/CFile.h"
#include "framework/CFileException.h"

namespace {

const char kHelp[] =
    "Usage: upload_bench [options]\n"
    "\n"
    "Uploads a file over 10 segments with the upload engine to ferrant_provider (started here as\n"
    "a separate process, on a loopback address), then sends the same file to the provider's plain\n"
    "receiver through a bare Winsock sender: one blocking send() per chunk of the segment sender's\n"
    "size, over as many connections as segments. Prints MB/s (10^6 bytes per second), CPU seconds\n"
    "and peak memory of this process for each, and the ratio. A smaller upload runs first so that\n"
    "its peak memory stands beside the large one's.\n"
    "\n"
    "  --size BYTES      size of the file (default 1G; suffixes K, M, G are powers of 1024)\n"
    "  --small BYTES     size of the first, smaller upload (default 64M; 0: none)\n"
    "  --segments N      segments and plain connections, 1 to 10 (default 10)\n"
    "  --data-dir DIR    where the files are made or reused (default: bench-data beside the program)\n"
    "  --provider PATH   the provider program (default: found beside this program or in ..\\provider)\n"
    "  --address A       loopback address for the provider (default 127.0.77.x, x from the process\n"
    "                    id; the client always sends data to port 20001, so the address must be free)\n"
    "  --repeat N        runs of each sender over the large file, taken in turn (default 3);\n"
    "                    the ratio is that of the medians, so a busy machine skews it less\n"
    "  --explain         also run the plain sender with one of the segment sender's ways at a\n"
    "                    time (its socket buffer sizes, its non-blocking send, its seek and read\n"
    "                    of several chunks at a time), with all three, and to the provider's data\n"
    "                    server instead of the plain receiver, to show what each costs\n"
    "  --help            this text\n"
    "\n"
    "Exit status 0 when every upload completed and the plain sender sent everything.\n";

struct Options {
    uint64_t size = 1ull << 30;
    uint64_t small = 64ull << 20;
    int segments = 10;
    std::wstring dataDir, provider;
    std::string address;
    bool explain = false;
    int repeat = 3;
};

std::wstring ProgramDir() { return static_cast<LPCWSTR>(GetModuleFolder()); }  // ends in a separator

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool ParseSize(const wchar_t* text, uint64_t& out) {
    wchar_t* end = nullptr;
    unsigned long long v = wcstoull(text, &end, 10);
    if (end == text) return false;
    uint64_t unit = 1;
    switch (towupper(*end)) {
    case L'\0': break;
    case L'K':
        unit = 1ull << 10;
        ++end;
        break;
    case L'M':
        unit = 1ull << 20;
        ++end;
        break;
    case L'G':
        unit = 1ull << 30;
        ++end;
        break;
    default: return false;
    }
    if (*end != L'\0' || v > (0xFFFFFFFFull / unit)) return false;  // the engine completes files below 4 GiB only
    out = v * unit;
    return true;
}

int Parse(int argc, wchar_t** argv, Options& o) {
    auto flag = [&](const std::wstring& a) { return a == L"--explain" && (o.explain = true); };
    auto valued = [&](const std::wstring& a, const std::wstring& value) {
        const wchar_t* v = value.c_str();
        bool ok = true;
        if (a == L"--size") {
            ok = ParseSize(v, o.size) && o.size > 0;
        } else if (a == L"--small") {
            ok = ParseSize(v, o.small);
        } else if (a == L"--segments") {
            o.segments = _wtoi(v);
            ok = o.segments >= 1 && o.segments <= CUploadSegments::kMaxSegments;
        } else if (a == L"--repeat") {
            o.repeat = _wtoi(v);
            ok = o.repeat >= 1 && o.repeat <= 100;
        } else if (a == L"--data-dir") {
            o.dataDir = value;
        } else if (a == L"--provider") {
            o.provider = value;
        } else if (a == L"--address") {
            o.address.assign(value.begin(), value.end());
            ok = o.address.compare(0, 4, "127.") == 0 && inet_addr(o.address.c_str()) != INADDR_NONE;
        } else {
            return OptionResult::Unknown;
        }
        return ok ? OptionResult::Ok : OptionResult::BadValue;
    };
    if (int parsed = ParseConsoleOptions(argc, argv, "upload_bench", kHelp, flag, valued)) return parsed;
    if (o.dataDir.empty()) o.dataDir = ProgramDir() + L"bench-data";
    if (o.provider.empty()) {
        o.provider = ProgramDir() + L"ferrant_provider.exe";
        if (!Exists(o.provider)) o.provider = ProgramDir() + L"..\\provider\\ferrant_provider.exe";
    }
    if (o.address.empty()) o.address = "127.0.77." + std::to_string(1 + GetCurrentProcessId() % 250);
    return 0;
}

double Now() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER c;
    QueryPerformanceCounter(&c);
    return static_cast<double>(c.QuadPart) / static_cast<double>(frequency.QuadPart);
}

struct Cpu {
    double user = 0, kernel = 0;
    double Total() const { return user + kernel; }
};

Cpu ProcessCpu() {
    FILETIME created, exited, kernel, user;
    Cpu c;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return c;
    auto seconds = [](const FILETIME& t) {
        return static_cast<double>((static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 1e7;
    };
    c.user = seconds(user);
    c.kernel = seconds(kernel);
    return c;
}

struct Memory {
    double workingSet = 0, peakWorkingSet = 0, pagefile = 0, peakPagefile = 0;  // MiB
};

Memory ProcessMemory() {
    PROCESS_MEMORY_COUNTERS m = {};
    m.cb = sizeof m;
    Memory r;
    if (!GetProcessMemoryInfo(GetCurrentProcess(), &m, sizeof m)) return r;
    const double mib = 1024.0 * 1024.0;
    r.workingSet = m.WorkingSetSize / mib;
    r.peakWorkingSet = m.PeakWorkingSetSize / mib;
    r.pagefile = m.PagefileUsage / mib;
    r.peakPagefile = m.PeakPagefileUsage / mib;
    return r;
}

// Files of pseudo-random bytes, made once and reused while their size is right.
bool MakeFile(const std::wstring& path, uint64_t size) {
    WIN32_FILE_ATTRIBUTE_DATA a;
    if (GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &a) &&
        ((static_cast<uint64_t>(a.nFileSizeHigh) << 32) | a.nFileSizeLow) == size)
        return true;
    printf("making %ls (%llu bytes)\n", path.c_str(), static_cast<unsigned long long>(size));
    fflush(stdout);
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    std::vector<uint32_t> block((1u << 20) / 4);
    uint32_t x = 2463534242u;
    bool ok = true;
    for (uint64_t left = size; ok && left > 0;) {
        for (auto& w : block) {
            x ^= x << 13;
            x ^= x >> 17;
            x ^= x << 5;
            w = x;
        }
        DWORD piece = static_cast<DWORD>(std::min<uint64_t>(left, block.size() * 4)), done = 0;
        ok = WriteFile(h, block.data(), piece, &done, nullptr) && done == piece;
        left -= piece;
    }
    CloseHandle(h);
    if (!ok) DeleteFileW(path.c_str());
    return ok;
}

// Reads the file once so that both senders find it in the system's cache.
void Warm(const std::wstring& path) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (h == INVALID_HANDLE_VALUE) return;
    std::vector<char> buffer(1u << 20);
    DWORD got = 0;
    while (ReadFile(h, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr) && got > 0) {
    }
    CloseHandle(h);
}

// The provider program, with its standard input on a pipe that this process closes to stop it.
class ProviderProcess {
public:
    ~ProviderProcess() { Stop(); }

    bool Start(const Options& o) {
        SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
        HANDLE childIn = nullptr, childOut = nullptr;
        if (!CreatePipe(&childIn, &m_in, &inherit, 0)) return false;
        if (!CreatePipe(&m_out, &childOut, &inherit, 0)) {
            CloseHandle(childIn);
            return false;
        }
        SetHandleInformation(m_in, HANDLE_FLAG_INHERIT, 0);
        SetHandleInformation(m_out, HANDLE_FLAG_INHERIT, 0);
        std::wstring address(o.address.begin(), o.address.end());
        std::wstring line = L"\"" + o.provider + L"\" --address " + address +
                            L" --control-port 0 --data-port 20001 --session-port 0 --plain-port 0 --sink discard"
                            L" --user bench@example.com:bench --user-id 77";
        STARTUPINFOW si = {};
        si.cb = sizeof si;
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdInput = childIn;
        si.hStdOutput = childOut;
        si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
        PROCESS_INFORMATION pi = {};
        std::vector<wchar_t> command(line.begin(), line.end());
        command.push_back(0);
        BOOL started = CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
        CloseHandle(childIn);
        CloseHandle(childOut);
        if (!started) {
            fprintf(stderr, "upload_bench: cannot start %ls (error %lu)\n", o.provider.c_str(), GetLastError());
            return false;
        }
        CloseHandle(pi.hThread);
        m_process = pi.hProcess;
        return ReadReady();
    }

    void Stop() {
        if (m_in) CloseHandle(m_in), m_in = nullptr;
        if (m_process) {
            if (WaitForSingleObject(m_process, 15000) != WAIT_OBJECT_0) TerminateProcess(m_process, 1);
            CloseHandle(m_process);
            m_process = nullptr;
        }
        if (m_out) CloseHandle(m_out), m_out = nullptr;
    }

    uint16_t control = 0, plain = 0;

private:
    // Bounded: the provider either prints its ready line or ends.
    bool ReadReady() {
        std::string text;
        for (double end = Now() + 30; Now() < end;) {
            DWORD available = 0;
            if (!PeekNamedPipe(m_out, nullptr, 0, nullptr, &available, nullptr)) break;
            if (available == 0) {
                if (WaitForSingleObject(m_process, 10) == WAIT_OBJECT_0) break;
                continue;
            }
            char buffer[512];
            DWORD got = 0;
            if (!ReadFile(m_out, buffer, std::min<DWORD>(available, sizeof buffer), &got, nullptr)) break;
            text.append(buffer, got);
            size_t eol = text.find('\n');
            if (eol == std::string::npos) continue;
            const std::string line = text.substr(0, eol);
            unsigned c = 0, p = 0;
            const char* at = strstr(line.c_str(), "control=");
            const char* plainAt = strstr(line.c_str(), "plain=");
            if (at && plainAt && sscanf(at, "control=%u", &c) == 1 && sscanf(plainAt, "plain=%u", &p) == 1) {
                control = static_cast<uint16_t>(c);
                plain = static_cast<uint16_t>(p);
                return control != 0 && plain != 0;
            }
            break;
        }
        fprintf(stderr, "upload_bench: the provider did not report ready: %s\n", text.c_str());
        return false;
    }

    HANDLE m_in = nullptr, m_out = nullptr, m_process = nullptr;
};

struct Run {
    bool complete = false;
    double seconds = 0;      // start to end, everything included
    double dataSeconds = 0;  // from the first byte counted to the end
    // From the moment every byte had left this process to "完成": the server's close and its
    // segment list, asked before the row may say the file arrived.
    double confirmSeconds = 0;
    uint64_t bytes = 0;
    Cpu cpu;
    Memory after;                                       // the system's figures once the run ended
    double sampledWorkingSet = 0, sampledPagefile = 0;  // largest seen while it ran, MiB
};

void Sample(Run& r) {
    Memory m = ProcessMemory();
    r.sampledWorkingSet = std::max(r.sampledWorkingSet, m.workingSet);
    r.sampledPagefile = std::max(r.sampledPagefile, m.pagefile);
}

const uint64_t kUserId = 77;

// One exchange with the control server on a connection of its own, by the client's own path;
// false unless a reply came.
bool Exchange(const Options& o, uint16_t port, const protocol::Bytes& request, protocol::Bytes& reply) {
    CServerExchange control;
    const std::wstring host(o.address.begin(), o.address.end());
    return control.Connect(CString(host.c_str()), port) && control.Request(request, reply);
}

// True once the provider lists the file as finished: every byte arrived, not only left this
// process.
bool ProviderHoldsAll(const Options& o, uint16_t port, uint64_t fileId) {
    protocol::Bytes reply;
    std::vector<protocol::FileEntry> files;
    if (!Exchange(o, port, protocol::BuildFileList(kUserId), reply) ||
        !protocol::ParseFileList(reply.data(), reply.size(), files))
        return false;
    for (const auto& f : files)
        if (f.fileId == fileId) return f.finished;
    return false;
}

Run UploadWithEngine(const std::wstring& path, uint64_t size, const Options& o, const ProviderProcess& provider) {
    std::wstring host(o.address.begin(), o.address.end());
    g_Settings.m_strServerAddr = CString(host.c_str());
    g_Settings.SetServerPort(provider.control);
    g_Settings.m_nMaxSendFileThread = o.segments;
    g_LoginSession.m_nUserId = kUserId;

    Run r;
    const Cpu before = ProcessCpu();
    std::unique_ptr<CUploading> row(
        new CUploading(CString(path.c_str()), L"", 0, CString(host.c_str()), provider.control));
    const double start = Now();
    double firstByte = 0, allSent = 0;
    if (row->OnStartUpload(reinterpret_cast<WPARAM>(new CString(path.c_str())), 0) != 0) return r;
    // Polled without a time limit: an upload that stalls shows as a figure, not a failure here.
    do {
        Sleep(5);
        const uint64_t done = row->BytesDone();
        if (!firstByte && done > 0) firstByte = Now();
        if (!allSent && done >= size) allSent = Now();
        Sample(r);
    } while (row->Busy());
    const double end = Now();
    r.bytes = row->BytesDone();
    r.complete = row->State() == CUploading::STATE_DONE && r.bytes == size;
    // The row says done only once the server listed every byte; the provider's own file list
    // must agree.
    r.complete = r.complete && ProviderHoldsAll(o, provider.control, row->m_nFileId);
    r.confirmSeconds = allSent ? end - allSent : 0;
    row.reset();
    r.cpu = ProcessCpu();
    r.cpu.user -= before.user;
    r.cpu.kernel -= before.kernel;
    r.seconds = end - start;
    r.dataSeconds = firstByte ? end - firstByte : 0;
    r.after = ProcessMemory();
    return r;
}

// What the bare sender borrows from the segment sender, one piece at a time.
struct Borrowed {
    bool buffers = false;     // socket buffers raised to the segment sender's floor
    bool swrite = false;      // chunks sent as the engine sends them: non-blocking, select when full
    bool cfile = false;       // CFile seek and read of the engine's read size
    bool dataServer = false;  // announced, and sent to the data server that the engine meets
    const char* Name() const {
        if (dataServer) return "plain to the data server";
        if (buffers && swrite && cfile) return "plain + all three";
        if (buffers) return "plain + engine's socket buffers";
        if (swrite) return "plain + engine's send";
        if (cfile) return "plain + engine's seek and read";
        return "plain";
    }
};

struct Range {
    uint64_t from = 0, length = 0;
    bool withRecord = false;
    protocol::SegmentRecord record;
};

// The file announced as the engine announces it; its segments as the provider lists them.
bool Announce(const Options& o, uint16_t control, const std::wstring& path, uint64_t size, uint64_t& fileId,
              std::vector<Range>& out) {
    protocol::Bytes reply;
    const std::string name = "plain.bin", narrowPath(path.begin(), path.end());
    if (!Exchange(o, control, protocol::BuildUploadFile(kUserId, size, 1, o.segments, name, narrowPath), reply) ||
        !protocol::ParseUploadFileReply(reply.data(), reply.size(), fileId) || fileId == 0)
        return false;
    std::vector<protocol::SegmentInfo> segments;
    if (!Exchange(o, control, protocol::BuildUploadInfo(kUserId, fileId), reply) ||
        !protocol::ParseSegmentList(reply.data(), reply.size(), segments))
        return false;
    for (const auto& g : segments) {
        Range r;
        r.from = g.startOffset;
        r.length = g.bytesRemaining;
        r.withRecord = true;
        r.record =
            protocol::MakeSegmentRecord(1, g.segmentNumber, static_cast<uint32_t>(kUserId),
                                        static_cast<uint32_t>(fileId), g.startOffset, g.bytesDone, g.bytesRemaining);
        out.push_back(r);
    }
    return true;
}

// The bare sender: per connection one thread reading its range of the file with its own handle
// and sending each chunk with one blocking send(), ranges cut as the provider cuts segments.
// Socket buffers are left as the system gives them.
Run UploadPlain(const std::wstring& path, uint64_t size, const Options& o, const ProviderProcess& provider,
                Borrowed with = {}) {
    Run r;
    sockaddr_in to = {};
    to.sin_family = AF_INET;
    to.sin_port = htons(with.dataServer ? protocol::kDataPort : provider.plain);
    to.sin_addr.s_addr = inet_addr(o.address.c_str());
    std::atomic<uint64_t> sent{0};
    std::atomic<bool> failed{false};
    std::atomic<int> finished{0};
    const Cpu before = ProcessCpu();
    const double start = Now();
    std::vector<Range> ranges;
    uint64_t fileId = 0;
    if (with.dataServer) {
        if (!Announce(o, provider.control, path, size, fileId, ranges)) return r;
    } else {
        const uint64_t each = (size + o.segments - 1) / o.segments;
        for (uint64_t from = 0; from < size; from += each) {
            Range g;
            g.from = from;
            g.length = std::min(each, size - from);
            ranges.push_back(g);
        }
    }
    std::vector<std::thread> threads;
    for (const Range& range : ranges) {
        const uint64_t from = range.from, length = range.length;
        threads.emplace_back([&, range, from, length] {
            SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
            HANDLE f = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                   OPEN_EXISTING, 0, nullptr);
            LARGE_INTEGER at;
            at.QuadPart = static_cast<LONGLONG>(from);
            // The engine reads several chunks at a time and sends them one by one.
            std::vector<char> block(with.cfile ? kSegmentReadAhead : kSegmentChunkSize);
            if (with.buffers && s != INVALID_SOCKET) {
                int receiveSize = 0, sendSize = 0;
                if (GetSocketBufSize(s, &receiveSize, &sendSize) == 0 &&
                    (receiveSize < kSegmentSocketBufferFloor || sendSize < kSegmentSocketBufferFloor))
                    SetSocketBufSize(s, std::max(receiveSize, kSegmentSocketBufferFloor),
                                     std::max(sendSize, kSegmentSocketBufferFloor));
            }
            std::unique_ptr<CFile> cfile;
            if (with.cfile) {
                try {
                    cfile.reset(new CFile(path.c_str(), CFile::modeRead | CFile::shareDenyNone));
                } catch (CFileException* e) {
                    e->Delete();
                }
            }
            bool ok = s != INVALID_SOCKET && f != INVALID_HANDLE_VALUE && (!with.cfile || cfile) &&
                      connect(s, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0 &&
                      SetFilePointerEx(f, at, nullptr, FILE_BEGIN);
            if (ok && range.withRecord)
                ok = send(s, reinterpret_cast<const char*>(&range.record), sizeof range.record, 0) ==
                     static_cast<int>(sizeof range.record);
            // As the engine's stop test: asked while a send waits, never true here.
            std::atomic<bool> stop{false};
            const StopTest stopped = [&stop] { return stop.load(); };
            if (ok && with.swrite) ok = SetSocketNonBlocking(s, 1) == 0;
            uint64_t position = from;
            for (uint64_t left = length; ok && left > 0;) {
                DWORD want = static_cast<DWORD>(std::min<uint64_t>(left, block.size())), got = 0;
                if (cfile) {
                    try {
                        ok = cfile->Seek(static_cast<LONGLONG>(position), CFile::begin) == position;
                        got = ok ? cfile->Read(block.data(), want) : 0;
                    } catch (CFileException* e) {
                        e->Delete();
                        ok = false;
                    }
                    ok = ok && got == want;
                } else {
                    ok = ReadFile(f, block.data(), want, &got, nullptr) && got == want;
                }
                for (DWORD inBlock = 0; ok && inBlock < got;) {
                    const int piece = static_cast<int>(std::min<DWORD>(got - inBlock, kSegmentChunkSize));
                    if (with.swrite)
                        ok = SWriteNonBlocking(s, block.data() + inBlock, piece, g_SegmentTimeouts.chunk, stopped) ==
                             piece;
                    for (int off = 0; ok && !with.swrite && off < piece;) {
                        int n = send(s, block.data() + inBlock + off, piece - off, 0);
                        ok = n > 0;
                        if (ok) off += n;
                    }
                    inBlock += static_cast<DWORD>(piece);
                }
                if (ok) left -= got, sent += got, position += got;
            }
            // Done once the receiver has read everything and closed its end.
            if (ok && with.swrite) ok = SetSocketNonBlocking(s, 0) == 0;
            if (ok) {
                shutdown(s, SD_SEND);
                while (recv(s, block.data(), static_cast<int>(block.size()), 0) > 0) {
                }
            }
            if (!ok) failed = true;
            if (f != INVALID_HANDLE_VALUE) CloseHandle(f);
            if (s != INVALID_SOCKET) closesocket(s);
            ++finished;
        });
    }
    while (finished < static_cast<int>(threads.size())) {
        Sleep(5);
        Sample(r);
    }
    for (auto& t : threads) t.join();
    const double end = Now();
    r.cpu = ProcessCpu();
    r.cpu.user -= before.user;
    r.cpu.kernel -= before.kernel;
    r.seconds = r.dataSeconds = end - start;
    r.bytes = sent;
    r.complete = !failed && sent == size && (!with.dataServer || ProviderHoldsAll(o, provider.control, fileId));
    r.after = ProcessMemory();
    return r;
}

double MBps(uint64_t bytes, double seconds) { return seconds > 0 ? bytes / seconds / 1e6 : 0; }

double Median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

void Print(const char* what, uint64_t size, const Run& r) {
    printf("%-6s %7.1f MiB: %s, %.2f s, %.1f MB/s", what, size / 1048576.0, r.complete ? "complete" : "INCOMPLETE",
           r.seconds, MBps(r.bytes, r.seconds));
    if (r.dataSeconds != r.seconds)
        printf(" (data phase %.2f s, %.1f MB/s)", r.dataSeconds, MBps(r.bytes, r.dataSeconds));
    if (r.confirmSeconds > 0)
        printf("\n       confirmation (last byte sent to done): %.3f s, %.1f %% of the upload time", r.confirmSeconds,
               r.seconds > 0 ? r.confirmSeconds / r.seconds * 100 : 0);
    printf(
        "\n       CPU %.2f s (user %.2f, kernel %.2f); peak working set %.1f MiB, peak pagefile %.1f MiB;"
        " largest sampled: working set %.1f MiB, pagefile %.1f MiB\n",
        r.cpu.Total(), r.cpu.user, r.cpu.kernel, r.after.peakWorkingSet, r.after.peakPagefile, r.sampledWorkingSet,
        r.sampledPagefile);
    fflush(stdout);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    Options o;
    if (int parsed = Parse(argc, argv, o)) return parsed == 1 ? 0 : parsed;  // 1: after --help

#ifdef _WIN64
    printf("upload_bench: x86_64 build\n");
#else
    printf("upload_bench: i686 build\n");
#endif
    fflush(stdout);
    WSADATA wsa;
    if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) return 1;
    CIcmpPing::Startup();

    CreateDirectoryW(o.dataDir.c_str(), nullptr);
    const std::wstring bigPath = o.dataDir + L"\\upload-" + std::to_wstring(o.size) + L".bin";
    const bool withSmall = o.small > 0 && o.small < o.size;
    const std::wstring smallPath = o.dataDir + L"\\upload-" + std::to_wstring(o.small) + L".bin";
    if (!MakeFile(bigPath, o.size) || (withSmall && !MakeFile(smallPath, o.small))) {
        fprintf(stderr, "upload_bench: cannot make the files in %ls\n", o.dataDir.c_str());
        return 1;
    }
    Warm(bigPath);
    if (withSmall) Warm(smallPath);

    ProviderProcess provider;
    if (!provider.Start(o)) return 1;
    printf(
        "upload_bench: %d segments of chunks of %u bytes to %s (control %u, data 20001, plain %u);"
        " plain sender: %d connections, one blocking send() per chunk; MB = 10^6 bytes\n",
        o.segments, kSegmentChunkSize, o.address.c_str(), provider.control, provider.plain, o.segments);
    const Memory start = ProcessMemory();
    printf("at start: peak working set %.1f MiB, peak pagefile %.1f MiB\n", start.peakWorkingSet, start.peakPagefile);
    fflush(stdout);

    bool ok = true;
    Run small;
    if (withSmall) {
        small = UploadWithEngine(smallPath, o.small, o, provider);
        Print("engine", o.small, small);
        ok = ok && small.complete;
    }
    // Taken in turn, so that whatever else the machine does falls on all of them alike.
    const Borrowed kVariants[] = {{true, false, false, false},
                                  {false, true, false, false},
                                  {false, false, true, false},
                                  {true, true, true, false},
                                  {false, false, false, true}};
    const std::vector<Borrowed> variants =
        o.explain ? std::vector<Borrowed>(std::begin(kVariants), std::end(kVariants)) : std::vector<Borrowed>();
    std::vector<double> engineRates, plainRates, confirmShares;
    std::vector<double> engineCpu, engineUser, engineKernel, plainCpu, plainUser, plainKernel;
    std::vector<std::vector<double>> variantRates(variants.size()), variantCpu(variants.size());
    double engineWorkingSet = 0, enginePagefile = 0;
    for (int round = 0; round < o.repeat; ++round) {
        const Run engine = UploadWithEngine(bigPath, o.size, o, provider);
        Print("engine", o.size, engine);
        const Run plain = UploadPlain(bigPath, o.size, o, provider);
        Print("plain", o.size, plain);
        ok = ok && engine.complete && plain.complete;
        engineRates.push_back(MBps(engine.bytes, engine.seconds));
        confirmShares.push_back(engine.seconds > 0 ? engine.confirmSeconds / engine.seconds * 100 : 0);
        plainRates.push_back(MBps(plain.bytes, plain.seconds));
        engineCpu.push_back(engine.cpu.Total());
        engineUser.push_back(engine.cpu.user);
        engineKernel.push_back(engine.cpu.kernel);
        plainCpu.push_back(plain.cpu.Total());
        plainUser.push_back(plain.cpu.user);
        plainKernel.push_back(plain.cpu.kernel);
        engineWorkingSet = std::max(engineWorkingSet, engine.sampledWorkingSet);
        enginePagefile = std::max(enginePagefile, engine.sampledPagefile);
        for (size_t v = 0; v < variants.size(); ++v) {
            const Run r = UploadPlain(bigPath, o.size, o, provider, variants[v]);
            printf("%s: %s, %.2f s, %.1f MB/s, CPU %.2f s (user %.2f, kernel %.2f)\n", variants[v].Name(),
                   r.complete ? "complete" : "INCOMPLETE", r.seconds, MBps(r.bytes, r.seconds), r.cpu.Total(),
                   r.cpu.user, r.cpu.kernel);
            fflush(stdout);
            ok = ok && r.complete;
            variantRates[v].push_back(MBps(r.bytes, r.seconds));
            variantCpu[v].push_back(r.cpu.Total());
        }
    }

    const double engineRate = Median(engineRates), plainRate = Median(plainRates);
    printf("all timed until the provider has every byte; medians of %d run(s): engine %.1f MB/s, plain %.1f MB/s\n",
           o.repeat, engineRate, plainRate);
    const double engineSeconds = Median(engineCpu), plainSeconds = Median(plainCpu);
    for (size_t v = 0; v < variants.size(); ++v)
        printf("  %s: %.1f MB/s, %.1f %% of plain; CPU %.2f s, %.2fx plain\n", variants[v].Name(),
               Median(variantRates[v]), plainRate > 0 ? Median(variantRates[v]) / plainRate * 100 : 0,
               Median(variantCpu[v]), plainSeconds > 0 ? Median(variantCpu[v]) / plainSeconds : 0);
    printf("ratio engine/plain: %.1f %% (target: at least 90 %%); CPU %.2fx\n",
           plainRate > 0 ? engineRate / plainRate * 100 : 0, plainSeconds > 0 ? engineSeconds / plainSeconds : 0);
    printf("CPU, medians: engine %.2f s (user %.2f, kernel %.2f), plain %.2f s (user %.2f, kernel %.2f)\n",
           engineSeconds, Median(engineUser), Median(engineKernel), plainSeconds, Median(plainUser),
           Median(plainKernel));
    printf("confirmation by the server, median share of the engine's upload time: %.1f %%\n", Median(confirmShares));
    if (withSmall)
        printf(
            "memory, %.0f MiB upload -> %.0f MiB upload: largest sampled working set %.1f -> %.1f MiB,"
            " pagefile %.1f -> %.1f MiB\n",
            o.small / 1048576.0, o.size / 1048576.0, small.sampledWorkingSet, engineWorkingSet, small.sampledPagefile,
            enginePagefile);
    fflush(stdout);
    provider.Stop();
    WSACleanup();
    return ok ? 0 : 1;
}
