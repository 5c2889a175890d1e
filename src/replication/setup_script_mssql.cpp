#include <fmt/printf.h>

#include <algorithm>
#include <string_view>

#include "dbstruct/mssql/database_structure.h"
#include "dbstruct/mssql/table_structure.h"
#include "replication/setup_script.h"
#include "text/encoding.h"

namespace tamaril::replication {

namespace {

// The fixed head of hint.sql: the widening of the rep_USERFK columns (written for 20 characters
// first), an example of a user foreign key, rep_DELETED and rep_USERFK. Every line ends in LF
// here and in CR LF in the file. No GO stands inside a comment: query tools split batches there.
constexpr std::string_view kHintSqlA =
    R"sql(/* ************************************************************************ */
/* KOSTRA SKRIPTU PRO ZALOZENI REPLIKACNICH OBJEKTU PRO REPLIKACI DATABAZE */
/* ************************************************************************ */

/* Zmena velikosti poli tabulky rep_USERFK. Bylo varchar(20)  */
declare @COLSIZE int
exec sp_columns @table_name = 'rep_USERFK', @column_name = 'PK_TableName'
if (@@rowcount<>0) BEGIN
  select @COLSIZE = prec from syscolumns
   where name = 'PK_TableName'
     and id = (select id from sysobjects where name = 'rep_USERFK' and type = 'U')
  if (@COLSIZE < 40)
    ALTER TABLE rep_USERFK ALTER COLUMN PK_TableName VARCHAR(40) NULL
END
GO
declare @COLSIZE int
exec sp_columns @table_name = 'rep_USERFK', @column_name = 'FK_TableName'
if (@@rowcount<>0) BEGIN
  select @COLSIZE = prec from syscolumns
   where name = 'FK_TableName'
     and id = (select id from sysobjects where name = 'rep_USERFK' and type = 'U')
  if (@COLSIZE < 40)
    ALTER TABLE rep_USERFK ALTER COLUMN FK_TableName VARCHAR(40) NULL
END
GO
declare @COLSIZE int
exec sp_columns @table_name = 'rep_USERFK', @column_name = 'ConstraintName'
if (@@rowcount<>0) BEGIN
  select @COLSIZE = prec from syscolumns
   where name = 'ConstraintName'
     and id = (select id from sysobjects where name = 'rep_USERFK' and type = 'U')
  if (@COLSIZE < 40)
    ALTER TABLE rep_USERFK ALTER COLUMN ConstraintName VARCHAR(40) NULL
END
GO
declare @COLSIZE int
exec sp_columns @table_name = 'rep_USERFK', @column_name = 'PK_Field'
if (@@rowcount<>0) BEGIN
  select @COLSIZE = prec from syscolumns
   where name = 'PK_Field'
     and id = (select id from sysobjects where name = 'rep_USERFK' and type = 'U')
  if (@COLSIZE < 40)
    ALTER TABLE rep_USERFK ALTER COLUMN PK_Field VARCHAR(40) NULL
END
GO
declare @COLSIZE int
exec sp_columns @table_name = 'rep_USERFK', @column_name = 'FK_Field'
if (@@rowcount<>0) BEGIN
  select @COLSIZE = prec from syscolumns
   where name = 'FK_Field'
     and id = (select id from sysobjects where name = 'rep_USERFK' and type = 'U')
  if (@COLSIZE < 40)
    ALTER TABLE rep_USERFK ALTER COLUMN FK_Field VARCHAR(40) NULL
END
GO

/* Priklad uzivatelskeho ciziho klice, ktery databaze sama nedeklaruje:   */
/* polozky faktury (PolFakt) patri k fakture (Faktury) podle IdFaktura.    */
/*
IF NOT EXISTS (SELECT * FROM rep_USERFK WHERE FK_TableName = 'PolFakt')
  INSERT INTO rep_USERFK (PK_TableName,FK_TableName,ConstraintName,PK_Field,FK_Field)
  VALUES ('Faktury','PolFakt','ID_FKPolFakt','IdFaktura','IdFaktura')
*/

/* Tabulka identifikujici vymazane zaznamy, plni ji DELETE triggery */
IF NOT EXISTS (SELECT name FROM sysobjects
               WHERE name = 'rep_DELETED' AND type = 'U')
  CREATE TABLE rep_DELETED
  (
   SUCCNO     INT IDENTITY(1,1) NOT NULL, /* poradove cislo vymazu, v tomto poradi se exportuje */
   TABLENAME  VARCHAR(20) NOT NULL,       /* tabulka, ze ktere byl zaznam vymazan */
   RECORDGUID UNIQUEIDENTIFIER NULL,      /* RowGuid vymazaneho zaznamu */
   RECORDID   INT NULL,                   /* celociselny klic vymazaneho zaznamu */
   DELTIME    DATETIME NOT NULL DEFAULT GetDate(), /* cas vymazani */
   CONSTRAINT rep_DELETED_PK PRIMARY KEY CLUSTERED (SUCCNO)
  )
GO

/* Uzivatelske cizi klice, ktere aplikace pouziva, ale databaze je nedeklaruje. */
/* Nazev 'rep_USERFK' je povinny, tabulka musi existovat, muze vsak zustat     */
/* prazdna. Klic o vice polich ma vice radku se stejnym ConstraintName.        */
IF NOT EXISTS (SELECT name FROM sysobjects
               WHERE name = 'rep_USERFK' AND type = 'U')
  CREATE TABLE rep_USERFK
  (
   ID             INT IDENTITY(1,1) NOT NULL,
   PK_TableName   VARCHAR(40) NULL, /* nadrizena tabulka */
   FK_TableName   VARCHAR(40) NULL, /* podrizena tabulka */
   ConstraintName VARCHAR(40) NULL, /* nazev klice */
   PK_Field       VARCHAR(40) NULL, /* pole nadrizene tabulky */
   FK_Field       VARCHAR(40) NULL, /* pole podrizene tabulky */
   CONSTRAINT rep_USERFK_PK PRIMARY KEY CLUSTERED (ID)
  )
GO

)sql";

// The rule and log tables of both sides, after rep_TBLDESC (their TABLENAME references it).
constexpr std::string_view kHintSqlB =
    R"sql(/* Pravidla exportu: jeden radek na identifikaci prenosu a tabulku */
IF NOT EXISTS (SELECT name FROM sysobjects
               WHERE name = 'rep_DEFEXPORT' AND type = 'U')
  CREATE TABLE rep_DEFEXPORT
  (
   Signature      VARCHAR(10) NOT NULL, /* identifikace prenosu */
   TABLENAME      VARCHAR(20) NOT NULL, /* tabulka */
   ExportRule     TEXT NULL,            /* logicky vyraz pro podminku exportu */
   LastExportDate datetime NULL,        /* cas posledniho exportu tabulky */
   LISTORDER      INT NOT NULL,         /* poradi v seznamu ktery uvidi uzivatel */
   CONSTRAINT rep_DEFEXPORT_PK PRIMARY KEY CLUSTERED (Signature, TABLENAME),
   CONSTRAINT FK_rep_DEFEXPORT_TABLENAME FOREIGN KEY (TABLENAME) REFERENCES rep_TBLDESC (TABLENAME)
  )
GO

/* Historie exportu: jeden radek na beh exportu */
IF NOT EXISTS (SELECT name FROM sysobjects
               WHERE name = 'rep_XPORTLOG' AND type = 'U')
  CREATE TABLE rep_XPORTLOG
  (
   Signature        VARCHAR(10) NOT NULL, /* identifikace prenosu */
   EXPORTNO         INT not null,         /* cislo exportu */
   EXPORTDATE       datetime not null,    /* nastavuje exportujici program */
   SERVEREXPORTDATE datetime not null default GetDate(), /* nastavuje server, muze se lisit od EXPORTDATE */
   CONSTRAINT rep_XPORTLOG_PK PRIMARY KEY CLUSTERED (Signature, EXPORTNO)
  )
GO

/* Podrobnosti exportu: jeden radek na beh exportu a tabulku */
IF NOT EXISTS (SELECT name FROM sysobjects
               WHERE name = 'rep_XPORTLOGDETAIL' AND type = 'U')
  CREATE TABLE rep_XPORTLOGDETAIL
  (
   Signature    VARCHAR(10) NOT NULL,  /* identifikace prenosu */
   EXPORTNO     INT not null,          /* cislo exportu */
   TABLENAME    VARCHAR(20) NOT NULL,  /* tabulka */
   COUNTRECORDS INT not null default 0, /* pocet exportovanych zaznamu */
   CONSTRAINT rep_XPORTLOGDETAIL_PK PRIMARY KEY CLUSTERED (Signature, EXPORTNO, TABLENAME),
   CONSTRAINT FK_rep_XPORTLOGDETAIL_TABLENAME FOREIGN KEY (TABLENAME) REFERENCES rep_TBLDESC (TABLENAME),
   CONSTRAINT rep_XPORTLOGDETAIL_FK FOREIGN KEY (Signature, EXPORTNO)
     REFERENCES rep_XPORTLOG (Signature, EXPORTNO)
  )
GO

/* Pravidla importu: jeden radek na identifikaci prenosu a tabulku */
IF NOT EXISTS (SELECT name FROM sysobjects
               WHERE name = 'rep_DEFIMPORT' AND type = 'U')
  CREATE TABLE rep_DEFIMPORT
  (
   Signature          VARCHAR(10) NOT NULL,     /* identifikace prenosu */
   TABLENAME          VARCHAR(20) NOT NULL,     /* tabulka */
   IgnoreRowGuidField bit not null default 0,
          /* Pokud je tento priznak nastaven, zaznamy jsou identifikovany */
          /* podle hodnoty primarniho klice. Pokud tabulka nema RowGUID field, */
          /* hodnota IgnoreRowGuidField je ignorovana */
   AppendRule         TEXT NULL,                /* logicky vyraz pro podminku pripojeni */
   UpdateRule         TEXT NULL,                /* logicky vyraz pro podminku aktualizace */
   UpdateFieldRule    TEXT NULL,                /* logicky vyraz pro podminku aktualizace pole */
   DeleteRule         TEXT NULL,                /* logicky vyraz pro podminku odstraneni zaznamu */
   LastImportDate     datetime NULL,            /* cas posledniho importu tabulky */
   LISTORDER          INT NOT NULL,             /* poradi v seznamu ktery uvidi uzivatel */
   CONSTRAINT rep_DEFIMPORT_PK PRIMARY KEY CLUSTERED (Signature, TABLENAME),
   CONSTRAINT FK_rep_DEFIMPORT_TABLENAME FOREIGN KEY (TABLENAME) REFERENCES rep_TBLDESC (TABLENAME)
  )
GO

/* Historie importu: jeden radek na importovany prenosovy soubor */
IF NOT EXISTS (SELECT name FROM sysobjects
               WHERE name = 'rep_IMPORTLOG' AND type = 'U')
  CREATE TABLE rep_IMPORTLOG
  (
   Signature        VARCHAR(10) NOT NULL,               /* identifikace prenosu */
   IMPORTNO         INT not null,                       /* cislo importu */
   IMPORTDATE       datetime not null default GetDate(), /* cas importu podle serveru */
   CLIENTEXPORTNO   INT not null,                       /* cislo exportu u klienta */
   CLIENTEXPORTDATE datetime not null,                  /* cas exportu u klienta */
   CONSTRAINT rep_IMPORTLOG_PK PRIMARY KEY CLUSTERED (Signature, IMPORTNO)
  )
GO

/* Podrobnosti importu: jeden radek na import a tabulku */
IF NOT EXISTS (SELECT name FROM sysobjects
               WHERE name = 'rep_IMPORTLOGDETAIL' AND type = 'U')
  CREATE TABLE rep_IMPORTLOGDETAIL
  (
   Signature      VARCHAR(10) NOT NULL,   /* identifikace prenosu */
   IMPORTNO       INT not null,           /* cislo importu */
   TABLENAME      VARCHAR(20) NOT NULL,   /* tabulka */
   COUNT_APPENDED INT not null default 0, /* pocet pripojenych zaznamu */
   COUNT_UPDATED  INT not null default 0, /* pocet aktualizovanych zaznamu */
   COUNT_DELETED  INT not null default 0, /* pocet odstranenych zaznamu */
   CONSTRAINT rep_IMPORTLOGDETAIL_PK PRIMARY KEY CLUSTERED (Signature, IMPORTNO, TABLENAME),
   CONSTRAINT FK_rep_IMPORTLOGDETAIL_TABLENAME FOREIGN KEY (TABLENAME) REFERENCES rep_TBLDESC (TABLENAME),
   CONSTRAINT rep_IMPORTLOGDETAIL_FK FOREIGN KEY (Signature, IMPORTNO)
     REFERENCES rep_IMPORTLOG (Signature, IMPORTNO)
  )
GO

)sql";

