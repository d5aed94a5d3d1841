#include "trace/TraceSender.h"

#include <winsock2.h>

#include <process.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <string>

#include "trace/Trace.h"

namespace {

struct TraceLogFileRecord {
    std::string winTraceId;
    unsigned char flag = 0;
    int value = 0;
    std::string fileText1, fileText2, fileText3;
    int mode = 3;  // no log file
    int maxLines = -1;
    int fileNumber = 0;
    int lineCount = 0;
};
using TraceLogFileRecords = std::deque<TraceLogFileRecord*>;
using TraceQueue = std::deque<TraceCommandList*>;

// Plain zero-initialised state: valid before any constructor runs and never destroyed, so a
// line from any static constructor or destructor finds it.
CRITICAL_SECTION g_queueLock;
bool g_started = false;
bool g_stopRequested = false;  // under g_queueLock: later lists are dropped by their writer
TraceQueue* g_sharedQueue = nullptr;
TraceQueue* g_senderQueue = nullptr;
HANDLE g_stopEvent = nullptr, g_dataEvent = nullptr, g_doneEvent = nullptr;
volatile unsigned char g_stopFlag = 0;
HANDLE g_senderThread = nullptr;
SOCKET g_viewerSocket = INVALID_SOCKET;
unsigned char g_connected = 0;
sockaddr_in g_viewerAddress;
HANDLE g_viewerProcess = nullptr;
unsigned short g_seeds[3];
TraceLogFileRecord* g_defaultRecord = nullptr;
TraceLogFileRecords* g_records = nullptr;
volatile LONG g_handled = 0;

const wchar_t kViewerClass[] = L"TFormReceiver";
const wchar_t kViewerTitle[] = L"FormReceiver";

void FreeQueue(TraceQueue& queue) {
    for (TraceCommandList* list : queue) delete list;
    queue.clear();
}

TraceLogFileRecord* FindLogFileRecord(const std::string& winTraceId, bool create) {
    if (winTraceId.empty() || winTraceId == "_") return g_defaultRecord;
    if (!g_records) return nullptr;
    for (TraceLogFileRecord* r : *g_records)
        if (r->winTraceId == winTraceId) return r;
    if (!create) return nullptr;
    TraceLogFileRecord* r = new TraceLogFileRecord;
    r->winTraceId = winTraceId;
    g_records->push_back(r);
    return r;
}

bool SendAll(const char* data, int length) {
    while (length > 0) {
        int sent = send(g_viewerSocket, data, length, 0);
        if (sent == SOCKET_ERROR || sent == 0) return false;
        data += sent;
        length -= sent;
    }
    return true;
}

// Nothing is ever read back, so a readable socket means the viewer has gone.
bool ViewerClosedConnection() {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(g_viewerSocket, &readable);
    timeval none = {0, 0};
    if (select(0, &readable, nullptr, nullptr, &none) <= 0) return false;
    char byte;
    return recv(g_viewerSocket, &byte, 1, 0) <= 0;
}

bool ConnectViewer() {
    WSADATA wsa;
    if (WSAStartup(MAKEWORD(1, 1), &wsa) != 0) return false;
    TraceOptions* options = GetTraceOptions();
    std::memset(&g_viewerAddress, 0, sizeof g_viewerAddress);
    const char* host = options->host;
    if (!host) {
        WSACleanup();
        return false;
    }
    g_viewerAddress.sin_addr.s_addr = inet_addr(host);
    if (g_viewerAddress.sin_addr.s_addr == INADDR_NONE) {
        hostent* entry = gethostbyname(host);
        if (!entry || !entry->h_addr_list || !entry->h_addr_list[0]) {
            WSACleanup();
            return false;
        }
        std::memcpy(&g_viewerAddress.sin_addr, entry->h_addr_list[0], sizeof(in_addr));
    }
    g_viewerAddress.sin_port = htons(static_cast<u_short>(options->port));
    g_viewerAddress.sin_family = AF_INET;
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    if (s == INVALID_SOCKET) {
        WSACleanup();
        return false;
    }
    if (connect(s, reinterpret_cast<sockaddr*>(&g_viewerAddress), sizeof g_viewerAddress) < 0) {
        closesocket(s);
        WSACleanup();
        return false;
    }
    g_viewerSocket = s;
    g_connected = 1;
    return true;
}

void SendToSocket(const std::string& buffer, std::size_t total) {
    if (g_connected && ViewerClosedConnection()) CloseViewerSocket();
    if (!g_connected && !ConnectViewer()) return;
    std::string prefix = TraceTcpLengthPrefix(total);
    if (!SendAll(prefix.data(), static_cast<int>(prefix.size())) || !SendAll(buffer.data(), static_cast<int>(total)))
        CloseViewerSocket();  // the next list reconnects, so a restarted viewer gets it
}

void SendToWindow(std::string& buffer) {
    HWND viewer = FindOrStartViewer();
    if (!viewer) return;
    COPYDATASTRUCT data;
    data.dwData = 123;
    data.cbData = static_cast<DWORD>(buffer.size());  // commands, their zeros and the final zero
    data.lpData = &buffer[0];
    SendMessageW(viewer, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data));
}

