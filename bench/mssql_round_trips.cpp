// Counts the statements the SQL Server form sends per merged row. A SQLite client database with a
// master table (GROUPS) and a detail table (ITEMS, RowGuid and identity key) is published into an
// archive, which is merged through the SQL Server form on a scripted server that plays the center:
// into an empty center (lookups answer nothing), into a center that already holds every row (all
// duplicates), after 10 % of the client's detail rows changed (those are updated), and with 10 % of
// the detail rows listed as deleted (those are deleted). For each path
// it prints the statements per row in total and by kind; the merge counters and the figures are
// checked, and a failed check ends the program with 1.
//   bench_mssql_round_trips [rows]   (master and detail rows together, default 1000)

#include <array>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "dbaccess/connection.h"
#include "dbstruct/mssql/database_structure.h"
#include "dbstruct/sqlite/sqlite_structure.h"
#include "mssql_scripted_backend.h"
#include "replication/archive.h"
#include "replication/merger.h"
#include "replication/publisher.h"
#include "text/encoding.h"

namespace {

using namespace tamaril;
using dataset::FieldType;
using dbaccess::Connection;
using dbaccess::Value;
using dbstruct::testing::Rows;
using dbstruct::testing::ScriptedBackend;
using dbstruct::testing::Sent;

constexpr const char* kMaster = "GROUPS";
constexpr const char* kDetail = "ITEMS";

constexpr const char* kSchema =
    "CREATE TABLE GROUPS (ID INTEGER PRIMARY KEY, NAME VARCHAR(40) NOT NULL);"
    "CREATE TABLE ITEMS ("
    " ID INTEGER IDENTITY(1,1) PRIMARY KEY,"
    " ROW_GUID UNIQUEIDENTIFIER ROWGUIDCOL NOT NULL,"
    " CODE VARCHAR(20) NOT NULL,"
    " NAME VARCHAR(80) NOT NULL,"
    " PRICE MONEY NOT NULL,"
    " GROUP_ID INTEGER NOT NULL,"
    " NOTE TEXT,"
    " CONSTRAINT FK_ITEMS_GROUPS FOREIGN KEY (GROUP_ID) REFERENCES GROUPS (ID));"
    "CREATE UNIQUE INDEX UX_ITEMS_ROW_GUID ON ITEMS (ROW_GUID);"
    "CREATE TABLE DELETED_ROWS (SUCCNO INTEGER PRIMARY KEY, TABLENAME VARCHAR(40) NOT NULL,"
    " RECORDID INTEGER NOT NULL, RECORDGUID VARCHAR(38));";
constexpr const char* kDeletedRows = "DELETED_ROWS";

std::string Upper(std::string_view text) {
  std::string upper(text);
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return upper;
}

// ---- the center the scripted server plays ----

/// A back end that answers the row lookups from the rows it holds, as a server holding them would.
class CenterBackend : public ScriptedBackend {
 public:
  std::map<std::string, Rows> held;  ///< rows held, by upper-case table name

  std::unique_ptr<dbaccess::BackendStatement> Prepare(std::string_view sql) override;

  /// The held rows that a "Select * from T where A=? and B=?" lookup matches; nothing for other texts.
  std::unique_ptr<dbaccess::Cursor> Lookup(const Sent& run) {
    static constexpr std::string_view kStart = "Select * from ";
    const std::string& text = run.text;
    const std::size_t where = text.find(" where ");
    if (!text.starts_with(kStart) || where == std::string::npos) return nullptr;
    const auto found = held.find(Upper(text.substr(kStart.size(), where - kStart.size())));
    if (found == held.end()) return nullptr;
    const Rows& rows = found->second;
    std::vector<std::size_t> columns;
    std::size_t at = where + 7;
    while (at < text.size()) {
      const std::size_t equals = text.find("=?", at);
      if (equals == std::string::npos) return nullptr;
      const std::string name = Upper(text.substr(at, equals - at));
      std::size_t column = 0;
      while (column < rows.columns.size() && Upper(rows.columns[column].name) != name) ++column;
      if (column == rows.columns.size()) return nullptr;
      columns.push_back(column);
      at = equals + 2;
      if (text.compare(at, 5, " and ") == 0) at += 5;
    }
    if (columns.size() != run.params.size()) return nullptr;
    std::vector<std::vector<Value>> matches;
    for (const auto& row : rows.rows) {
      bool all = true;
      for (std::size_t i = 0; i < columns.size() && all; ++i) {
        const Value& held_value = row[columns[i]];
        all = !held_value.IsNull() && Upper(held_value.AsString()) == Upper(run.params[i].value.AsString());
      }
      if (all) matches.push_back(row);
    }
    sent.push_back(run);
    return std::make_unique<dbaccess::MemoryCursor>(rows.columns, std::move(matches));
  }
};

class CenterStatement : public dbaccess::BackendStatement {
 public:
  CenterStatement(CenterBackend& backend, std::string text) : backend_(backend), text_(std::move(text)) {}
  std::int64_t Execute(const std::vector<dbaccess::Parameter>& params) override {
    return backend_.RunCommand(Sent{text_, params});
  }
  std::unique_ptr<dbaccess::Cursor> Open(const std::vector<dbaccess::Parameter>& params) override {
    Sent run{text_, params};
    if (auto rows = backend_.Lookup(run)) return rows;
    return backend_.Run(run);
  }

