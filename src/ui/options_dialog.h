#pragma once

class QWidget;

namespace tamaril::ui {

/// The dialog "Nastavení programu" over the settings: only OK copies the edits back and saves
/// tamaril.ini; returns true then.
bool EditReplOptions(QWidget* parent);

}  // namespace tamaril::ui
