#pragma once

// A back end that plays a SQL Server from rows the test writes, and records every statement
// sent to it with its parameter values.

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "dbaccess/backend.h"
#include "dbaccess/connection.h"

namespace tamaril::dbstruct::testing {

/// One statement run (or procedure call) as the back end saw it.
struct Sent {
  std::string text;                         ///< as sent, "?" for each parameter
  std::vector<dbaccess::Parameter> params;  ///< the values of the run
  /// The text with every "?" replaced by ":" and its parameter's name.
  std::string Named() const;
};

/// A result: columns (name and field type) and rows.
struct Rows {
  std::vector<dbaccess::ColumnInfo> columns;
  std::vector<std::vector<dbaccess::Value>> rows;
};

/// Rows of columns given as (name, field type).
Rows MakeRows(const std::vector<std::pair<std::string, dataset::FieldType>>& columns,
              std::vector<std::vector<dbaccess::Value>> rows);
/// A catalogue column of that name and type.
dbaccess::ColumnInfo Column(std::string name, dataset::FieldType type, bool nullable);
/// One row of one integer column (NULL when `value` is empty).
Rows Scalar(std::optional<std::int64_t> value);

class ScriptedBackend : public dbaccess::BackendConnection {
 public:
  std::vector<Sent> sent;
  std::string database = "SHOP";
  std::vector<std::string> tables;
  std::vector<dbaccess::ForeignKeyRow> foreign_keys;
  std::vector<dbaccess::PrimaryKeyRow> primary_keys;
  std::map<std::string, std::vector<dbaccess::ColumnInfo>> columns;  ///< by table name
  std::map<std::string, std::vector<dbaccess::IndexInfo>> indexes;   ///< by table name
  std::map<std::string, int> object_properties;                ///< "object|property" -> answer; others NULL
  std::map<std::string, int> column_properties;                ///< "table|column|property" -> answer
  std::map<std::string, Rows> procedures;                      ///< by procedure name
  std::vector<std::pair<std::string, Rows>> answers;           ///< by start of the named text
  std::vector<std::pair<std::string, std::int64_t>> affected;  ///< by start of the text
  std::string fail_on;  ///< a statement starting so throws DatabaseError

  /// The named texts sent, property questions left out.
  std::vector<std::string> Statements() const;

  std::string DbmsName() override { return "Microsoft SQL Server"; }
  std::string CurrentDatabase() override { return database; }
  void SetCurrentDatabase(std::string_view name) override { database = std::string(name); }
  void CreateDatabase(std::string_view) override {}
  void SetCommandTimeout(int) override {}
  std::int64_t Execute(std::string_view sql) override;
  std::unique_ptr<dbaccess::BackendStatement> Prepare(std::string_view sql) override;
  std::unique_ptr<dbaccess::Cursor> CallProcedure(std::string_view name,
                                                  const std::vector<dbaccess::Parameter>& params,
                                                  bool with_result) override;
  std::vector<std::string> Tables() override { return tables; }
  std::vector<dbaccess::ForeignKeyRow> ForeignKeys() override { return foreign_keys; }
  std::vector<dbaccess::PrimaryKeyRow> PrimaryKeys() override { return primary_keys; }
  std::vector<std::string> Catalogs() override { return {database}; }
  std::vector<dbaccess::ColumnInfo> Columns(std::string_view table) override {
    return columns[std::string(table)];
  }
  std::vector<dbaccess::IndexInfo> Indexes(std::string_view table) override {
    return indexes[std::string(table)];
  }
  void BeginTransaction() override {}
  void Commit() override {}
  void Rollback() override {}

  /// Records a run and returns its rows.
  std::unique_ptr<dbaccess::Cursor> Run(const Sent& run);
  /// Records a run without rows and returns its affected-row count.
  std::int64_t RunCommand(const Sent& run);
};

/// A connection on a scripted back end; `backend` stays valid as long as the connection.
struct ScriptedServer {
  ScriptedServer();
  ScriptedBackend* backend;
  dbaccess::Connection connection;
};

}  // namespace tamaril::dbstruct::testing
