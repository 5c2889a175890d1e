#include "ui/options_dialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "core/paths.h"
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

}  // namespace

TfrmOptions::TfrmOptions(QWidget* parent)
    : QDialog(parent),
      BrowseFolder(PlatformFolderDialog),
      BrowseLogFile(PlatformLogFileDialog),
      EditExportFolder(MakeChild<QLineEdit>(this)),
      EditImportFolder(MakeChild<QLineEdit>(this)),
      EditLogFilePath(MakeChild<QLineEdit>(this)),
      chkDoLog(MakeChild<QCheckBox>(QStringLiteral("Zapisovat průběh importu do log souboru"), this)),
      btnExportFolder(MakeChild<QPushButton>(QStringLiteral("Procházet..."), this)),
      btnImportFolder(MakeChild<QPushButton>(QStringLiteral("Procházet..."), this)),
      btnLogFile(MakeChild<QPushButton>(QStringLiteral("Procházet..."), this)),
      btnOK(MakeChild<QPushButton>(QStringLiteral("OK"), this)),
      btnCancel(MakeChild<QPushButton>(QStringLiteral("Storno"), this)) {
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
  add_row(QStringLiteral("Log soubor"), EditLogFilePath, btnLogFile);
  grid->addWidget(chkDoLog, row, 0, 1, 2);
  grid->setColumnMinimumWidth(0, 380);

  btnOK->setDefault(true);
  auto* buttons = MakeChild<QDialogButtonBox>(this);
  buttons->addButton(btnOK, QDialogButtonBox::AcceptRole);
  buttons->addButton(btnCancel, QDialogButtonBox::RejectRole);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

  auto* layout = MakeChild<QVBoxLayout>(this);
  layout->addLayout(grid);
  layout->addSpacing(8);
  layout->addWidget(buttons);

  connect(btnExportFolder, &QPushButton::clicked, this,
          [this] { BrowseFolderInto(EditExportFolder, QStringLiteral("Složka pro export")); });
  connect(btnImportFolder, &QPushButton::clicked, this,
          [this] { BrowseFolderInto(EditImportFolder, QStringLiteral("Složka pro import")); });
  connect(btnLogFile, &QPushButton::clicked, this, [this] { BrowseLogFileInto(); });
}

void TfrmOptions::LoadFrom(const core::TReplOptions& options) {
  EditExportFolder->setText(FromAnsi(options.ExportFolder));
  EditImportFolder->setText(FromAnsi(options.ImportFolder));
  EditLogFilePath->setText(FromAnsi(options.LogFilePath));
  chkDoLog->setChecked(options.DoLog);
}

void TfrmOptions::StoreTo(core::TReplOptions& options) const {
  options.ExportFolder = ToAnsi(EditExportFolder->text());
  options.ImportFolder = ToAnsi(EditImportFolder->text());
  options.LogFilePath = ToAnsi(EditLogFilePath->text());
  options.DoLog = chkDoLog->isChecked();
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
