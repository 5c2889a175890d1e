#pragma once

#include <string>

namespace tamaril::core {

/// The shared values of the maker's programs on this machine (Windows-1250 text, empty
/// until ReadCommonInfo finds them).
inline std::string CommonDllPath;
inline std::string CommonWebSite;
inline std::string CommonMail;
inline std::string CommonHelpPath;

/// The program's version, from the build.
extern const int AppVersionMajor;
extern const int AppVersionMinor;
extern const int AppVersionRelease;
extern const int AppVersionBuild;

/// The file ReadCommonInfo reads: "/etc/ZRT/common.ini" unless set (a UTF-8 path).
std::string CommonInfoFileName();
/// Sets the file ReadCommonInfo reads, as the programs' "--common" option does; empty restores the default.
void SetCommonInfoFileName(const std::string& file_name);

/// Reads DLLPATH, WEBSITE, MAIL and HELP of section [COMMON] into the Common* values; a
/// missing or unreadable file or value leaves its value empty. Never writes the file; does not throw.
void ReadCommonInfo();

}  // namespace tamaril::core
