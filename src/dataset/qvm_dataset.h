#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "dataset/dataset.h"
#include "dataset/field_layout.h"
#include "dataset/record.h"

namespace tamaril::dataset {

class TQVMDataset;

/// The cursor behind a TQVMDataset: where the rows live. The base class holds no rows and
/// answers every question as an empty cursor.
class TQVMRecordset {
 public:
  /// A cursor of `dataset`, not yet open.
  explicit TQVMRecordset(TQVMDataset& dataset);
  virtual ~TQVMRecordset();
  TQVMRecordset(const TQVMRecordset&) = delete;
  TQVMRecordset& operator=(const TQVMRecordset&) = delete;

  TQVMDataset& DataSet() const noexcept { return *dataset_; }
  bool Opened() const noexcept { return opened_; }
  /// Opens the cursor (its `Open`) and marks it opened.
  void OpenCursor();
  bool AtEOF = false;
  bool AtBOF = false;

  virtual bool IsEmpty() { return true; }
  virtual void Open() {}
  /// Called by the destructor as well.
  virtual void Close() {}
  virtual void First() {}
  virtual void Last() {}
  /// Moves forward; true when it moved.
  virtual bool Next() { return false; }
  /// Moves back; true when it moved.
  virtual bool Prior() { return false; }
  virtual void Delete() {}
  virtual void Edit() {}
  virtual void Insert() {}
  virtual void Post() {}
  virtual void Cancel() {}
  virtual void Refresh() {}
  virtual int GetBookmarkSize() { return 0; }
  /// The bookmark of the current record (empty when none).
  virtual std::string GetBookmark() { return {}; }
  /// Positions on a bookmark; throws DatasetError when it is not valid.
  virtual void GotoBookmark(const std::string& bookmark) { (void)bookmark; }
  /// Copies a field of the current record into a buffer slot; true when it has a value.
  virtual bool GetFieldData(const TFieldDesc& field, std::byte* slot);
  /// Copies a buffer slot (or null) into the record being posted.
  virtual void SetFieldData(const TFieldDesc& field, const std::byte* slot);
  /// Finds a record by key fields (';'-separated) and values; copies it into `output` when
  /// given and makes it current when `move`.
  virtual bool Locate(const std::string& key_fields, const Variant& key_values, TQVMRecord* output, bool move,
                      int options);
  /// Takes a filter text; throws "Vlastnost filtru není podporována" for a non-empty one.
  virtual void SetFilter(const std::string& filter, int options);

 private:
  bool opened_ = false;
  TQVMDataset* dataset_;
};

/// Makes the cursor of a dataset (the "class" of its recordset).
using TQVMRecordsetClass = std::function<std::unique_ptr<TQVMRecordset>(TQVMDataset&)>;

/// Where in a record buffer the cursor of a TQVMDataset stands: on a record, before the first,
/// after the last.
enum class CursorPosition : int { OnRecord = 0, BeforeFirst = 1, AfterLast = 2 };

/// The library's dataset: turns the framework's calls into calls of a cursor (TQVMRecordset)
/// and lays out record buffers from field descriptors. Adds master/detail linking, filtering by
/// OnFilterRecord, Locate and Lookup, a read-only switch and blob streams.
class TQVMDataset : public TDataSet {
 public:
  TQVMDataset();
  ~TQVMDataset() override;

  const TFieldDescs& FieldDescs() const noexcept { return field_descs_; }
  int BitmapSize() const noexcept { return bitmap_size_; }
  int CalcOffset() const noexcept { return calc_offset_; }
  int FlagOffset() const noexcept { return flag_offset_; }
  int BitmapOffset() const noexcept { return bitmap_offset_; }
  int BookmarkOffset() const noexcept { return bookmark_offset_; }
  int DataSize() const noexcept { return data_size_; }
  int BufferSize() const noexcept { return buffer_size_; }
  CursorPosition CursorPos() const noexcept { return cursor_pos_; }
  const std::string& CurrentBookmark() const noexcept { return current_bookmark_; }
  TQVMRecordset* Recordset() const noexcept { return recordset_.get(); }
  bool PostingInsert() const noexcept { return posting_insert_; }

  bool ReadOnly() const noexcept { return read_only_; }
  /// Sets the read-only switch; throws when open.
  void SetReadOnly(bool read_only);
  /// While set, read-only fields and a read-only dataset may be written.
  bool InternalWrite = false;

  /// The master source of a detail (null when none).
  TDataSource* MasterSource() const { return master_link_.DataSource(); }
  /// Links this dataset to a master; throws "Self referencing is not allowed" or "Master can
  /// only be tQVMDataset".
  void SetMasterSource(TDataSource* source);
  const std::string& MasterFields() const noexcept { return master_link_.FieldNames(); }
  /// Master field names (';'-separated), resolved on the master.
  void SetMasterFields(const std::string& names) { master_link_.SetFieldNames(names); }
  const std::string& DetailFields() const noexcept { return detail_field_names_; }
  /// Detail field names (';'-separated), resolved when the dataset has fields; throws
  /// "Field 'X' not found".
  void SetDetailFields(const std::string& names);
  const std::vector<TField*>& DetailFieldList() const noexcept { return detail_field_list_; }
  TMasterDataLink& MasterLink() noexcept { return master_link_; }
  bool MasterMustBeQVM = true;

