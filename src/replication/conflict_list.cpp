#include "replication/conflict_list.h"

#include "dataset/record.h"
#include "text/encoding.h"

namespace tamaril::replication {

namespace {

std::string ArchiveLine(const std::string& name) { return "Archiv: " + name; }

std::string DatabaseLine(const std::string& name) { return text::Utf8ToAnsi("Databáze: ") + name; }

constexpr const char* kSeparator = "...";

// Appends a copy of the current row of `row` to `table`.
void CopyRow(dataset::TQVMMemoryTable& table, dataset::TDataSet& row) {
  table.InternalWrite = true;
  try {
    table.NewRecord()->LoadFromDataSet(row, true);
  } catch (...) {
    table.InternalWrite = false;
    throw;
  }
  table.InternalWrite = false;
  table.First();
}

}  // namespace

tConflictList::tConflictList() = default;

tConflictList::~tConflictList() = default;

void tConflictList::AddError(const std::string& archive_name, const std::string& database_name,
                             dataset::TDataSet* row, const std::string& message) {
  if (row != nullptr && !row->Active()) row = nullptr;
  // A group is the same message from the same archive and database; a group without names
  // takes only conflicts without names.
  tConflictGroup* group = nullptr;
  for (const auto& candidate : groups_) {
    if (candidate->message == message && candidate->archive_name == archive_name &&
        candidate->database_name == database_name) {
      group = candidate.get();
      break;
    }
  }
  if (group == nullptr) {
    auto created = std::make_unique<tConflictGroup>();
    created->message = message;
    created->archive_name = archive_name;
    created->database_name = database_name;
    if (row != nullptr) {
      auto rows = std::make_unique<dataset::TQVMMemoryTable>();
      rows->SetFieldLayout(dataset::BuildFieldLayout(*row, false));
      rows->Open();
      CopyRow(*rows, *row);
      created->rows = std::move(rows);
    }
    groups_.push_back(std::move(created));
    return;
  }
  if (row == nullptr || !group->rows) return;
  if (group->rows->FieldLayout() != dataset::BuildFieldLayout(*row, false)) return;
  CopyRow(*group->rows, *row);
}

std::vector<std::string> tConflictList::Lines() const {
  std::vector<std::string> lines;
  for (const auto& group : groups_) {
    lines.push_back(group->message);
    if (!group->archive_name.empty()) lines.push_back(ArchiveLine(group->archive_name));
    if (!group->database_name.empty()) lines.push_back(DatabaseLine(group->database_name));
    lines.emplace_back(kSeparator);
  }
  return lines;
}

dataset::TQVMMemoryTable* tConflictList::RowsOfLine(int line) const {
  if (line < 0) return nullptr;
  int first = 0;
  for (const auto& group : groups_) {
    const int count = 2 + (group->archive_name.empty() ? 0 : 1) + (group->database_name.empty() ? 0 : 1);
    if (line < first + count) {
      // The separator ends the group: the search upwards stops there at once.
      return line == first + count - 1 ? nullptr : group->rows.get();
    }
    first += count;
  }
  return nullptr;
}

}  // namespace tamaril::replication
