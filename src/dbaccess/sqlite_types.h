#pragma once

// Private to the SQLite back end: how declared column types and CREATE TABLE texts are read.

#include <string>
#include <string_view>
#include <vector>

#include "dataset/field_type.h"

namespace tamaril::dbaccess::sqlite {

/// The field type, size, precision and scale a declared column type stands for.
struct DeclaredType {
  dataset::FieldType field_type = dataset::FieldType::Unknown;
  int size = 0;
  int precision = 0;
  int scale = 0;

  bool operator==(const DeclaredType&) const = default;
};

/// Maps a declared column type ("VARCHAR(20)", "INTEGER IDENTITY(1,1)", "DECIMAL(10,2)", ...),
/// ignoring case; an empty text gives Unknown. Never throws on odd texts.
DeclaredType MapDeclaredType(std::string_view declared);

/// One foreign key clause of a CREATE TABLE text, in declaration order.
struct ForeignKeyClause {
  std::string name;                  ///< CONSTRAINT name, empty when unnamed
  std::vector<std::string> columns;  ///< the referencing columns
  std::string parent;                ///< the referenced table
};

/// What the catalogue needs from a CREATE TABLE text. Names are unquoted, as in the text.
struct TableConstraints {
  std::string primary_key_name;  ///< CONSTRAINT name of the primary key, empty when unnamed
  std::vector<ForeignKeyClause> foreign_keys;
  bool without_rowid = false;
};

/// Reads the constraint names of a CREATE TABLE text with a tokenizer that respects quotes,
/// brackets and comments; parts it does not understand are skipped. Never throws.
TableConstraints ParseCreateTable(std::string_view sql);

}  // namespace tamaril::dbaccess::sqlite
