#pragma once

#include <QApplication>
#include <QTimer>

#include <functional>
#include <memory>

namespace tamaril::ui::testing {

/// Runs `step` on the next modal dialog of type T once it is shown (polling every 10 ms), so
/// that a test can work in a window that its action shows with exec().
template <typename T>
void OnModal(std::function<void(T&)> step) {
  auto poll = std::make_shared<std::function<void()>>();
  *poll = [step = std::move(step), weak = std::weak_ptr<std::function<void()>>(poll)] {
    if (auto* dialog = qobject_cast<T*>(QApplication::activeModalWidget())) {
      step(*dialog);
      return;
    }
    if (auto again = weak.lock()) QTimer::singleShot(10, [again] { (*again)(); });
  };
  QTimer::singleShot(0, [poll] { (*poll)(); });
}

}  // namespace tamaril::ui::testing
