"""Replicates client databases with Cyrillic, Greek, CJK and emoji text through the command line:
an export definition switched to Unicode texts must bring every table to the center exactly as the
client holds it, empty text and NULL kept apart, and an archive of a definition left in
Windows-1250 is read in the same import run. An export rule comparing with a Cyrillic constant
selects exactly the rows it names. Arguments: <program> <scratch folder>."""

import os
import shutil
import subprocess
import sys

from transfer_site import Scratch

cli, work = sys.argv[1], sys.argv[2]
site = Scratch(cli, work)
TRACKING = ("rep_Date_Inserted", "rep_Signature_Inserted", "rep_Date_Updated", "rep_Signature_Updated")

SCHEMA = """
CREATE TABLE Cities (Id integer PRIMARY KEY, Name nvarchar(12), Country char(2));
CREATE TABLE People (Id integer PRIMARY KEY, Jmeno varchar(10), CityId integer REFERENCES Cities(Id),
                     Poznamka text);
CREATE TABLE Notes (Id integer PRIMARY KEY, PersonId integer REFERENCES People(Id), Title varchar(4),
                    Body text);
CREATE TABLE Tags (Code varchar(6) PRIMARY KEY, Label nvarchar);
"""

CITIES = [(1, "Москва", "RU"), (2, "Αθήνα", "GR"), (3, "北京市", "CN"), (4, "Luleå", "SE"),
          (5, "São Paulo", "BR"), (6, "Žďár", "CZ"), (7, "", ""), (8, None, None)]
PEOPLE = [(1, "Чайковский", 1, "Пётр Ильич, композитор"), (2, "Рахманинов", 1, "Сергей — пианист"),
          (3, "Ἀριστοτέλης", 2, "φιλόσοφος 🦉"), (4, "李白", 3, "诗人，唐朝"), (5, "Čapek", 6, "Žluťoučký kůň"),
          (6, "", 4, ""), (7, None, 5, None), (8, "Чайковский", 2, "тёзка"), (9, "🎉👍", None, "😀" * 300)]
NOTES = [(1, 1, "🎻🎹🎼🎵", "Лебединое озеро"), (2, 3, "Λόγος", "Ἡ φύσις"), (3, 4, "静夜思", "床前明月光"),
         (4, 5, "", ""), (5, 6, None, None), (6, 9, "a\"b\\", "tab\there\nline")]
TAGS = [("ключ", "значение"), ("鍵", "値"), ("κλειδί", "τιμή"), ("cz", "čeština"), ("e", ""), ("n", None)]

LEGACY = [(1, "Dvořák", 6, "Novosvětská"), (2, "Janáček", None, "Leoš")]


def run(*args, expected=0):
    return site.run(*args, expected=expected).stdout


def tables(db):
    return [row[0] for row in db.execute(
        "SELECT name FROM sqlite_master WHERE type = 'table' AND name NOT LIKE 'rep\\_%' ESCAPE '\\' "
        "AND name <> 'sqlite_sequence' ORDER BY name")]


def content(db, table):
    columns = [row[1] for row in db.execute(f'PRAGMA table_info("{table}")') if row[1] not in TRACKING]
    names = ", ".join(f'"{c}"' for c in columns)
    # typeof() keeps an empty text apart from NULL and from a blob.
    rows = db.execute(f'SELECT {names}, {", ".join(f"typeof({c})" for c in names.split(", "))} '
                      f'FROM "{table}"').fetchall()
    return sorted(rows, key=repr)


def define(signature, client, center, *extra):
    run("defs", "add", "--export", "--signature", signature, "--partner", "Centrum", "--connection",
        site.connection, "--database", client, *extra)
    run("defs", "add", "--import", "--signature", signature, "--partner", "Pobočka", "--connection",
        site.connection, "--database", center)
    run("setup-script", "--export", signature, "--apply", "--yes", "--add-rowguid")
    run("setup-script", "--import", signature, "--apply", "--yes", "--add-rowguid")
    with site.database(client) as db:
        db.execute("INSERT INTO rep_DEFEXPORT (Signature, TABLENAME, ExportRule, LISTORDER) "
                   "SELECT ?, TABLENAME, 'ANO', LISTORDER FROM rep_TBLDESC", (signature,))
    with site.database(center) as db:
        db.execute("INSERT INTO rep_DEFIMPORT (Signature, TABLENAME, AppendRule, UpdateRule, DeleteRule, "
                   "LISTORDER) SELECT ?, TABLENAME, 'ANO', 'ANO', 'ANO', LISTORDER FROM rep_TBLDESC",
                   (signature,))


