#pragma once

#include <string>
#include <string_view>

namespace tamaril::core {

// File-system paths here are UTF-8 byte strings, as Linux file names are.

/// The program's folder: the one set by SetProgramFolder, else the executable's folder.
std::string ProgramFolder();

/// The path of the running executable; empty when the system does not tell it.
std::string ExecutablePath();

/// Sets the program's folder (made absolute), as "--home" does; an empty one means the executable's again.
void SetProgramFolder(const std::string& folder);

/// True while a program's folder set by SetProgramFolder is in use (not the executable's).
bool ProgramFolderGiven();

/// A path with "/" appended unless it is empty or already ends in "/".
std::string IncludeTrailingDelimiter(std::string_view path);

}  // namespace tamaril::core
