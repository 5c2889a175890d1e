#pragma once

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "text/error.h"

namespace tamaril::core {

/// A failure to read or write an ini file, or a name or value the file cannot hold.
class IniFileError : public Error {
 public:
  using Error::Error;
};

class TUniqueIniFile;

/// A handle on the shared in-memory image of one ini file.
///
/// Every handle on the same file (the same absolute path without regard to ASCII case)
/// shares one image, so a value written through one handle is read through every other at
/// once. Sections and keys match without regard to ASCII case; the file keeps the case in
/// which a section or key was first written. The image is written back when UpdateFile is
/// called, and when the last handle goes while the image is changed. A file that was
/// read-only when it was loaded is never written.
///
/// File names are file-system (UTF-8) paths; sections, keys and values are the file's bytes
/// (Windows-1250 text). Not thread-safe beyond the registry of images.
class TQVMIniFile {
 public:
  /// Opens a handle on the image of the file, loading the file when no handle holds it;
  /// throws IniFileError when the name is empty or the existing file cannot be read.
  explicit TQVMIniFile(const std::string& file_name);
  /// Releases the handle; the last one writes a changed image, ignoring write failures.
  ~TQVMIniFile();
  TQVMIniFile(const TQVMIniFile&) = delete;
  TQVMIniFile& operator=(const TQVMIniFile&) = delete;

  /// The file the image reads and writes.
  const std::string& FileName() const noexcept;
  /// True when the file was read-only when loaded, so that it is never written.
  bool ReadOnly() const noexcept;
  /// True when the image changed since it was loaded or last written.
  bool Modified() const noexcept;

  /// The trimmed value of a key, or the default when the section, the key or the value is missing.
  std::string ReadString(std::string_view section, std::string_view key,
                         std::string_view default_value) const;
  /// Sets a key (an empty value removes it; an empty key removes the section; all three
  /// empty write the file as UpdateFile does); throws IniFileError for a line break in
  /// any of them or a "=" in the key, and as UpdateFile does.
  void WriteString(std::string_view section, std::string_view key, std::string_view value);
  /// The key names of a section in file order (lines without "=" have none).
  std::vector<std::string> ReadSection(std::string_view section) const;
  /// The section names in file order.
  std::vector<std::string> ReadSections() const;
  /// The lines of a section as they stand.
  std::vector<std::string> ReadSectionValues(std::string_view section) const;
  /// True when the section exists.
  bool SectionExists(std::string_view section) const;
  /// True when the section has a line for the key.
  bool ValueExists(std::string_view section, std::string_view key) const;
  /// Removes a section with all its lines.
  void EraseSection(std::string_view section);
  /// Removes the line of a key.
  void DeleteKey(std::string_view section, std::string_view key);
  /// Writes the image to the file unless it was read-only at load, and clears the changed
  /// flag; throws IniFileError when the file cannot be written.
  void UpdateFile();

  /// A decimal or "0x" hexadecimal integer; the default when missing or unreadable.
  int ReadInteger(std::string_view section, std::string_view key, int default_value) const;
  /// Writes an integer as decimal text; throws as WriteString does.
  void WriteInteger(std::string_view section, std::string_view key, int value);
  /// Any non-zero integer is true; the default when missing or unreadable.
  bool ReadBool(std::string_view section, std::string_view key, bool default_value) const;
  /// Writes "1" or "0"; throws as WriteString does.
  void WriteBool(std::string_view section, std::string_view key, bool value);
  /// A number with a full stop as decimal separator, else in the locale's form; the default when unreadable.
  double ReadFloat(std::string_view section, std::string_view key, double default_value) const;
  /// Writes a number with a full stop as decimal separator; throws as WriteString does.
  void WriteFloat(std::string_view section, std::string_view key, double value);

 private:
  TUniqueIniFile* image_;
};

}  // namespace tamaril::core
