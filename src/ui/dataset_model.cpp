#include "ui/dataset_model.h"

#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>

#include <algorithm>
#include <utility>

#include "dataset/field.h"
#include "ui/message_box.h"
#include "ui/qt_text.h"

namespace tamaril::ui {

class tDataSetModel::Link : public dataset::TDataLink {
 public:
  explicit Link(tDataSetModel& model) : model_(model) {}

 protected:
  void ActiveChanged() override {
    if (!model_.loading_) model_.Reload();
  }
  void RecordChanged(dataset::TField* field) override {
    if (!model_.loading_) model_.DataSetChanged(field);
  }

 private:
  tDataSetModel& model_;
};

tDataSetModel::tDataSetModel(QObject* parent)
    : QAbstractTableModel(parent), link_(std::make_unique<Link>(*this)) {}

tDataSetModel::~tDataSetModel() { link_->SetDataSource(nullptr); }

void tDataSetModel::SetDataSource(dataset::TDataSource* source, std::vector<std::string> field_names) {
  wanted_ = std::move(field_names);
  loading_ = true;
  link_->SetDataSource(source);
  loading_ = false;
  Reload();
}

dataset::TDataSource* tDataSetModel::DataSource() const noexcept { return link_->DataSource(); }

dataset::TDataSet* tDataSetModel::DataSet() const noexcept { return link_->DataSet(); }

void tDataSetModel::SetColumnBackground(int column, const QColor& colour) {
  if (colour.isValid()) {
    backgrounds_[column] = colour;
  } else {
    backgrounds_.erase(column);
  }
  if (!rows_.empty()) emit dataChanged(index(0, column), index(static_cast<int>(rows_.size()) - 1, column));
}

int tDataSetModel::ColumnOf(const std::string& field_name) const {
  const auto found = std::find_if(columns_.begin(), columns_.end(), [&field_name](const std::string& name) {
    return dataset::SameFieldName(name, field_name);
  });
  return found == columns_.end() ? -1 : static_cast<int>(found - columns_.begin());
}

void tDataSetModel::SetColumnEditable(int column, bool editable) {
  if (editable) {
    editable_.insert(column);
  } else {
    editable_.erase(column);
  }
  if (!rows_.empty() && column >= 0 && column < columnCount()) {
    emit dataChanged(index(0, column), index(static_cast<int>(rows_.size()) - 1, column));
  }
}

void tDataSetModel::SetCellColour(std::function<QColor(int row, int column, const QString& text)> colour) {
  cell_colour_ = std::move(colour);
  if (!rows_.empty() && !columns_.empty()) {
    emit dataChanged(index(0, 0), index(static_cast<int>(rows_.size()) - 1, columnCount() - 1));
  }
}

dataset::TField* tDataSetModel::ColumnFieldOf(int column) const {
  dataset::TDataSet* data = DataSet();
  if (data == nullptr || !link_->Active() || column < 0 || column >= columnCount()) return nullptr;
  return data->FindField(columns_[static_cast<std::size_t>(column)]);
}

bool tDataSetModel::IsCheckColumn(int column) const {
  if (!editable_.contains(column)) return false;
  const dataset::TField* field = ColumnFieldOf(column);
  return field != nullptr && field->DataType() == dataset::FieldType::Boolean;
}

std::vector<signed char> tDataSetModel::CurrentChecks() const {
  std::vector<signed char> checks;
  dataset::TDataSet* data = DataSet();
  checks.reserve(columns_.size());
  for (const std::string& name : columns_) {
    signed char check = -1;
    const dataset::TField* field = data->FindField(name);
    if (field != nullptr && field->DataType() == dataset::FieldType::Boolean) {
      try {
        if (!field->IsNull()) check = field->AsBoolean() ? 1 : 0;
      } catch (const std::exception&) {  // a value that cannot be read shows unchecked
      }
    }
    checks.push_back(check);
  }
  return checks;
}

std::vector<QString> tDataSetModel::CurrentTexts() const {
  std::vector<QString> texts;
  dataset::TDataSet* data = DataSet();
  texts.reserve(columns_.size());
  for (const std::string& name : columns_) {
    QString shown;
    if (const auto computed = computed_.find(name); computed != computed_.end()) {
      try {
        shown = computed->second.text(*data);
      } catch (const std::exception&) {  // a text that cannot be computed stays empty
      }
    } else if (dataset::TField* field = data->FindField(name)) {
      try {
        shown = FromAnsi(field->Text(true));
      } catch (const std::exception&) {  // a value that cannot be shown stays empty
      }
    }
    texts.push_back(std::move(shown));
  }
  return texts;
}

void tDataSetModel::Reload() {
  dataset::TDataSet* data = DataSet();
  // Rows being edited or inserted cannot be walked; what is shown stays until the dataset is back
  // in browse state.
  if (data != nullptr && link_->Active() && data->State() != dataset::DataSetState::Browse) return;
  beginResetModel();
  rows_.clear();
  checks_.clear();
  bookmarks_.clear();
  columns_.clear();
  headers_.clear();
  const int before = current_;
  current_ = -1;
  if (data != nullptr && link_->Active()) {
    if (wanted_.empty()) {
      for (const auto& field : data->Fields()) {
        if (field->Visible) columns_.push_back(field->Name);
      }
    } else {
      columns_ = wanted_;
    }
    for (const std::string& name : columns_) {
      const auto computed = computed_.find(name);
      if (computed != computed_.end() && !computed->second.title.isEmpty()) {
        headers_.push_back(computed->second.title);
        continue;
      }
      const dataset::TField* field = data->FindField(name);
      headers_.push_back(FromAnsi(field != nullptr ? field->DisplayName() : name));
    }
    {
      dataset::TDataSource* source = DataSource();
      loading_ = true;
      const bool enabled = source->Enabled();
      try {
        const std::string here = data->Eof() && data->Bof() ? std::string() : data->GetBookmark();
        source->SetEnabled(false);
        for (data->First(); !data->Eof(); data->Next()) {
          bookmarks_.push_back(data->GetBookmark());
          rows_.push_back(CurrentTexts());
          checks_.push_back(CurrentChecks());
          if (bookmarks_.back() == here) current_ = static_cast<int>(rows_.size()) - 1;
        }
        if (current_ >= 0) {
          data->GotoBookmark(here);
        } else if (!rows_.empty()) {
          data->First();
          current_ = 0;
        }
      } catch (...) {
        source->SetEnabled(enabled);
        loading_ = false;
        endResetModel();
        throw;
      }
      source->SetEnabled(enabled);
      loading_ = false;
    }
  }
  endResetModel();
  if (current_ != before || current_ >= 0) emit CurrentRowChanged(current_);
}

void tDataSetModel::DataSetChanged(dataset::TField* field) {
  dataset::TDataSet* data = DataSet();
  if (data == nullptr) return;
  const dataset::DataSetState state = data->State();
  if (state == dataset::DataSetState::Edit) {
    // The values being typed show in the current row.
    if (current_ >= 0) {
      rows_[static_cast<std::size_t>(current_)] = CurrentTexts();
      checks_[static_cast<std::size_t>(current_)] = CurrentChecks();
      emit dataChanged(index(current_, 0), index(current_, columnCount() - 1));
    }
    return;
  }
  if (state != dataset::DataSetState::Browse) return;
  if (field == nullptr) UpdateCurrent();
}

// After a scroll the dataset is on a row the model already holds; after a post, a delete or a
// refresh the rows may have changed, and only reading them again tells.
void tDataSetModel::UpdateCurrent() {
  dataset::TDataSet* data = DataSet();
  if (data->RecordCount() == static_cast<int>(rows_.size()) && !(data->Eof() && data->Bof())) {
    const std::string here = data->GetBookmark();
    const auto found = std::find(bookmarks_.begin(), bookmarks_.end(), here);
    if (found != bookmarks_.end()) {
      const int row = static_cast<int>(found - bookmarks_.begin());
      if (rows_[static_cast<std::size_t>(row)] == CurrentTexts() &&
          checks_[static_cast<std::size_t>(row)] == CurrentChecks()) {
        if (row != current_) {
          current_ = row;
          emit CurrentRowChanged(current_);
        }
        return;
      }
    }
  }
  Reload();
}

void tDataSetModel::SetComputedColumn(const std::string& name, const QString& title,
                                      std::function<QString(dataset::TDataSet&)> text) {
  computed_[name] = tComputedColumn{title, std::move(text)};
}

bool tDataSetModel::MoveTo(int row) {
  dataset::TDataSet* data = DataSet();
  if (data == nullptr || row < 0 || row >= static_cast<int>(bookmarks_.size())) return false;
  if (row == current_) return true;
  if (data->State() != dataset::DataSetState::Browse) {
    if (!before_move_ || !before_move_() || data->State() != dataset::DataSetState::Browse) return false;
    // Saving read the rows again.
    if (row >= static_cast<int>(bookmarks_.size())) return false;
    if (row == current_) return true;
  }
  data->GotoBookmark(bookmarks_[static_cast<std::size_t>(row)]);
  return true;
}

int tDataSetModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int tDataSetModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(columns_.size());
}

