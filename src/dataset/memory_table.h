#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "dataset/qvm_dataset.h"
#include "dataset/record.h"
#include "dataset/stream.h"

namespace tamaril::dataset {

class TQVMmemDataSet;

/// A row of a memory dataset: a record with its creation number and owner.
class TQVMMemRecord : public TQVMRecord {
 public:
  TQVMMemRecord(const TFieldDescs& fields, TQVMmemDataSet* owner, std::uint32_t id)
      : TQVMRecord(fields), Id(id), Owner(owner) {}
  std::uint32_t Id;       ///< creation number, unique within its list
  TQVMmemDataSet* Owner;  ///< the dataset whose index orders it
};

/// The rows of a memory dataset (owned), kept in index order, and the one the cursor is on.
class tMemRecords {
 public:
  std::uint32_t LastId = 0;  ///< the last creation number given
  std::vector<std::unique_ptr<TQVMMemRecord>> Items;
  int CurrentIndex = -1;  ///< position of the current record, −1 when none

  int Count() const noexcept { return static_cast<int>(Items.size()); }
  TQVMMemRecord* Current() const noexcept {
    return CurrentIndex >= 0 && CurrentIndex < Count() ? Items[static_cast<std::size_t>(CurrentIndex)].get()
                                                       : nullptr;
  }
  /// Frees every record (LastId stays).
  void Clear() noexcept {
    Items.clear();
    CurrentIndex = -1;
  }
};

/// The cursor of a memory dataset over its record list.
class tMemoryRecordset : public TQVMRecordset {
 public:
  explicit tMemoryRecordset(TQVMmemDataSet& dataset);
  int LastFound = -1;  ///< position of the last record found by Locate, −1 when none

  bool IsEmpty() override;
  void Open() override { LastFound = -1; }
  void First() override;
  void Last() override;
  bool Next() override;
  bool Prior() override;
  void Delete() override;
  void Insert() override;
  /// Stores the new record (inserting) and moves the current record to its sorted place.
  void Post() override;
  int GetBookmarkSize() override { return 4; }
  std::string GetBookmark() override;
  /// Throws "Záložka nenalezena" for a position outside the list.
  void GotoBookmark(const std::string& bookmark) override;
  bool GetFieldData(const TFieldDesc& field, std::byte* slot) override;
  void SetFieldData(const TFieldDesc& field, const std::byte* slot) override;
  bool Locate(const std::string& key_fields, const Variant& key_values, TQVMRecord* output, bool move,
              int options) override;

 private:
  TQVMRecord& Scratch();
  TQVMmemDataSet* mem_;
  std::unique_ptr<TQVMRecord> scratch_;
};

/// A dataset whose rows are records in memory, sorted by optional index fields, with an
/// auto-increment counter, an optional unique field, key search and bookmarks.
class TQVMmemDataSet : public TFldlayoutDataSet {
 public:
  TQVMmemDataSet();
  ~TQVMmemDataSet() override;

  std::int32_t AutoIncValue = 0;  ///< the counter of the auto-increment field
  tMemRecords& Records() noexcept { return records_; }
  const std::vector<std::pair<std::string, int>>& IndexFieldList() const noexcept {
    return index_field_list_;
  }
  const std::string& IndexFields() const noexcept { return index_fields_; }
  const std::string& UniqueFieldName() const noexcept { return unique_field_name_; }
  /// Sets the unique field; while open it is looked up at once ("Field 'X' not found").
  void SetUniqueField(const std::string& name);
  TField* UniqueField() const noexcept { return unique_field_; }
  TField* AutoIncField() const noexcept { return auto_inc_field_; }

  bool IsSequenced() const override { return true; }
  int RecordCount() const override { return records_.Count(); }
  int RecNo() const override;
  /// Frees every record and, when open, moves to the first (empty) row.
  void EmptyTable();
  /// Appends a new record with the next creation number (the list is not resorted).
  TQVMMemRecord* NewRecord();
  /// Three-way record order: the index fields, then the creation number.
  int CompareRecords(const TQVMMemRecord& a, const TQVMMemRecord& b) const;

