#include "replication/readiness_report.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string_view>

#include "dataset/field_type.h"
#include "dbaccess/connection.h"
#include "dbstruct/errors.h"
#include "dbstruct/keyed_table.h"
#include "dbstruct/mssql/database_structure.h"
#include "dbstruct/sqlite/sqlite_structure.h"
#include "replication/setup_script.h"
#include "text/ascii.h"
#include "text/encoding.h"
#include "text/locale.h"

namespace tamaril::replication {

namespace {

using dataset::FieldType;

// The ODBC SQL types of the character columns SQL Server reports: char, varchar, text and the
// Unicode nchar, nvarchar, ntext.
constexpr int kSqlChar = 1;
constexpr int kSqlVarChar = 12;
constexpr int kSqlLongVarChar = -1;
constexpr int kSqlWChar = -8;
constexpr int kSqlWVarChar = -9;
constexpr int kSqlWLongVarChar = -10;

bool IsUnicodeSqlType(int sql_type) {
  return sql_type == kSqlWChar || sql_type == kSqlWVarChar || sql_type == kSqlWLongVarChar;
}

bool IsCharacterSqlType(int sql_type) {
  return IsUnicodeSqlType(sql_type) || sql_type == kSqlChar || sql_type == kSqlVarChar ||
         sql_type == kSqlLongVarChar;
}

bool IsTextFieldType(FieldType type) {
  return type == FieldType::String || type == FieldType::FixedChar || type == FieldType::WideString ||
         type == FieldType::Memo;
}

std::string Ansi(std::string_view utf8) { return text::Utf8ToAnsi(utf8); }

std::string Joined(const std::vector<std::string>& names) {
  std::string joined;
  for (const std::string& name : names) joined += (joined.empty() ? "" : ", ") + name;
  return joined;
}

// "sloupec A" or "sloupce A, B".
std::string ColumnsText(const std::vector<std::string>& columns) {
  return Ansi(columns.size() == 1 ? "sloupec " : "sloupce ") + Joined(columns);
}

std::int64_t FirstInteger(dbaccess::Cursor& rows, std::size_t column) {
  return rows.Get(column).IsNull() ? 0 : rows.Get(column).AsInteger();
}

// The upper-case names of the tables rep_TBLDESC lists, rep_DELETED left out; nothing when the
// database has no rep_TBLDESC.
std::optional<std::vector<std::string>> ListedTables(const dbstruct::tDatabase_Structure& database,
                                                     dbaccess::Connection& connection) {
  if (database.FindTable("rep_TBLDESC") == nullptr) return std::nullopt;
  std::vector<std::string> names;
  for (auto rows = connection.Query("SELECT TABLENAME FROM rep_TBLDESC ORDER BY TABLENAME"); rows->Next();) {
    if (rows->Get(0).IsNull()) continue;
    const std::string name = rows->Get(0).AsString();
    if (!name.empty() && !text::EqualsIgnoreCaseAscii(name, "rep_DELETED")) names.push_back(name);
  }
  return names;
}

bool Contains(const std::set<std::string>& upper_names, const std::string& name) {
  return upper_names.contains(text::UpperCase(name));
}

// The GLOB pattern that matches a text holding a character Windows-1250 has no byte for: one
// character outside ASCII and the characters of the upper half of the code page.
std::string UnmappableGlobPattern() {
  std::string allowed;
  for (int byte = 0x80; byte <= 0xFF; ++byte) {
    const std::string ansi(1, static_cast<char>(byte));
    if (text::Utf8ToAnsiExact(text::AnsiToUtf8(ansi)) == ansi) allowed += ansi;
  }
  // The ASCII range is spelled with char() so that no control character stands in the text.
  return "'*[^' || char(1) || '-' || char(127) || '" + allowed + "]*'";
}

// Per text column of the SQLite table, the number of values holding a character Windows-1250
// cannot carry: one query reads the UTF-8 text itself (the access layer would hand it over
// already converted).
std::vector<std::pair<std::string, std::int64_t>> SQLiteUnmappableCounts(
    const dbstruct::tKeyedTbl_Structure& table, dbaccess::Connection& connection) {
  std::vector<std::string> columns;
  std::string sums;
  for (const dbstruct::tColumnDef& column : table.FieldDefs) {
    if (!IsTextFieldType(column.DataType)) continue;
    const std::string quoted = "t." + table.QuoteIdentifier(column.Name);
    sums += std::string(sums.empty() ? "" : ", ") + "SUM(typeof(" + quoted + ") = 'text' AND " + quoted +
            " GLOB rep_glob.pattern)";
    columns.push_back(column.Name);
  }
  std::vector<std::pair<std::string, std::int64_t>> counts;
  if (columns.empty()) return counts;
  auto rows = connection.Query("SELECT " + sums + " FROM " + table.QuoteIdentifier(table.TableName) +
                               " AS t, (SELECT " + UnmappableGlobPattern() + " AS pattern) AS rep_glob");
  if (!rows->Next()) return counts;
  for (std::size_t i = 0; i < columns.size(); ++i) counts.emplace_back(columns[i], FirstInteger(*rows, i));
  return counts;
}

// Per character column of the SQL Server table, the number of values that do not come back
// unchanged from Windows-1250 (a Czech collation's code page); one query counts them all on
// the server.
std::vector<std::pair<std::string, std::int64_t>> MssqlUnmappableCounts(
    const dbstruct::tADODatabase_Structure& database, const dbstruct::tKeyedTbl_Structure& table,
    const std::vector<dbaccess::ColumnInfo>& catalogue, dbaccess::Connection& connection) {
  // SQL Server 2000 has neither nvarchar(max) nor varchar(max).
  const bool has_max = database.ServerVersionCode >= 9;
  const std::string wide = has_max ? "nvarchar(max)" : "nvarchar(4000)";
  const std::string narrow = has_max ? "varchar(max)" : "varchar(8000)";
  std::vector<std::string> columns;
  std::string sums;
  for (const dbaccess::ColumnInfo& column : catalogue) {
    if (!IsCharacterSqlType(column.sql_type)) continue;
    const std::string unicode = "CAST(" + table.QuoteIdentifier(column.name) + " AS " + wide + ")";
    sums += std::string(sums.empty() ? "" : ", ") + "SUM(CASE WHEN CAST(CAST(" + unicode +
            " COLLATE Czech_BIN AS " + narrow + ") AS " + wide + ") COLLATE Latin1_General_BIN <> " +
            unicode + " COLLATE Latin1_General_BIN THEN 1 ELSE 0 END)";
    columns.push_back(column.name);
  }
  std::vector<std::pair<std::string, std::int64_t>> counts;
  if (columns.empty()) return counts;
  auto rows = connection.Query("SELECT " + sums + " FROM " + table.QuoteIdentifier(table.TableName));
  if (!rows->Next()) return counts;
  for (std::size_t i = 0; i < columns.size(); ++i) counts.emplace_back(columns[i], FirstInteger(*rows, i));
  return counts;
}

class ReportBuilder {
 public:
  ReportBuilder(dbstruct::tDatabase_Structure& database, const std::vector<std::string>& ignore,
                const ReadinessReportOptions& options)
      : database_(database),
        ignore_(ignore),
        options_(options),
        connection_(Connection(database)),
        lookups_(MissingLookupIndexes(database, ignore)) {
    if (std::optional<std::vector<std::string>> listed = ListedTables(database, connection_)) {
      listed_ = std::move(*listed);
      for (const std::string& name : listed_) listed_upper_.insert(text::UpperCase(name));
    } else {
      tbldesc_ = false;
    }
  }

