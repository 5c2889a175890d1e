#include "dbaccess/connection.h"

#include <fmt/format.h>

#include <stdexcept>

#include "dbaccess/backend.h"
#include "text/ascii.h"
#include "text/encoding.h"

namespace tamaril::dbaccess {

// ---------------------------------------------------------------------------------------------
// Statement

Statement::Statement(std::unique_ptr<BackendStatement> backend, std::string text, ParameterStyle style,
                     std::vector<Parameter> parameters)
    : backend_(std::move(backend)),
      text_(std::move(text)),
      style_(style),
      parameters_(std::move(parameters)) {
  if (style_ == ParameterStyle::Positional) placeholder_count_ = CountPositionalParameters(text_);
}

Statement::~Statement() = default;

void Statement::DeclareParameter(std::string name, dataset::FieldType type, int size) {
  if (style_ != ParameterStyle::Positional) {
    throw DatabaseError("Parameters can be declared only for statements with '?' placeholders");
  }
  parameters_.push_back(Parameter{std::move(name), type, size, Value()});
}

void Statement::SetParameter(std::size_t index, Value value) {
  if (index >= parameters_.size()) {
    throw std::out_of_range(
        fmt::format("Parameter {} out of range ({} parameters)", index, parameters_.size()));
  }
  parameters_[index].value = std::move(value);
}

void Statement::SetParameter(std::string_view name, const Value& value) {
  bool found = false;
  for (auto& parameter : parameters_) {
    if (text::EqualsIgnoreCaseAscii(parameter.name, name)) {
      parameter.value = value;
      found = true;
    }
  }
  if (!found) throw DatabaseError(fmt::format("Parameter '{}' not found", name));
}

void Statement::ClearParameters() {
  for (auto& parameter : parameters_) parameter.value = Value();
}

void Statement::CheckDeclared() const {
  if (style_ == ParameterStyle::Positional && parameters_.size() != placeholder_count_) {
    throw DatabaseError(fmt::format("The statement has {} '?' placeholders but {} declared parameters",
                                    placeholder_count_, parameters_.size()));
  }
}

std::int64_t Statement::Execute() {
  CheckDeclared();
  return backend_->Execute(parameters_);
}

std::unique_ptr<Cursor> Statement::Open() {
  CheckDeclared();
  backend_->SetUnicodeText(unicode_text_ != nullptr && *unicode_text_);
  return backend_->Open(parameters_);
}

// ---------------------------------------------------------------------------------------------
// Connection

namespace {

// A query run once: the cursor keeps the statement it reads from.
class OwningCursor : public Cursor {
 public:
  OwningCursor(std::unique_ptr<BackendStatement> statement, std::unique_ptr<Cursor> cursor)
      : statement_(std::move(statement)), cursor_(std::move(cursor)) {}
  ~OwningCursor() override {
    cursor_.reset();  // the cursor goes before the statement it borrows
  }

  const std::vector<ColumnInfo>& Columns() const override { return cursor_->Columns(); }
  bool Next() override { return cursor_->Next(); }
  const Value& Get(std::size_t column) const override { return cursor_->Get(column); }
  using Cursor::Get;

