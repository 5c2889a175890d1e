#include "dbstruct/mssql/table_structure.h"

#include <chrono>
#include <ctime>

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

constexpr std::string_view kKeyPrefix = "KEY_";

bool IsIntegerKeyType(FieldType type) {
  return type == FieldType::Smallint || type == FieldType::Integer || type == FieldType::Word ||
         type == FieldType::AutoInc;
}

std::vector<std::string> SplitFields(const std::string& fields) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (true) {
    const std::size_t stop = fields.find(';', start);
    parts.push_back(fields.substr(start, stop == std::string::npos ? std::string::npos : stop - start));
    if (stop == std::string::npos) break;
    start = stop + 1;
  }
  return parts;
}

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

/// The local date and time now as days since 30 December 1899.
double Now() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm local{};
  localtime_r(&seconds, &local);
  const dataset::TimeStamp stamp{
      static_cast<std::int32_t>(
          dataset::DayNumberFromCivil(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday)),
      static_cast<std::int32_t>(((local.tm_hour * 60 + local.tm_min) * 60 + local.tm_sec) * 1000 + ms)};
  return dataset::TimeStampToDateTime(stamp);
}

/// The value a required column gets when the source row has none; NULL for types without one.
dbaccess::Value RequiredDefault(FieldType type) {
  switch (type) {
    case FieldType::String:
    case FieldType::WideString: return dbaccess::Value::Text("");
    case FieldType::Smallint:
    case FieldType::Integer:
    case FieldType::Word:
    case FieldType::Largeint: return dbaccess::Value::Integer(0);
    case FieldType::Boolean: return dbaccess::Value::Boolean(false);
    case FieldType::Float:
    case FieldType::Currency:
    case FieldType::BCD: return dbaccess::Value::Double(0);
    case FieldType::Date: {
      dbaccess::DateTime today = CivilDateTime(Now());
      today.hour = today.minute = today.second = today.millisecond = 0;
      return dbaccess::Value::FromDateTime(today);
    }
    case FieldType::Time: {
      dbaccess::DateTime time = CivilDateTime(Now());
      time.year = 1899, time.month = 12, time.day = 30;
      return dbaccess::Value::FromDateTime(time);
    }
    case FieldType::DateTime: return dbaccess::Value::FromDateTime(CivilDateTime(Now()));
    case FieldType::FixedChar: return dbaccess::Value::Text("-");
    default: return {};
  }
}

}  // namespace

std::string QuoteEscaped(const std::string& text) {
  std::string escaped;
  for (char c : text) {
    escaped += c;
    if (c == '\'') escaped += '\'';
  }
  return escaped;
}

tADOTbl_Structure::tADOTbl_Structure(tADODatabase_Structure& database) : database_(database) {}

tADOTbl_Structure::~tADOTbl_Structure() = default;

dbaccess::Connection& tADOTbl_Structure::Conn() const {
  dbaccess::Connection* connection = database_.Connection();
  if (connection == nullptr) throw StructureError("The database structure has no connection");
  return *connection;
}

std::string tADOTbl_Structure::ResolveColumn(const std::string& token) const {
  if (token.empty() || token.find_first_not_of("0123456789") != std::string::npos || token.size() > 9)
    return token;
  const std::size_t number = std::stoul(token);
  if (number < 1 || number > FieldDefs.size()) return token;
  return FieldDefs[number - 1].Name;
}

// ---------------------------------------------------------------------------------------------
// Loading