QVariant tDataSetModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= static_cast<int>(rows_.size())) return {};
  const QString& shown =
      rows_[static_cast<std::size_t>(index.row())][static_cast<std::size_t>(index.column())];
  if (role == Qt::DisplayRole) return shown;
  if (role == Qt::EditRole) {
    // Only the current row has its field values at hand; the others are what they show.
    if (index.row() == current_) {
      if (dataset::TField* field = ColumnFieldOf(index.column())) {
        try {
          return FromAnsi(field->Text(false));
        } catch (const std::exception&) {  // a value that cannot be read edits as empty
          return QString();
        }
      }
    }
    return shown;
  }
  if (role == Qt::CheckStateRole) {
    if (!IsCheckColumn(index.column())) return {};
    const signed char check =
        checks_[static_cast<std::size_t>(index.row())][static_cast<std::size_t>(index.column())];
    return check == 1 ? Qt::Checked : Qt::Unchecked;
  }
  if (role == Qt::BackgroundRole) {
    if (cell_colour_) {
      const QColor colour = cell_colour_(index.row(), index.column(), shown);
      if (colour.isValid()) return colour;
    }
    const auto colour = backgrounds_.find(index.column());
    if (colour != backgrounds_.end()) return colour->second;
  }
  return {};
}

Qt::ItemFlags tDataSetModel::flags(const QModelIndex& index) const {
  Qt::ItemFlags result = QAbstractTableModel::flags(index);
  if (!index.isValid() || !editable_.contains(index.column())) return result;
  const dataset::TField* field = ColumnFieldOf(index.column());
  if (field == nullptr || field->ReadOnly || !field->DataSet().CanModify()) return result;
  return result |
         (field->DataType() == dataset::FieldType::Boolean ? Qt::ItemIsUserCheckable : Qt::ItemIsEditable);
}

