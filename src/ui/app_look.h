#pragma once

#include <QIcon>
#include <QKeySequence>
#include <QString>

namespace tamaril::ui {

/// The icon `name` ("go-next") of the desktop's icon theme; where the theme has none, the
/// program's own copy of it, else `fallback`.
QIcon ThemeIcon(const QString& name, const QIcon& fallback = {});

/// "Nová definice (F2)": the tooltip `tip` with the keys of `shortcut`; `tip` as it is when there
/// is no shortcut or it names the keys already.
QString ToolTipWithShortcut(const QString& tip, const QKeySequence& shortcut);

/// Makes every tool button of the program show its action's shortcut in its tooltip
/// (ToolTipWithShortcut), in every window. The first call installs it; later calls do nothing.
void InstallShortcutTips();

}  // namespace tamaril::ui
