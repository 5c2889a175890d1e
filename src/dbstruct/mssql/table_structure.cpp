#include "dbstruct/mssql/table_structure.h"

#include <algorithm>
#include <cstdint>

#include "dataset/dataset.h"
#include "dataset/date_codec.h"
#include "dataset/field.h"
#include "dataset/memory_table.h"
#include "dbaccess/connection.h"
#include "dbaccess/query_dataset.h"
#include "dbstruct/errors.h"
#include "dbstruct/mssql/database_structure.h"
#include "text/ascii.h"

namespace tamaril::dbstruct {

namespace {

using dataset::FieldType;
using dbaccess::Value;

dbaccess::DateTime CivilDateTime(double days) {
  const dataset::TimeStamp stamp = dataset::DateTimeToTimeStamp(days);
  const dataset::CivilDate date = dataset::CivilFromDayNumber(stamp.date);
  const int ms = stamp.time;
  return dbaccess::DateTime{static_cast<int>(date.year),
                            date.month,
                            date.day,
                            ms / 3600000,
                            ms / 60000 % 60,
                            ms / 1000 % 60,
                            ms % 1000};
}

// The words T-SQL reserves; a name equal to one (letter case ignored) must be bracketed.
constexpr std::string_view kReservedWords[] = {"ADD",
                                               "ALL",
                                               "ALTER",
                                               "AND",
                                               "ANY",
                                               "AS",
                                               "ASC",
                                               "AUTHORIZATION",
                                               "BACKUP",
                                               "BEGIN",
                                               "BETWEEN",
                                               "BREAK",
                                               "BROWSE",
                                               "BULK",
                                               "BY",
                                               "CASCADE",
                                               "CASE",
                                               "CHECK",
                                               "CHECKPOINT",
                                               "CLOSE",
                                               "CLUSTERED",
                                               "COALESCE",
                                               "COLLATE",
                                               "COLUMN",
                                               "COMMIT",
                                               "COMPUTE",
                                               "CONSTRAINT",
                                               "CONTAINS",
                                               "CONTAINSTABLE",
                                               "CONTINUE",
                                               "CONVERT",
                                               "CREATE",
                                               "CROSS",
                                               "CURRENT",
                                               "CURRENT_DATE",
                                               "CURRENT_TIME",
                                               "CURRENT_TIMESTAMP",
                                               "CURRENT_USER",
                                               "CURSOR",
                                               "DATABASE",
                                               "DBCC",
                                               "DEALLOCATE",
                                               "DECLARE",
                                               "DEFAULT",
                                               "DELETE",
                                               "DENY",
                                               "DESC",
                                               "DISK",
                                               "DISTINCT",
                                               "DISTRIBUTED",
                                               "DOUBLE",
                                               "DROP",
                                               "DUMP",
                                               "ELSE",
                                               "END",
                                               "ERRLVL",
                                               "ESCAPE",
                                               "EXCEPT",
                                               "EXEC",
                                               "EXECUTE",
                                               "EXISTS",
                                               "EXIT",
                                               "EXTERNAL",
                                               "FETCH",
                                               "FILE",
                                               "FILLFACTOR",
                                               "FOR",
                                               "FOREIGN",
                                               "FREETEXT",
                                               "FREETEXTTABLE",
                                               "FROM",
                                               "FULL",
                                               "FUNCTION",
                                               "GOTO",
                                               "GRANT",
                                               "GROUP",
                                               "HAVING",
                                               "HOLDLOCK",
                                               "IDENTITY",
                                               "IDENTITY_INSERT",
                                               "IDENTITYCOL",
                                               "IF",
                                               "IN",
                                               "INDEX",
                                               "INNER",
                                               "INSERT",
                                               "INTERSECT",
                                               "INTO",
                                               "IS",
                                               "JOIN",
                                               "KEY",
                                               "KILL",
                                               "LEFT",
                                               "LIKE",
                                               "LINENO",
                                               "LOAD",
                                               "MERGE",
                                               "NATIONAL",
                                               "NOCHECK",
                                               "NONCLUSTERED",
                                               "NOT",
                                               "NULL",
                                               "NULLIF",
                                               "OF",
                                               "OFF",
                                               "OFFSETS",
                                               "ON",
                                               "OPEN",
                                               "OPENDATASOURCE",
                                               "OPENQUERY",
                                               "OPENROWSET",
                                               "OPENXML",
                                               "OPTION",
                                               "OR",
                                               "ORDER",
                                               "OUTER",
                                               "OVER",
                                               "PERCENT",
                                               "PIVOT",
                                               "PLAN",
                                               "PRECISION",
                                               "PRIMARY",
                                               "PRINT",
                                               "PROC",
                                               "PROCEDURE",
                                               "PUBLIC",
                                               "RAISERROR",
                                               "READ",
                                               "READTEXT",
                                               "RECONFIGURE",
                                               "REFERENCES",
                                               "REPLICATION",
                                               "RESTORE",
                                               "RESTRICT",
                                               "RETURN",
                                               "REVERT",
                                               "REVOKE",
                                               "RIGHT",
                                               "ROLLBACK",
                                               "ROWCOUNT",
                                               "ROWGUIDCOL",
                                               "RULE",
                                               "SAVE",
                                               "SCHEMA",
                                               "SECURITYAUDIT",
                                               "SELECT",
                                               "SEMANTICKEYPHRASETABLE",
                                               "SEMANTICSIMILARITYDETAILSTABLE",
                                               "SEMANTICSIMILARITYTABLE",
                                               "SESSION_USER",
                                               "SET",
                                               "SETUSER",
                                               "SHUTDOWN",
                                               "SOME",
                                               "STATISTICS",
                                               "SYSTEM_USER",
                                               "TABLE",
                                               "TABLESAMPLE",
                                               "TEXTSIZE",
                                               "THEN",
                                               "TO",
                                               "TOP",
                                               "TRAN",
                                               "TRANSACTION",
                                               "TRIGGER",
                                               "TRUNCATE",
                                               "TRY_CONVERT",
                                               "TSEQUAL",
                                               "UNION",
                                               "UNIQUE",
                                               "UNPIVOT",
                                               "UPDATE",
                                               "UPDATETEXT",
                                               "USE",
                                               "USER",
                                               "VALUES",
                                               "VARYING",
                                               "VIEW",
                                               "WAITFOR",
                                               "WHEN",
                                               "WHERE",
                                               "WHILE",
                                               "WITH",
                                               "WITHIN",
                                               "WRITETEXT",
                                               "GO"};

bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

bool IsRegularIdentifier(std::string_view name) {
  if (name.empty() || !(IsLetter(name.front()) || name.front() == '_' || name.front() == '#')) return false;
  const bool plain = std::all_of(name.begin(), name.end(), [](char c) {
    return IsLetter(c) || (c >= '0' && c <= '9') || c == '_' || c == '@' || c == '#' || c == '$';
  });
  if (!plain) return false;
  const std::string upper = text::UpperCaseAscii(name);
  return std::find(std::begin(kReservedWords), std::end(kReservedWords), upper) == std::end(kReservedWords);
}

/// A lookup as a re-runnable query whose rows are copied into a client memory dataset.
class tQueryLookup : public tKeyedTbl_Structure::tRowLookup {
 public:
  tQueryLookup(const tKeyedTbl_Structure& table, dbaccess::Connection& connection, const std::string& text)
      : table_(table), query_(connection, text) {}
  void Fill(dataset::TDataSet& source) override {
    const auto values = table_.ParameterValues(&source, query_.Parameters());
    for (std::size_t i = 0; i < values.size(); ++i) query_.SetParameter(i, values[i]);
  }
  void SetKey(const Value& value) override { query_.SetParameter(std::size_t{0}, value); }
  std::shared_ptr<dataset::TQVMmemDataSet> Run() override {
    query_.Close();
    query_.Open();
    std::unique_ptr<dataset::TQVMmemDataSet> copy;
    if (!query_.IsEmpty()) {
      auto memory = std::make_unique<dataset::TQVMClientMemoryDataSet>();
      memory->SetSourceDataset(&query_);
      memory->Open();
      copy = std::move(memory);
    }
    query_.Close();
    return copy;
  }