// The procedures of the master database at the end of hint.sql: backup, restore and the registry
// reader they use.
constexpr std::string_view kHintSqlMaster =
    R"sql(/* ************************************************************************ */
/* NASLEDUJICI ULOZENE PROCEDURY PATRI DO DATABAZE MASTER.                  */
/* SLOUZI K ZALOHOVANI DATABAZE PRED IMPORTEM A K JEJI OBNOVE.              */
/* ************************************************************************ */
USE MASTER
GO

/* ------------------------------------------------------------------ */
/* rep_ZRT_getSQLregistry: cteni hodnoty z registru SQL serveru       */
/* ------------------------------------------------------------------ */
IF EXISTS (SELECT name FROM sysobjects
           WHERE name = 'rep_ZRT_getSQLregistry' AND type = 'P')
  DROP PROCEDURE rep_ZRT_getSQLregistry
GO
CREATE PROCEDURE rep_ZRT_getSQLregistry
  @regkey varchar(128),
  @regvalue varchar(8000) = NULL OUTPUT,
  @server varchar(128) = '(local)',
  @username varchar(128) = 'sa',
  @password varchar(128) = NULL
AS
BEGIN
  SET NOCOUNT ON
  DECLARE @hr int, @object int, @registry int, @failed int
  DECLARE @source varchar(255), @description varchar(255)

  EXEC @hr = sp_OACreate 'SQLDMO.SQLServer', @object OUT
  IF @hr <> 0 GOTO oa_error

  SELECT @failed = @object
  IF @password IS NULL OR @password = ''
    EXEC @hr = sp_OAMethod @object, 'Connect', NULL, @server, @username
  ELSE
    EXEC @hr = sp_OAMethod @object, 'Connect', NULL, @server, @username, @password
  IF @hr <> 0 GOTO oa_error

  EXEC @hr = sp_OAGetProperty @object, 'Registry', @registry OUT
  IF @hr <> 0 GOTO oa_error

  SELECT @failed = @registry
  EXEC @hr = sp_OAGetProperty @registry, @regkey, @regvalue OUT
  IF @hr <> 0 GOTO oa_error

  EXEC sp_OADestroy @registry
  EXEC sp_OADestroy @object
  RETURN datalength(@regvalue)

