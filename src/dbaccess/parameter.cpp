#include "dbaccess/parameter.h"

namespace tamaril::dbaccess {
namespace {

bool IsNameStart(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }
bool IsNameChar(char c) { return IsNameStart(c) || (c >= '0' && c <= '9'); }

// Walks a statement text and calls `on_code` for every position that lies outside quoted
// texts, quoted names and comments. `on_code` returns how many characters it consumed (at
// least 1); every character of the text reaches `copy` exactly once unless consumed.
template <typename OnCode, typename Copy>
void ScanCode(std::string_view sql, OnCode on_code, Copy copy) {
  std::size_t i = 0;
  auto copy_until = [&](std::size_t end) {
    copy(sql.substr(i, end - i));
    i = end;
  };
  while (i < sql.size()) {
    const char c = sql[i];
    if (c == '\'' || c == '"' || c == '[') {
      const char close = c == '[' ? ']' : c;
      std::size_t j = i + 1;
      while (j < sql.size()) {
        if (sql[j] == close) {
          // A doubled quote inside a quoted text stands for the quote itself.
          if (j + 1 < sql.size() && sql[j + 1] == close) {
            j += 2;
            continue;
          }
          break;
        }
        ++j;
      }
      copy_until(j < sql.size() ? j + 1 : j);
    } else if (c == '-' && i + 1 < sql.size() && sql[i + 1] == '-') {
      const std::size_t end = sql.find('\n', i);
      copy_until(end == std::string_view::npos ? sql.size() : end);
    } else if (c == '/' && i + 1 < sql.size() && sql[i + 1] == '*') {
      const std::size_t end = sql.find("*/", i + 2);
      copy_until(end == std::string_view::npos ? sql.size() : end + 2);
    } else {
      i += on_code(i);
    }
  }
}

}  // namespace

ParsedStatement ParseNamedParameters(std::string_view sql) {
  ParsedStatement result;
  result.text.reserve(sql.size());
  ScanCode(
      sql,
      [&](std::size_t i) -> std::size_t {
        if (sql[i] == ':' && i + 1 < sql.size()) {
          if (sql[i + 1] == ':') {
            result.text += "::";
            return 2;
          }
          if (IsNameStart(sql[i + 1])) {
            std::size_t end = i + 1;
            while (end < sql.size() && IsNameChar(sql[end])) ++end;
            result.names.emplace_back(sql.substr(i + 1, end - i - 1));
            result.text += '?';
            return end - i;
          }
        }
        result.text += sql[i];
        return 1;
      },
      [&](std::string_view piece) { result.text += piece; });
  return result;
}

std::size_t CountPositionalParameters(std::string_view sql) {
  std::size_t count = 0;
  ScanCode(
      sql,
      [&](std::size_t i) -> std::size_t {
        if (sql[i] == '?') ++count;
        return 1;
      },
      [](std::string_view) {});
  return count;
}

}  // namespace tamaril::dbaccess
