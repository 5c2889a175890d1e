#include "dbaccess/query_dataset.h"

#include <algorithm>
#include <cstdint>
#include <map>
#include <utility>

#include "dataset/date_codec.h"
#include "dataset/errors.h"
#include "dataset/record.h"
#include "dbaccess/errors.h"
#include "text/ascii.h"
#include "text/encoding.h"

namespace tamaril::dbaccess {

using dataset::DatasetError;
using dataset::FieldType;
using dataset::TFieldDef;
using dataset::TFieldDefs;
using dataset::TFieldDesc;
using dataset::TFieldDescs;
using dataset::TQVMRecord;
using dataset::Variant;

namespace {

constexpr const char* kUnidirectionalMessage = "Operation not allowed on a unidirectional dataset";
constexpr const char* kReadOnlyMessage = "Cannot modify a read-only dataset";
constexpr int kMaxStringSize = 65534;

bool IsStringType(FieldType type) { return type == FieldType::String || type == FieldType::FixedChar; }

// A field of this type takes a column's value as a string variant.
bool TakesText(FieldType type) {
  return IsStringType(type) || type == FieldType::WideString || type == FieldType::Guid;
}

bool IsNarrowInteger(FieldType type) {
  return type == FieldType::Smallint || type == FieldType::Integer || type == FieldType::Word ||
         type == FieldType::AutoInc;
}

std::string UniqueFieldName(const TFieldDefs& defs, const std::string& wanted) {
  const auto taken = [&](const std::string& name) {
    return std::any_of(defs.begin(), defs.end(),
                       [&](const TFieldDef& def) { return dataset::SameFieldName(def.Name, name); });
  };
  if (!taken(wanted)) return wanted;
  for (int n = 1;; ++n) {
    std::string candidate = wanted + "_" + std::to_string(n);
    if (!taken(candidate)) return candidate;
  }
}

std::string EncodeIndex(std::int64_t index, std::size_t bytes) {
  std::string bookmark(bytes, '\0');
  for (std::size_t i = 0; i < bytes; ++i) bookmark[i] = static_cast<char>((index >> (8 * i)) & 0xFF);
  return bookmark;
}

std::int64_t DecodeIndex(const std::string& bookmark) {
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < bookmark.size(); ++i) {
    value |= static_cast<std::uint64_t>(static_cast<unsigned char>(bookmark[i])) << (8 * i);
  }
  return static_cast<std::int64_t>(value);
}

}  // namespace

TFieldDefs FieldDefsFromColumns(const std::vector<ColumnInfo>& columns) {
  TFieldDefs defs;
  for (std::size_t i = 0; i < columns.size(); ++i) {
    const ColumnInfo& column = columns[i];
    TFieldDef def;
    def.Name = UniqueFieldName(defs, column.name.empty() ? "COLUMN" + std::to_string(i + 1) : column.name);
    def.DataType = column.field_type;
    if (def.DataType == FieldType::WideString) def.DataType = FieldType::String;
    if (def.DataType == FieldType::Unknown) def.DataType = FieldType::Memo;
    switch (def.DataType) {
      case FieldType::String:
      case FieldType::FixedChar:
        def.Size = column.size;
        // A text without a usable size would be cut to nothing; a memo keeps it whole.
        if (def.Size <= 0 || def.Size > kMaxStringSize) {
          def.DataType = FieldType::Memo;
          def.Size = 0;
        }
        break;
      case FieldType::Bytes:
      case FieldType::VarBytes:
        def.Size = column.size;
        if (def.Size <= 0) def.DataType = FieldType::Blob;
        break;
      case FieldType::Guid: def.Size = 38; break;
      case FieldType::BCD:
        def.Size = column.scale;
        def.Precision = column.precision > 0 ? column.precision : 18;
        break;
      default: break;
    }
    defs.push_back(std::move(def));
  }
  TFieldDescs check;
  dataset::BuildFieldDescs(defs, check);
  return defs;
}