void tADOTbl_Structure::LoadStructure(const std::string& table_name) {
  CloseData();
  lookups_built_ = false;
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
  HasPrimaryKey = false;
  TableName = table_name;

  tMSSQLPropAccessor& properties = database_.PropAccessor();
  const bool has_row_guid = properties.ObjectProperty(TableName, "TableHasRowGuidCol") != 0;
  const bool has_identity = properties.ObjectProperty(TableName, "TableHasIdentity") != 0;
  HasDeleteTrigger = properties.ObjectProperty(TableName, "TableHasDeleteTrigger") != 0;
  HasInsertTrigger = properties.ObjectProperty(TableName, "TableHasInsertTrigger") != 0;
  HasUpdateTrigger = properties.ObjectProperty(TableName, "TableHasUpdateTrigger") != 0;

  dbaccess::Connection& connection = Conn();
  // The columns come first so that column-number tokens of the indexes can be resolved.
  for (const auto& column : connection.Columns(TableName)) {
    FieldDefs.push_back(tMSSQLFieldDef{column.name, column.field_type, column.precision,
                                       column.nullable.has_value() && !*column.nullable});
  }
  for (const auto& index : connection.Indexes(TableName)) {
    tMSSQLIndexDef def{index.name, index.fields, index.primary, index.unique};
    if (def.Unique && !def.Primary) ++UniqueIndexCount;
    if (def.Primary) {
      HasPrimaryKey = true;
      PrimaryKeyFields.clear();
      for (const auto& token : SplitFields(def.Fields)) PrimaryKeyFields.push_back(ResolveColumn(token));
      if (PrimaryKeyFields.size() == 1) {
        const tMSSQLFieldDef* key = FindFieldDef(PrimaryKeyFields.front());
        if (key != nullptr && IsIntegerKeyType(key->DataType)) IntKeyColumn = key->Name;
      }
    }
    IndexDefs.push_back(std::move(def));
  }
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
      auto rows = connection.Query("select MAX(IDENTITYCOL) from " + TableName + " where (IDENTITYCOL % " +
                                   std::to_string(IdentityIncrement) +
                                   ") = " + std::to_string(IdentitySeed % IdentityIncrement) + " ");
      if (rows->Next() && !rows->Get(0).IsNull())
        IdentityReseedValue = static_cast<std::int32_t>(rows->Get(0).AsInteger());
    }
    if (IdentityReseedValue == 0) IdentityReseedValue = IdentitySeed;
  }
  Identifiable = !RowGuidColumn.empty() || !IntKeyColumn.empty();
}

// ---------------------------------------------------------------------------------------------
// Conditions

std::string tADOTbl_Structure::RowGuidCondition() const {
  const std::string column = IdentifyingGuidColumn();
  return column.empty() ? std::string() : column + "=:" + std::string(kKeyPrefix) + column;
}

std::string tADOTbl_Structure::IntKeyCondition() const {
  return IntKeyColumn.empty() ? std::string() : IntKeyColumn + "=:" + std::string(kKeyPrefix) + IntKeyColumn;
}

std::vector<std::string> tADOTbl_Structure::IndexColumns(int index) const {
  if (index == 0) return HasPrimaryKey ? PrimaryKeyFields : std::vector<std::string>();
  const tIndexDef* def = UniqueIndex(index);
  if (def == nullptr) return {};
  std::vector<std::string> columns;
  for (const auto& token : SplitFields(def->Fields)) columns.push_back(ResolveColumn(token));
  return columns;
}

std::string tADOTbl_Structure::IndexCondition(int index, bool qualified) const {
  std::string condition;
  for (const auto& column : IndexColumns(index)) {
    if (!condition.empty()) condition += " and ";
    if (qualified) condition += TableName + ".";
    condition += column + "=:" + std::string(kKeyPrefix) + column;
  }
  return condition;
}

std::string tADOTbl_Structure::RecordKeyCondition() const {
  return IdentifyingGuidColumn().empty() ? IndexCondition(0, false) : RowGuidCondition();
}

// ---------------------------------------------------------------------------------------------
// Parameters

