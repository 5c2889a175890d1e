#include "dbstruct/mssql/server_version.h"

#include <array>
#include <charconv>
#include <exception>

#include "dbaccess/connection.h"
#include "text/ascii.h"

namespace tamaril::dbstruct {

namespace {

/// The code of the first build threshold `build` is below, counted from `first`; `last` when
/// it is below none.
template <std::size_t N>
std::uint8_t ByBuild(int build, const std::array<int, N>& thresholds, std::uint8_t first, std::uint8_t last) {
  for (std::size_t i = 0; i < N; ++i) {
    if (build < thresholds[i]) return static_cast<std::uint8_t>(first + i);
  }
  return last;
}

std::optional<int> Decimal(std::string_view part) {
  int value = 0;
  const char* end = part.data() + part.size();
  const auto [stop, error] = std::from_chars(part.data(), end, value);
  if (part.empty() || error != std::errc() || stop != end) return std::nullopt;
  return value;
}

}  // namespace

std::uint8_t VersionCode(int major, int minor, int build) {
  switch (major) {
    case 6:
      if (minor < 50) return 0;
      if (minor > 50) return 7;
      return ByBuild(build, std::array{201, 213, 240, 258, 281, 415, 416}, 0, 7);
    case 7:
      if (minor > 0) return 12;
      return ByBuild(build, std::array{699, 842, 961, 1063}, 8, 12);
    case 8:
      if (minor > 0) return 17;
      return ByBuild(build, std::array{384, 534, 760, 2039}, 13, 17);
    case 9: return 18;
    default: return major >= 0 && major <= 5 ? 0 : 19;
  }
}

std::optional<std::uint8_t> ProductVersionCode(std::string_view version_text) {
  const std::size_t first_dot = version_text.find('.');
  if (first_dot == std::string_view::npos) return std::nullopt;
  const std::string_view rest = version_text.substr(first_dot + 1);
  const std::size_t second_dot = rest.find('.');
  if (second_dot == std::string_view::npos) return std::nullopt;
  const std::string_view build_rest = rest.substr(second_dot + 1);
  const auto major = Decimal(version_text.substr(0, first_dot));
  const auto minor = Decimal(rest.substr(0, second_dot));
  const auto build = Decimal(build_rest.substr(0, build_rest.find('.')));
  if (!major || !minor || !build) return std::nullopt;
  return VersionCode(*major, *minor, *build);
}

bool ReadServerVersion(const std::string& connection_string, std::uint8_t& version_code) {
  version_code = 0;
  try {
    dbaccess::Connection connection(connection_string);
    const bool read = ReadServerVersionThrough(connection, version_code);
    connection.Close();
    return read;
  } catch (const std::exception&) {
    return false;
  }
}

bool ReadServerVersionThrough(dbaccess::Connection& connection, std::uint8_t& version_code) {
  version_code = 0;
  try {
    connection.SetDefaultDatabase("master");
    if (!connection.IsOpen()) connection.Open();
    std::string version_text;
    auto rows = connection.CallProcedure("xp_msver", {}, true);
    while (rows != nullptr && rows->Next()) {
      if (text::EqualsIgnoreCaseAscii(rows->Get("Name").AsString(), "ProductVersion")) {
        version_text = rows->Get("Character_Value").AsString();
      }
    }
    rows.reset();
    const auto code = ProductVersionCode(version_text);
    if (!code) return false;
    version_code = *code;
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace tamaril::dbstruct
