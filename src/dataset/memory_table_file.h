#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "dataset/record.h"
#include "dataset/stream.h"

namespace tamaril::dataset {

// The stored form of a memory table: the bytes "Memtbl", the layout text (length-prefixed),
// the auto-increment counter, the record count N, then N records in the record stream form.

/// What precedes the records of a memory table file.
struct MemoryTableHeader {
  std::string layout;  ///< Windows-1250 layout text
  std::int32_t auto_inc_value = 0;
  std::int32_t record_count = 0;
};

/// Reads the header; throws DatasetError "Invalid table stream (table <table_name>)" when the
/// stream does not begin with "Memtbl" (case-sensitive), "Invalid record count …" for a
/// negative count, and "Unexpected end of stream" when it is cut short.
MemoryTableHeader ReadMemoryTableHeader(ByteReader& stream, std::string_view table_name);

/// Writes the header; throws what the stream throws.
void WriteMemoryTableHeader(ByteWriter& stream, std::string_view layout, std::int32_t auto_inc_value,
                            std::int32_t record_count);

/// One line per field, "  name=value\n", in UTF-8: NULL for a null field; strings and memos
/// (Memo, FmtMemo) in double quotes with '"', '\' and control bytes escaped (\" \\ \xNN);
/// numbers with a full stop in their shortest round-trip form; BCD as its exact decimal amount;
/// Boolean true/false; DateTime as YYYY-MM-DDTHH:MM:SS.mmm, Date as YYYY-MM-DD, Time as
/// HH:MM:SS.mmm; other blobs as "N bytes: 61 62 63" (lower-case hex). A slot that cannot be
/// decoded shows "invalid" and its raw bytes in hex.
std::string DumpRecord(const TQVMRecord& record);
/// DumpRecord of a record whose texts are UTF-8 (`unicode`) rather than Windows-1250.
std::string DumpRecord(const TQVMRecord& record, bool unicode);

/// The text `tamaril-cli memtable dump FILE` prints: "layout: …", "AutoIncValue: N",
/// "records: N", then per record "record K" (1-based) and its DumpRecord lines. Throws
/// DatasetError for a file that cannot be read or is damaged; `partial`, when given, receives
/// the text produced before the failure (and the whole text on success).
std::string DumpMemoryTableFile(const std::string& path, std::string* partial = nullptr);

/// DumpMemoryTableFile of the memory table form read from a stream; `table_name` stands for it
/// in messages. Throws as DumpMemoryTableFile.
std::string DumpMemoryTable(ByteReader& stream, std::string_view table_name, std::string* partial = nullptr);

}  // namespace tamaril::dataset
