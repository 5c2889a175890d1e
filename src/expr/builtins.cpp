#include "expr/builtins.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <ctime>
#include <deque>
#include <string>

#include "dataset/date_codec.h"
#include "dataset/variant.h"
#include "expr/compiled_expression.h"
#include "expr/number_format.h"
#include "text/encoding.h"
#include "text/locale.h"

namespace tamaril::expr {
namespace {

using Kind = Value::Kind;

[[noreturn]] void Fail(EvalCode code) { throw EvaluationFailure(code); }

/// An arithmetic result: NaN is an invalid operation, infinity an overflow.
double Checked(double value) {
  if (std::isnan(value)) Fail(EvalCode::InvalidOperation);
  if (std::isinf(value)) Fail(EvalCode::Overflow);
  return value;
}

double NumberOrZero(const Value& value) { return value.IsNull() ? 0.0 : value.AsNumber(); }

/// The argument rounded to an integer (ties to even).
long long Integer(const Value& value) {
  const double rounded = std::nearbyint(value.AsNumber());
  if (!(std::fabs(rounded) < 9.0e15)) Fail(EvalCode::Overflow);
  return static_cast<long long>(rounded);
}

/// The argument with its fraction dropped.
long long Truncated(const Value& value) {
  const double truncated = std::trunc(value.AsNumber());
  if (!(std::fabs(truncated) < 9.0e15)) Fail(EvalCode::Overflow);
  return static_cast<long long>(truncated);
}

void SetNumber(Value* result, const OperationDef& def, double value) {
  *result = def.ResultType() == TypeCode::Date ? Value::Date(Checked(value)) : Value::Number(Checked(value));
}

double Divisor(const Value& dividend, const Value& divisor) {
  const double b = divisor.AsNumber();
  if (b == 0) Fail(dividend.AsNumber() == 0 ? EvalCode::InvalidOperation : EvalCode::DivisionByZero);
  return b;
}

void AddValues(Value* result, const OperationDef& def, TCompiledExpression&, const Value* args) {
  if (def.ResultType() == TypeCode::String) {
    std::string text = args[0].IsNull() ? std::string() : args[0].AsString();
    if (!args[1].IsNull()) text += args[1].AsString();
    *result = Value::String(std::move(text));
    return;
  }
  SetNumber(result, def, NumberOrZero(args[0]) + NumberOrZero(args[1]));
}

void Subtract(Value* result, const OperationDef& def, TCompiledExpression&, const Value* args) {
  if (def.arg_count == 1) {
    *result = Value::Number(-args[0].AsNumber());
    return;
  }
  SetNumber(result, def, NumberOrZero(args[0]) - NumberOrZero(args[1]));
}

void Arithmetic(Value* result, const OperationDef& def, TCompiledExpression&, const Value* args) {
  const std::string_view name = def.name;
  const double a = args[0].AsNumber();
  double value = 0;
  if (name == "*") {
    value = a * args[1].AsNumber();
  } else if (name == "/") {
    value = a / Divisor(args[0], args[1]);
  } else if (name == "DIV") {
    value = std::trunc(a / Divisor(args[0], args[1]));
  } else if (name == "MOD") {
    const double b = Divisor(args[0], args[1]);
    value = a - std::trunc(a / b) * b;
  } else if (name == "MIN") {
    const double b = args[1].AsNumber();
    value = a < b ? a : b;
  } else if (name == "MAX") {
    const double b = args[1].AsNumber();
    value = a > b ? a : b;
  } else if (name == "SQR") {
    value = a * a;
  } else if (name == "SQRT") {
    if (a < 0) Fail(EvalCode::InvalidOperation);
    value = std::sqrt(a);
  } else if (name == "ABS") {
    value = std::fabs(a);
  } else {
    Fail(EvalCode::Other);
  }
  *result = Value::Number(Checked(value));
}

void Round(Value* result, const OperationDef&, TCompiledExpression&, const Value* args) {
  const double x = args[0].AsNumber();
  const double n = args[1].AsNumber();
  const double p = Checked(std::pow(10.0, n));
  double value = 0;
  if (n == 0) {
    value = std::nearbyint(x);
  } else if (n > 0) {
    const double whole = std::trunc(x);
    value = whole + std::nearbyint(Checked((x - whole) * p)) / p;
  } else {
    value = std::nearbyint(Checked(x * p)) / p;
  }
  *result = Value::Number(Checked(value));
}

/// Orders two values: strings by the expression's collation, Null before anything else,
/// everything else (numbers, dates, false before true) by its number.
int Order(TCompiledExpression& engine, const Value& a, const Value& b) {
  if (a.kind() == Kind::String && b.kind() == Kind::String)
    return engine.CompareStrings(a.raw_text(), b.raw_text());
  if (a.IsNull() || b.IsNull()) return (a.IsNull() ? 0 : 1) - (b.IsNull() ? 0 : 1);
  if (a.kind() == Kind::String || b.kind() == Kind::String) Fail(EvalCode::InvalidOperandType);
  return a.raw_number() < b.raw_number() ? -1 : (a.raw_number() > b.raw_number() ? 1 : 0);
}

void Compare(Value* result, const OperationDef& def, TCompiledExpression& engine, const Value* args) {
  const int order = Order(engine, args[0], args[1]);
  const std::string_view name = def.name;
  bool value = false;
  if (name == "=")
    value = order == 0;
  else if (name == "<>")
    value = order != 0;
  else if (name == "<")
    value = order < 0;
  else if (name == ">")
    value = order > 0;
  else if (name == "<=")
    value = order <= 0;
  else
    value = order >= 0;
  *result = Value::Boolean(value);
}

void Not(Value* result, const OperationDef&, TCompiledExpression&, const Value* args) {
  *result = Value::Boolean(!args[0].AsBoolean());
}

void And(Value* result, const OperationDef&, TCompiledExpression&, const Value* args) {
  *result = args[0].AsBoolean() ? args[1] : args[0];
}

void Or(Value* result, const OperationDef&, TCompiledExpression&, const Value* args) {
  *result = args[0].AsBoolean() ? args[0] : args[1];
}

void If(Value* result, const OperationDef&, TCompiledExpression&, const Value* args) {
  *result = args[0].AsBoolean() ? args[1] : args[2];
}

void Str(Value* result, const OperationDef&, TCompiledExpression& engine, const Value* args) {
  const long long width = Truncated(args[1]);
  const long long decimals = Truncated(args[2]);
  std::string text =
      FormatNumberPrecision(args[0].AsNumber(), static_cast<int>(std::clamp(width, -1LL, 99LL)),
                            static_cast<int>(std::clamp(decimals, 0LL, 18LL)));
  if (width > 0 && static_cast<std::size_t>(std::min(width, 4096LL)) > text.size()) {
    text.insert(0, static_cast<std::size_t>(std::min(width, 4096LL)) - text.size(), ' ');
  }
  *result = engine.StringResult(std::move(text));
}

void StrDollar(Value* result, const OperationDef& def, TCompiledExpression& engine, const Value* args) {
  const Value& value = args[0];
  if (value.IsNull()) {
    *result = Value::String({});
    return;
  }
  switch (def.ArgType(0)) {
    case TypeCode::Number:
      *result = engine.StringResult(dataset::Variant::Double(value.AsNumber()).AsString());
      break;
    case TypeCode::Date:
      *result = engine.StringResult(dataset::Variant::DateTime(value.AsNumber()).AsString());
      break;
    case TypeCode::Boolean: *result = engine.StringResult(BooleanWord(value.AsBoolean())); break;
    default: *result = Value::String(value.AsString()); break;
  }
}

void NumDollar(Value* result, const OperationDef&, TCompiledExpression& engine, const Value* args) {
  const long long kind = Integer(args[0]);
  const int decimals = static_cast<int>(std::clamp(Integer(args[1]), 0LL, 18LL));
  const double x = args[2].AsNumber();
  std::string text;
  switch (kind) {
    case 0: text = FormatFixed(x, decimals, false); break;
    case 1: text = FormatScientific(x, decimals); break;
    case 2: text = FormatFixed(x, decimals, true); break;
    case 3: text = FormatCurrencyDecimals(x, decimals); break;
    case 4: text = FormatFixed(Checked(x * 100), decimals, false) + "%"; break;
    default: Fail(EvalCode::Other);
  }
  *result = engine.StringResult(std::move(text));
}

void Upper(Value* result, const OperationDef&, TCompiledExpression& engine, const Value* args) {
  *result = Value::String(engine.UnicodeText() ? text::UpperCaseUnicode(args[0].AsString())
                                               : text::UpperCase(args[0].AsString()));
}

// Lengths and positions count characters: bytes of a Windows-1250 string, code points of a
// UTF-8 one.
void Len(Value* result, const OperationDef&, TCompiledExpression& engine, const Value* args) {
  const std::string& text = args[0].AsString();
  *result = Value::Number(static_cast<double>(engine.UnicodeText() ? text::Utf8Length(text) : text.size()));
}

void Pos(Value* result, const OperationDef&, TCompiledExpression& engine, const Value* args) {
  const std::string& text = args[1].AsString();
  const std::size_t at = text.find(args[0].AsString());
  if (at == std::string::npos) {
    *result = Value::Number(0.0);
    return;
  }
  const std::size_t position =
      engine.UnicodeText() ? text::Utf8Length(std::string_view(text).substr(0, at)) : at;
  *result = Value::Number(static_cast<double>(position + 1));
}

void Copy(Value* result, const OperationDef&, TCompiledExpression& engine, const Value* args) {
  const std::string& text = args[0].AsString();
  const long long start = std::max(Truncated(args[1]), 1LL);
  const long long count = Truncated(args[2]);
  const std::size_t length = engine.UnicodeText() ? text::Utf8Length(text) : text.size();
  if (count < 1 || start > static_cast<long long>(length)) {
    *result = Value::String({});
    return;
  }
  const auto first = static_cast<std::size_t>(start - 1);
  const auto taken = static_cast<std::size_t>(count);
  *result = Value::String(engine.UnicodeText() ? std::string(text::Utf8Substr(text, first, taken))
                                               : text.substr(first, taken));
}

double Now() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  std::tm local{};
  localtime_r(&seconds, &local);
  const auto millis =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  const std::int64_t day =
      dataset::DayNumberFromCivil(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday) -
      dataset::kDayNumberOf30Dec1899;
  const double time =
      ((local.tm_hour * 60.0 + local.tm_min) * 60.0 + local.tm_sec) * 1000.0 + static_cast<double>(millis);
  return static_cast<double>(day) + time / static_cast<double>(dataset::kMillisecondsPerDay);
}

void Clock(Value* result, const OperationDef& def, TCompiledExpression&, const Value*) {
  const double now = Now();
  if (def.name == "TODAY") {
    *result = Value::Date(std::floor(now));
  } else if (def.name == "TIME") {
    *result = Value::Date(now - std::floor(now));
  } else {
    *result = Value::Date(now);
  }
}

void DatePart(Value* result, const OperationDef& def, TCompiledExpression&, const Value* args) {
  const dataset::TimeStamp stamp = dataset::DateTimeToTimeStamp(args[0].AsNumber());
  const dataset::CivilDate date = dataset::CivilFromDayNumber(stamp.date);
  const std::string_view name = def.name;
  // Every part is a whole number: the divisions truncate on purpose.
  std::int64_t part = 0;
  if (name == "YEAR")
    part = date.year;
  else if (name == "MONTH")
    part = date.month;
  else if (name == "DAY")
    part = date.day;
  else if (name == "HOUR")
    part = stamp.time / 3600000;
  else if (name == "MINUTE")
    part = stamp.time / 60000 % 60;
  else if (name == "SECOND")
    part = stamp.time / 1000 % 60;
  else if (name == "MSECOND")
    part = stamp.time % 1000;
  else
    part = stamp.date % 7 + 1;  // DAYOFWEEK: day number 1 (1 January 0001) was a Monday
  const auto value = static_cast<double>(part);
  *result = Value::Number(value);
}

void MakeDate(Value* result, const OperationDef&, TCompiledExpression&, const Value* args) {
  const long long day = Integer(args[0]);
  const long long month = Integer(args[1]);
  const long long year = Integer(args[2]);
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1) Fail(EvalCode::Other);
  const std::int64_t first = dataset::DayNumberFromCivil(year, static_cast<int>(month), 1);
  if (day > dataset::DayNumberFromCivil(year, static_cast<int>(month) + 1, 1) - first) Fail(EvalCode::Other);
  *result = Value::Date(static_cast<double>(first + day - 1 - dataset::kDayNumberOf30Dec1899));
}

