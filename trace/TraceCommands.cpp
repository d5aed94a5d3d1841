#include "trace/TraceCommands.h"

#include <cstdio>
#include <cstdlib>

std::string FormatTraceCommand(int code, const char* text) {
    char head[16];
    std::snprintf(head, sizeof head, "%5d", code);
    std::string out(head);
    if (text) out += text;
    return out;
}

std::string FormatTraceCommandInt(int code, int value) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%5d%11d", code, value);
    return buf;
}

void AddCommand(TraceCommandList& list, int code, const char* text) { list.push_back(FormatTraceCommand(code, text)); }

void AddCommandFront(TraceCommandList& list, int code, const char* text) {
    list.push_front(FormatTraceCommand(code, text));
}

void AddCommandInt(TraceCommandList& list, int code, int value) { list.push_back(FormatTraceCommandInt(code, value)); }

void AddCommandIntFront(TraceCommandList& list, int code, int value) {
    list.push_front(FormatTraceCommandInt(code, value));
}

std::string FormatTraceTime(const TraceClock& t, bool withDate) {
    char buf[64];
    if (withDate)
        std::snprintf(buf, sizeof buf, "%04d%2d%2d %02d:%02d:%02d:%03d", t.year, t.month, t.day, t.hour, t.minute,
                      t.second, t.millisecond);
    else
        std::snprintf(buf, sizeof buf, "%02d:%02d:%02d:%03d", t.hour, t.minute, t.second, t.millisecond);
    return buf;
}

std::string FormatTraceId(uint32_t fileTimeLow, uint32_t fileTimeHigh, uint32_t counter, uint16_t seed1, uint16_t seed2,
                          uint16_t seed3) {
    char buf[33];
    std::snprintf(buf, sizeof buf, "%08x%04x%04x%04x%04x%04x%04x", unsigned(fileTimeLow),
                  unsigned(fileTimeHigh & 0xFFFFu), unsigned(((fileTimeHigh >> 16) & 0xFFF0u) | 2u),
                  unsigned(counter & 0xFFFFu), unsigned(seed1), unsigned(seed2), unsigned(seed3));
    return buf;
}

std::string JoinTraceCommands(const TraceCommandList& list) {
    std::size_t total = 0;
    for (const std::string& c : list) total += c.size() + 1;
    std::string out;
    out.reserve(total + 1);
    for (const std::string& c : list) {
        out += c;
        out += '\0';
    }
    out += '\0';
    return out;
}

std::string TraceTcpLengthPrefix(std::size_t payloadLength) {
    std::string out = std::to_string(payloadLength);
    out += '\0';
    return out;
}

int TraceCommandCodeOf(const std::string& command) { return std::atoi(command.substr(0, 5).c_str()); }

std::string TraceCommandPayload(const std::string& command) {
    return command.size() > 5 ? command.substr(5) : std::string();
}

std::vector<std::string> SplitTraceCommands(const char* data, std::size_t length) {
    std::vector<std::string> out;
    std::size_t start = 0;
    for (std::size_t i = 0; i < length; ++i) {
        if (data[i] != '\0') continue;
        if (i == start) break;  // the closing extra zero
        out.emplace_back(data + start, i - start);
        start = i + 1;
    }
    return out;
}
