#include "expr/compiled_expression.h"

#include <algorithm>
#include <array>
#include <bitset>
#include <charconv>
#include <cmath>
#include <ctime>
#include <memory>
#include <optional>
#include <unordered_map>
#include <unordered_set>

#include "dataset/date_codec.h"
#include "text/locale.h"

namespace tamaril::expr {

// What the compiler derives from a definition list once: operator names by level, the
// zero-argument identifiers, every name (for the longest-name test) and the largest
// argument count. Lists only grow at the head and records are never unlinked, so a head
// together with the registration generation names one unchanging list.
struct TCompiledExpression::ListInfo {
  std::size_t max_args = 0;
  std::array<std::vector<const OperationDef*>, 5> level_ops;
  std::array<std::bitset<256>, 5> first_bytes;
  std::vector<std::string_view> names;  // sorted, distinct
  std::unordered_map<std::string_view, const OperationDef*> identifiers;

  /// True when some name starts with `prefix` (and so is longer than prefix minus one).
  bool HasNameStartingWith(std::string_view prefix) const {
    const auto it = std::lower_bound(names.begin(), names.end(), prefix);
    return it != names.end() && it->starts_with(prefix);
  }
};

namespace {

using ListInfo = TCompiledExpression::ListInfo;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool IsBlank(char c) { return static_cast<unsigned char>(c) <= 0x20; }

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

bool IsIdentifierChar(char c) {
  const auto u = static_cast<unsigned char>(c);
  return c == '$' || IsDigit(c) || (u >= '@' && u <= 'Z') || c == '_' || (u >= 'a' && u <= 'z');
}

bool IsOperatorSymbol(char c) {
  const auto u = static_cast<unsigned char>(c);
  if (u < 32 || u >= 127) return true;
  switch (c) {
    case '!': case '#': case '%': case '&': case '\'': case '*': case '+': case '-': case '/':
    case '<': case '=': case '>': case '?': case '\\': case '^': case '`': case '|': case '~': return true;
    default: return false;
  }
}

/// A number in the form [sign] digits [point digits] [E [sign] digits] with `point` as the
/// decimal point; nullopt when the text has another form or the value does not fit a double.
std::optional<double> ParseNumber(std::string_view text, char point) {
  std::size_t i = 0;
  const std::size_t n = text.size();
  bool negative = false;
  if (i < n && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  const std::size_t mantissa_start = i;
  std::size_t digits = 0;
  while (i < n && IsDigit(text[i])) ++i, ++digits;
  std::size_t point_at = std::string_view::npos;
  if (i < n && text[i] == point) {
    point_at = i++;
    while (i < n && IsDigit(text[i])) ++i, ++digits;
  }
  if (digits == 0) return std::nullopt;
  if (i < n && (text[i] == 'E' || text[i] == 'e')) {
    ++i;
    if (i < n && (text[i] == '+' || text[i] == '-')) ++i;
    const std::size_t exponent_start = i;
    while (i < n && IsDigit(text[i])) ++i;
    if (i == exponent_start) return std::nullopt;
  }
  if (i != n) return std::nullopt;
  std::string plain(text.substr(mantissa_start));
  if (point_at != std::string_view::npos) plain[point_at - mantissa_start] = '.';
  double value = 0;
  const auto [end, error] = std::from_chars(plain.data(), plain.data() + plain.size(), value);
  if (error != std::errc() || end != plain.data() + plain.size() || !std::isfinite(value)) return std::nullopt;
  return negative ? -value : value;
}

std::optional<double> NumberLiteral(std::string_view text) {
  const char decimal = text::CurrentFormats().decimal_separator;
  const char first = text.front();
  if (!IsDigit(first) && first != '+' && first != '-' && first != '.' && first != decimal) return std::nullopt;
  if (auto value = ParseNumber(text, '.')) return value;
  if (decimal != '.') return ParseNumber(text, decimal);
  return std::nullopt;
}

bool IsStringLiteral(std::string_view text) {
  const std::size_t n = text.size();
  if (n < 2 || text.front() != '"' || text.back() != '"') return false;
  for (std::size_t i = 1; i + 1 < n; ++i) {
    if (text[i] != '"') continue;
    if (i + 2 < n && text[i + 1] == '"') {
      ++i;
    } else {
      return false;
    }
  }
  return true;
}

std::string StringLiteralValue(std::string_view text) {
  std::string value;
  value.reserve(text.size() - 2);
  for (std::size_t i = 1; i + 1 < text.size(); ++i) {
    value += text[i];
    if (text[i] == '"') ++i;
  }
  return value;
}

int CurrentYear() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return local.tm_year + 1900;
}

/// A date written as three numbers separated by "." in the order of the short date format.
std::optional<double> DateLiteral(std::string_view text) {
  if (std::count(text.begin(), text.end(), '.') != 2) return std::nullopt;
  if (!std::all_of(text.begin(), text.end(), [](char c) { return IsDigit(c) || c == '.'; })) return std::nullopt;
  std::array<long long, 3> parts{};
  std::array<std::size_t, 3> lengths{};
  std::size_t part = 0;
  for (std::size_t i = 0; i <= text.size(); ++i) {
    if (i == text.size() || text[i] == '.') {
      if (lengths[part] == 0) return std::nullopt;
      ++part;
      continue;
    }
    if (++lengths[part] > 9) return std::nullopt;
    parts[part] = parts[part] * 10 + (text[i] - '0');
  }
  // The order of day, month and year in the short date picture.
  const std::string& picture = text::CurrentFormats().short_date_format;
  std::array<std::size_t, 3> where{picture.find('d'), picture.find('M'), picture.find('y')};
  std::array<int, 3> order{0, 1, 2};  // indices into where: day, month, year
  std::sort(order.begin(), order.end(), [&where](int a, int b) { return where[a] < where[b]; });
  long long day = 0, month = 0, year = 0;
  for (std::size_t i = 0; i < 3; ++i) {
    long long& target = order[i] == 0 ? day : order[i] == 1 ? month : year;
    target = parts[i];
    if (order[i] == 2 && lengths[i] <= 2) {
      // Two-digit years fall into the fifty years around now.
      const int window_start = CurrentYear() - 50;
      year += window_start / 100 * 100;
      if (year < window_start) year += 100;
    }
  }
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1) return std::nullopt;
  const std::int64_t first = dataset::DayNumberFromCivil(year, static_cast<int>(month), 1);
  const std::int64_t next = dataset::DayNumberFromCivil(year, static_cast<int>(month) + 1, 1);
  if (day > next - first) return std::nullopt;
  return static_cast<double>(first + day - 1 - dataset::kDayNumberOf30Dec1899);
}

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

/// Unwraps enclosing parentheses by counting depth, for texts whose parentheses do not balance
/// (only the error text depends on it). Gives up after `budget` characters scanned.
std::string_view UnwrapByScanning(std::string_view text) {
  std::size_t budget = 4'000'000;
  text = Trim(text);
  while (text.size() >= 2 && text.front() == '(' && text.back() == ')') {
    int depth = 1;
    bool in_quotes = false;
    const std::string_view inner = text.substr(1, text.size() - 2);
    if (inner.size() > budget) break;
    budget -= inner.size();
    bool closes = false;
    for (const char c : inner) {
      if (c == '"') in_quotes = !in_quotes;
      if (in_quotes) continue;
      if (c == '(') ++depth;
      if (c == ')' && --depth == 0) {
        closes = true;
        break;
      }
    }
    if (closes) break;
    text = Trim(inner);
  }
  return text;
}

}  // namespace

