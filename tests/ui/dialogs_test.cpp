#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "core/definition_keys.h"
#include "core/errors.h"
#include "core/login.h"
#include "core/maindata.h"
#include "core/paths.h"
#include "core/repl_options.h"
#include "dataset/field.h"
#include "dbaccess/connection.h"
#include "dbaccess/connection_string.h"
#include "replication/site_keys.h"
#include "scripted_boxes.h"
#include "support/expect_throw_msg.h"
#include "support/temp_dir.h"
#include "text/encoding.h"
#include "ui/connection_editor.h"
#include "ui/def_edit_dialog.h"
#include "ui/login_dialog.h"
#include "ui/options_dialog.h"
#include "ui/qt_text.h"

namespace tamaril::ui {
namespace {

using tamaril::testing::ReadWholeFile;
using tamaril::testing::TempDir;

// Runs `step` on the modal dialog of type D once its event loop runs.
template <typename D>
void WhenModal(std::function<void(D&)> step) {
  QTimer::singleShot(0, [step] {
    auto* dialog = qobject_cast<D*>(QApplication::activeModalWidget());
    ASSERT_NE(dialog, nullptr) << "no modal dialog of the expected kind";
    step(*dialog);
  });
}

std::vector<QString> ComboItems(const QComboBox& combo) {
  std::vector<QString> items;
  for (int i = 0; i < combo.count(); ++i) items.push_back(combo.itemText(i));
  return items;
}

// --- Qt's own texts ---------------------------------------------------------------------------

// The program loads Qt's Czech translation as the tests' main does: the standard buttons, the
// context menu of every text field and the file dialogs (Qt's own, not the platform's) speak Czech.
TEST(QtTexts, StandardButtonsContextMenusAndFileDialogsAreCzech) {
  QLineEdit edit(QStringLiteral("text"));
  const std::unique_ptr<QMenu> menu(edit.createStandardContextMenu());
  QStringList texts;
  for (const QAction* action : menu->actions()) texts << action->text().remove(QLatin1Char('&'));
  const QString joined = texts.join(QLatin1Char('|'));
  for (const QString& czech : {QStringLiteral("Zpět"), QStringLiteral("Vyjmout"), QStringLiteral("Kopírovat"),
                               QStringLiteral("Vložit"), QStringLiteral("Vybrat vše")})
    EXPECT_TRUE(joined.contains(czech)) << joined.toStdString();

  QDialogButtonBox buttons(QDialogButtonBox::Cancel | QDialogButtonBox::Help);
  EXPECT_EQ(buttons.button(QDialogButtonBox::Cancel)->text().remove(QLatin1Char('&')),
            QStringLiteral("Zrušit"));
  EXPECT_TRUE(QApplication::testAttribute(Qt::AA_DontUseNativeDialogs));
}

// --- Settings -------------------------------------------------------------------------------

class OptionsDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    core::SetProgramFolder(home_.path());
    core::SetDefaultReplOptions();
    core::ReplOptions() = {"/data/export", "/data/import", home_.File("log.txt"), false};
    core::SaveReplOptions();
    ini_before_ = ReadWholeFile(core::ReplOptionsFileName());
    ASSERT_FALSE(ini_before_.empty());
  }
  void TearDown() override {
    core::SetProgramFolder("");
    core::SetDefaultReplOptions();
  }

  // Puts browse hooks in that answer with new paths and records what they were asked, presses
  // all three "Procházet..." buttons and the check box, then closes the dialog with `result`.
  void BrowseAllThenClose(int result) {
    WhenModal<TfrmOptions>([this, result](TfrmOptions& dialog) {
      dialog.BrowseFolder = [this](QWidget*, const QString& title, const QString& start) {
        folder_requests_.push_back(title + "|" + start);
        return FromUtf8(title.endsWith(QStringLiteral("export")) ? new_export_ : new_import_);
      };
      dialog.BrowseLogFile = [this](QWidget*, const QString& start) {
        log_start_ = start;
        return FromUtf8(new_log_);
      };
      dialog.btnExportFolder->click();
      dialog.btnImportFolder->click();
      dialog.btnLogFile->click();
      dialog.chkDoLog->setChecked(true);
      EXPECT_EQ(dialog.EditExportFolder->text(), FromUtf8(new_export_));
      EXPECT_EQ(dialog.EditLogFilePath->text(), FromUtf8(new_log_));
      dialog.done(result);
    });
  }

  TempDir home_;
  std::string ini_before_;
  std::vector<QString> folder_requests_;
  QString log_start_;
  // What the browse hooks choose (UTF-8): folders that exist, so that OK asks nothing.
  std::string new_export_ = home_.File("new/export");
  std::string new_import_ = home_.File("new/import");
  std::string new_log_ = home_.File("new/ž.txt");
};

TEST_F(OptionsDialogTest, StornoLeavesSettingsAndFileAloneAfterBrowsing) {
  BrowseAllThenClose(QDialog::Rejected);
  EXPECT_FALSE(EditReplOptions(nullptr));

  EXPECT_EQ(core::ReplOptions().ExportFolder, "/data/export");
  EXPECT_EQ(core::ReplOptions().ImportFolder, "/data/import");
  EXPECT_FALSE(core::ReplOptions().DoLog);
  EXPECT_EQ(ReadWholeFile(core::ReplOptionsFileName()), ini_before_);
  // The browsers start where the edits point.
  EXPECT_EQ(folder_requests_, (std::vector<QString>{QStringLiteral("Složka pro export|/data/export"),
                                                    QStringLiteral("Složka pro import|/data/import")}));
  EXPECT_EQ(log_start_, FromUtf8(home_.path()));
}

