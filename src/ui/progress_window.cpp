#include "ui/progress_window.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "replication/run_host.h"
#include "text/error.h"
#include "ui/qt_text.h"

namespace tamaril::ui {
namespace {

// Pending input is handled at most this often while rows go by, so that progress costs the run little.
constexpr qint64 kEventsIntervalMs = 100;

}  // namespace

TbaseDBProgress::TbaseDBProgress(QWidget* parent)
    : QDialog(parent),
      LabelWhatDoing(new QLabel(QStringLiteral("Zpracovávám tabulku"), this)),
      LabelTblName(new QLabel(this)),
      Progress_DB(new QProgressBar(this)),
      Progress_Tbl(new QProgressBar(this)),
      btnStorno(new QPushButton(QStringLiteral("Storno"), this)) {
  setWindowTitle(QStringLiteral("Analyzuji strukturu databáze"));
  setModal(true);
  for (QProgressBar* bar : {Progress_DB, Progress_Tbl}) {
    bar->setRange(0, 100);
    bar->setValue(0);
  }
  QFont bold = LabelTblName->font();
  bold.setBold(true);
  LabelTblName->setFont(bold);
  LabelTblName->setMinimumWidth(360);
  btnStorno->setVisible(false);
  connect(btnStorno, &QPushButton::clicked, this, [this] { stopped_ = true; });

  auto* labels = new QHBoxLayout;
  labels->addWidget(LabelWhatDoing);
  labels->addWidget(LabelTblName, 1);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(btnStorno);
  buttons->addStretch();
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(labels);
  layout->addWidget(Progress_DB);
  layout->addWidget(Progress_Tbl);
  layout->addLayout(buttons);
  since_events_.start();
}

void TbaseDBProgress::TableProgress(int position, const std::string& table_name, int table_count) {
  const QString name = FromAnsi(table_name);
  if (LabelTblName->text() != name) LabelTblName->setText(name);
  Progress_DB->setValue(replication::ProgressPercent(position, table_count));
  Progress_Tbl->setValue(0);
  ProcessPendingInput(true);
  CheckStopped();
}

void TbaseDBProgress::RowProgress(long long position, long long row_count) {
  Progress_Tbl->setValue(replication::ProgressPercent(position, row_count));
  ProcessPendingInput();
  CheckStopped();
}

dbstruct::ScanProgressEvent TbaseDBProgress::ScanProgress() {
  return [this](dbstruct::tDatabase_Structure&, int position, const std::string& table_name,
                int table_count) { TableProgress(position, table_name, table_count); };
}

void TbaseDBProgress::ProcessPendingInput(bool force) {
  if (!force && since_events_.elapsed() < kEventsIntervalMs) return;
  QApplication::processEvents();
  since_events_.restart();
}

void TbaseDBProgress::CheckStopped() const {
  if (stopped_) throw EAbort();
}

}  // namespace tamaril::ui
