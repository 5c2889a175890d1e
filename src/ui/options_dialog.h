#pragma once

#include <QDialog>
#include <QString>

#include <functional>

#include "core/repl_options.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;

namespace tamaril::ui {

/// Asks for a folder: (parent, title, start folder) gives the chosen folder or an empty text.
using tBrowseFolder = std::function<QString(QWidget*, const QString&, const QString&)>;
/// Asks for a file to write: (parent, start folder) gives the chosen file or an empty text.
using tBrowseSaveFile = std::function<QString(QWidget*, const QString&)>;

/// The dialog "Nastavení programu": the two transfer folders, the folder the import moves the
/// archives it committed into (empty: they stay), the import's log file and its switch.
/// It only edits its controls; EditReplOptions decides what becomes of them. Below them, the
/// site's key: its public half to copy for the partners, or a button that makes the key (at once,
/// whatever the dialog's end; the secret is never shown). OK closes it only
/// when both folders and the log file's folder exist: for each that does not, it asks whether
/// to create it (Ano creates it), and on Ne, or when it cannot be created, says so and stays open
/// with that edit focused.
class TfrmOptions : public QDialog {
  Q_OBJECT

 public:
  explicit TfrmOptions(QWidget* parent = nullptr);

  /// Fills the controls from `options`.
  void LoadFrom(const core::TReplOptions& options);
  /// Copies the controls into `options`.
  void StoreTo(core::TReplOptions& options) const;
  /// Refreshes the dialog's own action states (it has none).
  void UpdateActions() {}

  /// Closing with Accepted first makes sure of the folders (see the class); otherwise as QDialog.
  void done(int result) override;

  /// The folder browser of both folder buttons; the platform's folder dialog unless replaced.
  tBrowseFolder BrowseFolder;
  /// The save-file dialog of the log file button; the platform's one unless replaced.
  tBrowseSaveFile BrowseLogFile;

  QLineEdit* EditExportFolder;
  QLineEdit* EditImportFolder;
  QLineEdit* EditDoneFolder;
  QLineEdit* EditLogFilePath;
  QCheckBox* chkDoLog;
  QPushButton* btnExportFolder;
  QPushButton* btnImportFolder;
  QPushButton* btnDoneFolder;
  QPushButton* btnLogFile;
  QPushButton* btnOK;
  QPushButton* btnCancel;
  /// What the site's key is: none, where it is, or why it cannot be used.
  QLabel* lblSiteKey;
  /// The site's public key, read-only; empty when there is none.
  QLineEdit* edSitePublicKey;
  QPushButton* btnCopySiteKey;
  QPushButton* btnCreateSiteKey;

  /// Reads the site's key file again and shows what it holds.
  void ShowSiteKey();
  /// What "Vytvořit klíč" does: makes the site's key, or says why it cannot.
  void btnCreateSiteKeyClick();

 private:
  void BrowseFolderInto(QLineEdit* edit, const QString& title);
  void BrowseLogFileInto();
  /// True when the folders of the edits exist or were created on the person's Ano.
  bool FoldersReady();
};

/// The folder the log file's save dialog starts in: the folder of `log_path` when the path is
/// not empty and that folder exists, else the program's folder (UTF-8 paths).
QString LogFileStartFolder(const QString& log_path);

/// The dialog "Nastavení programu" over the settings: only OK copies the edits back and saves
/// tamaril.ini; returns true then. Throws IniFileError when the file cannot be written.
bool EditReplOptions(QWidget* parent);

}  // namespace tamaril::ui
