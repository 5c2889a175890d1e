#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "dbaccess/connection.h"
#include "dbstruct/prop_accessor.h"

namespace tamaril::dbstruct {

/// Answers the object and column property questions of the engine (the names OBJECTPROPERTY and
/// COLUMNPROPERTY take on SQL Server) from a SQLite catalogue: `sqlite_master`,
/// `pragma table_xinfo` and the declared column types. Object names are bound as parameters.
/// An unknown object, column or property answers 0.
class tSQLitePropAccessor : public tPropAccessor {
 public:
  /// An accessor reading through `connection` (not owned); the queries are prepared on first use.
  explicit tSQLitePropAccessor(dbaccess::Connection& connection);
  ~tSQLitePropAccessor() override;

  /// "TableHasRowGuidCol", "TableHasIdentity", "TableHasDeleteTrigger", "TableHasInsertTrigger",
  /// "TableHasUpdateTrigger", "IsTable", "IsView", "IsTrigger", "IsProcedure" (always 0),
  /// "ExecIsDeleteTrigger", "ExecIsInsertTrigger", "ExecIsUpdateTrigger" of the object as 1 or 0;
  /// throws DatabaseError.
  std::int32_t ObjectProperty(const std::string& object_name, const std::string& property_name) override;
  /// "IsRowGuidCol", "IsIdentity", "IsComputed" of the table's column as 1 or 0; throws
  /// DatabaseError.
  std::int32_t ColumnProperty(const std::string& table_name, const std::string& column_name,
                              const std::string& property_name) override;
  void CloseQueries() noexcept override;

 private:
  struct ObjectRow {
    std::string type;
    std::string table;
    std::string sql;
  };
  struct ColumnFlags {
    bool row_guid = false;
    bool identity = false;
    bool computed = false;
  };

  std::optional<ObjectRow> FindObject(const std::string& name);
  bool TableHasTrigger(const std::string& table, std::string_view event);
  // The flags of `column` (or of any column when empty); nullopt when the table has no such column.
  std::optional<ColumnFlags> ColumnFlagsOf(const std::string& table, const std::string& column);

  std::unique_ptr<dbaccess::Statement> object_query_;
  std::unique_ptr<dbaccess::Statement> trigger_query_;
  std::unique_ptr<dbaccess::Statement> column_query_;
};

/// The event word (DELETE, INSERT or UPDATE, upper case) of a CREATE TRIGGER text; empty when
/// the text has none.
std::string TriggerEvent(const std::string& create_trigger_sql);

}  // namespace tamaril::dbstruct
