#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "dbstruct/keyed_table.h"

namespace tamaril::dbstruct {

class tADODatabase_Structure;

/// A column and an index of a SQL Server table.
using tMSSQLFieldDef = tColumnDef;
using tMSSQLIndexDef = tIndexDef;

/// A SQL Server table: reads its columns, indexes, identity and triggers from the server, and
/// gives the shared statements their T-SQL names, values and delete texts.
class tADOTbl_Structure : public tKeyedTbl_Structure {
 public:
  /// A table of `database` (not owned), empty until LoadStructure.
  explicit tADOTbl_Structure(tADODatabase_Structure& database);
  ~tADOTbl_Structure() override;

  /// Reads columns, indexes, identity and trigger properties; throws what the server throws.
  void LoadStructure(const std::string& table_name) override;
  /// Identity insert on, triggers off except KeepEnabledTriggers; identity insert off again
  /// when a later step throws.
  void BeginWrite() override;
  /// Triggers on, identity insert off and the identity counter reseeded.
  void EndWrite() override;
  /// The name bare when T-SQL takes it so, else in brackets (see MssqlName).
  std::string QuoteIdentifier(std::string_view name) const override;

  /// Switches identity insert (and reseeds after switching it off); nothing without identity.
  void SetIdentityInsert(bool on);
  /// Enables or disables all triggers; nothing when the table has none.
  void SetTriggersEnabled(bool on);

  /// The DELETE trigger text of the table, or empty when rows have no identifying column.
  /// `added_row_guid` names a RowGuid column the script adds before the trigger (used when the
  /// structure has none).
  std::string BuildDeleteTriggerScript(const std::string& trigger_prefix, const std::string& target_table,
                                       const std::string& table_name_column,
                                       const std::string& row_guid_column, const std::string& id_column,
                                       const std::string& added_row_guid = {}) const;
  /// The tracking-column text followed by the INSERT trigger text of the table, whose join finds
  /// the inserted rows by the primary key, else by the RowGuid column (`added_row_guid` as in
  /// BuildDeleteTriggerScript); empty when the table has neither.
  std::string BuildInsertTriggerScript(const std::string& trigger_prefix,
                                       const std::vector<std::string>& names,
                                       const std::vector<std::string>& types,
                                       const std::string& added_row_guid = {}) const;

 protected:
  std::unique_ptr<tRowLookup> MakeLookup(const std::string& condition) override;
  /// The date as a date-time value at midnight.
  dbaccess::Value DateValue(double date) const override;
  /// Date-time values: today at midnight, the time on 30 December 1899, or now.
  dbaccess::Value NowValue(dataset::FieldType type) const override;
  /// smallint, tinyint (Word) and int (Integer, AutoInc) take only their ranges.
  std::optional<std::pair<std::int64_t, std::int64_t>> IntegerRange(dataset::FieldType type) const override;
  /// The RowGuid in quotes (quotes inside doubled) or the integer id, pasted as a literal.
  std::string DeleteKeyText(const dbaccess::Value& key) const override;
  std::int64_t DeleteSelectedRows(const tTbl_Structure& table, const std::string& alias,
                                  const std::string& clause, const dbaccess::Value& key) override;

 private:
  tADODatabase_Structure& database_;
};

/// `text` with every quote doubled, for pasting between quotes into a statement.
std::string QuoteEscaped(const std::string& text);

/// `text` with the LIKE pattern characters "[", "_" and "%" bracketed, so that it matches only
/// itself.
std::string LikeEscaped(std::string_view text);

/// A table, column or trigger name as T-SQL takes it: as it stands when it is a regular
/// identifier (a letter, "_" or "#" first, then letters, digits and "_@#$", not a reserved
/// word), otherwise in brackets with every "]" doubled.
std::string MssqlName(std::string_view name);

}  // namespace tamaril::dbstruct
