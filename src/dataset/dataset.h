#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "dataset/field.h"
#include "dataset/field_layout.h"
#include "dataset/variant.h"

namespace tamaril::dataset {

class TDataSet;
class TDataSource;

/// What a dataset is doing.
enum class DataSetState {
  Inactive,
  Browse,
  Edit,
  Insert,
  SetKey,
  CalcFields,
  Filter,
  NewValue,
  InternalCalc
};

/// Options of Locate (bits; CompareOption values).
enum class LocateOption : int { CaseInsensitive = 1, PartialKey = 2 };

/// Options of the filter text.
enum class FilterOption : int { CaseInsensitive = 1, NoPartialCompare = 2 };

/// Which way GetRecord fetches.
enum class GetMode { Current, Next, Prior };
/// What GetRecord answers.
enum class GetResult { Ok, Bof, Eof, Error };
/// Bookmark flag byte of a record buffer.
enum class BookmarkFlag : std::uint8_t { Current = 0, Bof = 1, Eof = 2, Inserted = 3 };

/// Hands an exception that the framework catches (an event handler's failure) to the
/// application; the default writes its message to the standard error.
void ApplicationHandleException(const std::exception_ptr& error);
/// Replaces the application's exception handler (an empty function restores the default).
void SetApplicationExceptionHandler(std::function<void(std::exception_ptr)> handler);

/// A listener on a data source (grids, editors, master links).
class TDataLink {
 public:
  virtual ~TDataLink();
  TDataLink() = default;
  TDataLink(const TDataLink&) = delete;
  TDataLink& operator=(const TDataLink&) = delete;

  TDataSource* DataSource() const noexcept { return source_; }
  /// Attaches the link to a source (or detaches it with null), then reports the new state.
  void SetDataSource(TDataSource* source);
  /// The source is enabled and its dataset open.
  bool Active() const;
  /// The dataset of the source, or null.
  TDataSet* DataSet() const;

 protected:
  friend class TDataSource;
  /// The dataset was opened or closed, or the source changed.
  virtual void ActiveChanged() {}
  /// The current row changed (`field` null) or one of its fields changed.
  virtual void RecordChanged(TField* field) { (void)field; }

 private:
  TDataSource* source_ = nullptr;
};

/// Connects a dataset to its links: whatever happens to the dataset is passed on to them.
class TDataSource {
 public:
  explicit TDataSource(TDataSet* dataset = nullptr);
  ~TDataSource();
  TDataSource(const TDataSource&) = delete;
  TDataSource& operator=(const TDataSource&) = delete;

  TDataSet* DataSet() const noexcept { return dataset_; }
  /// Attaches to a dataset (or detaches with null); the links hear of it.
  void SetDataSet(TDataSet* dataset);
  bool Enabled() const noexcept { return enabled_; }
  void SetEnabled(bool enabled);
  /// Links attached to this source.
  const std::vector<TDataLink*>& Links() const noexcept { return links_; }

 private:
  friend class TDataLink;
  friend class TDataSet;
  void NotifyActiveChanged();
  void NotifyRecordChanged(TField* field);

  TDataSet* dataset_ = nullptr;
  bool enabled_ = true;
  std::vector<TDataLink*> links_;
};

/// The link of a detail dataset to its master: resolves the master field names on the master
/// dataset and calls back when the master moves or closes.
class TMasterDataLink : public TDataLink {
 public:
  explicit TMasterDataLink(TDataSet& detail);
  /// Field names of the master, separated by ';'.
  const std::string& FieldNames() const noexcept { return field_names_; }
  /// Sets the names and resolves them when the master is open; throws "Field 'X' not found".
  void SetFieldNames(const std::string& names);
  /// The master fields resolved from FieldNames.
  const std::vector<TField*>& Fields() const noexcept { return fields_; }
  std::function<void()> OnMasterChange;
  std::function<void()> OnMasterDisable;

 protected:
  void ActiveChanged() override;
  void RecordChanged(TField* field) override;