TEST_F(OptionsDialogTest, OkCopiesTheEditsAndWritesTheFile) {
  std::filesystem::create_directories(new_export_);
  std::filesystem::create_directories(new_import_);
  testing::tScriptedBoxes boxes;
  BrowseAllThenClose(QDialog::Accepted);
  EXPECT_TRUE(EditReplOptions(nullptr));

  EXPECT_TRUE(boxes.Shown().empty());
  EXPECT_EQ(core::ReplOptions().ExportFolder, new_export_);
  EXPECT_EQ(core::ReplOptions().ImportFolder, new_import_);
  EXPECT_EQ(core::ReplOptions().LogFilePath, home_.File("new/\x9E.txt"));  // "ž" in Windows-1250
  EXPECT_TRUE(core::ReplOptions().DoLog);
  const std::string ini = ReadWholeFile(core::ReplOptionsFileName());
  EXPECT_NE(ini.find("EXPFLDR=" + new_export_ + "\n"), std::string::npos) << ini;
  EXPECT_NE(ini.find("DOLOG=1"), std::string::npos) << ini;
}

// OK with folders that do not exist: each is offered to be created; Ano creates it, Ne keeps the
// dialog open with the refusal and that edit focused, and nothing reaches the settings.
TEST_F(OptionsDialogTest, OkAsksToCreateMissingFoldersAndStaysOpenOnNe) {
  testing::tScriptedBoxes boxes;
  TfrmOptions dialog;
  const QString exports = FromUtf8(home_.File("nové/export"));
  const QString imports = FromUtf8(home_.File("nové/import"));
  dialog.LoadFrom(core::ReplOptions());
  dialog.EditExportFolder->setText(exports);
  dialog.EditImportFolder->setText(imports);
  dialog.EditLogFilePath->setText(FromUtf8(home_.File("log.txt")));
  boxes.Answer(tMsgButton::Yes);
  boxes.Answer(tMsgButton::No);
  boxes.Answer(tMsgButton::Ok);
  dialog.done(QDialog::Accepted);

  EXPECT_EQ(dialog.result(), QDialog::Rejected) << "the dialog stayed open";
  EXPECT_TRUE(std::filesystem::is_directory(home_.File("nové/export")));
  EXPECT_FALSE(std::filesystem::exists(home_.File("nové/import")));
  ASSERT_EQ(boxes.Shown().size(), 3u);
  EXPECT_EQ(boxes.Shown()[0].kind, tMsgKind::Confirmation);
  EXPECT_EQ(boxes.Shown()[0].buttons, (std::vector<tMsgButton>{tMsgButton::Yes, tMsgButton::No}));
  EXPECT_EQ(boxes.Shown()[0].text,
            QStringLiteral("Složka pro exportované přenosové soubory %1 neexistuje. Mám ji vytvořit?")
                .arg(exports));
  EXPECT_EQ(boxes.Shown()[1].text,
            QStringLiteral("Složka pro importované přenosové soubory %1 neexistuje. Mám ji vytvořit?")
                .arg(imports));
  EXPECT_EQ(boxes.Shown()[2].kind, tMsgKind::Error);
  EXPECT_EQ(
      boxes.Shown()[2].text,
      QStringLiteral("Složka pro importované přenosové soubory %1 neexistuje; vytvořte ji, nebo zadejte "
                     "jinou.")
          .arg(imports));
  EXPECT_EQ(core::ReplOptions().ImportFolder, "/data/import");

  // The log file's folder is asked for as well; once every folder is there OK closes.
  dialog.EditLogFilePath->setText(FromUtf8(home_.File("logy/import.txt")));
  boxes.Answer(tMsgButton::Yes);
  boxes.Answer(tMsgButton::Yes);
  dialog.done(QDialog::Accepted);
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_TRUE(std::filesystem::is_directory(home_.File("nové/import")));
  EXPECT_TRUE(std::filesystem::is_directory(home_.File("logy")));
  ASSERT_EQ(boxes.Shown().size(), 5u);
  EXPECT_TRUE(boxes.Shown()[4].text.startsWith(QStringLiteral("Složka log souboru ")));
}

// A folder that cannot be made, and a file where a folder should be: refused with the reason,
// the dialog stays open; Storno is never held up by the folders.
TEST_F(OptionsDialogTest, AFolderThatCannotBeMadeIsRefusedWithItsReason) {
  tamaril::testing::WriteWholeFile(home_.File("soubor"), "x");
  testing::tScriptedBoxes boxes;
  TfrmOptions dialog;
  dialog.LoadFrom(core::ReplOptions());
  const QString below_file = FromUtf8(home_.File("soubor/export"));
  dialog.EditExportFolder->setText(below_file);
  boxes.Answer(tMsgButton::Yes);
  boxes.Answer(tMsgButton::Ok);
  dialog.done(QDialog::Accepted);
  EXPECT_EQ(dialog.result(), QDialog::Rejected);
  ASSERT_EQ(boxes.Shown().size(), 2u);
  EXPECT_EQ(boxes.Shown()[1].text,
            QStringLiteral("Vytvoření složky %1 selhalo: část cesty není složka").arg(below_file));

  dialog.EditExportFolder->setText(FromUtf8(home_.File("soubor")));
  boxes.Answer(tMsgButton::Ok);
  dialog.done(QDialog::Accepted);
  EXPECT_EQ(dialog.result(), QDialog::Rejected);
  ASSERT_EQ(boxes.Shown().size(), 3u);
  EXPECT_EQ(
      boxes.Shown()[2].text,
      QStringLiteral("%1 je soubor, ne složka; zadejte jinou složku.").arg(FromUtf8(home_.File("soubor"))));

  dialog.done(QDialog::Rejected);
  EXPECT_EQ(boxes.Shown().size(), 3u);
  EXPECT_EQ(core::ReplOptions().ExportFolder, "/data/export");
}

