// The SQLite back end: a folder of database files, one file per database.

#include <sqlite3.h>

#include <fmt/format.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "dbaccess/backend.h"
#include "dbaccess/errors.h"
#include "dbaccess/sqlite_types.h"
#include "text/ascii.h"
#include "text/encoding.h"

namespace tamaril::dbaccess {
namespace {

namespace fs = std::filesystem;
using dataset::FieldType;
using text::EqualsIgnoreCaseAscii;

constexpr std::string_view kMaster = "master";
constexpr std::string_view kGeneralError = "HY000";
constexpr std::string_view kTimeoutState = "HYT00";
constexpr int kProgressSteps = 1000;  // virtual machine steps between two timeout checks

struct DatabaseCloser {
  void operator()(sqlite3* db) const noexcept { sqlite3_close_v2(db); }
};
struct StatementFinalizer {
  void operator()(sqlite3_stmt* statement) const noexcept { sqlite3_finalize(statement); }
};
using DatabaseHandle = std::unique_ptr<sqlite3, DatabaseCloser>;
using StatementHandle = std::unique_ptr<sqlite3_stmt, StatementFinalizer>;

[[noreturn]] void ThrowError(sqlite3* db) {
  throw DatabaseError(text::Utf8ToAnsi(sqlite3_errmsg(db)), std::string(kGeneralError),
                      sqlite3_extended_errcode(db));
}

void Check(sqlite3* db, int rc) {
  if (rc != SQLITE_OK) ThrowError(db);
}

// The text of a column of the current row, valid until the statement moves on or the column is
// read as another type.
std::string_view ColumnView(sqlite3_stmt* statement, int column) {
  const auto* data = sqlite3_column_text(statement, column);
  if (data == nullptr) return {};
  return {reinterpret_cast<const char*>(data),
          static_cast<std::size_t>(sqlite3_column_bytes(statement, column))};
}

std::string ColumnText(sqlite3_stmt* statement, int column) {
  return std::string(ColumnView(statement, column));
}

// Interrupts a statement that runs longer than its limit: SQLite calls `Check` every few
// thousand steps while a statement runs.
class Watchdog {
 public:
  void Arm(int seconds) {
    fired_ = false;
    deadline_ = seconds > 0 ? Clock::now() + std::chrono::seconds(seconds) : Clock::time_point::max();
  }
  /// Stops watching; true when the limit was reached.
  bool Disarm() {
    deadline_ = Clock::time_point::max();
    return fired_;
  }
  static int Check(void* self) {
    auto* watchdog = static_cast<Watchdog*>(self);
    if (watchdog->deadline_ == Clock::time_point::max() || Clock::now() < watchdog->deadline_) return 0;
    watchdog->fired_ = true;
    return 1;
  }

