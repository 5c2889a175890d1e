// The rule compiler: turns a rule text into the postfix program, checking operand types against
// the definition list, and links the short-circuit jumps and the caches.

#include <algorithm>
#include <array>
#include <memory>
#include <unordered_map>
#include <unordered_set>

#include "expr/compiled_expression_internal.h"
#include "text/ascii.h"
#include "text/encoding.h"
#include "text/locale.h"

namespace tamaril::expr {
namespace {

using ListInfo = TCompiledExpression::ListInfo;
using scanner::DateLiteral;
using scanner::IsStringLiteral;
using scanner::NumberLiteral;
using scanner::StringLiteralValue;
using scanner::UnwrapByScanning;

std::unique_ptr<ListInfo> AnalyseList(const OperationDef* head) {
  auto info = std::make_unique<ListInfo>();
  std::array<std::unordered_set<std::string_view>, 5> seen;
  std::unordered_set<std::string_view> all_names;
  for (const OperationDef* def = head; def != nullptr; def = def->next) {
    info->max_args = std::max<std::size_t>(info->max_args, def->arg_count);
    if (def->name.empty()) continue;
    all_names.insert(def->name);
    if (def->arg_count == 0) info->identifiers.emplace(def->name, def);
    const int level = def->Level();
    // A name holding a parenthesis or a quote can never stand outside them.
    if (level > 4 || def->name.find_first_of("()\"") != std::string_view::npos) continue;
    if (seen[level].insert(def->name).second) {
      info->level_ops[level].push_back(def);
      info->first_bytes[level].set(static_cast<unsigned char>(def->name.front()));
    }
  }
  info->names.assign(all_names.begin(), all_names.end());
  std::sort(info->names.begin(), info->names.end());
  return info;
}

const ListInfo& InfoOf(const OperationDef* head) {
  thread_local std::unordered_map<const OperationDef*, std::unique_ptr<ListInfo>> cache;
  thread_local std::uint64_t generation = 0;
  if (generation != RegistrationGeneration()) {
    cache.clear();
    generation = RegistrationGeneration();
  }
  std::unique_ptr<ListInfo>& slot = cache[head];
  if (!slot) slot = AnalyseList(head);
  return *slot;
}

struct NestingGuard {
  explicit NestingGuard(int& nesting) : nesting_(nesting) {
    if (++nesting_ > kMaxCompileNesting) throw ECompile(CompileCode::TooComplicated);
  }
  ~NestingGuard() { --nesting_; }
  NestingGuard(const NestingGuard&) = delete;
  NestingGuard& operator=(const NestingGuard&) = delete;
  int& nesting_;
};

}  // namespace

TCompiledExpression::TCompiledExpression(TExpression* owner) : owner_(owner) {
  program_.reserve(16);
  stack_.reserve(16);
}

int TCompiledExpression::CompareStrings(std::string_view a, std::string_view b) const {
  return unicode_text_ ? text::CompareUnicodeText(a, b) : text::CompareText(a, b);
}

Value TCompiledExpression::StringResult(std::string ansi) const {
  return Value::String(unicode_text_ ? text::AnsiToUtf8(ansi) : std::move(ansi));
}

void TCompiledExpression::Clear() {
  program_.clear();
  stack_.clear();
  evaluation_error_ = 0;
  constant_ = false;
  has_cache_ = false;
  result_type_ = TypeCode::None;
}

int TCompiledExpression::Compile(std::string_view text, const OperationDef* list) {
  Clear();
  error_text_.clear();
  if (unicode_text_) {
    // Names and operators are Windows-1250 in every definition list; only the quoted
    // constants keep their UTF-8.
    source_.clear();
    std::size_t start = 0;
    bool in_quotes = false;
    for (std::size_t i = 0; i <= text.size(); ++i) {
      if (i < text.size() && text[i] != '"') continue;
      const std::string_view part = text.substr(start, i - start);
      source_ += in_quotes ? std::string(part) : text::Utf8ToAnsi(part);
      if (i < text.size()) source_ += '"';
      in_quotes = !in_quotes;
      start = i + 1;
    }
  } else {
    source_.assign(text);
  }
  try {
    CompileWhole(list);
  } catch (ECompile& failure) {
    Clear();
    error_text_ = std::move(failure.text);
    return static_cast<int>(failure.code());
  } catch (...) {
    Clear();
    throw;
  }
  return 0;
}

void TCompiledExpression::CompileWhole(const OperationDef* list) {
  buffer_.assign(text::TrimBlanks(source_));
  const std::size_t n = buffer_.size();

  // Parentheses outside quotes and the number of quotes, in the original text.
  CompileCode balance = CompileCode::Ok;
  match_.assign(n, -1);
  {
    std::vector<std::int32_t> open;
    bool in_quotes = false;
    std::size_t quotes = 0;
    for (std::size_t i = 0; i < n; ++i) {
      const char c = buffer_[i];
      if (c == '"') {
        in_quotes = !in_quotes;
        ++quotes;
      } else if (!in_quotes && c == '(') {
        open.push_back(static_cast<std::int32_t>(i));
      } else if (!in_quotes && c == ')') {
        if (open.empty()) {
          if (balance == CompileCode::Ok) balance = CompileCode::OpenParenExpected;
          continue;
        }
        match_[static_cast<std::size_t>(open.back())] = static_cast<std::int32_t>(i);
        open.pop_back();
      }
    }
    if (balance == CompileCode::Ok && !open.empty()) balance = CompileCode::CloseParenExpected;
    if (balance == CompileCode::Ok && quotes % 2 != 0) balance = CompileCode::UnterminatedString;
  }

  std::string_view whole = balance == CompileCode::Ok ? Unwrap(buffer_) : UnwrapByScanning(buffer_);
  if (balance == CompileCode::Ok && IsStringLiteral(whole)) {
    AppendConstant(Value::String(StringLiteralValue(whole)));
    result_type_ = TypeCode::String;
  } else {
    bool in_quotes = false;
    for (char& c : buffer_) {
      if (c == '"') in_quotes = !in_quotes;
      if (!in_quotes) c = text::UpperChar(c);
    }
    if (balance != CompileCode::Ok) {
      ECompile failure(balance);
      failure.text.assign(whole);
      throw failure;
    }
    if (whole.empty()) return;
    info_ = &InfoOf(list);
    nesting_ = 0;
    try {
      result_type_ = CompileSub(whole);
    } catch (ECompile& failure) {
      if (failure.code() == CompileCode::TooComplicated) failure.text.assign(whole);
      throw;
    }
  }

  SetUpJumps();
  if (program_.size() == 1 && program_.front().kind == FactorKind::Constant) {
    stack_.push_back(program_.front().value);
    constant_ = true;
  }
}

TypeCode TCompiledExpression::CompileSub(std::string_view text) {
  const NestingGuard guard(nesting_);
  try {
    text = Unwrap(text);
    if (text.empty()) throw ECompile(CompileCode::MissingOperand);

    if (const auto number = NumberLiteral(text)) {
      AppendConstant(Value::Number(*number));
      return TypeCode::Number;
    }
    if (IsStringLiteral(text)) {
      AppendConstant(Value::String(StringLiteralValue(text)));
      return TypeCode::String;
    }
    if (const auto date = DateLiteral(text)) {
      AppendConstant(Value::Date(*date));
      return TypeCode::Date;
    }
    if (text == BooleanWord(true) || text == BooleanWord(false)) {
      AppendConstant(Value::Boolean(text == BooleanWord(true)));
      return TypeCode::Boolean;
    }
    if (const auto it = info_->identifiers.find(text); it != info_->identifiers.end()) {
      return AppendOperation(*it->second, nullptr, 0);
    }
    for (int level = 4; level >= 0; --level) {
      const OperationDef* found = nullptr;
      std::size_t position = 0;
      if (FindSplit(level, text, found, position)) return CompileSplit(text, *found, position);
    }
    throw ECompile(CompileCode::UnknownOperation);
  } catch (ECompile& failure) {
    if (failure.text.empty() && failure.code() != CompileCode::TooComplicated) failure.text.assign(text);
    throw;
  }
}

TypeCode TCompiledExpression::CompileSplit(std::string_view text, const OperationDef& found,
                                           std::size_t position) {
  const int level = found.Level();
  const std::size_t length = found.name.size();
  std::array<TypeCode, kMaxOperationArgs + 1> types{};
  std::size_t count = 0;
  if (level >= 2) {
    types[0] = CompileSub(text.substr(0, position));
    types[1] = CompileSub(text.substr(position + length));
    count = 2;
  } else if (level == 1) {
    types[0] = CompileSub(text.substr(length));
    count = 1;
  } else {
    const std::string_view args = Unwrap(text.substr(length));
    std::array<std::size_t, kMaxOperationArgs + 1> separators{};
    std::size_t found_separators = 0;
    int depth = 0;
    bool in_quotes = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
      const char c = args[i];
      if (c == '"') in_quotes = !in_quotes;
      if (in_quotes) continue;
      if (c == '(') ++depth;
      if (c == ')') --depth;
      if (c == ',' && depth == 0) {
        if (found_separators + 1 >= info_->max_args) throw ECompile(CompileCode::WrongOperandCount);
        separators[found_separators++] = i;
      }
    }
    count = found_separators + 1;
    if (count > info_->max_args) throw ECompile(CompileCode::WrongOperandCount);
    std::size_t start = 0;
    for (std::size_t i = 0; i < count; ++i) {
      const std::size_t end = i < found_separators ? separators[i] : args.size();
      types[i] = CompileSub(args.substr(start, end - start));
      start = end + 1;
    }
  }
  return AppendOperation(found, types.data(), count);
}

