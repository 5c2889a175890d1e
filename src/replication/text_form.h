#pragma once

#include <cstdint>

namespace tamaril::replication {

/// How an archive carries texts.
enum class tTextForm : std::uint8_t {
  /// Windows-1250, one byte per character; what every reader of archives knows.
  Compatible,
  /// UTF-8 with every character; the archive has its own identification, and a null text or
  /// byte block stays apart from an empty one.
  Unicode,
};

}  // namespace tamaril::replication
