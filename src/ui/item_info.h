#pragma once

#include <QString>

#include <string>

#include "dbaccess/connection.h"

class QWidget;

namespace tamaril::core {
class TMaindata;
}
namespace tamaril::dbstruct {
class tDatabase_Structure;
class tDBStructureCache;
}  // namespace tamaril::dbstruct

namespace tamaril::ui {

/// Closes a connection on every way out of an action.
class tDisconnectGuard {
 public:
  explicit tDisconnectGuard(dbaccess::Connection& connection) : connection_(connection) {}
  ~tDisconnectGuard() { connection_.Close(); }
  tDisconnectGuard(const tDisconnectGuard&) = delete;
  tDisconnectGuard& operator=(const tDisconnectGuard&) = delete;

 private:
  dbaccess::Connection& connection_;
};

/// The definition whose rules are opened: read from the current record of its list.
struct tItemInfoTarget {
  bool Import = false;
  std::string ConnectionString;  ///< plain text
  std::string DatabaseName;
  std::string Signature;
  std::string PartnerName;  ///< the client (import list) or the center (export list)
  /// "Nastavení importu od klienta %s" or "Nastavení exportu do centra %s".
  QString Caption() const;
};

/// Reads the current record of the list of the given kind.
tItemInfoTarget ItemInfoTarget(core::TMaindata& maindata, bool import);

/// Opens the rules of the current definition of the list of the given kind: writes both lists,
/// connects to the definition's database, takes its structure from `cache` or analyses it under
/// the window "Analyzuji strukturu databáze", checks that the database is ready for its side,
/// lists the notes of the readiness report in a warning box (when there are any) and opens the
/// rules window. The connection is closed again on every way out. Returns true when the
/// structure had to be analysed. Throws what the connection, the analysis and the check throw:
/// DatabaseNotReadyError with the check's two lines split by a line break and followed by the
/// report's notes; EAbort when "Storno" stopped the analysis.
bool ShowItemInfo(QWidget* parent, core::TMaindata& maindata, dbstruct::tDBStructureCache& cache,
                  bool import);

/// Opens the rules window of `target` over its `structure`, which is connected.
void OpenRulesWindow(QWidget* parent, core::TMaindata& maindata, dbstruct::tDatabase_Structure& structure,
                     const tItemInfoTarget& target);

}  // namespace tamaril::ui
