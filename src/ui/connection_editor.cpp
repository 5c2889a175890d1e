#include "ui/connection_editor.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include <exception>

#include "core/errors.h"
#include "dbaccess/connection.h"
#include "dbaccess/connection_string.h"
#include "text/ascii.h"
#include "text/encoding.h"
#include "ui/help.h"
#include "ui/message_box.h"
#include "ui/qt_child.h"
#include "ui/qt_text.h"

namespace tamaril::ui {
namespace {

// The items are split at ";" without quoting and their values trimmed, so a value holding a ";"
// or blanks at its ends would come back as another value.
void CheckValue(std::string_view value, const char* what_utf8) {
  const bool has_separator = value.find(';') != std::string_view::npos;
  const bool has_outer_blanks = !value.empty() && (value.front() == ' ' || value.back() == ' ' ||
                                                   value.front() == '\t' || value.back() == '\t');
  if (has_separator || has_outer_blanks) {
    throw core::AppError(
        text::Utf8ToAnsi(std::string(what_utf8) + " nesmí obsahovat středník ani začínat či končit mezerou"));
  }
}

// What stands for a password wherever a connection string is shown.
const QString& PasswordMask() {
  static const QString mask(8, QChar(0x2022));
  return mask;
}

bool IsPasswordName(QStringView name) {
  const QStringView trimmed = name.trimmed();
  return trimmed.compare(QLatin1String("Password"), Qt::CaseInsensitive) == 0 ||
         trimmed.compare(QLatin1String("PWD"), Qt::CaseInsensitive) == 0;
}

// Calls `visit(value_start, value_length)` for the value of every password item of `text`, from
// the last to the first, so that a visit may replace the value without moving the ones still to come.
template <typename Visit>
void ForEachPasswordValue(const QString& text, Visit&& visit) {
  qsizetype end = text.size();
  while (end >= 0) {
    const qsizetype start = end == 0 ? -1 : text.lastIndexOf(QLatin1Char(';'), end - 1);
    const qsizetype item = start + 1;
    const qsizetype equals = text.indexOf(QLatin1Char('='), item);
    if (equals >= 0 && equals < end && IsPasswordName(QStringView(text).mid(item, equals - item)))
      visit(equals + 1, end - equals - 1);
    if (start < 0) break;
    end = start;
  }
}

void AddItem(std::string& text, std::string_view name, std::string_view value) {
  text += ';';
  text += name;
  text += '=';
  text += value;
}

}  // namespace

std::string BuildConnectionString(const tConnectionParts& parts) {
  if (parts.kind == tConnectionParts::Kind::SQLite) {
    if (parts.folder.empty()) throw core::AppError(text::Utf8ToAnsi("Zadejte složku databází SQLite"));
    CheckValue(parts.folder, "Složka");
    return "Provider=SQLite;Data Source=" + parts.folder;
  }
  if (parts.server.empty()) throw core::AppError(text::Utf8ToAnsi("Zadejte název serveru"));
  CheckValue(parts.server, "Název serveru");
  CheckValue(parts.database, "Databáze");
  std::string data_source = parts.server;
  if (parts.port > 0) data_source += "," + std::to_string(parts.port);
  std::string text = "Provider=SQLOLEDB.1";
  AddItem(text, "Data Source", data_source);
  if (!parts.database.empty()) AddItem(text, "Initial Catalog", parts.database);
  if (parts.trusted) {
    AddItem(text, "Integrated Security", "SSPI");
    return text;
  }
  CheckValue(parts.user, "Uživatelské jméno");
  CheckValue(parts.password, "Heslo");
  if (!parts.user.empty()) AddItem(text, "User ID", parts.user);
  if (!parts.password.empty()) {
    AddItem(text, "Password", parts.password);
    AddItem(text, "Persist Security Info", "True");
  } else {
    AddItem(text, "Persist Security Info", "False");
  }
  return text;
}

tConnectionParts ParseConnectionParts(std::string_view connection_string) {
  const auto items = dbaccess::SplitConnectionString(connection_string);
  const auto value = [&](std::string_view name) {
    return dbaccess::FindConnectionStringValue(items, name).value_or("");
  };
  tConnectionParts parts;
  const std::string provider = value("Provider");
  if (provider.size() >= 6 &&
      text::EqualsIgnoreCaseAscii(std::string_view(provider).substr(0, 6), "SQLite")) {
    parts.kind = tConnectionParts::Kind::SQLite;
    parts.folder = value("Data Source");
    return parts;
  }
  parts.server = value("Data Source");
  if (const auto comma = parts.server.find(','); comma != std::string::npos) {
    const std::string port(text::TrimBlanks(std::string_view(parts.server).substr(comma + 1)));
    parts.server = std::string(text::TrimBlanks(std::string_view(parts.server).substr(0, comma)));
    const bool digits =
        !port.empty() && port.size() <= 5 && port.find_first_not_of("0123456789") == std::string::npos;
    parts.port = digits && std::stoi(port) <= 65535 ? std::stoi(port) : 0;
  }
  parts.database = value("Initial Catalog");
  const std::string integrated = value("Integrated Security");
  parts.trusted =
      text::EqualsIgnoreCaseAscii(integrated, "SSPI") || text::EqualsIgnoreCaseAscii(integrated, "true");
  parts.user = value("User ID");
  parts.password = value("Password");
  return parts;
}

QString MaskedPassword(const QString& connection_string) {
  QString masked = connection_string;
  ForEachPasswordValue(masked, [&masked](qsizetype start, qsizetype length) {
    if (length > 0) masked.replace(start, length, PasswordMask());
  });
  return masked;
}

QString UnmaskedPassword(const QString& shown, const QString& real) {
  QString password;
  bool found = false;
  ForEachPasswordValue(real, [&](qsizetype start, qsizetype length) {
    // Visited from the last item: the first one is what stays.
    password = real.mid(start, length);
    found = true;
  });
  if (!found) return shown;
  QString text = shown;
  ForEachPasswordValue(text, [&](qsizetype start, qsizetype length) {
    if (QStringView(text).mid(start, length) == PasswordMask()) text.replace(start, length, password);
  });
  return text;
}

QString TestConnection(const std::string& connection_string, const std::string& user,
                       const std::string& password) {
  try {
    dbaccess::Connection connection(connection_string);
    connection.Open(user, password);
    connection.Close();
    return QStringLiteral("Připojení k databázi bylo úspěšně navázáno.");
  } catch (const std::exception& error) {
    return QStringLiteral("Připojení k databázi se nezdařilo:\n") + FromAnsi(error.what());
  }
}

TfrmConnectionEditor::TfrmConnectionEditor(QWidget* parent)
    : QDialog(parent),
      rbSqlServer(MakeChild<QRadioButton>(QStringLiteral("Microsoft SQL Server (ODBC, FreeTDS)"), this)),
      rbSQLite(MakeChild<QRadioButton>(QStringLiteral("SQLite (složka s databázemi)"), this)),
      edServer(MakeChild<QLineEdit>(this)),
      sePort(MakeChild<QSpinBox>(this)),
      chkTrusted(MakeChild<QCheckBox>(QStringLiteral("Přihlásit účtem operačního systému"), this)),
      edUser(MakeChild<QLineEdit>(this)),
      edPassword(MakeChild<QLineEdit>(this)),
      chkShowPassword(MakeChild<QCheckBox>(QStringLiteral("Zobrazit heslo"), this)),
      edDatabase(MakeChild<QLineEdit>(this)),
      edFolder(MakeChild<QLineEdit>(this)),
      btnFolder(MakeChild<QPushButton>(QStringLiteral("Procházet..."), this)),
      btnTest(MakeChild<QPushButton>(QStringLiteral("Vyzkoušet připojení"), this)),
      btnOK(MakeChild<QPushButton>(QStringLiteral("OK"), this)),
      btnCancel(MakeChild<QPushButton>(QStringLiteral("Storno"), this)) {
  setWindowTitle(QStringLiteral("Připojovací řetězec"));
  setModal(true);
  sePort->setRange(0, 65535);
  sePort->setSpecialValueText(QStringLiteral("výchozí (1433)"));
  edPassword->setEchoMode(QLineEdit::Password);
  edServer->setMinimumWidth(300);
  rbSqlServer->setChecked(true);

  auto* server_box = MakeChild<QGroupBox>(this);
  auto* server_form = MakeChild<QFormLayout>(server_box);
  server_form->addRow(QStringLiteral("&Server"), edServer);
  server_form->addRow(QStringLiteral("&Port"), sePort);
  server_form->addRow(QString(), chkTrusted);
  server_form->addRow(QStringLiteral("&Uživatelské jméno"), edUser);
  server_form->addRow(QStringLiteral("&Heslo"), edPassword);
  server_form->addRow(QString(), chkShowPassword);
  server_form->addRow(QStringLiteral("&Databáze"), edDatabase);

  auto* folder_box = MakeChild<QGroupBox>(this);
  auto* folder_row = MakeChild<QHBoxLayout>(folder_box);
  folder_row->addWidget(edFolder, 1);
  folder_row->addWidget(btnFolder);

  btnOK->setDefault(true);
  auto* buttons = MakeChild<QDialogButtonBox>(this);
  buttons->addButton(btnTest, QDialogButtonBox::ActionRole);
  buttons->addButton(btnOK, QDialogButtonBox::AcceptRole);
  buttons->addButton(btnCancel, QDialogButtonBox::RejectRole);
  buttons->addButton(MakeChild<QPushButton>(QStringLiteral("Nápověda"), this), QDialogButtonBox::HelpRole);
  connect(buttons, &QDialogButtonBox::helpRequested, this, [this] { OpenHelp(this, HelpPageOf(this)); });
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

  auto* layout = MakeChild<QVBoxLayout>(this);
  layout->addWidget(rbSqlServer);
  layout->addWidget(server_box);
  layout->addWidget(rbSQLite);
  layout->addWidget(folder_box);
  layout->addWidget(buttons);

  connect(rbSqlServer, &QRadioButton::toggled, this, [this] { UpdateEnabled(); });
  connect(chkTrusted, &QCheckBox::toggled, this, [this] { UpdateEnabled(); });
  connect(chkShowPassword, &QCheckBox::toggled, this,
          [this](bool shown) { edPassword->setEchoMode(shown ? QLineEdit::Normal : QLineEdit::Password); });
  connect(btnFolder, &QPushButton::clicked, this, [this] {
    const QString folder = QFileDialog::getExistingDirectory(this, QStringLiteral("Složka databází SQLite"),
                                                             edFolder->text(), QFileDialog::ShowDirsOnly);
    if (!folder.isEmpty()) edFolder->setText(folder);
  });
  connect(btnTest, &QPushButton::clicked, this, [this] {
    RunAction(this, [this] {
      const tConnectionParts parts = Parts();
      const QString outcome = TestConnection(BuildConnectionString(parts), parts.trusted ? "" : parts.user,
                                             parts.trusted ? "" : parts.password);
      ShowMessage(this, outcome);
    });
  });
  UpdateEnabled();
}

void TfrmConnectionEditor::SetConnectionString(const QString& connection_string) {
  const tConnectionParts parts = ParseConnectionParts(ToAnsi(connection_string));
  (parts.kind == tConnectionParts::Kind::SQLite ? rbSQLite : rbSqlServer)->setChecked(true);
  edServer->setText(FromAnsi(parts.server));
  sePort->setValue(parts.port);
  chkTrusted->setChecked(parts.trusted);
  edUser->setText(FromAnsi(parts.user));
  edPassword->setText(FromAnsi(parts.password));
  edDatabase->setText(FromAnsi(parts.database));
  edFolder->setText(FromAnsi(parts.folder));
  UpdateEnabled();
}

tConnectionParts TfrmConnectionEditor::Parts() const {
  tConnectionParts parts;
  parts.kind = rbSQLite->isChecked() ? tConnectionParts::Kind::SQLite : tConnectionParts::Kind::SqlServer;
  parts.server = ToAnsi(edServer->text());
  parts.port = sePort->value();
  parts.trusted = chkTrusted->isChecked();
  parts.user = ToAnsi(edUser->text());
  parts.password = ToAnsi(edPassword->text());
  parts.database = ToAnsi(edDatabase->text());
  parts.folder = ToAnsi(edFolder->text());
  return parts;
}

QString TfrmConnectionEditor::ConnectionString() const { return FromAnsi(BuildConnectionString(Parts())); }

void TfrmConnectionEditor::done(int result) {
  if (result == QDialog::Accepted && !RunAction(this, [this] { (void)ConnectionString(); })) return;
  QDialog::done(result);
}

void TfrmConnectionEditor::UpdateEnabled() {
  const bool server = rbSqlServer->isChecked();
  for (QWidget* control : {static_cast<QWidget*>(edServer), static_cast<QWidget*>(sePort),
                           static_cast<QWidget*>(chkTrusted), static_cast<QWidget*>(edDatabase)})
    control->setEnabled(server);
  edUser->setEnabled(server && !chkTrusted->isChecked());
  edPassword->setEnabled(server && !chkTrusted->isChecked());
  chkShowPassword->setEnabled(server && !chkTrusted->isChecked());
  edFolder->setEnabled(!server);
  btnFolder->setEnabled(!server);
}

std::optional<QString> EditConnectionString(QWidget* parent, const QString& connection_string) {
  TfrmConnectionEditor editor(parent);
  editor.SetConnectionString(connection_string);
  if (editor.exec() != QDialog::Accepted) return std::nullopt;
  return editor.ConnectionString();
}

}  // namespace tamaril::ui