 protected:
  TQVMRecordsetClass GetRecordsetClass() override;
  void InternalLoad() override;
  void DoAfterOpen() override;
  void InternalClose() override;
  void DoBeforePost() override;
  void DoSetFieldLayout(const std::string& layout) override;
  /// Replaces the index; throws "Invalid index fields" (the old index stays).
  void SetIndexFieldsText(const std::string& fields);
  /// Discards every record and restarts the creation numbers.
  void DiscardRecords();
  void SortRecords();

 private:
  tMemRecords records_;
  std::vector<std::pair<std::string, int>> index_field_list_;
  std::string index_fields_;
  std::string unique_field_name_;
  TField* unique_field_ = nullptr;
  TField* auto_inc_field_ = nullptr;
};

/// A memory dataset with master/detail and index properties.
class TQVMMemCustomTable : public TQVMmemDataSet {
 public:
  /// Index field names (';'-separated); throws "Invalid index fields".
  void SetIndexFields(const std::string& fields) { SetIndexFieldsText(fields); }
};

/// The plain memory table.
class TQVMMemoryTable : public TQVMMemCustomTable {};

/// A memory table filled with a copy of the rows of another dataset at open.
class TQVMClientMemoryDataSet : public TQVMMemCustomTable {
 public:
  TQVMClientMemoryDataSet();
  ~TQVMClientMemoryDataSet() override;
  /// The dataset copied (null when none or when it was destroyed).
  TDataSet* SourceDataset() const noexcept { return source_.DataSet(); }
  /// Throws "Self referencing is not allowed" for the dataset itself.
  void SetSourceDataset(TDataSet* source);

 protected:
  void CreateRecordset(std::unique_ptr<TQVMRecordset>& recordset, bool open) override;
  void InternalLoad() override;

 private:
  TDataSource source_;
  bool source_was_active_ = false;
};

/// A memory table read from a stream at open and written to one by Store.
class TQVMCustomStreamedMemoryDataSet : public TQVMMemCustomTable {
 public:
  NotifyEvent BeforeStore, AfterStore;
  /// Writes the table; throws "Cannot create stream (table %s)" or what writing throws.
  void Store();
  /// Writes the memory table file form of the posted rows in creation order.
  virtual void SaveToStream(ByteWriter& stream);

 protected:
  /// The stream to read, or null when there is none (the table opens empty).
  virtual std::unique_ptr<ByteReader> CreateReadStream() = 0;
  /// The stream to write, or null when none can be made.
  virtual std::unique_ptr<ByteWriter> CreateWriteStream() = 0;
  /// Completes a written stream (a file replaces the old one only now).
  virtual void CommitStream(ByteWriter& stream) { (void)stream; }
  virtual void DoBeforeStore();
  virtual void DoAfterStore();
  void CreateRecordset(std::unique_ptr<TQVMRecordset>& recordset, bool open) override;
  void InternalLoad() override;
};

/// A memory table kept in a file. A missing file opens an empty table; Store replaces the file
/// as a whole (a failed Store leaves the old file).
class TQVMStoredMemoryDataSet : public TQVMCustomStreamedMemoryDataSet {
 public:
  const std::string& Filename() const noexcept { return filename_; }
  /// The file (UTF-8 path), read at the next open.
  void SetFilename(const std::string& filename) { filename_ = filename; }
  /// The permission bits Store gives the file when it creates it (an existing file keeps its own).
  void SetNewFileMode(unsigned mode) { new_file_mode_ = mode; }

 protected:
  std::unique_ptr<ByteReader> CreateReadStream() override;
  std::unique_ptr<ByteWriter> CreateWriteStream() override;
  void CommitStream(ByteWriter& stream) override;

 private:
  std::string filename_;
  unsigned new_file_mode_ = 0644;
};

}  // namespace tamaril::dataset
