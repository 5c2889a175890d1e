#include "rules_fixture.h"

#include "text/encoding.h"

namespace tamaril::definitions::testing {
namespace {

constexpr const char* kNow = "(strftime('%Y-%m-%d %H:%M:%f', 'now', 'localtime'))";

const std::string kSchema =
    std::string() +
    "CREATE TABLE rep_TBLDESC (TABLENAME VARCHAR(20) NOT NULL, TABLEDESC NVARCHAR(50) NOT NULL, "
    "  LISTORDER INT NOT NULL, DefIgnoreRowGuidField bit NOT NULL DEFAULT 0, DefExportRule TEXT, "
    "  DefAppendRule TEXT, DefUpdateRule TEXT, DefUpdateFieldRule TEXT, DefDeleteRule TEXT, "
    "  CONSTRAINT rep_TBLDESC_PK PRIMARY KEY (TABLENAME));"
    "CREATE TABLE rep_DEFEXPORT (Signature VARCHAR(10) NOT NULL, "
    "  TABLENAME VARCHAR(20) NOT NULL CONSTRAINT FK_rep_DEFEXPORT_TABLENAME REFERENCES rep_TBLDESC "
    "(TABLENAME), "
    "  ExportRule TEXT, LastExportDate datetime NULL, LISTORDER INT NOT NULL, "
    "  CONSTRAINT rep_DEFEXPORT_PK PRIMARY KEY (Signature, TABLENAME));"
    "CREATE TABLE rep_XPORTLOG (Signature VARCHAR(10) NOT NULL, EXPORTNO INT NOT NULL, "
    "  EXPORTDATE datetime NOT NULL, SERVEREXPORTDATE datetime NOT NULL DEFAULT " +
    kNow +
    ", "
    "  CONSTRAINT rep_XPORTLOG_PK PRIMARY KEY (Signature, EXPORTNO));"
    "CREATE TABLE rep_XPORTLOGDETAIL (Signature VARCHAR(10) NOT NULL, EXPORTNO INT NOT NULL, "
    "  TABLENAME VARCHAR(20) NOT NULL, COUNTRECORDS INT NOT NULL DEFAULT 0, "
    "  CONSTRAINT rep_XPORTLOGDETAIL_PK PRIMARY KEY (Signature, EXPORTNO, TABLENAME), "
    "  CONSTRAINT FK_rep_XPORTLOGDETAIL_TABLENAME FOREIGN KEY (TABLENAME) REFERENCES rep_TBLDESC "
    "(TABLENAME), "
    "  CONSTRAINT rep_XPORTLOGDETAIL_FK FOREIGN KEY (Signature, EXPORTNO) REFERENCES rep_XPORTLOG "
    "(Signature, EXPORTNO));"
    "CREATE TABLE rep_DEFIMPORT (Signature VARCHAR(10) NOT NULL, "
    "  TABLENAME VARCHAR(20) NOT NULL CONSTRAINT FK_rep_DEFIMPORT_TABLENAME REFERENCES rep_TBLDESC "
    "(TABLENAME), "
    "  IgnoreRowGuidField bit NOT NULL DEFAULT 0, AppendRule TEXT, UpdateRule TEXT, UpdateFieldRule TEXT, "
    "  DeleteRule TEXT, LastImportDate datetime NULL, LISTORDER INT NOT NULL, "
    "  CONSTRAINT rep_DEFIMPORT_PK PRIMARY KEY (Signature, TABLENAME));"
    "CREATE TABLE rep_IMPORTLOG (Signature VARCHAR(10) NOT NULL, IMPORTNO INT NOT NULL, "
    "  IMPORTDATE datetime NOT NULL DEFAULT " +
    kNow +
    ", CLIENTEXPORTNO INT NOT NULL, "
    "  CLIENTEXPORTDATE datetime NOT NULL, CONSTRAINT rep_IMPORTLOG_PK PRIMARY KEY (Signature, IMPORTNO));"
    "CREATE TABLE rep_IMPORTLOGDETAIL (Signature VARCHAR(10) NOT NULL, IMPORTNO INT NOT NULL, "
    "  TABLENAME VARCHAR(20) NOT NULL CONSTRAINT FK_rep_IMPORTLOGDETAIL_TABLENAME REFERENCES rep_TBLDESC "
    "(TABLENAME), "
    "  COUNT_APPENDED INT NOT NULL DEFAULT 0, COUNT_UPDATED INT NOT NULL DEFAULT 0, "
    "  COUNT_DELETED INT NOT NULL DEFAULT 0, "
    "  CONSTRAINT rep_IMPORTLOGDETAIL_PK PRIMARY KEY (Signature, IMPORTNO, TABLENAME), "
    "  CONSTRAINT rep_IMPORTLOGDETAIL_FK FOREIGN KEY (Signature, IMPORTNO) REFERENCES rep_IMPORTLOG "
    "(Signature, IMPORTNO));"
    "CREATE TABLE rep_DELETED (SUCCNO INTEGER IDENTITY(1,1) NOT NULL, TABLENAME VARCHAR(20) NOT NULL, "
    "  RECORDGUID UNIQUEIDENTIFIER NULL, RECORDID INT NULL, DELTIME DATETIME NOT NULL DEFAULT " +
    kNow +
    ", "
    "  CONSTRAINT rep_DELETED_PK PRIMARY KEY (SUCCNO));"
    "CREATE TABLE rep_USERFK (ID INTEGER IDENTITY(1,1) NOT NULL, PK_TableName VARCHAR(40) NULL, "
    "  FK_TableName VARCHAR(40) NULL, ConstraintName VARCHAR(40) NULL, PK_Field VARCHAR(40) NULL, "
    "  FK_Field VARCHAR(40) NULL, CONSTRAINT rep_USERFK_PK PRIMARY KEY (ID));"
    "CREATE TABLE Zakaznici (IdZakaznik INTEGER PRIMARY KEY, Nazev VARCHAR(40), \"Datum zápisu\" DATETIME, "
    "  Pozn TEXT);"
    "CREATE TABLE Faktury (IdFaktura INTEGER NOT NULL, RG UNIQUEIDENTIFIER ROWGUIDCOL, "
    "  IdZakaznik INTEGER REFERENCES Zakaznici (IdZakaznik), Cena MONEY, CONSTRAINT PK_Faktury PRIMARY KEY "
    "(IdFaktura));"
    "CREATE TABLE PolFakt (IdFaktura INTEGER NOT NULL REFERENCES Faktury (IdFaktura), Radek INTEGER NOT "
    "NULL, "
    "  Zbozi VARCHAR(30), CONSTRAINT PK_PolFakt PRIMARY KEY (IdFaktura, Radek));"
    "INSERT INTO rep_TBLDESC (TABLENAME, TABLEDESC, LISTORDER) "
    "  VALUES ('rep_DELETED', 'Tabulka s identifikací vymazaných záznamů', 0);"
    "INSERT INTO rep_TBLDESC (TABLENAME, TABLEDESC, LISTORDER, DefExportRule, DefAppendRule, "
    "DefIgnoreRowGuidField) "
    "  VALUES ('Zakaznici', 'Zákazníci', 1, 'IDZAKAZNIK > 0', 'NAZEV <> \"\"', 1);"
    "INSERT INTO rep_TBLDESC (TABLENAME, TABLEDESC, LISTORDER) VALUES ('PolFakt', 'Položky faktur', 3);"
    "INSERT INTO rep_TBLDESC (TABLENAME, TABLEDESC, LISTORDER, DefUpdateRule) "
    "  VALUES ('Faktury', 'Faktury', 2, '@IMP_CENA <> CENA');";

}  // namespace

RulesTest::RulesTest() {
  connection_.SetConnectionString("Provider=SQLite;Data Source=" + folder_.path());
  connection_.Open();
  connection_.CreateDatabase("shop");
  connection_.SetDefaultDatabase("shop");
  connection_.Execute(Ansi(kSchema));
  structure_.Scan();
}

std::string RulesTest::Rows(const std::string& select) {
  auto cursor = connection_.Query(select);
  std::string rows;
  while (cursor->Next()) {
    if (!rows.empty()) rows += '\n';
    for (std::size_t i = 0; i < cursor->Columns().size(); ++i) {
      const dbaccess::Value& value = cursor->Get(i);
      rows += (i == 0 ? "" : "|") + (value.IsNull() ? std::string("<null>") : value.AsString());
    }
  }
  return rows;
}

std::string RulesTest::Scalar(const std::string& select) {
  auto cursor = connection_.Query(select);
  return cursor->Next() ? cursor->Get(std::size_t{0}).AsString() : std::string("<none>");
}

std::string RulesTest::Ansi(const std::string& utf8) { return text::Utf8ToAnsi(utf8); }

}  // namespace tamaril::definitions::testing
