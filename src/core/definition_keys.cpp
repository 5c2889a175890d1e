#include "core/definition_keys.h"

#include "core/ini_file.h"
#include "core/paths.h"
#include "text/ascii.h"

namespace tamaril::core {
namespace {

constexpr std::string_view kTrustSection = "TRUST";
constexpr std::string_view kSealSection = "SEAL";

std::string ReadKey(std::string_view section, std::string_view signature) {
  const std::string_view key = text::TrimBlanks(signature);
  if (key.empty()) return {};
  const TQVMIniFile file(DefinitionKeysFilePath());
  return std::string(text::TrimBlanks(file.ReadString(section, key, "")));
}

void WriteKey(std::string_view section, std::string_view signature, std::string_view key_text) {
  const std::string_view key = text::TrimBlanks(signature);
  if (key.empty()) return;
  const std::string value(text::TrimBlanks(key_text));
  TQVMIniFile file(DefinitionKeysFilePath());
  if (value.empty()) {
    if (!file.ValueExists(section, key)) return;
    file.DeleteKey(section, key);
  } else {
    if (file.ReadString(section, key, "") == value) return;
    file.WriteString(section, key, value);
  }
  file.UpdateFile();
}

}  // namespace

std::string DefinitionKeysFilePath() {
  return IncludeTrailingDelimiter(ProgramFolder()) + std::string(kDefinitionKeysFile);
}

std::string TrustedKey(std::string_view signature) { return ReadKey(kTrustSection, signature); }

void SetTrustedKey(std::string_view signature, std::string_view key_text) {
  WriteKey(kTrustSection, signature, key_text);
}

std::string SealKey(std::string_view signature) { return ReadKey(kSealSection, signature); }

void SetSealKey(std::string_view signature, std::string_view key_text) {
  WriteKey(kSealSection, signature, key_text);
}

}  // namespace tamaril::core
