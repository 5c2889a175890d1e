#include "definitions/definition_rules.h"

#include <fmt/printf.h>

#include "dataset/date_codec.h"
#include "dataset/errors.h"
#include "dataset/field.h"
#include "definitions/errors.h"
#include "definitions/export_rules.h"
#include "definitions/import_rules.h"
#include "text/encoding.h"
#include "text/error.h"

namespace tamaril::definitions {
namespace {

using dataset::FieldType;

constexpr const char* kRuleIsSet = "RuleIsSet";

std::string Layout(const std::vector<tTableColumn>& columns) {
  std::string layout;
  for (const auto& column : columns) {
    if (!layout.empty()) layout += ';';
    const int size = column.type == FieldType::Memo && column.size == 0 ? 10 : column.size;
    layout += column.name + ';' + std::string(dataset::FieldTypeName(column.type)) + ';' +
              std::to_string(size) + ";0";
  }
  return layout;
}

/// Gives a memory table the fields of `columns` (before it is opened).
void DefineFields(dataset::TQVMMemoryTable& table, const std::vector<tTableColumn>& columns) {
  table.SetFieldLayout(Layout(columns));
  for (const auto& column : columns) {
    dataset::TField& field = table.AddField(column.name, column.type, column.size);
    field.DisplayLabel = column.label;
  }
}

std::string ColumnList(const std::vector<tTableColumn>& columns) {
  std::string list;
  for (const auto& column : columns) list += (list.empty() ? "" : ", ") + column.name;
  return list;
}

/// The date-time a day number stands for, as the access layer binds it.
dbaccess::DateTime CivilDateTime(double days) {
  const dataset::TimeStamp stamp = dataset::DateTimeToTimeStamp(days);
  const dataset::CivilDate date = dataset::CivilFromDayNumber(stamp.date);
  dbaccess::DateTime result;
  result.year = static_cast<int>(date.year);
  result.month = date.month;
  result.day = date.day;
  result.hour = stamp.time / 3600000;
  result.minute = stamp.time / 60000 % 60;
  result.second = stamp.time / 1000 % 60;
  result.millisecond = stamp.time % 1000;
  return result;
}

/// The value of a field as a statement parameter.
dbaccess::Value FieldValue(const dataset::TField& field) {
  if (field.IsNull()) return {};
  switch (field.DataType()) {
    case FieldType::Boolean: return dbaccess::Value::Boolean(field.AsBoolean());
    case FieldType::Smallint:
    case FieldType::Integer:
    case FieldType::Word:
    case FieldType::Largeint: return dbaccess::Value::Integer(field.AsInteger());
    case FieldType::Date:
    case FieldType::Time:
    case FieldType::DateTime: return dbaccess::Value::FromDateTime(CivilDateTime(field.AsDateTime()));
    default: return dbaccess::Value::Text(field.AsString());
  }
}

/// The lines of a memo text (CR LF, LF or CR ending each).
std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::string line;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\r' || c == '\n') {
      lines.push_back(line);
      line.clear();
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      line += c;
    }
  }
  if (!line.empty()) lines.push_back(line);
  return lines;
}

std::string JoinLines(const std::vector<std::string>& lines) {
  std::string text;
  for (const auto& line : lines) text += (text.empty() ? "" : "\r\n") + line;
  return text;
}

/// Fills `table` with the rows of a query over `columns`.
void FillTable(dataset::TQVMMemoryTable& table, dbaccess::Statement& statement,
               const std::vector<tTableColumn>& columns) {
  std::unique_ptr<dbaccess::Cursor> cursor = statement.Open();
  while (cursor->Next()) {
    table.Append();
    for (std::size_t i = 0; i < columns.size(); ++i) {
      const dbaccess::Value& value = cursor->Get(i);
      if (value.IsNull()) continue;
      table.FieldByName(columns[i].name).SetAsVariant(dbaccess::ValueToFieldVariant(value, columns[i].type));
    }
    table.Post();
  }
}

}  // namespace

