#include "replication/zlib_text.h"

#include <array>
#include <cstring>
#include <string>
#include <utility>

#include "text/encoding.h"

namespace tamaril::replication {
namespace {

// The messages zlib puts in z_stream::msg, with what they mean for a reader of an archive.
constexpr std::array<std::pair<const char*, const char*>, 20> kMessages = {{
    {"incorrect header check", "chybná hlavička komprimovaných dat"},
    {"unknown compression method", "neznámá metoda komprese"},
    {"invalid window size", "neplatná velikost okna komprese"},
    {"unknown header flags set", "neznámé příznaky v hlavičce komprimovaných dat"},
    {"header crc mismatch", "nesouhlasí kontrolní součet hlavičky"},
    {"invalid block type", "neplatný typ bloku komprimovaných dat"},
    {"invalid stored block lengths", "neplatné délky nekomprimovaného bloku"},
    {"too many length or distance symbols", "příliš mnoho symbolů délek nebo vzdáleností"},
    {"invalid code lengths set", "neplatná sada délek kódů"},
    {"invalid bit length repeat", "neplatné opakování délky kódu"},
    {"invalid code -- missing end-of-block", "neplatný kód: chybí konec bloku"},
    {"invalid literal/lengths set", "neplatná sada kódů znaků a délek"},
    {"invalid distances set", "neplatná sada kódů vzdáleností"},
    {"invalid literal/length code", "neplatný kód znaku nebo délky"},
    {"invalid distance code", "neplatný kód vzdálenosti"},
    {"invalid distance too far back", "vzdálenost sahá před začátek dat"},
    {"incorrect data check", "nesouhlasí kontrolní součet dat"},
    {"incorrect length check", "nesouhlasí kontrolní délka dat"},
    {"internal error: inflate stream corrupt", "vnitřní chyba dekomprese"},
    {"internal error: deflate stream corrupt", "vnitřní chyba komprese"},
}};

// What a return code of zlib means; empty for one it does not document.
std::string CodeText(int code) {
  switch (code) {
    case Z_NEED_DICT: return "komprimovaná data vyžadují slovník";
    case Z_ERRNO: return "chyba souboru";
    case Z_STREAM_ERROR: return "chybný stav komprimovaného proudu";
    case Z_DATA_ERROR: return "poškozená komprimovaná data";
    case Z_MEM_ERROR: return "nedostatek paměti";
    case Z_BUF_ERROR: return "komprimovaná data nepokračují";
    case Z_VERSION_ERROR: return "nekompatibilní verze knihovny zlib";
    default: return {};
  }
}

}  // namespace

std::string ZlibReasonText(const z_stream& z, int code) {
  if (z.msg != nullptr) {
    for (const auto& [english, czech] : kMessages) {
      if (std::strcmp(z.msg, english) == 0) return text::Utf8ToAnsi(czech);
    }
  }
  const std::string meaning = CodeText(code);
  return text::Utf8ToAnsi(meaning.empty() ? "chyba knihovny zlib č. " + std::to_string(code) : meaning);
}

}  // namespace tamaril::replication
