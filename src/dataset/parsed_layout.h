#pragma once

#include <string>

#include "dataset/field_layout.h"

namespace tamaril::dataset {

/// A layout text parsed into its definitions and their places in a record buffer.
struct TParsedFieldLayout {
  TFieldDefs Defs;
  TFieldDescs Descs;
};

/// ParseFieldLayout and BuildFieldDescs of `layout`, kept per thread for the layouts seen last:
/// a dataset given the same layout for every row looked up parses it once. The reference holds
/// until the next call in the thread. Throws what ParseFieldLayout throws (nothing is kept then).
const TParsedFieldLayout& ParseFieldLayoutOnce(const std::string& layout, bool wide_as_string);

}  // namespace tamaril::dataset