 private:
  const tKeyedTbl_Structure& table_;
  dbaccess::TQueryDataSet query_;
};

}  // namespace

std::string QuoteEscaped(const std::string& text) {
  std::string escaped;
  for (char c : text) {
    escaped += c;
    if (c == '\'') escaped += '\'';
  }
  return escaped;
}

std::string LikeEscaped(std::string_view text) {
  std::string escaped;
  for (char c : text) {
    if (c == '[' || c == '_' || c == '%') {
      escaped += '[';
      escaped += c;
      escaped += ']';
    } else {
      escaped += c;
    }
  }
  return escaped;
}

std::string MssqlName(std::string_view name) {
  if (IsRegularIdentifier(name)) return std::string(name);
  std::string quoted = "[";
  for (char c : name) {
    quoted += c;
    if (c == ']') quoted += ']';
  }
  return quoted + "]";
}

tADOTbl_Structure::tADOTbl_Structure(tADODatabase_Structure& database)
    : tKeyedTbl_Structure(database), database_(database) {}

tADOTbl_Structure::~tADOTbl_Structure() = default;

std::string tADOTbl_Structure::QuoteIdentifier(std::string_view name) const { return MssqlName(name); }

// ---------------------------------------------------------------------------------------------
// Loading

void tADOTbl_Structure::LoadStructure(const std::string& table_name) {
  ResetStructure(table_name);

  tPropAccessor& properties = database_.PropAccessor();
  const bool has_row_guid = properties.ObjectProperty(TableName, "TableHasRowGuidCol") != 0;
  const bool has_identity = properties.ObjectProperty(TableName, "TableHasIdentity") != 0;
  HasDeleteTrigger = properties.ObjectProperty(TableName, "TableHasDeleteTrigger") != 0;
  HasInsertTrigger = properties.ObjectProperty(TableName, "TableHasInsertTrigger") != 0;
  HasUpdateTrigger = properties.ObjectProperty(TableName, "TableHasUpdateTrigger") != 0;
  IsView = properties.ObjectProperty(TableName, "IsView") != 0;

  dbaccess::Connection& connection = Conn();
  // The columns come first so that column-number tokens of the indexes can be resolved.
  for (const auto& column : connection.Columns(TableName)) {
    // The server refuses a text longer than a sized text column takes.
    const bool sized_text = column.field_type == FieldType::String ||
                            column.field_type == FieldType::FixedChar ||
                            column.field_type == FieldType::WideString;
    FieldDefs.push_back(tMSSQLFieldDef{column.name, column.field_type, column.precision,
                                       column.nullable.has_value() && !*column.nullable,
                                       sized_text ? column.size : 0});
  }
  ReadIndexes(connection.Indexes(TableName));
  for (const auto& def : FieldDefs) {
    if (has_row_guid && RowGuidColumn.empty() && def.DataType == FieldType::Guid &&
        properties.ColumnProperty(TableName, def.Name, "IsRowGuidCol") != 0) {
      RowGuidColumn = def.Name;
    }
    if (has_identity && IdentityColumn.empty() && def.DataType == FieldType::AutoInc &&
        properties.ColumnProperty(TableName, def.Name, "IsIdentity") != 0) {
      IdentityColumn = def.Name;
    }
    if (def.DataType != FieldType::AutoInc &&
        properties.ColumnProperty(TableName, def.Name, "IsComputed") != 0) {
      ComputedColumns.push_back(def.Name);
    }
  }

  if (!IdentityColumn.empty()) {
    const std::string quoted = QuoteEscaped(TableName);
    {
      auto rows = connection.Query("select IDENT_SEED('" + quoted + "'),IDENT_INCR('" + quoted + " ')");
      if (rows->Next()) {
        IdentitySeed = rows->Get(0).IsNull() ? 0 : static_cast<std::int32_t>(rows->Get(0).AsInteger());
        IdentityIncrement = rows->Get(1).IsNull() ? 0 : static_cast<std::int32_t>(rows->Get(1).AsInteger());
      }
    }
    IdentityReseedValue = 0;
    // An increment of 0 has no progression to look on (and would divide by zero).
    if (IdentityIncrement != 0) {
      auto rows = connection.Query("select MAX(IDENTITYCOL) from " + MssqlName(TableName) +
                                   " where (IDENTITYCOL % " + std::to_string(IdentityIncrement) +
                                   ") = " + std::to_string(IdentitySeed % IdentityIncrement) + " ");
      if (rows->Next() && !rows->Get(0).IsNull())
        IdentityReseedValue = static_cast<std::int32_t>(rows->Get(0).AsInteger());
    }
    if (IdentityReseedValue == 0) IdentityReseedValue = IdentitySeed;
  }
  Identifiable = !RowGuidColumn.empty() || !IntKeyColumn.empty();
}

// ---------------------------------------------------------------------------------------------
// Values and statements of the shared flow

std::unique_ptr<tKeyedTbl_Structure::tRowLookup> tADOTbl_Structure::MakeLookup(const std::string& condition) {
  return std::make_unique<tQueryLookup>(*this, Conn(),
                                        "Select * from " + MssqlName(TableName) + " where " + condition);
}

Value tADOTbl_Structure::DateValue(double date) const { return Value::FromDateTime(CivilDateTime(date)); }

Value tADOTbl_Structure::NowValue(FieldType type) const {
  dbaccess::DateTime now = CivilDateTime(NowAsDateTime());
  if (type == FieldType::Date) now.hour = now.minute = now.second = now.millisecond = 0;
  if (type == FieldType::Time) now.year = 1899, now.month = 12, now.day = 30;
  return Value::FromDateTime(now);
}

std::optional<std::pair<std::int64_t, std::int64_t>> tADOTbl_Structure::IntegerRange(FieldType type) const {
  switch (type) {
    case FieldType::Smallint: return std::pair<std::int64_t, std::int64_t>{INT16_MIN, INT16_MAX};
    case FieldType::Word: return std::pair<std::int64_t, std::int64_t>{0, UINT8_MAX};
    case FieldType::Integer:
    case FieldType::AutoInc: return std::pair<std::int64_t, std::int64_t>{INT32_MIN, INT32_MAX};
    default: return std::nullopt;
  }
}

std::string tADOTbl_Structure::DeleteKeyText(const Value& key) const {
  if (key.kind() == dbaccess::ValueKind::Integer) return std::to_string(key.AsInteger());
  return "'" + QuoteEscaped(key.AsString()) + "'";
}

std::int64_t tADOTbl_Structure::DeleteSelectedRows(const tTbl_Structure& table, const std::string& alias,
                                                   const std::string& clause, const Value&) {
  return Conn().Execute("Delete " + alias + " from " + MssqlName(table.GetTableName()) + " " + alias + " " +
                        clause);
}

// ---------------------------------------------------------------------------------------------
// Write phase

void tADOTbl_Structure::SetIdentityInsert(bool on) {
  if (IdentityColumn.empty()) return;
  dbaccess::Connection& connection = Conn();
  const std::string table = MssqlName(TableName);
  connection.Execute("SET IDENTITY_INSERT " + table + (on ? " ON" : " OFF"));
  if (!on) {
    connection.Execute("DBCC CHECKIDENT (" + table + ", RESEED, " + std::to_string(IdentityReseedValue) +
                       ")");
  }
}

void tADOTbl_Structure::SetTriggersEnabled(bool on) {
  if (!HasDeleteTrigger && !HasInsertTrigger && !HasUpdateTrigger) return;
  Conn().Execute("ALTER TABLE " + MssqlName(TableName) + (on ? " ENABLE" : " DISABLE") + " TRIGGER ALL");
}

void tADOTbl_Structure::BeginWrite() {
  SetIdentityInsert(true);
  try {
    SetTriggersEnabled(false);
    for (const auto& trigger : KeepEnabledTriggers) {
      Conn().Execute("ALTER TABLE " + MssqlName(TableName) + " ENABLE TRIGGER " + MssqlName(trigger));
    }
  } catch (...) {
    SetIdentityInsert(false);
    throw;
  }
}

void tADOTbl_Structure::EndWrite() {
  SetTriggersEnabled(true);
  SetIdentityInsert(false);
}

// ---------------------------------------------------------------------------------------------
// Setup script texts

namespace {

std::string JoinLines(const std::vector<std::string>& lines) {
  std::string text;
  for (std::size_t i = 0; i < lines.size(); ++i) text += (i ? "\r\n" : "") + lines[i];
  return text;
}

}  // namespace

std::string tADOTbl_Structure::BuildDeleteTriggerScript(const std::string& trigger_prefix,
                                                        const std::string& target_table,
                                                        const std::string& table_name_column,
                                                        const std::string& row_guid_column,
                                                        const std::string& id_column,
                                                        const std::string& added_row_guid) const {
  const std::string name = trigger_prefix + TableName;
  const std::string trigger = MssqlName(name);
  const std::string& guid_column = RowGuidColumn.empty() ? added_row_guid : RowGuidColumn;
  const std::string row_guid = MssqlName(guid_column);
  const std::string int_key = MssqlName(IntKeyColumn);
  std::string insert;
  std::string select;
  const std::string quoted_table = "'" + QuoteEscaped(TableName) + "'";
  if (!guid_column.empty() && !IntKeyColumn.empty()) {
    insert = " INSERT INTO " + target_table + " (" + table_name_column + "," + row_guid_column + "," +
             id_column + ")";
    select = " select " + quoted_table + "," + row_guid + ", " + int_key + " from Deleted";
  } else if (!guid_column.empty()) {
    insert = " INSERT INTO " + target_table + " (" + table_name_column + "," + row_guid_column + ")";
    select = " select " + quoted_table + "," + row_guid + " from Deleted";
  } else if (!IntKeyColumn.empty()) {
    insert = " INSERT INTO " + target_table + " (" + table_name_column + "," + id_column + ")";
    select = " select " + quoted_table + "," + int_key + " from Deleted";
  } else {
    return {};
  }
  return JoinLines({"IF EXISTS (SELECT name FROM sysobjects ",
                    " WHERE name = '" + QuoteEscaped(name) + "' AND type = 'TR') ",
                    " DROP TRIGGER " + trigger, " GO ",
                    "CREATE TRIGGER " + trigger + " ON " + MssqlName(TableName) + " FOR DELETE AS", insert,
                    select, " GO "});
}

std::string tADOTbl_Structure::BuildInsertTriggerScript(const std::string& trigger_prefix,
                                                        const std::vector<std::string>& names,
                                                        const std::vector<std::string>& types,
                                                        const std::string& added_row_guid) const {
  const std::string name = trigger_prefix + TableName;
  const std::string trigger_name = MssqlName(name);
  const std::string table = MssqlName(TableName);
  // The inserted rows are found by the primary key, else by the RowGuid column; a table with
  // neither has no text (an empty join would make the trigger invalid).
  std::vector<std::string> join_columns;
  if (HasPrimaryKey && !PrimaryKeyFields.empty()) {
    join_columns = PrimaryKeyFields;
  } else if (!RowGuidColumn.empty()) {
    join_columns = {RowGuidColumn};
  } else if (!added_row_guid.empty()) {
    join_columns = {added_row_guid};
  } else {
    return {};
  }
  std::string join;
  for (const auto& column : join_columns) {
    join +=
        (join.empty() ? "" : " and ") + table + "." + MssqlName(column) + "=Inserted." + MssqlName(column);
  }
  std::string set_list;
  for (std::size_t i = 0; i < names.size(); ++i) set_list += (i ? "," : "") + names[i] + "=NULL";
  const std::string trigger = JoinLines({"IF EXISTS (SELECT name FROM sysobjects ",
                                         " WHERE name = '" + QuoteEscaped(name) + "' AND type = 'TR') ",
                                         " DROP TRIGGER " + trigger_name, " GO ",
                                         "CREATE TRIGGER " + trigger_name + " ON " + table + " FOR INSERT AS",
                                         " UPDATE " + table + " set " + set_list,
                                         " FROM " + table + " INNER JOIN Inserted ON " + join, " GO "});
  // sp_columns takes the table name as a LIKE pattern: "A_B" would also find the columns of "AxB".
  const std::string table_pattern = QuoteEscaped(LikeEscaped(TableName));
  std::string columns;
  for (std::size_t i = 0; i < names.size(); ++i) {
    const std::string type = i < types.size() ? types[i] : std::string();
    columns += "exec sp_columns @table_name='" + table_pattern + "',@column_name='" + QuoteEscaped(names[i]) +
               "'\r\nif (@@rowcount=0) BEGIN\r\n  ALTER TABLE " + table + " ADD " + names[i] + " " + type +
               "\r\nEND\r\nGO\r\n";
  }
  return columns + trigger;
}

}  // namespace tamaril::dbstruct