void UnicodeFieldDefs(TFieldDefs& defs) {
  constexpr int kMaxUtf8CharBytes = 4;
  std::vector<TFieldDef*> sized;
  for (TFieldDef& def : defs) {
    if (def.DataType != FieldType::String && def.DataType != FieldType::FixedChar) continue;
    if (def.Size > kMaxStringSize / kMaxUtf8CharBytes) {
      def.DataType = FieldType::Memo;
      def.Size = 0;
    } else {
      def.Size *= kMaxUtf8CharBytes;
      sized.push_back(&def);
    }
  }
  TFieldDescs check;
  try {
    dataset::BuildFieldDescs(defs, check);
  } catch (const DatasetError&) {
    for (TFieldDef* def : sized) {
      def->DataType = FieldType::Memo;
      def->Size = 0;
    }
  }
}

void WidenFieldDefs(TFieldDefs& defs, const std::vector<FieldRoom>& room) {
  std::vector<TFieldDef*> widened;
  for (const FieldRoom& wanted : room) {
    const auto def = std::find_if(defs.begin(), defs.end(), [&](const TFieldDef& d) {
      return dataset::SameFieldName(d.Name, wanted.name);
    });
    if (def == defs.end()) continue;
    if (IsStringType(def->DataType) && wanted.longest_text > def->Size) {
      if (wanted.longest_text > kMaxStringSize) {
        def->DataType = FieldType::Memo;
        def->Size = 0;
      } else {
        def->Size = wanted.longest_text;
        widened.push_back(&*def);
      }
    } else if (IsNarrowInteger(def->DataType) && wanted.wide_integers) {
      def->DataType = FieldType::Largeint;
    }
  }
  if (widened.empty()) return;
  TFieldDescs check;
  try {
    dataset::BuildFieldDescs(defs, check);
  } catch (const DatasetError&) {
    // Together the widened texts outgrow a record: as memos they take only a reference in it.
    for (TFieldDef* def : widened) {
      def->DataType = FieldType::Memo;
      def->Size = 0;
    }
  }
}

Variant ValueToFieldVariant(const Value& value, FieldType type) {
  if (value.IsNull()) return Variant::Null();
  switch (type) {
    case FieldType::Smallint:
    case FieldType::Integer:
    case FieldType::Word:
    case FieldType::AutoInc:
    case FieldType::Largeint: return Variant::Integer(value.AsInteger());
    case FieldType::Boolean: return Variant::Boolean(value.AsBoolean());
    case FieldType::Float:
    case FieldType::Currency:
    case FieldType::BCD: return Variant::Double(value.AsDouble());
    case FieldType::Date:
    case FieldType::Time:
    case FieldType::DateTime: return Variant::DateTime(DaysOf(value.AsDateTime()));
    default:
      if (TakesText(type)) return Variant::String(value.AsString());
      return Variant::Bytes(value.AsString());
  }
}

// ---- the cursor behind a query dataset ----

/// The rows of a query: every row converted to a record at Open, or (unidirectional) the one
/// row the server cursor stands on.
class TQueryRecordset final : public dataset::TQVMRecordset {
 public:
  explicit TQueryRecordset(TQueryDataSet& dataset) : TQVMRecordset(dataset), query_(&dataset) {}
  void Open() override { Load(); }
  ~TQueryRecordset() override { Close(); }

  int RowCount() const noexcept { return static_cast<int>(rows_.size()); }

  bool IsEmpty() override { return rows_.empty(); }
  void Close() override {
    cursor_.reset();
    rows_.clear();
    lossy_.clear();
    index_ = -1;
  }
  void First() override {
    if (query_->Unidirectional() && row_number_ > 1) throw DatasetError(kUnidirectionalMessage);
    index_ = rows_.empty() ? -1 : 0;
  }
  void Last() override {
    RequireBidirectional();
    index_ = RowCount() - 1;
  }
  bool Next() override {
    if (query_->Unidirectional()) {
      if (!cursor_) return false;
      if (!cursor_->Next()) {
        cursor_.reset();
        return false;
      }
      Fill(*rows_.front(), *cursor_, 0);
      ++row_number_;
      return true;
    }
    if (index_ + 1 >= RowCount()) return false;
    ++index_;
    return true;
  }
  bool Prior() override {
    RequireBidirectional();
    if (index_ <= 0) return false;
    --index_;
    return true;
  }
  void Delete() override { throw DatasetError(kReadOnlyMessage); }
  void Edit() override { throw DatasetError(kReadOnlyMessage); }
  void Insert() override { throw DatasetError(kReadOnlyMessage); }
  void Post() override { throw DatasetError(kReadOnlyMessage); }
  void SetFieldData(const TFieldDesc&, const std::byte*) override { throw DatasetError(kReadOnlyMessage); }

