#include "ui/export_window.h"

#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QTreeWidget>
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

// The box a finished run ends with: information only when the archive went out as it should.
tMsgKind ResultKind(replication::tExportOutcome outcome) {
  switch (outcome) {
    case replication::tExportOutcome::Success: return tMsgKind::Information;
    case replication::tExportOutcome::Warnings:
    case replication::tExportOutcome::TextLossRefused:
    case replication::tExportOutcome::Cancelled: return tMsgKind::Warning;
    case replication::tExportOutcome::Failed:
    case replication::tExportOutcome::Unplaced: return tMsgKind::Error;
  }
  return tMsgKind::Error;
}

}  // namespace

TfrmExport::TfrmExport(const replication::tDatabaseAccess& access, dataset::TDataSet& export_list,
                       QWidget* parent)
    : TRunProgress(parent),
      memoReport(new QPlainTextEdit(this)),
      LabelArchive(new QLabel(this)),
      listTables(new QTreeWidget(this)),
      access_(access),
      export_list_(export_list),
      definition_(DefinitionOf(export_list_)) {
  setWindowTitle(FromAnsi(replication::ExportCaption(definition_)));
  Progress_DB->setVisible(false);
  memoReport->setReadOnly(true);
  memoReport->setLineWrapMode(QPlainTextEdit::NoWrap);
  memoReport->setVisible(false);
  LabelArchive->setWordWrap(true);
  LabelArchive->setTextInteractionFlags(Qt::TextSelectableByMouse);
  LabelArchive->setVisible(false);
  listTables->setColumnCount(2);
  listTables->setHeaderLabels({QStringLiteral("Tabulka"), QStringLiteral("Řádků")});
  listTables->setRootIsDecorated(false);
  listTables->header()->setStretchLastSection(false);
  listTables->header()->setSectionResizeMode(0, QHeaderView::Stretch);
  listTables->header()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
  listTables->setMaximumHeight(160);
  listTables->setVisible(false);
  auto* body = static_cast<QVBoxLayout*>(layout());
  body->insertWidget(body->count() - 1, listTables);
  body->insertWidget(body->count() - 1, LabelArchive);
  body->insertWidget(body->count() - 1, memoReport);
  setMinimumWidth(480);
}

TfrmExport::~TfrmExport() = default;

void TfrmExport::Execute() {
  result_text_.clear();
  replication::tExportRun run(access_, core::ReplOptions(), *this, replication::tTextLoss::Ask);
  result_ = run.Run(definition_);
  const QString report = ReportOf(result_);
  memoReport->setPlainText(report);
  memoReport->setVisible(!report.isEmpty());
  listTables->clear();
  long long written = 0;
  for (const auto& [table, rows] : result_.Rows) {
    auto* item = new QTreeWidgetItem({FromAnsi(table), QString::number(rows)});
    item->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
    listTables->addTopLevelItem(item);
    written += rows;
  }
  if (!result_.Rows.empty()) {
    auto* item = new QTreeWidgetItem({QStringLiteral("Celkem"), QString::number(written)});
    item->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
    QFont bold = item->font(0);
    bold.setBold(true);
    item->setFont(0, bold);
    item->setFont(1, bold);
    listTables->addTopLevelItem(item);
  }
  // The counts tell what an archive holds: without one (a failed or cancelled run) nothing went out.
  const std::string& archive = !result_.ArchivePath.empty() ? result_.ArchivePath : result_.PendingPath;
  listTables->setVisible(!result_.Rows.empty() && !archive.empty());
  LabelArchive->setText(QStringLiteral("Archiv: ") + FromUtf8(archive));
  LabelArchive->setVisible(!archive.empty());
  UpdateDisplay();
  tMessage message;
  message.kind = ResultKind(result_.Outcome);
  message.text = FromAnsi(result_text_.empty() ? result_.Text : result_text_);
  MessageBoxes().Show(this, message);
}

void TfrmExport::ShowMessage(const std::string& text) { result_text_ = text; }

bool TfrmExport::AllowTextLoss(const std::string& question) {
  return MessageDlg(this, tMsgKind::Confirmation, FromAnsi(question), {tMsgButton::Yes, tMsgButton::No},
                    tMsgButton::No) == tMsgButton::Yes;
}

}  // namespace tamaril::ui
