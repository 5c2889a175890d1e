#include "ui/import_window.h"

#include <QDesktopServices>
#include <QGridLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>
#include <array>
#include <cstdint>

#include "core/repl_options.h"
#include "dataset/dataset.h"
#include "replication/import_report.h"
#include "replication/run_host.h"
#include "text/encoding.h"
#include "ui/error_windows.h"
#include "ui/message_box.h"
#include "ui/qt_text.h"

namespace tamaril::ui {
namespace {

constexpr int kCounterCount = 8;

const std::array<const char*, kCounterCount> kCounterNames = {
    "Zpracováno:", "Duplicitní:", "Přidáno:",   "Aktualizováno:",
    "Smazáno:",    "Ignorováno:", "Konflikty:", "Odmítnuto (tabulka v databázi chybí):"};

std::array<std::int64_t, kCounterCount> Values(const replication::tImportCounters& counters) {
  return {counters.processed, counters.duplicates, counters.appended,  counters.updated,
          counters.deleted,   counters.ignored,    counters.conflicts, counters.refused};
}

// The box a finished run ends with: information only when everything went in.
tMsgKind ResultKind(replication::tImportOutcome outcome) {
  switch (outcome) {
    case replication::tImportOutcome::Success: return tMsgKind::Information;
    case replication::tImportOutcome::Conflicts:
    case replication::tImportOutcome::Warnings:
    case replication::tImportOutcome::Cancelled: return tMsgKind::Warning;
    case replication::tImportOutcome::Failed: return tMsgKind::Error;
  }
  return tMsgKind::Error;
}

// A bar showing `done` of `total` rows; while the total is not known it runs without a share.
void ShowRows(QProgressBar* bar, std::int64_t done, std::int64_t total, bool final) {
  if (total <= 0 && !final) {
    bar->setRange(0, 0);
    return;
  }
  bar->setRange(0, 100);
  bar->setValue(replication::ProgressPercent(done, total));
  bar->setFormat(QStringLiteral("%1 z %2 řádků (%p %)").arg(done).arg(total));
}

}  // namespace

TfrmImport::TfrmImport(const replication::tDatabaseAccess& access, dataset::TDataSet& import_list,
                       QWidget* parent)
    : TRunProgress(parent),
      LabelFound(new QLabel(this)),
      LabelBranch(new QLabel(this)),
      LabelDatabase(new QLabel(this)),
      LabelArchive(new QLabel(this)),
      memoOutcome(new QPlainTextEdit(this)),
      btnShowConflicts(new QPushButton(QStringLiteral("Zobrazit seznam konfliktů"), this)),
      btnOpenReport(new QPushButton(QStringLiteral("Otevřít přehled importu"), this)),
      access_(access),
      import_list_(import_list),
      run_(std::make_unique<replication::tImportRun>(access_, core::ReplOptions(), import_list_, *this,
                                                     RunOptions())),
      counters_(new QGridLayout) {
  setWindowTitle(QStringLiteral("Import dat"));
  OwnRate();
  // The bars show an archive's rows: hidden until its merge begins.
  Progress_DB->setVisible(false);
  Progress_Tbl->setVisible(false);
  LabelFound->setText(QStringLiteral("Nalezeno: %1").arg(run_->FindArchives().size()));

  auto* where = new QGridLayout;
  const auto add_row = [this, where](int row, const char* caption, QLabel* value) {
    where->addWidget(new QLabel(QString::fromUtf8(caption), this), row, 0);
    value->setTextInteractionFlags(Qt::TextSelectableByMouse);
    where->addWidget(value, row, 1);
  };
  add_row(0, "Pobočka:", LabelBranch);
  add_row(1, "Databáze:", LabelDatabase);
  add_row(2, "Archiv:", LabelArchive);
  where->setColumnStretch(1, 1);

  counters_->addWidget(new QLabel(QStringLiteral("Archiv"), this), 0, 1, Qt::AlignRight);
  counters_->addWidget(new QLabel(QStringLiteral("Celkem"), this), 0, 2, Qt::AlignRight);
  for (int row = 0; row < kCounterCount; ++row) {
    counters_->addWidget(new QLabel(QString::fromUtf8(kCounterNames.at(static_cast<std::size_t>(row))), this),
                         row + 1, 0);
    for (int column = 1; column <= 2; ++column)
      counters_->addWidget(new QLabel(QStringLiteral("0"), this), row + 1, column, Qt::AlignRight);
  }
  counters_->setColumnStretch(0, 1);
  counters_->setColumnMinimumWidth(1, 90);
  counters_->setColumnMinimumWidth(2, 90);

  memoOutcome->setReadOnly(true);
  memoOutcome->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  memoOutcome->setVisible(false);
  memoOutcome->setMaximumHeight(110);

  btnShowConflicts->setEnabled(false);
  connect(btnShowConflicts, &QPushButton::clicked, this, [this] { ShowConflicts(); });

  auto* body = static_cast<QVBoxLayout*>(layout());
  body->insertWidget(0, LabelFound);
  body->insertLayout(1, where);
  body->insertLayout(body->count() - 1, counters_);
  body->insertWidget(body->count() - 1, memoOutcome);
  auto* conflicts = new QHBoxLayout;
  conflicts->addStretch();
  conflicts->addWidget(btnShowConflicts);
  btnOpenReport->setEnabled(false);
  connect(btnOpenReport, &QPushButton::clicked, this, [this] { OpenReport(); });
  conflicts->addWidget(btnOpenReport);
  conflicts->addStretch();
  body->addLayout(conflicts);
  setMinimumWidth(520);
}

TfrmImport::~TfrmImport() = default;

// An archive not newer than the last import of its Signature goes in only when the person says
// so; the merge moves the bars and the counters.
replication::tImportRunOptions TfrmImport::RunOptions() {
  replication::tImportRunOptions options;
  options.confirm_reimport = true;
  options.done_folder = text::AnsiToUtf8(core::ReplOptions().DoneFolder);
  options.progress = [this](replication::tImportProgressStep step,
                            const replication::tImportProgress& progress) {
    ShowMergeProgress(step, progress);
  };
  options.archive_begun = [this](const replication::tImportProgress& progress) { ShowArchive(progress); };
  return options;
}

void TfrmImport::ShowArchive(const replication::tImportProgress& progress) {
  merge_ = progress;
  merging_ = false;
  LabelBranch->setText(FromAnsi(progress.client));
  LabelDatabase->setText(FromAnsi(progress.database));
  LabelArchive->setText(QStringLiteral("%1 z %2: %3")
                            .arg(progress.archive_number)
                            .arg(progress.archive_count)
                            .arg(FromAnsi(progress.archive)));
  UpdateDisplay();
}

// Per row only the numbers are taken (the texts stay as the section's start told them); the
// widgets follow a few times a second. An archive's or a section's start shows at once.
void TfrmImport::ShowMergeProgress(replication::tImportProgressStep step,
                                   const replication::tImportProgress& progress) {
  using Step = replication::tImportProgressStep;
  if (step == Step::Row) {
    merge_.archive_rows = progress.archive_rows;
    merge_.archive_total = progress.archive_total;
    merge_.table_rows = progress.table_rows;
    merge_.table_total = progress.table_total;
    merge_.counters = progress.counters;
    return;
  }
  merge_ = progress;
  merging_ = step != Step::ArchiveEnd;
  if (step == Step::ArchiveStart) ShowProgress(true, true);
  if (step == Step::ArchiveEnd) UpdateBars();
  if (step == Step::TableStart) ProcessPendingInput(true);
}

void TfrmImport::UpdateBars() {
  const bool final = !merging_;
  ShowRows(Progress_DB, merge_.archive_rows, merge_.archive_total, final);
  ShowRows(Progress_Tbl, merge_.table_rows, merge_.table_total, final);
}

void TfrmImport::UpdateDisplay() {
  if (Finished()) {
    UpdateCountAndTime();
    return;
  }
  UpdateBars();
  replication::tImportCounters total = merge_.run_counters;
  total += merge_.counters;
  ShowCounters(merge_.counters, total);
  SetRateRows(merge_.run_counters.processed + merge_.counters.processed);
  UpdateCountAndTime();
}

QString TfrmImport::CounterText(int row, bool total) const {
  QLayoutItem* item = counters_->itemAtPosition(row + 1, total ? 2 : 1);
  auto* label = item != nullptr ? qobject_cast<QLabel*>(item->widget()) : nullptr;
  return label != nullptr ? label->text() : QString();
}

void TfrmImport::ShowMessage(const std::string& text) { result_text_ = text; }

void TfrmImport::Execute() {
  result_text_.clear();
  result_ = run_->Run();
  replication::tImportCounters last;
  for (const replication::tImportedArchive& archive : result_.Archives)
    if (archive.State == replication::tArchiveState::Imported) last = archive.Counters;
  merging_ = false;
  ShowCounters(last, result_.Total);
  SetRateRows(result_.Total.processed);
  UpdateCountAndTime();
  // The list holds the conflicts and the archives that failed.
  const bool failed = std::any_of(result_.Archives.begin(), result_.Archives.end(), [](const auto& archive) {
    return archive.State == replication::tArchiveState::Failed;
  });
  btnShowConflicts->setEnabled(!result_.Conflicts->Empty() || failed);
  WriteReport();
  ShowResult();
}

// Every archive's outcome stays in the window; the box says how the run went, in a box of its
// kind, once the counters above are final.
void TfrmImport::ShowResult() {
  const QString summary = FromAnsi(replication::ImportSummary(result_));
  memoOutcome->setPlainText(QString(summary).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
  memoOutcome->setVisible(!summary.isEmpty());
  tMessage message;
  message.kind = ResultKind(result_.Outcome);
  message.text = FromAnsi(result_text_.empty() ? result_.Text : result_text_);
  if (!summary.isEmpty() && !message.text.contains(summary)) message.detail = summary;
  MessageBoxes().Show(this, message);
}

void TfrmImport::ShowCounters(const replication::tImportCounters& archive,
                              const replication::tImportCounters& total) {
  const auto archive_values = Values(archive);
  const auto total_values = Values(total);
  for (int row = 0; row < kCounterCount; ++row) {
    const auto index = static_cast<std::size_t>(row);
    for (int column = 1; column <= 2; ++column) {
      auto* label = qobject_cast<QLabel*>(counters_->itemAtPosition(row + 1, column)->widget());
      const QString text = QString::number(column == 1 ? archive_values.at(index) : total_values.at(index));
      if (label->text() != text) label->setText(text);
    }
  }
}

// A run that found no archive and failed in nothing has nothing to report.
void TfrmImport::WriteReport() {
  report_path_.clear();
  btnOpenReport->setEnabled(false);
  if (!replication::LeavesImportReport(result_)) return;
  try {
    report_path_ = replication::WriteImportReportBesideLog(result_, core::ReplOptions());
    btnOpenReport->setEnabled(true);
    btnOpenReport->setToolTip(FromUtf8(report_path_));
  } catch (const std::exception& error) {
    btnOpenReport->setText(QStringLiteral("Přehled importu nelze zapsat"));
    btnOpenReport->setToolTip(FromAnsi(error.what()));
  }
}

void TfrmImport::OpenReport() {
  if (report_path_.empty()) return;
  if (!QDesktopServices::openUrl(QUrl::fromLocalFile(FromUtf8(report_path_)))) {
    MessageDlg(this, tMsgKind::Error,
               QStringLiteral("Přehled importu nelze otevřít v prohlížeči. Je uložen v souboru %1")
                   .arg(FromUtf8(report_path_)),
               {tMsgButton::Ok});
  }
}

void TfrmImport::ShowConflicts() {
  TFormErrors errors(*result_.Conflicts, this);
  errors.SetRunOutcome(result_);
  errors.exec();
}

bool TfrmImport::CanClose() {
  bool may_close = false;
  RunAction(this, [this, &may_close] { may_close = run_->OfferRestores(result_); });
  return may_close;
}

}  // namespace tamaril::ui
