#pragma once

class QWidget;

namespace tamaril::ui {

/// The about box: the program, its version, and the web and mail lines of the shared values as links.
void ShowAboutBox(QWidget* parent);

}  // namespace tamaril::ui