std::vector<dbaccess::Value> tADOTbl_Structure::ParameterValues(
    dataset::TDataSet* source, const std::vector<dbaccess::Parameter>& parameters) const {
  std::vector<dbaccess::Value> values;
  for (const auto& parameter : parameters) {
    std::string column = parameter.name;
    if (column.size() >= kKeyPrefix.size() &&
        text::EqualsIgnoreCaseAscii(column.substr(0, kKeyPrefix.size()), kKeyPrefix)) {
      column = column.substr(kKeyPrefix.size());
    }
    dataset::TField* field = source != nullptr ? source->FindField(column) : nullptr;
    const tMSSQLFieldDef* def = FindFieldDef(column);
    if (field == nullptr || field->IsNull()) {
      values.push_back(def == nullptr || !def->Required ? dbaccess::Value() : RequiredDefault(def->DataType));
      continue;
    }
    switch (field->DataType()) {
      case FieldType::DateTime:
        values.push_back(dbaccess::Value::Text(database_.FormatDateTimeLiteral(field->AsDateTime())));
        break;
      case FieldType::Time:
        values.push_back(dbaccess::Value::Text(database_.FormatTimeLiteral(field->AsDateTime())));
        break;
      case FieldType::Date:
        values.push_back(dbaccess::Value::FromDateTime(CivilDateTime(field->AsDateTime())));
        break;
      case FieldType::Smallint:
      case FieldType::Integer:
      case FieldType::Word:
      case FieldType::AutoInc:
      case FieldType::Largeint: values.push_back(dbaccess::Value::Integer(field->AsInteger())); break;
      case FieldType::Boolean: values.push_back(dbaccess::Value::Boolean(field->AsBoolean())); break;
      case FieldType::Float:
      case FieldType::Currency:
      case FieldType::BCD: values.push_back(dbaccess::Value::Double(field->AsFloat())); break;
      case FieldType::Guid: values.push_back(dbaccess::Value::Guid(field->AsString())); break;
      case FieldType::Bytes:
      case FieldType::VarBytes:
      case FieldType::Blob:
      case FieldType::Graphic: values.push_back(dbaccess::Value::Bytes(field->AsString())); break;
      default: values.push_back(dbaccess::Value::Text(field->AsString())); break;
    }
  }
  return values;
}

void tADOTbl_Structure::Fill(dbaccess::TQueryDataSet& query, dataset::TDataSet* source) const {
  const auto values = ParameterValues(source, query.Parameters());
  for (std::size_t i = 0; i < values.size(); ++i) query.SetParameter(i, values[i]);
}

void tADOTbl_Structure::Fill(dbaccess::Statement& statement, dataset::TDataSet& source) const {
  const auto values = ParameterValues(&source, statement.Parameters());
  for (std::size_t i = 0; i < values.size(); ++i) statement.SetParameter(i, values[i]);
}

// ---------------------------------------------------------------------------------------------
// Lookups

void tADOTbl_Structure::BuildLookups() {
  if (lookups_built_) return;
  dbaccess::Connection& connection = Conn();
  if (!IdentifyingGuidColumn().empty()) {
    row_guid_lookup_ = std::make_unique<dbaccess::TQueryDataSet>(
        connection, "Select * from " + TableName + " where " + RowGuidCondition());
  }
  if (!IntKeyColumn.empty()) {
    int_key_lookup_ = std::make_unique<dbaccess::TQueryDataSet>(
        connection, "Select * from " + TableName + " where " + IntKeyCondition());
  }
  if (key_index_lookups_.empty()) {
    for (int n = 0; n <= UniqueIndexCount; ++n) {
      // A table without a primary key has no condition for lookup 0; an empty WHERE is no SQL,
      // so such a lookup is left out (null) rather than sent.
      const std::string condition = IndexCondition(n, false);
      key_index_lookups_.push_back(
          condition.empty() ? nullptr
                            : std::make_unique<dbaccess::TQueryDataSet>(
                                  connection, "Select * from " + TableName + " where " + condition));
    }
  }
  lookups_built_ = true;
}

