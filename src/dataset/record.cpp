#include "dataset/record.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "dataset/date_codec.h"
#include "dataset/errors.h"
#include "dataset/stream.h"
#include "text/encoding.h"
#include "text/locale.h"

namespace tamaril::dataset {

// ---- blob slots: the only place that allocates or frees blob blocks ----

namespace blob_slot {
namespace {

std::string* Load(const std::byte* slot) noexcept {
  std::string* block = nullptr;
  // The slot holds the pointer itself, so its size is the pointer's.
  std::memcpy(&block, slot, sizeof block);  // NOLINT(bugprone-sizeof-expression)
  return block;
}

void Store(std::byte* slot, std::string* block) noexcept {
  std::memcpy(slot, &block, sizeof block);  // NOLINT(bugprone-sizeof-expression)
}

}  // namespace

static_assert(sizeof(std::string*) <= 8, "a blob slot holds one pointer in 8 bytes");

const std::string* Get(const std::byte* slot) noexcept { return Load(slot); }

void Set(std::byte* slot, std::string_view bytes) {
  std::unique_ptr<std::string> block;
  if (!bytes.empty()) block = std::make_unique<std::string>(bytes);
  Free(slot);
  Store(slot, block.release());
}

void Free(std::byte* slot) noexcept {
  std::unique_ptr<std::string> owned(Load(slot));
  std::memset(slot, 0, 8);
}

void Copy(std::byte* target, const std::byte* source) {
  if (target == source) return;
  const std::string* block = Load(source);
  Set(target, block != nullptr ? std::string_view(*block) : std::string_view());
}

}  // namespace blob_slot

namespace {

constexpr std::size_t kBcdSize = 34;

// Currency amounts are kept to four decimals wherever they are stored: a value read with more
// digits equals the amount it is written as, so it is not seen as changed after every merge.
bool CurrencyEqual(double a, double b) {
  constexpr double kScale = 10000.0;
  constexpr double kLargest = 9.2e14;  // the largest amount whose scaled value fits 64 bits
  if (!std::isfinite(a) || !std::isfinite(b) || std::fabs(a) > kLargest || std::fabs(b) > kLargest)
    return a == b;
  return std::llround(a * kScale) == std::llround(b * kScale);
}
constexpr int kBcdDigits = 64;

[[noreturn]] void ThrowUnsupported(FieldType type) {
  throw DatasetError(text::Utf8ToAnsi("Nepodporovaný typ pole: ") + std::string(FieldTypeEnumName(type)));
}

std::size_t BitmapBytes(std::size_t field_count) { return field_count == 0 ? 1 : (field_count - 1) / 8 + 1; }

template <typename T>
T LoadAs(const std::byte* slot) {
  T value;
  std::memcpy(&value, slot, sizeof value);
  return value;
}

template <typename T>
void StoreAs(std::byte* slot, T value) {
  std::memcpy(slot, &value, sizeof value);
}

template <typename T>
int ThreeWay(T a, T b) {
  return a < b ? -1 : (b < a ? 1 : 0);
}

/// Writes a currency amount (value × 10 000) as the 34-byte packed record with precision 32
/// and 4 decimals: 28 integer digits and 4 decimals, high nibble first.
void CurrencyToBcd(std::int64_t scaled, std::byte* slot) {
  std::memset(slot, 0, kBcdSize);
  const bool negative = scaled < 0;
  std::uint64_t magnitude =
      negative ? ~static_cast<std::uint64_t>(scaled) + 1 : static_cast<std::uint64_t>(scaled);
  slot[0] = std::byte{32};
  slot[1] = std::byte{static_cast<unsigned char>((negative ? 0x80 : 0) | 4)};
  for (int digit = 31; digit >= 0; --digit) {
    const auto nibble = static_cast<unsigned char>(magnitude % 10);
    magnitude /= 10;
    auto& target = slot[2 + digit / 2];
    target |= std::byte{static_cast<unsigned char>(digit % 2 == 0 ? nibble << 4 : nibble)};
  }
}

/// Reads a packed decimal record of any precision and scale as a currency amount (value ×
/// 10 000), rounding digits beyond the fourth decimal half away from zero; throws DatasetError
/// for digits that are not decimal or an amount beyond the currency range.
std::int64_t BcdToCurrency(const std::byte* slot) {
  const int precision = std::min<int>(std::to_integer<int>(slot[0]), kBcdDigits);
  const int scale = std::min(std::to_integer<int>(slot[1]) & 0x3F, precision);
  const bool negative = (std::to_integer<int>(slot[1]) & 0x80) != 0;
  std::uint64_t magnitude = 0;
  bool overflow = false;
  bool round_up = false;
  for (int i = 0; i < precision; ++i) {
    const int byte = std::to_integer<int>(slot[2 + i / 2]);
    const int digit = i % 2 == 0 ? byte >> 4 : byte & 0x0F;
    if (digit > 9) throw DatasetError("Invalid BCD value");
    const int decimal_place = i - (precision - scale) + 1;  // 1 for the first decimal
    if (decimal_place <= 4) {
      overflow |= __builtin_mul_overflow(magnitude, 10U, &magnitude);
      overflow |= __builtin_add_overflow(magnitude, static_cast<unsigned>(digit), &magnitude);
    } else if (decimal_place == 5) {
      round_up = digit >= 5;
    }
  }
  for (int s = scale; s < 4; ++s) overflow |= __builtin_mul_overflow(magnitude, 10U, &magnitude);
  if (round_up) overflow |= __builtin_add_overflow(magnitude, 1U, &magnitude);
  const std::uint64_t limit =
      static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) + (negative ? 1 : 0);
  if (overflow || magnitude > limit) throw DatasetError("BCD value out of the currency range");
  return negative ? static_cast<std::int64_t>(~magnitude + 1) : static_cast<std::int64_t>(magnitude);
}

/// Day number × 86 400 000 + milliseconds, rounded to a whole millisecond.
std::int64_t DateTimeSlotMilliseconds(const std::byte* slot) {
  const double value = LoadAs<double>(slot);
  if (!std::isfinite(value) || std::fabs(value) > 9.0e18) throw DatasetError("Invalid DateTime value");
  return std::llround(value);
}

}  // namespace

