#include "ui/export_window.h"

#include <QPlainTextEdit>
#include <QProgressBar>
#include <QVBoxLayout>

#include "core/export_text.h"
#include "core/repl_options.h"
#include "dataset/dataset.h"
#include "dataset/field.h"
#include "ui/message_box.h"
#include "ui/qt_text.h"

namespace tamaril::ui {
namespace {

// The definition as the list's current record holds it; the connection string through the
// field's text, which unscrambles it.
replication::tExportDefinition DefinitionOf(dataset::TDataSet& list) {
  replication::tExportDefinition definition;
  definition.Signature = list.FieldByName("Signature").AsString();
  definition.ConnectionString = list.FieldByName("ConnectionString").Text();
  definition.DatabaseName = list.FieldByName("DatabaseName").AsString();
  definition.CenterName = list.FieldByName("CenterName").AsString();
  if (core::ExportTextUnicode(definition.Signature)) definition.TextForm = replication::tTextForm::Unicode;
  return definition;
}

// Where a RowGuid column for tables whose rows nothing identifies comes from.
constexpr const char* kRowGuidHint =
    " Sloupec rep_RowGuid jim přidá kostra skriptu pro replikaci vytvořená se zaškrtnutou volbou přidání "
    "sloupce rep_RowGuid (nebo tamaril-cli setup-script --add-rowguid), použitá na obou stranách.";

// The notes of a finished run, or empty: the texts that would lose characters, the deletions
// that do not travel, then what the run did besides in the export folder (an interrupted run's
// archive put in place, a step after the archive that failed), the archive's signature and seal,
// and the archives renamed and removed.
QString ReportOf(const replication::tExportResult& result) {
  QString report = FromUtf8(replication::LossyTextReport(result));
  const auto add_line = [&report](const QString& line) {
    if (!report.isEmpty() && !report.endsWith(QLatin1Char('\n'))) report += QLatin1Char('\n');
    report += line;
  };
  const std::string note = replication::UntrackedDeletionsNote(result);
  if (!note.empty()) add_line(QStringLiteral("Upozornění: ") + FromAnsi(note) + FromUtf8(kRowGuidHint));
  for (const std::string& run_note : result.Notes)
    add_line(QStringLiteral("Upozornění: ") + FromAnsi(run_note));
  for (const std::string& line : replication::ArchiveProtectionLines(result)) add_line(FromAnsi(line));
  if (!result.MovedAsidePath.empty())
    add_line(QStringLiteral("Předchozí archiv přejmenován na: ") + FromUtf8(result.MovedAsidePath));
  for (const std::string& removed : result.RemovedBackups)
    add_line(QStringLiteral("Odstraněn starší archiv: ") + FromUtf8(removed));
  return report;
}

}  // namespace

TfrmExport::TfrmExport(const replication::tDatabaseAccess& access, dataset::TDataSet& export_list,
                       QWidget* parent)
    : TRunProgress(parent),
      memoReport(new QPlainTextEdit(this)),
      access_(access),
      export_list_(export_list),
      definition_(DefinitionOf(export_list_)) {
  setWindowTitle(FromAnsi(replication::ExportCaption(definition_)));
  Progress_DB->setVisible(false);
  memoReport->setReadOnly(true);
  memoReport->setLineWrapMode(QPlainTextEdit::NoWrap);
  memoReport->setVisible(false);
  auto* body = static_cast<QVBoxLayout*>(layout());
  body->insertWidget(body->count() - 1, memoReport);
}

TfrmExport::~TfrmExport() = default;

void TfrmExport::Execute() {
  replication::tExportRun run(access_, core::ReplOptions(), *this, replication::tTextLoss::Ask);
  result_ = run.Run(definition_);
  const QString report = ReportOf(result_);
  memoReport->setPlainText(report);
  memoReport->setVisible(!report.isEmpty());
}

bool TfrmExport::AllowTextLoss(const std::string& question) {
  return MessageDlg(this, tMsgKind::Confirmation, FromAnsi(question), {tMsgButton::Yes, tMsgButton::No},
                    tMsgButton::No) == tMsgButton::Yes;
}

}  // namespace tamaril::ui
