#include "dbstruct/keyed_table.h"

#include <algorithm>

#include "text/ascii.h"

namespace tamaril::dbstruct {

bool tKeyedTbl_Structure::IsFieldWritable(const std::string& name) const {
  return HasField(name) && std::none_of(ComputedColumns.begin(), ComputedColumns.end(), [&](const std::string& c) {
           return text::EqualsIgnoreCaseAscii(c, name);
         });
}

std::string tKeyedTbl_Structure::IndexName(int index) const {
  if (index == 0) return PrimaryKeyIndexName;
  const tIndexDef* found = UniqueIndex(index);
  return found != nullptr ? found->Name : std::string();
}

const tColumnDef* tKeyedTbl_Structure::FindFieldDef(std::string_view name) const {
  for (const auto& def : FieldDefs) {
    if (text::EqualsIgnoreCaseAscii(def.Name, name)) return &def;
  }
  return nullptr;
}

const tIndexDef* tKeyedTbl_Structure::UniqueIndex(int index) const {
  int n = 0;
  for (const auto& def : IndexDefs) {
    if (def.Unique && !def.Primary && ++n == index) return &def;
  }
  return nullptr;
}

}  // namespace tamaril::dbstruct
