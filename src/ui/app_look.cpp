#include "ui/app_look.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QHelpEvent>
#include <QToolButton>
#include <QToolTip>

#include "ui/qt_child.h"

namespace tamaril::ui {
namespace {

// A tool button's tooltip, asked for: its action's tooltip with the shortcut.
class tShortcutTipFilter : public QObject {
 public:
  using QObject::QObject;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() != QEvent::ToolTip) return false;
    auto* button = qobject_cast<QToolButton*>(watched);
    const QAction* action = button != nullptr ? button->defaultAction() : nullptr;
    if (action == nullptr) return false;
    const QString tip = button->toolTip();
    const QString shown = ToolTipWithShortcut(tip, action->shortcut());
    if (shown == tip) return false;
    QToolTip::showText(static_cast<QHelpEvent*>(event)->globalPos(), shown, button);
    return true;
  }
};

}  // namespace

QIcon ThemeIcon(const QString& name, const QIcon& fallback) {
  QIcon bundled;
  for (const int size : {16, 32}) {
    const QString file = QStringLiteral(":/icons/%1/%2.png").arg(size).arg(name);
    if (QFile::exists(file)) bundled.addFile(file, QSize(size, size));
  }
  return QIcon::fromTheme(name, bundled.isNull() ? fallback : bundled);
}

QString ToolTipWithShortcut(const QString& tip, const QKeySequence& shortcut) {
  if (tip.isEmpty() || shortcut.isEmpty()) return tip;
  const QString keys = shortcut.toString(QKeySequence::NativeText);
  if (tip.contains(keys)) return tip;
  return QStringLiteral("%1 (%2)").arg(tip, keys);
}

void InstallShortcutTips() {
  static bool installed = false;
  if (installed || QCoreApplication::instance() == nullptr) return;
  // The application owns the filter.
  QCoreApplication::instance()->installEventFilter(
      MakeChild<tShortcutTipFilter>(QCoreApplication::instance()));
  installed = true;
}

}  // namespace tamaril::ui
