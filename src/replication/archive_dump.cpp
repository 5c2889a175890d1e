#include "replication/archive_dump.h"

#include <cstdio>
#include <optional>
#include <ostream>
#include <vector>

#include "dataset/date_codec.h"
#include "dataset/errors.h"
#include "dataset/field_layout.h"
#include "dataset/memory_table_file.h"
#include "dataset/record.h"
#include "replication/archive.h"
#include "replication/errors.h"
#include "replication/file_problem.h"
#include "replication/table_names.h"
#include "text/encoding.h"

namespace tamaril::replication {
namespace {

using dataset::ByteReader;

std::string Ansi(std::string_view utf8) { return text::Utf8ToAnsi(utf8); }

/// A failure that already names its place in the content.
class ContentError : public ReplicationError {
 public:
  using ReplicationError::ReplicationError;
};

std::optional<std::uint8_t> ReadMarker(ByteReader& in) {
  std::uint8_t byte = 0;
  if (in.Read(&byte, 1) == 0) return std::nullopt;
  return byte;
}

std::string HexByte(std::uint8_t byte) {
  char buffer[8];
  std::snprintf(buffer, sizeof buffer, "0x%02X", byte);
  return buffer;
}

std::string ExportTimeText(double days) {
  try {
    return dataset::IsoDateTimeText(dataset::DateTimeToTimeStamp(days));
  } catch (const dataset::DatasetError&) {
    return "neplatný";
  }
}

/// One walk through the content. Without an output it only counts the whole rows of each table.
/// With an output and rows, the row counts of an earlier walk head the tables; without rows,
/// each table's line is written once its rows have been counted.
class ContentWalker {
 public:
  ContentWalker(ByteReader& in, std::ostream* out, bool rows, const std::vector<std::int64_t>* known_counts,
                tTextForm form)
      : in_(in), out_(out), rows_(rows), known_counts_(known_counts), form_(form) {}

  /// Walks to the end marker; throws ContentError for damaged content.
  void Run() {
    try {
      Walk();
    } catch (const ContentError&) {
      if (ends_early_ && out_ != nullptr) *out_ << "obsah končí předčasně (chybí koncová značka)\n";
      throw;
    }
  }

  /// The table sections read, each with its whole rows; a damaged one with the rows before the damage.
  const std::vector<tArchiveTableRows>& Sections() const noexcept { return sections_; }

 private:
  void Walk() {
    std::optional<std::uint8_t> marker = ReadMarker(in_);
    if (!marker) EndsEarly();
    if (*marker != static_cast<std::uint8_t>(ArchiveMarker::TableList)) {
      Fail(Ansi("Místo seznamu tabulek je bajt ") + HexByte(*marker));
    }
    try {
      list_ = ReadTableList(in_);
    } catch (const ReplicationError& error) {
      Fail(error.what());
    } catch (const Error& error) {
      Fail(Ansi("Seznam tabulek: ") + error.what());
    }
    if (out_ != nullptr) {
      std::string names;
      for (const std::string& name : list_) {
        if (!names.empty()) names += ", ";
        names += name;
      }
      *out_ << "tabulky: " << text::AnsiToUtf8(names) << '\n';
    }
    for (std::size_t index = 0;; ++index) {
      marker = ReadMarker(in_);
      if (!marker) EndsEarly();
      if (*marker == static_cast<std::uint8_t>(ArchiveMarker::End)) break;
      if (*marker != static_cast<std::uint8_t>(ArchiveMarker::Table)) {
        Fail(Ansi("Místo hlavičky tabulky nebo koncové značky je bajt ") + HexByte(*marker));
      }
      Table(index);
    }
    if (out_ != nullptr) *out_ << "konec\n";
    if (ReadMarker(in_)) {
      if (out_ != nullptr) *out_ << "za koncovou značkou následují další data\n";
      Fail(Ansi("Za koncovou značkou archivu následují další data"));
    }
    VerifyContentEnd(in_);
  }

  [[noreturn]] void Fail(const std::string& message) const {
    std::string context;
    if (in_table_) {
      context = Ansi("Tabulka ") + table_;
      if (row_ > 0) context += Ansi(", řádek ") + std::to_string(row_);
      context += ": ";
    }
    throw ContentError(context + message);
  }

