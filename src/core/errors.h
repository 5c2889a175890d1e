#pragma once

#include <stdexcept>
#include <string>

namespace tamaril::core {

/// A failure the program reports to the person with its (Windows-1250) message.
class AppError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

/// The person cancelled: the work stops and nothing is shown.
class EAbort : public std::runtime_error {
 public:
  EAbort() : std::runtime_error("Operation aborted") {}
};

}  // namespace tamaril::core
