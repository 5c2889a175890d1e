#pragma once

#include <stdexcept>
#include <string>

#include "text/error.h"

namespace tamaril::dataset {

/// A failure of the dataset library: a bad layout, a record stream that does not fit, a
/// dataset used in the wrong state. The message is Windows-1250 text.
class DatasetError : public Error {
 public:
  using Error::Error;
};

}  // namespace tamaril::dataset
