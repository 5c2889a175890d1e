#include "dbstruct/sqlite/sqlite_structure.h"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <optional>
#include <regex>
#include <utility>

#include <fmt/format.h>
#include <fmt/printf.h>

#include "dataset/date_codec.h"
#include "dataset/field.h"
#include "dataset/memory_table.h"
#include "dbstruct/errors.h"
#include "text/ascii.h"

namespace tamaril::dbstruct {

namespace {

using dataset::FieldType;
using dbaccess::Value;

bool SameText(std::string_view a, std::string_view b) { return text::EqualsIgnoreCaseAscii(a, b); }

bool Contains(const std::vector<std::string>& names, std::string_view name) {
  return std::any_of(names.begin(), names.end(), [&](const std::string& n) { return SameText(n, name); });
}

// An index the setup script made for the merge's lookups ("rep_ux_…" or "rep_ix_…").
bool IsSetupIndexName(std::string_view name) {
  return name.size() > 7 &&
         (SameText(name.substr(0, 7), "rep_ux_") || SameText(name.substr(0, 7), "rep_ix_"));
}

// A date-time or time text "….mmm" without its milliseconds when they are zero.
std::string WithoutZeroMilliseconds(std::string text) {
  if (text.ends_with(".000")) text.resize(text.size() - 4);
  return text;
}

bool SizedText(FieldType type) {
  return type == FieldType::String || type == FieldType::FixedChar || type == FieldType::WideString;
}

// The range of a 16- or 32-bit integer field type; nothing for other types.
std::optional<std::pair<std::int64_t, std::int64_t>> IntegerLimits(FieldType type) {
  switch (type) {
    case FieldType::Smallint: return std::pair<std::int64_t, std::int64_t>{INT16_MIN, INT16_MAX};
    case FieldType::Word: return std::pair<std::int64_t, std::int64_t>{0, UINT16_MAX};
    case FieldType::Integer:
    case FieldType::AutoInc: return std::pair<std::int64_t, std::int64_t>{INT32_MIN, INT32_MAX};
    default: return std::nullopt;
  }
}

// Whether integers from `least` to `most` go beyond the range of `type` (which has one).
bool OutsideLimits(FieldType type, const Value& least, const Value& most) {
  const auto [low, high] = *IntegerLimits(type);
  return least.AsInteger() < low || most.AsInteger() > high;
}

// SQL's remainder: the sign of the dividend.
std::int32_t Remainder(std::int32_t value, std::int32_t divisor) {
  return divisor == 0 ? 0 : value % divisor;
}

}  // namespace

std::string QuoteName(std::string_view name) {
  std::string quoted = "\"";
  for (char c : name) {
    quoted += c;
    if (c == '"') quoted += '"';
  }
  return quoted + '"';
}

// ---------------------------------------------------------------------------------------------
// Table structure

namespace {

/// A lookup as a prepared statement whose rows go straight from the cursor into a memory
/// table: no dataset is opened over the statement for every lookup.
class tStatementLookup : public tKeyedTbl_Structure::tRowLookup {
 public:
  tStatementLookup(std::unique_ptr<dbaccess::Statement> statement,
                   std::function<void(dataset::TDataSet&, dbaccess::Statement&)> fill)
      : statement_(std::move(statement)), fill_(std::move(fill)) {}
  void Fill(dataset::TDataSet& source) override { fill_(source, *statement_); }
  void SetKey(const Value& value) override { statement_->SetParameter(std::size_t{0}, value); }
  std::shared_ptr<dataset::TQVMmemDataSet> Run() override;

 private:
  /// A memory table that can be emptied for the next run as if it were new.
  class tRowsTable : public dataset::TQVMMemoryTable {
   public:
    void Restart() {
      EmptyTable();
      DiscardRecords();
    }
  };

