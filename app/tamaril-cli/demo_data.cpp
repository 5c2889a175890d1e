#include "tamaril-cli/demo_data.h"

#include <array>
#include <cstdio>
#include <string>
#include <vector>

namespace tamaril::cli::demo {
namespace {

constexpr int kInvoices = 30;

// The RowGuid of invoice `id`, in the braced form the databases keep.
std::string InvoiceGuid(int id) {
  std::array<char, 40> text{};
  std::snprintf(text.data(), text.size(), "{%08X-5A1E-4D00-8000-00000000CAFE}", static_cast<unsigned>(id));
  return text.data();
}

std::string Invoice(int id, int customer, const char* date) {
  return "INSERT INTO FAKTURY (ID, RG, CISLO, ODBERATEL, DATUM) VALUES (" + std::to_string(id) + ", '" +
         InvoiceGuid(id) + "', 'FV2026" + std::to_string(1000 + id) + "', " + std::to_string(customer) +
         ", '" + date + "');\n";
}

std::string Line(int id, int invoice, int goods, int quantity) {
  return "INSERT INTO POLOZKY_FAKTUR (ID, FAKTURA, ZBOZI, MNOZSTVI) VALUES (" + std::to_string(id) + ", " +
         std::to_string(invoice) + ", " + std::to_string(goods) + ", " + std::to_string(quantity) + ");\n";
}

}  // namespace

std::string SchemaSql() {
  return "CREATE TABLE ODBERATELE (ID INTEGER PRIMARY KEY, NAZEV VARCHAR(40) NOT NULL, MESTO VARCHAR(30), "
         "KATEGORIE VARCHAR(1) NOT NULL);\n"
         "CREATE TABLE ZBOZI (ID INTEGER PRIMARY KEY, NAZEV VARCHAR(40) NOT NULL, CENA INTEGER NOT NULL);\n"
         "CREATE TABLE FAKTURY (ID INTEGER IDENTITY(1,1) PRIMARY KEY, RG UNIQUEIDENTIFIER ROWGUIDCOL NOT "
         "NULL, "
         "CISLO VARCHAR(12) NOT NULL, ODBERATEL INTEGER NOT NULL CONSTRAINT FK_FAKTURY_ODBERATELE REFERENCES "
         "ODBERATELE(ID), DATUM VARCHAR(10));\n"
         "CREATE TABLE POLOZKY_FAKTUR (ID INTEGER PRIMARY KEY, FAKTURA INTEGER NOT NULL CONSTRAINT "
         "FK_POLOZKY_FAKTURY REFERENCES FAKTURY(ID), ZBOZI INTEGER NOT NULL CONSTRAINT FK_POLOZKY_ZBOZI "
         "REFERENCES ZBOZI(ID), MNOZSTVI INTEGER NOT NULL);\n";
}

std::string InitialDataSql() {
  std::string sql =
      "INSERT INTO ODBERATELE (ID, NAZEV, MESTO, KATEGORIE) VALUES "
      "(1, 'Pekařství Dvořák', 'Brno', 'A'), (2, 'Řeznictví Čížek', 'Plzeň', 'A'), "
      "(3, 'Květinářství Růžička', 'Olomouc', 'B'), (4, 'Železářství Kříž', 'Ústí nad Labem', 'A'), "
      "(5, 'Cukrárna U Šťastných', 'České Budějovice', 'B'), (6, 'Knihkupectví Žák', 'Hradec Králové', 'A'), "
      "(7, 'Truhlářství Procházka', 'Liberec', 'B'), (8, 'Drogerie Němcová', 'Pardubice', 'A'), "
      "(9, 'Lékárna U Zlatého lva', 'Jihlava', 'A'), (10, 'Kavárna Šárka', 'Zlín', 'B'), "
      "(11, 'Zahradnictví Vrba', 'Třebíč', 'A'), (12, 'Obuv Hořejší', 'Kroměříž', 'B');\n"
      "INSERT INTO ZBOZI (ID, NAZEV, CENA) VALUES "
      "(1, 'Chléb žitný', 39), (2, 'Rohlík', 3), (3, 'Máslo čerstvé', 59), (4, 'Šunka výběrová', 289), "
      "(5, 'Žampiony', 45), (6, 'Čokoláda hořká', 52), (7, 'Řepkový olej', 64), (8, 'Česnek', 19);\n";
  for (int id = 1; id <= kInvoices; ++id) {
    const std::string day = (id < 10 ? "0" : "") + std::to_string(id);
    sql += Invoice(id, (id - 1) % 12 + 1, ("2026-11-" + day).c_str());
    sql += Line(id * 10 + 1, id, (id - 1) % 8 + 1, id % 5 + 1);
    sql += Line(id * 10 + 2, id, id % 8 + 1, id % 3 + 2);
  }
  return sql;
}

std::string SecondRoundSql() {
  return "UPDATE ODBERATELE SET NAZEV = 'Řeznictví Čížek a syn' WHERE ID = 2;\n"
         "UPDATE ODBERATELE SET MESTO = 'Přerov' WHERE ID = 12;\n"
         "UPDATE ZBOZI SET CENA = CENA + 10 WHERE ID IN (1, 3, 6);\n"
         "UPDATE POLOZKY_FAKTUR SET MNOZSTVI = 12 WHERE ID = 11;\n"
         "DELETE FROM POLOZKY_FAKTUR WHERE ID IN (52, 302);\n"
         "DELETE FROM POLOZKY_FAKTUR WHERE FAKTURA = 29;\n"
         "DELETE FROM FAKTURY WHERE ID = 29;\n";
}

std::string ThirdRoundSql() {
  return "INSERT INTO ODBERATELE (ID, NAZEV, MESTO, KATEGORIE) VALUES (13, 'Žluťoučký kůň s.r.o.', 'Kolín', "
         "'X');\n" +
         Invoice(31, 13, "2026-12-08") + Line(311, 31, 4, 2) + Line(312, 31, 8, 5) +
         "UPDATE ODBERATELE SET MESTO = 'Šumperk' WHERE ID = 5;\n";
}

const std::vector<DemoTable>& Tables() {
  static const std::vector<DemoTable> tables = {
      {"ODBERATELE", "ID, NAZEV, MESTO, KATEGORIE", "KATEGORIE <> 'X'", "odběratelů"},
      {"ZBOZI", "ID, NAZEV, CENA", "1 = 1", "druhů zboží"},
      {"FAKTURY", "ID, RG, CISLO, ODBERATEL, DATUM",
       "ODBERATEL NOT IN (SELECT ID FROM ODBERATELE WHERE KATEGORIE = 'X')", "faktur"},
      {"POLOZKY_FAKTUR", "ID, FAKTURA, ZBOZI, MNOZSTVI",
       "FAKTURA NOT IN (SELECT f.ID FROM FAKTURY f JOIN ODBERATELE o ON o.ID = f.ODBERATEL WHERE o.KATEGORIE "
       "= "
       "'X')",
       "položek faktur"},
  };
  return tables;
}

}  // namespace tamaril::cli::demo
