#include "ui/dataset_model.h"

#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>

#include <algorithm>
#include <utility>

#include "dataset/field.h"
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

std::vector<QString> tDataSetModel::CurrentTexts() const {
  std::vector<QString> texts;
  dataset::TDataSet* data = DataSet();
  texts.reserve(columns_.size());
  for (const std::string& name : columns_) {
    QString shown;
    if (dataset::TField* field = data->FindField(name)) {
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
      if (rows_[static_cast<std::size_t>(row)] == CurrentTexts()) {
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

bool tDataSetModel::MoveTo(int row) {
  dataset::TDataSet* data = DataSet();
  if (data == nullptr || row < 0 || row >= static_cast<int>(bookmarks_.size())) return false;
  if (row == current_) return true;
  if (data->State() != dataset::DataSetState::Browse) return false;
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
  if (role == Qt::DisplayRole) {
    return rows_[static_cast<std::size_t>(index.row())][static_cast<std::size_t>(index.column())];
  }
  if (role == Qt::BackgroundRole) {
    const auto colour = backgrounds_.find(index.column());
    if (colour != backgrounds_.end()) return colour->second;
  }
  return {};
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
  setEditTriggers(QAbstractItemView::NoEditTriggers);
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
