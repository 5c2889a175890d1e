#pragma once

#include <string>
#include <string_view>

namespace tamaril::text {

// Byte-level helpers for keywords, switches and file contents that are plain ASCII by
// definition. Anything a person may have typed goes through the locale functions instead.

/// True when `a` and `b` are equal, ignoring the case of the ASCII letters only.
bool EqualsIgnoreCaseAscii(std::string_view a, std::string_view b);

/// The ASCII letter in upper case; every other byte as it is.
inline char UpperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

/// `text` with its ASCII letters in upper case.
std::string UpperCaseAscii(std::string_view text);

/// `text` without the leading and trailing blanks (spaces and control characters, bytes up to 0x20).
std::string_view TrimBlanks(std::string_view text);

}  // namespace tamaril::text
