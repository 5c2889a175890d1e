#include "replication/merge_rules.h"

#include <algorithm>
#include <array>
#include <optional>

#include "dataset/field.h"
#include "dataset/field_layout.h"
#include "dbaccess/query_dataset.h"
#include "dbstruct/keyed_table.h"
#include "expr/dataset_expression.h"
#include "expr/rule_lists.h"
#include "replication/conflict_list.h"
#include "text/encoding.h"

namespace tamaril::replication {

namespace {

constexpr const char* kRulesQuery =
    "select LastImportDate,AppendRule,UpdateRule,UpdateFieldRule,DeleteRule from rep_DEFIMPORT where "
    "Signature=? and TABLENAME=?";

constexpr const char* kDateInserted = "rep_Date_Inserted";
constexpr const char* kSignatureInserted = "rep_Signature_Inserted";
constexpr const char* kDateUpdated = "rep_Date_Updated";
constexpr const char* kSignatureUpdated = "rep_Signature_Updated";

// Puts values into the current row and posts them, keeping the change flags as they were.
template <typename Fill>
void EditRow(dataset::TDataSet& row, Fill fill) {
  row.Edit();
  try {
    fill();
    row.Post();
  } catch (...) {
    row.Cancel();
    throw;
  }
}

std::string Ansi(const char* utf8) { return text::Utf8ToAnsi(utf8); }

}  // namespace

std::string ConflictKindText(tConflictKind kind) {
  switch (kind) {
    case tConflictKind::AppendMasterMissing: return Ansi("Porušení vazby master-detail při insertu");
    case tConflictKind::UpdateMasterMissing: return Ansi("Porušení vazby master-detail při aktualizaci");
    case tConflictKind::AmbiguousWrite: return Ansi("Porušení jedinečnosti klíče");
    case tConflictKind::AmbiguousDelete: return Ansi("Záznam který má být odstraněn není jednoznačně určen");
    case tConflictKind::StatementFailed: return {};
    case tConflictKind::ValueMismatch: return Ansi("Hodnota nevyhovuje sloupci");
  }
  return {};
}

/// One rule of the current table: its text, the identifiers of the rows it was first bound to
/// and the compiled program, made on first use.
struct tMergeRules::Rule {
  Rule(expr::RuleKind rule_kind, std::string rule_prefix) : kind(rule_kind), prefix(std::move(rule_prefix)) {}
  ~Rule() { Reset({}); }
  Rule(const Rule&) = delete;
  Rule& operator=(const Rule&) = delete;

  /// Forgets the program and the identifiers; the list starts again from the global one.
  void Reset(std::string new_text) noexcept {
    expression.reset();
    expr::FreeFieldDefinitions(registry);
    list = nullptr;
    text = std::move(new_text);
  }

