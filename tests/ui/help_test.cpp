// The help pages, the addresses the program opens, and the help browser that F1 and the help
// buttons open over each window.

#include <QApplication>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTextBrowser>

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <regex>
#include <set>
#include <string>

#include "core/login.h"
#include "core/maindata.h"
#include "core/paths.h"
#include "dbstruct/structure_cache.h"
#include "expr/builtins.h"
#include "support/temp_dir.h"
#include "ui/connection_editor.h"
#include "ui/def_edit_dialog.h"
#include "ui/help.h"
#include "ui/main_window.h"
#include "ui/options_dialog.h"

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

// Every link of every page leads to a page there is, and to a section that page has.
TEST(HelpPages, EveryLinkLeadsToAPageAndSectionThereIs) {
  std::map<std::string, std::set<std::string>> anchors;
  for (const tHelpPage& page : HelpPages()) {
    anchors[page.FileName] = Found(page.Html, std::regex("name=\"([^\"]+)\""));
    EXPECT_FALSE(page.Title.empty()) << page.FileName;
    EXPECT_NE(page.Html.find("<meta charset=\"utf-8\">"), std::string::npos) << page.FileName;
  }
  EXPECT_GE(anchors.size(), 10U);
  for (const tHelpPage& page : HelpPages()) {
    for (const std::string& link : Found(page.Html, std::regex("href=\"([^\"]+)\""))) {
      const std::string file = link.substr(0, link.find('#'));
      ASSERT_TRUE(anchors.count(file) == 1) << page.FileName << " links to " << link;
      if (link.find('#') != std::string::npos) {
        EXPECT_TRUE(anchors[file].count(link.substr(link.find('#') + 1)) == 1)
            << page.FileName << ": " << link;
      }
    }
  }
}

class tNoLogin : public core::LoginPrompt {
 public:
  bool ShowLoginDialog(core::tLoginObject&, std::string_view) override { return false; }
};

// The help browser a window has open, or null.
THelpBrowser* BrowserOf(QWidget& window) {
  return window.findChild<THelpBrowser*>(QString(), Qt::FindDirectChildrenOnly);
}

class HelpBrowserTest : public ::testing::Test {
 protected:
  void SetUp() override {
    core::SetProgramFolder(home_.path());
    InstallHelpKey();
  }
  void TearDown() override { core::SetProgramFolder(""); }

  // The section the browser shows exists in its page: the viewer knows the anchor.
  static bool ShowsSection(THelpBrowser& browser, const QString& page) {
    const QString section = page.section(QLatin1Char('#'), 1);
    return browser.CurrentPage() == page &&
           (section.isEmpty() ||
            browser.Viewer->toHtml().contains(QStringLiteral("name=\"%1\"").arg(section)));
  }

  tamaril::testing::TempDir home_;
  tNoLogin prompt_;
};

TEST_F(HelpBrowserTest, F1InTheMainWindowOpensItsPageInsideTheProgram) {
  core::TMaindata data(prompt_);
  dbstruct::tDBStructureCache cache;
  TfrmMain window(data, cache);
  window.show();
  QTest::keyClick(&window, Qt::Key_F1);
  THelpBrowser* browser = BrowserOf(window);
  ASSERT_NE(browser, nullptr) << "F1 opened no help";
  EXPECT_TRUE(browser->isVisible());
  EXPECT_EQ(browser->CurrentPage(), QStringLiteral("main_window.html"));
  EXPECT_TRUE(browser->Viewer->toPlainText().contains(QStringLiteral("Definice importů")));
  EXPECT_FALSE(browser->btnBack->isEnabled()) << "a fresh browser has nothing to go back to";

  // The contents action reuses the same browser.
  window.act_HelpContent->trigger();
  EXPECT_EQ(window.findChildren<THelpBrowser*>().size(), 1);
  EXPECT_EQ(browser->CurrentPage(), QStringLiteral("index.html"));
  EXPECT_FALSE(window.act_HelpContent->icon().isNull());
}

