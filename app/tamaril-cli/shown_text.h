#pragma once

#include <string>
#include <string_view>

#include "dataset/field.h"

namespace tamaril::cli {

// How the commands that list rules and runs show stored values on one line.

/// A rule text on one line: every line break (CR LF, CR or LF) becomes the two characters "\n";
/// the rest stays as stored (Windows-1250).
std::string ShownRuleText(std::string_view stored);

/// A field's value as the listings show it: "-" for NULL, a date as RRRR-MM-DDTHH:MM:SS.mmm,
/// anything else as its text (Windows-1250).
std::string ShownValue(const dataset::TField& field);

}  // namespace tamaril::cli
