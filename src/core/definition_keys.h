#pragma once

#include <string>
#include <string_view>

namespace tamaril::core {

// The keys of the definitions are kept beside the lists, in an ini file of the program's folder:
// EXPORT.DAT and IMPORT.DAT keep the layout other programs read and write. Section [TRUST] holds
// the public key an import definition accepts archives signed by, [SEAL] the public key an
// export definition seals its archives to; one key per Signature (without edge blanks,
// Windows-1250), the value the key's text. Only public keys are kept here.

/// The side file's name in the program's folder.
inline constexpr std::string_view kDefinitionKeysFile = "KEYS.INI";

/// The side file's path (UTF-8).
std::string DefinitionKeysFilePath();

/// The public key text the import definition of `signature` trusts; empty when it has none.
/// Throws IniFileError when the file exists but cannot be read.
std::string TrustedKey(std::string_view signature);
/// Sets the trusted key of the import definition of `signature` (an empty text removes it) and
/// writes the file; throws IniFileError when it cannot be written.
void SetTrustedKey(std::string_view signature, std::string_view key_text);

/// The public key text the export definition of `signature` seals to; empty when it has none.
/// Throws as TrustedKey.
std::string SealKey(std::string_view signature);
/// Sets the key the export definition of `signature` seals to (empty: none); throws as
/// SetTrustedKey.
void SetSealKey(std::string_view signature, std::string_view key_text);

}  // namespace tamaril::core
