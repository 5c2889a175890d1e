#pragma once

// Helpers shared by the dataset tests.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dataset/errors.h"
#include "dataset/memory_table.h"
#include "support/expect_throw_msg.h"

namespace tamaril::dataset::fixtures {

/// Opens `table` with the layout (by default Name String 10, Num Integer) and appends one row
/// per number: Name "r<n>", Num n.
inline void Fill(TQVMMemoryTable& table, const std::vector<int>& numbers,
                 const std::string& layout = "Name;String;10;0;Num;Integer;0;0") {
  table.SetFieldLayout(layout);
  table.Open();
  for (int n : numbers) {
    table.Append();
    table.FieldByName("Name").SetAsString("r" + std::to_string(n));
    table.FieldByName("Num").SetAsInteger(n);
    table.Post();
  }
}

/// The Num values of every row, in dataset order.
inline std::vector<int> Nums(TDataSet& dataset) {
  std::vector<int> result;
  for (dataset.First(); !dataset.Eof(); dataset.Next()) {
    result.push_back(static_cast<int>(dataset.FieldByName("Num").AsInteger()));
  }
  return result;
}

}  // namespace tamaril::dataset::fixtures
