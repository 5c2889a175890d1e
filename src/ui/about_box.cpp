#include "ui/about_box.h"

namespace tamaril::ui {

void ShowAboutBox(QWidget* parent) { (void)parent; }

}  // namespace tamaril::ui
