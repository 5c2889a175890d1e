#include "replication/setup_script.h"

#include <filesystem>
#include <fstream>
#include <iterator>

#include "core/paths.h"
#include "dataset/stream.h"
#include "dbstruct/mssql/database_structure.h"
#include "dbstruct/sqlite/sqlite_structure.h"
#include "replication/errors.h"
#include "text/ascii.h"
#include "text/encoding.h"
#include "text/locale.h"

namespace tamaril::replication {

namespace {

constexpr const char* kReplicationTables[] = {"rep_USERFK",    "rep_DELETED",   "rep_TBLDESC",
                                              "rep_DEFEXPORT", "rep_XPORTLOG",  "rep_XPORTLOGDETAIL",
                                              "rep_DEFIMPORT", "rep_IMPORTLOG", "rep_IMPORTLOGDETAIL"};

}  // namespace

std::vector<std::string> ReadIgnoreList(const std::string& folder) {
  std::vector<std::string> names;
  const std::string path = core::IncludeTrailingDelimiter(folder) + kIgnoreListFile;
  std::error_code error;
  const auto status = std::filesystem::status(path, error);
  if (status.type() != std::filesystem::file_type::not_found) {
    // A list that exists but cannot be read must not pass for an empty one: the script would
    // then set up the very tables it names.
    std::ifstream file(path, std::ios::binary);
    if (!file || status.type() == std::filesystem::file_type::directory)
      throw ReplicationError(text::Utf8ToAnsi("Soubor " + path + " nelze přečíst"));
    const std::string content{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    if (file.bad()) throw ReplicationError(text::Utf8ToAnsi("Soubor " + path + " nelze přečíst"));
    std::size_t start = 0;
    while (start <= content.size()) {
      std::size_t end = content.find('\n', start);
      if (end == std::string::npos) end = content.size();
      const std::string_view line = text::TrimBlanks(std::string_view(content).substr(start, end - start));
      if (!line.empty()) names.emplace_back(line);
      start = end + 1;
    }
  }
  names.insert(names.end(), std::begin(kReplicationTables), std::end(kReplicationTables));
  return names;
}

bool IsIgnoredTable(const std::vector<std::string>& ignore, const std::string& table_name) {
  for (const auto& name : ignore) {
    if (text::SameTextIgnoreCase(name, table_name)) return true;
  }
  return false;
}

void GenerateSetupScript(const dbstruct::tDatabase_Structure& database,
                         const std::vector<std::string>& ignore, const std::string& file_name) {
  std::string script;
  if (const auto* mssql = dynamic_cast<const dbstruct::tADODatabase_Structure*>(&database)) {
    script = MssqlSetupScript(*mssql, ignore);
  } else if (const auto* sqlite = dynamic_cast<const dbstruct::tSQLiteDatabase_Structure*>(&database)) {
    script = SQLiteSetupScript(*sqlite, ignore);
  } else {
    throw ReplicationError(text::Utf8ToAnsi("Pro tento druh databáze skript replikace neumím vytvořit"));
  }
  // Complete or absent: the old file stays until the new one is whole.
  dataset::AtomicFileWriter file(file_name);
  file.Write(script.data(), script.size());
  file.Commit();
}

}  // namespace tamaril::replication
