#pragma once

#include <QMainWindow>

#include <memory>

#include "ui/app_idle.h"

class QAction;
class QCloseEvent;
class QMenu;
class QTabWidget;
class QTimer;
class QToolBar;

namespace tamaril::core {
class TMaindata;
}
namespace tamaril::dataset {
class TDataSource;
class TQVMStoredMemoryDataSet;
}  // namespace tamaril::dataset
namespace tamaril::dbstruct {
class tDBStructureCache;
}

namespace tamaril::ui {

class TfrmDefEdit;
class TfraBranchStatus;
class tDBGrid;
class tDataSetModel;

/// The program's main window: the import and the export definitions on two tabs, and the
/// actions that start every piece of work on the definition of the active tab.
class TfrmMain : public QMainWindow {
  Q_OBJECT

 public:
  /// A window over the lists of `maindata` and the structures of `cache` (both borrowed). Does
  /// not touch the settings; the program's start-up has made them ready.
  TfrmMain(core::TMaindata& maindata, dbstruct::tDBStructureCache& cache, QWidget* parent = nullptr);
  ~TfrmMain() override;

  /// "Tamaril MS SQL - verze 2.13": the caption with the program's version.
  static QString MainCaption();

  /// The list on the active tab, and in `import` whether it is the import list; null when no
  /// tab is active.
  dataset::TQVMStoredMemoryDataSet* CurrentDefinitionList(bool& import) const;

  /// Enables the actions for the state of the current list (see ActionStates) and lets an
  /// open definition editor refresh its own actions. Runs by itself whenever the program is idle.
  void AppIdle();

  /// Writes both lists; asks whether to end anyway when that fails. True when the window may close.
  bool StoreListsBeforeExit();

  /// True while a structure analysis or a run goes on: every action is disabled meanwhile.
  bool Busy() const noexcept { return busy_ > 0; }

  QAction* act_NewRecord = nullptr;
  QAction* act_EditRecord = nullptr;
  QAction* act_DeleteRecord = nullptr;
  QAction* act_Exit = nullptr;
  QAction* act_EditOptions = nullptr;
  QAction* act_ItemInfo = nullptr;
  QAction* act_PerformExport = nullptr;
  QAction* act_PerformImport = nullptr;
  QAction* act_HelpContent = nullptr;
  QAction* act_About = nullptr;
  QAction* act_dev_Hintsql = nullptr;
  QAction* act_BranchStatus = nullptr;  ///< "Stav poboček": shows the page and reads it again

  QMenu* menuRecord = nullptr;   ///< "&Záznam"
  QMenu* menuTamaril = nullptr;  ///< "&Tamaril"
  QMenu* menuHelp = nullptr;     ///< "Nápo&věda"
  QMenu* menuDevelop = nullptr;  ///< "DEVELOP", hidden
  QToolBar* ToolBar = nullptr;
  QTabWidget* PageControl = nullptr;  ///< "Definice importů", then "Definice exportů"
  tDBGrid* gridImport = nullptr;
  tDBGrid* gridExport = nullptr;
  TfraBranchStatus* pageStatus = nullptr;  ///< the third tab, "Stav poboček"

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void CreateActions();
  void CreateMenusAndToolBar();
  void CreateTabs();
  /// Runs an action's work: what it throws goes to the standard error box, then AppIdle runs.
  template <typename Work>
  void Perform(Work&& work);
  /// Perform for work that analyses a database or runs a transfer: nothing else starts until
  /// it ends.
  template <typename Work>
  void PerformExclusive(Work&& work);

  void act_NewRecordExecute();
  void act_EditRecordExecute();
  void act_DeleteRecordExecute();
  void act_ItemInfoExecute();
  void act_PerformExportExecute();
  void act_PerformImportExecute();
  void act_EditOptionsExecute();
  void act_HelpContentExecute();
  void act_AboutExecute();
  void act_dev_HintsqlExecute();
  void act_BranchStatusExecute();
  /// Shows the header editor of the current list, whose record is in edit or insert state;
  /// a record still unsaved when it closes, or when anything fails, is cancelled.
  void RunDefinitionEditor(dataset::TQVMStoredMemoryDataSet& list, bool import);

  core::TMaindata& maindata_;
  dbstruct::tDBStructureCache& cache_;
  std::unique_ptr<dataset::TDataSource> source_import_;
  std::unique_ptr<dataset::TDataSource> source_export_;
  tDataSetModel* model_import_;
  tDataSetModel* model_export_;
  QTimer* idle_timer_;
  TfrmDefEdit* open_editor_ = nullptr;
  int busy_ = 0;  ///< exclusive work going on (PerformExclusive)
};

}  // namespace tamaril::ui
