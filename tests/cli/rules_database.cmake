# The shop database the rules, history and functions tests share: the rep_ tables with their
# real columns, Zakaznici (integer key), Faktury (RowGuid, detail of Zakaznici) and PolFakt
# (two-column key, detail of Faktury), each with its tracking columns and triggers, and an
# export and an import definition of it. Included by those scripts after -DCLI and -DWORK.

cmake_minimum_required(VERSION 3.25)

find_program(PYTHON NAMES python3 REQUIRED)
find_program(SETSID NAMES setsid REQUIRED)
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}/user" "${WORK}/data" "${WORK}/home")
set(ENV{HOME} "${WORK}/user")
set(home "${WORK}/home")

function(sql text)
  execute_process(COMMAND "${PYTHON}" -c
    "import sqlite3, sys; c = sqlite3.connect(sys.argv[1]); c.executescript(sys.argv[2]); c.commit()"
    "${WORK}/data/shop.db" "${text}" RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "database shop not changed")
  endif()
endfunction()

# Checks the rows of a query as "a|b" lines (NULL as <null>, line breaks as <CR> and <LF>).
function(expect_rows select expected)
  execute_process(COMMAND "${PYTHON}" -c [[
import sqlite3, sys
for row in sqlite3.connect(sys.argv[1]).execute(sys.argv[2]):
    print("|".join("<null>" if v is None else str(v).replace("\r", "<CR>").replace("\n", "<LF>") for v in row))
]] "${WORK}/data/shop.db" "${select}" OUTPUT_VARIABLE rows RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0 OR NOT rows STREQUAL "${expected}")
    message(FATAL_ERROR "'${select}' gave\n${rows}instead of\n${expected}")
  endif()
endfunction()

# Runs the program without a controlling terminal and checks the exit status and the whole
# standard output; the standard error is left in `err`.
function(expect expected_rc expected_out)
  execute_process(COMMAND "${SETSID}" -w "${CLI}" --home "${home}" ${ARGN}
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL expected_rc OR NOT out STREQUAL "${expected_out}")
    message(FATAL_ERROR "'${ARGN}' ended with ${rc} and printed\n${out}${err}\ninstead of "
                        "${expected_rc} and\n${expected_out}")
  endif()
  set(err "${err}" PARENT_SCOPE)
endfunction()

