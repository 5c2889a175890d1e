#pragma once

#include <QColor>
#include <QPlainTextEdit>
#include <QWidget>

#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "dataset/dataset.h"

class QToolButton;

namespace tamaril::ui {

/// The buttons of a navigator.
enum class tNavButton { First, Prior, Next, Last, Insert, Delete, Edit, Post, Cancel, Refresh };

/// A row of buttons that moves and edits the dataset of a data source. Only the buttons given to
/// SetVisibleButtons are shown, in enum order; each is enabled as the dataset allows (First/Prior not on the
/// first row, Next/Last not on the last, Edit only in browse state on a row with CanModify, Post/Cancel only
/// while editing or inserting, Refresh in browse state, all off when the dataset is closed or the source
/// disabled). A failure of the dataset operation is shown with ShowException (ui/message_box.h), silent for
/// EAbort.
class tDBNavigator : public QWidget {
  Q_OBJECT

 public:
  /// A navigator with every button shown and no data source.
  explicit tDBNavigator(QWidget* parent = nullptr);
  ~tDBNavigator() override;
  tDBNavigator(const tDBNavigator&) = delete;
  tDBNavigator& operator=(const tDBNavigator&) = delete;

  /// Moves and edits the dataset of `source` (not owned; null detaches).
  void SetDataSource(dataset::TDataSource* source);
  /// The data source, or null.
  dataset::TDataSource* DataSource() const noexcept;
  /// Shows only `buttons` (in enum order, whatever the order given).
  void SetVisibleButtons(const std::vector<tNavButton>& buttons);
  /// The button `which`; null when it is not shown.
  QToolButton* Button(tNavButton which) const;
  /// Replaces what a button does (the default calls the dataset: First(), Prior(), ..., Edit(), Post(),
  /// Cancel(), Refresh()); the rule windows use it for Refresh, which reloads from the database.
  void SetAction(tNavButton which, std::function<void()> action);
  /// Runs what `which` does, as a click on it does; a failure goes to ShowException.
  void Click(tNavButton which);
  /// Enables each button as the state of the dataset allows.
  void UpdateButtons();

 private:
  class Link;
  static constexpr std::size_t kButtonCount = 10;

  void RunDefault(tNavButton which);

  std::unique_ptr<Link> link_;
  std::array<QToolButton*, kButtonCount> buttons_{};
  std::array<bool, kButtonCount> visible_{};
  std::array<std::function<void()>, kButtonCount> actions_{};
};

/// A plain-text memo bound to one field of the current row of a data source. It shows the field's text
/// (Windows-1250 → FromAnsi) whenever the row or that field changes; typing puts the dataset in edit mode
/// (Edit() when in browse state) and writes the text into the field (ToAnsi, line breaks as CR LF) on every
/// change, without echoing back. It is disabled while the field is read-only or the dataset is closed, and
/// then painted on the palette's Window colour (normal Base colour when enabled). A failure to start editing
/// (EAbort or an error) restores the field's text and is shown with ShowException.
class tDBMemo : public QPlainTextEdit {
  Q_OBJECT

 public:
  /// An empty, disabled memo bound to nothing.
  explicit tDBMemo(QWidget* parent = nullptr);
  ~tDBMemo() override;
  tDBMemo(const tDBMemo&) = delete;
  tDBMemo& operator=(const tDBMemo&) = delete;

  /// Binds the memo to the field `field_name` of the dataset of `source` (not owned; null unbinds).
  void SetDataField(dataset::TDataSource* source, const std::string& field_name);
  /// The bound field of the open dataset, or null.
  dataset::TField* Field() const;
  /// Reads the field again and updates the enabled state (the windows call it after the row's read-only
  /// state changed).
  void UpdateFromField();

 private:
  class Link;

  void TextEdited();
  void ShowText(const QString& text);
  void PaintEnabled(bool enabled);

  std::unique_ptr<Link> link_;
  std::string field_name_;
  QColor normal_base_;
  bool showing_ = false;
  bool writing_ = false;
};

}  // namespace tamaril::ui
