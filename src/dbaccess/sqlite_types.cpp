#include "dbaccess/sqlite_types.h"

#include <algorithm>
#include <charconv>
#include <cstddef>
#include <optional>

#include "text/ascii.h"

namespace tamaril::dbaccess::sqlite {

namespace {

using dataset::FieldType;

enum class TokenKind { Word, Quoted, String, Punct };

struct Token {
  TokenKind kind;
  std::string text;  ///< quoted identifiers and strings without their quotes
};

bool IsWordChar(char c) {
  const auto u = static_cast<unsigned char>(c);
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '$' ||
         u >= 0x80;
}

// Reads a text quoted by `close`, where a doubled closing character stands for one.
std::size_t ReadQuoted(std::string_view sql, std::size_t start, char close, std::string& out) {
  std::size_t i = start + 1;
  while (i < sql.size()) {
    if (sql[i] == close) {
      if (close != ']' && i + 1 < sql.size() && sql[i + 1] == close) {
        out += close;
        i += 2;
        continue;
      }
      return i + 1;
    }
    out += sql[i++];
  }
  return i;
}

std::vector<Token> Tokenize(std::string_view sql) {
  std::vector<Token> tokens;
  std::size_t i = 0;
  while (i < sql.size()) {
    const char c = sql[i];
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v') {
      ++i;
    } else if (c == '-' && i + 1 < sql.size() && sql[i + 1] == '-') {
      const std::size_t end = sql.find('\n', i);
      i = end == std::string_view::npos ? sql.size() : end + 1;
    } else if (c == '/' && i + 1 < sql.size() && sql[i + 1] == '*') {
      const std::size_t end = sql.find("*/", i + 2);
      i = end == std::string_view::npos ? sql.size() : end + 2;
    } else if (c == '\'') {
      Token token{TokenKind::String, {}};
      i = ReadQuoted(sql, i, '\'', token.text);
      tokens.push_back(std::move(token));
    } else if (c == '"' || c == '`' || c == '[') {
      Token token{TokenKind::Quoted, {}};
      i = ReadQuoted(sql, i, c == '[' ? ']' : c, token.text);
      tokens.push_back(std::move(token));
    } else if (IsWordChar(c)) {
      const std::size_t start = i;
      while (i < sql.size() && IsWordChar(sql[i])) ++i;
      tokens.push_back({TokenKind::Word, std::string(sql.substr(start, i - start))});
    } else {
      tokens.push_back({TokenKind::Punct, std::string(1, c)});
      ++i;
    }
  }
  return tokens;
}

bool IsKeyword(const Token& token, std::string_view word) {
  return token.kind == TokenKind::Word && text::EqualsIgnoreCaseAscii(token.text, word);
}

bool IsPunct(const Token& token, char c) { return token.kind == TokenKind::Punct && token.text[0] == c; }

// The size argument of a type: a number, or nothing for MAX, a missing or an odd argument.
std::optional<int> NumberArgument(const std::vector<std::string>& args, std::size_t index) {
  if (index >= args.size()) return std::nullopt;
  int value = 0;
  const std::string& text = args[index];
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value < 0) return std::nullopt;
  return value;
}

DeclaredType Sized(FieldType type, const std::vector<std::string>& args, int default_size) {
  return {type, NumberArgument(args, 0).value_or(default_size), 0, 0};
}

// A variable-length type: sized when it has a size, long (Memo or Blob) for MAX or no size.
DeclaredType Variable(FieldType type, FieldType long_type, const std::vector<std::string>& args) {
  const auto size = NumberArgument(args, 0);
  return size ? DeclaredType{type, *size, 0, 0} : DeclaredType{long_type, 0, 0, 0};
}

// Names this table does not know get the type their SQLite column affinity suggests.
DeclaredType ByAffinity(const std::string& upper) {
  const auto has = [&](std::string_view part) { return upper.find(part) != std::string::npos; };
  if (has("INT")) return {FieldType::Largeint};
  if (has("CHAR") || has("CLOB") || has("TEXT")) return {FieldType::Memo};
  if (has("BLOB")) return {FieldType::Blob};
  if (has("REAL") || has("FLOA") || has("DOUB")) return {FieldType::Float};
  return {FieldType::Memo};
}

}  // namespace

