#include <QLabel>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QThread>
#include <QTimer>
#include <QTreeWidget>

#include <filesystem>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

#include "core/login.h"
#include "core/login_cache.h"
#include "core/maindata.h"
#include "core/paths.h"
#include "core/repl_options.h"
#include "dbaccess/connection.h"
#include "dbstruct/structure_cache.h"
#include "replication/conflict_list.h"
#include "replication/database_open.h"
#include "run_to_end.h"
#include "scripted_boxes.h"
#include "shots.h"
#include "ui/error_windows.h"
#include "ui/export_window.h"
#include "ui/import_window.h"

namespace tamaril::ui::shots {
namespace {

namespace fs = std::filesystem;

// The demo's databases are SQLite: nobody is asked for a login.
struct NoLogin : core::LoginPrompt {
  bool ShowLoginDialog(core::tLoginObject&, std::string_view) override { return false; }
};

// What the run windows work with, for the whole program.
struct Session {
  Session() {
    core::LoadReplOptions();
    data = std::make_unique<core::TMaindata>(prompt);
  }
  NoLogin prompt;
  core::LoginCache logins{prompt};
  dbaccess::Connection connection;
  dbaccess::Connection master;
  dbstruct::tDBStructureCache cache;
  const replication::tDatabaseAccess access{logins, connection, master, cache};
  std::unique_ptr<core::TMaindata> data;
};

Session& TheSession() {
  static Session session;
  return session;
}

// Runs the window to its end and hides it, so that the picture shows it finished.
void RunToTheEnd(TRunProgress& window) { testing::ExecAndClose(window); }

// Runs `window` to its end and returns a picture of it taken while it ran: the first time it
// let events through with `ready` holding.
std::unique_ptr<QWidget> PictureWhileRunning(TRunProgress& window, const std::function<bool()>& ready) {
  QPixmap picture;
  QTimer sampler;
  QObject::connect(&sampler, &QTimer::timeout, &window, [&] {
    if (!picture.isNull() || !window.Running()) return;
    // An import's rows are counted beside its merge: the count is given time to end.
    if (window.Progress_DB->isVisible() && window.Progress_DB->maximum() == 0) QThread::msleep(10);
    if (ready()) picture = window.grab();
  });
  sampler.start(0);
  RunToTheEnd(window);
  if (picture.isNull()) throw std::runtime_error("the run never showed what the picture needs");
  auto label = std::make_unique<QLabel>();
  label->setPixmap(picture);
  label->setFixedSize(picture.size());
  return label;
}

// A bar partly filled: begun and not done.
bool PartlyFilled(const QProgressBar* bar) {
  return bar->isVisible() && bar->maximum() > 0 && bar->value() > bar->minimum() &&
         bar->value() < bar->maximum();
}

// The import of the demo's third round once more, confirmed: the refused customer's invoice and
// items are conflicts again. `watch`, when given, is asked about the window while it runs.
std::unique_ptr<TfrmImport> ImportWithConflicts(const std::function<void(TfrmImport&)>& watch = {}) {
  Session& session = TheSession();
  const fs::path folder = core::ProgramFolder();
  const fs::path archive = folder / "IMPORTS" / "DEMO-3.ZR2";
  fs::copy_file(folder / "PREVZATE" / "DEMO-3.ZR2", archive, fs::copy_options::overwrite_existing);
  testing::tScriptedBoxes boxes;
  // The archive went in before: it is merged again only when the person says so.
  boxes.Answer(tMsgButton::Yes);
  boxes.Answer(tMsgButton::NoToAll);
  boxes.AnswerDefaults();
  auto window = std::make_unique<TfrmImport>(session.access, session.data->ImportDefTbl);
  if (watch) {
    watch(*window);
  } else {
    RunToTheEnd(*window);
  }
  fs::remove(archive);
  if (window->Result().Conflicts->Empty()) throw std::runtime_error("the import found no conflicts");
  return window;
}

// A finished import whose conflicts the windows below show; a base of theirs, so that it is
// there before them and goes after them.
struct ImportHolder {
  std::unique_ptr<TfrmImport> import = ImportWithConflicts();
};

class ErrorsShot : private ImportHolder, public TFormErrors {
 public:
  ErrorsShot() : TFormErrors(import->Conflicts()) {
    SetRunOutcome(import->Result());
    ListView1->setCurrentItem(ListView1->topLevelItem(0));
  }
};

class RecordsShot : private ImportHolder, public TfrmProblemRecords {
 public:
  RecordsShot() : TfrmProblemRecords(*import->Conflicts().Groups().front()->rows) {}
};

}  // namespace

void AddRunWindowShots(std::vector<tShot>& shots) {
  shots.push_back({"run_export_finished", [] {
                     Session& session = TheSession();
                     session.data->ExportDefTbl.First();
                     auto window = std::make_unique<TfrmExport>(session.access, session.data->ExportDefTbl);
                     RunToTheEnd(*window);
                     return std::unique_ptr<QWidget>(std::move(window));
                   }});
  shots.push_back({"run_export_running", [] {
                     Session& session = TheSession();
                     session.data->ExportDefTbl.First();
                     TfrmExport window(session.access, session.data->ExportDefTbl);
                     // Mid-run: the whole-run bar begun and not full, beside the table's bar.
                     return PictureWhileRunning(window, [&window] {
                       return PartlyFilled(window.Progress_DB) && window.Progress_Tbl->isVisible();
                     });
                   }});
  shots.push_back({"run_import_running", [] {
                     std::unique_ptr<QWidget> picture;
                     ImportWithConflicts([&picture](TfrmImport& window) {
                       // Mid-run: counters above 0, the archive named, its bar partly filled.
                       picture = PictureWhileRunning(window, [&window] {
                         return window.CounterText(0, false).toInt() > 0 &&
                                !window.LabelArchive->text().isEmpty() && PartlyFilled(window.Progress_DB);
                       });
                     });
                     return picture;
                   }});
  shots.push_back({"run_import_conflicts", [] { return std::unique_ptr<QWidget>(ImportWithConflicts()); }});
  shots.push_back({"run_errors", [] { return std::unique_ptr<QWidget>(std::make_unique<ErrorsShot>()); }});
  shots.push_back(
      {"run_problem_records", [] { return std::unique_ptr<QWidget>(std::make_unique<RecordsShot>()); }});
}

}  // namespace tamaril::ui::shots
