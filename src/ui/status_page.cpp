#include "ui/status_page.h"

#include <QAction>
#include <QApplication>
#include <QBoxLayout>
#include <QColor>
#include <QEvent>
#include <QFont>
#include <QFontMetrics>
#include <QFrame>
#include <QGridLayout>
#include <QHelpEvent>
#include <QIcon>
#include <QLabel>
#include <QPainter>
#include <QPalette>
#include <QScrollArea>
#include <QSpinBox>
#include <QStyle>
#include <QToolButton>
#include <QToolTip>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>

#include "core/maindata.h"
#include "core/repl_options.h"
#include "dataset/dataset.h"
#include "dataset/field.h"
#include "dbstruct/keyed_table.h"
#include "replication/archive.h"
#include "text/encoding.h"
#include "ui/message_box.h"
#include "ui/qt_child.h"
#include "ui/qt_text.h"

namespace tamaril::ui {
namespace {

using replication::tImportRunRows;

constexpr int kMaxStaleDays = 3650;
constexpr int kIconSize = 16;

// Texts of the engine's status helpers, which speak Windows-1250.
QString EngineText(const std::string& ansi) { return FromAnsi(ansi); }

QString FileName(const std::string& utf8_path) {
  return FromUtf8(std::filesystem::path(utf8_path).filename().string());
}

// The definitions of one list in its order; the list's current row stays current.
std::vector<replication::tStatusDefinition> ListDefinitions(dataset::TDataSet& list, bool import) {
  std::vector<replication::tStatusDefinition> definitions;
  if (!list.Active() || list.IsEmpty()) return definitions;
  const std::string here = list.GetBookmark();
  const char* partner = import ? "ClientName" : "CenterName";
  for (list.First(); !list.Eof(); list.Next()) {
    definitions.push_back({list.FieldByName("Signature").AsString(), list.FieldByName(partner).AsString(),
                           list.FieldByName("ConnectionString").Text(),
                           list.FieldByName("DatabaseName").AsString()});
  }
  if (!here.empty() && list.BookmarkValid(here)) list.GotoBookmark(here);
  return definitions;
}

// The wait cursor for as long as the databases are read.
class tBusyCursor {
 public:
  tBusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~tBusyCursor() { QApplication::restoreOverrideCursor(); }
  tBusyCursor(const tBusyCursor&) = delete;
  tBusyCursor& operator=(const tBusyCursor&) = delete;
};

// How a line of a panel is marked: the icon and the colour go together with a text that says
// the same, so that the mark does not rest on the colour alone.
enum class tMark { Fine, Warning, Error };

QColor MarkColor(tMark mark) {
  switch (mark) {
    case tMark::Warning: return {0x9a, 0x4d, 0x00};
    case tMark::Error: return {0xb0, 0x1c, 0x1c};
    case tMark::Fine: break;
  }
  return {0x1e, 0x6e, 0x2e};
}

QIcon MarkIcon(tMark mark) {
  QStyle* style = QApplication::style();
  switch (mark) {
    case tMark::Warning: return style->standardIcon(QStyle::SP_MessageBoxWarning);
    case tMark::Error: return style->standardIcon(QStyle::SP_MessageBoxCritical);
    case tMark::Fine: break;
  }
  return style->standardIcon(QStyle::SP_DialogApplyButton);
}

// A label that shows its text as it stands: the texts come from definitions, databases and
// archive headers and are never taken for markup.
QLabel* PlainLabel(const QString& text, QWidget* parent = nullptr) {
  auto* label = MakeChild<QLabel>(text, parent);
  label->setTextFormat(Qt::PlainText);
  label->setWordWrap(true);
  label->setTextInteractionFlags(Qt::TextSelectableByMouse);
  return label;
}

// One marked line: the icon, then the text in the mark's colour.
QWidget* MarkLine(tMark mark, const QString& text) {
  auto* line = MakeChild<QWidget>();
  auto* layout = MakeChild<QHBoxLayout>(line);
  layout->setContentsMargins(0, 0, 0, 0);
  auto* icon = MakeChild<QLabel>(line);
  icon->setPixmap(MarkIcon(mark).pixmap(kIconSize, kIconSize));
  icon->setAlignment(Qt::AlignTop);
  layout->addWidget(icon);
  QLabel* label = PlainLabel(text, line);
  QPalette palette = label->palette();
  palette.setColor(QPalette::WindowText, MarkColor(mark));
  label->setPalette(palette);
  if (mark != tMark::Fine) {
    QFont font = label->font();
    font.setBold(true);
    label->setFont(font);
  }
  layout->addWidget(label, 1);
  return line;
}

QLabel* SectionTitle(const QString& text) {
  QLabel* label = PlainLabel(text);
  QFont font = label->font();
  font.setBold(true);
  font.setPointSizeF(font.pointSizeF() * 1.15);
  label->setFont(font);
  return label;
}

// A panel of one definition: its heading "SHOP – Pobočka Brno, databáze centrum", then the
// marked lines, then the captions with their values.
class tDefinitionPanel {
 public:
  explicit tDefinitionPanel(const replication::tStatusDefinition& definition)
      : frame_(MakeChild<QFrame>()), grid_(MakeChild<QGridLayout>(frame_)) {
    frame_->setFrameShape(QFrame::StyledPanel);
    frame_->setAutoFillBackground(true);
    frame_->setBackgroundRole(QPalette::Base);
    frame_->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Maximum);
    grid_->setColumnStretch(1, 1);
    grid_->setHorizontalSpacing(12);
    QString heading = EngineText(definition.Signature);
    if (!definition.Partner.empty()) heading += QStringLiteral(" – ") + EngineText(definition.Partner);
    heading += QStringLiteral(", databáze ") + EngineText(definition.DatabaseName);
    QLabel* title = PlainLabel(heading, frame_);
    QFont font = title->font();
    font.setBold(true);
    title->setFont(font);
    grid_->addWidget(title, row_++, 0, 1, 2);
  }

