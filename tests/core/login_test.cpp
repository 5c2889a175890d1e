#include "core/login.h"

#include <gtest/gtest.h>

#include <deque>
#include <optional>

#include "support/pg_server.h"
#include "support/temp_dir.h"

namespace tamaril::core {
namespace {

using testing::PgServer;
using testing::TempDir;

// Stands in for the person at the login dialog: answers from a script, records what it saw.
class ScriptedPrompt : public LoginPrompt {
 public:
  std::deque<std::optional<tLoginObject>> answers;  ///< nothing = "Storno"
  std::vector<tLoginObject> shown;
  std::vector<std::string> errors;

  bool ShowLoginDialog(tLoginObject& login, std::string_view last_error) override {
    shown.push_back(login);
    errors.emplace_back(last_error);
    if (answers.empty() || !answers.front()) return false;
    login = *answers.front();
    answers.pop_front();
    return true;
  }
};

// Only the password is hidden, whatever its length and however it is quoted; the rest of
// the string is shown as it stands.
TEST(MaskConnectionPassword, HidesEveryPasswordItemAndNothingElse) {
  for (const auto& [plain, shown] :
       {std::pair{"Provider=SQLOLEDB;User ID=sa;Password=tajne;Data Source=srv",
                  "Provider=SQLOLEDB;User ID=sa;Password=********;Data Source=srv"},
        std::pair{"password=x", "password=********"},
        std::pair{"Driver=FreeTDS; PWD = a;b", "Driver=FreeTDS; PWD =********;b"},
        std::pair{"PWD={se;cr}}et};Server=s", "PWD=********;Server=s"},
        std::pair{"Password=\"a;\"\"b\";Server=s", "Password=********;Server=s"},
        std::pair{"Password=;Server=s", "Password=;Server=s"},
        std::pair{"Data Source=db;Password Hint=x;Persist", "Data Source=db;Password Hint=x;Persist"},
        std::pair{"", ""}}) {
    EXPECT_EQ(MaskConnectionPassword(plain), shown) << plain;
  }
}

TEST(ParseConnectionLogin, ReadsTheLoginItemsAsTheyStand) {
  struct Case {
    std::string_view text;
    bool own;
    std::string_view user;
    std::string_view password;
  };
  const Case cases[] = {
      {"Provider=SQLOLEDB.1;Persist Security Info=True;User ID=sa;Password=x;Data Source=s", true, "sa", "x"},
      {"Provider=SQLOLEDB.1;persist security info=ano;user id=Jan", true, "Jan", ""},
      {"Persist Security Info=False;User ID=sa;Password=a=b", false, "sa", "a=b"},
      {"Provider=SQLOLEDB.1;Data Source=s", false, "", ""},
      {"User ID = sa;;Password=p ;User ID=second", false, "second", "p "},
      {"", false, "", ""},
  };
  for (const Case& c : cases) {
    std::string user = "left over";
    std::string password = "left over";
    EXPECT_EQ(ParseConnectionLogin(c.text, user, password), c.own) << c.text;
    EXPECT_EQ(user, c.user) << c.text;
    EXPECT_EQ(password, c.password) << c.text;
  }
}

class SqliteLogin : public ::testing::Test {
 protected:
  void SetUp() override {
    dbaccess::Connection maker("Provider=SQLite;Data Source=" + folder_.path());
    maker.Open();
    maker.CreateDatabase("shop");
  }
  std::string ConnectionString() const { return "Provider=SQLite;Data Source=" + folder_.path(); }

  TempDir folder_;
  ScriptedPrompt prompt_;
  dbaccess::Connection connection_;
  bool missing_ = true;
  std::string user_;
  std::string password_;
};

TEST_F(SqliteLogin, TheEmbeddedDatabaseNeedsNoLogin) {
  ASSERT_TRUE(
      ConnectWithLogin(&connection_, ConnectionString(), "shop", missing_, user_, password_, prompt_));
  EXPECT_FALSE(missing_);
  EXPECT_TRUE(prompt_.shown.empty());
  EXPECT_EQ(connection_.DefaultDatabase(), "shop");
}

TEST_F(SqliteLogin, AMissingDatabaseLeavesTheConnectionClosed) {
  std::string error;
  EXPECT_FALSE(ConnectWithLogin(&connection_, ConnectionString(), "nothere", missing_, user_, password_,
                                prompt_, &error));
  EXPECT_TRUE(missing_);
  EXPECT_FALSE(connection_.IsOpen());
  EXPECT_EQ(connection_.DefaultDatabase(), "");
  EXPECT_NE(error.find("nothere"), std::string::npos) << error;
}

TEST_F(SqliteLogin, NoConnectionGivesFalse) {
  EXPECT_FALSE(ConnectWithLogin(nullptr, ConnectionString(), "shop", missing_, user_, password_, prompt_));
}

class ServerLogin : public ::testing::Test {
 protected:
  void SetUp() override {
    const PgServer& server = PgServer::Get();
    database_ = server.CreateFreshDatabase();
    odbc_ = server.OdbcString(database_);
  }

