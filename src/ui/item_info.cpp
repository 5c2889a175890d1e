#include "ui/item_info.h"

#include <QProgressBar>
#include <QPushButton>

#include <memory>

#include "core/maindata.h"
#include "dbstruct/structure_cache.h"
#include "definitions/definition_rules.h"
#include "replication/database_open.h"
#include "ui/message_box.h"
#include "ui/progress_window.h"
#include "ui/qt_text.h"
#include "ui/rules_window.h"

namespace tamaril::ui {

QString tItemInfoTarget::Caption() const {
  const QString format = Import ? QStringLiteral("Nastavení importu od klienta %1")
                                : QStringLiteral("Nastavení exportu do centra %1");
  return format.arg(FromAnsi(PartnerName));
}

tItemInfoTarget ItemInfoTarget(core::TMaindata& maindata, bool import) {
  dataset::TDataSet& list = maindata.DefinitionList(import);
  tItemInfoTarget target;
  target.Import = import;
  target.ConnectionString = list.FieldByName("ConnectionString").Text();
  target.DatabaseName = list.FieldByName("DatabaseName").AsString();
  target.Signature = list.FieldByName("Signature").AsString();
  target.PartnerName = list.FieldByName(import ? "ClientName" : "CenterName").AsString();
  return target;
}

bool ShowItemInfo(QWidget* parent, core::TMaindata& maindata, dbstruct::tDBStructureCache& cache,
                  bool import) {
  maindata.StoreLists();
  const tItemInfoTarget target = ItemInfoTarget(maindata, import);
  maindata.ADOConnection.Close();
  const tDisconnectGuard disconnect(maindata.ADOConnection);

  const replication::tDatabaseAccess access{maindata.Logins(), maindata.ADOConnection,
                                            maindata.MASTERConnection, cache};
  const replication::tReadyFor side =
      import ? replication::tReadyFor::Import : replication::tReadyFor::Export;
  const bool analyse = cache.Find(target.ConnectionString, target.DatabaseName) == nullptr;
  dbstruct::tDatabase_Structure* structure = nullptr;
  if (analyse) {
    const auto progress = std::make_unique<TbaseDBProgress>(parent);
    progress->setWindowTitle(QStringLiteral("Analyzuji strukturu databáze"));
    progress->btnStorno->setVisible(true);
    progress->Progress_Tbl->setVisible(false);
    progress->show();
    progress->raise();
    structure = &replication::OpenDatabaseStructure(access, target.ConnectionString, target.DatabaseName,
                                                    side, progress->ScanProgress());
  } else {
    structure =
        &replication::OpenDatabaseStructure(access, target.ConnectionString, target.DatabaseName, side);
  }
  OpenRulesWindow(parent, maindata, *structure, target);
  return analyse;
}

void OpenRulesWindow(QWidget* parent, core::TMaindata& maindata, dbstruct::tDatabase_Structure& structure,
                     const tItemInfoTarget& target) {
  dbaccess::Connection& connection =
      structure.Connection() != nullptr ? *structure.Connection() : maindata.ADOConnection;
  tBoxRuleQuestions questions(parent);  // outlives the rules that ask it
  const std::unique_ptr<definitions::tDefinitionRules> rules =
      definitions::CreateDefinitionRules(target.Import);
  rules->SetQuestions(&questions);
  rules->Open(target.Signature, connection, structure);
  {
    std::unique_ptr<tRulesWindow> window;
    if (target.Import) {
      window = std::make_unique<Tfrm_DBIMPORT>(*rules, parent);
    } else {
      window = std::make_unique<Tfrm_DBEXPORT>(*rules, parent);
    }
    window->setWindowTitle(target.Caption());
    questions.SetParent(window.get());
    window->exec();
  }
  rules->Close();
}

}  // namespace tamaril::ui
