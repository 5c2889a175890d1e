#include "ui/import_window.h"

#include <QGridLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include <array>
#include <cstdint>

#include "core/repl_options.h"
#include "dataset/dataset.h"
#include "replication/run_host.h"
#include "ui/error_windows.h"
#include "ui/message_box.h"
#include "ui/qt_text.h"

namespace tamaril::ui {
namespace {

constexpr int kCounterCount = 7;

const std::array<const char*, kCounterCount> kCounterNames = {
    "Zpracováno:", "Duplicitní:", "Přidáno:", "Aktualizováno:", "Smazáno:", "Ignorováno:", "Konflikty:"};

std::array<std::int64_t, kCounterCount> Values(const replication::tImportCounters& counters) {
  return {counters.processed, counters.duplicates, counters.appended, counters.updated,
          counters.deleted,   counters.ignored,    counters.conflicts};
}

}  // namespace

TfrmImport::TfrmImport(const replication::tDatabaseAccess& access, dataset::TDataSet& import_list,
                       QWidget* parent)
    : TRunProgress(parent),
      LabelFound(new QLabel(this)),
      btnShowConflicts(new QPushButton(QStringLiteral("Zobrazit seznam konfliktů"), this)),
      access_(access),
      import_list_(import_list),
      run_(std::make_unique<replication::tImportRun>(access_, core::ReplOptions(), import_list_, *this,
                                                     RunOptions())),
      counters_(new QGridLayout) {
  setWindowTitle(QStringLiteral("Import dat"));
  Progress_DB->setVisible(false);
  LabelFound->setText(QStringLiteral("Nalezeno: %1").arg(run_->FindArchives().size()));

  counters_->addWidget(new QLabel(QStringLiteral("Archiv"), this), 0, 1, Qt::AlignRight);
  counters_->addWidget(new QLabel(QStringLiteral("Celkem"), this), 0, 2, Qt::AlignRight);
  for (int row = 0; row < kCounterCount; ++row) {
    counters_->addWidget(new QLabel(QString::fromUtf8(kCounterNames.at(static_cast<std::size_t>(row))), this),
                         row + 1, 0);
    for (int column = 1; column <= 2; ++column)
      counters_->addWidget(new QLabel(QStringLiteral("0"), this), row + 1, column, Qt::AlignRight);
  }
  counters_->setColumnStretch(0, 1);

  btnShowConflicts->setEnabled(false);
  connect(btnShowConflicts, &QPushButton::clicked, this, [this] { ShowConflicts(); });

  auto* body = static_cast<QVBoxLayout*>(layout());
  body->insertWidget(0, LabelFound);
  body->insertLayout(body->count() - 1, counters_);
  auto* conflicts = new QHBoxLayout;
  conflicts->addStretch();
  conflicts->addWidget(btnShowConflicts);
  conflicts->addStretch();
  body->addLayout(conflicts);
}

TfrmImport::~TfrmImport() = default;

// An archive not newer than the last import of its Signature goes in only when the person says
// so; the merge moves the bars.
replication::tImportRunOptions TfrmImport::RunOptions() {
  replication::tImportRunOptions options;
  options.confirm_reimport = true;
  options.progress = [this](replication::tImportProgressStep step,
                            const replication::tImportProgress& progress) {
    ShowMergeProgress(step, progress);
  };
  return options;
}

// The whole-run bar follows the archive's rows, the table bar the section's; both are shown
// while an archive is merged (the run hides them before and after). The rows are counted beside
// the merge: until a total is known its bar runs without a share.
void TfrmImport::ShowMergeProgress(replication::tImportProgressStep step,
                                   const replication::tImportProgress& progress) {
  const bool end = step == replication::tImportProgressStep::ArchiveEnd;
  if (step == replication::tImportProgressStep::ArchiveStart) ShowProgress(true, true);
  const auto show = [end](QProgressBar* bar, std::int64_t done, std::int64_t total) {
    if (total <= 0 && !end) {
      bar->setRange(0, 0);
      return;
    }
    bar->setRange(0, 100);
    bar->setValue(replication::ProgressPercent(done, total));
  };
  show(Progress_DB, progress.archive_rows, progress.archive_total);
  show(Progress_Tbl, progress.table_rows, progress.table_total);
}

QString TfrmImport::CounterText(int row, bool total) const {
  QLayoutItem* item = counters_->itemAtPosition(row + 1, total ? 2 : 1);
  auto* label = item != nullptr ? qobject_cast<QLabel*>(item->widget()) : nullptr;
  return label != nullptr ? label->text() : QString();
}

void TfrmImport::Execute() {
  result_ = run_->Run();
  replication::tImportCounters last;
  for (const replication::tImportedArchive& archive : result_.Archives)
    if (archive.State == replication::tArchiveState::Imported) last = archive.Counters;
  ShowCounters(last, result_.Total);
  btnShowConflicts->setEnabled(!result_.Conflicts->Empty());
}

void TfrmImport::ShowCounters(const replication::tImportCounters& archive,
                              const replication::tImportCounters& total) {
  const auto archive_values = Values(archive);
  const auto total_values = Values(total);
  for (int row = 0; row < kCounterCount; ++row) {
    const auto index = static_cast<std::size_t>(row);
    for (int column = 1; column <= 2; ++column) {
      auto* label = qobject_cast<QLabel*>(counters_->itemAtPosition(row + 1, column)->widget());
      label->setText(QString::number(column == 1 ? archive_values.at(index) : total_values.at(index)));
    }
  }
}

void TfrmImport::ShowConflicts() {
  TFormErrors errors(*result_.Conflicts, this);
  errors.exec();
}

bool TfrmImport::CanClose() {
  bool may_close = false;
  RunAction(this, [this, &may_close] { may_close = run_->OfferRestores(result_); });
  return may_close;
}

}  // namespace tamaril::ui
