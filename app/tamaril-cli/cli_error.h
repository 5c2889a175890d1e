#pragma once

#include "text/error.h"

namespace tamaril::cli {

/// A failure the person caused or must act on (Windows-1250 text): printed, exit status 1.
class CliError : public Error {
 public:
  using Error::Error;
};

}  // namespace tamaril::cli