// ---- TQVMRecord ----

TQVMRecord::TQVMRecord(const TFieldDescs& fields) : fields_(&fields) {
  std::size_t data_size = 0;
  for (const TFieldDesc& field : fields) data_size += field.DataSize;
  const std::size_t buffer_size = data_size + BitmapBytes(fields.size());
  if (buffer_size > std::numeric_limits<std::uint16_t>::max()) {
    throw DatasetError("Field layout too large: a record may hold at most 65535 bytes");
  }
  for (const TFieldDesc& field : fields) {
    if (field.Offset < 0 || static_cast<std::size_t>(field.Offset) + field.DataSize > data_size ||
        (field.Kind == FieldKind::Blob && field.DataSize < 8) ||
        (field.Kind == FieldKind::String && field.DataSize < 1) ||
        (field.DataType == FieldType::BCD && field.DataSize < kBcdSize)) {
      throw DatasetError("Invalid descriptor of field " + field.Name);
    }
  }
  data_size_ = static_cast<std::uint16_t>(data_size);
  buffer_size_ = static_cast<std::uint16_t>(buffer_size);
  buffer_ = std::make_unique<std::byte[]>(buffer_size_);
}

TQVMRecord::~TQVMRecord() {
  for (const TFieldDesc& field : *fields_) {
    if (field.Kind == FieldKind::Blob) blob_slot::Free(buffer_.get() + field.Offset);
  }
}

void TQVMRecord::Clear() {
  for (const TFieldDesc& field : *fields_) {
    if (field.Kind == FieldKind::Blob) blob_slot::Free(buffer_.get() + field.Offset);
  }
  std::memset(buffer_.get(), 0, buffer_size_);
}

