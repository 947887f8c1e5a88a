// Text helpers: UTF-8 <-> UTF-16 conversion, ASCII case folding, trimming and
// printf-style formatting. User-visible text is UTF-8 std::string; text read
// from UTF-16 files is std::u16string until it is converted.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace veltrane {

// Lenient conversions: invalid sequences become U+FFFD, nothing is dropped silently.
std::u16string Utf8ToUtf16(std::string_view text);
std::string Utf16ToUtf8(std::u16string_view text);

// Code units from raw bytes, two bytes per unit; an odd last byte is ignored.
std::u16string Utf16FromBytes(const uint8_t* bytes, size_t count, bool bigEndian);
// The little-endian bytes of the code units.
std::string Utf16ToBytesLE(std::u16string_view text);

char ToUpperAscii(char c);
char16_t ToUpperAscii(char16_t c);
std::string ToUpperAscii(std::string_view text);
bool EqualsIgnoreCaseAscii(std::string_view a, std::string_view b);
// True when text[pos..] starts with word, ignoring ASCII case.
bool StartsWithIgnoreCaseAt(std::string_view text, size_t pos, std::string_view word);

// Blank: a space or one of the control characters 8 to 13.
inline bool IsBlank(unsigned c) { return c == ' ' || (c >= 8 && c <= 13); }
inline bool IsIdentifierChar(unsigned c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}

std::string_view Trim(std::string_view text);
std::string ReplaceAll(std::string text, std::string_view from, std::string_view to);

// snprintf into a std::string.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace veltrane