namespace {

/// Runs `lookup` and copies its rows into memory; null when it returned none.
std::unique_ptr<dataset::TQVMmemDataSet> RunAndCopy(dbaccess::TQueryDataSet& lookup) {
  lookup.Close();
  lookup.Open();
  std::unique_ptr<dataset::TQVMmemDataSet> copy;
  if (!lookup.IsEmpty()) {
    auto memory = std::make_unique<dataset::TQVMClientMemoryDataSet>();
    memory->SetSourceDataset(&lookup);
    memory->Open();
    copy = std::move(memory);
  }
  lookup.Close();
  return copy;
}

}  // namespace

std::unique_ptr<tExistingRecords> tADOTbl_Structure::FindExisting(dataset::TDataSet* source,
                                                                  const std::string& row_guid,
                                                                  std::int32_t id) {
  BuildLookups();
  std::unique_ptr<tExistingRecords> result;
  auto ensure = [&result]() -> tExistingRecords& {
    if (!result) result = std::make_unique<tExistingRecords>();
    return *result;
  };
  if (row_guid_lookup_) {
    if (source != nullptr) {
      Fill(*row_guid_lookup_, source);
    } else {
      row_guid_lookup_->SetParameter(std::size_t{0}, dbaccess::Value::Guid(row_guid));
    }
    if (auto rows = RunAndCopy(*row_guid_lookup_)) {
      ensure().RowGuidMatch = std::move(rows);
      result->FoundByIdentity = true;
    }
  } else if (source == nullptr && int_key_lookup_) {
    int_key_lookup_->SetParameter(std::size_t{0}, dbaccess::Value::Integer(id));
    if (auto rows = RunAndCopy(*int_key_lookup_)) {
      ensure().KeyMatches.push_back(tKeyMatch{PrimaryKeyIndexName, std::move(rows)});
      result->FoundByIdentity = true;
    }
  }
  if (source != nullptr) {
    for (std::size_t n = 0; n < key_index_lookups_.size(); ++n) {
      if (!key_index_lookups_[n]) continue;
      Fill(*key_index_lookups_[n], source);
      if (auto rows = RunAndCopy(*key_index_lookups_[n])) {
        ensure().KeyMatches.push_back(tKeyMatch{IndexName(static_cast<int>(n)), std::move(rows)});
        if (n == 0 && IdentifyingGuidColumn().empty()) result->FoundByIdentity = true;
      }
    }
  }
  if (result) {
    result->RowGuidColumn = IdentifyingGuidColumn();
    result->IdentityColumn = IdentityColumn;
  }
  return result;
}

std::unique_ptr<tExistingRecords> tADOTbl_Structure::FindExistingRecords(dataset::TDataSet& source) {
  return FindExisting(&source, {}, 0);
}

std::unique_ptr<tExistingRecords> tADOTbl_Structure::FindExistingByKey(const std::string& row_guid,
                                                                       std::int32_t id) {
  return FindExisting(nullptr, row_guid, id);
}

// ---------------------------------------------------------------------------------------------
// Reading and writing

std::unique_ptr<dataset::TDataSet> tADOTbl_Structure::OpenTableData(const std::string& where,
                                                                    const std::string& order_by,
                                                                    int& row_count) {
  const std::string where_part = where.empty() ? std::string() : " where " + where;
  const std::string order_part = order_by.empty() ? std::string() : " order by " + order_by;
  dbaccess::Connection& connection = Conn();
  {
    auto rows = connection.Query("Select Count(*) from " + TableName + " " + where_part);
    row_count = rows->Next() && !rows->Get(0).IsNull() ? static_cast<int>(rows->Get(0).AsInteger()) : 0;
  }
  auto data = std::make_unique<dbaccess::TQueryDataSet>(
      connection, "Select * from " + TableName + " " + where_part + order_part,
      dbaccess::ParameterStyle::None);
  data->SetUnidirectional(true);
  return data;
}

