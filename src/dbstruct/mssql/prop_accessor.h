#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace tamaril::dbaccess {
class Connection;
class Statement;
}  // namespace tamaril::dbaccess

namespace tamaril::dbstruct {

/// Answers the server's OBJECTPROPERTY and COLUMNPROPERTY questions through two statements
/// prepared once on the connection.
class tMSSQLPropAccessor {
 public:
  /// Prepares the two queries on `connection` (not owned); throws StructureError "SQL Server
  /// version at least 7.0 expected" when `version_code` is below 8, DatabaseError when the
  /// server refuses the queries.
  tMSSQLPropAccessor(dbaccess::Connection& connection, std::uint8_t version_code);
  ~tMSSQLPropAccessor();
  tMSSQLPropAccessor(const tMSSQLPropAccessor&) = delete;
  tMSSQLPropAccessor& operator=(const tMSSQLPropAccessor&) = delete;

  /// OBJECTPROPERTY of the object; 0 for NULL (no such object); throws DatabaseError.
  std::int32_t ObjectProperty(const std::string& object_name, const std::string& property_name);
  /// COLUMNPROPERTY of the table's column; 0 for NULL; throws DatabaseError.
  std::int32_t ColumnProperty(const std::string& table_name, const std::string& column_name,
                              const std::string& property_name);
  /// Drops the prepared queries; the next question prepares them again. Never throws.
  void CloseQueries() noexcept;
  /// The connection the queries run on.
  dbaccess::Connection& Connection() const noexcept { return connection_; }

 private:
  void Prepare();

  dbaccess::Connection& connection_;
  std::unique_ptr<dbaccess::Statement> object_query_;
  std::unique_ptr<dbaccess::Statement> column_query_;
};

}  // namespace tamaril::dbstruct
