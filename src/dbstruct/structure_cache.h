#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "dbstruct/structure.h"

namespace tamaril::dbstruct {

/// A cached database structure with the two texts it was scanned under.
class tDBStructureItem {
 public:
  tDBStructureItem(std::unique_ptr<tDatabase_Structure> structure, std::string connection_string,
                   std::string database_name)
      : Structure(std::move(structure)),
        ConnectionString(std::move(connection_string)),
        DatabaseName(std::move(database_name)) {}

  std::unique_ptr<tDatabase_Structure> Structure;  ///< the scanned structure (owned)
  std::string ConnectionString;                    ///< the connection-string key
  std::string DatabaseName;                        ///< the database-name key
};

/// Every database structure scanned while the program runs, so that a second run on the same
/// database does not scan it again. Entries are never evicted or refreshed.
class tDBStructureCache {
 public:
  /// The structure cached under exactly these two texts (letter case counts), or null.
  tDatabase_Structure* Find(std::string_view connection_string, std::string_view database_name) const;
  /// Takes `structure` under the two texts and returns null. When a structure is already
  /// cached under them, the cache keeps that one and hands `structure` back to the caller.
  [[nodiscard]] std::unique_ptr<tDatabase_Structure> Add(std::string_view connection_string,
                                                         std::string_view database_name,
                                                         std::unique_ptr<tDatabase_Structure> structure);
  /// Number of cached structures.
  int Count() const noexcept { return static_cast<int>(items_.size()); }
  /// Frees every cached structure (at shutdown, before the connections they used go away).
  void Clear() noexcept { items_.clear(); }

 private:
  std::vector<tDBStructureItem> items_;
};

/// The cache of this process, created on first use and destroyed at exit.
tDBStructureCache& StructureCache();

}  // namespace tamaril::dbstruct
