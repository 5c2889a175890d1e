#pragma once

#include <string>
#include <vector>

namespace tamaril::replication {

/// True when two table names are the same, letter case ignored.
bool SameTableName(const std::string& a, const std::string& b);
/// True when `names` holds `name`, letter case ignored.
bool ContainsTableName(const std::vector<std::string>& names, const std::string& name);

}  // namespace tamaril::replication