 private:
  TDataSet* detail_;
  std::string field_names_;
  std::vector<TField*> fields_;
};

/// A set of rows seen one at a time through field objects: navigation, editing with
/// edit/insert/post/cancel, events, bookmarks, search. Descendants supply the rows through the
/// protected Internal… operations and GetRecord; the framework keeps one active record buffer
/// (plus a temporary buffer and the one being calculated).
class TDataSet {
 public:
  using NotifyEvent = std::function<void(TDataSet&)>;
  using FilterRecordEvent = std::function<void(TDataSet&, bool& accept)>;

  TDataSet();
  virtual ~TDataSet();
  TDataSet(const TDataSet&) = delete;
  TDataSet& operator=(const TDataSet&) = delete;

  std::string Name;  ///< the component name (used in messages)

  NotifyEvent BeforeOpen, AfterOpen, BeforeClose, AfterClose, BeforeInsert, AfterInsert, BeforeEdit,
      AfterEdit, BeforePost, AfterPost, BeforeCancel, AfterCancel, BeforeDelete, AfterDelete, BeforeScroll,
      AfterScroll, OnNewRecord, OnCalcFields;
  FilterRecordEvent OnFilterRecord;

  // Opening and state.
  /// Opens the dataset (nothing when open); a failure leaves it closed and is passed on.
  void Open();
  /// Closes the dataset (nothing when closed).
  void Close();
  bool Active() const noexcept { return state_ != DataSetState::Inactive; }
  void SetActive(bool active) { active ? Open() : Close(); }
  DataSetState State() const noexcept { return state_; }
  /// Throws "Cannot perform this operation on an open dataset" when open.
  void CheckInactive() const;
  /// Throws "Cannot perform this operation on a closed dataset" when closed.
  void CheckActive() const;
  /// Finishes an edit (posts when modified, cancels otherwise); throws as Post.
  void CheckBrowseMode();
  /// Whether rows may be written.
  bool CanModify() const { return GetCanModify(); }
  /// The current row was changed since Edit or Insert.
  bool Modified() const noexcept { return modified_; }

  // Fields.
  TFieldDefs& FieldDefs() noexcept { return field_defs_; }
  const TFieldDefs& FieldDefs() const noexcept { return field_defs_; }
  /// Adds a persistent field (only while closed); throws when open.
  TField& AddField(const std::string& name, FieldType type, int size = 0, TFieldKind kind = TFieldKind::Data);
  /// Removes every persistent field (only while closed).
  void ClearFields();
  const std::vector<std::unique_ptr<TField>>& Fields() const noexcept { return fields_; }
  int FieldCount() const noexcept { return static_cast<int>(fields_.size()); }
  TField& Field(int index) const { return *fields_.at(static_cast<std::size_t>(index)); }
  /// The field of that name (ignoring case), or null.
  TField* FindField(std::string_view name) const;
  /// The field of that name; throws DatasetError "Field 'X' not found".
  TField& FieldByName(std::string_view name) const;
  /// The fields named in a ';'-separated list; throws as FieldByName.
  std::vector<TField*> GetFieldList(std::string_view names) const;
  /// The fields were created by the dataset at open (no persistent fields).
  bool DefaultFields() const noexcept { return default_fields_; }

  // Navigation.
  void First();
  void Last();
  void Next() { MoveBy(1); }
  void Prior() { MoveBy(-1); }
  /// Moves by a number of rows; returns how many it moved (negative backwards).
  int MoveBy(int distance);
  bool Eof() const noexcept { return eof_; }
  bool Bof() const noexcept { return bof_; }
  /// Open and no current row.
  bool IsEmpty() const noexcept { return Active() && !has_record_; }
  virtual int RecordCount() const { return has_record_ ? 1 : 0; }
  /// 0-based position of the current row, −1 when unknown.
  virtual int RecNo() const { return -1; }
  virtual bool IsSequenced() const { return false; }