void SendCommandLists() {
    while (!g_senderQueue->empty()) {
        TraceCommandList* list = g_senderQueue->front();
        g_senderQueue->pop_front();
        if (g_stopFlag) {
            delete list;
            InterlockedIncrement(&g_handled);
            continue;
        }
        int logged = LogCommandList(*list);
        std::string buffer = JoinTraceCommands(*list);
        std::size_t total = buffer.size() - 1;
        delete list;
        int mode = GetTraceOptions()->sendMode;
        if (logged != 1) {
            if (mode == 1)
                SendToWindow(buffer);
            else if (mode == 2)
                SendToSocket(buffer, total);
        }
        InterlockedIncrement(&g_handled);
    }
}

unsigned __stdcall TraceSenderThreadProc(void*) {
    g_senderQueue = new TraceQueue;
    HANDLE events[2] = {g_stopEvent, g_dataEvent};
    while (!g_stopFlag) {
        DWORD woken = WaitForMultipleObjects(2, events, FALSE, 60000);
        if (woken == WAIT_OBJECT_0) {
            g_stopFlag = 1;
            ResetEvent(g_stopEvent);
        } else if (woken == WAIT_OBJECT_0 + 1) {
            EnterCriticalSection(&g_queueLock);
            TraceQueue* swap = g_senderQueue;
            g_senderQueue = g_sharedQueue;
            g_sharedQueue = swap;
            ResetEvent(g_dataEvent);
            LeaveCriticalSection(&g_queueLock);
            SendCommandLists();
        } else if (woken != WAIT_TIMEOUT) {
            break;
        }
    }
    FreeQueue(*g_senderQueue);
    // Every way out acknowledges, so the stop at exit need not wait its full second.
    SetEvent(g_doneEvent);
    return 0;
}

}  // namespace

void GetTraceIdSeeds(unsigned short seeds[3]) { std::memcpy(seeds, g_seeds, sizeof g_seeds); }

unsigned long TraceSenderHandledCount() { return static_cast<unsigned long>(g_handled); }

int StartTraceSender() {
    if (g_started) return std::rand();
    g_started = true;
    InitializeCriticalSection(&g_queueLock);
    g_seeds[0] = static_cast<unsigned short>((GetTickCount() & 0xFFFFu) * unsigned(std::rand()));
    g_seeds[1] = static_cast<unsigned short>(std::rand());
    g_seeds[2] = static_cast<unsigned short>(std::rand());
    g_defaultRecord = new TraceLogFileRecord;
    g_records = new TraceLogFileRecords;
    g_records->push_back(g_defaultRecord);
    g_sharedQueue = new TraceQueue;
    g_stopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    g_dataEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    g_doneEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    g_stopFlag = 0;
    g_senderThread = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, TraceSenderThreadProc, nullptr, 0, nullptr));
    if (!g_senderThread) g_stopRequested = true;  // no sender: drop lines instead of piling them up
    return std::rand();
}

void EnqueueCommandList(TraceCommandList* list) {
    if (!g_started) {
        delete list;
        return;
    }
    EnterCriticalSection(&g_queueLock);
    if (g_stopRequested) {
        LeaveCriticalSection(&g_queueLock);
        delete list;
        return;
    }
    g_sharedQueue->push_back(list);
    // Inside the lock, so no writer touches the event once the stop has closed it.
    SetEvent(g_dataEvent);
    LeaveCriticalSection(&g_queueLock);
}

