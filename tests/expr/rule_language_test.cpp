#include <gtest/gtest.h>

#include <string>

#include "expr/builtins.h"
#include "expr/compiled_expression.h"
#include "expr_test_support.h"
#include "text/encoding.h"

namespace tamaril::expr {
namespace {

using testing::Outcome;

struct Case {
  const char* rule;      // UTF-8
  const char* expected;  // see testing::Outcome
};

class RuleLanguage : public ::testing::TestWithParam<Case> {
 protected:
  static void SetUpTestSuite() { testing::UseProgramSettings(); }
};

TEST_P(RuleLanguage, CompilesAndEvaluates) {
  EXPECT_EQ(Outcome(text::Utf8ToAnsi(GetParam().rule)), GetParam().expected) << GetParam().rule;
}

// Parentheses, quotes, precedence and the splitting of operators.
INSTANTIATE_TEST_SUITE_P(
    Syntax, RuleLanguage,
    ::testing::Values(Case{"", "NULL"}, Case{"   ", "NULL"}, Case{"((1+2))", "N:3"}, Case{"(1+2)*(3)", "N:9"},
                      Case{"1+2)", "C5:1+2)"}, Case{"(1+2", "C6:(1+2"}, Case{"\"abc", "C7:\"abc"},
                      Case{"((1)", "C6:(1"}, Case{"1+", "C2:1+"}, Case{"1<>", "C1:1<>"},
                      Case{"TODAY()", "C1:TODAY()"}, Case{"MIN(1)", "C4:MIN(1)"},
                      Case{"MIN(1,2,3,4)", "C3:MIN(1,2,3,4)"}, Case{"MIN(1,,2)", "C1:MIN(1,,2)"},
                      Case{"1 + \"a\"", "C4:1 + \"a\""}, Case{"\"a\" + \"b\"", "S:ab"},
                      Case{"\"a\"\"b\"", "S:a\"b"}, Case{"7*-2", "N:-14"}, Case{"7 * -2", "C2:7 *"},
                      Case{"7 * (-2)", "N:-14"}, Case{"1-2-3", "N:-4"}, Case{"2+3*4", "N:14"},
                      Case{"- 5", "N:-5"}, Case{"-X", "N:-5"}, Case{"1.5E-3*2", "N:0.003"},
                      Case{"1E+2+1", "N:101"}, Case{"X1E-3", "N:7"}, Case{"1,5 + 1", "N:2.5"},
                      Case{"X=1 OR X=2", "C4:1 OR X"}, Case{"(X=5) OR (X=2)", "B:true"},
                      Case{"NOT F AND F", "B:false"}, Case{"ABS -3", "C1:ABS"}, Case{"ABS X", "N:5"},
                      Case{"abs(x - 7)", "N:2"}, Case{"ano", "B:true"}, Case{"ne", "B:false"},
                      Case{"\"abc\" = \"ABC\"", "B:false"}, Case{"UPPER(\"abc\") = \"ABC\"", "B:true"},
                      Case{"CENA_KČ-1", "C2:CENA_KČ-1"}, Case{"1E999", "C2:1E999"}, Case{"1 <= 1", "B:true"},
                      Case{"STR$(ANO)", "S:ANO"}, Case{"DAYOFWEEK(DATE(7,12,2003))", "N:1"},
                      Case{"DAY(24.12.2003)", "N:24"}, Case{"'", "C2:'"}, Case{"\"x)\" + \"(\"", "S:x)("},
                      Case{"MIN(\"a,b\", 1)", "C4:MIN(\"a,b\", 1)"}));

// Types, overloads, Null and the short-circuits that skip a failing operand.
INSTANTIATE_TEST_SUITE_P(
    Semantics, RuleLanguage,
    ::testing::Values(
        Case{"24.12.2003", "D:37979"}, Case{"24.12.2003 + 1", "D:37980"}, Case{"1 + 24.12.2003", "D:37980"},
        Case{"24.12.2003 - 23.12.2003", "N:1"}, Case{"24.12.2003 - 1", "D:37978"},
        Case{"24.12.2003 > 37000", "B:true"}, Case{"TODAY - TODAY", "N:0"}, Case{"31.2.2003", "C2:31.2.2003"},
        Case{"T OR (1/0 = 1)", "B:true"}, Case{"F AND (1/0 = 1)", "B:false"}, Case{"F OR (1/0 = 1)", "E104"},
        Case{"IF(F, 1/0, 2)", "N:2"}, Case{"IF(T, 1, 1/0)", "N:1"}, Case{"IF(X > 1, \"a\", \"b\")", "S:a"},
        Case{"IF(NB, 1, 2)", "E102"}, Case{"NB AND T", "E102"}, Case{"T AND NB", "NULL"},
        Case{"NN + 1", "N:1"}, Case{"1 - NN", "N:1"}, Case{"NN * 2", "E102"}, Case{"NS + \"x\"", "S:x"},
        Case{"NN = NN", "B:true"}, Case{"NN < 0", "B:true"}, Case{"UPPER(NS)", "E102"},
        Case{"STR$(NS)", "S:"}, Case{"\"ch\" > \"h\"", "B:true"}, Case{"\"ch\" < \"i\"", "B:true"},
        Case{"\"a\" < \"B\"", "B:true"}, Case{"\"a\" = \"A\"", "B:false"}, Case{"F < T", "B:true"}));

// The built-in functions and their failures.
INSTANTIATE_TEST_SUITE_P(
    Builtins, RuleLanguage,
    ::testing::Values(
        Case{"ROUND(2.5, 0)", "N:2"}, Case{"ROUND(3.5, 0)", "N:4"}, Case{"ROUND(1234.5678, 2)", "N:1234.57"},
        Case{"ROUND(0.125, 2)", "N:0.12"}, Case{"ROUND(1234, -2)", "N:1200"}, Case{"ROUND(-2.5, 0)", "N:-2"},
        Case{"-7 MOD 2", "N:-1"}, Case{"7 DIV 2", "N:3"}, Case{"-7 DIV 2", "N:-3"}, Case{"7 MOD 0", "E104"},
        Case{"1/0", "E104"}, Case{"0/0", "E105"}, Case{"SQRT(-1)", "E105"}, Case{"SQRT(SQR(3))", "N:3"},
        Case{"1E308*10", "E103"}, Case{"MAX(2, 7)", "N:7"}, Case{"MIN(2, 7)", "N:2"},
        Case{"DAYTEXT(8)", "NULL"}, Case{"DAYTEXT(1)", "S:neděle"}, Case{"MONTHTEXT(12)", "S:prosinec"},
        Case{"MONTHTEXT(0)", "NULL"}, Case{"DATE(31,2,2003)", "E100"}, Case{"DATE(29,2,2004)", "D:38046"},
        Case{"YEAR(DATE(1,1,1900)) + MONTH(24.12.2003)", "N:1912"},
        Case{"HOUR(24.12.2003 + 0.75) * 100 + MINUTE(24.12.2003 + 1 / 1440)", "N:1801"},
        Case{"COPY(\"abcdef\", 0, 3)", "S:abc"}, Case{"COPY(\"abcdef\", 5, 9)", "S:ef"},
        Case{"COPY(\"abc\", 4, 1)", "S:"}, Case{"POS(\"cd\", \"abcdef\")", "N:3"},
        Case{"POS(\"x\", \"abcdef\")", "N:0"}, Case{"LEN(\"žluť\")", "N:4"}, Case{"UPPER(\"čaj\")", "S:ČAJ"},
        Case{"STR(3.14159, 8, 2)", "S:    3,14"}, Case{"STR(1234567.891, 12, 2)", "S:1\u00a0234\u00a0567,89"},
        Case{"STR(123456, 4, 0)", "S:1,235E+05"}, Case{"NUM$(4, 1, 0.256)", "S:25,6%"},
        Case{"NUM$(0, 2, 1234.5)", "S:1234,50"}, Case{"NUM$(2, 0, 1234567)", "S:1\u00a0234\u00a0567"},
        Case{"NUM$(3, 2, -1234.5)", "S:-1\u00a0234,50 Kč"}, Case{"NUM$(1, 2, 1234)", "S:1,23E+03"},
        Case{"NUM$(9, 1, 1)", "E100"}, Case{"NUM$(0, 1, -0.01)", "S:0,0"}, Case{"STR$(2.5)", "S:2,5"},
        Case{"STR$(24.12.2003)", "S:24.12.2003"}, Case{"STR$(\"x\")", "S:x"}));

TEST(RuleCompiler, CachingIdentifierIsComputedOncePerEvaluation) {
  TCompiledExpression expression;
  ASSERT_EQ(expression.Compile("CNT + CNT * 0 + IF(F, CNT, 0)", testing::TestList()), 0);
  const int before = testing::CounterCalls();
  Value value;
  ASSERT_EQ(expression.Evaluate(value), 0);
  ASSERT_EQ(expression.Evaluate(value), 0);
  EXPECT_EQ(testing::CounterCalls() - before, 2);
  EXPECT_EQ(value, Value::Number(before + 2));
}

TEST(RuleCompiler, ConstantKeepsItsValueAcrossEvaluations) {
  TCompiledExpression expression;
  ASSERT_EQ(expression.Compile(" (\"Abc\") ", testing::TestList()), 0);
  EXPECT_TRUE(expression.IsConstant());
  Value value;
  expression.Prepare();
  ASSERT_EQ(expression.Evaluate(value), 0);
  ASSERT_EQ(expression.Evaluate(value), 0);
  EXPECT_EQ(value, Value::String("Abc"));
}

TEST(RuleCompiler, FailedCompileLeavesAnEmptyProgram) {
  TCompiledExpression expression;
  ASSERT_EQ(expression.Compile("1+1", testing::TestList()), 0);
  ASSERT_EQ(expression.Compile("1+", testing::TestList()), 2);
  EXPECT_TRUE(expression.Program().empty());
  EXPECT_EQ(expression.ResultType(), TypeCode::None);
  Value value = Value::Number(1);
  EXPECT_EQ(expression.Evaluate(value), 0);
  EXPECT_TRUE(value.IsNull());
}

}  // namespace
}  // namespace tamaril::expr
