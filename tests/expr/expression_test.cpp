#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "expr/builtins.h"
#include "expr/disassembler.h"
#include "expr/expression.h"
#include "expr_test_support.h"
#include "support/expect_throw_msg.h"
#include "text/encoding.h"

namespace tamaril::expr {
namespace {

class ExpressionObject : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { testing::UseProgramSettings(); }

  static void Compile(const std::string& ansi_rule) {
    TExpression expression;
    expression.Compile(ansi_rule, testing::TestList());
  }

  static void Evaluate(const std::string& ansi_rule) {
    TExpression expression;
    expression.Compile(ansi_rule, testing::TestList());
    (void)expression.Evaluate();
  }
};

TEST_F(ExpressionObject, CompileErrorsCarryTheCzechPrefixCarriageReturnAndQuotedText) {
  EXPECT_THROW_MSG(Compile("1+"), ExpressionError, text::Utf8ToAnsi("Neznámá operace:\r'1+'"));
  EXPECT_THROW_MSG(Compile("x = 'a'"), ExpressionError, text::Utf8ToAnsi("Neznámá operace:\r'''A'''"));
  EXPECT_THROW_MSG(Compile("1 + \"a'b\""), ExpressionError, text::Utf8ToAnsi("Chybný typ:\r'1 + \"a''b\"'"));
  EXPECT_THROW_MSG(Compile("1<>"), ExpressionError, text::Utf8ToAnsi("Chybí operand:\r'1<>'"));
  EXPECT_THROW_MSG(Compile("min(1,2,3,4)"), ExpressionError,
                   text::Utf8ToAnsi("Chybný počet operandů:\r'MIN(1,2,3,4)'"));
  EXPECT_THROW_MSG(Compile("1+2)"), ExpressionError, text::Utf8ToAnsi("očekávána \"(\":\r'1+2)'"));
  EXPECT_THROW_MSG(Compile("(1+2"), ExpressionError, text::Utf8ToAnsi("očekávána \")\":\r'(1+2'"));
  EXPECT_THROW_MSG(Compile("\"a"), ExpressionError, text::Utf8ToAnsi("Neukončený řetězec:\r'\"a'"));
  EXPECT_NO_THROW(Compile("  "));
}

TEST_F(ExpressionObject, EvaluationErrorsCarryTheEnglishText) {
  EXPECT_THROW_MSG(Evaluate("1/0"), EvaluationError, "Division by zero");
  EXPECT_THROW_MSG(Evaluate("IF(NB, 1, 2)"), EvaluationError, "Invalid operand type");
  EXPECT_THROW_MSG(Evaluate("1E300 * 1E300"), EvaluationError, "Too large/small number");
  EXPECT_THROW_MSG(Evaluate("SQRT(-4)"), EvaluationError, "Invalid operand");
  EXPECT_THROW_MSG(Evaluate("DATE(0, 1, 2000)"), EvaluationError, "Unknown error");
}

// A rule of a Unicode export: constants and values are UTF-8, names outside quotes may carry
// Czech letters, and texts compare by the Czech collation and count and cut by characters.
TEST_F(ExpressionObject, UnicodeRulesCompareCountAndCutByCharacters) {
  const auto value = [](const std::string& utf8_rule) {
    TExpression expression;
    expression.Engine().SetUnicodeText(true);
    expression.Compile(utf8_rule, testing::TestList());
    return expression.Evaluate();
  };
  EXPECT_TRUE(value("\"Чайковский\" = \"Чайковский\"").AsBoolean());
  EXPECT_FALSE(value("\"Чайковский\" = \"Мусоргский\"").AsBoolean());
  EXPECT_TRUE(value("\"Рахманинов\" < \"Чайковский\"").AsBoolean());
  EXPECT_TRUE(value("\"chata\" > \"hrad\"").AsBoolean());
  EXPECT_TRUE(value("\"čáp\" < \"dům\"").AsBoolean());
  EXPECT_EQ(value("LEN(\"李白🎉\")").AsNumber(), 3);
  EXPECT_EQ(value("COPY(\"Чайковский\", 2, 3)").AsString(), "айк");
  EXPECT_EQ(value("COPY(\"🎉🎉\", 3, 1)").AsString(), "");
  EXPECT_EQ(value("POS(\"ков\", \"Чайковский\")").AsNumber(), 4);
  EXPECT_EQ(value("upper(\"чайка\")").AsString(), "ЧАЙКА");
  EXPECT_EQ(value("\"Ἀρι\" + \"στοτέλης\"").AsString(), "Ἀριστοτέλης");
  // Texts the program writes out (a month's name) arrive in UTF-8 too.
  EXPECT_EQ(value("MONTHTEXT(3)").AsString(), "březen");
}

TEST_F(ExpressionObject, EmptyRuleEvaluatesToNull) {
  TExpression expression;
  expression.Compile("", testing::TestList());
  EXPECT_EQ(expression.ResultType(), TypeCode::None);
  EXPECT_TRUE(expression.Evaluate().IsNull());
}

TEST(Registration, RefusesARecordOfAnotherSize) {
  OperationDef def;
  def.name = "BAD";
  def.record_size = 52;
  DefinitionList list = nullptr;
  EXPECT_THROW_MSG(RegisterOperation(list, def), OperationDefinitionError,
                   "invalid operation definition record");
  EXPECT_EQ(list, nullptr);
}

void Answer(Value* result, const OperationDef&, TCompiledExpression&, const Value*) {
  *result = Value::Number(42);
}

TEST(Registration, ListsShareTailsAndLaterIdentifiersHideBuiltins) {
  testing::UseProgramSettings();
  static OperationDef today;  // a field named like the built-in
  today.name = "TODAY";
  today.function = Answer;
  today.signature[0] = TypeCode::Number;
  const OperationDef* builtins = BuiltinOperations();
  DefinitionList fields = const_cast<OperationDef*>(builtins);
  RegisterOperation(fields, today);
  RegisterOperation(fields, today);  // a second registration does not relink
  EXPECT_EQ(today.registration_count, 2u);
  EXPECT_EQ(today.next, builtins);
  EXPECT_EQ(testing::Outcome("TODAY", fields), "N:42");
  EXPECT_EQ(testing::Outcome("YEAR(TODAY) > 2000", fields), "C4:YEAR(TODAY)");
  EXPECT_EQ(testing::Outcome("YEAR(TODAY) > 2000", builtins), "B:true");
}

TEST(Registration, BuiltinsAreListedLatestFirstWithTheirHelpContexts) {
  const OperationDef* head = BuiltinOperations();
  ASSERT_NE(head, nullptr);
  EXPECT_EQ(head->name, "DAYTEXT");
  EXPECT_EQ(head->help_context, 11037u);
  EXPECT_EQ(head->help_file, "QLMBASIC.HLP");
  int count = 0;
  const OperationDef* last = head;
  for (const OperationDef* def = head; def != nullptr; def = def->next, ++count) last = def;
  EXPECT_EQ(count, 85);
  EXPECT_EQ(last->name, "+");
  EXPECT_EQ(last->hash, static_cast<std::uint32_t>('+'));
}

TEST(Disassembler, ShowsConstantsOperationsAndJumps) {
  testing::UseProgramSettings();
  TCompiledExpression expression;
  ASSERT_EQ(expression.Compile("(IF(x > 1.5, \"a\"\"\", UPPER(\"b\")) = \"A\") OR T", testing::TestList()),
            0);
  EXPECT_EQ(Disassemble(expression),
            "0000 OP X N<-()\n"
            "0001 CONST N 1.5\n"
            "0002 OP > B<-(N,N)\n"
            "0003 CONST S \"a\"\"\"  ; if false continue at 4\n"
            "0004 CONST S \"b\"  ; if true (below top) continue at 6\n"
            "0005 OP UPPER S<-(S)\n"
            "0006 OP IF S<-(B,S,S)\n"
            "0007 CONST S \"A\"\n"
            "0008 OP = B<-(S,S)\n"
            "0009 OP T B<-()  ; if true continue at 10\n"
            "0010 OP OR B<-(B,B)\n");
}

// Texts from other sites: none of these may crash, hang or overflow the stack.
TEST(Robustness, HostileTextsGiveCodes) {
  testing::UseProgramSettings();
  std::string nested;
  for (int i = 0; i < 3000; ++i) nested += "1+(";
  nested += "1" + std::string(3000, ')');
  EXPECT_EQ(testing::Outcome(nested).substr(0, 6), "C8:1+(");

  const std::string wrapped = std::string(50000, '(') + "1" + std::string(50000, ')');
  EXPECT_EQ(testing::Outcome(wrapped), "N:1");
  EXPECT_EQ(testing::Outcome(std::string(50000, '(') + "1" + std::string(49999, ')')).substr(0, 3), "C6:");

  std::string chain = "1";
  while (chain.size() < 100000) chain += "+1";
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(testing::Outcome(chain).substr(0, 3), "C8:");
  // A bound for a hang, not a speed figure: sanitizer builds on a busy machine take seconds.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60));

  const std::string long_text(100000, 'a');
  EXPECT_EQ(testing::Outcome("\"" + long_text + "\""), "S:" + long_text);
  EXPECT_EQ(testing::Outcome("LEN(\"" + long_text + "\")"), "N:1e+05");
  EXPECT_EQ(testing::Outcome("\"" + long_text).substr(0, 5), "C7:\"a");

  EXPECT_EQ(testing::Outcome(std::string("1+2\0", 4)), "N:3");
  EXPECT_EQ(testing::Outcome(std::string("1\0+2", 4)), std::string("C2:1\0+2", 7));
  EXPECT_EQ(testing::Outcome(std::string("\"a\0b\"", 5)), std::string("S:a\0b", 5));
  EXPECT_EQ(testing::Outcome("\xff\x80+\x01"), "C2:" + text::AnsiToUtf8("\xff\x80+"));
  EXPECT_EQ(testing::Outcome(std::string(5000, '9') + ".5"), "C2:" + std::string(5000, '9') + ".5");
  EXPECT_EQ(testing::Outcome("99999999999999999999.1.1"), "C2:99999999999999999999.1.1");
}

}  // namespace
}  // namespace tamaril::expr