void NameText(Value* result, const OperationDef& def, TCompiledExpression& engine, const Value* args) {
  const long long n = Integer(args[0]);
  const text::FormatSettings& f = text::CurrentFormats();
  if (def.name == "MONTHTEXT") {
    if (n >= 1 && n <= 12) *result = engine.StringResult(f.long_month_names[static_cast<std::size_t>(n - 1)]);
  } else if (n >= 1 && n <= 7) {
    *result = engine.StringResult(f.long_day_names[static_cast<std::size_t>(n - 1)]);
  }
}

/// The records of the built-ins in registration order; addresses stay fixed for the process.
struct Builtins {
  std::string arithmetic = text::Utf8ToAnsi("Aritmetické funkce");
  std::string comparison = text::Utf8ToAnsi("Operace porovnání");
  std::string logic = text::Utf8ToAnsi("Logické operace");
  std::string textual = text::Utf8ToAnsi("Textové funkce");
  std::string dates = text::Utf8ToAnsi("Funkce pro datum");
  std::string conditional = text::Utf8ToAnsi("Funkce IF");
  std::deque<OperationDef> defs;

  /// `signature` is the result letter followed by the argument letters, e.g. "NNN".
  void Add(std::string_view name, std::uint8_t flags, OperationFunction function, const std::string& category,
           std::uint32_t help_context, std::string_view signature) {
    OperationDef& def = defs.emplace_back();
    def.name = name;
    def.flags = flags;
    def.function = function;
    def.category = category;
    def.help_file = kBuiltinHelpFile;
    def.help_context = help_context;
    def.arg_count = static_cast<std::uint16_t>(signature.size() - 1);
    for (std::size_t i = 0; i < signature.size(); ++i) {
      switch (signature[i]) {
        case 'N': def.signature[i] = TypeCode::Number; break;
        case 'S': def.signature[i] = TypeCode::String; break;
        case 'D': def.signature[i] = TypeCode::Date; break;
        case 'B': def.signature[i] = TypeCode::Boolean; break;
        default: def.signature[i] = TypeCode::None; break;
      }
    }
  }