  expr::RuleKind kind;
  std::string prefix;  ///< of the identifiers of the judged row; empty for a one-row rule
  std::string text;
  expr::FieldRegistry registry;
  expr::DefinitionList list = nullptr;
  std::unique_ptr<expr::TExpression> expression;
};

tMergeRules::tMergeRules(dbaccess::Connection& connection, dbstruct::tDatabase_Structure& structure,
                         tMergeRunContext context)
    : connection_(connection),
      structure_(structure),
      context_(std::move(context)),
      append_(std::make_unique<Rule>(expr::RuleKind::Append, "")),
      update_(std::make_unique<Rule>(expr::RuleKind::Update, "@IMP_")),
      update_field_(std::make_unique<Rule>(expr::RuleKind::UpdateField, "@IMP_")),
      delete_(std::make_unique<Rule>(expr::RuleKind::Delete, "@DEL_")) {
  expr::InitRuleLists();
}

tMergeRules::~tMergeRules() = default;

void tMergeRules::Install(tQVMMerger& merger) {
  merger.OnTableStart = [this](tQVMMerger&, const std::string& name) { TableStart(name); };
  merger.OnBeforeTable = [this](tQVMMerger&) { Cancel(); };
  merger.OnAfterTable = [this](tQVMMerger&) { Cancel(); };
  merger.OnBeforeRow = [this](tQVMMerger&, dataset::TDataSet&) { Cancel(); };
  merger.OnAppendRow = [this](tQVMMerger&, dataset::TDataSet& row, bool& allow) { allow = AllowAppend(row); };
  merger.OnUpdateRow = [this](tQVMMerger&, dataset::TDataSet& row, bool& allow,
                              dbstruct::tExistingRecords& existing) {
    dataset::TQVMmemDataSet* first = existing.FirstMatch();
    allow = first != nullptr && AllowUpdate(row, *first);
  };
  merger.OnDeleteRow = [this](tQVMMerger&, dataset::TDataSet& row, bool& allow,
                              dbstruct::tExistingRecords& existing) {
    dataset::TQVMmemDataSet* first = existing.FirstMatch();
    allow = first != nullptr && AllowDelete(row, *first);
  };
  merger.OnRowAppended = [this](tQVMMerger&, dataset::TDataSet& row) { RowAppended(row); };
  merger.OnRowUpdated = [this](tQVMMerger&, dataset::TDataSet& row) { RowUpdated(row); };
  merger.OnRowDeleted = [this](tQVMMerger&, dataset::TDataSet&, std::int64_t count) { RowDeleted(count); };
  merger.OnDuplicate = [this](tQVMMerger&, dataset::TDataSet& row) { Duplicate(row); };
  merger.OnConflict = [this](tQVMMerger& m, dataset::TDataSet& row, tConflictKind kind,
                             const std::string& detail) {
    // A deleted-rows row belongs to the table it deletes from, not to the table being read.
    const bool deleted_row = m.IsDeletedRowsTable != 0;
    const std::string table_name =
        deleted_row && m.CurrentTable != nullptr ? m.CurrentTable->GetTableName() : m.TableName;
    Conflict(row, kind, detail, table_name, deleted_row);
  };
}

void tMergeRules::Log(const std::string& line) const {
  if (OnLog) OnLog(line);
}

void tMergeRules::Cancel() const {
  if (CheckCancel) CheckCancel();
}

std::string tMergeRules::KeyText(dataset::TDataSet& row) const {
  std::string text = table_ != nullptr ? table_->GetKeyValuesText(row) : std::string();
  // A table without a primary key still names its rows by what identifies them.
  if (const auto* keyed =
          text.empty() ? dynamic_cast<const dbstruct::tKeyedTbl_Structure*>(table_) : nullptr) {
    for (const std::string* column : {&keyed->RowGuidColumn, &keyed->IntKeyColumn}) {
      const dataset::TField* field = column->empty() ? nullptr : row.FindField(*column);
      if (field == nullptr) continue;
      text = *column + "=" + field->AsString();
      break;
    }
  }
  // The log is Windows-1250; the rows of a Unicode archive hold UTF-8.
  if (connection_.UnicodeText()) text = text::Utf8ToAnsi(text);
  return "(" + text + ")";
}

std::string tMergeRules::RowText(const std::string& ansi) const {
  return connection_.UnicodeText() ? text::AnsiToUtf8(ansi) : ansi;
}

tTableCounters& tMergeRules::CurrentCounters() {
  // Found once per table: the counters stay where the map put them.
  if (current_counters_ == nullptr)
    current_counters_ = &table_counters_[table_ != nullptr ? table_->GetTableName() : std::string()];
  return *current_counters_;
}

tTableCounters tMergeRules::TableCounters(const std::string& table_name) const {
  const auto found = table_counters_.find(table_name);
  return found == table_counters_.end() ? tTableCounters{} : found->second;
}

void tMergeRules::TableStart(const std::string& table_name) {
  Cancel();
  if (OnTableShown) OnTableShown(table_name);
  table_ = structure_.FindTable(table_name);
  current_counters_ = nullptr;
  Log(Ansi("Cílová tabulka je nyní ") + table_name);

  for (Rule* rule : {append_.get(), update_.get(), update_field_.get(), delete_.get()}) rule->Reset({});
  last_import_date_ = 0;
  delete_key_text_.clear();

  if (!query_) {
    query_ = std::make_unique<dbaccess::TQueryDataSet>(connection_, kRulesQuery,
                                                       dbaccess::ParameterStyle::Positional);
    query_->DeclareParameter("Signature", dataset::FieldType::String, 10);
    query_->DeclareParameter("TABLENAME", dataset::FieldType::String, 20);
  }
  query_->Close();
  query_->SetParameter(std::size_t{0}, dbaccess::Value::Text(context_.signature));
  query_->SetParameter(std::size_t{1}, dbaccess::Value::Text(table_name));
  query_->Open();
  if (!query_->Eof()) {
    const dataset::TField* last_import = query_->FindField("LastImportDate");
    if (last_import != nullptr && !last_import->IsNull()) last_import_date_ = last_import->AsDateTime();
    append_->text = expr::RuleText(query_->FindField("AppendRule"));
    update_->text = expr::RuleText(query_->FindField("UpdateRule"));
    update_field_->text = expr::RuleText(query_->FindField("UpdateFieldRule"));
    delete_->text = expr::RuleText(query_->FindField("DeleteRule"));
  }
  query_->Close();

  expr::ReplicationValues& values = expr::RunValues();
  values.signature = context_.signature;
  values.last_import_date = last_import_date_;
}

bool tMergeRules::Passes(Rule& rule, dataset::TDataSet& row, dataset::TDataSet* other) {
  if (!rule.expression) {
    try {
      rule.list = const_cast<expr::OperationDef*>(expr::RuleList(rule.kind));
      if (rule.prefix.empty()) {
        expr::RegisterDatasetFields(false, rule.registry, rule.list, "", row);
        rule.expression = std::make_unique<expr::tDatasetExpression>(&row);
      } else {
        expr::RegisterTwoDatasetFields(false, rule.registry, rule.prefix, rule.list, "", "", *other, row);
        rule.expression = std::make_unique<expr::tTwoDatasetExpression>(&row, other, rule.prefix);
      }
      rule.expression->Engine().SetUnicodeText(connection_.UnicodeText());
      rule.expression->Compile(rule.text, rule.list);
    } catch (...) {
      rule.Reset(rule.text);
      throw;
    }
  } else if (auto* one_row = dynamic_cast<expr::tDatasetExpression*>(rule.expression.get())) {
    one_row->SetDataSet(&row);
  } else if (auto* two_rows = dynamic_cast<expr::tTwoDatasetExpression*>(rule.expression.get())) {
    two_rows->SetPrefixedDataSet(&row);
    two_rows->SetOtherDataSet(other);
  }
  // Only a boolean true lets the row through; any other value is a rule not met.
  const expr::Value value = rule.expression->Evaluate();
  return value.kind() == expr::Value::Kind::Boolean && value.AsBoolean();
}

std::optional<std::array<dataset::TField*, 4>> tMergeRules::TrackingFields(dataset::TDataSet& row) {
  if (tracking_source_.Matches(&row)) return tracking_fields_;
  tracking_fields_.reset();
  const std::array<dataset::TField*, 4> fields{row.FindField(kDateInserted),
                                               row.FindField(kSignatureInserted), row.FindField(kDateUpdated),
                                               row.FindField(kSignatureUpdated)};
  if (std::none_of(fields.begin(), fields.end(),
                   [](const dataset::TField* field) { return field == nullptr; }))
    tracking_fields_ = fields;
  tracking_source_.Take(&row);
  return tracking_fields_;
}

const std::string& tMergeRules::SignatureText() {
  if (signature_unicode_ != connection_.UnicodeText()) {
    signature_text_ = RowText(context_.signature);
    signature_unicode_ = connection_.UnicodeText();
  }
  return signature_text_;
}

void tMergeRules::Stamp(dataset::TField& field, tStampBytes& bytes, const std::optional<std::string>& text) {
  if (!bytes.Bytes.empty() && field.DataType() == bytes.Type && field.DataSize() == bytes.DataSize &&
      field.Size == bytes.Size && text == bytes.Text) {
    field.SetData(bytes.Bytes.data());
    return;
  }
  bytes.Bytes.clear();
  if (text)
    field.SetAsString(*text);
  else
    field.SetAsDateTime(context_.import_time);
  // A blob's bytes stand for a block the field owns: those are not taken.
  if (dataset::KindOfFieldType(field.DataType()) == dataset::FieldKind::Blob || field.DataSize() <= 0) return;
  std::vector<std::byte> taken(static_cast<std::size_t>(field.DataSize()));
  if (!field.GetData(taken.data())) return;
  bytes = {field.DataType(), field.DataSize(), field.Size, text, std::move(taken)};
}

void tMergeRules::StampInsert(dataset::TDataSet& row) {
  const auto fields = TrackingFields(row);
  if (!fields) return;
  EditRow(row, [&] {
    Stamp(*(*fields)[0], stamp_bytes_[0], std::nullopt);
    Stamp(*(*fields)[1], stamp_bytes_[1], SignatureText());
    // Mostly a new row was never updated: its update stamps are null already.
    if (!(*fields)[2]->IsNull()) (*fields)[2]->Clear();
    if (!(*fields)[3]->IsNull()) (*fields)[3]->Clear();
  });
}

void tMergeRules::StampUpdate(dataset::TDataSet& row) {
  const auto fields = TrackingFields(row);
  if (!fields) return;
  EditRow(row, [&] {
    Stamp(*(*fields)[2], stamp_bytes_[2], std::nullopt);
    Stamp(*(*fields)[3], stamp_bytes_[3], SignatureText());
  });
  (*fields)[0]->Tag = 0;
  (*fields)[1]->Tag = 0;
  (*fields)[2]->Tag = 1;
  (*fields)[3]->Tag = 1;
}

bool tMergeRules::AllowAppend(dataset::TDataSet& row) {
  Cancel();
  bool allow = false;
  if (append_->text.empty()) {
    Log(Ansi("Přidání záznamu ignorováno - pravidlo není nastaveno ") + KeyText(row));
  } else {
    allow = Passes(*append_, row, nullptr);
    if (!allow) {
      Log(Ansi("Přidání záznamu ignorováno - pravidlo ") + append_->text + Ansi(" není splněno") +
          KeyText(row));
    }
  }
  if (allow) {
    StampInsert(row);
  } else {
    ++counters_.ignored;
  }
  return allow;
}

bool tMergeRules::AllowUpdate(dataset::TDataSet& row, dataset::TDataSet& existing) {
  Cancel();
  bool allow = false;
  if (update_->text.empty()) {
    Log(Ansi("Oprava záznamu ignorována - pravidlo není splněno") + KeyText(existing));
  } else if (!Passes(*update_, row, &existing)) {
    Log(Ansi("Oprava záznamu ignorována - pravidlo ") + update_->text + Ansi(" není splněno") +
        KeyText(existing));
  } else {
    allow = true;
    if (!update_field_->text.empty()) {
      bool any_left = false;
      for (const auto& field : row.Fields()) {
        if (field->Tag == 0) continue;
        expr::RunValues().update_field = field->Name;
        if (Passes(*update_field_, row, &existing)) {
          any_left = true;
        } else {
          field->Tag = 0;
        }
      }
      if (!any_left) {
        allow = false;
        Log(Ansi("Oprava záznamu ignorována - oprava poli nebyla povolena") + KeyText(existing));
      }
    }
  }
  if (allow) {
    StampUpdate(row);
  } else {
    ++counters_.ignored;
  }
  return allow;
}

bool tMergeRules::AllowDelete(dataset::TDataSet& deleted, dataset::TDataSet& existing) {
  Cancel();
  delete_key_text_ = KeyText(existing);
  bool allow = false;
  if (delete_->text.empty()) {
    Log(Ansi("Mazání záznamu ignorováno - pravidlo není nastaveno") + delete_key_text_);
  } else {
    allow = Passes(*delete_, deleted, &existing);
    // The key text is appended, not formatted: a value with a per cent sign stays as it is.
    if (!allow) {
      Log(Ansi("Mazání záznamu ignorováno - pravidlo ") + delete_->text + Ansi(" není splněno") +
          delete_key_text_);
    }
  }
  if (!allow) ++counters_.ignored;
  return allow;
}

void tMergeRules::RowAppended(dataset::TDataSet& row) {
  Cancel();
  ++counters_.appended;
  ++CurrentCounters().appended;
  static const std::string kAppended = Ansi("záznam přidán");
  if (OnLog) Log(kAppended + KeyText(row));
}

void tMergeRules::RowUpdated(dataset::TDataSet& row) {
  Cancel();
  ++counters_.updated;
  ++CurrentCounters().updated;
  static const std::string kUpdated = Ansi("záznam opraven");
  if (OnLog) Log(kUpdated + KeyText(row));
}

void tMergeRules::RowDeleted(std::int64_t count) {
  Cancel();
  if (count <= 0) return;
  counters_.deleted += count;
  ++CurrentCounters().deleted;
  Log(Ansi("záznam vymazán"));
}

void tMergeRules::Duplicate(dataset::TDataSet& row) {
  Cancel();
  ++counters_.duplicates;
  static const std::string kDuplicate = Ansi("duplikovaný záznam");
  if (OnLog) Log(kDuplicate + KeyText(row));
}

void tMergeRules::Conflict(dataset::TDataSet& row, tConflictKind kind, const std::string& detail,
                           const std::string& table_name, bool deleted_row) {
  Cancel();
  ++counters_.conflicts;
  // A value that does not fit says which column and value; the others name a constraint.
  const std::string place = kind == tConflictKind::ValueMismatch ? detail : "constraint " + detail;
  const std::string line = ConflictKindText(kind) + " (Tabulka " + table_name + ", " + place + ")" +
                           (deleted_row ? delete_key_text_ : KeyText(row));
  Log(line);
  if (Conflicts != nullptr) Conflicts->AddError(context_.archive_name, context_.database_name, &row, line);
}

}  // namespace tamaril::replication