oa_error:
  /* zdroj a popis chyby posledniho volani */
  EXEC @hr = sp_OAGetErrorInfo @failed, @source OUT, @description OUT
  IF @hr = 0
    RAISERROR ('%s %s', 16, 1, @source, @description)
  ELSE
    RAISERROR ('sp_OAGetErrorInfo failed', 16, 1)
  IF @registry IS NOT NULL EXEC sp_OADestroy @registry
  IF @object IS NOT NULL EXEC sp_OADestroy @object
  RETURN -1
END
GO

/* ------------------------------------------------------------------ */
/* rep_ZRT_dbbackup: zaloha databaze a jejiho transakcniho logu       */
/* ------------------------------------------------------------------ */
IF EXISTS (SELECT name FROM sysobjects
           WHERE name = 'rep_ZRT_dbbackup' AND type = 'P')
  DROP PROCEDURE rep_ZRT_dbbackup
GO
CREATE PROCEDURE rep_ZRT_dbbackup
  @dbname sysname = '',
  @username sysname = '',
  @password sysname = ''
AS
BEGIN
  SET NOCOUNT ON
  DECLARE @result int, @server varchar(128), @rootpath varchar(8000), @backuppath varchar(8000)
  DECLARE @device sysname, @filename varchar(8000), @message varchar(8000)

  /* zalohy lezi v podadresari backup korenoveho adresare SQL serveru */
  SELECT @server = @@servername
  EXEC @result = rep_ZRT_getSQLregistry 'SQLRootPath', @rootpath OUTPUT, @server, @username, @password
  IF @result < 0 BEGIN
    RAISERROR ('Cannot get backup directoery', 16, 1)
    RETURN -1
  END
  SELECT @backuppath = @rootpath + '\backup'

  SELECT @dbname = CATALOG_NAME FROM INFORMATION_SCHEMA.SCHEMATA
   WHERE CATALOG_NAME <> 'tempdb' AND CATALOG_NAME = @dbname
  IF @dbname IS NOT NULL BEGIN
    /* zaloha databaze */
    SELECT @device = @dbname + 'rep_back'
    IF NOT EXISTS (SELECT name FROM master..sysdevices WHERE name = @device) BEGIN
      SELECT @filename = @backuppath + '\' + @device + '.dmp'
      EXEC sp_addumpdevice 'disk', @device, @filename
    END
    BACKUP DATABASE @dbname TO @device WITH INIT,SKIP
    IF @@ERROR <> 0 RETURN -1
    SELECT @message = 'Backup of database ' + @dbname + ' complete'
    EXEC master..xp_logevent 60000, @message, 'INFORMATIONAL'

    /* zaloha transakcniho logu, pokud se log neorezava */
    IF @dbname <> 'master' AND DATABASEPROPERTY(@dbname, 'IsTruncLog') = 0 BEGIN
      SELECT @device = @dbname + 'rep_logback'
      IF NOT EXISTS (SELECT name FROM master..sysdevices WHERE name = @device) BEGIN
        SELECT @filename = @backuppath + '\' + @device + '.dmp'
        EXEC sp_addumpdevice 'disk', @device, @filename
      END
      BACKUP LOG @dbname TO @device WITH INIT,SKIP
      IF @@ERROR <> 0 RETURN -1
      SELECT @message = 'Backup of the transaction log for database ' + @dbname + ' complete'
      EXEC master..xp_logevent 60000, @message, 'INFORMATIONAL'
    END
  END
  RETURN 0
