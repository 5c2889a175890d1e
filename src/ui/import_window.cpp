#include "ui/import_window.h"

namespace tamaril::ui {

TfrmImport::TfrmImport(const replication::tDatabaseAccess& access, dataset::TDataSet& import_list,
                       QWidget* parent)
    : TbaseDBProgress(parent), access_(access), import_list_(import_list) {}

TfrmImport::~TfrmImport() = default;

}  // namespace tamaril::ui
