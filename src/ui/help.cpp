#include "ui/help.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSplitter>
#include <QTextBrowser>
#include <QTextDocument>
#include <QVBoxLayout>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>

#include "core/common_info.h"
#include "core/errors.h"
#include "core/paths.h"
#include "expr/builder_catalog.h"
#include "expr/builtins.h"
#include "text/encoding.h"
#include "ui/help_pages.h"
#include "ui/qt_child.h"

namespace tamaril::ui {
namespace {

constexpr const char* kContentsPage = "index.html";
constexpr const char* kFunctionsPage = "functions.html";

// Windows-1250 text as HTML-escaped UTF-8.
std::string Html(std::string_view ansi) {
  std::string escaped;
  for (const char c : text::AnsiToUtf8(ansi)) {
    switch (c) {
      case '&': escaped += "&amp;"; break;
      case '<': escaped += "&lt;"; break;
      case '>': escaped += "&gt;"; break;
      case '"': escaped += "&quot;"; break;
      default: escaped += c;
    }
  }
  return escaped;
}

std::string PageHead(const std::string& title) {
  return "<!DOCTYPE html>\n<html lang=\"cs\">\n<head>\n<meta charset=\"utf-8\">\n<title>" + title +
         "</title>\n<style>body{font-family:sans-serif;max-width:50em;margin:1em auto}"
         "code{background:#f4f4f4;padding:0 .2em}h2{border-bottom:1px solid #ccc}</style>\n</head>\n<body>\n";
}

std::string Anchor(std::uint32_t context) { return "c" + std::to_string(context); }

// The built-ins by help context, each context with its definitions in list order.
std::map<std::uint32_t, std::vector<const expr::OperationDef*>> ByContext() {
  std::map<std::uint32_t, std::vector<const expr::OperationDef*>> contexts;
  for (const expr::BuilderCategory& category : expr::BuilderCatalog(expr::BuiltinOperations())) {
    for (const expr::BuilderEntry& entry : category.entries) {
      for (const expr::OperationDef* def : entry.overloads) {
        if (def->help_context != 0) contexts[def->help_context].push_back(def);
      }
    }
  }
  return contexts;
}

constexpr const char* kContentsTitle = "Tamaril - nápověda";
constexpr const char* kFunctionsTitle = "Funkce a operátory pravidel";

std::string ContentsPage() {
  std::string html = PageHead(kContentsTitle);
  html +=
      "<h1>Tamaril MS SQL</h1>\n<p>Program replikuje databáze mezi místy, která nejsou trvale spojena: "
      "klient exportuje vybrané záznamy do přenosového souboru, centrum je importuje podle pravidel "
      "jednotlivých tabulek. V každém okně otevře klávesa F1 nápovědu k tomuto "
      "oknu.</p>\n<h2>Obsah</h2>\n<ul>\n";
  for (const tWrittenHelpPage& page : WrittenHelpPages())
    html += "<li><a href=\"" + std::string(page.file_name) + "\">" + page.title + "</a></li>\n";
  html += "<li><a href=\"" + std::string(kFunctionsPage) + "\">" + kFunctionsTitle + "</a></li>\n</ul>\n";
  html += "<h2>" + std::string(kFunctionsTitle) + "</h2>\n";
  for (const expr::BuilderCategory& category : expr::BuilderCatalog(expr::BuiltinOperations())) {
    std::string items;
    std::set<std::uint32_t> listed;
    for (const expr::BuilderEntry& entry : category.entries) {
      const std::uint32_t context = entry.Bound().help_context;
      if (context == 0 || !listed.insert(context).second) continue;
      items += "<li><a href=\"" + std::string(kFunctionsPage) + "#" + Anchor(context) + "\"><code>" +
               Html(entry.text) + "</code></a></li>\n";
    }
    if (!items.empty()) html += "<h3>" + Html(category.title) + "</h3>\n<ul>\n" + items + "</ul>\n";
  }
  return html + "</body>\n</html>\n";
}

std::string FunctionsPage() {
  std::string html = PageHead(std::string("Tamaril - ") + kFunctionsTitle);
  html += "<h1>" + std::string(kFunctionsTitle) + "</h1>\n<p><a href=\"" + std::string(kContentsPage) +
          "\">Obsah</a></p>\n";
  for (const auto& [context, defs] : ByContext()) {
    std::set<std::string_view> names;
    std::string title;
    for (const expr::OperationDef* def : defs) {
      if (names.insert(def->name).second) title += (title.empty() ? "" : ", ") + Html(def->name);
    }
    html += "<h2 id=\"" + Anchor(context) + "\"><a name=\"" + Anchor(context) + "\">" + title + "</a></h2>\n";
    std::set<std::string> descriptions;
    for (const expr::OperationDef* def : defs) {
      const std::string description = expr::OperationDescription(*def);
      if (!description.empty() && descriptions.insert(description).second)
        html += "<p>" + Html(description) + "</p>\n";
    }
    html += "<ul>\n";
    std::set<std::string> usages;
    for (const expr::OperationDef* def : defs) {
      const std::string usage = expr::UsageText(*def);
      if (usages.insert(usage).second) html += "<li><code>" + Html(usage) + "</code></li>\n";
    }
    html += "</ul>\n<p>Skupina: " + Html(defs.front()->category) + ", kontext nápovědy " +
            std::to_string(context) + "</p>\n";
  }
  return html + "</body>\n</html>\n";
}

std::string WrittenPage(const tWrittenHelpPage& page) {
  return PageHead(std::string("Tamaril - ") + page.title) + "<p><a href=\"" + kContentsPage +
         "\">Obsah</a></p>\n" + page.body + "</body>\n</html>\n";
}

// The help pages by file name, made once.
const std::map<QString, tHelpPage>& PagesByName() {
  static const std::map<QString, tHelpPage> pages = [] {
    std::map<QString, tHelpPage> made;
    for (tHelpPage& page : HelpPages()) made.emplace(QString::fromStdString(page.FileName), std::move(page));
    return made;
  }();
  return pages;
}

// The page about each window class, most derived classes first where it matters.
const std::map<QString, QString>& PagesByClass() {
  static const std::map<QString, QString> pages = {
      {QStringLiteral("tamaril::ui::TfrmMain"), QStringLiteral("main_window.html")},
      {QStringLiteral("tamaril::ui::TfrmDefEdit"), QStringLiteral("definitions.html")},
      {QStringLiteral("tamaril::ui::TfrmConnectionEditor"), QStringLiteral("definitions.html#connection")},
      {QStringLiteral("tamaril::ui::TfrmLogin"), QStringLiteral("definitions.html#login")},
      {QStringLiteral("tamaril::ui::TfrmOptions"), QStringLiteral("settings.html")},
      {QStringLiteral("tamaril::ui::TfrmExport"), QStringLiteral("runs.html#export")},
      {QStringLiteral("tamaril::ui::TfrmImport"), QStringLiteral("runs.html#import")},
      {QStringLiteral("tamaril::ui::TbaseDBProgress"), QStringLiteral("runs.html#analysis")},
      {QStringLiteral("tamaril::ui::TFormErrors"), QStringLiteral("conflicts.html")},
      {QStringLiteral("tamaril::ui::TfrmProblemRecords"), QStringLiteral("conflicts.html")},
      {QStringLiteral("tamaril::ui::Tfrm_DBEXPORT"), QStringLiteral("rules.html#export")},
      {QStringLiteral("tamaril::ui::Tfrm_DBIMPORT"), QStringLiteral("rules.html#import")},
      {QStringLiteral("tamaril::ui::tRulesWindow"), QStringLiteral("rules.html")},
      {QStringLiteral("tamaril::ui::TExpressionBuildDlg"), QStringLiteral("rules.html#builder")},
  };
  return pages;
}

// Text for the search: lower case, accents dropped ("Přidání" finds "pridani" and the reverse).
QString Folded(const QString& text) {
  QString folded;
  for (const QChar c : text.toLower().normalized(QString::NormalizationForm_D)) {
    if (c.category() != QChar::Mark_NonSpacing) folded += c;
  }
  return folded;
}

// The plain text of every page, folded for the search.
const std::map<QString, QString>& SearchTexts() {
  static const std::map<QString, QString> texts = [] {
    std::map<QString, QString> made;
    for (const auto& [name, page] : PagesByName()) {
      QTextDocument document;
      document.setHtml(QString::fromStdString(page.Html));
      made.emplace(name, Folded(document.toPlainText()));
    }
    return made;
  }();
  return texts;
}

// The viewer takes its pages from memory, whatever link or address leads to them.
class tHelpViewer : public QTextBrowser {
 public:
  using QTextBrowser::QTextBrowser;

