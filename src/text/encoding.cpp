#include "text/encoding.h"

#include <unicode/ucnv.h>
#include <unicode/unistr.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <stdexcept>
#include <vector>

namespace tamaril::text {
namespace {

struct ConverterCloser {
  void operator()(UConverter* converter) const { ucnv_close(converter); }
};
using ConverterPtr = std::unique_ptr<UConverter, ConverterCloser>;

// One converter per thread: ICU converters keep state and are not thread-safe.
UConverter& Windows1250() {
  thread_local ConverterPtr converter = [] {
    UErrorCode status = U_ZERO_ERROR;
    ConverterPtr c(ucnv_open("windows-1250", &status));
    if (U_FAILURE(status)) throw std::runtime_error("ICU has no windows-1250 converter");
    status = U_ZERO_ERROR;
    ucnv_setSubstChars(c.get(), "?", 1, &status);
    return c;
  }();
  return *converter;
}

icu::UnicodeString FromAnsi(std::string_view ansi) {
  UConverter& cnv = Windows1250();
  icu::UnicodeString result;
  const auto length = static_cast<int32_t>(ansi.size());
  UChar* buffer = result.getBuffer(length == 0 ? 1 : length);  // single-byte code page: one unit per byte
  UErrorCode status = U_ZERO_ERROR;
  const int32_t written = ucnv_toUChars(&cnv, buffer, result.getCapacity(), ansi.data(), length, &status);
  result.releaseBuffer(U_SUCCESS(status) ? written : 0);
  return result;
}

std::string ToAnsi(const icu::UnicodeString& text) {
  UConverter& cnv = Windows1250();
  std::string result(static_cast<std::size_t>(text.length()) * 2 + 1, '\0');
  UErrorCode status = U_ZERO_ERROR;
  const int32_t written = ucnv_fromUChars(&cnv, result.data(), static_cast<int32_t>(result.size()),
                                          text.getBuffer(), text.length(), &status);
  result.resize(U_SUCCESS(status) ? static_cast<std::size_t>(written) : 0);
  return result;
}

// The length of the ASCII bytes at the start of `text`, looked at eight bytes at a time.
std::size_t AsciiPrefix(std::string_view text) {
  constexpr std::uint64_t kHighBits = 0x8080808080808080ULL;
  std::size_t at = 0;
  for (; text.size() - at >= sizeof(std::uint64_t); at += sizeof(std::uint64_t)) {
    std::uint64_t word = 0;
    std::memcpy(&word, text.data() + at, sizeof word);
    if ((word & kHighBits) != 0) break;
  }
  while (at < text.size() && static_cast<unsigned char>(text[at]) < 0x80) ++at;
  return at;
}

// Plain ASCII is the same bytes in Windows-1250 and UTF-8: most texts need no converter.
bool IsAscii(std::string_view text) { return AsciiPrefix(text) == text.size(); }

// The bytes above ASCII that go to one code point and come back from it unchanged, both ways.
// Texts made only of these (and ASCII) are converted without the converter; any other text
// takes the converter's way, substitutes and fallbacks included.
struct ByteTable {
  std::array<char32_t, 128> code_points{};  ///< of bytes 0x80-0xFF; 0 where there is none
  /// The byte of every code point below its size; 0 where there is none (no such code point
  /// has byte 0, which is ASCII).
  std::vector<unsigned char> bytes;
};

const ByteTable& Windows1250Bytes() {
  static const ByteTable table = [] {
    ByteTable built;
    for (int byte = 0x80; byte <= 0xFF; ++byte) {
      const std::string ansi(1, static_cast<char>(byte));
      const icu::UnicodeString unicode = FromAnsi(ansi);
      if (unicode.length() != 1 || U16_IS_SURROGATE(unicode.charAt(0)) || unicode.charAt(0) == 0xFFFD)
        continue;
      const char32_t code_point = unicode.charAt(0);
      if (ToAnsi(icu::UnicodeString(static_cast<UChar32>(code_point))) != ansi) continue;
      built.code_points[static_cast<std::size_t>(byte - 0x80)] = code_point;
      if (code_point >= built.bytes.size()) built.bytes.resize(code_point + 1, 0);
      built.bytes[code_point] = static_cast<unsigned char>(byte);
    }
    return built;
  }();
  return table;
}

// The UTF-8 form of a Windows-1250 text whose every byte is in the table.
std::optional<std::string> TableAnsiToUtf8(std::string_view ansi) {
  const ByteTable& table = Windows1250Bytes();
  std::string out;
  out.reserve(ansi.size() * 2);
  while (!ansi.empty()) {
    const std::size_t ascii = AsciiPrefix(ansi);
    out.append(ansi.data(), ascii);
    ansi.remove_prefix(ascii);
    if (ansi.empty()) break;
    const auto byte = static_cast<unsigned char>(ansi.front());
    ansi.remove_prefix(1);
    const char32_t code_point = table.code_points[byte - 0x80u];
    if (code_point == 0) return std::nullopt;
    if (code_point < 0x800) {
      out += static_cast<char>(0xC0 | (code_point >> 6));
    } else {
      out += static_cast<char>(0xE0 | (code_point >> 12));
      out += static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
    }
    out += static_cast<char>(0x80 | (code_point & 0x3F));
  }
  return out;
}

// The Windows-1250 form of a valid UTF-8 text whose every character is in the table. Such a
// text comes back unchanged from its Windows-1250 form: nothing is lost on the way.
std::optional<std::string> TableUtf8ToAnsi(std::string_view utf8) {
  const ByteTable& table = Windows1250Bytes();
  // One byte per character: the result is never longer than the UTF-8 text.
  std::string out(utf8.size(), '\0');
  char* put = out.data();
  const auto* data = reinterpret_cast<const uint8_t*>(utf8.data());
  const auto length = static_cast<int32_t>(utf8.size());
  int32_t at = 0;
  while (at < length) {
    const std::size_t ascii = AsciiPrefix(utf8.substr(static_cast<std::size_t>(at)));
    std::memcpy(put, utf8.data() + at, ascii);
    put += ascii;
    at += static_cast<int32_t>(ascii);
    if (at == length) break;
    UChar32 code_point = 0;
    U8_NEXT(data, at, length, code_point);
    if (code_point < 0x80 || static_cast<std::size_t>(code_point) >= table.bytes.size()) return std::nullopt;
    const unsigned char byte = table.bytes[static_cast<std::size_t>(code_point)];
    if (byte == 0) return std::nullopt;
    *put++ = static_cast<char>(byte);
  }
  out.resize(static_cast<std::size_t>(put - out.data()));
  return out;
}

}  // namespace

std::string AnsiToUtf8(std::string_view ansi) {
  if (IsAscii(ansi)) return std::string(ansi);
  if (std::optional<std::string> converted = TableAnsiToUtf8(ansi)) return std::move(*converted);
  std::string out;
  FromAnsi(ansi).toUTF8String(out);
  return out;
}

std::string Utf8ToAnsi(std::string_view utf8) {
  if (IsAscii(utf8)) return std::string(utf8);
  if (std::optional<std::string> converted = TableUtf8ToAnsi(utf8)) return std::move(*converted);
  return ToAnsi(
      icu::UnicodeString::fromUTF8(icu::StringPiece(utf8.data(), static_cast<int32_t>(utf8.size()))));
}

std::string Utf8ToAnsi(std::string_view utf8, bool& lossy) {
  lossy = false;
  if (IsAscii(utf8)) return std::string(utf8);
  // The table's characters all come back unchanged: only the converter's way can lose one.
  if (std::optional<std::string> converted = TableUtf8ToAnsi(utf8)) return std::move(*converted);
  std::string ansi =
      ToAnsi(icu::UnicodeString::fromUTF8(icu::StringPiece(utf8.data(), static_cast<int32_t>(utf8.size()))));
  // A text that comes back unchanged kept every character.
  lossy = AnsiToUtf8(ansi) != utf8;
  return ansi;
}

std::optional<std::string> Utf8ToAnsiExact(std::string_view utf8, char32_t* first_unmappable) {
  if (IsAscii(utf8)) return std::string(utf8);
  std::string ansi;
  ansi.reserve(utf8.size());
  const auto length = static_cast<int32_t>(utf8.size());
  int32_t at = 0;
  while (at < length) {
    const int32_t start = at;
    UChar32 code_point = 0;
    U8_NEXT(reinterpret_cast<const uint8_t*>(utf8.data()), at, length, code_point);
    // A character has a Windows-1250 byte when it comes back unchanged from that byte; the
    // converter's substitute '?' or a near-miss fallback does not.
    std::string byte;
    if (code_point >= 0) byte = ToAnsi(icu::UnicodeString(code_point));
    std::string back;
    if (byte.size() == 1) FromAnsi(byte).toUTF8String(back);
    if (code_point < 0 || byte.size() != 1 ||
        back != utf8.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(at - start))) {
      if (first_unmappable != nullptr)
        *first_unmappable = code_point < 0 ? U'\uFFFD' : static_cast<char32_t>(code_point);
      return std::nullopt;
    }
    ansi += byte;
  }
  return ansi;
}

