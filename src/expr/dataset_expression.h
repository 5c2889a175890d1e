#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "dataset/dataset.h"
#include "expr/expression.h"

namespace tamaril::expr {

/// A rule that looks at the current row of one dataset (export and append rules): its field
/// identifiers read the fields of that row.
class tDatasetExpression : public TExpression {
 public:
  /// A rule bound to `dataset` (may be null; rebind it with SetDataSet).
  explicit tDatasetExpression(dataset::TDataSet* dataset = nullptr) : dataset_(dataset) {}

  dataset::TDataSet* DataSet() const noexcept { return dataset_; }
  /// Points the rule at another dataset (callers keep one object for all tables).
  void SetDataSet(dataset::TDataSet* dataset) noexcept { dataset_ = dataset; }

 private:
  dataset::TDataSet* dataset_;
};

/// A rule that compares two rows (update, update-field and delete rules): identifiers that
/// start with the prefix read the prefixed dataset, all others the other dataset.
class tTwoDatasetExpression : public TExpression {
 public:
  /// A rule over `prefixed` (names starting with `prefix`, e.g. "@IMP_") and `other`.
  tTwoDatasetExpression(dataset::TDataSet* prefixed, dataset::TDataSet* other, std::string prefix)
      : prefix_(std::move(prefix)), prefixed_(prefixed), other_(other) {}

  const std::string& Prefix() const noexcept { return prefix_; }
  dataset::TDataSet* PrefixedDataSet() const noexcept { return prefixed_; }
  dataset::TDataSet* OtherDataSet() const noexcept { return other_; }
  void SetPrefixedDataSet(dataset::TDataSet* dataset) noexcept { prefixed_ = dataset; }
  void SetOtherDataSet(dataset::TDataSet* dataset) noexcept { other_ = dataset; }

 private:
  std::string prefix_;
  dataset::TDataSet* prefixed_;
  dataset::TDataSet* other_;
};

/// One field identifier: its operation record and the texts the record points at.
struct FieldDefinition {
  std::string name;        ///< the identifier: prefix + field name upper-cased, blanks as "_"
  std::string field_name;  ///< the field as the dataset spells it (the record's user area)
  std::string category;    ///< the group title given by the registering caller
  OperationDef def;
};

/// The field identifiers a caller registered, in registration order. It owns their records:
/// a definition list that holds them must not be used once the registry is freed or destroyed.
class FieldRegistry {
 public:
  FieldRegistry() = default;
  FieldRegistry(const FieldRegistry&) = delete;
  FieldRegistry& operator=(const FieldRegistry&) = delete;

  bool Empty() const noexcept { return entries_.empty(); }
  std::size_t Count() const noexcept { return entries_.size(); }
  const std::vector<std::unique_ptr<FieldDefinition>>& Entries() const noexcept { return entries_; }
  /// The record registered under a generated name (the first of that name), or null.
  const OperationDef* Find(std::string_view name) const;

 private:
  friend FieldDefinition& AddFieldDefinition(FieldRegistry& registry);
  friend void FreeFieldDefinitions(FieldRegistry& registry) noexcept;
  std::vector<std::unique_ptr<FieldDefinition>> entries_;
};

/// A new empty entry at the end of the registry (used by the registrations).
FieldDefinition& AddFieldDefinition(FieldRegistry& registry);

/// The language type of a field data type, or nothing for types rules cannot see (memo,
/// large integer, wide string, fixed character, bytes …). A time field is typed string.
std::optional<TypeCode> FieldLanguageType(dataset::FieldType type);

/// The identifier of a field: `prefix` + the name upper-cased with every blank as "_"
/// ("Datum zápisu" -> "DATUM_ZÁPISU").
std::string FieldIdentifier(std::string_view prefix, std::string_view field_name);

/// Registers one identifier per field of `dataset` that rules can see (calculated fields only
/// with `include_calculated`) into `head`, read from the dataset of the running
/// tDatasetExpression; the records go to `registry`. Throws what the registration throws.
void RegisterDatasetFields(bool include_calculated, FieldRegistry& registry, DefinitionList& head,
                           std::string_view category, const dataset::TDataSet& dataset);

/// Registers the fields of `prefixed` with `prefix` and `prefixed_category`, then those of
/// `other` with `other_prefix` and `other_category`, all read through the running
/// tTwoDatasetExpression. Throws what the registration throws.
void RegisterTwoDatasetFields(bool include_calculated, FieldRegistry& registry, std::string_view prefix,
                              DefinitionList& head, std::string_view other_category,
                              std::string_view prefixed_category, const dataset::TDataSet& other,
                              const dataset::TDataSet& prefixed, std::string_view other_prefix = {});

/// Frees every record of the registry and empties it. A list head that reached them must be
/// reset (copied again from a global list) before fields are registered anew.
void FreeFieldDefinitions(FieldRegistry& registry) noexcept;

/// The value rules see for `field` in the current row: Null when the field is missing or its
/// dataset closed, else by type with NULL as the empty value (empty string, 0, false, date 0).
/// A time field reads as its time text. Throws what reading the field throws.
Value ReadFieldValue(const dataset::TField* field);

}  // namespace tamaril::expr