END
GO

/* ------------------------------------------------------------------ */
/* rep_ZRT_dbrestore: obnova databaze ze zalohy rep_ZRT_dbbackup      */
/* ------------------------------------------------------------------ */
IF EXISTS (SELECT name FROM sysobjects
           WHERE name = 'rep_ZRT_dbrestore' AND type = 'P')
  DROP PROCEDURE rep_ZRT_dbrestore
GO
CREATE PROCEDURE rep_ZRT_dbrestore
  @dbname sysname = '',
  @username sysname = '',
  @password sysname = ''
AS
BEGIN
  SET NOCOUNT ON
  DECLARE @result int, @server varchar(128), @rootpath varchar(8000), @filename varchar(8000)

  IF @dbname IS NULL OR @dbname = '' RETURN -1

  SELECT @server = @@servername
  EXEC @result = rep_ZRT_getSQLregistry 'SQLRootPath', @rootpath OUTPUT, @server, @username, @password
  IF @result < 0 BEGIN
    RAISERROR ('Cannot get Backup direcrory', 16, 1)
    RETURN -1
  END
  /* tentyz soubor, do ktereho zapisuje rep_ZRT_dbbackup */
  SELECT @filename = @rootpath + '\backup\' + @dbname + 'rep_back.dmp'
  RESTORE DATABASE @dbname FROM DISK = @filename
  IF @@ERROR <> 0 RETURN -1
  RETURN 0
