#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "dataset/field_type.h"
#include "dataset/memory_table.h"
#include "dbaccess/connection.h"
#include "dbaccess/query_dataset.h"
#include "dbstruct/structure.h"
#include "definitions/questions.h"
#include "definitions/rule_context.h"
#include "expr/rule_lists.h"

namespace tamaril::definitions {

/// One column of a table the rule handling reads.
struct tTableColumn {
  std::string name;
  dataset::FieldType type;
  int size = 0;
  std::string label;  ///< the column title the windows show (Windows-1250); empty: the name
};

/// What the export and the import side of the rule handling name differently.
struct tDefinitionSide {
  bool import = false;                     ///< rules of rep_DEFIMPORT (else rep_DEFEXPORT)
  std::string rules_table;                 ///< "rep_DEFEXPORT"
  std::vector<tTableColumn> rule_columns;  ///< the rule table's columns read, Signature and TABLENAME first
  std::vector<expr::RuleKind> rules;       ///< the rules of a row, in validation order
  std::string desc_field;                  ///< name of the table description field ("TableDesc")
  std::string insert_new_rows;             ///< rows of a new signature from rep_TBLDESC (":Signature")
  std::string log_table;                   ///< "rep_XPORTLOG"
  std::vector<tTableColumn> log_columns;   ///< Signature, the run number, then the rest
  std::string log_detail_table;            ///< "rep_XPORTLOGDETAIL"
  std::vector<tTableColumn> detail_columns;
  std::string default_question;  ///< "%s": the database (Windows-1250)
};

/// A master table without a rule although a table that depends on it has one.
struct tMissingMasterRule {
  std::string table_name;
  std::string description;  ///< TABLEDESC of rep_TBLDESC (empty when not described)
};

/// The rules and the run history of one definition inside its database: the engine the rule
/// windows and the CLI present. The rule rows (`Rules`) may be edited and saved, never added
/// or removed; every save compiles the row's rules first. The log rows (`Log`) may only be
/// deleted, together with their detail rows (`LogDetail`, the details of the current log row).
class tDefinitionRules {
 public:
  virtual ~tDefinitionRules();
  tDefinitionRules(const tDefinitionRules&) = delete;
  tDefinitionRules& operator=(const tDefinitionRules&) = delete;

  /// The structure of the connected database, used to find the tables of the rules (not owned).
  void SetStructure(dbstruct::tDatabase_Structure* structure) noexcept { structure_ = structure; }
  dbstruct::tDatabase_Structure* Structure() const noexcept { return structure_; }
  /// Who answers the questions (not owned); without one every question is answered No.
  void SetQuestions(tRuleQuestions* questions) noexcept { questions_ = questions; }

  /// Opens the rules and the history of `signature` in the database of `connection` (not owned;
  /// opened with its own string and default database when closed). A signature without rule rows
  /// gets one row per described table, initialised from the rep_TBLDESC defaults. Clears the last
  /// saved rules. Throws DatabaseError.
  void Open(const std::string& signature, dbaccess::Connection& connection);
  /// SetStructure, then Open.
  void Open(const std::string& signature, dbaccess::Connection& connection,
            dbstruct::tDatabase_Structure& structure);
  /// Reads the rule rows and the log again, staying on the same table and run while they are
  /// there. Throws DatabaseError, DatasetError while a rule row is being edited.
  void Refresh();
  /// Closes the rules, the log and its details. Never throws.
  void Close() noexcept;
  bool IsOpen() const noexcept { return rules_.Active(); }
  /// The signature given to Open.
  const std::string& Signature() const noexcept { return signature_; }
  /// The connection given to Open (null before).
  dbaccess::Connection* GetConnection() const noexcept { return connection_; }

  /// The rule rows in LISTORDER, with the table description and the calculated RuleIsSet.
  dataset::TDataSet& Rules() noexcept { return rules_; }
  /// The run log in run number order.
  dataset::TDataSet& Log() noexcept { return log_; }
  /// The detail rows of the current log row.
  dataset::TDataSet& LogDetail() noexcept { return detail_; }
  /// The rule kinds of a row, in validation order.
  const std::vector<expr::RuleKind>& RuleKinds() const noexcept { return side_.rules; }
  /// The memo column of a rule kind ("ExportRule", …).
  static std::string RuleColumn(expr::RuleKind kind) { return RuleKindInfo(kind).column; }
  /// The TABLEDESC of a described table, or empty.
  std::string TableDescription(const std::string& table_name) const;

