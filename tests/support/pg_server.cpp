#include "support/pg_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace tamaril::testing {
namespace {

namespace fs = std::filesystem;

constexpr const char* kSystemUser = "postgres";

struct CommandResult {
  int status = -1;
  std::string output;  ///< stdout and stderr together
};

// Runs a program (looked up on PATH when the name has no "/") and collects what it prints.
CommandResult RunCommand(const std::vector<std::string>& args) {
  int pipe_ends[2];
  if (pipe(pipe_ends) != 0) throw std::runtime_error("pipe failed");
  const pid_t child = fork();
  if (child < 0) throw std::runtime_error("fork failed");
  if (child == 0) {
    dup2(pipe_ends[1], STDOUT_FILENO);
    dup2(pipe_ends[1], STDERR_FILENO);
    close(pipe_ends[0]);
    close(pipe_ends[1]);
    std::vector<char*> argv;
    for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  close(pipe_ends[1]);
  CommandResult result;
  char buffer[4096];
  for (ssize_t n; (n = read(pipe_ends[0], buffer, sizeof buffer)) > 0;) result.output.append(buffer, n);
  close(pipe_ends[0]);
  int status = 0;
  waitpid(child, &status, 0);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

std::string Describe(const std::vector<std::string>& args) {
  std::string text;
  for (const auto& arg : args) text += (text.empty() ? "" : " ") + arg;
  return text;
}

void RunChecked(const std::vector<std::string>& args) {
  const CommandResult result = RunCommand(args);
  if (result.status != 0) {
    throw std::runtime_error("PostgreSQL test server: `" + Describe(args) + "` failed (" +
                             std::to_string(result.status) + "):\n" + result.output);
  }
}

// Programs of the cluster run as the system user "postgres" when the tests run as root, because
// initdb and the server refuse to run as root.
std::vector<std::string> AsServerUser(std::vector<std::string> args) {
  if (geteuid() != 0) return args;
  args.insert(args.begin(), {"runuser", "-u", kSystemUser, "--"});
  return args;
}

std::string FindBinaries() {
  if (const char* configured = std::getenv("TAMARIL_PG_BIN")) return configured;
  const fs::path root = "/usr/lib/postgresql";
  std::error_code error;
  std::string best;
  int best_version = 0;
  for (const auto& entry : fs::directory_iterator(root, error)) {
    const std::string version = entry.path().filename().string();
    if (!fs::exists(entry.path() / "bin" / "initdb")) continue;
    const int number = std::atoi(version.c_str());
    if (number > best_version) {
      best_version = number;
      best = (entry.path() / "bin").string();
    }
  }
  if (best.empty()) {
    throw std::runtime_error(
        "PostgreSQL server binaries not found under /usr/lib/postgresql/*/bin "
        "(install the Debian package `postgresql`, or set TAMARIL_PG_BIN)");
  }
  return best;
}

int FreeLoopbackPort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) throw std::runtime_error("socket failed");
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  socklen_t length = sizeof address;
  const bool ok = bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0;
  close(fd);
  if (!ok) throw std::runtime_error("cannot find a free loopback port");
  return ntohs(address.sin_port);
}

void HandOverToServerUser(const std::string& folder) {
  if (geteuid() != 0) return;
  if (getpwnam(kSystemUser) == nullptr) RunChecked({"useradd", "--system", "--no-create-home", kSystemUser});
  const passwd* user = getpwnam(kSystemUser);
  if (user == nullptr || chown(folder.c_str(), user->pw_uid, user->pw_gid) != 0) {
    throw std::runtime_error("cannot hand " + folder + " over to the user postgres");
  }
}

void AppendToFile(const std::string& path, const std::string& text, bool replace) {
  std::ofstream out(path, replace ? std::ios::trunc : std::ios::app);
  out << text;
  if (!out) throw std::runtime_error("cannot write " + path);
}

struct ServerHolder {
  std::unique_ptr<PgServer> server;
  std::string failure;
};

std::string NewTemporaryFolder() {
  std::string pattern = (fs::temp_directory_path() / "tamaril-pg-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot create a temporary folder");
  return pattern;
}

}  // namespace

