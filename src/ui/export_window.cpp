#include "ui/export_window.h"

namespace tamaril::ui {

TfrmExport::TfrmExport(const replication::tDatabaseAccess& access, dataset::TDataSet& export_list,
                       QWidget* parent)
    : TbaseDBProgress(parent), access_(access), export_list_(export_list) {}

TfrmExport::~TfrmExport() = default;

}  // namespace tamaril::ui
