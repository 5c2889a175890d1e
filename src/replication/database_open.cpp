#include "replication/database_open.h"

#include <memory>

#include "core/login_cache.h"
#include "dbaccess/connection.h"
#include "dbstruct/structure_cache.h"
#include "dbstruct/structure_forms.h"
#include "replication/readiness.h"

namespace tamaril::replication {

dbstruct::tDatabase_Structure& OpenDatabaseStructure(const tDatabaseAccess& access,
                                                     std::string_view connection_string,
                                                     std::string_view database_name, tReadyFor side,
                                                     const dbstruct::ScanProgressEvent& progress) {
  dbstruct::tDatabase_Structure* structure = access.Cache.Find(connection_string, database_name);
  // A cached structure lets go of its statements before the connection they were prepared on
  // is opened again.
  if (structure != nullptr) structure->CloseData();
  access.Logins.ConnectDatabase(access.Connection, connection_string, database_name);
  const MasterConnector connect_master = [&access](dbaccess::Connection& master, std::string_view text) {
    access.Logins.ConnectDatabase(master, text, "master");
  };

  if (structure != nullptr) {
    structure->SetConnection(&access.Connection);
    structure->OnProgress = nullptr;
  } else {
    std::unique_ptr<dbstruct::tDatabase_Structure> scanned =
        dbstruct::CreateDatabaseStructure(access.Connection);
    scanned->OnProgress = progress;
    scanned->Scan();
    scanned->OnProgress = nullptr;
    // The user-declared links go in before the structure is cached, so that a structure that
    // failed the readiness check has them when it is found again.
    dbstruct::LoadUserForeignKeys(*scanned);
    structure = scanned.get();
    if (auto kept = access.Cache.Add(connection_string, database_name, std::move(scanned))) {
      structure = access.Cache.Find(connection_string, database_name);
    }
  }
  if (side != tReadyFor::Nothing) {
    CheckDatabaseReady(*structure, side == tReadyFor::Import, database_name, access.Master, connect_master);
  }
  return *structure;
}

}  // namespace tamaril::replication
