#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "dataset/field_layout.h"
#include "dataset/record.h"
#include "dataset/variant.h"

namespace tamaril::dataset {

class TDataSet;

/// Where a field's value comes from: the row, a calculation, a lookup.
enum class TFieldKind { Data, Calculated, Lookup };

/// Origin of TStream::Seek.
enum class SeekOrigin { Beginning, Current, End };

/// How a blob stream is opened.
enum class BlobStreamMode { Read, Write, ReadWrite };

/// A positioned byte stream (the blob streams of datasets); counts are signed so that misuse
/// can be reported.
class TStream {
 public:
  virtual ~TStream() = default;
  /// Reads up to `count` bytes at the position; returns how many were read.
  virtual std::int64_t Read(void* buffer, std::int64_t count) = 0;
  /// Writes `count` bytes at the position; returns how many were written.
  virtual std::int64_t Write(const void* buffer, std::int64_t count) = 0;
  /// Moves the position; returns the new position.
  virtual std::int64_t Seek(std::int64_t offset, SeekOrigin origin) = 0;
  /// Sets the size.
  virtual void SetSize(std::int64_t size) = 0;
  /// Reads everything from the position to the end.
  std::string ReadAll();
};

/// A field of a dataset: a named, typed view of one value of the current row. Its native
/// buffer is the record-slot encoding of its type (see TQVMRecord); blob types hold a blob
/// slot whose block the caller of GetData owns and frees with blob_slot::Free.
class TField {
 public:
  /// A field of `dataset` (not owned; the dataset owns its fields).
  TField(TDataSet& dataset, std::string name, FieldType type, int size, TFieldKind kind = TFieldKind::Data);
  ~TField();
  TField(const TField&) = delete;
  TField& operator=(const TField&) = delete;

  std::string Name;
  std::string DisplayLabel;  ///< the name when empty
  int Size = 0;              ///< declared size (characters for string types)
  int Precision = 0;         ///< BCD only
  int Tag = 0;
  bool Visible = true;
  bool ReadOnly = false;
  bool Required = false;
  /// Makes the display text: (field, text, display) -> text.
  std::function<void(TField&, std::string&, bool)> OnGetText;
  /// Takes a text typed for the field: (field, text).
  std::function<void(TField&, const std::string&)> OnSetText;
  /// Checks a value being written (the value is already in the field's native buffer).
  std::function<void(TField&)> OnValidate;

  TDataSet& DataSet() const noexcept { return *dataset_; }
  FieldType DataType() const noexcept { return type_; }
  TFieldKind FieldKind() const noexcept { return kind_; }
  /// 1-based number of the field definition it shows, 0 for calculated and lookup fields.
  int FieldNo() const noexcept { return field_no_; }
  /// Bytes of the native buffer.
  int DataSize() const noexcept { return data_size_; }
  /// Offset of the flag byte in the calculated area (calculated and lookup fields).
  int Offset() const noexcept { return offset_; }
  /// The display label, or the name when it has none.
  const std::string& DisplayName() const noexcept { return DisplayLabel.empty() ? Name : DisplayLabel; }
  /// A blob field (Blob, Memo, Graphic …; not Bytes or VarBytes).
  bool IsBlob() const noexcept;

  /// Copies the native value into `buffer` (may be null to only ask); false when null.
  bool GetData(std::byte* buffer) const;
  /// Writes the native value from `buffer`, or makes the field null when it is null; throws
  /// DatasetError when the dataset is not editing or the field cannot be modified.
  void SetData(const std::byte* buffer);
  bool IsNull() const { return !GetData(nullptr); }
  /// Makes the field null.
  void Clear() { SetData(nullptr); }

  /// The value (Null when null; memo blobs as strings, other blobs as bytes).
  Variant AsVariant() const;
  /// Writes a value with the conversions of the field's type; throws DatasetError.
  void SetAsVariant(const Variant& value);
  std::string AsString() const;  ///< "" when null
  void SetAsString(const std::string& value);
  std::int64_t AsInteger() const;  ///< 0 when null
  void SetAsInteger(std::int64_t value) { SetAsVariant(Variant::Integer(value)); }
  double AsFloat() const;  ///< 0 when null
  void SetAsFloat(double value) { SetAsVariant(Variant::Double(value)); }
  bool AsBoolean() const;  ///< false when null
  void SetAsBoolean(bool value) { SetAsVariant(Variant::Boolean(value)); }
  double AsDateTime() const;  ///< days since 30 December 1899; 0 when null
  void SetAsDateTime(double days) { SetAsVariant(Variant::DateTime(days)); }
  /// The text through OnGetText (display form when `display`), else AsString.
  std::string Text(bool display = false);
  /// Takes a text through OnSetText, else as AsString.
  void SetText(const std::string& text);

  /// Runs OnValidate (the dataset calls it while a value is written).
  void Validate();

 private:
  friend class TDataSet;
  const TFieldDesc& ScratchDesc() const;

  TDataSet* dataset_;
  FieldType type_;
  TFieldKind kind_;
  int field_no_ = 0;
  int offset_ = 0;
  int data_size_ = 0;
  // A one-field record used to convert values between variants and the native buffer.
  mutable TFieldDescs scratch_descs_;
  mutable std::unique_ptr<TQVMRecord> scratch_;
  mutable std::vector<std::byte> native_;
};

}  // namespace tamaril::dataset
