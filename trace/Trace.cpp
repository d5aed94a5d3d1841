#include "trace/Trace.h"

#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "framework/CString.h"

#include "trace/TraceSender.h"

WinTrace* g_winTrace = nullptr;

namespace {

TraceOptions* g_options = nullptr;
volatile LONG g_idCounter = 0;

void StopTraceSenderAtExit() { StopTraceSender(); }

// Built on first use and never destroyed, so lines from static constructors and destructors of
// any translation unit find the objects alive; after the stop they are dropped by the sender.
bool InitTraceGlobals() {
    g_options = new TraceOptions;
    g_winTrace = new WinTrace;
    g_idCounter = StartTraceSender();
    std::atexit(StopTraceSenderAtExit);
    return true;
}

void EnsureTraceGlobals() {
    static bool ready = InitTraceGlobals();
    (void)ready;
}

// Starts the sender before the program's main code, as the other static objects expect.
const bool g_startedAtLoad = (EnsureTraceGlobals(), true);

char* DupText(const char* text) {
    if (!text) return nullptr;
    std::size_t n = std::strlen(text) + 1;
    char* copy = static_cast<char*>(std::malloc(n));
    if (copy) std::memcpy(copy, text, n);
    return copy;
}

}  // namespace

TraceOptions::TraceOptions()
    : processName(nullptr),
      host(DupText("127.0.0.1")),
      sendMode(1),
      port(8090),
      sendProcessName(0),
      dateInTimeStamp(0),
      sendThreadId(1) {
    InitializeCriticalSection(&m_nameLock);
}

TraceOptions::~TraceOptions() {
    std::free(processName);
    std::free(host);
    DeleteCriticalSection(&m_nameLock);
}

const char* TraceOptions::GetProcessName() {
    EnterCriticalSection(&m_nameLock);
    if (!processName) {
        wchar_t path[MAX_PATH + 1] = {};
        DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
        path[n < MAX_PATH ? n : MAX_PATH] = L'\0';
        std::string narrow = WideToAnsiDup(path);
        std::size_t cut = narrow.find_last_of("/\\:");
        processName = DupText(cut == std::string::npos ? narrow.c_str() : narrow.c_str() + cut + 1);
    }
    const char* name = processName;
    LeaveCriticalSection(&m_nameLock);
    return name;
}

void TraceOptions::SetHost(const char* newHost) {
    std::free(host);
    host = DupText(newHost);
}

TraceNodeBase::TraceNodeBase() : enabled(1), iconIndex(-1), parentValue(0) {}
TraceNodeBase::~TraceNodeBase() = default;

TraceToSend::TraceToSend() : m_pContextList(nullptr), m_pWinTraceContext(nullptr) {}
TraceToSend::~TraceToSend() = default;

TraceNode::TraceNode(const TraceNodeBase* parentNode, bool generateUniqueId) {
    if (generateUniqueId) id = CreateTraceId();
    if (parentNode) {
        enabled = parentNode->enabled;
        iconIndex = parentNode->iconIndex;
        winTraceId = parentNode->winTraceId;
        parentValue = parentNode->parentValue;
    }
    InitializeCriticalSection(&m_lock);
}

TraceNode::~TraceNode() {
    DeleteCriticalSection(&m_lock);
    delete m_pContextList;
}

WinTrace::WinTrace() : debug(nullptr), warning(nullptr), error(nullptr) { CreateChildNodes(); }

void WinTrace::CreateChildNodes() {
    winTraceId = id;
    m_pContextList = new TraceContextList;
    InitializeCriticalSection(&m_lock);
    TraceNode** children[3] = {&debug, &warning, &error};
    const int icons[3] = {24, 22, 23};
    for (int i = 0; i < 3; ++i) {
        TraceNode* child = new TraceNode(nullptr, false);
        child->iconIndex = icons[i];
        child->winTraceId = id;
        child->m_pWinTraceContext = m_pContextList;
        child->enabled = 1;
        *children[i] = child;
    }
}

