"""Runs the README's "First replication in five commands" as it stands: its shell blocks, in order,
in one bash without a terminal, with tamaril-cli on the PATH and HOME in a scratch folder; then
checks what the walkthrough promises. Arguments: <program> <scratch folder> <README.md>."""

import os
import re
import shutil
import sqlite3
import subprocess
import sys

program, work, readme = sys.argv[1:4]
HEADING = "## First replication in five commands"

shutil.rmtree(work, ignore_errors=True)
os.makedirs(os.path.join(work, "bin"))
os.makedirs(os.path.join(work, "user"))
os.symlink(program, os.path.join(work, "bin", "tamaril-cli"))

text = open(readme, encoding="utf-8").read()
if HEADING not in text:
    sys.exit(f"the README has no section '{HEADING}'")
section = text.split(HEADING, 1)[1].split("\n## ", 1)[0]
blocks = re.findall(r"^( *)```sh\n(.*?)^\1```", section, re.S | re.M)
if len(blocks) < 6:
    sys.exit(f"the section holds {len(blocks)} shell blocks, not the setup, the five steps and the next round")
# A block inside a list item is indented; its lines lose that indentation.
script = "set -euo pipefail\n"
for indent, body in blocks:
    script += "".join(line[len(indent):] + "\n" for line in body.splitlines())

env = dict(os.environ, HOME=os.path.join(work, "user"), LC_ALL="C.UTF-8",
           PATH=os.path.join(work, "bin") + os.pathsep + os.environ["PATH"])
done = subprocess.run(["setsid", "-w", "bash", "-c", script], env=env, capture_output=True, text=True,
                      timeout=100)
out = done.stdout
if done.returncode != 0:
    sys.exit(f"the walkthrough ended with {done.returncode}:\n{script}\n--- stdout\n{out}--- stderr\n{done.stderr}")

# What the text says each step prints, in the order it says it.
promised = ["připraveno\npřipraveno\n", "@LASTXPRT -> D", "boolean true\nboolean false\n",
            "Export úspěšně dokončen\nPořadí exportu: 1\n", "  ZAKAZNICI: 2\n",
            "Import úspěšně dokončen\n", "přidáno: 2, aktualizováno: 0, smazáno: 0",
            "Pořadí exportu: 2\n  rep_DELETED: 1\n  ZAKAZNICI: 1\n",
            "přidáno: 0, aktualizováno: 1, smazáno: 1", "2|Řeznictví Čížek|Zlín\n", ":Zavírám archiv POB1.ZR2\n"]
at = 0
for part in promised:
    found = out.find(part, at)
    if found < 0:
        sys.exit(f"the walkthrough did not print '{part}' after position {at}:\n{out}")
    at = found + len(part)

folder = os.path.join(work, "user", "prvni-replikace")
with sqlite3.connect(os.path.join(folder, "centrum", "obchod.db")) as center:
    rows = center.execute("SELECT ID, JMENO, MESTO FROM ZAKAZNICI ORDER BY ID").fetchall()
if rows != [(2, "Řeznictví Čížek", "Zlín")]:
    sys.exit(f"the center holds {rows}")
# The log file stays as the import writes it: Windows-1250 with CR LF.
log = open(os.path.join(folder, "import.log"), "rb").read()
if b"\r\n" not in log or "Zavírám".encode("cp1250") not in log:
    sys.exit("the log file is not Windows-1250 with CR LF")
