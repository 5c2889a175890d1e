#include "core/terminal_login.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <iostream>
#include <string>

#include "text/encoding.h"

namespace tamaril::core {
namespace {

// Reads what the terminal shows until `needle` appears (or nothing more comes for 10 s).
void ReadUntil(int fd, std::string_view needle, std::string& screen) {
  char buffer[256];
  while (screen.find(needle) == std::string::npos) {
    pollfd ready{fd, POLLIN, 0};
    if (::poll(&ready, 1, 10000) <= 0) return;
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n <= 0) return;
    screen.append(buffer, static_cast<std::size_t>(n));
  }
}

TEST(TerminalLoginPrompt, AsksOnTheTerminalWithoutEchoingThePassword) {
  int master = -1;
  const pid_t child = forkpty(&master, nullptr, nullptr, nullptr);
  ASSERT_GE(child, 0);
  if (child == 0) {
    // The child's controlling terminal is the pseudo-terminal: answer through its exit code.
    ::alarm(20);  // a prompt that waits for ever fails the test instead of hanging it
    TerminalLoginPrompt prompt;
    tLoginObject login{"sa", "old"};
    const bool confirmed = prompt.ShowLoginDialog(login, text::Utf8ToAnsi("Přihlášení selhalo"));
    const bool right = confirmed && login.UserName == "jan" && login.Password == text::Utf8ToAnsi("tajné");
    _exit(right ? 0 : 1);
  }
  // Each answer goes when its question is on the screen, as a person types.
  std::string screen;
  const auto answer = [&](std::string_view question, std::string_view text) {
    ReadUntil(master, question, screen);
    ASSERT_EQ(::write(master, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  };
  answer("Uživatelské jméno [sa]: ", "jan\n");
  answer("Heslo: ", "tajné\n");
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ReadUntil(master, "\n\n", screen);
  ::close(master);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << screen;
  EXPECT_NE(screen.find("Přihlášení selhalo"), std::string::npos) << screen;
  EXPECT_NE(screen.find("Uživatelské jméno [sa]: "), std::string::npos) << screen;
  EXPECT_NE(screen.find("Heslo: "), std::string::npos) << screen;
  EXPECT_EQ(screen.find("tajné"), std::string::npos) << "the password was echoed:\n" << screen;
}

TEST(TerminalLoginPromptDeathTest, WithoutATerminalSaysHowToGiveTheLogin) {
  EXPECT_EXIT(
      {
        ::setsid();  // no controlling terminal from here on
        TerminalLoginPrompt prompt;
        tLoginObject login;
        try {
          prompt.ShowLoginDialog(login, "");
        } catch (const std::runtime_error& e) {
          std::cerr << text::AnsiToUtf8(e.what());
          std::exit(3);
        }
        std::exit(0);
      },
      ::testing::ExitedWithCode(3), "vyžaduje terminál; uveďte User ID, Password a Persist Security Info=True");
}

}  // namespace
}  // namespace tamaril::core
