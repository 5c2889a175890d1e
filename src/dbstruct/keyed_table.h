#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "dataset/field_type.h"
#include "dbstruct/structure.h"

namespace tamaril::dbstruct {

/// One column of a table as a dialect form reads it.
struct tColumnDef {
  std::string Name;
  dataset::FieldType DataType = dataset::FieldType::Unknown;
  int Precision = 0;      ///< declared size or precision
  bool Required = false;  ///< the column does not accept NULL
};

/// One index of a table: its name, its columns (";"-separated) and its options.
struct tIndexDef {
  std::string Name;
  std::string Fields;
  bool Primary = false;
  bool Unique = false;
};

/// What the SQL Server and SQLite forms of a table share: the columns, indexes, keys,
/// identity and trigger facts read by LoadStructure, and the questions answered from them.
/// Column names compare ignoring case.
class tKeyedTbl_Structure : public tTbl_Structure {
 public:
  std::string GetTableName() const override { return TableName; }
  bool HasField(const std::string& name) const override { return FindFieldDef(name) != nullptr; }
  /// A column of the table that is not computed.
  bool IsFieldWritable(const std::string& name) const override;

  /// The RowGuid column used to identify rows: empty when IgnoreRowGuid is set.
  std::string IdentifyingGuidColumn() const { return IgnoreRowGuid ? std::string() : RowGuidColumn; }
  /// Name of the primary key (0) or of the n-th unique non-primary index; empty when none.
  std::string IndexName(int index) const;

  std::string TableName;
  std::string RowGuidColumn;
  std::string IntKeyColumn;
  std::string PrimaryKeyIndexName;
  std::string IdentityColumn;
  std::int32_t IdentitySeed = 0;
  std::int32_t IdentityIncrement = 0;
  std::int32_t IdentityReseedValue = 0;
  bool IgnoreRowGuid = false;
  bool HasDeleteTrigger = false;
  bool HasInsertTrigger = false;
  bool HasUpdateTrigger = false;
  std::vector<tColumnDef> FieldDefs;
  std::vector<tIndexDef> IndexDefs;
  int UniqueIndexCount = 0;
  std::vector<std::string> ComputedColumns;
  std::vector<std::string> PrimaryKeyFields;
  std::vector<std::string> KeepEnabledTriggers;

 protected:
  /// The column of that name (ignoring case), or null.
  const tColumnDef* FindFieldDef(std::string_view name) const;
  /// The n-th (from 1) unique index that is not the primary key, or null.
  const tIndexDef* UniqueIndex(int index) const;
};

}  // namespace tamaril::dbstruct