 private:
  CenterBackend& backend_;
  std::string text_;
};

std::unique_ptr<dbaccess::BackendStatement> CenterBackend::Prepare(std::string_view sql) {
  return std::make_unique<CenterStatement>(*this, std::string(sql));
}

/// The center on a scripted server: the client's tables as its catalogue, `held` as its rows.
struct Center {
  Center(const std::map<std::string, Rows>& client_rows, bool holds_rows) {
    auto scripted = std::make_unique<CenterBackend>();
    backend = scripted.get();
    connection.AttachBackend(std::move(scripted), dbaccess::BackendKind::ODBC);
    auto& b = *backend;
    b.database = "CENTER";
    b.tables = {kDetail, kMaster};
    for (const auto& [table, rows] : client_rows) {
      std::vector<dbaccess::ColumnInfo> columns = rows.columns;
      for (auto& column : columns) {
        column.nullable = column.name == "NOTE";
        if (table == kDetail && column.name == "ID") column.field_type = FieldType::AutoInc;
        if (column.name == "ROW_GUID") column.field_type = FieldType::Guid;
      }
      b.columns[table] = columns;
      b.indexes[table] = {{"PK_" + table, "ID", true, true}};
      b.primary_keys.push_back({b.database, table, "PK_" + table});
      if (holds_rows) b.held[table] = rows;
    }
    b.indexes[kDetail].push_back({"UX_ITEMS_ROW_GUID", "ROW_GUID", false, true});
    b.foreign_keys = {{b.database, kMaster, "ID", b.database, kDetail, "GROUP_ID", "FK_ITEMS_GROUPS"}};
    b.object_properties = {{"ITEMS|TableHasRowGuidCol", 1}, {"ITEMS|TableHasIdentity", 1}};
    b.column_properties = {{"ITEMS|ROW_GUID|IsRowGuidCol", 1}, {"ITEMS|ID|IsIdentity", 1}};
    b.affected = {{"Delete", 1}};  // each delete removes the one row it names
    b.answers = {{"select IDENT_SEED('ITEMS')",
                  dbstruct::testing::MakeRows({{"", FieldType::Integer}, {"", FieldType::Integer}},
                                              {{Value::Integer(1), Value::Integer(1)}})},
                 {"select MAX(IDENTITYCOL) from ITEMS", dbstruct::testing::Scalar(1)},
                 {"select @@LANGID", dbstruct::testing::Scalar(0)},
                 // Every master the rows name exists at the center.
                 {"select case when exists", dbstruct::testing::Scalar(1)}};
    b.procedures["sp_helplanguage"] =
        dbstruct::testing::MakeRows({{"langid", FieldType::Integer}, {"dateformat", FieldType::String}},
                                    {{Value::Integer(0), Value::Text("ymd")}});
    structure = std::make_unique<dbstruct::tADODatabase_Structure>(
        connection, [](const std::string&, std::uint8_t& version) {
          version = 16;
          return true;
        });
    structure->Scan();
    b.sent.clear();
  }