  QVariant loadResource(int type, const QUrl& name) override {
    if (type == QTextDocument::HtmlResource) {
      const auto& pages = PagesByName();
      const auto page = pages.find(name.fileName());
      if (page != pages.end()) return QString::fromStdString(page->second.Html);
      return QString::fromStdString(pages.at(QString::fromLatin1(kContentsPage)).Html);
    }
    return QTextBrowser::loadResource(type, name);
  }
};

// F1 anywhere: the page about the window of the widget that has the key.
class tHelpKeyFilter : public QObject {
 public:
  using QObject::QObject;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() != QEvent::KeyPress) return false;
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() != Qt::Key_F1 || key->modifiers() != Qt::NoModifier) return false;
    auto* widget = qobject_cast<QWidget*>(watched);
    if (widget == nullptr) return false;
    QWidget* window = widget->window();
    if (qobject_cast<THelpBrowser*>(window) != nullptr) return false;
    OpenHelp(window, HelpPageOf(window));
    return true;
  }
};

}  // namespace

std::string HelpFolder() {
  if (!core::CommonHelpPath.empty()) {
    return core::IncludeTrailingDelimiter(text::AnsiToUtf8(core::CommonHelpPath)) + "help";
  }
  const std::filesystem::path executable(core::ExecutablePath());
  return (executable.parent_path() / "help").string();
}