void StopTraceSender() {
    if (!g_stopEvent) return;
    EnterCriticalSection(&g_queueLock);
    g_stopRequested = true;
    LeaveCriticalSection(&g_queueLock);
    g_stopFlag = 1;
    SetEvent(g_stopEvent);
    if (WaitForSingleObject(g_doneEvent, 1000) != WAIT_OBJECT_0) {
        // The sender is still busy (a viewer that does not answer): leave everything it might
        // touch in place; the process is ending anyway.
        return;
    }
    CloseHandle(g_stopEvent);
    CloseHandle(g_dataEvent);
    CloseHandle(g_doneEvent);
    g_stopEvent = g_dataEvent = g_doneEvent = nullptr;
    if (g_senderThread) CloseHandle(g_senderThread);
    g_senderThread = nullptr;
    CloseViewerSocket();
    if (g_viewerProcess) CloseHandle(g_viewerProcess);
    g_viewerProcess = nullptr;
    // The options and the nodes stay alive: code running after this (other threads, static
    // destructors) may still hold the log node; its lines are dropped at the queue.
    for (TraceLogFileRecord* r : *g_records) delete r;
    delete g_records;
    g_records = nullptr;
    g_defaultRecord = nullptr;
    EnterCriticalSection(&g_queueLock);
    FreeQueue(*g_sharedQueue);
    LeaveCriticalSection(&g_queueLock);
}

void CloseViewerSocket() {
    if (!g_connected) return;
    shutdown(g_viewerSocket, SD_BOTH);
    closesocket(g_viewerSocket);
    WSACleanup();
    g_viewerSocket = INVALID_SOCKET;
    g_connected = 0;
}

HWND FindOrStartViewer() {
    HWND viewer = FindWindowW(kViewerClass, kViewerTitle);
    if (viewer) return viewer;
    if (g_viewerProcess) {
        // Started earlier and still running: don't start another copy for every line.
        if (WaitForSingleObject(g_viewerProcess, 0) == WAIT_TIMEOUT) return nullptr;
        CloseHandle(g_viewerProcess);
        g_viewerProcess = nullptr;
    }
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\TraceViewer", 0, KEY_READ, &key) != ERROR_SUCCESS) return nullptr;
    wchar_t path[MAX_PATH];
    DWORD size = sizeof path;
    DWORD type = 0;
    LONG read = RegQueryValueExW(key, L"FilePath", nullptr, &type, reinterpret_cast<BYTE*>(path), &size);
    RegCloseKey(key);
    if (read != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return nullptr;
    std::size_t chars = size / sizeof(wchar_t);
    path[chars < MAX_PATH ? chars : MAX_PATH - 1] = L'\0';
    if (!path[0]) return nullptr;
    STARTUPINFOW startup;
    std::memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWNORMAL;
    PROCESS_INFORMATION process;
    if (!CreateProcessW(path, nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return nullptr;
    WaitForInputIdle(process.hProcess, 3000);
    CloseHandle(process.hThread);
    g_viewerProcess = process.hProcess;
    // Input-idle may come before the window exists; give it a short, bounded while more.
    for (int i = 0; i < 40; ++i) {
        viewer = FindWindowW(kViewerClass, kViewerTitle);
        if (viewer || WaitForSingleObject(g_viewerProcess, 50) != WAIT_TIMEOUT) break;
    }
    return viewer;
}

int LogCommandList(const TraceCommandList& list) {
    TraceLogFileRecord* record = g_defaultRecord;
    for (const std::string& command : list) {
        int code = TraceCommandCodeOf(command);
        std::string payload = TraceCommandPayload(command);
        if (code == kTraceSignalEvent) {
            HANDLE event = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(std::strtoul(payload.c_str(), nullptr, 10)));
            SetEvent(event);
            return 1;
        }
        if (code == kTraceWindowId)
            record = FindLogFileRecord(payload, false);
        else if (code == kTraceFlushLog)
            return 0;
        if (!record || record->mode == 3) return 0;  // no log file: the list goes to the viewer
    }
    return 0;
}
