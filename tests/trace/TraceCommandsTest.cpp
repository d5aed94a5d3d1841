#include <gtest/gtest.h>

#include <string>

#include "trace/TraceCommands.h"

namespace {

struct CommandCase {
    int code;
    const char* text;
    const char* expected;
};

TEST(TraceCommands, TextCommandsAreFiveCharacterCodeAndPayload) {
    const CommandCase cases[] = {
        {99, "win", "   99win"},        {550, "", "  550"},       {551, nullptr, "  551"},
        {551, "a line", "  551a line"}, {123456, "x", "123456x"},  // wider codes are not cut
    };
    for (const CommandCase& c : cases) EXPECT_EQ(c.expected, FormatTraceCommand(c.code, c.text)) << c.code;
}

TEST(TraceCommands, IntegerCommandsAreRightAlignedInElevenCharacters) {
    EXPECT_EQ("  103         24", FormatTraceCommandInt(103, 24));
    EXPECT_EQ(16u, FormatTraceCommandInt(103, 24).size());
    EXPECT_EQ("  302         -1", FormatTraceCommandInt(302, -1));
    EXPECT_EQ("  302-2147483648", FormatTraceCommandInt(302, -2147483647 - 1));
}

TEST(TraceCommands, FrontInsertsReadInReverseOrder) {
    TraceCommandList list;
    AddCommand(list, 551, "t");
    AddCommandIntFront(list, 302, 7);
    AddCommandFront(list, 304, "time");
    AddCommandInt(list, 103, 24);
    ASSERT_EQ(4u, list.size());
    EXPECT_EQ("  304time", list[0]);
    EXPECT_EQ("  302          7", list[1]);
    EXPECT_EQ("  551t", list[2]);
    EXPECT_EQ(103, TraceCommandCodeOf(list[3]));
}

TEST(TraceCommands, TimeStampWithAndWithoutDate) {
    const struct {
        TraceClock clock;
        bool withDate;
        const char* expected;
    } cases[] = {
        {{2026, 12, 7, 21, 22, 4, 123}, false, "21:22:04:123"},
        {{2026, 12, 7, 21, 22, 4, 123}, true, "202612 7 21:22:04:123"},
        {{2027, 1, 5, 0, 0, 0, 7}, true, "2027 1 5 00:00:00:007"},
        {{2027, 1, 15, 9, 5, 59, 999}, false, "09:05:59:999"},
    };
    for (const auto& c : cases) EXPECT_EQ(c.expected, FormatTraceTime(c.clock, c.withDate));
}

TEST(TraceCommands, NodeIdIsThirtyTwoHexDigitsFromItsParts) {
    std::string id = FormatTraceId(0x01234567u, 0xABCD1234u, 0x12345u, 1, 0xFFFF, 0x10);
    EXPECT_EQ(
        "01234567"
        "1234"
        "abc2"
        "2345"
        "0001"
        "ffff"
        "0010",
        id);
    EXPECT_EQ(32u, FormatTraceId(0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFF, 0xFFFF, 0xFFFF).size());
}

TEST(TraceCommands, SendBufferAndTcpLengthPrefix) {
    TraceCommandList list;
    AddCommand(list, 304, "12:34:56:789");
    AddCommand(list, 551, "x");
    std::string buffer = JoinTraceCommands(list);
    // 17 + 1 + 6 + 1 bytes of commands, then the closing zero.
    ASSERT_EQ(26u, buffer.size());
    EXPECT_EQ(std::string("  30412:34:56:789\0  551x\0\0", 26), buffer);
    EXPECT_EQ(std::string("25\0", 3), TraceTcpLengthPrefix(buffer.size() - 1));
    EXPECT_EQ(std::string("\0", 1), JoinTraceCommands(TraceCommandList()));
}

TEST(TraceCommands, SplitReadsBackCommandsAndStopsAtTheClosingZero) {
    TraceCommandList list;
    AddCommand(list, 99, "w");
    AddCommand(list, 550, "");
    std::string buffer = JoinTraceCommands(list) + "junk";
    auto commands = SplitTraceCommands(buffer.data(), buffer.size());
    ASSERT_EQ(2u, commands.size());
    EXPECT_EQ(99, TraceCommandCodeOf(commands[0]));
    EXPECT_EQ("w", TraceCommandPayload(commands[0]));
    EXPECT_EQ("", TraceCommandPayload(commands[1]));
    // Without a terminator nothing past the given length is read.
    EXPECT_TRUE(SplitTraceCommands("  551abc", 8).empty());
}

}  // namespace
