#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tamaril::dbstruct {

class tTbl_Structure;

/// One foreign-key constraint: its name and its column pairs (master column, detail column).
class tForeignKeyInfo {
 public:
  std::vector<std::string> PKColumns;  ///< master column names
  std::vector<std::string> FKColumns;  ///< detail column names; pair i belongs to PKColumns[i]
  std::string Name;                    ///< the constraint name

  /// Appends one column pair.
  void AddColumns(std::string master_column, std::string detail_column);
  /// Number of column pairs.
  int Count() const noexcept { return static_cast<int>(PKColumns.size()); }
  /// Master column of pair `index`; throws std::out_of_range.
  const std::string& PKColumn(int index) const { return PKColumns.at(static_cast<std::size_t>(index)); }
  /// Detail column of pair `index`; throws std::out_of_range.
  const std::string& FKColumn(int index) const { return FKColumns.at(static_cast<std::size_t>(index)); }
};

/// The foreign keys that lead from one detail table to one master table.
class tForeignKeysInfo {
 public:
  /// The keys from `detail_table` to `master_table` (neither owned).
  tForeignKeysInfo(tTbl_Structure* master_table, tTbl_Structure* detail_table)
      : MasterTable(master_table), DetailTable(detail_table) {}

  tTbl_Structure* MasterTable;  ///< the master table (the PK_Table)
  tTbl_Structure* DetailTable;  ///< the table owning the enclosing tMastersInfo

  /// Number of constraints.
  int Count() const noexcept { return static_cast<int>(keys_.size()); }
  /// The constraint at `index`, in order of first registration; throws std::out_of_range.
  tForeignKeyInfo& Items(int index) const { return *keys_.at(static_cast<std::size_t>(index)); }
  /// The constraint of that name (letter case ignored), or null.
  tForeignKeyInfo* FindKey(std::string_view name) const;
  /// The constraint of that name, appended when it is not there yet.
  tForeignKeyInfo& AddKey(std::string_view name);

 private:
  std::vector<std::unique_ptr<tForeignKeyInfo>> keys_;
};

/// The masters of one table: at most one tForeignKeysInfo per master table, in order of first
/// registration.
class tMastersInfo {
 public:
  /// The masters of `owner` (not owned).
  explicit tMastersInfo(tTbl_Structure* owner) : Owner(owner) {}
  ~tMastersInfo();
  tMastersInfo(const tMastersInfo&) = delete;
  tMastersInfo& operator=(const tMastersInfo&) = delete;

  tTbl_Structure* Owner;  ///< the detail table

  /// Forgets every master.
  void Clear();
  /// Number of master tables.
  int Count() const noexcept { return static_cast<int>(masters_.size()); }
  /// The master entry at `index`; throws std::out_of_range.
  tForeignKeysInfo& Items(int index) const { return *masters_.at(static_cast<std::size_t>(index)); }
  /// The entry of that master table (the same object), or null.
  tForeignKeysInfo* FindByMaster(const tTbl_Structure* master) const;
  /// Registers one column pair of the constraint `constraint_name` towards `pk_table`; throws
  /// StructureError "tMastersInfo.AddMaster: PK_Table not assigned" when `pk_table` is null.
  void AddMaster(tTbl_Structure* pk_table, std::string_view constraint_name, std::string master_column,
                 std::string detail_column);

 private:
  std::vector<std::unique_ptr<tForeignKeysInfo>> masters_;
};

/// A number that changes whenever any master link of any table changes (or a table goes away);
/// cached dependency answers are valid while it stays the same.
unsigned long long MasterLinksGeneration() noexcept;
/// Marks every cached dependency answer as stale.
void NoteMasterLinksChanged() noexcept;

}  // namespace tamaril::dbstruct
