#include "replication/start_up.h"

#include "core/common_info.h"
#include "core/maindata.h"
#include "core/repl_options.h"
#include "dbstruct/comparison_hook.h"
#include "dbstruct/structure_cache.h"
#include "expr/rule_lists.h"
#include "expr/tracking_columns.h"

namespace tamaril::replication {

void InitRuleLanguage() {
  expr::InitRuleLists();
  dbstruct::IgnoreFieldInComparison = expr::IsTrackingColumn;
}

tProgramData StartProgram(core::LoginPrompt& prompt) {
  tProgramData data;
  data.StructureCache = std::make_unique<dbstruct::tDBStructureCache>();
  core::ReadCommonInfo();
  InitRuleLanguage();
  data.Maindata = std::make_unique<core::TMaindata>(prompt);
  core::InitializeReplOptions();
  return data;
}

}  // namespace tamaril::replication
