#pragma once

#include <string_view>

namespace tamaril::text {

// Byte-level helpers for keywords, switches and file contents that are plain ASCII by
// definition. Anything a person may have typed goes through the locale functions instead.

/// True when `a` and `b` are equal, ignoring the case of the ASCII letters only.
bool EqualsIgnoreCaseAscii(std::string_view a, std::string_view b);

/// `text` without the leading and trailing blanks (spaces and control characters, bytes up to 0x20).
std::string_view TrimBlanks(std::string_view text);

}  // namespace tamaril::text
