#include "ui/progress_window.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

#include <algorithm>
#include <utility>

#include "replication/run_host.h"
#include "text/error.h"
#include "ui/message_box.h"
#include "ui/qt_text.h"

namespace tamaril::ui {
namespace {

// Pending input is handled, and the display brought up to date, at most this often while rows
// go by, so that progress costs the run little.
constexpr qint64 kEventsIntervalMs = 200;

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

void TbaseDBProgress::reject() { stopped_ = true; }

void TbaseDBProgress::ProcessPendingInput(bool force) {
  if (!force && since_events_.elapsed() < kEventsIntervalMs) return;
  UpdateDisplay();
  QApplication::processEvents();
  since_events_.restart();
}

void TbaseDBProgress::CheckStopped() const {
  if (stopped_) throw EAbort();
}

TRunProgress::TRunProgress(QWidget* parent)
    : TbaseDBProgress(parent),
      LabelRecords(new QLabel(QStringLiteral("Počet záznamů: 0"), this)),
      LabelTime(new QLabel(this)) {
  LabelWhatDoing->clear();
  btnStorno->setVisible(true);
  // The button asks the run to stop instead of raising the stop flag: the run asks first.
  disconnect(btnStorno, &QPushButton::clicked, nullptr, nullptr);
  connect(btnStorno, &QPushButton::clicked, this, [this] { done(QDialog::Rejected); });
  auto* body = static_cast<QVBoxLayout*>(layout());
  body->insertWidget(body->count() - 1, LabelRecords);
  body->insertWidget(body->count() - 1, LabelTime);
}

void TRunProgress::SetActivity(const std::string& text) { LabelWhatDoing->setText(FromAnsi(text)); }

void TRunProgress::SetTableName(const std::string& name) { LabelTblName->setText(FromAnsi(name)); }

void TRunProgress::SetRunProgress(int percent) {
  // A share given without a table position (a bar reset) stands as given.
  if (!positioned_) table_count_ = 0;
  positioned_ = false;
  run_percent_ = percent;
}

void TRunProgress::SetTablePosition(int position, int table_count) {
  table_begun_ = table_begun_ || position != table_position_;
  table_position_ = position;
  table_count_ = table_count;
  positioned_ = true;
}

void TRunProgress::SetTableProgress(int percent) { table_percent_ = percent; }

void TRunProgress::ShowProgress(bool run_bar, bool table_bar) {
  Progress_DB->setVisible(run_bar);
  Progress_Tbl->setVisible(table_bar);
  UpdateDisplay();
}

void TRunProgress::SetRecordCount(long long count) {
  records_ = count;
  if (!own_rate_) rate_rows_ = count;
}

void TRunProgress::ProcessEvents() {
  // A table's start is shown at once: there are few of them, and each costs the run a query anyway.
  ProcessPendingInput(std::exchange(table_begun_, false));
}

int TRunProgress::RunPercent() const {
  if (table_count_ <= 0) return run_percent_;
  // The tables before the current one are done; the current one counts with its rows.
  const long long done = std::max(table_position_ - 1, 0);
  return replication::ProgressPercent(done * 100 + table_percent_, 100LL * table_count_);
}

qint64 TRunProgress::ElapsedMs() const {
  if (finished_) return run_ms_;
  return run_clock_.isValid() ? run_clock_.elapsed() : 0;
}

QString TRunProgress::ElapsedText(qint64 ms) {
  const qint64 seconds = ms / 1000;
  return QStringLiteral("%1:%2:%3")
      .arg(seconds / 3600)
      .arg(seconds / 60 % 60, 2, 10, QLatin1Char('0'))
      .arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

QString TRunProgress::RateText(long long rows, qint64 ms) {
  constexpr qint64 kShortestMs = 100;
  if (ms < kShortestMs) return {};
  const long long rate = rows * 1000 / ms;
  // Thousands apart by a blank, as Czech writes them.
  QString digits = QString::number(rate);
  for (qsizetype at = digits.size() - 3; at > 0; at -= 3) digits.insert(at, QChar(0x00A0));
  return digits + QStringLiteral(" řádků/s");
}

void TRunProgress::UpdateDisplay() {
  UpdateBars();
  UpdateCountAndTime();
}

void TRunProgress::UpdateBars() {
  Progress_DB->setValue(RunPercent());
  Progress_Tbl->setValue(table_percent_);
}

void TRunProgress::UpdateCountAndTime() {
  LabelRecords->setText(QStringLiteral("Počet záznamů: %1").arg(records_));
  const qint64 ms = ElapsedMs();
  QString time = QStringLiteral("Uplynulý čas: ") + ElapsedText(ms);
  const QString rate = RateText(rate_rows_, ms);
  if (!rate.isEmpty()) time += QStringLiteral(", ") + rate;
  LabelTime->setText(time);
}

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
      this, tMsgKind::Confirmation, FromAnsi(question),
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
  // The database may hold part of an archive: the question comes with the warning sign.
  const tMsgButton answer = MessageDlg(this, tMsgKind::Warning, FromAnsi(question),
                                       {tMsgButton::Yes, tMsgButton::No, tMsgButton::Abort});
  switch (answer) {
    case tMsgButton::Yes: return replication::tRunAnswer::Yes;
    case tMsgButton::No: return replication::tRunAnswer::No;
    default: return replication::tRunAnswer::Abort;
  }
}

void TRunProgress::ShowMessage(const std::string& text) { ui::ShowMessage(this, FromAnsi(text)); }

void TRunProgress::reject() { done(QDialog::Rejected); }

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
  run_clock_.start();
  RunAction(this, [this] { Execute(); });
  run_ms_ = run_clock_.elapsed();
  running_ = false;
  finished_ = true;
  ClearCancel();
  UpdateDisplay();
  btnStorno->setText(QStringLiteral("Zavřít"));
}

}  // namespace tamaril::ui
