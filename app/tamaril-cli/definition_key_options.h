#pragma once

#include <iosfwd>
#include <optional>
#include <string>

namespace tamaril::cli {

/// The key options of `defs add|edit`: --trust (import) and --seal-to (export), checked.
struct DefinitionKeyOptions {
  std::optional<std::string> key;  ///< the key's text; empty removes the key
};

/// Checks --trust and --seal-to for the list chosen: each belongs to one list, and a text that is
/// not empty must be a public key. Throws CliError with a Czech message.
DefinitionKeyOptions CheckDefinitionKeyOptions(bool import_list, const std::optional<std::string>& trust,
                                               const std::optional<std::string>& seal_to);

/// Stores the key of the definition `signature` (Windows-1250); with `replace_all` a definition
/// given no key loses the one a removed definition of the same Signature had.
void StoreDefinitionKey(bool import_list, const std::string& signature, const DefinitionKeyOptions& options,
                        bool replace_all);

/// Prints the definition's key line for `defs show` ("Důvěryhodný klíč=" or "Šifrovat pro=").
void ShowDefinitionKey(std::ostream& out, bool import_list, const std::string& signature);

}  // namespace tamaril::cli
