#include <QBoxLayout>
#include <QTabWidget>
#include <QTemporaryDir>

#include <ctime>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>

#include "core/login.h"
#include "core/maindata.h"
#include "core/paths.h"
#include "dataset/field.h"
#include "dbaccess/connection.h"
#include "dbstruct/structure_cache.h"
#include "shots.h"
#include "text/encoding.h"
#include "ui/main_window.h"
#include "ui/status_page.h"

namespace tamaril::ui::shots {
namespace {

class tNoLogin : public core::LoginPrompt {
 public:
  bool ShowLoginDialog(core::tLoginObject&, std::string_view) override { return false; }
};

// The main window on its branch status page, read from the demo's databases and folders.
class tShotStatusPage : public QWidget {
 public:
  tShotStatusPage()
      : maindata_(std::make_unique<core::TMaindata>(prompt_)),
        window_(std::make_unique<TfrmMain>(*maindata_, cache_, this)) {
    window_->setWindowFlags(Qt::Widget);
    window_->resize(860, 640);
    window_->PageControl->setCurrentWidget(window_->pageStatus);
    window_->AppIdle();
    resize(window_->size());
  }

 protected:
  void resizeEvent(QResizeEvent* event) override {
    QWidget::resizeEvent(event);
    window_->resize(size());
  }

 private:
  tNoLogin prompt_;
  dbstruct::tDBStructureCache cache_;
  std::unique_ptr<core::TMaindata> maindata_;
  std::unique_ptr<TfrmMain> window_;
};

// The local time `days` days and `hours` hours ago as the databases store it.
std::string Ago(int days, int hours) {
  const std::time_t then = std::time(nullptr) - static_cast<std::time_t>(days) * 86400 - hours * 3600;
  std::tm local{};
  localtime_r(&then, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S.000", &local);
  return text;
}

// The page alone over a copy of the demo's center to which three more branches deliver: one
// that misses an archive, one long silent and one whose database is gone. The definitions are
// added to the lists in memory only; the demo's list files stay as they are.
class tShotBranchesNeedingAttention : public QWidget {
 public:
  tShotBranchesNeedingAttention() : maindata_(std::make_unique<core::TMaindata>(prompt_)) {
    namespace fs = std::filesystem;
    if (!folder_.isValid()) throw std::runtime_error("no temporary folder");
    const std::string databases = folder_.path().toStdString();
    fs::copy_file(core::IncludeTrailingDelimiter(core::ProgramFolder()) + "centrum/centrum.db",
                  databases + "/centrum.db");
    const std::string connection_string = "Provider=SQLite;Data Source=" + databases;
    dbaccess::Connection center;
    center.SetConnectionString(connection_string);
    center.Open();
    center.SetDefaultDatabase("centrum");
    int import_no = 1;
    const auto log = [&](const char* signature, int export_no, const std::string& date, int rows) {
      const std::string number = std::to_string(import_no++);
      center.Execute(
          std::string("INSERT INTO rep_IMPORTLOG (Signature, IMPORTNO, IMPORTDATE, CLIENTEXPORTNO, "
                      "CLIENTEXPORTDATE) VALUES ('") +
          signature + "', " + number + ", '" + date + "', " + std::to_string(export_no) + ", '" + date +
          "')");
      center.Execute(std::string("INSERT INTO rep_IMPORTLOGDETAIL (Signature, IMPORTNO, TABLENAME, "
                                 "COUNT_APPENDED, COUNT_UPDATED) VALUES ('") +
                     signature + "', " + number + ", 'FAKTURY', " + std::to_string(rows / 3) + ", " +
                     std::to_string(rows - rows / 3) + ")");
    };
    for (int day = 20; day >= 1; --day) {
      const int export_no = 21 - day;
      if (export_no == 17) continue;  // never arrived
      log("ZLIN", export_no, Ago(day, 2), 40 + (export_no * 37) % 90);
    }
    for (int day = 30; day >= 12; day -= 3) log("CHEB", (33 - day) / 3, Ago(day, 5), 15 + day);

    const auto add = [&](const char* signature, const char* client, const std::string& connection,
                         const char* database) {
      dataset::TDataSet& list = maindata_->ImportDefTbl;
      list.Append();
      list.FieldByName("Signature").SetAsString(signature);
      list.FieldByName("ClientName").SetAsString(text::Utf8ToAnsi(client));
      list.FieldByName("ConnectionString").SetText(connection);
      list.FieldByName("DatabaseName").SetAsString(database);
      list.Post();
    };
    add("ZLIN", "Pobočka Zlín", connection_string, "centrum");
    add("CHEB", "Pobočka Cheb", connection_string, "centrum");
    add("KOLIN", "Pobočka Kolín", connection_string, "archiv");

    auto* layout = new QVBoxLayout(this);  // NOLINT(cppcoreguidelines-owning-memory): owned by this
    layout->setContentsMargins(0, 0, 0, 0);
    page_ = new TfraBranchStatus(*maindata_, this);  // NOLINT(cppcoreguidelines-owning-memory)
    layout->addWidget(page_);
    page_->Refresh();
    resize(860, 740);
  }

 private:
  QTemporaryDir folder_;
  tNoLogin prompt_;
  std::unique_ptr<core::TMaindata> maindata_;
  TfraBranchStatus* page_ = nullptr;
};

}  // namespace

void AddStatusPageShots(std::vector<tShot>& shots) {
  shots.push_back({QStringLiteral("status_page"), [] { return std::make_unique<tShotStatusPage>(); }});
  shots.push_back({QStringLiteral("status_page_attention"),
                   [] { return std::make_unique<tShotBranchesNeedingAttention>(); }});
}

}  // namespace tamaril::ui::shots