  /// Runs the statement again and fetches its rows; the position is kept where it still exists.
  void Refresh() override {
    RequireBidirectional();
    std::unique_ptr<Cursor> cursor = query_->Run();
    lossy_.clear();
    std::vector<std::unique_ptr<TQVMRecord>> rows = FetchRows(*cursor);
    rows_ = std::move(rows);
    index_ = std::min(index_, RowCount() - 1);
  }

  int GetBookmarkSize() override { return query_->Unidirectional() ? 0 : 4; }
  std::string GetBookmark() override {
    if (query_->Unidirectional()) return EncodeIndex(row_number_, 8);
    return index_ < 0 ? std::string() : EncodeIndex(index_, 4);
  }
  void GotoBookmark(const std::string& bookmark) override {
    if (query_->Unidirectional()) {
      if (!bookmark.empty() && bookmark != GetBookmark()) throw DatasetError(kUnidirectionalMessage);
      return;
    }
    const std::int64_t index = bookmark.size() == 4 ? DecodeIndex(bookmark) : -1;
    if (index < 0 || index >= RowCount()) throw DatasetError(text::Utf8ToAnsi("Záložka nenalezena"));
    index_ = static_cast<int>(index);
  }
  bool GetFieldData(const TFieldDesc& field, std::byte* slot) override {
    if (index_ < 0 || index_ >= RowCount() || field.FieldNo < 1 ||
        static_cast<std::size_t>(field.FieldNo) > descs_.size())
      return false;
    return rows_[static_cast<std::size_t>(index_)]->GetFieldData(descs_[field.FieldNo - 1u], slot);
  }
  bool Locate(const std::string& key_fields, const Variant& key_values, TQVMRecord* output, bool move,
              int options) override;

  /// The numbers (1-based) of the fields of row `index` whose text was lossy.
  const std::vector<int>* LossyFields(int index) const {
    const auto found = lossy_.find(query_->Unidirectional() ? 0 : index);
    return found == lossy_.end() ? nullptr : &found->second;
  }
  const TFieldDescs& Descs() const noexcept { return descs_; }

 private:
  void RequireBidirectional() const {
    if (query_->Unidirectional()) throw DatasetError(kUnidirectionalMessage);
  }
  void Load();
  /// Fills the record of row `index` from the cursor's row and notes its lossy texts.
  void Fill(TQVMRecord& record, const Cursor& cursor, int index);
  std::vector<std::unique_ptr<TQVMRecord>> FetchRows(Cursor& cursor);

  TQueryDataSet* query_;
  TFieldDescs descs_;  ///< the dataset's layout, kept here for the records that live here
  std::unique_ptr<Cursor> cursor_;
  std::vector<std::unique_ptr<TQVMRecord>> rows_;
  std::map<int, std::vector<int>> lossy_;  ///< row index (0 when unidirectional) -> lossy field numbers
  int index_ = -1;
  std::int64_t row_number_ = 0;  ///< unidirectional: 1-based number of the row read last
};

void TQueryRecordset::Load() {
  std::unique_ptr<Cursor> cursor = query_->Run();
  if (cursor->Columns().empty()) throw DatabaseError("CommandText does not return a result set");
  query_->FieldDefs() = FieldDefsFromColumns(cursor->Columns());
  if (!query_->field_room_.empty()) WidenFieldDefs(query_->FieldDefs(), query_->field_room_);
  if (query_->connection_ != nullptr && query_->connection_->UnicodeText())
    UnicodeFieldDefs(query_->FieldDefs());
  dataset::BuildFieldDescs(query_->FieldDefs(), descs_);
  if (query_->Unidirectional()) {
    cursor_ = std::move(cursor);
    if (!cursor_->Next()) {
      cursor_.reset();
      return;
    }
    rows_.push_back(std::make_unique<TQVMRecord>(descs_));
    Fill(*rows_.front(), *cursor_, 0);
    row_number_ = 1;
  } else {
    rows_ = FetchRows(*cursor);
  }
  index_ = rows_.empty() ? -1 : 0;
}

