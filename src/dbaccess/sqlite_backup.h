#pragma once

#include <string>

namespace tamaril::dbaccess {

/// Copies the SQLite database file `source` (UTF-8 path) into `target` with the online backup
/// API: the copy is a consistent snapshot even while other connections read the source. The
/// copy is written to `target` + ".tmp" and renamed over `target` only once complete (the
/// folder synced), so a failure leaves `target` as it was and neither the copy nor its journal
/// behind. Throws DatabaseError with SQLite's or the system's reason (SQLite's result code as
/// the native code). The copy gets the permission bits `mode`.
void CopySqliteDatabase(const std::string& source, const std::string& target, unsigned mode);

}  // namespace tamaril::dbaccess
