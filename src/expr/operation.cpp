#include "expr/operation.h"

#include <atomic>

namespace tamaril::expr {
namespace {

std::atomic<std::uint64_t> registration_generation{1};

std::string& TrueWord() {
  static std::string word = "TRUE";
  return word;
}

std::string& FalseWord() {
  static std::string word = "FALSE";
  return word;
}

}  // namespace

std::uint32_t NameHash(std::string_view name) noexcept {
  std::uint32_t sum = 0;
  for (const char c : name) sum += static_cast<unsigned char>(c);
  return sum;
}

void RegisterOperation(DefinitionList& head, OperationDef& def) {
  if (def.record_size != kOperationRecordSize || def.arg_count > kMaxOperationArgs) {
    throw OperationDefinitionError("invalid operation definition record");
  }
  if (def.registration_count == 0) {
    def.hash = NameHash(def.name);
    def.next = head;
    head = &def;
    registration_generation.fetch_add(1, std::memory_order_relaxed);
  }
  ++def.registration_count;
}

void SetBooleanWords(std::string_view true_word, std::string_view false_word) {
  TrueWord() = true_word;
  FalseWord() = false_word;
  registration_generation.fetch_add(1, std::memory_order_relaxed);
}

const std::string& BooleanWord(bool value) { return value ? TrueWord() : FalseWord(); }

std::uint64_t RegistrationGeneration() noexcept {
  return registration_generation.load(std::memory_order_relaxed);
}

}  // namespace tamaril::expr
