#include <QListWidget>

#include <memory>
#include <string>

#include "core/paths.h"
#include "dbaccess/connection.h"
#include "dbstruct/sqlite/sqlite_structure.h"
#include "definitions/rule_context.h"
#include "replication/start_up.h"
#include "shots.h"
#include "text/encoding.h"
#include "ui/expression_builder.h"
#include "ui/qt_text.h"

namespace tamaril::ui::shots {
namespace {

// The export rule of the demo client's customers, kept for the life of the program because the
// builder compiles against its list.
definitions::tRuleContext& CustomerExportRule() {
  static dbaccess::Connection connection;
  static dbstruct::tSQLiteDatabase_Structure structure(&connection);
  static std::unique_ptr<definitions::tRuleContext> context;
  if (!context) {
    replication::InitRuleLanguage();
    connection.SetConnectionString(
        "Provider=SQLite;Data Source=" + core::IncludeTrailingDelimiter(core::ProgramFolder()) + "klient");
    connection.Open();
    connection.SetDefaultDatabase("klient");
    structure.Scan();
    const std::string description =
        definitions::ReadTableDescription(connection, "ODBERATELE").value_or("ODBERATELE");
    context = std::make_unique<definitions::tRuleContext>(structure, expr::RuleKind::Export, "ODBERATELE",
                                                          description);
  }
  return *context;
}

}  // namespace

void AddBuilderShots(std::vector<tShot>& shots) {
  shots.push_back({"expression_builder", [] {
                     definitions::tRuleContext& rule = CustomerExportRule();
                     auto dialog = std::make_unique<TExpressionBuildDlg>(
                         nullptr, rule.List(), &rule.Expression(), tHelpHandler{}, BooleanResult());
                     dialog->SetText(text::Utf8ToAnsi("(KATEGORIE <> \"X\") AND (MESTO <> \"Třebíč\")"));
                     const auto groups =
                         dialog->ClassIdBox->findItems(QStringLiteral(" Pole tabulky"), Qt::MatchStartsWith);
                     if (!groups.isEmpty()) dialog->ClassIdBox->setCurrentItem(groups.front());
                     dialog->IdentifBox->setCurrentRow(1);
                     return std::unique_ptr<QWidget>(std::move(dialog));
                   }});
}

}  // namespace tamaril::ui::shots
