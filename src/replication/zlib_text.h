#pragma once

#include <zlib.h>

#include <string>

namespace tamaril::replication {

/// Why zlib refused, in Czech (Windows-1250): its message of the stream `z` ("incorrect data
/// check" gives "nesouhlasí kontrolní součet dat"), else the meaning of the return `code`.
std::string ZlibReasonText(const z_stream& z, int code);

}  // namespace tamaril::replication
