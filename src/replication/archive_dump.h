#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "dataset/stream.h"
#include "replication/text_form.h"

namespace tamaril::replication {

/// Writes the text `tamaril-cli archive dump` prints, in Czech and UTF-8: the header
/// ("identifikace archivu", Signature, EXPORTNO, "čas exportu"), the table list ("tabulky"),
/// then per table "tabulka NAME příznak=F řádků=N" (followed by a warning line when an ordinary
/// table is not in the table list) and its layout ("popis polí"), and with `rows` every row
/// ("řádek N") with its fields in the memory table dump forms; "konec" after the end byte.
/// Throws ReplicationError "Archiv X nelze otevřít: …" (the reason in Czech) for a file that
/// cannot be opened and "Archiv X je poškozený: …" for damaged content, DatasetError or
/// ReplicationError for a damaged compression (a wrong check value, a cut zlib stream and bytes
/// after it, named with the file), after having written everything read before the damage.
void DumpArchive(const std::string& path, bool rows, std::ostream& out);

/// DumpArchive of a whole archive file held in memory; throws as DumpArchive.
void DumpArchiveBytes(std::string_view archive, bool rows, std::ostream& out);

/// Opens the decompressed content that follows the header, from its first byte, every time it
/// is called.
using ArchiveContentOpener = std::function<std::unique_ptr<dataset::ByteReader>()>;

/// The part of the dump after the header ("tables: …" to "end"), read from the content;
/// with `rows` the content is opened twice (the row counts are printed before the rows).
/// Throws ReplicationError naming the table and the row for damaged content and what
/// VerifyContentEnd throws after the end byte, after having written everything read before.
void DumpArchiveContent(const ArchiveContentOpener& open, bool rows, std::ostream& out,
                        tTextForm form = tTextForm::Compatible);

/// One table section of an archive's content.
struct tArchiveTableRows {
  std::string name;       ///< as the section's header gives it (Windows-1250)
  std::int16_t flag = 0;  ///< −1 for the deleted rows, 0 otherwise
  std::int64_t rows = 0;  ///< whole rows; for a damaged section those before the damage
};

/// The table sections of the archive at `path` in the order they stand, with their rows, read
/// through once. Damage ends the list at the damaged section; a file that cannot be read or is
/// no archive gives none. Never throws an Error: the merge reports the damage itself.
std::vector<tArchiveTableRows> CountArchiveRows(const std::string& path);

}  // namespace tamaril::replication
