#pragma once

#include <memory>

#include "core/login.h"
#include "core/maindata.h"
#include "dbstruct/structure_cache.h"

namespace tamaril::replication {

/// The start-up step of the rule language: builds the rule lists and makes the structure
/// layer's row comparison skip the tracking columns. Safe to run more than once.
void InitRuleLanguage();

/// What both programs hold from start-up to exit.
struct tProgramData {
  std::unique_ptr<dbstruct::tDBStructureCache> StructureCache;  ///< the scanned structures
  std::unique_ptr<core::TMaindata> Maindata;                    ///< the lists and connections
};

/// The whole start-up of a program, in order: the structure cache, the shared values, the rule
/// language, the definition lists (logins asked through `prompt`, borrowed for the program's
/// life), then the default folders and the settings file. Throws what reading a damaged list
/// or the settings file throws.
tProgramData StartProgram(core::LoginPrompt& prompt);

}  // namespace tamaril::replication