  std::string database_;
  std::string odbc_;
  ScriptedPrompt prompt_;
  dbaccess::Connection connection_;
  bool missing_ = true;
  std::string user_;
  std::string password_;
};

TEST_F(ServerLogin, AsksBeforeTheFirstAttemptWithoutAUserName) {
  prompt_.answers.push_back(tLoginObject{"tamaril", "secret"});
  ASSERT_TRUE(ConnectWithLogin(&connection_, odbc_, database_, missing_, user_, password_, prompt_));
  ASSERT_EQ(prompt_.shown.size(), 1u);
  EXPECT_EQ(prompt_.shown[0].UserName, "");
  EXPECT_EQ(prompt_.errors[0], "");
  EXPECT_EQ(user_, "tamaril");
  EXPECT_EQ(password_, "secret");
  EXPECT_FALSE(missing_);
}

TEST_F(ServerLogin, AWrongPasswordAsksAgainWithTheUserNameAndTheReason) {
  user_ = "tamaril";
  password_ = "wrong";
  prompt_.answers.push_back(tLoginObject{"tamaril", "also wrong"});
  prompt_.answers.push_back(tLoginObject{"tamaril", "secret"});
  ASSERT_TRUE(ConnectWithLogin(&connection_, odbc_, database_, missing_, user_, password_, prompt_));
  ASSERT_EQ(prompt_.shown.size(), 2u);
  EXPECT_EQ(prompt_.shown[0].UserName, "tamaril");
  EXPECT_EQ(prompt_.shown[1].Password, "also wrong");
  EXPECT_FALSE(prompt_.errors[0].empty());
  EXPECT_EQ(password_, "secret");
  EXPECT_TRUE(connection_.IsOpen());
}

TEST_F(ServerLogin, StornoEndsWithoutAConnection) {
  user_ = "tamaril";
  password_ = "wrong";
  prompt_.answers.push_back(std::nullopt);
  EXPECT_FALSE(ConnectWithLogin(&connection_, odbc_, database_, missing_, user_, password_, prompt_));
  EXPECT_EQ(prompt_.shown.size(), 1u);
  EXPECT_FALSE(connection_.IsOpen());
  EXPECT_FALSE(missing_);
  EXPECT_EQ(password_, "wrong");
}

TEST_F(ServerLogin, OwnCredentialsNeverAsk) {
  const std::string text = odbc_ + ";UID=tamaril;PWD=wrong;Persist Security Info=True";
  std::string error;
  EXPECT_FALSE(ConnectWithLogin(&connection_, text, database_, missing_, user_, password_, prompt_, &error));
  EXPECT_TRUE(prompt_.shown.empty());
  EXPECT_FALSE(error.empty());

  const std::string good = odbc_ + ";UID=tamaril;PWD=secret;Persist Security Info=True";
  EXPECT_TRUE(ConnectWithLogin(&connection_, good, database_, missing_, user_, password_, prompt_));
  EXPECT_TRUE(prompt_.shown.empty());
}

TEST_F(ServerLogin, AServerWithoutTheDatabaseEndsClosedWithDatabaseMissing) {
  user_ = "tamaril";
  password_ = "secret";
  EXPECT_FALSE(ConnectWithLogin(&connection_, odbc_, "no_such_db", missing_, user_, password_, prompt_));
  EXPECT_TRUE(missing_);
  EXPECT_FALSE(connection_.IsOpen());
  EXPECT_TRUE(prompt_.shown.empty());
}

TEST(ClosedPortLogin, AServerThatDoesNotAnswerIsReportedWithoutAsking) {
  ScriptedPrompt prompt;
  dbaccess::Connection connection;
  connection.SetConnectionTimeout(5);
  bool missing = false;
  std::string user;
  std::string password;
  std::string error;
  EXPECT_FALSE(ConnectWithLogin(&connection,
                                "Provider=SQLOLEDB.1;Persist Security Info=True;User ID=sa;Password=x;"
                                "Data Source=127.0.0.1,1;Initial Catalog=x",
                                "x", missing, user, password, prompt, &error));
  EXPECT_TRUE(prompt.shown.empty());
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(missing);
}

}  // namespace
}  // namespace tamaril::core