TEST_F(OptionsDialogTest, CancelledBrowserKeepsTheEditAndLogBrowserFallsBackToTheProgramFolder) {
  TfrmOptions dialog;
  dialog.LoadFrom({"/a", "/b", "/no/such/folder/log.txt", true});
  dialog.BrowseFolder = [](QWidget*, const QString&, const QString&) { return QString(); };
  QString start;
  dialog.BrowseLogFile = [&start](QWidget*, const QString& folder) {
    start = folder;
    return QString();
  };
  dialog.btnExportFolder->click();
  dialog.btnLogFile->click();
  EXPECT_EQ(dialog.EditExportFolder->text(), QStringLiteral("/a"));
  EXPECT_EQ(dialog.EditLogFilePath->text(), QStringLiteral("/no/such/folder/log.txt"));
  EXPECT_EQ(start, FromUtf8(home_.path()));
  EXPECT_EQ(LogFileStartFolder(QString()), FromUtf8(home_.path()));
}

// The site's key: made once from the dialog, only its public half shown and copied; a second
// dialog that still offers to make it is refused as the command line is, and a key file others
// can read is reported with its remedy and never replaced.
// The folder of processed archives is kept under DONEFLDR; emptied, the key goes and the
// archives stay where the import found them.
TEST_F(OptionsDialogTest, TheDoneFolderIsSavedAndAnEmptyOneLeavesNoKey) {
  const std::string done = home_.File("hotovo");
  std::filesystem::create_directories(done);
  testing::tScriptedBoxes boxes;
  const auto existing_folders = [this](TfrmOptions& dialog) {
    dialog.EditExportFolder->setText(FromUtf8(home_.path()));
    dialog.EditImportFolder->setText(FromUtf8(home_.path()));
  };
  WhenModal<TfrmOptions>([&](TfrmOptions& dialog) {
    EXPECT_TRUE(dialog.EditDoneFolder->text().isEmpty());
    existing_folders(dialog);
    dialog.BrowseFolder = [&](QWidget*, const QString& title, const QString&) {
      EXPECT_EQ(title, QStringLiteral("Složka zpracovaných archivů"));
      return FromUtf8(done);
    };
    dialog.btnDoneFolder->click();
    dialog.done(QDialog::Accepted);
  });
  ASSERT_TRUE(EditReplOptions(nullptr));
  EXPECT_NE(ReadWholeFile(core::ReplOptionsFileName()).find("DONEFLDR=" + done + "\n"), std::string::npos);
  core::LoadReplOptions();
  EXPECT_EQ(core::ReplOptions().DoneFolder, done);

  WhenModal<TfrmOptions>([&](TfrmOptions& dialog) {
    EXPECT_EQ(dialog.EditDoneFolder->text(), FromUtf8(done));
    existing_folders(dialog);
    dialog.EditDoneFolder->clear();
    dialog.done(QDialog::Accepted);
  });
  ASSERT_TRUE(EditReplOptions(nullptr));
  EXPECT_EQ(ReadWholeFile(core::ReplOptionsFileName()).find("DONEFLDR"), std::string::npos);
  EXPECT_TRUE(core::ReplOptions().DoneFolder.empty());
  EXPECT_TRUE(boxes.Shown().empty());
}