  TDataSource* GetDataSource() const override { return master_link_.DataSource(); }
  bool GetFieldData(const TField& field, std::byte* buffer) override;
  void SetFieldData(TField& field, const std::byte* buffer) override;
  /// Reads a field by its number (1-based definition number).
  bool GetFieldData(int field_no, std::byte* buffer);
  bool Locate(const std::string& key_fields, const Variant& key_values, int options = 0) override;
  Variant Lookup(const std::string& key_fields, const Variant& key_values,
                 const std::string& result_fields) override;
  bool BookmarkValid(const std::string& bookmark) override;
  int CompareBookmarks(const std::string& first, const std::string& second) const override;
  std::unique_ptr<TStream> CreateBlobStream(TField& field, BlobStreamMode mode) override;
  void Post() override;
  /// Re-reads the rows (the cursor's Refresh) and returns to the current bookmark.
  void Refresh();

 protected:
  friend class TMyBlobStream;

  virtual TQVMRecordsetClass GetRecordsetClass() = 0;
  /// Loads the rows at the end of opening; re-applies the filter here.
  virtual void InternalLoad();
  virtual void MasterChanged();
  virtual void MasterDisabled();
  virtual void CreateRecordset(std::unique_ptr<TQVMRecordset>& recordset, bool open);
  virtual void FreeRecordset(std::unique_ptr<TQVMRecordset>& recordset);

  void InternalOpen() override;
  void InternalClose() override;
  bool IsCursorOpen() const override { return recordset_ != nullptr; }
  void InternalInitFieldDefs() override;
  void InternalFirst() override;
  void InternalLast() override;
  GetResult GetRecord(std::byte* buffer, GetMode mode, bool check) override;
  void InternalInitRecord(std::byte* buffer) override;
  void InternalEdit() override;
  void InternalInsert() override;
  void InternalPost() override;
  void InternalCancel() override;
  void InternalDelete() override;
  void InternalSetToRecord(const std::byte* buffer) override;
  void InternalGotoBookmark(const std::string& bookmark) override;
  bool GetCanModify() const override { return InternalWrite || !read_only_; }
  void ClearCalcFields(std::byte* buffer) override;
  void FreeRecordBufferContent(std::byte* buffer) override;
  void DoOnNewRecord() override;
  void DoSetFiltered(bool filtered) override;

  TFieldDescs& MutableFieldDescs() noexcept { return field_descs_; }
  /// Replaces CurrentBookmark by the cursor's bookmark; the cursor stands on a record.
  void SaveCurrentBookmark();
  /// The cursor's search after finishing any edit (false when the cursor is empty).
  bool LocateRecord(const std::string& key_fields, const Variant& key_values, TQVMRecord* output, bool move,
                    int options);
  /// The buffer fields are read from and written to in the current state (null when none).
  std::byte* CurrentBuffer();
  bool SlotIsNull(const std::byte* buffer, int field_no) const;
  void SetSlotNull(std::byte* buffer, int field_no, bool null) const;

 private:
  GetResult BasicGetRecord(std::byte* buffer, GetMode mode, bool check);
  bool MatchesMaster(const std::byte* buffer);
  bool AcceptedByFilter();
  void ResolveDetailFields();
  void CursorFirst();
  void CursorLast();
  void CursorNext();
  void CursorPrior();

  TFieldDescs field_descs_;
  int bitmap_size_ = 1;
  int calc_offset_ = 0;
  int flag_offset_ = 0;
  int bitmap_offset_ = 0;
  int bookmark_offset_ = 0;
  int data_size_ = 0;
  int buffer_size_ = 0;
  CursorPosition cursor_pos_ = CursorPosition::BeforeFirst;
  std::string current_bookmark_;
  std::string detail_field_names_;
  std::vector<TField*> detail_field_list_;
  bool read_only_ = false;
  TMasterDataLink master_link_;
  std::unique_ptr<TQVMRecordset> recordset_;
  bool posting_insert_ = false;
  std::byte* filter_buffer_ = nullptr;  ///< the buffer OnFilterRecord reads
};

/// A TQVMDataset whose fields are defined by a layout text.
class TFldlayoutDataSet : public TQVMDataset {
 public:
  const std::string& FieldLayout() const noexcept { return field_layout_; }
  /// Sets the layout (trimmed); throws when open or for a layout that cannot be stored.
  void SetFieldLayout(const std::string& layout) { DoSetFieldLayout(layout); }

 protected:
  virtual void DoSetFieldLayout(const std::string& layout);

 private:
  std::string field_layout_;
};

/// A stream over a blob slot of a TQVMDataset's record buffer.
class TMyBlobStream : public TStream {
 public:
  TMyBlobStream(TQVMDataset& dataset, TField& field, std::byte* buffer, BlobStreamMode mode);
  ~TMyBlobStream() override;
  /// Throws "TMyBlobStream.Read can't read negative byte count".
  std::int64_t Read(void* buffer, std::int64_t count) override;
  /// Throws "TMyBlobStream.Write can't write negative byte count".
  std::int64_t Write(const void* buffer, std::int64_t count) override;
  /// Throws "Invalid seek origin" for an origin outside the three.
  std::int64_t Seek(std::int64_t offset, SeekOrigin origin) override;
  void SetSize(std::int64_t size) override { size_ = size; }
  std::int64_t Size() const noexcept { return size_; }
  std::int64_t Position() const noexcept { return position_; }
  bool Modified() const noexcept { return modified_; }

 private:
  TField* field_;
  std::byte* slot_;
  BlobStreamMode mode_;
  std::byte* buffer_;
  std::int64_t size_ = 0;
  std::int64_t position_ = 0;
  TQVMDataset* dataset_;
  bool modified_ = false;
};

}  // namespace tamaril::dataset
