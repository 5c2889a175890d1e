#include "ui/def_edit_dialog.h"

namespace tamaril::ui {

TfrmDefEdit::TfrmDefEdit(core::TMaindata& maindata, bool import, QWidget* parent)
    : QDialog(parent), maindata_(maindata), import_(import) {}

}  // namespace tamaril::ui
