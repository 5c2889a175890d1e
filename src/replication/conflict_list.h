#pragma once

#include <memory>
#include <string>
#include <vector>

#include "dataset/dataset.h"
#include "dataset/memory_table.h"

namespace tamaril::replication {

/// One group of conflicts: the message, where it happened and copies of the rows.
struct tConflictGroup {
  std::string message;        ///< the conflict line (Windows-1250)
  std::string archive_name;   ///< empty when not given
  std::string database_name;  ///< empty when not given
  /// Copies of the conflicting rows in the layout of the first one; null when the group began
  /// without a row.
  std::unique_ptr<dataset::TQVMMemoryTable> rows;
};

/// The conflicts of an import run, grouped by message, archive and database, each group keeping
/// copies of its rows so that they can be shown after the merge has moved on.
class tConflictList {
 public:
  tConflictList();
  ~tConflictList();
  tConflictList(const tConflictList&) = delete;
  tConflictList& operator=(const tConflictList&) = delete;

  /// Adds a conflict to the group of the same message, archive and database, or to a new group
  /// at the end. The current row of `row` (may be null) is copied into the group's table when
  /// it has the table's layout; a row of another layout is not kept. Throws what copying throws.
  void AddError(const std::string& archive_name, const std::string& database_name, dataset::TDataSet* row,
                const std::string& message);

  /// The groups in the order they were begun.
  const std::vector<std::unique_ptr<tConflictGroup>>& Groups() const noexcept { return groups_; }
  /// True when nothing was added.
  bool Empty() const noexcept { return groups_.empty(); }

  /// The lines of the list: per group the message, "Archiv: " + archive and "Databáze: " +
  /// database where given, then "...".
  std::vector<std::string> Lines() const;
  /// The rows of the group a line belongs to, searched from `line` upwards up to the group's
  /// message; null for a "..." line, a line out of range or a group without rows.
  dataset::TQVMMemoryTable* RowsOfLine(int line) const;

 private:
  std::vector<std::unique_ptr<tConflictGroup>> groups_;
};

}  // namespace tamaril::replication
