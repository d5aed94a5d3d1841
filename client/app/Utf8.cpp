#include "client/app/Utf8.h"

#include <cstring>

namespace text {
namespace {

const char32_t kReplacement = 0xFFFD;

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

void AppendUtf16(std::u16string& out, char32_t c) {
    if (c < 0x10000) {
        out += static_cast<char16_t>(c);
    } else {
        c -= 0x10000;
        out += static_cast<char16_t>(0xD800 + (c >> 10));
        out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    }
}

bool IsContinuation(unsigned char b) { return (b & 0xC0) == 0x80; }

}  // namespace

std::string Utf16ToUtf8(const char16_t* text, size_t length) {
    std::string out;
    out.reserve(length * 3);
    for (size_t i = 0; i < length; ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < length && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = kReplacement;
        }
        AppendUtf8(out, c);
    }
    return out;
}

std::u16string Utf8ToUtf16(const char* text, size_t length) {
    std::u16string out;
    out.reserve(length);
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    size_t i = 0;
    while (i < length) {
        unsigned char b = p[i];
        size_t need;
        char32_t c, min;
        if (b < 0x80) {
            out += b;
            ++i;
            continue;
        }
        if (b >= 0xC2 && b <= 0xDF) {
            need = 1;
            c = b & 0x1F;
            min = 0x80;
        } else if (b >= 0xE0 && b <= 0xEF) {
            need = 2;
            c = b & 0x0F;
            min = 0x800;
        } else if (b >= 0xF0 && b <= 0xF4) {
            need = 3;
            c = b & 0x07;
            min = 0x10000;
        } else {
            out += static_cast<char16_t>(kReplacement);
            ++i;
            continue;
        }
        size_t k = 1;
        for (; k <= need && i + k < length && IsContinuation(p[i + k]); ++k) c = (c << 6) | (p[i + k] & 0x3F);
        if (k <= need || c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
            // A malformed sequence: one replacement, resume after the bytes looked at.
            out += static_cast<char16_t>(kReplacement);
            i += k;
            continue;
        }
        AppendUtf16(out, c);
        i += k;
    }
    return out;
}

size_t Utf8FitLength(const char* text, size_t length, size_t maxBytes) {
    if (length <= maxBytes) return length;
    size_t n = maxBytes;
    // Step back over continuation bytes so the cut does not split a character.
    while (n > 0 && IsContinuation(static_cast<unsigned char>(text[n]))) --n;
    return n;
}

size_t Utf16ToUtf8Field(char* out, size_t outSize, const char16_t* text, size_t length) {
    if (!out || outSize == 0) return 0;
    std::string utf8 = Utf16ToUtf8(text, length);
    size_t n = Utf8FitLength(utf8.data(), utf8.size(), outSize - 1);
    std::memcpy(out, utf8.data(), n);
    out[n] = '\0';
    return n;
}

size_t FieldLength(const char* field, size_t fieldSize) {
    const void* nul = std::memchr(field, 0, fieldSize);
    return nul ? static_cast<size_t>(static_cast<const char*>(nul) - field) : fieldSize;
}

}  // namespace text