  void Mark(tMark mark, const QString& text) { grid_->addWidget(MarkLine(mark, text), row_++, 0, 1, 2); }

  void Value(const QString& caption, const QString& value) {
    QLabel* label = PlainLabel(caption, frame_);
    label->setWordWrap(false);
    label->setForegroundRole(QPalette::PlaceholderText);
    grid_->addWidget(label, row_, 0, Qt::AlignTop);
    grid_->addWidget(PlainLabel(value, frame_), row_++, 1);
  }

  // The chart to the right of every line.
  void Chart(const std::vector<tImportRunRows>& runs) {
    auto* box = MakeChild<QWidget>(frame_);
    auto* layout = MakeChild<QVBoxLayout>(box);
    layout->setContentsMargins(0, 0, 0, 0);
    QLabel* caption =
        PlainLabel(QStringLiteral("Řádky posledních %1 importů").arg(TfraBranchStatus::kRecentRuns), box);
    caption->setForegroundRole(QPalette::PlaceholderText);
    layout->addWidget(caption);
    auto* chart = MakeChild<tImportRowsChart>(box);
    chart->SetRuns(runs);
    layout->addWidget(chart);
    layout->addStretch();
    chart_box_ = box;
  }

  QFrame* Done() {
    if (chart_box_ != nullptr) grid_->addWidget(chart_box_, 0, 2, row_, 1, Qt::AlignTop);
    return frame_;
  }

