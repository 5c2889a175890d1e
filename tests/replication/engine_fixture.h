#pragma once

// Two SQLite databases of one folder, a client and a center, with the helpers the engine tests
// share: publishing the client's rows into bytes and merging bytes into the center.

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "dbaccess/connection.h"
#include "dbstruct/comparison_hook.h"
#include "dbstruct/sqlite/sqlite_structure.h"
#include "expr/tracking_columns.h"
#include "replication/merger.h"
#include "replication/publisher.h"
#include "support/temp_dir.h"

namespace tamaril::replication::fixtures {

/// What a merge reported, event by event, as short texts ("append Items", "conflict 0 FK_x" …).
struct MergeLog {
  std::vector<std::string> events;
  std::string Joined() const;
};

class EngineTest : public ::testing::Test {
 protected:
  EngineTest();
  void SetUp() override;

  /// Runs the same statements on both databases.
  void ExecuteBoth(const std::string& sql);
  /// Scans both structures (after the schema is in place).
  void ScanBoth();

  /// The content the publisher writes for `tables` (and `main_table`), accepting every row
  /// unless `filter` says otherwise.
  std::string Publish(std::vector<std::string> tables, const std::string& main_table = {},
                      std::function<bool(dataset::TDataSet&)> filter = {});

  /// Merges `content` into the center inside one transaction that is committed, with handlers
  /// that allow everything unless configured otherwise; returns Merge's result.
  bool Merge(const std::string& content, MergeLog& log);

  /// Every row of a table as "v1|v2|…" lines in key order (NULL as "NULL").
  std::string Rows(dbaccess::Connection& connection, const std::string& select);

  testing::TempDir folder_;
  dbaccess::Connection client_;
  dbaccess::Connection center_;
  dbstruct::tSQLiteDatabase_Structure client_structure_{&client_};
  dbstruct::tSQLiteDatabase_Structure center_structure_{&center_};
  std::vector<std::string> published_tables_;  ///< the publisher's table list after Publish
  bool allow_append_ = true, allow_update_ = true, allow_delete_ = true;
  std::function<void(dataset::TDataSet&)> on_update_;      ///< may clear change flags
  dbstruct::tDatabase_Structure* merge_target_ = nullptr;  ///< Merge's structure; the center's when null
  std::function<void(tQVMMerger&)> configure_merger_;      ///< may replace Merge's handlers
};

}  // namespace tamaril::replication::fixtures
