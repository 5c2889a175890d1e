#pragma once

#include <QDialog>

namespace tamaril::core {
class TMaindata;
}

namespace tamaril::ui {

/// The header of an export or import definition: edits the current record of the list, which
/// the caller has put into edit or insert state; OK saves it, a failed save keeps the dialog open
/// with the error shown.
class TfrmDefEdit : public QDialog {
  Q_OBJECT

 public:
  TfrmDefEdit(core::TMaindata& maindata, bool import, QWidget* parent = nullptr);
  /// Refreshes the dialog's own action states (the main window calls it when idle).
  virtual void UpdateActions() {}

 protected:
  core::TMaindata& maindata_;
  bool import_;
};

/// "Definice exportu" over the export list.
class TfrmDefExport : public TfrmDefEdit {
  Q_OBJECT

 public:
  explicit TfrmDefExport(core::TMaindata& maindata, QWidget* parent = nullptr)
      : TfrmDefEdit(maindata, false, parent) {}
};

/// "Definice importu" over the import list.
class TfrmDefImport : public TfrmDefEdit {
  Q_OBJECT

 public:
  explicit TfrmDefImport(core::TMaindata& maindata, QWidget* parent = nullptr)
      : TfrmDefEdit(maindata, true, parent) {}
};

}  // namespace tamaril::ui
