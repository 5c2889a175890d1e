#pragma once

#include <stdexcept>
#include <string>

#include "text/error.h"

namespace tamaril::dbstruct {

/// A failure of the structure model: circular master-detail links, a master missing from a
/// foreign key, datasets that cannot be compared. The message is Windows-1250 text.
class StructureError : public Error {
 public:
  using Error::Error;
};

}  // namespace tamaril::dbstruct
