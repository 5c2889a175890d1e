#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "dataset/field_layout.h"
#include "dataset/variant.h"

namespace tamaril::dataset {

class ByteReader;
class ByteWriter;
class TDataSet;
class TField;

/// Blob slots of record buffers: an 8-byte slot that owns a byte block (or holds none). Every
/// buffer with blob slots — records and the datasets' own buffers — goes through these.
namespace blob_slot {
/// The block of a slot, or null when it holds none.
const std::string* Get(const std::byte* slot) noexcept;
/// Replaces the block (an empty text frees it: length 0 means no block).
void Set(std::byte* slot, std::string_view bytes);
/// Frees the block and zeroes the slot.
void Free(std::byte* slot) noexcept;
/// Makes `target` hold a copy of the block of `source` (deep copy), freeing the block `target`
/// held: `target` must be a zeroed slot or one that owns a block.
void Copy(std::byte* target, const std::byte* source);
}  // namespace blob_slot

/// Options of CompareField.
enum class CompareOption : int { None = 0, CaseInsensitive = 1, PartialKey = 2 };

/// One row in a flat buffer laid out by a descriptor list, with a null bitmap (bit set = has a
/// value) after the field area. Field numbers are 1-based. Encodings of the slots: strings as
/// Windows-1250 zero-terminated; Smallint/Word/Boolean 16-bit; Integer/AutoInc/Date/Time 32-bit;
/// Float/Currency/DateTime doubles (DateTime: day number × 86 400 000 + ms of the day, day 1 =
/// 1 January 0001); Largeint 64-bit; BCD the 34-byte packed record; blobs an owned block.
class TQVMRecord {
 public:
  /// A record with every field null over `fields` (not owned; must outlive the record).
  explicit TQVMRecord(const TFieldDescs& fields);
  virtual ~TQVMRecord();
  TQVMRecord(const TQVMRecord&) = delete;
  TQVMRecord& operator=(const TQVMRecord&) = delete;

  const TFieldDescs& Fields() const noexcept { return *fields_; }
  std::uint16_t BufferSize() const noexcept { return buffer_size_; }
  std::uint16_t DataSize() const noexcept { return data_size_; }
  const std::byte* Buffer() const noexcept { return buffer_.get(); }
  std::byte* Buffer() noexcept { return buffer_.get(); }

  /// Frees every blob block, zero-fills the buffer, marks every field null.
  void Clear();
  bool IsNull(int field_no) const {
    FieldAt(field_no);
    const auto bit = static_cast<unsigned>(field_no - 1);
    return (std::to_integer<unsigned>(buffer_[data_size_ + bit / 8]) & (1U << (bit % 8))) == 0;
  }
  void SetNull(int field_no, bool null) {
    FieldAt(field_no);
    const auto bit = static_cast<unsigned>(field_no - 1);
    std::byte& flags = buffer_[data_size_ + bit / 8];
    const auto mask = std::byte{static_cast<unsigned char>(1U << (bit % 8))};
    flags = null ? (flags & ~mask) : (flags | mask);
  }

  /// Copies the field's slot to `destination` (blob blocks deep-copied); false when null.
  bool GetFieldData(const TFieldDesc& field, std::byte* destination) const;
  /// Copies `source` (storage size; blob deep-copied) into the field, or makes it null when
  /// `source` is null.
  void SetFieldData(const TFieldDesc& field, const std::byte* source);
  /// Stores a variant with the conversions of the field's type; throws DatasetError.
  void SetValue(int field_no, const Variant& value);
  /// Stores the bytes of a text or blob field as SetValue stores a string or bytes variant (a
  /// text cut to the field's size); throws DatasetError for a field of another kind.
  void SetBytes(int field_no, std::string_view bytes);
  /// The field's value as a variant (Null when null).
  Variant GetValue(int field_no) const;
  /// The value of the non-null slot `slot` of a field described by `field` (its Offset aside).
  static Variant SlotValue(const TFieldDesc& field, const std::byte* slot);
  /// Makes this record an exact copy of another of the same layout.
  void Assign(const TQVMRecord& other);

  /// Three-way comparison of this record's field with the same field of `other`.
  int CompareField(int field_no, const TQVMRecord& other, int options = 0) const;
  /// Equality with tolerances (5 ms for times); throws DatasetError "Comparing incompatible fields".
  bool FieldsEqual(int field_no, const TQVMRecord& other, int other_field_no) const;
  /// Every field equal by CompareField, optionally skipping read-only or hidden fields.
  bool RecordsEqual(const TQVMRecord& other, bool skip_read_only, bool skip_hidden) const;

  /// Copies from the current row of `dataset` the fields of the same names (ignoring case);
  /// with `clear_first` the record is cleared first, otherwise fields that have a value are kept.
  void LoadFromDataSet(TDataSet& dataset, bool clear_first);
  /// LoadFromDataSet with the fields already found: `fields[i]` is the field of `dataset` for
  /// the record's field i (null for none), as SourceFields gives them.
  void LoadFromFields(TDataSet& dataset, const std::vector<TField*>& fields, bool clear_first);
  /// The fields of `dataset` of the same names (ignoring case) as the record's fields, in their
  /// order; null where `dataset` has none. Valid while `dataset` keeps its fields.
  std::vector<TField*> SourceFields(TDataSet& dataset) const;
  /// Copies the fields into the current row of `dataset` (which is in an edit state), skipping
  /// missing, non-data and read-only fields and those named in `leave_out`.
  void StoreToDataSet(TDataSet& dataset, const std::vector<std::string>& leave_out = {}) const;

  /// Writes the record stream form (field number, size or length, null byte, value …, 0).
  virtual void WriteToStream(ByteWriter& stream, bool skip_read_only) const;
  /// Reads the record stream form; throws DatasetError for a stream that does not fit the layout
  /// (the fields read so far stay).
  virtual void ReadFromStream(ByteReader& stream);
  /// WriteToStream; with `null_blob_length` a null blob field is written with the length -1
  /// and an empty one with 0, so the two stay apart (the stream form writes 0 for both).
  void WriteToStream(ByteWriter& stream, bool skip_read_only, bool null_blob_length) const;
  /// ReadFromStream of a stream written with `null_blob_length`: -1 reads as null and 0 as an
  /// empty value.
  void ReadFromStream(ByteReader& stream, bool null_blob_length);

 private:
  /// The descriptor of a field number; throws DatasetError outside 1..n.
  const TFieldDesc& FieldAt(int field_no) const {
    if (field_no < 1 || static_cast<std::size_t>(field_no) > fields_->size()) ThrowOutside(field_no);
    return (*fields_)[static_cast<std::size_t>(field_no) - 1];
  }
  [[noreturn]] void ThrowOutside(int field_no) const;

  const TFieldDescs* fields_;
  std::uint16_t data_size_ = 0;
  std::uint16_t buffer_size_ = 0;
  std::unique_ptr<std::byte[]> buffer_;
};

}  // namespace tamaril::dataset
