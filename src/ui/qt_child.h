#pragma once

#include <utility>

namespace tamaril::ui {

/// Creates a widget or layout that its Qt parent (given now or when it is added to a layout)
/// owns and deletes with itself.
template <typename T, typename... Args>
T* MakeChild(Args&&... args) {
  // The Qt parent frees the object.
  // NOLINTNEXTLINE(cppcoreguidelines-owning-memory)
  return new T(std::forward<Args>(args)...);
}

}  // namespace tamaril::ui
