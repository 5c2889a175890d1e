#pragma once

#include <QString>
#include <QWidget>

#include <functional>
#include <memory>
#include <vector>

namespace tamaril::ui::shots {

/// One picture: the file name (without ".png") and what builds the window to render. The
/// window is shown, given time to lay itself out, grabbed and then destroyed.
struct tShot {
  QString name;
  std::function<std::unique_ptr<QWidget>()> make;
};

/// The pictures of each group of windows. They run with the program's folder set to the demo's
/// folder (its definition lists, settings and SQLite databases), message boxes answered with
/// their default button.
void AddMainWindowShots(std::vector<tShot>& shots);
void AddDialogShots(std::vector<tShot>& shots);
void AddRunWindowShots(std::vector<tShot>& shots);
void AddBuilderShots(std::vector<tShot>& shots);
void AddHelpShots(std::vector<tShot>& shots);
void AddRuleWindowShots(std::vector<tShot>& shots);
void AddStatusPageShots(std::vector<tShot>& shots);

}  // namespace tamaril::ui::shots