 private:
  std::unique_ptr<BackendStatement> statement_;
  std::unique_ptr<Cursor> cursor_;
};

}  // namespace

Connection::Connection() = default;

Connection::Connection(std::string connection_string) : connection_string_(std::move(connection_string)) {}

Connection::~Connection() { Close(); }

void Connection::SetCommandTimeout(int seconds) {
  timeouts_command_ = seconds;
  if (backend_) backend_->SetCommandTimeout(seconds);
}

BackendConnection& Connection::Backend() const {
  if (!backend_) throw DatabaseError(text::Utf8ToAnsi("Spojení s databází není otevřeno"));
  return *backend_;
}

void Connection::Open(std::string_view user, std::string_view password) {
  Close();
  const ResolvedConnection target = ResolveConnectionString(connection_string_);
  const Timeouts timeouts{timeouts_command_, timeouts_connection_};
  std::unique_ptr<BackendConnection> backend;
  if (target.kind == BackendKind::SQLite) {
    backend = OpenSqliteBackend(target, timeouts);
  } else {
    std::string login_user(user);
    std::string login_password(password);
    if (login_user.empty()) {
      // The OLE DB form carries its login as items of its own; ODBC strings carry UID and PWD.
      const auto items = SplitConnectionString(connection_string_);
      if (!FindConnectionStringValue(items, "Driver") && !FindConnectionStringValue(items, "DSN")) {
        login_user = FindConnectionStringValue(items, "User ID").value_or("");
        login_password = FindConnectionStringValue(items, "Password").value_or("");
      }
    }
    backend = OpenOdbcBackend(target, login_user, login_password, timeouts);
  }
  if (!pending_database_.empty()) backend->SetCurrentDatabase(pending_database_);
  backend_ = std::move(backend);
  kind_ = target.kind;
  in_transaction_ = false;
}

void Connection::Close() noexcept {
  if (!backend_) return;
  if (in_transaction_) {
    try {
      backend_->Rollback();
    } catch (...) {  // closing goes on whatever the server says
    }
  }
  in_transaction_ = false;
  backend_.reset();
}

void Connection::AttachBackend(std::unique_ptr<BackendConnection> backend, BackendKind kind) noexcept {
  Close();
  backend_ = std::move(backend);
  kind_ = kind;
  in_transaction_ = false;
}

std::string Connection::DefaultDatabase() const {
  return backend_ ? backend_->CurrentDatabase() : pending_database_;
}

void Connection::SetDefaultDatabase(std::string_view name) {
  if (!backend_) {
    pending_database_ = std::string(name);
    return;
  }
  backend_->SetCurrentDatabase(name);
}

void Connection::CreateDatabase(std::string_view name) { Backend().CreateDatabase(name); }

std::string Connection::DbmsName() const { return Backend().DbmsName(); }

std::int64_t Connection::Execute(std::string_view sql) { return Backend().Execute(sql); }

std::unique_ptr<Statement> Connection::Prepare(std::string_view sql, ParameterStyle style) {
  BackendConnection& backend = Backend();
  std::vector<Parameter> parameters;
  std::unique_ptr<BackendStatement> prepared;
  if (style == ParameterStyle::Named) {
    ParsedStatement parsed = ParseNamedParameters(sql);
    for (auto& name : parsed.names) parameters.push_back(Parameter{std::move(name), {}, 0, Value()});
    prepared = backend.Prepare(parsed.text);
  } else {
    prepared = backend.Prepare(sql);
  }
  auto statement =
      std::make_unique<Statement>(std::move(prepared), std::string(sql), style, std::move(parameters));
  statement->unicode_text_ = &unicode_text_;
  return statement;
}

std::unique_ptr<Cursor> Connection::Query(std::string_view sql) {
  auto statement = Backend().Prepare(sql);
  auto cursor = statement->Open({});
  return std::make_unique<OwningCursor>(std::move(statement), std::move(cursor));
}

std::unique_ptr<MemoryCursor> Connection::QueryAll(std::string_view sql) {
  auto cursor = Query(sql);
  return FetchAll(*cursor);
}

std::unique_ptr<Cursor> Connection::CallProcedure(std::string_view name, const std::vector<Parameter>& params,
                                                  bool with_result) {
  return Backend().CallProcedure(name, params, with_result);
}

std::vector<std::string> Connection::Tables() { return Backend().Tables(); }
std::vector<ForeignKeyRow> Connection::ForeignKeys() { return Backend().ForeignKeys(); }
std::vector<PrimaryKeyRow> Connection::PrimaryKeys() { return Backend().PrimaryKeys(); }
std::vector<std::string> Connection::Catalogs() { return Backend().Catalogs(); }
std::vector<ColumnInfo> Connection::Columns(std::string_view table) { return Backend().Columns(table); }
std::vector<IndexInfo> Connection::Indexes(std::string_view table) { return Backend().Indexes(table); }

void Connection::BeginTransaction() {
  if (in_transaction_) throw DatabaseError("A transaction is already open on this connection");
  Backend().BeginTransaction();
  in_transaction_ = true;
}

void Connection::Commit() {
  if (!in_transaction_) throw DatabaseError("No transaction is open on this connection");
  Backend().Commit();
  in_transaction_ = false;
}

void Connection::Rollback() {
  if (!in_transaction_) throw DatabaseError("No transaction is open on this connection");
  in_transaction_ = false;
  Backend().Rollback();
}

// ---------------------------------------------------------------------------------------------
// TransactionGuard

TransactionGuard::TransactionGuard(Connection& connection) : connection_(connection) {
  connection_.BeginTransaction();
}

TransactionGuard::~TransactionGuard() {
  if (done_ || !connection_.InTransaction()) return;
  try {
    connection_.Rollback();
  } catch (...) {  // a destructor never throws; the connection reports its own state
  }
}

void TransactionGuard::Commit() {
  connection_.Commit();
  done_ = true;
}

}  // namespace tamaril::dbaccess