DeclaredType MapDeclaredType(std::string_view declared) {
  std::vector<std::string> words;
  std::vector<std::string> args;
  bool in_args = false;
  bool args_done = false;
  for (const Token& token : Tokenize(declared)) {
    if (IsPunct(token, '(') && !args_done) {
      in_args = true;
      args.emplace_back();
    } else if (IsPunct(token, ')') && in_args) {
      in_args = false;
      args_done = true;
    } else if (in_args) {
      if (IsPunct(token, ','))
        args.emplace_back();
      else
        args.back() += text::UpperCaseAscii(token.text);
    } else if (token.kind == TokenKind::Word || token.kind == TokenKind::Quoted) {
      words.push_back(text::UpperCaseAscii(token.text));
    }
  }
  if (words.empty()) return {};
  const std::string& base = words[0];
  const bool identity = std::find(words.begin(), words.end(), "IDENTITY") != words.end();
  const bool varying = words.size() > 1 && words[1] == "VARYING";

  if (base == "INTEGER" || base == "INT") return {identity ? FieldType::AutoInc : FieldType::Integer};
  if (base == "BIGINT") return {FieldType::Largeint};
  if (base == "SMALLINT") return {FieldType::Smallint};
  if (base == "TINYINT") return {FieldType::Word};
  if (base == "BIT" || base == "BOOLEAN" || base == "BOOL") return {FieldType::Boolean};
  if (base == "REAL" || base == "FLOAT" || base == "DOUBLE") return {FieldType::Float};
  if (base == "MONEY" || base == "SMALLMONEY") return {FieldType::Currency};
  if (base == "DECIMAL" || base == "NUMERIC")
    return {FieldType::BCD, 0, NumberArgument(args, 0).value_or(18), NumberArgument(args, 1).value_or(0)};
  if (base == "DATETIME" || base == "DATETIME2" || base == "SMALLDATETIME" || base == "TIMESTAMP")
    return {FieldType::DateTime};
  if (base == "DATE") return {FieldType::Date};
  if (base == "TIME") return {FieldType::Time};
  if ((base == "CHAR" || base == "CHARACTER") && !varying) return Sized(FieldType::FixedChar, args, 1);
  if (base == "NCHAR" && !varying) return Sized(FieldType::WideString, args, 1);
  if (base == "NVARCHAR" || base == "NCHAR") return Variable(FieldType::WideString, FieldType::Memo, args);
  if (base == "VARCHAR" || base == "CHAR" || base == "CHARACTER" || base == "TEXT")
    return Variable(FieldType::String, FieldType::Memo, args);
  if (base == "NTEXT" || base == "CLOB" || base == "MEMO") return {FieldType::Memo};
  if (base == "UNIQUEIDENTIFIER" || base == "GUID" || base == "UUID") return {FieldType::Guid, 38, 0, 0};
  if (base == "BLOB" || base == "IMAGE") return {FieldType::Blob};
  if (base == "BINARY" && !varying) {
    if (!args.empty() && !NumberArgument(args, 0)) return {FieldType::Blob};
    return Sized(FieldType::Bytes, args, 1);
  }
  if (base == "VARBINARY" || base == "BINARY") return Variable(FieldType::VarBytes, FieldType::Blob, args);
  return ByAffinity(text::UpperCaseAscii(declared));
}