  // Editing.
  void Edit();
  void Insert();
  void Append();
  /// Stores the edited or new row; throws (the dataset stays in its edit state).
  virtual void Post();
  void Cancel();
  void Delete();

  // Search and bookmarks.
  /// Finds the first row whose key fields (';'-separated) equal the values (an array for
  /// several fields) and makes it current; false when none.
  virtual bool Locate(const std::string& key_fields, const Variant& key_values, int options = 0);
  /// The values of the result fields of the row found by the keys (array for several), Null when
  /// none; the current row does not change.
  virtual Variant Lookup(const std::string& key_fields, const Variant& key_values,
                         const std::string& result_fields);
  /// The bookmark of the current row (empty when none).
  std::string GetBookmark() const;
  /// Makes the row of a bookmark current; throws when it is not valid.
  void GotoBookmark(const std::string& bookmark);
  virtual bool BookmarkValid(const std::string& bookmark);
  /// Three-way order of two bookmarks (an empty one after every other).
  virtual int CompareBookmarks(const std::string& first, const std::string& second) const;
  /// A stream over a blob field of the current row.
  virtual std::unique_ptr<TStream> CreateBlobStream(TField& field, BlobStreamMode mode);

  // Filtering.
  bool Filtered() const noexcept { return filtered_; }
  /// Switches filtering; descendants may refuse a filter text.
  void SetFiltered(bool filtered) { DoSetFiltered(filtered); }
  const std::string& Filter() const noexcept { return filter_; }
  void SetFilter(const std::string& filter) { filter_ = filter; }
  int FilterOptions() const noexcept { return filter_options_; }
  void SetFilterOptions(int options) { filter_options_ = options; }

  /// The master data source (detail datasets), or null.
  virtual TDataSource* GetDataSource() const { return nullptr; }

  // Field access used by TField (the native buffers).
  /// Reads a field of the current buffer into `buffer` (may be null); false when null.
  virtual bool GetFieldData(const TField& field, std::byte* buffer) = 0;
  /// Writes a field of the current buffer; throws DatasetError.
  virtual void SetFieldData(TField& field, const std::byte* buffer) = 0;

 protected:
  // What descendants supply.
  virtual void InternalOpen() = 0;
  virtual void InternalClose() = 0;
  virtual bool IsCursorOpen() const = 0;
  virtual void InternalInitFieldDefs() {}
  virtual void InternalFirst() = 0;
  virtual void InternalLast() = 0;
  virtual GetResult GetRecord(std::byte* buffer, GetMode mode, bool check) = 0;
  virtual void InternalInitRecord(std::byte* buffer) = 0;
  virtual void InternalEdit() {}
  virtual void InternalInsert() {}
  virtual void InternalPost() = 0;
  virtual void InternalCancel() {}
  virtual void InternalDelete() = 0;
  virtual void InternalSetToRecord(const std::byte* buffer) = 0;
  virtual void InternalGotoBookmark(const std::string& bookmark) = 0;
  virtual void InternalHandleException(const std::exception_ptr& error) { ApplicationHandleException(error); }
  virtual bool GetCanModify() const { return true; }
  virtual void ClearCalcFields(std::byte* buffer) { (void)buffer; }
  /// Frees what a record buffer holds (blob blocks); the block itself is the framework's.
  virtual void FreeRecordBufferContent(std::byte* buffer) { (void)buffer; }
  virtual void CreateFields();
  virtual void DoSetFiltered(bool filtered);

  virtual void DoBeforeOpen();
  virtual void DoAfterOpen();
  virtual void DoBeforeClose();
  virtual void DoAfterClose();
  virtual void DoBeforeInsert();
  virtual void DoAfterInsert();
  virtual void DoBeforeEdit();
  virtual void DoAfterEdit();
  virtual void DoBeforePost();
  virtual void DoAfterPost();
  virtual void DoBeforeCancel();
  virtual void DoAfterCancel();
  virtual void DoBeforeDelete();
  virtual void DoAfterDelete();
  virtual void DoBeforeScroll();
  virtual void DoAfterScroll();
  virtual void DoOnNewRecord();

