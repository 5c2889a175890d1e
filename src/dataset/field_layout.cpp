#include "dataset/field_layout.h"

#include <algorithm>
#include <charconv>
#include <limits>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "dataset/errors.h"
#include "dataset/parsed_layout.h"
#include "text/ascii.h"
#include "text/encoding.h"

namespace tamaril::dataset {
namespace {

/// Largest record buffer: offsets and sizes are 16-bit.
constexpr std::size_t kMaxRecordBytes = 65535;

/// How many parsed layouts a thread keeps before it forgets them all.
constexpr std::size_t kMaxKeptLayouts = 64;

/// Size of the null bitmap for `field_count` fields (one byte even for none).
std::size_t BitmapBytes(std::size_t field_count) { return field_count == 0 ? 1 : (field_count - 1) / 8 + 1; }

[[noreturn]] void ThrowUnsupported(FieldType type) {
  throw DatasetError(text::Utf8ToAnsi("Nepodporovaný typ pole: ") + std::string(FieldTypeEnumName(type)));
}

/// A decimal integer as the platform's StrToInt reads it: leading blanks, an optional sign,
/// digits and nothing after them.
int ParseLayoutInteger(std::string_view token) {
  std::string_view digits = token;
  while (!digits.empty() && digits.front() == ' ') digits.remove_prefix(1);
  bool negative = false;
  if (!digits.empty() && (digits.front() == '+' || digits.front() == '-')) {
    negative = digits.front() == '-';
    digits.remove_prefix(1);
  }
  long long value = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (digits.empty() || error != std::errc() || end != digits.data() + digits.size() ||
      digits.front() == '-' || digits.front() == '+' ||
      value > std::numeric_limits<int>::max() + (negative ? 1LL : 0LL)) {
    throw DatasetError("'" + std::string(token) + "' is not a valid integer value");
  }
  return static_cast<int>(negative ? -value : value);
}

FieldType ParseLayoutType(std::string_view token) {
  const std::string_view trimmed = text::TrimBlanks(token);
  if (trimmed.empty()) return FieldType::Unknown;
  if (trimmed.size() == 1) {
    switch (text::UpperAscii(trimmed.front())) {
      case 'C': return FieldType::String;
      case 'D': return FieldType::DateTime;
      case 'F': return FieldType::Float;
      case 'L': return FieldType::Boolean;
      case 'N': return FieldType::Integer;
      default: return FieldType::Unknown;
    }
  }
  return FindFieldTypeByEnumName("ft" + std::string(trimmed)).value_or(FieldType::Unknown);
}

/// Splits a layout into its tokens: blanks and line breaks before a token are skipped, a token
/// runs to the next ';' (consumed), blanks inside and at its end stay.
class LayoutTokenizer {
 public:
  explicit LayoutTokenizer(std::string_view text) : text_(text) {}
  bool AtEnd() const { return position_ >= text_.size(); }
  std::string_view Next() {
    while (!AtEnd() && IsSkipped(text_[position_])) ++position_;
    const std::size_t start = position_;
    while (!AtEnd() && text_[position_] != ';') ++position_;
    const std::string_view token = text_.substr(start, position_ - start);
    if (!AtEnd()) ++position_;
    return token;
  }

