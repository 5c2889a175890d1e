#pragma once

#include "dataset/dataset.h"

namespace tamaril::ui {

/// What the main window's action states depend on: the definition list on the active tab.
struct tListState {
  bool exists = false;  ///< a tab is active and has its list
  bool active = false;  ///< the list is open
  dataset::DataSetState state = dataset::DataSetState::Inactive;
  bool empty = true;    ///< the list holds no definition
  bool import = false;  ///< the list is the import list
};

/// Which of the main window's actions are enabled.
struct tActionStates {
  bool NewRecord = false;
  bool EditRecord = false;
  bool DeleteRecord = false;
  bool ItemInfo = false;
  bool PerformExport = false;
  bool PerformImport = false;
  bool EditOptions = false;
  bool DevHintsql = false;

  bool operator==(const tActionStates&) const = default;
};

/// The state of `list` (null: no tab active) as the enabling table sees it.
tListState ListStateOf(const dataset::TDataSet* list, bool import);

/// The enabling table: a usable list (open, not being edited) enables new; a non-empty one
/// also edit, delete and item information, and the run of its own side; the settings are
/// always enabled and the setup script whenever its action is visible.
tActionStates ActionStates(const tListState& list, bool hintsql_visible);

}  // namespace tamaril::ui
