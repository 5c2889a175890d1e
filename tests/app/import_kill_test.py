"""Kills "tamaril-cli import" with SIGKILL at growing delays and checks after each kill that the
center holds whole archives only, that its database is sound, and that the next run is not
blocked by what the killed one left. Arguments: <program> <scratch folder>."""

import os
import shutil
import signal
import sqlite3
import subprocess
import sys
import time

cli, work = sys.argv[1], sys.argv[2]
shutil.rmtree(work, ignore_errors=True)
for folder in ("user", "data", "home", "imports"):
    os.makedirs(os.path.join(work, folder))
env = dict(os.environ, HOME=os.path.join(work, "user"))
home = os.path.join(work, "home")
imports = os.path.join(work, "imports")
exports = os.path.join(home, "EXPORTS")
connection = "Provider=SQLite;Data Source=" + os.path.join(work, "data")


def run(*args, expected=0):
    # A session of its own: no controlling terminal to ask on.
    done = subprocess.run([cli, "--home", home, *args], env=env, capture_output=True, text=True, check=False,
                          start_new_session=True)
    if done.returncode != expected:
        sys.exit(f"{args} ended with {done.returncode}:\n{done.stdout}{done.stderr}")
    return done.stdout


def database(name):
    return sqlite3.connect(os.path.join(work, "data", name + ".db"))


SCHEMA = ("CREATE TABLE Customers (Id integer PRIMARY KEY, Name varchar(40));"
          "CREATE TABLE Orders (Id integer PRIMARY KEY, CustomerId integer REFERENCES Customers(Id),"
          " Amount integer);")
ROWS = 3000


def fill(shop, first, last):
    shop.executemany("INSERT INTO Customers (Id, Name) VALUES (?, ?)", ((i, f"zákazník {i}") for i in range(first, last)))
    shop.executemany("INSERT INTO Orders (Id, CustomerId, Amount) VALUES (?, ?, ?)", ((i, i, i % 97) for i in range(first, last)))
    shop.commit()


for name in ("shop", "center"):
    with database(name) as db:
        db.executescript(SCHEMA)
run("settings", "--set", "IMPFLDR=" + imports)
run("defs", "add", "--export", "--signature", "SHOP", "--partner", "Centrum", "--connection", connection,
    "--database", "shop")
run("defs", "add", "--import", "--signature", "SHOP", "--partner", "Pobocka", "--connection", connection,
    "--database", "center")
run("setup-script", "--export", "SHOP", "--apply", "--yes")
run("setup-script", "--import", "SHOP", "--apply", "--yes")
with database("shop") as shop:
    shop.executescript("INSERT INTO rep_DEFEXPORT (Signature, TABLENAME, ExportRule, LISTORDER) VALUES"
                       " ('SHOP', 'Customers', 'ANO', 1), ('SHOP', 'Orders', 'ANO', 2);")
with database("center") as center:
    center.executescript("INSERT INTO rep_DEFIMPORT (Signature, TABLENAME, AppendRule, LISTORDER) VALUES"
                         " ('SHOP', 'Customers', 'ANO', 1), ('SHOP', 'Orders', 'ANO', 2);")

# Two archives: the second holds the rows of the first and as many again.
with database("shop") as shop:
    fill(shop, 1, ROWS + 1)
run("export", "SHOP")
shutil.copy(os.path.join(exports, "SHOP.ZR2"), os.path.join(imports, "A.ZR2"))
with database("shop") as shop:
    fill(shop, ROWS + 1, 2 * ROWS + 1)
run("export", "SHOP")
shutil.copy(os.path.join(exports, "SHOP.ZR2"), os.path.join(imports, "B.ZR2"))


def state():
    with database("center") as center:
        check = center.execute("PRAGMA integrity_check").fetchall()
        if check != [("ok",)]:
            sys.exit(f"the center is damaged: {check}")
        return (center.execute("SELECT Id, Name FROM Customers ORDER BY Id").fetchall(),
                center.execute("SELECT Id, CustomerId, Amount FROM Orders ORDER BY Id").fetchall())


def expected(last):
    ids = range(1, last + 1)
    return ([(i, f"zákazník {i}") for i in ids], [(i, i, i % 97) for i in ids])


known = {"nothing": expected(0), "A": expected(ROWS), "A and B": expected(2 * ROWS)}
seen = set()
delay = 0.02
command = [cli, "--home", home, "import", "--backup", "no"]
while delay < 8:
    child = subprocess.Popen(command, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                             start_new_session=True)
    time.sleep(delay)
    finished = child.poll() is not None
    if not finished:
        child.send_signal(signal.SIGKILL)
    child.wait()
    now = state()
    name = next((k for k, v in known.items() if v == now), None)
    if name is None:
        sys.exit(f"after a kill at {delay:.2f} s the center holds part of an archive: "
                 f"{len(now[0])} customers, {len(now[1])} orders")
    seen.add(name)
    if finished:
        break
    delay *= 1.6

# A final run is not blocked by a lock a killed run left, and ends with both archives; it finds
# them imported already and refuses them again (exit 3: a warning, not an error).
out = run("import", "--backup", "no", expected=3)
if state() != known["A and B"]:
    sys.exit("the final import did not leave both archives:\n" + out)
if out.count("už byl importován") != 2:
    sys.exit("the final import did not refuse both archives as imported:\n" + out)
print(f"states seen after kills: {sorted(seen)}")
print("1 passed, 0 failed")
