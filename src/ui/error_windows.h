#pragma once

#include <QDialog>
#include <QWidget>

#include <QStringList>

#include <memory>
#include <string>
#include <vector>

#include "dataset/dataset.h"

class QPlainTextEdit;
class QPushButton;
class QTableWidget;
class QTreeWidget;
class QTreeWidgetItem;

namespace tamaril::replication {
class tConflictList;
struct tConflictRows;
struct tImportResult;
}  // namespace tamaril::replication

namespace tamaril::ui {

class tDataSetModel;
class tDBGrid;

/// A bottom panel that keeps one button centred horizontally whenever it is resized; further
/// buttons are placed by their owner.
class tCentredButtonPanel : public QWidget {
  Q_OBJECT

 public:
  /// A panel over `parent`, centring `button` (a child of the panel, not owned otherwise).
  tCentredButtonPanel(QWidget* parent, QPushButton* centred);

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  void Centre();

  QPushButton* centred_;
};

/// The list of an import run's conflicts ("Chyby při přenosu"): per group the message with its
/// archive and database side by side on a line under it; "Zobrazit záznam" (or a double-click) shows the rows
/// kept for the selected line's group. Given the run's outcome, the archives that failed come
/// first with their reasons, and the conflicts of an archive whose import was rolled back are
/// marked as such: they are not in the database. Every line shows its whole text as a tooltip,
/// and the selected group's lines stand whole, wrapped, in the pane under the list. Where the
/// run kept the rows of a conflict, the grid under the pane shows the archive's row beside the
/// database rows it met, a column each, the differing values marked.
class TFormErrors : public QDialog {
  Q_OBJECT

 public:
  /// A window over `list` (borrowed), showing its lines.
  explicit TFormErrors(replication::tConflictList& list, QWidget* parent = nullptr);
  ~TFormErrors() override;

  /// Adds a conflict to the list (see tConflictList::AddError) and shows the lines again.
  /// Throws what copying the row throws.
  void AddError(const std::string& archive_name, const std::string& database_name, dataset::TDataSet* row,
                const std::string& message);
  /// Shows the list's lines again.
  void Reload();
  /// Lists the failed archives of `result` and marks the conflicts their rollback took back,
  /// and keeps the rows of its conflicts for the grid; the result is copied as far as the list
  /// needs it.
  void SetRunOutcome(const replication::tImportResult& result);
  /// The text of every line from the top, a line under another indented by two blanks.
  QStringList LineTexts() const;
  /// The line at `index` of LineTexts, or null.
  QTreeWidgetItem* LineAt(int index) const;
  /// Shows the rows of the selected line's group in TfrmProblemRecords; false (nothing shown)
  /// when no line is selected or the group keeps no rows.
  bool ShowRecords();

  QTreeWidget* ListView1;            ///< the lines, one column "Text"
  QPlainTextEdit* memoDetail;        ///< the selected group's lines whole, wrapped
  QTableWidget* gridCompare;         ///< "Pole", the archive's row, the database rows; hidden when none
  QPushButton* btnShowRecord;        ///< "Zobrazit záznam"
  QPushButton* btnClose;             ///< "Zavřít"
  tCentredButtonPanel* BottomPanel;  ///< holds the buttons, "Zavřít" centred

 private:
  /// An archive whose import failed, and whether its rollback was confirmed.
  struct tFailedArchive {
    std::string name;  ///< the file name (Windows-1250)
    std::string reason;
    bool rolled_back = false;
  };

  /// Fills gridCompare with the kept rows of the conflict `message` of the archive `archive`
  /// (both Windows-1250), or hides it when none were kept.
  void ShowCompared(const std::string& message, const std::string& archive);

  replication::tConflictList& list_;
  std::vector<tFailedArchive> failed_;
  std::vector<replication::tConflictRows> rows_;
};

/// The rows kept for one group of conflicts in a grid ("Konfliktní záznam").
class TfrmProblemRecords : public QDialog {
  Q_OBJECT

 public:
  /// A window showing the rows of `rows` (borrowed, open).
  explicit TfrmProblemRecords(dataset::TDataSet& rows, QWidget* parent = nullptr);
  ~TfrmProblemRecords() override;

  tDBGrid* DBGrid1;                  ///< the rows
  QPushButton* btnClose;             ///< "Zavřít", the cancel button
  tCentredButtonPanel* BottomPanel;  ///< holds "Zavřít" centred

 private:
  dataset::TDataSource DataSource1;
  std::unique_ptr<tDataSetModel> model_;
};

}  // namespace tamaril::ui
