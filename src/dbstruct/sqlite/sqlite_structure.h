#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "dataset/field_type.h"
#include "dbaccess/connection.h"
#include "dbaccess/query_dataset.h"
#include "dbstruct/keyed_table.h"
#include "dbstruct/sqlite/sqlite_prop_accessor.h"

namespace tamaril::dbstruct {

class tSQLiteDatabase_Structure;

/// A column and an index of a SQLite table.
using tSQLiteFieldDef = tColumnDef;
using tSQLiteIndexDef = tIndexDef;

/// A trigger or index text saved while the object is dropped for a write phase.
struct tSavedTrigger {
  std::string Name;
  std::string Sql;
};

/// The SQLite form of a table structure: reads the table from the catalogue and gives the
/// shared statements their quoted names, bound values and rowid-based deletes; switches the
/// table's triggers around a write phase.
class tSQLiteTbl_Structure : public tKeyedTbl_Structure {
 public:
  /// An empty structure of a table of `database` (not owned).
  explicit tSQLiteTbl_Structure(tSQLiteDatabase_Structure& database);
  ~tSQLiteTbl_Structure() override;

  /// Reads columns, indexes, identity and computed columns; throws DatabaseError.
  void LoadStructure(const std::string& table_name) override;
  /// Saves and drops the table's triggers except KeepEnabledTriggers and the identity trigger
  /// (the RowGuid trigger goes too: the rows written carry their own RowGuid). On a table that
  /// holds no row (and keeps no trigger on), it also starts a fresh write phase and sets aside
  /// the setup's RowGuid and join indexes that no lookup of the phase needs. Throws
  /// StructureError when the connection has no open transaction, DatabaseError.
  void BeginWrite() override;
  /// Re-creates the indexes and triggers BeginWrite dropped (those still missing); throws
  /// DatabaseError (a duplicate RowGuid, say, when an index is built again).
  void EndWrite() override;
  /// The name in double quotes (see QuoteName).
  std::string QuoteIdentifier(std::string_view name) const override;
  /// Ends a write phase that did not end through EndWrite as well.
  void CloseData() override;

  /// Creates the identity trigger (IdentityTriggerSql) unless the table has one already; nothing
  /// for a table without identity; throws DatabaseError.
  void CreateIdentityTrigger();
  /// The CREATE TRIGGER text of the trigger that gives a new row without an id the next value on
  /// the table's own progression; empty for a table without identity.
  std::string IdentityTriggerSql() const;
  /// Name of the identity trigger of this table.
  std::string IdentityTriggerName() const { return "rep_tr_Id_" + TableName; }
  /// The CREATE TRIGGER text of the trigger that gives a new row whose RowGuid column was left
  /// NULL a fresh "{…}" GUID, as a NEWID() default does; empty for a table without RowGuid.
  std::string GuidTriggerSql() const { return GuidTriggerSql(RowGuidColumn); }
  /// GuidTriggerSql for the RowGuid column `guid_column` (one the table may not have yet); empty
  /// for an empty name.
  std::string GuidTriggerSql(const std::string& guid_column) const;
  /// Name of the RowGuid trigger of this table.
  std::string GuidTriggerName() const { return "rep_tr_Guid_" + TableName; }

  /// The condition that picks the row a trigger fires for (NEW) in a statement on this table:
  /// its rowid, or its primary key in a table without rowid.
  std::string NewRowCondition() const;

  bool WithoutRowid = false;  ///< the table was created WITHOUT ROWID

 protected:
  std::unique_ptr<tRowLookup> MakeLookup(const std::string& condition) override;
  /// The date as "YYYY-MM-DD" text.
  dbaccess::Value DateValue(double date) const override;
  /// The date, time or date-time text of now, as DateValue, TimeValue and DateTimeValue write.
  dbaccess::Value NowValue(dataset::FieldType type) const override;
  /// "YYYY-MM-DD HH:MM:SS" as SQLite's datetime() writes it, ".mmm" after it only when the
  /// milliseconds are not zero.
  dbaccess::Value DateTimeValue(double date_time) const override;
  /// "HH:MM:SS" as SQLite's time() writes it, ".mmm" after it only when not zero.
  dbaccess::Value TimeValue(double time) const override;
  /// Counts in the same pass what SQLite does not hold to the declared types: the longest value
  /// of each sized text column and whether an integer column holds values beyond its type.
  int CountTableRows(const std::string& where_part, std::vector<dbaccess::FieldRoom>& room) override;
  /// In a write phase only the triggers it kept on may fire: the identity trigger, which gives
  /// a new row its id, does not count.
  bool WriteTriggersMayFire() const override;
  /// The bound parameter ":KEY".
  std::string DeleteKeyText(const dbaccess::Value& key) const override;
  /// Deletes by rowid, since SQLite's DELETE has neither alias nor join.
  std::int64_t DeleteSelectedRows(const tTbl_Structure& table, const std::string& alias,
                                  const std::string& clause, const dbaccess::Value& key) override;

 private:
  bool HoldsNoRow();
  void SetIndexesAside();

  tSQLiteDatabase_Structure& db_;
  std::vector<tSavedTrigger> saved_triggers_;
  std::vector<tSavedTrigger> saved_indexes_;  ///< indexes set aside for a fresh write phase
  bool in_write_phase_ = false;               ///< between BeginWrite and EndWrite or CloseData
  bool kept_write_trigger_ = false;           ///< the phase kept an insert or update trigger on
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
  /// Creates the identity trigger of every table with an identity column (see
  /// tSQLiteTbl_Structure::CreateIdentityTrigger); throws DatabaseError.
  void CreateIdentityTriggers();

  /// The table at `index` in its SQLite form; throws std::out_of_range.
  tSQLiteTbl_Structure& SQLiteTable(int index) const {
    return static_cast<tSQLiteTbl_Structure&>(Table(index));
  }

  /// UPDATE rep_TBLDESC … FROM the definition's rule table, joined on the table name.
  std::string DefaultRulesStatement(bool import_rules) const override;
  /// The log row (SERVEREXPORTDATE from its column default), the detail rows and an UPDATE of
  /// rep_DEFEXPORT from them, table names compared without regard to letter case.
  std::vector<std::string> ExportLogBatch(
      const std::string& signature, int export_no, double export_time,
      const std::vector<std::pair<std::string, int>>& counts) const override;
  /// The import log row, the detail rows and an UPDATE of rep_DEFIMPORT from them, table names
  /// compared without regard to letter case.
  std::vector<std::string> ImportLogBatch(const std::string& signature, int import_no, int export_no,
                                          double export_time,
                                          const std::vector<ImportCounts>& counts) const override;
  /// The local time in the form the database keeps date-times in.
  std::string CurrentTimeQuery() const override;

 protected:
  /// A tSQLitePropAccessor.
  std::unique_ptr<tPropAccessor> CreatePropAccessor(dbaccess::Connection& connection) const override;
};

/// `"name"` with inner double quotes doubled.
std::string QuoteName(std::string_view name);

}  // namespace tamaril::dbstruct
