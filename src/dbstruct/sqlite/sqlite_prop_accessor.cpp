#include "dbstruct/sqlite/sqlite_prop_accessor.h"

#include <regex>

#include "text/ascii.h"

namespace tamaril::dbstruct {

namespace {

using dbaccess::Value;

// The declared forms the table structure reads as RowGuid and identity columns.
bool IsRowGuidDeclaration(const std::string& declared) {
  static const std::regex kRowGuid(R"(^\s*UNIQUEIDENTIFIER\s+ROWGUIDCOL\s*$)", std::regex::icase);
  return std::regex_match(declared, kRowGuid);
}

bool IsIdentityDeclaration(const std::string& declared) {
  static const std::regex kIdentity(R"(^\s*INT(EGER)?\b[\s\S]*\bIDENTITY\b[\s\S]*$)", std::regex::icase);
  return std::regex_match(declared, kIdentity);
}

}  // namespace

std::string TriggerEvent(const std::string& create_trigger_sql) {
  static const std::regex kEvent(R"(\b(DELETE|INSERT|UPDATE)(\s+OF\s[\s\S]*?)?\s+ON\s)", std::regex::icase);
  std::smatch match;
  if (!std::regex_search(create_trigger_sql, match, kEvent)) return {};
  return text::UpperCaseAscii(match[1].str());
}

tSQLitePropAccessor::tSQLitePropAccessor(dbaccess::Connection& connection) : tPropAccessor(connection) {}

tSQLitePropAccessor::~tSQLitePropAccessor() = default;

void tSQLitePropAccessor::CloseQueries() noexcept {
  object_query_.reset();
  trigger_query_.reset();
  column_query_.reset();
}

std::optional<tSQLitePropAccessor::ObjectRow> tSQLitePropAccessor::FindObject(const std::string& name) {
  if (!object_query_) {
    object_query_ = connection_.Prepare(
        "SELECT type, tbl_name, sql FROM sqlite_master WHERE name = :name COLLATE NOCASE "
        "AND type IN ('table', 'view', 'trigger') AND name NOT LIKE 'sqlite\\_%' ESCAPE '\\'");
  }
  object_query_->SetParameter("name", Value::Text(name));
  auto rows = object_query_->Open();
  if (!rows->Next()) return std::nullopt;
  return ObjectRow{rows->Get(0).AsString(), rows->Get(1).AsString(),
                   rows->Get(2).IsNull() ? std::string() : rows->Get(2).AsString()};
}

bool tSQLitePropAccessor::TableHasTrigger(const std::string& table, std::string_view event) {
  if (!trigger_query_) {
    // The identity and RowGuid triggers the table structure creates stand for the server's own
    // identity assignment and NEWID() default, not for triggers of the application.
    trigger_query_ = connection_.Prepare(
        "SELECT sql FROM sqlite_master WHERE type = 'trigger' AND tbl_name = :t COLLATE NOCASE "
        "AND name <> ('rep_tr_Id_' || :t) COLLATE NOCASE AND name <> ('rep_tr_Guid_' || :t) COLLATE NOCASE");
  }
  trigger_query_->SetParameter("t", Value::Text(table));
  for (auto rows = trigger_query_->Open(); rows->Next();) {
    if (!rows->Get(0).IsNull() && TriggerEvent(rows->Get(0).AsString()) == event) return true;
  }
  return false;
}

std::optional<tSQLitePropAccessor::ColumnFlags> tSQLitePropAccessor::ColumnFlagsOf(
    const std::string& table, const std::string& column) {
  if (!column_query_) {
    column_query_ = connection_.Prepare(
        "SELECT name, type, pk, hidden FROM pragma_table_xinfo(:t) WHERE hidden <> 1 ORDER BY cid");
  }
  column_query_->SetParameter("t", Value::Text(table));
  // Only the first RowGuid column and the first identity column of a table count, as in the
  // table structure.
  bool row_guid_seen = false;
  bool identity_seen = false;
  ColumnFlags any;
  for (auto rows = column_query_->Open(); rows->Next();) {
    const std::string declared = rows->Get(1).IsNull() ? std::string() : rows->Get(1).AsString();
    ColumnFlags flags;
    flags.row_guid = !row_guid_seen && IsRowGuidDeclaration(declared);
    flags.identity = !identity_seen && rows->Get(2).AsInteger() > 0 && IsIdentityDeclaration(declared);
    const std::int64_t hidden = rows->Get(3).AsInteger();
    flags.computed = hidden == 2 || hidden == 3;
    row_guid_seen = row_guid_seen || flags.row_guid;
    identity_seen = identity_seen || flags.identity;
    if (!column.empty() && text::EqualsIgnoreCaseAscii(rows->Get(0).AsString(), column)) return flags;
    any.row_guid = any.row_guid || flags.row_guid;
    any.identity = any.identity || flags.identity;
    any.computed = any.computed || flags.computed;
  }
  if (!column.empty()) return std::nullopt;
  return any;
}

std::int32_t tSQLitePropAccessor::ObjectProperty(const std::string& object_name,
                                                 const std::string& property_name) {
  const std::optional<ObjectRow> object = FindObject(object_name);
  if (!object) return 0;
  const std::string property = text::UpperCaseAscii(property_name);
  const bool is_table = object->type == "table";
  const bool is_trigger = object->type == "trigger";
  if (property == "ISTABLE" || property == "ISUSERTABLE") return is_table ? 1 : 0;
  if (property == "ISVIEW") return object->type == "view" ? 1 : 0;
  if (property == "ISTRIGGER") return is_trigger ? 1 : 0;
  if (property == "ISPROCEDURE") return 0;  // SQLite has no stored procedures
  if (property == "EXECISDELETETRIGGER" || property == "EXECISINSERTTRIGGER" ||
      property == "EXECISUPDATETRIGGER") {
    return is_trigger && TriggerEvent(object->sql) == property.substr(6, 6) ? 1 : 0;
  }
  if (!is_table) return 0;
  if (property == "TABLEHASDELETETRIGGER") return TableHasTrigger(object->table, "DELETE") ? 1 : 0;
  if (property == "TABLEHASINSERTTRIGGER") return TableHasTrigger(object->table, "INSERT") ? 1 : 0;
  if (property == "TABLEHASUPDATETRIGGER") return TableHasTrigger(object->table, "UPDATE") ? 1 : 0;
  if (property == "TABLEHASROWGUIDCOL") return ColumnFlagsOf(object->table, {})->row_guid ? 1 : 0;
  if (property == "TABLEHASIDENTITY") return ColumnFlagsOf(object->table, {})->identity ? 1 : 0;
  return 0;
}

std::int32_t tSQLitePropAccessor::ColumnProperty(const std::string& table_name,
                                                 const std::string& column_name,
                                                 const std::string& property_name) {
  const std::optional<ObjectRow> object = FindObject(table_name);
  if (!object || object->type == "trigger" || column_name.empty()) return 0;
  const std::optional<ColumnFlags> flags = ColumnFlagsOf(object->table, column_name);
  if (!flags) return 0;
  const std::string property = text::UpperCaseAscii(property_name);
  // A view has neither a RowGuid nor an identity column, whatever its columns' declared types.
  const bool is_table = object->type == "table";
  if (property == "ISROWGUIDCOL") return is_table && flags->row_guid ? 1 : 0;
  if (property == "ISIDENTITY") return is_table && flags->identity ? 1 : 0;
  if (property == "ISCOMPUTED") return flags->computed ? 1 : 0;
  return 0;
}

}  // namespace tamaril::dbstruct
