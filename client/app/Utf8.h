// UTF-16 <-> UTF-8 conversion over standard types. Invalid input (lone surrogates, malformed
// bytes) becomes U+FFFD, as the platform's own converters do.
#pragma once

#include <cstddef>
#include <string>

namespace text {

std::string Utf16ToUtf8(const char16_t* text, size_t length);
inline std::string Utf16ToUtf8(const std::u16string& s) { return Utf16ToUtf8(s.data(), s.size()); }

std::u16string Utf8ToUtf16(const char* text, size_t length);
inline std::u16string Utf8ToUtf16(const std::string& s) { return Utf8ToUtf16(s.data(), s.size()); }

// Longest prefix of `text` of at most maxBytes bytes that ends on a character boundary.
size_t Utf8FitLength(const char* text, size_t length, size_t maxBytes);

// Writes the UTF-8 form of `text` into out[0..outSize), cut at a character boundary so that a
// terminating zero always fits; returns the bytes written without the zero (0 when outSize is 0).
size_t Utf16ToUtf8Field(char* out, size_t outSize, const char16_t* text, size_t length);

// Length of a text field: up to the first zero or the field's end.
size_t FieldLength(const char* field, size_t fieldSize);

}  // namespace text