QUrl HelpUrl(int context) {
  const std::string folder = core::IncludeTrailingDelimiter(HelpFolder());
  if (context == kHelpContents) return QUrl::fromLocalFile(QString::fromStdString(folder + kContentsPage));
  QUrl url = QUrl::fromLocalFile(QString::fromStdString(folder + kFunctionsPage));
  url.setFragment(QString::fromStdString(Anchor(static_cast<std::uint32_t>(context))));
  return url;
}

std::vector<tHelpPage> HelpPages() {
  std::vector<tHelpPage> pages{{kContentsPage, ContentsPage(), kContentsTitle}};
  for (const tWrittenHelpPage& page : WrittenHelpPages())
    pages.push_back({page.file_name, WrittenPage(page), page.title});
  pages.push_back({kFunctionsPage, FunctionsPage(), kFunctionsTitle});
  return pages;
}

QString HelpPageOf(const QWidget* window) {
  for (const QMetaObject* meta = window != nullptr ? window->metaObject() : nullptr; meta != nullptr;
       meta = meta->superClass()) {
    const auto page = PagesByClass().find(QString::fromLatin1(meta->className()));
    if (page != PagesByClass().end()) return page->second;
  }
  return QString::fromLatin1(kContentsPage);
}

THelpBrowser::THelpBrowser(QWidget* parent)
    : QDialog(parent),
      lstContents(MakeChild<QListWidget>(this)),
      edSearch(MakeChild<QLineEdit>(this)),
      lstFound(MakeChild<QListWidget>(this)),
      Viewer(MakeChild<tHelpViewer>(this)),
      btnBack(MakeChild<QPushButton>(QStringLiteral("Zpět"), this)),
      btnForward(MakeChild<QPushButton>(QStringLiteral("Vpřed"), this)),
      btnClose(MakeChild<QPushButton>(QStringLiteral("Zavřít"), this)) {
  setWindowTitle(QStringLiteral("Nápověda - Tamaril"));
  setModal(false);
  setWindowFlag(Qt::WindowMaximizeButtonHint);
  for (const tHelpPage& page : HelpPages()) {
    auto* item = MakeChild<QListWidgetItem>(QString::fromStdString(page.Title), lstContents);
    item->setData(Qt::UserRole, QString::fromStdString(page.FileName));
  }
  edSearch->setPlaceholderText(QStringLiteral("Hledat slova…"));
  edSearch->setClearButtonEnabled(true);
  Viewer->setOpenExternalLinks(false);

  auto* side = MakeChild<QWidget>(this);
  auto* side_layout = MakeChild<QVBoxLayout>(side);
  side_layout->setContentsMargins(0, 0, 0, 0);
  auto* contents_label = MakeChild<QLabel>(QStringLiteral("&Obsah"), side);
  contents_label->setBuddy(lstContents);
  auto* search_label = MakeChild<QLabel>(QStringLiteral("&Hledat"), side);
  search_label->setBuddy(edSearch);
  side_layout->addWidget(contents_label);
  side_layout->addWidget(lstContents, 2);
  side_layout->addWidget(search_label);
  side_layout->addWidget(edSearch);
  side_layout->addWidget(lstFound, 1);

  auto* splitter = MakeChild<QSplitter>(this);
  splitter->addWidget(side);
  splitter->addWidget(Viewer);
  splitter->setStretchFactor(1, 1);
  splitter->setSizes({230, 620});

  auto* buttons = MakeChild<QHBoxLayout>();
  buttons->addWidget(btnBack);
  buttons->addWidget(btnForward);
  buttons->addStretch(1);
  buttons->addWidget(btnClose);
  auto* layout = MakeChild<QVBoxLayout>(this);
  layout->addWidget(splitter, 1);
  layout->addLayout(buttons);
  resize(880, 600);

  btnBack->setEnabled(false);
  btnForward->setEnabled(false);
  connect(Viewer, &QTextBrowser::backwardAvailable, btnBack, &QWidget::setEnabled);
  connect(Viewer, &QTextBrowser::forwardAvailable, btnForward, &QWidget::setEnabled);
  connect(btnBack, &QPushButton::clicked, Viewer, &QTextBrowser::backward);
  connect(btnForward, &QPushButton::clicked, Viewer, &QTextBrowser::forward);
  connect(btnClose, &QPushButton::clicked, this, &QDialog::close);
  connect(lstContents, &QListWidget::itemActivated, this,
          [this](QListWidgetItem* item) { ShowPage(item->data(Qt::UserRole).toString()); });
  connect(lstContents, &QListWidget::itemClicked, this,
          [this](QListWidgetItem* item) { ShowPage(item->data(Qt::UserRole).toString()); });
  connect(edSearch, &QLineEdit::returnPressed, this, [this] { Search(edSearch->text()); });
  const auto open_found = [this](QListWidgetItem* item) {
    ShowPage(item->data(Qt::UserRole).toString());
    const QStringList words = edSearch->text().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (!words.isEmpty()) Viewer->find(words.constFirst());
  };
  connect(lstFound, &QListWidget::itemActivated, this, open_found);
  connect(lstFound, &QListWidget::itemClicked, this, open_found);
  ShowPage(QString::fromLatin1(kContentsPage));
}

