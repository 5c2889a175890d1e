#pragma once

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "dataset/field_type.h"
#include "dbaccess/connection.h"
#include "dbaccess/query_dataset.h"
#include "dbstruct/sqlite/sqlite_prop_accessor.h"
#include "dbstruct/keyed_table.h"

namespace tamaril::dbstruct {

class tSQLiteDatabase_Structure;

/// A column and an index of a SQLite table.
using tSQLiteFieldDef = tColumnDef;
using tSQLiteIndexDef = tIndexDef;

/// A trigger text saved while the table's triggers are off.
struct tSavedTrigger {
  std::string Name;
  std::string Sql;
};

/// The SQLite form of a table structure: reads the table from the catalogue and runs the
/// lookups, writes, deletes and trigger switching of the engine as SQLite statements, every
/// value bound as a parameter.
class tSQLiteTbl_Structure : public tKeyedTbl_Structure {
 public:
  /// An empty structure of a table of `database` (not owned).
  explicit tSQLiteTbl_Structure(tSQLiteDatabase_Structure& database);
  ~tSQLiteTbl_Structure() override;

  /// Reads columns, indexes, identity and computed columns; throws DatabaseError.
  void LoadStructure(const std::string& table_name) override;
  std::unique_ptr<tExistingRecords> FindExistingRecords(dataset::TDataSet& source) override;
  std::unique_ptr<tExistingRecords> FindExistingByKey(const std::string& row_guid, std::int32_t id) override;
  /// Counts and returns (unopened) the rows matching `where` (pasted as SQL) in `order_by` order.
  std::unique_ptr<dataset::TDataSet> OpenTableData(const std::string& where, const std::string& order_by,
                                                   int& row_count) override;
  void InsertRecord(dataset::TDataSet& source) override;
  void UpdateRecord(dataset::TDataSet& source) override;
  /// Deletes the row and its details; throws StructureError "Table %s has neither rowGuid, nor
  /// Integer primary key" when the table cannot identify a row.
  std::int64_t DeleteRecord(const std::string& row_guid, std::int32_t id) override;
  bool MastersExist(dataset::TDataSet& source, bool only_changed_fields, std::string& constraint_name) override;
  /// Saves and drops the table's triggers except KeepEnabledTriggers and the identity trigger;
  /// throws StructureError when the connection has no open transaction, DatabaseError.
  void BeginWrite() override;
  /// Re-creates the triggers BeginWrite dropped (those still missing); throws DatabaseError.
  void EndWrite() override;
  void CloseData() override;
  std::string GetKeyValuesText(dataset::TDataSet& dataset) override;

  /// Creates the trigger that gives a new row without an id the next value on the table's own
  /// progression (nothing for a table without identity); throws DatabaseError.
  void CreateIdentityTrigger();
  /// Name of the identity trigger of this table.
  std::string IdentityTriggerName() const { return "rep_tr_Id_" + TableName; }
  /// The WHERE text that identifies a row by ":KEY_" parameters.
  std::string RecordKeyCondition() const;
  /// The ":KEY_" condition over the primary key (0) or the n-th unique non-primary index;
  /// empty when there is no such index.
  std::string IndexCondition(int index, bool qualified) const;


 private:
  dbaccess::Connection& Conn() const;
  void FillParameters(dataset::TDataSet* source, dbaccess::Statement& statement) const;
  /// A prepared lookup and the layout of its rows (known after its first match).
  struct tLookup {
    std::unique_ptr<dbaccess::Statement> Statement;
    std::string Layout;
  };
  /// Runs a lookup; its rows in a memory table, or null when nothing matched.
  static std::unique_ptr<dataset::TQVMmemDataSet> RunLookup(tLookup& lookup);
  std::unique_ptr<tExistingRecords> FindExisting(dataset::TDataSet* source, const std::string& row_guid,
                                                 std::int32_t id);
  std::int64_t CascadeDeleteDetails(const tTbl_Structure& master, const std::string& clause, int level,
                                    const dbaccess::Value& key, std::vector<const tTbl_Structure*>& path);

  tSQLiteDatabase_Structure& db_;
  std::unique_ptr<dbaccess::Statement> insert_;
  std::unique_ptr<dbaccess::Statement> update_;
  std::unique_ptr<tLookup> guid_lookup_;
  std::unique_ptr<tLookup> int_key_lookup_;
  std::vector<std::unique_ptr<tLookup>> key_lookups_;
  std::vector<tSavedTrigger> saved_triggers_;
  std::unordered_map<std::string, std::unique_ptr<dbaccess::Statement>> master_checks_;  ///< by statement text
};

/// The SQLite form of a database structure: tables and views from the catalogue, foreign keys
/// from `pragma foreign_key_list` (through the access layer), master-first order.
class tSQLiteDatabase_Structure : public tDatabase_Structure {
 public:
  /// A structure reading through `connection` (not owned).
  explicit tSQLiteDatabase_Structure(dbaccess::Connection* connection);

  void GetTableNames(std::vector<std::string>& names) override;
  std::unique_ptr<tTbl_Structure> CreateTableStructure() override;
  /// Registers the foreign keys and primary-key names from the catalogue; throws DatabaseError.
  void LoadForeignKeys() override;
  /// The base scan, then the alias prefix; throws as the base Scan.
  void Scan() override;
  /// Closes the data of every table and the property queries.
  void CloseData() override;
  /// Creates the identity trigger of every table with an identity column (see
  /// tSQLiteTbl_Structure::CreateIdentityTrigger); throws DatabaseError.
  void CreateIdentityTriggers();

  /// The table at `index` in its SQLite form; throws std::out_of_range.
  tSQLiteTbl_Structure& SQLiteTable(int index) const { return static_cast<tSQLiteTbl_Structure&>(Table(index)); }

  /// The property accessor on the structure's connection, made on first use and again when the
  /// connection changed; throws StructureError when the structure has no connection.
  tSQLitePropAccessor& PropAccessor() const;

  std::string AliasPrefix = "T_";  ///< table alias prefix no table name begins with

 private:
  mutable std::unique_ptr<tSQLitePropAccessor> prop_accessor_;

 public:
  /// UPDATE rep_TBLDESC … FROM the definition's rule table, joined on the table name.
  std::string DefaultRulesStatement(bool import_rules) const override;
};

/// `"name"` with inner double quotes doubled.
std::string QuoteName(std::string_view name);

/// Writes one line per table in model order ("NAME identity=COL rowguid=COL intkey=COL
/// pk=C1,C2 masters=M1,M2") and then one line per foreign key ("FK NAME DETAIL(C1,C2) ->
/// MASTER(C1,C2)").
void WriteStructureListing(const tSQLiteDatabase_Structure& structure, std::ostream& out);

}  // namespace tamaril::dbstruct
