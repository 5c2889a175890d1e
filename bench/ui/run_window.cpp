// Times the import run inside the desktop's import window against the same run without a
// window, to show what the live display (bars, counters, rate and time, repainted while the run
// goes on) costs the run. The demo's folder is built by the command-line program; its client
// gets N new customers, which one export carries into an archive; the center is put back to its
// state before each import, and the two ways take turns.
//
//   bench_run_window [ROWS [ROUNDS]]   (default 100000 rows, 3 rounds)
//
// The window runs on Qt's offscreen platform unless QT_QPA_PLATFORM says otherwise. Prints the
// run's own time (from its result) and the process's CPU time of each import, the medians and
// the window's extra cost in per cent of the run without it.

#include <sys/resource.h>

#include <QApplication>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/login.h"
#include "core/login_cache.h"
#include "core/maindata.h"
#include "core/paths.h"
#include "core/repl_options.h"
#include "dbaccess/connection.h"
#include "dbstruct/structure_cache.h"
#include "replication/export_run.h"
#include "replication/import_run.h"
#include "replication/run_host.h"
#include "text/encoding.h"
#include "ui/import_window.h"
#include "ui/message_box.h"

namespace {

using namespace tamaril;
namespace fs = std::filesystem;

struct NoLogin : core::LoginPrompt {
  bool ShowLoginDialog(core::tLoginObject&, std::string_view) override { return false; }
};

// Declines every backup ("Ne všem") and confirms everything else with its default button.
class DecliningBoxes : public ui::tMessageBoxService {
 public:
  DecliningBoxes() : before_(ui::SetMessageBoxes(this)) {}
  ~DecliningBoxes() override { ui::SetMessageBoxes(before_); }
  DecliningBoxes(const DecliningBoxes&) = delete;
  DecliningBoxes& operator=(const DecliningBoxes&) = delete;

  ui::tMsgButton Show(QWidget*, const ui::tMessage& message) override {
    const auto& buttons = message.buttons;
    if (std::find(buttons.begin(), buttons.end(), ui::tMsgButton::NoToAll) != buttons.end())
      return ui::tMsgButton::NoToAll;
    return message.default_button;
  }

 private:
  ui::tMessageBoxService* before_;
};

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const auto seconds = [](const timeval& time) {
    return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6;
  };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

struct Measured {
  double run = 0;  ///< the run's own seconds
  double cpu = 0;  ///< the process's CPU seconds over the import
};

class Bench {
 public:
  explicit Bench(std::string dir) : dir_(std::move(dir)) {}

  void Prepare(long rows) {
    rows_ = rows;
    core::SetProgramFolder(dir_);
    core::LoadReplOptions();
    data_ = std::make_unique<core::TMaindata>(prompt_);
    {
      dbaccess::Connection client;
      client.SetConnectionString("Provider=SQLite;Data Source=" + dir_ + "/klient");
      client.Open();
      client.SetDefaultDatabase("klient");
      client.BeginTransaction();
      auto insert =
          client.Prepare("INSERT INTO ODBERATELE (ID, NAZEV, MESTO, KATEGORIE) VALUES (:i, :n, :m, 'A')");
      const std::string city = text::Utf8ToAnsi("Třebíč");
      for (long id = 1000; id < 1000 + rows; ++id) {
        insert->SetParameter("i", dbaccess::Value::Integer(id));
        insert->SetParameter("n",
                             dbaccess::Value::Text(text::Utf8ToAnsi("Odběratel č. ") + std::to_string(id)));
        insert->SetParameter("m", dbaccess::Value::Text(city));
        insert->Execute();
      }
      insert.reset();
      client.Commit();
    }
    replication::tSilentRunHost host;
    dbstruct::tDBStructureCache cache;
    core::LoginCache logins(prompt_);
    dbaccess::Connection connection;
    dbaccess::Connection master;
    const replication::tDatabaseAccess access{logins, connection, master, cache};
    replication::tExportRun run(access, core::ReplOptions(), host);
    const replication::tExportResult exported =
        run.Run({"DEMO", "Provider=SQLite;Data Source=" + dir_ + "/klient", "klient", "Centrum"});
    if (exported.Outcome != replication::tExportOutcome::Success) throw std::runtime_error(exported.Text);
    fs::copy_file(exported.ArchivePath, dir_ + "/IMPORTS/DEMO-4.ZR2");
    fs::copy_file(Center(), dir_ + "/centrum-before.db");
  }

  /// How an import is run: without a window, without one but with a progress listener (which
  /// counts the archive's rows beside the merge, as the window's bar needs), in the window.
  enum class Way { Plain, Counted, Window };

