#pragma once

#include <QUrl>

#include <string>
#include <vector>

namespace tamaril::ui {

/// The help context of the contents page.
inline constexpr int kHelpContents = 0;

/// The folder of the help pages: "help" in the shared help path when it is set, else beside
/// the executable.
std::string HelpFolder();

/// The page of a help context: the contents for kHelpContents, else the operation's anchor.
QUrl HelpUrl(int context);

/// Opens the help page of `context` (kHelpContents: the contents) in the desktop's browser.
/// Throws AppError when the help pages are missing.
void ShowHelp(int context);

/// One page of the help: its file name in the help folder and its HTML text (UTF-8).
struct tHelpPage {
  std::string FileName;
  std::string Html;
};

/// The help pages, made from the built-in operations: "index.html" with the contents and
/// "functions.html" with one anchor ("c" and the number) per help context.
std::vector<tHelpPage> HelpPages();

/// Writes HelpPages() into `folder`, each file replaced whole; throws AppError when one cannot be written.
void WriteHelpPages(const std::string& folder);

}  // namespace tamaril::ui
