#include "mssql_scripted_backend.h"

#include "dbaccess/errors.h"

namespace tamaril::dbstruct::testing {

namespace {

class ScriptedStatement : public dbaccess::BackendStatement {
 public:
  ScriptedStatement(ScriptedBackend& backend, std::string text) : backend_(backend), text_(std::move(text)) {}
  std::int64_t Execute(const std::vector<dbaccess::Parameter>& params) override {
    return backend_.RunCommand(Sent{text_, params});
  }
  std::unique_ptr<dbaccess::Cursor> Open(const std::vector<dbaccess::Parameter>& params) override {
    return backend_.Run(Sent{text_, params});
  }

 private:
  ScriptedBackend& backend_;
  std::string text_;
};

bool IsPropertyQuestion(const std::string& text) {
  return text.find("OBJECTPROPERTY") != std::string::npos || text.find("COLUMNPROPERTY") != std::string::npos;
}

std::string Param(const Sent& run, std::size_t index) {
  return index < run.params.size() ? run.params[index].value.AsString() : std::string();
}

}  // namespace

std::string Sent::Named() const {
  std::string named;
  std::size_t next = 0;
  for (char c : text) {
    if (c == '?' && next < params.size()) {
      named += ":" + params[next++].name;
    } else {
      named += c;
    }
  }
  return named;
}

Rows MakeRows(const std::vector<std::pair<std::string, dataset::FieldType>>& columns,
              std::vector<std::vector<dbaccess::Value>> rows) {
  Rows result;
  for (const auto& [name, type] : columns) {
    dbaccess::ColumnInfo column;
    column.name = name;
    column.field_type = type;
    column.size = type == dataset::FieldType::String ? 40 : 0;
    result.columns.push_back(column);
  }
  result.rows = std::move(rows);
  return result;
}

dbaccess::ColumnInfo Column(std::string name, dataset::FieldType type, bool nullable) {
  dbaccess::ColumnInfo column;
  column.name = std::move(name);
  column.field_type = type;
  column.nullable = nullable;
  return column;
}

Rows Scalar(std::optional<std::int64_t> value) {
  return MakeRows({{"", dataset::FieldType::Integer}},
                  {{value ? dbaccess::Value::Integer(*value) : dbaccess::Value()}});
}

std::vector<std::string> ScriptedBackend::Statements() const {
  std::vector<std::string> texts;
  for (const auto& run : sent) {
    if (!IsPropertyQuestion(run.text)) texts.push_back(run.Named());
  }
  return texts;
}

std::int64_t ScriptedBackend::Execute(std::string_view sql) { return RunCommand(Sent{std::string(sql), {}}); }

std::unique_ptr<dbaccess::BackendStatement> ScriptedBackend::Prepare(std::string_view sql) {
  return std::make_unique<ScriptedStatement>(*this, std::string(sql));
}

std::unique_ptr<dbaccess::Cursor> ScriptedBackend::CallProcedure(
    std::string_view name, const std::vector<dbaccess::Parameter>& params, bool with_result) {
  sent.push_back(Sent{"exec " + std::string(name), params});
  const auto found = procedures.find(std::string(name));
  if (found == procedures.end())
    throw dbaccess::DatabaseError("Could not find stored procedure " + std::string(name));
  if (!with_result) return nullptr;
  return std::make_unique<dbaccess::MemoryCursor>(found->second.columns, found->second.rows);
}

std::unique_ptr<dbaccess::Cursor> ScriptedBackend::Run(const Sent& run) {
  sent.push_back(run);
  const std::string named = run.Named();
  if (!fail_on.empty() && named.starts_with(fail_on)) throw dbaccess::DatabaseError("refused: " + named);
  if (run.text.find("OBJECTPROPERTY") != std::string::npos) {
    const auto found = object_properties.find(Param(run, 0) + "|" + Param(run, 1));
    const Rows rows =
        Scalar(found == object_properties.end() ? std::nullopt : std::optional<std::int64_t>(found->second));
    return std::make_unique<dbaccess::MemoryCursor>(rows.columns, rows.rows);
  }
  if (run.text.find("COLUMNPROPERTY") != std::string::npos) {
    const auto found = column_properties.find(Param(run, 0) + "|" + Param(run, 1) + "|" + Param(run, 2));
    const Rows rows =
        Scalar(found == column_properties.end() ? std::nullopt : std::optional<std::int64_t>(found->second));
    return std::make_unique<dbaccess::MemoryCursor>(rows.columns, rows.rows);
  }
  for (const auto& [start, rows] : answers) {
    if (named.starts_with(start)) return std::make_unique<dbaccess::MemoryCursor>(rows.columns, rows.rows);
  }
  return std::make_unique<dbaccess::MemoryCursor>(Scalar(std::nullopt).columns,
                                                  std::vector<std::vector<dbaccess::Value>>{});
}

std::int64_t ScriptedBackend::RunCommand(const Sent& run) {
  sent.push_back(run);
  const std::string named = run.Named();
  if (!fail_on.empty() && named.starts_with(fail_on)) throw dbaccess::DatabaseError("refused: " + named);
  for (const auto& [start, count] : affected) {
    if (named.starts_with(start)) return count;
  }
  return 0;
}

ScriptedServer::ScriptedServer() {
  auto scripted = std::make_unique<ScriptedBackend>();
  backend = scripted.get();
  connection.AttachBackend(std::move(scripted), dbaccess::BackendKind::ODBC);
}

}  // namespace tamaril::dbstruct::testing
