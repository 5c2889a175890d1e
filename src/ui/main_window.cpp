#include "ui/main_window.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QHeaderView>
#include <QIcon>
#include <QMenuBar>
#include <QPalette>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QStyle>
#include <QTabWidget>
#include <QTimer>
#include <QToolBar>
#include <QVBoxLayout>

#include <string>
#include <utility>

#include "core/common_info.h"
#include "core/maindata.h"
#include "core/paths.h"
#include "dataset/field.h"
#include "dbstruct/structure_cache.h"
#include "dbstruct/structure_forms.h"
#include "replication/database_open.h"
#include "replication/setup_script.h"
#include "text/error.h"
#include "ui/about_box.h"
#include "ui/app_look.h"
#include "ui/dataset_model.h"
#include "ui/def_edit_dialog.h"
#include "ui/export_window.h"
#include "ui/help.h"
#include "ui/import_window.h"
#include "ui/item_info.h"
#include "ui/message_box.h"
#include "ui/options_dialog.h"
#include "ui/progress_window.h"
#include "ui/qt_child.h"
#include "ui/qt_text.h"
#include "ui/status_page.h"

namespace tamaril::ui {
namespace {

constexpr int kIdleInterval = 200;  // ms between two idle refreshes of the action states

// The icon of the desktop theme, else the program's own, else the style's.
QIcon ActionIcon(const char* theme_name, QStyle::StandardPixmap fallback) {
  return ThemeIcon(QString::fromLatin1(theme_name), QApplication::style()->standardIcon(fallback));
}

// An action of `owner`, with its caption as its hint.
QAction* NewAction(QWidget* owner, const QString& caption, const QIcon& icon,
                   const QKeySequence& shortcut = {}) {
  QAction* action = owner->addAction(icon, caption);
  action->setToolTip(caption);
  action->setStatusTip(caption);
  if (!shortcut.isEmpty()) action->setShortcut(shortcut);
  return action;
}

// The question asked before hint.sql is written; the blank before each line break is part of it.
const QString& SetupScriptQuestion() {
  static const QString question = QStringLiteral(
      "Tato volba vytvori v adresari aplikace soubor hint.sql obsahujici \r\n"
      "castecny skript pro tvorbu replikacnich objektu vybrane databaze. \r\n"
      "(Tabulky, ktere je treba ignorovat, musi byt zapsany v souboru IGNORE.TXT) \r\n"
      "Pokracovat? ");
  return question;
}

}  // namespace

TfrmMain::TfrmMain(core::TMaindata& maindata, dbstruct::tDBStructureCache& cache, QWidget* parent)
    : QMainWindow(parent),
      PageControl(new QTabWidget(this)),
      gridImport(new tDBGrid(PageControl)),
      gridExport(new tDBGrid(PageControl)),
      maindata_(maindata),
      cache_(cache),
      source_import_(std::make_unique<dataset::TDataSource>(&maindata.ImportDefTbl)),
      source_export_(std::make_unique<dataset::TDataSource>(&maindata.ExportDefTbl)),
      model_import_(new tDataSetModel(this)),
      model_export_(new tDataSetModel(this)),
      idle_timer_(new QTimer(this)) {
  setWindowTitle(MainCaption());
  CreateActions();
  CreateMenusAndToolBar();
  CreateTabs();
  statusBar();
  resize(760, 480);

  InstallHelpKey();
  InstallShortcutTips();
  connect(idle_timer_, &QTimer::timeout, this, &TfrmMain::AppIdle);
  idle_timer_->start(kIdleInterval);
  AppIdle();
}

TfrmMain::~TfrmMain() {
  // The models let go of the data sources before the sources go.
  model_import_->SetDataSource(nullptr);
  model_export_->SetDataSource(nullptr);
}

QString TfrmMain::MainCaption() {
  return QStringLiteral("Tamaril MS SQL - verze %1.%2%3")
      .arg(core::AppVersionMajor)
      .arg(core::AppVersionMinor)
      .arg(core::AppVersionRelease);
}

void TfrmMain::CreateActions() {
  act_NewRecord = NewAction(this, QStringLiteral("Nová definice"),
                            ActionIcon("document-new", QStyle::SP_FileIcon), QKeySequence(Qt::Key_F2));
  act_EditRecord = NewAction(this, QStringLiteral("Upravit definici"),
                             ActionIcon("document-properties", QStyle::SP_FileDialogDetailedView),
                             QKeySequence(Qt::Key_F4));
  act_DeleteRecord = NewAction(this, QStringLiteral("Odstranit definici"),
                               ActionIcon("edit-delete", QStyle::SP_TrashIcon), QKeySequence(Qt::Key_F3));
  act_Exit =
      NewAction(this, QStringLiteral("Konec"), ActionIcon("application-exit", QStyle::SP_DialogCloseButton),
                QKeySequence(Qt::ALT | Qt::Key_X));
  act_EditOptions = NewAction(this, QStringLiteral("Nastavení programu"),
                              ActionIcon("preferences-system", QStyle::SP_FileDialogListView));
  act_ItemInfo =
      NewAction(this, QStringLiteral("Informace o položce"),
                ActionIcon("document-open", QStyle::SP_FileDialogInfoView), QKeySequence(Qt::Key_F9));
  act_PerformExport = NewAction(this, QStringLiteral("Provést export"),
                                ActionIcon("go-up", QStyle::SP_ArrowUp), QKeySequence(Qt::Key_F5));
  act_PerformImport = NewAction(this, QStringLiteral("Provést import"),
                                ActionIcon("go-down", QStyle::SP_ArrowDown), QKeySequence(Qt::Key_F6));
  act_HelpContent =
      NewAction(this, QStringLiteral("Obsah"), ActionIcon("help-faq", QStyle::SP_DialogHelpButton));
  act_HelpContent->setToolTip(QStringLiteral("Nápověda"));
  act_HelpContent->setStatusTip(QStringLiteral("Nápověda"));
  act_About = NewAction(this, QStringLiteral("O aplikaci..."),
                        ActionIcon("help-about", QStyle::SP_MessageBoxInformation));
  act_dev_Hintsql = NewAction(this, QStringLiteral("Vytvořit kostru skriptu pro replikaci"),
                              ActionIcon("text-x-script", QStyle::SP_FileDialogContentsView));
  act_BranchStatus =
      NewAction(this, QStringLiteral("Stav poboček"), ActionIcon("view-refresh", QStyle::SP_BrowserReload));

  connect(act_NewRecord, &QAction::triggered, this, [this] { Perform([this] { act_NewRecordExecute(); }); });
  connect(act_EditRecord, &QAction::triggered, this,
          [this] { Perform([this] { act_EditRecordExecute(); }); });
  connect(act_DeleteRecord, &QAction::triggered, this,
          [this] { Perform([this] { act_DeleteRecordExecute(); }); });
  connect(act_Exit, &QAction::triggered, this, &QWidget::close);
  connect(act_EditOptions, &QAction::triggered, this,
          [this] { Perform([this] { act_EditOptionsExecute(); }); });
  connect(act_ItemInfo, &QAction::triggered, this,
          [this] { PerformExclusive([this] { act_ItemInfoExecute(); }); });
  connect(act_PerformExport, &QAction::triggered, this,
          [this] { PerformExclusive([this] { act_PerformExportExecute(); }); });
  connect(act_PerformImport, &QAction::triggered, this,
          [this] { PerformExclusive([this] { act_PerformImportExecute(); }); });
  connect(act_HelpContent, &QAction::triggered, this,
          [this] { Perform([this] { act_HelpContentExecute(); }); });
  connect(act_About, &QAction::triggered, this, [this] { Perform([this] { act_AboutExecute(); }); });
  connect(act_dev_Hintsql, &QAction::triggered, this,
          [this] { PerformExclusive([this] { act_dev_HintsqlExecute(); }); });
  connect(act_BranchStatus, &QAction::triggered, this, &TfrmMain::act_BranchStatusExecute);
}

void TfrmMain::CreateMenusAndToolBar() {
  menuRecord = menuBar()->addMenu(QStringLiteral("&Záznam"));
  menuRecord->addAction(act_NewRecord);
  menuRecord->addAction(act_EditRecord);
  menuRecord->addAction(act_DeleteRecord);
  menuRecord->addSeparator();
  menuRecord->addAction(act_Exit);

  menuTamaril = menuBar()->addMenu(QStringLiteral("&Tamaril"));
  menuTamaril->addAction(act_EditOptions);
  menuTamaril->addAction(act_ItemInfo);
  menuTamaril->addSeparator();
  menuTamaril->addAction(act_PerformExport);
  menuTamaril->addAction(act_PerformImport);
  menuTamaril->addSeparator();
  menuTamaril->addAction(act_BranchStatus);

  menuHelp = menuBar()->addMenu(QStringLiteral("Nápo&věda"));
  menuHelp->addAction(act_HelpContent);
  menuHelp->addAction(act_About);

  // The developer's menu stays hidden; its action keeps working for whoever triggers it.
  menuDevelop = menuBar()->addMenu(QStringLiteral("DEVELOP"));
  menuDevelop->addAction(act_dev_Hintsql);
  menuDevelop->menuAction()->setVisible(false);

  ToolBar = addToolBar(QStringLiteral("Nástroje"));
  ToolBar->setObjectName(QStringLiteral("ToolBar"));
  ToolBar->setMovable(false);
  ToolBar->addAction(act_NewRecord);
  ToolBar->addAction(act_EditRecord);
  ToolBar->addAction(act_DeleteRecord);
  ToolBar->addSeparator();
  ToolBar->addAction(act_EditOptions);
  ToolBar->addAction(act_ItemInfo);
  ToolBar->addAction(act_PerformExport);
  ToolBar->addAction(act_PerformImport);
  ToolBar->addSeparator();
  ToolBar->addAction(act_HelpContent);
}

void TfrmMain::CreateTabs() {
  model_import_->SetDataSource(source_import_.get(), {"Signature", "ClientName", "DatabaseName"});
  model_export_->SetDataSource(source_export_.get(), {"Signature", "CenterName", "DatabaseName"});
  const QColor info_tip = palette().color(QPalette::ToolTipBase);
  for (auto [grid, model] : {std::pair{gridImport, model_import_}, std::pair{gridExport, model_export_}}) {
    model->SetColumnBackground(0, info_tip);
    grid->SetDataSetModel(model);
    grid->horizontalHeader()->setStretchLastSection(true);
    connect(grid, &tDBGrid::RowActivated, this, [this] {
      if (act_EditRecord->isEnabled()) act_EditRecord->trigger();
    });
  }
  PageControl->addTab(gridImport, QStringLiteral("Definice importů"));
  PageControl->addTab(gridExport, QStringLiteral("Definice exportů"));
  pageStatus = MakeChild<TfraBranchStatus>(maindata_, PageControl);
  PageControl->addTab(pageStatus, QStringLiteral("Stav poboček"));
  PageControl->setCurrentIndex(0);
  connect(PageControl, &QTabWidget::currentChanged, this, &TfrmMain::AppIdle);
  setCentralWidget(PageControl);
}

dataset::TQVMStoredMemoryDataSet* TfrmMain::CurrentDefinitionList(bool& import) const {
  import = false;
  const QWidget* page = PageControl->currentWidget();
  if (page == gridImport) {
    import = true;
    return &maindata_.ImportDefTbl;
  }
  if (page == gridExport) return &maindata_.ExportDefTbl;
  return nullptr;
}

void TfrmMain::AppIdle() {
  bool import = false;
  const dataset::TDataSet* list = CurrentDefinitionList(import);
  // While exclusive work goes on, nothing else may start, not even from the menu or a shortcut.
  const tActionStates states =
      Busy() ? tActionStates{} : ActionStates(ListStateOf(list, import), act_dev_Hintsql->isVisible());
  act_NewRecord->setEnabled(states.NewRecord);
  act_EditRecord->setEnabled(states.EditRecord);
  act_DeleteRecord->setEnabled(states.DeleteRecord);
  act_ItemInfo->setEnabled(states.ItemInfo);
  act_PerformExport->setEnabled(states.PerformExport);
  act_PerformImport->setEnabled(states.PerformImport);
  act_EditOptions->setEnabled(states.EditOptions);
  act_dev_Hintsql->setEnabled(states.DevHintsql);
  act_BranchStatus->setEnabled(!Busy());
  pageStatus->act_Refresh->setEnabled(!Busy());
  if (open_editor_ != nullptr) open_editor_->UpdateActions();
}

template <typename Work>
void TfrmMain::Perform(Work&& work) {
  RunAction(this, std::forward<Work>(work));
  // A run, a changed list or changed settings leave the branch status behind.
  pageStatus->MarkOutdated();
  AppIdle();
}

template <typename Work>
void TfrmMain::PerformExclusive(Work&& work) {
  // A second start while one runs (a queued shortcut, a menu reached by a nested event loop).
  if (Busy()) return;
  ++busy_;
  AppIdle();
  Perform(std::forward<Work>(work));
  --busy_;
  AppIdle();
}

void TfrmMain::RunDefinitionEditor(dataset::TQVMStoredMemoryDataSet& list, bool import) {
  const auto cancel_pending = [&list] {
    if (list.State() == dataset::DataSetState::Edit || list.State() == dataset::DataSetState::Insert)
      list.Cancel();
  };
  try {
    std::unique_ptr<TfrmDefEdit> editor;
    if (import) {
      editor = std::make_unique<TfrmDefImport>(maindata_, this);
    } else {
      editor = std::make_unique<TfrmDefExport>(maindata_, this);
    }
    open_editor_ = editor.get();
    editor->exec();
    open_editor_ = nullptr;
  } catch (...) {
    open_editor_ = nullptr;
    cancel_pending();
    throw;
  }
  cancel_pending();
}

void TfrmMain::act_NewRecordExecute() {
  bool import = false;
  dataset::TQVMStoredMemoryDataSet* list = CurrentDefinitionList(import);
  if (list == nullptr) return;
  list->Append();
  RunDefinitionEditor(*list, import);
}

void TfrmMain::act_EditRecordExecute() {
  bool import = false;
  dataset::TQVMStoredMemoryDataSet* list = CurrentDefinitionList(import);
  if (list == nullptr || list->IsEmpty()) return;
  list->Edit();
  RunDefinitionEditor(*list, import);
}

void TfrmMain::act_DeleteRecordExecute() {
  bool import = false;
  dataset::TQVMStoredMemoryDataSet* list = CurrentDefinitionList(import);
  if (list == nullptr || list->IsEmpty()) return;
  const tMsgButton answer =
      MessageDlg(this, tMsgKind::Warning, QStringLiteral("Opravdu chcete odstranit vybranou definici?"),
                 {tMsgButton::Yes, tMsgButton::Abort});
  if (answer != tMsgButton::Yes) return;
  std::string signature = list->FieldByName("Signature").AsString();
  list->Delete();
  maindata_.ForgetRemovedDefinition(import, std::move(signature));
}

void TfrmMain::act_ItemInfoExecute() {
  bool import = false;
  if (CurrentDefinitionList(import) == nullptr) return;
  ShowItemInfo(this, maindata_, cache_, import);
}

void TfrmMain::act_PerformExportExecute() {
  maindata_.StoreLists();
  maindata_.ADOConnection.Close();
  const tDisconnectGuard disconnect(maindata_.ADOConnection);
  const replication::tDatabaseAccess access{maindata_.Logins(), maindata_.ADOConnection,
                                            maindata_.MASTERConnection, cache_};
  TfrmExport window(access, maindata_.ExportDefTbl, this);
  window.exec();
}

void TfrmMain::act_PerformImportExecute() {
  maindata_.StoreLists();
  maindata_.ADOConnection.Close();
  maindata_.MASTERConnection.Close();
  const tDisconnectGuard disconnect(maindata_.ADOConnection);
  const tDisconnectGuard disconnect_master(maindata_.MASTERConnection);
  const replication::tDatabaseAccess access{maindata_.Logins(), maindata_.ADOConnection,
                                            maindata_.MASTERConnection, cache_};
  TfrmImport window(access, maindata_.ImportDefTbl, this);
  window.exec();
}

void TfrmMain::act_EditOptionsExecute() { EditReplOptions(this); }

void TfrmMain::act_HelpContentExecute() { OpenHelp(this, QStringLiteral("index.html")); }

void TfrmMain::act_AboutExecute() { ShowAboutBox(this); }

void TfrmMain::act_BranchStatusExecute() {
  if (PageControl->currentWidget() == pageStatus) {
    pageStatus->act_Refresh->trigger();
  } else {
    pageStatus->MarkOutdated();
    PageControl->setCurrentWidget(pageStatus);
  }
}

void TfrmMain::act_dev_HintsqlExecute() {
  bool import = false;
  dataset::TQVMStoredMemoryDataSet* list = CurrentDefinitionList(import);
  if (list == nullptr || list->IsEmpty()) return;
  const tItemInfoTarget target = ItemInfoTarget(maindata_, import);
  if (target.ConnectionString.empty() || target.DatabaseName.empty()) return;
  replication::SetupOptions options;
  tMessage question;
  question.kind = tMsgKind::Confirmation;
  question.text = SetupScriptQuestion();
  question.buttons = {tMsgButton::Yes, tMsgButton::Cancel};
  question.default_button = tMsgButton::Yes;
  question.check_box = QStringLiteral(
      "Přidat sloupec rep_RowGuid tabulkám, jejichž záznamy nelze identifikovat (nemají RowGuid ani "
      "jednoduchý celočíselný klíč), aby se přenášely i jejich výmazy");
  question.check_state = &options.add_rowguid;
  if (MessageBoxes().Show(this, question) != tMsgButton::Yes) return;
  const std::vector<std::string> ignore = replication::ReadIgnoreList(core::ProgramFolder());
  const std::string file_name =
      core::IncludeTrailingDelimiter(core::ProgramFolder()) + replication::kSetupScriptFile;

  maindata_.ADOConnection.Close();
  maindata_.ConnectDatabase(maindata_.ADOConnection, target.ConnectionString, target.DatabaseName);
  // A fresh scan of its own: the script describes the database as it is now.
  std::unique_ptr<dbstruct::tDatabase_Structure> structure =
      dbstruct::CreateDatabaseStructure(maindata_.ADOConnection);
  {
    TbaseDBProgress progress(this);
    progress.setWindowTitle(QStringLiteral("Analyzuji strukturu databáze"));
    progress.btnStorno->setVisible(true);
    progress.Progress_Tbl->setVisible(false);
    progress.show();
    progress.raise();
    structure->OnProgress = progress.ScanProgress();
    structure->Scan();
    structure->OnProgress = nullptr;
    // "Storno" after the last table's progress still means no script.
    if (progress.Stopped()) throw EAbort();
  }
  replication::GenerateSetupScript(*structure, ignore, file_name, options);
  ShowMessage(this, QStringLiteral("hint.sql úspěšně vytvořen"));
}

bool TfrmMain::StoreListsBeforeExit() {
  try {
    maindata_.StoreLists();
    return true;
  } catch (...) {
    ShowException(this, std::current_exception());
  }
  return MessageDlg(this, tMsgKind::Confirmation,
                    QStringLiteral("Seznamy definic se nepodařilo uložit. Přesto ukončit program?"),
                    {tMsgButton::Yes, tMsgButton::No}, tMsgButton::No) == tMsgButton::Yes;
}

void TfrmMain::closeEvent(QCloseEvent* event) {
  // A definition left half-edited is not written.
  for (dataset::TDataSet* list : {static_cast<dataset::TDataSet*>(&maindata_.ImportDefTbl),
                                  static_cast<dataset::TDataSet*>(&maindata_.ExportDefTbl)}) {
    if (list->State() == dataset::DataSetState::Edit || list->State() == dataset::DataSetState::Insert) {
      list->Cancel();
    }
  }
  if (StoreListsBeforeExit()) {
    idle_timer_->stop();
    event->accept();
  } else {
    event->ignore();
  }
}

}  // namespace tamaril::ui
