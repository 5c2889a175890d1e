#include "ui/export_window.h"

#include <QProgressBar>

#include "core/repl_options.h"
#include "dataset/dataset.h"
#include "dataset/field.h"
#include "ui/qt_text.h"

namespace tamaril::ui {
namespace {

// The definition as the list's current record holds it; the connection string through the
// field's text, which unscrambles it.
replication::tExportDefinition DefinitionOf(dataset::TDataSet& list) {
  replication::tExportDefinition definition;
  definition.Signature = list.FieldByName("Signature").AsString();
  definition.ConnectionString = list.FieldByName("ConnectionString").Text();
  definition.DatabaseName = list.FieldByName("DatabaseName").AsString();
  definition.CenterName = list.FieldByName("CenterName").AsString();
  return definition;
}

}  // namespace

TfrmExport::TfrmExport(const replication::tDatabaseAccess& access, dataset::TDataSet& export_list,
                       QWidget* parent)
    : TRunProgress(parent),
      access_(access),
      export_list_(export_list),
      definition_(DefinitionOf(export_list_)) {
  setWindowTitle(FromAnsi(replication::ExportCaption(definition_)));
  Progress_DB->setVisible(false);
}

TfrmExport::~TfrmExport() = default;

void TfrmExport::Execute() {
  replication::tExportRun run(access_, core::ReplOptions(), *this);
  result_ = run.Run(definition_);
}

}  // namespace tamaril::ui
