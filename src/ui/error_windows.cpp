#include "ui/error_windows.h"

#include <QColor>
#include <QHeaderView>
#include <QPalette>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QResizeEvent>
#include <QTableWidget>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <filesystem>

#include "expr/tracking_columns.h"
#include "replication/conflict_list.h"
#include "replication/import_report.h"
#include "replication/import_run.h"
#include "text/encoding.h"
#include "ui/dataset_model.h"
#include "ui/qt_text.h"

namespace tamaril::ui {
namespace {

constexpr int kPanelHeight = 44;
constexpr int kMargin = 8;

// The index of the group a line belongs to; a line of no group (a failure) holds -1.
constexpr int kGroupRole = Qt::UserRole + 1;

QTreeWidgetItem* Line(const QString& text, int group) {
  auto* item = new QTreeWidgetItem({text});
  item->setToolTip(0, text);
  item->setData(0, kGroupRole, group);
  return item;
}

QString ValueText(const replication::tConflictValue& value) {
  if (!value.Present) return QStringLiteral("—");
  if (value.Null) return QStringLiteral("NULL");
  return QString::fromStdString(value.Text);
}

}  // namespace

tCentredButtonPanel::tCentredButtonPanel(QWidget* parent, QPushButton* centred)
    : QWidget(parent), centred_(centred) {
  setFixedHeight(kPanelHeight);
  centred_->setParent(this);
  Centre();
}

void tCentredButtonPanel::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  Centre();
}

void tCentredButtonPanel::Centre() {
  centred_->move((width() - centred_->width()) / 2, (height() - centred_->height()) / 2);
}

TFormErrors::TFormErrors(replication::tConflictList& list, QWidget* parent)
    : QDialog(parent),
      ListView1(new QTreeWidget(this)),
      memoDetail(new QPlainTextEdit(this)),
      gridCompare(new QTableWidget(this)),
      btnShowRecord(new QPushButton(QStringLiteral("Zobrazit záznam"))),
      btnClose(new QPushButton(QStringLiteral("Zavřít"))),
      BottomPanel(new tCentredButtonPanel(this, btnClose)),
      list_(list) {
  setWindowTitle(QStringLiteral("Chyby při přenosu"));
  setModal(true);
  resize(640, 520);
  ListView1->setColumnCount(1);
  ListView1->setHeaderLabels({QStringLiteral("Text")});
  ListView1->header()->setSectionsClickable(false);
  ListView1->setRootIsDecorated(false);
  ListView1->setItemsExpandable(false);
  ListView1->setSelectionMode(QAbstractItemView::SingleSelection);
  // A message longer than the list ends in "…" there; its tooltip and the pane below hold it whole.
  ListView1->header()->setStretchLastSection(true);
  for (QPushButton* button : {btnShowRecord, btnClose}) {
    button->setParent(BottomPanel);
    button->resize(std::max(button->sizeHint().width(), 90), button->sizeHint().height());
  }
  btnShowRecord->move(kMargin, (kPanelHeight - btnShowRecord->height()) / 2);
  connect(btnShowRecord, &QPushButton::clicked, this, [this] { ShowRecords(); });
  connect(btnClose, &QPushButton::clicked, this, &QDialog::reject);
  connect(ListView1, &QTreeWidget::itemDoubleClicked, this, [this] { ShowRecords(); });
  memoDetail->setReadOnly(true);
  memoDetail->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  memoDetail->setMaximumHeight(90);
  connect(ListView1, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* current) {
    // The group's lines: the message and what stands under it.
    QTreeWidgetItem* top = current;
    while (top != nullptr && top->parent() != nullptr) top = top->parent();
    QString detail;
    if (top != nullptr) {
      detail = top->text(0);
      for (int child = 0; child < top->childCount(); ++child)
        detail += QLatin1Char('\n') + top->child(child)->text(0);
    }
    memoDetail->setPlainText(detail);
    const int group = top != nullptr ? top->data(0, kGroupRole).toInt() : -1;
    const auto& groups = list_.Groups();
    if (group >= 0 && group < static_cast<int>(groups.size())) {
      ShowCompared(groups[static_cast<std::size_t>(group)]->message,
                   groups[static_cast<std::size_t>(group)]->archive_name);
    } else {
      ShowCompared({}, {});
    }
  });
  gridCompare->setEditTriggers(QAbstractItemView::NoEditTriggers);
  gridCompare->verticalHeader()->hide();
  gridCompare->horizontalHeader()->setStretchLastSection(true);
  gridCompare->setWordWrap(true);
  gridCompare->hide();

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(ListView1, 1);
  layout->addWidget(memoDetail);
  layout->addWidget(gridCompare, 1);
  layout->addWidget(BottomPanel);
  Reload();
}