namespace {

std::vector<std::vector<Token>> SplitDefinitions(const std::vector<Token>& tokens, std::size_t open,
                                                 std::size_t& close) {
  std::vector<std::vector<Token>> definitions(1);
  int depth = 0;
  for (close = open + 1; close < tokens.size(); ++close) {
    const Token& token = tokens[close];
    if (IsPunct(token, '(')) {
      ++depth;
    } else if (IsPunct(token, ')')) {
      if (depth == 0) break;
      --depth;
    } else if (depth == 0 && IsPunct(token, ',')) {
      definitions.emplace_back();
      continue;
    }
    definitions.back().push_back(token);
  }
  return definitions;
}

// The table name after REFERENCES (a schema prefix skipped) and the position after it.
std::string ReferencedTable(const std::vector<Token>& def, std::size_t after_references) {
  std::size_t i = after_references;
  if (i + 2 < def.size() && IsPunct(def[i + 1], '.')) i += 2;
  return i < def.size() ? def[i].text : std::string();
}

void ReadTableConstraint(const std::vector<Token>& def, std::size_t i, const std::string& name,
                         TableConstraints& result) {
  if (IsKeyword(def[i], "PRIMARY")) {
    result.primary_key_name = name;
  } else if (IsKeyword(def[i], "FOREIGN")) {
    ForeignKeyClause clause{name, {}, {}};
    std::size_t j = i + 1;
    while (j < def.size() && !IsPunct(def[j], '(')) ++j;
    for (++j; j < def.size() && !IsPunct(def[j], ')'); ++j)
      if (!IsPunct(def[j], ',')) clause.columns.push_back(def[j].text);
    while (j < def.size() && !IsKeyword(def[j], "REFERENCES")) ++j;
    clause.parent = ReferencedTable(def, j + 1);
    result.foreign_keys.push_back(std::move(clause));
  }
}

void ReadColumnDefinition(const std::vector<Token>& def, TableConstraints& result) {
  std::string pending;  // the name of a "CONSTRAINT name" waiting for its constraint
  int depth = 0;
  for (std::size_t j = 1; j < def.size(); ++j) {
    const Token& token = def[j];
    if (IsPunct(token, '(')) ++depth;
    if (IsPunct(token, ')')) --depth;
    if (depth != 0 || token.kind != TokenKind::Word) continue;
    if (IsKeyword(token, "CONSTRAINT") && j + 1 < def.size()) {
      pending = def[++j].text;
    } else if (IsKeyword(token, "PRIMARY")) {
      result.primary_key_name = pending;
      pending.clear();
    } else if (IsKeyword(token, "REFERENCES")) {
      result.foreign_keys.push_back({pending, {def[0].text}, ReferencedTable(def, j + 1)});
      pending.clear();
    } else if (IsKeyword(token, "NOT") || IsKeyword(token, "NULL") || IsKeyword(token, "UNIQUE") ||
               IsKeyword(token, "CHECK") || IsKeyword(token, "DEFAULT") || IsKeyword(token, "COLLATE") ||
               IsKeyword(token, "GENERATED") || IsKeyword(token, "AS")) {
      pending.clear();
    }
  }
}

}  // namespace

TableConstraints ParseCreateTable(std::string_view sql) {
  TableConstraints result;
  const std::vector<Token> tokens = Tokenize(sql);
  std::size_t open = 0;
  while (open < tokens.size() && !IsPunct(tokens[open], '(')) {
    if (IsKeyword(tokens[open], "AS")) return result;  // CREATE TABLE ... AS SELECT
    ++open;
  }
  if (open == tokens.size()) return result;
  std::size_t close = open;
  for (const std::vector<Token>& def : SplitDefinitions(tokens, open, close)) {
    if (def.empty()) continue;
    std::size_t i = 0;
    std::string name;
    if (IsKeyword(def[0], "CONSTRAINT") && def.size() > 2) {
      name = def[1].text;
      i = 2;
    }
    const Token& first = def[i];
    if (IsKeyword(first, "PRIMARY") || IsKeyword(first, "FOREIGN") || IsKeyword(first, "UNIQUE") ||
        IsKeyword(first, "CHECK"))
      ReadTableConstraint(def, i, name, result);
    else if (i == 0)
      ReadColumnDefinition(def, result);
  }
  for (std::size_t i = close + 1; i + 1 < tokens.size(); ++i)
    if (IsKeyword(tokens[i], "WITHOUT") && IsKeyword(tokens[i + 1], "ROWID")) result.without_rowid = true;
  return result;
}

}  // namespace tamaril::dbaccess::sqlite
