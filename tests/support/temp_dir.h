#pragma once

#include <string>
#include <string_view>

namespace tamaril::testing {

/// A fresh folder under /tmp, removed with everything in it when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const noexcept { return path_; }
  /// The path of a name inside the folder.
  std::string File(std::string_view name) const;

 private:
  std::string path_;
};

/// The whole content of a file ("" when it cannot be read).
std::string ReadWholeFile(const std::string& path);
/// Writes a file, replacing it; throws std::runtime_error on failure.
void WriteWholeFile(const std::string& path, std::string_view content);

}  // namespace tamaril::testing
