#include "replication/run_host.h"

#include <algorithm>

#include "text/error.h"

namespace tamaril::replication {

int ProgressPercent(long long position, long long count) {
  if (count <= 0) return 0;
  position = std::clamp(position, 0LL, count);
  const long long scaled = position * 100;
  long long quotient = scaled / count;
  const long long twice_remainder = 2 * (scaled % count);
  if (twice_remainder > count || (twice_remainder == count && quotient % 2 != 0)) ++quotient;
  return static_cast<int>(quotient);
}

void tRunHost::CheckCancel(const std::string& question) {
  if (!CancelRequested()) return;
  if (Confirm(question)) throw EAbort();
  ClearCancel();
}

void tRunHost::ReportTable(int position, const std::string& table_name, int table_count) {
  if (table_name != table_label_) {
    table_label_ = table_name;
    SetTableName(table_name);
  }
  SetTablePosition(position, table_count);
  SetRunProgress(ProgressPercent(position, table_count));
  SetTableProgress(0);
  ProcessEvents();
}

void tRunHost::ReportRow(long long position, long long row_count) {
  SetTableProgress(ProgressPercent(position, row_count));
  ProcessEvents();
}

void tRunHost::ClearLabels() {
  table_label_.clear();
  SetActivity({});
  SetTableName({});
}

}  // namespace tamaril::replication