  [[noreturn]] void EndsEarly() {
    ends_early_ = true;
    Fail(Ansi("Obsah archivu končí bez koncové značky"));
  }

  void WriteTableLine(std::int16_t flag, std::optional<std::int64_t> count, const std::string* layout) const {
    if (out_ == nullptr) return;
    *out_ << "tabulka " << text::AnsiToUtf8(table_) << " příznak=" << flag << " řádků=";
    if (count) {
      *out_ << *count;
    } else {
      *out_ << '?';
    }
    *out_ << '\n';
    if (flag == 0 && !ContainsTableName(list_, table_)) {
      *out_ << "upozornění: tabulka " << text::AnsiToUtf8(table_) << " není v seznamu tabulek\n";
    }
    if (layout != nullptr) *out_ << "popis polí: " << text::AnsiToUtf8(*layout) << '\n';
  }

  void Table(std::size_t index) {
    std::int16_t flag = 0;
    try {
      flag = static_cast<std::int16_t>(in_.ReadU16());
      table_ = ReadTableName(in_);
    } catch (const Error& error) {
      Fail(Ansi("Hlavička ") + std::to_string(index + 1) + Ansi(". tabulky: ") + error.what());
    }
    in_table_ = true;
    row_ = 0;
    sections_.push_back({table_, flag, 0});
    std::int64_t& count = sections_.back().rows;
    std::optional<std::string> layout;
    try {
      layout = ReadTableLayout(in_);
      if (rows_) {
        std::optional<std::int64_t> known;
        if (known_counts_ != nullptr && index < known_counts_->size()) known = (*known_counts_)[index];
        WriteTableLine(flag, known, &*layout);
      }
      dataset::TFieldDefs defs;
      dataset::ParseFieldLayout(*layout, &defs, false);
      dataset::TFieldDescs descs;
      dataset::BuildFieldDescs(defs, descs);
      Rows(descs, count);
    } catch (const Error& error) {
      if (!rows_) WriteTableLine(flag, count, layout ? &*layout : nullptr);
      if (dynamic_cast<const ContentError*>(&error) != nullptr) throw;
      Fail(error.what());
    }
    if (!rows_) WriteTableLine(flag, count, &*layout);
    in_table_ = false;
    row_ = 0;
  }

  void Rows(const dataset::TFieldDescs& descs, std::int64_t& count) {
    for (;;) {
      row_ = 0;
      std::optional<std::uint8_t> marker = ReadMarker(in_);
      if (!marker) EndsEarly();
      if (*marker == static_cast<std::uint8_t>(ArchiveMarker::TableEnd)) return;
      if (*marker != static_cast<std::uint8_t>(ArchiveMarker::Row)) {
        Fail(Ansi("Místo řádku nebo konce tabulky je bajt ") + HexByte(*marker));
      }
      row_ = count + 1;
      if (rows_ && out_ != nullptr) *out_ << "řádek " << row_ << '\n';
      dataset::TQVMRecord record(descs);
      try {
        record.ReadFromStream(in_, form_ == tTextForm::Unicode);
      } catch (const Error& error) {
        Fail(error.what());
      }
      if (rows_ && out_ != nullptr) *out_ << dataset::DumpRecord(record, form_ == tTextForm::Unicode);
      marker = ReadMarker(in_);
      if (!marker || *marker != static_cast<std::uint8_t>(ArchiveMarker::RowEnd)) {
        Fail(Ansi("Za řádkem chybí značka konce řádku"));
      }
      ++count;
    }
  }

  ByteReader& in_;
  std::ostream* out_;
  bool rows_;
  const std::vector<std::int64_t>* known_counts_;
  std::vector<tArchiveTableRows> sections_;
  std::vector<std::string> list_;  ///< the table list
  std::string table_;              ///< the current table's name
  bool in_table_ = false;
  bool ends_early_ = false;
  std::int64_t row_ = 0;  ///< 1-based number of the row being read, 0 outside a row
  tTextForm form_;
};

/// The content of an archive after its header; a compressed stream cut short fails.
class ArchiveContent : public ContentReader {
 public:
  explicit ArchiveContent(std::unique_ptr<tArchiveReader> archive) : archive_(std::move(archive)) {}

