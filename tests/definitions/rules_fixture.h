#pragma once

// A SQLite database with the replication tables and three related tables, and the structure
// of it, for the rule handling tests.

#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "dbaccess/connection.h"
#include "dbstruct/sqlite/sqlite_structure.h"
#include "definitions/questions.h"
#include "support/temp_dir.h"

namespace tamaril::definitions::testing {

/// Answers every question with a fixed answer and records what it was asked.
class RecordedQuestions : public tRuleQuestions {
 public:
  bool answer = true;
  std::vector<std::pair<tQuestion, std::string>> asked;  ///< texts in Windows-1250

  bool Ask(tQuestion question, const std::string& text) override {
    asked.emplace_back(question, text);
    return answer;
  }
};

/// The shop database: Zakaznici (integer key), Faktury (RowGuid, detail of Zakaznici) and
/// PolFakt (two-column key, detail of Faktury), described in rep_TBLDESC after rep_DELETED.
class RulesTest : public ::testing::Test {
 protected:
  RulesTest();

  /// Runs a query and returns its rows as "a|b|c" lines joined by "\n" (NULL as "<null>").
  std::string Rows(const std::string& select);
  /// The first column of the first row of a query as text.
  std::string Scalar(const std::string& select);
  /// Windows-1250 text of a UTF-8 literal.
  static std::string Ansi(const std::string& utf8);

  tamaril::testing::TempDir folder_;
  dbaccess::Connection connection_;
  dbstruct::tSQLiteDatabase_Structure structure_{&connection_};
  RecordedQuestions questions_;
};

}  // namespace tamaril::definitions::testing