 private:
  QFrame* frame_;
  QGridLayout* grid_;
  int row_ = 0;
  QWidget* chart_box_ = nullptr;
};

QString GapLine(const replication::tExportNoGap& gap) {
  QString text = EngineText(replication::StatusGapText(gap));
  if (!text.isEmpty()) text[0] = text[0].toUpper();
  return text;
}

QFrame* ImportPanel(const replication::tImportStatus& status, int stale_days) {
  tDefinitionPanel panel(status.Definition);
  if (!status.Error.empty()) {
    panel.Mark(tMark::Error, QStringLiteral("Databázi nelze přečíst: ") + EngineText(status.Error));
  } else {
    if (status.Stale) {
      panel.Mark(tMark::Warning, status.Imported
                                     ? QStringLiteral("Pobočka bez přenosu %1 (práh %2)")
                                           .arg(EngineText(replication::StatusDaysText(status.DaysSince)),
                                                EngineText(replication::StatusDaysText(stale_days)))
                                     : QStringLiteral("Pobočka dosud bez přenosu"));
    }
    for (const replication::tExportNoGap& gap : status.Gaps) panel.Mark(tMark::Warning, GapLine(gap));
    if (!status.Stale && status.Gaps.empty()) panel.Mark(tMark::Fine, QStringLiteral("V pořádku"));
    if (status.Imported) {
      panel.Value(QStringLiteral("Poslední přenos:"),
                  QStringLiteral("č. %1 z %2")
                      .arg(status.LastExportNo)
                      .arg(EngineText(replication::StatusTimeText(status.LastExportTime))));
      panel.Value(QStringLiteral("Importován:"),
                  QStringLiteral("%1, %2 (import č. %3)")
                      .arg(EngineText(replication::StatusTimeText(status.LastImportTime)),
                           EngineText(replication::StatusDaysAgoText(status.DaysSince)))
                      .arg(status.LastImportNo));
    } else {
      panel.Value(QStringLiteral("Poslední přenos:"), QStringLiteral("zatím nic neimportováno"));
    }
  }
  QStringList waiting;
  for (const replication::tFolderArchive& archive : status.Waiting) {
    QString line = QStringLiteral("%1, přenos č. %2 z %3")
                       .arg(FileName(archive.Path))
                       .arg(archive.ExportNo)
                       .arg(EngineText(replication::StatusTimeText(archive.ExportTime)));
    if (status.Error.empty() && archive.ExportNo <= status.HighestExportNo)
      line += QStringLiteral(" (už importován, import ho odmítne)");
    waiting << line;
  }
  panel.Value(QStringLiteral("Ve složce importu:"),
              waiting.isEmpty() ? QStringLiteral("nic nečeká") : waiting.join(QLatin1Char('\n')));
  if (status.Error.empty()) panel.Chart(status.RecentRuns);
  return panel.Done();
}

QString FolderArchiveText(const replication::tExportStatus& status) {
  const QString name = EngineText(status.Definition.Signature + std::string(replication::kArchiveExtension));
  if (!status.FolderExportNo) {
    return status.Exported ? QStringLiteral("už ve složce exportu není (odvezen)")
                           : QStringLiteral("ve složce exportu není");
  }
  if (*status.FolderExportNo < 0)
    return QStringLiteral("ve složce exportu je %1, ale není to čitelný archiv").arg(name);
  if (*status.FolderExportNo == status.LastExportNo)
    return QStringLiteral("%1 čeká ve složce exportu").arg(name);
  return QStringLiteral("ve složce exportu je %1 s přenosem č. %2").arg(name).arg(*status.FolderExportNo);
}

QFrame* ExportPanel(const replication::tExportStatus& status) {
  tDefinitionPanel panel(status.Definition);
  if (!status.Error.empty()) {
    panel.Mark(tMark::Error, QStringLiteral("Databázi nelze přečíst: ") + EngineText(status.Error));
    return panel.Done();
  }
  if (status.Exported) {
    panel.Value(QStringLiteral("Poslední export:"),
                QStringLiteral("č. %1 z %2, %3")
                    .arg(status.LastExportNo)
                    .arg(EngineText(replication::StatusTimeText(status.LastExportTime)),
                         EngineText(replication::StatusRowsText(status.Rows))));
  } else {
    panel.Value(QStringLiteral("Poslední export:"), QStringLiteral("zatím nic neexportováno"));
  }
  panel.Value(QStringLiteral("Archiv:"), FolderArchiveText(status));
  return panel.Done();
}

}  // namespace

// ---------------------------------------------------------------------------------------------

tImportRowsChart::tImportRowsChart(QWidget* parent) : QWidget(parent) {
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
  setAccessibleName(QStringLiteral("Řádky posledních importů"));
}

void tImportRowsChart::SetRuns(std::vector<tImportRunRows> runs) {
  if (runs.size() > static_cast<std::size_t>(kSlots)) runs.erase(runs.begin(), runs.end() - kSlots);
  runs_ = std::move(runs);
  QStringList described;
  for (const tImportRunRows& run : runs_) described << RunText(run);
  setAccessibleDescription(described.isEmpty() ? QStringLiteral("Zatím žádný import")
                                               : described.join(QLatin1Char('\n')));
  update();
}

QString tImportRowsChart::RunText(const tImportRunRows& run) {
  return QStringLiteral("Import č. %1 (přenos č. %2) %3: %4")
      .arg(run.ImportNo)
      .arg(run.ExportNo)
      .arg(FromAnsi(replication::StatusTimeText(run.ImportTime)),
           FromAnsi(replication::StatusRowsText(run.Rows)));
}