TFormErrors::~TFormErrors() = default;

void TFormErrors::AddError(const std::string& archive_name, const std::string& database_name,
                           dataset::TDataSet* row, const std::string& message) {
  list_.AddError(archive_name, database_name, row, message);
  Reload();
}

void TFormErrors::SetRunOutcome(const replication::tImportResult& result) {
  failed_.clear();
  for (const replication::tImportedArchive& archive : result.Archives) {
    if (archive.State != replication::tArchiveState::Failed) continue;
    failed_.push_back({text::Utf8ToAnsi(std::filesystem::path(archive.Path).filename().string()),
                       archive.Reason, !archive.RollbackUnconfirmed});
  }
  rows_ = result.ConflictRows;
  Reload();
}

void TFormErrors::ShowCompared(const std::string& message, const std::string& archive) {
  const auto found = std::find_if(rows_.begin(), rows_.end(), [&](const replication::tConflictRows& rows) {
    return !message.empty() && rows.Message == message && (archive.empty() || rows.Archive == archive);
  });
  gridCompare->clear();
  if (found == rows_.end()) {
    gridCompare->setRowCount(0);
    gridCompare->setColumnCount(0);
    gridCompare->hide();
    return;
  }
  const replication::tConflictRows& conflict = *found;
  QStringList headers{QStringLiteral("Pole"), QStringLiteral("Záznam z archivu")};
  for (const replication::tConflictTarget& target : conflict.Targets)
    headers << QStringLiteral("V databázi (%1)").arg(FromAnsi(target.Match));
  if (conflict.Targets.empty()) headers << QStringLiteral("V databázi");
  gridCompare->setColumnCount(static_cast<int>(headers.size()));
  gridCompare->setHorizontalHeaderLabels(headers);
  gridCompare->setRowCount(static_cast<int>(conflict.Fields.size()));
  QFont bold = gridCompare->font();
  bold.setBold(true);
  const QColor marked(0xFF, 0xF0, 0xB0);
  for (std::size_t field = 0; field < conflict.Fields.size(); ++field) {
    const int row = static_cast<int>(field);
    const replication::tConflictValue none;
    const replication::tConflictValue& source =
        field < conflict.Source.size() ? conflict.Source[field] : none;
    // The tracking columns are stamped by each site and are not compared.
    const bool compared = !expr::IsTrackingColumn(conflict.Fields[field]);
    bool differs = false;
    auto* name = new QTableWidgetItem(FromAnsi(conflict.Fields[field]));
    gridCompare->setItem(row, 0, name);
    gridCompare->setItem(row, 1, new QTableWidgetItem(ValueText(source)));
    for (std::size_t target = 0; target < conflict.Targets.size(); ++target) {
      const auto& values = conflict.Targets[target].Values;
      const replication::tConflictValue& value = field < values.size() ? values[field] : none;
      auto* cell = new QTableWidgetItem(ValueText(value));
      if (compared && replication::ValuesDiffer(source, value)) {
        differs = true;
        cell->setBackground(marked);
        cell->setFont(bold);
      }
      gridCompare->setItem(row, static_cast<int>(target) + 2, cell);
    }
    if (conflict.Targets.empty() && row == 0)
      gridCompare->setItem(row, 2, new QTableWidgetItem(QStringLiteral("žádný záznam nenalezen")));
    if (differs) {
      name->setText(QStringLiteral("≠ ") + name->text());
      name->setFont(bold);
      name->setToolTip(QStringLiteral("Hodnota v databázi se liší od hodnoty z archivu"));
      gridCompare->item(row, 1)->setBackground(marked);
    }
    for (int column = 1; column < gridCompare->columnCount(); ++column) {
      if (QTableWidgetItem* cell = gridCompare->item(row, column)) cell->setToolTip(cell->text());
    }
  }
  gridCompare->resizeColumnsToContents();
  gridCompare->show();
}

