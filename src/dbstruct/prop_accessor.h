#pragma once

#include <cstdint>
#include <string>

namespace tamaril::dbaccess {
class Connection;
}

namespace tamaril::dbstruct {

/// Answers the engine's object and column property questions ("TableHasRowGuidCol",
/// "IsIdentity", …) on one connection; each dialect form asks its own catalogue.
class tPropAccessor {
 public:
  virtual ~tPropAccessor() = default;
  tPropAccessor(const tPropAccessor&) = delete;
  tPropAccessor& operator=(const tPropAccessor&) = delete;

  /// The property of the object; 0 for an unknown object or property; throws DatabaseError.
  virtual std::int32_t ObjectProperty(const std::string& object_name, const std::string& property_name) = 0;
  /// The property of the table's column; 0 for an unknown one; throws DatabaseError.
  virtual std::int32_t ColumnProperty(const std::string& table_name, const std::string& column_name,
                                      const std::string& property_name) = 0;
  /// Drops the prepared queries; the next question prepares them again. Never throws.
  virtual void CloseQueries() noexcept = 0;
  /// The connection the questions run on.
  dbaccess::Connection& Connection() const noexcept { return connection_; }

 protected:
  /// An accessor asking through `connection` (not owned).
  explicit tPropAccessor(dbaccess::Connection& connection) noexcept : connection_(connection) {}

  dbaccess::Connection& connection_;
};

}  // namespace tamaril::dbstruct
