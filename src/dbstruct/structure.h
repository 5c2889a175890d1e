#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "dataset/dataset.h"
#include "dataset/memory_table.h"
#include "dbstruct/existing_records.h"
#include "dbstruct/foreign_keys.h"
#include "dbstruct/prop_accessor.h"

namespace tamaril::dbaccess {
class Connection;
}

namespace tamaril::dbstruct {

class tDatabase_Structure;

/// One table of the model: its masters, how its rows are identified, and the operations by
/// which the engine reads and writes it. The dialect forms fill the abstract operations.
class tTbl_Structure {
 public:
  tTbl_Structure();
  virtual ~tTbl_Structure();
  tTbl_Structure(const tTbl_Structure&) = delete;
  tTbl_Structure& operator=(const tTbl_Structure&) = delete;

  /// The table's name.
  virtual std::string GetTableName() const = 0;
  /// Reads the table's structure from the database; throws what the database throws.
  virtual void LoadStructure(const std::string& table_name) = 0;
  /// The target rows matching the current row of `source`, or null when none match.
  virtual std::unique_ptr<tExistingRecords> FindExistingRecords(dataset::TDataSet& source) = 0;
  /// The target rows carrying that RowGuid (or, without one, that integer key), or null.
  virtual std::unique_ptr<tExistingRecords> FindExistingByKey(const std::string& row_guid,
                                                              std::int32_t id) = 0;
  /// An unopened dataset of the rows matching `where` in `order_by` order; `row_count` gets
  /// their number.
  virtual std::unique_ptr<dataset::TDataSet> OpenTableData(const std::string& where,
                                                           const std::string& order_by, int& row_count) = 0;
  /// Inserts the current row of `source`.
  virtual void InsertRecord(dataset::TDataSet& source) = 0;
  /// Writes the flagged fields of the current row of `source` to the matching row.
  virtual void UpdateRecord(dataset::TDataSet& source) = 0;
  /// Deletes the row with that RowGuid (or integer key) and its details; returns rows deleted.
  virtual std::int64_t DeleteRecord(const std::string& row_guid, std::int32_t id) = 0;
  /// True when every master row the current row of `source` refers to exists; otherwise
  /// `constraint_name` names the first foreign key without its master row.
  virtual bool MastersExist(dataset::TDataSet& source, bool only_changed_fields,
                            std::string& constraint_name) = 0;
  /// True when every value of the current row of `source` that a write would send (with
  /// `only_changed_fields` only the flagged ones) fits its column: a NULL a column accepts, a
  /// value of the column's type, or one that converts to it exactly. Otherwise `problem` names
  /// the first column and value that do not fit. True in the base.
  virtual bool ValuesFit(dataset::TDataSet& source, bool only_changed_fields, std::string& problem) {
    (void)source;
    (void)only_changed_fields;
    problem.clear();
    return true;
  }
  /// True when the table has that column.
  virtual bool HasField(const std::string& name) const = 0;
  /// True when the column exists and may be written.
  virtual bool IsFieldWritable(const std::string& name) const = 0;
  /// Prepares the table for a phase of writes; nothing in the base.
  virtual void BeginWrite() {}
  /// Called before rows are deleted; nothing in the base.
  virtual void BeforeDelete() {}
  /// Ends a phase of writes (also after a failure); nothing in the base.
  virtual void EndWrite() {}
  /// Called after rows were deleted; nothing in the base.
  virtual void AfterDelete() {}
  /// Closes the open statements and datasets of the table; nothing in the base.
  virtual void CloseData() {}
  /// The primary-key values of the current row of `dataset` as text.
  virtual std::string GetKeyValuesText(dataset::TDataSet& dataset) = 0;

