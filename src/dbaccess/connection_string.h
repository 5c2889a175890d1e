#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tamaril::dbaccess {

/// One name=value item of a connection string.
struct ConnectionStringItem {
  std::string name;   ///< blanks trimmed
  std::string value;  ///< blanks trimmed
};

/// Splits a connection string at ";" (empty items dropped, no quoting); the name is the text
/// before the first "=".
std::vector<ConnectionStringItem> SplitConnectionString(std::string_view text);

/// Value of the first item whose name equals `name` ignoring case.
std::optional<std::string> FindConnectionStringValue(const std::vector<ConnectionStringItem>& items,
                                                     std::string_view name);

enum class BackendKind { SQLite, ODBC };

/// What a connection string leads to.
struct ResolvedConnection {
  BackendKind kind = BackendKind::SQLite;
  std::string folder;           ///< SQLite: the folder of the database files
  std::string initial_catalog;  ///< the database to select after connecting, may be empty
  std::string odbc;             ///< ODBC: the connection string for SQLDriverConnect
};

/// The ODBC driver name used for SQL Server connection strings of the OLE DB providers
/// ("FreeTDS" unless changed).
const std::string& SqlServerOdbcDriver();
void SetSqlServerOdbcDriver(std::string name);

/// Works out the back end of a connection string:
/// - "Provider=SQLite;Data Source=FOLDER[;Initial Catalog=DB]" is the embedded database;
/// - a string with "Driver=" or "DSN=" goes to ODBC as it stands;
/// - "Provider=SQLOLEDB…" (also SQLNCLI…, MSOLEDBSQL…) with Data Source, Initial Catalog,
///   User ID, Password, Integrated Security becomes an ODBC string for `SqlServerOdbcDriver`.
/// Throws DatabaseError for a string without a provider or with an unknown one.
ResolvedConnection ResolveConnectionString(std::string_view text);

}  // namespace tamaril::dbaccess
