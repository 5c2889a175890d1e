#include "dbaccess/connection_string.h"

#include <fmt/format.h>

#include "dbaccess/errors.h"
#include "dbaccess/odbc_support.h"
#include "text/ascii.h"
#include "text/encoding.h"

namespace tamaril::dbaccess {
namespace {

using text::TrimBlanks;

bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && text::EqualsIgnoreCaseAscii(text.substr(0, prefix.size()), prefix);
}

std::string& ConfiguredDriver() {
  static std::string driver = "FreeTDS";
  return driver;
}

// "HOST", "HOST,PORT", "tcp:HOST,PORT", "HOST\INSTANCE", "(local)" and "." in ODBC terms.
std::string SqlServerAddress(std::string_view data_source) {
  std::string_view source = TrimBlanks(data_source);
  if (StartsWithIgnoringCase(source, "tcp:")) source.remove_prefix(4);
  std::string_view host = source;
  std::string_view port;
  if (const auto comma = source.find(','); comma != std::string_view::npos) {
    host = TrimBlanks(source.substr(0, comma));
    port = TrimBlanks(source.substr(comma + 1));
  }
  std::string host_text(host);
  if (host_text.empty() || host_text == "." || text::EqualsIgnoreCaseAscii(host_text, "(local)"))
    host_text = "localhost";
  std::string result = "Server=" + odbc::QuoteOdbcValue(host_text);
  if (!port.empty()) {
    result += ";Port=" + odbc::QuoteOdbcValue(port);
  } else if (host_text.find('\\') == std::string::npos) {
    result += ";Port=1433";
  }
  return result;
}

// A value written in double or single quotes, without them (a doubled quote stands for one).
std::string Unquoted(const std::string& value) {
  if (value.size() < 2 || (value.front() != '"' && value.front() != '\'') || value.back() != value.front())
    return value;
  const char quote = value.front();
  std::string result;
  for (std::size_t i = 1; i + 1 < value.size(); ++i) {
    result += value[i];
    if (value[i] == quote && value[i + 1] == quote) ++i;
  }
  return result;
}

}  // namespace

std::vector<ConnectionStringItem> SplitConnectionString(std::string_view text) {
  std::vector<ConnectionStringItem> items;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find(';', start);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view piece = text.substr(start, end - start);
    if (!TrimBlanks(piece).empty()) {
      const auto equals = piece.find('=');
      ConnectionStringItem item;
      item.name = TrimBlanks(piece.substr(0, equals));
      if (equals != std::string_view::npos) item.value = TrimBlanks(piece.substr(equals + 1));
      items.push_back(std::move(item));
    }
    start = end + 1;
  }
  return items;
}

std::optional<std::string> FindConnectionStringValue(const std::vector<ConnectionStringItem>& items,
                                                     std::string_view name) {
  for (const auto& item : items) {
    if (text::EqualsIgnoreCaseAscii(item.name, name)) return item.value;
  }
  return std::nullopt;
}

const std::string& SqlServerOdbcDriver() { return ConfiguredDriver(); }

void SetSqlServerOdbcDriver(std::string name) { ConfiguredDriver() = std::move(name); }

ResolvedConnection ResolveConnectionString(std::string_view text) {
  const auto items = SplitConnectionString(text);
  ResolvedConnection result;
  result.initial_catalog = FindConnectionStringValue(items, "Initial Catalog").value_or("");

  if (FindConnectionStringValue(items, "Driver") || FindConnectionStringValue(items, "DSN")) {
    result.kind = BackendKind::ODBC;
    result.odbc = std::string(text);
    return result;
  }

  const auto provider = FindConnectionStringValue(items, "Provider");
  if (!provider || provider->empty()) {
    throw DatabaseError(text::Utf8ToAnsi("Připojovací řetězec neuvádí poskytovatele databáze (Provider)"));
  }
  const auto data_source = Unquoted(FindConnectionStringValue(items, "Data Source").value_or(""));

  if (StartsWithIgnoringCase(*provider, "SQLite")) {
    if (data_source.empty()) {
      throw DatabaseError(
          text::Utf8ToAnsi("Připojovací řetězec SQLite neuvádí složku databází (Data Source)"));
    }
    result.kind = BackendKind::SQLite;
    result.folder = data_source;
    return result;
  }

  if (StartsWithIgnoringCase(*provider, "SQLOLEDB") || StartsWithIgnoringCase(*provider, "SQLNCLI") ||
      StartsWithIgnoringCase(*provider, "MSOLEDBSQL")) {
    result.kind = BackendKind::ODBC;
    result.odbc =
        "Driver=" + odbc::QuoteOdbcValue(SqlServerOdbcDriver()) + ";" + SqlServerAddress(data_source);
    if (!result.initial_catalog.empty())
      result.odbc += ";Database=" + odbc::QuoteOdbcValue(result.initial_catalog);
    const auto integrated = FindConnectionStringValue(items, "Integrated Security");
    if (integrated && (text::EqualsIgnoreCaseAscii(*integrated, "SSPI") ||
                       text::EqualsIgnoreCaseAscii(*integrated, "true"))) {
      result.odbc += ";Trusted_Connection=Yes";
    }
    return result;
  }

  throw DatabaseError(
      fmt::format("{}{}", text::Utf8ToAnsi("Nepodporovaný poskytovatel databáze: "), *provider));
}

}  // namespace tamaril::dbaccess
