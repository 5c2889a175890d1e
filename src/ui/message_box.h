#pragma once

#include <QString>

#include <exception>
#include <initializer_list>
#include <vector>

class QWidget;

namespace tamaril::ui {

/// The buttons a message box can offer, captioned in Czech: "OK", "Ano", "Ne", "Storno",
/// "Přerušit", "Ano všem", "Ne všem".
enum class tMsgButton { Ok, Yes, No, Cancel, Abort, YesToAll, NoToAll };

/// The kind of a box: its icon and its caption ("Informace", "Varování", "Chyba", "Potvrzení").
enum class tMsgKind { Information, Warning, Error, Confirmation };

/// One box to show.
struct tMessage {
  tMsgKind kind = tMsgKind::Information;
  QString caption;  ///< empty: the kind's caption
  QString text;
  QString detail;  ///< the whole of a long report, in a pane the person opens; empty: none
  std::vector<tMsgButton> buttons{tMsgButton::Ok};
  tMsgButton default_button = tMsgButton::Ok;
  QString check_box;            ///< caption of a check box under the text; empty: none
  bool* check_state = nullptr;  ///< the check box's state, shown and written back (not owned)
};

/// The button closing a box without a choice (Esc or the window's close button) stands for:
/// Storno, else Přerušit, else Ne, else the only button; Ok when there is none of these.
tMsgButton EscapeButton(const std::vector<tMsgButton>& buttons);

/// The Czech caption of a button ("Ano všem").
QString ButtonCaption(tMsgButton button);

/// Shows message boxes. The program uses the Qt one; tests put a scripted one in its place.
class tMessageBoxService {
 public:
  virtual ~tMessageBoxService() = default;
  /// Shows `message` modally over `parent` (may be null) and returns the button chosen.
  virtual tMsgButton Show(QWidget* parent, const tMessage& message) = 0;
};

/// The service in use.
tMessageBoxService& MessageBoxes();
/// Puts `service` in use (not owned; null: the Qt boxes again) and returns the one before.
tMessageBoxService* SetMessageBoxes(tMessageBoxService* service);

/// A box with `buttons`; the first one is the default unless `default_button` is given.
tMsgButton MessageDlg(QWidget* parent, tMsgKind kind, const QString& text,
                      std::initializer_list<tMsgButton> buttons);
tMsgButton MessageDlg(QWidget* parent, tMsgKind kind, const QString& text,
                      std::initializer_list<tMsgButton> buttons, tMsgButton default_button);
/// An information box with OK.
void ShowMessage(QWidget* parent, const QString& text);

/// The standard error box for an action that failed: the program's title "Tamaril", the error
/// icon, the error's message and OK. A cancellation (EAbort) shows nothing. Never throws.
void ShowException(QWidget* parent, const std::exception_ptr& error);

/// Runs `action`; what it throws goes to ShowException. True when it ended without an exception.
template <typename Action>
bool RunAction(QWidget* parent, Action&& action) {
  try {
    action();
    return true;
  } catch (...) {
    ShowException(parent, std::current_exception());
  }
  return false;
}

}  // namespace tamaril::ui