  /// True when `other` is a master of this table; unless `direct_only`, also when it is a
  /// master of a master at any depth (a table depends on itself when it names itself or lies on
  /// a cycle). Answers from reachability kept until the links change.
  bool DependsOn(const tTbl_Structure& other, bool direct_only) const;
  /// FindExistingRecords with the result in `found`; true when something matched.
  bool TryFindExistingRecords(dataset::TDataSet& source, std::unique_ptr<tExistingRecords>& found);
  /// FindExistingByKey with the result in `found`; true when something matched.
  bool TryFindExistingByKey(const std::string& row_guid, std::int32_t id,
                            std::unique_ptr<tExistingRecords>& found);

  /// The owning database structure (null before the table joins one).
  tDatabase_Structure* Database() const noexcept { return database_; }
  /// The table's masters.
  tMastersInfo& Masters() noexcept { return masters_; }
  const tMastersInfo& Masters() const noexcept { return masters_; }

  bool HasPrimaryKey = false;  ///< the table has a primary key
  bool Identifiable = false;   ///< a row is identified by a RowGuid or a single integer key

 private:
  friend class tDatabase_Structure;

  tDatabase_Structure* database_ = nullptr;
  tMastersInfo masters_;
  mutable unsigned long long reach_generation_ = 0;   ///< links generation reach_ was made at
  mutable std::vector<const tTbl_Structure*> reach_;  ///< every table reached by master links, sorted
};

/// Progress of a scan: (sender, 1-based index, table name, number of tables).
using ScanProgressEvent = std::function<void(tDatabase_Structure&, int, const std::string&, int)>;

/// One database: its tables in master-before-detail order. The dialect forms fill the
/// abstract operations.
class tDatabase_Structure {
 public:
  /// A structure reading through `connection` (not owned; may be null until set).
  explicit tDatabase_Structure(dbaccess::Connection* connection = nullptr);
  virtual ~tDatabase_Structure();
  tDatabase_Structure(const tDatabase_Structure&) = delete;
  tDatabase_Structure& operator=(const tDatabase_Structure&) = delete;

  /// Fills `names` with the names of the tables to model.
  virtual void GetTableNames(std::vector<std::string>& names) = 0;
  /// A new, empty table structure of the dialect.
  virtual std::unique_ptr<tTbl_Structure> CreateTableStructure() = 0;
  /// Registers every foreign key of the database through AddForeignKey.
  virtual void LoadForeignKeys() = 0;
  /// Rebuilds the model: tables, their structures, foreign keys, master-first order, then the
  /// alias prefix; throws StructureError "Circular master detail links not allowed" (the model
  /// stays as built) and what the database throws.
  virtual void Scan();
  /// Closes the open data of every table and the property queries; the model stays.
  virtual void CloseData();
  /// A date-time (days since 30 December 1899) as "YYYY-MM-DD HH:MM:SS.mmm"; throws
  /// DatasetError for a value that is not a date.
  virtual std::string FormatDateTimeLiteral(double date_time) const;
  /// The time of day of a date-time as "HH:MM:SS.mmm"; throws DatasetError as above.
  virtual std::string FormatTimeLiteral(double time) const;

  /// Number of tables.
  int TableCount() const noexcept { return static_cast<int>(tables_.size()); }
  /// The table at `index`; throws std::out_of_range.
  tTbl_Structure& Table(int index) const { return *tables_.at(static_cast<std::size_t>(index)); }
  /// Position of `table`, or -1.
  int IndexOf(const tTbl_Structure* table) const noexcept;
  /// The first table of that name (letter case ignored), or null.
  tTbl_Structure* FindTable(std::string_view name) const;
  /// Registers one column pair of a foreign key; does nothing when either table is not modelled.
  void AddForeignKey(std::string_view master_table, std::string_view detail_table,
                     std::string_view constraint_name, const std::string& master_column,
                     const std::string& detail_column);
  /// AddForeignKey, then SortMastersFirst and CheckCircularLinks (throws as those do).
  void AddForeignKeyAndReorder(std::string_view master_table, std::string_view detail_table,
                               std::string_view constraint_name, const std::string& master_column,
                               const std::string& detail_column);
  /// Reorders the tables so that every table stands before the tables that depend on it.
  void SortMastersFirst();
  /// Throws StructureError "Circular master detail links not allowed" when a table depends on
  /// a table after it.
  void CheckCircularLinks() const;

