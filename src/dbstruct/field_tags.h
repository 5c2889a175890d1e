#pragma once

#include "dataset/field.h"

namespace tamaril::dbstruct {

/// True when the field's change flag (its Tag) asks for the field to be written: any tag but 0.
/// Both structure forms and the merger read the flags through this one test. Never throws.
inline bool IsFieldToWrite(const dataset::TField& field) noexcept { return field.Tag != 0; }

}  // namespace tamaril::dbstruct