  Measured Import(Way way) {
    const bool in_window = way == Way::Window;
    fs::copy_file(dir_ + "/centrum-before.db", Center(), fs::copy_options::overwrite_existing);
    dbstruct::tDBStructureCache cache;
    core::LoginCache logins(prompt_);
    dbaccess::Connection connection;
    dbaccess::Connection master;
    const replication::tDatabaseAccess access{logins, connection, master, cache};
    const double cpu = CpuSeconds();
    replication::tImportResult result;
    if (in_window) {
      DecliningBoxes boxes;
      data_->ImportDefTbl.First();
      ui::TfrmImport window(access, data_->ImportDefTbl);
      QTimer closer;
      QObject::connect(&closer, &QTimer::timeout, &window, [&window] {
        if (window.Finished() && window.isVisible()) window.btnStorno->click();
      });
      closer.start(50);
      window.exec();
      result.Outcome = window.Result().Outcome;
      result.Text = window.Result().Text;
      result.Total = window.Result().Total;
      result.Seconds = window.Result().Seconds;
    } else {
      replication::tSilentRunHost host;
      replication::tImportRunOptions options;
      if (way == Way::Counted)
        options.progress = [](replication::tImportProgressStep, const replication::tImportProgress&) {};
      replication::tImportRun run(access, core::ReplOptions(), data_->DefinitionList(true), host, options);
      result = run.Run();
    }
    const Measured measured{result.Seconds, CpuSeconds() - cpu};
    // The demo's earlier conflict comes again; every new customer must go in.
    if (result.Outcome == replication::tImportOutcome::Failed || result.Total.appended < rows_)
      throw std::runtime_error("the import did not take the new customers: " + text::AnsiToUtf8(result.Text));
    return measured;
  }

 private:
  std::string Center() const { return dir_ + "/centrum/centrum.db"; }

  std::string dir_;
  long rows_ = 0;
  NoLogin prompt_;
  std::unique_ptr<core::TMaindata> data_;
};

}  // namespace

int main(int argc, char** argv) {
  const long rows = argc > 1 ? std::atol(argv[1]) : 100000;
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
  if (rows <= 0 || rounds <= 0) {
    std::fprintf(stderr, "usage: bench_run_window [ROWS [ROUNDS]]\n");
    return 2;
  }
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);

  char pattern[] = "/tmp/bench_run_window-XXXXXX";
  const char* temp = mkdtemp(pattern);
  if (temp == nullptr) return 1;
  const std::string dir = std::string(temp) + "/demo";
  const std::string command =
      std::string("HOME='") + temp + "' '" + TAMARIL_CLI_PROGRAM + "' demo '" + dir + "' >/dev/null 2>&1";
  int status = 1;
  try {
    if (std::system(command.c_str()) != 0) throw std::runtime_error("tamaril-cli demo failed");
    Bench bench(dir);
    bench.Prepare(rows);
    const std::vector<std::pair<Bench::Way, const char*>> ways{{Bench::Way::Plain, "without a window"},
                                                               {Bench::Way::Counted, "counted, no window"},
                                                               {Bench::Way::Window, "in the window"}};
    std::vector<std::vector<double>> runs(ways.size()), cpus(ways.size());
    for (int round = 1; round <= rounds; ++round) {
      for (std::size_t way = 0; way < ways.size(); ++way) {
        const Measured measured = bench.Import(ways[way].first);
        std::printf("round %d, %-20s run %6.2f s, cpu %6.2f s\n", round, ways[way].second, measured.run,
                    measured.cpu);
        runs[way].push_back(measured.run);
        cpus[way].push_back(measured.cpu);
      }
    }
    std::printf("%ld new customers, medians:\n", rows);
    for (std::size_t way = 0; way < ways.size(); ++way)
      std::printf("  %-20s run %6.2f s, cpu %6.2f s\n", ways[way].second, Median(runs[way]),
                  Median(cpus[way]));
    // The window needs the count for its bar; what it adds beyond that is its display.
    std::printf("the window's display beyond the count: run %+.1f %%, cpu %+.1f %%\n",
                (Median(runs[2]) / Median(runs[1]) - 1) * 100, (Median(cpus[2]) / Median(cpus[1]) - 1) * 100);
    std::printf("the window with its count against no window: run %+.1f %%, cpu %+.1f %%\n",
                (Median(runs[2]) / Median(runs[0]) - 1) * 100, (Median(cpus[2]) / Median(cpus[0]) - 1) * 100);
    status = 0;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "bench_run_window: %s\n", error.what());
  }
  fs::remove_all(temp);
  return status;
}
