#include "dataset/memory_table_file.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "dataset/date_codec.h"
#include "dataset/errors.h"
#include "text/encoding.h"

namespace tamaril::dataset {
namespace {

constexpr std::string_view kMagic = "Memtbl";

std::string Hex(std::string_view bytes) {
  std::string result;
  char buffer[4];
  for (const char c : bytes) {
    std::snprintf(buffer, sizeof buffer, "%02x", static_cast<unsigned char>(c));
    if (!result.empty()) result += ' ';
    result += buffer;
  }
  return result;
}

// `unicode`: the text is UTF-8 already, else Windows-1250.
std::string Quoted(std::string_view ansi, bool unicode = false) {
  std::string escaped;
  char buffer[8];
  for (const char c : ansi) {
    if (c == '"' || c == '\\') {
      escaped += '\\';
      escaped += c;
    } else if (static_cast<unsigned char>(c) < 0x20 || c == '\x7f') {
      std::snprintf(buffer, sizeof buffer, "\\x%02x", static_cast<unsigned char>(c));
      escaped += buffer;
    } else {
      escaped += c;
    }
  }
  return '"' + (unicode ? escaped : text::AnsiToUtf8(escaped)) + '"';
}

std::string ShortestDouble(double value) {
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

std::string Scaled4(std::int64_t scaled) {
  const bool negative = scaled < 0;
  const std::uint64_t magnitude =
      negative ? ~static_cast<std::uint64_t>(scaled) + 1 : static_cast<std::uint64_t>(scaled);
  std::string decimals = std::to_string(magnitude % 10000 + 10000).substr(1);
  while (!decimals.empty() && decimals.back() == '0') decimals.pop_back();
  std::string text = negative ? "-" : "";
  text += std::to_string(magnitude / 10000);
  if (!decimals.empty()) {
    text += '.';
    text += decimals;
  }
  return text;
}

std::string Invalid(const std::byte* slot, std::size_t size) {
  return "invalid " + Hex(std::string_view(reinterpret_cast<const char*>(slot), size));
}

std::string FieldText(const TQVMRecord& record, const TFieldDesc& field, bool unicode = false) {
  if (record.IsNull(field.FieldNo)) return "NULL";
  const std::byte* slot = record.Buffer() + field.Offset;
  if (field.Kind == FieldKind::Blob) {
    const std::string* block = blob_slot::Get(slot);
    const std::string_view bytes = block != nullptr ? std::string_view(*block) : std::string_view();
    if (field.DataType == FieldType::Memo || field.DataType == FieldType::FmtMemo)
      return Quoted(bytes, unicode);
    std::string text = std::to_string(bytes.size()) + " bytes:";
    if (!bytes.empty()) {
      text += ' ';
      text += Hex(bytes);
    }
    return text;
  }
  if (field.Kind == FieldKind::String) return Quoted(record.GetValue(field.FieldNo).AsString(), unicode);
  std::int32_t number = 0;
  std::memcpy(&number, slot, std::min<std::size_t>(sizeof number, field.DataSize));
  switch (field.DataType) {
    case FieldType::Boolean: return record.GetValue(field.FieldNo).AsBoolean() ? "true" : "false";
    case FieldType::Float:
    case FieldType::Currency: {
      double value = 0;
      std::memcpy(&value, slot, sizeof value);
      return ShortestDouble(value);
    }
    case FieldType::BCD: try { return Scaled4(record.GetValue(field.FieldNo).AsCurrencyScaled());
      } catch (const DatasetError&) {
        return Invalid(slot, field.DataSize);
      }
    case FieldType::Date: return IsoDateText(number);
    case FieldType::Time:
      if (number < 0 || number >= kMillisecondsPerDay) return Invalid(slot, field.DataSize);
      return IsoTimeText(number);
    case FieldType::DateTime: {
      double value = 0;
      std::memcpy(&value, slot, sizeof value);
      if (!std::isfinite(value) || std::fabs(value) > 9.0e18) return Invalid(slot, field.DataSize);
      const std::int64_t total = std::llround(value);
      std::int64_t day = total / kMillisecondsPerDay;
      std::int64_t ms = total % kMillisecondsPerDay;
      if (ms < 0) {
        ms += kMillisecondsPerDay;
        --day;
      }
      return IsoDateText(day) + 'T' + IsoTimeText(ms);
    }
    default: return std::to_string(record.GetValue(field.FieldNo).AsInteger());
  }
}

}  // namespace

MemoryTableHeader ReadMemoryTableHeader(ByteReader& stream, std::string_view table_name) {
  char magic[kMagic.size()];
  std::size_t got = 0;
  while (got < sizeof magic) {
    const std::size_t part = stream.Read(magic + got, sizeof magic - got);
    if (part == 0) break;
    got += part;
  }
  if (std::string_view(magic, got) != kMagic) {
    throw DatasetError("Invalid table stream (table " + std::string(table_name) + ")");
  }
  MemoryTableHeader header;
  header.layout = ReadStreamString(stream);
  header.auto_inc_value = stream.ReadI32();
  header.record_count = stream.ReadI32();
  if (header.record_count < 0) {
    throw DatasetError("Invalid record count " + std::to_string(header.record_count) + " (table " +
                       std::string(table_name) + ")");
  }
  return header;
}

void WriteMemoryTableHeader(ByteWriter& stream, std::string_view layout, std::int32_t auto_inc_value,
                            std::int32_t record_count) {
  stream.WriteBytes(kMagic);
  WriteStreamString(layout, stream);
  stream.WriteI32(auto_inc_value);
  stream.WriteI32(record_count);
}

std::string DumpRecord(const TQVMRecord& record) { return DumpRecord(record, false); }

std::string DumpRecord(const TQVMRecord& record, bool unicode) {
  std::string text;
  for (const TFieldDesc& field : record.Fields()) {
    text += "  " + text::AnsiToUtf8(field.Name) + '=' + FieldText(record, field, unicode) + '\n';
  }
  return text;
}

std::string DumpMemoryTableFile(const std::string& path, std::string* partial) {
  if (partial != nullptr) partial->clear();
  FileReader reader(path);
  return DumpMemoryTable(reader, path, partial);
}

std::string DumpMemoryTable(ByteReader& reader, std::string_view table_name, std::string* partial) {
  std::string local;
  std::string& text = partial != nullptr ? *partial : local;
  text.clear();
  const MemoryTableHeader header = ReadMemoryTableHeader(reader, table_name);
  text += "layout: " + text::AnsiToUtf8(header.layout) + '\n';
  text += "AutoIncValue: " + std::to_string(header.auto_inc_value) + '\n';
  text += "records: " + std::to_string(header.record_count) + '\n';
  TFieldDefs defs;
  ParseFieldLayout(header.layout, &defs, false);
  TFieldDescs descs;
  BuildFieldDescs(defs, descs);
  for (std::int32_t k = 1; k <= header.record_count; ++k) {
    TQVMRecord record(descs);
    text += "record " + std::to_string(k) + '\n';
    try {
      record.ReadFromStream(reader);
    } catch (const DatasetError& error) {
      throw DatasetError("Record " + std::to_string(k) + ": " + error.what());
    }
    text += DumpRecord(record);
  }
  return text;
}

}  // namespace tamaril::dataset