void TQVMRecord::ThrowOutside(int field_no) const {
  throw DatasetError("Field number " + std::to_string(field_no) + " is outside the record (1.." +
                     std::to_string(fields_->size()) + ")");
}

bool TQVMRecord::GetFieldData(const TFieldDesc& field, std::byte* destination) const {
  const TFieldDesc& own = FieldAt(field.FieldNo);
  if (IsNull(own.FieldNo)) return false;
  const std::byte* slot = buffer_.get() + own.Offset;
  if (own.Kind == FieldKind::Blob) {
    blob_slot::Copy(destination, slot);
  } else {
    std::memcpy(destination, slot, own.DataSize);
  }
  return true;
}

void TQVMRecord::SetFieldData(const TFieldDesc& field, const std::byte* source) {
  const TFieldDesc& own = FieldAt(field.FieldNo);
  std::byte* slot = buffer_.get() + own.Offset;
  if (source == nullptr) {
    if (own.Kind == FieldKind::Blob) {
      blob_slot::Free(slot);
    } else {
      std::memset(slot, 0, own.DataSize);
    }
    SetNull(own.FieldNo, true);
    return;
  }
  if (own.Kind == FieldKind::Blob) {
    blob_slot::Copy(slot, source);
  } else {
    std::memmove(slot, source, own.DataSize);
    if (own.Kind == FieldKind::String) slot[own.DataSize - 1] = std::byte{0};
  }
  SetNull(own.FieldNo, false);
}

void TQVMRecord::SetBytes(int field_no, std::string_view bytes) {
  const TFieldDesc& field = FieldAt(field_no);
  std::byte* slot = buffer_.get() + field.Offset;
  if (field.Kind == FieldKind::String) {
    std::memset(slot, 0, field.DataSize);
    std::memcpy(slot, bytes.data(), std::min<std::size_t>(bytes.size(), field.DataSize - 1U));
  } else if (field.Kind == FieldKind::Blob) {
    blob_slot::Set(slot, bytes);
  } else {
    ThrowUnsupported(field.DataType);
  }
  SetNull(field_no, false);
}

void TQVMRecord::SetValue(int field_no, const Variant& value) {
  const TFieldDesc& field = FieldAt(field_no);
  std::byte* slot = buffer_.get() + field.Offset;
  if (value.IsNull()) {
    if (field.Kind == FieldKind::Blob) blob_slot::Free(slot);
    SetNull(field_no, true);
    return;
  }
  if (field.Kind == FieldKind::String) {
    if (const std::string* own_text = value.Text()) {
      SetBytes(field_no, *own_text);
    } else {
      SetBytes(field_no, value.AsString());
    }
    return;
  }
  if (field.Kind == FieldKind::Blob) {
    SetBytes(field_no, value.AsBytes());
    return;
  }
  switch (field.DataType) {
    case FieldType::Smallint: StoreAs(slot, static_cast<std::int16_t>(value.AsInteger())); break;
    case FieldType::Word: StoreAs(slot, static_cast<std::uint16_t>(value.AsInteger())); break;
    case FieldType::Integer:
    case FieldType::AutoInc: StoreAs(slot, static_cast<std::int32_t>(value.AsInteger())); break;
    case FieldType::Largeint: StoreAs(slot, static_cast<std::int64_t>(value.AsInteger())); break;
    case FieldType::Boolean: StoreAs(slot, static_cast<std::uint16_t>(value.AsBoolean() ? 1 : 0)); break;
    case FieldType::Float:
    case FieldType::Currency: StoreAs(slot, value.AsDouble()); break;
    case FieldType::BCD: CurrencyToBcd(value.AsCurrencyScaled(), slot); break;
    case FieldType::Date: StoreAs(slot, DateTimeToTimeStamp(value.AsDateTime()).date); break;
    case FieldType::Time: StoreAs(slot, DateTimeToTimeStamp(value.AsDateTime()).time); break;
    case FieldType::DateTime: {
      const TimeStamp stamp = DateTimeToTimeStamp(value.AsDateTime());
      StoreAs(slot, static_cast<double>(stamp.date) * kMillisecondsPerDay + stamp.time);
      break;
    }
    default: ThrowUnsupported(field.DataType);
  }
  SetNull(field_no, false);
}

