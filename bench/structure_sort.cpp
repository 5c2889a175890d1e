// Orders a model of N tables (default 500) with random master links and self-references:
// times Scan (which sorts and checks), then SortMastersFirst and CheckCircularLinks again.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "dbstruct/structure.h"

namespace {

using namespace tamaril;
using namespace tamaril::dbstruct;

class BenchTable : public tTbl_Structure {
 public:
  std::string GetTableName() const override { return name_; }
  void LoadStructure(const std::string& table_name) override { name_ = table_name; }
  std::unique_ptr<tExistingRecords> FindExistingRecords(dataset::TDataSet&) override { return nullptr; }
  std::unique_ptr<tExistingRecords> FindExistingByKey(const std::string&, std::int32_t) override {
    return nullptr;
  }
  std::unique_ptr<dataset::TDataSet> OpenTableData(const std::string&, const std::string&, int&) override {
    throw std::logic_error("no data");
  }
  void InsertRecord(dataset::TDataSet&) override {}
  void UpdateRecord(dataset::TDataSet&) override {}
  std::int64_t DeleteRecord(const std::string&, std::int32_t) override { return 0; }
  bool MastersExist(dataset::TDataSet&, bool, std::string&) override { return true; }
  bool HasField(const std::string&) const override { return false; }
  bool IsFieldWritable(const std::string&) const override { return false; }
  std::string GetKeyValuesText(dataset::TDataSet&) override { return {}; }

 private:
  std::string name_;
};

struct Link {
  std::string master, detail, name;
};

class BenchDatabase : public tDatabase_Structure {
 public:
  BenchDatabase(std::vector<std::string> names, std::vector<Link> links)
      : names_(std::move(names)), links_(std::move(links)) {}
  void GetTableNames(std::vector<std::string>& names) override { names = names_; }
  std::unique_ptr<tTbl_Structure> CreateTableStructure() override { return std::make_unique<BenchTable>(); }
  void LoadForeignKeys() override {
    for (const Link& l : links_) AddForeignKey(l.master, l.detail, l.name, "ID", l.master + "_ID");
  }

 private:
  std::vector<std::string> names_;
  std::vector<Link> links_;
};

}  // namespace

int main(int argc, char** argv) {
  const int count = argc > 1 ? std::atoi(argv[1]) : 500;
  std::mt19937 random(12345);
  std::vector<std::string> names;
  for (int i = 0; i < count; ++i) names.push_back("TABLE_" + std::to_string(i));
  std::vector<Link> links;
  for (int detail = 1; detail < count; ++detail) {
    // Up to three masters among the tables before it (no cycle), and every third table names itself.
    const int masters = 1 + static_cast<int>(random() % 3);
    for (int m = 0; m < masters; ++m) {
      const int master = static_cast<int>(random() % static_cast<unsigned>(detail));
      links.push_back(
          {names[master], names[detail], "FK_" + std::to_string(detail) + "_" + std::to_string(m)});
    }
    if (detail % 3 == 0) links.push_back({names[detail], names[detail], "FK_SELF_" + std::to_string(detail)});
  }
  std::shuffle(names.begin(), names.end(), random);
  BenchDatabase database(names, links);

  using Clock = std::chrono::steady_clock;
  const auto scan_start = Clock::now();
  database.Scan();
  const double scan_seconds = std::chrono::duration<double>(Clock::now() - scan_start).count();
  const auto sort_start = Clock::now();
  database.SortMastersFirst();
  const double sort_seconds = std::chrono::duration<double>(Clock::now() - sort_start).count();
  const auto check_start = Clock::now();
  database.CheckCircularLinks();
  const double check_seconds = std::chrono::duration<double>(Clock::now() - check_start).count();

  std::printf("tables %d, foreign keys %zu\n", count, links.size());
  std::printf("Scan (load, sort, check)  %.3f s\n", scan_seconds);
  std::printf("SortMastersFirst          %.3f s\n", sort_seconds);
  std::printf("CheckCircularLinks        %.3f s\n", check_seconds);
  return 0;
}