# As expect, and the standard error must hold `message`.
function(expect_error expected_rc message)
  expect(${expected_rc} "" ${ARGN})
  string(FIND "${err}" "${message}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "'${ARGN}' printed\n${err}\nwithout\n${message}")
  endif()
endfunction()

set(now "(strftime('%Y-%m-%d %H:%M:%f', 'now', 'localtime'))")
set(tracking "rep_Date_Inserted datetime, rep_Signature_Inserted varchar(10), rep_Date_Updated datetime,
  rep_Signature_Updated varchar(10)")
sql("
CREATE TABLE rep_TBLDESC (TABLENAME VARCHAR(20) NOT NULL, TABLEDESC NVARCHAR(50) NOT NULL,
  LISTORDER INT NOT NULL, DefIgnoreRowGuidField bit NOT NULL DEFAULT 0, DefExportRule TEXT,
  DefAppendRule TEXT, DefUpdateRule TEXT, DefUpdateFieldRule TEXT, DefDeleteRule TEXT,
  CONSTRAINT rep_TBLDESC_PK PRIMARY KEY (TABLENAME));
CREATE TABLE rep_DEFEXPORT (Signature VARCHAR(10) NOT NULL, TABLENAME VARCHAR(20) NOT NULL,
  ExportRule TEXT, LastExportDate datetime NULL, LISTORDER INT NOT NULL,
  CONSTRAINT rep_DEFEXPORT_PK PRIMARY KEY (Signature, TABLENAME));
CREATE TABLE rep_XPORTLOG (Signature VARCHAR(10) NOT NULL, EXPORTNO INT NOT NULL,
  EXPORTDATE datetime NOT NULL, SERVEREXPORTDATE datetime NOT NULL DEFAULT ${now},
  CONSTRAINT rep_XPORTLOG_PK PRIMARY KEY (Signature, EXPORTNO));
CREATE TABLE rep_XPORTLOGDETAIL (Signature VARCHAR(10) NOT NULL, EXPORTNO INT NOT NULL,
  TABLENAME VARCHAR(20) NOT NULL, COUNTRECORDS INT NOT NULL DEFAULT 0,
  CONSTRAINT rep_XPORTLOGDETAIL_PK PRIMARY KEY (Signature, EXPORTNO, TABLENAME));
CREATE TABLE rep_DEFIMPORT (Signature VARCHAR(10) NOT NULL, TABLENAME VARCHAR(20) NOT NULL,
  IgnoreRowGuidField bit NOT NULL DEFAULT 0, AppendRule TEXT, UpdateRule TEXT, UpdateFieldRule TEXT,
  DeleteRule TEXT, LastImportDate datetime NULL, LISTORDER INT NOT NULL,
  CONSTRAINT rep_DEFIMPORT_PK PRIMARY KEY (Signature, TABLENAME));
CREATE TABLE rep_IMPORTLOG (Signature VARCHAR(10) NOT NULL, IMPORTNO INT NOT NULL,
  IMPORTDATE datetime NOT NULL DEFAULT ${now}, CLIENTEXPORTNO INT NOT NULL,
  CLIENTEXPORTDATE datetime NOT NULL, CONSTRAINT rep_IMPORTLOG_PK PRIMARY KEY (Signature, IMPORTNO));
CREATE TABLE rep_IMPORTLOGDETAIL (Signature VARCHAR(10) NOT NULL, IMPORTNO INT NOT NULL,
  TABLENAME VARCHAR(20) NOT NULL, COUNT_APPENDED INT NOT NULL DEFAULT 0,
  COUNT_UPDATED INT NOT NULL DEFAULT 0, COUNT_DELETED INT NOT NULL DEFAULT 0,
  CONSTRAINT rep_IMPORTLOGDETAIL_PK PRIMARY KEY (Signature, IMPORTNO, TABLENAME));
CREATE TABLE rep_DELETED (SUCCNO INTEGER IDENTITY(1,1) NOT NULL, TABLENAME VARCHAR(20) NOT NULL,
  RECORDGUID UNIQUEIDENTIFIER NULL, RECORDID INT NULL, DELTIME DATETIME NOT NULL DEFAULT ${now},
  CONSTRAINT rep_DELETED_PK PRIMARY KEY (SUCCNO));
CREATE TABLE rep_USERFK (ID INTEGER IDENTITY(1,1) NOT NULL, PK_TableName VARCHAR(40) NULL,
  FK_TableName VARCHAR(40) NULL, ConstraintName VARCHAR(40) NULL, PK_Field VARCHAR(40) NULL,
  FK_Field VARCHAR(40) NULL, CONSTRAINT rep_USERFK_PK PRIMARY KEY (ID));
CREATE TABLE Zakaznici (IdZakaznik INTEGER PRIMARY KEY, Nazev VARCHAR(40), \"Datum zápisu\" DATETIME,
  ${tracking});
CREATE TABLE Faktury (IdFaktura INTEGER NOT NULL, RG UNIQUEIDENTIFIER ROWGUIDCOL,
  IdZakaznik INTEGER REFERENCES Zakaznici (IdZakaznik), Cena MONEY, ${tracking},
  CONSTRAINT PK_Faktury PRIMARY KEY (IdFaktura));
CREATE TABLE PolFakt (IdFaktura INTEGER NOT NULL REFERENCES Faktury (IdFaktura), Radek INTEGER NOT NULL,
  Zbozi VARCHAR(30), ${tracking}, CONSTRAINT PK_PolFakt PRIMARY KEY (IdFaktura, Radek));
CREATE TRIGGER rep_tr_Del_Zakaznici AFTER DELETE ON Zakaznici BEGIN SELECT 1; END;
CREATE TRIGGER rep_tr_Ins_Zakaznici AFTER INSERT ON Zakaznici BEGIN SELECT 1; END;
CREATE TRIGGER rep_tr_Del_Faktury AFTER DELETE ON Faktury BEGIN SELECT 1; END;
CREATE TRIGGER rep_tr_Ins_Faktury AFTER INSERT ON Faktury BEGIN SELECT 1; END;
CREATE TRIGGER rep_tr_Ins_PolFakt AFTER INSERT ON PolFakt BEGIN SELECT 1; END;
INSERT INTO rep_TBLDESC (TABLENAME, TABLEDESC, LISTORDER)
  VALUES ('rep_DELETED', 'Tabulka s identifikací vymazaných záznamů', 0);
INSERT INTO rep_TBLDESC (TABLENAME, TABLEDESC, LISTORDER, DefExportRule, DefAppendRule, DefIgnoreRowGuidField)
  VALUES ('Zakaznici', 'Zákazníci', 1, 'IDZAKAZNIK > 0', 'NAZEV <> \"\"', 1);
INSERT INTO rep_TBLDESC (TABLENAME, TABLEDESC, LISTORDER, DefUpdateRule)
  VALUES ('Faktury', 'Faktury', 2, '@IMP_CENA <> CENA');
INSERT INTO rep_TBLDESC (TABLENAME, TABLEDESC, LISTORDER) VALUES ('PolFakt', 'Položky faktur', 3);")

set(plain_connection "Provider=SQLite;Data Source=${WORK}/data")
string(REPLACE ";" "\\;" connection "${plain_connection}")
expect(0 "" defs add --export --signature SHOP --partner Centrum --connection "${connection}" --database shop)
expect(0 "" defs add --import --signature SHOP --partner Pobocka --connection "${connection}" --database shop.db)
