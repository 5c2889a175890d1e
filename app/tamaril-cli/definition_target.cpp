#include "tamaril-cli/definition_target.h"

#include <algorithm>
#include <stdexcept>

#include "core/input_check.h"
#include "dataset/field.h"
#include "replication/database_open.h"
#include "replication/readiness.h"
#include "tamaril-cli/cli.h"
#include "tamaril-cli/cli_error.h"
#include "tamaril-cli/terminal.h"

namespace tamaril::cli {

bool ChosenImportSide(bool export_flag, bool import_flag) {
  if (export_flag == import_flag) throw CliError::FromUtf8("Uveďte právě jedno z --export a --import");
  return import_flag;
}

DefinitionTarget::DefinitionTarget(Cli& cli, bool import, std::string_view signature)
    : cli_(cli), import_(import), logins_(cli.LoginPrompt()) {
  dataset::TQVMStoredMemoryDataSet& list = cli.Maindata().DefinitionList(import);
  const std::string key = core::CheckedAnsiInput("Signature", signature);
  if (!list.Locate("Signature", dataset::Variant::String(key)))
    throw CliError::FromUtf8("Definice " + std::string(signature) + " v seznamu není");
  signature_ = list.FieldByName("Signature").AsString();
  connection_string_ = list.FieldByName("ConnectionString").Text();
  database_name_ = list.FieldByName("DatabaseName").AsString();
}

bool DefinitionTarget::Open(std::ostream& out) {
  try {
    structure_ = &replication::OpenDatabaseStructure(
        {logins_, connection_, master_, cli_.StructureCache()}, connection_string_, database_name_,
        import_ ? replication::tReadyFor::Import : replication::tReadyFor::Export);
  } catch (const replication::DatabaseNotReadyError& e) {
    // The structure was scanned and cached before the check failed: it can still be looked at.
    structure_ = cli_.StructureCache().Find(connection_string_, database_name_);
    std::string message = e.what();
    std::replace(message.begin(), message.end(), '\r', '\n');
    out << ToTerminal(message) << '\n';
    return false;
  }
  return true;
}

void DefinitionTarget::OpenUnchecked(const dbstruct::ScanProgressEvent& progress) {
  structure_ = &replication::OpenDatabaseStructure({logins_, connection_, master_, cli_.StructureCache()},
                                                   connection_string_, database_name_,
                                                   replication::tReadyFor::Nothing, progress);
}

dbstruct::tDatabase_Structure& DefinitionTarget::Structure() const {
  if (structure_ == nullptr) throw std::logic_error("the definition's database is not open");
  return *structure_;
}

}  // namespace tamaril::cli
