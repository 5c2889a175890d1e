// Feeds arbitrary bytes to the memory table readers: the dump and a streamed memory table that
// loads them at open. Errors are the expected outcome; crashes and sanitizer reports are not.

#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>
#include <string_view>

#include "dataset/memory_table.h"
#include "dataset/memory_table_file.h"
#include "dataset/stream.h"

namespace {

using namespace tamaril;

// A streamed memory table over bytes in memory that is never stored.
class BytesTable : public dataset::TQVMCustomStreamedMemoryDataSet {
 public:
  explicit BytesTable(std::string_view bytes) : bytes_(bytes) {}

 protected:
  std::unique_ptr<dataset::ByteReader> CreateReadStream() override {
    return std::make_unique<dataset::MemoryReader>(bytes_);
  }
  std::unique_ptr<dataset::ByteWriter> CreateWriteStream() override { return nullptr; }

 private:
  std::string_view bytes_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  try {
    dataset::MemoryReader reader(bytes);
    dataset::DumpMemoryTable(reader, "fuzz");
  } catch (const std::exception&) {
  }
  try {
    // The table opens only when its layout is that of the stream, so it takes it first.
    dataset::MemoryReader reader(bytes);
    const dataset::MemoryTableHeader header = dataset::ReadMemoryTableHeader(reader, "fuzz");
    BytesTable table(bytes);
    table.SetFieldLayout(header.layout);
    table.Open();
    for (table.First(); !table.Eof(); table.Next()) {
      for (int i = 0; i < table.FieldCount(); ++i) table.Field(i).AsString();
    }
  } catch (const std::exception&) {
  }
  return 0;
}
