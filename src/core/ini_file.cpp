#include "core/ini_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>

#include "text/ascii.h"
#include "text/encoding.h"
#include "text/locale.h"

namespace tamaril::core {

namespace {

std::string LowerAscii(std::string_view s) {
  std::string result(s);
  for (char& c : result) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return result;
}

// Section and key names are compared byte-wise after folding the ASCII letters.
bool SameText(std::string_view a, std::string_view b) { return text::EqualsIgnoreCaseAscii(a, b); }

// The name part of a line: the text before the first "=", none for a line without one.
std::optional<std::string_view> NamePart(std::string_view line) {
  const auto eq = line.find('=');
  if (eq == std::string_view::npos) return std::nullopt;
  return line.substr(0, eq);
}

bool IsSectionLine(std::string_view line) {
  return !line.empty() && line.front() == '[' && line.back() == ']';
}

IniFileError SystemError(std::string_view what, const std::string& path, int error) {
  return IniFileError(text::Utf8ToAnsi(std::string(what) + " " + path + ": " + std::strerror(error)));
}

std::optional<int> ParseInteger(std::string_view s) {
  bool negative = false;
  if (!s.empty() && (s.front() == '+' || s.front() == '-')) {
    negative = s.front() == '-';
    s.remove_prefix(1);
  }
  int base = 10;
  if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    base = 16;
    s.remove_prefix(2);
  }
  if (s.empty() || s.front() == '-' || s.front() == '+') return std::nullopt;
  long long value = 0;
  const auto [end, error] = std::from_chars(s.data(), s.data() + s.size(), value, base);
  if (error != std::errc() || end != s.data() + s.size()) return std::nullopt;
  if (negative) value = -value;
  if (value < INT_MIN || value > INT_MAX) return std::nullopt;
  return static_cast<int>(value);
}

// A decimal number with a full stop, optionally signed and with an exponent; nothing else.
std::optional<double> ParseDotFloat(std::string_view s) {
  if (!s.empty() && s.front() == '+') s.remove_prefix(1);
  const std::string_view digits = (!s.empty() && s.front() == '-') ? s.substr(1) : s;
  if (digits.empty() ||
      !(std::isdigit(static_cast<unsigned char>(digits.front())) || digits.front() == '.')) {
    return std::nullopt;
  }
  double value = 0;
  const auto [end, error] = std::from_chars(s.data(), s.data() + s.size(), value, std::chars_format::general);
  if (error != std::errc() || end != s.data() + s.size()) return std::nullopt;
  return value;
}

void CheckText(std::string_view s) {
  if (s.find_first_of("\r\n") != std::string_view::npos) {
    throw IniFileError(text::Utf8ToAnsi("Text v ini souboru nesmí obsahovat konec řádku: ") + std::string(s));
  }
}

}  // namespace

// The in-memory image of one file, shared by every handle on it.
class TUniqueIniFile {
 public:
  struct Section {
    std::string name;
    std::vector<std::string> lines;
  };

  explicit TUniqueIniFile(std::string path) : path_(std::move(path)) { Load(); }

  const std::string& Path() const noexcept { return path_; }
  bool ReadOnly() const noexcept { return read_only_; }
  bool Changed() const noexcept { return changed_; }
  int& UseCount() noexcept { return use_count_; }
  const std::vector<Section>& Sections() const noexcept { return sections_; }

  const Section* Find(std::string_view name) const {
    const auto it = std::find_if(sections_.begin(), sections_.end(),
                                 [&](const Section& s) { return SameText(s.name, name); });
    return it == sections_.end() ? nullptr : &*it;
  }

  // The index of a key's line in a section, if any.
  static std::optional<std::size_t> FindKey(const Section& section, std::string_view key) {
    for (std::size_t i = 0; i < section.lines.size(); ++i) {
      const auto name = NamePart(section.lines[i]);
      if (name && SameText(*name, key)) return i;
    }
    return std::nullopt;
  }

  void SetValue(std::string_view section_name, std::string_view key, std::string_view value) {
    Section* section = Mutable(section_name);
    if (section == nullptr) {
      sections_.push_back({std::string(section_name), {}});
      section = &sections_.back();
    }
    const auto index = FindKey(*section, key);
    if (!index) {
      section->lines.push_back(std::string(key) + "=" + std::string(value));
      changed_ = true;
      return;
    }
    std::string& line = section->lines[*index];
    std::string replaced = line.substr(0, line.find('=') + 1) + std::string(value);
    if (replaced != line) {
      line = std::move(replaced);
      changed_ = true;
    }
  }

  void RemoveKey(std::string_view section_name, std::string_view key) {
    Section* section = Mutable(section_name);
    if (section == nullptr) return;
    if (const auto index = FindKey(*section, key)) {
      section->lines.erase(section->lines.begin() + static_cast<std::ptrdiff_t>(*index));
      changed_ = true;
    }
  }

