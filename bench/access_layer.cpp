// Prints how fast the access layer writes and reads rows of a SQLite database:
// one prepared INSERT re-run with new values inside a transaction, then a full read.
//   bench_access_layer [rows]   (default 200000)

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "dbaccess/connection.h"

namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  using namespace tamaril::dbaccess;
  const long rows = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 200000;
  std::string folder = (std::filesystem::temp_directory_path() / "tamaril-bench-XXXXXX").string();
  if (mkdtemp(folder.data()) == nullptr) return 1;

  try {
    Connection db("Provider=SQLite;Data Source=" + folder);
    db.Open();
    db.CreateDatabase("bench");
    db.SetDefaultDatabase("bench");
    db.Execute(
        "create table T (ID integer primary key, NAME varchar(40), PRICE money, CHANGED datetime, NOTE "
        "text)");

    auto start = Clock::now();
    {
      auto insert = db.Prepare("insert into T values (:ID, :NAME, :PRICE, :CHANGED, :NOTE)");
      TransactionGuard transaction(db);
      for (long i = 1; i <= rows; ++i) {
        insert->SetParameter(std::size_t{0}, Value::Integer(i));
        insert->SetParameter(std::size_t{1}, Value::Text("row " + std::to_string(i)));
        insert->SetParameter(std::size_t{2}, Value::Double(static_cast<double>(i) / 100.0));
        insert->SetParameter(
            std::size_t{3}, Value::FromDateTime(DateTime{2026, 12, 8, 10, 0, 0, static_cast<int>(i % 1000)}));
        insert->SetParameter(std::size_t{4}, Value::Text(std::string(64, 'x')));
        insert->Execute();
      }
      transaction.Commit();
    }
    const double write_seconds = SecondsSince(start);

    start = Clock::now();
    long read = 0;
    double total = 0;
    auto cursor = db.Query("select * from T");
    while (cursor->Next()) {
      total += cursor->Get(2).AsDouble();
      ++read;
    }
    const double read_seconds = SecondsSince(start);

    std::printf("rows            %ld\n", rows);
    std::printf("insert          %.3f s  %.0f rows/s\n", write_seconds,
                static_cast<double>(rows) / write_seconds);
    std::printf("read            %.3f s  %.0f rows/s  (%ld rows, sum %.2f)\n", read_seconds,
                static_cast<double>(read) / read_seconds, read, total);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_access_layer: %s\n", e.what());
    std::filesystem::remove_all(folder);
    return 1;
  }
  std::filesystem::remove_all(folder);
  return 0;
}
