/* ************************************************************************ */
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

/* ------------------------------------------------------------------ */
/* DELETE Triggery pro plneni tabulky identifikujici vymazane zaznamy */
/* ------------------------------------------------------------------ */
IF EXISTS (SELECT name FROM sysobjects 
 WHERE name = 'rep_tr_Del_Customers' AND type = 'TR') 
 DROP TRIGGER rep_tr_Del_Customers
 GO 
CREATE TRIGGER rep_tr_Del_Customers ON Customers FOR DELETE AS
 INSERT INTO rep_DELETED (TABLENAME,RECORDGUID)
 select 'Customers',RG from Deleted
 GO 
IF EXISTS (SELECT name FROM sysobjects 
 WHERE name = 'rep_tr_Del_Items' AND type = 'TR') 
 DROP TRIGGER rep_tr_Del_Items
 GO 
CREATE TRIGGER rep_tr_Del_Items ON Items FOR DELETE AS
 INSERT INTO rep_DELETED (TABLENAME,RECORDID)
 select 'Items',Id from Deleted
 GO 
IF EXISTS (SELECT name FROM sysobjects 
 WHERE name = 'rep_tr_Del_Bob''s Notes' AND type = 'TR') 
 DROP TRIGGER [rep_tr_Del_Bob's Notes]
 GO 
CREATE TRIGGER [rep_tr_Del_Bob's Notes] ON [Bob's Notes] FOR DELETE AS
 INSERT INTO rep_DELETED (TABLENAME,RECORDGUID,RECORDID)
 select 'Bob''s Notes',RG, [Note Id] from Deleted
 GO 
IF EXISTS (SELECT name FROM sysobjects 
 WHERE name = 'rep_tr_Del_Èeník' AND type = 'TR') 
 DROP TRIGGER [rep_tr_Del_Èeník]
 GO 
CREATE TRIGGER [rep_tr_Del_Èeník] ON [Èeník] FOR DELETE AS
 INSERT INTO rep_DELETED (TABLENAME,RECORDID)
 select 'Èeník',Id from Deleted
 GO 
/* ------------------------------------------------------------------ */
/* Zalozeni a administrace doplnkovych poli replikace                 */
/* ------------------------------------------------------------------ */
exec sp_columns @table_name='Customers',@column_name='rep_Date_Inserted'
if (@@rowcount=0) BEGIN
  ALTER TABLE Customers ADD rep_Date_Inserted datetime null
END
GO
exec sp_columns @table_name='Customers',@column_name='rep_Signature_Inserted'
if (@@rowcount=0) BEGIN
  ALTER TABLE Customers ADD rep_Signature_Inserted varchar(10) null
END
GO
exec sp_columns @table_name='Customers',@column_name='rep_Date_Updated'
if (@@rowcount=0) BEGIN
  ALTER TABLE Customers ADD rep_Date_Updated datetime null
END
GO
exec sp_columns @table_name='Customers',@column_name='rep_Signature_Updated'
if (@@rowcount=0) BEGIN
  ALTER TABLE Customers ADD rep_Signature_Updated varchar(10) null
END
GO
IF EXISTS (SELECT name FROM sysobjects 
 WHERE name = 'rep_tr_Ins_Customers' AND type = 'TR') 
 DROP TRIGGER rep_tr_Ins_Customers
 GO 
CREATE TRIGGER rep_tr_Ins_Customers ON Customers FOR INSERT AS
 UPDATE Customers set rep_Date_Inserted=NULL,rep_Signature_Inserted=NULL,rep_Date_Updated=NULL,rep_Signature_Updated=NULL
 FROM Customers INNER JOIN Inserted ON Customers.Code=Inserted.Code
 GO 
exec sp_columns @table_name='Items',@column_name='rep_Date_Inserted'
if (@@rowcount=0) BEGIN
  ALTER TABLE Items ADD rep_Date_Inserted datetime null
END
GO
exec sp_columns @table_name='Items',@column_name='rep_Signature_Inserted'
if (@@rowcount=0) BEGIN
  ALTER TABLE Items ADD rep_Signature_Inserted varchar(10) null
END
GO
exec sp_columns @table_name='Items',@column_name='rep_Date_Updated'
if (@@rowcount=0) BEGIN
  ALTER TABLE Items ADD rep_Date_Updated datetime null
END
GO
exec sp_columns @table_name='Items',@column_name='rep_Signature_Updated'
if (@@rowcount=0) BEGIN
  ALTER TABLE Items ADD rep_Signature_Updated varchar(10) null
END
GO
IF EXISTS (SELECT name FROM sysobjects 
 WHERE name = 'rep_tr_Ins_Items' AND type = 'TR') 
 DROP TRIGGER rep_tr_Ins_Items
 GO 
CREATE TRIGGER rep_tr_Ins_Items ON Items FOR INSERT AS
 UPDATE Items set rep_Date_Inserted=NULL,rep_Signature_Inserted=NULL,rep_Date_Updated=NULL,rep_Signature_Updated=NULL
 FROM Items INNER JOIN Inserted ON Items.Id=Inserted.Id
 GO 
exec sp_columns @table_name='Bob''s Notes',@column_name='rep_Date_Inserted'
if (@@rowcount=0) BEGIN
  ALTER TABLE [Bob's Notes] ADD rep_Date_Inserted datetime null
END
GO
exec sp_columns @table_name='Bob''s Notes',@column_name='rep_Signature_Inserted'
if (@@rowcount=0) BEGIN
  ALTER TABLE [Bob's Notes] ADD rep_Signature_Inserted varchar(10) null
END
GO
exec sp_columns @table_name='Bob''s Notes',@column_name='rep_Date_Updated'
if (@@rowcount=0) BEGIN
  ALTER TABLE [Bob's Notes] ADD rep_Date_Updated datetime null
END
GO
exec sp_columns @table_name='Bob''s Notes',@column_name='rep_Signature_Updated'
if (@@rowcount=0) BEGIN
  ALTER TABLE [Bob's Notes] ADD rep_Signature_Updated varchar(10) null
END
GO
IF EXISTS (SELECT name FROM sysobjects 
 WHERE name = 'rep_tr_Ins_Bob''s Notes' AND type = 'TR') 
 DROP TRIGGER [rep_tr_Ins_Bob's Notes]
 GO 
CREATE TRIGGER [rep_tr_Ins_Bob's Notes] ON [Bob's Notes] FOR INSERT AS
 UPDATE [Bob's Notes] set rep_Date_Inserted=NULL,rep_Signature_Inserted=NULL,rep_Date_Updated=NULL,rep_Signature_Updated=NULL
 FROM [Bob's Notes] INNER JOIN Inserted ON [Bob's Notes].[Note Id]=Inserted.[Note Id]
 GO 
exec sp_columns @table_name='Lines',@column_name='rep_Date_Inserted'
if (@@rowcount=0) BEGIN
  ALTER TABLE Lines ADD rep_Date_Inserted datetime null
END
GO
exec sp_columns @table_name='Lines',@column_name='rep_Signature_Inserted'
if (@@rowcount=0) BEGIN
  ALTER TABLE Lines ADD rep_Signature_Inserted varchar(10) null
END
GO
exec sp_columns @table_name='Lines',@column_name='rep_Date_Updated'
if (@@rowcount=0) BEGIN
  ALTER TABLE Lines ADD rep_Date_Updated datetime null
END
GO
exec sp_columns @table_name='Lines',@column_name='rep_Signature_Updated'
if (@@rowcount=0) BEGIN
  ALTER TABLE Lines ADD rep_Signature_Updated varchar(10) null
END
GO
IF EXISTS (SELECT name FROM sysobjects 
 WHERE name = 'rep_tr_Ins_Lines' AND type = 'TR') 
 DROP TRIGGER rep_tr_Ins_Lines
 GO 
CREATE TRIGGER rep_tr_Ins_Lines ON Lines FOR INSERT AS
 UPDATE Lines set rep_Date_Inserted=NULL,rep_Signature_Inserted=NULL,rep_Date_Updated=NULL,rep_Signature_Updated=NULL
 FROM Lines INNER JOIN Inserted ON Lines.ItemId=Inserted.ItemId and Lines.No=Inserted.No
 GO 
exec sp_columns @table_name='Èeník',@column_name='rep_Date_Inserted'
if (@@rowcount=0) BEGIN
  ALTER TABLE [Èeník] ADD rep_Date_Inserted datetime null
END
GO
exec sp_columns @table_name='Èeník',@column_name='rep_Signature_Inserted'
if (@@rowcount=0) BEGIN
  ALTER TABLE [Èeník] ADD rep_Signature_Inserted varchar(10) null
END
GO
exec sp_columns @table_name='Èeník',@column_name='rep_Date_Updated'
if (@@rowcount=0) BEGIN
  ALTER TABLE [Èeník] ADD rep_Date_Updated datetime null
END
GO
exec sp_columns @table_name='Èeník',@column_name='rep_Signature_Updated'
if (@@rowcount=0) BEGIN
  ALTER TABLE [Èeník] ADD rep_Signature_Updated varchar(10) null
END
GO
IF EXISTS (SELECT name FROM sysobjects 
 WHERE name = 'rep_tr_Ins_Èeník' AND type = 'TR') 
 DROP TRIGGER [rep_tr_Ins_Èeník]
 GO 
CREATE TRIGGER [rep_tr_Ins_Èeník] ON [Èeník] FOR INSERT AS
 UPDATE [Èeník] set rep_Date_Inserted=NULL,rep_Signature_Inserted=NULL,rep_Date_Updated=NULL,rep_Signature_Updated=NULL
 FROM [Èeník] INNER JOIN Inserted ON [Èeník].Id=Inserted.Id
 GO 
/* ------------------------------------------------------------------ */
/* Indexy pro vyhledavani radku pri importu                           */
/* ------------------------------------------------------------------ */
/* vyhledání øádku podle RowGuid */
IF NOT EXISTS (SELECT name FROM sysindexes
               WHERE name = 'rep_ux_Customers_RG' AND id = OBJECT_ID('Customers'))
  CREATE UNIQUE INDEX rep_ux_Customers_RG ON Customers (RG)
GO
/* vyhledání øádku podle RowGuid */
IF NOT EXISTS (SELECT name FROM sysindexes
               WHERE name = 'rep_ux_Bob''s Notes_RG' AND id = OBJECT_ID('[Bob''s Notes]'))
  CREATE UNIQUE INDEX [rep_ux_Bob's Notes_RG] ON [Bob's Notes] (RG)
GO

/* Tabulka prirazujici tabulkam srozumitelny popis */
IF NOT EXISTS (SELECT name FROM sysobjects
               WHERE name = 'rep_TBLDESC' AND type = 'U') BEGIN
  CREATE TABLE rep_TBLDESC
  (
   TABLENAME  VARCHAR(20) NOT NULL,
   TABLEDESC  NVARCHAR(50) NOT NULL,
   LISTORDER  INT NOT NULL, /* poradi v seznamu ktery uvidi uzivatel */
   DefIgnoreRowGuidField bit not null default 0,
          /* Defaultni hodnota priznaku "ignorovat Row GUID pole" */
          /* Pokud je tento priznak nastaven, zaznamy jsou identifikovany */
          /* podle hodnoty primarniho klice. Pokud tabulka nema RowGUID field, */
          /* hodnota (Def)IgnoreRowGuidField je ignorovana */
   DefExportRule TEXT,      /* Defaultni logicky vyraz pro podminku exportu. */
   DefAppendRule TEXT,      /* Defaultni logicky vyraz pro podminku pripojeni */
   DefUpdateRule TEXT,      /* Defaultni logicky vyraz pro podminku aktualizace */
   DefUpdateFieldRule TEXT, /* Defaultni logicky vyraz pro podminku aktualizace pole */
   DefDeleteRule TEXT,      /* Defaultni logicky vyraz pro podminku odstraneni zaznamu */
   CONSTRAINT rep_TBLDESC_PK PRIMARY KEY CLUSTERED (TABLENAME)
  )
  /* Vychozi naplneni tabulky: */
  /* A. "DELETED" table        */
   Insert into rep_TBLDESC (TABLENAME,TABLEDESC,LISTORDER) VALUES 
   ('rep_DELETED',N'Tabulka s identifikací vymazaných záznamù',0)
END

GO

  /* B. ostatní evidence  */
IF NOT EXISTS (SELECT TABLENAME FROM rep_TBLDESC WHERE TABLENAME = 'Customers')
   Insert into rep_TBLDESC (TABLENAME,TABLEDESC,LISTORDER) VALUES 
   ('Customers',N'Popis tabulky Customers',2)
UPDATE rep_TBLDESC SET LISTORDER = 2 WHERE TABLENAME = 'Customers'
IF NOT EXISTS (SELECT TABLENAME FROM rep_TBLDESC WHERE TABLENAME = 'Items')
   Insert into rep_TBLDESC (TABLENAME,TABLEDESC,LISTORDER) VALUES 
   ('Items',N'Popis tabulky Items',4)
UPDATE rep_TBLDESC SET LISTORDER = 4 WHERE TABLENAME = 'Items'
IF NOT EXISTS (SELECT TABLENAME FROM rep_TBLDESC WHERE TABLENAME = 'Bob''s Notes')
   Insert into rep_TBLDESC (TABLENAME,TABLEDESC,LISTORDER) VALUES 
   ('Bob''s Notes',N'Popis tabulky Bob''s Notes',5)
UPDATE rep_TBLDESC SET LISTORDER = 5 WHERE TABLENAME = 'Bob''s Notes'
IF NOT EXISTS (SELECT TABLENAME FROM rep_TBLDESC WHERE TABLENAME = 'Lines')
   Insert into rep_TBLDESC (TABLENAME,TABLEDESC,LISTORDER) VALUES 
   ('Lines',N'Popis tabulky Lines',6)
UPDATE rep_TBLDESC SET LISTORDER = 6 WHERE TABLENAME = 'Lines'
IF NOT EXISTS (SELECT TABLENAME FROM rep_TBLDESC WHERE TABLENAME = 'Èeník')
   Insert into rep_TBLDESC (TABLENAME,TABLEDESC,LISTORDER) VALUES 
   ('Èeník',N'Popis tabulky Èeník',7)
UPDATE rep_TBLDESC SET LISTORDER = 7 WHERE TABLENAME = 'Èeník'
GO

/* Pravidla exportu: jeden radek na identifikaci prenosu a tabulku */
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

/* ------------------------------------------------------------------ */
/* Evidence replikace podle soucasnych tabulek databaze               */
/* ------------------------------------------------------------------ */
/* Tabulky, ktere v databazi uz nejsou */
DELETE FROM rep_DEFEXPORT WHERE TABLENAME <> 'rep_DELETED'
  AND NOT EXISTS (SELECT name FROM sysobjects WHERE name = rep_DEFEXPORT.TABLENAME AND type = 'U')
DELETE FROM rep_DEFIMPORT WHERE TABLENAME <> 'rep_DELETED'
  AND NOT EXISTS (SELECT name FROM sysobjects WHERE name = rep_DEFIMPORT.TABLENAME AND type = 'U')
DELETE FROM rep_XPORTLOGDETAIL WHERE TABLENAME <> 'rep_DELETED'
  AND NOT EXISTS (SELECT name FROM sysobjects WHERE name = rep_XPORTLOGDETAIL.TABLENAME AND type = 'U')
DELETE FROM rep_IMPORTLOGDETAIL WHERE TABLENAME <> 'rep_DELETED'
  AND NOT EXISTS (SELECT name FROM sysobjects WHERE name = rep_IMPORTLOGDETAIL.TABLENAME AND type = 'U')
DELETE FROM rep_TBLDESC WHERE TABLENAME <> 'rep_DELETED'
  AND NOT EXISTS (SELECT name FROM sysobjects WHERE name = rep_TBLDESC.TABLENAME AND type = 'U')
GO
/* Poradi tabulek v pravidlech */
UPDATE rep_DEFEXPORT SET LISTORDER = 2 WHERE TABLENAME = 'Customers'
UPDATE rep_DEFIMPORT SET LISTORDER = 2 WHERE TABLENAME = 'Customers'
UPDATE rep_DEFEXPORT SET LISTORDER = 4 WHERE TABLENAME = 'Items'
UPDATE rep_DEFIMPORT SET LISTORDER = 4 WHERE TABLENAME = 'Items'
UPDATE rep_DEFEXPORT SET LISTORDER = 5 WHERE TABLENAME = 'Bob''s Notes'
UPDATE rep_DEFIMPORT SET LISTORDER = 5 WHERE TABLENAME = 'Bob''s Notes'
UPDATE rep_DEFEXPORT SET LISTORDER = 6 WHERE TABLENAME = 'Lines'
UPDATE rep_DEFIMPORT SET LISTORDER = 6 WHERE TABLENAME = 'Lines'
UPDATE rep_DEFEXPORT SET LISTORDER = 7 WHERE TABLENAME = 'Èeník'
UPDATE rep_DEFIMPORT SET LISTORDER = 7 WHERE TABLENAME = 'Èeník'
GO
/* Nove tabulky ve vsech definicich, bez pravidel */
INSERT INTO rep_DEFEXPORT (Signature, TABLENAME, LISTORDER)
  SELECT DISTINCT d.Signature, t.TABLENAME, t.LISTORDER
  FROM rep_DEFEXPORT d CROSS JOIN rep_TBLDESC t
  WHERE NOT EXISTS (SELECT * FROM rep_DEFEXPORT e
                    WHERE e.Signature = d.Signature AND e.TABLENAME = t.TABLENAME)
GO
INSERT INTO rep_DEFIMPORT (Signature, TABLENAME, IgnoreRowGuidField, LISTORDER)
  SELECT DISTINCT d.Signature, t.TABLENAME, 0, t.LISTORDER
  FROM rep_DEFIMPORT d CROSS JOIN rep_TBLDESC t
  WHERE NOT EXISTS (SELECT * FROM rep_DEFIMPORT e
                    WHERE e.Signature = d.Signature AND e.TABLENAME = t.TABLENAME)
GO

/* ************************************************************************ */
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