tDefinitionRules::tDefinitionRules(tDefinitionSide side) : side_(std::move(side)) {
  rules_.Name = "tblDef" + std::string(side_.import ? "Import" : "Export");
  log_.Name = side_.import ? "tblImportLog" : "tblExportLog";
  detail_.Name = log_.Name + "Detail";
  last_rules_.resize(side_.rules.size());

  DefineFields(rules_, [&] {
    std::vector<tTableColumn> columns = side_.rule_columns;
    columns.push_back({side_.desc_field, FieldType::String, 50, "Evidence"});
    return columns;
  }());
  dataset::TField& rule_is_set =
      rules_.AddField(kRuleIsSet, FieldType::Boolean, 0, dataset::TFieldKind::Calculated);
  rule_is_set.ReadOnly = true;
  rule_is_set.DisplayLabel = "Pravidlo";
  rule_is_set.OnGetText = [](dataset::TField& field, std::string& text, bool) {
    text = field.AsBoolean() ? "Nastaveno" : "";
  };
  rules_.OnCalcFields = [this](dataset::TDataSet& data) {
    bool set = false;
    for (const expr::RuleKind kind : side_.rules) {
      if (!expr::RuleText(data.FindField(RuleColumn(kind))).empty()) set = true;
    }
    data.FieldByName(kRuleIsSet).SetAsBoolean(set);
  };
  // Rule rows come from the described tables: they are neither added nor removed here.
  rules_.BeforeInsert = [this](dataset::TDataSet&) {
    if (!loading_) throw EAbort();
  };
  rules_.BeforeDelete = [](dataset::TDataSet&) { throw EAbort(); };
  rules_.BeforePost = [this](dataset::TDataSet&) {
    if (loading_) return;
    if (validate_) ValidateCurrentRules();
    SaveRuleRow();
  };
  rules_.AfterPost = [this](dataset::TDataSet&) {
    if (!loading_) RememberRules();
  };
  rules_.AfterScroll = [this](dataset::TDataSet&) {
    if (!loading_) UpdateReadOnly();
  };

  DefineFields(log_, side_.log_columns);
  log_.BeforeInsert = [this](dataset::TDataSet&) {
    if (!loading_) throw EAbort();
  };
  log_.BeforeEdit = [](dataset::TDataSet&) { throw EAbort(); };
  log_.BeforeDelete = [this](dataset::TDataSet&) {
    if (!Ask(tQuestion::DeleteLogRow, text::Utf8ToAnsi("Opravdu chcete vymazat zvolený záznam?")))
      throw EAbort();
    DeleteLogRowFromDatabase();
  };
  log_.AfterScroll = [this](dataset::TDataSet&) {
    if (!loading_) OpenDetail();
  };
  log_.AfterDelete = [this](dataset::TDataSet&) { OpenDetail(); };
}

tDefinitionRules::~tDefinitionRules() { Close(); }

void tDefinitionRules::Open(const std::string& signature, dbaccess::Connection& connection,
                            dbstruct::tDatabase_Structure& structure) {
  SetStructure(&structure);
  Open(signature, connection);
}

void tDefinitionRules::Open(const std::string& signature, dbaccess::Connection& connection) {
  Close();
  signature_ = signature;
  if (!connection.IsOpen()) connection.Open();
  connection_ = &connection;

  descriptions_.clear();
  auto names = connection.Query("select TABLENAME, TABLEDESC from rep_TBLDESC order by TableName");
  while (names->Next())
    descriptions_.emplace(names->Get(std::size_t{0}).AsString(), names->Get(1).AsString());

  LoadRules();
  if (rules_.IsEmpty()) {
    rules_.Close();
    auto insert = connection.Prepare(side_.insert_new_rows);
    insert->SetParameter("Signature", dbaccess::Value::Text(signature_));
    if (side_.import) insert->SetParameter("Deleted", dbaccess::Value::Text("rep_DELETED"));
    insert->Execute();
    LoadRules();
  }
  detail_.SetConnection(&connection);
  detail_.SetSQL("select " + ColumnList(side_.detail_columns) + " from " + side_.log_detail_table +
                 " where Signature=:Signature and " + side_.log_columns[1].name +
                 "=:" + side_.log_columns[1].name);
  LoadLog();
  OpenDetail();

  last_set_ = false;
  for (auto& lines : last_rules_) lines.clear();
  last_ignore_row_guid_ = false;
}

