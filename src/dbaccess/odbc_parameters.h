#pragma once

// Binding the parameters of an ODBC statement and reading the results of a run. Private to
// dbaccess/.

#include <cstdint>
#include <string>
#include <vector>

#include "dbaccess/odbc_handles.h"
#include "dbaccess/parameter.h"

namespace tamaril::dbaccess::odbc {

/// The buffers of one bound parameter; they live until the statement runs again.
struct BoundValue {
  std::u16string text;
  std::string bytes;
  SQLBIGINT integer = 0;
  SQLDOUBLE real = 0;
  SQLCHAR bit = 0;
  SQL_TIMESTAMP_STRUCT stamp{};
  SQLLEN indicator = 0;
};

/// Binds `params` to the statement's placeholders, filling `bound` with their buffers (which must
/// stay untouched until the statement runs again); throws DatabaseError when the driver refuses one.
void BindParameters(StatementCore& core, std::vector<BoundValue>& bound, const std::vector<Parameter>& params,
                    const ServerTraits& traits);

/// Sums the affected-row counts of every result of a run; -1 when no part of it knew its count.
/// Throws DatabaseError with the driver's diagnostics when the run failed.
std::int64_t DrainCounts(StatementCore& core, SQLRETURN rc);

/// Moves past results without columns (row counts of a procedure's inner statements); throws
/// DatabaseError when the run failed.
void SkipToResultSet(StatementCore& core, SQLRETURN rc);

}  // namespace tamaril::dbaccess::odbc