// F1 in a field of a dialog, and each dialog's "Nápověda" button, open the page about that
// dialog at its section; the browser is the dialog's own, so it works while the dialog is modal.
TEST_F(HelpBrowserTest, F1AndTheHelpButtonsOpenTheDialogsOwnSection) {
  core::TMaindata data(prompt_);
  data.ImportDefTbl.Append();
  TfrmDefImport definition(data);
  definition.show();
  QTest::keyClick(definition.edSignature, Qt::Key_F1);
  ASSERT_NE(BrowserOf(definition), nullptr);
  EXPECT_TRUE(ShowsSection(*BrowserOf(definition), QStringLiteral("definitions.html")));
  data.ImportDefTbl.Cancel();

  TfrmConnectionEditor editor;
  editor.show();
  QTest::keyClick(editor.edServer, Qt::Key_F1);
  ASSERT_NE(BrowserOf(editor), nullptr);
  EXPECT_TRUE(ShowsSection(*BrowserOf(editor), QStringLiteral("definitions.html#connection")));

  TfrmOptions options;
  options.show();
  auto* buttons = options.findChild<QDialogButtonBox*>();
  ASSERT_NE(buttons, nullptr);
  QPushButton* help = nullptr;
  for (QAbstractButton* button : buttons->buttons()) {
    if (buttons->buttonRole(button) == QDialogButtonBox::HelpRole) help = qobject_cast<QPushButton*>(button);
  }
  ASSERT_NE(help, nullptr);
  EXPECT_EQ(help->text(), QStringLiteral("Nápověda"));
  help->click();
  ASSERT_NE(BrowserOf(options), nullptr);
  EXPECT_TRUE(ShowsSection(*BrowserOf(options), QStringLiteral("settings.html")));
  EXPECT_TRUE(
      BrowserOf(options)->Viewer->toPlainText().contains(QStringLiteral("Složka zpracovaných archivů")));

  // F1 inside the browser itself opens no second one.
  QTest::keyClick(BrowserOf(options)->edSearch, Qt::Key_F1);
  EXPECT_TRUE(BrowserOf(options)->findChildren<THelpBrowser*>().isEmpty());
}

TEST_F(HelpBrowserTest, ARuleFunctionsHelpOpensItsEntryAndLinksStayInside) {
  QWidget owner;
  THelpBrowser* browser = OpenHelp(&owner, QStringLiteral("functions.html#c11012"));
  EXPECT_TRUE(ShowsSection(*browser, QStringLiteral("functions.html#c11012")));
  browser->ShowPage(QStringLiteral("no_such_page.html"));
  EXPECT_EQ(browser->CurrentPage(), QStringLiteral("index.html"));
  browser->Viewer->setSource(QUrl(QStringLiteral("runs.html#import")));
  EXPECT_TRUE(browser->Viewer->toPlainText().contains(QStringLiteral("složky pro import")));
  browser->btnBack->click();
  EXPECT_EQ(browser->CurrentPage(), QStringLiteral("index.html"));
}

// The expression builder's help of a function: the browser opens over the modal window.
TEST_F(HelpBrowserTest, AHelpContextOpensOverTheModalWindow) {
  QDialog builder;
  builder.open();
  ShowHelp(11012);
  ASSERT_NE(BrowserOf(builder), nullptr);
  EXPECT_TRUE(ShowsSection(*BrowserOf(builder), QStringLiteral("functions.html#c11012")));
  builder.reject();
}

TEST_F(HelpBrowserTest, SearchIgnoresCaseAndAccentsAndNeedsEveryWord) {
  THelpBrowser browser;
  EXPECT_EQ(browser.Search(QStringLiteral("DONEFLDR")), QStringList{QStringLiteral("settings.html")});
  const QStringList accents = browser.Search(QStringLiteral("oprava pole zaznamu"));
  EXPECT_TRUE(accents.contains(QStringLiteral("rules.html"))) << accents.join(QLatin1Char(',')).toStdString();
  EXPECT_EQ(browser.lstFound->count(), accents.size());
  EXPECT_TRUE(browser.Search(QStringLiteral("DONEFLDR xyzzy")).isEmpty());
  EXPECT_EQ(browser.lstFound->count(), 1) << "one line that says nothing was found";
  EXPECT_TRUE(browser.Search(QStringLiteral("návratové kódy")).contains(QStringLiteral("cli.html")));
}

}  // namespace
}  // namespace tamaril::ui