  Builtins() {
    const std::string& ar = arithmetic;
    for (const char* sig : {"NNN", "DND", "DDN", "SSS"}) Add("+", MakeFlags(3), AddValues, ar, 11001, sig);
    Add("-", MakeFlags(1), Subtract, ar, 11002, "NN");
    for (const char* sig : {"NNN", "DDN", "NDD"}) Add("-", MakeFlags(3), Subtract, ar, 11002, sig);
    Add("*", MakeFlags(2), Arithmetic, ar, 11003, "NNN");
    Add("/", MakeFlags(2), Arithmetic, ar, 11004, "NNN");
    Add("MIN", MakeFlags(0), Arithmetic, ar, 11008, "NNN");
    Add("MAX", MakeFlags(0), Arithmetic, ar, 11009, "NNN");
    Add("MOD", MakeFlags(2), Arithmetic, ar, 11011, "NNN");
    Add("DIV", MakeFlags(2), Arithmetic, ar, 11010, "NNN");
    Add("ROUND", MakeFlags(0), Round, ar, 11012, "NNN");
    Add("SQR", MakeFlags(0), Arithmetic, ar, 11005, "NN");
    Add("SQRT", MakeFlags(0), Arithmetic, ar, 11006, "NN");
    Add("ABS", MakeFlags(0), Arithmetic, ar, 11007, "NN");
    for (const char* op : {"=", "<", ">", "<=", ">=", "<>"}) {
      for (const char* sig : {"BNN", "BSS", "BBB", "BDD", "BND", "BDN"}) {
        Add(op, MakeFlags(4), Compare, comparison, 11013, sig);
      }
    }
    Add("NOT", MakeFlags(1), Not, logic, 11014, "BB");
    Add("AND", MakeFlags(2, ShortCircuit::AndLike), And, logic, 11015, "BBB");
    Add("OR", MakeFlags(3, ShortCircuit::OrLike), Or, logic, 11016, "BBB");
    Add("NUM$", MakeFlags(0), NumDollar, textual, 11023, "SNNN");
    Add("STR", MakeFlags(0), Str, textual, 11017, "SNNN");
    for (const char* sig : {"SN", "SS", "SD", "SB"})
      Add("STR$", MakeFlags(0), StrDollar, textual, 11022, sig);
    Add("UPPER", MakeFlags(0), Upper, textual, 11018, "SS");
    Add("LEN", MakeFlags(0), Len, textual, 11021, "NS");
    Add("POS", MakeFlags(0), Pos, textual, 11019, "NSS");
    Add("COPY", MakeFlags(0), Copy, textual, 11020, "SSNN");
    Add("TODAY", MakeFlags(0), Clock, dates, 11024, "D");
    Add("TIME", MakeFlags(0), Clock, dates, 11025, "D");
    Add("NOW", MakeFlags(0), Clock, dates, 11026, "D");
    std::uint32_t context = 11027;
    for (const char* part : {"YEAR", "MONTH", "DAY", "HOUR", "MINUTE", "SECOND", "MSECOND"}) {
      Add(part, MakeFlags(0), DatePart, dates, context++, "ND");
    }
    for (const char* sig : {"NBNN", "SBSS", "DBDD", "BBBB"}) {
      Add("IF", MakeFlags(0, ShortCircuit::IfLike), If, conditional, 11034, sig);
    }
    Add("DAYOFWEEK", MakeFlags(0), DatePart, dates, 11035, "ND");
    Add("DATE", MakeFlags(0), MakeDate, dates, 11036, "DNNN");
    Add("MONTHTEXT", MakeFlags(0), NameText, dates, 11037, "SN");
    Add("DAYTEXT", MakeFlags(0), NameText, dates, 11037, "SN");
  }
};

Builtins& TheBuiltins() {
  static Builtins builtins;
  return builtins;
}

}  // namespace

void RegisterBuiltins(DefinitionList& head) {
  for (OperationDef& def : TheBuiltins().defs) RegisterOperation(head, def);
}

const OperationDef* BuiltinOperations() {
  static const OperationDef* head = [] {
    DefinitionList list = nullptr;
    RegisterBuiltins(list);
    return list;
  }();
  return head;
}

}  // namespace tamaril::expr