TypeCode TCompiledExpression::AppendOperation(const OperationDef& found, const TypeCode* types,
                                              std::size_t count) {
  while (count > 0 && types[count - 1] == TypeCode::None) --count;
  const int level = found.Level();
  for (const OperationDef* def = &found; def != nullptr; def = def->next) {
    if (def->hash != found.hash || def->name != found.name) continue;
    if (def->Level() != level || def->arg_count != count) continue;
    bool same = true;
    for (std::size_t i = 0; i < count && same; ++i) same = def->ArgType(i) == types[i];
    if (!same) continue;
    TFactor factor;
    factor.kind = FactorKind::Operation;
    factor.def = def;
    program_.push_back(std::move(factor));
    return def->ResultType();
  }
  throw ECompile(CompileCode::WrongType);
}

void TCompiledExpression::AppendConstant(Value value) {
  TFactor factor;
  factor.value = std::move(value);
  program_.push_back(std::move(factor));
}

std::size_t TCompiledExpression::OperandStart(std::size_t end) const {
  long need = 1;
  for (std::size_t i = end + 1; i-- > 0;) {
    need += program_[i].OperandCount() - 1;
    if (need == 0) return i;
  }
  return 0;
}

void TCompiledExpression::SetUpJumps() {
  for (std::size_t k = 0; k < program_.size(); ++k) {
    TFactor& op = program_[k];
    if (op.kind != FactorKind::Operation) continue;
    if (op.def->Caches()) {
      has_cache_ = true;
      for (std::size_t j = k; j-- > 0;) {
        if (program_[j].def == op.def) {
          op.previous_same = static_cast<std::int32_t>(j);
          break;
        }
      }
    }
    const ShortCircuit kind = op.def->ShortCircuitKind();
    if (kind == ShortCircuit::None || k == 0) continue;
    const std::size_t e = OperandStart(k - 1);
    const auto distance = static_cast<std::int32_t>(k - e);
    if ((kind == ShortCircuit::OrLike || kind == ShortCircuit::AndLike) && op.def->arg_count == 2) {
      program_[e].jump = kind == ShortCircuit::OrLike ? distance : -distance;
    } else if (kind == ShortCircuit::IfLike && op.def->arg_count == 3 && e > 0) {
      const std::size_t s = OperandStart(e - 1);
      program_[s].jump = -static_cast<std::int32_t>(e - s);
      program_[e].jump = distance;
      program_[e].jump_depth = 1;
    }
  }
}

}  // namespace tamaril::expr