QSize tImportRowsChart::sizeHint() const {
  const int line = fontMetrics().height();
  return {kSlots * 9 + 2, 2 * line + 64};
}

QSize tImportRowsChart::minimumSizeHint() const { return sizeHint(); }

QRect tImportRowsChart::PlotArea() const {
  const int line = fontMetrics().height();
  return rect().adjusted(1, line + 2, -1, -(line + 2));
}

QRect tImportRowsChart::BarSlot(int index) const {
  const QRect plot = PlotArea();
  const int slot = kSlots - static_cast<int>(runs_.size()) + index;
  const int left = plot.left() + plot.width() * slot / kSlots;
  const int right = plot.left() + plot.width() * (slot + 1) / kSlots;
  return {left, plot.top(), right - left, plot.height()};
}

int tImportRowsChart::RunAt(const QPoint& point) const {
  for (int index = 0; index < static_cast<int>(runs_.size()); ++index) {
    const QRect slot = BarSlot(index);
    if (point.x() >= slot.left() && point.x() <= slot.right() && point.y() >= 0 && point.y() < height())
      return index;
  }
  return -1;
}

bool tImportRowsChart::event(QEvent* event) {
  if (event->type() == QEvent::ToolTip) {
    const auto* help = static_cast<QHelpEvent*>(event);
    const int index = RunAt(help->pos());
    if (index >= 0) {
      QToolTip::showText(help->globalPos(), RunText(runs_[static_cast<std::size_t>(index)]), this,
                         BarSlot(index));
    } else {
      QToolTip::hideText();
      event->ignore();
    }
    return true;
  }
  return QWidget::event(event);
}

void tImportRowsChart::paintEvent(QPaintEvent* /*event*/) {
  QPainter painter(this);
  const QPalette& colors = palette();
  const QRect plot = PlotArea();
  QFont small = font();
  small.setPointSizeF(small.pointSizeF() * 0.85);
  painter.setFont(small);
  const QFontMetrics metrics(small);

  painter.fillRect(rect(), colors.color(QPalette::Base));
  painter.setPen(colors.color(QPalette::Mid));
  painter.drawLine(plot.bottomLeft(), plot.bottomRight());
  if (runs_.empty()) {
    painter.setPen(colors.color(QPalette::PlaceholderText));
    painter.drawText(plot, Qt::AlignCenter, QStringLiteral("Zatím žádný import"));
    return;
  }

  std::int64_t highest = 0;
  for (const tImportRunRows& run : runs_) highest = std::max(highest, run.Rows);
  const QColor bar = colors.color(QPalette::Highlight);
  for (int index = 0; index < static_cast<int>(runs_.size()); ++index) {
    const QRect slot = BarSlot(index).adjusted(1, 0, -1, 0);
    const std::int64_t rows = runs_[static_cast<std::size_t>(index)].Rows;
    if (rows <= 0 || highest <= 0) {
      // A run that wrote nothing still shows where it stands.
      painter.fillRect(QRect(slot.left(), plot.bottom() - 1, slot.width(), 2), colors.color(QPalette::Mid));
      continue;
    }
    const int height = std::max(
        2, static_cast<int>(static_cast<double>(rows) / static_cast<double>(highest) * (plot.height() - 1)));
    painter.fillRect(QRect(slot.left(), plot.bottom() - height + 1, slot.width(), height), bar);
  }

  painter.setPen(colors.color(QPalette::PlaceholderText));
  painter.drawText(rect().adjusted(2, 0, -2, 0), Qt::AlignTop | Qt::AlignLeft,
                   QStringLiteral("nejvíce %1").arg(FromAnsi(replication::StatusRowsText(highest))));
  const QRect bottom(rect().left() + 2, plot.bottom() + 2, rect().width() - 4, metrics.height());
  painter.drawText(bottom, Qt::AlignLeft | Qt::AlignVCenter,
                   QStringLiteral("import č. %1").arg(runs_.front().ImportNo));
  if (runs_.size() > 1) {
    painter.drawText(bottom, Qt::AlignRight | Qt::AlignVCenter,
                     QStringLiteral("č. %1").arg(runs_.back().ImportNo));
  }
}

