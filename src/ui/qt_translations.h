#pragma once

#include <QString>

class QApplication;

namespace tamaril::ui {

/// Puts Qt's own Czech texts in use (the standard buttons, the text fields' context menus, the
/// file dialogs) from the system's Qt translations, and makes every file dialog Qt's own so that
/// it speaks Czech too. A missing translation is not fatal: the program then shows Qt's English
/// texts. Returns the loaded file's path, empty when none was found. Call once, after the
/// application object exists. Puts the C library's number format back as well (see
/// KeepCNumberFormat).
QString InstallCzechTranslations(QApplication& application);

/// The application object takes the C library's locale from the system; on a Czech system its
/// numbers would then be written and read with a decimal comma ("1,5"), which the program's own
/// conversions of numbers to text and back do not expect. Sets the number category back to "C";
/// dates, texts and Qt's own locale stay the system's.
void KeepCNumberFormat();

/// The Czech texts of the few Qt strings the system's translation lacks (the file dialog's
/// "Folder"); empty for any other.
QString MissingQtText(const char* context, const char* source_text);

}  // namespace tamaril::ui
