#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "dataset/dataset.h"
#include "dbaccess/connection.h"
#include "dbstruct/existing_records.h"
#include "dbstruct/structure.h"
#include "replication/field_list_snapshot.h"
#include "replication/merger.h"

namespace tamaril::dbaccess {
class TQueryDataSet;
}

namespace tamaril::replication {

class tConflictList;

/// The archive a merge applies, as the rules and the stamps see it.
struct tMergeRunContext {
  std::string signature;      ///< the archive's Signature: @SIGNATURE and the tracking stamps
  double import_time = 0;     ///< the server time read once per archive (days since 1899-12-30)
  std::string archive_name;   ///< the archive file name, for the conflict list
  std::string database_name;  ///< the target database name, for the conflict list
};

/// What the decisions of one archive counted.
struct tMergeCounters {
  std::int64_t ignored = 0;
  std::int64_t appended = 0;
  std::int64_t updated = 0;
  std::int64_t deleted = 0;  ///< rows removed, details included
  std::int64_t duplicates = 0;
  std::int64_t conflicts = 0;
};

/// What one target table received, for the import log.
struct tTableCounters {
  std::int64_t appended = 0;
  std::int64_t updated = 0;
  std::int64_t deleted = 0;  ///< deletions, one per deleted-rows row that removed something
};

/// The text of a conflict kind (Windows-1250); empty for a failed statement.
std::string ConflictKindText(tConflictKind kind);

/// The decisions of an import: per target table it loads the append, update, update-field and
/// delete rules of the archive's Signature from rep_DEFIMPORT, judges each row by them, stamps
/// the tracking columns into the rows it lets through, counts and writes a log line for every
/// decision and report. One object serves one archive.
class tMergeRules {
 public:
  /// Rules read through `connection` for tables of `structure` (both borrowed); the object
  /// keeps a prepared query on the connection and must be destroyed before it closes.
  tMergeRules(dbaccess::Connection& connection, dbstruct::tDatabase_Structure& structure,
              tMergeRunContext context);
  ~tMergeRules();
  tMergeRules(const tMergeRules&) = delete;
  tMergeRules& operator=(const tMergeRules&) = delete;

  /// Installs the table start, decision and report handlers on `merger`; each first calls
  /// CheckCancel. The merger must not outlive this object.
  void Install(tQVMMerger& merger);

  /// Loads the rules and LastImportDate of `table_name` (none without a rule row); throws
  /// DatabaseError from the query.
  void TableStart(const std::string& table_name);
  /// Whether `row`, which matches nothing in the target, may be appended; stamps it when
  /// allowed. Throws ExpressionError for a rule that does not compile, EvaluationError.
  bool AllowAppend(dataset::TDataSet& row);
  /// Whether `row` may update `existing`; clears the tags of the fields the update-field rule
  /// refuses and stamps the row when allowed. Throws as AllowAppend.
  bool AllowUpdate(dataset::TDataSet& row, dataset::TDataSet& existing);
  /// Whether the row `existing` that the deleted-rows row `deleted` names may be deleted.
  /// Throws as AllowAppend.
  bool AllowDelete(dataset::TDataSet& deleted, dataset::TDataSet& existing);
  /// Counts an appended row and writes its line.
  void RowAppended(dataset::TDataSet& row);
  /// Counts an updated row and writes its line.
  void RowUpdated(dataset::TDataSet& row);
  /// Counts `count` removed rows as one deletion of the table and writes its line; nothing for 0.
  void RowDeleted(std::int64_t count);
  /// Counts a row the target already holds and writes its line.
  void Duplicate(dataset::TDataSet& row);
  /// Counts the conflict, writes its line and adds it with `row` to the conflict list.
  /// `table_name` is the target table; for a deleted-rows row (`deleted_row`) the line names the
  /// row its last delete decision judged.
  void Conflict(dataset::TDataSet& row, tConflictKind kind, const std::string& detail,
                const std::string& table_name, bool deleted_row = false);

  /// The counters of this archive.
  const tMergeCounters& Counters() const noexcept { return counters_; }
  /// The counters of a target table by its structure's name (zeros when it received nothing).
  tTableCounters TableCounters(const std::string& table_name) const;

  /// Gets every log line (Windows-1250), when set.
  std::function<void(const std::string&)> OnLog;
  /// Called at the start of every handler; throws EAbort when the run is cancelled.
  std::function<void()> CheckCancel;
  /// Told the name of each table whose rules are loaded, when set.
  std::function<void(const std::string&)> OnTableShown;
  /// Receives every conflict, when set (not owned).
  tConflictList* Conflicts = nullptr;

 private:
  struct Rule;

  void Log(const std::string& line) const;
  void Cancel() const;
  /// "(key=value,…)" of the row by the current table's primary key; without one by its RowGuid
  /// column, then by its integer key; "()" when nothing names it.
  std::string KeyText(dataset::TDataSet& row) const;
  /// A Windows-1250 text as the rows hold it: UTF-8 while the connection reads Unicode.
  std::string RowText(const std::string& ansi) const;
  /// Compiles `rule` for the bound rows once per table, then evaluates it as a boolean.
  bool Passes(Rule& rule, dataset::TDataSet& row, dataset::TDataSet* other);
  void StampInsert(dataset::TDataSet& row);
  void StampUpdate(dataset::TDataSet& row);
  /// The four tracking fields of `row`, or nothing unless it has all of them; found again only
  /// when the row's fields are no longer those they were found among.
  std::optional<std::array<dataset::TField*, 4>> TrackingFields(dataset::TDataSet& row);
  /// The archive's Signature as the rows hold it (RowText), made once for each text form.
  const std::string& SignatureText();
  /// The native value a stamp gave a field of one type and size: another field of that type and
  /// size takes the same value as these bytes, without converting it again.
  struct tStampBytes {
    dataset::FieldType Type = dataset::FieldType::Unknown;
    int DataSize = 0;
    int Size = 0;
    std::optional<std::string> Text;  ///< the text stamped; nothing for the import time
    std::vector<std::byte> Bytes;     ///< empty until a stamp was taken
  };
  /// Stamps `text`, or the import time without one, into `field`: as `bytes` when they hold
  /// that value for a field like it; keeps the bytes the field then holds.
  void Stamp(dataset::TField& field, tStampBytes& bytes, const std::optional<std::string>& text);
  tTableCounters& CurrentCounters();

  dbaccess::Connection& connection_;
  dbstruct::tDatabase_Structure& structure_;
  tMergeRunContext context_;
  std::unique_ptr<dbaccess::TQueryDataSet> query_;
  dbstruct::tTbl_Structure* table_ = nullptr;
  double last_import_date_ = 0;
  std::unique_ptr<Rule> append_, update_, update_field_, delete_;
  std::string delete_key_text_;  ///< the key text of the row the last delete decision judged
  tMergeCounters counters_;
  std::map<std::string, tTableCounters> table_counters_;
  tTableCounters* current_counters_ = nullptr;  ///< the current table's, once CurrentCounters found them
  tFieldListSnapshot tracking_source_;          ///< the fields tracking_fields_ were found among
  std::optional<std::array<dataset::TField*, 4>> tracking_fields_;
  std::optional<bool> signature_unicode_;  ///< the text form signature_text_ was made for
  std::string signature_text_;
  std::array<tStampBytes, 4> stamp_bytes_;  ///< per tracking field
};

}  // namespace tamaril::replication
