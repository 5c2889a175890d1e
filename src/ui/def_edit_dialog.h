#pragma once

#include <QDialog>
#include <QString>

#include <functional>
#include <optional>
#include <string>

class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QToolButton;

namespace tamaril::dataset {
class TDataSet;
}

namespace tamaril::core {
class TMaindata;
}

namespace tamaril::ui {

/// Edits a connection string: (parent, current text) gives the new text, or nothing when cancelled.
using tEditConnectionString = std::function<std::optional<QString>(QWidget*, const QString&)>;

/// The header of an export or import definition: edits the current record of the list, which
/// the caller has put into edit or insert state; OK saves it, a failed save keeps the dialog open
/// with the error shown.
class TfrmDefEdit : public QDialog {
  Q_OBJECT

 public:
  TfrmDefEdit(core::TMaindata& maindata, bool import, QWidget* parent = nullptr);
  /// Refreshes the dialog's own action states (the main window calls it when idle).
  virtual void UpdateActions() {}

  /// Fills the database box from the server of the connection-string edit when the list is
  /// stale; connection and catalog failures leave it empty. Never throws.
  void FillDatabaseList();
  /// What "Vytvořit..." does: edits the connection string, stores it and refills the database box.
  void btnAdoConnEditClick();
  /// Closing with Accepted saves the record first and stays open when that fails, or when the
  /// Signature, the connection string or the database is empty (said why, that field focused).
  void done(int result) override;

  /// The connection string the dialog holds, with its password, whether shown or masked.
  QString ConnectionStringText() const;
  /// Puts `text` into the connection-string field, its password masked unless shown.
  void SetConnectionStringText(const QString& text);

  /// The connection-string editor behind "Vytvořit..."; ours unless replaced.
  tEditConnectionString EditConnectionString;

  QLineEdit* edSignature;
  QLineEdit* edPartnerName;
  /// The connection string, its password masked until btnShowPassword is checked.
  QLineEdit* edConnectionString;
  QToolButton* btnShowPassword;
  QPushButton* btnAdoConnEdit;
  QComboBox* cbDatabaseName;
  QPlainTextEdit* mmPozn;
  /// Export only (null for an import): Windows-1250 (0) or Unicode (1) texts in the archive.
  QComboBox* cbTextForm = nullptr;
  /// The partner's public key: for an import the client's key whose signature the import
  /// requires, for an export the center's key the archive is sealed to; empty for none.
  QLineEdit* edPartnerKey;
  QPushButton* btnOK;
  QPushButton* btnCancel;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

  core::TMaindata& maindata_;
  bool import_;

 private:
  dataset::TDataSet& List() const;
  void ReadRecord();
  void WriteRecord();

  QString PartnerField() const;
  /// The first of the required fields that is empty, said why and focused; false when none is.
  bool RequiredFieldMissing();
  /// The label of the partner's key field.
  QString PartnerKeyLabel() const;
  /// The key text of edPartnerKey as it is kept: empty, or the key's own text. Shows why it is no
  /// key, focuses the field and gives nothing when the text is not a public key.
  std::optional<std::string> CheckedPartnerKey();
  /// Writes the export's text form and the partner's key (`key`, checked) beside the list for
  /// the saved Signature, dropping them under a Signature the record no longer has.
  void WriteSideFiles(const std::string& key);

  bool database_list_stale_ = true;
  /// The connection string with its password: what a masked password in the field stands for.
  QString connection_string_;
  bool showing_connection_string_ = false;  ///< the field is being filled, not edited
  int connection_size_ = 0;                 ///< the most characters the list's field holds; 0: no limit
  std::string original_signature_;          ///< the Signature the record had when the dialog opened
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
