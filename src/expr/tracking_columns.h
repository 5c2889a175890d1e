#pragma once

#include <string_view>

namespace tamaril::expr {

/// True for the four columns the replication adds to keep track of inserts and updates
/// ("rep_Date_Inserted", "rep_Signature_Inserted", "rep_Date_Updated",
/// "rep_Signature_Updated"), compared ignoring case.
bool IsTrackingColumn(std::string_view column_name);

}  // namespace tamaril::expr