Variant TQVMRecord::GetValue(int field_no) const {
  const TFieldDesc& field = FieldAt(field_no);
  if (IsNull(field_no)) return Variant::Null();
  return SlotValue(field, buffer_.get() + field.Offset);
}

Variant TQVMRecord::SlotValue(const TFieldDesc& field, const std::byte* slot) {
  if (field.Kind == FieldKind::String) {
    const auto* chars = reinterpret_cast<const char*>(slot);
    return Variant::String(std::string(chars, strnlen(chars, field.DataSize - 1U)));
  }
  if (field.Kind == FieldKind::Blob) {
    const std::string* block = blob_slot::Get(slot);
    return Variant::Bytes(block != nullptr ? *block : std::string());
  }
  switch (field.DataType) {
    case FieldType::Smallint: return Variant::Integer(LoadAs<std::int16_t>(slot));
    case FieldType::Word: return Variant::Integer(LoadAs<std::uint16_t>(slot));
    case FieldType::Integer:
    case FieldType::AutoInc: return Variant::Integer(LoadAs<std::int32_t>(slot));
    case FieldType::Largeint: return Variant::Integer(LoadAs<std::int64_t>(slot));
    case FieldType::Boolean: return Variant::Boolean(LoadAs<std::uint16_t>(slot) != 0);
    case FieldType::Float: return Variant::Double(LoadAs<double>(slot));
    case FieldType::Currency: return Variant::Currency(LoadAs<double>(slot));
    case FieldType::BCD: return Variant::CurrencyScaled(BcdToCurrency(slot));
    case FieldType::Date: return Variant::DateTime(TimeStampToDateTime({LoadAs<std::int32_t>(slot), 0}));
    case FieldType::Time:
      return Variant::DateTime(TimeStampToDateTime({kDayNumberOf30Dec1899, LoadAs<std::int32_t>(slot)}));
    case FieldType::DateTime: {
      const std::int64_t total = DateTimeSlotMilliseconds(slot);
      std::int64_t day = total / kMillisecondsPerDay;
      std::int64_t ms = total % kMillisecondsPerDay;
      if (ms < 0) {
        ms += kMillisecondsPerDay;
        --day;
      }
      if (day > std::numeric_limits<std::int32_t>::max() || day < std::numeric_limits<std::int32_t>::min()) {
        throw DatasetError("Invalid DateTime value");
      }
      return Variant::DateTime(
          TimeStampToDateTime({static_cast<std::int32_t>(day), static_cast<std::int32_t>(ms)}));
    }
    default: ThrowUnsupported(field.DataType);
  }
}

void TQVMRecord::Assign(const TQVMRecord& other) {
  if (&other == this) return;
  const TFieldDescs& theirs = *other.fields_;
  bool same_layout = theirs.size() == fields_->size() && other.buffer_size_ == buffer_size_;
  for (std::size_t i = 0; same_layout && i < theirs.size(); ++i) {
    same_layout = theirs[i].Offset == (*fields_)[i].Offset && theirs[i].DataSize == (*fields_)[i].DataSize &&
                  theirs[i].Kind == (*fields_)[i].Kind;
  }
  if (!same_layout) throw DatasetError("Cannot assign a record of a different layout");
  Clear();
  std::memcpy(buffer_.get(), other.buffer_.get(), buffer_size_);
  // The copied bytes of blob slots are the other record's pointers: zero them all before
  // copying any block, so a failed copy leaves no slot pointing at a block of `other`.
  for (const TFieldDesc& field : *fields_) {
    if (field.Kind == FieldKind::Blob) std::memset(buffer_.get() + field.Offset, 0, 8);
  }
  for (const TFieldDesc& field : *fields_) {
    if (field.Kind == FieldKind::Blob) {
      blob_slot::Copy(buffer_.get() + field.Offset, other.buffer_.get() + field.Offset);
    }
  }
}

