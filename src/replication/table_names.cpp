#include "replication/table_names.h"

#include <algorithm>

#include "text/locale.h"

namespace tamaril::replication {

bool SameTableName(const std::string& a, const std::string& b) {
  return text::UpperCase(a) == text::UpperCase(b);
}

bool ContainsTableName(const std::vector<std::string>& names, const std::string& name) {
  const std::string upper = text::UpperCase(name);
  return std::any_of(names.begin(), names.end(),
                     [&](const std::string& n) { return text::UpperCase(n) == upper; });
}

}  // namespace tamaril::replication
