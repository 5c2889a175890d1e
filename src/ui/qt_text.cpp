#include "ui/qt_text.h"

#include "text/encoding.h"

namespace tamaril::ui {

QString FromAnsi(std::string_view ansi) {
  const std::u16string wide = text::AnsiToUtf16(ansi);
  return QString(reinterpret_cast<const QChar*>(wide.data()), static_cast<qsizetype>(wide.size()));
}

std::string ToAnsi(const QString& text) {
  return text::Utf16ToAnsi(std::u16string_view(reinterpret_cast<const char16_t*>(text.utf16()),
                                               static_cast<std::size_t>(text.size())));
}

QString FromUtf8(std::string_view utf8) {
  return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

std::string ToUtf8(const QString& text) { return text.toUtf8().toStdString(); }

}  // namespace tamaril::ui
