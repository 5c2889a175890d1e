#pragma once

#include <string>
#include <string_view>

namespace tamaril::core {

// Which export definitions carry their texts in Unicode is kept beside the list, in an ini file
// of the program's folder: EXPORT.DAT keeps the layout other programs read and write. Section
// [UNICODE], one key per Signature (without edge blanks, Windows-1250) with the value 1; a
// definition without a key exports in Windows-1250.

/// The side file's name in the program's folder.
inline constexpr std::string_view kExportTextFile = "EXPORT.INI";

/// The side file's path (UTF-8).
std::string ExportTextFilePath();

/// True when the export definition of `signature` (Windows-1250) exports in Unicode. Throws
/// IniFileError when the file exists but cannot be read.
bool ExportTextUnicode(std::string_view signature);

/// Sets (or clears) the Unicode form of the export definition of `signature` and writes the
/// file; throws IniFileError when it cannot be written or the Signature holds "=" or a line
/// break.
void SetExportTextUnicode(std::string_view signature, bool unicode);

}  // namespace tamaril::core
