// TraceOptions, TraceContextEntry, TraceNodeBase, TraceToSend, TraceNode, WinTrace: the trace client,
// nodes through which every diagnostic line goes to the trace viewer.
#pragma once

#include <windows.h>

#include <deque>
#include <string>

#include "trace/TraceCommands.h"

struct TraceOptions {
    TraceOptions();
    ~TraceOptions();
    TraceOptions(const TraceOptions&) = delete;
    TraceOptions& operator=(const TraceOptions&) = delete;

    // File name of the running program without its folder; computed once.
    const char* GetProcessName();
    void SetHost(const char* host);

    char* processName;
    char* host;
    int sendMode;  // 1 window message, 2 TCP, 3 nothing; others nothing too
    int port;
    unsigned char sendProcessName;
    unsigned char dateInTimeStamp;
    unsigned char sendThreadId;

private:
    CRITICAL_SECTION m_nameLock;
};

struct TraceContextEntry {
    DWORD threadId;
    std::string nodeId;
};
using TraceContextList = std::deque<TraceContextEntry*>;

class TraceNodeBase {
public:
    TraceNodeBase();
    virtual ~TraceNodeBase();

    unsigned char enabled;
    int iconIndex;
    std::string id;
    int parentValue;
    std::string winTraceId;
};

class TraceToSend : public TraceNodeBase {
public:
    TraceToSend();
    ~TraceToSend() override;

    void Send(const wchar_t* leftText, const wchar_t* rightText);
    void SendA(const char* leftText, const char* rightText);

    TraceCommandList* PrepareNewNode(const char* leftText, const char* newId);
    std::string GetParentId();
    TraceContextEntry* FindThreadContext();

protected:
    CRITICAL_SECTION m_lock;
    TraceContextList* m_pContextList;
    TraceContextList* m_pWinTraceContext;
};

class TraceNode : public TraceToSend {
public:
    TraceNode(const TraceNodeBase* parentNode, bool generateUniqueId);
    ~TraceNode() override;
    friend class WinTrace;
};

class WinTrace : public TraceToSend {
public:
    WinTrace();
    ~WinTrace() override;

    TraceNode* debug;
    TraceNode* warning;
    TraceNode* error;

private:
    void CreateChildNodes();
};

// The one trace object of the program; constructed on first use and alive until the process ends.
extern WinTrace* g_winTrace;

TraceNode* GetLogNode();
TraceOptions* GetTraceOptions();

// 32 hex digits, or empty when the clock can't be read.
std::string CreateTraceId();
// Narrow copy in the ANSI code page; what the code page can't hold becomes its default character.
std::string WideToAnsiDup(const wchar_t* text);
// Adds the header commands and queues the list; the list then belongs to the sender.
void PostCommandList(TraceCommandList* list, const std::string& winTraceId);