int TQVMRecord::CompareField(int field_no, const TQVMRecord& other, int options) const {
  const TFieldDesc& field = FieldAt(field_no);
  const TFieldDesc& theirs = other.FieldAt(field_no);
  if (theirs.DataType != field.DataType || theirs.DataSize != field.DataSize) {
    throw DatasetError("Comparing incompatible fields");
  }
  const bool this_null = IsNull(field_no);
  const bool other_null = other.IsNull(field_no);
  if (this_null || other_null) return this_null == other_null ? 0 : (this_null ? -1 : 1);
  const std::byte* a = buffer_.get() + field.Offset;
  const std::byte* b = other.buffer_.get() + theirs.Offset;
  if (field.Kind == FieldKind::Blob) {
    const std::string* block_a = blob_slot::Get(a);
    const std::string* block_b = blob_slot::Get(b);
    const std::string_view bytes_a = block_a != nullptr ? std::string_view(*block_a) : std::string_view();
    const std::string_view bytes_b = block_b != nullptr ? std::string_view(*block_b) : std::string_view();
    if (bytes_a.size() != bytes_b.size()) return bytes_a.size() < bytes_b.size() ? -1 : 1;
    const int order = bytes_a.empty() ? 0 : std::memcmp(bytes_a.data(), bytes_b.data(), bytes_a.size());
    return ThreeWay(order, 0);
  }
  if (field.Kind == FieldKind::String) {
    const auto* chars_a = reinterpret_cast<const char*>(a);
    const auto* chars_b = reinterpret_cast<const char*>(b);
    const std::string_view text_a(chars_a, strnlen(chars_a, field.DataSize - 1U));
    std::string_view text_b(chars_b, strnlen(chars_b, theirs.DataSize - 1U));
    if ((options & static_cast<int>(CompareOption::PartialKey)) != 0)
      text_b = text_b.substr(0, text_a.size());
    const int order = (options & static_cast<int>(CompareOption::CaseInsensitive)) != 0
                          ? text::CompareTextIgnoreCase(text_a, text_b)
                          : text::CompareText(text_a, text_b);
    return ThreeWay(order, 0);
  }
  switch (field.DataType) {
    case FieldType::Smallint:
    case FieldType::Boolean: return ThreeWay(LoadAs<std::int16_t>(a), LoadAs<std::int16_t>(b));
    case FieldType::Integer:
    case FieldType::Date:
    case FieldType::Time:
    case FieldType::AutoInc: return ThreeWay(LoadAs<std::int32_t>(a), LoadAs<std::int32_t>(b));
    case FieldType::Word: return ThreeWay(LoadAs<std::uint16_t>(a), LoadAs<std::uint16_t>(b));
    case FieldType::Float:
    case FieldType::Currency:
    case FieldType::DateTime: return ThreeWay(LoadAs<double>(a), LoadAs<double>(b));
    case FieldType::BCD: return ThreeWay(BcdToCurrency(a), BcdToCurrency(b));
    default:  // Largeint: by value (its little-endian bytes do not sort as the numbers do)
      return ThreeWay(LoadAs<std::int64_t>(a), LoadAs<std::int64_t>(b));
  }
}

