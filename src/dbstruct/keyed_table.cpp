#include "dbstruct/keyed_table.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <ctime>
#include <functional>
#include <ostream>

#include <fmt/format.h>

#include "dataset/dataset.h"
#include "dataset/date_codec.h"
#include "dataset/field.h"
#include "dataset/field_layout.h"
#include "dbaccess/connection.h"
#include "dbaccess/query_dataset.h"
#include "dbstruct/errors.h"
#include "dbstruct/field_tags.h"
#include "text/ascii.h"
#include "text/encoding.h"

namespace tamaril::dbstruct {

namespace {

using dataset::FieldType;
using dbaccess::Value;

constexpr std::string_view kKeyPrefix = "KEY_";
constexpr std::string_view kColumnParameter = "rep_Column";

bool IsParameterNameStart(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }
bool IsParameterNameChar(char c) { return IsParameterNameStart(c) || (c >= '0' && c <= '9'); }

/// True when `name` can follow the ":" of a parameter as it stands.
bool CanBeParameterName(std::string_view name) {
  return !name.empty() && IsParameterNameStart(name.front()) &&
         std::all_of(name.begin(), name.end(), IsParameterNameChar);
}

/// The number of a "rep_ColumnN" parameter, or 0.
std::size_t ColumnParameterNumber(std::string_view name) {
  if (name.size() <= kColumnParameter.size() || name.size() > kColumnParameter.size() + 6 ||
      !text::EqualsIgnoreCaseAscii(name.substr(0, kColumnParameter.size()), kColumnParameter))
    return 0;
  std::size_t number = 0;
  for (char c : name.substr(kColumnParameter.size())) {
    if (c < '0' || c > '9') return 0;
    number = number * 10 + static_cast<std::size_t>(c - '0');
  }
  return number;
}

/// How many found masters one check keeps before it forgets them all.
constexpr std::size_t kMaxFoundMasters = 100000;

/// The parameter values of a master check as one text: every value's kind, length and text.
std::string FoundMasterKey(const std::vector<Value>& values) {
  std::string key;
  for (const Value& value : values) {
    const std::string text = value.AsString();
    char number[24];
    key.reserve(key.size() + text.size() + 2 * sizeof number);
    key.append(number, std::to_chars(number, number + sizeof number, static_cast<int>(value.kind())).ptr);
    key += ':';
    key.append(number, std::to_chars(number, number + sizeof number, text.size()).ptr);
    key += ':';
    key += text;
  }
  return key;
}

/// What a value is, as far as its fit to a column goes.
enum class ValueClass { Integer, Number, Boolean, DateTime, Date, Time, Text, Guid, Binary, Other };

ValueClass ClassOf(FieldType type) {
  switch (type) {
    case FieldType::Smallint:
    case FieldType::Integer:
    case FieldType::Word:
    case FieldType::AutoInc:
    case FieldType::Largeint: return ValueClass::Integer;
    case FieldType::Float:
    case FieldType::Currency:
    case FieldType::BCD: return ValueClass::Number;
    case FieldType::Boolean: return ValueClass::Boolean;
    case FieldType::DateTime: return ValueClass::DateTime;
    case FieldType::Date: return ValueClass::Date;
    case FieldType::Time: return ValueClass::Time;
    case FieldType::String:
    case FieldType::FixedChar:
    case FieldType::WideString:
    case FieldType::Memo:
    case FieldType::FmtMemo: return ValueClass::Text;
    case FieldType::Guid: return ValueClass::Guid;
    case FieldType::Bytes:
    case FieldType::VarBytes:
    case FieldType::Blob:
    case FieldType::Graphic:
    case FieldType::TypedBinary: return ValueClass::Binary;
    default: return ValueClass::Other;
  }
}

/// A NULL of a memo or blob field stands for the empty value too (the record stream writes an
/// empty block as NULL): a text or binary column that takes no NULL gets the empty value.
bool EmptyForNull(const tColumnDef& def, const dataset::TField& field) {
  const ValueClass column = ClassOf(def.DataType);
  return dataset::KindOfFieldType(field.DataType()) == dataset::FieldKind::Blob &&
         (column == ValueClass::Text || column == ValueClass::Binary);
}

std::optional<double> NumberOfText(std::string_view text) {
  text = text::TrimBlanks(text);
  double value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() || !std::isfinite(value))
    return std::nullopt;
  return value;
}

std::optional<std::int64_t> IntegerOfNumber(double value) {
  // ±2^63: the doubles inside it convert without overflow.
  constexpr double kLimit = 9223372036854775808.0;
  if (!std::isfinite(value) || std::trunc(value) != value || value >= kLimit || value < -kLimit)
    return std::nullopt;
  return static_cast<std::int64_t>(value);
}

std::optional<std::int64_t> IntegerOfText(std::string_view text) {
  text = text::TrimBlanks(text);
  std::int64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (!text.empty() && error == std::errc() && end == text.data() + text.size()) return value;
  const auto number = NumberOfText(text);
  return number ? IntegerOfNumber(*number) : std::nullopt;
}

/// The double of an integer when it is exactly one.
std::optional<double> NumberOfInteger(std::int64_t value) {
  const auto number = static_cast<double>(value);
  const auto back = IntegerOfNumber(number);
  return back && *back == value ? std::optional<double>(number) : std::nullopt;
}

std::optional<bool> BooleanOfText(std::string_view text) {
  text = text::TrimBlanks(text);
  if (text == "1" || text::EqualsIgnoreCaseAscii(text, "true")) return true;
  if (text == "0" || text::EqualsIgnoreCaseAscii(text, "false")) return false;
  return std::nullopt;
}

std::optional<bool> BooleanOfNumber(double value) {
  if (value == 0) return false;
  if (value == 1) return true;
  return std::nullopt;
}

bool HasTimeOfDay(double days) { return dataset::DateTimeToTimeStamp(days).time != 0; }

/// True for a date-time on 30 December 1899, the day a time of day stands on.
bool IsTimeOfDay(double days) {
  return dataset::DateTimeToTimeStamp(days).date == dataset::DateTimeToTimeStamp(0).date;
}

/// A time of day ("HH:MM[:SS[.fff]]", or a date-time on 30 December 1899) as days.
std::optional<double> TimeOfText(std::string_view text) {
  if (const auto full = dbaccess::ParseDateTimeText(text)) {
    const double days = dbaccess::DaysOf(*full);
    return IsTimeOfDay(days) ? std::optional<double>(days) : std::nullopt;
  }
  const auto time = dbaccess::ParseDateTimeText("1899-12-30 " + std::string(text::TrimBlanks(text)));
  return time ? std::optional<double>(dbaccess::DaysOf(*time)) : std::nullopt;
}

/// The text of a non-null field's value `read`, as TField::AsString gives it.
std::string TextOf(const dataset::Variant& read) {
  return read.kind() == dataset::Variant::Kind::Bytes ? read.AsBytes() : read.AsString();
}

/// A value as a conflict message quotes it: its text in quotes, a long one cut short.
std::string QuotedValue(const dataset::TField& field) {
  constexpr std::size_t kShown = 50;
  std::string text = field.AsString();
  if (text.size() > kShown) text = text.substr(0, kShown) + "...";
  return "'" + text + "'";
}

std::string Join(const std::vector<std::string>& items, std::string_view separator) {
  std::string joined;
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i > 0) joined += separator;
    joined += items[i];
  }
  return joined;
}

}  // namespace

