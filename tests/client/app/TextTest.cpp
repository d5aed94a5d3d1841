#include <gtest/gtest.h>

#include <cstring>

#include "client/app/Utf8.h"

using text::Utf16ToUtf8;
using text::Utf8ToUtf16;

TEST(Utf8Text, RoundTripsValidText) {
    struct Case {
        std::u16string wide;
        std::string utf8;
    };
    const Case cases[] = {
        {u"", ""},
        {u"plain ASCII 123", "plain ASCII 123"},
        {u"\u00e9t\u00e9", "\xC3\xA9t\xC3\xA9"},
        {u"上传文件", "\xE4\xB8\x8A\xE4\xBC\xA0\xE6\x96\x87\xE4\xBB\xB6"},
        {u"a\U0001F600b",
         "a\xF0\x9F\x98\x80"
         "b"},
        {u"\U0010FFFF", "\xF4\x8F\xBF\xBF"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Utf16ToUtf8(c.wide), c.utf8);
        EXPECT_EQ(Utf8ToUtf16(c.utf8), c.wide);
    }
}

TEST(Utf8Text, InvalidInputBecomesReplacementCharacters) {
    const std::string fffd = "\xEF\xBF\xBD";
    struct Wide {
        std::u16string in;
        std::string out;
    };
    const Wide wide[] = {
        {std::u16string(1, char16_t(0xD800)), fffd},
        {std::u16string{char16_t(0xDC00), u'a'}, fffd + "a"},
        {std::u16string{u'a', char16_t(0xD83D)}, "a" + fffd},  // high surrogate at the end
    };
    for (const Wide& c : wide) EXPECT_EQ(Utf16ToUtf8(c.in), c.out);

    struct Narrow {
        std::string in;
        std::u16string out;
    };
    const Narrow narrow[] = {
        {"\xFF", u"\uFFFD"},
        {"\x80x", u"\uFFFDx"},
        {"\xC0\xAF", u"\uFFFD\uFFFD"},    // overlong lead byte
        {"\xE0\x80\xAF", u"\uFFFD"},      // overlong three-byte form
        {"\xED\xA0\x80", u"\uFFFD"},      // encoded surrogate
        {"\xE4\xB8", u"\uFFFD"},          // cut at the end
        {"\xE4\xB8x", u"\uFFFDx"},        // cut in the middle
        {"\xF4\x90\x80\x80", u"\uFFFD"},  // beyond U+10FFFF
    };
    for (const Narrow& c : narrow) EXPECT_EQ(Utf8ToUtf16(c.in), c.out) << c.in.size();
}

TEST(Utf8Text, FieldsAreCutAtCharacterBoundaries) {
    struct Case {
        std::u16string in;
        size_t size;
        std::string kept;
    };
    const Case cases[] = {
        {u"abc", 4, "abc"},     {u"abcd", 4, "abc"}, {u"中a", 4, "\xE4\xB8\xAD"},
        {u"a中", 4, "a"},       {u"中", 3, ""},      {u"\U0001F600", 5, "\xF0\x9F\x98\x80"},
        {u"\U0001F600", 4, ""}, {u"", 1, ""},
    };
    for (const Case& c : cases) {
        char out[16];
        std::memset(out, 'G', sizeof out);
        size_t n = text::Utf16ToUtf8Field(out, c.size, c.in.data(), c.in.size());
        EXPECT_EQ(n, c.kept.size());
        EXPECT_EQ(std::string(out, n), c.kept);
        EXPECT_EQ(out[n], '\0');
        for (size_t i = c.size; i < sizeof out; ++i) EXPECT_EQ(out[i], 'G') << "wrote past the field";
    }
    char untouched = 'G';
    EXPECT_EQ(text::Utf16ToUtf8Field(&untouched, 0, u"a", 1), 0u);
    EXPECT_EQ(untouched, 'G');
    EXPECT_EQ(text::FieldLength("abc\0def", 7), 3u);
    EXPECT_EQ(text::FieldLength("abcdefg", 7), 7u);
}
