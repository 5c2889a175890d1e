#include "ui/help.h"

#include <QDesktopServices>

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

std::string ContentsPage() {
  std::string html = PageHead("Tamaril - nápověda");
  html +=
      "<h1>Tamaril MS SQL</h1>\n<p>Program replikuje databáze mezi místy, která nejsou trvale spojena: "
      "klient exportuje vybrané záznamy do přenosového souboru, centrum je importuje podle pravidel "
      "jednotlivých tabulek.</p>\n<h2>Funkce a operátory pravidel</h2>\n";
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
  std::string html = PageHead("Tamaril - funkce a operátory pravidel");
  html += "<h1>Funkce a operátory pravidel</h1>\n<p><a href=\"" + std::string(kContentsPage) +
          "\">Obsah</a></p>\n";
  for (const auto& [context, defs] : ByContext()) {
    std::set<std::string_view> names;
    std::string title;
    for (const expr::OperationDef* def : defs) {
      if (names.insert(def->name).second) title += (title.empty() ? "" : ", ") + Html(def->name);
    }
    html += "<h2 id=\"" + Anchor(context) + "\">" + title + "</h2>\n";
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

void ShowHelp(int context) {
  const QUrl url = HelpUrl(context);
  std::error_code error;
  if (!std::filesystem::is_regular_file(url.toLocalFile().toStdString(), error)) {
    throw core::AppError(
        text::Utf8ToAnsi("Soubor nápovědy " + url.toLocalFile().toStdString() + " nebyl nalezen"));
  }
  QDesktopServices::openUrl(url);
}

std::vector<tHelpPage> HelpPages() {
  return {{kContentsPage, ContentsPage()}, {kFunctionsPage, FunctionsPage()}};
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