 private:
  using Clock = std::chrono::steady_clock;
  Clock::time_point deadline_ = Clock::time_point::max();
  bool fired_ = false;
};

// Runs one step of a statement under the command timeout; SQLITE_ROW or SQLITE_DONE.
int StepStatement(sqlite3_stmt* statement, Watchdog& watchdog, int timeout_seconds) {
  watchdog.Arm(timeout_seconds);
  const int rc = sqlite3_step(statement);
  const bool timed_out = watchdog.Disarm();
  if (rc == SQLITE_ROW || rc == SQLITE_DONE) return rc;
  sqlite3* db = sqlite3_db_handle(statement);
  if (timed_out && rc == SQLITE_INTERRUPT) {
    sqlite3_reset(statement);
    throw DatabaseError(fmt::format("The command did not finish within {} seconds", timeout_seconds),
                        std::string(kTimeoutState), SQLITE_INTERRUPT);
  }
  DatabaseError error(text::Utf8ToAnsi(sqlite3_errmsg(db)), std::string(kGeneralError),
                      sqlite3_extended_errcode(db));
  sqlite3_reset(statement);
  throw error;
}

// Runs a statement to its end; the rows it changed itself (0 for statements that change none).
std::int64_t RunToEnd(sqlite3_stmt* statement, Watchdog& watchdog, int timeout_seconds) {
  sqlite3* db = sqlite3_db_handle(statement);
  const sqlite3_int64 before = sqlite3_total_changes64(db);
  while (StepStatement(statement, watchdog, timeout_seconds) == SQLITE_ROW) {
  }
  // sqlite3_changes64 keeps the count of the last INSERT, UPDATE or DELETE, so it belongs to
  // this statement only when the statement changed something.
  return sqlite3_total_changes64(db) != before ? sqlite3_changes64(db) : 0;
}

// ---------------------------------------------------------------------------------------------
// Values

void Bind(sqlite3_stmt* statement, int index, const Value& value) {
  int rc = SQLITE_OK;
  const auto bind_text = [&](const std::string& utf8) {
    return sqlite3_bind_text64(statement, index, utf8.data(), utf8.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
  };
  switch (value.kind()) {
    case ValueKind::Null: rc = sqlite3_bind_null(statement, index); break;
    case ValueKind::Text: {
      // ASCII is the same bytes in both encodings: such a text is bound as it is held.
      const std::string held = value.AsString();
      const bool as_held = value.Unicode() || std::all_of(held.begin(), held.end(), [](char c) {
                             return static_cast<unsigned char>(c) < 0x80;
                           });
      rc = as_held ? bind_text(held) : bind_text(text::AnsiToUtf8(held));
      break;
    }
    case ValueKind::Integer: rc = sqlite3_bind_int64(statement, index, value.AsInteger()); break;
    case ValueKind::Double: rc = sqlite3_bind_double(statement, index, value.AsDouble()); break;
    case ValueKind::Boolean: rc = sqlite3_bind_int(statement, index, value.AsBoolean() ? 1 : 0); break;
    case ValueKind::DateTime: rc = bind_text(FormatDateTimeText(value.AsDateTime())); break;
    case ValueKind::Guid: {
      const std::string guid = value.AsString();
      rc = bind_text(NormalizeGuidText(guid).value_or(text::AnsiToUtf8(guid)));
      break;
    }
    case ValueKind::Bytes: {
      const std::string bytes = value.AsString();
      // An empty block is a zero-length blob, not NULL.
      rc = bytes.empty()
               ? sqlite3_bind_zeroblob(statement, index, 0)
               : sqlite3_bind_blob64(statement, index, bytes.data(), bytes.size(), SQLITE_TRANSIENT);
      break;
    }
  }
  Check(sqlite3_db_handle(statement), rc);
}

// `unicode`: a text comes as UTF-8 (Value::UnicodeText) rather than Windows-1250.
Value ByStorageClass(sqlite3_stmt* statement, int column, bool unicode) {
  switch (sqlite3_column_type(statement, column)) {
    case SQLITE_INTEGER: return Value::Integer(sqlite3_column_int64(statement, column));
    case SQLITE_FLOAT: return Value::Double(sqlite3_column_double(statement, column));
    case SQLITE_TEXT: {
      if (unicode) return Value::UnicodeText(ColumnText(statement, column));
      bool lossy = false;
      std::string ansi = text::Utf8ToAnsi(ColumnView(statement, column), lossy);
      return Value::Text(std::move(ansi), lossy);
    }
    case SQLITE_BLOB: {
      const auto* data = static_cast<const char*>(sqlite3_column_blob(statement, column));
      const auto size = static_cast<std::size_t>(sqlite3_column_bytes(statement, column));
      return Value::Bytes(data == nullptr ? std::string() : std::string(data, size));
    }
    default: return {};
  }
}

std::optional<DateTime> ParseTimeText(const std::string& text) {
  if (auto full = ParseDateTimeText(text)) return full;
  return ParseDateTimeText(FormatDateTimeText(DateTime{}).substr(0, 11) + text);
}

// The value of a column of the current row; the column's field type decides the kind.
Value ReadValue(sqlite3_stmt* statement, int column, FieldType type, bool unicode) {
  const int storage = sqlite3_column_type(statement, column);
  const bool number = storage == SQLITE_INTEGER || storage == SQLITE_FLOAT;
  switch (type) {
    case FieldType::Boolean:
      if (number) return Value::Boolean(sqlite3_column_double(statement, column) != 0);
      break;
    case FieldType::Float:
    case FieldType::Currency:
    case FieldType::BCD:
      if (number) return Value::Double(sqlite3_column_double(statement, column));
      break;
    case FieldType::DateTime:
    case FieldType::Date:
    case FieldType::Time:
      if (storage == SQLITE_TEXT) {
        const std::string_view text = ColumnView(statement, column);
        const auto parsed =
            type == FieldType::Time ? ParseTimeText(std::string(text)) : ParseDateTimeText(text);
        if (parsed) return Value::FromDateTime(*parsed);
      }
      break;
    case FieldType::Guid:
      if (storage == SQLITE_TEXT) {
        if (auto guid = NormalizeGuidText(ColumnView(statement, column)))
          return Value::Guid(std::move(*guid));
      }
      break;
    case FieldType::String:
    case FieldType::FixedChar:
    case FieldType::WideString:
    case FieldType::Memo:
    case FieldType::FmtMemo:
      if (number) return Value::Text(ColumnText(statement, column));
      break;
    default: break;
  }
  return ByStorageClass(statement, column, unicode);
}

// ---------------------------------------------------------------------------------------------
// Column metadata

void ApplyDeclaredType(ColumnInfo& info, std::string_view declared) {
  const sqlite::DeclaredType mapped = sqlite::MapDeclaredType(declared);
  info.field_type = mapped.field_type;
  info.size = mapped.size;
  info.precision = mapped.precision;
  info.scale = mapped.scale;
}

// The field type of a column without a declared type, from the storage class of its first value.
FieldType TypeOfStorage(int storage) {
  switch (storage) {
    case SQLITE_INTEGER: return FieldType::Largeint;
    case SQLITE_FLOAT: return FieldType::Float;
    case SQLITE_BLOB: return FieldType::Blob;
    default: return FieldType::Memo;
  }
}

// Small helper for catalogue reads: runs a query with text arguments, gives its rows as UTF-8
// texts (NULL as empty).
std::vector<std::vector<std::string>> QueryTexts(sqlite3* db, const char* sql,
                                                 const std::vector<std::string>& args) {
  sqlite3_stmt* raw = nullptr;
  Check(db, sqlite3_prepare_v2(db, sql, -1, &raw, nullptr));
  StatementHandle statement(raw);
  for (std::size_t i = 0; i < args.size(); ++i)
    Check(db, sqlite3_bind_text64(statement.get(), static_cast<int>(i + 1), args[i].data(), args[i].size(),
                                  SQLITE_TRANSIENT, SQLITE_UTF8));
  std::vector<std::vector<std::string>> rows;
  const int width = sqlite3_column_count(statement.get());
  int rc = SQLITE_ROW;
  while ((rc = sqlite3_step(statement.get())) == SQLITE_ROW) {
    auto& row = rows.emplace_back();
    for (int i = 0; i < width; ++i) row.push_back(ColumnText(statement.get(), i));
  }
  if (rc != SQLITE_DONE) ThrowError(db);
  return rows;
}

// The column that is the table's rowid alias (a single INTEGER primary-key column).
std::optional<std::string> RowidAlias(sqlite3* db, const std::string& schema, const std::string& table) {
  const auto keys =
      QueryTexts(db, "SELECT name, type FROM pragma_table_info(?1, ?2) WHERE pk > 0", {table, schema});
  if (keys.size() == 1 && EqualsIgnoreCaseAscii(keys[0][1], "INTEGER")) return keys[0][0];
  return std::nullopt;
}

// The columns of a prepared statement as far as they are known before it runs.
std::vector<ColumnInfo> DescribeColumns(sqlite3_stmt* statement) {
  sqlite3* db = sqlite3_db_handle(statement);
  std::vector<ColumnInfo> columns;
  std::map<std::pair<std::string, std::string>, std::optional<std::string>> aliases;
  const int count = sqlite3_column_count(statement);
  for (int i = 0; i < count; ++i) {
    ColumnInfo& info = columns.emplace_back();
    const char* name = sqlite3_column_name(statement, i);
    info.name = text::Utf8ToAnsi(name == nullptr ? "" : name);
    if (const char* declared = sqlite3_column_decltype(statement, i)) {
      info.type_name = text::Utf8ToAnsi(declared);
      ApplyDeclaredType(info, declared);
    }
    const char* schema = sqlite3_column_database_name(statement, i);
    const char* table = sqlite3_column_table_name(statement, i);
    const char* origin = sqlite3_column_origin_name(statement, i);
    if (schema == nullptr || table == nullptr || origin == nullptr) continue;
    int not_null = 0;
    int primary_key = 0;
    if (sqlite3_table_column_metadata(db, schema, table, origin, nullptr, nullptr, &not_null, &primary_key,
                                      nullptr) != SQLITE_OK)
      continue;
    bool alias = false;
    if (primary_key != 0) {
      auto key = std::make_pair(std::string(schema), std::string(table));
      auto found = aliases.find(key);
      if (found == aliases.end()) found = aliases.emplace(key, RowidAlias(db, key.first, key.second)).first;
      alias = found->second && EqualsIgnoreCaseAscii(*found->second, origin);
    }
    info.nullable = not_null == 0 && !alias;
  }
  return columns;
}

// ---------------------------------------------------------------------------------------------
// Statements and cursors

class SqliteStatement;

class SqliteCursor final : public Cursor {
 public:
  SqliteCursor(SqliteStatement& owner, std::uint64_t run,
               std::shared_ptr<const std::vector<ColumnInfo>> columns, bool has_row);
  ~SqliteCursor() override;

  const std::vector<ColumnInfo>& Columns() const override { return *columns_; }
  bool Next() override;
  const Value& Get(std::size_t column) const override;
  using Cursor::Get;

 private:
  void CheckCurrent() const;
  void LoadRow();

  SqliteStatement& owner_;
  std::uint64_t run_;
  std::shared_ptr<const std::vector<ColumnInfo>>
      columns_;  ///< the statement's, unless a column took its type from this run
  std::vector<Value> row_;
  bool waiting_row_;  ///< the first row, read when the cursor opened, not yet handed out
  bool on_row_ = false;
  bool done_;
};

class SqliteStatement final : public BackendStatement {
 public:
  SqliteStatement(StatementHandle statement, Watchdog& watchdog, int timeout_seconds)
      : statement_(std::move(statement)), watchdog_(watchdog), timeout_seconds_(timeout_seconds) {}

  std::int64_t Execute(const std::vector<Parameter>& params) override {
    Start(params);
    const std::int64_t changed = RunToEnd(statement_.get(), watchdog_, timeout_seconds_);
    sqlite3_reset(statement_.get());
    return changed;
  }

  std::unique_ptr<Cursor> Open(const std::vector<Parameter>& params) override {
    Start(params);
    if (!columns_) {
      columns_ = std::make_shared<const std::vector<ColumnInfo>>(DescribeColumns(statement_.get()));
      untyped_ = std::any_of(columns_->begin(), columns_->end(), [](const ColumnInfo& column) {
        return column.field_type == FieldType::Unknown && column.type_name.empty();
      });
    }
    // The first row is read at once: errors show at open, and columns without a declared type
    // take the type of their first value.
    const bool has_row = Step() == SQLITE_ROW;
    if (!untyped_) return std::make_unique<SqliteCursor>(*this, run_, columns_, has_row);
    auto columns = std::make_shared<std::vector<ColumnInfo>>(*columns_);
    for (std::size_t i = 0; i < columns->size(); ++i) {
      ColumnInfo& column = (*columns)[i];
      if (column.field_type == FieldType::Unknown && column.type_name.empty())
        column.field_type =
            TypeOfStorage(has_row ? sqlite3_column_type(statement_.get(), static_cast<int>(i)) : SQLITE_NULL);
    }
    return std::make_unique<SqliteCursor>(*this, run_, std::move(columns), has_row);
  }

  sqlite3_stmt* handle() const noexcept { return statement_.get(); }
  std::uint64_t run() const noexcept { return run_; }
  bool UnicodeText() const noexcept { return unicode_text_; }
  int Step() { return StepStatement(statement_.get(), watchdog_, timeout_seconds_); }

 private:
  void Start(const std::vector<Parameter>& params) {
    ++run_;  // ends the cursor of an earlier run
    sqlite3_stmt* statement = statement_.get();
    sqlite3_reset(statement);
    sqlite3_clear_bindings(statement);
    const int expected = sqlite3_bind_parameter_count(statement);
    if (static_cast<std::size_t>(expected) != params.size())
      throw DatabaseError(
          fmt::format("The statement has {} parameters but {} values were given", expected, params.size()),
          "07002");
    for (std::size_t i = 0; i < params.size(); ++i) Bind(statement, static_cast<int>(i + 1), params[i].value);
  }

  StatementHandle statement_;
  Watchdog& watchdog_;
  int timeout_seconds_;
  std::uint64_t run_ = 0;
  std::shared_ptr<const std::vector<ColumnInfo>> columns_;  ///< described at the first open
  bool untyped_ = false;  ///< some column takes its type from the first value of each run
};

SqliteCursor::SqliteCursor(SqliteStatement& owner, std::uint64_t run,
                           std::shared_ptr<const std::vector<ColumnInfo>> columns, bool has_row)
    : owner_(owner), run_(run), columns_(std::move(columns)), waiting_row_(has_row), done_(!has_row) {
  if (has_row) LoadRow();
}

SqliteCursor::~SqliteCursor() {
  // Releases the statement's read lock when the rows were not read to the end.
  if (owner_.run() == run_) sqlite3_reset(owner_.handle());
}

void SqliteCursor::LoadRow() {
  const std::vector<ColumnInfo>& columns = *columns_;
  row_.resize(columns.size());
  for (std::size_t i = 0; i < columns.size(); ++i)
    row_[i] = ReadValue(owner_.handle(), static_cast<int>(i), columns[i].field_type, owner_.UnicodeText());
}

bool SqliteCursor::Next() {
  if (owner_.run() != run_) throw DatabaseError("The cursor was closed by a new run of its statement");
  if (waiting_row_) {
    waiting_row_ = false;
    on_row_ = true;
    return true;
  }
  on_row_ = false;
  if (done_) return false;
  if (owner_.Step() == SQLITE_ROW) {
    LoadRow();
    on_row_ = true;
    return true;
  }
  done_ = true;
  sqlite3_reset(owner_.handle());
  return false;
}

const Value& SqliteCursor::Get(std::size_t column) const {
  if (!on_row_ || owner_.run() != run_) throw DatabaseError("No current row");
  if (column >= row_.size()) throw DatabaseError(fmt::format("Column {} out of range", column));
  return row_[column];
}

// ---------------------------------------------------------------------------------------------
// The connection

bool IsMaster(std::string_view name) { return name.empty() || EqualsIgnoreCaseAscii(name, kMaster); }

bool IsDatabaseFile(const fs::directory_entry& entry) {
  std::error_code ignored;
  return entry.is_regular_file(ignored) && EqualsIgnoreCaseAscii(entry.path().extension().string(), ".db");
}

class SqliteConnection final : public BackendConnection {
 public:
  SqliteConnection(std::string folder, const Timeouts& timeouts)
      : folder_ansi_(std::move(folder)), folder_(text::AnsiToUtf8(folder_ansi_)), timeouts_(timeouts) {
    std::error_code error;
    if (folder_ansi_.empty() || !fs::is_directory(folder_, error))
      throw DatabaseError(fmt::format("Database folder '{}' does not exist", folder_ansi_),
                          std::string(kGeneralError));
  }

  std::string DbmsName() override { return "SQLite"; }
  std::string CurrentDatabase() override { return current_; }

  void SetCurrentDatabase(std::string_view name) override {
    if (IsMaster(name)) {
      db_ = OpenFile(":memory:", SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
      current_ = std::string(kMaster);
      return;
    }
    const auto file = FindDatabaseFile(name);
    if (!file)
      throw DatabaseError(fmt::format("Database '{}' does not exist", name), std::string(kGeneralError));
    // The old database stays open until the new one is usable.
    db_ = OpenFile(file->string(), SQLITE_OPEN_READWRITE);
    current_ = text::Utf8ToAnsi(file->stem().string());
  }

  void CreateDatabase(std::string_view name) override {
    const std::string utf8 = CheckedFileName(name);
    if (FindDatabaseFile(name))
      throw DatabaseError(fmt::format("Database '{}' already exists", name), std::string(kGeneralError));
    OpenFile((folder_ / (utf8 + ".db")).string(), SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
  }

  void SetCommandTimeout(int seconds) override { timeouts_.command_seconds = seconds; }

  std::int64_t Execute(std::string_view sql) override {
    const std::string utf8 = text::AnsiToUtf8(sql);
    const char* tail = utf8.data();
    const char* end = utf8.data() + utf8.size();
    std::int64_t changed = 0;
    while (tail < end) {
      sqlite3_stmt* raw = nullptr;
      const char* next = nullptr;
      Check(db(), sqlite3_prepare_v2(db(), tail, static_cast<int>(end - tail), &raw, &next));
      StatementHandle statement(raw);
      if (next == tail) break;
      tail = next;
      if (statement) changed += RunToEnd(statement.get(), watchdog_, timeouts_.command_seconds);
    }
    return changed;
  }

  std::unique_ptr<BackendStatement> Prepare(std::string_view sql) override {
    const std::string utf8 = text::AnsiToUtf8(sql);
    sqlite3_stmt* raw = nullptr;
    const char* tail = nullptr;
    Check(db(), sqlite3_prepare_v3(db(), utf8.data(), static_cast<int>(utf8.size()),
                                   SQLITE_PREPARE_PERSISTENT, &raw, &tail));
    StatementHandle statement(raw);
    if (!statement) throw DatabaseError("The statement text is empty", "42000");
    // A second statement would be dropped without a word; refuse the text instead.
    const char* end = utf8.data() + utf8.size();
    sqlite3_stmt* rest_raw = nullptr;
    Check(db(), sqlite3_prepare_v2(db(), tail, static_cast<int>(end - tail), &rest_raw, nullptr));
    if (StatementHandle rest(rest_raw); rest)
      throw DatabaseError("A prepared statement text may hold only one statement", "42000");
    return std::make_unique<SqliteStatement>(std::move(statement), watchdog_, timeouts_.command_seconds);
  }

  std::unique_ptr<Cursor> CallProcedure(std::string_view, const std::vector<Parameter>&, bool) override {
    throw DatabaseError("SQLite has no stored procedures", "HYC00");
  }

  std::vector<std::string> Tables() override {
    std::vector<std::string> names;
    for (const auto& row : QueryTexts(db(),
                                      "SELECT name FROM sqlite_master WHERE type IN ('table', 'view') "
                                      "AND name NOT LIKE 'sqlite\\_%' ESCAPE '\\' "
                                      "ORDER BY type = 'view', name COLLATE NOCASE",
                                      {}))
      names.push_back(text::Utf8ToAnsi(row[0]));
    return names;
  }

  std::vector<ForeignKeyRow> ForeignKeys() override {
    std::vector<ForeignKeyRow> result;
    for (const std::string& table : TableNames()) {
      // Keys are listed with the last declared first: id descending is declaration order.
      const auto pairs = QueryTexts(db(),
                                    "SELECT id, \"table\", \"from\", coalesce(\"to\", '') "
                                    "FROM pragma_foreign_key_list(?1) ORDER BY id DESC, seq",
                                    {table});
      if (pairs.empty()) continue;
      std::vector<sqlite::ForeignKeyClause> clauses =
          sqlite::ParseCreateTable(CreateText(table)).foreign_keys;
      std::vector<bool> used(clauses.size(), false);
      int unnamed = 0;
      for (std::size_t first = 0; first < pairs.size();) {
        std::size_t last = first;
        while (last < pairs.size() && pairs[last][0] == pairs[first][0]) ++last;
        std::vector<std::string> from;
        for (std::size_t i = first; i < last; ++i) from.push_back(pairs[i][2]);
        const std::string& parent = pairs[first][1];
        std::string name;
        if (const auto clause = MatchClause(clauses, used, from, parent);
            clause && !clauses[*clause].name.empty())
          name = clauses[*clause].name;
        else
          name = fmt::format("FK_{}_{}", table, ++unnamed);
        std::vector<std::string> parent_key;
        for (std::size_t i = first; i < last; ++i) {
          std::string to = pairs[i][3];
          if (to.empty()) {  // REFERENCES parent without columns: the parent's primary key
            if (parent_key.empty()) parent_key = PrimaryKeyColumns(parent);
            if (i - first < parent_key.size()) to = parent_key[i - first];
          }
          result.push_back({current_, text::Utf8ToAnsi(parent), text::Utf8ToAnsi(to), current_,
                            text::Utf8ToAnsi(table), text::Utf8ToAnsi(pairs[i][2]), text::Utf8ToAnsi(name)});
        }
        first = last;
      }
    }
    return result;
  }

  std::vector<PrimaryKeyRow> PrimaryKeys() override {
    std::vector<PrimaryKeyRow> result;
    for (const std::string& table : TableNames()) {
      if (PrimaryKeyColumns(table).empty()) continue;
      result.push_back({current_, text::Utf8ToAnsi(table), text::Utf8ToAnsi(PrimaryKeyName(table))});
    }
    return result;
  }

  std::vector<std::string> Catalogs() override {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder_, error))
      if (IsDatabaseFile(entry)) names.push_back(text::Utf8ToAnsi(entry.path().stem().string()));
    if (error)
      throw DatabaseError(
          fmt::format("Cannot read the database folder '{}': {}", folder_ansi_, error.message()),
          std::string(kGeneralError));
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
      const auto lower = [](std::string s) {
        for (char& c : s)
          if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        return s;
      };
      return std::make_pair(lower(a), a) < std::make_pair(lower(b), b);
    });
    return names;
  }

