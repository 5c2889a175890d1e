#pragma once

#include <string>

namespace tamaril::replication {

/// The system's reason `error` (an errno value) in Czech (Windows-1250): "soubor neexistuje",
/// "přístup odepřen", …, "systémová chyba č. N" for the rare ones.
std::string SystemReasonText(int error);

/// Why the file at `path` (UTF-8) cannot be opened for reading, as SystemReasonText gives it;
/// empty when it can. A folder cannot ("je to složka").
std::string FileReadProblem(const std::string& path);

}  // namespace tamaril::replication
