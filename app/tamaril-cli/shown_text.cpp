#include "tamaril-cli/shown_text.h"

#include "dataset/date_codec.h"

namespace tamaril::cli {

std::string ShownRuleText(std::string_view stored) {
  std::string shown;
  for (std::size_t i = 0; i < stored.size(); ++i) {
    const char c = stored[i];
    if (c == '\r' || c == '\n') {
      shown += "\\n";
      if (c == '\r' && i + 1 < stored.size() && stored[i + 1] == '\n') ++i;
    } else {
      shown += c;
    }
  }
  return shown;
}

std::string ShownValue(const dataset::TField& field) {
  if (field.IsNull()) return "-";
  switch (field.DataType()) {
    case dataset::FieldType::Date:
    case dataset::FieldType::Time:
    case dataset::FieldType::DateTime:
      return dataset::IsoDateTimeText(dataset::DateTimeToTimeStamp(field.AsDateTime()));
    case dataset::FieldType::Boolean: return field.AsBoolean() ? "1" : "0";
    default: return field.AsString();
  }
}

}  // namespace tamaril::cli