TEST_F(OptionsDialogTest, SiteKeyIsMadeOnceAndOnlyItsPublicHalfIsShown) {
  testing::tScriptedBoxes boxes;
  TfrmOptions dialog;
  TfrmOptions stale;
  EXPECT_TRUE(dialog.edSitePublicKey->text().isEmpty());
  EXPECT_TRUE(dialog.lblSiteKey->text().startsWith(QStringLiteral("Toto místo nemá klíč.")));
  EXPECT_FALSE(dialog.btnCopySiteKey->isEnabled());
  ASSERT_TRUE(dialog.btnCreateSiteKey->isEnabled());

  dialog.btnCreateSiteKey->click();
  const std::string path = home_.File("SITE.KEY");
  ASSERT_TRUE(std::filesystem::exists(path));
  EXPECT_EQ(std::filesystem::status(path).permissions() & std::filesystem::perms::all,
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  const auto key = replication::LoadSiteKey(path);
  ASSERT_TRUE(key.has_value());
  const QString public_text = FromUtf8(replication::PublicKeyText(key->Public()));
  EXPECT_EQ(dialog.edSitePublicKey->text(), public_text);
  EXPECT_TRUE(dialog.edSitePublicKey->isReadOnly());
  EXPECT_FALSE(dialog.btnCreateSiteKey->isEnabled());
  dialog.btnCopySiteKey->click();
  EXPECT_EQ(QGuiApplication::clipboard()->text(), public_text);
  const std::string file = ReadWholeFile(path);
  const QString secret = FromUtf8(file.substr(file.find(':') + 1, 43));
  for (const QString& shown : {dialog.lblSiteKey->text(), dialog.edSitePublicKey->text()})
    EXPECT_FALSE(shown.contains(secret));
  EXPECT_TRUE(boxes.Shown().empty());

  boxes.Answer(tMsgButton::Ok);
  stale.btnCreateSiteKey->click();
  ASSERT_EQ(boxes.Shown().size(), 1u);
  EXPECT_EQ(boxes.Shown()[0].kind, tMsgKind::Error);
  EXPECT_EQ(boxes.Shown()[0].text,
            FromUtf8("Soubor klíče " + path +
                     " už existuje; nový klíč by partneři neznali. Jeho veřejný klíč vypíše tamaril-cli keys "
                     "show"));
  EXPECT_EQ(ReadWholeFile(path), file);
  EXPECT_EQ(stale.edSitePublicKey->text(), public_text) << "the refusal shows the key there is";

  std::filesystem::permissions(path, std::filesystem::perms::group_read | std::filesystem::perms::others_read,
                               std::filesystem::perm_options::add);
  TfrmOptions exposed;
  EXPECT_TRUE(exposed.lblSiteKey->text().contains(QStringLiteral("chmod 600 %1").arg(FromUtf8(path))))
      << exposed.lblSiteKey->text().toStdString();
  EXPECT_TRUE(exposed.edSitePublicKey->text().isEmpty());
  EXPECT_FALSE(exposed.btnCopySiteKey->isEnabled());
  EXPECT_FALSE(exposed.btnCreateSiteKey->isEnabled());
}

// --- Login ----------------------------------------------------------------------------------

TEST(LoginDialogTest, FocusGoesToThePasswordOnlyWhenAUserNameIsGiven) {
  core::tLoginObject named{"sa", "old"};
  TfrmLogin with_user(named);
  with_user.show();
  EXPECT_EQ(with_user.windowTitle(), QStringLiteral("SQL server login"));
  EXPECT_EQ(with_user.focusWidget(), with_user.edPassword);
  EXPECT_EQ(with_user.edPassword->echoMode(), QLineEdit::Password);
  EXPECT_TRUE(with_user.btnOK->isDefault());

  core::tLoginObject empty;
  TfrmLogin without_user(empty);
  without_user.show();
  EXPECT_EQ(without_user.focusWidget(), without_user.edUsername);
}

TEST(LoginDialogTest, PromptShowsTheLastErrorAndOkCopiesTheEdits) {
  tDialogLoginPrompt prompt;
  core::tLoginObject login{"sa", ""};
  WhenModal<TfrmLogin>([](TfrmLogin& dialog) {
    EXPECT_TRUE(dialog.lblError->isVisible());
    EXPECT_EQ(dialog.lblError->text(), QStringLiteral("Přihlášení selhalo"));
    EXPECT_EQ(dialog.edUsername->text(), QStringLiteral("sa"));
    dialog.edPassword->setText(QStringLiteral("tajné"));
    dialog.btnOK->click();
  });
  ASSERT_TRUE(prompt.ShowLoginDialog(login, text::Utf8ToAnsi("Přihlášení selhalo")));
  EXPECT_EQ(login.UserName, "sa");
  EXPECT_EQ(login.Password, text::Utf8ToAnsi("tajné"));

  WhenModal<TfrmLogin>([](TfrmLogin& dialog) {
    EXPECT_FALSE(dialog.lblError->isVisible());
    dialog.edUsername->setText(QStringLiteral("jiny"));
    dialog.btnCancel->click();
  });
  EXPECT_FALSE(prompt.ShowLoginDialog(login, ""));
  EXPECT_EQ(login.UserName, "sa") << "Storno leaves the login alone";
}

// --- Definition header editor ---------------------------------------------------------------

class NoPrompt : public core::LoginPrompt {
 public:
  bool ShowLoginDialog(core::tLoginObject&, std::string_view) override { return false; }
};

class DefEditTest : public ::testing::Test {
 protected:
  void SetUp() override { core::SetProgramFolder(home_.path()); }
  void TearDown() override { core::SetProgramFolder(""); }

  // A SQLite folder holding the named (empty) databases.
  std::string SqliteFolder(const std::string& name, const std::vector<std::string>& databases) {
    const std::string folder = home_.File(name);
    std::filesystem::create_directories(folder);
    dbaccess::Connection connection("Provider=SQLite;Data Source=" + folder);
    connection.Open();
    for (const auto& database : databases) connection.CreateDatabase(database);
    return folder;
  }

  void AddExport(core::TMaindata& data, const std::string& signature) {
    data.ExportDefTbl.Append();
    data.ExportDefTbl.FieldByName("Signature").SetAsString(signature);
    data.ExportDefTbl.FieldByName("CenterName").SetAsString("Centrum");
    data.ExportDefTbl.Post();
  }

  // What a definition needs besides its Signature before it can be saved.
  static void FillConnection(TfrmDefEdit& dialog) {
    dialog.edConnectionString->setText(QStringLiteral("Provider=SQLite;Data Source=/srv/data"));
    dialog.cbDatabaseName->setEditText(QStringLiteral("shop"));
  }

  TempDir home_;
  NoPrompt prompt_;
  ui::testing::tScriptedBoxes boxes_;
};

TEST_F(DefEditTest, DuplicateSignatureKeepsTheDialogOpenThenOkSaves) {
  core::TMaindata data(prompt_);
  AddExport(data, "PRAHA");
  data.ExportDefTbl.Append();

  TfrmDefExport dialog(data);
  EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Definice exportu"));
  dialog.open();
  dialog.edSignature->setText(QStringLiteral("PRAHA"));
  dialog.edPartnerName->setText(QStringLiteral("Centrála Brno"));
  FillConnection(dialog);
  boxes_.Answer(tMsgButton::Ok);
  dialog.accept();
  EXPECT_TRUE(dialog.isVisible());
  EXPECT_EQ(boxes_.Texts(),
            std::vector<std::string>{"Definici nelze uložit: Duplicated field value in field Signature"});
  EXPECT_EQ(boxes_.Shown().front().kind, tMsgKind::Error);
  EXPECT_EQ(data.ExportDefTbl.State(), dataset::DataSetState::Insert);

  dialog.edSignature->setText(QStringLiteral("BRNO"));
  dialog.accept();
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_EQ(data.ExportDefTbl.State(), dataset::DataSetState::Browse);
  EXPECT_EQ(data.ExportDefTbl.RecordCount(), 2);
  EXPECT_EQ(FromAnsi(data.ExportDefTbl.FieldByName("CenterName").AsString()),
            QStringLiteral("Centrála Brno"));
}

TEST_F(DefEditTest, StornoWritesNothingIntoTheRecord) {
  core::TMaindata data(prompt_);
  AddExport(data, "PRAHA");
  data.ExportDefTbl.Edit();
  TfrmDefExport dialog(data);
  EXPECT_EQ(dialog.edSignature->text(), QStringLiteral("PRAHA"));
  dialog.open();
  dialog.edSignature->setText(QStringLiteral("JINAK"));
  dialog.reject();
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_EQ(data.ExportDefTbl.FieldByName("Signature").AsString(), "PRAHA");
}

TEST_F(DefEditTest, ConnectionStringSurvivesSaveAndReloadScrambledInTheFile) {
  const std::string plain = text::Utf8ToAnsi("Provider=SQLite;Data Source=/srv/data/účty");
  {
    core::TMaindata data(prompt_);
    data.ImportDefTbl.Append();
    TfrmDefImport dialog(data);
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Definice importu"));
    dialog.open();
    dialog.edSignature->setText(QStringLiteral("K1"));
    dialog.edPartnerName->setText(QStringLiteral("Klient"));
    dialog.edConnectionString->setText(FromAnsi(plain));
    dialog.cbDatabaseName->setEditText(QStringLiteral("klient"));
    dialog.mmPozn->setPlainText(QStringLiteral("řádek 1\nřádek 2"));
    dialog.accept();
    ASSERT_EQ(dialog.result(), QDialog::Accepted);
    data.StoreLists();
  }
  const std::string file = ReadWholeFile(home_.File("IMPORT.DAT"));
  EXPECT_EQ(file.find("Provider=SQLite"), std::string::npos) << "the file holds the string scrambled";

  core::TMaindata reopened(prompt_);
  reopened.ImportDefTbl.First();
  reopened.ImportDefTbl.Edit();
  TfrmDefImport dialog(reopened);
  EXPECT_EQ(ToAnsi(dialog.edConnectionString->text()), plain);
  EXPECT_EQ(dialog.cbDatabaseName->currentText(), QStringLiteral("klient"));
  EXPECT_EQ(dialog.mmPozn->toPlainText(), QStringLiteral("řádek 1\nřádek 2"));
}

TEST_F(DefEditTest, DatabaseListIsFilledOncePerConnectionStringAndRefilledAfterCreate) {
  const std::string first = SqliteFolder("first", {"alfa", "beta"});
  const std::string second = SqliteFolder("second", {"gama"});
  core::TMaindata data(prompt_);
  data.ExportDefTbl.Append();
  TfrmDefExport dialog(data);
  dialog.edConnectionString->setText(FromUtf8("Provider=SQLite;Data Source=" + first));
  dialog.cbDatabaseName->setEditText(QStringLiteral("beta"));

  dialog.FillDatabaseList();
  EXPECT_EQ(ComboItems(*dialog.cbDatabaseName),
            (std::vector<QString>{QStringLiteral("alfa"), QStringLiteral("beta")}));
  EXPECT_EQ(dialog.cbDatabaseName->currentText(), QStringLiteral("beta")) << "the typed name stays";

  SqliteFolder("first", {"delta"});
  dialog.FillDatabaseList();
  EXPECT_EQ(dialog.cbDatabaseName->count(), 2) << "an unchanged connection string is listed only once";

  QString offered;
  dialog.EditConnectionString = [&](QWidget*, const QString& current) -> std::optional<QString> {
    offered = current;
    return FromUtf8("Provider=SQLite;Data Source=" + second);
  };
  dialog.btnAdoConnEdit->click();
  EXPECT_EQ(offered, FromUtf8("Provider=SQLite;Data Source=" + first));
  EXPECT_EQ(ComboItems(*dialog.cbDatabaseName), std::vector<QString>{QStringLiteral("gama")});
  EXPECT_EQ(dialog.cbDatabaseName->currentText(), QString()) << "the old database name is cleared";

  // A server that cannot be reached leaves the list empty and shows nothing.
  dialog.edConnectionString->setText(QStringLiteral("Provider=SQLite;Data Source=/no/such/folder"));
  dialog.FillDatabaseList();
  EXPECT_EQ(dialog.cbDatabaseName->count(), 0);
  EXPECT_TRUE(boxes_.Shown().empty());
}

// The partner's key of a definition: checked on OK with the command line's reason, kept in
// canonical form under the Signature, shown again, moved with a renamed Signature, and removed
// when the field is emptied.
TEST_F(DefEditTest, PartnerKeyIsCheckedStoredReloadedAndMovedWithTheSignature) {
  const std::string key = replication::PublicKeyText(replication::tSiteKey::FromSeed({7}).Public());
  core::TMaindata data(prompt_);
  data.ImportDefTbl.Append();
  {
    TfrmDefImport dialog(data);
    dialog.open();
    dialog.edSignature->setText(QStringLiteral("K1"));
    dialog.edPartnerName->setText(QStringLiteral("Klient"));
    FillConnection(dialog);
    dialog.edPartnerKey->setText(QStringLiteral("ed25519:nic"));
    boxes_.Answer(tMsgButton::Ok);
    dialog.accept();
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(boxes_.Texts(),
              std::vector<std::string>{
                  "Klíč klienta (podpis vyžadován): „ed25519:nic“ není veřejný klíč; čekám jeden "
                  "řádek „ed25519:…“, jak ho u partnera vypíše tamaril-cli keys show (prázdná "
                  "hodnota klíč odebere)"});
    EXPECT_EQ(data.ImportDefTbl.State(), dataset::DataSetState::Insert) << "nothing saved";
    EXPECT_FALSE(std::filesystem::exists(home_.File("KEYS.INI")));

    dialog.edPartnerKey->setText(FromUtf8("  " + key + " "));
    dialog.accept();
    ASSERT_EQ(dialog.result(), QDialog::Accepted);
  }
  EXPECT_EQ(core::TrustedKey("K1"), key);
  EXPECT_EQ(core::SealKey("K1"), "") << "an import's key is no seal key";

  data.ImportDefTbl.Edit();
  {
    TfrmDefImport dialog(data);
    EXPECT_EQ(dialog.edPartnerKey->text(), FromUtf8(key));
    dialog.open();
    dialog.edSignature->setText(QStringLiteral("K2"));
    dialog.accept();
    ASSERT_EQ(dialog.result(), QDialog::Accepted);
  }
  EXPECT_EQ(core::TrustedKey("K1"), "");
  EXPECT_EQ(core::TrustedKey("K2"), key);

  data.ImportDefTbl.Edit();
  {
    TfrmDefImport dialog(data);
    dialog.open();
    dialog.edPartnerKey->setText(QString());
    dialog.edPartnerKey->setModified(true);
    dialog.accept();
    ASSERT_EQ(dialog.result(), QDialog::Accepted);
  }
  EXPECT_EQ(core::TrustedKey("K2"), "");
  EXPECT_EQ(boxes_.Shown().size(), 1u);
}

TEST_F(DefEditTest, ExportSealKeyIsKeptApartAndANewDefinitionDropsAStaleOne) {
  const std::string key = replication::PublicKeyText(replication::tSiteKey::FromSeed({9}).Public());
  core::SetSealKey("PRAHA", key);  // left by a definition removed elsewhere
  core::TMaindata data(prompt_);
  data.ExportDefTbl.Append();
  TfrmDefExport dialog(data);
  EXPECT_TRUE(dialog.edPartnerKey->text().isEmpty());
  dialog.open();
  dialog.edSignature->setText(QStringLiteral("PRAHA"));
  dialog.edPartnerName->setText(QStringLiteral("Centrum"));
  FillConnection(dialog);
  dialog.accept();
  ASSERT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_EQ(core::SealKey("PRAHA"), "");

  data.ExportDefTbl.Edit();
  TfrmDefExport edit(data);
  edit.open();
  edit.edPartnerKey->setText(FromUtf8(key));
  edit.edPartnerKey->setModified(true);
  edit.accept();
  ASSERT_EQ(edit.result(), QDialog::Accepted);
  EXPECT_EQ(core::SealKey("PRAHA"), key);
  EXPECT_EQ(core::TrustedKey("PRAHA"), "");
  EXPECT_TRUE(boxes_.Shown().empty());
}

// A definition without its Signature, connection string or database cannot be used by any run:
// OK says which one is missing, focuses it and saves nothing, down to the list file.
TEST_F(DefEditTest, EmptyRequiredFieldsAreRefusedOneByOneAndNothingIsSaved) {
  {
    core::TMaindata data(prompt_);
    data.ImportDefTbl.Append();
    TfrmDefImport dialog(data);
    dialog.show();
    QApplication::setActiveWindow(&dialog);
    dialog.edSignature->setText(QStringLiteral("   "));
    dialog.edPartnerName->setText(QStringLiteral("Klient"));
    dialog.edConnectionString->setText(QStringLiteral("Provider=SQLite;Data Source=/no/such/folder"));
    dialog.cbDatabaseName->setEditText(QStringLiteral("klient"));
    dialog.mmPozn->setFocus();
    boxes_.Answer(tMsgButton::Ok);
    dialog.accept();
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(QApplication::focusWidget(), dialog.edSignature);

    dialog.edSignature->setText(QStringLiteral("K1"));
    dialog.edConnectionString->clear();
    boxes_.Answer(tMsgButton::Ok);
    dialog.accept();
    EXPECT_EQ(QApplication::focusWidget(), dialog.edConnectionString);

    // Longer than the list's field holds: refused rather than cut off.
    dialog.edConnectionString->setText(QStringLiteral("Provider=SQLite;Data Source=/") +
                                       QString(250, QLatin1Char('x')));
    boxes_.Answer(tMsgButton::Ok);
    dialog.accept();
    EXPECT_EQ(QApplication::focusWidget(), dialog.edConnectionString);

    dialog.edConnectionString->setText(QStringLiteral("Provider=SQLite;Data Source=/no/such/folder"));
    dialog.cbDatabaseName->setEditText(QString());
    boxes_.Answer(tMsgButton::Ok);
    dialog.accept();
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(data.ImportDefTbl.State(), dataset::DataSetState::Insert);

    ASSERT_EQ(boxes_.Shown().size(), 4U);
    EXPECT_EQ(boxes_.Shown()[0].kind, tMsgKind::Warning);
    EXPECT_TRUE(boxes_.Shown()[0].text.contains(QStringLiteral("identifikaci přenosu")));
    EXPECT_TRUE(boxes_.Shown()[1].text.contains(QStringLiteral("připojovací řetězec")));
    EXPECT_TRUE(boxes_.Shown()[2].text.contains(QStringLiteral("delší než 250 znaků")));
    EXPECT_TRUE(boxes_.Shown()[3].text.contains(QStringLiteral("databázi pro import")));

    // What the main window does with a dialog left by Storno.
    dialog.reject();
    data.ImportDefTbl.Cancel();
    data.StoreLists();
  }
  core::TMaindata reopened(prompt_);
  EXPECT_TRUE(reopened.ImportDefTbl.IsEmpty()) << "IMPORT.DAT holds no definition";
}

// The password of a connection string shows as dots until asked for; editing other parts of the
// masked text, or showing and hiding it, keeps the real password, and the list stores it whole.
TEST_F(DefEditTest, PasswordIsMaskedButKeptThroughEditsAndTheShowToggle) {
  const QString plain = QStringLiteral(
      "Provider=SQLOLEDB.1;Data Source=srv;Initial Catalog=shop;User ID=sa;Password=Tajné;"
      "Persist Security Info=True");
  core::TMaindata data(prompt_);
  data.ExportDefTbl.Append();
  TfrmDefExport dialog(data);
  dialog.SetConnectionStringText(plain);
  EXPECT_FALSE(dialog.edConnectionString->text().contains(QStringLiteral("Tajné")));
  EXPECT_TRUE(dialog.edConnectionString->text().contains(QStringLiteral("Password=••••••••;")));
  EXPECT_EQ(dialog.ConnectionStringText(), plain);

  // The person changes the server in the masked text.
  QString edited = dialog.edConnectionString->text();
  edited.replace(QStringLiteral("Data Source=srv"), QStringLiteral("Data Source=srv2"));
  dialog.edConnectionString->setText(edited);
  QString expected = plain;
  expected.replace(QStringLiteral("Data Source=srv"), QStringLiteral("Data Source=srv2"));
  EXPECT_EQ(dialog.ConnectionStringText(), expected);

  dialog.btnShowPassword->setChecked(true);
  EXPECT_EQ(dialog.edConnectionString->text(), expected);
  dialog.btnShowPassword->setChecked(false);
  EXPECT_FALSE(dialog.edConnectionString->text().contains(QStringLiteral("Tajné")));

  QString offered;
  dialog.EditConnectionString = [&](QWidget*, const QString& current) -> std::optional<QString> {
    offered = current;
    return std::nullopt;
  };
  dialog.btnAdoConnEdit->click();
  EXPECT_EQ(offered, expected) << "the editor gets the real password";

  dialog.open();
  dialog.edSignature->setText(QStringLiteral("PRAHA"));
  dialog.edPartnerName->setText(QStringLiteral("Centrum"));
  dialog.cbDatabaseName->setEditText(QStringLiteral("shop"));
  dialog.accept();
  ASSERT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_EQ(FromAnsi(data.ExportDefTbl.FieldByName("ConnectionString").Text()), expected);

  // A string as long as the field holds, whose mask is longer than its password, is kept whole.
  QString full = QStringLiteral("Provider=SQLOLEDB.1;Password=abc;Data Source=");
  full += QString(250 - full.size(), QLatin1Char('s'));
  data.ExportDefTbl.Edit();
  TfrmDefExport again(data);
  again.SetConnectionStringText(full);
  again.open();
  again.accept();
  ASSERT_EQ(again.result(), QDialog::Accepted);
  EXPECT_EQ(FromAnsi(data.ExportDefTbl.FieldByName("ConnectionString").Text()), full);
}

// --- Connection editor ----------------------------------------------------------------------

TEST(ConnectionEditorTest, MaskHidesEveryPasswordAndUnmaskTakesOnlyTheUntouchedOnesBack) {
  EXPECT_EQ(MaskedPassword(QStringLiteral("Driver=X;PWD=abc;UID=u")),
            QStringLiteral("Driver=X;PWD=••••••••;UID=u"));
  EXPECT_EQ(MaskedPassword(QStringLiteral("password = a=b")), QStringLiteral("password =••••••••"));
  EXPECT_EQ(MaskedPassword(QStringLiteral("Provider=SQLite;Data Source=/x")),
            QStringLiteral("Provider=SQLite;Data Source=/x"));
  EXPECT_EQ(MaskedPassword(QStringLiteral("User ID=sa;Password=")), QStringLiteral("User ID=sa;Password="));

  const QString real = QStringLiteral("Data Source=s;Password=p1;User ID=u");
  EXPECT_EQ(UnmaskedPassword(MaskedPassword(real), real), real);
  EXPECT_EQ(UnmaskedPassword(QStringLiteral("Data Source=s;Password=nove;User ID=u"), real),
            QStringLiteral("Data Source=s;Password=nove;User ID=u"))
      << "a password typed over the mask is the new one";
  EXPECT_EQ(UnmaskedPassword(QStringLiteral("Data Source=s;User ID=u"), real),
            QStringLiteral("Data Source=s;User ID=u"))
      << "a removed password stays removed";
  EXPECT_EQ(UnmaskedPassword(QStringLiteral("Password=••••••••"), QStringLiteral("Data Source=s")),
            QStringLiteral("Password=••••••••"));
}

TEST(ConnectionEditorTest, PasswordIsShownOnlyWhileAskedFor) {
  TfrmConnectionEditor editor;
  editor.SetConnectionString(QStringLiteral("Provider=SQLOLEDB.1;Data Source=srv;User ID=sa;Password=x"));
  EXPECT_EQ(editor.edPassword->echoMode(), QLineEdit::Password);
  editor.chkShowPassword->setChecked(true);
  EXPECT_EQ(editor.edPassword->echoMode(), QLineEdit::Normal);
  editor.chkShowPassword->setChecked(false);
  EXPECT_EQ(editor.edPassword->echoMode(), QLineEdit::Password);
  editor.chkTrusted->setChecked(true);
  EXPECT_FALSE(editor.chkShowPassword->isEnabled());
}

TEST(ConnectionEditorTest, SqlServerStringsResolveForTheAccessLayer) {
  tConnectionParts login;
  login.server = "db.firma.cz";
  login.port = 1500;
  login.user = "sa";
  login.password = "tajne=heslo";
  login.database = "Sklad";
  const std::string with_login = BuildConnectionString(login);
  const auto resolved = dbaccess::ResolveConnectionString(with_login);
  EXPECT_EQ(resolved.kind, dbaccess::BackendKind::ODBC);
  EXPECT_NE(resolved.odbc.find("Server=db.firma.cz;Port=1500;Database=Sklad"), std::string::npos)
      << resolved.odbc;
  std::string user;
  std::string password;
  EXPECT_TRUE(core::ParseConnectionLogin(with_login, user, password)) << "a given password is kept";
  EXPECT_EQ(user, "sa");
  EXPECT_EQ(password, "tajne=heslo");

  tConnectionParts ask = login;
  ask.password.clear();
  EXPECT_FALSE(core::ParseConnectionLogin(BuildConnectionString(ask), user, password))
      << "without a password the login dialog asks for it";
  EXPECT_EQ(user, "sa");

  tConnectionParts trusted = login;
  trusted.trusted = true;
  trusted.port = 0;
  const auto trusted_odbc = dbaccess::ResolveConnectionString(BuildConnectionString(trusted)).odbc;
  EXPECT_NE(trusted_odbc.find("Port=1433"), std::string::npos) << trusted_odbc;
  EXPECT_NE(trusted_odbc.find("Trusted_Connection=Yes"), std::string::npos) << trusted_odbc;
  EXPECT_EQ(trusted_odbc.find("sa"), std::string::npos) << "no login goes with the system's one";

  // The editor shows what it wrote.
  const tConnectionParts back = ParseConnectionParts(with_login);
  EXPECT_EQ(back.server, "db.firma.cz");
  EXPECT_EQ(back.port, 1500);
  EXPECT_EQ(back.user, "sa");
  EXPECT_EQ(back.password, "tajne=heslo");
  EXPECT_EQ(back.database, "Sklad");
  EXPECT_FALSE(back.trusted);
}

TEST(ConnectionEditorTest, ValuesThatWouldSplitTheStringAreRefused) {
  tConnectionParts parts;
  parts.server = "srv";
  parts.user = "sa";
  parts.password = "a;Persist Security Info=True";
  EXPECT_THROW_MSG(BuildConnectionString(parts), core::AppError,
                   text::Utf8ToAnsi("Heslo nesmí obsahovat středník ani začínat či končit mezerou"));
  parts.password = " mezera";
  EXPECT_THROW_MSG(BuildConnectionString(parts), core::AppError,
                   text::Utf8ToAnsi("Heslo nesmí obsahovat středník ani začínat či končit mezerou"));
  parts.server.clear();
  EXPECT_THROW_MSG(BuildConnectionString(parts), core::AppError, text::Utf8ToAnsi("Zadejte název serveru"));
  tConnectionParts sqlite;
  sqlite.kind = tConnectionParts::Kind::SQLite;
  EXPECT_THROW_MSG(BuildConnectionString(sqlite), core::AppError,
                   text::Utf8ToAnsi("Zadejte složku databází SQLite"));
}

TEST(ConnectionEditorTest, SqliteStringOpensAndTheTestSaysSoInCzech) {
  TempDir folder;
  tConnectionParts parts;
  parts.kind = tConnectionParts::Kind::SQLite;
  parts.folder = folder.path();
  const std::string text = BuildConnectionString(parts);
  EXPECT_EQ(text, "Provider=SQLite;Data Source=" + folder.path());
  EXPECT_EQ(dbaccess::ResolveConnectionString(text).folder, folder.path());
  EXPECT_EQ(TestConnection(text), QStringLiteral("Připojení k databázi bylo úspěšně navázáno."));
  EXPECT_TRUE(TestConnection("Provider=SQLite;Data Source=/no/such/folder")
                  .startsWith(QStringLiteral("Připojení k databázi se nezdařilo:\n")));

  TfrmConnectionEditor editor;
  editor.SetConnectionString(FromUtf8(text));
  EXPECT_TRUE(editor.rbSQLite->isChecked());
  EXPECT_FALSE(editor.edServer->isEnabled());
  EXPECT_EQ(editor.ConnectionString(), FromUtf8(text));
}

}  // namespace
}  // namespace tamaril::ui
