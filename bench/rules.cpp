// Compiles and evaluates a typical two-field rule bound to a one-row memory table, as the runs
// do for every row they test.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "dataset/memory_table.h"
#include "expr/dataset_expression.h"
#include "expr/rule_lists.h"

int main(int argc, char** argv) {
  using namespace tamaril;
  const int count = argc > 1 ? std::atoi(argv[1]) : 500000;
  expr::InitRuleLists();
  expr::RunValues().last_export_date = 37000;

  dataset::TQVMMemoryTable table;
  table.SetFieldLayout("CENA;Float;0;0;NAZEV;String;20;0;DATUM;DateTime;0;0");
  table.Open();
  table.Append();
  table.FieldByName("CENA").SetAsFloat(150);
  table.FieldByName("NAZEV").SetAsString("zbozi");
  table.FieldByName("DATUM").SetAsDateTime(37979);
  table.Post();

  expr::FieldRegistry registry;
  expr::DefinitionList list = const_cast<expr::OperationDef*>(expr::RuleList(expr::RuleKind::Export));
  expr::RegisterDatasetFields(false, registry, list, "", table);
  expr::tDatasetExpression rule(&table);
  const std::string text = "(CENA > 100) AND (UPPER(NAZEV) <> \"X\") OR (DATUM > @LASTXPRT)";

  using Clock = std::chrono::steady_clock;
  const auto seconds_since = [](Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
  };
  int trues = 0;
  auto start = Clock::now();
  for (int i = 0; i < count; ++i) rule.Compile(text, list);
  const double compile_seconds = seconds_since(start);

  start = Clock::now();
  for (int i = 0; i < count; ++i) trues += rule.Evaluate().AsBoolean() ? 1 : 0;
  const double evaluate_seconds = seconds_since(start);

  start = Clock::now();
  for (int i = 0; i < count; ++i) {
    rule.Compile(text, list);
    trues += rule.Evaluate().AsBoolean() ? 1 : 0;
  }
  const double both_seconds = seconds_since(start);

  std::printf("rule: %s\n", text.c_str());
  std::printf("compiles/s: %.0f\n", count / compile_seconds);
  std::printf("evaluations/s: %.0f\n", count / evaluate_seconds);
  std::printf("compile+evaluate/s: %.0f\n", count / both_seconds);
  return trues == 2 * count ? 0 : 1;
}
