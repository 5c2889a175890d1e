"""A schema that changes after the first transfer: at both sites a table is added, one is dropped and
one appears whose name the rep_ tables cannot hold. The setup is run again through the command
line; the new table shows up under the existing definitions, a rule set on it carries its rows,
the dropped table leaves rep_TBLDESC, check names the long name, and the database keeps
exporting. Arguments: <program> <scratch folder>."""

import os
import shutil
import sys

from transfer_site import Scratch

cli, work = sys.argv[1], sys.argv[2]
site = Scratch(cli, work)
imports, exports, connection = site.imports, site.exports, site.connection
database = site.database
LONG = "Objednavky_z_pobocek_25"  # 23 characters: more than the 20 the rep_ tables hold


def run(*args, expected=0):
    return site.run(*args, expected=expected).stdout


def both(sql):
    for name in ("shop", "center"):
        with database(name) as db:
            db.executescript(sql)


def transfer():
    run("export", "S1")
    shutil.copy(os.path.join(exports, "S1.ZR2"), os.path.join(imports, "S1.ZR2"))
    out = run("import", "--backup", "no")
    os.remove(os.path.join(imports, "S1.ZR2"))
    return out


both("CREATE TABLE Customers (Id integer PRIMARY KEY, Name varchar(40));"
     "CREATE TABLE Notes (Id integer PRIMARY KEY, Text varchar(40));")
run("settings", "--set", "IMPFLDR=" + imports)
run("defs", "add", "--export", "--signature", "S1", "--partner", "Centrum", "--connection", connection,
    "--database", "shop")
run("defs", "add", "--import", "--signature", "S1", "--partner", "Pobocka", "--connection", connection,
    "--database", "center")
run("setup-script", "--export", "S1", "--apply", "--yes")
run("setup-script", "--import", "S1", "--apply", "--yes")
run("rules", "--export", "S1", "--table", "Customers", "--set", "ExportRule=ANO")
run("rules", "--import", "S1", "--table", "Customers", "--set", "AppendRule=ANO")
with database("shop") as shop:
    shop.execute("INSERT INTO Customers (Id, Name) VALUES (1, 'Alfa'), (2, 'Beta')")
transfer()

# The schema changes at both sites; until the setup runs again the dropped table stops the runs.
both("CREATE TABLE Late (Id integer PRIMARY KEY, CustomerId integer REFERENCES Customers (Id), Qty integer);"
     "DROP TABLE Notes;"
     f"CREATE TABLE {LONG} (Id integer PRIMARY KEY);")
run("check", "--export", "S1", expected=1)
run("setup-script", "--export", "S1", "--apply", "--yes")
run("setup-script", "--import", "S1", "--apply", "--yes")

out = run("check", "--export", "S1")
if not out.startswith("připraveno\n") or LONG not in out:
    sys.exit("check does not name the long name:\n" + out)
listing = run("rules", "--export", "S1")
if "TABULKA Late " not in listing or "TABULKA Notes " in listing:
    sys.exit("the rules of the existing definition do not follow the schema:\n" + listing)
for name in ("shop", "center"):
    with database(name) as db:
        described = {row[0] for row in db.execute("SELECT TABLENAME FROM rep_TBLDESC")}
        if "Notes" in described or "Late" not in described:
            sys.exit(f"{name}: rep_TBLDESC holds {sorted(described)}")

run("rules", "--export", "S1", "--table", "Late", "--set", "ExportRule=ANO")
run("rules", "--import", "S1", "--table", "Late", "--set", "AppendRule=ANO")
with database("shop") as shop:
    shop.execute("INSERT INTO Late (Id, CustomerId, Qty) VALUES (1, 1, 5), (2, 2, 7)")
    shop.execute("INSERT INTO Customers (Id, Name) VALUES (3, 'Gama')")
transfer()
with database("center") as center:
    late = center.execute("SELECT Id, CustomerId, Qty FROM Late ORDER BY Id").fetchall()
    customers = center.execute("SELECT COUNT(*) FROM Customers").fetchone()[0]
if late != [(1, 1, 5), (2, 2, 7)] or customers != 3:
    sys.exit(f"after the second setup the center holds Late {late} and {customers} customers")
print("1 passed, 0 failed")