void TQueryRecordset::Fill(TQVMRecord& record, const Cursor& cursor, int index) {
  record.Clear();
  lossy_.erase(index);
  for (const TFieldDesc& desc : descs_) {
    const Value& value = cursor.Get(desc.FieldNo - 1u);
    if (value.Lossy()) lossy_[index].push_back(desc.FieldNo);
    // A string held for a text field or a blob goes to its slot as the variant would, without
    // a copy on the way.
    const std::string* held = value.HeldString();
    if (held != nullptr && (desc.Kind == dataset::FieldKind::String) == TakesText(desc.DataType) &&
        (desc.Kind == dataset::FieldKind::String || desc.Kind == dataset::FieldKind::Blob)) {
      record.SetBytes(desc.FieldNo, *held);
    } else {
      record.SetValue(desc.FieldNo, ValueToFieldVariant(value, desc.DataType));
    }
  }
}

std::vector<std::unique_ptr<TQVMRecord>> TQueryRecordset::FetchRows(Cursor& cursor) {
  std::vector<std::unique_ptr<TQVMRecord>> rows;
  while (cursor.Next()) {
    rows.push_back(std::make_unique<TQVMRecord>(descs_));
    Fill(*rows.back(), cursor, static_cast<int>(rows.size()) - 1);
  }
  return rows;
}

bool TQueryRecordset::Locate(const std::string& key_fields, const Variant& key_values, TQVMRecord* output,
                             bool move, int options) {
  RequireBidirectional();
  std::vector<int> numbers;
  for (const std::string& name : dataset::SplitToList(key_fields, ";")) {
    const auto desc = std::find_if(descs_.begin(), descs_.end(),
                                   [&](const TFieldDesc& d) { return dataset::SameFieldName(d.Name, name); });
    if (desc == descs_.end()) throw DatasetError("Field '" + name + "' not found");
    numbers.push_back(desc->FieldNo);
  }
  TQVMRecord key(descs_);
  for (std::size_t i = 0; i < numbers.size(); ++i) {
    const Variant& value = numbers.size() > 1     ? key_values.Items().at(i)
                           : key_values.IsArray() ? key_values.Items().at(0)
                                                  : key_values;
    key.SetValue(numbers[i], value);
  }
  for (int row = 0; row < RowCount(); ++row) {
    const TQVMRecord& record = *rows_[static_cast<std::size_t>(row)];
    if (std::all_of(numbers.begin(), numbers.end(),
                    [&](int number) { return key.CompareField(number, record, options) == 0; })) {
      if (output) output->Assign(record);
      if (move) index_ = row;
      return true;
    }
  }
  return false;
}

// ---- the dataset ----

TQueryDataSet::TQueryDataSet() { SetReadOnly(true); }

TQueryDataSet::TQueryDataSet(Connection& connection, std::string sql, ParameterStyle style)
    : connection_(&connection), sql_(std::move(sql)), style_(style) {
  SetReadOnly(true);
}

TQueryDataSet::~TQueryDataSet() {
  // The server cursor borrows the statement: close before the statement goes.
  CloseForDestruction();
}

void TQueryDataSet::SetConnection(Connection* connection) {
  Unprepare();
  connection_ = connection;
}

void TQueryDataSet::SetSQL(std::string sql) {
  Unprepare();
  sql_ = std::move(sql);
}

void TQueryDataSet::SetParameterStyle(ParameterStyle style) {
  Unprepare();
  style_ = style;
}

void TQueryDataSet::SetFieldRoom(std::vector<FieldRoom> room) {
  CheckInactive();
  field_room_ = std::move(room);
}

