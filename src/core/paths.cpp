#include "core/paths.h"

#include <filesystem>
#include <mutex>

namespace tamaril::core {

namespace {

struct FolderSetting {
  std::mutex mutex;
  std::string folder;
  bool given = false;
};

FolderSetting& Setting() {
  static FolderSetting setting;
  return setting;
}

std::string ExecutableFolder() {
  const std::string executable = ExecutablePath();
  std::error_code error;
  if (executable.empty()) return std::filesystem::current_path(error).string();
  return std::filesystem::path(executable).parent_path().string();
}

}  // namespace

std::string ExecutablePath() {
  std::error_code error;
  const auto executable = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::string() : executable.string();
}

std::string ProgramFolder() {
  auto& setting = Setting();
  std::lock_guard lock(setting.mutex);
  if (setting.folder.empty()) setting.folder = ExecutableFolder();
  return setting.folder;
}

void SetProgramFolder(const std::string& folder) {
  std::string normal;
  if (!folder.empty()) {
    std::error_code error;
    const auto absolute = std::filesystem::absolute(folder, error);
    normal = error ? folder : absolute.lexically_normal().string();
  }
  auto& setting = Setting();
  std::lock_guard lock(setting.mutex);
  setting.folder = std::move(normal);
  setting.given = !setting.folder.empty();
  // "dir/" normalises to "dir/"; keep folders without their trailing separator.
  while (setting.folder.size() > 1 && setting.folder.back() == '/') setting.folder.pop_back();
}

bool ProgramFolderGiven() {
  auto& setting = Setting();
  std::lock_guard lock(setting.mutex);
  return setting.given;
}

// Only "/" ends a folder here: on Linux a backslash or a colon is an ordinary character of a
// file name, so a path ending in one still needs the separator.
std::string IncludeTrailingDelimiter(std::string_view path) {
  std::string result(path);
  if (!result.empty() && result.back() != '/') result += '/';
  return result;
}

}  // namespace tamaril::core
