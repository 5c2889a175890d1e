#pragma once

#include <stdexcept>
#include <string>

namespace tamaril::dataset {

/// A failure of the dataset library: a bad layout, a record stream that does not fit, a
/// dataset used in the wrong state. The message is Windows-1250 text.
class DatasetError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace tamaril::dataset
