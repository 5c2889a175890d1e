#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "dataset/dataset.h"
#include "dataset/stream.h"
#include "dbstruct/existing_records.h"
#include "dbstruct/structure.h"
#include "replication/dataset_adapter.h"

namespace tamaril::replication {

class tQVMMerger;

/// What OnConflict reports.
enum class tConflictKind : int {
  AppendMasterMissing = 0,  ///< an allowed append lacks a master row; text: the constraint
  UpdateMasterMissing = 1,  ///< an allowed update lacks a master row; text: the constraint
  AmbiguousWrite = 2,       ///< an allowed append or update matches contradicting rows
  AmbiguousDelete = 3,      ///< an allowed delete matches contradicting rows
  StatementFailed = 4,      ///< the insert, update or delete failed; text: the error's message
  ValueMismatch = 5,        ///< an allowed append or update has a value its column does not take;
                            ///< text: the column and the value (`ValuesFit`)
};

/// (merger).
using MergerEvent = std::function<void(tQVMMerger&)>;
/// (merger, table name).
using MergerTableEvent = std::function<void(tQVMMerger&, const std::string&)>;
/// (merger, row dataset).
using MergerRowEvent = std::function<void(tQVMMerger&, dataset::TDataSet&)>;
/// (merger, row dataset, allow flag out; false on entry).
using MergerAppendEvent = std::function<void(tQVMMerger&, dataset::TDataSet&, bool&)>;
/// (merger, row dataset, allow flag out; false on entry, existing rows).
using MergerChangeEvent =
    std::function<void(tQVMMerger&, dataset::TDataSet&, bool&, dbstruct::tExistingRecords&)>;
/// (merger, existing row dataset, number of rows deleted).
using MergerDeletedEvent = std::function<void(tQVMMerger&, dataset::TDataSet&, std::int64_t)>;
/// (merger, row dataset, conflict kind, text).
using MergerConflictEvent =
    std::function<void(tQVMMerger&, dataset::TDataSet&, tConflictKind, const std::string&)>;

/// Reads the content an archive carries after its header and applies it to a target database:
/// each row is looked up, the events decide whether to append, update or delete, and the table
/// structure writes. The merger never commits: the caller owns the transaction.
class tQVMMerger {
 public:
  tQVMMerger();
  ~tQVMMerger();
  tQVMMerger(const tQVMMerger&) = delete;
  tQVMMerger& operator=(const tQVMMerger&) = delete;

  /// Reads and applies the whole content. Returns true when it ended with the end byte and
  /// nothing after it (VerifyContentEnd: for an archive's stream also a right check value and
  /// no bytes after the zlib stream), false when it ended early (a missing table list or a
  /// marker out of place: what was read before stays applied). Throws ReplicationError
  /// "Merger error" for a table the table list does not name, for a table list, name or layout
  /// beyond the archive's bounds, for content that does not end cleanly after the end byte
  /// and, naming the table (and row), for a header or row that is cut off or does not fit its
  /// layout and for a layout that cannot be stored; what a statement or an event throws (a
  /// failed statement's error even when OnConflict throws while reporting it). Without a
  /// Structure every table is read through without effect.
  ///
  /// A row of a table that is its own master, refused only because the master row it names
  /// in that table is missing, is kept (its record, in memory, up to KeptRowBytesLimit per
  /// table) and merged again, from the append or update decision on, once the table's rows are
  /// through: pass after pass while a pass takes a kept row out. What is still refused then is
  /// reported as any missing master, before the next table starts. A kept row is announced by
  /// OnBeforeRow and OnAfterRow once, when it is read.
  bool Merge();

  tDatasetAdapter Adapter;
  std::vector<std::string> TableList;                  ///< the table list read from the stream
  dataset::ByteReader* Stream = nullptr;               ///< not owned
  dbstruct::tDatabase_Structure* Structure = nullptr;  ///< not owned
  std::string TableName;                               ///< the name in the current table header
  dbstruct::tTbl_Structure* PreviousTable = nullptr;
  dbstruct::tTbl_Structure* CurrentTable = nullptr;
  std::int16_t IsDeletedRowsTable = 0;  ///< flag of the current table header
  int RowNumber = 0;                    ///< 1-based position of the current row in its table
  /// The most bytes the rows kept for a later pass may take in one table (records and their
  /// entries); a row beyond is reported at once.
  std::size_t KeptRowBytesLimit = std::size_t{64} << 20;

  MergerEvent OnBeforeTable;
  MergerTableEvent OnTableStart;
  MergerEvent OnAfterTable;
  MergerRowEvent OnBeforeRow;
  MergerRowEvent OnAfterRow;
  MergerAppendEvent OnAppendRow;
  MergerChangeEvent OnUpdateRow;
  MergerChangeEvent OnDeleteRow;
  MergerRowEvent OnRowAppended;
  MergerRowEvent OnRowUpdated;
  MergerDeletedEvent OnRowDeleted;
  MergerConflictEvent OnConflict;
  MergerRowEvent OnDuplicate;

 private:
  bool Listed(const std::string& name) const;
  /// Reads and merges the rows of the current table; false when the content ended early.
  bool MergeRows();
  void MergeRow();
  void MergeDeletedRow(dataset::TDataSet& row);
  void MergeTableRow(dataset::TDataSet& row);
  /// True when the row refused for `constraint` may wait for a later pass (the constraint is
  /// the current table's own, and the row can be kept); the caller then keeps it.
  bool KeepForLaterPass(const std::string& constraint);
  /// Merges the kept rows of the current table again, pass after pass while a pass takes one
  /// out, then reports the rest.
  void MergeKeptRows();
  /// Loads a kept row and merges it; true when it has to wait once more.
  bool MergeKeptRow(const std::string& record, int row_number, bool may_wait);
  void Conflict(dataset::TDataSet& row, tConflictKind kind, const std::string& text);
  /// Runs an insert, update or delete; a failure is reported as StatementFailed and passed on.
  void RunStatement(dataset::TDataSet& row, const std::function<void()>& statement);

  /// A row kept for a later pass: its record as the archive carried it.
  struct tKeptRow {
    std::string Record;
    int RowNumber = 0;
  };

  bool self_referencing_ = false;  ///< the current table is its own master
  std::string row_record_;         ///< the current row's record as read, in such a table
  bool may_wait_ = false;          ///< a refusal for the table's own key keeps the row
  bool row_waits_ = false;         ///< the row just merged was kept for a later pass
  std::vector<tKeptRow> kept_rows_;
  std::size_t kept_bytes_ = 0;
};

}  // namespace tamaril::replication