void tDefinitionRules::Refresh() {
  Conn();
  if (rules_.Active() && rules_.State() != dataset::DataSetState::Browse)
    throw dataset::DatasetError("The rule row is being edited");
  const std::string table = rules_.Active() && !rules_.IsEmpty() ? CurrentTable() : std::string();
  const std::string& number = side_.log_columns[1].name;
  const bool had_run = log_.Active() && !log_.IsEmpty();
  const std::int64_t run = had_run ? log_.FieldByName(number).AsInteger() : 0;
  LoadRules();
  if (!table.empty()) rules_.Locate("TABLENAME", dataset::Variant::String(table));
  UpdateReadOnly();
  LoadLog();
  if (had_run) log_.Locate(number, dataset::Variant::Integer(run));
  OpenDetail();
}

void tDefinitionRules::LoadRules() {
  rules_.Close();
  auto query = Conn().Prepare("select " + ColumnList(side_.rule_columns) + " from " + side_.rules_table +
                              " where Signature=:Signature order by LISTORDER");
  query->SetParameter("Signature", dbaccess::Value::Text(signature_));
  dataset::TField& description = rules_.FieldByName(side_.desc_field);
  for (const expr::RuleKind kind : side_.rules) rules_.FieldByName(RuleColumn(kind)).ReadOnly = false;
  description.ReadOnly = false;
  loading_ = true;
  try {
    rules_.Open();
    rules_.EmptyTable();
    FillTable(rules_, *query, side_.rule_columns);
    for (rules_.First(); !rules_.Eof(); rules_.Next()) {
      rules_.Edit();
      description.SetAsString(TableDescription(CurrentTable()));
      rules_.Post();
    }
  } catch (...) {
    loading_ = false;
    description.ReadOnly = true;
    rules_.Close();
    throw;
  }
  loading_ = false;
  description.ReadOnly = true;
  rules_.First();
  UpdateReadOnly();
}

void tDefinitionRules::LoadLog() {
  log_.Close();
  auto query = Conn().Prepare("select " + ColumnList(side_.log_columns) + " from " + side_.log_table +
                              " where Signature=:Signature order by " + side_.log_columns[1].name);
  query->SetParameter("Signature", dbaccess::Value::Text(signature_));
  loading_ = true;
  try {
    log_.Open();
    log_.EmptyTable();
    FillTable(log_, *query, side_.log_columns);
  } catch (...) {
    loading_ = false;
    log_.Close();
    throw;
  }
  loading_ = false;
  log_.First();
}

void tDefinitionRules::OpenDetail() {
  if (connection_ == nullptr) return;
  detail_.Close();
  const std::string& number = side_.log_columns[1].name;
  detail_.SetParameter("Signature", dbaccess::Value::Text(signature_));
  if (log_.Active() && !log_.IsEmpty()) {
    detail_.SetParameter(number, dbaccess::Value::Integer(log_.FieldByName(number).AsInteger()));
  } else {
    detail_.SetParameter(number, dbaccess::Value::Null());
  }
  detail_.Open();
}

void tDefinitionRules::Close() noexcept {
  detail_.Close();
  if (detail_.GetConnection() != nullptr) detail_.Unprepare();
  log_.Close();
  rules_.Close();
  descriptions_.clear();
  connection_ = nullptr;
}

dbaccess::Connection& tDefinitionRules::Conn() const {
  if (connection_ == nullptr) throw DefinitionError("The definition's rules are not open");
  return *connection_;
}

std::string tDefinitionRules::CurrentTable() const { return rules_.FieldByName("TABLENAME").AsString(); }

std::string tDefinitionRules::TableDescription(const std::string& table_name) const {
  const auto found = descriptions_.find(table_name);
  return found == descriptions_.end() ? std::string() : found->second;
}

bool tDefinitionRules::RuleIsSet() const {
  return rules_.Active() && !rules_.IsEmpty() && rules_.FieldByName(kRuleIsSet).AsBoolean();
}

bool tDefinitionRules::DeleteRuleReadOnly() const {
  const dataset::TField* field = rules_.FindField(RuleColumn(expr::RuleKind::Delete));
  return field != nullptr && field->ReadOnly;
}

bool tDefinitionRules::DeleteRuleRefused() const {
  return side_.import && rules_.Active() && !rules_.IsEmpty() && !CurrentTableIdentifiable();
}

