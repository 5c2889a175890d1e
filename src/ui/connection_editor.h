#pragma once

#include <QDialog>
#include <QString>

#include <optional>
#include <string>
#include <string_view>

class QCheckBox;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QWidget;

namespace tamaril::ui {

/// What the connection editor asks for (Windows-1250 texts).
struct tConnectionParts {
  enum class Kind { SqlServer, SQLite };
  Kind kind = Kind::SqlServer;
  std::string server;    ///< SQL Server: host name or address, "HOST\INSTANCE" allowed
  int port = 0;          ///< SQL Server: 0 for the driver's default
  bool trusted = false;  ///< SQL Server: the system's login instead of a user name
  std::string user;
  std::string password;  ///< kept in the string only when not empty
  std::string database;  ///< SQL Server: the database selected at connect, may be empty
  std::string folder;    ///< SQLite: the folder of the database files
};

/// The connection string of `parts`: "Provider=SQLOLEDB.1;Data Source=…" for SQL Server and
/// "Provider=SQLite;Data Source=FOLDER" for SQLite. Throws AppError when a value cannot be
/// written into the string (a ";" in it, blanks around it, a missing server or folder).
std::string BuildConnectionString(const tConnectionParts& parts);
/// The parts of an existing connection string, as far as the editor shows them; never throws.
tConnectionParts ParseConnectionParts(std::string_view connection_string);
/// `connection_string` with the value of every "Password" or "PWD" item replaced by a mask of
/// fixed length, so that neither the password nor its length shows; the rest stays as it is.
QString MaskedPassword(const QString& connection_string);
/// The connection string the person means by `shown`, a text that MaskedPassword(`real`) gave
/// and that may have been edited since: a password item still holding the mask gets the password
/// of `real` back; a password typed over the mask, and every other item, stay as shown.
QString UnmaskedPassword(const QString& shown, const QString& real);

/// Opens a connection with `connection_string` and the login given (empty: the string's own)
/// and closes it again; the Czech outcome for the person. Never throws.
QString TestConnection(const std::string& connection_string, const std::string& user = {},
                       const std::string& password = {});

/// The editor behind "Vytvořit...": SQL Server through ODBC (server, port, login or the system's
/// login, database) or SQLite (folder), with "Vyzkoušet připojení".
class TfrmConnectionEditor : public QDialog {
  Q_OBJECT

 public:
  explicit TfrmConnectionEditor(QWidget* parent = nullptr);
  /// Shows the parts of `connection_string`.
  void SetConnectionString(const QString& connection_string);
  /// The string of the controls; throws AppError as BuildConnectionString does.
  QString ConnectionString() const;
  /// OK closes only with a string that can be built; the error is shown otherwise.
  void done(int result) override;

  QRadioButton* rbSqlServer;
  QRadioButton* rbSQLite;
  QLineEdit* edServer;
  QSpinBox* sePort;
  QCheckBox* chkTrusted;
  QLineEdit* edUser;
  QLineEdit* edPassword;
  QCheckBox* chkShowPassword;  ///< shows the password in clear while checked
  QLineEdit* edDatabase;
  QLineEdit* edFolder;
  QPushButton* btnFolder;
  QPushButton* btnTest;
  QPushButton* btnOK;
  QPushButton* btnCancel;

 private:
  tConnectionParts Parts() const;
  void UpdateEnabled();
};

/// Shows the editor over `parent` with `connection_string`; the new string, or nothing when cancelled.
std::optional<QString> EditConnectionString(QWidget* parent, const QString& connection_string);

}  // namespace tamaril::ui
