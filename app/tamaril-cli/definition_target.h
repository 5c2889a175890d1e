#pragma once

#include <ostream>
#include <string>
#include <string_view>

#include "core/login_cache.h"
#include "dbaccess/connection.h"
#include "dbstruct/structure.h"

namespace tamaril::cli {

class Cli;

/// The side a command's --export and --import flags chose; throws CliError unless exactly one
/// of them was given.
bool ChosenImportSide(bool export_flag, bool import_flag);

/// One definition of the export or import list and, once opened, its connected database with
/// the scanned structure. The connections and the logins belong to it; the structure to the
/// program's structure cache.
class DefinitionTarget {
 public:
  /// Finds the definition `signature` (typed, UTF-8) in the export or the import list; throws
  /// core::InputError for a signature Windows-1250 cannot hold and CliError when the list has
  /// no such definition.
  DefinitionTarget(Cli& cli, bool import, std::string_view signature);
  DefinitionTarget(const DefinitionTarget&) = delete;
  DefinitionTarget& operator=(const DefinitionTarget&) = delete;

  /// Connects to the definition's database and takes its structure, checked for the
  /// definition's side. False, with the reason printed on `out` (its carriage return as a line
  /// break), when the database is not ready for replication; the structure can then still be
  /// looked at. Throws what connecting and scanning throw.
  bool Open(std::ostream& out);
  /// Connects to the definition's database and takes its structure without the readiness
  /// check, telling `progress` about every table a scan reads; throws what connecting and
  /// scanning throw.
  void OpenUnchecked(const dbstruct::ScanProgressEvent& progress);

  bool Import() const noexcept { return import_; }
  /// The Signature as the list holds it (Windows-1250).
  const std::string& Signature() const noexcept { return signature_; }
  /// The database name as the list holds it (Windows-1250).
  const std::string& DatabaseName() const noexcept { return database_name_; }
  /// The connected database; only after Open.
  dbaccess::Connection& Connection() noexcept { return connection_; }
  /// The database's structure; only after Open (also one that found the database not ready)
  /// or OpenUnchecked, else throws std::logic_error.
  dbstruct::tDatabase_Structure& Structure() const;

 private:
  Cli& cli_;
  bool import_;
  std::string signature_;
  std::string connection_string_;
  std::string database_name_;
  core::LoginCache logins_;
  dbaccess::Connection connection_;
  dbaccess::Connection master_;
  dbstruct::tDatabase_Structure* structure_ = nullptr;
};

}  // namespace tamaril::cli
