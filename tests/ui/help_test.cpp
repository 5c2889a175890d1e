// The help pages made from the built-in operations, and the addresses the program opens.

#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <string>

#include "expr/builtins.h"
#include "support/temp_dir.h"
#include "ui/help.h"

namespace tamaril::ui {
namespace {

std::string Page(const std::string& file_name) {
  for (const tHelpPage& page : HelpPages()) {
    if (page.FileName == file_name) return page.Html;
  }
  return {};
}

std::set<std::string> Found(const std::string& html, const std::regex& pattern) {
  std::set<std::string> found;
  for (auto it = std::sregex_iterator(html.begin(), html.end(), pattern); it != std::sregex_iterator();
       ++it) {
    found.insert((*it)[1].str());
  }
  return found;
}

TEST(HelpPages, EveryBuiltInHasItsAnchorAndEveryContentsLinkLeadsToOne) {
  const std::string functions = Page("functions.html");
  const std::set<std::string> anchors = Found(functions, std::regex("id=\"(c[0-9]+)\""));
  for (const expr::OperationDef* def = expr::BuiltinOperations(); def != nullptr; def = def->next) {
    EXPECT_TRUE(anchors.count("c" + std::to_string(def->help_context)) == 1) << def->name;
  }
  // The contexts run from 11001 to 11037, the comparisons sharing one and the names of months and days
  // another.
  EXPECT_EQ(anchors.size(), 37U);

  const std::set<std::string> links =
      Found(Page("index.html"), std::regex("href=\"functions\\.html#(c[0-9]+)\""));
  EXPECT_EQ(links, anchors);
}

TEST(HelpPages, WriteOperatorsAndCzechTextsAsHtml) {
  const std::string functions = Page("functions.html");
  EXPECT_NE(functions.find("<meta charset=\"utf-8\">"), std::string::npos);
  EXPECT_NE(functions.find("&lt;&gt;"), std::string::npos);  // the operator <>
  EXPECT_EQ(functions.find("<>"), std::string::npos);
  EXPECT_NE(Page("index.html").find("Aritmetické funkce"), std::string::npos);
}

TEST(HelpPages, AreWrittenIntoTheFolderAndOpenedByContext) {
  const tamaril::testing::TempDir work;
  WriteHelpPages(work.File("help"));
  EXPECT_EQ(tamaril::testing::ReadWholeFile(work.File("help/index.html")), Page("index.html"));
  EXPECT_EQ(tamaril::testing::ReadWholeFile(work.File("help/functions.html")), Page("functions.html"));

  EXPECT_TRUE(HelpUrl(kHelpContents).toLocalFile().endsWith(QStringLiteral("/help/index.html")));
  const QUrl round = HelpUrl(11012);
  EXPECT_TRUE(round.toLocalFile().endsWith(QStringLiteral("/help/functions.html")));
  EXPECT_EQ(round.fragment(), QStringLiteral("c11012"));
}

}  // namespace
}  // namespace tamaril::ui
