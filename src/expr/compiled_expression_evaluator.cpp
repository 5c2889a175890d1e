// The stack evaluator of compiled rule programs: short-circuit jumps, cached operations and the
// evaluation error codes.

#include <cstdlib>
#include <exception>

#include "expr/compiled_expression_internal.h"

namespace tamaril::expr {

void TCompiledExpression::Prepare() {
  if (constant_) return;
  evaluation_error_ = 0;
  stack_.clear();
}

int TCompiledExpression::Evaluate(Value& result) {
  result = Value();
  if (has_cache_) {
    for (TFactor& factor : program_) {
      if (factor.kind == FactorKind::Operation && factor.cached) {
        factor.cached = false;
        factor.value = Value();
      }
    }
  }
  if (!constant_) {
    evaluation_error_ = 0;
    stack_.clear();
    try {
      Run();
    } catch (const EvaluationFailure& failure) {
      evaluation_error_ = static_cast<int>(failure.code());
    } catch (const std::exception&) {
      evaluation_error_ = static_cast<int>(EvalCode::Other);
    }
    if (evaluation_error_ != 0) {
      stack_.clear();
      return evaluation_error_;
    }
  }
  if (!stack_.empty()) result = stack_.front();
  return 0;
}

void TCompiledExpression::Run() {
  const std::size_t n = program_.size();
  for (std::size_t i = 0; i < n;) {
    const TFactor& factor = program_[i];
    if (factor.jump != 0 && stack_.size() > factor.jump_depth) {
      const Value& tested = stack_[stack_.size() - 1 - factor.jump_depth];
      if (tested.kind() == Value::Kind::Boolean && (tested.raw_number() != 0) == (factor.jump > 0)) {
        stack_.emplace_back();
        i += static_cast<std::size_t>(std::abs(factor.jump));
        continue;
      }
    }
    if (factor.kind == FactorKind::Constant) {
      stack_.push_back(factor.value);
    } else {
      RunOperation(i);
    }
    ++i;
  }
}

void TCompiledExpression::RunOperation(std::size_t index) {
  TFactor& factor = program_[index];
  const OperationDef& def = *factor.def;
  const std::size_t count = def.arg_count;
  if (stack_.size() < count || def.function == nullptr) throw EvaluationFailure(EvalCode::Other);
  const Value* args = count > 0 ? &stack_[stack_.size() - count] : nullptr;
  if (def.ResultType() == TypeCode::None) {
    def.function(nullptr, def, *this, args);
    stack_.resize(stack_.size() - count);
    return;
  }
  Value result;
  bool from_cache = false;
  if (def.Caches()) {
    for (std::int32_t j = factor.previous_same; j >= 0;
         j = program_[static_cast<std::size_t>(j)].previous_same) {
      const TFactor& earlier = program_[static_cast<std::size_t>(j)];
      if (earlier.cached) {
        result = earlier.value;
        from_cache = true;
        break;
      }
    }
  }
  if (!from_cache) def.function(&result, def, *this, args);
  if (def.Caches() && !factor.cached) {
    factor.value = result;
    factor.cached = true;
  }
  stack_.resize(stack_.size() - count);
  stack_.push_back(std::move(result));
}

}  // namespace tamaril::expr