def compare(client, center, when):
    with site.database(client) as source, site.database(center) as target:
        names = tables(source)
        if names != tables(target):
            sys.exit(f"{when}: the tables differ")
        for table in names:
            expected, arrived = content(source, table), content(target, table)
            if expected != arrived:
                wrong = [row for row in expected if row not in arrived][:3]
                sys.exit(f"{when}: {table} differs at the center; e.g. {wrong} arrived as "
                         f"{[row for row in arrived if row not in expected][:3]}")


def archive(signature):
    return os.path.join(site.exports, signature + ".ZR2")


for name in ("intl", "center", "legacy", "center_legacy"):
    with site.database(name) as db:
        db.executescript(SCHEMA)
with site.database("intl") as db:
    db.executemany("INSERT INTO Cities VALUES (?, ?, ?)", CITIES)
    db.executemany("INSERT INTO People VALUES (?, ?, ?, ?)", PEOPLE)
    db.executemany("INSERT INTO Notes VALUES (?, ?, ?, ?)", NOTES)
    db.executemany("INSERT INTO Tags VALUES (?, ?)", TAGS)
with site.database("legacy") as db:
    db.executemany("INSERT INTO Cities VALUES (?, ?, ?)", [CITIES[5]])
    db.executemany("INSERT INTO People VALUES (?, ?, ?, ?)", LEGACY)

run("settings", "--set", "IMPFLDR=" + site.imports)
define("INTL", "intl", "center", "--text", "unicode")
define("LEG", "legacy", "center_legacy")
shown = run("defs", "show", "--export", "--signature", "INTL")
if "Texty=unicode\n" not in shown:
    sys.exit(f"defs show does not name the Unicode form:\n{shown}")

# Both archives go to the center and are imported in one run.
run("export", "INTL")
run("export", "LEG")
with open(archive("INTL"), "rb") as f:
    import zlib
    head = zlib.decompressobj().decompress(f.read())[:11]
if head != b"\x0a^SQLKELM^U":
    sys.exit(f"the Unicode archive starts with {head!r}")
for signature in ("INTL", "LEG"):
    shutil.copy(archive(signature), site.imports)
out = run("import", "--backup", "no")
for signature in ("INTL", "LEG"):
    os.remove(os.path.join(site.imports, signature + ".ZR2"))
compare("intl", "center", "Unicode transfer")
compare("legacy", "center_legacy", "Windows-1250 transfer in the same run")

# Changes travel too, also to an empty text and back from NULL.
with site.database("intl") as db:
    db.execute("UPDATE People SET Jmeno = 'Мусоргский', Poznamka = NULL WHERE Id = 2")
    db.execute("UPDATE People SET Poznamka = '' WHERE Id = 3")
    db.execute("UPDATE People SET Poznamka = 'ещё' WHERE Id = 7")
    db.execute("DELETE FROM Notes WHERE Id = 3")
run("export", "INTL")
shutil.copy(archive("INTL"), site.imports)
run("import", "--backup", "no")
compare("intl", "center", "Unicode changes")

# The archive dump shows the texts as they are.
dump = run("archive", "dump", archive("INTL"), "--rows")
if "texty: Unicode (UTF-8)" not in dump or '"Мусоргский"' not in dump:
    sys.exit(f"the dump does not show the Unicode texts:\n{dump}")

# An export rule with a Cyrillic constant selects exactly the rows it names: two of nine, not every
# name of ten Cyrillic letters (a Windows-1250 rule would see "??????????" in all of them).
with site.database("intl") as db:
    db.execute("UPDATE rep_DEFEXPORT SET ExportRule = 'Jmeno = \"Чайковский\"' WHERE TABLENAME = 'People'")
    db.execute("UPDATE rep_DEFEXPORT SET ExportRule = NULL WHERE TABLENAME <> 'People'")
    db.execute("UPDATE People SET Jmeno = 'Рахманинов' WHERE Id = 2")
run("export", "INTL")
dump = run("archive", "dump", archive("INTL"), "--rows")
chosen = sorted(line.strip() for line in dump.splitlines() if line.strip().startswith("Jmeno="))
if chosen != ['Jmeno="Чайковский"', 'Jmeno="Чайковский"']:
    sys.exit(f"the rule chose {chosen}")

# Switched back, the definition writes Windows-1250 again and refuses what it cannot carry.
run("defs", "edit", "--export", "--signature", "INTL", "--text", "1250")
refused = site.run("export", "INTL", expected=2)
if "--text unicode" not in refused.stdout + refused.stderr:
    sys.exit(f"the refusal does not name the switch:\n{refused.stdout}{refused.stderr}")
print("1 passed, 0 failed")
