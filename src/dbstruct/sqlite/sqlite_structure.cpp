#include "dbstruct/sqlite/sqlite_structure.h"

#include <algorithm>
#include <cctype>
#include <ctime>
#include <ostream>
#include <regex>

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

std::vector<std::string> SplitFields(const std::string& fields) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (start <= fields.size()) {
    const std::size_t end = fields.find(';', start);
    const std::string part = fields.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (!part.empty()) parts.push_back(part);
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return parts;
}

std::string Join(const std::vector<std::string>& items, std::string_view separator) {
  std::string result;
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i > 0) result += separator;
    result += items[i];
  }
  return result;
}

// The local date and time now, in days since 30 December 1899.
double NowAsDateTime() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  const std::int64_t day = dataset::DayNumberFromCivil(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
  const std::int32_t ms = (local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec) * 1000;
  return dataset::TimeStampToDateTime({static_cast<std::int32_t>(day), ms});
}

bool IsIntegerKeyType(FieldType type) {
  return type == FieldType::Smallint || type == FieldType::Integer || type == FieldType::Word ||
         type == FieldType::AutoInc;
}

// SQL's remainder: the sign of the dividend.
std::int32_t Remainder(std::int32_t value, std::int32_t divisor) { return divisor == 0 ? 0 : value % divisor; }

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

tSQLiteTbl_Structure::tSQLiteTbl_Structure(tSQLiteDatabase_Structure& database) : db_(database) {}

tSQLiteTbl_Structure::~tSQLiteTbl_Structure() = default;

dbaccess::Connection& tSQLiteTbl_Structure::Conn() const {
  dbaccess::Connection* connection = db_.Connection();
  if (connection == nullptr) throw StructureError("Database structure has no connection");
  return *connection;
}

