#include "expr/builder_catalog.h"

#include <algorithm>
#include <map>
#include <string_view>

#include "text/encoding.h"
#include "text/locale.h"

namespace tamaril::expr {
namespace {

struct Description {
  std::string_view name;
  std::string_view utf8;
};

// One line for every built-in and replication identifier; overloads share their line.
constexpr Description kDescriptions[] = {
    {"+", "Součet čísel, posun data o počet dní dopředu nebo spojení řetězců"},
    {"-", "Rozdíl čísel, posun data o počet dní zpět nebo počet dní mezi daty; před operandem opačné číslo"},
    {"*", "Součin"},
    {"/", "Podíl"},
    {"SQR", "Druhá mocnina"},
    {"SQRT", "Druhá odmocnina"},
    {"ABS", "Absolutní hodnota"},
    {"MIN", "Menší ze dvou čísel (při rovnosti druhé)"},
    {"MAX", "Větší ze dvou čísel (při rovnosti druhé)"},
    {"DIV", "Celočíselný podíl, desetinná část se odřízne"},
    {"MOD", "Zbytek po celočíselném dělení, se znaménkem dělence"},
    {"ROUND", "ROUND(x, n): x zaokrouhlené na n desetinných míst (záporné n: na desítky, stovky, ...)"},
    {"=", "Rovná se (řetězce podle národního řazení, velká a malá písmena se liší)"},
    {"<", "Menší než"},
    {">", "Větší než"},
    {"<=", "Menší nebo rovno"},
    {">=", "Větší nebo rovno"},
    {"<>", "Nerovná se"},
    {"NOT", "Logická negace"},
    {"AND", "Platí obě podmínky; pravá se nevyhodnotí, když levá neplatí"},
    {"OR", "Platí aspoň jedna podmínka; pravá se nevyhodnotí, když levá platí"},
    {"STR", "STR(x, šířka, desetiny): číslo s oddělovači tisíců, zleva doplněné mezerami na šířku"},
    {"UPPER", "Řetězec velkými písmeny"},
    {"POS", "POS(část, s): pozice prvního výskytu části v s (od 1), 0 když v s není"},
    {"COPY", "COPY(s, od, počet): nejvýše počet znaků řetězce s od pozice od (od 1)"},
    {"LEN", "Délka řetězce ve znacích"},
    {"STR$", "Hodnota jako text (číslo, datum, řetězec, logická hodnota)"},
    {"NUM$",
     "NUM$(druh, desetiny, x): číslo jako text; druh 0 pevná čárka, 1 s exponentem, 2 s oddělovači tisíců, "
     "3 měna, 4 procenta"},
    {"TODAY", "Dnešní datum bez času"},
    {"TIME", "Nynější čas dne bez data"},
    {"NOW", "Nynější datum a čas"},
    {"YEAR", "Rok data"},
    {"MONTH", "Měsíc data (1 až 12)"},
    {"DAY", "Den v měsíci"},
    {"HOUR", "Hodina času"},
    {"MINUTE", "Minuta času"},
    {"SECOND", "Sekunda času"},
    {"MSECOND", "Milisekunda času"},
    {"IF", "IF(podmínka, a, b): a, když podmínka platí, jinak b; vyhodnotí se jen vybraná větev"},
    {"DAYOFWEEK", "Den v týdnu: 1 neděle až 7 sobota"},
    {"DATE", "DATE(den, měsíc, rok): datum ze tří čísel"},
    {"MONTHTEXT", "Název měsíce 1 až 12"},
    {"DAYTEXT", "Název dne v týdnu 1 až 7 (1 neděle)"},
    {"@SIGNATURE", "Identifikace přenosu běžícího exportu nebo importu"},
    {"@LASTXPRT", "Čas posledního exportu tabulky (LastExportDate), 0 když tabulka exportována nebyla"},
    {"@LASTIMPRT", "Čas posledního importu tabulky (LastImportDate), 0 když tabulka importována nebyla"},
    {"@UPDFLD", "Jméno pole, o jehož opravě se rozhoduje"},
    {"@UPDFLDUPPER", "Jméno pole, o jehož opravě se rozhoduje, velkými písmeny"},
};

const std::map<std::string_view, std::string>& Descriptions() {
  static const std::map<std::string_view, std::string> descriptions = [] {
    std::map<std::string_view, std::string> map;
    for (const auto& d : kDescriptions) map.emplace(d.name, text::Utf8ToAnsi(d.utf8));
    return map;
  }();
  return descriptions;
}

// The order of the builder's sorted lists: by the locale ignoring case, then by the bytes, so
// that texts the collation holds equal keep one order.
bool SortsBefore(const std::string& a, const std::string& b) {
  const int order = text::CompareTextIgnoreCase(a, b);
  return order != 0 ? order < 0 : a < b;
}

const FieldDefinition* FieldOf(const OperationDef& def, const FieldRegistry* fields) {
  if (fields == nullptr) return nullptr;
  for (const auto& entry : fields->Entries()) {
    if (&entry->def == &def) return entry.get();
  }
  return nullptr;
}

std::string EntryDescription(const OperationDef& def, const FieldRegistry* fields) {
  if (const FieldDefinition* field = FieldOf(def, fields))
    return text::Utf8ToAnsi("Pole ") + field->field_name;
  return OperationDescription(def);
}

}  // namespace

std::string EntryText(const OperationDef& def) {
  std::string entry(def.name);
  if (def.Level() == 0 && def.arg_count > 0) {
    entry += '(';
    for (int i = 1; i < def.arg_count; ++i) entry += " ,";
    entry += " )";
  }
  return entry;
}

std::vector<BuilderCategory> BuilderCatalog(const OperationDef* head, const FieldRegistry* fields) {
  std::vector<BuilderCategory> categories;
  auto category_of = [&](const std::string& title) -> BuilderCategory& {
    for (auto& category : categories) {
      if (category.title == title) return category;
    }
    return categories.emplace_back(BuilderCategory{title, {}});
  };
  for (const OperationDef* def = head; def != nullptr; def = def->next) {
    if (def->category.empty() || def->name.empty()) continue;
    BuilderCategory& category = category_of(std::string(def->category.substr(0, kMaxCategoryTitle)));
    const std::string text = EntryText(*def);
    const auto found = std::find_if(category.entries.begin(), category.entries.end(),
                                    [&](const BuilderEntry& entry) { return entry.text == text; });
    if (found != category.entries.end()) {
      found->overloads.push_back(def);
    } else {
      category.entries.push_back(BuilderEntry{text, {def}, EntryDescription(*def, fields)});
    }
  }
  for (auto& category : categories) {
    std::sort(category.entries.begin(), category.entries.end(),
              [](const BuilderEntry& a, const BuilderEntry& b) { return SortsBefore(a.text, b.text); });
  }
  std::sort(categories.begin(), categories.end(),
            [](const BuilderCategory& a, const BuilderCategory& b) { return SortsBefore(a.title, b.title); });
  return categories;
}

std::string UsageText(const OperationDef& def) {
  const std::string name(def.name);
  auto arg = [&](std::size_t i) { return std::string(1, TypeLetter(def.ArgType(i))); };
  std::string written;
  if (def.Level() >= 2 && def.arg_count == 2) {
    written = arg(0) + ' ' + name + ' ' + arg(1);
  } else if (def.Level() == 1 && def.arg_count == 1) {
    written = name + ' ' + arg(0);
  } else if (def.arg_count == 0) {
    written = name;
  } else {
    written = name + '(';
    for (std::size_t i = 0; i < def.arg_count; ++i) written += (i == 0 ? "" : ", ") + arg(i);
    written += ')';
  }
  return written + " -> " + TypeLetter(def.ResultType());
}

std::string OperationDescription(const OperationDef& def) {
  const auto& descriptions = Descriptions();
  const auto found = descriptions.find(def.name);
  return found == descriptions.end() ? std::string() : found->second;
}

}  // namespace tamaril::expr