bool tDataSetModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (!index.isValid() || index.row() >= static_cast<int>(rows_.size())) return false;
  const bool check = IsCheckColumn(index.column());
  const Qt::ItemFlags allowed = flags(index);
  if (check ? role != Qt::CheckStateRole || !allowed.testFlag(Qt::ItemIsUserCheckable)
            : role != Qt::EditRole || !allowed.testFlag(Qt::ItemIsEditable)) {
    return false;
  }
  dataset::TDataSet* data = DataSet();
  // A row being inserted is not one of the rows shown: a cell must not write into it.
  if (data->State() != dataset::DataSetState::Browse && data->State() != dataset::DataSetState::Edit)
    return false;
  try {
    if (!MoveTo(index.row())) return false;
    if (data->State() == dataset::DataSetState::Browse) data->Edit();
    dataset::TField* field = ColumnFieldOf(index.column());
    if (field == nullptr) return false;
    if (check) {
      field->SetAsBoolean(value.toInt() == Qt::Checked);
    } else {
      field->SetAsString(ToAnsi(value.toString()));
    }
  } catch (...) {
    ShowException(qobject_cast<QWidget*>(QObject::parent()), std::current_exception());
    return false;
  }
  return true;
}

QVariant tDataSetModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role != Qt::DisplayRole) return {};
  if (orientation == Qt::Horizontal) {
    return section >= 0 && section < static_cast<int>(headers_.size()) ? QVariant(headers_[section])
                                                                       : QVariant();
  }
  return section == current_ ? QVariant(QStringLiteral("▶")) : QVariant(QString());
}

tDBGrid::tDBGrid(QWidget* parent) : QTableView(parent) {
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setSelectionMode(QAbstractItemView::SingleSelection);
  // The model's flags leave every cell but those of its editable columns read-only.
  setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                  QAbstractItemView::AnyKeyPressed);
  setAlternatingRowColors(false);
  verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
  horizontalHeader()->setHighlightSections(false);
  horizontalHeader()->setStretchLastSection(true);
  connect(this, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex& index) {
    if (index.isValid()) emit RowActivated(index.row());
  });
}

void tDBGrid::SetDataSetModel(tDataSetModel* model) {
  model_ = model;
  setModel(model);
  connect(model, &tDataSetModel::CurrentRowChanged, this, &tDBGrid::SelectRow);
  // Columns as wide as their titles and values, so that neither is cut off.
  connect(model, &QAbstractItemModel::modelReset, this, [this] {
    resizeColumnsToContents();
    SelectRow(model_->CurrentRow());
  });
  connect(selectionModel(), &QItemSelectionModel::currentRowChanged, this,
          [this](const QModelIndex& current, const QModelIndex&) {
            if (following_ || !current.isValid()) return;
            if (!model_->MoveTo(current.row())) SelectRow(model_->CurrentRow());
          });
  resizeColumnsToContents();
  SelectRow(model->CurrentRow());
}

void tDBGrid::SelectRow(int row) {
  following_ = true;
  if (row >= 0) {
    setCurrentIndex(model_->index(row, std::max(0, currentIndex().column())));
  } else {
    clearSelection();
  }
  following_ = false;
  viewport()->update();
  verticalHeader()->viewport()->update();
}

void tDBGrid::keyPressEvent(QKeyEvent* event) {
  if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && currentIndex().isValid()) {
    emit RowActivated(currentIndex().row());
    return;
  }
  QTableView::keyPressEvent(event);
}

}  // namespace tamaril::ui
