#pragma once

#include <string>
#include <vector>

namespace tamaril::dbaccess {
class Connection;
}

namespace tamaril::dbstruct {
class tDatabase_Structure;
class tADODatabase_Structure;
class tSQLiteDatabase_Structure;
}  // namespace tamaril::dbstruct

namespace tamaril::replication {

/// The file the setup script is written to, in the program's folder.
inline constexpr const char* kSetupScriptFile = "hint.sql";
/// The file in the program's folder naming the tables the setup script leaves alone.
inline constexpr const char* kIgnoreListFile = "ignore.txt";

/// The tables the setup script leaves alone: the lines of "ignore.txt" in `folder` (when the
/// file exists; blank lines and trailing blanks or CR dropped), then the nine rep_ tables.
/// Throws ReplicationError when the file exists but cannot be read.
std::vector<std::string> ReadIgnoreList(const std::string& folder);

/// True when `table_name` is in `ignore`, letter case ignored.
bool IsIgnoredTable(const std::vector<std::string>& ignore, const std::string& table_name);

/// Writes the setup script of `database` (scanned) in its form to `file_name`: the text goes to
/// a temporary file beside it that replaces `file_name` only once it is complete, so a failure
/// leaves the previous file as it was. Throws ReplicationError when the form has no setup
/// script or the file cannot be written.
void GenerateSetupScript(const dbstruct::tDatabase_Structure& database,
                         const std::vector<std::string>& ignore, const std::string& file_name);

/// The SQL Server form: the whole text of hint.sql (Windows-1250, CR LF after every line).
std::string MssqlSetupScript(const dbstruct::tADODatabase_Structure& database,
                             const std::vector<std::string>& ignore);

/// The SQLite form: the statements that make `database` (scanned) ready, each guarded so that
/// applying them again changes nothing.
std::vector<std::string> SQLiteSetupStatements(const dbstruct::tSQLiteDatabase_Structure& database,
                                               const std::vector<std::string>& ignore);

/// The SQLite form: SQLiteSetupStatements as a script for the sqlite3 shell (UTF-8, LF).
std::string SQLiteSetupScript(const dbstruct::tSQLiteDatabase_Structure& database,
                              const std::vector<std::string>& ignore);

/// Runs `statements` on `connection` in one transaction: all of them or, when one fails, none
/// (the error is passed on). Throws DatabaseError.
void ApplySQLiteSetupScript(dbaccess::Connection& connection, const std::vector<std::string>& statements);

}  // namespace tamaril::replication
