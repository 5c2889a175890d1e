#include "definitions/export_rules.h"

#include "text/encoding.h"

namespace tamaril::definitions {
namespace {

using dataset::FieldType;

tDefinitionSide ExportSide() {
  tDefinitionSide side;
  side.import = false;
  side.rules_table = "rep_DEFEXPORT";
  side.rule_columns = {{"Signature", FieldType::String, 10, {}},
                       {"TABLENAME", FieldType::String, 20, {}},
                       {"ExportRule", FieldType::Memo, 0, {}},
                       {"LastExportDate", FieldType::DateTime, 0, text::Utf8ToAnsi("Čas posl. exportu")}};
  side.rules = {expr::RuleKind::Export};
  side.desc_field = "TableDesc";
  side.insert_new_rows =
      "Insert into rep_DEFEXPORT (Signature, TABLENAME, ExportRule, LISTORDER) select :Signature, "
      "A.TABLENAME, "
      "A.DefExportRule, A.LISTORDER from rep_TBLDESC A";
  side.log_table = "rep_XPORTLOG";
  side.log_columns = {{"Signature", FieldType::String, 10, {}},
                      {"EXPORTNO", FieldType::Integer, 0, "Pořadí"},
                      {"EXPORTDATE", FieldType::DateTime, 0, "Čas (program)"},
                      {"SERVEREXPORTDATE", FieldType::DateTime, 0, "Čas (SQL server)"}};
  for (auto& column : side.log_columns) column.label = text::Utf8ToAnsi(column.label);
  side.log_detail_table = "rep_XPORTLOGDETAIL";
  side.detail_columns = {{"Signature", FieldType::String, 10, {}},
                         {"EXPORTNO", FieldType::Integer, 0, {}},
                         {"TABLENAME", FieldType::String, 20, {}},
                         {"COUNTRECORDS", FieldType::Integer, 0, text::Utf8ToAnsi("záznamů")}};
  side.default_question = text::Utf8ToAnsi(
      "Tato volba nastaví aktuální soubor pravidel exportu jako \r\nvýchozí nastavení pro další zakládané "
      "definice\r\nexportu z databáze %s. Pokračovat?");
  return side;
}

}  // namespace

TData_DBExport::TData_DBExport() : tDefinitionRules(ExportSide()) {}

}  // namespace tamaril::definitions
