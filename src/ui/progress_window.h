#pragma once

#include <QDialog>
#include <QElapsedTimer>

#include <string>

#include "dbstruct/structure.h"

class QLabel;
class QProgressBar;
class QPushButton;

namespace tamaril::ui {

/// The progress of a database scan or of a run over tables and rows, with a "Storno" button
/// that stops it at the next progress call. The export and import windows derive from it; the
/// main window shows it alone while a database structure is analysed.
class TbaseDBProgress : public QDialog {
  Q_OBJECT

 public:
  explicit TbaseDBProgress(QWidget* parent = nullptr);

  /// Table progress: the table label takes `table_name` when it differs, the whole-run bar
  /// `position` of `table_count`, the table bar 0; then pending input is handled. Throws EAbort
  /// once "Storno" was pressed.
  virtual void TableProgress(int position, const std::string& table_name, int table_count);
  /// Row progress: the table bar `position` of `row_count`; then pending input is handled.
  /// Throws EAbort once "Storno" was pressed.
  virtual void RowProgress(long long position, long long row_count);

  /// True once "Storno" was pressed; never cleared.
  bool Stopped() const noexcept { return stopped_; }
  /// The structure scan's progress callback, reporting to this window.
  dbstruct::ScanProgressEvent ScanProgress();

  QLabel* LabelWhatDoing;      ///< the current activity ("Zpracovávám tabulku")
  QLabel* LabelTblName;        ///< the current table
  QProgressBar* Progress_DB;   ///< the whole run, 0 to 100
  QProgressBar* Progress_Tbl;  ///< the current table, 0 to 100
  QPushButton* btnStorno;      ///< "Storno", hidden unless shown

 protected:
  /// Lets the window repaint and take clicks; at most a few times a second unless `force`.
  void ProcessPendingInput(bool force = false);
  /// Throws EAbort when "Storno" was pressed.
  void CheckStopped() const;

 private:
  bool stopped_ = false;
  QElapsedTimer since_events_;
};

}  // namespace tamaril::ui
