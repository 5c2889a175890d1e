#include <QApplication>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QVBoxLayout>

#include <memory>
#include <stdexcept>

#include "core/login.h"
#include "core/maindata.h"
#include "core/paths.h"
#include "dbstruct/structure_cache.h"
#include "shots.h"
#include "ui/dataset_model.h"
#include "ui/help.h"
#include "ui/main_window.h"
#include "ui/qt_text.h"

namespace tamaril::ui::shots {
namespace {

class tNoLogin : public core::LoginPrompt {
 public:
  bool ShowLoginDialog(core::tLoginObject&, std::string_view) override { return false; }
};

// The main window on the demo's lists after F1, beside the help browser the key opened.
class tShotHelpFromMainWindow : public QWidget {
 public:
  tShotHelpFromMainWindow()
      : maindata_(std::make_unique<core::TMaindata>(prompt_)),
        window_(std::make_unique<TfrmMain>(*maindata_, cache_)) {
    QKeyEvent f1(QEvent::KeyPress, Qt::Key_F1, Qt::NoModifier);
    QApplication::sendEvent(window_->gridImport, &f1);
    THelpBrowser* browser = window_->findChild<THelpBrowser*>();
    if (browser == nullptr) throw std::runtime_error("F1 opened no help");
    auto* layout = new QHBoxLayout(this);
    window_->setWindowFlags(Qt::Widget);
    window_->setMinimumWidth(520);
    layout->addWidget(window_.get());
    browser->setParent(this, Qt::Widget);
    browser->setMinimumWidth(720);
    layout->addWidget(browser);
    resize(1260, 620);
  }
  ~tShotHelpFromMainWindow() override {
    // The layout lets go of the main window, which its own owner frees.
    window_->setParent(nullptr);
  }

 private:
  tNoLogin prompt_;
  dbstruct::tDBStructureCache cache_;
  std::unique_ptr<core::TMaindata> maindata_;
  std::unique_ptr<TfrmMain> window_;
};

// A text field with its context menu open, as the right mouse button opens it.
class tShotContextMenu : public QWidget {
 public:
  tShotContextMenu() {
    auto* layout = new QVBoxLayout(this);
    auto* edit = new QLineEdit(QStringLiteral("Provider=SQLite;Data Source=/srv/data"), this);
    edit->selectAll();
    layout->addWidget(edit);
    QMenu* menu = edit->createStandardContextMenu();
    menu->setParent(this, Qt::Widget);
    layout->addWidget(menu);
    layout->addStretch(1);
    resize(420, 320);
  }
};

// The file dialog of the program: Qt's own, in Czech, in the demo's import folder.
std::unique_ptr<QWidget> FileDialog() {
  auto dialog = std::make_unique<QFileDialog>(nullptr, QStringLiteral("Vyberte přenosový archiv"),
                                              FromUtf8(core::ProgramFolder()));
  dialog->setFileMode(QFileDialog::ExistingFile);
  dialog->setNameFilters(
      {QStringLiteral("přenosové soubory (*.ZR2)"), QStringLiteral("všechny soubory (*)")});
  dialog->resize(760, 460);
  return dialog;
}

}  // namespace

void AddHelpShots(std::vector<tShot>& shots) {
  shots.push_back(
      {QStringLiteral("help_f1_main_window"), [] { return std::make_unique<tShotHelpFromMainWindow>(); }});
  shots.push_back(
      {QStringLiteral("czech_context_menu"), [] { return std::make_unique<tShotContextMenu>(); }});
  shots.push_back({QStringLiteral("czech_file_dialog"), FileDialog});
}

}  // namespace tamaril::ui::shots
