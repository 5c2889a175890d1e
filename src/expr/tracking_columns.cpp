#include "expr/tracking_columns.h"

#include "dataset/dataset.h"

namespace tamaril::expr {

bool IsTrackingColumn(std::string_view column_name) {
  for (const std::string_view tracking :
       {"rep_Date_Inserted", "rep_Signature_Inserted", "rep_Date_Updated", "rep_Signature_Updated"}) {
    if (dataset::SameFieldName(column_name, tracking)) return true;
  }
  return false;
}

}  // namespace tamaril::expr
