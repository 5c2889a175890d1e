#pragma once

#include <stdexcept>
#include <string>

#include "text/error.h"

namespace tamaril::replication {

/// A failure of the transfer engine: a damaged or crafted archive, a table header the table
/// list does not name, a row the adapter does not hold. The message is Windows-1250 text.
class ReplicationError : public Error {
 public:
  using Error::Error;
};

}  // namespace tamaril::replication