bool IsIntegerKeyType(FieldType type) {
  return type == FieldType::Smallint || type == FieldType::Integer || type == FieldType::Word ||
         type == FieldType::AutoInc;
}

double NowAsDateTime() {
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

/// A set of 64-bit keys in one open-addressed array: eight bytes a key at most half full, so a
/// million RowGuids take 16 MiB. A key is a hash; two values that share one only cost a lookup.
class tKeyedTbl_Structure::tWrittenKeys {
 public:
  void Add(std::uint64_t key) {
    key = key == 0 ? 1 : key;
    if ((count_ + 1) * 2 > slots_.size()) Grow();
    if (Place(slots_, key)) ++count_;
  }
  bool Contains(std::uint64_t key) const {
    key = key == 0 ? 1 : key;
    if (slots_.empty()) return false;
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t at = key & mask;; at = (at + 1) & mask) {
      if (slots_[at] == key) return true;
      if (slots_[at] == 0) return false;
    }
  }

 private:
  /// Puts `key` into `slots` (a power of two long, never full); false when it was there.
  static bool Place(std::vector<std::uint64_t>& slots, std::uint64_t key) {
    const std::size_t mask = slots.size() - 1;
    for (std::size_t at = key & mask;; at = (at + 1) & mask) {
      if (slots[at] == key) return false;
      if (slots[at] == 0) {
        slots[at] = key;
        return true;
      }
    }
  }
  void Grow() {
    std::vector<std::uint64_t> larger(slots_.empty() ? 1024 : slots_.size() * 2, 0);
    for (std::uint64_t key : slots_) {
      if (key != 0) Place(larger, key);
    }
    slots_.swap(larger);
  }

  std::vector<std::uint64_t> slots_;
  std::size_t count_ = 0;
};

tKeyedTbl_Structure::tKeyedTbl_Structure(tDatabase_Structure& database) : owner_(database) {}

tKeyedTbl_Structure::~tKeyedTbl_Structure() = default;

dbaccess::Connection& tKeyedTbl_Structure::Conn() const {
  dbaccess::Connection* connection = owner_.Connection();
  if (connection == nullptr) throw StructureError("Database structure has no connection");
  return *connection;
}

// ---------------------------------------------------------------------------------------------
// Columns, indexes and keys

bool tKeyedTbl_Structure::IsFieldWritable(const std::string& name) const {
  return HasField(name) &&
         std::none_of(ComputedColumns.begin(), ComputedColumns.end(),
                      [&](const std::string& c) { return text::EqualsIgnoreCaseAscii(c, name); });
}

const tColumnDef* tKeyedTbl_Structure::FindFieldDef(std::string_view name) const {
  for (const auto& def : FieldDefs) {
    if (text::EqualsIgnoreCaseAscii(def.Name, name)) return &def;
  }
  return nullptr;
}

const tIndexDef* tKeyedTbl_Structure::UniqueIndex(int index) const {
  int n = 0;
  for (const auto& def : IndexDefs) {
    if (def.Unique && !def.Primary && ++n == index) return &def;
  }
  return nullptr;
}

std::string tKeyedTbl_Structure::IndexName(int index) const {
  if (index == 0) return PrimaryKeyIndexName;
  const tIndexDef* found = UniqueIndex(index);
  return found != nullptr ? found->Name : std::string();
}

std::string tKeyedTbl_Structure::ResolveColumn(const std::string& token) const {
  // A column whose name is all digits is meant by its name, not by its number.
  if (token.empty() || token.size() > 9 || token.find_first_not_of("0123456789") != std::string::npos ||
      FindFieldDef(token) != nullptr)
    return token;
  const std::size_t number = std::stoul(token);
  if (number < 1 || number > FieldDefs.size()) return token;
  return FieldDefs[number - 1].Name;
}

