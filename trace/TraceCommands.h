// TraceClock and the text commands of the trace viewer: framing, time stamps, node ids and the send buffer.
// Pure code; the Win32 parts of the trace client build on it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

// A command list, in the order the viewer reads it. Each entry is one command text.
using TraceCommandList = std::deque<std::string>;

enum TraceCommandCode {
    kTraceWindowId = 99,
    kTraceNewNode = 101,
    kTraceIcon = 103,
    kTraceThreadId = 302,
    kTraceProcessName = 303,
    kTraceTime = 304,
    kTraceParentId = 550,
    kTraceLeftText = 551,
    kTraceRightText = 552,
    kTraceSignalEvent = 800,
    kTraceFlushLog = 111,
};

// "%5d%s"; a null text gives the code alone.
std::string FormatTraceCommand(int code, const char* text);
// "%5d%11d".
std::string FormatTraceCommandInt(int code, int value);

void AddCommand(TraceCommandList& list, int code, const char* text);
void AddCommandFront(TraceCommandList& list, int code, const char* text);
void AddCommandInt(TraceCommandList& list, int code, int value);
void AddCommandIntFront(TraceCommandList& list, int code, int value);

struct TraceClock {
    int year, month, day, hour, minute, second, millisecond;
};
// "%02d:%02d:%02d:%03d", or with the date "%04d%2d%2d %02d:%02d:%02d:%03d".
std::string FormatTraceTime(const TraceClock& t, bool withDate);

// 32 lowercase hex digits from a file time, the id counter and the three 16-bit seed words.
std::string FormatTraceId(uint32_t fileTimeLow, uint32_t fileTimeHigh, uint32_t counter, uint16_t seed1, uint16_t seed2,
                          uint16_t seed3);

// Every command followed by one zero byte, plus one more zero byte at the end. The length
// on the wire is size() - 1 for TCP and size() for the window message.
std::string JoinTraceCommands(const TraceCommandList& list);
// The TCP length prefix: "%d" of the payload length and its zero byte.
std::string TraceTcpLengthPrefix(std::size_t payloadLength);

// Code (the number in the first five characters) and payload of one command.
int TraceCommandCodeOf(const std::string& command);
std::string TraceCommandPayload(const std::string& command);

// Splits zero-terminated commands; a trailing extra zero ends the data.
std::vector<std::string> SplitTraceCommands(const char* data, std::size_t length);
