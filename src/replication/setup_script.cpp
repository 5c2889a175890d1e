#include "replication/setup_script.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>

#include "core/paths.h"
#include "dataset/stream.h"
#include "dbstruct/keyed_table.h"
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

std::vector<std::string> ParseIgnoreList(std::string_view content) {
  // A Windows editor saves UTF-8 with a byte-order mark; without one, text that is valid UTF-8
  // is taken as UTF-8 (plain ASCII reads the same either way), anything else as Windows-1250.
  constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
  const bool bom = content.starts_with(kByteOrderMark);
  if (bom) content.remove_prefix(kByteOrderMark.size());
  char32_t first_unmappable = 0;
  const bool utf8 = bom || text::Utf8ToAnsiExact(content, &first_unmappable) || first_unmappable != U'\uFFFD';
  std::vector<std::string> names;
  std::size_t start = 0;
  while (start <= content.size()) {
    std::size_t end = content.find('\n', start);
    if (end == std::string_view::npos) end = content.size();
    const std::string_view line = text::TrimBlanks(content.substr(start, end - start));
    start = end + 1;
    if (line.empty()) continue;
    // A name with a character Windows-1250 lacks stays as it was written: it can match no table
    // name, where its '?' form could match the wrong one.
    std::optional<std::string> ansi = utf8 ? text::Utf8ToAnsiExact(line) : std::string(line);
    names.push_back(ansi ? std::move(*ansi) : std::string(line));
  }
  return names;
}

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
    names = ParseIgnoreList(content);
  }
  names.insert(names.end(), std::begin(kReplicationTables), std::end(kReplicationTables));
  return names;
}

bool IsIgnoredTable(const std::vector<std::string>& ignore, const std::string& table_name) {
  for (const auto& name : ignore) {
    if (name.size() == table_name.size() && text::UpperCase(name) == text::UpperCase(table_name)) return true;
  }
  return false;
}

bool IsReplicableName(std::string_view table_name) { return table_name.size() <= kMaxReplicatedNameLength; }

bool IsSetUpTable(const dbstruct::tTbl_Structure& table, const std::vector<std::string>& ignore) {
  const auto* keyed = dynamic_cast<const dbstruct::tKeyedTbl_Structure*>(&table);
  return keyed != nullptr && !keyed->IsView && IsReplicableName(keyed->TableName) &&
         !IsIgnoredTable(ignore, keyed->TableName);
}

bool NeedsAddedRowGuid(const dbstruct::tTbl_Structure& table, const std::vector<std::string>& ignore) {
  return IsSetUpTable(table, ignore) && !table.Identifiable;
}

std::string LookupIndexName(std::string_view table, const std::vector<std::string>& columns, bool unique) {
  std::string name = unique ? "rep_ux_" : "rep_ix_";
  name += table;
  for (const std::string& column : columns) name += "_" + column;
  return name;
}

namespace {

// True when an index of `table` begins with `columns` (in any order).
bool IsServed(const dbstruct::tKeyedTbl_Structure& table, const std::vector<std::string>& columns) {
  std::vector<std::string> wanted;
  wanted.reserve(columns.size());
  for (const std::string& column : columns) wanted.push_back(text::UpperCaseAscii(column));
  std::sort(wanted.begin(), wanted.end());
  for (const dbstruct::tIndexDef& index : table.IndexDefs) {
    std::vector<std::string> leading = table.SplitFields(index.Fields);
    if (leading.size() < wanted.size()) continue;
    leading.resize(wanted.size());
    for (std::string& column : leading) column = text::UpperCaseAscii(column);
    std::sort(leading.begin(), leading.end());
    if (leading == wanted) return true;
  }
  return false;
}

// Adds the index of `columns` of `table` unless an index serves it or it is planned already.
void Plan(std::vector<LookupIndex>& plan, const dbstruct::tKeyedTbl_Structure& table,
          std::vector<std::string> columns, bool unique, const char* purpose) {
  if (columns.empty() || IsServed(table, columns)) return;
  for (const LookupIndex& planned : plan) {
    if (text::EqualsIgnoreCaseAscii(planned.table, table.TableName) &&
        planned.columns.size() == columns.size() &&
        std::equal(
            columns.begin(), columns.end(), planned.columns.begin(),
            [](const std::string& a, const std::string& b) { return text::EqualsIgnoreCaseAscii(a, b); }))
      return;
  }
  std::string name = LookupIndexName(table.TableName, columns, unique);
  plan.push_back({table.TableName, std::move(columns), unique, std::move(name), text::Utf8ToAnsi(purpose)});
}

}  // namespace

std::vector<LookupIndex> MissingLookupIndexes(const dbstruct::tDatabase_Structure& database,
                                              const std::vector<std::string>& ignore) {
  std::vector<LookupIndex> plan;
  for (int i = 0; i < database.TableCount(); ++i) {
    const dbstruct::tTbl_Structure& table = database.Table(i);
    if (!IsSetUpTable(table, ignore)) continue;
    const auto& keyed = static_cast<const dbstruct::tKeyedTbl_Structure&>(table);
    if (!keyed.RowGuidColumn.empty())
      Plan(plan, keyed, {keyed.RowGuidColumn}, true, "vyhledání řádku podle RowGuid");
    for (int m = 0; m < keyed.Masters().Count(); ++m) {
      const dbstruct::tForeignKeysInfo& keys = keyed.Masters().Items(m);
      for (int k = 0; k < keys.Count(); ++k) {
        const dbstruct::tForeignKeyInfo& key = keys.Items(k);
        Plan(plan, keyed, key.FKColumns, false, "výmaz detailů při výmazu mastera");
        if (keys.MasterTable != nullptr && IsSetUpTable(*keys.MasterTable, ignore))
          Plan(plan, static_cast<const dbstruct::tKeyedTbl_Structure&>(*keys.MasterTable), key.PKColumns,
               false, "kontrola existence mastera");
      }
    }
  }
  return plan;
}

void GenerateSetupScript(const dbstruct::tDatabase_Structure& database,
                         const std::vector<std::string>& ignore, const std::string& file_name,
                         const SetupOptions& options) {
  std::string script;
  if (const auto* mssql = dynamic_cast<const dbstruct::tADODatabase_Structure*>(&database)) {
    script = MssqlSetupScript(*mssql, ignore, options);
  } else if (const auto* sqlite = dynamic_cast<const dbstruct::tSQLiteDatabase_Structure*>(&database)) {
    script = SQLiteSetupScript(*sqlite, ignore, options);
  } else {
    throw ReplicationError(text::Utf8ToAnsi("Pro tento druh databáze skript replikace neumím vytvořit"));
  }
  // Complete or absent: the old file stays until the new one is whole.
  dataset::AtomicFileWriter file(file_name);
  file.Write(script.data(), script.size());
  file.Commit();
}

}  // namespace tamaril::replication