void tADOTbl_Structure::InsertRecord(dataset::TDataSet& source) {
  if (!insert_command_) {
    std::string values;
    for (const auto& def : FieldDefs) {
      if (!IsFieldWritable(def.Name)) continue;
      values += (values.empty() ? ":" : ",:") + def.Name;
    }
    std::string columns;
    for (char c : values) {
      if (c != ':') columns += c;
    }
    insert_command_ =
        Conn().Prepare("INSERT INTO " + TableName + " (" + columns + ") VALUES (" + values + ")");
  }
  Fill(*insert_command_, source);
  insert_command_->Execute();
}

void tADOTbl_Structure::UpdateRecord(dataset::TDataSet& source) {
  std::string set_list;
  for (const auto& def : FieldDefs) {
    if (!IsFieldWritable(def.Name)) continue;
    dataset::TField* field = source.FindField(def.Name);
    if (field == nullptr || field->Tag == 0) continue;
    const std::string column = def.Name.substr(0, 255);
    set_list += (set_list.empty() ? "" : ",") + column + "=:" + column;
  }
  const std::string text = "UPDATE " + TableName + " SET " + set_list + " WHERE " + RecordKeyCondition();
  if (!update_command_ || update_command_->Text() != text) update_command_ = Conn().Prepare(text);
  Fill(*update_command_, source);
  update_command_->Execute();
}

std::int64_t tADOTbl_Structure::DeleteRecord(const std::string& row_guid, std::int32_t id) {
  const std::string& prefix = database_.AliasPrefix;
  const std::string alias = prefix + "0";
  std::string where;
  if (!IdentifyingGuidColumn().empty()) {
    where = " WHERE " + alias + "." + IdentifyingGuidColumn() + "='" + QuoteEscaped(row_guid) + "' ";
  } else if (IntKeyColumn.empty()) {
    throw StructureError("Table " + TableName + " has neither rowGuid, nor Integer primary key");
  } else {
    where = " WHERE " + alias + "." + IntKeyColumn + "=" + std::to_string(id) + " ";
  }
  std::vector<const tTbl_Structure*> path{this};
  std::int64_t deleted = CascadeDeleteDetails(*this, where, 0, path);
  const std::int64_t own =
      Conn().Execute("Delete " + alias + " from " + TableName + " " + alias + " " + where);
  if (own > 0) deleted += own;
  return deleted;
}

std::int64_t tADOTbl_Structure::CascadeDeleteDetails(tTbl_Structure& master, const std::string& clause,
                                                     int level, std::vector<const tTbl_Structure*>& path) {
  const std::string& prefix = database_.AliasPrefix;
  const std::string master_alias = prefix + std::to_string(level);
  const std::string detail_alias = prefix + std::to_string(level + 1);
  std::int64_t deleted = 0;
  const int start = database_.IndexOf(&master);
  for (int i = start < 0 ? 0 : start; i < database_.TableCount(); ++i) {
    tTbl_Structure& detail = database_.Table(i);
    if (!detail.DependsOn(master, true)) continue;
    for (int m = 0; m < detail.Masters().Count(); ++m) {
      tForeignKeysInfo& entry = detail.Masters().Items(m);
      if (entry.MasterTable != &master) continue;
      for (int k = 0; k < entry.Count(); ++k) {
        tForeignKeyInfo& key = entry.Items(k);
        std::string join;
        for (int c = 0; c < key.Count(); ++c) {
          if (!join.empty()) join += " and ";
          join += master_alias + "." + key.PKColumn(c) + "=" + detail_alias + "." + key.FKColumn(c);
        }
        if (join.empty()) continue;
        const std::string detail_clause =
            " join " + master.GetTableName() + " " + master_alias + " on " + join + clause;
        // A table already on the path (a self-reference or a cycle) is deleted from at this
        // level but not descended into again, which bounds the recursion.
        bool on_path = false;
        for (const tTbl_Structure* visited : path) on_path = on_path || visited == &detail;
        if (!on_path) {
          path.push_back(&detail);
          deleted += CascadeDeleteDetails(detail, detail_clause, level + 1, path);
          path.pop_back();
        }
        const std::int64_t own = Conn().Execute("Delete " + detail_alias + " from " + detail.GetTableName() +
                                                " " + detail_alias + " " + detail_clause);
        if (own > 0) deleted += own;
      }
    }
  }
  return deleted;
}

