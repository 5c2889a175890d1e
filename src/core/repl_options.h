#pragma once

#include <string>

namespace tamaril::core {

/// The user's settings. Texts are Windows-1250; the folders and the log file name are
/// converted with text::AnsiToUtf8 where they meet the file system.
struct TReplOptions {
  std::string ExportFolder;  ///< where the export writes its archives
  std::string ImportFolder;  ///< where the import looks for archives
  std::string LogFilePath;   ///< the import's text log file
  bool DoLog = false;        ///< whether the import writes the log file
  /// How many replaced archives ("SIGNATURE-EXPORTNO.ZR2.bak") the export keeps per Signature.
  int BackupCount = 5;
  /// Where the import moves each archive whose merge it committed; empty: the archives stay.
  std::string DoneFolder;
};

/// The one settings record of the program; it holds the defaults until LoadReplOptions.
TReplOptions& ReplOptions();

// The default paths lie in the program's folder when one was given ("--home"), else under
// "$HOME/ZRTdata/Tamaril/" (the executable's folder in place of $HOME when it is unset).

/// "EXPORTS" in the program's folder given, else "$HOME/ZRTdata/Tamaril/EXPORTS".
std::string DefaultExportFolder();
/// "IMPORTS" in the program's folder given, else "$HOME/ZRTdata/Tamaril/IMPORTS".
std::string DefaultImportFolder();
/// "kelmlog.txt" in the program's folder given, else "$HOME/ZRTdata/Tamaril/kelmlog.txt".
std::string DefaultLogFilePath();
/// The log switch's default: off.
bool DefaultDoLog();
/// The replaced archives kept per Signature by default: 5.
int DefaultBackupCount();

/// The ini file of the settings: "tamaril.ini" in the program's folder (a UTF-8 path).
std::string ReplOptionsFileName();

/// Puts the defaults into ReplOptions.
void SetDefaultReplOptions();
/// Sets the defaults, then reads the ini file over them; throws IniFileError when the
/// existing file cannot be read.
void LoadReplOptions();
/// Writes ReplOptions to the ini file when anything changed (an empty text removes its
/// key); throws IniFileError when the file cannot be written. A read-only file is left alone.
void SaveReplOptions();
/// The start-up step: creates the default export and import folders with their parents
/// when missing, then loads and at once saves the settings so that the file holds every
/// key; throws as LoadReplOptions and SaveReplOptions do.
void InitializeReplOptions();

}  // namespace tamaril::core
