#pragma once

#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <string_view>

#include "dataset/stream.h"

namespace tamaril::replication {

/// Writes the text `tamaril-cli archive dump` prints, in UTF-8: the header (identification,
/// Signature, EXPORTNO, export time), the table list, then per table "TABLE name flag=F rows=N"
/// (followed by a warning line when an ordinary table is not in the table list) and its
/// layout, and with `rows` every row's fields in the memory table dump forms. Throws
/// DatasetError or ReplicationError for a file that cannot be read or is damaged (also a wrong
/// check value, a cut zlib stream and bytes after it, named with the file), after having
/// written everything read before the damage.
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
void DumpArchiveContent(const ArchiveContentOpener& open, bool rows, std::ostream& out);

}  // namespace tamaril::replication
