#pragma once

#include <functional>
#include <string>
#include <vector>

#include "dataset/dataset.h"
#include "dataset/stream.h"
#include "dbstruct/structure.h"
#include "replication/dataset_adapter.h"

namespace tamaril::replication {

class tQVMPublisher;

/// (publisher, table position, table name, table count).
using PublisherTableProgressEvent = std::function<void(tQVMPublisher&, int, const std::string&, int)>;
/// (publisher, 1-based row position, row count).
using PublisherRowProgressEvent = std::function<void(tQVMPublisher&, int, int)>;
/// (publisher, row dataset, accept flag out; false on entry).
using PublisherRowFilterEvent = std::function<void(tQVMPublisher&, dataset::TDataSet&, bool&)>;
/// (publisher, row dataset).
using PublisherRowEvent = std::function<void(tQVMPublisher&, dataset::TDataSet&)>;
/// (publisher, table name).
using PublisherTableEvent = std::function<void(tQVMPublisher&, const std::string&)>;

/// Writes an export into a stream: the table list completed with its masters, the deleted-rows
/// table first, then every listed table (masters before details) with the rows the filter
/// accepts. Rows are streamed from the database one at a time.
class tQVMPublisher {
 public:
  tQVMPublisher();
  ~tQVMPublisher();
  tQVMPublisher(const tQVMPublisher&) = delete;
  tQVMPublisher& operator=(const tQVMPublisher&) = delete;

  /// Writes the whole content after the archive header; nothing when Stream or Structure is
  /// absent. Throws what the database, the stream and the events throw; the stream then holds
  /// an unfinished content.
  void Publish();

  tDatasetAdapter Adapter;
  std::vector<std::string> TableList;                  ///< tables to publish; Publish adds their masters
  std::string MainTable;                               ///< the deleted-rows table to publish first, or empty
  dataset::ByteWriter* Stream = nullptr;               ///< not owned
  dbstruct::tDatabase_Structure* Structure = nullptr;  ///< not owned
  std::string CurrentTableName;
  dbstruct::tTbl_Structure* CurrentTable = nullptr;

  PublisherTableProgressEvent OnTableProgress;
  PublisherRowProgressEvent OnRowProgress;
  PublisherRowFilterEvent OnRowFilter;
  PublisherRowEvent OnRowWritten;
  PublisherTableEvent OnTableStart;

 private:
  /// Adds to TableList every master (at any depth) of a listed table.
  void AddMasterTables();
  bool Listed(const std::string& name) const;
  void PublishTable(dbstruct::tTbl_Structure& table, bool main_table);
  /// PublishTable, then CloseData of the table on every way out; a CloseData failure after a
  /// published table fails the export.
  void PublishAndClose(dbstruct::tTbl_Structure& table, bool main_table);
};

}  // namespace tamaril::replication
