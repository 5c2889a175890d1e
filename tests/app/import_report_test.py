"""The HTML report an import run leaves, end to end through the command line: after an import with
conflicts the report beside the log parses as strict HTML5, is private, counts per table what
rep_IMPORTLOGDETAIL holds, shows a conflicting row beside the target row it met with the differing
column marked, and shows hostile values from the archive as text. A second run with --report names
a second delivery, a gap in the export numbers and an archive nobody verified; a report that cannot
be written leaves the import in place and turns its success into a warning.
Arguments: <program> <scratch folder>. Needs html5lib (python3-html5lib)."""

import glob
import os
import re
import shutil
import stat
import sys

import html5lib

from transfer_site import Site

HOSTILE = "<script>alert(1)</script>"
SPICY = "a & \"b\" 'c' \x01"

cli, work = sys.argv[1], sys.argv[2]
site = Site(cli, work)


def fail(message):
    sys.exit(message)


def parse(path):
    with open(path, "rb") as file:
        data = file.read()
    try:
        # Strict: any parse error of the HTML5 algorithm raises.
        document = html5lib.HTMLParser(strict=True, namespaceHTMLElements=False).parse(data)
    except Exception as error:  # pylint: disable=broad-except
        fail(f"{path} is no valid HTML5: {error!r}")
    return data.decode("utf-8"), document


def text_of(element):
    return "".join(element.itertext()).strip()


def counts_of(document):
    """{(IMPORTNO, table): (appended, updated, deleted)} of the report's per-table counts."""
    counts = {}
    for table in document.iter("table"):
        if table.get("class") != "counts":
            continue
        import_no = int(table.get("data-importno"))
        for row in table.iter("tr"):
            name = [cell for cell in row if cell.get("class") == "table"]
            if not name:
                continue
            cells = {cell.get("class").split()[-1]: int(text_of(cell)) for cell in row
                     if cell.tag == "td" and cell.get("class", "").startswith("n ")}
            counts[(import_no, text_of(name[0]))] = (cells["appended"], cells["updated"], cells["deleted"])
    return counts


def logged_counts():
    with site.database("center") as center:
        rows = center.execute("SELECT IMPORTNO, TABLENAME, COUNT_APPENDED, COUNT_UPDATED, COUNT_DELETED"
                              " FROM rep_IMPORTLOGDETAIL WHERE Signature = 'SHOP'").fetchall()
    return {(number, table): (a, u, d) for number, table, a, u, d in rows}


def reported_path(stdout):
    found = re.findall(r"^Přehled importu: (.+)$", stdout, re.M)
    if len(found) != 1:
        fail(f"the run names no report:\n{stdout}")
    return found[0]


def check_private(path):
    mode = stat.S_IMODE(os.stat(path).st_mode)
    if mode != 0o600:
        fail(f"{path} has mode {mode:o}, not 600")


# The center holds rows whose unique Names the shop's customers 5 and 6 carry too: appending them
# breaks the unique key, and their orders then miss their masters.
with site.database("center") as center:
    center.executescript("CREATE UNIQUE INDEX ux_customer_name ON Customers(Name);")
    center.executemany("INSERT INTO Customers (Id, Name) VALUES (?, ?)", ((1000, HOSTILE), (1001, SPICY)))
site.fill(1, 11)
with site.database("shop") as shop:
    shop.executemany("UPDATE Customers SET Name = ? WHERE Id = ?", ((HOSTILE, 5), (SPICY, 6)))
site.run("export", "SHOP")
shutil.copy(site.export_file("SHOP.ZR2"), os.path.join(site.imports, "SHOP.ZR2"))
first = site.run("import", "--backup", "no", expected=3).stdout

# Default place: reports/ in the folder of the log, which --home puts there.
path = reported_path(first)
if os.path.dirname(path) != os.path.join(site.home, "reports") or \
        not re.fullmatch(r"import-\d{8}-\d{6}\.html", os.path.basename(path)):
    fail(f"the report is not where it belongs: {path}")
check_private(path)
if stat.S_IMODE(os.stat(os.path.dirname(path)).st_mode) != 0o700:
    fail("the reports folder is not private")
if glob.glob(os.path.join(site.home, "reports", "*.html.*")):
    fail("a temporary report file was left behind")
html, document = parse(path)

