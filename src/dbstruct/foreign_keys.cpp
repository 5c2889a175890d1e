#include "dbstruct/foreign_keys.h"

#include <atomic>

#include "dbstruct/errors.h"
#include "text/locale.h"

namespace tamaril::dbstruct {

namespace {
std::atomic<unsigned long long> links_generation{1};
}  // namespace

unsigned long long MasterLinksGeneration() noexcept { return links_generation.load(); }

void NoteMasterLinksChanged() noexcept { ++links_generation; }

void tForeignKeyInfo::AddColumns(std::string master_column, std::string detail_column) {
  PKColumns.push_back(std::move(master_column));
  FKColumns.push_back(std::move(detail_column));
}

tForeignKeyInfo* tForeignKeysInfo::FindKey(std::string_view name) const {
  for (const auto& key : keys_) {
    if (text::SameTextIgnoreCase(key->Name, name)) return key.get();
  }
  return nullptr;
}

tForeignKeyInfo& tForeignKeysInfo::AddKey(std::string_view name) {
  if (tForeignKeyInfo* key = FindKey(name)) return *key;
  auto key = std::make_unique<tForeignKeyInfo>();
  key->Name = std::string(name);
  keys_.push_back(std::move(key));
  return *keys_.back();
}

tMastersInfo::~tMastersInfo() { NoteMasterLinksChanged(); }

void tMastersInfo::Clear() {
  masters_.clear();
  NoteMasterLinksChanged();
}

tForeignKeysInfo* tMastersInfo::FindByMaster(const tTbl_Structure* master) const {
  for (const auto& entry : masters_) {
    if (entry->MasterTable == master) return entry.get();
  }
  return nullptr;
}

void tMastersInfo::AddMaster(tTbl_Structure* pk_table, std::string_view constraint_name,
                             std::string master_column, std::string detail_column) {
  if (pk_table == nullptr) throw StructureError("tMastersInfo.AddMaster: PK_Table not assigned");
  tForeignKeysInfo* entry = FindByMaster(pk_table);
  if (entry == nullptr) {
    masters_.push_back(std::make_unique<tForeignKeysInfo>(pk_table, Owner));
    entry = masters_.back().get();
  }
  entry->AddKey(constraint_name).AddColumns(std::move(master_column), std::move(detail_column));
  NoteMasterLinksChanged();
}

}  // namespace tamaril::dbstruct