  std::vector<ColumnInfo> Columns(std::string_view table) override {
    const std::string utf8 = ExistingTable(table);
    const auto alias = RowidAlias(db(), "main", utf8);
    std::vector<ColumnInfo> columns;
    for (const auto& row : QueryTexts(db(),
                                      "SELECT name, type, \"notnull\", hidden FROM pragma_table_xinfo(?1) "
                                      "ORDER BY cid",
                                      {utf8})) {
      if (row[3] == "1") continue;  // hidden column of a virtual table
      ColumnInfo& info = columns.emplace_back();
      info.name = text::Utf8ToAnsi(row[0]);
      info.type_name = text::Utf8ToAnsi(row[1]);
      ApplyDeclaredType(info, row[1]);
      if (info.field_type == FieldType::Unknown)
        info.field_type = FieldType::Memo;  // declared without a type
      info.nullable = row[2] == "0" && !(alias && *alias == row[0]);
    }
    return columns;
  }

  std::vector<IndexInfo> Indexes(std::string_view table) override {
    const std::string utf8 = ExistingTable(table);
    std::vector<IndexInfo> result;
    // Listed with the newest first: seq descending is creation order.
    for (const auto& row : QueryTexts(
             db(), "SELECT name, \"unique\", origin FROM pragma_index_list(?1) ORDER BY seq DESC", {utf8})) {
      IndexInfo index;
      index.primary = row[2] == "pk";
      index.unique = row[1] != "0";
      index.name = text::Utf8ToAnsi(index.primary ? PrimaryKeyName(utf8) : row[0]);
      std::string fields;
      for (const auto& column :
           QueryTexts(db(), "SELECT coalesce(name, '') FROM pragma_index_info(?1) ORDER BY seqno", {row[0]}))
        fields += (fields.empty() ? "" : ";") + column[0];
      index.fields = text::Utf8ToAnsi(fields);
      result.insert(index.primary ? result.begin() : result.end(), std::move(index));
    }
    // A rowid alias is the table's own key and has no index entry of its own.
    const bool has_primary = !result.empty() && result.front().primary;
    if (const auto alias = RowidAlias(db(), "main", utf8); alias && !has_primary)
      result.insert(result.begin(),
                    IndexInfo{text::Utf8ToAnsi(PrimaryKeyName(utf8)), text::Utf8ToAnsi(*alias), true, true});
    return result;
  }

