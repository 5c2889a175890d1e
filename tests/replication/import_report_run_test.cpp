// What an import run keeps for its report, on SQLite: per table the counters the import log
// holds beside the conflicts and the updates the update-field rule narrowed, every conflict with
// the target rows it met, and what each archive was (branch, export time, second delivery).

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "core/login_cache.h"
#include "core/maindata.h"
#include "core/repl_options.h"
#include "dataset/memory_table.h"
#include "dbaccess/connection.h"
#include "dbstruct/comparison_hook.h"
#include "dbstruct/sqlite/sqlite_structure.h"
#include "dbstruct/structure_cache.h"
#include "expr/tracking_columns.h"
#include "recording_host.h"
#include "replication/export_run.h"
#include "replication/import_report.h"
#include "replication/import_run.h"
#include "replication/setup_script.h"
#include "support/temp_dir.h"
#include "text/encoding.h"

namespace tamaril::replication {
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

struct NoLogin : core::LoginPrompt {
  bool ShowLoginDialog(core::tLoginObject&, std::string_view) override { return false; }
};

Lines Rows(dbaccess::Connection& connection, const std::string& sql) {
  Lines rows;
  auto cursor = connection.Query(sql);
  while (cursor->Next()) {
    std::string row;
    for (std::size_t i = 0; i < cursor->Columns().size(); ++i) {
      row += (i > 0 ? "|" : "") + (cursor->Get(i).IsNull() ? std::string("NULL") : cursor->Get(i).AsString());
    }
    rows.push_back(row);
  }
  return rows;
}

struct Database {
  explicit Database(const std::string& name) {
    connection.SetConnectionString(ConnectionString());
    connection.Open();
    connection.CreateDatabase(name);
    connection.SetDefaultDatabase(name);
    connection.Execute(
        "CREATE TABLE Customers (Id INTEGER PRIMARY KEY, Name VARCHAR(40));"
        "CREATE TABLE Orders (Id INTEGER PRIMARY KEY, CustomerId INTEGER REFERENCES Customers(Id), "
        "Amount INTEGER);");
    dbstruct::tSQLiteDatabase_Structure structure(&connection);
    structure.Scan();
    ApplySQLiteSetupScript(connection, SQLiteSetupStatements(structure, {}));
  }
  std::string ConnectionString() const { return "Provider=SQLite;Data Source=" + folder.path(); }

  testing::TempDir folder;
  dbaccess::Connection connection;
};

class ImportReportRun : public ::testing::Test {
 protected:
  void SetUp() override {
    dbstruct::IgnoreFieldInComparison = expr::IsTrackingColumn;
    client_.connection.Execute(
        "INSERT INTO rep_DEFEXPORT (Signature, TABLENAME, ExportRule, LISTORDER) VALUES "
        "('CLI', 'Customers', 'ANO', 1), ('CLI', 'Orders', 'ANO', 2);"
        "INSERT INTO Customers (Id, Name) VALUES (1, 'Alfa'), (2, 'Beta');"
        "INSERT INTO Orders (Id, CustomerId, Amount) VALUES (10, 1, 5), (11, 2, 7);");
    // Beta is taken at the center under another Id: its append breaks the unique name, and its
    // order then lacks its master. Of an order's changes only the amount is taken.
    center_.connection.Execute(
        "CREATE UNIQUE INDEX ux_name ON Customers(Name);"
        "INSERT INTO Customers (Id, Name) VALUES (100, 'Beta');"
        "INSERT INTO rep_DEFIMPORT (Signature, TABLENAME, AppendRule, UpdateRule, UpdateFieldRule, "
        "LISTORDER) "
        "VALUES ('CLI', 'Customers', 'ANO', 'ANO', NULL, 1), "
        "('CLI', 'Orders', 'ANO', 'ANO', '@UPDFLDUPPER = \"AMOUNT\"', 2)");
    export_options_.ExportFolder = text::Utf8ToAnsi(exports_.path());
    options_.ImportFolder = text::Utf8ToAnsi(imports_.path());
    list_.SetFieldLayout(std::string(core::TMaindata::kImportLayout));
    list_.Open();
    list_.Append();
    list_.FieldByName("Signature").SetAsString("CLI");
    list_.FieldByName("ClientName").SetAsString(text::Utf8ToAnsi("Pobočka"));
    list_.FieldByName("ConnectionString")
        .SetAsString(core::TransformConnectionString(center_.ConnectionString(), true));
    list_.FieldByName("DatabaseName").SetAsString("center");
    list_.Post();
  }
  void TearDown() override { dbstruct::IgnoreFieldInComparison = nullptr; }