bool tADOTbl_Structure::MastersExist(dataset::TDataSet& source, bool only_changed_fields,
                                     std::string& constraint_name) {
  constraint_name.clear();
  for (int m = 0; m < Masters().Count(); ++m) {
    tForeignKeysInfo& entry = Masters().Items(m);
    for (int k = 0; k < entry.Count(); ++k) {
      tForeignKeyInfo& key = entry.Items(k);
      std::string condition;
      for (int c = 0; c < key.Count(); ++c) {
        dataset::TField* field = source.FindField(key.FKColumn(c));
        if (field == nullptr || field->IsNull()) continue;
        if (only_changed_fields && field->Tag == 0) continue;
        if (!condition.empty()) condition += " and ";
        condition += key.PKColumn(c) + "=:" + key.FKColumn(c);
      }
      if (condition.empty()) continue;
      auto query =
          Conn().Prepare("select case when exists(select * from " + entry.MasterTable->GetTableName() +
                         " where " + condition + ") then 1 else 0 end");
      Fill(*query, source);
      auto rows = query->Open();
      const bool exists = rows->Next() && !rows->Get(0).IsNull() && rows->Get(0).AsInteger() == 1;
      rows.reset();
      if (!exists) {
        constraint_name = key.Name;
        return false;
      }
    }
  }
  return true;
}

void tADOTbl_Structure::SetIdentityInsert(bool on) {
  if (IdentityColumn.empty()) return;
  dbaccess::Connection& connection = Conn();
  connection.Execute("SET IDENTITY_INSERT " + TableName + (on ? " ON" : " OFF"));
  if (!on) {
    connection.Execute("DBCC CHECKIDENT (" + TableName + ", RESEED, " + std::to_string(IdentityReseedValue) +
                       ")");
  }
}

void tADOTbl_Structure::SetTriggersEnabled(bool on) {
  if (!HasDeleteTrigger && !HasInsertTrigger && !HasUpdateTrigger) return;
  Conn().Execute("ALTER TABLE " + TableName + (on ? " ENABLE" : " DISABLE") + " TRIGGER ALL");
}

