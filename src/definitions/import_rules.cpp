#include "definitions/import_rules.h"

#include "dataset/field.h"
#include "text/encoding.h"

namespace tamaril::definitions {
namespace {

using dataset::FieldType;

tDefinitionSide ImportSide() {
  tDefinitionSide side;
  side.import = true;
  side.rules_table = "rep_DEFIMPORT";
  side.rule_columns = {{"Signature", FieldType::String, 10, {}},
                       {"TABLENAME", FieldType::String, 20, {}},
                       {"IgnoreRowGuidField", FieldType::Boolean, 0, "Ignoruj RowGuid"},
                       {"AppendRule", FieldType::Memo, 0, "Přidat když"},
                       {"UpdateRule", FieldType::Memo, 0, "Opravit když"},
                       {"UpdateFieldRule", FieldType::Memo, 0, "Pole opravit když"},
                       {"DeleteRule", FieldType::Memo, 0, "Vymazat když"},
                       {"LastImportDate", FieldType::DateTime, 0, "Čas posl. importu"}};
  for (auto& column : side.rule_columns) column.label = text::Utf8ToAnsi(column.label);
  side.rules = {expr::RuleKind::Append, expr::RuleKind::Update, expr::RuleKind::UpdateField,
                expr::RuleKind::Delete};
  side.desc_field = "tableDesc";
  // rep_DELETED is described too, but its rows are never merged by rules.
  side.insert_new_rows =
      "Insert into rep_DEFIMPORT (Signature, TABLENAME, IgnoreRowGuidField, AppendRule, UpdateRule, "
      "UpdateFieldRule, DeleteRule, LISTORDER) select :Signature, A.TABLENAME, A.DefIgnoreRowGuidField, "
      "A.DefAppendRule, A.DefUpdateRule, A.DefUpdateFieldRule, A.DefDeleteRule, A.LISTORDER from rep_TBLDESC "
      "A "
      "where A.TABLENAME<>:Deleted";
  side.log_table = "rep_IMPORTLOG";
  side.log_columns = {{"Signature", FieldType::String, 10, {}},
                      {"IMPORTNO", FieldType::Integer, 0, "pořadí"},
                      {"IMPORTDATE", FieldType::DateTime, 0, "čas importu"},
                      {"CLIENTEXPORTNO", FieldType::Integer, 0, "pořadí klient"},
                      {"CLIENTEXPORTDATE", FieldType::DateTime, 0, "čas exportu klient"}};
  for (auto& column : side.log_columns) column.label = text::Utf8ToAnsi(column.label);
  side.log_detail_table = "rep_IMPORTLOGDETAIL";
  side.detail_columns = {{"Signature", FieldType::String, 10, {}},
                         {"IMPORTNO", FieldType::Integer, 0, {}},
                         {"TABLENAME", FieldType::String, 20, "evidence"},
                         {"COUNT_APPENDED", FieldType::Integer, 0, "přidáno"},
                         {"COUNT_UPDATED", FieldType::Integer, 0, "opraveno"},
                         {"COUNT_DELETED", FieldType::Integer, 0, "vymazáno"}};
  for (auto& column : side.detail_columns) column.label = text::Utf8ToAnsi(column.label);
  side.default_question = text::Utf8ToAnsi(
      "Tato volba nastaví aktuální soubor pravidel importu jako \r\nvýchozí nastavení pro další zakládané "
      "definice\r\nimportu do databáze %s. Pokračovat?");
  return side;
}

}  // namespace

TData_DBImport::TData_DBImport() : tDefinitionRules(ImportSide()) {
  Rules().FieldByName("IgnoreRowGuidField").OnGetText = [](dataset::TField& field, std::string& text, bool) {
    text = field.AsBoolean() ? "Ano" : "";
  };
}

}  // namespace tamaril::definitions
