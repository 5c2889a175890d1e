#include "ui/qt_translations.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include <clocale>
#include <cstring>

#include "ui/qt_child.h"

namespace tamaril::ui {
namespace {

// Asked before Qt's own translation (the one installed last is asked first); answers only the
// texts that translation does not have.
class tMissingQtTexts : public QTranslator {
 public:
  using QTranslator::QTranslator;
  bool isEmpty() const override { return false; }
  QString translate(const char* context, const char* source_text, const char* /*disambiguation*/,
                    int /*n*/) const override {
    return MissingQtText(context, source_text);
  }
};

}  // namespace

void KeepCNumberFormat() { std::setlocale(LC_NUMERIC, "C"); }

QString MissingQtText(const char* context, const char* source_text) {
  if (context == nullptr || source_text == nullptr) return {};
  if (std::strcmp(context, "QAbstractFileIconProvider") != 0) return {};
  if (std::strcmp(source_text, "Folder") == 0) return QStringLiteral("Složka");
  if (std::strcmp(source_text, "Drive") == 0) return QStringLiteral("Jednotka");
  return {};
}

QString InstallCzechTranslations(QApplication& application) {
  KeepCNumberFormat();
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
  QApplication::installTranslator(MakeChild<tMissingQtTexts>(&application));
  // The application owns both translators (their Qt parent); the analyzer cannot see it.
  // NOLINTNEXTLINE(clang-analyzer-cplusplus.NewDeleteLeaks)
  return translator->filePath();
}

}  // namespace tamaril::ui
