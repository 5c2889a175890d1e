#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "dbstruct/mssql/prop_accessor.h"
#include "dbstruct/mssql/server_version.h"
#include "dbstruct/structure.h"

namespace tamaril::dbstruct {

class tADOTbl_Structure;

/// A table the setup script sets up, and the RowGuid column the script adds to it (empty: none).
struct tScriptTable {
  const tADOTbl_Structure* table = nullptr;
  std::string added_row_guid;
};

/// Finds the release code of the server a connection string leads to; false when it cannot.
using ServerVersionReader =
    std::function<bool(const std::string& connection_string, std::uint8_t& version_code)>;

/// A SQL Server database: its tables, the server's date order and the writers of the setup
/// script's generated sections.
class tADODatabase_Structure : public tDatabase_Structure {
 public:
  /// Checks the server version of `connection` (not owned) with `read_version` and prepares the
  /// property queries; throws StructureError "Cannot determine SQL server version" or "SQL
  /// Server version at least 7.0 expected", DatabaseError from the server.
  explicit tADODatabase_Structure(dbaccess::Connection& connection,
                                  const ServerVersionReader& read_version = ReadServerVersion);
  ~tADODatabase_Structure() override;

  void GetTableNames(std::vector<std::string>& names) override;
  std::unique_ptr<tTbl_Structure> CreateTableStructure() override;
  /// Foreign keys and primary-key names of the current database from the catalogue.
  void LoadForeignKeys() override;
  /// Reads the login's date order, then the model; throws as the base Scan and what the server
  /// throws.
  void Scan() override;
  /// A date-time in the date order of the login's language.
  std::string FormatDateTimeLiteral(double date_time) const override;

  /// The tables of the model in their order, views and tables named in `ignore` (letter case
  /// ignored; null = none) left out, none given a RowGuid column.
  std::vector<tScriptTable> ScriptTables(const std::vector<std::string>* ignore) const;
  /// The DELETE trigger section of the setup script: its banner, then the trigger of every table
  /// of `tables` whose rows have an identifying column; CR LF after every line.
  std::string DeleteTriggerSection(const std::vector<tScriptTable>& tables, const std::string& trigger_prefix,
                                   const std::string& target_table, const std::string& table_name_column,
                                   const std::string& row_guid_column, const std::string& id_column) const;
  /// The tracking-column and INSERT trigger section of the setup script: its banner, then the
  /// columns and trigger of every table of `tables` whose inserted rows a join finds (a primary
  /// key or a RowGuid column).
  std::string TrackingColumnsSection(const std::vector<tScriptTable>& tables,
                                     const std::string& trigger_prefix, const std::vector<std::string>& names,
                                     const std::vector<std::string>& types) const;

  /// Appends DeleteTriggerSection of ScriptTables(`ignore`) to `file_name` (created when
  /// missing). Throws StructureError when the file cannot be written.
  void WriteDeleteTriggerScript(const std::string& file_name, const std::vector<std::string>* ignore,
                                const std::string& trigger_prefix, const std::string& target_table,
                                const std::string& table_name_column, const std::string& row_guid_column,
                                const std::string& id_column) const;
  /// Appends TrackingColumnsSection of ScriptTables(`ignore`) to `file_name`; throws as
  /// WriteDeleteTriggerScript.
  void WriteTrackingColumnsScript(const std::string& file_name, const std::vector<std::string>* ignore,
                                  const std::string& trigger_prefix, const std::vector<std::string>& names,
                                  const std::vector<std::string>& types) const;

  std::uint8_t ServerVersionCode = 0;
  std::int32_t LanguageId = 0;
  std::string DateFormat;  ///< "dmy", "ymd", … of the login's language

  /// "Update f set … From rep_TBLDESC f join <rule table> a on a.Signature=:Signature and …".
  std::string DefaultRulesStatement(bool import_rules) const override;
  /// One T-SQL batch between "BEGIN TRANSACTION " and " COMMIT TRANSACTION ": the log row, the
  /// detail rows and "Update f set f.LastExportDate=a.SERVEREXPORTDATE From rep_DEFEXPORT f join …".
  std::vector<std::string> ExportLogBatch(
      const std::string& signature, int export_no, double export_time,
      const std::vector<std::pair<std::string, int>>& counts) const override;
  /// The import log as one T-SQL batch between "BEGIN TRANSACTION " and " COMMIT TRANSACTION ",
  /// LastImportDate set by "Update f … From rep_DEFIMPORT f join …".
  std::vector<std::string> ImportLogBatch(const std::string& signature, int import_no, int export_no,
                                          double export_time,
                                          const std::vector<ImportCounts>& counts) const override;
  /// "select GetDate()".
  std::string CurrentTimeQuery() const override;

 protected:
  /// A tMSSQLPropAccessor for the server version found at creation.
  std::unique_ptr<tPropAccessor> CreatePropAccessor(dbaccess::Connection& connection) const override;
};

}  // namespace tamaril::dbstruct
