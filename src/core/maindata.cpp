#include "core/maindata.h"

#include <exception>

#include "core/definition_keys.h"
#include "core/export_text.h"
#include "core/paths.h"
#include "dataset/variant.h"
#include "text/encoding.h"

namespace tamaril::core {
namespace {

// Opens a definition list from its file and dresses its fields: labels, required fields, the
// unique Signature, and the connection string kept scrambled in the file but plain in its text.
void OpenDefinitionList(dataset::TQVMStoredMemoryDataSet& list, std::string_view name,
                        std::string_view layout, std::string_view file_name, std::string_view partner_field,
                        std::string_view partner_label, std::string_view database_label) {
  list.Name = std::string(name);
  list.SetFieldLayout(std::string(layout));
  list.SetFilename(IncludeTrailingDelimiter(ProgramFolder()) + std::string(file_name));
  list.SetNewFileMode(0600);
  list.Open();
  list.SetUniqueField("Signature");

  const auto dress = [&](std::string_view field, std::string_view label, bool required) {
    if (dataset::TField* found = list.FindField(field)) {
      found->DisplayLabel = text::Utf8ToAnsi(label);
      found->Required = required;
    }
  };
  dress("Signature", "Identifikace přenosu", true);
  dress(partner_field, partner_label, true);
  dress("ConnectionString", "Připojovací řetězec ADO", false);
  dress("DatabaseName", database_label, false);
  dress("Pozn", "Poznámka", false);

  if (dataset::TField* connection = list.FindField("ConnectionString")) {
    connection->OnGetText = [](dataset::TField& field, std::string& text, bool) {
      text = TransformConnectionString(field.AsString(), false);
    };
    connection->OnSetText = [](dataset::TField& field, const std::string& text) {
      field.SetAsString(TransformConnectionString(text, true));
    };
  }
}

}  // namespace

TMaindata::TMaindata(LoginPrompt& prompt) : logins_(prompt) {
  MASTERConnection.SetCommandTimeout(300);
  MASTERConnection.SetConnectionTimeout(300);
  OpenList(true);
  OpenList(false);
}

void TMaindata::OpenList(bool import) {
  if (import) {
    OpenDefinitionList(ImportDefTbl, "ImportDefTbl", kImportLayout, "IMPORT.DAT", "ClientName",
                       "Název klienta", "Databáze pro import");
  } else {
    OpenDefinitionList(ExportDefTbl, "ExportDefTbl", kExportLayout, "EXPORT.DAT", "CenterName",
                       "Název centra", "Databáze pro export");
  }
}

ListFileLock TMaindata::LockList(bool import) {
  dataset::TQVMStoredMemoryDataSet& list = DefinitionList(import);
  ListFileLock lock(list.Filename());
  list.Close();
  OpenList(import);
  return lock;
}

TMaindata::~TMaindata() = default;

void TMaindata::StoreLists() {
  ImportDefTbl.Store();
  ExportDefTbl.Store();
  std::vector<std::pair<bool, std::string>> pending;
  for (auto& [import, signature] : removed_) {
    if (!DefinitionList(import)
             .Lookup("Signature", dataset::Variant::String(signature), "Signature")
             .IsNull())
      continue;
    try {
      if (import) {
        SetTrustedKey(signature, "");
      } else {
        SetSealKey(signature, "");
        SetExportTextUnicode(signature, false);
      }
    } catch (const std::exception&) {
      // The lists are stored; a side file that cannot be written now is tried at the next store.
      pending.emplace_back(import, std::move(signature));
    }
  }
  removed_ = std::move(pending);
}

void TMaindata::ForgetRemovedDefinition(bool import, std::string signature) {
  removed_.emplace_back(import, std::move(signature));
}

}  // namespace tamaril::core