END
GO
)sql";

// `text` with every LF as CR LF.
void AppendLines(std::string& out, std::string_view text) {
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
}

void AppendLine(std::string& out, std::string_view line) {
  out += line;
  out += "\r\n";
}

// `text` in quotes for T-SQL, its quotes doubled.
std::string Literal(std::string_view text) { return "'" + dbstruct::QuoteEscaped(std::string(text)) + "'"; }

// A name inside a comment: "/*" and "*/" broken up, so the comment ends where the script says.
std::string CommentText(std::string_view text) {
  std::string out;
  for (const char c : text) {
    if (!out.empty() && ((c == '/' && out.back() == '*') || (c == '*' && out.back() == '/'))) out += ' ';
    out += c;
  }
  return out;
}

// The three-line banner of a generated section.
void AppendBanner(std::string& out, std::string_view title) {
  constexpr std::string_view kRule =
      "/* ------------------------------------------------------------------ */";
  AppendLine(out, kRule);
  std::string line = "/* " + std::string(title);
  if (line.size() < kRule.size() - 3) line.resize(kRule.size() - 3, ' ');
  AppendLine(out, line + " */");
  AppendLine(out, kRule);
}

// A table the script sets up: its LISTORDER and the RowGuid column the script adds (or empty).
struct SetUpTable {
  const dbstruct::tADOTbl_Structure* table = nullptr;
  int list_order = 0;
  std::string added_row_guid;
};

// What the script does with the tables of the model.
struct TablePlan {
  std::vector<SetUpTable> tables;  ///< set up, in the model's order
  std::vector<std::string> notes;  ///< one comment line per table the script cannot set up
};