  void Export() {
    tExportRun run(client_access_, export_options_, export_host_);
    const tExportResult result = run.Run({"CLI", client_.ConnectionString(), "shop", "Centrum"});
    ASSERT_EQ(result.Outcome, tExportOutcome::Success) << result.Text;
    fs::copy_file(result.ArchivePath, imports_.File("CLI.ZR2"), fs::copy_options::overwrite_existing);
  }

  tImportResult Import(tImportRunOptions run_options = {}) {
    center_.connection.Close();
    tImportRun run(access_, options_, list_, host_, std::move(run_options));
    tImportResult result = run.Run();
    center_.connection.Open();
    center_.connection.SetDefaultDatabase("center");
    return result;
  }

  Database client_{"shop"};
  Database center_{"center"};
  testing::TempDir exports_;
  testing::TempDir imports_;
  core::TReplOptions export_options_;
  core::TReplOptions options_;
  dataset::TQVMMemoryTable list_;
  testing::RecordingHost export_host_;
  testing::RecordingHost host_;
  NoLogin prompt_;
  core::LoginCache logins_{prompt_};
  dbaccess::Connection client_main_;
  dbaccess::Connection main_;
  dbaccess::Connection master_;
  dbstruct::tDBStructureCache client_cache_;
  dbstruct::tDBStructureCache cache_;
  tDatabaseAccess client_access_{logins_, client_main_, master_, client_cache_};
  tDatabaseAccess access_{logins_, main_, master_, cache_};
};

std::string TableText(const tImportedTable& t) {
  return t.Name + ": " + std::to_string(t.Appended) + " " + std::to_string(t.Updated) + " (" +
         std::to_string(t.FieldUpdated) + ") " + std::to_string(t.Deleted) + " " +
         std::to_string(t.Conflicts);
}

std::string ValuesText(const std::vector<tConflictValue>& values) {
  std::string text;
  for (const tConflictValue& value : values) {
    text += (text.empty() ? "" : "|") + (!value.Present ? std::string("-")
                                         : value.Null   ? "NULL"
                                                        : value.Text);
  }
  return text;
}

TEST_F(ImportReportRun, KeepsPerTableCountsNarrowedUpdatesAndConflictsWithTheirTargetRows) {
  ASSERT_NO_FATAL_FAILURE(Export());
  ASSERT_EQ(Import().Outcome, tImportOutcome::Conflicts);
  client_.connection.Execute(
      "UPDATE Customers SET Name = 'Alfa 2' WHERE Id = 1;"
      "INSERT INTO Customers (Id, Name) VALUES (3, 'Delta');"
      "UPDATE Orders SET CustomerId = 3, Amount = 6 WHERE Id = 10;"
      "INSERT INTO Orders (Id, CustomerId, Amount) VALUES (12, 1, 1);");
  ASSERT_NO_FATAL_FAILURE(Export());
  const tImportResult result = Import();
  ASSERT_EQ(result.Outcome, tImportOutcome::Conflicts) << result.Text;

  const tImportedArchive& archive = result.Archives.at(0);
  EXPECT_EQ(archive.ImportNo, 2);
  std::vector<std::string> tables;
  for (const tImportedTable& table : archive.Tables) tables.push_back(TableText(table));
  EXPECT_EQ(tables, (Lines{"Customers: 1 1 (0) 0 1", "Orders: 1 1 (1) 0 1"}));
  EXPECT_EQ(Rows(center_.connection,
                 "SELECT TABLENAME, COUNT_APPENDED, COUNT_UPDATED, COUNT_DELETED FROM rep_IMPORTLOGDETAIL "
                 "WHERE IMPORTNO = 2 ORDER BY TABLENAME"),
            (Lines{"Customers|1|1|0", "Orders|1|1|0"}));
  EXPECT_EQ(Rows(center_.connection, "SELECT CustomerId, Amount FROM Orders WHERE Id = 10"), (Lines{"1|6"}))
      << "the narrowed update took the amount only";

  EXPECT_EQ(archive.Client, text::Utf8ToAnsi("Pobočka"));
  EXPECT_EQ(archive.Database, "center");
  EXPECT_GT(archive.ExportTime, 40000.0);
  EXPECT_FALSE(archive.Verified);
  EXPECT_NE(archive.Trust, "");
  EXPECT_EQ(archive.Redelivered, "");

  ASSERT_EQ(result.ConflictRows.size(), 2U);
  const tConflictRows& unique = result.ConflictRows[0];
  EXPECT_EQ(unique.Archive, "CLI.ZR2");
  EXPECT_EQ(unique.Table, "Customers");
  EXPECT_EQ(unique.Message,
            text::Utf8ToAnsi("Porušení jedinečnosti klíče (Tabulka Customers, constraint ux_name)(Id=2)"));
  ASSERT_GE(unique.Fields.size(), 2U);
  EXPECT_EQ(unique.Fields[0] + "|" + unique.Fields[1], "Id|Name");
  EXPECT_EQ(ValuesText(unique.Source).substr(0, 6), "2|Beta");
  ASSERT_EQ(unique.Targets.size(), 1U);
  EXPECT_EQ(unique.Targets[0].Match, "ux_name");
  EXPECT_EQ(ValuesText(unique.Targets[0].Values).substr(0, 8), "100|Beta");

  const tConflictRows& master = result.ConflictRows[1];
  EXPECT_EQ(master.Table, "Orders");
  EXPECT_EQ(ValuesText(master.Source).substr(0, 6), "11|2|7");
  EXPECT_TRUE(master.Targets.empty()) << "the order is not at the center";

  // The same archive once more, on request: a second delivery.
  tImportRunOptions again;
  again.reimport = true;
  const tImportResult second = Import(again);
  EXPECT_EQ(second.Archives.at(0).State, tArchiveState::Imported);
  EXPECT_NE(second.Archives.at(0).Redelivered, "");
}

TEST_F(ImportReportRun, KeepsTheRowsOfTheFirstConflictsOnlyAndCountsTheRest) {
  // Customers from 1000 on are not taken: each of their orders lacks its master.
  center_.connection.Execute(
      "UPDATE rep_DEFIMPORT SET AppendRule = 'Id < 1000' WHERE TABLENAME = 'Customers'");
  const std::size_t orphans = kReportedConflictLimit + 5;
  auto customer = client_.connection.Prepare("INSERT INTO Customers (Id, Name) VALUES (:id, :id)");
  auto order = client_.connection.Prepare("INSERT INTO Orders (Id, CustomerId, Amount) VALUES (:id, :id, 1)");
  dbaccess::TransactionGuard transaction(client_.connection);
  for (std::size_t i = 0; i < orphans; ++i) {
    const auto id = dbaccess::Value::Integer(static_cast<std::int64_t>(1000 + i));
    customer->SetParameter("id", id);
    customer->Execute();
    order->SetParameter("id", id);
    order->Execute();
  }
  transaction.Commit();
  ASSERT_NO_FATAL_FAILURE(Export());
  const tImportResult result = Import();
  EXPECT_EQ(result.Total.conflicts, static_cast<std::int64_t>(orphans) + 2);
  EXPECT_EQ(result.ConflictRows.size(), kReportedConflictLimit);
  EXPECT_EQ(result.ConflictRowsLeftOut, static_cast<std::int64_t>(orphans) + 2 - kReportedConflictLimit);
  const std::vector<tImportedTable>& tables = result.Archives.at(0).Tables;
  ASSERT_EQ(tables.size(), 2U);
  EXPECT_EQ(tables[1].Conflicts, static_cast<std::int64_t>(orphans) + 1);
}

}  // namespace
}  // namespace tamaril::replication