// ---------------------------------------------------------------------------------------------

TfraBranchStatus::TfraBranchStatus(core::TMaindata& maindata, QWidget* parent)
    : QWidget(parent), maindata_(maindata) {
  auto* layout = MakeChild<QVBoxLayout>(this);

  auto* bar = MakeChild<QHBoxLayout>();
  act_Refresh = MakeChild<QAction>(
      QIcon::fromTheme(QStringLiteral("view-refresh"), style()->standardIcon(QStyle::SP_BrowserReload)),
      QStringLiteral("Obnovit"), this);
  act_Refresh->setToolTip(QStringLiteral("Znovu načíst stav poboček z databází a složek"));
  act_Refresh->setStatusTip(act_Refresh->toolTip());
  act_Refresh->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_R));
  act_Refresh->setShortcutContext(Qt::WidgetWithChildrenShortcut);
  addAction(act_Refresh);
  connect(act_Refresh, &QAction::triggered, this, &TfraBranchStatus::RefreshShowingErrors);
  btnRefresh = MakeChild<QToolButton>(this);
  btnRefresh->setDefaultAction(act_Refresh);
  btnRefresh->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
  bar->addWidget(btnRefresh);
  bar->addSpacing(12);
  auto* stale_caption =
      MakeChild<QLabel>(QStringLiteral("Upozornit na pobočku bez importu déle než (dní):"), this);
  bar->addWidget(stale_caption);
  edStaleDays = MakeChild<QSpinBox>(this);
  edStaleDays->setRange(0, kMaxStaleDays);
  edStaleDays->setValue(replication::tBranchStatusOptions{}.StaleDays);
  stale_caption->setBuddy(edStaleDays);
  connect(edStaleDays, &QSpinBox::valueChanged, this, &TfraBranchStatus::StaleDaysChanged);
  bar->addWidget(edStaleDays);
  bar->addStretch();
  layout->addLayout(bar);

  auto* summary = MakeChild<QHBoxLayout>();
  summary_icon_ = MakeChild<QLabel>(this);
  summary->addWidget(summary_icon_);
  lbSummary = PlainLabel(QString(), this);
  summary->addWidget(lbSummary, 1);
  layout->addLayout(summary);

  Scroller = MakeChild<QScrollArea>(this);
  Scroller->setWidgetResizable(true);
  Scroller->setFrameShape(QFrame::NoFrame);
  layout->addWidget(Scroller, 1);
  ShowPlaceholder(QStringLiteral("Stav poboček se načte, když zvolíte Obnovit."));
}

void TfraBranchStatus::Refresh() {
  outdated_ = false;
  const core::TReplOptions& settings = core::ReplOptions();
  replication::tBranchStatusOptions options{.ImportFolder = text::AnsiToUtf8(settings.ImportFolder),
                                            .ExportFolder = text::AnsiToUtf8(settings.ExportFolder),
                                            .StaleDays = edStaleDays->value(),
                                            .Now = dbstruct::NowAsDateTime(),
                                            .RecentRuns = kRecentRuns};
  const std::vector<replication::tStatusDefinition> imports = ListDefinitions(maindata_.ImportDefTbl, true);
  const std::vector<replication::tStatusDefinition> exports = ListDefinitions(maindata_.ExportDefTbl, false);
  replication::tBranchStatus status;
  try {
    const tBusyCursor busy;
    status = replication::ReadBranchStatus(imports, exports, options, maindata_.Logins());
  } catch (...) {
    status_ = {};
    lbSummary->clear();
    summary_icon_->clear();
    ShowPlaceholder(QStringLiteral("Stav poboček nebyl načten. Zvolte Obnovit."));
    throw;
  }
  ShowStatus(std::move(status), options.Now);
}

void TfraBranchStatus::ShowStatus(replication::tBranchStatus status, double now) {
  status_ = std::move(status);
  now_ = now;
  Rebuild();
}

void TfraBranchStatus::MarkOutdated() {
  outdated_ = true;
  if (isVisible()) QueueRefresh();
}

void TfraBranchStatus::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (outdated_) QueueRefresh();
}

void TfraBranchStatus::QueueRefresh() {
  if (refresh_queued_) return;
  // The page paints first; the databases are read once the window is idle again.
  refresh_queued_ = true;
  QMetaObject::invokeMethod(this, "RefreshWhenShown", Qt::QueuedConnection);
}

