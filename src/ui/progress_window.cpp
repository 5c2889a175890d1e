#include "ui/progress_window.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

#include "replication/run_host.h"
#include "text/error.h"
#include "ui/message_box.h"
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

TRunProgress::TRunProgress(QWidget* parent)
    : TbaseDBProgress(parent), LabelRecords(new QLabel(QStringLiteral("Počet záznamů: 0"), this)) {
  LabelWhatDoing->clear();
  btnStorno->setVisible(true);
  // The button asks the run to stop instead of raising the stop flag: the run asks first.
  disconnect(btnStorno, &QPushButton::clicked, nullptr, nullptr);
  connect(btnStorno, &QPushButton::clicked, this, [this] { done(QDialog::Rejected); });
  auto* body = static_cast<QVBoxLayout*>(layout());
  body->insertWidget(body->count() - 1, LabelRecords);
}

void TRunProgress::SetActivity(const std::string& text) { LabelWhatDoing->setText(FromAnsi(text)); }

void TRunProgress::SetTableName(const std::string& name) { LabelTblName->setText(FromAnsi(name)); }

void TRunProgress::SetRunProgress(int percent) { Progress_DB->setValue(percent); }

void TRunProgress::SetTableProgress(int percent) { Progress_Tbl->setValue(percent); }

void TRunProgress::ShowProgress(bool run_bar, bool table_bar) {
  Progress_DB->setVisible(run_bar);
  Progress_Tbl->setVisible(table_bar);
}

void TRunProgress::SetRecordCount(long long count) {
  LabelRecords->setText(QStringLiteral("Počet záznamů: %1").arg(count));
}

void TRunProgress::ProcessEvents() { ProcessPendingInput(); }

bool TRunProgress::Confirm(const std::string& question) {
  return MessageDlg(this, tMsgKind::Confirmation, FromAnsi(question), {tMsgButton::Yes, tMsgButton::No}) ==
         tMsgButton::Yes;
}

bool TRunProgress::ContinueAfterError(const std::string& question) {
  return MessageDlg(this, tMsgKind::Error, FromAnsi(question), {tMsgButton::Yes, tMsgButton::Abort}) ==
         tMsgButton::Yes;
}

replication::tRunAnswer TRunProgress::AskBackup(const std::string& question) {
  const tMsgButton answer = MessageDlg(
      this, tMsgKind::Information, FromAnsi(question),
      {tMsgButton::Yes, tMsgButton::No, tMsgButton::Abort, tMsgButton::NoToAll, tMsgButton::YesToAll});
  switch (answer) {
    case tMsgButton::Yes: return replication::tRunAnswer::Yes;
    case tMsgButton::No: return replication::tRunAnswer::No;
    case tMsgButton::NoToAll: return replication::tRunAnswer::NoToAll;
    case tMsgButton::YesToAll: return replication::tRunAnswer::YesToAll;
    default: return replication::tRunAnswer::Abort;
  }
}

replication::tRunAnswer TRunProgress::AskRestore(const std::string& question) {
  const tMsgButton answer = MessageDlg(this, tMsgKind::Confirmation, FromAnsi(question),
                                       {tMsgButton::Yes, tMsgButton::No, tMsgButton::Abort});
  switch (answer) {
    case tMsgButton::Yes: return replication::tRunAnswer::Yes;
    case tMsgButton::No: return replication::tRunAnswer::No;
    default: return replication::tRunAnswer::Abort;
  }
}

void TRunProgress::ShowMessage(const std::string& text) { ui::ShowMessage(this, FromAnsi(text)); }

void TRunProgress::done(int result) {
  if (running_) {
    RequestCancel();
    return;
  }
  if (finished_ && !CanClose()) return;
  TbaseDBProgress::done(result);
}

void TRunProgress::showEvent(QShowEvent* event) {
  TbaseDBProgress::showEvent(event);
  if (started_) return;
  started_ = true;
  QMetaObject::invokeMethod(this, "Start", Qt::QueuedConnection);
}

void TRunProgress::Start() {
  // A window closed before its loop ran does not run at all.
  if (!isVisible()) return;
  running_ = true;
  RunAction(this, [this] { Execute(); });
  running_ = false;
  finished_ = true;
  ClearCancel();
  btnStorno->setText(QStringLiteral("Zavřít"));
}

}  // namespace tamaril::ui
