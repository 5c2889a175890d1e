#include "definitions/rule_context.h"

#include <stdexcept>

#include <fmt/printf.h>

#include "dbaccess/query_dataset.h"
#include "definitions/errors.h"
#include "text/encoding.h"

namespace tamaril::definitions {
namespace {

using expr::RuleKind;

constexpr tRuleKindInfo kKinds[] = {
    {"ExportRule", "", RuleKind::Export, false},
    {"AppendRule", "", RuleKind::Append, false},
    {"UpdateRule", "@IMP_", RuleKind::Update, true},
    {"UpdateFieldRule", "@IMP_", RuleKind::UpdateField, true},
    {"DeleteRule", "@DEL_", RuleKind::Delete, true},
};

/// The empty data of a table: only its field layout matters.
std::unique_ptr<dataset::TDataSet> EmptyTableData(dbstruct::tDatabase_Structure& structure,
                                                  const std::string& table_name) {
  dbstruct::tTbl_Structure* table = structure.FindTable(table_name);
  if (table == nullptr) {
    throw DefinitionError(text::Utf8ToAnsi("Tabulka \"") + table_name +
                          text::Utf8ToAnsi("\" ve struktuře databáze není"));
  }
  int row_count = 0;
  std::unique_ptr<dataset::TDataSet> data = table->OpenTableData("1=0", "", row_count);
  data->Open();
  return data;
}

/// The empty data of rep_DELETED, also when the structure leaves the table out.
std::unique_ptr<dataset::TDataSet> EmptyDeletedData(dbstruct::tDatabase_Structure& structure) {
  if (structure.FindTable("rep_DELETED") != nullptr) return EmptyTableData(structure, "rep_DELETED");
  if (structure.Connection() == nullptr) throw DefinitionError("The database structure has no connection");
  auto data = std::make_unique<dbaccess::TQueryDataSet>(
      *structure.Connection(), "select * from rep_DELETED where 1=0", dbaccess::ParameterStyle::None);
  data->Open();
  return data;
}

}  // namespace

const tRuleKindInfo& RuleKindInfo(RuleKind kind) {
  for (const auto& info : kKinds) {
    if (info.kind == kind) return info;
  }
  throw std::logic_error("unknown rule kind");
}

tRuleCategories RuleCategories(RuleKind kind, const std::string& table_desc) {
  switch (kind) {
    case RuleKind::Export:
    case RuleKind::Append: return {fmt::sprintf(text::Utf8ToAnsi("Pole tabulky \"%s\""), table_desc), {}};
    case RuleKind::Update:
    case RuleKind::UpdateField:
      return {fmt::sprintf(text::Utf8ToAnsi("Aktuální tabulka \"%s\""), table_desc),
              text::Utf8ToAnsi("Importovaná tabulka")};
    case RuleKind::Delete:
      return {fmt::sprintf(text::Utf8ToAnsi("Mazaný záznam \"%s\""), table_desc), "\"Deleted\" tabulka"};
  }
  return {};
}

std::optional<std::string> ReadTableDescription(dbaccess::Connection& connection,
                                                const std::string& table_name) {
  auto query = connection.Prepare("Select TABLEDESC from rep_TBLDESC where TABLENAME=:TABLENAME");
  query->SetParameter("TABLENAME", dbaccess::Value::Text(table_name));
  auto row = query->Open();
  if (!row->Next()) return std::nullopt;
  return row->Get(std::size_t{0}).AsString();
}

tRuleContext::tRuleContext(dbstruct::tDatabase_Structure& structure, RuleKind kind,
                           const std::string& table_name, const std::string& table_desc)
    : kind_(kind) {
  expr::InitRuleLists();
  const tRuleKindInfo& info = RuleKindInfo(kind);
  const tRuleCategories categories = RuleCategories(kind, table_desc);
  table_data_ = EmptyTableData(structure, table_name);
  list_ = const_cast<expr::OperationDef*>(expr::RuleList(kind));
  if (!info.two_rows) {
    expr::RegisterDatasetFields(false, registry_, list_, categories.fields, *table_data_);
    expression_ = std::make_unique<expr::tDatasetExpression>(table_data_.get());
    return;
  }
  // An update rule compares the imported row with the current row of the same table; a
  // delete rule the table's row with the row recorded in rep_DELETED.
  dataset::TDataSet* prefixed = table_data_.get();
  if (kind == RuleKind::Delete) {
    deleted_data_ = EmptyDeletedData(structure);
    prefixed = deleted_data_.get();
  }
  expr::RegisterTwoDatasetFields(false, registry_, info.prefix, list_, categories.fields, categories.prefixed,
                                 *table_data_, *prefixed);
  expression_ = std::make_unique<expr::tTwoDatasetExpression>(prefixed, table_data_.get(), info.prefix);
}

tRuleContext::~tRuleContext() {
  expression_.reset();
  expr::FreeFieldDefinitions(registry_);
}

void tRuleContext::Compile(const std::string& text) {
  try {
    expression_->Compile(text, list_);
  } catch (const expr::ExpressionError& error) {
    throw RuleValidationError(kind_, error.what());
  }
}

}  // namespace tamaril::definitions
