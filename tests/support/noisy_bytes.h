#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tamaril::testing {

/// Bytes that deflate cannot shrink much, so that their compressed form spans many buffers; the
/// same `seed` gives the same bytes.
inline std::string NoisyBytes(std::size_t size, std::uint32_t seed = 12345) {
  std::string bytes(size, '\0');
  std::uint32_t state = seed;
  for (char& c : bytes) {
    state = state * 1103515245U + 12345U;
    c = static_cast<char>(state >> 24);
  }
  return bytes;
}

}  // namespace tamaril::testing