  std::size_t Read(void* data, std::size_t size) override {
    const std::size_t got = archive_->Stream().Read(data, size);
    if (got == 0 && size > 0 && archive_->Stream().Truncated()) archive_->Stream().VerifyEnd();
    return got;
  }

  void VerifyEnd() override { archive_->Stream().VerifyEnd(); }

 private:
  std::unique_ptr<tArchiveReader> archive_;
};

void DumpOpenedArchive(const std::function<std::unique_ptr<tArchiveReader>()>& open, const std::string& name,
                       bool rows, std::ostream& out) {
  std::unique_ptr<tArchiveReader> first = open();
  const tArchiveHeader& header = first->Header();
  out << "identifikace archivu: " << (header.Identified ? "v pořádku" : "chybná") << '\n';
  if (!header.Identified) throw ReplicationError(Ansi("Soubor " + name + " není archiv"));
  const tTextForm form = header.Form;
  if (form == tTextForm::Unicode) out << "texty: Unicode (UTF-8)\n";
  out << "Signature: " << text::AnsiToUtf8(header.Signature) << '\n'
      << "EXPORTNO: " << header.ExportNo << '\n'
      << "čas exportu: " << ExportTimeText(header.ExportTime) << '\n';
  try {
    // The analyser loses the reader handed out through std::function and reports it as leaked.
    // NOLINTBEGIN(clang-analyzer-cplusplus.NewDeleteLeaks)
    DumpArchiveContent(
        [&]() -> std::unique_ptr<ByteReader> {
          std::unique_ptr<tArchiveReader> archive = first ? std::move(first) : open();
          return std::make_unique<ArchiveContent>(std::move(archive));
        },
        rows, out, form);
    // NOLINTEND(clang-analyzer-cplusplus.NewDeleteLeaks)
  } catch (const ContentError& error) {
    throw ReplicationError(Ansi("Archiv " + name + " je poškozený: ") + error.what());
  }
}

}  // namespace

void DumpArchiveContent(const ArchiveContentOpener& open, bool rows, std::ostream& out, tTextForm form) {
  if (!rows) {
    const std::unique_ptr<ByteReader> content = open();
    ContentWalker(*content, &out, false, nullptr, form).Run();
    return;
  }
  std::vector<std::int64_t> counts;
  {
    const std::unique_ptr<ByteReader> content = open();
    ContentWalker counter(*content, nullptr, false, nullptr, form);
    try {
      counter.Run();
    } catch (const Error&) {
      // The second walk meets the same damage and reports it after printing what precedes it.
    }
    for (const tArchiveTableRows& section : counter.Sections()) counts.push_back(section.rows);
  }
  const std::unique_ptr<ByteReader> content = open();
  ContentWalker(*content, &out, true, &counts, form).Run();
}

std::vector<tArchiveTableRows> CountArchiveRows(const std::string& path) {
  std::vector<tArchiveTableRows> sections;
  try {
    auto archive = std::make_unique<tArchiveReader>(path);
    if (!archive->Header().Identified) return sections;
    const tTextForm form = archive->Header().Form;
    ArchiveContent content(std::move(archive));
    ContentWalker counter(content, nullptr, false, nullptr, form);
    try {
      counter.Run();
    } catch (const Error&) {
      // What precedes the damage is counted; the merge reports the damage itself.
    }
    sections = counter.Sections();
  } catch (const Error&) {
    // A file that cannot be read has no sections to count.
  }
  return sections;
}

void DumpArchive(const std::string& path, bool rows, std::ostream& out) {
  const std::string problem = FileReadProblem(path);
  if (!problem.empty()) throw ReplicationError(Ansi("Archiv " + path + " nelze otevřít: ") + problem);
  DumpOpenedArchive([&path] { return std::make_unique<tArchiveReader>(path); }, path, rows, out);
}

void DumpArchiveBytes(std::string_view archive, bool rows, std::ostream& out) {
  DumpOpenedArchive(
      [archive] {
        return std::make_unique<tArchiveReader>(std::make_unique<dataset::MemoryReader>(archive), "(paměť)");
      },
      "(paměť)", rows, out);
}

}  // namespace tamaril::replication