void TfraBranchStatus::RefreshWhenShown() {
  refresh_queued_ = false;
  // A disabled "Obnovit" means the window does exclusive work: the page waits for it.
  if (outdated_ && isVisible() && act_Refresh->isEnabled()) RefreshShowingErrors();
}

void TfraBranchStatus::RefreshShowingErrors() {
  RunAction(this, [this] { Refresh(); });
}

void TfraBranchStatus::StaleDaysChanged(int days) {
  for (replication::tImportStatus& import : status_.Imports) import.Stale = import.SilentLongerThan(days);
  if (now_ != 0) Rebuild();
}

void TfraBranchStatus::ShowPlaceholder(const QString& text) {
  auto* content = MakeChild<QWidget>();
  auto* layout = MakeChild<QVBoxLayout>(content);
  QLabel* label = PlainLabel(text, content);
  label->setForegroundRole(QPalette::PlaceholderText);
  layout->addWidget(label);
  layout->addStretch();
  Scroller->setWidget(content);
}

void TfraBranchStatus::Rebuild() {
  auto* content = MakeChild<QWidget>();
  auto* layout = MakeChild<QVBoxLayout>(content);
  const int stale_days = edStaleDays->value();

  layout->addWidget(SectionTitle(QStringLiteral("Definice importů")));
  if (status_.Imports.empty()) layout->addWidget(PlainLabel(QStringLiteral("žádné"), content));
  for (const replication::tImportStatus& import : status_.Imports)
    layout->addWidget(ImportPanel(import, stale_days));

  layout->addSpacing(8);
  layout->addWidget(SectionTitle(QStringLiteral("Definice exportů")));
  if (status_.Exports.empty()) layout->addWidget(PlainLabel(QStringLiteral("žádné"), content));
  for (const replication::tExportStatus& exported : status_.Exports) layout->addWidget(ExportPanel(exported));

  if (!status_.Unassigned.empty()) {
    layout->addSpacing(8);
    layout->addWidget(
        MarkLine(tMark::Warning, QStringLiteral("Archivy ve složce importu bez definice importu:")));
    for (const replication::tFolderArchive& archive : status_.Unassigned) {
      layout->addWidget(PlainLabel(QStringLiteral("%1: Signature %2, přenos č. %3")
                                       .arg(FileName(archive.Path), EngineText(archive.Signature))
                                       .arg(archive.ExportNo),
                                   content));
    }
  }
  if (!status_.Unreadable.empty()) {
    layout->addSpacing(8);
    layout->addWidget(
        MarkLine(tMark::Warning,
                 QStringLiteral("Soubory ve složce importu, které nejsou čitelné přenosové archivy:")));
    for (const replication::tUnreadableArchive& file : status_.Unreadable)
      layout->addWidget(PlainLabel(FileName(file.Path), content));
  }
  layout->addStretch();
  Scroller->setWidget(content);

  int attention = 0;
  for (const replication::tImportStatus& import : status_.Imports) {
    if (import.Error.empty() && (import.Stale || !import.Gaps.empty())) ++attention;
  }
  int errors = 0;
  for (const replication::tImportStatus& import : status_.Imports) errors += import.Error.empty() ? 0 : 1;
  for (const replication::tExportStatus& exported : status_.Exports) errors += exported.Error.empty() ? 0 : 1;
  QString summary = QStringLiteral("Stav ze dne %1: ").arg(FromAnsi(replication::StatusTimeText(now_)));
  if (attention == 0 && errors == 0) {
    summary += QStringLiteral("vše v pořádku.");
  } else {
    QStringList parts;
    if (attention > 0) parts << QStringLiteral("pobočky vyžadující pozornost: %1").arg(attention);
    if (errors > 0) parts << QStringLiteral("databáze, které nelze přečíst: %1").arg(errors);
    summary += parts.join(QStringLiteral(", ")) + QLatin1Char('.');
  }
  lbSummary->setText(summary);
  const tMark mark = errors > 0 ? tMark::Error : attention > 0 ? tMark::Warning : tMark::Fine;
  summary_icon_->setPixmap(MarkIcon(mark).pixmap(kIconSize, kIconSize));
}

}  // namespace tamaril::ui
