#pragma once
// UTF-8 for file names and the system's names of devices, wide strings for
// everything the window shows.
#include <string>

// UTF-8 encoding of a wide string, one code point per character (UTF-16
// surrogate pairs are combined where wchar_t is 16 bits). Throws
// std::range_error for a lone surrogate or a value above U+10FFFF.
std::string ws2s(const std::wstring& text);

// The wide string of UTF-8 text (UTF-16 where wchar_t is 16 bits); a byte
// that does not belong to a valid sequence becomes U+FFFD.
std::wstring s2ws(const std::string& text);
