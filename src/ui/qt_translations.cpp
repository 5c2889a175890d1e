#include "ui/qt_translations.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include "ui/qt_child.h"

namespace tamaril::ui {

QString InstallCzechTranslations(QApplication& application) {
  // The platform's native dialogs would speak the desktop's language, not ours.
  QApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
  const QLocale czech(QLocale::Czech, QLocale::CzechRepublic);
  // The application owns the translator; it lives as long as the texts it gives.
  auto* translator = MakeChild<QTranslator>(&application);
  const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
  if (!translator->load(czech, QStringLiteral("qtbase"), QStringLiteral("_"), folder)) {
    delete translator;  // NOLINT(cppcoreguidelines-owning-memory): never installed
    return {};
  }
  QApplication::installTranslator(translator);
  return translator->filePath();
}

}  // namespace tamaril::ui
