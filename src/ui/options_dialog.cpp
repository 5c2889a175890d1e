#include "ui/options_dialog.h"

#include <QCheckBox>
#include <QClipboard>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <cerrno>
#include <exception>
#include <filesystem>
#include <optional>
#include <system_error>

#include "core/paths.h"
#include "replication/file_problem.h"
#include "replication/site_keys.h"
#include "ui/help.h"
#include "ui/message_box.h"
#include "ui/qt_child.h"
#include "ui/qt_text.h"

namespace tamaril::ui {
namespace {

QString PlatformFolderDialog(QWidget* parent, const QString& title, const QString& start) {
  return QFileDialog::getExistingDirectory(parent, title, start, QFileDialog::ShowDirsOnly);
}

// Default suffix "txt", an overwrite prompt (the dialog's default) and no read-only files offered.
QString PlatformLogFileDialog(QWidget* parent, const QString& start_folder) {
  QFileDialog dialog(parent, QStringLiteral("Log soubor"), start_folder);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setDefaultSuffix(QStringLiteral("txt"));
  dialog.setNameFilters({QStringLiteral("textové soubory (*.txt)"), QStringLiteral("všechny soubory (*.*)")});
  dialog.setFilter(QDir::AllDirs | QDir::Files | QDir::Writable | QDir::NoDotAndDotDot);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return dialog.selectedFiles().constFirst();
}

// Makes sure the folder `folder` of an edit exists; `what` names it in the question ("Složka
// pro export"). An empty text stands for the current folder and is taken as it is. Shows the
// refusal and answers false when the folder is missing and the person does not want it, or it
// cannot be made.
bool EnsureFolder(QWidget* parent, const QString& what, const QString& folder) {
  if (folder.isEmpty()) return true;
  const std::filesystem::path path(ToUtf8(folder));
  std::error_code error;
  if (std::filesystem::is_directory(path, error)) return true;
  if (std::filesystem::exists(path, error)) {
    MessageDlg(parent, tMsgKind::Error,
               QStringLiteral("%1 je soubor, ne složka; zadejte jinou složku.").arg(folder),
               {tMsgButton::Ok});
    return false;
  }
  if (MessageDlg(parent, tMsgKind::Confirmation,
                 QStringLiteral("%1 %2 neexistuje. Mám ji vytvořit?").arg(what, folder),
                 {tMsgButton::Yes, tMsgButton::No}) != tMsgButton::Yes) {
    MessageDlg(parent, tMsgKind::Error,
               QStringLiteral("%1 %2 neexistuje; vytvořte ji, nebo zadejte jinou.").arg(what, folder),
               {tMsgButton::Ok});
    return false;
  }
  std::filesystem::create_directories(path, error);
  if (!error && std::filesystem::is_directory(path, error)) return true;
  const int reason = error ? error.value() : ENOTDIR;
  MessageDlg(parent, tMsgKind::Error,
             QStringLiteral("Vytvoření složky %1 selhalo: %2")
                 .arg(folder, FromAnsi(replication::SystemReasonText(reason))),
             {tMsgButton::Ok});
  return false;
}

}  // namespace

TfrmOptions::TfrmOptions(QWidget* parent)
    : QDialog(parent),
      BrowseFolder(PlatformFolderDialog),
      BrowseLogFile(PlatformLogFileDialog),
      EditExportFolder(MakeChild<QLineEdit>(this)),
      EditImportFolder(MakeChild<QLineEdit>(this)),
      EditDoneFolder(MakeChild<QLineEdit>(this)),
      EditLogFilePath(MakeChild<QLineEdit>(this)),
      chkDoLog(MakeChild<QCheckBox>(QStringLiteral("Zapisovat průběh importu do log souboru"), this)),
      btnExportFolder(MakeChild<QPushButton>(QStringLiteral("Procházet..."), this)),
      btnImportFolder(MakeChild<QPushButton>(QStringLiteral("Procházet..."), this)),
      btnDoneFolder(MakeChild<QPushButton>(QStringLiteral("Procházet..."), this)),
      btnLogFile(MakeChild<QPushButton>(QStringLiteral("Procházet..."), this)),
      btnOK(MakeChild<QPushButton>(QStringLiteral("OK"), this)),
      btnCancel(MakeChild<QPushButton>(QStringLiteral("Storno"), this)),
      lblSiteKey(MakeChild<QLabel>(this)),
      edSitePublicKey(MakeChild<QLineEdit>(this)),
      btnCopySiteKey(MakeChild<QPushButton>(QStringLiteral("Kopírovat"), this)),
      btnCreateSiteKey(MakeChild<QPushButton>(QStringLiteral("Vytvořit klíč"), this)) {
  setWindowTitle(QStringLiteral("Nastavení programu"));
  setModal(true);

  auto* grid = MakeChild<QGridLayout>();
  int row = 0;
  const auto add_row = [&](const QString& label_text, QLineEdit* edit, QPushButton* button) {
    auto* label = MakeChild<QLabel>(label_text, this);
    label->setBuddy(edit);
    grid->addWidget(label, row++, 0, 1, 2);
    grid->addWidget(edit, row, 0);
    grid->addWidget(button, row++, 1);
  };
  add_row(QStringLiteral("Složka pro exportované přenosové soubory"), EditExportFolder, btnExportFolder);
  add_row(QStringLiteral("Složka pro importované přenosové soubory"), EditImportFolder, btnImportFolder);
  add_row(QStringLiteral("Složka zpracovaných archivů"), EditDoneFolder, btnDoneFolder);
  EditDoneFolder->setPlaceholderText(QStringLiteral("prázdné: archivy zůstanou ve složce pro import"));
  EditDoneFolder->setToolTip(
      QStringLiteral("Sem import přesune každý archiv, jehož import byl potvrzen; tamaril-cli import ji "
                     "použije, není-li zadána volba --done-folder."));
  add_row(QStringLiteral("Log soubor"), EditLogFilePath, btnLogFile);
  grid->addWidget(chkDoLog, row, 0, 1, 2);
  grid->setColumnMinimumWidth(0, 380);

  auto* key_box = MakeChild<QGroupBox>(QStringLiteral("Klíč tohoto místa"), this);
  auto* key_layout = MakeChild<QVBoxLayout>(key_box);
  lblSiteKey->setWordWrap(true);
  lblSiteKey->setTextInteractionFlags(Qt::TextSelectableByMouse);
  edSitePublicKey->setReadOnly(true);
  edSitePublicKey->setToolTip(
      QStringLiteral("Veřejný klíč předejte partnerovi: centrum podle něj ověří podpis archivů tohoto "
                     "klienta, klient jím šifruje archivy pro toto centrum."));
  auto* key_row = MakeChild<QHBoxLayout>();
  key_row->addWidget(edSitePublicKey, 1);
  key_row->addWidget(btnCopySiteKey);
  key_layout->addWidget(lblSiteKey);
  key_layout->addLayout(key_row);
  key_layout->addWidget(btnCreateSiteKey, 0, Qt::AlignLeft);

  btnOK->setDefault(true);
  auto* buttons = MakeChild<QDialogButtonBox>(this);
  buttons->addButton(btnOK, QDialogButtonBox::AcceptRole);
  buttons->addButton(btnCancel, QDialogButtonBox::RejectRole);
  buttons->addButton(MakeChild<QPushButton>(QStringLiteral("Nápověda"), this), QDialogButtonBox::HelpRole);
  connect(buttons, &QDialogButtonBox::helpRequested, this, [this] { OpenHelp(this, HelpPageOf(this)); });
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

  auto* layout = MakeChild<QVBoxLayout>(this);
  layout->addLayout(grid);
  layout->addSpacing(8);
  layout->addWidget(key_box);
  layout->addWidget(buttons);

  connect(btnExportFolder, &QPushButton::clicked, this,
          [this] { BrowseFolderInto(EditExportFolder, QStringLiteral("Složka pro export")); });
  connect(btnImportFolder, &QPushButton::clicked, this,
          [this] { BrowseFolderInto(EditImportFolder, QStringLiteral("Složka pro import")); });
  connect(btnDoneFolder, &QPushButton::clicked, this,
          [this] { BrowseFolderInto(EditDoneFolder, QStringLiteral("Složka zpracovaných archivů")); });
  connect(btnLogFile, &QPushButton::clicked, this, [this] { BrowseLogFileInto(); });
  connect(btnCopySiteKey, &QPushButton::clicked, this,
          [this] { QGuiApplication::clipboard()->setText(edSitePublicKey->text()); });
  connect(btnCreateSiteKey, &QPushButton::clicked, this, [this] { btnCreateSiteKeyClick(); });
  ShowSiteKey();
}

void TfrmOptions::ShowSiteKey() {
  const std::string path = replication::SiteKeyPath();
  std::optional<replication::tPublicKey> key;
  QString problem;
  try {
    if (const auto pair = replication::LoadSiteKey(path)) key = pair->Public();
  } catch (const std::exception& error) {
    problem = FromAnsi(error.what());
  }
  const bool present = key.has_value() || !problem.isEmpty();
  if (key) {
    lblSiteKey->setText(QStringLiteral("Klíč je v souboru %1 (čte ho jen jeho vlastník). Veřejný klíč pro "
                                       "partnera:")
                            .arg(FromUtf8(path)));
    edSitePublicKey->setText(FromAnsi(replication::PublicKeyText(*key)));
  } else {
    lblSiteKey->setText(present ? problem
                                : QStringLiteral("Toto místo nemá klíč. Bez něj se archivy nepodepisují a "
                                                 "archivy šifrované pro toto místo nelze otevřít."));
    edSitePublicKey->clear();
  }
  btnCopySiteKey->setEnabled(key.has_value());
  // A key file that is there but unusable is mended by hand, never replaced: the partners know
  // its public key.
  btnCreateSiteKey->setEnabled(!present);
}

void TfrmOptions::btnCreateSiteKeyClick() {
  try {
    replication::CreateSiteKey(replication::SiteKeyPath());
  } catch (const std::exception& error) {
    MessageDlg(this, tMsgKind::Error, FromAnsi(error.what()), {tMsgButton::Ok});
  }
  ShowSiteKey();
}

void TfrmOptions::LoadFrom(const core::TReplOptions& options) {
  EditExportFolder->setText(FromAnsi(options.ExportFolder));
  EditImportFolder->setText(FromAnsi(options.ImportFolder));
  EditDoneFolder->setText(FromAnsi(options.DoneFolder));
  EditLogFilePath->setText(FromAnsi(options.LogFilePath));
  chkDoLog->setChecked(options.DoLog);
}

void TfrmOptions::StoreTo(core::TReplOptions& options) const {
  options.ExportFolder = ToAnsi(EditExportFolder->text());
  options.ImportFolder = ToAnsi(EditImportFolder->text());
  options.DoneFolder = ToAnsi(EditDoneFolder->text());
  options.LogFilePath = ToAnsi(EditLogFilePath->text());
  options.DoLog = chkDoLog->isChecked();
}

void TfrmOptions::done(int result) {
  if (result == QDialog::Accepted && !FoldersReady()) return;
  QDialog::done(result);
}

bool TfrmOptions::FoldersReady() {
  const QString log_path = EditLogFilePath->text();
  const QString log_folder = log_path.isEmpty()
                                 ? QString()
                                 : FromUtf8(std::filesystem::path(ToUtf8(log_path)).parent_path().string());
  const struct {
    QLineEdit* edit;
    QString what;
    QString folder;
  } folders[] = {
      {EditExportFolder, QStringLiteral("Složka pro exportované přenosové soubory"),
       EditExportFolder->text()},
      {EditImportFolder, QStringLiteral("Složka pro importované přenosové soubory"),
       EditImportFolder->text()},
      {EditDoneFolder, QStringLiteral("Složka zpracovaných archivů"), EditDoneFolder->text()},
      {EditLogFilePath, QStringLiteral("Složka log souboru"), log_folder},
  };
  for (const auto& [edit, what, folder] : folders) {
    if (!EnsureFolder(this, what, folder)) {
      edit->setFocus();
      edit->selectAll();
      return false;
    }
  }
  return true;
}

void TfrmOptions::BrowseFolderInto(QLineEdit* edit, const QString& title) {
  const QString folder = BrowseFolder(this, title, edit->text());
  if (!folder.isEmpty()) edit->setText(QDir::toNativeSeparators(folder));
}

void TfrmOptions::BrowseLogFileInto() {
  const QString file = BrowseLogFile(this, LogFileStartFolder(EditLogFilePath->text()));
  if (!file.isEmpty()) EditLogFilePath->setText(QDir::toNativeSeparators(file));
}

QString LogFileStartFolder(const QString& log_path) {
  if (!log_path.isEmpty()) {
    const QDir folder = QFileInfo(log_path).absoluteDir();
    if (folder.exists()) return folder.absolutePath();
  }
  return FromUtf8(core::ProgramFolder());
}

bool EditReplOptions(QWidget* parent) {
  TfrmOptions dialog(parent);
  dialog.LoadFrom(core::ReplOptions());
  if (dialog.exec() != QDialog::Accepted) return false;
  dialog.StoreTo(core::ReplOptions());
  core::SaveReplOptions();
  return true;
}

}  // namespace tamaril::ui
