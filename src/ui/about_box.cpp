#include "ui/about_box.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "core/common_info.h"
#include "ui/qt_child.h"
#include "ui/qt_text.h"

namespace tamaril::ui {

QString AboutVersionText() {
  return QStringLiteral("verze %1.%2%3 (sestavení %4)")
      .arg(core::AppVersionMajor)
      .arg(core::AppVersionMinor)
      .arg(core::AppVersionRelease)
      .arg(core::AppVersionBuild);
}

QString AboutLinkText(const std::string& value, bool mail) {
  const QString text = FromAnsi(value).trimmed();
  if (text.isEmpty()) return {};
  QString target = text;
  if (mail && !target.startsWith(QStringLiteral("mailto:"), Qt::CaseInsensitive))
    target = QStringLiteral("mailto:") + target;
  if (!mail && !target.contains(QStringLiteral("://"))) target = QStringLiteral("http://") + target;
  return QStringLiteral("<a href=\"%1\">%2</a>").arg(target.toHtmlEscaped(), text.toHtmlEscaped());
}

std::unique_ptr<QDialog> CreateAboutBox(QWidget* parent) {
  auto dialog = std::make_unique<QDialog>(parent);
  dialog->setWindowTitle(QStringLiteral("O aplikaci"));
  dialog->setModal(true);
  auto* layout = MakeChild<QVBoxLayout>(dialog.get());
  auto* title = MakeChild<QLabel>(QStringLiteral("<b>Tamaril MS SQL</b>"), dialog.get());
  QFont font = title->font();
  font.setPointSizeF(font.pointSizeF() * 1.5);
  title->setFont(font);
  layout->addWidget(title);
  layout->addWidget(MakeChild<QLabel>(AboutVersionText(), dialog.get()));
  layout->addWidget(MakeChild<QLabel>(
      QStringLiteral("Replikace databází Microsoft SQL Server mezi místy bez trvalého spojení."),
      dialog.get()));
  for (const auto& [value, mail] :
       {std::pair{core::CommonWebSite, false}, std::pair{core::CommonMail, true}}) {
    const QString link = AboutLinkText(value, mail);
    if (link.isEmpty()) continue;
    auto* label = MakeChild<QLabel>(link, dialog.get());
    label->setTextFormat(Qt::RichText);
    label->setTextInteractionFlags(Qt::TextBrowserInteraction);
    label->setOpenExternalLinks(true);
    layout->addWidget(label);
  }
  auto* buttons = MakeChild<QDialogButtonBox>(dialog.get());
  QPushButton* ok = buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
  ok->setDefault(true);
  QObject::connect(buttons, &QDialogButtonBox::accepted, dialog.get(), &QDialog::accept);
  layout->addWidget(buttons);
  return dialog;
}

void ShowAboutBox(QWidget* parent) { CreateAboutBox(parent)->exec(); }

}  // namespace tamaril::ui