  void RemoveSection(std::string_view section_name) {
    const auto it = std::find_if(sections_.begin(), sections_.end(),
                                 [&](const Section& s) { return SameText(s.name, section_name); });
    if (it == sections_.end()) return;
    sections_.erase(it);
    changed_ = true;
  }

  // Writes the image unless the file was read-only at load; the changed flag clears only
  // when the file was written (or must never be), so a failed write is tried again later.
  void Update() {
    if (!read_only_) Write();
    changed_ = false;
  }

 private:
  Section* Mutable(std::string_view name) { return const_cast<Section*>(Find(name)); }

  void Load() {
    struct stat info {};
    if (::stat(path_.c_str(), &info) != 0) return;
    mode_ = info.st_mode & 07777;
    // root passes every access() check, so a file without any write bit counts as read-only too.
    read_only_ = ::access(path_.c_str(), W_OK) != 0 || (info.st_mode & 0222) == 0;
    Parse(ReadContent());
  }

  std::string ReadContent() const {
    const int fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw SystemError("Nelze číst soubor", path_, errno);
    std::string content;
    char buffer[65536];
    for (;;) {
      const ssize_t count = ::read(fd, buffer, sizeof buffer);
      if (count == 0) break;
      if (count < 0) {
        if (errno == EINTR) continue;
        const int error = errno;
        ::close(fd);
        throw SystemError("Nelze číst soubor", path_, error);
      }
      content.append(buffer, static_cast<std::size_t>(count));
    }
    ::close(fd);
    return content;
  }

  void Parse(std::string_view content) {
    bool first_break = true;
    Section* current = nullptr;
    while (!content.empty()) {
      const auto newline = content.find('\n');
      std::string_view line = content.substr(0, newline);
      content.remove_prefix(newline == std::string_view::npos ? content.size() : newline + 1);
      if (newline != std::string_view::npos) {
        const bool crlf = !line.empty() && line.back() == '\r';
        if (crlf) line.remove_suffix(1);
        if (first_break) line_break_ = crlf ? "\r\n" : "\n";
        first_break = false;
      }
      if (IsSectionLine(line)) {
        const std::string_view name = line.substr(1, line.size() - 2);
        current = Mutable(name);
        if (current == nullptr) {
          sections_.push_back({std::string(name), {}});
          current = &sections_.back();
        }
      } else if (current == nullptr) {
        header_.emplace_back(line);
      } else if (!line.empty()) {
        current->lines.emplace_back(line);
      }
    }
  }

  std::string Render() const {
    std::string out;
    for (const auto& line : header_) out += line + line_break_;
    for (std::size_t i = 0; i < sections_.size(); ++i) {
      if (i > 0) out += line_break_;
      out += "[" + sections_[i].name + "]" + line_break_;
      for (const auto& line : sections_[i].lines) out += line + line_break_;
    }
    return out;
  }

  // Writes a temporary file beside the target and renames it over, so that the file is
  // always either the old or the new content.
  void Write() const {
    const std::filesystem::path target(path_);
    std::string temp = (target.parent_path() / ("." + target.filename().string() + ".XXXXXX")).string();
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) throw SystemError("Nelze zapsat soubor", path_, errno);
    const std::string content = Render();
    std::size_t written = 0;
    int error = 0;
    while (written < content.size() && error == 0) {
      const ssize_t count = ::write(fd, content.data() + written, content.size() - written);
      if (count >= 0) {
        written += static_cast<std::size_t>(count);
      } else if (errno != EINTR) {
        error = errno;
      }
    }
    if (error == 0 && ::fchmod(fd, mode_ ? *mode_ : NewFileMode()) != 0) error = errno;
    if (error == 0 && ::fsync(fd) != 0) error = errno;
    if (::close(fd) != 0 && error == 0) error = errno;
    if (error == 0 && ::rename(temp.c_str(), path_.c_str()) != 0) error = errno;
    if (error != 0) {
      ::unlink(temp.c_str());
      throw SystemError("Nelze zapsat soubor", path_, error);
    }
  }

  static mode_t NewFileMode() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
  }

  std::string path_;
  std::optional<mode_t> mode_;
  bool read_only_ = false;
  std::string line_break_ = "\n";
  std::vector<std::string> header_;
  std::vector<Section> sections_;
  int use_count_ = 0;
  bool changed_ = false;
};

namespace {

struct ImageRegistry {
  std::mutex mutex;
  std::map<std::string, std::unique_ptr<TUniqueIniFile>> images;
};

ImageRegistry& Registry() {
  static ImageRegistry registry;
  return registry;
}

}  // namespace