std::u16string AnsiToUtf16(std::string_view ansi) {
  const icu::UnicodeString s = FromAnsi(ansi);
  return std::u16string(s.getBuffer(), static_cast<std::size_t>(s.length()));
}

std::string Utf16ToAnsi(std::u16string_view utf16) {
  return ToAnsi(icu::UnicodeString(utf16.data(), static_cast<int32_t>(utf16.size())));
}

std::string Utf16ToAnsi(std::u16string_view utf16, bool& lossy) {
  std::string ansi = Utf16ToAnsi(utf16);
  lossy = std::any_of(utf16.begin(), utf16.end(), [](char16_t c) { return c >= 0x80; }) &&
          AnsiToUtf16(ansi) != utf16;
  return ansi;
}

std::u16string Utf8ToUtf16(std::string_view utf8) {
  const icu::UnicodeString s =
      icu::UnicodeString::fromUTF8(icu::StringPiece(utf8.data(), static_cast<int32_t>(utf8.size())));
  return std::u16string(s.getBuffer(), static_cast<std::size_t>(s.length()));
}

std::string Utf16ToUtf8(std::u16string_view utf16) {
  std::string out;
  icu::UnicodeString(utf16.data(), static_cast<int32_t>(utf16.size())).toUTF8String(out);
  return out;
}

