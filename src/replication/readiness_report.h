#pragma once

#include <string>
#include <vector>

namespace tamaril::dbstruct {
class tDatabase_Structure;
}

namespace tamaril::replication {

/// One finding of the readiness report: what will go wrong with a table, or what the setup
/// script would change about it.
struct ReadinessNote {
  std::string table;  ///< as the structure or rep_TBLDESC spells it (Windows-1250)
  std::string text;   ///< Czech (Windows-1250)

  bool operator==(const ReadinessNote&) const = default;
};

/// What a readiness report looks at beyond the structure.
struct ReadinessReportOptions {
  bool import = false;     ///< the database is checked for imports (else for exports)
  bool with_data = false;  ///< counts, per text column, the values Windows-1250 cannot carry
};

/// The notes on the tables of `database` (scanned, with its connection open) that the setup
/// makes replicated (`ignore` as ReadIgnoreList gives it), table by table in the structure's
/// order, then the rep_TBLDESC rows of tables that no longer exist: lookups no index serves
/// (with the table's row count), tables whose rows nothing identifies, text columns that can
/// hold characters outside Windows-1250 (SQL Server's Unicode columns; with `with_data` the
/// values that hold one, counted per column), tables without a rep_TBLDESC row, rep_TBLDESC rows
/// without their table, and tables whose names the rep_ tables cannot hold. Works on a database
/// that is not ready: without rep_TBLDESC its rows are not compared. Only reads. Throws what the
/// queries throw.
std::vector<ReadinessNote> ReadinessReport(dbstruct::tDatabase_Structure& database,
                                           const std::vector<std::string>& ignore,
                                           const ReadinessReportOptions& options);

/// The heading printed above the notes: "Upozornění:" (Windows-1250).
std::string ReadinessNotesHeading();

/// The notes as lines under ReadinessNotesHeading, each "  TABLE: text" ending in a line break;
/// empty when there are none (Windows-1250).
std::string FormatReadinessNotes(const std::vector<ReadinessNote>& notes);

}  // namespace tamaril::replication