  /// True when a rule of the current rule row, read as one line, is not empty.
  bool RuleIsSet() const;
  /// True when the current rule row's DeleteRule may not be set (its table is not Identifiable)
  /// and holds nothing to clear; always false on the export side.
  bool DeleteRuleReadOnly() const;
  /// True on the import side when the current row's table cannot take a DeleteRule: its rows
  /// cannot be identified, so its deletions never arrive (see UnidentifiableDeleteRuleMessage).
  bool DeleteRuleRefused() const;
  /// Compiles every non-empty rule of the current row in order; throws RuleValidationError with
  /// the first that does not compile or does not yield a boolean ("Nesprávný typ výsledku
  /// výrazu"), DefinitionError when a rule's table is not in the structure.
  void ValidateCurrentRules();
  /// A rule of the current row made ready for the expression builder (prepared also for an
  /// empty rule); throws as ValidateCurrentRules.
  std::unique_ptr<tRuleContext> PrepareRule(expr::RuleKind kind);
  /// Saves a rule the builder made on the current row without compiling it again; throws
  /// DatasetError for a read-only rule and what saving throws.
  void SaveBuiltRule(expr::RuleKind kind, const std::string& rule_text);

  /// True once a rule row was saved since Open.
  bool LastRuleSet() const noexcept { return last_set_; }
  /// Copies the last saved rules onto the current row and saves it (through the validation);
  /// a read-only DeleteRule is left as it is. Nothing before a rule was saved.
  void ApplyLastRule();
  /// Asks, then makes the definition's rules the defaults later definitions of this database
  /// start with; false when the person refused. Throws DatabaseError.
  bool SetAsDefault();
  /// The first master (at any depth) without a rule of a table with a rule, or nothing. The
  /// current rule row stays where it was.
  std::optional<tMissingMasterRule> CheckRuleConsistency();
  /// True when the rules may be closed: they are consistent, or the person confirmed closing
  /// anyway (the current rule row is then the master without a rule).
  bool ConfirmClose();
  /// Asks, then deletes the current log row with its detail rows in one transaction; false when
  /// the person refused or there is no row. Throws DatabaseError.
  bool DeleteLogRow();

 protected:
  /// Closed rules of one side; the fields of the rule and log rows are defined at once.
  explicit tDefinitionRules(tDefinitionSide side);

 private:
  void LoadRules();
  void LoadLog();
  void OpenDetail();
  void SaveRuleRow();
  void RememberRules();
  void UpdateReadOnly();
  /// True when the current rule row's table is in the structure and its rows can be identified.
  bool CurrentTableIdentifiable() const;
  void DeleteLogRowFromDatabase();
  bool Ask(tQuestion question, const std::string& text);
  dbaccess::Connection& Conn() const;
  std::string CurrentTable() const;

  tDefinitionSide side_;
  dbstruct::tDatabase_Structure* structure_ = nullptr;
  tRuleQuestions* questions_ = nullptr;
  dbaccess::Connection* connection_ = nullptr;
  std::string signature_;
  std::map<std::string, std::string> descriptions_;  ///< rep_TBLDESC: TABLENAME -> TABLEDESC
  dataset::TQVMMemoryTable rules_;
  dataset::TQVMMemoryTable log_;
  dbaccess::TQueryDataSet detail_;
  bool loading_ = false;  ///< rows are being filled from the database: no guards, no saving
  bool validate_ = true;  ///< saving compiles the rules first
  bool last_set_ = false;
  std::vector<std::vector<std::string>> last_rules_;  ///< lines of each rule of side_.rules
  bool last_ignore_row_guid_ = false;
};

/// Closed rules of the import side (TData_DBImport) when `import`, else of the export side
/// (TData_DBExport).
std::unique_ptr<tDefinitionRules> CreateDefinitionRules(bool import);

/// Why a DeleteRule of `table_name` is refused when its rows cannot be identified, and what
/// would make it possible (Windows-1250).
std::string UnidentifiableDeleteRuleMessage(const std::string& table_name);

}  // namespace tamaril::definitions
