#include "dbstruct/structure.h"

#include <algorithm>
#include <unordered_set>

#include <fmt/printf.h>

#include "dataset/date_codec.h"
#include "dbstruct/errors.h"
#include "text/ascii.h"
#include "text/encoding.h"
#include "text/locale.h"

namespace tamaril::dbstruct {

// ---- tTbl_Structure ----

tTbl_Structure::tTbl_Structure() : masters_(this) {}

tTbl_Structure::~tTbl_Structure() { NoteMasterLinksChanged(); }

bool tTbl_Structure::DependsOn(const tTbl_Structure& other, bool direct_only) const {
  if (direct_only) return masters_.FindByMaster(&other) != nullptr;
  const unsigned long long generation = MasterLinksGeneration();
  if (reach_generation_ != generation) {
    // Every table reached over one or more master links, found once per change of the links.
    reach_.clear();
    std::vector<const tTbl_Structure*> pending{this};
    std::vector<const tTbl_Structure*> seen;
    std::unordered_set<const tTbl_Structure*> seen_set;
    while (!pending.empty()) {
      const tTbl_Structure* table = pending.back();
      pending.pop_back();
      for (int i = 0; i < table->masters_.Count(); ++i) {
        const tTbl_Structure* master = table->masters_.Items(i).MasterTable;
        if (!seen_set.insert(master).second) continue;
        seen.push_back(master);
        pending.push_back(master);
      }
    }
    std::sort(seen.begin(), seen.end());
    reach_ = std::move(seen);
    reach_generation_ = generation;
  }
  return std::binary_search(reach_.begin(), reach_.end(), &other);
}

bool tTbl_Structure::TryFindExistingRecords(dataset::TDataSet& source,
                                            std::unique_ptr<tExistingRecords>& found) {
  found = FindExistingRecords(source);
  return found != nullptr;
}

bool tTbl_Structure::TryFindExistingByKey(const std::string& row_guid, std::int32_t id,
                                          std::unique_ptr<tExistingRecords>& found) {
  found = FindExistingByKey(row_guid, id);
  return found != nullptr;
}

// ---- tDatabase_Structure ----

tDatabase_Structure::tDatabase_Structure(dbaccess::Connection* connection) : connection_(connection) {}

tDatabase_Structure::~tDatabase_Structure() = default;

void tDatabase_Structure::ClearTables() {
  tables_.clear();
  name_index_valid_ = false;
}

void tDatabase_Structure::Scan() {
  ClearTables();
  std::vector<std::string> names;
  GetTableNames(names);
  const int count = static_cast<int>(names.size());
  for (int i = 0; i < count; ++i) {
    const std::string& name = names[static_cast<std::size_t>(i)];
    if (OnProgress) OnProgress(*this, i + 1, name, count);
    tables_.push_back(CreateTableStructure());
    tTbl_Structure& table = *tables_.back();
    table.database_ = this;
    name_index_valid_ = false;
    table.LoadStructure(name);
    name_index_valid_ = false;
  }
  LoadForeignKeys();
  SortMastersFirst();
  CheckCircularLinks();
  ChooseAliasPrefix();
}

void tDatabase_Structure::ChooseAliasPrefix() {
  AliasPrefix = "_";
  bool clash = true;
  while (clash) {
    AliasPrefix = "T" + AliasPrefix;
    clash = false;
    for (const auto& table : tables_) {
      if (text::UpperCaseAscii(table->GetTableName()).starts_with(AliasPrefix)) clash = true;
    }
  }
}

void tDatabase_Structure::CloseData() {
  for (const auto& table : tables_) table->CloseData();
  if (prop_accessor_) prop_accessor_->CloseQueries();
}

tPropAccessor& tDatabase_Structure::PropAccessor() const {
  if (connection_ == nullptr) throw StructureError("Database structure has no connection");
  if (!prop_accessor_ || &prop_accessor_->Connection() != connection_) {
    // An accessor prepared on a former connection must not run on the current one.
    prop_accessor_.reset();
    prop_accessor_ = CreatePropAccessor(*connection_);
  }
  return *prop_accessor_;
}

std::unique_ptr<tPropAccessor> tDatabase_Structure::CreatePropAccessor(dbaccess::Connection&) const {
  throw StructureError("Database structure has no property accessor");
}

namespace {

// Writes `value` (not negative) with at least `digits` digits, as printf's "%.Nd" writes it;
// returns the end of what it wrote.
char* PutPadded(char* out, std::int64_t value, int digits) {
  char text[24];
  int length = 0;
  do {
    text[length++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value > 0);
  while (length < digits) text[length++] = '0';
  while (length > 0) *out++ = text[--length];
  return out;
}

// Writes `value` (0 to 99) with two digits; returns the end.
char* PutTwoDigits(char* out, int value) {
  out[0] = static_cast<char>('0' + value / 10);
  out[1] = static_cast<char>('0' + value % 10);
  return out + 2;
}

// "HH:MM:SS.mmm" of milliseconds since midnight (0 to 86399999); returns the end.
char* PutTimeOfDay(char* out, int ms) {
  out = PutTwoDigits(out, ms / 3600000);
  *out++ = ':';
  out = PutTwoDigits(out, ms / 60000 % 60);
  *out++ = ':';
  out = PutTwoDigits(out, ms / 1000 % 60);
  *out++ = '.';
  const int fraction = ms % 1000;
  *out++ = static_cast<char>('0' + fraction / 100);
  return PutTwoDigits(out, fraction % 100);
}

}  // namespace

std::string tDatabase_Structure::FormatDateTimeLiteral(double date_time) const {
  const dataset::TimeStamp stamp = dataset::DateTimeToTimeStamp(date_time);
  const dataset::CivilDate date = dataset::CivilFromDayNumber(stamp.date);
  const int ms = stamp.time;
  if (date.year < 0 || ms < 0 || ms >= 86400000)
    return fmt::sprintf("%.4d-%.2d-%.2d %.2d:%.2d:%.2d.%.3d", date.year, date.month, date.day, ms / 3600000,
                        ms / 60000 % 60, ms / 1000 % 60, ms % 1000);
  // A year has at most 20 digits, the rest takes 20 characters.
  char text[48];
  const int year = static_cast<int>(date.year % 10000);
  char* end = date.year < 10000 ? PutTwoDigits(PutTwoDigits(text, year / 100), year % 100)
                                : PutPadded(text, date.year, 4);
  *end++ = '-';
  end = PutTwoDigits(end, date.month);
  *end++ = '-';
  end = PutTwoDigits(end, date.day);
  *end++ = ' ';
  end = PutTimeOfDay(end, ms);
  return std::string(text, end);
}

std::string tDatabase_Structure::FormatTimeLiteral(double time) const {
  const int ms = dataset::DateTimeToTimeStamp(time).time;
  if (ms < 0 || ms >= 86400000)
    return fmt::sprintf("%.2d:%.2d:%.2d.%.3d", ms / 3600000, ms / 60000 % 60, ms / 1000 % 60, ms % 1000);
  char text[40];
  return std::string(text, PutTimeOfDay(text, ms));
}

int tDatabase_Structure::IndexOf(const tTbl_Structure* table) const noexcept {
  for (std::size_t i = 0; i < tables_.size(); ++i) {
    if (tables_[i].get() == table) return static_cast<int>(i);
  }
  return -1;
}

tTbl_Structure* tDatabase_Structure::FindTable(std::string_view name) const {
  if (!name_index_valid_) {
    name_index_.clear();
    for (const auto& table : tables_)
      name_index_.emplace(text::UpperCase(table->GetTableName()), table.get());
    name_index_valid_ = true;
  }
  const auto found = name_index_.find(text::UpperCase(name));
  return found == name_index_.end() ? nullptr : found->second;
}

void tDatabase_Structure::AddForeignKey(std::string_view master_table, std::string_view detail_table,
                                        std::string_view constraint_name, const std::string& master_column,
                                        const std::string& detail_column) {
  tTbl_Structure* master = FindTable(master_table);
  tTbl_Structure* detail = FindTable(detail_table);
  if (master == nullptr || detail == nullptr) return;
  detail->Masters().AddMaster(master, constraint_name, master_column, detail_column);
}

void tDatabase_Structure::AddForeignKeyAndReorder(std::string_view master_table,
                                                  std::string_view detail_table,
                                                  std::string_view constraint_name,
                                                  const std::string& master_column,
                                                  const std::string& detail_column) {
  AddForeignKey(master_table, detail_table, constraint_name, master_column, detail_column);
  SortMastersFirst();
  CheckCircularLinks();
}

void tDatabase_Structure::SortMastersFirst() {
  const std::size_t count = tables_.size();
  if (count < 2) return;
  for (std::size_t p = 0; p + 1 < count; ++p) {
    for (std::size_t q = count - 1; q > p; --q) {
      if (tables_[p]->DependsOn(*tables_[q], false)) std::swap(tables_[p], tables_[q]);
    }
  }
  name_index_valid_ = false;
}

void tDatabase_Structure::CheckCircularLinks() const {
  for (std::size_t p = 0; p < tables_.size(); ++p) {
    for (std::size_t q = p + 1; q < tables_.size(); ++q) {
      if (tables_[p]->DependsOn(*tables_[q], false)) {
        throw StructureError("Circular master detail links not allowed");
      }
    }
  }
}

namespace {

/// Refuses a rep_USERFK row that names a column its table does not have: such a name would
/// stand unchecked in the cascade DELETE and the master EXISTS texts.
void CheckUserKeyColumn(const tTbl_Structure& table, const std::string& column, const char* field,
                        const std::string& constraint_name) {
  if (table.HasField(column)) return;
  throw StructureError(text::Utf8ToAnsi("Řádek tabulky rep_USERFK s ConstraintName '") + constraint_name +
                       text::Utf8ToAnsi("': ") + field + " '" + column +
                       text::Utf8ToAnsi("' není sloupec tabulky ") + table.GetTableName());
}

}  // namespace

void LoadUserForeignKeys(tDatabase_Structure& database) {
  tTbl_Structure* table = database.FindTable("rep_USERFK");
  if (table == nullptr) return;
  int count = 0;
  std::unique_ptr<dataset::TDataSet> rows = table->OpenTableData({}, {}, count);
  if (count <= 0) return;
  rows->Open();
  while (!rows->Eof()) {
    const std::string master = rows->FieldByName("PK_TableName").AsString();
    const std::string detail = rows->FieldByName("FK_TableName").AsString();
    const std::string name = rows->FieldByName("ConstraintName").AsString();
    const std::string master_column = rows->FieldByName("PK_Field").AsString();
    const std::string detail_column = rows->FieldByName("FK_Field").AsString();
    const tTbl_Structure* master_table = database.FindTable(master);
    const tTbl_Structure* detail_table = database.FindTable(detail);
    // A key whose tables are not modelled is ignored, as AddForeignKey ignores it.
    if (master_table != nullptr && detail_table != nullptr) {
      CheckUserKeyColumn(*master_table, master_column, "PK_Field", name);
      CheckUserKeyColumn(*detail_table, detail_column, "FK_Field", name);
    }
    database.AddForeignKeyAndReorder(master, detail, name, master_column, detail_column);
    rows->Next();
  }
}

std::string tDatabase_Structure::DefaultRulesStatement(bool) const {
  throw StructureError("Default rules cannot be set in this database");
}

std::vector<std::string> tDatabase_Structure::ExportLogBatch(
    const std::string&, int, double, const std::vector<std::pair<std::string, int>>&) const {
  throw StructureError("The export log cannot be written in this database");
}

std::vector<std::string> tDatabase_Structure::ImportLogBatch(const std::string&, int, int, double,
                                                             const std::vector<ImportCounts>&) const {
  throw StructureError("The import log cannot be written in this database");
}

std::string tDatabase_Structure::CurrentTimeQuery() const {
  throw StructureError("The server time cannot be read in this database");
}

}  // namespace tamaril::dbstruct
