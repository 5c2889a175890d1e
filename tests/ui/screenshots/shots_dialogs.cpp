#include <QComboBox>
#include <QLineEdit>

#include <memory>

#include "core/common_info.h"
#include "core/login.h"
#include "core/maindata.h"
#include "core/repl_options.h"
#include "shots.h"
#include "text/encoding.h"
#include "ui/about_box.h"
#include "ui/connection_editor.h"
#include "ui/def_edit_dialog.h"
#include "ui/login_dialog.h"
#include "ui/options_dialog.h"
#include "ui/qt_text.h"

namespace tamaril::ui::shots {
namespace {

class NoPrompt : public core::LoginPrompt {
 public:
  bool ShowLoginDialog(core::tLoginObject&, std::string_view) override { return false; }
};

// The demo's definition lists, shared by the header editors' pictures.
core::TMaindata& DemoData() {
  static NoPrompt prompt;
  static core::TMaindata data(prompt);
  return data;
}

// The first definition of a list put into edit state, as the main window hands it over.
template <typename Dialog>
std::unique_ptr<QWidget> DefinitionEditor(bool import) {
  core::TMaindata& data = DemoData();
  auto& list = data.DefinitionList(import);
  if (list.State() != dataset::DataSetState::Browse) list.Cancel();
  list.First();
  list.Edit();
  auto dialog = std::make_unique<Dialog>(data);
  dialog->FillDatabaseList();
  return dialog;
}

}  // namespace

void AddDialogShots(std::vector<tShot>& shots) {
  shots.push_back({"options_dialog", [] {
                     core::LoadReplOptions();
                     auto dialog = std::make_unique<TfrmOptions>();
                     dialog->LoadFrom(core::ReplOptions());
                     return std::unique_ptr<QWidget>(std::move(dialog));
                   }});
  shots.push_back({"login_dialog", [] {
                     static core::tLoginObject login{"sa", ""};
                     auto dialog = std::make_unique<TfrmLogin>(login);
                     dialog->SetLastError(QStringLiteral("Přihlášení uživatele „sa“ se nezdařilo."));
                     return std::unique_ptr<QWidget>(std::move(dialog));
                   }});
  shots.push_back({"def_export_dialog", [] { return DefinitionEditor<TfrmDefExport>(false); }});
  shots.push_back({"def_import_dialog", [] { return DefinitionEditor<TfrmDefImport>(true); }});
  shots.push_back({"connection_editor_sqlite", [] {
                     auto& list = DemoData().ExportDefTbl;
                     list.First();
                     auto editor = std::make_unique<TfrmConnectionEditor>();
                     editor->SetConnectionString(FromAnsi(list.FieldByName("ConnectionString").Text()));
                     return std::unique_ptr<QWidget>(std::move(editor));
                   }});
  shots.push_back({"connection_editor_sqlserver", [] {
                     auto editor = std::make_unique<TfrmConnectionEditor>();
                     editor->SetConnectionString(QStringLiteral(
                         "Provider=SQLOLEDB.1;Data Source=sklad-server,1433;Initial Catalog=Účetnictví;"
                         "User ID=replikace;Persist Security Info=False"));
                     return std::unique_ptr<QWidget>(std::move(editor));
                   }});
  shots.push_back({"about_box", [] {
                     core::ReadCommonInfo();
                     if (core::CommonWebSite.empty()) core::CommonWebSite = "https://tamaril.example.cz";
                     if (core::CommonMail.empty()) core::CommonMail = "podpora@tamaril.example.cz";
                     return std::unique_ptr<QWidget>(CreateAboutBox(nullptr));
                   }});
}

}  // namespace tamaril::ui::shots