  void BeginTransaction() override { Execute("BEGIN"); }
  void Commit() override { Execute("COMMIT"); }
  void Rollback() override {
    // After some errors (a full disk, an I/O error) SQLite has rolled the transaction back itself;
    // the changes are undone, and a ROLLBACK would only fail and cast doubt on that.
    if (sqlite3_get_autocommit(db()) != 0) return;
    Execute("ROLLBACK");
  }

 private:
  sqlite3* db() const { return db_.get(); }

  // Opens and sets up a database handle; the file must be a database.
  DatabaseHandle OpenFile(const std::string& path, int flags) {
    sqlite3* raw = nullptr;
    // A connection and its statements are used by one thread at a time: SQLite need not lock
    // its own mutex around every call (a column read, a bind).
    const int rc =
        sqlite3_open_v2(path.c_str(), &raw, flags | SQLITE_OPEN_EXRESCODE | SQLITE_OPEN_NOMUTEX, nullptr);
    DatabaseHandle handle(raw);
    if (!handle) throw DatabaseError("Out of memory opening a database", std::string(kGeneralError), rc);
    if (rc != SQLITE_OK) ThrowError(handle.get());
    const int busy_ms = timeouts_.connection_seconds <= 0 || timeouts_.connection_seconds > INT_MAX / 1000
                            ? INT_MAX
                            : timeouts_.connection_seconds * 1000;
    sqlite3_busy_timeout(handle.get(), busy_ms);
    sqlite3_progress_handler(handle.get(), kProgressSteps, &Watchdog::Check, &watchdog_);
    // A 16 MiB page cache (SQLite's default is 2 MiB) keeps the indexes that the row-by-row
    // lookups of a merge walk in memory; it bounds the memory of a connection as well.
    Check(handle.get(), sqlite3_exec(handle.get(),
                                     "PRAGMA foreign_keys = ON; PRAGMA cache_size = -16384; "
                                     "SELECT count(*) FROM sqlite_master",
                                     nullptr, nullptr, nullptr));
    return handle;
  }

