#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "client/windows/PageText.h"

using pagetext::AddCheck;

TEST(PageText, DecimalSizes) {
    const struct {
        uint64_t bytes;
        const wchar_t* text;
    } cases[] = {
        {0, L"0B"},
        {999, L"999B"},
        {1000, L"1.0KB"},
        {1999, L"1.9KB"},
        {999999, L"999.9KB"},
        {1000000, L"1.0MB"},
        {1500000000, L"1.5GB"},
        {10000000000, L"10.0GB"},
        {UINT64_MAX, L"18446744073.7GB"},
    };
    for (const auto& c : cases) EXPECT_EQ(pagetext::DecimalSize(c.bytes), c.text) << c.bytes;
}

TEST(PageText, QuotaLineShowsNoShareWithoutATotal) {
    EXPECT_EQ(pagetext::QuotaLine(1500000000, 10000000000), L"● 空间信息: 10.0GB(已使用1.5GB,15%)");
    EXPECT_EQ(pagetext::QuotaLine(0, 0), L"● 空间信息: 0B(已使用0B)");
    EXPECT_EQ(pagetext::QuotaLine(5, 0), L"● 空间信息: 0B(已使用5B)");
    // Large enough that used × 100 wraps in 64 bits: the share is still right.
    EXPECT_EQ(pagetext::QuotaLine(200000000000000000, 400000000000000000),
              L"● 空间信息: 400000000.0GB(已使用200000000.0GB,50%)");
    // Just short of the total: never "100%".
    EXPECT_EQ(pagetext::QuotaLine(UINT64_MAX - 1, UINT64_MAX),
              L"● 空间信息: 18446744073.7GB(已使用18446744073.7GB,99%)");
    EXPECT_EQ(pagetext::QuotaLine(UINT64_MAX / 100 * 99 + 1, UINT64_MAX),
              L"● 空间信息: 18446744073.7GB(已使用18262276632.9GB,98%)");
}

TEST(PageText, AddChecksInOrderAtTheirLimits) {
    const std::vector<uint64_t> none;
    const std::vector<uint64_t> atCeiling = {600000000, 400000000};
    const std::vector<uint64_t> overCeiling = {600000000, 400000001};
    // Sizes of files past 2 GiB and 4 GiB, and ones whose sum would wrap.
    const std::vector<uint64_t> large = {3000000000};
    const std::vector<uint64_t> wrapping = {UINT64_MAX - 5, 10};
    const struct {
        uint64_t used, total, length;
        bool duplicate;
        const std::vector<uint64_t>& rows;
        AddCheck expected;
    } cases[] = {
        {90, 100, 9, false, none, AddCheck::Accepted},
        {90, 100, 10, false, none, AddCheck::NoSpace},  // equality is not enough
        {90, 100, 11, false, none, AddCheck::NoSpace},
        {0, 0, 0, false, none, AddCheck::NoSpace},                        // no answer from the server
        {1, UINT64_MAX, UINT64_MAX - 1, false, none, AddCheck::NoSpace},  // no wrap
        {0, 100, 1, true, none, AddCheck::Duplicate},
        {100, 100, 1, true, none, AddCheck::NoSpace},  // space first
        {0, 100, 1, false, atCeiling, AddCheck::Accepted},
        {0, 100, 1, false, overCeiling, AddCheck::CeilingReached},
        {0, 100, 1, true, overCeiling, AddCheck::Duplicate},  // duplicate before ceiling
        {0, 100, 1, false, large, AddCheck::CeilingReached},
        {0, 100, 1, false, wrapping, AddCheck::CeilingReached},
        {0, UINT64_MAX, 5000000000, false, none, AddCheck::Accepted},
    };
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        const auto& c = cases[i];
        EXPECT_EQ(pagetext::CheckAdd(c.used, c.total, c.length, c.duplicate, c.rows), c.expected) << "case " << i;
    }
}

TEST(PageText, FloatTextsCycleThroughTheRows) {
    const std::vector<pagetext::RowSummary> rows = {
        {L"a.bin", L"1.0KB/s", L"00:00:01"}, {L"b.bin", L"2.0KB/s", L"00:00:02"}, {L"c.bin", L"3.0KB/s", L"00:00:03"}};
    int32_t index = 0;
    std::vector<std::wstring> current;
    pagetext::FloatTexts texts;
    for (int tick = 0; tick < 4; ++tick) {
        texts = pagetext::NextFloatTexts(rows, index);
        current.push_back(texts.current);
    }
    EXPECT_EQ(current, (std::vector<std::wstring>{L"00:00:01", L"00:00:02", L"00:00:03", L"00:00:01"}));
    EXPECT_EQ(texts.summary,
              L"文件名：a.bin速度：1.0KB/s剩余：00:00:01\n\r"
              L"文件名：b.bin速度：2.0KB/s剩余：00:00:02\n\r"
              L"文件名：c.bin速度：3.0KB/s剩余：00:00:03\n\r");

    // A row gone since the last tick: the index starts over rather than reading past the end.
    index = 3;
    EXPECT_EQ(pagetext::NextFloatTexts(rows, index).current, L"00:00:01");
    EXPECT_EQ(index, 1);

    texts = pagetext::NextFloatTexts({}, index);
    EXPECT_TRUE(texts.summary.empty());
    EXPECT_TRUE(texts.current.empty());
}
