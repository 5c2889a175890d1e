#pragma once

#include "text/error.h"

namespace tamaril::core {

/// A failure the program reports to the person with its (Windows-1250) message.
class AppError : public Error {
 public:
  using Error::Error;
};

}  // namespace tamaril::core
