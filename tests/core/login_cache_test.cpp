#include "core/login_cache.h"

#include <gtest/gtest.h>

#include <deque>
#include <filesystem>
#include <optional>

#include "core/errors.h"
#include "support/expect_throw_msg.h"
#include "support/pg_server.h"
#include "support/temp_dir.h"
#include "text/encoding.h"

namespace tamaril::core {
namespace {

using testing::PgServer;

TEST(TransformConnectionString, ShiftsThenSwapsPairs) {
  EXPECT_EQ(TransformConnectionString("abc", true), "cbd");
  EXPECT_EQ(TransformConnectionString("abcd", true), "cbed");
  EXPECT_EQ(TransformConnectionString("cbd", false), "abc");
  EXPECT_EQ(TransformConnectionString("", true), "");
  EXPECT_EQ(TransformConnectionString(std::string(1, '\xFF'), true), std::string(1, '\0'));
}

TEST(TransformConnectionString, DecodingUndoesEncodingForEveryByteAndLength) {
  std::string all;
  for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
  for (const std::size_t length : {std::size_t{1}, std::size_t{2}, std::size_t{255}, std::size_t{256}}) {
    const std::string plain = all.substr(0, length);
    const std::string scrambled = TransformConnectionString(plain, true);
    EXPECT_NE(scrambled, plain);
    EXPECT_EQ(TransformConnectionString(scrambled, false), plain) << length;
  }
}

class CountingPrompt : public LoginPrompt {
 public:
  std::deque<std::optional<tLoginObject>> answers;
  int shown = 0;

  bool ShowLoginDialog(tLoginObject& login, std::string_view) override {
    ++shown;
    if (answers.empty() || !answers.front()) return false;
    login = *answers.front();
    answers.pop_front();
    return true;
  }
};

std::string MessageOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const AppError& e) {
    return text::AnsiToUtf8(e.what());
  }
  return "no error";
}

class ConnectDatabaseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    database_ = PgServer::Get().CreateFreshDatabase();
    odbc_ = PgServer::Get().OdbcString(database_);
  }

  std::string database_;
  std::string odbc_;
  CountingPrompt prompt_;
  LoginCache cache_{prompt_};
  dbaccess::Connection connection_;
};

TEST_F(ConnectDatabaseTest, ASecondConnectWithTheSameStringAsksNoMore) {
  prompt_.answers.push_back(tLoginObject{"tamaril", "secret"});
  cache_.ConnectDatabase(connection_, odbc_, database_);
  EXPECT_EQ(prompt_.shown, 1);
  connection_.Close();
  cache_.ConnectDatabase(connection_, odbc_, database_);
  EXPECT_EQ(prompt_.shown, 1);
  EXPECT_TRUE(connection_.IsOpen());

  std::string user;
  std::string password;
  ASSERT_TRUE(cache_.GetConnectionLogin(connection_, user, password));
  EXPECT_EQ(user, "tamaril");
  EXPECT_EQ(password, "secret");
  EXPECT_EQ(cache_.FindLoginInfo(odbc_ + " "), nullptr);
}

TEST_F(ConnectDatabaseTest, FailuresCarryTheirMessages) {
  prompt_.answers.push_back(std::nullopt);
  const std::string cancelled = MessageOf([&] { cache_.ConnectDatabase(connection_, odbc_, database_); });
  EXPECT_EQ(cancelled.rfind("ADO připojení nelze navázat", 0), 0u) << cancelled;
  EXPECT_EQ(cache_.FindLoginInfo(odbc_), nullptr);

  prompt_.answers.assign({tLoginObject{"tamaril", "secret"}});
  EXPECT_EQ(MessageOf([&] { cache_.ConnectDatabase(connection_, odbc_, "no_such_database"); }),
            "Zadaná databáze na serveru neexistuje");
  EXPECT_FALSE(connection_.IsOpen());
}

}  // namespace
}  // namespace tamaril::core

namespace tamaril::core {
namespace {

// SQLite targets that cannot be opened each say what is wrong, with the path, and ask for no login.
class SQLiteConnectTest : public ::testing::Test {
 protected:
  void Connect(const std::string& connection_string, const std::string& database) {
    cache_.ConnectDatabase(connection_, connection_string, database);
  }
  std::string Folder() const { return "Provider=SQLite;Data Source=" + folder_.path(); }

  tamaril::testing::TempDir folder_;
  CountingPrompt prompt_;
  LoginCache cache_{prompt_};
  dbaccess::Connection connection_;
};

TEST_F(SQLiteConnectTest, BadTargetsGetTheirOwnMessages) {
  EXPECT_THROW_MSG(Connect(Folder(), ""), AppError, text::Utf8ToAnsi("Není zadán název databáze"));
  EXPECT_THROW_MSG(Connect("Data Source=" + folder_.path(), "shop"), AppError,
                   text::Utf8ToAnsi("Připojovací řetězec neuvádí poskytovatele databáze (Provider)"));
  EXPECT_THROW_MSG(Connect(Folder() + "/nowhere", "shop"), AppError,
                   text::Utf8ToAnsi("Složka databází neexistuje: " + folder_.path() + "/nowhere"));
  std::filesystem::create_directory(folder_.File("dir.db"));
  EXPECT_THROW_MSG(Connect(Folder(), "dir"), AppError,
                   text::Utf8ToAnsi("Na místě souboru databáze je složka: " + folder_.File("dir.db")));
  tamaril::testing::WriteWholeFile(folder_.File("notes.db"), std::string(200, 'x'));
  EXPECT_THROW_MSG(Connect(Folder(), "notes.db"), AppError,
                   text::Utf8ToAnsi("Soubor není databáze SQLite: " + folder_.File("notes.db")));
  EXPECT_THROW_MSG(Connect(Folder(), "missing"), AppError,
                   text::Utf8ToAnsi("Databáze SQLite neexistuje: " + folder_.File("missing.db")));
  EXPECT_EQ(prompt_.shown, 0);
  EXPECT_FALSE(connection_.IsOpen());
}

TEST_F(SQLiteConnectTest, QuotedFolderAndSuffixedNameConnect) {
  dbaccess::Connection maker(Folder());
  maker.Open();
  maker.CreateDatabase("shop");
  EXPECT_NO_THROW(cache_.ConnectDatabase(
      connection_, "Provider=SQLite;Data Source=\"" + folder_.path() + "\"", "shop.db"));
  EXPECT_EQ(connection_.DefaultDatabase(), "shop");
}

TEST_F(SQLiteConnectTest, ADatabaseLockedByAnotherProgramSaysSo) {
  dbaccess::Connection holder(Folder());
  holder.Open();
  holder.CreateDatabase("shop");
  holder.SetDefaultDatabase("shop");
  holder.Execute("BEGIN EXCLUSIVE; CREATE TABLE t (x int)");
  connection_.SetConnectionTimeout(1);
  EXPECT_THROW_MSG(
      Connect(Folder(), "shop"), AppError,
      text::Utf8ToAnsi("Databázi používá jiný program (je uzamčena): " + folder_.File("shop.db")));
  holder.Execute("ROLLBACK");
}

}  // namespace
}  // namespace tamaril::core
