#include "tamaril-cli/definition_key_options.h"

#include <ostream>

#include "core/definition_keys.h"
#include "replication/site_keys.h"
#include "tamaril-cli/cli_error.h"

namespace tamaril::cli {

DefinitionKeyOptions CheckDefinitionKeyOptions(bool import_list, const std::optional<std::string>& trust,
                                               const std::optional<std::string>& seal_to) {
  if (trust && !import_list) {
    throw CliError::FromUtf8(
        "Volba --trust patří k definici importu: určuje klíč klienta, jehož podpis centrum "
        "vyžaduje");
  }
  if (seal_to && import_list) {
    throw CliError::FromUtf8(
        "Volba --seal-to patří k definici exportu: určuje klíč centra, pro které se archiv "
        "šifruje");
  }
  DefinitionKeyOptions checked{import_list ? trust : seal_to};
  if (checked.key && !checked.key->empty() && !replication::ParsePublicKey(*checked.key)) {
    throw CliError::FromUtf8(std::string(import_list ? "--trust" : "--seal-to") + ": " +
                             replication::NotAPublicKeyReason(*checked.key));
  }
  if (checked.key && !checked.key->empty())
    checked.key = replication::PublicKeyText(*replication::ParsePublicKey(*checked.key));
  return checked;
}

void StoreDefinitionKey(bool import_list, const std::string& signature, const DefinitionKeyOptions& options,
                        bool replace_all) {
  if (!options.key && !replace_all) return;
  const std::string key = options.key.value_or("");
  if (import_list) {
    core::SetTrustedKey(signature, key);
  } else {
    core::SetSealKey(signature, key);
  }
}

void ShowDefinitionKey(std::ostream& out, bool import_list, const std::string& signature) {
  const std::string key = import_list ? core::TrustedKey(signature) : core::SealKey(signature);
  out << (import_list ? "Důvěryhodný klíč=" : "Šifrovat pro=") << (key.empty() ? "(žádný)" : key) << '\n';
}

}  // namespace tamaril::cli