bool TQVMRecord::FieldsEqual(int field_no, const TQVMRecord& other, int other_field_no) const {
  const TFieldDesc& field = FieldAt(field_no);
  const TFieldDesc& theirs = other.FieldAt(other_field_no);
  const bool this_null = IsNull(field_no);
  const bool other_null = other.IsNull(other_field_no);
  if (this_null || other_null) return this_null && other_null;
  // Texts of one type compare by their characters whatever room their fields give them (a Unicode
  // archive declares four bytes per character, a database's own rows one).
  const bool texts = field.Kind == FieldKind::String && theirs.Kind == FieldKind::String;
  if ((!texts && field.DataSize != theirs.DataSize) || field.DataType != theirs.DataType) {
    throw DatasetError("Comparing incompatible fields");
  }
  const std::byte* a = buffer_.get() + field.Offset;
  const std::byte* b = other.buffer_.get() + theirs.Offset;
  if (field.Kind == FieldKind::Blob) {
    const std::string* block_a = blob_slot::Get(a);
    const std::string* block_b = blob_slot::Get(b);
    return (block_a != nullptr ? std::string_view(*block_a) : std::string_view()) ==
           (block_b != nullptr ? std::string_view(*block_b) : std::string_view());
  }
  if (field.Kind == FieldKind::String) {
    const auto* chars_a = reinterpret_cast<const char*>(a);
    const auto* chars_b = reinterpret_cast<const char*>(b);
    const std::string_view text_a(chars_a, strnlen(chars_a, field.DataSize - 1U));
    const std::string_view text_b(chars_b, strnlen(chars_b, theirs.DataSize - 1U));
    if (text_a == text_b) return true;
    // UTF-8 bytes read as Windows-1250 may hold characters the collation ignores: two UTF-8
    // texts are equal only byte for byte.
    if (text::IsMultibyteUtf8(text_a) || text::IsMultibyteUtf8(text_b)) return false;
    return text::CompareText(text_a, text_b) == 0;
  }
  switch (field.DataType) {
    case FieldType::BCD: return BcdToCurrency(a) == BcdToCurrency(b);
    case FieldType::Currency: return CurrencyEqual(LoadAs<double>(a), LoadAs<double>(b));
    case FieldType::Time:
      return std::llabs(static_cast<long long>(LoadAs<std::int32_t>(a)) - LoadAs<std::int32_t>(b)) < 5;
    case FieldType::DateTime: {
      const std::int64_t total_a = DateTimeSlotMilliseconds(a);
      const std::int64_t total_b = DateTimeSlotMilliseconds(b);
      auto day_of = [](std::int64_t total) {
        return total / kMillisecondsPerDay - (total % kMillisecondsPerDay < 0 ? 1 : 0);
      };
      const std::int64_t day_a = day_of(total_a);
      const std::int64_t day_b = day_of(total_b);
      const std::int64_t ms_a = total_a - day_a * kMillisecondsPerDay;
      const std::int64_t ms_b = total_b - day_b * kMillisecondsPerDay;
      return day_a == day_b && std::llabs(ms_a - ms_b) < 5;
    }
    default: return std::memcmp(a, b, field.DataSize) == 0;
  }
}

bool TQVMRecord::RecordsEqual(const TQVMRecord& other, bool skip_read_only, bool skip_hidden) const {
  if (other.fields_->size() != fields_->size()) return false;
  for (const TFieldDesc& field : *fields_) {
    if (skip_read_only && (field.Attributes & static_cast<std::uint8_t>(FieldAttribute::ReadOnly)) != 0)
      continue;
    if (skip_hidden && (field.Attributes & static_cast<std::uint8_t>(FieldAttribute::Hidden)) != 0) continue;
    if (CompareField(field.FieldNo, other) != 0) return false;
  }
  return true;
}

void TQVMRecord::WriteToStream(ByteWriter& stream, bool skip_read_only) const {
  WriteToStream(stream, skip_read_only, false);
}

void TQVMRecord::ReadFromStream(ByteReader& stream) { ReadFromStream(stream, false); }

