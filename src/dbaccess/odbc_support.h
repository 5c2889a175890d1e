#pragma once

// Helpers of the ODBC back end that need no driver: connection-string items and the mapping of
// ODBC column types to field types. Private to dbaccess/ (and its tests).

#include <string>
#include <string_view>

#include "dataset/field_type.h"

namespace tamaril::dbaccess::odbc {

/// An attribute value for an ODBC connection string: as it stands when it is safe, otherwise in
/// braces with every "}" doubled.
std::string QuoteOdbcValue(std::string_view value);

/// The connection string with the attribute `name` (ignoring case) set to `value`: every earlier
/// item of that name is dropped and one "name=value" is appended. Braced values are respected.
std::string WithOdbcAttribute(std::string_view connection, std::string_view name, std::string_view value);

/// Value of the first attribute `name` (ignoring case), braces removed; empty when absent.
std::string FindOdbcAttribute(std::string_view connection, std::string_view name);

/// The field type of a column of ODBC SQL type `sql_type` with the driver's type name, its size
/// (characters or bytes) and whether the server fills it itself (identity, serial).
dataset::FieldType OdbcFieldType(int sql_type, std::string_view type_name, long long size, bool auto_unique);

}  // namespace tamaril::dbaccess::odbc