std::vector<std::string> tKeyedTbl_Structure::SplitFields(const std::string& fields) const {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (start <= fields.size()) {
    const std::size_t end = fields.find(';', start);
    const std::string part = fields.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (!part.empty()) parts.push_back(ResolveColumn(part));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return parts;
}

void tKeyedTbl_Structure::ResetStructure(const std::string& table_name) {
  CloseData();
  resolved_parameters_.clear();
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
  Identifiable = false;
  TableName = table_name;
}

void tKeyedTbl_Structure::ReadIndexes(const std::vector<dbaccess::IndexInfo>& indexes) {
  for (const auto& index : indexes) {
    IndexDefs.push_back({index.name, index.fields, index.primary, index.unique});
    if (index.unique && !index.primary) ++UniqueIndexCount;
    if (!index.primary) continue;
    HasPrimaryKey = true;
    PrimaryKeyFields = SplitFields(index.fields);
    IntKeyColumn.clear();
    const tColumnDef* key = PrimaryKeyFields.size() == 1 ? FindFieldDef(PrimaryKeyFields.front()) : nullptr;
    if (key != nullptr && IsIntegerKeyType(key->DataType)) IntKeyColumn = key->Name;
  }
}

// ---------------------------------------------------------------------------------------------
// Conditions and parameters

std::string tKeyedTbl_Structure::ParameterName(std::string_view column) const {
  if (CanBeParameterName(column)) return std::string(column);
  for (std::size_t i = 0; i < FieldDefs.size(); ++i) {
    if (text::EqualsIgnoreCaseAscii(FieldDefs[i].Name, column))
      return std::string(kColumnParameter) + std::to_string(i + 1);
  }
  return std::string(column);
}

std::string tKeyedTbl_Structure::KeyEquals(const std::string& column) const {
  return QuoteIdentifier(column) + "=:" + std::string(kKeyPrefix) + ParameterName(column);
}

std::string tKeyedTbl_Structure::RowGuidCondition() const {
  const std::string column = IdentifyingGuidColumn();
  return column.empty() ? std::string() : KeyEquals(column);
}

std::string tKeyedTbl_Structure::IntKeyCondition() const {
  return IntKeyColumn.empty() ? std::string() : KeyEquals(IntKeyColumn);
}

std::vector<std::string> tKeyedTbl_Structure::IndexColumns(int index) const {
  if (index == 0) return HasPrimaryKey ? PrimaryKeyFields : std::vector<std::string>();
  const tIndexDef* def = UniqueIndex(index);
  return def == nullptr ? std::vector<std::string>() : SplitFields(def->Fields);
}

std::string tKeyedTbl_Structure::IndexCondition(int index, bool qualified) const {
  std::string condition;
  for (const auto& column : IndexColumns(index)) {
    if (!condition.empty()) condition += " and ";
    if (qualified) condition += QuoteIdentifier(TableName) + ".";
    condition += KeyEquals(column);
  }
  return condition;
}

std::string tKeyedTbl_Structure::RecordKeyCondition() const {
  return IdentifyingGuidColumn().empty() ? IndexCondition(0, false) : RowGuidCondition();
}

std::vector<Value> tKeyedTbl_Structure::ParameterValues(
    dataset::TDataSet* source, const std::vector<dbaccess::Parameter>& parameters) const {
  std::vector<Value> values;
  values.reserve(parameters.size());
  for (const tBindPlan::tSlot& slot : BindPlan(source, parameters).Slots)
    values.push_back(ValueForSlot(slot));
  return values;
}

Value tKeyedTbl_Structure::ValueForSlot(const tBindPlan::tSlot& slot) const {
  const tColumnDef* def = slot.Def;
  const bool required = def != nullptr && def->Required;
  if (slot.Field == nullptr) return required ? RequiredDefault(def->DataType) : Value();
  const dataset::TField& field = *slot.Field;
  // One read of the field serves every question about its value.
  const dataset::Variant read = field.AsVariant();
  if (read.IsNull()) {
    if (!required) return {};
    if (!EmptyForNull(*def, field)) return RequiredDefault(def->DataType);
    return ClassOf(def->DataType) == ValueClass::Binary ? Value::Bytes({}) : Value::Text({});
  }
  if (def == nullptr) return FieldValue(field, read);
  Value value;
  ColumnValue(*def, field, read, value);
  return value;
}

bool tKeyedTbl_Structure::PlanHolds(const tBindPlan& plan, const dataset::TDataSet* source,
                                    const std::vector<dbaccess::Parameter>& parameters) const {
  if (plan.Parameters != &parameters || plan.Source != source || plan.Defs != FieldDefs.data() ||
      plan.DefCount != FieldDefs.size() || plan.ParameterNames.size() != parameters.size())
    return false;
  if (source != nullptr) {
    const auto& fields = source->Fields();
    if (fields.size() != plan.Fields.size()) return false;
    for (std::size_t i = 0; i < fields.size(); ++i) {
      if (fields[i].get() != plan.Fields[i]) return false;
    }
  }
  // Views compare inline: this runs for every row.
  using View = std::string_view;
  for (std::size_t i = 0; i < parameters.size(); ++i) {
    const tBindPlan::tSlot& slot = plan.Slots[i];
    if (View(parameters[i].name) != View(plan.ParameterNames[i])) return false;
    // A column or a field renamed in place may stand for another parameter now; a name that
    // named no column may name one.
    if (slot.Def != nullptr ? View(slot.Def->Name) != View(slot.Column)
                            : FindFieldDef(slot.Column) != nullptr)
      return false;
    if (slot.Field != nullptr && View(slot.Field->Name) != View(slot.FieldName)) return false;
  }
  return true;
}

const tKeyedTbl_Structure::tBindPlan& tKeyedTbl_Structure::BindPlan(
    dataset::TDataSet* source, const std::vector<dbaccess::Parameter>& parameters) const {
  tBindPlan* plan = nullptr;
  for (const auto& made : bind_plans_) {
    if (made->Parameters != &parameters || made->Source != source) continue;
    if (PlanHolds(*made, source, parameters)) return *made;
    plan = made.get();
    break;
  }
  if (plan == nullptr) {
    // Lists made for a single call (a temporary vector) would pile up.
    constexpr std::size_t kMaxPlans = 64;
    if (bind_plans_.size() >= kMaxPlans) bind_plans_.clear();
    plan = bind_plans_.emplace_back(std::make_unique<tBindPlan>()).get();
  }
  *plan = {};
  plan->Parameters = &parameters;
  plan->Source = source;
  plan->Defs = FieldDefs.data();
  plan->DefCount = FieldDefs.size();
  if (source != nullptr) {
    for (const auto& field : source->Fields()) plan->Fields.push_back(field.get());
  }
  // The source's fields mostly come in the order of the columns: as far as they do, the field
  // at a column's position is the first of its name, unless an earlier column's name is the
  // same to the fields.
  std::size_t aligned = 0;
  std::size_t checked = 0;
  for (const auto& parameter : parameters) {
    plan->ParameterNames.push_back(parameter.name);
    const tParameterColumn& resolved = ResolveParameter(parameter.name);
    const tColumnDef* def = resolved.Def;
    const dataset::TField* field = nullptr;
    if (source != nullptr) {
      const auto& fields = source->Fields();
      if (def != nullptr) {
        const auto index = static_cast<std::size_t>(def - FieldDefs.data());
        while (checked == aligned && checked <= index && checked < fields.size()) {
          if (dataset::SameFieldName(fields[checked]->Name, FieldDefs[checked].Name)) ++aligned;
          ++checked;
        }
        if (index < aligned && resolved.FirstOfItsName) field = fields[index].get();
      }
      if (field == nullptr) field = source->FindField(resolved.Column);
    }
    plan->Slots.push_back({def, resolved.Column, field, field != nullptr ? field->Name : std::string()});
  }
  return *plan;
}

tKeyedTbl_Structure::tMisfit tKeyedTbl_Structure::ColumnValue(const tColumnDef& def,
                                                              const dataset::TField& field,
                                                              const dataset::Variant& read,
                                                              Value& value) const {
  value = FieldValue(field, read);
  const ValueClass column = ClassOf(def.DataType);
  const ValueClass source = ClassOf(field.DataType());
  if (column == ValueClass::Other || source == ValueClass::Other) return tMisfit::None;
  switch (column) {
    case ValueClass::Integer: {
      std::optional<std::int64_t> number;
      if (source == ValueClass::Integer) number = read.AsInteger();
      if (source == ValueClass::Boolean) number = read.AsBoolean() ? 1 : 0;
      if (source == ValueClass::Number) number = IntegerOfNumber(read.AsDouble());
      if (source == ValueClass::Text) number = IntegerOfText(TextOf(read));
      if (!number) return tMisfit::NotInteger;
      const auto range = IntegerRange(def.DataType);
      if (range && (*number < range->first || *number > range->second)) return tMisfit::OutOfRange;
      if (source != ValueClass::Integer) value = Value::Integer(*number);
      return tMisfit::None;
    }
    case ValueClass::Number: {
      if (source == ValueClass::Number) return tMisfit::None;
      std::optional<double> number;
      if (source == ValueClass::Integer) number = NumberOfInteger(read.AsInteger());
      if (source == ValueClass::Boolean) number = read.AsBoolean() ? 1 : 0;
      if (source == ValueClass::Text) number = NumberOfText(TextOf(read));
      if (!number) return tMisfit::NotNumber;
      value = Value::Double(*number);
      return tMisfit::None;
    }
    case ValueClass::Boolean: {
      if (source == ValueClass::Boolean) return tMisfit::None;
      std::optional<bool> truth;
      if (source == ValueClass::Integer || source == ValueClass::Number)
        truth = BooleanOfNumber(read.AsDouble());
      if (source == ValueClass::Text) truth = BooleanOfText(TextOf(read));
      if (!truth) return tMisfit::NotBoolean;
      value = Value::Boolean(*truth);
      return tMisfit::None;
    }
    case ValueClass::DateTime: {
      if (source == ValueClass::DateTime) return tMisfit::None;
      std::optional<double> days;
      if (source == ValueClass::Date || source == ValueClass::Time) days = read.AsDateTime();
      if (source == ValueClass::Text) {
        if (const auto parsed = dbaccess::ParseDateTimeText(TextOf(read))) days = dbaccess::DaysOf(*parsed);
      }
      if (!days) return tMisfit::NotDateTime;
      value = DateTimeValue(*days);
      return tMisfit::None;
    }
    case ValueClass::Date: {
      if (source == ValueClass::Date) return tMisfit::None;
      std::optional<double> days;
      if (source == ValueClass::DateTime) days = read.AsDateTime();
      if (source == ValueClass::Text) {
        if (const auto parsed = dbaccess::ParseDateTimeText(TextOf(read))) days = dbaccess::DaysOf(*parsed);
      }
      if (!days || HasTimeOfDay(*days)) return tMisfit::NotDate;
      value = DateValue(*days);
      return tMisfit::None;
    }
    case ValueClass::Time: {
      if (source == ValueClass::Time) return tMisfit::None;
      std::optional<double> days;
      if (source == ValueClass::DateTime && IsTimeOfDay(read.AsDateTime())) days = read.AsDateTime();
      if (source == ValueClass::Text) days = TimeOfText(TextOf(read));
      if (!days) return tMisfit::NotTime;
      value = TimeValue(*days);
      return tMisfit::None;
    }
    case ValueClass::Text: {
      if (source == ValueClass::Binary) return tMisfit::NotText;
      // The shortest text that reads back as the same double; a database's own conversion
      // may round.
      if (source == ValueClass::Number) value = Value::Text(fmt::format("{}", read.AsDouble()));
      const bool may_exceed =
          def.Size > 0 &&
          (source == ValueClass::Number ||
           (source == ValueClass::Text && (field.IsBlob() || field.DataSize() - 1 > def.Size)));
      if (!may_exceed) return tMisfit::None;
      // A column's size counts characters, which a UTF-8 text has fewer of than bytes.
      const std::string text = value.AsString();
      const std::size_t length = value.Unicode() ? text::Utf8Length(text) : text.size();
      return length > static_cast<std::size_t>(def.Size) ? tMisfit::TooLong : tMisfit::None;
    }
    case ValueClass::Guid: {
      if (source == ValueClass::Guid) return tMisfit::None;
      auto guid = source == ValueClass::Text ? dbaccess::NormalizeGuidText(TextOf(read)) : std::nullopt;
      if (!guid) return tMisfit::NotGuid;
      value = Value::Guid(std::move(*guid));
      return tMisfit::None;
    }
    case ValueClass::Binary: return source == ValueClass::Binary ? tMisfit::None : tMisfit::NotBinary;
    case ValueClass::Other: break;
  }
  return tMisfit::None;
}

tKeyedTbl_Structure::tMisfit tKeyedTbl_Structure::CheckFit(const tColumnDef& def,
                                                           const dataset::TField& field) const {
  const ValueClass column = ClassOf(def.DataType);
  const ValueClass source = ClassOf(field.DataType());
  if (column == ValueClass::Other || source == ValueClass::Other) return tMisfit::None;
  // Of its own kind, only an integer column narrower than the field or a text column shorter
  // than the field can refuse a value.
  if (column == source) {
    const bool narrower = column == ValueClass::Integer && field.DataType() != def.DataType &&
                          IntegerRange(def.DataType).has_value();
    const bool shorter =
        column == ValueClass::Text && def.Size > 0 && (field.IsBlob() || field.DataSize() - 1 > def.Size);
    if (!narrower && !shorter) return tMisfit::None;
  }
  Value converted;
  return ColumnValue(def, field, field.AsVariant(), converted);
}

bool tKeyedTbl_Structure::ValuesFit(dataset::TDataSet& source, bool only_changed_fields,
                                    std::string& problem) {
  problem.clear();
  const auto& fields = source.Fields();
  for (std::size_t i = 0; i < FieldDefs.size(); ++i) {
    const tColumnDef& def = FieldDefs[i];
    // An archive's fields mostly come in the order of the columns.
    const bool at_its_place = i < fields.size() && (fields[i]->Name == def.Name ||
                                                    dataset::SameFieldName(fields[i]->Name, def.Name));
    const dataset::TField* field = at_its_place ? fields[i].get() : source.FindField(def.Name);
    if (field == nullptr || (only_changed_fields && !IsFieldToWrite(*field))) continue;
    if (std::any_of(ComputedColumns.begin(), ComputedColumns.end(),
                    [&](const std::string& c) { return text::EqualsIgnoreCaseAscii(c, def.Name); }))
      continue;
    if (field->IsNull()) {
      if (!def.Required || EmptyForNull(def, *field)) continue;
      problem = text::Utf8ToAnsi("sloupec ") + def.Name + text::Utf8ToAnsi(" nepřipouští NULL");
      return false;
    }
    const tMisfit misfit = CheckFit(def, *field);
    if (misfit == tMisfit::None) continue;
    const char* reason = "";
    switch (misfit) {
      case tMisfit::NotInteger: reason = "není celé číslo"; break;
      case tMisfit::NotNumber: reason = "není číslo"; break;
      case tMisfit::NotBoolean: reason = "není logická hodnota"; break;
      case tMisfit::NotDateTime: reason = "není datum a čas"; break;
      case tMisfit::NotDate: reason = "není datum"; break;
      case tMisfit::NotTime: reason = "není čas"; break;
      case tMisfit::NotGuid: reason = "není GUID"; break;
      case tMisfit::NotBinary: reason = "nejsou binární data"; break;
      case tMisfit::OutOfRange: reason = "je mimo rozsah sloupce"; break;
      case tMisfit::TooLong: reason = "je delší než "; break;
      case tMisfit::NotText:
        problem = text::Utf8ToAnsi("sloupec ") + def.Name + text::Utf8ToAnsi(": binární data nejsou text");
        return false;
      case tMisfit::None: break;
    }
    std::string why = text::Utf8ToAnsi(reason);
    if (misfit == tMisfit::TooLong) why += std::to_string(def.Size) + text::Utf8ToAnsi(" znaků");
    problem = text::Utf8ToAnsi("sloupec ") + def.Name + text::Utf8ToAnsi(": hodnota ") + QuotedValue(*field) +
              " " + why;
    return false;
  }
  return true;
}

Value tKeyedTbl_Structure::FieldValue(const dataset::TField& field, const dataset::Variant& read) const {
  switch (field.DataType()) {
    case FieldType::DateTime: return DateTimeValue(read.AsDateTime());
    case FieldType::Time: return TimeValue(read.AsDateTime());
    case FieldType::Date: return DateValue(read.AsDateTime());
    case FieldType::Smallint:
    case FieldType::Integer:
    case FieldType::Word:
    case FieldType::AutoInc:
    case FieldType::Largeint: return Value::Integer(read.AsInteger());
    case FieldType::Boolean: return Value::Boolean(read.AsBoolean());
    case FieldType::Float:
    case FieldType::Currency:
    case FieldType::BCD: return Value::Double(read.AsDouble());
    case FieldType::Guid: return Value::Guid(TextOf(read));
    case FieldType::Bytes:
    case FieldType::VarBytes:
    case FieldType::Blob:
    case FieldType::Graphic:
    case FieldType::TypedBinary: return Value::Bytes(TextOf(read));
    default: return Conn().TextValue(TextOf(read));
  }
}

Value tKeyedTbl_Structure::DateTimeValue(double date_time) const {
  return Value::Text(owner_.FormatDateTimeLiteral(date_time));
}

Value tKeyedTbl_Structure::TimeValue(double time) const {
  return Value::Text(owner_.FormatTimeLiteral(time));
}

std::optional<std::pair<std::int64_t, std::int64_t>> tKeyedTbl_Structure::IntegerRange(FieldType) const {
  return std::nullopt;
}

Value tKeyedTbl_Structure::RequiredDefault(FieldType type) const {
  switch (type) {
    case FieldType::String:
    case FieldType::WideString: return Value::Text("");
    case FieldType::FixedChar: return Value::Text("-");
    case FieldType::Smallint:
    case FieldType::Integer:
    case FieldType::Word:
    case FieldType::Largeint: return Value::Integer(0);
    case FieldType::Boolean: return Value::Boolean(false);
    case FieldType::Float:
    case FieldType::Currency:
    case FieldType::BCD: return Value::Double(0);
    case FieldType::Date:
    case FieldType::Time:
    case FieldType::DateTime: return NowValue(type);
    default: return {};
  }
}

const tKeyedTbl_Structure::tParameterColumn& tKeyedTbl_Structure::ResolveParameter(
    const std::string& parameter) const {
  // Resolved again once the columns are read anew.
  if (resolved_defs_ != FieldDefs.data() || resolved_def_count_ != FieldDefs.size()) {
    resolved_parameters_.clear();
    resolved_defs_ = FieldDefs.data();
    resolved_def_count_ = FieldDefs.size();
  }
  // A column renamed in place is resolved again, and so is a name that named no column.
  const auto known = resolved_parameters_.find(parameter);
  if (known != resolved_parameters_.end() && known->second.Def != nullptr &&
      known->second.Def->Name == known->second.Column)
    return known->second;
  std::string_view name = parameter;
  if (name.size() >= kKeyPrefix.size() &&
      text::EqualsIgnoreCaseAscii(name.substr(0, kKeyPrefix.size()), kKeyPrefix))
    name.remove_prefix(kKeyPrefix.size());
  const tColumnDef* def = FindFieldDef(name);
  if (def == nullptr) {
    const std::size_t number = ColumnParameterNumber(name);
    if (number >= 1 && number <= FieldDefs.size()) def = &FieldDefs[number - 1];
  }
  tParameterColumn& resolved = resolved_parameters_[parameter];
  resolved = {def, def != nullptr ? def->Name : std::string(name), def != nullptr};
  for (const tColumnDef* earlier = FieldDefs.data(); def != nullptr && earlier != def; ++earlier) {
    if (dataset::SameFieldName(earlier->Name, def->Name)) resolved.FirstOfItsName = false;
  }
  return resolved;
}

void tKeyedTbl_Structure::FillParameters(dataset::TDataSet* source, dbaccess::Statement& statement) const {
  // Every parameter gets its value: none keeps one of an earlier run.
  const std::vector<tBindPlan::tSlot>& slots = BindPlan(source, statement.Parameters()).Slots;
  for (std::size_t i = 0; i < slots.size(); ++i) statement.SetParameter(i, ValueForSlot(slots[i]));
}

// ---------------------------------------------------------------------------------------------
// Lookups

void tKeyedTbl_Structure::BuildLookups() {
  if (lookups_built_) return;
  if (!IdentifyingGuidColumn().empty()) guid_lookup_ = MakeLookup(RowGuidCondition());
  if (!IntKeyColumn.empty()) int_key_lookup_ = MakeLookup(IntKeyCondition());
  key_lookups_.clear();
  key_is_guid_lookup_.clear();
  integer_keys_.clear();
  for (int n = 0; n <= UniqueIndexCount; ++n) {
    tIntegerKey& integer_key = integer_keys_.emplace_back();
    for (const std::string& column : IndexColumns(n)) {
      const tColumnDef* def = FindFieldDef(column);
      if (def == nullptr || ClassOf(def->DataType) != ValueClass::Integer) {
        integer_key = {};
        break;
      }
      integer_key.Parameters.push_back(dbaccess::Parameter{std::string(kKeyPrefix) + ParameterName(column)});
      integer_key.Columns.push_back(def->Name);
    }
    // A table without a primary key has no condition for lookup 0; an empty WHERE is no SQL,
    // so that lookup stays null and the numbering of the unique indexes stays.
    const std::string condition = IndexCondition(n, false);
    // A unique index on the RowGuid column alone asks what the RowGuid lookup has just asked.
    const bool same_as_guid = guid_lookup_ && condition == RowGuidCondition();
    key_is_guid_lookup_.push_back(same_as_guid);
    key_lookups_.push_back(condition.empty() || same_as_guid ? nullptr : MakeLookup(condition));
  }
  lookups_built_ = true;
}

std::unique_ptr<tExistingRecords> tKeyedTbl_Structure::FindExisting(dataset::TDataSet* source,
                                                                    const std::string& row_guid,
                                                                    std::int32_t id) {
  BuildLookups();
  std::unique_ptr<tExistingRecords> result;
  auto ensure = [&result]() -> tExistingRecords& {
    if (!result) result = std::make_unique<tExistingRecords>();
    return *result;
  };
  if (guid_lookup_) {
    std::shared_ptr<dataset::TQVMmemDataSet> found;
    if (source == nullptr) {
      guid_lookup_->SetKey(Value::Guid(row_guid));
      found = guid_lookup_->Run();
    } else if (!written_guids_ || WrittenBefore(*source)) {
      guid_lookup_->Fill(*source);
      found = guid_lookup_->Run();
    }
    if (auto rows = std::move(found)) {
      ensure().RowGuidMatch = std::move(rows);
      result->FoundByIdentity = true;
      // A deletion names its row by RowGuid and id. Without a source row no key index is asked,
      // so the row of that id is looked up as well: when it is the RowGuid's row the deletion is
      // unambiguous; when the id is missing or names another row it stays a conflict.
      if (source == nullptr && int_key_lookup_ && IntKeyColumn == IdentityColumn) {
        int_key_lookup_->SetKey(Value::Integer(id));
        if (auto by_id = int_key_lookup_->Run()) {
          result->KeyMatches.push_back(tKeyMatch{PrimaryKeyIndexName, std::move(by_id)});
        }
      }
    }
  } else if (source == nullptr && int_key_lookup_) {
    int_key_lookup_->SetKey(Value::Integer(id));
    if (auto rows = int_key_lookup_->Run()) {
      ensure().KeyMatches.push_back(tKeyMatch{PrimaryKeyIndexName, std::move(rows)});
      result->FoundByIdentity = true;
    }
  }
  if (source != nullptr) {
    for (std::size_t n = 0; n < key_lookups_.size(); ++n) {
      if (key_is_guid_lookup_[n]) {
        if (result && result->RowGuidMatch)
          result->KeyMatches.push_back(tKeyMatch{IndexName(static_cast<int>(n)), result->RowGuidMatch});
        continue;
      }
      if (!key_lookups_[n]) continue;
      // In a fresh write phase a primary key it has not written is missing.
      if (n == 0 && written_ids_ && !IntKeyColumn.empty() && !IntKeyWrittenBefore(*source)) continue;
      // The row found by its RowGuid mostly carries the source's key as well: then it is the
      // one row this key's lookup would find, and the lookup is not sent.
      if (result && result->RowGuidMatch && KeyOfGuidRow(*result->RowGuidMatch, *source, integer_keys_[n])) {
        result->KeyMatches.push_back(tKeyMatch{IndexName(static_cast<int>(n)), result->RowGuidMatch});
        continue;
      }
      key_lookups_[n]->Fill(*source);
      if (auto rows = key_lookups_[n]->Run()) {
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

bool tKeyedTbl_Structure::KeyOfGuidRow(dataset::TQVMmemDataSet& rows, dataset::TDataSet& source,
                                       const tIntegerKey& key) const {
  if (key.Columns.empty() || rows.Records().Count() != 1) return false;
  const std::vector<Value> values = ParameterValues(&source, key.Parameters);
  for (std::size_t i = 0; i < key.Columns.size(); ++i) {
    // "= NULL" finds nothing, and a value bound as anything but an integer is the database's
    // to compare.
    if (values[i].kind() != dbaccess::ValueKind::Integer) return false;
    const dataset::TField* found = rows.FindField(key.Columns[i]);
    if (found == nullptr || found->IsNull() || ClassOf(found->DataType()) != ValueClass::Integer ||
        found->AsInteger() != values[i].AsInteger())
      return false;
  }
  return true;
}

std::unique_ptr<tExistingRecords> tKeyedTbl_Structure::FindExistingRecords(dataset::TDataSet& source) {
  return FindExisting(&source, {}, 0);
}

std::unique_ptr<tExistingRecords> tKeyedTbl_Structure::FindExistingByKey(const std::string& row_guid,
                                                                         std::int32_t id) {
  return FindExisting(nullptr, row_guid, id);
}

// ---------------------------------------------------------------------------------------------
// Reading and writing

std::unique_ptr<dataset::TDataSet> tKeyedTbl_Structure::OpenTableData(const std::string& where,
                                                                      const std::string& order_by,
                                                                      int& row_count) {
  const std::string where_part = where.empty() ? std::string() : " where " + where;
  const std::string order_part = order_by.empty() ? std::string() : " order by " + order_by;
  const std::string table = QuoteIdentifier(TableName);
  dbaccess::Connection& connection = Conn();
  std::vector<dbaccess::FieldRoom> room;
  row_count = CountTableRows(where_part, room);
  auto data = std::make_unique<dbaccess::TQueryDataSet>(
      connection, "Select * from " + table + " " + where_part + order_part, dbaccess::ParameterStyle::None);
  data->SetUnidirectional(true);
  if (!room.empty()) data->SetFieldRoom(std::move(room));
  return data;
}

int tKeyedTbl_Structure::CountTableRows(const std::string& where_part, std::vector<dbaccess::FieldRoom>&) {
  auto rows = Conn().Query("Select Count(*) from " + QuoteIdentifier(TableName) + " " + where_part);
  return rows->Next() && !rows->Get(0).IsNull() ? static_cast<int>(rows->Get(0).AsInteger()) : 0;
}

void tKeyedTbl_Structure::InsertRecord(dataset::TDataSet& source) {
  if (!insert_) {
    std::vector<std::string> columns;
    std::vector<std::string> values;
    for (const auto& def : FieldDefs) {
      if (!IsFieldWritable(def.Name)) continue;
      columns.push_back(QuoteIdentifier(def.Name));
      values.push_back(":" + ParameterName(def.Name));
    }
    insert_ = Conn().Prepare("INSERT INTO " + QuoteIdentifier(TableName) + " (" + Join(columns, ",") +
                             ") VALUES (" + Join(values, ",") + ")");
  }
  FillParameters(&source, *insert_);
  insert_->Execute();
  NoteWritten(source, insert_->Parameters());
}

void tKeyedTbl_Structure::UpdateRecord(dataset::TDataSet& source) {
  std::vector<std::string> assignments;
  for (const auto& def : FieldDefs) {
    if (!IsFieldWritable(def.Name)) continue;
    const dataset::TField* field = source.FindField(def.Name);
    if (field == nullptr || !IsFieldToWrite(*field)) continue;
    assignments.push_back(QuoteIdentifier(def.Name) + "=:" + ParameterName(def.Name));
  }
  // Nothing to write is not a statement: "SET  WHERE" would only fail on the server.
  if (assignments.empty()) return;
  const std::string text = "UPDATE " + QuoteIdentifier(TableName) + " SET " + Join(assignments, ",") +
                           " WHERE " + RecordKeyCondition();
  if (!update_ || update_->Text() != text) update_ = Conn().Prepare(text);
  ForgetFoundMasters();
  FillParameters(&source, *update_);
  update_->Execute();
  // The row's RowGuid may have changed; the old one stays noted, which costs a lookup at most.
  // The update binds only what changed: the keys are taken from the row.
  NoteWritten(source, {});
}

void tKeyedTbl_Structure::BeginFreshWrite() {
  if (!IntKeyColumn.empty()) {
    id_parameter_.assign(1, dbaccess::Parameter{std::string(kKeyPrefix) + ParameterName(IntKeyColumn)});
    written_ids_ = std::make_unique<tWrittenKeys>();
  }
  const std::string column = IdentifyingGuidColumn();
  if (column.empty()) return;
  guid_parameter_.assign(1, dbaccess::Parameter{std::string(kKeyPrefix) + ParameterName(column)});
  written_guids_ = std::make_unique<tWrittenKeys>();
}

void tKeyedTbl_Structure::EndFreshWrite() noexcept {
  written_guids_.reset();
  guid_parameter_.clear();
  written_ids_.reset();
  id_parameter_.clear();
}

std::optional<std::int64_t> tKeyedTbl_Structure::BoundIntKey(dataset::TDataSet& source) const {
  const Value value = ValueForSlot(BindPlan(&source, id_parameter_).Slots.front());
  if (value.kind() != dbaccess::ValueKind::Integer) return std::nullopt;
  return value.AsInteger();
}

bool tKeyedTbl_Structure::IntKeyWrittenBefore(dataset::TDataSet& source) const {
  const std::optional<std::int64_t> key = BoundIntKey(source);
  // Anything but an integer is the database's to compare.
  return !key || written_ids_->Contains(static_cast<std::uint64_t>(*key));
}

namespace {

// The value bound for parameter `name` among `bound`, or null when none is named so. `at` is
// where it was found the last time, and is looked at first.
const Value* BoundValue(const std::vector<dbaccess::Parameter>& bound, std::string_view name,
                        std::size_t& at) {
  if (at < bound.size() && bound[at].name == name) return &bound[at].value;
  for (std::size_t i = 0; i < bound.size(); ++i) {
    if (bound[i].name != name) continue;
    at = i;
    return &bound[i].value;
  }
  return nullptr;
}

}  // namespace

std::optional<std::uint64_t> tKeyedTbl_Structure::WrittenGuidKey(dataset::TDataSet& source) const {
  return GuidKeyOf(ValueForSlot(BindPlan(&source, guid_parameter_).Slots.front()));
}

std::optional<std::uint64_t> tKeyedTbl_Structure::GuidKeyOf(const Value& value) {
  if (value.IsNull()) return std::nullopt;
  // The kind is part of the key: a value bound as text and one bound as a GUID are not the same.
  const std::uint64_t text = std::hash<std::string>{}(value.AsString());
  return text ^ ((static_cast<std::uint64_t>(value.kind()) + 1) * 0x9E3779B97F4A7C15ULL);
}

bool tKeyedTbl_Structure::WrittenBefore(dataset::TDataSet& source) const {
  // "= NULL" matches no row, written or not.
  const std::optional<std::uint64_t> key = WrittenGuidKey(source);
  return key && written_guids_->Contains(*key);
}

void tKeyedTbl_Structure::NoteWritten(dataset::TDataSet& source,
                                      const std::vector<dbaccess::Parameter>& bound) {
  // The statement bound what the lookups bind for the same columns (their parameters are the
  // column's with "KEY_" before them): its values are taken where it has them.
  if (written_ids_) {
    const Value* value = BoundValue(
        bound, std::string_view(id_parameter_.front().name).substr(kKeyPrefix.size()), bound_id_at_);
    std::optional<std::int64_t> key;
    if (value == nullptr)
      key = BoundIntKey(source);
    else if (value->kind() == dbaccess::ValueKind::Integer)
      key = value->AsInteger();
    // A row written without an integer key gets its key from the database, unknown here.
    if (key)
      written_ids_->Add(static_cast<std::uint64_t>(*key));
    else
      written_ids_.reset();
  }
  if (!written_guids_) return;
  const Value* value = BoundValue(
      bound, std::string_view(guid_parameter_.front().name).substr(kKeyPrefix.size()), bound_guid_at_);
  if (const std::optional<std::uint64_t> key = value != nullptr ? GuidKeyOf(*value) : WrittenGuidKey(source))
    written_guids_->Add(*key);
}

std::int64_t tKeyedTbl_Structure::DeleteRecord(const std::string& row_guid, std::int32_t id) {
  const std::string alias = Owner().AliasPrefix + "0";
  const std::string guid_column = IdentifyingGuidColumn();
  std::string column;
  Value key;
  if (!guid_column.empty()) {
    column = guid_column;
    key = Value::Guid(row_guid);
  } else if (IntKeyColumn.empty()) {
    throw StructureError("Table " + TableName + " has neither rowGuid, nor Integer primary key");
  } else {
    column = IntKeyColumn;
    key = Value::Integer(id);
  }
  const std::string where =
      " WHERE " + alias + "." + QuoteIdentifier(column) + "=" + DeleteKeyText(key) + " ";
  ForgetFoundMasters();
  std::vector<const tTbl_Structure*> path{this};
  std::int64_t deleted = CascadeDeleteDetails(*this, where, 0, key, path);
  const std::int64_t own = DeleteSelectedRows(*this, alias, where, key);
  if (own > 0) deleted += own;
  return deleted;
}

std::int64_t tKeyedTbl_Structure::CascadeDeleteDetails(const tTbl_Structure& master,
                                                       const std::string& clause, int level, const Value& key,
                                                       std::vector<const tTbl_Structure*>& path) {
  const std::string& prefix = Owner().AliasPrefix;
  const std::string master_alias = prefix + std::to_string(level);
  const std::string detail_alias = prefix + std::to_string(level + 1);
  std::int64_t deleted = 0;
  const tDatabase_Structure& database = Owner();
  for (int i = std::max(0, database.IndexOf(&master)); i < database.TableCount(); ++i) {
    const tTbl_Structure& detail = database.Table(i);
    if (!detail.DependsOn(master, true)) continue;
    const tForeignKeysInfo* keys = detail.Masters().FindByMaster(&master);
    if (keys == nullptr) continue;
    for (int k = 0; k < keys->Count(); ++k) {
      const tForeignKeyInfo& foreign_key = keys->Items(k);
      std::vector<std::string> pairs;
      pairs.reserve(static_cast<std::size_t>(foreign_key.Count()));
      for (int c = 0; c < foreign_key.Count(); ++c) {
        pairs.push_back(master_alias + "." + QuoteIdentifier(foreign_key.PKColumn(c)) + "=" + detail_alias +
                        "." + QuoteIdentifier(foreign_key.FKColumn(c)));
      }
      if (pairs.empty()) continue;
      const std::string detail_clause = " join " + QuoteIdentifier(master.GetTableName()) + " " +
                                        master_alias + " on " + Join(pairs, " and ") + clause;
      // A table already on the path (a self-reference or a cycle) is deleted from at this
      // level but not descended into again, which bounds the recursion.
      if (std::find(path.begin(), path.end(), &detail) == path.end()) {
        path.push_back(&detail);
        deleted += CascadeDeleteDetails(detail, detail_clause, level + 1, key, path);
        path.pop_back();
      }
      const std::int64_t own = DeleteSelectedRows(detail, detail_alias, detail_clause, key);
      if (own > 0) deleted += own;
    }
  }
  return deleted;
}

namespace {

// True when every referencing column of `foreign_key` in the current row of `source` holds the
// value of the column it refers to in the same row.
bool NamesItself(dataset::TDataSet& source, const tForeignKeyInfo& foreign_key) {
  for (int c = 0; c < foreign_key.Count(); ++c) {
    const dataset::TField* detail = source.FindField(foreign_key.FKColumn(c));
    const dataset::TField* master = source.FindField(foreign_key.PKColumn(c));
    if (detail == nullptr || master == nullptr || detail->IsNull() || master->IsNull() ||
        detail->AsString() != master->AsString())
      return false;
  }
  return true;
}

}  // namespace

bool tKeyedTbl_Structure::MastersExist(dataset::TDataSet& source, bool only_changed_fields,
                                       std::string& constraint_name) {
  constraint_name.clear();
  for (int m = 0; m < Masters().Count(); ++m) {
    const tForeignKeysInfo& keys = Masters().Items(m);
    for (int k = 0; k < keys.Count(); ++k) {
      const tForeignKeyInfo& foreign_key = keys.Items(k);
      // The key's columns that take part: those with a value (and, if asked, a change).
      std::vector<bool> taking(static_cast<std::size_t>(foreign_key.Count()), false);
      bool any = false;
      for (int c = 0; c < foreign_key.Count(); ++c) {
        const dataset::TField* field = source.FindField(foreign_key.FKColumn(c));
        if (field == nullptr || field->IsNull()) continue;
        if (only_changed_fields && !IsFieldToWrite(*field)) continue;
        taking[static_cast<std::size_t>(c)] = true;
        any = true;
      }
      if (!any) continue;
      // A row that names itself as its master (the root of a tree, say) has it once written.
      if (keys.MasterTable == this && NamesItself(source, foreign_key)) continue;
      // One statement per distinct check, prepared once and run again for every row; its text
      // is made once for each set of columns taking part.
      tMasterCheckShape shape{m, k, std::move(taking)};
      const auto made = master_check_shapes_.find(shape);
      tShapedMasterCheck& shaped =
          made != master_check_shapes_.end() ? made->second : master_check_shapes_[shape];
      // A key changed since (keys added to the structure) makes its text anew.
      if (shaped.Check == nullptr || shaped.MasterTable != keys.MasterTable ||
          shaped.PKColumns != foreign_key.PKColumns || shaped.FKColumns != foreign_key.FKColumns) {
        shaped = {};
        std::vector<std::string> pairs;
        for (int c = 0; c < foreign_key.Count(); ++c) {
          if (!shape.Columns[static_cast<std::size_t>(c)]) continue;
          pairs.push_back(QuoteIdentifier(foreign_key.PKColumn(c)) +
                          "=:" + ParameterName(foreign_key.FKColumn(c)));
        }
        const std::string text = "select case when exists(select * from " +
                                 QuoteIdentifier(keys.MasterTable->GetTableName()) + " where " +
                                 Join(pairs, " and ") + ") then 1 else 0 end";
        tMasterCheck& by_text = master_checks_[text];
        if (!by_text.Statement) by_text.Statement = Conn().Prepare(text);
        shaped = {&by_text, keys.MasterTable, foreign_key.PKColumns, foreign_key.FKColumns};
      }
      tMasterCheck& check = *shaped.Check;
      dbaccess::Statement& query = *check.Statement;
      std::vector<Value> values = ParameterValues(&source, query.Parameters());
      // A master found once stays while only this table is written (its rows are inserted and
      // updated, and its triggers that could remove a master row are off). A missing one is
      // asked again: a row appended since may be the master.
      const bool remember = !WriteTriggersMayFire();
      std::string key;
      if (remember) {
        key = FoundMasterKey(values);
        if (check.Found.contains(key)) continue;
      }
      query.ClearParameters();
      for (std::size_t i = 0; i < values.size(); ++i) query.SetParameter(i, std::move(values[i]));
      auto rows = query.Open();
      const bool exists = rows->Next() && !rows->Get(0).IsNull() && rows->Get(0).AsInteger() == 1;
      rows.reset();
      if (!exists) {
        constraint_name = foreign_key.Name;
        return false;
      }
      if (remember) {
        if (check.Found.size() >= kMaxFoundMasters) check.Found.clear();
        check.Found.insert(std::move(key));
      }
    }
  }
  return true;
}

bool tKeyedTbl_Structure::WriteTriggersMayFire() const { return HasInsertTrigger || HasUpdateTrigger; }

void tKeyedTbl_Structure::ForgetFoundMasters() {
  for (auto& [text, check] : master_checks_) check.Found.clear();
}

void tKeyedTbl_Structure::CloseData() {
  // The lookups and statements are dropped, not only closed: a cached structure may get
  // another connection before its next use, and one prepared on the old one must not run there.
  guid_lookup_.reset();
  int_key_lookup_.reset();
  key_lookups_.clear();
  lookups_built_ = false;
  insert_.reset();
  update_.reset();
  bind_plans_.clear();
  master_check_shapes_.clear();
  master_checks_.clear();
  EndFreshWrite();
}

std::string tKeyedTbl_Structure::GetKeyValuesText(dataset::TDataSet& dataset) {
  std::string text;
  for (std::size_t i = 0; i < PrimaryKeyFields.size(); ++i) {
    const std::string& name = PrimaryKeyFields[i];
    if (const dataset::TField* field = dataset.FindField(name)) {
      if (i != 0) text += ',';
      text += name;
      text += '=';
      text += field->AsString();
    }
  }
  return text;
}

// ---------------------------------------------------------------------------------------------
// Listing

void WriteStructureListing(const tDatabase_Structure& structure, std::ostream& out) {
  for (int i = 0; i < structure.TableCount(); ++i) {
    const tTbl_Structure& table = structure.Table(i);
    const auto* keyed = dynamic_cast<const tKeyedTbl_Structure*>(&table);
    std::vector<std::string> masters;
    masters.reserve(static_cast<std::size_t>(table.Masters().Count()));
    for (int m = 0; m < table.Masters().Count(); ++m) {
      masters.push_back(table.Masters().Items(m).MasterTable->GetTableName());
    }
    out << table.GetTableName() << " identity=" << (keyed ? keyed->IdentityColumn : "")
        << " rowguid=" << (keyed ? keyed->RowGuidColumn : "")
        << " intkey=" << (keyed ? keyed->IntKeyColumn : "")
        << " pk=" << (keyed ? Join(keyed->PrimaryKeyFields, ",") : "") << " masters=" << Join(masters, ",")
        << '\n';
  }
  for (int i = 0; i < structure.TableCount(); ++i) {
    const tTbl_Structure& table = structure.Table(i);
    for (int m = 0; m < table.Masters().Count(); ++m) {
      const tForeignKeysInfo& keys = table.Masters().Items(m);
      for (int k = 0; k < keys.Count(); ++k) {
        const tForeignKeyInfo& foreign_key = keys.Items(k);
        out << "FK " << foreign_key.Name << ' ' << table.GetTableName() << '('
            << Join(foreign_key.FKColumns, ",") << ") -> " << keys.MasterTable->GetTableName() << '('
            << Join(foreign_key.PKColumns, ",") << ")\n";
      }
    }
  }
}

}  // namespace tamaril::dbstruct
