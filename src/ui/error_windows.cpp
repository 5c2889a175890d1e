#include "ui/error_windows.h"

#include <QHeaderView>
#include <QPushButton>
#include <QResizeEvent>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>

#include "replication/conflict_list.h"
#include "ui/dataset_model.h"
#include "ui/qt_text.h"

namespace tamaril::ui {
namespace {

constexpr int kPanelHeight = 44;
constexpr int kMargin = 8;

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
      btnShowRecord(new QPushButton(QStringLiteral("Zobrazit záznam"))),
      btnClose(new QPushButton(QStringLiteral("Zavřít"))),
      BottomPanel(new tCentredButtonPanel(this, btnClose)),
      list_(list) {
  setWindowTitle(QStringLiteral("Chyby při přenosu"));
  setModal(true);
  resize(640, 420);
  ListView1->setColumnCount(1);
  ListView1->setHeaderLabels({QStringLiteral("Text")});
  ListView1->header()->setSectionsClickable(false);
  ListView1->setRootIsDecorated(false);
  ListView1->setSelectionMode(QAbstractItemView::SingleSelection);
  for (QPushButton* button : {btnShowRecord, btnClose}) {
    button->setParent(BottomPanel);
    button->resize(std::max(button->sizeHint().width(), 90), button->sizeHint().height());
  }
  btnShowRecord->move(kMargin, (kPanelHeight - btnShowRecord->height()) / 2);
  connect(btnShowRecord, &QPushButton::clicked, this, [this] { ShowRecords(); });
  connect(btnClose, &QPushButton::clicked, this, &QDialog::reject);
  connect(ListView1, &QTreeWidget::itemDoubleClicked, this, [this] { ShowRecords(); });

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(ListView1, 1);
  layout->addWidget(BottomPanel);
  Reload();
}

TFormErrors::~TFormErrors() = default;

void TFormErrors::AddError(const std::string& archive_name, const std::string& database_name,
                           dataset::TDataSet* row, const std::string& message) {
  list_.AddError(archive_name, database_name, row, message);
  Reload();
}

void TFormErrors::Reload() {
  ListView1->clear();
  for (const std::string& line : list_.Lines())
    ListView1->addTopLevelItem(new QTreeWidgetItem({FromAnsi(line)}));
}

bool TFormErrors::ShowRecords() {
  QTreeWidgetItem* item = ListView1->currentItem();
  if (item == nullptr || !item->isSelected()) return false;
  dataset::TQVMMemoryTable* rows = list_.RowsOfLine(ListView1->indexOfTopLevelItem(item));
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
