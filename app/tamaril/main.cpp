// tamaril: the desktop program. "--home DIR" puts the program's folder (settings, definition
// lists, hint.sql) elsewhere than beside the executable, "--common FILE" names the shared values.

#include <QApplication>
#include <QStringList>

#include <cstdio>
#include <filesystem>
#include <string>

#include "core/common_info.h"
#include "core/maindata.h"
#include "core/paths.h"
#include "replication/start_up.h"
#include "text/encoding.h"
#include "text/error.h"
#include "ui/login_dialog.h"
#include "ui/main_window.h"
#include "ui/message_box.h"
#include "ui/qt_text.h"
#include "ui/qt_translations.h"

namespace {

// The folder options of the command line; throws tamaril::Error with the Czech reason.
void ApplyArguments(const QStringList& arguments) {
  for (qsizetype i = 1; i < arguments.size(); ++i) {
    const QString& argument = arguments[i];
    if (argument != QLatin1String("--home") && argument != QLatin1String("--common")) {
      throw tamaril::Error(tamaril::text::Utf8ToAnsi("Neznámý parametr " + argument.toStdString()));
    }
    if (i + 1 >= arguments.size()) {
      throw tamaril::Error(
          tamaril::text::Utf8ToAnsi("Parametr " + argument.toStdString() + " vyžaduje hodnotu"));
    }
    const std::string value = tamaril::ui::ToUtf8(arguments[++i]);
    std::error_code error;
    if (argument == QLatin1String("--home")) {
      if (!std::filesystem::is_directory(value, error)) {
        const bool exists = std::filesystem::exists(value, error);
        throw tamaril::Error(tamaril::text::Utf8ToAnsi("Složka programu " + value +
                                                       (exists ? " není složka" : " neexistuje")));
      }
      tamaril::core::SetProgramFolder(value);
    } else {
      if (!std::filesystem::is_regular_file(value, error)) {
        throw tamaril::Error(tamaril::text::Utf8ToAnsi("Soubor společných hodnot " + value + " neexistuje"));
      }
      tamaril::core::SetCommonInfoFileName(value);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Tamaril"));
  QApplication::setApplicationDisplayName(QStringLiteral("Tamaril"));
  if (tamaril::ui::InstallCzechTranslations(application).isEmpty()) {
    // Not fatal: only Qt's own buttons, menus and file dialogs stay in English.
    std::fputs(
        "tamaril: Český překlad Qt (qtbase_cs.qm, balíček qt6-translations-l10n) nebyl nalezen; "
        "standardní texty Qt zůstanou anglicky\n",
        stderr);
  }

  tamaril::ui::tDialogLoginPrompt prompt;
  tamaril::replication::tProgramData program;
  if (!tamaril::ui::RunAction(nullptr, [&] {
        ApplyArguments(QApplication::arguments());
        program = tamaril::replication::StartProgram(prompt);
      })) {
    return 1;
  }

  int status = 0;
  {
    tamaril::ui::TfrmMain window(*program.Maindata, *program.StructureCache);
    prompt.SetParent(&window);
    window.show();
    status = QApplication::exec();
    prompt.SetParent(nullptr);
  }
  return status;
}
