#include "expr/dataset_expression.h"

#include "dataset/date_codec.h"
#include "text/locale.h"

namespace tamaril::expr {
namespace {

using dataset::FieldType;

const std::string& StoredFieldName(const OperationDef& def) {
  return *static_cast<const std::string*>(def.user_area);
}

Value ReadField(const dataset::TDataSet* dataset, const std::string& field_name) {
  if (dataset == nullptr || !dataset->Active()) return Value();
  return ReadFieldValue(dataset->FindField(field_name));
}

void ReadSingleDatasetField(Value* result, const OperationDef& def, TCompiledExpression& engine,
                            const Value*) {
  const auto* owner = dynamic_cast<const tDatasetExpression*>(engine.Owner());
  *result = ReadField(owner != nullptr ? owner->DataSet() : nullptr, StoredFieldName(def));
}

void ReadTwoDatasetField(Value* result, const OperationDef& def, TCompiledExpression& engine, const Value*) {
  const auto* owner = dynamic_cast<const tTwoDatasetExpression*>(engine.Owner());
  if (owner == nullptr) {
    *result = Value();
    return;
  }
  const bool prefixed = !owner->Prefix().empty() && def.name.starts_with(owner->Prefix());
  *result = ReadField(prefixed ? owner->PrefixedDataSet() : owner->OtherDataSet(), StoredFieldName(def));
}

std::string TimeText(double days) {
  const dataset::TimeStamp stamp = dataset::DateTimeToTimeStamp(days);
  const int seconds = stamp.time / 1000;
  return text::FormatTime(seconds / 3600, seconds / 60 % 60, seconds % 60);
}

void RegisterFields(bool include_calculated, FieldRegistry& registry, std::string_view prefix,
                    DefinitionList& head, std::string_view category, const dataset::TDataSet& dataset,
                    OperationFunction reader) {
  for (const auto& field : dataset.Fields()) {
    if (field->FieldKind() == dataset::TFieldKind::Calculated && !include_calculated) continue;
    const std::optional<TypeCode> type = FieldLanguageType(field->DataType());
    if (!type) continue;
    FieldDefinition& entry = AddFieldDefinition(registry);
    entry.name = FieldIdentifier(prefix, field->Name);
    entry.field_name = field->Name;
    entry.category = category;
    entry.def.name = entry.name;
    entry.def.flags = MakeFlags(0, ShortCircuit::None, true);
    entry.def.function = reader;
    entry.def.category = entry.category;
    entry.def.signature[0] = *type;
    entry.def.user_area = &entry.field_name;
    RegisterOperation(head, entry.def);
  }
}

}  // namespace

const OperationDef* FieldRegistry::Find(std::string_view name) const {
  for (const auto& entry : entries_) {
    if (entry->name == name) return &entry->def;
  }
  return nullptr;
}

FieldDefinition& AddFieldDefinition(FieldRegistry& registry) {
  return *registry.entries_.emplace_back(std::make_unique<FieldDefinition>());
}

void FreeFieldDefinitions(FieldRegistry& registry) noexcept { registry.entries_.clear(); }

std::optional<TypeCode> FieldLanguageType(FieldType type) {
  switch (type) {
    case FieldType::String:
    case FieldType::Guid:
    case FieldType::Time: return TypeCode::String;
    case FieldType::Smallint:
    case FieldType::Integer:
    case FieldType::Word:
    case FieldType::Float:
    case FieldType::Currency:
    case FieldType::BCD:
    case FieldType::AutoInc: return TypeCode::Number;
    case FieldType::Boolean: return TypeCode::Boolean;
    case FieldType::Date:
    case FieldType::DateTime: return TypeCode::Date;
    default: return std::nullopt;
  }
}

std::string FieldIdentifier(std::string_view prefix, std::string_view field_name) {
  std::string name(prefix);
  name += text::UpperCase(field_name);
  for (std::size_t i = prefix.size(); i < name.size(); ++i) {
    if (name[i] == ' ') name[i] = '_';
  }
  return name;
}

void RegisterDatasetFields(bool include_calculated, FieldRegistry& registry, DefinitionList& head,
                           std::string_view category, const dataset::TDataSet& dataset) {
  RegisterFields(include_calculated, registry, {}, head, category, dataset, ReadSingleDatasetField);
}

void RegisterTwoDatasetFields(bool include_calculated, FieldRegistry& registry, std::string_view prefix,
                              DefinitionList& head, std::string_view other_category,
                              std::string_view prefixed_category, const dataset::TDataSet& other,
                              const dataset::TDataSet& prefixed, std::string_view other_prefix) {
  RegisterFields(include_calculated, registry, prefix, head, prefixed_category, prefixed,
                 ReadTwoDatasetField);
  RegisterFields(include_calculated, registry, other_prefix, head, other_category, other,
                 ReadTwoDatasetField);
}

Value ReadFieldValue(const dataset::TField* field) {
  if (field == nullptr || !field->DataSet().Active()) return Value();
  switch (field->DataType()) {
    case FieldType::String:
    case FieldType::Guid: return Value::String(field->AsString());
    case FieldType::Time:
      return Value::String(field->IsNull() ? std::string() : TimeText(field->AsDateTime()));
    case FieldType::Smallint:
    case FieldType::Integer:
    case FieldType::Word:
    case FieldType::Float:
    case FieldType::Currency:
    case FieldType::BCD:
    case FieldType::AutoInc: return Value::Number(field->AsFloat());
    case FieldType::Boolean: return Value::Boolean(field->AsBoolean());
    case FieldType::Date:
    case FieldType::DateTime: return Value::Date(field->AsDateTime());
    default: return Value();
  }
}

}  // namespace tamaril::expr
