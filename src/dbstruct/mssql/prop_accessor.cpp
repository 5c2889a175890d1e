#include "dbstruct/mssql/prop_accessor.h"

#include "dbaccess/connection.h"
#include "dbstruct/errors.h"

namespace tamaril::dbstruct {

namespace {

std::int32_t FirstColumn(dbaccess::Statement& statement) {
  auto rows = statement.Open();
  if (!rows->Next() || rows->Get(0).IsNull()) return 0;
  return static_cast<std::int32_t>(rows->Get(0).AsInteger());
}

}  // namespace

tMSSQLPropAccessor::tMSSQLPropAccessor(dbaccess::Connection& connection, std::uint8_t version_code)
    : tPropAccessor(connection) {
  if (version_code < 8) throw StructureError("SQL Server version at least 7.0 expected");
  Prepare();
}

tMSSQLPropAccessor::~tMSSQLPropAccessor() = default;

void tMSSQLPropAccessor::Prepare() {
  if (!object_query_) {
    auto query =
        connection_.Prepare("SELECT OBJECTPROPERTY(OBJECT_ID(?), ?)", dbaccess::ParameterStyle::Positional);
    query->DeclareParameter("OBJECT_NAME", dataset::FieldType::String, 128);
    query->DeclareParameter("Property_Name", dataset::FieldType::String, 128);
    object_query_ = std::move(query);
  }
  if (!column_query_) {
    auto query = connection_.Prepare("SELECT COLUMNPROPERTY(OBJECT_ID(?), ?, ?)",
                                     dbaccess::ParameterStyle::Positional);
    query->DeclareParameter("Table_Name", dataset::FieldType::String, 128);
    query->DeclareParameter("Field_Name", dataset::FieldType::String, 128);
    query->DeclareParameter("Property_Name", dataset::FieldType::String, 128);
    column_query_ = std::move(query);
  }
}

std::int32_t tMSSQLPropAccessor::ObjectProperty(const std::string& object_name,
                                                const std::string& property_name) {
  Prepare();
  object_query_->SetParameter(0, dbaccess::Value::Text(object_name));
  object_query_->SetParameter(1, dbaccess::Value::Text(property_name));
  return FirstColumn(*object_query_);
}

std::int32_t tMSSQLPropAccessor::ColumnProperty(const std::string& table_name, const std::string& column_name,
                                                const std::string& property_name) {
  Prepare();
  column_query_->SetParameter(0, dbaccess::Value::Text(table_name));
  column_query_->SetParameter(1, dbaccess::Value::Text(column_name));
  column_query_->SetParameter(2, dbaccess::Value::Text(property_name));
  return FirstColumn(*column_query_);
}

void tMSSQLPropAccessor::CloseQueries() noexcept {
  object_query_.reset();
  column_query_.reset();
}

}  // namespace tamaril::dbstruct
