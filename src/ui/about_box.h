#pragma once

#include <QDialog>
#include <QString>

#include <memory>
#include <string>

class QWidget;

namespace tamaril::ui {

/// "verze 2.13 (sestavení 4)": the program's version as the main window's caption writes it.
QString AboutVersionText();
/// A link to a web address (`mail` false) or a mail address as rich text; empty for an empty value.
QString AboutLinkText(const std::string& value, bool mail);
/// The about box, not shown yet.
std::unique_ptr<QDialog> CreateAboutBox(QWidget* parent);
/// The about box: the program, its version, and the web and mail lines of the shared values as links.
void ShowAboutBox(QWidget* parent);

}  // namespace tamaril::ui