  std::unique_ptr<dbaccess::Statement> statement_;
  std::function<void(dataset::TDataSet&, dbaccess::Statement&)> fill_;
  std::string layout_;                ///< of the rows, known after the first match
  std::shared_ptr<tRowsTable> rows_;  ///< the last rows handed out, refilled once no one holds them
};

std::shared_ptr<dataset::TQVMmemDataSet> tStatementLookup::Run() {
  std::unique_ptr<dbaccess::Cursor> cursor = statement_->Open();
  if (!cursor->Next()) return nullptr;
  if (layout_.empty()) layout_ = dataset::BuildFieldLayout(dbaccess::FieldDefsFromColumns(cursor->Columns()));
  if (rows_ && rows_.use_count() == 1) {
    rows_->Restart();
  } else {
    rows_ = std::make_shared<tRowsTable>();
    rows_->SetFieldLayout(layout_);
    rows_->Open();
  }
  tRowsTable* rows = rows_.get();
  do {
    dataset::TQVMMemRecord* record = rows->NewRecord();
    for (const dataset::TFieldDesc& desc : rows->FieldDescs()) {
      record->SetValue(desc.FieldNo,
                       dbaccess::ValueToFieldVariant(cursor->Get(desc.FieldNo - 1u), desc.DataType));
    }
  } while (cursor->Next());
  rows->First();
  return rows_;
}

}  // namespace

tSQLiteTbl_Structure::tSQLiteTbl_Structure(tSQLiteDatabase_Structure& database)
    : tKeyedTbl_Structure(database), db_(database) {}

tSQLiteTbl_Structure::~tSQLiteTbl_Structure() = default;

std::string tSQLiteTbl_Structure::QuoteIdentifier(std::string_view name) const { return QuoteName(name); }

void tSQLiteTbl_Structure::LoadStructure(const std::string& table_name) {
  ResetStructure(table_name);
  dbaccess::Connection& connection = Conn();

  const std::vector<dbaccess::ColumnInfo> columns = connection.Columns(table_name);
  for (const auto& column : columns) {
    FieldDefs.push_back({column.name, column.field_type,
                         column.field_type == FieldType::BCD ? column.precision : column.size,
                         column.nullable.has_value() && !*column.nullable});
  }

  ReadIndexes(connection.Indexes(table_name));

  // A view has neither a RowGuid nor an identity column, whatever its columns' declared types.
  auto kind = connection.Prepare(
      "SELECT type, sql FROM sqlite_master WHERE type IN ('table', 'view') AND name = :t COLLATE NOCASE");
  kind->SetParameter("t", Value::Text(table_name));
  auto kind_rows = kind->Open();
  IsView = false;
  WithoutRowid = false;
  if (kind_rows->Next()) {
    IsView = kind_rows->Get(0).AsString() == "view";
    // The table options follow the closing parenthesis of the column list.
    const std::string sql = kind_rows->Get(1).IsNull() ? std::string() : kind_rows->Get(1).AsString();
    static const std::regex kWithoutRowid(R"(\bWITHOUT\s+ROWID\b)", std::regex::icase);
    const std::size_t close = sql.rfind(')');
    WithoutRowid =
        !IsView && close != std::string::npos &&
        std::regex_search(sql.begin() + static_cast<std::ptrdiff_t>(close), sql.end(), kWithoutRowid);
  }
  kind_rows.reset();

  static const std::regex kRowGuid(R"(^\s*UNIQUEIDENTIFIER\s+ROWGUIDCOL\s*$)", std::regex::icase);
  static const std::regex kIdentity(R"(IDENTITY\s*(\(\s*([-+]?\d+)\s*,\s*([-+]?\d+)\s*\))?)",
                                    std::regex::icase);
  for (const auto& column : IsView ? std::vector<dbaccess::ColumnInfo>() : columns) {
    if (RowGuidColumn.empty() && std::regex_match(column.type_name, kRowGuid)) RowGuidColumn = column.name;
    std::smatch match;
    if (IdentityColumn.empty() && column.field_type == FieldType::AutoInc &&
        Contains(PrimaryKeyFields, column.name) && std::regex_search(column.type_name, match, kIdentity)) {
      IdentityColumn = column.name;
      IdentitySeed = match[1].matched ? std::stoi(match[2].str()) : 1;
      IdentityIncrement = match[1].matched ? std::stoi(match[3].str()) : 1;
    }
  }

  auto computed =
      connection.Prepare("SELECT name FROM pragma_table_xinfo(:t) WHERE hidden IN (2, 3) ORDER BY cid");
  computed->SetParameter("t", Value::Text(table_name));
  for (auto rows = computed->Open(); rows->Next();) ComputedColumns.push_back(rows->Get(0).AsString());

  // The identity and RowGuid triggers stand for the server's column behaviour, not for triggers
  // of the application.
  auto triggers = connection.Prepare(
      "SELECT sql FROM sqlite_master WHERE type = 'trigger' AND tbl_name = :t COLLATE NOCASE "
      "AND name <> :id COLLATE NOCASE AND name <> :guid COLLATE NOCASE");
  triggers->SetParameter("t", Value::Text(table_name));
  triggers->SetParameter("id", Value::Text(IdentityTriggerName()));
  triggers->SetParameter("guid", Value::Text(GuidTriggerName()));
  for (auto rows = triggers->Open(); rows->Next();) {
    const std::string event = TriggerEvent(rows->Get(0).AsString());
    if (SameText(event, "DELETE")) HasDeleteTrigger = true;
    if (SameText(event, "INSERT")) HasInsertTrigger = true;
    if (SameText(event, "UPDATE")) HasUpdateTrigger = true;
  }

  if (!IdentityColumn.empty()) {
    auto max = connection.Prepare(fmt::format("SELECT MAX({0}) FROM {1} WHERE ({0} % :incr) = :rest",
                                              QuoteName(IdentityColumn), QuoteName(TableName)));
    max->SetParameter("incr", Value::Integer(IdentityIncrement));
    max->SetParameter("rest", Value::Integer(Remainder(IdentitySeed, IdentityIncrement)));
    auto rows = max->Open();
    IdentityReseedValue = rows->Next() ? static_cast<std::int32_t>(rows->Get(0).AsInteger()) : 0;
    if (IdentityReseedValue == 0) IdentityReseedValue = IdentitySeed;
  }
  Identifiable = !RowGuidColumn.empty() || !IntKeyColumn.empty();
}

void tSQLiteTbl_Structure::CreateIdentityTrigger() {
  const std::string sql = IdentityTriggerSql();
  if (sql.empty()) return;
  auto exists =
      Conn().Prepare("SELECT 1 FROM sqlite_master WHERE type = 'trigger' AND name = :n COLLATE NOCASE");
  exists->SetParameter("n", Value::Text(IdentityTriggerName()));
  if (exists->Open()->Next()) return;
  exists.reset();
  Conn().Execute(sql);
}

std::string tSQLiteTbl_Structure::IdentityTriggerSql() const {
  if (IdentityColumn.empty()) return {};
  const std::string id = QuoteName(IdentityColumn);
  const std::string table = QuoteName(TableName);
  // The next value after the largest one on this table's own progression, or the seed.
  return fmt::format(
      "CREATE TRIGGER {0} AFTER INSERT ON {1} FOR EACH ROW WHEN NEW.{2} IS NULL BEGIN "
      "UPDATE {1} SET {2} = COALESCE((SELECT MAX({2}) + {3} FROM {1} WHERE ({2} % {3}) = {5}), {4}) "
      "WHERE {6}; END",
      QuoteName(IdentityTriggerName()), table, id, IdentityIncrement, IdentitySeed,
      Remainder(IdentitySeed, IdentityIncrement), NewRowCondition());
}

std::string tSQLiteTbl_Structure::GuidTriggerSql(const std::string& guid_column) const {
  if (guid_column.empty()) return {};
  const std::string guid = QuoteName(guid_column);
  const std::string table = QuoteName(TableName);
  // 32 random hex digits (hex() writes upper case) in 8-4-4-4-12 groups, with the version digit 4
  // and the variant digit 8, 9, A or B of a random GUID.
  return fmt::format(
      "CREATE TRIGGER {0} AFTER INSERT ON {1} FOR EACH ROW WHEN NEW.{2} IS NULL BEGIN "
      "UPDATE {1} SET {2} = (SELECT '{{' || substr(h, 1, 8) || '-' || substr(h, 9, 4) || '-4' || "
      "substr(h, 14, 3) || '-' || substr('89AB', 1 + (random() & 3), 1) || substr(h, 18, 3) || '-' || "
      "substr(h, 21, 12) || '}}' FROM (SELECT hex(randomblob(16)) AS h)) "
      "WHERE {3}; END",
      QuoteName(GuidTriggerName()), table, guid, NewRowCondition());
}

std::string tSQLiteTbl_Structure::NewRowCondition() const {
  if (!WithoutRowid) return "rowid = NEW.rowid";
  // A table without rowid has a primary key whose columns are never NULL.
  std::string condition;
  for (const std::string& column : PrimaryKeyFields) {
    condition += (condition.empty() ? "" : " AND ") + QuoteName(column) + " = NEW." + QuoteName(column);
  }
  return condition;
}

std::unique_ptr<tKeyedTbl_Structure::tRowLookup> tSQLiteTbl_Structure::MakeLookup(
    const std::string& condition) {
  return std::make_unique<tStatementLookup>(
      Conn().Prepare("SELECT * FROM " + QuoteName(TableName) + " WHERE " + condition),
      [this](dataset::TDataSet& source, dbaccess::Statement& statement) {
        FillParameters(&source, statement);
      });
}

Value tSQLiteTbl_Structure::DateValue(double date) const {
  return Value::Text(db_.FormatDateTimeLiteral(date).substr(0, 10));
}

Value tSQLiteTbl_Structure::DateTimeValue(double date_time) const {
  return Value::Text(WithoutZeroMilliseconds(db_.FormatDateTimeLiteral(date_time)));
}

Value tSQLiteTbl_Structure::TimeValue(double time) const {
  return Value::Text(WithoutZeroMilliseconds(db_.FormatTimeLiteral(time)));
}

Value tSQLiteTbl_Structure::NowValue(FieldType type) const {
  const double now = NowAsDateTime();
  if (type == FieldType::Time) return TimeValue(now);
  return type == FieldType::Date ? DateValue(now) : DateTimeValue(now);
}

int tSQLiteTbl_Structure::CountTableRows(const std::string& where_part,
                                         std::vector<dbaccess::FieldRoom>& room) {
  // The declared size of a text and the range of a 16- or 32-bit integer type are not what
  // SQLite holds a column to: the rows are measured in the pass that counts them. An integer
  // column is measured by its plain least and greatest values: SQLite orders every number
  // before every text and block, so when both are integers they are the least and greatest of
  // its integers. Otherwise (reals, texts or blocks at an end) a second pass measures its
  // integers alone.
  std::string select = "Select Count(*)";
  std::vector<const tColumnDef*> measured;
  for (const tColumnDef& def : FieldDefs) {
    const std::string column = QuoteName(def.Name);
    if (SizedText(def.DataType)) {
      select += ", max(length(" + column + "))";
    } else if (IntegerLimits(def.DataType)) {
      select += fmt::format(", min({0}), max({0})", column);
    } else {
      continue;
    }
    measured.push_back(&def);
  }
  if (measured.empty()) return tKeyedTbl_Structure::CountTableRows(where_part, room);
  const std::string from = " from " + QuoteName(TableName) + " " + where_part;
  auto rows = Conn().Query(select + from);
  if (!rows->Next()) return 0;
  const auto integer_or_null = [](const Value& value) {
    return value.IsNull() || value.kind() == dbaccess::ValueKind::Integer;
  };
  std::string exact;  // the second pass's integer ranges
  std::vector<const tColumnDef*> mixed;
  std::size_t column = 1;
  for (const tColumnDef* def : measured) {
    if (SizedText(def->DataType)) {
      const Value& longest = rows->Get(column++);
      if (!longest.IsNull() && longest.AsInteger() > def->Precision)
        room.push_back(
            {def->Name, static_cast<int>(std::min<std::int64_t>(longest.AsInteger(), INT32_MAX)), false});
      continue;
    }
    const Value& least = rows->Get(column++);
    const Value& most = rows->Get(column++);
    if (!integer_or_null(least) || !integer_or_null(most)) {
      exact += fmt::format(
          "{1}min(CASE WHEN typeof({0}) = 'integer' THEN {0} END), max(CASE WHEN typeof({0}) = 'integer' "
          "THEN {0} END)",
          QuoteName(def->Name), exact.empty() ? "" : ", ");
      mixed.push_back(def);
    } else if (!least.IsNull() && OutsideLimits(def->DataType, least, most)) {
      room.push_back({def->Name, 0, true});
    }
  }
  const int count = rows->Get(0).IsNull() ? 0 : static_cast<int>(rows->Get(0).AsInteger());
  if (mixed.empty()) return count;
  rows.reset();
  auto integers = Conn().Query("Select " + exact + from);
  if (!integers->Next()) return count;
  column = 0;
  for (const tColumnDef* def : mixed) {
    const Value& least = integers->Get(column++);
    const Value& most = integers->Get(column++);
    if (!least.IsNull() && OutsideLimits(def->DataType, least, most)) room.push_back({def->Name, 0, true});
  }
  return count;
}

std::string tSQLiteTbl_Structure::DeleteKeyText(const Value&) const { return ":KEY"; }

std::int64_t tSQLiteTbl_Structure::DeleteSelectedRows(const tTbl_Structure& table, const std::string& alias,
                                                      const std::string& clause, const Value& key) {
  auto statement =
      Conn().Prepare(fmt::format("DELETE FROM {0} WHERE rowid IN (SELECT {1}.rowid FROM {0} {1} {2})",
                                 QuoteName(table.GetTableName()), alias, clause));
  statement->SetParameter("KEY", key);
  return statement->Execute();
}

void tSQLiteTbl_Structure::BeginWrite() {
  dbaccess::Connection& connection = Conn();
  // Dropped triggers come back only through EndWrite or a rollback; outside a transaction a
  // failure in between would lose them for good.
  if (!connection.InTransaction())
    throw StructureError("BeginWrite on " + TableName + " needs an open transaction");
  auto query = connection.Prepare(
      "SELECT name, sql FROM sqlite_master WHERE type = 'trigger' AND tbl_name = :t COLLATE NOCASE ORDER BY "
      "rowid");
  query->SetParameter("t", Value::Text(TableName));
  std::vector<tSavedTrigger> triggers;
  bool kept_trigger = false;
  for (auto rows = query->Open(); rows->Next();) {
    std::string name = rows->Get(0).AsString();
    if (SameText(name, IdentityTriggerName())) continue;
    if (Contains(KeepEnabledTriggers, name)) {
      // The phase inserts and updates; what a delete trigger does happens outside it.
      if (!SameText(TriggerEvent(rows->Get(1).AsString()), "DELETE")) kept_trigger = true;
      continue;
    }
    triggers.push_back({std::move(name), rows->Get(1).AsString()});
  }
  query.reset();
  for (const auto& trigger : triggers) {
    connection.Execute("DROP TRIGGER " + QuoteName(trigger.Name));
    saved_triggers_.push_back(trigger);
  }
  // An insert or update trigger left on could write rows the phase would not know of.
  if (!kept_trigger && HoldsNoRow()) SetIndexesAside();
  in_write_phase_ = true;
  kept_write_trigger_ = kept_trigger;
}

bool tSQLiteTbl_Structure::WriteTriggersMayFire() const {
  return in_write_phase_ ? kept_write_trigger_ : tKeyedTbl_Structure::WriteTriggersMayFire();
}

void tSQLiteTbl_Structure::CloseData() {
  in_write_phase_ = false;
  tKeyedTbl_Structure::CloseData();
}

bool tSQLiteTbl_Structure::HoldsNoRow() {
  auto rows = Conn().Query("SELECT 1 FROM " + QuoteName(TableName) + " LIMIT 1");
  return !rows->Next();
}

void tSQLiteTbl_Structure::SetIndexesAside() {
  // Every row the phase finds was written by it, so the RowGuid lookup is answered from
  // memory. The indexes the setup made for that lookup and for the master deletions' joins
  // serve nothing until the phase ends; filling them row by row in random order would cost
  // more than building them from the finished table. A table that refers to itself keeps its
  // join indexes: its master checks may use them.
  BeginFreshWrite();
  const std::string guid_column = IdentifyingGuidColumn();
  const bool refers_to_itself = Masters().FindByMaster(this) != nullptr;
  std::vector<std::string> aside;
  for (const tIndexDef& index : IndexDefs) {
    if (index.Primary || !IsSetupIndexName(index.Name)) continue;
    const std::vector<std::string> columns = SplitFields(index.Fields);
    const bool guid_index =
        index.Unique && columns.size() == 1 && !guid_column.empty() && SameText(columns.front(), guid_column);
    if (guid_index || (!index.Unique && !refers_to_itself)) aside.push_back(index.Name);
  }
  if (aside.empty()) return;
  auto query = Conn().Prepare(
      "SELECT sql FROM sqlite_master WHERE type = 'index' AND name = :n COLLATE NOCASE AND sql IS NOT NULL");
  for (const std::string& name : aside) {
    query->SetParameter("n", Value::Text(name));
    auto rows = query->Open();
    if (!rows->Next()) continue;
    tSavedTrigger index{name, rows->Get(0).AsString()};
    rows.reset();
    Conn().Execute("DROP INDEX " + QuoteName(index.Name));
    saved_indexes_.push_back(std::move(index));
  }
}

void tSQLiteTbl_Structure::EndWrite() {
  in_write_phase_ = false;
  EndFreshWrite();
  if (saved_triggers_.empty() && saved_indexes_.empty()) return;
  dbaccess::Connection& connection = Conn();
  auto exists = connection.Prepare(
      "SELECT 1 FROM sqlite_master WHERE type IN ('trigger', 'index') AND name = :n COLLATE NOCASE");
  // After a rollback the objects are back already.
  for (std::vector<tSavedTrigger>* saved : {&saved_indexes_, &saved_triggers_}) {
    while (!saved->empty()) {
      const tSavedTrigger& object = saved->front();
      exists->SetParameter("n", Value::Text(object.Name));
      if (!exists->Open()->Next()) connection.Execute(object.Sql);
      saved->erase(saved->begin());
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Database structure

tSQLiteDatabase_Structure::tSQLiteDatabase_Structure(dbaccess::Connection* connection)
    : tDatabase_Structure(connection) {}

void tSQLiteDatabase_Structure::GetTableNames(std::vector<std::string>& names) {
  if (Connection() == nullptr) throw StructureError("Database structure has no connection");
  names = Connection()->Tables();
}

std::unique_ptr<tTbl_Structure> tSQLiteDatabase_Structure::CreateTableStructure() {
  return std::make_unique<tSQLiteTbl_Structure>(*this);
}

void tSQLiteDatabase_Structure::LoadForeignKeys() {
  for (const auto& row : Connection()->ForeignKeys()) {
    AddForeignKey(row.PK_TABLE_NAME, row.FK_TABLE_NAME, row.FK_NAME, row.PK_COLUMN_NAME, row.FK_COLUMN_NAME);
  }
  for (const auto& row : Connection()->PrimaryKeys()) {
    auto* table = static_cast<tSQLiteTbl_Structure*>(FindTable(row.TABLE_NAME));
    if (table != nullptr && table->HasPrimaryKey) table->PrimaryKeyIndexName = row.PK_NAME;
  }
}

std::unique_ptr<tPropAccessor> tSQLiteDatabase_Structure::CreatePropAccessor(
    dbaccess::Connection& connection) const {
  return std::make_unique<tSQLitePropAccessor>(connection);
}

void tSQLiteDatabase_Structure::CreateIdentityTriggers() {
  for (int i = 0; i < TableCount(); ++i) SQLiteTable(i).CreateIdentityTrigger();
}

std::string tSQLiteDatabase_Structure::DefaultRulesStatement(bool import_rules) const {
  const std::string assignments =
      import_rules
          ? "DefAppendRule=a.AppendRule, DefUpdateRule=a.UpdateRule, DefUpdateFieldRule=a.UpdateFieldRule, "
            "DefDeleteRule=a.DeleteRule, DefIgnoreRowGuidField=a.IgnoreRowGuidField "
          : "DefExportRule=a.ExportRule ";
  return "UPDATE rep_TBLDESC SET " + assignments + "FROM " +
         (import_rules ? "rep_DEFIMPORT" : "rep_DEFEXPORT") +
         " a WHERE a.Signature=:Signature AND a.TABLENAME=rep_TBLDESC.TABLENAME";
}

namespace {

// A text between single quotes in SQLite: its own quotes doubled.
std::string SqlText(std::string_view text) {
  std::string quoted = "'";
  for (const char c : text) {
    quoted += c;
    if (c == '\'') quoted += '\'';
  }
  return quoted + "'";
}

}  // namespace

std::vector<std::string> tSQLiteDatabase_Structure::ExportLogBatch(
    const std::string& signature, int export_no, double export_time,
    const std::vector<std::pair<std::string, int>>& counts) const {
  const std::string sig = SqlText(signature);
  std::vector<std::string> statements;
  statements.push_back(
      fmt::format("INSERT INTO rep_XPORTLOG (Signature, EXPORTNO, EXPORTDATE) VALUES ({}, {}, {})", sig,
                  export_no, SqlText(FormatDateTimeLiteral(export_time))));
  for (const auto& [table, rows] : counts) {
    statements.push_back(fmt::format(
        "INSERT INTO rep_XPORTLOGDETAIL (Signature, EXPORTNO, TABLENAME, COUNTRECORDS) VALUES ({}, {}, "
        "{}, {})",
        sig, export_no, SqlText(table), rows));
  }
  statements.push_back(fmt::format(
      "UPDATE rep_DEFEXPORT SET LastExportDate = (SELECT c.SERVEREXPORTDATE FROM rep_XPORTLOG c "
      "WHERE c.Signature = {0} AND c.EXPORTNO = {1}) "
      "WHERE Signature = {0} AND TABLENAME COLLATE NOCASE IN (SELECT b.TABLENAME FROM rep_XPORTLOGDETAIL b "
      "WHERE b.Signature = {0} AND b.EXPORTNO = {1})",
      sig, export_no));
  return statements;
}

std::vector<std::string> tSQLiteDatabase_Structure::ImportLogBatch(
    const std::string& signature, int import_no, int export_no, double export_time,
    const std::vector<ImportCounts>& counts) const {
  const std::string sig = SqlText(signature);
  std::vector<std::string> statements;
  statements.push_back(
      fmt::format("INSERT INTO rep_IMPORTLOG (Signature, IMPORTNO, CLIENTEXPORTNO, CLIENTEXPORTDATE) VALUES "
                  "({}, {}, {}, {})",
                  sig, import_no, export_no, SqlText(FormatDateTimeLiteral(export_time))));
  for (const ImportCounts& count : counts) {
    statements.push_back(fmt::format(
        "INSERT INTO rep_IMPORTLOGDETAIL (Signature, IMPORTNO, TABLENAME, COUNT_APPENDED, COUNT_UPDATED, "
        "COUNT_DELETED) VALUES ({}, {}, {}, {}, {}, {})",
        sig, import_no, SqlText(count.table), count.appended, count.updated, count.deleted));
  }
  statements.push_back(fmt::format(
      "UPDATE rep_DEFIMPORT SET LastImportDate = (SELECT c.IMPORTDATE FROM rep_IMPORTLOG c "
      "WHERE c.Signature = {0} AND c.IMPORTNO = {1}) "
      "WHERE Signature = {0} AND TABLENAME COLLATE NOCASE IN (SELECT b.TABLENAME FROM rep_IMPORTLOGDETAIL b "
      "WHERE b.Signature = {0} AND b.IMPORTNO = {1})",
      sig, import_no));
  return statements;
}

std::string tSQLiteDatabase_Structure::CurrentTimeQuery() const {
  return "SELECT strftime('%Y-%m-%d %H:%M:%f','now','localtime')";
}

}  // namespace tamaril::dbstruct
