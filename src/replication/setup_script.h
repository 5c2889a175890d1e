#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace tamaril::dbaccess {
class Connection;
}

namespace tamaril::dbstruct {
class tDatabase_Structure;
class tTbl_Structure;
class tADODatabase_Structure;
class tSQLiteDatabase_Structure;
}  // namespace tamaril::dbstruct

namespace tamaril::replication {

/// The file the setup script is written to, in the program's folder.
inline constexpr const char* kSetupScriptFile = "hint.sql";
/// The file in the program's folder naming the tables the setup script leaves alone.
inline constexpr const char* kIgnoreListFile = "ignore.txt";

/// The longest table name the TABLENAME columns of the rep_ tables hold.
inline constexpr std::size_t kMaxReplicatedNameLength = 20;
/// The RowGuid column the setup adds on request to a table whose rows nothing identifies.
inline constexpr const char* kAddedRowGuidColumn = "rep_RowGuid";

/// What the setup script does beyond the objects every replicated table needs.
struct SetupOptions {
  /// Adds kAddedRowGuidColumn (filled for the rows there, given to every new row, with its
  /// unique index) to each replicated table that has neither a RowGuid column nor a single
  /// integer key, so that its deletions are recorded and travel.
  bool add_rowguid = false;
};

/// The tables the setup script leaves alone: the names of "ignore.txt" in `folder` (when the
/// file exists), then the nine rep_ tables. The file may be UTF-8 (with or without a byte-order
/// mark) or Windows-1250, with CR LF or LF line ends; blank lines and blanks around a name are
/// dropped. Names come back in Windows-1250. Throws ReplicationError when the file exists but
/// cannot be read.
std::vector<std::string> ReadIgnoreList(const std::string& folder);

/// The names of an ignore list's text `content` (see ReadIgnoreList), in Windows-1250.
std::vector<std::string> ParseIgnoreList(std::string_view content);

/// True when `table_name` is in `ignore`, letter case ignored (Czech letters too).
bool IsIgnoredTable(const std::vector<std::string>& ignore, const std::string& table_name);

/// True when the rep_ tables can hold the table's name (at most kMaxReplicatedNameLength
/// characters).
bool IsReplicableName(std::string_view table_name);

/// True when the setup makes `table` replicated: a table (not a view) of a form the setup knows,
/// not in `ignore`, with a name the rep_ tables hold.
bool IsSetUpTable(const dbstruct::tTbl_Structure& table, const std::vector<std::string>& ignore);

/// True when `table` gets kAddedRowGuidColumn under SetupOptions::add_rowguid: set up, and
/// neither a RowGuid column nor a single integer key identifies its rows.
bool NeedsAddedRowGuid(const dbstruct::tTbl_Structure& table, const std::vector<std::string>& ignore);

/// An index the setup creates so that a lookup the import makes for every row does not scan
/// its table.
struct LookupIndex {
  std::string table;                 ///< the table, as the structure spells it
  std::vector<std::string> columns;  ///< the indexed columns, in order
  bool unique = false;               ///< a RowGuid index: unique
  std::string name;                  ///< rep_ux_TABLE_COL (unique) or rep_ix_TABLE_COL1_COL2
  std::string purpose;               ///< what the lookup is for, Czech (Windows-1250)
};

/// The name of the setup's index on `columns` of `table`.
std::string LookupIndexName(std::string_view table, const std::vector<std::string>& columns, bool unique);

/// The lookups of the set-up tables of `database` (scanned) that no index serves (an index
/// serves a lookup when its leading columns are the lookup's columns): the identifying RowGuid
/// column (unique), the foreign-key columns of a detail table (a master's deletion joins on
/// them) and the referenced columns of a master table (the check that a row's master exists).
std::vector<LookupIndex> MissingLookupIndexes(const dbstruct::tDatabase_Structure& database,
                                              const std::vector<std::string>& ignore);

/// Writes the setup script of `database` (scanned) in its form to `file_name`: the text goes to
/// a temporary file beside it that replaces `file_name` only once it is complete, so a failure
/// leaves the previous file as it was. Throws ReplicationError when the form has no setup
/// script or the file cannot be written.
void GenerateSetupScript(const dbstruct::tDatabase_Structure& database,
                         const std::vector<std::string>& ignore, const std::string& file_name,
                         const SetupOptions& options = {});

/// The SQL Server form: the whole text of hint.sql (Windows-1250, CR LF after every line).
std::string MssqlSetupScript(const dbstruct::tADODatabase_Structure& database,
                             const std::vector<std::string>& ignore, const SetupOptions& options = {});

/// The SQLite form: the statements that make `database` (scanned) ready, each guarded so that
/// applying them again changes nothing.
std::vector<std::string> SQLiteSetupStatements(const dbstruct::tSQLiteDatabase_Structure& database,
                                               const std::vector<std::string>& ignore,
                                               const SetupOptions& options = {});

/// The SQLite form: SQLiteSetupStatements as a script for the sqlite3 shell (UTF-8, LF) that
/// can be run again by hand.
std::string SQLiteSetupScript(const dbstruct::tSQLiteDatabase_Structure& database,
                              const std::vector<std::string>& ignore, const SetupOptions& options = {});

/// Runs `statements` on `connection` in one transaction: all of them or, when one fails, none
/// (the error is passed on). Throws DatabaseError.
void ApplySQLiteSetupScript(dbaccess::Connection& connection, const std::vector<std::string>& statements);

}  // namespace tamaril::replication
