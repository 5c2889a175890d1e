#pragma once

#include <QWidget>

#include <vector>

#include "replication/branch_status.h"

class QAction;
class QEvent;
class QLabel;
class QPaintEvent;
class QScrollArea;
class QShowEvent;
class QSpinBox;
class QToolButton;

namespace tamaril::core {
class TMaindata;
}

namespace tamaril::ui {

/// A small bar chart of the rows each of a branch's newest imports wrote, the newest at the right
/// end; the tool tip of a bar names its import, its archive and its rows.
class tImportRowsChart : public QWidget {
  Q_OBJECT

 public:
  /// Room for this many runs: fewer leave the left part of the chart empty.
  static constexpr int kSlots = 30;

  explicit tImportRowsChart(QWidget* parent = nullptr);

  /// Shows `runs` (oldest first); only the newest kSlots of them have a bar.
  void SetRuns(std::vector<replication::tImportRunRows> runs);
  const std::vector<replication::tImportRunRows>& Runs() const noexcept { return runs_; }
  /// The index into Runs() of the run whose bar lies under the point, -1 for none.
  int RunAt(const QPoint& point) const;
  /// "Import č. 6 (přenos č. 3) 10.12.2026 6:06:19: 120 řádků".
  static QString RunText(const replication::tImportRunRows& run);

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  bool event(QEvent* event) override;

 private:
  /// Where the bars stand, inside the frame and the lines of text above and below.
  QRect PlotArea() const;
  /// The slot of the run `index` of Runs(): the newest takes the last slot.
  QRect BarSlot(int index) const;

  std::vector<replication::tImportRunRows> runs_;
};

/// The page "Stav poboček" of the main window. For every import definition: its branch, its
/// database, the last archive imported, the days since, the export numbers never imported, the
/// archives waiting in the import folder and a chart of the rows of its last imports. For every
/// export definition: its last export with its rows and whether its archive still waits in the
/// export folder. A branch silent longer than the threshold, one that misses archives and a
/// database that cannot be read are marked with an icon and a text. The databases are read only
/// by Refresh: when the page is first shown, again after MarkOutdated, and by "Obnovit".
class TfraBranchStatus : public QWidget {
  Q_OBJECT

 public:
  /// How many of each branch's newest imports the chart shows.
  static constexpr int kRecentRuns = tImportRowsChart::kSlots;

  /// A page over the definition lists of `maindata` (borrowed), connecting through its login cache.
  explicit TfraBranchStatus(core::TMaindata& maindata, QWidget* parent = nullptr);

  /// Reads both definition lists (their current rows stay current), every definition's database
  /// and both folders, and shows what it found. A database that cannot be read shows its error
  /// and the others still show. Throws EAbort when a login is cancelled; the page then shows that
  /// nothing was read.
  void Refresh();
  /// After a run, a changed list or changed settings: a page on show reads everything again at
  /// once, a hidden one the next time it is shown.
  void MarkOutdated();
  /// What the page shows.
  const replication::tBranchStatus& Status() const noexcept { return status_; }

  QAction* act_Refresh = nullptr;  ///< "Obnovit"
  QToolButton* btnRefresh = nullptr;
  QSpinBox* edStaleDays = nullptr;  ///< the threshold of days without an import
  QLabel* lbSummary = nullptr;      ///< when it was read and what needs attention
  QScrollArea* Scroller = nullptr;  ///< holds one panel per definition

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  /// Refresh for the action: a failure goes to the error box.
  void RefreshShowingErrors();
  void QueueRefresh();
  /// The read queued by showing the page, unless it was read meanwhile, hidden again or
  /// "Obnovit" is disabled.
  Q_INVOKABLE void RefreshWhenShown();
  /// Judges the branches again by the threshold of edStaleDays and shows them.
  void StaleDaysChanged(int days);
  /// Shows `status` as read at `now` (days since 30 December 1899).
  void ShowStatus(replication::tBranchStatus status, double now);
  /// Builds the panels of status_ anew.
  void Rebuild();
  void ShowPlaceholder(const QString& text);

  core::TMaindata& maindata_;
  QLabel* summary_icon_ = nullptr;
  replication::tBranchStatus status_;
  double now_ = 0;
  bool outdated_ = true;
  bool refresh_queued_ = false;
};

}  // namespace tamaril::ui