void TQVMRecord::WriteToStream(ByteWriter& target, bool skip_read_only, bool null_blob_length) const {
  // The record's bytes go to the target in few writes: a compressing writer takes each write
  // through its own bookkeeping. A large block goes on by itself rather than through a copy.
  constexpr std::size_t kLargeBlock = 64 * 1024;
  std::string bytes;
  // Room for every slot and the numbers around it: one allocation for a row without blobs.
  bytes.reserve(std::size_t{buffer_size_} + 8 * fields_->size() + 2);
  const auto put_u16 = [&](std::uint16_t value) {
    bytes.push_back(static_cast<char>(value & 0xFF));
    bytes.push_back(static_cast<char>(value >> 8));
  };
  const auto put_i32 = [&](std::int32_t value) {
    const auto bits = static_cast<std::uint32_t>(value);
    const char little_endian[4] = {static_cast<char>(bits & 0xFF), static_cast<char>((bits >> 8) & 0xFF),
                                   static_cast<char>((bits >> 16) & 0xFF), static_cast<char>(bits >> 24)};
    bytes.append(little_endian, sizeof little_endian);
  };
  const auto flush = [&] {
    if (!bytes.empty()) target.Write(bytes.data(), bytes.size());
    bytes.clear();
  };
  for (const TFieldDesc& field : *fields_) {
    if (skip_read_only && (field.Attributes & static_cast<std::uint8_t>(FieldAttribute::ReadOnly)) != 0)
      continue;
    put_u16(field.FieldNo);
    const std::byte* slot = buffer_.get() + field.Offset;
    const bool has_value = !IsNull(field.FieldNo);
    if (field.Kind == FieldKind::Blob) {
      const std::string* block = has_value ? blob_slot::Get(slot) : nullptr;
      if (block == nullptr) {
        put_i32(null_blob_length && !has_value ? -1 : 0);
      } else {
        if (block->size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
          throw DatasetError("Value of field " + field.Name + " is too long");
        }
        put_i32(static_cast<std::int32_t>(block->size()));
        if (block->size() >= kLargeBlock) {
          flush();
          target.WriteBytes(*block);
        } else {
          bytes.append(*block);
        }
      }
      continue;
    }
    put_i32(field.DataSize);
    bytes.push_back(has_value ? '\1' : '\0');
    if (!has_value) continue;
    const auto* chars = reinterpret_cast<const char*>(slot);
    if (field.Kind == FieldKind::String) {
      bytes.append(chars, strnlen(chars, field.DataSize - 1U));
      bytes.push_back('\0');
    } else {
      bytes.append(chars, field.DataSize);
    }
  }
  put_u16(0);
  flush();
}

void TQVMRecord::ReadFromStream(ByteReader& stream, bool null_blob_length) {
  for (std::uint16_t field_no = stream.ReadU16(); field_no != 0; field_no = stream.ReadU16()) {
    if (field_no > fields_->size()) {
      throw DatasetError("Field number " + std::to_string(field_no) +
                         " in the record stream is outside the layout (1.." +
                         std::to_string(fields_->size()) + ")");
    }
    const TFieldDesc& field = (*fields_)[field_no - 1U];
    std::byte* slot = buffer_.get() + field.Offset;
    if (field.Kind == FieldKind::Blob) {
      const std::int32_t length = stream.ReadI32();
      if (null_blob_length && length == -1) {
        blob_slot::Free(slot);
        SetNull(field_no, true);
        continue;
      }
      if (null_blob_length && length == 0) {
        blob_slot::Set(slot, std::string());
        SetNull(field_no, false);
        continue;
      }
      if (length < 0) {
        throw DatasetError("Invalid length " + std::to_string(length) + " of field " + field.Name);
      }
      if (length == 0) {
        blob_slot::Free(slot);
        SetNull(field_no, true);
      } else {
        blob_slot::Set(slot, stream.ReadBytes(static_cast<std::size_t>(length)));
        SetNull(field_no, false);
      }
      continue;
    }
    if (stream.ReadI32() != field.DataSize)
      throw DatasetError("Size of field " + field.Name + " does not match");
    if (stream.ReadU8() == 0) {
      SetNull(field_no, true);
      continue;
    }
    std::string value(field.DataSize, '\0');
    if (field.Kind == FieldKind::String) {
      // The text and its end byte fill the field at most.
      const std::size_t got = stream.ReadTo(0, value.data(), value.size());
      if (got == 0 || value[got - 1] != '\0') {
        if (got == value.size()) throw DatasetError("String value of field " + field.Name + " is too long");
        throw DatasetError("Unexpected end of stream");
      }
    } else {
      stream.ReadExact(value.data(), value.size());
    }
    std::memcpy(slot, value.data(), field.DataSize);
    SetNull(field_no, false);
  }
}

}  // namespace tamaril::dataset