  // Framework services for descendants.
  /// Record buffer layout, set while opening: record size (bookmark data sits at
  /// `bookmark_offset`, the flag byte at `flag_offset`).
  void SetBufferLayout(int buffer_size, int bookmark_offset, int bookmark_size, int flag_offset);
  int BookmarkSize() const noexcept { return bookmark_size_; }
  int CalcFieldsSize() const noexcept { return calc_fields_size_; }
  /// Computes the calculated-area offsets of the calculated and lookup fields.
  void BindFields();
  /// Creates default fields from the field definitions when there are no persistent fields.
  void CreateDefaultFieldsIfNeeded();
  /// Destroys the fields the dataset made at open.
  void DestroyDefaultFields();
  std::byte* ActiveBuffer() noexcept { return active_.get(); }
  std::byte* TempBuffer() noexcept { return temp_.get(); }
  std::byte* CalcBuffer() noexcept { return calc_buffer_; }
  /// Runs OnCalcFields on a buffer under the calc-fields state.
  void GetCalcFields(std::byte* buffer);
  bool HasCalcFields() const noexcept { return calc_fields_size_ > 0 || static_cast<bool>(OnCalcFields); }
  void SetState(DataSetState state) noexcept { state_ = state; }
  /// Re-reads the current row into the active buffer (the row the cursor stands on when
  /// `exact`, else the nearest one); throws "Record not found" when exact and missing.
  void Resync(bool exact);
  /// The cursor left the active row: the next fetch first returns to it.
  void CursorPosChanged() noexcept { cursor_synced_ = false; }
  /// Tells the links that the row or a field changed.
  void DataEvent(TField* field);
  /// A field was written.
  void FieldChanged(TField& field);
  /// The first buffer for reading and writing: what the dataset state points at.
  std::byte* BufferOfState() noexcept;
  void SetModified(bool modified) noexcept { modified_ = modified; }
  bool HasRecord() const noexcept { return has_record_; }
  /// Closes the dataset from a destructor: no events, no exception.
  void CloseForDestruction() noexcept;
  void CheckCanModify() const;

 private:
  friend class TDataSource;
  void FetchFirst();
  bool FetchInto(GetMode mode);
  void UpdateCursorPos();
  void ClearBuffers();
  void FreeBuffers();
  void CheckRequiredFields();
  // Insert and Append: a new row before the current one, or after the last.
  void BeginInsert(bool at_end);
  void NotifyActiveChanged();

  DataSetState state_ = DataSetState::Inactive;
  TFieldDefs field_defs_;
  std::vector<std::unique_ptr<TField>> fields_;
  bool default_fields_ = false;
  std::unique_ptr<std::byte[]> active_, temp_, spare_, saved_;
  std::byte* calc_buffer_ = nullptr;
  int buffer_size_ = 0;
  int bookmark_offset_ = 0;
  int bookmark_size_ = 0;
  int flag_offset_ = 0;
  int calc_fields_size_ = 0;
  bool has_record_ = false;
  bool saved_has_record_ = false;
  bool destroying_ = false;
  bool cursor_synced_ = true;
  bool bof_ = true;
  bool eof_ = true;
  bool modified_ = false;
  bool filtered_ = false;
  std::string filter_;
  int filter_options_ = 0;
  std::vector<TDataSource*> sources_;
};

/// Field names are equal ignoring case (character by character, Windows-1250).
bool SameFieldName(std::string_view a, std::string_view b);
/// The layout bits of a field: 1 not visible, 2 calculated, lookup or read-only, 4 required.
std::uint8_t FieldFlags(const TField& field);
/// The layout text of a dataset's fields (only fields with a tag when `tagged_only`).
std::string BuildFieldLayout(const TDataSet& dataset, bool tagged_only);

}  // namespace tamaril::dataset
