#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tamaril::dbaccess {
class Connection;
}

namespace tamaril::dbstruct {

/// The release code of a SQL Server product version (major, minor, build): 0 for releases
/// before 6.0 and 6.x below 6.50, 1..7 for 6.50 and its service packs, 8..12 for 7.0,
/// 13..17 for 2000, 18 for 2005, 19 for anything newer. Never throws.
std::uint8_t VersionCode(int major, int minor, int build);

/// The release code of a "ProductVersion" text ("8.00.760"), or nothing when the text has
/// fewer than two dots or a part that is not a decimal number. Never throws.
std::optional<std::uint8_t> ProductVersionCode(std::string_view version_text);

/// Connects separately with `connection_string` to the database "master", asks "xp_msver" for
/// the "ProductVersion" and sets `version_code` to its release code; false (and 0) on any
/// failure. The separate connection is closed on every path. Never throws.
bool ReadServerVersion(const std::string& connection_string, std::uint8_t& version_code);

/// The same reading through `connection` (not owned): "master" becomes its default database,
/// it is opened when closed, and "xp_msver" runs on it; false (and 0) on any failure. Never
/// throws.
bool ReadServerVersionThrough(dbaccess::Connection& connection, std::uint8_t& version_code);

}  // namespace tamaril::dbstruct
