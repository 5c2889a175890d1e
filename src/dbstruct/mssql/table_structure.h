#pragma once

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "dataset/field_type.h"
#include "dbaccess/parameter.h"
#include "dbstruct/keyed_table.h"

namespace tamaril::dbaccess {
class Statement;
class TQueryDataSet;
}  // namespace tamaril::dbaccess

namespace tamaril::dbstruct {

class tADODatabase_Structure;

/// A column and an index of a SQL Server table.
using tMSSQLFieldDef = tColumnDef;
using tMSSQLIndexDef = tIndexDef;

/// A SQL Server table: reads its columns, indexes, identity and triggers from the server and
/// builds and runs every statement by which the engine reads and writes it.
class tADOTbl_Structure : public tKeyedTbl_Structure {
 public:
  /// A table of `database` (not owned), empty until LoadStructure.
  explicit tADOTbl_Structure(tADODatabase_Structure& database);
  ~tADOTbl_Structure() override;

  /// Reads columns, indexes, identity and trigger properties; throws what the server throws.
  void LoadStructure(const std::string& table_name) override;
  std::unique_ptr<tExistingRecords> FindExistingRecords(dataset::TDataSet& source) override;
  std::unique_ptr<tExistingRecords> FindExistingByKey(const std::string& row_guid, std::int32_t id) override;
  std::unique_ptr<dataset::TDataSet> OpenTableData(const std::string& where, const std::string& order_by,
                                                   int& row_count) override;
  void InsertRecord(dataset::TDataSet& source) override;
  void UpdateRecord(dataset::TDataSet& source) override;
  /// Deletes the row and, first, its detail rows; throws StructureError "Table X has neither
  /// rowGuid, nor Integer primary key" when the table has no identifying column.
  std::int64_t DeleteRecord(const std::string& row_guid, std::int32_t id) override;
  bool MastersExist(dataset::TDataSet& source, bool only_changed_fields,
                    std::string& constraint_name) override;
  /// Identity insert on, triggers off except KeepEnabledTriggers; identity insert off again
  /// when a later step throws.
  void BeginWrite() override;
  /// Triggers on, identity insert off and the identity counter reseeded.
  void EndWrite() override;
  void CloseData() override;
  std::string GetKeyValuesText(dataset::TDataSet& dataset) override;

  /// Switches identity insert (and reseeds after switching it off); nothing without identity.
  void SetIdentityInsert(bool on);
  /// Enables or disables all triggers; nothing when the table has none.
  void SetTriggersEnabled(bool on);

  /// "COL=:KEY_COL" of the identifying RowGuid column, or empty.
  std::string RowGuidCondition() const;
  /// "COL=:KEY_COL" of the integer key, or empty.
  std::string IntKeyCondition() const;
  /// The key condition of the primary key (0) or of the n-th unique non-primary index; empty
  /// when there is no such index. `qualified` puts the table name before every column.
  std::string IndexCondition(int index, bool qualified) const;
  /// The RowGuid condition when rows are identified by RowGuid, else the primary-key condition.
  std::string RecordKeyCondition() const;

  /// The statement values of `parameters` taken from the current row of `source` (null for
  /// no row): NULL or a type default for missing values, date-times as the server's literal.
  std::vector<dbaccess::Value> ParameterValues(dataset::TDataSet* source,
                                               const std::vector<dbaccess::Parameter>& parameters) const;

  /// The DELETE trigger text of the table, or empty when rows have no identifying column.
  std::string BuildDeleteTriggerScript(const std::string& trigger_prefix, const std::string& target_table,
                                       const std::string& table_name_column,
                                       const std::string& row_guid_column,
                                       const std::string& id_column) const;
  /// The tracking-column text followed by the INSERT trigger text of the table.
  std::string BuildInsertTriggerScript(const std::string& trigger_prefix,
                                       const std::vector<std::string>& names,
                                       const std::vector<std::string>& types) const;


 private:
  std::unique_ptr<tExistingRecords> FindExisting(dataset::TDataSet* source, const std::string& row_guid,
                                                 std::int32_t id);
  void BuildLookups();
  void Fill(dbaccess::TQueryDataSet& query, dataset::TDataSet* source) const;
  void Fill(dbaccess::Statement& statement, dataset::TDataSet& source) const;
  std::int64_t CascadeDeleteDetails(tTbl_Structure& master, const std::string& clause, int level,
                                    std::vector<const tTbl_Structure*>& path);
  std::string ResolveColumn(const std::string& token) const;
  std::vector<std::string> IndexColumns(int index) const;
  dbaccess::Connection& Conn() const;

  tADODatabase_Structure& database_;
  std::unique_ptr<dbaccess::Statement> insert_command_;
  std::unique_ptr<dbaccess::Statement> update_command_;
  std::unique_ptr<dbaccess::TQueryDataSet> int_key_lookup_;
  std::unique_ptr<dbaccess::TQueryDataSet> row_guid_lookup_;
  std::vector<std::unique_ptr<dbaccess::TQueryDataSet>> key_index_lookups_;
  bool lookups_built_ = false;
};

/// `text` with every quote doubled, for pasting between quotes into a statement.
std::string QuoteEscaped(const std::string& text);

}  // namespace tamaril::dbstruct
