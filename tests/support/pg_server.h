#pragma once

#include <string>
#include <string_view>

namespace tamaril::testing {

/// A PostgreSQL server for the tests on a free loopback port. Host connections need a
/// password; the role "tamaril" (password "secret") may create databases.
///
/// A test run under CTest shares one server that a setup test starts with `StartShared` and a
/// cleanup test stops with `StopShared`; the environment variable TAMARIL_PG_SHARED names its
/// folder. A test program started by hand gets a private server instead, started on first use
/// in a fresh temporary folder and stopped and removed when the program ends.
class PgServer {
 public:
  /// The server of this program (the shared one when TAMARIL_PG_SHARED is set); starts a
  /// private one on first call otherwise. Throws std::runtime_error with the reason when the
  /// server binaries are missing or the server does not start.
  static const PgServer& Get();
  /// Starts a server in `folder` (anything there before is stopped and removed) that goes on
  /// running after this program; throws std::runtime_error.
  static void StartShared(const std::string& folder);
  /// Stops the server of `folder` and removes the folder. Never throws.
  static void StopShared(const std::string& folder) noexcept;

  static constexpr const char* kUser = "tamaril";
  static constexpr const char* kPassword = "secret";

  int port() const noexcept { return port_; }
  /// "Driver={PostgreSQL Unicode};Server=127.0.0.1;Port=N;CommLog=0;Debug=0;Database=DB": no login,
  /// and no driver log files.
  std::string OdbcString(std::string_view database) const;
  /// Creates a database owned by "tamaril"; throws std::runtime_error on failure.
  void CreateDatabase(std::string_view name) const;
  /// A database name not used before in this program ("t1", "t2", …), created.
  std::string CreateFreshDatabase() const;
  /// Runs SQL as the superuser in database "postgres"; throws std::runtime_error with psql's
  /// output on failure.
  void RunAsSuperuser(std::string_view sql) const;

  PgServer(const PgServer&) = delete;
  PgServer& operator=(const PgServer&) = delete;
  ~PgServer();

 private:
  struct Key {
    explicit Key() = default;
  };

 public:
  /// Use `Get`: starts a server in `folder` (owned: stopped and removed with this object), or
  /// attaches to the one already running there. Throws std::runtime_error.
  PgServer(Key key, std::string folder, bool attach);

 private:
  void Start();
  void Stop() noexcept;

  std::string bin_;
  std::string folder_;
  std::string data_;
  int port_ = 0;
  bool owned_ = false;
};

}  // namespace tamaril::testing