void tADOTbl_Structure::BeginWrite() {
  SetIdentityInsert(true);
  try {
    SetTriggersEnabled(false);
    for (const auto& trigger : KeepEnabledTriggers) {
      Conn().Execute("ALTER TABLE " + TableName + " ENABLE TRIGGER " + trigger);
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

void tADOTbl_Structure::CloseData() {
  // The lookups are dropped, not only closed: a cached structure may get another connection
  // before its next use, and a lookup prepared on the old one must not run there.
  int_key_lookup_.reset();
  row_guid_lookup_.reset();
  key_index_lookups_.clear();
  lookups_built_ = false;
  insert_command_.reset();
  update_command_.reset();
}

std::string tADOTbl_Structure::GetKeyValuesText(dataset::TDataSet& dataset) {
  std::string text;
  bool first = true;
  for (const auto& name : PrimaryKeyFields) {
    const std::string column = ResolveColumn(name);
    if (dataset::TField* field = dataset.FindField(column)) {
      text += (first ? "" : ",") + column + "=" + field->AsString();
    }
    first = false;
  }
  return text;
}

// ---------------------------------------------------------------------------------------------
// Setup script texts

namespace {

std::string JoinLines(const std::vector<std::string>& lines) {
  std::string text;
  for (std::size_t i = 0; i < lines.size(); ++i) text += (i ? "\r\n" : "") + lines[i];
  return text;
}

/// `text` with every occurrence of `from` (letter case ignored) replaced by `to`.
std::string ReplaceIgnoringCase(const std::string& text, std::string_view from, std::string_view to) {
  const std::string upper = text::UpperCaseAscii(text);
  const std::string upper_from = text::UpperCaseAscii(from);
  std::string result;
  std::size_t start = 0;
  for (std::size_t at = upper.find(upper_from); at != std::string::npos; at = upper.find(upper_from, start)) {
    result += text.substr(start, at - start);
    result += to;
    start = at + from.size();
  }
  return result + text.substr(start);
}

}  // namespace

std::string tADOTbl_Structure::BuildDeleteTriggerScript(const std::string& trigger_prefix,
                                                        const std::string& target_table,
                                                        const std::string& table_name_column,
                                                        const std::string& row_guid_column,
                                                        const std::string& id_column) const {
  const std::string name = trigger_prefix + TableName;
  std::string insert;
  std::string select;
  const std::string quoted_table = "'" + QuoteEscaped(TableName) + "'";
  if (!RowGuidColumn.empty() && !IntKeyColumn.empty()) {
    insert = " INSERT INTO " + target_table + " (" + table_name_column + "," + row_guid_column + "," +
             id_column + ")";
    select = " select " + quoted_table + "," + RowGuidColumn + ", " + IntKeyColumn + " from Deleted";
  } else if (!RowGuidColumn.empty()) {
    insert = " INSERT INTO " + target_table + " (" + table_name_column + "," + row_guid_column + ")";
    select = " select " + quoted_table + "," + RowGuidColumn + " from Deleted";
  } else if (!IntKeyColumn.empty()) {
    insert = " INSERT INTO " + target_table + " (" + table_name_column + "," + id_column + ")";
    select = " select " + quoted_table + "," + IntKeyColumn + " from Deleted";
  } else {
    return {};
  }
  return JoinLines({"IF EXISTS (SELECT name FROM sysobjects ",
                    " WHERE name = '" + QuoteEscaped(name) + "' AND type = 'TR') ", " DROP TRIGGER " + name,
                    " GO ", "CREATE TRIGGER " + name + " ON " + TableName + " FOR DELETE AS", insert, select,
                    " GO "});
}

std::string tADOTbl_Structure::BuildInsertTriggerScript(const std::string& trigger_prefix,
                                                        const std::vector<std::string>& names,
                                                        const std::vector<std::string>& types) const {
  const std::string name = trigger_prefix + TableName;
  const std::string join = ReplaceIgnoringCase(IndexCondition(0, true), ":KEY_", "Inserted.");
  std::string set_list;
  for (std::size_t i = 0; i < names.size(); ++i) set_list += (i ? "," : "") + names[i] + "=NULL";
  const std::string trigger =
      JoinLines({"IF EXISTS (SELECT name FROM sysobjects ",
                 " WHERE name = '" + QuoteEscaped(name) + "' AND type = 'TR') ", " DROP TRIGGER " + name,
                 " GO ", "CREATE TRIGGER " + name + " ON " + TableName + " FOR INSERT AS",
                 " UPDATE " + TableName + " set " + set_list,
                 " FROM " + TableName + " INNER JOIN Inserted ON " + join, " GO "});
  std::string columns;
  for (std::size_t i = 0; i < names.size(); ++i) {
    const std::string type = i < types.size() ? types[i] : std::string();
    columns += "exec sp_columns @table_name='" + QuoteEscaped(TableName) + "',@column_name='" +
               QuoteEscaped(names[i]) + "'\r\nif (@@rowcount=0) BEGIN\r\n  ALTER TABLE " + TableName +
               " ADD " + names[i] + " " + type + "\r\nEND\r\nGO\r\n";
  }
  return columns + trigger;
}

}  // namespace tamaril::dbstruct
