#pragma once

#include <QAbstractTableModel>
#include <QColor>
#include <QTableView>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "dataset/dataset.h"

namespace tamaril::ui {

/// A dataset as a Qt table model: a row per row of the dataset, a column per chosen field (the
/// field's display name as the header, its display text as the cell). The model listens on a
/// data source: opening, closing, posting and deleting reload the rows; moving in the dataset
/// moves `CurrentRow`, and `MoveTo` moves the dataset. Reloading walks the dataset with the data
/// source disabled and puts the cursor back on the row it was on, so detail datasets hear of one
/// change only. While the dataset is edited, the current row shows the values being typed.
class tDataSetModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  explicit tDataSetModel(QObject* parent = nullptr);
  ~tDataSetModel() override;
  tDataSetModel(const tDataSetModel&) = delete;
  tDataSetModel& operator=(const tDataSetModel&) = delete;

  /// Shows the dataset of `source` (not owned; null: nothing), with the fields of `field_names`
  /// in this order (empty: every visible field).
  void SetDataSource(dataset::TDataSource* source, std::vector<std::string> field_names = {});
  dataset::TDataSource* DataSource() const noexcept;
  /// The dataset shown, or null.
  dataset::TDataSet* DataSet() const noexcept;
  /// Paints the cells of `column` on `colour` (an invalid colour: the grid's own).
  void SetColumnBackground(int column, const QColor& colour);
  /// The field of a column.
  const std::string& ColumnField(int column) const { return columns_.at(static_cast<std::size_t>(column)); }

  /// The row the dataset is on, or -1 (closed, empty, or a row being inserted).
  int CurrentRow() const noexcept { return current_; }
  /// Moves the dataset to `row`; false when it is out of range or the dataset cannot move.
  bool MoveTo(int row);
  /// Reads every row again.
  void Reload();

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

 signals:
  /// The dataset moved to another row (-1: none).
  void CurrentRowChanged(int row);

 private:
  class Link;
  friend class Link;

  void DataSetChanged(dataset::TField* field);
  std::vector<QString> CurrentTexts() const;
  void UpdateCurrent();

  std::unique_ptr<Link> link_;
  std::vector<std::string> wanted_;
  std::vector<std::string> columns_;
  std::vector<QString> headers_;
  std::map<int, QColor> backgrounds_;
  std::vector<std::vector<QString>> rows_;
  std::vector<std::string> bookmarks_;
  int current_ = -1;
  bool loading_ = false;
};

/// A read-only grid over a tDataSetModel: whole rows are selected, the selection follows the
/// dataset and moves it, a double-click or Enter on a row emits RowActivated.
class tDBGrid : public QTableView {
  Q_OBJECT

 public:
  explicit tDBGrid(QWidget* parent = nullptr);
  /// Shows `model` (not owned).
  void SetDataSetModel(tDataSetModel* model);
  tDataSetModel* DataSetModel() const noexcept { return model_; }

 signals:
  /// A row was double-clicked or Enter was pressed on it.
  void RowActivated(int row);

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void SelectRow(int row);

  tDataSetModel* model_ = nullptr;
  bool following_ = false;
};

}  // namespace tamaril::ui
