#include "ui/app_idle.h"

namespace tamaril::ui {

tListState ListStateOf(const dataset::TDataSet* list, bool import) {
  tListState state;
  if (list == nullptr) return state;
  state.exists = true;
  state.active = list->Active();
  state.state = list->State();
  state.empty = list->IsEmpty() || !list->Active();
  state.import = import;
  return state;
}

tActionStates ActionStates(const tListState& list, bool hintsql_visible) {
  using dataset::DataSetState;
  const bool usable = list.exists && list.active && list.state != DataSetState::Edit &&
                      list.state != DataSetState::Insert && list.state != DataSetState::SetKey;
  const bool filled = usable && !list.empty;
  tActionStates states;
  states.NewRecord = usable;
  states.EditRecord = filled;
  states.DeleteRecord = filled;
  states.ItemInfo = filled;
  states.PerformExport = filled && !list.import;
  states.PerformImport = filled && list.import;
  states.EditOptions = true;
  states.DevHintsql = hintsql_visible;
  return states;
}

}  // namespace tamaril::ui