// Views and ignored tables are left out silently; a table whose name the rep_ tables cannot hold
// and a table whose inserted rows nothing finds (no primary key, no RowGuid column, none added)
// get a note instead. LISTORDER is the table's position among all scanned tables plus one, so
// the numbers stay put when the ignore list changes.
TablePlan PlanTables(const dbstruct::tADODatabase_Structure& database, const std::vector<std::string>& ignore,
                     const SetupOptions& options) {
  TablePlan plan;
  for (int i = 0; i < database.TableCount(); ++i) {
    const auto* table = dynamic_cast<const dbstruct::tADOTbl_Structure*>(&database.Table(i));
    if (table == nullptr || table->IsView || IsIgnoredTable(ignore, table->TableName)) continue;
    const std::string name = CommentText(table->TableName);
    if (!IsReplicableName(table->TableName)) {
      plan.notes.push_back(
          fmt::sprintf("/* Tabulku %s nelze replikovat: tabulky rep_ drzi nazev tabulky "
                       "nejvyse %d znaku */",
                       name, static_cast<int>(kMaxReplicatedNameLength)));
      continue;
    }
    if (!IsSetUpTable(*table, ignore)) continue;
    std::string added = options.add_rowguid && NeedsAddedRowGuid(*table, ignore) ? kAddedRowGuidColumn : "";
    const bool keyed = table->HasPrimaryKey && !table->PrimaryKeyFields.empty();
    if (!keyed && table->RowGuidColumn.empty() && added.empty()) {
      plan.notes.push_back("/* Tabulka " + name +
                           " nema primarni klic, nereplikuje se; replikovatelnou ji ucini primarni klic "
                           "nebo volba --add-rowguid */");
      continue;
    }
    plan.tables.push_back({table, i + 1, std::move(added)});
  }
  return plan;
}

// The name of a table inside a literal that OBJECT_ID or COL_LENGTH parse: bracketed where T-SQL
// needs it, quotes doubled.
std::string ObjectNameLiteral(std::string_view table) { return Literal(dbstruct::MssqlName(table)); }

// The added RowGuid columns, each in a batch of its own: the triggers and the index that use
// the column are compiled only after it exists. Existing rows get their values from the default.
std::string AddedRowGuidSection(const TablePlan& plan) {
  std::string out;
  for (const SetUpTable& item : plan.tables) {
    if (item.added_row_guid.empty()) continue;
    if (out.empty()) AppendBanner(out, "Sloupec RowGuid pro tabulky, jejichz radky nic neidentifikuje");
    const std::string& table = item.table->TableName;
    const std::string column = dbstruct::MssqlName(item.added_row_guid);
    AppendLine(
        out, "IF COL_LENGTH(" + ObjectNameLiteral(table) + "," + Literal(item.added_row_guid) + ") IS NULL");
    AppendLine(out, "  ALTER TABLE " + dbstruct::MssqlName(table) + " ADD " + column +
                        " uniqueidentifier ROWGUIDCOL NOT NULL CONSTRAINT " +
                        dbstruct::MssqlName("rep_df_" + table + "_" + item.added_row_guid) +
                        " DEFAULT newid()");
    AppendLine(out, "GO");
  }
  return out;
}

// The indexes the import's lookups need on the set-up tables, each created only when no index
// of that name is on the table, so a second run creates none.
std::string LookupIndexSection(const dbstruct::tADODatabase_Structure& database,
                               const std::vector<std::string>& ignore, const TablePlan& plan) {
  std::vector<LookupIndex> indexes;
  for (const SetUpTable& item : plan.tables) {
    if (item.added_row_guid.empty()) continue;
    const std::vector<std::string> columns = {item.added_row_guid};
    indexes.push_back({item.table->TableName, columns, true,
                       LookupIndexName(item.table->TableName, columns, true),
                       text::Utf8ToAnsi("vyhledání řádku podle RowGuid")});
  }
  for (LookupIndex& index : MissingLookupIndexes(database, ignore)) {
    const bool set_up = std::any_of(plan.tables.begin(), plan.tables.end(), [&](const SetUpTable& item) {
      return item.table->TableName == index.table;
    });
    if (set_up) indexes.push_back(std::move(index));
  }
  std::string out;
  if (indexes.empty()) return out;
  AppendBanner(out, "Indexy pro vyhledavani radku pri importu");
  for (const LookupIndex& index : indexes) {
    std::string columns;
    for (const std::string& column : index.columns)
      columns += (columns.empty() ? "" : ", ") + dbstruct::MssqlName(column);
    AppendLine(out, "/* " + CommentText(index.purpose) + " */");
    AppendLine(out, "IF NOT EXISTS (SELECT name FROM sysindexes");
    AppendLine(out, "               WHERE name = " + Literal(index.name) + " AND id = OBJECT_ID(" +
                        ObjectNameLiteral(index.table) + "))");
    AppendLine(out, std::string("  CREATE ") + (index.unique ? "UNIQUE " : "") + "INDEX " +
                        dbstruct::MssqlName(index.name) + " ON " + dbstruct::MssqlName(index.table) + " (" +
                        columns + ")");
    AppendLine(out, "GO");
  }
  AppendLine(out, "");
  return out;
}

