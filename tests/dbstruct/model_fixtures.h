#pragma once

// Minimal concrete forms of the structure model for the tests: tables that only have a name
// and a database that is a list of names and foreign keys.

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "dbstruct/structure.h"

namespace tamaril::dbstruct::fixtures {

class NamedTable : public tTbl_Structure {
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
  void CloseData() override { ++close_count; }
  std::string GetKeyValuesText(dataset::TDataSet&) override { return {}; }

  int close_count = 0;

 private:
  std::string name_;
};

/// One column pair of a foreign key: master, detail, constraint, master column, detail column.
struct Link {
  std::string master, detail, constraint, master_column = "ID", detail_column = "MASTER_ID";
};

class ListedDatabase : public tDatabase_Structure {
 public:
  ListedDatabase(std::vector<std::string> names, std::vector<Link> links)
      : names_(std::move(names)), links_(std::move(links)) {}

  void GetTableNames(std::vector<std::string>& names) override { names = names_; }
  std::unique_ptr<tTbl_Structure> CreateTableStructure() override { return std::make_unique<NamedTable>(); }
  void LoadForeignKeys() override {
    for (const Link& l : links_)
      AddForeignKey(l.master, l.detail, l.constraint, l.master_column, l.detail_column);
  }

  /// The table names in model order, joined by ",".
  std::string Order() const {
    std::string order;
    for (int i = 0; i < TableCount(); ++i) order += (i ? "," : "") + Table(i).GetTableName();
    return order;
  }

 private:
  std::vector<std::string> names_;
  std::vector<Link> links_;
};

}  // namespace tamaril::dbstruct::fixtures
