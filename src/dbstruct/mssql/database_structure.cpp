#include "dbstruct/mssql/database_structure.h"

#include <fmt/printf.h>

#include <fstream>

#include "dataset/date_codec.h"
#include "dbaccess/connection.h"
#include "dbstruct/errors.h"
#include "dbstruct/mssql/table_structure.h"
#include "text/ascii.h"
#include "text/locale.h"

namespace tamaril::dbstruct {

namespace {

// Names a person typed (ignore.txt) match the tables with the letter case of the locale.
bool InList(const std::vector<std::string>* names, const std::string& name) {
  if (names == nullptr) return false;
  for (const auto& item : *names) {
    if (text::SameTextIgnoreCase(item, name)) return true;
  }
  return false;
}

void AppendToFile(const std::string& file_name, const std::string& text) {
  std::ofstream file(file_name, std::ios::binary | std::ios::app);
  if (!file) throw StructureError("Cannot open file " + file_name);
  file.write(text.data(), static_cast<std::streamsize>(text.size()));
  file.close();
  if (!file) throw StructureError("Cannot write file " + file_name);
}

}  // namespace

tADODatabase_Structure::tADODatabase_Structure(dbaccess::Connection& connection,
                                               const ServerVersionReader& read_version)
    : tDatabase_Structure(&connection) {
  if (!read_version(connection.ConnectionString(), ServerVersionCode)) {
    throw StructureError("Cannot determine SQL server version");
  }
  if (ServerVersionCode < 8) throw StructureError("SQL Server version at least 7.0 expected");
  PropAccessor();
}

tADODatabase_Structure::~tADODatabase_Structure() { ClearTables(); }

void tADODatabase_Structure::GetTableNames(std::vector<std::string>& names) {
  names = Connection()->Tables();
}

std::unique_ptr<tTbl_Structure> tADODatabase_Structure::CreateTableStructure() {
  return std::make_unique<tADOTbl_Structure>(*this);
}

void tADODatabase_Structure::LoadForeignKeys() {
  dbaccess::Connection& connection = *Connection();
  const std::string database = connection.DefaultDatabase();
  for (const auto& row : connection.ForeignKeys()) {
    if (text::EqualsIgnoreCaseAscii(row.PK_TABLE_CATALOG, database) &&
        text::EqualsIgnoreCaseAscii(row.FK_TABLE_CATALOG, database)) {
      AddForeignKey(row.PK_TABLE_NAME, row.FK_TABLE_NAME, row.FK_NAME, row.PK_COLUMN_NAME,
                    row.FK_COLUMN_NAME);
    }
  }
  for (const auto& row : connection.PrimaryKeys()) {
    if (!text::EqualsIgnoreCaseAscii(row.TABLE_CATALOG, database)) continue;
    auto* table = dynamic_cast<tADOTbl_Structure*>(FindTable(row.TABLE_NAME));
    if (table != nullptr && table->HasPrimaryKey) table->PrimaryKeyIndexName = row.PK_NAME;
  }
}

void tADODatabase_Structure::Scan() {
  dbaccess::Connection& connection = *Connection();
  {
    auto rows = connection.Query("select @@LANGID");
    LanguageId =
        rows->Next() && !rows->Get(0).IsNull() ? static_cast<std::int32_t>(rows->Get(0).AsInteger()) : 0;
  }
  {
    auto rows = connection.CallProcedure("sp_helplanguage", {}, true);
    while (rows != nullptr && rows->Next()) {
      if (!rows->Get("langid").IsNull() && rows->Get("langid").AsInteger() == LanguageId) {
        DateFormat = rows->Get("dateformat").AsString();
        break;
      }
    }
  }
  tDatabase_Structure::Scan();
}

std::unique_ptr<tPropAccessor> tADODatabase_Structure::CreatePropAccessor(
    dbaccess::Connection& connection) const {
  return std::make_unique<tMSSQLPropAccessor>(connection, ServerVersionCode);
}

std::string tADODatabase_Structure::FormatDateTimeLiteral(double date_time) const {
  const dataset::TimeStamp stamp = dataset::DateTimeToTimeStamp(date_time);
  const dataset::CivilDate date = dataset::CivilFromDayNumber(stamp.date);
  const int ms = stamp.time;
  const int year = static_cast<int>(date.year);
  const int h = ms / 3600000;
  const int mi = ms / 60000 % 60;
  const int s = ms / 1000 % 60;
  const int z = ms % 1000;
  const std::string order = text::UpperCaseAscii(DateFormat);
  if (order == "MDY")
    return fmt::sprintf("%.2d/%.2d/%.4d %.2d:%.2d:%.2d.%.3d", date.month, date.day, year, h, mi, s, z);
  if (order == "DMY")
    return fmt::sprintf("%.2d/%.2d/%.4d %.2d:%.2d:%.2d.%.3d", date.day, date.month, year, h, mi, s, z);
  if (order == "YMD")
    return fmt::sprintf("%.4d/%.2d/%.2d %.2d:%.2d:%.2d.%.3d", year, date.month, date.day, h, mi, s, z);
  if (order == "YDM")
    return fmt::sprintf("%.4d/%.2d/%.2d %.2d:%.2d:%.2d.%.3d", year, date.day, date.month, h, mi, s, z);
  if (order == "MYD")
    return fmt::sprintf("%.2d/%.4d/%.2d %.2d:%.2d:%.2d.%.3d", date.month, year, date.day, h, mi, s, z);
  if (order == "DYM")
    return fmt::sprintf("%.2d/%.4d/%.2d %.2d:%.2d:%.2d.%.3d", date.day, year, date.month, h, mi, s, z);
  return fmt::sprintf("%.4d-%.2d-%.2d %.2d:%.2d:%.2d.%.3d", year, date.month, date.day, h, mi, s, z);
}

std::vector<tScriptTable> tADODatabase_Structure::ScriptTables(const std::vector<std::string>* ignore) const {
  std::vector<tScriptTable> tables;
  for (int i = 0; i < TableCount(); ++i) {
    const auto* table = dynamic_cast<const tADOTbl_Structure*>(&Table(i));
    if (table == nullptr || table->IsView || InList(ignore, table->TableName)) continue;
    tables.push_back({table, {}});
  }
  return tables;
}

std::string tADODatabase_Structure::DeleteTriggerSection(const std::vector<tScriptTable>& tables,
                                                         const std::string& trigger_prefix,
                                                         const std::string& target_table,
                                                         const std::string& table_name_column,
                                                         const std::string& row_guid_column,
                                                         const std::string& id_column) const {
  std::string section =
      "/* ------------------------------------------------------------------ */\r\n"
      "/* DELETE Triggery pro plneni tabulky identifikujici vymazane zaznamy */\r\n"
      "/* ------------------------------------------------------------------ */\r\n";
  for (const tScriptTable& item : tables) {
    if (item.table == nullptr) continue;
    const std::string script = item.table->BuildDeleteTriggerScript(
        trigger_prefix, target_table, table_name_column, row_guid_column, id_column, item.added_row_guid);
    if (!script.empty()) section += script + "\r\n";
  }
  return section;
}

std::string tADODatabase_Structure::TrackingColumnsSection(const std::vector<tScriptTable>& tables,
                                                           const std::string& trigger_prefix,
                                                           const std::vector<std::string>& names,
                                                           const std::vector<std::string>& types) const {
  std::string section =
      "/* ------------------------------------------------------------------ */\r\n"
      "/* Zalozeni a administrace doplnkovych poli replikace                 */\r\n"
      "/* ------------------------------------------------------------------ */\r\n";
  for (const tScriptTable& item : tables) {
    if (item.table == nullptr) continue;
    const std::string script =
        item.table->BuildInsertTriggerScript(trigger_prefix, names, types, item.added_row_guid);
    if (!script.empty()) section += script + "\r\n";
  }
  return section;
}

void tADODatabase_Structure::WriteDeleteTriggerScript(
    const std::string& file_name, const std::vector<std::string>* ignore, const std::string& trigger_prefix,
    const std::string& target_table, const std::string& table_name_column, const std::string& row_guid_column,
    const std::string& id_column) const {
  AppendToFile(file_name, DeleteTriggerSection(ScriptTables(ignore), trigger_prefix, target_table,
                                               table_name_column, row_guid_column, id_column));
}

void tADODatabase_Structure::WriteTrackingColumnsScript(const std::string& file_name,
                                                        const std::vector<std::string>* ignore,
                                                        const std::string& trigger_prefix,
                                                        const std::vector<std::string>& names,
                                                        const std::vector<std::string>& types) const {
  AppendToFile(file_name, TrackingColumnsSection(ScriptTables(ignore), trigger_prefix, names, types));
}

std::string tADODatabase_Structure::DefaultRulesStatement(bool import_rules) const {
  const std::string assignments =
      import_rules ? "Update f set f.DefAppendRule=a.AppendRule,f.DefUpdateRule=a.UpdateRule,"
                     "f.DefUpdateFieldRule=a.UpdateFieldRule,f.DefDeleteRule=a.DeleteRule,"
                     "f.DefIgnoreRowGuidField=a.IgnoreRowGuidField "
                   : "Update f set f.DefExportRule=a.ExportRule ";
  return assignments + fmt::sprintf("From %s f ", "rep_TBLDESC") +
         fmt::sprintf("join %s a ", import_rules ? "rep_DEFIMPORT" : "rep_DEFEXPORT") +
         "on a.Signature=:Signature and a.TABLENAME=f.TABLENAME ";
}

namespace {

// A text between single quotes in T-SQL: its own quotes doubled.
std::string EscapeQuotes(std::string_view text) {
  std::string escaped;
  escaped.reserve(text.size());
  for (const char c : text) {
    escaped += c;
    if (c == '\'') escaped += '\'';
  }
  return escaped;
}

}  // namespace

std::vector<std::string> tADODatabase_Structure::ExportLogBatch(
    const std::string& signature, int export_no, double export_time,
    const std::vector<std::pair<std::string, int>>& counts) const {
  const std::string quoted_signature = EscapeQuotes(signature);
  std::string batch = "BEGIN TRANSACTION ";
  batch +=
      fmt::sprintf("Insert Into rep_XPORTLOG  (Signature, EXPORTNO, EXPORTDATE)  VALUES  ('%s',%d,'%s')  ",
                   quoted_signature, export_no, EscapeQuotes(FormatDateTimeLiteral(export_time)));
  for (const auto& [table, rows] : counts) {
    batch += fmt::sprintf(
        " Insert Into rep_XPORTLOGDETAIL  (Signature, EXPORTNO, TABLENAME, COUNTRECORDS)  VALUES  ('%s',%d, "
        "'%s', "
        "%d)  ",
        quoted_signature, export_no, EscapeQuotes(table), rows);
  }
  const std::string update = std::string("Update f set f.LastExportDate=a.SERVEREXPORTDATE ") +
                             fmt::sprintf("From %s f ", "rep_DEFEXPORT") +
                             "join (select b.Signature, b.TABLENAME, b.EXPORTNO, c.SERVEREXPORTDATE " +
                             "      from rep_XPORTLOGDETAIL b join rep_XPORTLOG c ON " +
                             "      c.Signature=b.Signature and c.EXPORTNO=b.EXPORTNO " +
                             "      where c.Signature='%s' and c.EXPORTNO=%d) a " +
                             "on a.Signature=f.Signature and a.TABLENAME=f.TABLENAME ";
  batch += fmt::sprintf(update, quoted_signature, export_no);
  batch += " COMMIT TRANSACTION ";
  return {batch};
}

std::vector<std::string> tADODatabase_Structure::ImportLogBatch(
    const std::string& signature, int import_no, int export_no, double export_time,
    const std::vector<ImportCounts>& counts) const {
  const std::string quoted_signature = EscapeQuotes(signature);
  std::string batch = "BEGIN TRANSACTION ";
  batch += fmt::sprintf(
      "Insert Into rep_IMPORTLOG  (Signature, IMPORTNO, CLIENTEXPORTNO, CLIENTEXPORTDATE)  VALUES  ('%s',%d, "
      "%d, '%s')  ",
      quoted_signature, import_no, export_no, EscapeQuotes(FormatDateTimeLiteral(export_time)));
  for (const ImportCounts& count : counts) {
    batch += fmt::sprintf(
        " Insert Into rep_IMPORTLOGDETAIL  (Signature, IMPORTNO, TABLENAME, COUNT_APPENDED, COUNT_UPDATED, "
        "COUNT_DELETED)  VALUES  ('%s',%d, '%s', %d, %d, %d)  ",
        quoted_signature, import_no, EscapeQuotes(count.table), count.appended, count.updated, count.deleted);
  }
  const std::string update = std::string("Update f set f.LastImportDate=a.IMPORTDATE ") +
                             fmt::sprintf("From %s f ", "rep_DEFIMPORT") +
                             "join (select b.Signature, b.TABLENAME, b.IMPORTNO, c.IMPORTDATE " +
                             "      from rep_IMPORTLOGDETAIL b join rep_IMPORTLOG c ON " +
                             "      c.Signature=b.Signature and c.IMPORTNO=b.IMPORTNO " +
                             "      where c.Signature='%s' and c.IMPORTNO=%d) a " +
                             "on a.Signature=f.Signature and a.TABLENAME=f.TABLENAME ";
  batch += fmt::sprintf(update, quoted_signature, import_no);
  batch += " COMMIT TRANSACTION ";
  return {batch};
}

std::string tADODatabase_Structure::CurrentTimeQuery() const { return "select GetDate()"; }

}  // namespace tamaril::dbstruct