// rep_TBLDESC, created with the deleted-rows row; then a row for every set-up table that has
// none yet (a description the person changed stays) and its LISTORDER set again, so a run after
// tables were added or dropped brings the order up to date.
std::string TableDescriptionSection(const TablePlan& plan) {
  std::string out;
  for (const char* line : {
           "/* Tabulka prirazujici tabulkam srozumitelny popis */",
           "IF NOT EXISTS (SELECT name FROM sysobjects",
           "               WHERE name = 'rep_TBLDESC' AND type = 'U') BEGIN",
           "  CREATE TABLE rep_TBLDESC",
           "  (",
           "   TABLENAME  VARCHAR(20) NOT NULL,",
           "   TABLEDESC  NVARCHAR(50) NOT NULL,",
           "   LISTORDER  INT NOT NULL, /* poradi v seznamu ktery uvidi uzivatel */",
           "   DefIgnoreRowGuidField bit not null default 0,",
           "          /* Defaultni hodnota priznaku \"ignorovat Row GUID pole\" */",
           "          /* Pokud je tento priznak nastaven, zaznamy jsou identifikovany */",
           "          /* podle hodnoty primarniho klice. Pokud tabulka nema RowGUID field, */",
           "          /* hodnota (Def)IgnoreRowGuidField je ignorovana */",
           "   DefExportRule TEXT,      /* Defaultni logicky vyraz pro podminku exportu. */",
           "   DefAppendRule TEXT,      /* Defaultni logicky vyraz pro podminku pripojeni */",
           "   DefUpdateRule TEXT,      /* Defaultni logicky vyraz pro podminku aktualizace */",
           "   DefUpdateFieldRule TEXT, /* Defaultni logicky vyraz pro podminku aktualizace pole */",
           "   DefDeleteRule TEXT,      /* Defaultni logicky vyraz pro podminku odstraneni zaznamu */",
           "   CONSTRAINT rep_TBLDESC_PK PRIMARY KEY CLUSTERED (TABLENAME)",
           "  )",
           "  /* Vychozi naplneni tabulky: */",
           "  /* A. \"DELETED\" table        */",
       }) {
    AppendLine(out, line);
  }
  constexpr const char* kInsert = "   Insert into rep_TBLDESC (TABLENAME,TABLEDESC,LISTORDER) VALUES ";
  AppendLine(out, kInsert);
  AppendLine(out, text::Utf8ToAnsi("   ('rep_DELETED',N'Tabulka s identifikací vymazaných záznamů',0)"));
  AppendLine(out, "END");
  AppendLine(out, "");
  AppendLine(out, "GO");
  AppendLine(out, "");
  AppendLine(out, text::Utf8ToAnsi("  /* B. ostatní evidence  */"));
  for (const SetUpTable& item : plan.tables) {
    const std::string name = Literal(item.table->TableName);
    const std::string quoted = dbstruct::QuoteEscaped(item.table->TableName);
    AppendLine(out, "IF NOT EXISTS (SELECT TABLENAME FROM rep_TBLDESC WHERE TABLENAME = " + name + ")");
    AppendLine(out, kInsert);
    AppendLine(out, fmt::sprintf("   ('%s',N'Popis tabulky %s',%d)", quoted, quoted, item.list_order));
    AppendLine(out, fmt::sprintf("UPDATE rep_TBLDESC SET LISTORDER = %d WHERE TABLENAME = %s",
                                 item.list_order, name));
  }
  AppendLine(out, "GO");
  AppendLine(out, "");
  return out;
}

