#include <memory>

#include "core/login.h"
#include "core/maindata.h"
#include "dbstruct/structure_cache.h"
#include "shots.h"
#include "ui/main_window.h"

namespace tamaril::ui::shots {
namespace {

class tNoLogin : public core::LoginPrompt {
 public:
  bool ShowLoginDialog(core::tLoginObject&, std::string_view) override { return false; }
};

// The main window together with the lists and the structure cache it works on.
class tShotMainWindow : public QWidget {
 public:
  explicit tShotMainWindow(bool export_tab)
      : maindata_(std::make_unique<core::TMaindata>(prompt_)),
        window_(std::make_unique<TfrmMain>(*maindata_, cache_, this)) {
    window_->setWindowFlags(Qt::Widget);
    window_->PageControl->setCurrentIndex(export_tab ? 1 : 0);
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

}  // namespace

void AddMainWindowShots(std::vector<tShot>& shots) {
  shots.push_back(
      {QStringLiteral("main_window_imports"), [] { return std::make_unique<tShotMainWindow>(false); }});
  shots.push_back(
      {QStringLiteral("main_window_exports"), [] { return std::make_unique<tShotMainWindow>(true); }});
}

}  // namespace tamaril::ui::shots