const PgServer& PgServer::Get() {
  static ServerHolder holder;
  if (!holder.server && holder.failure.empty()) {
    try {
      const char* shared = std::getenv("TAMARIL_PG_SHARED");
      if (shared != nullptr && *shared != '\0') {
        holder.server = std::make_unique<PgServer>(Key{}, shared, true);
      } else {
        holder.server = std::make_unique<PgServer>(Key{}, NewTemporaryFolder(), false);
      }
    } catch (const std::exception& error) {
      holder.failure = error.what();
    }
  }
  if (!holder.server) throw std::runtime_error(holder.failure);
  return *holder.server;
}

void PgServer::StartShared(const std::string& folder) {
  StopShared(folder);
  fs::create_directories(folder);
  PgServer server(Key{}, folder, false);
  server.owned_ = false;  // it outlives this program; StopShared ends it
}

void PgServer::StopShared(const std::string& folder) noexcept {
  try {
    if (!fs::exists(folder + "/data/postmaster.pid")) {
      std::error_code ignored;
      fs::remove_all(folder, ignored);
      return;
    }
    PgServer server(Key{}, folder, true);
    server.owned_ = true;
  } catch (...) {  // nothing more can be done
  }
}

PgServer::PgServer(Key, std::string folder, bool attach)
    : bin_(FindBinaries()), folder_(std::move(folder)), data_(folder_ + "/data") {
  if (!attach) {
    owned_ = true;
    Start();
    return;
  }
  std::ifstream in(folder_ + "/port");
  if (!(in >> port_)) throw std::runtime_error("no shared PostgreSQL test server in " + folder_);
}

void PgServer::Start() {
  try {
    HandOverToServerUser(folder_);
    RunChecked(AsServerUser({bin_ + "/initdb", "-D", data_, "-U", "postgres", "--auth=trust", "-E", "UTF8",
                             "--locale=C", "--no-sync", "--no-instructions"}));
    port_ = FreeLoopbackPort();
    AppendToFile(
        data_ + "/postgresql.conf",
        "listen_addresses = '127.0.0.1'\nport = " + std::to_string(port_) + "\nunix_socket_directories = '" +
            folder_ +
            "'\nfsync = off\nsynchronous_commit = off\nfull_page_writes = off\nmax_connections = 100\n",
        false);
    AppendToFile(data_ + "/pg_hba.conf", "local all all trust\nhost all all 127.0.0.1/32 scram-sha-256\n",
                 true);
    RunChecked(AsServerUser(
        {bin_ + "/pg_ctl", "-D", data_, "-l", folder_ + "/server.log", "-w", "-t", "30", "start"}));
    AppendToFile(folder_ + "/port", std::to_string(port_) + "\n", true);
    RunAsSuperuser(std::string("CREATE ROLE ") + kUser + " LOGIN CREATEDB PASSWORD '" + kPassword + "'");
  } catch (...) {
    Stop();
    throw;
  }
}

PgServer::~PgServer() { Stop(); }

void PgServer::Stop() noexcept {
  if (!owned_) return;
  owned_ = false;
  try {
    if (fs::exists(data_ + "/postmaster.pid")) {
      RunCommand(AsServerUser({bin_ + "/pg_ctl", "-D", data_, "-m", "fast", "-w", "stop"}));
    }
  } catch (...) {  // nothing more can be done when the program ends
  }
  std::error_code ignored;
  fs::remove_all(folder_, ignored);
}

std::string PgServer::OdbcString(std::string_view database) const {
  // CommLog=0: the driver's registration turns its communication log on, which would leave one
  // psqlodbc_*.log file in /tmp per connection.
  return "Driver={PostgreSQL Unicode};Server=127.0.0.1;Port=" + std::to_string(port_) + ";CommLog=0;Debug=0" +
         ";Database=" + std::string(database);
}

void PgServer::RunAsSuperuser(std::string_view sql) const {
  RunChecked({bin_ + "/psql", "-X", "-q", "-v", "ON_ERROR_STOP=1", "-h", folder_, "-p", std::to_string(port_),
              "-U", "postgres", "-d", "postgres", "-c", std::string(sql)});
}

void PgServer::CreateDatabase(std::string_view name) const {
  RunAsSuperuser("CREATE DATABASE \"" + std::string(name) + "\" OWNER " + kUser);
}

std::string PgServer::CreateFreshDatabase() const {
  // Test programs share the server, so the name carries the process id.
  static std::atomic<int> counter{0};
  std::string name = "t" + std::to_string(getpid()) + "_" + std::to_string(++counter);
  CreateDatabase(name);
  return name;
}

}  // namespace tamaril::testing