  CenterBackend* backend = nullptr;
  Connection connection;
  std::unique_ptr<dbstruct::tADODatabase_Structure> structure;
};

// ---- the client and its archives ----

void FillClient(Connection& db, long groups, long items) {
  db.Execute(kSchema);
  dbaccess::TransactionGuard transaction(db);
  auto group = db.Prepare("INSERT INTO GROUPS (ID, NAME) VALUES (:ID, :NAME)");
  for (long id = 1; id <= groups; ++id) {
    group->SetParameter(std::size_t{0}, Value::Integer(id));
    group->SetParameter(std::size_t{1}, Value::Text("Skupina " + std::to_string(id)));
    group->Execute();
  }
  auto item = db.Prepare(
      "INSERT INTO ITEMS (ID, ROW_GUID, CODE, NAME, PRICE, GROUP_ID, NOTE) "
      "VALUES (:ID, :ROW_GUID, :CODE, :NAME, :PRICE, :GROUP_ID, :NOTE)");
  char guid[48];
  for (long id = 1; id <= items; ++id) {
    std::snprintf(guid, sizeof guid, "{6F9619FF-8B86-D011-B42D-%012lX}", static_cast<unsigned long>(id));
    item->SetParameter(std::size_t{0}, Value::Integer(id));
    item->SetParameter(std::size_t{1}, Value::Guid(guid));
    item->SetParameter(std::size_t{2}, Value::Text("AB-" + std::to_string(100000 + id)));
    item->SetParameter(std::size_t{3}, Value::Text(text::Utf8ToAnsi("Šroub ") + std::to_string(id)));
    item->SetParameter(std::size_t{4}, Value::Double(static_cast<double>(id % 5000) / 4.0));
    item->SetParameter(std::size_t{5}, Value::Integer(1 + id % groups));
    item->SetParameter(std::size_t{6}, id % 3 == 0 ? Value::Null() : Value::Text("skladem"));
    item->Execute();
  }
  transaction.Commit();
}

std::map<std::string, Rows> ReadRows(Connection& db) {
  std::map<std::string, Rows> tables;
  for (const char* table : {kMaster, kDetail}) {
    auto all = db.QueryAll(std::string("SELECT * FROM ") + table + " ORDER BY ID");
    tables[table] = Rows{all->Columns(), all->Rows()};
  }
  return tables;
}

/// Publishes the two tables, or only the deleted rows when `deletions` is set.
void Publish(dbstruct::tSQLiteDatabase_Structure& structure, const std::string& path, int export_no,
             bool deletions) {
  replication::tArchiveHeader header;
  header.Signature = "BENCH";
  header.ExportNo = export_no;
  header.ExportTime = 46000.5;
  replication::tArchiveWriter writer(path, header);
  replication::tQVMPublisher publisher;
  if (deletions) {
    publisher.MainTable = kDeletedRows;
  } else {
    publisher.TableList = {kMaster, kDetail};
  }
  publisher.Stream = &writer.Stream();
  publisher.Structure = &structure;
  publisher.OnRowFilter = [](replication::tQVMPublisher&, dataset::TDataSet&, bool& accept) {
    accept = true;
  };
  publisher.Publish();
  writer.Commit();
}

// ---- counting ----

constexpr std::array<const char*, 7> kKinds = {"lookup", "master check", "insert", "update",
                                               "delete", "log",          "other"};

/// The kind of a statement by its text.
std::string KindOf(const std::string& text) {
  const std::string upper = Upper(text);
  if (upper.find("REP_") != std::string::npos) return "log";
  if (upper.starts_with("SELECT * FROM")) return "lookup";
  if (upper.starts_with("SELECT CASE WHEN EXISTS")) return "master check";
  if (upper.starts_with("INSERT")) return "insert";
  if (upper.starts_with("UPDATE")) return "update";
  if (upper.starts_with("DELETE")) return "delete";
  return "other";
}

struct PathResult {
  long rows = 0;
  long appended = 0;
  long updated = 0;
  long deleted = 0;
  long duplicates = 0;
  long conflicts = 0;
  std::map<std::string, long> statements;  ///< by kind
  long total = 0;
};

PathResult MergePath(const std::string& archive, const std::map<std::string, Rows>& center_rows,
                     bool holds_rows) {
  Center center(center_rows, holds_rows);
  PathResult result;
  replication::tArchiveReader reader(archive);
  replication::tQVMMerger merger;
  merger.Stream = &reader.Stream();
  merger.Structure = center.structure.get();
  merger.OnAppendRow = [](replication::tQVMMerger&, dataset::TDataSet&, bool& allow) { allow = true; };
  merger.OnUpdateRow = [](replication::tQVMMerger&, dataset::TDataSet&, bool& allow,
                          dbstruct::tExistingRecords&) { allow = true; };
  merger.OnDeleteRow = [](replication::tQVMMerger&, dataset::TDataSet&, bool& allow,
                          dbstruct::tExistingRecords&) { allow = true; };
  merger.OnAfterRow = [&](replication::tQVMMerger&, dataset::TDataSet&) { ++result.rows; };
  merger.OnRowAppended = [&](replication::tQVMMerger&, dataset::TDataSet&) { ++result.appended; };
  merger.OnRowUpdated = [&](replication::tQVMMerger&, dataset::TDataSet&) { ++result.updated; };
  merger.OnRowDeleted = [&](replication::tQVMMerger&, dataset::TDataSet&, std::int64_t) { ++result.deleted; };
  merger.OnDuplicate = [&](replication::tQVMMerger&, dataset::TDataSet&) { ++result.duplicates; };
  merger.OnConflict = [&](replication::tQVMMerger& m, dataset::TDataSet&, replication::tConflictKind kind,
                          const std::string& text) {
    if (++result.conflicts <= 5) {
      std::fprintf(stderr, "conflict in %s row %d: kind %d %s\n", m.TableName.c_str(), m.RowNumber,
                   static_cast<int>(kind), text::AnsiToUtf8(text).c_str());
    }
  };
  if (!merger.Merge()) std::fprintf(stderr, "the archive ended early\n");
  center.structure->CloseData();
  for (const auto& run : center.backend->sent) {
    ++result.statements[KindOf(run.text)];
    ++result.total;
  }
  return result;
}

long Count(const PathResult& path, const char* kind) {
  const auto found = path.statements.find(kind);
  return found == path.statements.end() ? 0 : found->second;
}

double PerRow(long count, long rows) {
  return rows > 0 ? static_cast<double>(count) / static_cast<double>(rows) : 0;
}

void PrintHeader() {
  std::printf("%-26s %7s %7s", "path", "rows", "total");
  for (const char* kind : kKinds) std::printf(" %12s", kind);
  std::printf("\n");
}

void PrintPath(const char* name, const PathResult& path) {
  std::printf("%-26s %7ld %7.2f", name, path.rows, PerRow(path.total, path.rows));
  for (const char* kind : kKinds) std::printf(" %12.2f", PerRow(Count(path, kind), path.rows));
  std::printf("\n");
}

bool Expect(const char* what, long actual, long expected) {
  if (actual == expected) return true;
  std::fprintf(stderr, "error: %s %ld, expected %ld\n", what, actual, expected);
  return false;
}

long Count(Connection& db, const std::string& query) {
  auto cursor = db.Query(query);
  return cursor->Next() ? static_cast<long>(cursor->Get(0).AsInteger()) : -1;
}

int Run(long rows, const std::string& folder) {
  const long groups = std::max(1L, rows / 100);
  const long items = rows - groups;
  const std::string archive = (std::filesystem::path(folder) / "BENCH.ZR2").string();
  Connection client;
  client.SetConnectionString("Provider=SQLite;Data Source=" + folder);
  client.Open();
  client.CreateDatabase("client");
  client.SetDefaultDatabase("client");
  FillClient(client, groups, items);
  dbstruct::tSQLiteDatabase_Structure client_structure(&client);
  client_structure.Scan();
  const std::map<std::string, Rows> original = ReadRows(client);
  Publish(client_structure, archive, 1, false);

  bool ok = true;
  PrintHeader();
  const PathResult empty = MergePath(archive, original, false);
  PrintPath("into an empty center", empty);
  ok &= Expect("rows", empty.rows, rows) && Expect("appended rows", empty.appended, rows);
  ok &= Expect("inserts", Count(empty, "insert"), rows);

  const PathResult again = MergePath(archive, original, true);
  PrintPath("all duplicates", again);
  ok &= Expect("duplicate rows", again.duplicates, rows);
  ok &= Expect("writes of duplicates", Count(again, "insert") + Count(again, "update"), 0);

  const long changed = static_cast<long>(client.Execute(text::Utf8ToAnsi(
      "UPDATE ITEMS SET NAME = NAME || ' (nová cena)', PRICE = PRICE + 1 WHERE ID % 10 = 0")));
  client_structure.CloseData();
  Publish(client_structure, archive, 2, false);
  const PathResult changes = MergePath(archive, original, true);
  PrintPath("10 % of the rows changed", changes);
  ok &= Expect("updated rows", changes.updated, changed) &&
        Expect("updates", Count(changes, "update"), changed);
  ok &= Expect("unchanged rows", changes.duplicates, rows - changed);

  client.Execute(
      "INSERT INTO DELETED_ROWS (TABLENAME, RECORDID, RECORDGUID) "
      "SELECT 'ITEMS', ID, ROW_GUID FROM ITEMS WHERE ID % 10 = 5");
  const long removed = Count(client, "SELECT count(*) FROM DELETED_ROWS");
  client_structure.CloseData();
  Publish(client_structure, archive, 3, true);
  const PathResult deletions = MergePath(archive, original, true);
  PrintPath("10 % of the rows deleted", deletions);
  ok &= Expect("rows", deletions.rows, removed) && Expect("deleted rows", deletions.deleted, removed);
  ok &= Expect("deletes", Count(deletions, "delete"), removed);

  for (const PathResult* path : {&empty, &again, &changes, &deletions}) {
    ok &= Expect("conflicts", path->conflicts, 0);
    if (Count(*path, "lookup") < path->rows) {
      std::fprintf(stderr, "error: fewer lookups than rows\n");
      ok = false;
    }
  }
  return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  const long rows = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 1000;
  if (rows < 2) {
    std::fprintf(stderr, "usage: bench_mssql_round_trips [rows]   (at least 2)\n");
    return 1;
  }
  std::string folder = (std::filesystem::temp_directory_path() / "tamaril-trips-XXXXXX").string();
  if (mkdtemp(folder.data()) == nullptr) return 1;
  int result = 1;
  try {
    result = Run(rows, folder);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_mssql_round_trips: %s\n", text::AnsiToUtf8(e.what()).c_str());
  }
  std::filesystem::remove_all(folder);
  return result;
}