  // The file name (UTF-8, without folder and extension) a database name may have.
  static std::string CheckedFileName(std::string_view name) {
    if (IsMaster(name) || name == "." || name == ".." ||
        name.find_first_of(std::string_view("/\\\0", 3)) != std::string_view::npos)
      throw DatabaseError(fmt::format("Invalid database name '{}'", name), std::string(kGeneralError));
    return text::AnsiToUtf8(name);
  }

  // The file of a database: NAME.db, or a *.db file whose name differs only in case; a name
  // typed with its ".db" suffix, as the folder shows it, finds the same file.
  std::optional<fs::path> FindDatabaseFile(std::string_view name) const {
    if (auto file = FindDatabaseFileOf(name)) return file;
    constexpr std::string_view kSuffix = ".db";
    if (name.size() > kSuffix.size() &&
        EqualsIgnoreCaseAscii(name.substr(name.size() - kSuffix.size()), kSuffix))
      return FindDatabaseFileOf(name.substr(0, name.size() - kSuffix.size()));
    return std::nullopt;
  }

  std::optional<fs::path> FindDatabaseFileOf(std::string_view name) const {
    if (name.empty() || name == "." || name == ".." ||
        name.find_first_of(std::string_view("/\\\0", 3)) != std::string_view::npos)
      return std::nullopt;
    const std::string utf8 = text::AnsiToUtf8(name);
    std::error_code error;
    const fs::path exact = folder_ / (utf8 + ".db");
    if (fs::is_regular_file(exact, error)) return exact;
    for (const auto& entry : fs::directory_iterator(folder_, error))
      if (IsDatabaseFile(entry) && EqualsIgnoreCaseAscii(entry.path().stem().string(), utf8))
        return entry.path();
    return std::nullopt;
  }

