"""A shop that exports to a center, both SQLite databases in a scratch folder, driven through
tamaril-cli; shared by the end-to-end tests of this folder. The shop's tables are Customers and
Orders (its detail); both export and import every row."""

import os
import shutil
import sqlite3
import subprocess
import sys
import zlib

SCHEMA = ("CREATE TABLE Customers (Id integer PRIMARY KEY, Name varchar(40));"
          "CREATE TABLE Orders (Id integer PRIMARY KEY, CustomerId integer REFERENCES Customers(Id),"
          " Amount integer);")


class Scratch:
    """A scratch folder with a program folder ("home"), a user's home, an import folder and a
    folder of SQLite databases, and tamaril-cli run against them."""

    def __init__(self, cli, work):
        self.cli, self.work = cli, work
        shutil.rmtree(work, ignore_errors=True)
        for folder in ("user", "data", "home", "imports"):
            os.makedirs(os.path.join(work, folder))
        self.env = dict(os.environ, HOME=os.path.join(work, "user"))
        # The leak checker of a sanitizer build stops the world with ptrace, which a program run
        # under strace cannot do: it would end every traced run with an error of its own.
        asan = self.env.get("ASAN_OPTIONS", "")
        self.env["ASAN_OPTIONS"] = (asan + ":" if asan else "") + "detect_leaks=0"
        self.home = os.path.join(work, "home")
        self.imports = os.path.join(work, "imports")
        self.exports = os.path.join(self.home, "EXPORTS")
        self.data = os.path.join(work, "data")
        self.connection = "Provider=SQLite;Data Source=" + self.data

    def command(self, *args):
        return [self.cli, "--home", self.home, *args]

    def run(self, *args, expected=0, wrapper=()):
        # A session of its own: no controlling terminal to ask on.
        done = subprocess.run([*wrapper, *self.command(*args)], env=self.env, capture_output=True, text=True,
                              check=False, start_new_session=True)
        if expected is not None and done.returncode != expected:
            sys.exit(f"{args} ended with {done.returncode}:\n{done.stdout}{done.stderr}")
        return done

    def database(self, name):
        return sqlite3.connect(os.path.join(self.data, name + ".db"))


class Site(Scratch):
    def __init__(self, cli, work):
        super().__init__(cli, work)
        for name in ("shop", "center"):
            with self.database(name) as db:
                db.executescript(SCHEMA)
        self.run("settings", "--set", "IMPFLDR=" + self.imports)
        self.run("defs", "add", "--export", "--signature", "SHOP", "--partner", "Centrum", "--connection",
                 self.connection, "--database", "shop")
        self.run("defs", "add", "--import", "--signature", "SHOP", "--partner", "Pobocka", "--connection",
                 self.connection, "--database", "center")
        self.run("setup-script", "--export", "SHOP", "--apply", "--yes")
        self.run("setup-script", "--import", "SHOP", "--apply", "--yes")
        with self.database("shop") as shop:
            shop.executescript("INSERT INTO rep_DEFEXPORT (Signature, TABLENAME, ExportRule, LISTORDER) VALUES"
                               " ('SHOP', 'rep_DELETED', 'ANO', 0), ('SHOP', 'Customers', 'ANO', 1),"
                               " ('SHOP', 'Orders', 'ANO', 2);")
        with self.database("center") as center:
            center.executescript("INSERT INTO rep_DEFIMPORT (Signature, TABLENAME, AppendRule, UpdateRule,"
                                 " DeleteRule, LISTORDER) VALUES ('SHOP', 'Customers', 'ANO', 'ANO', 'ANO', 1),"
                                 " ('SHOP', 'Orders', 'ANO', 'ANO', 'ANO', 2);")

    def fill(self, first, last):
        """Adds customers and orders first..last-1 to the shop."""
        with self.database("shop") as shop:
            shop.executemany("INSERT INTO Customers (Id, Name) VALUES (?, ?)",
                             ((i, f"zákazník {i}") for i in range(first, last)))
            shop.executemany("INSERT INTO Orders (Id, CustomerId, Amount) VALUES (?, ?, ?)",
                             ((i, i, i % 97) for i in range(first, last)))

    def first_transfer_then_changes(self, imported_as):
        """Carries customers and orders 1..300 to the center (the archive imported as `imported_as`,
        then taken out of the import folder), then adds, changes and deletes rows at the shop for the
        next export. Returns the first archive's bytes, still in the export folder."""
        self.fill(1, 301)
        self.run("export", "SHOP")
        shutil.copy(self.export_file("SHOP.ZR2"), os.path.join(self.imports, imported_as))
        self.run("import", "--backup", "no")
        os.remove(os.path.join(self.imports, imported_as))
        self.fill(301, 601)
        with self.database("shop") as shop:
            shop.execute("UPDATE Customers SET Name = 'změněn ' || Id WHERE Id % 10 = 0")
            shop.execute("DELETE FROM Orders WHERE Id % 7 = 0")
        with open(self.export_file("SHOP.ZR2"), "rb") as file:
            return file.read()

    def rows(self, name):
        with self.database(name) as db:
            check = db.execute("PRAGMA integrity_check").fetchall()
            if check != [("ok",)]:
                sys.exit(f"{name} is damaged: {check}")
            return (db.execute("SELECT Id, Name FROM Customers ORDER BY Id").fetchall(),
                    db.execute("SELECT Id, CustomerId, Amount FROM Orders ORDER BY Id").fetchall())

    def logged(self):
        """The highest EXPORTNO of the shop's export log, 0 when there is none."""
        with self.database("shop") as shop:
            return shop.execute("SELECT coalesce(max(EXPORTNO), 0) FROM rep_XPORTLOG").fetchone()[0]

    def export_files(self):
        return sorted(os.listdir(self.exports)) if os.path.isdir(self.exports) else []

    def export_file(self, name):
        return os.path.join(self.exports, name)


def archive_number(path):
    """The EXPORTNO of a complete archive file; None when the file is cut or damaged."""
    with open(path, "rb") as file:
        data = file.read()
    inflater = zlib.decompressobj()
    try:
        content = inflater.decompress(data)
    except zlib.error:
        return None
    if not inflater.eof or inflater.unused_data or len(content) < 34 or content[-1] != 0xF1:
        return None
    return int.from_bytes(content[22:26], "little", signed=True)


def snapshot(paths, into):
    """Copies files and folders (those that exist) into the folder `into`."""
    shutil.rmtree(into, ignore_errors=True)
    os.makedirs(into)
    for index, path in enumerate(paths):
        target = os.path.join(into, str(index))
        if os.path.isdir(path):
            shutil.copytree(path, target)
        elif os.path.exists(path):
            shutil.copy2(path, target)


def restore(paths, source):
    """Puts the files and folders `snapshot` saved back, removing what came since."""
    for index, path in enumerate(paths):
        saved = os.path.join(source, str(index))
        if os.path.isdir(path):
            shutil.rmtree(path)
        elif os.path.exists(path):
            os.remove(path)
        if os.path.isdir(saved):
            shutil.copytree(saved, path)
        elif os.path.exists(saved):
            shutil.copy2(saved, path)


def injected(trace_file):
    """The lines of an strace log that report an injected fault or signal."""
    with open(trace_file, encoding="utf-8", errors="replace") as trace:
        return [line for line in trace if "INJECTED" in line or "killed by SIGKILL" in line]
