// The window tests run on Qt's offscreen platform unless another is asked for, with Qt's own
// texts in Czech as the program has them.

#include <QApplication>

#include <gtest/gtest.h>

#include "ui/qt_translations.h"

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  tamaril::ui::InstallCzechTranslations(application);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
