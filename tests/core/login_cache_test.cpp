#include "core/login_cache.h"

#include <gtest/gtest.h>

#include <deque>
#include <optional>

#include "core/errors.h"
#include "support/pg_server.h"
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