void TFormErrors::Reload() {
  ListView1->clear();
  QFont bold = ListView1->font();
  bold.setBold(true);
  for (const tFailedArchive& failed : failed_) {
    QTreeWidgetItem* item = Line(QStringLiteral("Import archivu neproveden: ") + FromAnsi(failed.reason), -1);
    item->setFont(0, bold);
    item->setForeground(0, QColor(0xA0, 0x10, 0x10));
    item->addChild(Line(QStringLiteral("Archiv: ") + FromAnsi(failed.name), -1));
    item->addChild(Line(failed.rolled_back
                            ? QStringLiteral("Databáze ponechána beze změny, import archivu byl vrácen")
                            : QStringLiteral("Vrácení nelze potvrdit, databáze může obsahovat část archivu"),
                        -1));
    ListView1->addTopLevelItem(item);
  }
  const auto& groups = list_.Groups();
  for (std::size_t index = 0; index < groups.size(); ++index) {
    const replication::tConflictGroup& group = *groups[index];
    const int number = static_cast<int>(index);
    const auto failed = std::find_if(failed_.begin(), failed_.end(), [&group](const tFailedArchive& archive) {
      return !group.archive_name.empty() && archive.name == group.archive_name;
    });
    QString message = FromAnsi(group.message);
    if (failed != failed_.end()) {
      message += failed->rolled_back ? QStringLiteral(" (vráceno s importem archivu, v databázi není)")
                                     : QStringLiteral(" (import archivu se nepodařilo potvrzeně vrátit)");
    }
    QTreeWidgetItem* item = Line(message, number);
    if (failed != failed_.end())
      item->setForeground(0, ListView1->palette().color(QPalette::Disabled, QPalette::Text));
    // Where it happened, the archive and the database side by side under the message.
    QStringList where;
    if (!group.archive_name.empty()) where << QStringLiteral("Archiv: ") + FromAnsi(group.archive_name);
    if (!group.database_name.empty()) where << QStringLiteral("Databáze: ") + FromAnsi(group.database_name);
    if (!where.isEmpty()) item->addChild(Line(where.join(QStringLiteral("    ")), number));
    ListView1->addTopLevelItem(item);
  }
  ListView1->expandAll();
}

QStringList TFormErrors::LineTexts() const {
  QStringList lines;
  for (int top = 0; top < ListView1->topLevelItemCount(); ++top) {
    const QTreeWidgetItem* item = ListView1->topLevelItem(top);
    lines << item->text(0);
    for (int child = 0; child < item->childCount(); ++child)
      lines << QStringLiteral("  ") + item->child(child)->text(0);
  }
  return lines;
}

QTreeWidgetItem* TFormErrors::LineAt(int index) const {
  for (int top = 0; top < ListView1->topLevelItemCount() && index >= 0; ++top) {
    QTreeWidgetItem* item = ListView1->topLevelItem(top);
    if (index == 0) return item;
    if (index <= item->childCount()) return item->child(index - 1);
    index -= 1 + item->childCount();
  }
  return nullptr;
}

bool TFormErrors::ShowRecords() {
  QTreeWidgetItem* item = ListView1->currentItem();
  if (item == nullptr || !item->isSelected()) return false;
  const int group = item->data(0, kGroupRole).toInt();
  const auto& groups = list_.Groups();
  if (group < 0 || group >= static_cast<int>(groups.size())) return false;
  dataset::TQVMMemoryTable* rows = groups[static_cast<std::size_t>(group)]->rows.get();
  if (rows == nullptr) return false;
  TfrmProblemRecords records(*rows, this);
  records.exec();
  return true;
}

TfrmProblemRecords::TfrmProblemRecords(dataset::TDataSet& rows, QWidget* parent)
    : QDialog(parent),
      DBGrid1(new tDBGrid(this)),
      btnClose(new QPushButton(QStringLiteral("Zavřít"))),
      BottomPanel(new tCentredButtonPanel(this, btnClose)),
      DataSource1(&rows),
      model_(std::make_unique<tDataSetModel>()) {
  setWindowTitle(QStringLiteral("Konfliktní záznam"));
  setModal(true);
  resize(640, 300);
  btnClose->resize(std::max(btnClose->sizeHint().width(), 90), btnClose->sizeHint().height());
  connect(btnClose, &QPushButton::clicked, this, &QDialog::reject);
  model_->SetDataSource(&DataSource1);
  DBGrid1->SetDataSetModel(model_.get());

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(DBGrid1, 1);
  layout->addWidget(BottomPanel);
}

TfrmProblemRecords::~TfrmProblemRecords() = default;

}  // namespace tamaril::ui
