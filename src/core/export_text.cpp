#include "core/export_text.h"

#include "core/ini_file.h"
#include "core/paths.h"
#include "text/ascii.h"

namespace tamaril::core {
namespace {

constexpr std::string_view kSection = "UNICODE";

}  // namespace

std::string ExportTextFilePath() {
  return IncludeTrailingDelimiter(ProgramFolder()) + std::string(kExportTextFile);
}

bool ExportTextUnicode(std::string_view signature) {
  const std::string_view key = text::TrimBlanks(signature);
  if (key.empty()) return false;
  const TQVMIniFile file(ExportTextFilePath());
  return file.ReadBool(kSection, key, false);
}

void SetExportTextUnicode(std::string_view signature, bool unicode) {
  const std::string_view key = text::TrimBlanks(signature);
  if (key.empty()) return;
  TQVMIniFile file(ExportTextFilePath());
  if (unicode) {
    if (file.ReadBool(kSection, key, false)) return;
    file.WriteBool(kSection, key, true);
  } else {
    if (!file.ValueExists(kSection, key)) return;
    file.DeleteKey(kSection, key);
  }
  file.UpdateFile();
}

}  // namespace tamaril::core