  std::vector<ReadinessNote> Build() {
    for (int i = 0; i < database_.TableCount(); ++i) {
      const auto* table = dynamic_cast<const dbstruct::tKeyedTbl_Structure*>(&database_.Table(i));
      if (table == nullptr || table->IsView || IsIgnoredTable(ignore_, table->TableName)) continue;
      if (!IsReplicableName(table->TableName)) {
        Add(*table, Ansi("název je delší než ") + std::to_string(kMaxReplicatedNameLength) +
                        Ansi(" znaků, tabulky rep_ jej neudrží: tabulka se nereplikuje (ostatním tabulkám "
                             "to nevadí)"));
        continue;
      }
      if (tbldesc_ && !Contains(listed_upper_, table->TableName)) {
        Add(*table, Ansi("tabulka není v rep_TBLDESC (přibyla po založení replikace), a proto se "
                         "nereplikuje; zařadí ji skript replikace"));
      }
      AddLookupNotes(*table);
      if (!table->Identifiable) AddIdentityNote(*table);
      AddTextNotes(*table);
    }
    for (const std::string& name : listed_) {
      if (database_.FindTable(name) == nullptr) {
        notes_.push_back({name, Ansi("tabulka už v databázi není, rep_TBLDESC ji však uvádí; skript "
                                     "replikace odstraní její pravidla a řádky protokolů")});
      }
    }
    return std::move(notes_);
  }

