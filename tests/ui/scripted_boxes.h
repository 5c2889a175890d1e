#pragma once

#include <QString>

#include <deque>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "ui/message_box.h"

namespace tamaril::ui::testing {

/// Answers message boxes from a script and records every box shown. Put in use for its
/// lifetime; a box with no answer left fails the test with its text.
class tScriptedBoxes : public tMessageBoxService {
 public:
  tScriptedBoxes() : before_(SetMessageBoxes(this)) {}
  ~tScriptedBoxes() override { SetMessageBoxes(before_); }
  tScriptedBoxes(const tScriptedBoxes&) = delete;
  tScriptedBoxes& operator=(const tScriptedBoxes&) = delete;

  /// The next box is answered with `button`.
  void Answer(tMsgButton button) { answers_.push_back(button); }
  /// Boxes without a scripted answer get the default button instead of failing.
  void AnswerDefaults() { defaults_ = true; }

  /// A box with a check box shown from now on gets it in state `checked`.
  void CheckBoxes(bool checked) { check_ = checked; }
  tMsgButton Show(QWidget*, const tMessage& message) override {
    shown_.push_back(message);
    if (message.check_state != nullptr && check_) *message.check_state = *check_;
    if (answers_.empty()) {
      if (defaults_) return message.default_button;
      throw std::logic_error("unexpected message box: " + message.text.toStdString());
    }
    const tMsgButton answer = answers_.front();
    answers_.pop_front();
    return answer;
  }

  /// The boxes shown so far, in order.
  const std::vector<tMessage>& Shown() const { return shown_; }
  /// The texts of the boxes shown so far.
  std::vector<std::string> Texts() const {
    std::vector<std::string> texts;
    for (const tMessage& message : shown_) texts.push_back(message.text.toStdString());
    return texts;
  }
  /// Answers not used yet.
  std::size_t Unused() const { return answers_.size(); }

 private:
  tMessageBoxService* before_;
  std::deque<tMsgButton> answers_;
  std::vector<tMessage> shown_;
  bool defaults_ = false;
  std::optional<bool> check_;
};

}  // namespace tamaril::ui::testing
