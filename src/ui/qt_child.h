#pragma once

#include <utility>

namespace tamaril::ui {

/// Creates a widget or layout that its Qt parent (given now or when it is added to a layout)
/// owns and deletes with itself.
template <typename T, typename... Args>
T* MakeChild(Args&&... args) {
  return new T(
      std::forward<Args>(args)...);  // NOLINT(cppcoreguidelines-owning-memory): the Qt parent owns it
}

}  // namespace tamaril::ui