bool tDefinitionRules::CurrentTableIdentifiable() const {
  const dbstruct::tTbl_Structure* table =
      structure_ != nullptr ? structure_->FindTable(CurrentTable()) : nullptr;
  return table != nullptr && table->Identifiable;
}

void tDefinitionRules::UpdateReadOnly() {
  dataset::TField* field = rules_.FindField(RuleColumn(expr::RuleKind::Delete));
  if (field == nullptr || !rules_.Active() || rules_.IsEmpty()) return;
  // A rule set earlier (before the table lost its key, or by hand) stays editable, so that it can
  // be cleared; a new one cannot be set.
  field->ReadOnly = !CurrentTableIdentifiable() && expr::RuleText(field).empty();
}

std::string UnidentifiableDeleteRuleMessage(const std::string& table_name) {
  return text::Utf8ToAnsi("DeleteRule tabulky ") + table_name +
         text::Utf8ToAnsi(
             " nelze nastavit: její záznamy nelze identifikovat (nemá sloupec RowGuid ani jednoduchý "
             "celočíselný primární klíč), a tak se její výmazy nepřenášejí. Umožní to sloupec RowGuid, "
             "který přidá skript replikace vytvořený s volbou --add-rowguid (na straně klienta i centra).");
}

void tDefinitionRules::ValidateCurrentRules() {
  if (rules_.IsEmpty()) return;
  for (const expr::RuleKind kind : side_.rules) {
    const std::string rule = expr::RuleText(rules_.FindField(RuleColumn(kind)));
    if (rule.empty()) continue;
    const std::unique_ptr<tRuleContext> context = PrepareRule(kind);
    context->Compile(rule);
    // A rule passes only when it yields true: one of another type would never pass.
    if (context->Expression().ResultType() != expr::TypeCode::Boolean)
      throw RuleValidationError(kind, text::Utf8ToAnsi("Nesprávný typ výsledku výrazu"));
  }
}

std::unique_ptr<tRuleContext> tDefinitionRules::PrepareRule(expr::RuleKind kind) {
  if (structure_ == nullptr) throw DefinitionError("The definition's rules have no database structure");
  return std::make_unique<tRuleContext>(*structure_, kind, CurrentTable(),
                                        rules_.FieldByName(side_.desc_field).AsString());
}

void tDefinitionRules::SaveBuiltRule(expr::RuleKind kind, const std::string& rule_text) {
  if (rules_.State() == dataset::DataSetState::Browse) rules_.Edit();
  rules_.FieldByName(RuleColumn(kind)).SetAsString(rule_text);
  validate_ = false;
  try {
    rules_.Post();
  } catch (...) {
    validate_ = true;
    throw;
  }
  validate_ = true;
}

void tDefinitionRules::SaveRuleRow() {
  std::string assignments;
  for (std::size_t i = 2; i < side_.rule_columns.size(); ++i) {
    const std::string& name = side_.rule_columns[i].name;
    assignments += (assignments.empty() ? "" : ", ") + name + "=:" + name;
  }
  auto update = Conn().Prepare("update " + side_.rules_table + " set " + assignments +
                               " where Signature=:Signature and TABLENAME=:TABLENAME");
  for (const auto& column : side_.rule_columns) {
    update->SetParameter(column.name, FieldValue(rules_.FieldByName(column.name)));
  }
  update->Execute();
}

void tDefinitionRules::RememberRules() {
  for (std::size_t i = 0; i < side_.rules.size(); ++i) {
    last_rules_[i] = SplitLines(rules_.FieldByName(RuleColumn(side_.rules[i])).AsString());
  }
  if (side_.import) last_ignore_row_guid_ = rules_.FieldByName("IgnoreRowGuidField").AsBoolean();
  last_set_ = true;
}

void tDefinitionRules::ApplyLastRule() {
  if (!last_set_ || !rules_.Active() || rules_.IsEmpty()) return;
  if (rules_.State() == dataset::DataSetState::Browse) rules_.Edit();
  for (std::size_t i = 0; i < side_.rules.size(); ++i) {
    dataset::TField& field = rules_.FieldByName(RuleColumn(side_.rules[i]));
    // A DeleteRule is not carried over to a table whose rows cannot be identified, also when an
    // old one waits there to be cleared.
    if (field.ReadOnly || (side_.rules[i] == expr::RuleKind::Delete && !CurrentTableIdentifiable())) continue;
    if (last_rules_[i].empty()) {
      field.Clear();
    } else {
      field.SetAsString(JoinLines(last_rules_[i]));
    }
  }
  if (side_.import) rules_.FieldByName("IgnoreRowGuidField").SetAsBoolean(last_ignore_row_guid_);
  rules_.Post();
}

