#pragma once

#include <QAbstractTableModel>
#include <QColor>
#include <QTableView>

#include <functional>
#include <map>
#include <memory>
#include <set>
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
  /// The column showing the field `field_name` (ignoring case), or -1 when it is not shown.
  int ColumnOf(const std::string& field_name) const;
  /// Lets the cells of `column` be edited: a boolean field as a check box (Qt::CheckStateRole, the display
  /// text stays as the field shows it), any other field as text (EditRole gives the field's edit text;
  /// setData puts the dataset in edit mode when in browse state and sets the field with SetAsString; the
  /// row stays in edit mode until posted). A value the field refuses returns false and shows ShowException.
  void SetColumnEditable(int column, bool editable);
  /// Chooses the background of single cells: called with the row, the column and the shown text; an invalid
  /// colour leaves the column's or the grid's own. (The rule windows paint non-zero counts on the tooltip
  /// colour.)
  void SetCellColour(std::function<QColor(int row, int column, const QString& text)> colour);
  /// Shows the column `name` with `title` (empty: the field's title) and `text` computed from the
  /// current row instead of a field's text; `name` may name a field or nothing in the dataset.
  /// Set before SetDataSource. A text that cannot be computed stays empty.
  void SetComputedColumn(const std::string& name, const QString& title,
                         std::function<QString(dataset::TDataSet&)> text);
  /// Asked before the grid moves a dataset that is being edited: true when the row was saved
  /// and the move may go on. Without it such a dataset does not move.
  void SetBeforeMove(std::function<bool()> before) { before_move_ = std::move(before); }

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
  /// Editable cells of an editable column whose field may be written; check boxes for boolean fields.
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  /// Writes an edited cell into the field of the current row (see SetColumnEditable); false when refused.
  bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;

 signals:
  /// The dataset moved to another row (-1: none).
  void CurrentRowChanged(int row);

 private:
  class Link;
  friend class Link;

  void DataSetChanged(dataset::TField* field);
  std::vector<QString> CurrentTexts() const;
  std::vector<signed char> CurrentChecks() const;
  dataset::TField* ColumnFieldOf(int column) const;
  bool IsCheckColumn(int column) const;
  void UpdateCurrent();

  std::unique_ptr<Link> link_;
  std::vector<std::string> wanted_;
  std::vector<std::string> columns_;
  std::vector<QString> headers_;
  std::map<int, QColor> backgrounds_;
  std::set<int> editable_;
  std::function<QColor(int, int, const QString&)> cell_colour_;
  struct tComputedColumn {
    QString title;
    std::function<QString(dataset::TDataSet&)> text;
  };
  std::map<std::string, tComputedColumn> computed_;
  std::function<bool()> before_move_;
  std::vector<std::vector<QString>> rows_;
  // The check state of the boolean cells of each row (-1: not a boolean or null, 0, 1).
  std::vector<std::vector<signed char>> checks_;
  std::vector<std::string> bookmarks_;
  int current_ = -1;
  bool loading_ = false;
};

/// A grid over a tDataSetModel: whole rows are selected, the selection follows the dataset and
/// moves it, a double-click or Enter on a row emits RowActivated. Only the model's editable
/// columns can be edited (double-click, F2 or typing); every other cell is read-only.
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