 private:
  static bool IsSkipped(char c) { return c == '\t' || c == '\n' || c == '\r' || c == ' '; }
  std::string_view text_;
  std::size_t position_ = 0;
};

}  // namespace

std::uint16_t FieldStorageSize(FieldType type, int declared_size) {
  switch (type) {
    case FieldType::String:
    case FieldType::FixedChar:
    case FieldType::WideString:
    case FieldType::Guid:
      // The slot holds the text and its terminator in a 16-bit size: a size that does not fit
      // would wrap around to a slot smaller than the text.
      if (declared_size < 0 || declared_size >= static_cast<int>(kMaxRecordBytes)) {
        throw DatasetError("Invalid size " + std::to_string(declared_size) + " of a " +
                           std::string(FieldTypeEnumName(type)) + " field");
      }
      return static_cast<std::uint16_t>(declared_size + 1);
    case FieldType::Smallint:
    case FieldType::Word:
    case FieldType::Boolean: return 2;
    case FieldType::Integer:
    case FieldType::Date:
    case FieldType::Time:
    case FieldType::AutoInc: return 4;
    case FieldType::Float:
    case FieldType::Currency:
    case FieldType::DateTime:
    case FieldType::Largeint: return 8;
    case FieldType::BCD: return 34;
    default:
      if (KindOfFieldType(type) == FieldKind::Blob) return 8;
      ThrowUnsupported(type);
  }
}

FieldKind KindOfFieldType(FieldType type) {
  switch (type) {
    case FieldType::String:
    case FieldType::FixedChar:
    case FieldType::WideString:
    case FieldType::Guid: return FieldKind::String;
    case FieldType::Smallint:
    case FieldType::Integer:
    case FieldType::Word:
    case FieldType::Boolean:
    case FieldType::Float:
    case FieldType::Currency:
    case FieldType::BCD:
    case FieldType::Date:
    case FieldType::Time:
    case FieldType::DateTime:
    case FieldType::AutoInc:
    case FieldType::Largeint: return FieldKind::Fixed;
    case FieldType::Bytes:
    case FieldType::VarBytes:
    case FieldType::Blob:
    case FieldType::Memo:
    case FieldType::Graphic:
    case FieldType::FmtMemo:
    case FieldType::ParadoxOle:
    case FieldType::DBaseOle:
    case FieldType::TypedBinary:
    case FieldType::Cursor:
    case FieldType::ADT:
    case FieldType::Array:
    case FieldType::Reference:
    case FieldType::DataSet: return FieldKind::Blob;
    default: ThrowUnsupported(type);
  }
}

int ParseFieldLayout(std::string_view layout, TFieldDefs* defs, bool wide_as_string) {
  if (defs != nullptr) defs->clear();
  enum class Role { Name, Type, Size, Attributes, Precision };
  LayoutTokenizer tokens(layout);
  Role role = Role::Name;
  TFieldDef field;
  std::size_t field_count = 0;
  std::size_t total = 0;
  // Fields are found by name, so a second field of the same name would read the first one's data.
  std::unordered_set<std::string> upper_names;
  auto finish_field = [&] {
    if (!upper_names.insert(text::UpperCaseAscii(field.Name)).second)
      throw DatasetError("Duplicate field name " + field.Name + " in a field layout");
    ++field_count;
    total += FieldStorageSize(field.DataType, field.Size);
    if (field_count > kMaxRecordBytes || total + BitmapBytes(field_count) > kMaxRecordBytes) {
      throw DatasetError("Field layout too large: a record may hold at most 65535 bytes");
    }
    if (defs != nullptr) defs->push_back(field);
    field = TFieldDef{};
    role = Role::Name;
  };
  while (!tokens.AtEnd()) {
    const std::string_view token = tokens.Next();
    switch (role) {
      case Role::Name:
        field.Name = token.empty() ? "FIELD" + std::to_string(field_count + 1) : std::string(token);
        role = Role::Type;
        break;
      case Role::Type:
        field.DataType = ParseLayoutType(token);
        if (wide_as_string && field.DataType == FieldType::WideString) field.DataType = FieldType::String;
        role = Role::Size;
        break;
      case Role::Size:
        field.Size = ParseLayoutInteger(token);
        FieldStorageSize(field.DataType, field.Size);
        role = Role::Attributes;
        break;
      case Role::Attributes:
        field.Attributes = static_cast<std::uint8_t>(ParseLayoutInteger(token) & 0xFF);
        if (field.DataType == FieldType::BCD) {
          role = Role::Precision;
        } else {
          finish_field();
        }
        break;
      case Role::Precision:
        field.Precision = ParseLayoutInteger(token);
        finish_field();
        break;
    }
  }
  return static_cast<int>(total);
}

std::string BuildFieldLayout(const TFieldDefs& defs) {
  std::string layout;
  for (const TFieldDef& def : defs) {
    if (!layout.empty()) layout += ';';
    layout += def.Name + ';' + std::string(FieldTypeName(def.DataType)) + ';' + std::to_string(def.Size) +
              ';' + std::to_string(def.Attributes);
    if (def.DataType == FieldType::BCD) layout += ';' + std::to_string(def.Precision);
  }
  return layout;
}

int BuildFieldDescs(const TFieldDefs& defs, TFieldDescs& descs) {
  TFieldDescs built;
  built.reserve(defs.size());
  std::size_t offset = 0;
  for (const TFieldDef& def : defs) {
    TFieldDesc desc;
    desc.FieldNo = static_cast<std::uint16_t>(built.size() + 1);
    desc.Offset = static_cast<std::int32_t>(offset);
    desc.Name = def.Name;
    desc.DataType = def.DataType;
    desc.DataSize = FieldStorageSize(def.DataType, def.Size);
    desc.Size = def.Size;
    desc.Attributes = def.Attributes;
    desc.Kind = KindOfFieldType(def.DataType);
    offset += desc.DataSize;
    if (built.size() + 1 > kMaxRecordBytes || offset + BitmapBytes(built.size() + 1) > kMaxRecordBytes) {
      throw DatasetError("Field layout too large: a record may hold at most 65535 bytes");
    }
    built.push_back(std::move(desc));
  }
  descs = std::move(built);
  return static_cast<int>(offset);
}

const TParsedFieldLayout& ParseFieldLayoutOnce(const std::string& layout, bool wide_as_string) {
  thread_local std::unordered_map<std::string, TParsedFieldLayout> kept[2];
  auto& layouts = kept[wide_as_string ? 1 : 0];
  if (const auto found = layouts.find(layout); found != layouts.end()) return found->second;
  TParsedFieldLayout parsed;
  ParseFieldLayout(layout, &parsed.Defs, wide_as_string);
  BuildFieldDescs(parsed.Defs, parsed.Descs);
  if (layouts.size() >= kMaxKeptLayouts) layouts.clear();
  return layouts.emplace(layout, std::move(parsed)).first->second;
}

std::vector<std::string> SplitToList(std::string_view text, std::string_view separators) {
  std::vector<std::string> items;
  std::size_t position = 0;
  while (position < text.size()) {
    const std::size_t start = text.find_first_not_of(separators, position);
    if (start == std::string_view::npos) break;
    const std::size_t end = std::min(text.find_first_of(separators, start), text.size());
    items.emplace_back(text.substr(start, end - start));
    position = end;
  }
  return items;
}

}  // namespace tamaril::dataset
