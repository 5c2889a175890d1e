#pragma once

#include <stdexcept>
#include <string>

namespace tamaril::dbstruct {

/// A failure of the structure model: circular master-detail links, a master missing from a
/// foreign key, datasets that cannot be compared. The message is Windows-1250 text.
class StructureError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace tamaril::dbstruct