TQVMIniFile::TQVMIniFile(const std::string& file_name) {
  if (file_name.empty()) throw IniFileError(text::Utf8ToAnsi("Chybí jméno ini souboru"));
  std::error_code error;
  const auto absolute = std::filesystem::absolute(file_name, error);
  if (error) throw SystemError("Nelze číst soubor", file_name, error.value());
  const std::string path = absolute.lexically_normal().string();
  // The key ignores case as the original platform's file names do; the file itself is
  // read and written at the path of the handle that loaded it.
  const std::string key = LowerAscii(path);
  auto& registry = Registry();
  std::lock_guard lock(registry.mutex);
  auto& image = registry.images[key];
  if (!image) {
    try {
      image = std::make_unique<TUniqueIniFile>(path);
    } catch (...) {
      registry.images.erase(key);
      throw;
    }
  }
  ++image->UseCount();
  image_ = image.get();
}

TQVMIniFile::~TQVMIniFile() {
  auto& registry = Registry();
  std::lock_guard lock(registry.mutex);
  if (--image_->UseCount() > 0) return;
  if (image_->Changed()) {
    try {
      image_->Update();
    } catch (...) {
      // A destructor cannot report; callers that care call UpdateFile first.
    }
  }
  registry.images.erase(LowerAscii(image_->Path()));
}

const std::string& TQVMIniFile::FileName() const noexcept { return image_->Path(); }

bool TQVMIniFile::ReadOnly() const noexcept { return image_->ReadOnly(); }

bool TQVMIniFile::Modified() const noexcept { return image_->Changed(); }

std::string TQVMIniFile::ReadString(std::string_view section, std::string_view key,
                                    std::string_view default_value) const {
  if (const auto* found = image_->Find(section)) {
    if (const auto index = TUniqueIniFile::FindKey(*found, key)) {
      const std::string_view line = found->lines[*index];
      const std::string_view value = text::TrimBlanks(line.substr(line.find('=') + 1));
      if (!value.empty()) return std::string(value);
    }
  }
  return std::string(default_value);
}

void TQVMIniFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
  if (section.empty() && key.empty() && value.empty()) {
    UpdateFile();
    return;
  }
  CheckText(section);
  CheckText(key);
  CheckText(value);
  if (key.empty()) {
    image_->RemoveSection(section);
  } else if (value.empty()) {
    image_->RemoveKey(section, key);
  } else {
    if (key.find('=') != std::string_view::npos || key.front() == '[') {
      throw IniFileError(text::Utf8ToAnsi("Neplatný klíč ini souboru: ") + std::string(key));
    }
    image_->SetValue(section, key, value);
  }
}

std::vector<std::string> TQVMIniFile::ReadSection(std::string_view section) const {
  std::vector<std::string> names;
  if (const auto* found = image_->Find(section)) {
    for (const auto& line : found->lines) {
      if (const auto name = NamePart(line)) names.emplace_back(*name);
    }
  }
  return names;
}

std::vector<std::string> TQVMIniFile::ReadSections() const {
  std::vector<std::string> names;
  for (const auto& section : image_->Sections()) names.push_back(section.name);
  return names;
}

std::vector<std::string> TQVMIniFile::ReadSectionValues(std::string_view section) const {
  const auto* found = image_->Find(section);
  return found ? found->lines : std::vector<std::string>{};
}

bool TQVMIniFile::SectionExists(std::string_view section) const { return image_->Find(section) != nullptr; }

bool TQVMIniFile::ValueExists(std::string_view section, std::string_view key) const {
  const auto* found = image_->Find(section);
  return found && TUniqueIniFile::FindKey(*found, key).has_value();
}

void TQVMIniFile::EraseSection(std::string_view section) { image_->RemoveSection(section); }

void TQVMIniFile::DeleteKey(std::string_view section, std::string_view key) {
  image_->RemoveKey(section, key);
}

void TQVMIniFile::UpdateFile() { image_->Update(); }

int TQVMIniFile::ReadInteger(std::string_view section, std::string_view key, int default_value) const {
  return ParseInteger(ReadString(section, key, "")).value_or(default_value);
}

void TQVMIniFile::WriteInteger(std::string_view section, std::string_view key, int value) {
  WriteString(section, key, std::to_string(value));
}

bool TQVMIniFile::ReadBool(std::string_view section, std::string_view key, bool default_value) const {
  return ReadInteger(section, key, default_value ? 1 : 0) != 0;
}

void TQVMIniFile::WriteBool(std::string_view section, std::string_view key, bool value) {
  WriteString(section, key, value ? "1" : "0");
}

double TQVMIniFile::ReadFloat(std::string_view section, std::string_view key, double default_value) const {
  const std::string value = ReadString(section, key, "");
  if (value.empty()) return default_value;
  if (const auto dotted = ParseDotFloat(value)) return *dotted;
  return text::ParseLocaleFloat(value).value_or(default_value);
}

void TQVMIniFile::WriteFloat(std::string_view section, std::string_view key, double value) {
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  WriteString(section, key, std::string_view(buffer, static_cast<std::size_t>(result.ptr - buffer)));
}

}  // namespace tamaril::core