  /// The property accessor on the current connection, made on first use and again when the
  /// connection changed; throws StructureError when the structure has no connection, and what
  /// the form's accessor throws when it is made.
  tPropAccessor& PropAccessor() const;

  /// The connection the structure reads through (not owned).
  dbaccess::Connection* Connection() const noexcept { return connection_; }
  /// Replaces the connection (the owner of a cached structure does this).
  void SetConnection(dbaccess::Connection* connection) noexcept { connection_ = connection; }

  ScanProgressEvent OnProgress;    ///< told about every table a scan reads
  std::string AliasPrefix = "T_";  ///< table-alias prefix of generated statements no table name begins with

 protected:
  /// A new property accessor of the form on `connection`; the base has none and throws
  /// StructureError.
  virtual std::unique_ptr<tPropAccessor> CreatePropAccessor(dbaccess::Connection& connection) const;
  /// Frees every table structure.
  void ClearTables();
  /// Picks AliasPrefix: "T_", else "TT_", "TTT_", … until no table name (upper case) begins with it.
  void ChooseAliasPrefix();

 private:
  std::vector<std::unique_ptr<tTbl_Structure>> tables_;
  dbaccess::Connection* connection_;
  mutable std::unique_ptr<tPropAccessor> prop_accessor_;
  mutable bool name_index_valid_ = false;
  mutable std::unordered_map<std::string, tTbl_Structure*> name_index_;  ///< upper-case name -> first table

 public:
  /// The statement that makes a definition's rules the defaults in rep_TBLDESC: the import
  /// rules of rep_DEFIMPORT when `import_rules`, else the export rules of rep_DEFEXPORT; the
  /// definition's signature is its parameter ":Signature". Throws StructureError in the base.
  virtual std::string DefaultRulesStatement(bool import_rules) const;
  /// The statements that record an export run: its rep_XPORTLOG row (EXPORTDATE `export_time`,
  /// days since 30 December 1899), one rep_XPORTLOGDETAIL row per (table name, rows written) of
  /// `counts`, and the new LastExportDate of those tables taken from SERVEREXPORTDATE. The caller
  /// runs them in order inside one transaction; every text value is escaped. Throws
  /// StructureError in the base, DatasetError for an export time that is not a date.
  virtual std::vector<std::string> ExportLogBatch(
      const std::string& signature, int export_no, double export_time,
      const std::vector<std::pair<std::string, int>>& counts) const;
  /// The per-table counts an import log records: rows appended, updated and deleted.
  struct ImportCounts {
    std::string table;
    std::int64_t appended = 0;
    std::int64_t updated = 0;
    std::int64_t deleted = 0;
  };
  /// The statements that record an import run: its rep_IMPORTLOG row (IMPORTDATE from the
  /// column default, CLIENTEXPORTNO `export_no`, CLIENTEXPORTDATE `export_time`), one
  /// rep_IMPORTLOGDETAIL row per entry of `counts`, and the new LastImportDate of those tables
  /// taken from IMPORTDATE. The caller runs them in order inside one transaction; every text
  /// value is escaped. Throws StructureError in the base, DatasetError for an export time that
  /// is not a date.
  virtual std::vector<std::string> ImportLogBatch(const std::string& signature, int import_no, int export_no,
                                                  double export_time,
                                                  const std::vector<ImportCounts>& counts) const;
  /// The query whose one value is the server's current local date and time; throws
  /// StructureError in the base.
  virtual std::string CurrentTimeQuery() const;
};

/// Adds the user-declared foreign keys of table "rep_USERFK" (when modelled) to `database`;
/// throws StructureError naming the row when its PK_Field or FK_Field is not a column of its
/// table, StructureError "Circular master detail links not allowed", and what the database throws.
void LoadUserForeignKeys(tDatabase_Structure& database);

}  // namespace tamaril::dbstruct
