#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <string>

// Checks that `statement` throws `exception_type` (or a type derived from it) whose what()
// equals `expected_message`; any other outcome fails the test with what happened instead.
#define EXPECT_THROW_MSG(statement, exception_type, expected_message)                                 \
  do {                                                                                                \
    bool tamaril_thrown_ = false;                                                                     \
    try {                                                                                             \
      statement;                                                                                      \
    } catch (const exception_type& tamaril_error_) {                                                  \
      tamaril_thrown_ = true;                                                                         \
      EXPECT_EQ(std::string(tamaril_error_.what()), std::string(expected_message));                   \
    } catch (const std::exception& tamaril_other_) {                                                  \
      tamaril_thrown_ = true;                                                                         \
      ADD_FAILURE() << "threw another exception than " #exception_type ": " << tamaril_other_.what(); \
    }                                                                                                 \
    if (!tamaril_thrown_) ADD_FAILURE() << #statement " did not throw " #exception_type;              \
  } while (false)

namespace tamaril::testing {

/// Runs `action` and gives the `E` it throws, for checks on more than the message (a SQLSTATE, a
/// server text that varies); records a failure and gives nothing when it throws nothing or another type.
template <typename E, typename Action>
std::optional<E> CatchError(Action&& action) {
  try {
    action();
  } catch (const E& error) {
    return error;
  } catch (const std::exception& other) {
    ADD_FAILURE() << "threw another exception: " << other.what();
    return std::nullopt;
  }
  ADD_FAILURE() << "did not throw";
  return std::nullopt;
}

}  // namespace tamaril::testing
