#include <array>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "dbaccess/connection.h"
#include "dbstruct/sqlite/sqlite_structure.h"
#include "replication/setup_script.h"
#include "text/encoding.h"
#include "text/locale.h"

namespace tamaril::replication {

namespace {

using dbstruct::QuoteName;

// The rep_ tables, masters first. SUCCNO and ID are rowid aliases with AUTOINCREMENT: a new row
// gets a number above every number the table ever gave, so SUCCNO follows the order of deletion
// and is never reused, as an IDENTITY column. The date defaults are the local time as the SQLite
// form writes date texts ("YYYY-MM-DD HH:MM:SS.SSS"). Declared sizes are not enforced by SQLite, so an
// older rep_USERFK with narrower columns needs no widening.
constexpr std::array<const char*, 9> kReplicationTables = {
    "CREATE TABLE IF NOT EXISTS rep_USERFK (\n"
    "  ID INTEGER NOT NULL CONSTRAINT rep_USERFK_PK PRIMARY KEY AUTOINCREMENT,\n"
    "  PK_TableName VARCHAR(40),\n"
    "  FK_TableName VARCHAR(40),\n"
    "  ConstraintName VARCHAR(40),\n"
    "  PK_Field VARCHAR(40),\n"
    "  FK_Field VARCHAR(40)\n"
    ")",
    "CREATE TABLE IF NOT EXISTS rep_DELETED (\n"
    "  SUCCNO INTEGER NOT NULL CONSTRAINT rep_DELETED_PK PRIMARY KEY AUTOINCREMENT,\n"
    "  TABLENAME VARCHAR(20) NOT NULL,\n"
    "  RECORDGUID UNIQUEIDENTIFIER,\n"
    "  RECORDID INT,\n"
    "  DELTIME DATETIME NOT NULL DEFAULT (strftime('%Y-%m-%d %H:%M:%f','now','localtime'))\n"
    ")",
    "CREATE TABLE IF NOT EXISTS rep_TBLDESC (\n"
    "  TABLENAME VARCHAR(20) NOT NULL,\n"
    "  TABLEDESC NVARCHAR(50) NOT NULL,\n"
    "  LISTORDER INT NOT NULL,\n"
    "  DefIgnoreRowGuidField bit NOT NULL DEFAULT 0,\n"
    "  DefExportRule TEXT,\n"
    "  DefAppendRule TEXT,\n"
    "  DefUpdateRule TEXT,\n"
    "  DefUpdateFieldRule TEXT,\n"
    "  DefDeleteRule TEXT,\n"
    "  CONSTRAINT rep_TBLDESC_PK PRIMARY KEY (TABLENAME)\n"
    ")",
    "CREATE TABLE IF NOT EXISTS rep_DEFEXPORT (\n"
    "  Signature VARCHAR(10) NOT NULL,\n"
    "  TABLENAME VARCHAR(20) NOT NULL,\n"
    "  ExportRule TEXT,\n"
    "  LastExportDate datetime,\n"
    "  LISTORDER INT NOT NULL,\n"
    "  CONSTRAINT rep_DEFEXPORT_PK PRIMARY KEY (Signature, TABLENAME),\n"
    "  CONSTRAINT FK_rep_DEFEXPORT_TABLENAME FOREIGN KEY (TABLENAME) REFERENCES rep_TBLDESC (TABLENAME)\n"
    ")",
    "CREATE TABLE IF NOT EXISTS rep_XPORTLOG (\n"
    "  Signature VARCHAR(10) NOT NULL,\n"
    "  EXPORTNO INT NOT NULL,\n"
    "  EXPORTDATE datetime NOT NULL,\n"
    "  SERVEREXPORTDATE datetime NOT NULL DEFAULT (strftime('%Y-%m-%d %H:%M:%f','now','localtime')),\n"
    "  CONSTRAINT rep_XPORTLOG_PK PRIMARY KEY (Signature, EXPORTNO)\n"
    ")",
    "CREATE TABLE IF NOT EXISTS rep_XPORTLOGDETAIL (\n"
    "  Signature VARCHAR(10) NOT NULL,\n"
    "  EXPORTNO INT NOT NULL,\n"
    "  TABLENAME VARCHAR(20) NOT NULL,\n"
    "  COUNTRECORDS INT NOT NULL DEFAULT 0,\n"
    "  CONSTRAINT rep_XPORTLOGDETAIL_PK PRIMARY KEY (Signature, EXPORTNO, TABLENAME),\n"
    "  CONSTRAINT FK_rep_XPORTLOGDETAIL_TABLENAME FOREIGN KEY (TABLENAME) REFERENCES rep_TBLDESC "
    "(TABLENAME),\n"
    "  CONSTRAINT rep_XPORTLOGDETAIL_FK FOREIGN KEY (Signature, EXPORTNO)\n"
    "    REFERENCES rep_XPORTLOG (Signature, EXPORTNO)\n"
    ")",
    "CREATE TABLE IF NOT EXISTS rep_DEFIMPORT (\n"
    "  Signature VARCHAR(10) NOT NULL,\n"
    "  TABLENAME VARCHAR(20) NOT NULL,\n"
    "  IgnoreRowGuidField bit NOT NULL DEFAULT 0,\n"
    "  AppendRule TEXT,\n"
    "  UpdateRule TEXT,\n"
    "  UpdateFieldRule TEXT,\n"
    "  DeleteRule TEXT,\n"
    "  LastImportDate datetime,\n"
    "  LISTORDER INT NOT NULL,\n"
    "  CONSTRAINT rep_DEFIMPORT_PK PRIMARY KEY (Signature, TABLENAME),\n"
    "  CONSTRAINT FK_rep_DEFIMPORT_TABLENAME FOREIGN KEY (TABLENAME) REFERENCES rep_TBLDESC (TABLENAME)\n"
    ")",
    "CREATE TABLE IF NOT EXISTS rep_IMPORTLOG (\n"
    "  Signature VARCHAR(10) NOT NULL,\n"
    "  IMPORTNO INT NOT NULL,\n"
    "  IMPORTDATE datetime NOT NULL DEFAULT (strftime('%Y-%m-%d %H:%M:%f','now','localtime')),\n"
    "  CLIENTEXPORTNO INT NOT NULL,\n"
    "  CLIENTEXPORTDATE datetime NOT NULL,\n"
    "  CONSTRAINT rep_IMPORTLOG_PK PRIMARY KEY (Signature, IMPORTNO)\n"
    ")",
    "CREATE TABLE IF NOT EXISTS rep_IMPORTLOGDETAIL (\n"
    "  Signature VARCHAR(10) NOT NULL,\n"
    "  IMPORTNO INT NOT NULL,\n"
    "  TABLENAME VARCHAR(20) NOT NULL,\n"
    "  COUNT_APPENDED INT NOT NULL DEFAULT 0,\n"
    "  COUNT_UPDATED INT NOT NULL DEFAULT 0,\n"
    "  COUNT_DELETED INT NOT NULL DEFAULT 0,\n"
    "  CONSTRAINT rep_IMPORTLOGDETAIL_PK PRIMARY KEY (Signature, IMPORTNO, TABLENAME),\n"
    "  CONSTRAINT FK_rep_IMPORTLOGDETAIL_TABLENAME FOREIGN KEY (TABLENAME) REFERENCES rep_TBLDESC "
    "(TABLENAME),\n"
    "  CONSTRAINT rep_IMPORTLOGDETAIL_FK FOREIGN KEY (Signature, IMPORTNO)\n"
    "    REFERENCES rep_IMPORTLOG (Signature, IMPORTNO)\n"
    ")",
};

// The tracking columns with the types they are added with.
constexpr std::array<std::array<const char*, 2>, 4> kTrackingColumns = {
    {{"rep_Date_Inserted", "datetime"},
     {"rep_Signature_Inserted", "varchar(10)"},
     {"rep_Date_Updated", "datetime"},
     {"rep_Signature_Updated", "varchar(10)"}}};

// A group of statements under one comment of the script.
struct Section {
  std::string comment;  ///< Windows-1250, one line
  std::vector<std::string> statements;
};

// A column the setup adds to a table. The sqlite3 shell has no ADD COLUMN IF NOT EXISTS, so the
// script for the shell asks the catalogue at run time; statements applied at once rely on the scan.
struct ColumnAddition {
  std::string table;
  std::string column;
  std::string type;
};

// What the setup does, in order: the columns first (triggers and indexes use them), then the
// sections.
struct SetupPlan {
  std::vector<ColumnAddition> columns;
  std::vector<Section> sections;
};

// A text literal: in single quotes, inner single quotes doubled.
std::string Literal(std::string_view value) {
  std::string quoted = "'";
  for (char c : value) {
    quoted += c;
    if (c == '\'') quoted += '\'';
  }
  return quoted + '\'';
}

// Adds the statement pair that replaces trigger `name` by `create_sql`, so that applying it again
// leaves the same text in sqlite_master.
void ReplaceTrigger(Section& section, const std::string& name, const std::string& create_sql) {
  if (create_sql.empty()) return;
  section.statements.push_back("DROP TRIGGER IF EXISTS " + QuoteName(name));
  section.statements.push_back(create_sql);
}

// The row of rep_TBLDESC, added only when the table has none (names compared ignoring case), so a
// description the user changed stays.
std::string DescriptionRow(const std::string& table_name, const std::string& description, int list_order) {
  return "INSERT INTO rep_TBLDESC (TABLENAME, TABLEDESC, LISTORDER) SELECT " + Literal(table_name) + ", " +
         Literal(description) + ", " + std::to_string(list_order) +
         " WHERE NOT EXISTS (SELECT 1 FROM rep_TBLDESC WHERE TABLENAME = " + Literal(table_name) +
         " COLLATE NOCASE)";
}

// The DELETE trigger recording the RowGuid (`guid_column`) and/or integer key of every deleted row
// in rep_DELETED; empty when the table has neither.
std::string DeleteTriggerSql(const dbstruct::tSQLiteTbl_Structure& table, const std::string& guid_column) {
  std::string columns = "TABLENAME";
  std::string values = Literal(table.TableName);
  if (!guid_column.empty()) {
    columns += ", RECORDGUID";
    values += ", OLD." + QuoteName(guid_column);
  }
  if (!table.IntKeyColumn.empty()) {
    columns += ", RECORDID";
    values += ", OLD." + QuoteName(table.IntKeyColumn);
  }
  if (guid_column.empty() && table.IntKeyColumn.empty()) return {};
  return "CREATE TRIGGER " + QuoteName("rep_tr_Del_" + table.TableName) + " AFTER DELETE ON " +
         QuoteName(table.TableName) + " FOR EACH ROW BEGIN INSERT INTO rep_DELETED (" + columns +
         ") VALUES (" + values + "); END";
}

// The INSERT trigger clearing the tracking columns of every inserted row: a row made here has not
// been replicated yet.
std::string InsertTriggerSql(const dbstruct::tSQLiteTbl_Structure& table) {
  std::string assignments;
  for (const auto& [column, type] : kTrackingColumns) {
    assignments += (assignments.empty() ? "" : ", ") + QuoteName(column) + " = NULL";
  }
  return "CREATE TRIGGER " + QuoteName("rep_tr_Ins_" + table.TableName) + " AFTER INSERT ON " +
         QuoteName(table.TableName) + " FOR EACH ROW BEGIN UPDATE " + QuoteName(table.TableName) + " SET " +
         assignments + " WHERE " + table.NewRowCondition() + "; END";
}

// A fresh random GUID in the "{8-4-4-4-12}" form, evaluated anew for every row of an UPDATE (each
// group from its own random blob: a subquery would be evaluated once for all rows).
constexpr const char* kNewGuidExpression =
    "'{' || hex(randomblob(4)) || '-' || hex(randomblob(2)) || '-4' || substr(hex(randomblob(2)), 2) || '-' "
    "|| "
    "substr('89AB', 1 + (random() & 3), 1) || substr(hex(randomblob(2)), 2) || '-' || hex(randomblob(6)) || "
    "'}'";

std::string IndexSql(const LookupIndex& index) {
  std::string columns;
  for (const std::string& column : index.columns)
    columns += (columns.empty() ? "" : ", ") + QuoteName(column);
  return std::string(index.unique ? "CREATE UNIQUE INDEX" : "CREATE INDEX") + " IF NOT EXISTS " +
         QuoteName(index.name) + " ON " + QuoteName(index.table) + " (" + columns + ")";
}

// A table name fit for a line comment: line breaks would end the comment.
std::string CommentText(std::string text) {
  for (char& c : text) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  return text;
}

// The statements that bring rep_TBLDESC and the rule tables in line with the tables as they are
// now: rows of tables that no longer exist go (with their log details, which refer to them), the
// list order follows the master-first order, and every existing definition gets a rule row, with
// no rule set, for a table that is new since it was made.
void SynchroniseTableLists(Section& section, const std::vector<std::pair<std::string, int>>& list_orders) {
  for (const char* table :
       {"rep_DEFEXPORT", "rep_DEFIMPORT", "rep_XPORTLOGDETAIL", "rep_IMPORTLOGDETAIL", "rep_TBLDESC"}) {
    section.statements.push_back(
        std::string("DELETE FROM ") + table +
        " WHERE TABLENAME <> 'rep_DELETED' COLLATE NOCASE AND NOT EXISTS (SELECT 1 FROM "
        "sqlite_master m WHERE m.type = 'table' AND m.name = " +
        table + ".TABLENAME COLLATE NOCASE)");
  }
  for (const auto& [name, order] : list_orders) {
    for (const char* table : {"rep_TBLDESC", "rep_DEFEXPORT", "rep_DEFIMPORT"}) {
      section.statements.push_back(std::string("UPDATE ") + table + " SET LISTORDER = " +
                                   std::to_string(order) + " WHERE TABLENAME = " + Literal(name) +
                                   " COLLATE NOCASE AND LISTORDER <> " + std::to_string(order));
    }
  }
  for (const char* table : {"rep_DEFEXPORT", "rep_DEFIMPORT"}) {
    section.statements.push_back(
        std::string("INSERT INTO ") + table +
        " (Signature, TABLENAME, LISTORDER) SELECT DISTINCT d.Signature, t.TABLENAME, "
        "t.LISTORDER FROM " +
        table + " d, rep_TBLDESC t WHERE NOT EXISTS (SELECT 1 FROM " + table +
        " e WHERE e.Signature = d.Signature AND e.TABLENAME = t.TABLENAME COLLATE NOCASE)");
  }
}

SetupPlan BuildPlan(const dbstruct::tSQLiteDatabase_Structure& database,
                    const std::vector<std::string>& ignore, const SetupOptions& options) {
  SetupPlan plan;
  Section& tables = plan.sections.emplace_back();
  tables.comment = "Tabulky replikace";
  tables.statements.assign(kReplicationTables.begin(), kReplicationTables.end());

  Section skipped{text::Utf8ToAnsi("Tabulky, které replikovat nelze"), {}};
  Section descriptions{text::Utf8ToAnsi("Výchozí popisy tabulek (popis změněný uživatelem zůstává)"), {}};
  descriptions.statements.push_back(
      DescriptionRow("rep_DELETED", text::Utf8ToAnsi("Tabulka s identifikací vymazaných záznamů"), 0));
  std::vector<std::pair<std::string, int>> list_orders;

  for (int i = 0; i < database.TableCount(); ++i) {
    const dbstruct::tSQLiteTbl_Structure& table = database.SQLiteTable(i);
    if (!IsSetUpTable(table, ignore)) {
      // A view can take neither columns nor these triggers; an ignored table is left alone.
      if (!table.IsView && !IsIgnoredTable(ignore, table.TableName) && !IsReplicableName(table.TableName))
        skipped.comment += "\n-- " + CommentText(table.TableName) +
                           text::Utf8ToAnsi(": název je delší než 20 znaků, které pojmou tabulky rep_");
      continue;
    }
    Section& section = plan.sections.emplace_back();
    section.comment = "Tabulka " + CommentText(table.TableName);
    for (const auto& [column, type] : kTrackingColumns) {
      if (!table.HasField(column)) plan.columns.push_back({table.TableName, column, type});
    }
    std::string guid_column = table.RowGuidColumn;
    if (options.add_rowguid && NeedsAddedRowGuid(table, ignore)) {
      guid_column = kAddedRowGuidColumn;
      if (!table.HasField(guid_column))
        plan.columns.push_back({table.TableName, guid_column, "UNIQUEIDENTIFIER ROWGUIDCOL"});
      section.statements.push_back("UPDATE " + QuoteName(table.TableName) + " SET " + QuoteName(guid_column) +
                                   " = " + kNewGuidExpression + " WHERE " + QuoteName(guid_column) +
                                   " IS NULL");
      section.statements.push_back(IndexSql(
          {table.TableName, {guid_column}, true, LookupIndexName(table.TableName, {guid_column}, true), {}}));
    }
    ReplaceTrigger(section, table.IdentityTriggerName(), table.IdentityTriggerSql());
    ReplaceTrigger(section, table.GuidTriggerName(), table.GuidTriggerSql(guid_column));
    ReplaceTrigger(section, "rep_tr_Del_" + table.TableName, DeleteTriggerSql(table, guid_column));
    ReplaceTrigger(section, "rep_tr_Ins_" + table.TableName, InsertTriggerSql(table));
    descriptions.statements.push_back(
        DescriptionRow(table.TableName, text::Utf8ToAnsi("Popis tabulky ") + table.TableName, i + 1));
    list_orders.emplace_back(table.TableName, i + 1);
  }

  Section indexes{text::Utf8ToAnsi("Indexy vyhledávání, které import provádí pro každý řádek"), {}};
  for (const LookupIndex& index : MissingLookupIndexes(database, ignore))
    indexes.statements.push_back(IndexSql(index));
  if (!indexes.statements.empty()) plan.sections.push_back(std::move(indexes));
  SynchroniseTableLists(descriptions, list_orders);
  plan.sections.push_back(std::move(descriptions));
  if (skipped.comment.find('\n') != std::string::npos) plan.sections.push_back(std::move(skipped));
  return plan;
}

}  // namespace

std::vector<std::string> SQLiteSetupStatements(const dbstruct::tSQLiteDatabase_Structure& database,
                                               const std::vector<std::string>& ignore,
                                               const SetupOptions& options) {
  SetupPlan plan = BuildPlan(database, ignore, options);
  std::vector<std::string>& first = plan.sections.front().statements;
  std::vector<std::string> statements(std::make_move_iterator(first.begin()),
                                      std::make_move_iterator(first.end()));
  for (const ColumnAddition& addition : plan.columns) {
    statements.push_back("ALTER TABLE " + QuoteName(addition.table) + " ADD COLUMN " +
                         QuoteName(addition.column) + " " + addition.type);
  }
  for (std::size_t i = 1; i < plan.sections.size(); ++i) {
    for (std::string& statement : plan.sections[i].statements) statements.push_back(std::move(statement));
  }
  return statements;
}

std::string SQLiteSetupScript(const dbstruct::tSQLiteDatabase_Structure& database,
                              const std::vector<std::string>& ignore, const SetupOptions& options) {
  const SetupPlan plan = BuildPlan(database, ignore, options);
  std::string script = text::Utf8ToAnsi(
      "-- Kostra skriptu pro založení replikačních objektů databáze SQLite.\n"
      "-- Spuštění: sqlite3 -bail <soubor databáze> < hint.sql (při chybě se nezmění nic).\n"
      "-- Skript lze spustit znovu. SQLite nezná ADD COLUMN IF NOT EXISTS: chybějící sloupce\n"
      "-- vybere dotaz do souboru hint-columns.sql v aktuálním adresáři, který skript poté provede.\n"
      "-- Po změně struktury databáze skript vytvořte znovu.\n"
      "\n"
      "BEGIN TRANSACTION;\n");
  auto write_section = [&script](const Section& section) {
    script += "\n-- " + section.comment + "\n";
    for (const std::string& statement : section.statements) script += statement + ";\n";
  };
  write_section(plan.sections.front());
  if (!plan.columns.empty()) {
    script += text::Utf8ToAnsi("\n-- Sloupce, které tabulkám chybí\n");
    script += ".headers off\n.mode list\n.once hint-columns.sql\n";
    for (const ColumnAddition& addition : plan.columns) {
      const std::string statement = "ALTER TABLE " + QuoteName(addition.table) + " ADD COLUMN " +
                                    QuoteName(addition.column) + " " + addition.type + ";";
      script += "SELECT " + Literal(statement) + " WHERE NOT EXISTS (SELECT 1 FROM pragma_table_info(" +
                Literal(addition.table) + ") WHERE name = " + Literal(addition.column) + " COLLATE NOCASE)";
      script += &addition == &plan.columns.back() ? ";\n" : "\nUNION ALL ";
    }
    script += ".read hint-columns.sql\n";
  }
  for (std::size_t i = 1; i < plan.sections.size(); ++i) write_section(plan.sections[i]);
  script += "\nCOMMIT;\n";
  return text::AnsiToUtf8(script);
}

void ApplySQLiteSetupScript(dbaccess::Connection& connection, const std::vector<std::string>& statements) {
  dbaccess::TransactionGuard transaction(connection);
  for (const std::string& statement : statements) connection.Execute(statement);
  transaction.Commit();
}

}  // namespace tamaril::replication
