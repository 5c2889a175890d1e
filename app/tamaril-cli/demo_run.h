#pragma once

#include <ostream>
#include <string>

#include "core/login.h"
#include "dbstruct/structure_cache.h"

namespace tamaril::cli {

/// What the demo uses of the program: where it prints, the login prompt of its lists and runs,
/// and the cache of scanned structures. All borrowed.
struct DemoServices {
  std::ostream& out;
  core::LoginPrompt& prompt;
  dbstruct::tDBStructureCache& structures;
};

/// The demo folder: `given`, created when missing and refused (CliError) when it holds anything,
/// or, when `given` is empty, a new temporary folder. Says on `out` which; returns its absolute path.
std::string PrepareDemoFolder(const std::string& given, std::ostream& out);

/// The whole replication of `tamaril-cli demo` in the prepared folder `dir`: the client and the
/// center on SQLite, their settings, lists and rules, three rounds of export and import, each
/// checked. Throws CliError when a round ends otherwise than it should.
void RunDemo(const DemoServices& services, const std::string& dir);

}  // namespace tamaril::cli
