#pragma once

#include <string>
#include <vector>

namespace tamaril::cli::demo {

/// A table of the sample schema as the demo compares it between the client and the center.
struct DemoTable {
  std::string name;     ///< the table
  std::string columns;  ///< its data columns, compared (the tracking columns left out)
  /// A condition (SQL) true for the client rows the center keeps once it refuses customers of
  /// category "X".
  std::string kept_by_center;
  std::string plural;  ///< "odběratelů", ... (UTF-8), for the sentence of counts
};

/// The sample schema of both databases (UTF-8): customers, goods, invoices with a RowGuid and an
/// identity, and invoice lines as the invoices' detail.
std::string SchemaSql();

/// The client's first data (UTF-8): tens of rows with Czech names.
std::string InitialDataSql();

/// The client's changes of the second round (UTF-8): updates and deletions.
std::string SecondRoundSql();

/// The client's third-round rows (UTF-8): a customer of category "X" with an invoice and its lines.
std::string ThirdRoundSql();

/// The tables of the sample schema, masters before details.
const std::vector<DemoTable>& Tables();

}  // namespace tamaril::cli::demo
