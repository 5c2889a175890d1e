// The desktop on a Czech system: Qt speaks Czech, and the program's numbers stay its own.

#include "ui/qt_translations.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <string>

#include "expr/number_format.h"
#include "support/temp_dir.h"

namespace tamaril::ui {
namespace {

// The application object takes the system's locale into the C library; on a Czech system printf
// then writes "1234,50", and the program's number texts (rule results, values written to SQL)
// came out mangled. Builds cs_CZ.UTF-8 from Debian's locale sources into a folder of its own.
TEST(QtTranslations, ACzechSystemLocaleLeavesTheProgramsNumbersAlone) {
  ::tamaril::testing::TempDir temp;
  const std::string build = "localedef -i cs_CZ -f UTF-8 '" + temp.File("cs_CZ.UTF-8") + "' >/dev/null 2>&1";
  if (std::system(build.c_str()) != 0) GTEST_SKIP() << "localedef cannot build cs_CZ.UTF-8 here";
  const std::string expected = expr::FormatFixed(1234.5, 2, true);
  const std::string before = std::setlocale(LC_ALL, nullptr);
  ::setenv("LOCPATH", temp.path().c_str(), 1);
  ASSERT_NE(std::setlocale(LC_ALL, "cs_CZ.UTF-8"), nullptr);
  EXPECT_NE(expr::FormatFixed(1234.5, 2, true), expected) << "the Czech C locale writes a decimal comma";

  KeepCNumberFormat();
  EXPECT_EQ(expr::FormatFixed(1234.5, 2, true), expected);
  EXPECT_STREQ(std::setlocale(LC_NUMERIC, nullptr), "C");
  EXPECT_STRNE(std::setlocale(LC_TIME, nullptr), "C") << "dates stay the system's";

  std::setlocale(LC_ALL, before.c_str());
  ::unsetenv("LOCPATH");
}

TEST(QtTranslations, TheFileDialogsFolderIsCzech) {
  EXPECT_EQ(QCoreApplication::translate("QAbstractFileIconProvider", "Folder", "All other platforms"),
            QStringLiteral("Složka"));
  EXPECT_EQ(MissingQtText("QAbstractFileIconProvider", "Drive"), QStringLiteral("Jednotka"));
  // Every other text is left to Qt's own translation.
  EXPECT_TRUE(MissingQtText("QAbstractFileIconProvider", "Other").isEmpty());
  EXPECT_TRUE(MissingQtText("QFileDialog", "Folder").isEmpty());
}

}  // namespace
}  // namespace tamaril::ui
