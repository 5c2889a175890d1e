#pragma once

#include <cstdlib>
#include <string>

namespace tamaril::ui::testing {

/// Builds the demo's folder `folder` (its databases after the demo's rounds, the definition lists
/// and the settings) with the command-line program, which keeps its own files under `home`.
/// True when the program succeeded.
inline bool MakeDemoFolder(const std::string& home, const std::string& folder) {
  const std::string command =
      "HOME='" + home + "' '" + TAMARIL_CLI_PROGRAM + "' demo '" + folder + "' >/dev/null 2>&1";
  return std::system(command.c_str()) == 0;
}

}  // namespace tamaril::ui::testing
