#pragma once

#include <QString>

#include <string>
#include <string_view>

namespace tamaril::ui {

/// A Windows-1250 text of the engine as the widgets show it.
QString FromAnsi(std::string_view ansi);
/// A widget's text for the engine, in Windows-1250; characters it cannot hold become '?'.
std::string ToAnsi(const QString& text);
/// A UTF-8 text (paths, the terminal's texts) for the widgets.
QString FromUtf8(std::string_view utf8);
/// A widget's text as UTF-8 (paths).
std::string ToUtf8(const QString& text);

}  // namespace tamaril::ui
