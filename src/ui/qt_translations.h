#pragma once

#include <QString>

class QApplication;

namespace tamaril::ui {

/// Puts Qt's own Czech texts in use (the standard buttons, the text fields' context menus, the
/// file dialogs) from the system's Qt translations, and makes every file dialog Qt's own so that
/// it speaks Czech too. A missing translation is not fatal: the program then shows Qt's English
/// texts. Returns the loaded file's path, empty when none was found. Call once, after the
/// application object exists.
QString InstallCzechTranslations(QApplication& application);

}  // namespace tamaril::ui
