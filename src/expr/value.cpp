#include "expr/value.h"

namespace tamaril::expr {

char TypeLetter(TypeCode type) noexcept {
  switch (type) {
    case TypeCode::Number: return 'N';
    case TypeCode::String: return 'S';
    case TypeCode::Date: return 'D';
    case TypeCode::Boolean: return 'B';
    case TypeCode::None: break;
  }
  return '-';
}

double Value::AsNumber() const {
  if (kind_ != Kind::Number && kind_ != Kind::Date) throw EvaluationFailure(EvalCode::InvalidOperandType);
  return number_;
}

bool Value::AsBoolean() const {
  if (kind_ != Kind::Boolean) throw EvaluationFailure(EvalCode::InvalidOperandType);
  return number_ != 0;
}

const std::string& Value::AsString() const {
  if (kind_ != Kind::String) throw EvaluationFailure(EvalCode::InvalidOperandType);
  return text_;
}

bool Value::operator==(const Value& other) const {
  if (kind_ != other.kind_) return false;
  switch (kind_) {
    case Kind::Null: return true;
    case Kind::String: return text_ == other.text_;
    default: return number_ == other.number_;
  }
}

Value FromVariant(const dataset::Variant& variant) {
  using VK = dataset::Variant::Kind;
  switch (variant.kind()) {
    case VK::Empty:
    case VK::Null: return Value();
    case VK::Integer:
    case VK::Double:
    case VK::Currency: return Value::Number(variant.AsDouble());
    case VK::Boolean: return Value::Boolean(variant.AsBoolean());
    case VK::String: return Value::String(variant.AsString());
    case VK::DateTime: return Value::Date(variant.AsDateTime());
    case VK::Bytes:
    case VK::Array: break;
  }
  throw EvaluationFailure(EvalCode::InvalidOperandType);
}

dataset::Variant ToVariant(const Value& value) {
  switch (value.kind()) {
    case Value::Kind::Null: break;
    case Value::Kind::Number: return dataset::Variant::Double(value.raw_number());
    case Value::Kind::String: return dataset::Variant::String(value.raw_text());
    case Value::Kind::Date: return dataset::Variant::DateTime(value.raw_number());
    case Value::Kind::Boolean: return dataset::Variant::Boolean(value.raw_number() != 0);
  }
  return dataset::Variant::Null();
}

}  // namespace tamaril::expr
