#include "core/repl_options.h"

#include <cstdlib>

#include "core/ini_file.h"
#include "core/paths.h"
#include "core/private_files.h"
#include "text/encoding.h"

namespace tamaril::core {

namespace {

constexpr const char* kPathsSection = "PATHS";
constexpr const char* kSettingsSection = "SETTINGS";

// The folder that holds the default folders and the log file, as Windows-1250 text ending in
// "/": a program's folder given with "--home" itself, so that every file of a site kept there
// lies under it; otherwise "$HOME/ZRTdata/Tamaril/".
std::string DataFolder() {
  if (ProgramFolderGiven()) return text::Utf8ToAnsi(IncludeTrailingDelimiter(ProgramFolder()));
  const char* home = std::getenv("HOME");
  const std::string base = (home != nullptr && *home != '\0') ? std::string(home) : ProgramFolder();
  return text::Utf8ToAnsi(IncludeTrailingDelimiter(base) + "ZRTdata/Tamaril/");
}

}  // namespace

TReplOptions& ReplOptions() {
  static TReplOptions options{DefaultExportFolder(), DefaultImportFolder(), DefaultLogFilePath(),
                              DefaultDoLog(), DefaultBackupCount()};
  return options;
}

std::string DefaultExportFolder() { return DataFolder() + "EXPORTS"; }

std::string DefaultImportFolder() { return DataFolder() + "IMPORTS"; }

std::string DefaultLogFilePath() { return DataFolder() + "kelmlog.txt"; }

bool DefaultDoLog() { return false; }

int DefaultBackupCount() { return 5; }

std::string ReplOptionsFileName() { return IncludeTrailingDelimiter(ProgramFolder()) + "tamaril.ini"; }

void SetDefaultReplOptions() {
  auto& options = ReplOptions();
  options.ExportFolder = DefaultExportFolder();
  options.ImportFolder = DefaultImportFolder();
  options.LogFilePath = DefaultLogFilePath();
  options.DoLog = DefaultDoLog();
  options.BackupCount = DefaultBackupCount();
  options.DoneFolder.clear();
}

void LoadReplOptions() {
  SetDefaultReplOptions();
  auto& options = ReplOptions();
  const TQVMIniFile ini(ReplOptionsFileName());
  options.ExportFolder = ini.ReadString(kPathsSection, "EXPFLDR", options.ExportFolder);
  options.ImportFolder = ini.ReadString(kPathsSection, "IMPFLDR", options.ImportFolder);
  options.LogFilePath = ini.ReadString(kPathsSection, "LOGFILE", options.LogFilePath);
  options.DoneFolder = ini.ReadString(kPathsSection, "DONEFLDR", options.DoneFolder);
  options.DoLog = ini.ReadBool(kSettingsSection, "DOLOG", false);
  // A negative count, which cannot be meant, keeps the default.
  const int backups = ini.ReadInteger(kSettingsSection, "BAKCOUNT", options.BackupCount);
  if (backups >= 0) options.BackupCount = backups;
}

void SaveReplOptions() {
  const auto& options = ReplOptions();
  TQVMIniFile ini(ReplOptionsFileName());
  ini.WriteString(kPathsSection, "EXPFLDR", options.ExportFolder);
  ini.WriteString(kPathsSection, "IMPFLDR", options.ImportFolder);
  ini.WriteString(kPathsSection, "LOGFILE", options.LogFilePath);
  ini.WriteString(kPathsSection, "DONEFLDR", options.DoneFolder);
  ini.WriteBool(kSettingsSection, "DOLOG", options.DoLog);
  ini.WriteInteger(kSettingsSection, "BAKCOUNT", options.BackupCount);
  if (ini.Modified()) ini.UpdateFile();
}

void InitializeReplOptions() {
  // A folder that cannot be created is not fatal here: the run that needs it reports it.
  CreatePrivateFolders(text::AnsiToUtf8(DefaultExportFolder()));
  CreatePrivateFolders(text::AnsiToUtf8(DefaultImportFolder()));
  LoadReplOptions();
  SaveReplOptions();
}

}  // namespace tamaril::core