WinTrace::~WinTrace() {
    delete debug;
    delete warning;
    delete error;
    DeleteCriticalSection(&m_lock);
    delete m_pContextList;
}

TraceNode* GetLogNode() {
    EnsureTraceGlobals();
    return g_winTrace->debug;
}

TraceOptions* GetTraceOptions() {
    EnsureTraceGlobals();
    return g_options;
}

std::string WideToAnsiDup(const wchar_t* text) {
    if (!text) return std::string();
    return afx_string::Narrow(text, static_cast<int>(std::wcslen(text)));
}

std::string CreateTraceId() {
    SYSTEMTIME st;
    FILETIME ft;
    GetSystemTime(&st);
    if (!SystemTimeToFileTime(&st, &ft)) return std::string();
    uint32_t counter = static_cast<uint32_t>(InterlockedIncrement(&g_idCounter));
    unsigned short seeds[3];
    GetTraceIdSeeds(seeds);
    return FormatTraceId(ft.dwLowDateTime, ft.dwHighDateTime, counter, seeds[0], seeds[1], seeds[2]);
}

TraceContextEntry* TraceToSend::FindThreadContext() {
    TraceContextList* list = m_pWinTraceContext ? m_pWinTraceContext : m_pContextList;
    if (!list) return nullptr;
    TraceContextEntry* found = nullptr;
    EnterCriticalSection(&m_lock);
    DWORD self = GetCurrentThreadId();
    for (TraceContextEntry* e : *list) {
        if (e->threadId == self) {
            found = e;
            break;
        }
    }
    LeaveCriticalSection(&m_lock);
    return found;
}

std::string TraceToSend::GetParentId() {
    TraceContextEntry* context = FindThreadContext();
    return context ? context->nodeId : id;
}

TraceCommandList* TraceToSend::PrepareNewNode(const char* leftText, const char* newId) {
    TraceCommandList* list = new TraceCommandList;
    std::string parent = GetParentId();
    AddCommand(*list, kTraceParentId, parent.c_str());
    AddCommand(*list, kTraceNewNode, newId);
    AddCommand(*list, kTraceLeftText, leftText);
    if (iconIndex != -1) AddCommandInt(*list, kTraceIcon, iconIndex);
    return list;
}

void TraceToSend::Send(const wchar_t* leftText, const wchar_t* rightText) {
    if (!enabled) return;
    std::string left = WideToAnsiDup(leftText);
    std::string right = WideToAnsiDup(rightText);
    std::string newId = CreateTraceId();
    TraceCommandList* list = PrepareNewNode(leftText ? left.c_str() : nullptr, newId.empty() ? nullptr : newId.c_str());
    if (rightText) AddCommand(*list, kTraceRightText, right.c_str());
    PostCommandList(list, winTraceId);
}

void TraceToSend::SendA(const char* leftText, const char* rightText) {
    if (!enabled) return;
    std::string newId = CreateTraceId();
    TraceCommandList* list = PrepareNewNode(leftText, newId.empty() ? nullptr : newId.c_str());
    if (rightText) AddCommand(*list, kTraceRightText, rightText);
    PostCommandList(list, winTraceId);
}

void PostCommandList(TraceCommandList* list, const std::string& winTraceId) {
    TraceOptions* options = GetTraceOptions();
    if (options->sendThreadId) AddCommandIntFront(*list, kTraceThreadId, static_cast<int>(GetCurrentThreadId()));
    SYSTEMTIME now;
    GetLocalTime(&now);
    TraceClock clock{now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds};
    AddCommandFront(*list, kTraceTime, FormatTraceTime(clock, options->dateInTimeStamp != 0).c_str());
    if (options->sendProcessName) AddCommandFront(*list, kTraceProcessName, options->GetProcessName());
    if (!winTraceId.empty()) AddCommandFront(*list, kTraceWindowId, winTraceId.c_str());
    EnqueueCommandList(list);
}
