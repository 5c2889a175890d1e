#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <string>
#include <vector>

class QLineEdit;
class QListWidget;
class QPushButton;
class QTextBrowser;

namespace tamaril::ui {

/// The help context of the contents page.
inline constexpr int kHelpContents = 0;

/// The folder of the help pages: "help" in the shared help path when it is set, else beside
/// the executable.
std::string HelpFolder();

/// The page of a help context: the contents for kHelpContents, else the operation's anchor.
QUrl HelpUrl(int context);

/// One page of the help: its file name in the help folder, its HTML text (UTF-8) and its title.
struct tHelpPage {
  std::string FileName;
  std::string Html;
  std::string Title;
};

/// The help pages, in contents order: "index.html" with the contents, the pages about the
/// windows, the setup and the command-line program, and "functions.html", made from the built-in
/// operations, with one anchor ("c" and the number) per help context.
std::vector<tHelpPage> HelpPages();

/// The page about `window`, as "FILE.html" or "FILE.html#SECTION": found by the window's class,
/// else by the classes it derives from; the contents for a window the help does not describe.
QString HelpPageOf(const QWidget* window);

/// The program's own help browser: the contents and a search on the left, the page on the right.
/// The pages come from HelpPages(), so the help needs no files.
class THelpBrowser : public QDialog {
  Q_OBJECT

 public:
  explicit THelpBrowser(QWidget* parent = nullptr);
  /// Shows `page` ("FILE.html" or "FILE.html#SECTION"); an unknown page shows the contents.
  void ShowPage(const QString& page);
  /// The page shown, as ShowPage takes it (the section only while it was asked for).
  QString CurrentPage() const;
  /// The file names of the pages that hold every word of `words`, letter case and accents
  /// ignored, in contents order; lists their titles under the search field.
  QStringList Search(const QString& words);

  QListWidget* lstContents;
  QLineEdit* edSearch;
  QListWidget* lstFound;
  QTextBrowser* Viewer;
  QPushButton* btnBack;
  QPushButton* btnForward;
  QPushButton* btnClose;
};

/// Opens the help browser of the window of `from` at `page` and brings it to the front; each
/// window has one, which stays usable while that window is modal. Returns it.
THelpBrowser* OpenHelp(QWidget* from, const QString& page);
/// Makes F1 open the page about the window that has the focus, in every window of the program
/// (HelpPageOf). The first call installs it; later calls do nothing.
void InstallHelpKey();

/// Opens the help page of `context` (kHelpContents: the contents; else a rule operation's
/// description) in the help browser over the active window.
void ShowHelp(int context);

/// Writes HelpPages() into `folder`, each file replaced whole; throws AppError when one cannot be written.
void WriteHelpPages(const std::string& folder);

}  // namespace tamaril::ui