  // The UTF-8 name of a table or view, as the database spells it; throws when there is none.
  std::string ExistingTable(std::string_view table) {
    const auto rows = QueryTexts(db(),
                                 "SELECT name FROM sqlite_master WHERE type IN ('table', 'view') "
                                 "AND name = ?1 COLLATE NOCASE",
                                 {text::AnsiToUtf8(table)});
    if (rows.empty()) throw DatabaseError(fmt::format("no such table: {}", table), "42S02");
    return rows[0][0];
  }

  std::vector<std::string> TableNames() {
    std::vector<std::string> names;
    for (const auto& row :
         QueryTexts(db(),
                    "SELECT name FROM sqlite_master WHERE type = 'table' "
                    "AND name NOT LIKE 'sqlite\\_%' ESCAPE '\\' ORDER BY name COLLATE NOCASE",
                    {}))
      names.push_back(row[0]);
    return names;
  }

  std::string CreateText(const std::string& table) {
    const auto rows =
        QueryTexts(db(), "SELECT sql FROM sqlite_master WHERE type = 'table' AND name = ?1", {table});
    return rows.empty() ? std::string() : rows[0][0];
  }

  std::vector<std::string> PrimaryKeyColumns(const std::string& table) {
    std::vector<std::string> names;
    for (const auto& row :
         QueryTexts(db(), "SELECT name FROM pragma_table_info(?1) WHERE pk > 0 ORDER BY pk", {table}))
      names.push_back(row[0]);
    return names;
  }

