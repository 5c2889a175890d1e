#include "ui/def_edit_dialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

#include <exception>
#include <string>
#include <vector>

#include "core/definition_keys.h"
#include "core/export_text.h"
#include "core/maindata.h"
#include "dataset/field.h"
#include "dbaccess/connection_string.h"
#include "replication/site_keys.h"
#include "text/ascii.h"
#include "text/encoding.h"
#include "text/error.h"
#include "ui/connection_editor.h"
#include "ui/help.h"
#include "ui/message_box.h"
#include "ui/qt_child.h"
#include "ui/qt_text.h"

namespace tamaril::ui {
namespace {

// The catalog list of the connection's server; for SQLite the *.db files of its folder when the
// catalog gives none.
std::vector<std::string> DatabaseNames(dbaccess::Connection& connection,
                                       const std::string& connection_string) {
  std::vector<std::string> names = connection.Catalogs();
  if (!names.empty()) return names;
  const auto resolved = dbaccess::ResolveConnectionString(connection_string);
  if (resolved.kind != dbaccess::BackendKind::SQLite) return names;
  const QDir folder(FromUtf8(text::AnsiToUtf8(resolved.folder)));
  for (const QFileInfo& file : folder.entryInfoList({QStringLiteral("*.db")}, QDir::Files, QDir::Name))
    names.push_back(ToAnsi(file.completeBaseName()));
  return names;
}

}  // namespace

TfrmDefEdit::TfrmDefEdit(core::TMaindata& maindata, bool import, QWidget* parent)
    : QDialog(parent),
      EditConnectionString(ui::EditConnectionString),
      edSignature(MakeChild<QLineEdit>(this)),
      edPartnerName(MakeChild<QLineEdit>(this)),
      edConnectionString(MakeChild<QLineEdit>(this)),
      btnShowPassword(MakeChild<QToolButton>(this)),
      btnAdoConnEdit(MakeChild<QPushButton>(QStringLiteral("Vytvořit..."), this)),
      cbDatabaseName(MakeChild<QComboBox>(this)),
      mmPozn(MakeChild<QPlainTextEdit>(this)),
      edPartnerKey(MakeChild<QLineEdit>(this)),
      btnOK(MakeChild<QPushButton>(QStringLiteral("OK"), this)),
      btnCancel(MakeChild<QPushButton>(QStringLiteral("Storno"), this)),
      maindata_(maindata),
      import_(import) {
  setWindowTitle(import ? QStringLiteral("Definice importu") : QStringLiteral("Definice exportu"));
  setModal(true);
  cbDatabaseName->setEditable(true);
  cbDatabaseName->setInsertPolicy(QComboBox::NoInsert);
  cbDatabaseName->installEventFilter(this);
  edConnectionString->setMinimumWidth(420);
  mmPozn->setTabChangesFocus(true);
  mmPozn->setMinimumHeight(80);

  auto* grid = MakeChild<QGridLayout>();
  int row = 0;
  const auto add_row = [&](const QString& text, QWidget* control, QWidget* extra = nullptr) {
    auto* label = MakeChild<QLabel>(text, this);
    label->setBuddy(control);
    grid->addWidget(label, row, 0, Qt::AlignLeft | Qt::AlignTop);
    grid->addWidget(control, row, 1, 1, extra != nullptr ? 1 : 2);
    if (extra != nullptr) grid->addWidget(extra, row, 2);
    ++row;
  };
  add_row(QStringLiteral("Identifikace přenosu"), edSignature);
  add_row(import ? QStringLiteral("Název klienta") : QStringLiteral("Název centra"), edPartnerName);
  btnShowPassword->setText(QStringLiteral("Zobrazit heslo"));
  btnShowPassword->setCheckable(true);
  btnShowPassword->setToolTip(QStringLiteral("Zobrazí heslo připojovacího řetězce; jinak je skryto tečkami"));
  auto* connection_buttons = MakeChild<QWidget>(this);
  auto* connection_row = MakeChild<QHBoxLayout>(connection_buttons);
  connection_row->setContentsMargins(0, 0, 0, 0);
  connection_row->addWidget(btnShowPassword);
  connection_row->addWidget(btnAdoConnEdit);
  add_row(QStringLiteral("Připojovací řetězec ADO"), edConnectionString, connection_buttons);
  add_row(import ? QStringLiteral("Databáze pro import") : QStringLiteral("Databáze pro export"),
          cbDatabaseName);
  add_row(QStringLiteral("Poznámka"), mmPozn);
  if (!import) {
    cbTextForm = MakeChild<QComboBox>(this);
    cbTextForm->addItem(QStringLiteral("Windows-1250 (přečte každé centrum)"));
    cbTextForm->addItem(QStringLiteral("Unicode – beze ztráty znaků (centrum s touto verzí programu)"));
    cbTextForm->setToolTip(
        QStringLiteral("Unicode přenese každý znak (azbuku, řečtinu, čínštinu, emoji i Luleå či São Paulo). "
                       "Starší program v centru takový archiv odmítne jako neplatný."));
    add_row(QStringLiteral("Texty v archivu"), cbTextForm);
  }
  edPartnerKey->setPlaceholderText(QStringLiteral("ed25519:… (prázdné: žádný)"));
  edPartnerKey->setToolTip(
      import ? QStringLiteral("Veřejný klíč klienta, jak ho u klienta vypíše tamaril-cli keys show. Archiv "
                              "bez jeho platného podpisu import odmítne.")
             : QStringLiteral("Veřejný klíč centra, jak ho v centru vypíše tamaril-cli keys show. Archiv "
                              "pak otevře jen centrum."));
  add_row(PartnerKeyLabel(), edPartnerKey);
  grid->setColumnStretch(1, 1);

  btnOK->setDefault(true);
  auto* buttons = MakeChild<QDialogButtonBox>(this);
  buttons->addButton(btnOK, QDialogButtonBox::AcceptRole);
  buttons->addButton(btnCancel, QDialogButtonBox::RejectRole);
  buttons->addButton(MakeChild<QPushButton>(QStringLiteral("Nápověda"), this), QDialogButtonBox::HelpRole);
  connect(buttons, &QDialogButtonBox::helpRequested, this, [this] { OpenHelp(this, HelpPageOf(this)); });
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(btnAdoConnEdit, &QPushButton::clicked, this, [this] { btnAdoConnEditClick(); });
  connect(edConnectionString, &QLineEdit::textChanged, this, [this] {
    if (!showing_connection_string_) database_list_stale_ = true;
  });
  connect(btnShowPassword, &QToolButton::toggled, this, [this](bool shown) {
    // The text as it was shown before the switch tells what the person has typed so far.
    const QString before = edConnectionString->text();
    SetConnectionStringText(shown ? UnmaskedPassword(before, connection_string_) : before);
  });

  auto* layout = MakeChild<QVBoxLayout>(this);
  layout->addLayout(grid);
  layout->addWidget(buttons);

  ReadRecord();
  database_list_stale_ = true;
  edSignature->setFocus(Qt::OtherFocusReason);
}

dataset::TDataSet& TfrmDefEdit::List() const { return maindata_.DefinitionList(import_); }

QString TfrmDefEdit::PartnerField() const {
  return import_ ? QStringLiteral("ClientName") : QStringLiteral("CenterName");
}

QString TfrmDefEdit::PartnerKeyLabel() const {
  return import_ ? QStringLiteral("Klíč klienta (podpis vyžadován)")
                 : QStringLiteral("Šifrovat pro klíč centra");
}

void TfrmDefEdit::ReadRecord() {
  dataset::TDataSet& list = List();
  const auto bind = [&](QLineEdit* edit, const char* name) {
    dataset::TField& field = list.FieldByName(name);
    edit->setText(FromAnsi(field.AsString()));
    if (field.Size > 0) edit->setMaxLength(field.Size);
  };
  bind(edSignature, "Signature");
  bind(edPartnerName, import_ ? "ClientName" : "CenterName");
  dataset::TField& connection = list.FieldByName("ConnectionString");
  SetConnectionStringText(FromAnsi(connection.Text()));
  // The field's length limits the string with its password, not the masked text: checked on OK.
  connection_size_ = connection.Size;
  dataset::TField& database = list.FieldByName("DatabaseName");
  cbDatabaseName->setEditText(FromAnsi(database.AsString()));
  if (database.Size > 0) cbDatabaseName->lineEdit()->setMaxLength(database.Size);
  mmPozn->setPlainText(FromAnsi(list.FieldByName("Pozn").AsString()));
  original_signature_ = list.FieldByName("Signature").AsString();
  if (cbTextForm != nullptr) {
    bool unicode = false;
    try {
      unicode = core::ExportTextUnicode(original_signature_);
    } catch (const std::exception&) {
      // An unreadable side file shows the default; saving reports the file's problem.
    }
    cbTextForm->setCurrentIndex(unicode ? 1 : 0);
  }
  try {
    edPartnerKey->setText(
        FromAnsi(import_ ? core::TrustedKey(original_signature_) : core::SealKey(original_signature_)));
  } catch (const std::exception&) {
    // Shown empty; an untouched field is not written back (WriteSideFiles), so the key stays.
    edPartnerKey->clear();
  }
}

std::optional<std::string> TfrmDefEdit::CheckedPartnerKey() {
  const std::string text = ToAnsi(edPartnerKey->text());
  const std::string_view trimmed = text::TrimBlanks(text);
  if (trimmed.empty()) return std::string();
  if (const auto key = replication::ParsePublicKey(trimmed)) return replication::PublicKeyText(*key);
  MessageDlg(this, tMsgKind::Error,
             PartnerKeyLabel() + QStringLiteral(": ") +
                 FromUtf8(replication::NotAPublicKeyReason(text::AnsiToUtf8(std::string(trimmed)))),
             {tMsgButton::Ok});
  edPartnerKey->setFocus();
  edPartnerKey->selectAll();
  return std::nullopt;
}

void TfrmDefEdit::WriteSideFiles(const std::string& key) {
  const std::string signature = List().FieldByName("Signature").AsString();
  const bool renamed = signature != original_signature_;
  if (cbTextForm != nullptr) {
    if (renamed) core::SetExportTextUnicode(original_signature_, false);
    core::SetExportTextUnicode(signature, cbTextForm->currentIndex() == 1);
  }
  // A key field left as it was loaded is written only under a new Signature: a key that could
  // not be read is not dropped by saving the rest.
  if (renamed || edPartnerKey->isModified()) {
    const auto set_key = import_ ? core::SetTrustedKey : core::SetSealKey;
    if (renamed) set_key(original_signature_, "");
    set_key(signature, key);
    edPartnerKey->setText(FromAnsi(key));
  }
  original_signature_ = signature;
}

void TfrmDefEdit::WriteRecord() {
  dataset::TDataSet& list = List();
  if (list.State() == dataset::DataSetState::Browse) list.Edit();
  list.FieldByName("Signature").SetAsString(ToAnsi(edSignature->text()));
  list.FieldByName(ToAnsi(PartnerField())).SetAsString(ToAnsi(edPartnerName->text()));
  list.FieldByName("ConnectionString").SetText(ToAnsi(ConnectionStringText()));
  list.FieldByName("DatabaseName").SetAsString(ToAnsi(cbDatabaseName->currentText()));
  list.FieldByName("Pozn").SetAsString(ToAnsi(mmPozn->toPlainText()));
}

QString TfrmDefEdit::ConnectionStringText() const {
  const QString shown = edConnectionString->text();
  return btnShowPassword->isChecked() ? shown : UnmaskedPassword(shown, connection_string_);
}

void TfrmDefEdit::SetConnectionStringText(const QString& text) {
  connection_string_ = text;
  showing_connection_string_ = true;
  edConnectionString->setText(btnShowPassword->isChecked() ? text : MaskedPassword(text));
  showing_connection_string_ = false;
}

bool TfrmDefEdit::RequiredFieldMissing() {
  const auto blank = [](const QString& text) { return text.trimmed().isEmpty(); };
  const struct {
    bool missing;
    QWidget* control;
    QString reason;
  } checks[] = {
      {blank(edSignature->text()), edSignature,
       QStringLiteral("Vyplňte identifikaci přenosu: podle ní se archiv klienta spáruje s definicí "
                      "importu v centru.")},
      {blank(ConnectionStringText()), edConnectionString,
       QStringLiteral("Vyplňte připojovací řetězec ADO: bez něj se program k databázi nepřipojí. "
                      "Sestavit ho pomůže tlačítko Vytvořit...")},
      {connection_size_ > 0 &&
           ToAnsi(ConnectionStringText()).size() > static_cast<std::size_t>(connection_size_),
       edConnectionString,
       QStringLiteral("Připojovací řetězec je delší než %1 znaků, které definice pojme.")
           .arg(connection_size_)},
      {blank(cbDatabaseName->currentText()), cbDatabaseName,
       import_ ? QStringLiteral("Vyplňte databázi pro import: do ní se importují archivy klienta.")
               : QStringLiteral("Vyplňte databázi pro export: z ní se vybírají exportované záznamy.")},
  };
  for (const auto& [missing, control, reason] : checks) {
    if (!missing) continue;
    MessageDlg(this, tMsgKind::Warning, QStringLiteral("Definici nelze uložit. ") + reason, {tMsgButton::Ok});
    control->setFocus(Qt::OtherFocusReason);
    return true;
  }
  return false;
}

void TfrmDefEdit::done(int result) {
  if (result == QDialog::Accepted) {
    if (RequiredFieldMissing()) return;
    const std::optional<std::string> key = CheckedPartnerKey();
    if (!key) return;
    try {
      WriteRecord();
      List().Post();
      WriteSideFiles(*key);
    } catch (const EAbort&) {
      return;
    } catch (const std::exception& error) {
      // The list's own messages are English; the line before them says what failed.
      const QString reason = dynamic_cast<const Error*>(&error) != nullptr ? FromAnsi(error.what())
                                                                           : QString::fromUtf8(error.what());
      MessageDlg(this, tMsgKind::Error, QStringLiteral("Definici nelze uložit: ") + reason, {tMsgButton::Ok});
      return;
    }
  }
  QDialog::done(result);
}

bool TfrmDefEdit::eventFilter(QObject* watched, QEvent* event) {
  if (watched == cbDatabaseName && event->type() == QEvent::FocusIn) FillDatabaseList();
  return QDialog::eventFilter(watched, event);
}

void TfrmDefEdit::FillDatabaseList() {
  if (!database_list_stale_) return;
  const std::string connection_string = ToAnsi(ConnectionStringText());
  if (connection_string.empty()) return;
  const QString typed = cbDatabaseName->currentText();
  cbDatabaseName->clear();
  dbaccess::Connection& connection = maindata_.ADOConnection;
  if (connection.ConnectionString() != connection_string) {
    connection.Close();
    connection.SetConnectionString(connection_string);
  }
  try {
    if (!connection.IsOpen()) maindata_.ConnectDatabase(connection, connection_string, "master");
    for (const std::string& name : DatabaseNames(connection, connection_string))
      cbDatabaseName->addItem(FromAnsi(name));
  } catch (const std::exception&) {
    // The list stays empty; the name can still be typed.
  }
  cbDatabaseName->setEditText(typed);
  database_list_stale_ = false;
}

void TfrmDefEdit::btnAdoConnEditClick() {
  maindata_.ADOConnection.Close();
  const std::optional<QString> edited = EditConnectionString(this, ConnectionStringText());
  if (!edited) return;
  SetConnectionStringText(*edited);
  database_list_stale_ = true;
  cbDatabaseName->clear();
  cbDatabaseName->setEditText(QString());
  database_list_stale_ = true;
  FillDatabaseList();
}

}  // namespace tamaril::ui