namespace {

/// True for a byte that continues a UTF-8 sequence (10xxxxxx).
bool IsContinuation(char c) { return (static_cast<unsigned char>(c) & 0xC0U) == 0x80U; }

/// The offset after the character that starts at `at`: a lead byte takes the continuation
/// bytes its form announces, as many as there are; any other byte stands alone.
std::size_t NextChar(std::string_view utf8, std::size_t at) {
  const auto lead = static_cast<unsigned char>(utf8[at]);
  std::size_t length = 1;
  if (lead >= 0xF0U && lead <= 0xF4U) {
    length = 4;
  } else if (lead >= 0xE0U) {
    length = lead <= 0xEFU ? 3 : 1;
  } else if (lead >= 0xC2U) {
    length = 2;
  }
  std::size_t next = at + 1;
  while (next < utf8.size() && next < at + length && IsContinuation(utf8[next])) ++next;
  return next;
}

}  // namespace

bool IsMultibyteUtf8(std::string_view text) {
  bool multibyte = false;
  for (std::size_t at = 0; at < text.size();) {
    const auto lead = static_cast<unsigned char>(text[at]);
    const std::size_t next = NextChar(text, at);
    if (lead >= 0x80U) {
      const std::size_t wanted = lead >= 0xF0U ? 4 : lead >= 0xE0U ? 3 : 2;
      if (lead < 0xC2U || lead > 0xF4U || next - at != wanted) return false;
      multibyte = true;
    }
    at = next;
  }
  return multibyte;
}

std::size_t Utf8Length(std::string_view utf8) {
  std::size_t count = 0;
  for (std::size_t at = 0; at < utf8.size(); at = NextChar(utf8, at)) ++count;
  return count;
}

std::size_t Utf8Offset(std::string_view utf8, std::size_t index) {
  std::size_t at = 0;
  for (std::size_t i = 0; i < index && at < utf8.size(); ++i) at = NextChar(utf8, at);
  return at;
}

std::string_view Utf8Substr(std::string_view utf8, std::size_t first, std::size_t count) {
  const std::size_t start = Utf8Offset(utf8, first);
  const std::string_view rest = utf8.substr(start);
  return rest.substr(0, Utf8Offset(rest, count));
}

}  // namespace tamaril::text
