// Feeds arbitrary bytes to the archive readers: as decompressed content to the dump walk and
// to the merger (without a target database every table is read through), and as a whole
// compressed archive to the dump, the reader and the merger. Errors are the expected outcome;
// crashes and sanitizer reports are not.

#include <cstddef>
#include <cstdint>
#include <exception>
#include <sstream>
#include <string_view>

#include "dataset/stream.h"
#include "replication/archive.h"
#include "replication/archive_dump.h"
#include "replication/merger.h"

namespace {

using namespace tamaril;

void DumpContent(std::string_view bytes, bool rows) {
  std::ostringstream out;
  try {
    replication::DumpArchiveContent([bytes] { return std::make_unique<dataset::MemoryReader>(bytes); }, rows,
                                    out);
  } catch (const std::exception&) {
  }
}

void MergeContent(std::string_view bytes) {
  dataset::MemoryReader content(bytes);
  replication::tQVMMerger merger;
  merger.Stream = &content;
  try {
    merger.Merge();
  } catch (const std::exception&) {
  }
}

void ReadArchive(std::string_view bytes) {
  std::ostringstream out;
  try {
    replication::DumpArchiveBytes(bytes, true, out);
  } catch (const std::exception&) {
  }
  try {
    replication::tArchiveReader archive(std::make_unique<dataset::MemoryReader>(bytes), "fuzz");
    char buffer[4096];
    while (archive.Stream().Read(buffer, sizeof buffer) > 0) {
    }
    archive.Stream().VerifyEnd();
  } catch (const std::exception&) {
  }
  try {
    // The import path: the merger reads the archive's stream and verifies its end.
    replication::tArchiveReader archive(std::make_unique<dataset::MemoryReader>(bytes), "fuzz");
    replication::tQVMMerger merger;
    merger.Stream = &archive.Stream();
    merger.Merge();
  } catch (const std::exception&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  DumpContent(bytes, true);
  DumpContent(bytes, false);
  MergeContent(bytes);
  ReadArchive(bytes);
  return 0;
}