// After the rule and log tables exist: the rows of tables the database no longer has go (those
// referencing rep_TBLDESC first), the rules follow the new LISTORDER, and every definition gets
// a row without rules for each table it lacks.
std::string SynchronizationSection(const TablePlan& plan) {
  std::string out;
  AppendBanner(out, "Evidence replikace podle soucasnych tabulek databaze");
  AppendLine(out, "/* Tabulky, ktere v databazi uz nejsou */");
  for (const char* table :
       {"rep_DEFEXPORT", "rep_DEFIMPORT", "rep_XPORTLOGDETAIL", "rep_IMPORTLOGDETAIL", "rep_TBLDESC"}) {
    AppendLine(out, std::string("DELETE FROM ") + table + " WHERE TABLENAME <> 'rep_DELETED'");
    AppendLine(out, std::string("  AND NOT EXISTS (SELECT name FROM sysobjects WHERE name = ") + table +
                        ".TABLENAME AND type = 'U')");
  }
  AppendLine(out, "GO");
  if (!plan.tables.empty()) {
    AppendLine(out, "/* Poradi tabulek v pravidlech */");
    for (const SetUpTable& item : plan.tables) {
      const std::string name = Literal(item.table->TableName);
      for (const char* table : {"rep_DEFEXPORT", "rep_DEFIMPORT"}) {
        AppendLine(out, fmt::sprintf("UPDATE %s SET LISTORDER = %d WHERE TABLENAME = %s", table,
                                     item.list_order, name));
      }
    }
    AppendLine(out, "GO");
  }
  AppendLine(out, "/* Nove tabulky ve vsech definicich, bez pravidel */");
  AppendLine(out, "INSERT INTO rep_DEFEXPORT (Signature, TABLENAME, LISTORDER)");
  AppendLine(out, "  SELECT DISTINCT d.Signature, t.TABLENAME, t.LISTORDER");
  AppendLine(out, "  FROM rep_DEFEXPORT d CROSS JOIN rep_TBLDESC t");
  AppendLine(out, "  WHERE NOT EXISTS (SELECT * FROM rep_DEFEXPORT e");
  AppendLine(out, "                    WHERE e.Signature = d.Signature AND e.TABLENAME = t.TABLENAME)");
  AppendLine(out, "GO");
  AppendLine(out, "INSERT INTO rep_DEFIMPORT (Signature, TABLENAME, IgnoreRowGuidField, LISTORDER)");
  AppendLine(out, "  SELECT DISTINCT d.Signature, t.TABLENAME, 0, t.LISTORDER");
  AppendLine(out, "  FROM rep_DEFIMPORT d CROSS JOIN rep_TBLDESC t");
  AppendLine(out, "  WHERE NOT EXISTS (SELECT * FROM rep_DEFIMPORT e");
  AppendLine(out, "                    WHERE e.Signature = d.Signature AND e.TABLENAME = t.TABLENAME)");
  AppendLine(out, "GO");
  AppendLine(out, "");
  return out;
}

}  // namespace

std::string MssqlSetupScript(const dbstruct::tADODatabase_Structure& database,
                             const std::vector<std::string>& ignore, const SetupOptions& options) {
  const TablePlan plan = PlanTables(database, ignore, options);
  std::vector<dbstruct::tScriptTable> tables;
  for (const SetUpTable& item : plan.tables) tables.push_back({item.table, item.added_row_guid});

  std::string script;
  AppendLines(script, kHintSqlA);
  for (const std::string& note : plan.notes) AppendLine(script, note);
  if (!plan.notes.empty()) AppendLine(script, "");
  script += AddedRowGuidSection(plan);
  script += database.DeleteTriggerSection(tables, "rep_tr_Del_", "rep_DELETED", "TABLENAME", "RECORDGUID",
                                          "RECORDID");
  script += database.TrackingColumnsSection(
      tables, "rep_tr_Ins_",
      {"rep_Date_Inserted", "rep_Signature_Inserted", "rep_Date_Updated", "rep_Signature_Updated"},
      {"datetime null", "varchar(10) null", "datetime null", "varchar(10) null"});
  script += LookupIndexSection(database, ignore, plan);
  script += TableDescriptionSection(plan);
  AppendLines(script, kHintSqlB);
  script += SynchronizationSection(plan);
  AppendLines(script, kHintSqlMaster);
  return script;
}

}  // namespace tamaril::replication
