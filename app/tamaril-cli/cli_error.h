#pragma once

#include <string>
#include <utility>

#include "text/encoding.h"
#include "text/error.h"

namespace tamaril::cli {

/// A failure the person caused or must act on: printed, exit status 1. Its what() is the
/// Windows-1250 text of every Error; one written in UTF-8 keeps that text for the terminal, so
/// that a path Windows-1250 cannot hold is shown as typed.
class CliError : public Error {
 public:
  using Error::Error;

  /// A failure with a UTF-8 message.
  static CliError FromUtf8(std::string utf8) {
    CliError error(text::Utf8ToAnsi(utf8));
    error.utf8_ = std::move(utf8);
    return error;
  }

  /// The message for the terminal (UTF-8).
  std::string TerminalText() const { return utf8_.empty() ? text::AnsiToUtf8(what()) : utf8_; }

 private:
  std::string utf8_;
};

}  // namespace tamaril::cli
