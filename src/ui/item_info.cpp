#include "ui/item_info.h"

#include <QProgressBar>
#include <QPushButton>

#include <algorithm>
#include <exception>
#include <memory>
#include <vector>

#include "core/maindata.h"
#include "core/paths.h"
#include "dbstruct/structure_cache.h"
#include "definitions/definition_rules.h"
#include "replication/database_open.h"
#include "replication/readiness.h"
#include "replication/readiness_report.h"
#include "replication/setup_script.h"
#include "text/encoding.h"
#include "text/error.h"
#include "ui/message_box.h"
#include "ui/progress_window.h"
#include "ui/qt_text.h"
#include "ui/rules_window.h"

namespace tamaril::ui {

namespace {

// The notes a box lists; the rest are counted.
constexpr std::size_t kShownNotes = 25;

// The readiness report of the database for its side, structure only (the data would take long).
std::vector<replication::ReadinessNote> ReadinessNotes(dbstruct::tDatabase_Structure& structure,
                                                       bool import) {
  const std::vector<std::string> ignore = replication::ReadIgnoreList(core::ProgramFolder());
  return replication::ReadinessReport(structure, ignore, {.import = import, .with_data = false});
}

// "Upozornění:" and a line per note ("TABLE: text"), at most kShownNotes of them (Windows-1250).
std::string NotesText(const std::vector<replication::ReadinessNote>& notes) {
  std::string text = replication::ReadinessNotesHeading();
  const std::size_t shown = std::min(notes.size(), kShownNotes);
  for (std::size_t i = 0; i < shown; ++i) text += "\n" + notes[i].table + ": " + notes[i].text;
  if (notes.size() > shown) {
    text += text::Utf8ToAnsi("\n… a dalších " + std::to_string(notes.size() - shown) +
                             " (všechna vypíše tamaril-cli check)");
  }
  return text;
}

// Tells what the readiness report found in a warning box; a report that fails is told in an
// error box. Neither keeps the rules from opening.
void ShowReadinessNotes(QWidget* parent, dbstruct::tDatabase_Structure& structure, bool import) {
  std::vector<replication::ReadinessNote> notes;
  try {
    notes = ReadinessNotes(structure, import);
  } catch (...) {
    ShowException(parent, std::current_exception());
    return;
  }
  if (notes.empty()) return;
  MessageDlg(parent, tMsgKind::Warning, FromAnsi(NotesText(notes)), {tMsgButton::Ok});
}

// The message of a database not ready for replication as the box shows it: the carriage
// return between its two lines as a line break, then the readiness report's notes when the
// structure is at hand.
std::string NotReadyText(const replication::DatabaseNotReadyError& error,
                         dbstruct::tDatabase_Structure* structure, bool import) {
  std::string message = error.what();
  std::replace(message.begin(), message.end(), '\r', '\n');
  if (structure == nullptr) return message;
  try {
    const std::vector<replication::ReadinessNote> notes = ReadinessNotes(*structure, import);
    if (!notes.empty()) message += "\n\n" + NotesText(notes);
  } catch (const std::exception&) {  // the message of the check comes first; the notes are extra
  }
  return message;
}

}  // namespace

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
  try {
    if (analyse) {
      const auto progress = std::make_unique<TbaseDBProgress>(parent);
      progress->setWindowTitle(QStringLiteral("Analyzuji strukturu databáze"));
      progress->btnStorno->setVisible(true);
      progress->Progress_Tbl->setVisible(false);
      progress->show();
      progress->raise();
      structure = &replication::OpenDatabaseStructure(access, target.ConnectionString, target.DatabaseName,
                                                      side, progress->ScanProgress());
      // "Storno" after the last table's progress: the person asked for nothing more to open.
      if (progress->Stopped()) throw EAbort();
    } else {
      structure =
          &replication::OpenDatabaseStructure(access, target.ConnectionString, target.DatabaseName, side);
    }
  } catch (const replication::DatabaseNotReadyError& error) {
    // The structure was cached before the check failed.
    throw replication::DatabaseNotReadyError(
        NotReadyText(error, cache.Find(target.ConnectionString, target.DatabaseName), import));
  }
  ShowReadinessNotes(parent, *structure, import);
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
