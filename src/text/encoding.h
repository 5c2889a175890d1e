#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace tamaril::text {

// Inside the engine every text is a Windows-1250 ("ANSI") byte string. These functions are
// the only place where it meets UTF-8 (terminal, files names, SQLite) and UTF-16 (ODBC, Qt).
// A character that Windows-1250 cannot hold becomes '?'; malformed input bytes become the
// replacement character (UTF-8/16 side) or '?' (ANSI side). None of them throws on bad text.

/// Windows-1250 bytes to UTF-8.
std::string AnsiToUtf8(std::string_view ansi);

/// UTF-8 to Windows-1250 bytes.
std::string Utf8ToAnsi(std::string_view utf8);

/// Utf8ToAnsi; `lossy` tells whether the text lost a character on the way (one that
/// Windows-1250 cannot hold, or a malformed byte sequence).
std::string Utf8ToAnsi(std::string_view utf8, bool& lossy);

/// UTF-8 to Windows-1250 bytes when every character has its own Windows-1250 byte; otherwise
/// nothing, and `first_unmappable` (when given) receives the first character that has none
/// (U+FFFD for a malformed byte sequence). Does not throw on bad text.
std::optional<std::string> Utf8ToAnsiExact(std::string_view utf8, char32_t* first_unmappable = nullptr);

/// Windows-1250 bytes to UTF-16.
std::u16string AnsiToUtf16(std::string_view ansi);

/// UTF-16 to Windows-1250 bytes.
std::string Utf16ToAnsi(std::u16string_view utf16);

/// Utf16ToAnsi; `lossy` tells whether the text lost a character on the way.
std::string Utf16ToAnsi(std::u16string_view utf16, bool& lossy);

/// UTF-8 to UTF-16.
std::u16string Utf8ToUtf16(std::string_view utf8);

/// UTF-16 to UTF-8.
std::string Utf16ToUtf8(std::u16string_view utf16);

/// True when the text is well-formed UTF-8 holding at least one character beyond ASCII.
bool IsMultibyteUtf8(std::string_view text);

/// The number of characters (code points) of a UTF-8 text; a malformed byte counts as one.
std::size_t Utf8Length(std::string_view utf8);

/// The byte offset of character `index` (0-based) of a UTF-8 text; the text's size when it has
/// no such character.
std::size_t Utf8Offset(std::string_view utf8, std::size_t index);

/// Up to `count` characters of a UTF-8 text from character `first` (0-based).
std::string_view Utf8Substr(std::string_view utf8, std::size_t first, std::size_t count);

}  // namespace tamaril::text
