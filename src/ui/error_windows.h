#pragma once

#include <QDialog>
#include <QWidget>

#include <memory>
#include <string>

#include "dataset/dataset.h"

class QPushButton;
class QTreeWidget;

namespace tamaril::replication {
class tConflictList;
}

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

/// The list of an import run's conflicts ("Chyby při přenosu"): per group the message, the
/// archive and database lines and "..."; "Zobrazit záznam" (or a double-click) shows the rows
/// kept for the selected line's group.
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
  /// Shows the rows of the selected line's group in TfrmProblemRecords; false (nothing shown)
  /// when no line is selected or the group keeps no rows.
  bool ShowRecords();

  QTreeWidget* ListView1;            ///< the lines, one column "Text"
  QPushButton* btnShowRecord;        ///< "Zobrazit záznam"
  QPushButton* btnClose;             ///< "Zavřít"
  tCentredButtonPanel* BottomPanel;  ///< holds the buttons, "Zavřít" centred

 private:
  replication::tConflictList& list_;
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
