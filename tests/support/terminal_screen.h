#pragma once

#include <poll.h>
#include <unistd.h>

#include <cstddef>
#include <string>
#include <string_view>

namespace tamaril::test_support {

/// Reads what a pseudo-terminal shows into `screen` until `needle` appears, the terminal
/// closes, or nothing more comes for 10 s.
inline void ReadUntil(int fd, std::string_view needle, std::string& screen) {
  char buffer[256];
  while (screen.find(needle) == std::string::npos) {
    pollfd ready{fd, POLLIN, 0};
    if (::poll(&ready, 1, 10000) <= 0) return;
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n <= 0) return;
    screen.append(buffer, static_cast<std::size_t>(n));
  }
}

}  // namespace tamaril::test_support