bool tDefinitionRules::SetAsDefault() {
  if (structure_ == nullptr) throw DefinitionError("The definition's rules have no database structure");
  if (!Ask(tQuestion::SetAsDefault, fmt::sprintf(side_.default_question, Conn().DefaultDatabase())))
    return false;
  auto update = Conn().Prepare(structure_->DefaultRulesStatement(side_.import));
  update->SetParameter("Signature", dbaccess::Value::Text(signature_));
  update->Execute();
  return true;
}

std::optional<tMissingMasterRule> tDefinitionRules::CheckRuleConsistency() {
  if (!rules_.Active() || structure_ == nullptr) return std::nullopt;
  rules_.CheckBrowseMode();
  std::vector<std::pair<std::string, bool>> tables;
  const std::string bookmark = rules_.GetBookmark();
  for (rules_.First(); !rules_.Eof(); rules_.Next()) tables.emplace_back(CurrentTable(), RuleIsSet());
  if (!bookmark.empty()) rules_.GotoBookmark(bookmark);

  for (const auto& [name, set] : tables) {
    const dbstruct::tTbl_Structure* table = structure_->FindTable(name);
    if (!set || table == nullptr) continue;
    for (const auto& [other_name, other_set] : tables) {
      if (other_name == name || other_set) continue;
      const dbstruct::tTbl_Structure* other = structure_->FindTable(other_name);
      if (other == nullptr || !table->DependsOn(*other, false)) continue;
      auto query = Conn().Prepare("Select TABLEDESC from rep_TBLDESC where TABLENAME=:TABLENAME");
      query->SetParameter("TABLENAME", dbaccess::Value::Text(other_name));
      auto row = query->Open();
      return tMissingMasterRule{other_name,
                                row->Next() ? row->Get(std::size_t{0}).AsString() : std::string()};
    }
  }
  return std::nullopt;
}

bool tDefinitionRules::ConfirmClose() {
  const std::optional<tMissingMasterRule> missing = CheckRuleConsistency();
  if (!missing) return true;
  rules_.Locate("TABLENAME", dataset::Variant::String(missing->table_name));
  return Ask(tQuestion::CloseWithoutMasterRule,
             fmt::sprintf(text::Utf8ToAnsi(
                              "Chybí nastavení pravidla pro tabulku \"%s\" \rOpravdu mám formulář zavřít?"),
                          missing->description));
}

bool tDefinitionRules::DeleteLogRow() {
  if (!log_.Active() || log_.IsEmpty()) return false;
  try {
    log_.Delete();
  } catch (const EAbort&) {
    return false;
  }
  return true;
}

void tDefinitionRules::DeleteLogRowFromDatabase() {
  const std::string& number = side_.log_columns[1].name;
  const std::int64_t run = log_.FieldByName(number).AsInteger();
  const std::string condition = " where Signature=:Signature and " + number + "=:" + number;
  detail_.Close();
  detail_.Unprepare();
  dbaccess::Connection& connection = Conn();
  std::unique_ptr<dbaccess::TransactionGuard> transaction;
  if (!connection.InTransaction()) transaction = std::make_unique<dbaccess::TransactionGuard>(connection);
  for (const std::string& table : {side_.log_detail_table, side_.log_table}) {
    auto remove = connection.Prepare("Delete from " + table + condition);
    remove->SetParameter("Signature", dbaccess::Value::Text(signature_));
    remove->SetParameter(number, dbaccess::Value::Integer(run));
    remove->Execute();
  }
  if (transaction) transaction->Commit();
}

bool tDefinitionRules::Ask(tQuestion question, const std::string& text) {
  return questions_ != nullptr && questions_->Ask(question, text);
}

std::unique_ptr<tDefinitionRules> CreateDefinitionRules(bool import) {
  if (import) return std::make_unique<TData_DBImport>();
  return std::make_unique<TData_DBExport>();
}

}  // namespace tamaril::definitions