 private:
  static dbaccess::Connection& Connection(const dbstruct::tDatabase_Structure& database) {
    if (database.Connection() == nullptr)
      throw dbstruct::StructureError("Database structure has no connection");
    return *database.Connection();
  }

  void Add(const dbstruct::tKeyedTbl_Structure& table, std::string note) {
    notes_.push_back({table.TableName, std::move(note)});
  }

  std::int64_t RowCount(const dbstruct::tKeyedTbl_Structure& table) {
    auto rows = connection_.Query("SELECT COUNT(*) FROM " + table.QuoteIdentifier(table.TableName));
    return rows->Next() ? FirstInteger(*rows, 0) : 0;
  }

  void AddLookupNotes(const dbstruct::tKeyedTbl_Structure& table) {
    std::optional<std::int64_t> row_count;
    for (const LookupIndex& lookup : lookups_) {
      if (lookup.table != table.TableName) continue;
      if (!row_count) row_count = RowCount(table);
      Add(table, Ansi("chybí index pro ") + lookup.purpose + " (" + ColumnsText(lookup.columns) +
                     Ansi("): import pak pro každý řádek čte celou tabulku (řádků: ") +
                     std::to_string(*row_count) + Ansi("); index vytvoří skript replikace"));
    }
  }

  void AddIdentityNote(const dbstruct::tKeyedTbl_Structure& table) {
    const std::string deletions =
        options_.import ? "výmazy od odesílatele se v ní neprovedou" : "výmazy jejích řádků se nepřenesou";
    const std::string updates = table.HasPrimaryKey || table.UniqueIndexCount > 0
                                    ? "změny se párují jen podle primárního klíče a jedinečných indexů"
                                    : "změny nelze spárovat (nemá primární klíč ani jedinečný index)";
    Add(table, Ansi("řádky nic neidentifikuje (nemá sloupec RowGuid ani celočíselný klíč): " + deletions +
                    ", " + updates + "; sloupec RowGuid přidá setup-script --add-rowguid"));
  }

  void AddTextNotes(const dbstruct::tKeyedTbl_Structure& table) {
    std::vector<std::pair<std::string, std::int64_t>> counts;
    if (const auto* server = dynamic_cast<const dbstruct::tADODatabase_Structure*>(&database_)) {
      const std::vector<dbaccess::ColumnInfo> catalogue = connection_.Columns(table.TableName);
      std::vector<std::string> unicode;
      for (const dbaccess::ColumnInfo& column : catalogue) {
        if (IsUnicodeSqlType(column.sql_type)) unicode.push_back(column.name + " (" + column.type_name + ")");
      }
      if (!unicode.empty()) {
        Add(table,
            ColumnsText(unicode) +
                Ansi(unicode.size() == 1 ? " může obsahovat znaky, které kódování Windows-1250 nemá; "
                                         : " mohou obsahovat znaky, které kódování Windows-1250 nemá; ") +
                Ansi("při přenosu se změní na ?"));
      }
      if (options_.with_data) counts = MssqlUnmappableCounts(*server, table, catalogue, connection_);
    } else if (options_.with_data && dynamic_cast<const dbstruct::tSQLiteDatabase_Structure*>(&database_)) {
      counts = SQLiteUnmappableCounts(table, connection_);
    }
    for (const auto& [column, count] : counts) {
      if (count == 0) continue;
      Add(table, Ansi("sloupec ") + column +
                     Ansi(" obsahuje znaky, které kódování Windows-1250 nemá (hodnot: ") +
                     std::to_string(count) + Ansi("); při přenosu se změní na ?"));
    }
  }

  dbstruct::tDatabase_Structure& database_;
  const std::vector<std::string>& ignore_;
  const ReadinessReportOptions& options_;
  dbaccess::Connection& connection_;
  const std::vector<LookupIndex> lookups_;
  bool tbldesc_ = true;
  std::vector<std::string> listed_;
  std::set<std::string> listed_upper_;
  std::vector<ReadinessNote> notes_;
};

}  // namespace

std::vector<ReadinessNote> ReadinessReport(dbstruct::tDatabase_Structure& database,
                                           const std::vector<std::string>& ignore,
                                           const ReadinessReportOptions& options) {
  return ReportBuilder(database, ignore, options).Build();
}

std::string ReadinessNotesHeading() { return Ansi("Upozornění:"); }

std::string FormatReadinessNotes(const std::vector<ReadinessNote>& notes) {
  if (notes.empty()) return {};
  std::string lines = ReadinessNotesHeading() + "\n";
  for (const ReadinessNote& note : notes) lines += "  " + note.table + ": " + note.text + "\n";
  return lines;
}

}  // namespace tamaril::replication