# Hostile values are text, never markup; nothing runs in the page.
if "<script" in html.lower() or "&lt;script&gt;alert(1)&lt;/script&gt;" not in html:
    fail("the value <script> from the archive is not escaped")
if "a &amp; &quot;b&quot; &#39;c&#39; \\x01" not in html or "\x01" in html:
    fail("quotes, ampersand or a control character are not escaped")

# Per table the counts the import log holds, for every table the log names.
reported, logged = counts_of(document), logged_counts()
if not logged:
    fail("the import logged no table")
for key, values in logged.items():
    if reported.get(key) != values:
        fail(f"table {key}: the report says {reported.get(key)}, rep_IMPORTLOGDETAIL {values}")
for key, values in reported.items():
    if key not in logged and any(values):
        fail(f"the report counts rows of {key} the import log does not hold")

# The unique-key conflict shows the archive's row beside the target row, Id marked as differing.
sections = [s for s in document.iter("section") if s.get("class") == "conflict"]
unique = [s for s in sections if "jedinečnosti" in text_of(s.find("h3")) and "(Id=5)" in text_of(s.find("h3"))]
if not unique:
    fail(f"no unique-key conflict in the report: {[text_of(s.find('h3')) for s in sections]}")
rows = {text_of(row[0]).lstrip("≠ "): row for row in unique[0].iter("tr") if row[0].tag == "th"}
header = [text_of(cell) for cell in unique[0].find(".//thead/tr")]
if len(header) < 3 or "Cílová databáze" not in header[2]:
    fail(f"the conflict shows no target row: {header}")
if "Id" not in rows or [text_of(cell) for cell in rows["Id"]][1:3] != ["5", "1000"] or \
        rows["Id"].get("class") != "diff":
    fail("the conflict does not show the differing Id of both rows")
if [text_of(cell) for cell in rows["Name"]][1:3] != [HOSTILE, HOSTILE] or rows["Name"].get("class") == "diff":
    fail("the conflict does not show the equal Name of both rows")
if not any("master-detail" in text_of(s.find("h3")) for s in sections):
    fail("the order without its master is not in the report")

# Second run: the first archive delivered again, and the third export with the second missing.
shutil.move(os.path.join(site.imports, "SHOP.ZR2"), os.path.join(site.imports, "A-OLD.ZR2"))
site.run("export", "SHOP")
site.run("export", "SHOP")
shutil.copy(site.export_file("SHOP.ZR2"), os.path.join(site.imports, "SHOP.ZR2"))
chosen = os.path.join(work, "chosen", "run2.html")
second = site.run("import", "--backup", "no", "--report", chosen, expected=3).stdout
if reported_path(second) != chosen:
    fail(f"--report was not followed: {second}")
check_private(chosen)
html, document = parse(chosen)
warnings = [text_of(item) for item in document.iter("li")]
for expected in ("A-OLD.ZR2: doručen znovu", "Chybí přenos č. 2", "nebyl ověřen"):
    if not any(expected in warning for warning in warnings):
        fail(f"no warning '{expected}' in {warnings}")
outcomes = {text_of(row[0]): text_of(row[7]) for row in document.iter("tr")
            if row[0].tag == "td" and len(row) == 9}
if outcomes != {"A-OLD.ZR2": "odmítnut", "SHOP.ZR2": "sloučen"}:
    fail(f"archive outcomes: {outcomes}")

# A report that cannot be written: the import stays, the success becomes a warning.
os.remove(os.path.join(site.imports, "A-OLD.ZR2"))
with site.database("center") as center:
    center.execute("DELETE FROM Customers WHERE Id >= 1000")
site.run("export", "SHOP")
shutil.copy(site.export_file("SHOP.ZR2"), os.path.join(site.imports, "SHOP.ZR2"))
blocked = os.path.join(work, "blocked")
with open(blocked, "w", encoding="utf-8"):
    pass
done = site.run("import", "--backup", "no", "--report", os.path.join(blocked, "r.html"), expected=3)
if "Import úspěšně dokončen" not in done.stdout or \
        not re.search(r"^Upozornění: Přehled importu nelze zapsat do .*/blocked/r\.html: ", done.stdout, re.M):
    fail(f"an unwritable report is not a warning:\n{done.stdout}{done.stderr}")
with site.database("center") as center:
    if center.execute("SELECT Name FROM Customers WHERE Id = 5").fetchone() != (HOSTILE,):
        fail("the import did not stay when its report failed")
print("import report ok")