void THelpBrowser::ShowPage(const QString& page) {
  const QUrl url(page);
  QString name = url.fileName();
  if (PagesByName().count(name) == 0) name = QString::fromLatin1(kContentsPage);
  QUrl target(name);
  if (url.hasFragment()) target.setFragment(url.fragment());
  Viewer->setSource(target, QTextDocument::HtmlResource);
  for (int row = 0; row < lstContents->count(); ++row) {
    if (lstContents->item(row)->data(Qt::UserRole).toString() == name) lstContents->setCurrentRow(row);
  }
}

QString THelpBrowser::CurrentPage() const { return Viewer->source().toString(); }

QStringList THelpBrowser::Search(const QString& words) {
  const QStringList wanted = Folded(words).split(QLatin1Char(' '), Qt::SkipEmptyParts);
  QStringList found;
  lstFound->clear();
  if (wanted.isEmpty()) return found;
  for (const tHelpPage& page : HelpPages()) {
    const QString name = QString::fromStdString(page.FileName);
    const QString& text = SearchTexts().at(name);
    bool all = true;
    for (const QString& word : wanted) all = all && text.contains(word);
    if (!all) continue;
    found.push_back(name);
    auto* item = MakeChild<QListWidgetItem>(QString::fromStdString(page.Title), lstFound);
    item->setData(Qt::UserRole, name);
  }
  if (found.isEmpty()) {
    auto* none = MakeChild<QListWidgetItem>(QStringLiteral("Nic nenalezeno"), lstFound);
    none->setFlags(Qt::NoItemFlags);
  }
  return found;
}

THelpBrowser* OpenHelp(QWidget* from, const QString& page) {
  QWidget* window = from != nullptr ? from->window() : nullptr;
  THelpBrowser* browser =
      window != nullptr ? window->findChild<THelpBrowser*>(QString(), Qt::FindDirectChildrenOnly) : nullptr;
  const bool created = browser == nullptr;
  if (created) {
    browser = MakeChild<THelpBrowser>(window);
    // Without a window to belong to, the browser goes when it is closed.
    if (window == nullptr) browser->setAttribute(Qt::WA_DeleteOnClose);
  }
  browser->ShowPage(page);
  if (created) browser->Viewer->clearHistory();  // "Zpět" leads nowhere before the first page
  browser->show();
  browser->raise();
  browser->activateWindow();
  return browser;
}

void InstallHelpKey() {
  static bool installed = false;
  if (installed || QCoreApplication::instance() == nullptr) return;
  // The application owns the filter.
  QCoreApplication::instance()->installEventFilter(MakeChild<tHelpKeyFilter>(QCoreApplication::instance()));
  installed = true;
}

void ShowHelp(int context) {
  QWidget* over = QApplication::activeModalWidget();
  if (over == nullptr) over = QApplication::activeWindow();
  const QUrl url = HelpUrl(context);
  QString page = url.fileName();
  if (url.hasFragment()) page += QLatin1Char('#') + url.fragment();
  OpenHelp(over, page);
}

void WriteHelpPages(const std::string& folder) {
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  for (const tHelpPage& page : HelpPages()) {
    const std::filesystem::path target = std::filesystem::path(folder) / page.FileName;
    const std::filesystem::path temporary = target.string() + ".tmp";
    {
      std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
      out << page.Html;
      out.close();
      if (!out)
        throw core::AppError(text::Utf8ToAnsi("Soubor nápovědy " + target.string() + " nelze zapsat"));
    }
    std::filesystem::rename(temporary, target, error);
    if (error) throw core::AppError(text::Utf8ToAnsi("Soubor nápovědy " + target.string() + " nelze zapsat"));
  }
}

}  // namespace tamaril::ui
