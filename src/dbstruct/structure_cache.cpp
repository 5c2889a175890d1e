#include "dbstruct/structure_cache.h"

namespace tamaril::dbstruct {

tDatabase_Structure* tDBStructureCache::Find(std::string_view connection_string,
                                             std::string_view database_name) const {
  for (const tDBStructureItem& item : items_) {
    if (item.ConnectionString == connection_string && item.DatabaseName == database_name)
      return item.Structure.get();
  }
  return nullptr;
}

std::unique_ptr<tDatabase_Structure> tDBStructureCache::Add(std::string_view connection_string,
                                                            std::string_view database_name,
                                                            std::unique_ptr<tDatabase_Structure> structure) {
  if (structure == nullptr || Find(connection_string, database_name) != nullptr) return structure;
  items_.emplace_back(std::move(structure), std::string(connection_string), std::string(database_name));
  return nullptr;
}

tDBStructureCache& StructureCache() {
  static tDBStructureCache cache;
  return cache;
}

}  // namespace tamaril::dbstruct