TCompiledExpression::TCompiledExpression(TExpression* owner) : owner_(owner) {
  program_.reserve(16);
  stack_.reserve(16);
}

int TCompiledExpression::CompareStrings(std::string_view a, std::string_view b) const {
  return text::CompareText(a, b);
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
  source_.assign(text);
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
  buffer_.assign(Trim(source_));
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

std::string_view TCompiledExpression::Unwrap(std::string_view text) const {
  text = Trim(text);
  while (text.size() >= 2 && text.front() == '(' && text.back() == ')' &&
         match_[static_cast<std::size_t>(text.data() - buffer_.data())] ==
             static_cast<std::int32_t>(text.data() + text.size() - 1 - buffer_.data())) {
    text = Trim(text.substr(1, text.size() - 2));
  }
  return text;
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

TypeCode TCompiledExpression::CompileSplit(std::string_view text, const OperationDef& found, std::size_t position) {
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

bool TCompiledExpression::FindSplit(int level, std::string_view text, const OperationDef*& found,
                                    std::size_t& position) const {
  const auto& ops = info_->level_ops[static_cast<std::size_t>(level)];
  if (ops.empty()) return false;
  const std::size_t n = text.size();
  if (level <= 1) {
    // Prefix operators and functions stand at the very beginning.
    for (const OperationDef* def : ops) {
      const std::size_t length = def->name.size();
      if (!text.starts_with(def->name)) continue;
      if (length < n && info_->HasNameStartingWith(text.substr(0, length + 1))) continue;
      found = def;
      position = 0;
      return true;
    }
    return false;
  }
  const auto& first_bytes = info_->first_bytes[static_cast<std::size_t>(level)];
  int depth = 0;
  bool in_quotes = false;
  std::size_t run = 0;  // free characters from k to the right
  for (std::size_t k = n; k-- > 0;) {
    const char c = text[k];
    bool free = false;
    if (c == '"') {
      in_quotes = !in_quotes;
    } else if (!in_quotes) {
      if (c == ')') {
        ++depth;
      } else if (c == '(') {
        --depth;
      } else {
        free = depth == 0;
      }
    }
    run = free ? run + 1 : 0;
    if (!free || k == 0 || !first_bytes[static_cast<unsigned char>(c)]) continue;
    const char before = text[k - 1];
    for (const OperationDef* def : ops) {
      const std::size_t length = def->name.size();
      if (length > run || text.compare(k, length, def->name) != 0) continue;
      if (length == 1 && k == n - 1) continue;
      if (IsIdentifierChar(c) ? IsIdentifierChar(before) : (!IsOperatorSymbol(c) || IsOperatorSymbol(before))) {
        continue;
      }
      if (k + length < n && info_->HasNameStartingWith(text.substr(k, length + 1))) continue;
      if (length == 1 && (c == '+' || c == '-') && IsExponentSign(text, k)) continue;
      found = def;
      position = k;
      return true;
    }
  }
  return false;
}

bool TCompiledExpression::IsExponentSign(std::string_view text, std::size_t position) const {
  // 1-based position p = position + 1 must satisfy 3 <= p <= length - 1.
  if (position < 2 || position + 2 > text.size()) return false;
  if (text[position - 1] != 'E' && text[position - 1] != 'e') return false;
  std::size_t start = position - 1;
  while (start > 0 && !IsOperatorSymbol(text[start - 1]) && text[start - 1] != ' ') --start;
  std::size_t end = position + 1;
  while (end < text.size() && IsDigit(text[end])) ++end;
  return ParseNumber(text.substr(start, end - start), '.').has_value();
}

TypeCode TCompiledExpression::AppendOperation(const OperationDef& found, const TypeCode* types, std::size_t count) {
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
    for (std::int32_t j = factor.previous_same; j >= 0; j = program_[static_cast<std::size_t>(j)].previous_same) {
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