void TQueryDataSet::SetUnidirectional(bool unidirectional) {
  CheckInactive();
  unidirectional_ = unidirectional;
}

Statement& TQueryDataSet::Prepare() {
  if (statement_) return *statement_;
  if (!connection_) throw DatabaseError("Missing Connection or ConnectionString");
  if (text::TrimBlanks(sql_).empty()) throw DatabaseError("No SQL statement available");
  statement_ = connection_->Prepare(sql_, style_);
  return *statement_;
}

void TQueryDataSet::Unprepare() {
  CheckInactive();
  statement_.reset();
}

void TQueryDataSet::DeclareParameter(std::string name, FieldType type, int size) {
  Prepare().DeclareParameter(std::move(name), type, size);
}

void TQueryDataSet::SetParameter(std::string_view name, const Value& value) {
  Prepare().SetParameter(name, value);
}

void TQueryDataSet::SetParameter(std::size_t index, Value value) {
  Prepare().SetParameter(index, std::move(value));
}

void TQueryDataSet::ClearParameters() {
  if (statement_) statement_->ClearParameters();
}

std::unique_ptr<Cursor> TQueryDataSet::Run() { return Prepare().Open(); }

void TQueryDataSet::CheckUnidirectional(bool allowed) const {
  if (!allowed && unidirectional_) throw DatasetError(kUnidirectionalMessage);
}

int TQueryDataSet::RecordCount() const {
  if (!Active()) return 0;
  if (unidirectional_) return -1;
  return static_cast<const TQueryRecordset*>(Recordset())->RowCount();
}

int TQueryDataSet::RecNo() const {
  if (!Active() || unidirectional_ || !HasRecord()) return -1;
  return static_cast<int>(DecodeIndex(GetBookmark()));
}

bool TQueryDataSet::Locate(const std::string& key_fields, const Variant& key_values, int options) {
  CheckUnidirectional(false);
  return TQVMDataset::Locate(key_fields, key_values, options);
}

Variant TQueryDataSet::Lookup(const std::string& key_fields, const Variant& key_values,
                              const std::string& result_fields) {
  CheckUnidirectional(false);
  return TQVMDataset::Lookup(key_fields, key_values, result_fields);
}

bool TQueryDataSet::BookmarkValid(const std::string& bookmark) {
  return !unidirectional_ && TQVMDataset::BookmarkValid(bookmark);
}

std::vector<std::string> TQueryDataSet::UnmappableFields() const {
  std::vector<std::string> names;
  if (!Active()) return names;
  const auto* recordset = static_cast<const TQueryRecordset*>(Recordset());
  const int index = unidirectional_ ? 0 : RecNo();
  if (index < 0) return names;
  if (const std::vector<int>* numbers = recordset->LossyFields(index)) {
    for (const int number : *numbers)
      names.push_back(recordset->Descs()[static_cast<std::size_t>(number) - 1].Name);
  }
  return names;
}

dataset::TQVMRecordsetClass TQueryDataSet::GetRecordsetClass() {
  return [](dataset::TQVMDataset& dataset) -> std::unique_ptr<dataset::TQVMRecordset> {
    return std::make_unique<TQueryRecordset>(static_cast<TQueryDataSet&>(dataset));
  };
}

dataset::GetResult TQueryDataSet::GetRecord(std::byte* buffer, dataset::GetMode mode, bool check) {
  if (unidirectional_ && mode == dataset::GetMode::Prior) {
    if (check) throw DatasetError(kUnidirectionalMessage);
    return dataset::GetResult::Error;
  }
  return TQVMDataset::GetRecord(buffer, mode, check);
}

void TQueryDataSet::InternalSetToRecord(const std::byte* buffer) {
  // A forward-only cursor never leaves the row the dataset shows, except past the end.
  if (!unidirectional_) TQVMDataset::InternalSetToRecord(buffer);
}

void TQueryDataSet::InternalGotoBookmark(const std::string& bookmark) {
  CheckUnidirectional(false);
  TQVMDataset::InternalGotoBookmark(bookmark);
}

}  // namespace tamaril::dbaccess
