// Posts N records into an indexed memory table and locates each of them.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "dataset/memory_table.h"

int main(int argc, char** argv) {
  using namespace tamaril::dataset;
  const int count = argc > 1 ? std::atoi(argv[1]) : 1000000;
  TQVMMemoryTable table;
  table.SetFieldLayout("Key;Integer;0;0;Name;String;20;0");
  table.SetIndexFields("Key");
  table.Open();
  TField& key = table.FieldByName("Key");
  TField& name = table.FieldByName("Name");
  using Clock = std::chrono::steady_clock;
  const auto post_start = Clock::now();
  for (int i = 0; i < count; ++i) {
    table.Append();
    key.SetAsInteger(i);
    name.SetAsString("row");
    table.Post();
  }
  const double post_seconds = std::chrono::duration<double>(Clock::now() - post_start).count();
  const auto locate_start = Clock::now();
  int found = 0;
  for (int i = 0; i < count; ++i)
    found += table.Locate("Key", Variant::Integer((i * 7919LL) % count)) ? 1 : 0;
  const double locate_seconds = std::chrono::duration<double>(Clock::now() - locate_start).count();
  std::printf("records: %d, found: %d\n", count, found);
  std::printf("posts/s: %.0f\n", count / post_seconds);
  std::printf("locates/s: %.0f\n", count / locate_seconds);
  return found == count ? 0 : 1;
}