void tSQLiteTbl_Structure::LoadStructure(const std::string& table_name) {
  CloseData();
  RowGuidColumn.clear();
  IdentityColumn.clear();
  PrimaryKeyFields.clear();
  KeepEnabledTriggers.clear();
  PrimaryKeyIndexName.clear();
  IntKeyColumn.clear();
  FieldDefs.clear();
  IndexDefs.clear();
  ComputedColumns.clear();
  Masters().Clear();
  UniqueIndexCount = 0;
  IdentitySeed = IdentityIncrement = IdentityReseedValue = 0;
  HasPrimaryKey = HasDeleteTrigger = HasInsertTrigger = HasUpdateTrigger = false;
  TableName = table_name;
  dbaccess::Connection& connection = Conn();

  const std::vector<dbaccess::ColumnInfo> columns = connection.Columns(table_name);
  for (const auto& column : columns) {
    FieldDefs.push_back({column.name, column.field_type, column.field_type == FieldType::BCD ? column.precision
                                                                                              : column.size,
                         column.nullable.has_value() && !*column.nullable});
  }

  for (const auto& index : connection.Indexes(table_name)) {
    IndexDefs.push_back({index.name, index.fields, index.primary, index.unique});
    if (index.unique && !index.primary) ++UniqueIndexCount;
    if (index.primary) {
      HasPrimaryKey = true;
      PrimaryKeyFields = SplitFields(index.fields);
      const tSQLiteFieldDef* def = PrimaryKeyFields.size() == 1 ? FindFieldDef(PrimaryKeyFields[0]) : nullptr;
      if (def != nullptr && IsIntegerKeyType(def->DataType)) IntKeyColumn = def->Name;
    }
  }

  // A view has neither a RowGuid nor an identity column, whatever its columns' declared types.
  auto kind = connection.Prepare("SELECT type FROM sqlite_master WHERE name = :t COLLATE NOCASE");
  kind->SetParameter("t", Value::Text(table_name));
  auto kind_rows = kind->Open();
  const bool is_view = kind_rows->Next() && kind_rows->Get(0).AsString() == "view";
  kind_rows.reset();

  static const std::regex kRowGuid(R"(^\s*UNIQUEIDENTIFIER\s+ROWGUIDCOL\s*$)", std::regex::icase);
  static const std::regex kIdentity(R"(IDENTITY\s*(\(\s*([-+]?\d+)\s*,\s*([-+]?\d+)\s*\))?)", std::regex::icase);
  for (const auto& column : is_view ? std::vector<dbaccess::ColumnInfo>() : columns) {
    if (RowGuidColumn.empty() && std::regex_match(column.type_name, kRowGuid)) RowGuidColumn = column.name;
    std::smatch match;
    if (IdentityColumn.empty() && column.field_type == FieldType::AutoInc && Contains(PrimaryKeyFields, column.name) &&
        std::regex_search(column.type_name, match, kIdentity)) {
      IdentityColumn = column.name;
      IdentitySeed = match[1].matched ? std::stoi(match[2].str()) : 1;
      IdentityIncrement = match[1].matched ? std::stoi(match[3].str()) : 1;
    }
  }

  auto computed = connection.Prepare("SELECT name FROM pragma_table_xinfo(:t) WHERE hidden IN (2, 3) ORDER BY cid");
  computed->SetParameter("t", Value::Text(table_name));
  for (auto rows = computed->Open(); rows->Next();) ComputedColumns.push_back(rows->Get(0).AsString());

  auto triggers = connection.Prepare(
      "SELECT sql FROM sqlite_master WHERE type = 'trigger' AND tbl_name = :t COLLATE NOCASE AND name <> :id");
  triggers->SetParameter("t", Value::Text(table_name));
  triggers->SetParameter("id", Value::Text(IdentityTriggerName()));
  static const std::regex kEvent(R"(\b(DELETE|INSERT|UPDATE)(\s+OF\s[\s\S]*?)?\s+ON\s)", std::regex::icase);
  for (auto rows = triggers->Open(); rows->Next();) {
    // The event word before ON tells what fires it.
    const std::string sql = rows->Get(0).AsString();
    std::smatch match;
    if (!std::regex_search(sql, match, kEvent)) continue;
    const std::string event = match[1].str();
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
  if (IdentityColumn.empty()) return;
  const std::string id = QuoteName(IdentityColumn);
  const std::string table = QuoteName(TableName);
  // The next value after the largest one on this table's own progression, or the seed.
  Conn().Execute(fmt::format(
      "CREATE TRIGGER IF NOT EXISTS {0} AFTER INSERT ON {1} FOR EACH ROW WHEN NEW.{2} IS NULL BEGIN "
      "UPDATE {1} SET {2} = COALESCE((SELECT MAX({2}) + {3} FROM {1} WHERE ({2} % {3}) = {5}), {4}) "
      "WHERE rowid = NEW.rowid; END",
      QuoteName(IdentityTriggerName()), table, id, IdentityIncrement, IdentitySeed,
      Remainder(IdentitySeed, IdentityIncrement)));
}

std::string tSQLiteTbl_Structure::IndexCondition(int index, bool qualified) const {
  std::vector<std::string> fields;
  if (index == 0) {
    fields = PrimaryKeyFields;
  } else if (const tIndexDef* def = UniqueIndex(index)) {
    fields = SplitFields(def->Fields);
  }
  std::string condition;
  for (const auto& field : fields) {
    if (!condition.empty()) condition += " and ";
    if (qualified) condition += QuoteName(TableName) + ".";
    condition += QuoteName(field) + "=:KEY_" + field;
  }
  return condition;
}

std::string tSQLiteTbl_Structure::RecordKeyCondition() const {
  const std::string guid = IdentifyingGuidColumn();
  if (!guid.empty()) return QuoteName(guid) + "=:KEY_" + guid;
  return IndexCondition(0, false);
}

namespace {

// The value of a field as the statement binds it.
Value FieldValue(const dataset::TField& field, const tDatabase_Structure& db) {
  if (field.IsNull()) return {};
  switch (field.DataType()) {
    case FieldType::Smallint:
    case FieldType::Integer:
    case FieldType::Word:
    case FieldType::AutoInc:
    case FieldType::Largeint:
      return Value::Integer(field.AsInteger());
    case FieldType::Boolean:
      return Value::Boolean(field.AsBoolean());
    case FieldType::Float:
    case FieldType::Currency:
    case FieldType::BCD:
      return Value::Double(field.AsFloat());
    case FieldType::DateTime:
      return Value::Text(db.FormatDateTimeLiteral(field.AsDateTime()));
    case FieldType::Time:
      return Value::Text(db.FormatTimeLiteral(field.AsDateTime()));
    case FieldType::Date:
      return Value::Text(db.FormatDateTimeLiteral(field.AsDateTime()).substr(0, 10));
    case FieldType::Guid:
      return Value::Guid(field.AsString());
    case FieldType::Bytes:
    case FieldType::VarBytes:
    case FieldType::Blob:
    case FieldType::Graphic:
    case FieldType::TypedBinary:
      return Value::Bytes(field.AsString());
    default:
      return Value::Text(field.AsString());
  }
}

// The value a required column gets when the source row has none.
Value RequiredDefault(FieldType type, const tDatabase_Structure& db) {
  switch (type) {
    case FieldType::String:
    case FieldType::WideString:
      return Value::Text("");
    case FieldType::FixedChar:
      return Value::Text("-");
    case FieldType::Smallint:
    case FieldType::Integer:
    case FieldType::Word:
    case FieldType::Largeint:
      return Value::Integer(0);
    case FieldType::Boolean:
      return Value::Boolean(false);
    case FieldType::Float:
    case FieldType::Currency:
    case FieldType::BCD:
      return Value::Double(0);
    case FieldType::Date:
      return Value::Text(db.FormatDateTimeLiteral(NowAsDateTime()).substr(0, 10));
    case FieldType::Time:
      return Value::Text(db.FormatTimeLiteral(NowAsDateTime()));
    case FieldType::DateTime:
      return Value::Text(db.FormatDateTimeLiteral(NowAsDateTime()));
    default:
      return {};
  }
}

}  // namespace

void tSQLiteTbl_Structure::FillParameters(dataset::TDataSet* source, dbaccess::Statement& statement) const {
  statement.ClearParameters();
  const auto& parameters = statement.Parameters();
  for (std::size_t i = 0; i < parameters.size(); ++i) {
    std::string column = parameters[i].name;
    if (column.size() >= 4 && SameText(column.substr(0, 4), "KEY_")) column = column.substr(4);
    const dataset::TField* field = source != nullptr ? source->FindField(column) : nullptr;
    const tSQLiteFieldDef* def = FindFieldDef(column);
    Value value;
    if (field == nullptr || field->IsNull()) {
      if (def != nullptr && def->Required) value = RequiredDefault(def->DataType, db_);
    } else {
      value = FieldValue(*field, db_);
    }
    statement.SetParameter(i, std::move(value));
  }
}

std::unique_ptr<dataset::TQVMmemDataSet> tSQLiteTbl_Structure::RunLookup(tLookup& lookup) {
  std::unique_ptr<dbaccess::Cursor> cursor = lookup.Statement->Open();
  if (!cursor->Next()) return nullptr;
  if (lookup.Layout.empty()) {
    lookup.Layout = dataset::BuildFieldLayout(dbaccess::FieldDefsFromColumns(cursor->Columns()));
  }
  // The matching rows go straight from the cursor into a memory table: no dataset is opened
  // over the statement for every lookup.
  auto rows = std::make_unique<dataset::TQVMMemoryTable>();
  rows->SetFieldLayout(lookup.Layout);
  rows->Open();
  do {
    dataset::TQVMMemRecord* record = rows->NewRecord();
    for (const dataset::TFieldDesc& desc : rows->FieldDescs()) {
      record->SetValue(desc.FieldNo, dbaccess::ValueToFieldVariant(cursor->Get(desc.FieldNo - 1u), desc.DataType));
    }
  } while (cursor->Next());
  rows->First();
  return rows;
}

std::unique_ptr<tExistingRecords> tSQLiteTbl_Structure::FindExisting(dataset::TDataSet* source,
                                                                     const std::string& row_guid, std::int32_t id) {
  dbaccess::Connection& connection = Conn();
  const std::string table = QuoteName(TableName);
  auto make_lookup = [&](const std::string& condition) {
    auto lookup = std::make_unique<tLookup>();
    lookup->Statement = connection.Prepare("SELECT * FROM " + table + " WHERE " + condition);
    return lookup;
  };
  const std::string guid_column = IdentifyingGuidColumn();
  if (!guid_lookup_ && !guid_column.empty()) guid_lookup_ = make_lookup(QuoteName(guid_column) + "=:KEY_" + guid_column);
  if (!int_key_lookup_ && !IntKeyColumn.empty())
    int_key_lookup_ = make_lookup(QuoteName(IntKeyColumn) + "=:KEY_" + IntKeyColumn);
  if (key_lookups_.empty()) {
    // A table without a primary key has no lookup 0; it is kept empty so that the numbering
    // of the unique indexes stays.
    for (int n = 0; n <= UniqueIndexCount; ++n) {
      std::string condition = IndexCondition(n, false);
      // An index over the RowGuid column alone finds what the RowGuid lookup found.
      if (!guid_column.empty() && SameText(condition, QuoteName(guid_column) + "=:KEY_" + guid_column)) condition.clear();
      key_lookups_.push_back(condition.empty() ? nullptr : make_lookup(condition));
    }
  }

  std::unique_ptr<tExistingRecords> result;
  auto ensure = [&] {
    if (!result) result = std::make_unique<tExistingRecords>();
  };

  if (guid_lookup_) {
    if (source != nullptr) {
      FillParameters(source, *guid_lookup_->Statement);
    } else {
      guid_lookup_->Statement->SetParameter(std::size_t{0}, Value::Guid(row_guid));
    }
    if (auto rows = RunLookup(*guid_lookup_)) {
      ensure();
      result->RowGuidMatch = std::move(rows);
      result->FoundByIdentity = true;
    }
  } else if (source == nullptr && int_key_lookup_) {
    int_key_lookup_->Statement->SetParameter(std::size_t{0}, Value::Integer(id));
    if (auto rows = RunLookup(*int_key_lookup_)) {
      ensure();
      result->KeyMatches.push_back({PrimaryKeyIndexName, std::move(rows)});
      result->FoundByIdentity = true;
    }
  }
  if (source != nullptr) {
    for (std::size_t n = 0; n < key_lookups_.size(); ++n) {
      if (!key_lookups_[n]) continue;
      FillParameters(source, *key_lookups_[n]->Statement);
      if (auto rows = RunLookup(*key_lookups_[n])) {
        ensure();
        result->KeyMatches.push_back({IndexName(static_cast<int>(n)), std::move(rows)});
        if (n == 0 && guid_column.empty()) result->FoundByIdentity = true;
      }
    }
  }
  if (result) {
    result->RowGuidColumn = guid_column;
    result->IdentityColumn = IdentityColumn;
  }
  return result;
}

std::unique_ptr<tExistingRecords> tSQLiteTbl_Structure::FindExistingRecords(dataset::TDataSet& source) {
  return FindExisting(&source, {}, 0);
}

std::unique_ptr<tExistingRecords> tSQLiteTbl_Structure::FindExistingByKey(const std::string& row_guid,
                                                                          std::int32_t id) {
  return FindExisting(nullptr, row_guid, id);
}

std::unique_ptr<dataset::TDataSet> tSQLiteTbl_Structure::OpenTableData(const std::string& where,
                                                                      const std::string& order_by, int& row_count) {
  const std::string where_part = where.empty() ? std::string() : " where " + where;
  const std::string order_part = order_by.empty() ? std::string() : " order by " + order_by;
  auto count = Conn().Query("SELECT COUNT(*) FROM " + QuoteName(TableName) + " " + where_part);
  row_count = count->Next() ? static_cast<int>(count->Get(0).AsInteger()) : 0;
  auto data = std::make_unique<dbaccess::TQueryDataSet>(
      Conn(), "SELECT * FROM " + QuoteName(TableName) + " " + where_part + order_part, dbaccess::ParameterStyle::None);
  data->SetUnidirectional(true);
  return data;
}

void tSQLiteTbl_Structure::InsertRecord(dataset::TDataSet& source) {
  if (!insert_) {
    std::vector<std::string> columns;
    std::vector<std::string> values;
    for (const auto& def : FieldDefs) {
      if (!IsFieldWritable(def.Name)) continue;
      columns.push_back(QuoteName(def.Name));
      values.push_back(":" + def.Name);
    }
    insert_ = Conn().Prepare("INSERT INTO " + QuoteName(TableName) + " (" + Join(columns, ",") + ") VALUES (" +
                             Join(values, ",") + ")");
  }
  FillParameters(&source, *insert_);
  insert_->Execute();
}

void tSQLiteTbl_Structure::UpdateRecord(dataset::TDataSet& source) {
  std::vector<std::string> assignments;
  for (const auto& def : FieldDefs) {
    if (!IsFieldWritable(def.Name)) continue;
    const dataset::TField* field = source.FindField(def.Name);
    if (field == nullptr || field->Tag != 1) continue;
    assignments.push_back(QuoteName(def.Name) + "=:" + def.Name);
  }
  const std::string text =
      "UPDATE " + QuoteName(TableName) + " SET " + Join(assignments, ",") + " WHERE " + RecordKeyCondition();
  if (!update_ || update_->Text() != text) update_ = Conn().Prepare(text);
  FillParameters(&source, *update_);
  update_->Execute();
}

std::int64_t tSQLiteTbl_Structure::DeleteRecord(const std::string& row_guid, std::int32_t id) {
  const std::string& prefix = db_.AliasPrefix;
  const std::string guid_column = IdentifyingGuidColumn();
  std::string where;
  Value key;
  if (!guid_column.empty()) {
    where = fmt::format(" WHERE {}0.{}=:KEY ", prefix, QuoteName(guid_column));
    key = Value::Guid(row_guid);
  } else if (IntKeyColumn.empty()) {
    throw StructureError(fmt::sprintf("Table %s has neither rowGuid, nor Integer primary key", TableName));
  } else {
    where = fmt::format(" WHERE {}0.{}=:KEY ", prefix, QuoteName(IntKeyColumn));
    key = Value::Integer(id);
  }
  std::vector<const tTbl_Structure*> path{this};
  std::int64_t count = CascadeDeleteDetails(*this, where, 0, key, path);
  // The rows to delete are chosen by rowid, since SQLite's DELETE has no alias or join.
  auto statement = Conn().Prepare(fmt::format("DELETE FROM {0} WHERE rowid IN (SELECT {1}0.rowid FROM {0} {1}0 {2})",
                                              QuoteName(TableName), prefix, where));
  statement->SetParameter("KEY", key);
  count += statement->Execute();
  return count;
}

std::int64_t tSQLiteTbl_Structure::CascadeDeleteDetails(const tTbl_Structure& master, const std::string& clause,
                                                        int level, const Value& key,
                                                        std::vector<const tTbl_Structure*>& path) {
  const std::string& prefix = db_.AliasPrefix;
  const std::string alias_master = fmt::format("{}{}", prefix, level);
  const std::string alias_detail = fmt::format("{}{}", prefix, level + 1);
  std::int64_t count = 0;
  const int start = std::max(0, db_.IndexOf(&master));
  for (int i = start; i < db_.TableCount(); ++i) {
    tTbl_Structure& detail = db_.Table(i);
    if (!detail.DependsOn(master, true)) continue;
    const tForeignKeysInfo* keys = detail.Masters().FindByMaster(&master);
    if (keys == nullptr) continue;
    for (int k = 0; k < keys->Count(); ++k) {
      const tForeignKeyInfo& fk = keys->Items(k);
      std::vector<std::string> pairs;
      for (int c = 0; c < fk.Count(); ++c) {
        pairs.push_back(fmt::format("{}.{}={}.{}", alias_master, QuoteName(fk.PKColumn(c)), alias_detail,
                                    QuoteName(fk.FKColumn(c))));
      }
      if (pairs.empty()) continue;
      const std::string joined = " join " + QuoteName(master.GetTableName()) + " " + alias_master + " on " +
                                 Join(pairs, " and ") + clause;
      // A table already on the path (a self-reference or a cycle) is not descended into again:
      // that would never end.
      if (std::find(path.begin(), path.end(), &detail) == path.end()) {
        path.push_back(&detail);
        count += CascadeDeleteDetails(detail, joined, level + 1, key, path);
        path.pop_back();
      }
      auto statement = Conn().Prepare(fmt::format("DELETE FROM {0} WHERE rowid IN (SELECT {1}.rowid FROM {0} {1} {2})",
                                                  QuoteName(detail.GetTableName()), alias_detail, joined));
      statement->SetParameter("KEY", key);
      count += statement->Execute();
    }
  }
  return count;
}

bool tSQLiteTbl_Structure::MastersExist(dataset::TDataSet& source, bool only_changed_fields,
                                        std::string& constraint_name) {
  constraint_name.clear();
  for (int m = 0; m < Masters().Count(); ++m) {
    const tForeignKeysInfo& keys = Masters().Items(m);
    for (int k = 0; k < keys.Count(); ++k) {
      const tForeignKeyInfo& fk = keys.Items(k);
      std::vector<std::string> pairs;
      for (int c = 0; c < fk.Count(); ++c) {
        const dataset::TField* field = source.FindField(fk.FKColumn(c));
        if (field == nullptr || field->IsNull()) continue;
        if (only_changed_fields && field->Tag == 0) continue;
        pairs.push_back(QuoteName(fk.PKColumn(c)) + "=:" + fk.FKColumn(c));
      }
      if (pairs.empty()) continue;
      // One statement per distinct check, prepared once and re-run for every row.
      const std::string text = "SELECT CASE WHEN EXISTS(SELECT * FROM " +
                               QuoteName(keys.MasterTable->GetTableName()) + " WHERE " + Join(pairs, " and ") +
                               ") THEN 1 ELSE 0 END";
      std::unique_ptr<dbaccess::Statement>& query = master_checks_[text];
      if (!query) query = Conn().Prepare(text);
      FillParameters(&source, *query);
      auto rows = query->Open();
      if (!rows->Next() || rows->Get(0).AsInteger() != 1) {
        constraint_name = fk.Name;
        return false;
      }
    }
  }
  return true;
}

void tSQLiteTbl_Structure::BeginWrite() {
  dbaccess::Connection& connection = Conn();
  // Dropped triggers come back only through EndWrite or a rollback; outside a transaction a
  // failure in between would lose them for good.
  if (!connection.InTransaction()) throw StructureError("BeginWrite on " + TableName + " needs an open transaction");
  auto query = connection.Prepare(
      "SELECT name, sql FROM sqlite_master WHERE type = 'trigger' AND tbl_name = :t COLLATE NOCASE ORDER BY rowid");
  query->SetParameter("t", Value::Text(TableName));
  std::vector<tSavedTrigger> triggers;
  for (auto rows = query->Open(); rows->Next();) {
    std::string name = rows->Get(0).AsString();
    if (Contains(KeepEnabledTriggers, name) || SameText(name, IdentityTriggerName())) continue;
    triggers.push_back({std::move(name), rows->Get(1).AsString()});
  }
  query.reset();
  for (const auto& trigger : triggers) {
    connection.Execute("DROP TRIGGER " + QuoteName(trigger.Name));
    saved_triggers_.push_back(trigger);
  }
}

void tSQLiteTbl_Structure::EndWrite() {
  if (saved_triggers_.empty()) return;
  dbaccess::Connection& connection = Conn();
  auto exists = connection.Prepare("SELECT 1 FROM sqlite_master WHERE type = 'trigger' AND name = :n COLLATE NOCASE");
  while (!saved_triggers_.empty()) {
    const tSavedTrigger& trigger = saved_triggers_.front();
    exists->SetParameter("n", Value::Text(trigger.Name));
    // After a rollback the trigger is back already.
    if (!exists->Open()->Next()) connection.Execute(trigger.Sql);
    saved_triggers_.erase(saved_triggers_.begin());
  }
}

void tSQLiteTbl_Structure::CloseData() {
  insert_.reset();
  update_.reset();
  master_checks_.clear();
  // The lookups are dropped, not only closed: a cached structure may get another connection
  // before its next use, and a statement prepared on the old one must not run there.
  guid_lookup_.reset();
  int_key_lookup_.reset();
  key_lookups_.clear();
}

std::string tSQLiteTbl_Structure::GetKeyValuesText(dataset::TDataSet& dataset) {
  std::string text;
  bool first = true;
  for (const auto& name : PrimaryKeyFields) {
    const dataset::TField* field = dataset.FindField(name);
    if (field == nullptr) continue;
    text += fmt::sprintf(first ? "%s=%s" : ",%s=%s", name, field->AsString());
    first = false;
  }
  return text;
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

void tSQLiteDatabase_Structure::Scan() {
  tDatabase_Structure::Scan();
  AliasPrefix = "_";
  bool clash = true;
  while (clash) {
    AliasPrefix = "T" + AliasPrefix;
    clash = false;
    for (int i = 0; i < TableCount() && !clash; ++i) {
      const std::string name = Table(i).GetTableName();
      clash = name.size() >= AliasPrefix.size() && SameText(name.substr(0, AliasPrefix.size()), AliasPrefix);
    }
  }
}

void tSQLiteDatabase_Structure::CloseData() {
  tDatabase_Structure::CloseData();
  if (prop_accessor_) prop_accessor_->CloseQueries();
}

tSQLitePropAccessor& tSQLiteDatabase_Structure::PropAccessor() const {
  dbaccess::Connection* connection = Connection();
  if (connection == nullptr) throw StructureError("Database structure has no connection");
  if (!prop_accessor_ || &prop_accessor_->Connection() != connection) {
    prop_accessor_ = std::make_unique<tSQLitePropAccessor>(*connection);
  }
  return *prop_accessor_;
}

void tSQLiteDatabase_Structure::CreateIdentityTriggers() {
  for (int i = 0; i < TableCount(); ++i) SQLiteTable(i).CreateIdentityTrigger();
}

void WriteStructureListing(const tSQLiteDatabase_Structure& structure, std::ostream& out) {
  for (int i = 0; i < structure.TableCount(); ++i) {
    const tSQLiteTbl_Structure& table = structure.SQLiteTable(i);
    std::vector<std::string> masters;
    for (int m = 0; m < table.Masters().Count(); ++m) {
      masters.push_back(table.Masters().Items(m).MasterTable->GetTableName());
    }
    out << table.TableName << " identity=" << table.IdentityColumn << " rowguid=" << table.RowGuidColumn
        << " intkey=" << table.IntKeyColumn << " pk=" << Join(table.PrimaryKeyFields, ",")
        << " masters=" << Join(masters, ",") << '\n';
  }
  for (int i = 0; i < structure.TableCount(); ++i) {
    const tTbl_Structure& table = structure.Table(i);
    for (int m = 0; m < table.Masters().Count(); ++m) {
      const tForeignKeysInfo& keys = table.Masters().Items(m);
      for (int k = 0; k < keys.Count(); ++k) {
        const tForeignKeyInfo& fk = keys.Items(k);
        out << "FK " << fk.Name << ' ' << table.GetTableName() << '(' << Join(fk.FKColumns, ",") << ") -> "
            << keys.MasterTable->GetTableName() << '(' << Join(fk.PKColumns, ",") << ")\n";
      }
    }
  }
}

std::string tSQLiteDatabase_Structure::DefaultRulesStatement(bool import_rules) const {
  const std::string assignments =
      import_rules ? "DefAppendRule=a.AppendRule, DefUpdateRule=a.UpdateRule, DefUpdateFieldRule=a.UpdateFieldRule, "
                     "DefDeleteRule=a.DeleteRule, DefIgnoreRowGuidField=a.IgnoreRowGuidField "
                   : "DefExportRule=a.ExportRule ";
  return "UPDATE rep_TBLDESC SET " + assignments + "FROM " + (import_rules ? "rep_DEFIMPORT" : "rep_DEFEXPORT") +
         " a WHERE a.Signature=:Signature AND a.TABLENAME=rep_TBLDESC.TABLENAME";
}

}  // namespace tamaril::dbstruct