  // The primary key's constraint name, or PK_<table> when the key has none.
  std::string PrimaryKeyName(const std::string& table) {
    std::string name = sqlite::ParseCreateTable(CreateText(table)).primary_key_name;
    return name.empty() ? "PK_" + table : name;
  }

  // The first unused clause of a key with these referencing columns and this parent.
  static std::optional<std::size_t> MatchClause(const std::vector<sqlite::ForeignKeyClause>& clauses,
                                                std::vector<bool>& used, const std::vector<std::string>& from,
                                                const std::string& parent) {
    for (std::size_t i = 0; i < clauses.size(); ++i) {
      const auto& clause = clauses[i];
      if (used[i] || !EqualsIgnoreCaseAscii(clause.parent, parent) || clause.columns.size() != from.size())
        continue;
      if (!std::equal(from.begin(), from.end(), clause.columns.begin(), EqualsIgnoreCaseAscii)) continue;
      used[i] = true;
      return i;
    }
    return std::nullopt;
  }

  std::string folder_ansi_;
  fs::path folder_;
  Timeouts timeouts_;
  Watchdog watchdog_;
  DatabaseHandle db_;
  std::string current_;
};

}  // namespace

std::unique_ptr<BackendConnection> OpenSqliteBackend(const ResolvedConnection& target,
                                                     const Timeouts& timeouts) {
  auto connection = std::make_unique<SqliteConnection>(target.folder, timeouts);
  connection->SetCurrentDatabase(target.initial_catalog);
  return connection;
}

}  // namespace tamaril::dbaccess
