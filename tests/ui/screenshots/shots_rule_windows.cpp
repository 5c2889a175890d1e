#include <QTabWidget>

#include <memory>
#include <string>

#include "core/paths.h"
#include "dataset/field.h"
#include "dbaccess/connection.h"
#include "dbstruct/sqlite/sqlite_structure.h"
#include "definitions/definition_rules.h"
#include "replication/start_up.h"
#include "shots.h"
#include "ui/rules_window.h"

namespace tamaril::ui::shots {
namespace {

// The rules of the demo's definition in one of its databases, owned by the window that shows
// them and freed after it.
class RulesHolder : public QObject {
 public:
  RulesHolder(const std::string& database, bool import) {
    replication::InitRuleLanguage();
    connection_.SetConnectionString(
        "Provider=SQLite;Data Source=" + core::IncludeTrailingDelimiter(core::ProgramFolder()) + database);
    connection_.Open();
    connection_.SetDefaultDatabase(database);
    structure_.Scan();
    rules_ = definitions::CreateDefinitionRules(import);
    rules_->Open("DEMO", connection_, structure_);
  }
  ~RulesHolder() override { rules_->Close(); }
  RulesHolder(const RulesHolder&) = delete;
  RulesHolder& operator=(const RulesHolder&) = delete;

  definitions::tDefinitionRules& Rules() { return *rules_; }

 private:
  dbaccess::Connection connection_;
  dbstruct::tSQLiteDatabase_Structure structure_{&connection_};
  std::unique_ptr<definitions::tDefinitionRules> rules_;
};

// The window on `page` (0: the history, 1: the rules), on the row of `table` when given.
template <typename Window>
std::unique_ptr<QWidget> RulesWindow(const std::string& database, bool import, int page, const char* caption,
                                     const std::string& table = {}) {
  auto holder = std::make_unique<RulesHolder>(database, import);
  if (!table.empty()) holder->Rules().Rules().Locate("TABLENAME", dataset::Variant::String(table));
  auto window = std::make_unique<Window>(holder->Rules());
  holder->setParent(window.get());
  (void)holder.release();  // the window owns it now
  window->setWindowTitle(QString::fromUtf8(caption));
  window->PageControl->setCurrentIndex(page);
  return window;
}

}  // namespace

void AddRuleWindowShots(std::vector<tShot>& shots) {
  shots.push_back(
      {"rules_export_history",
       [] { return RulesWindow<Tfrm_DBEXPORT>("klient", false, 0, "Nastavení exportu do centra Centrum"); }});
  shots.push_back({"rules_export_rules", [] {
                     return RulesWindow<Tfrm_DBEXPORT>("klient", false, 1,
                                                       "Nastavení exportu do centra Centrum", "ODBERATELE");
                   }});
  shots.push_back({"rules_import_history", [] {
                     return RulesWindow<Tfrm_DBIMPORT>("centrum", true, 0,
                                                       "Nastavení importu od klienta Pobočka Brno");
                   }});
  shots.push_back({"rules_import_rules", [] {
                     return RulesWindow<Tfrm_DBIMPORT>(
                         "centrum", true, 1, "Nastavení importu od klienta Pobočka Brno", "ODBERATELE");
                   }});
}

}  // namespace tamaril::ui::shots
