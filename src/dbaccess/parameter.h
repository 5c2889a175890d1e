#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "dataset/field_type.h"
#include "dbaccess/value.h"

namespace tamaril::dbaccess {

/// One statement parameter. Named parameters (":name" in the text) get their name from the
/// text and an Unknown type; positional ones ("?") are declared with name, type and size.
struct Parameter {
  std::string name;
  dataset::FieldType type = dataset::FieldType::Unknown;
  int size = 0;
  Value value;
};

/// A statement text with its ":name" placeholders replaced by "?".
struct ParsedStatement {
  std::string text;                ///< the text for the driver
  std::vector<std::string> names;  ///< one name per placeholder, in text order
};

/// Finds the ":name" parameters of a statement text, outside quoted texts ('…'), quoted
/// names ("…", […]) and comments (-- to the line end, /* … */). A name starts with a letter or
/// "_" and goes on with letters, digits and "_". "::" is kept as it is and starts no parameter.
ParsedStatement ParseNamedParameters(std::string_view sql);

/// Counts the "?" placeholders outside quoted texts, quoted names and comments.
std::size_t CountPositionalParameters(std::string_view sql);

}  // namespace tamaril::dbaccess
