#pragma once

#include <exception>
#include <stdexcept>
#include <string>

namespace tamaril {

/// The root of every failure the program reports to the person: a message text (Windows-1250,
/// like every text of the engine). Each layer derives its own errors from it, so a program
/// tells an expected failure from a bug (any other exception) by catching this one type.
class Error : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

/// The person cancelled: the work stops and nothing is shown. It stands beside `Error`, not
/// under it, so a handler that reports failures never reports a cancellation by mistake.
class EAbort : public std::exception {
 public:
  const char* what() const noexcept override { return "Operation aborted"; }
};

}  // namespace tamaril
