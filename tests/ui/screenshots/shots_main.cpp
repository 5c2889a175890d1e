// Renders every window of the desktop program with the demo's data to PNG files, so that a
// person can look at them:  ui_screenshots DEMO_FOLDER OUTPUT_FOLDER
// Run it on a real display server (xvfb-run), where fonts are rendered as a person sees them.

#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QScreen>
#include <QTimer>

#include <cstdio>
#include <exception>

#include "core/paths.h"
#include "scripted_boxes.h"
#include "shots.h"
#include "ui/qt_translations.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  tamaril::ui::InstallCzechTranslations(application);
  if (argc != 3) {
    std::fprintf(stderr, "usage: ui_screenshots DEMO_FOLDER OUTPUT_FOLDER\n");
    return 2;
  }
  tamaril::core::SetProgramFolder(argv[1]);
  const QString output = QString::fromLocal8Bit(argv[2]);
  if (!QDir().mkpath(output)) {
    std::fprintf(stderr, "ui_screenshots: cannot create %s\n", argv[2]);
    return 1;
  }
  tamaril::ui::testing::tScriptedBoxes boxes;
  boxes.AnswerDefaults();

  std::vector<tamaril::ui::shots::tShot> shots;
  tamaril::ui::shots::AddMainWindowShots(shots);
  tamaril::ui::shots::AddDialogShots(shots);
  tamaril::ui::shots::AddRunWindowShots(shots);
  tamaril::ui::shots::AddBuilderShots(shots);
  tamaril::ui::shots::AddRuleWindowShots(shots);
  tamaril::ui::shots::AddHelpShots(shots);
  tamaril::ui::shots::AddStatusPageShots(shots);
  int failed = 0;
  for (const auto& shot : shots) {
    try {
      std::unique_ptr<QWidget> window = shot.make();
      window->show();
      QTimer::singleShot(300, &application, &QApplication::quit);
      application.exec();
      const QString file = output + "/" + shot.name + ".png";
      if (!window->grab().save(file)) throw std::runtime_error("cannot write " + file.toStdString());
      std::printf("%s %dx%d\n", file.toLocal8Bit().constData(), window->width(), window->height());
    } catch (const std::exception& e) {
      std::fprintf(stderr, "ui_screenshots: %s: %s\n", shot.name.toLocal8Bit().constData(), e.what());
      ++failed;
    }
  }
  return failed == 0 ? 0 : 1;
}
