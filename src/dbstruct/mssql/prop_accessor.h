#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "dbstruct/prop_accessor.h"

namespace tamaril::dbaccess {
class Connection;
class Statement;
}  // namespace tamaril::dbaccess

namespace tamaril::dbstruct {

/// Answers the server's OBJECTPROPERTY and COLUMNPROPERTY questions through two statements
/// prepared once on the connection.
class tMSSQLPropAccessor : public tPropAccessor {
 public:
  /// Prepares the two queries on `connection` (not owned); throws StructureError "SQL Server
  /// version at least 7.0 expected" when `version_code` is below 8, DatabaseError when the
  /// server refuses the queries.
  tMSSQLPropAccessor(dbaccess::Connection& connection, std::uint8_t version_code);
  ~tMSSQLPropAccessor() override;

  /// OBJECTPROPERTY of the object; 0 for NULL (no such object); throws DatabaseError.
  std::int32_t ObjectProperty(const std::string& object_name, const std::string& property_name) override;
  /// COLUMNPROPERTY of the table's column; 0 for NULL; throws DatabaseError.
  std::int32_t ColumnProperty(const std::string& table_name, const std::string& column_name,
                              const std::string& property_name) override;
  void CloseQueries() noexcept override;

 private:
  void Prepare();

  std::unique_ptr<dbaccess::Statement> object_query_;
  std::unique_ptr<dbaccess::Statement> column_query_;
};

}  // namespace tamaril::dbstruct
