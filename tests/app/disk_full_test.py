"""Makes the disk "full" at each write and each sync (and each rename of the export) of
"tamaril-cli export" and then of "tamaril-cli import" in turn (strace fails the Nth call of one system call with ENOSPC, for N = 1,
2, … until a run meets no fault), and checks every run: it ends with a Czech message that says
what failed, no file under a final name is cut, the shop's log and its archives agree, the center
holds its rows from before or from after the archive, and what the run printed matches the
database. Arguments: <program> <scratch folder>."""

import os
import re
import shutil
import sys

from transfer_site import Site, archive_number, injected, restore, snapshot

cli, work = sys.argv[1], sys.argv[2]
site = Site(cli, work)
SYSCALLS = ("write", "pwrite64", "fsync", "fdatasync")
# A folder can be full too: a rename that fails after the commit leaves the archive waiting.
EXPORT_SYSCALLS = SYSCALLS + ("rename",)
TEMPORARY = re.compile(r"SHOP\.ZR2\.[A-Za-z0-9]{6}")
failures = []
runs = 0
outcomes = {}


def count(outcome):
    outcomes[outcome] = outcomes.get(outcome, 0) + 1


def fail(what, done=None):
    if done is not None:
        what += f"\nexit {done.returncode}\nstdout:\n{done.stdout}\nstderr:\n{done.stderr}"
    failures.append(what)


def under_strace(trace, syscall, n):
    return ("strace", "-f", "-o", trace, "-e", "trace=" + syscall, "-e", f"inject={syscall}:error=ENOSPC:when={n}")


def output_hit(hits):
    """True when the fault met the program's own output rather than a file."""
    return any(re.search(r"write\([12],", line) for line in hits)


def says_what_failed(text):
    # A Czech sentence naming the step, with the reason in Czech (not the system's words alone).
    return re.search(r"selhal|nelze|neproveden", text) and re.search(r"není místo|vstupu/výstupu", text)


# The center holds the first archive; the second adds, changes and deletes rows.
first_archive = site.first_transfer_then_changes("SHOP.ZR2")
shop_paths = [os.path.join(site.data, "shop.db"), os.path.join(site.data, "shop.db-journal"), site.exports]
saved = os.path.join(work, "saved")
snapshot(shop_paths, saved + "-shop")
trace = os.path.join(work, "trace.txt")


def check_export(label, done, hits):
    files = site.export_files()
    temporaries = [f for f in files if TEMPORARY.fullmatch(f)]
    for name in files:
        if (name.endswith(".ZR2") or name.endswith(".ZR2.bak")) and archive_number(site.export_file(name)) is None:
            fail(f"{label}: {name} is cut or damaged", done)
    logged = site.logged()
    current = archive_number(site.export_file("SHOP.ZR2")) if "SHOP.ZR2" in files else None
    if done.returncode in (0, 3):
        count("export done" if done.returncode == 0 else "export done with a warning")
        if logged != 2 or current != 2 or temporaries:
            fail(f"{label}: success with log {logged}, archive {current}, files {files}", done)
        elif not output_hit(hits) and "Export úspěšně dokončen" not in done.stdout and not (
                done.returncode == 3 and "Export dokončen s varováním" in done.stdout
                and says_what_failed(done.stdout)):
            fail(f"{label}: the output does not tell the outcome", done)
        return
    if done.returncode != 1 or not says_what_failed(done.stderr):
        fail(f"{label}: no Czech message that says what failed", done)
        return
    if logged == 1:
        count("export not done")
        with open(site.export_file("SHOP.ZR2"), "rb") as file:
            if file.read() != first_archive or files != ["SHOP.ZR2"]:
                fail(f"{label}: a run not logged changed the export folder: {files}", done)
        if "je zapsán v protokolu" in done.stderr:
            fail(f"{label}: the message claims a log row that is not there", done)
        return
    # Logged, but the archive not in place: it waits complete under its temporary name, and the
    # next run puts it there.
    count("export logged, archive waiting")
    if logged != 2 or "Export 2 je zapsán v protokolu" not in done.stderr or len(temporaries) != 1 or \
            archive_number(site.export_file(temporaries[0])) != 2:
        fail(f"{label}: log {logged} and files {files} after a failure after the commit", done)
        return
    again = site.run("export", "SHOP", expected=None)
    if again.returncode != 0 or "Archiv exportu 2" not in again.stdout or \
            archive_number(site.export_file("SHOP-2.ZR2.bak")) != 2 or \
            archive_number(site.export_file("SHOP.ZR2")) != 3:
        fail(f"{label}: the next run did not put the logged archive in place: {site.export_files()}", again)


for syscall in EXPORT_SYSCALLS:
    n = 1
    while True:
        restore(shop_paths, saved + "-shop")
        done = site.run("export", "SHOP", expected=None, wrapper=under_strace(trace, syscall, n))
        runs += 1
        hits = injected(trace)
        if not hits:
            if done.returncode != 0:
                fail(f"export without a fault ({syscall} {n})", done)
            break
        check_export(f"export, {syscall} #{n}", done, hits)
        n += 1

# The import of the second archive, with a backup of the center first.
restore(shop_paths, saved + "-shop")
site.run("export", "SHOP")
shutil.copy(site.export_file("SHOP.ZR2"), os.path.join(site.imports, "SHOP.ZR2"))
before = site.rows("center")
after = site.rows("shop")
center_paths = [os.path.join(site.data, "center.db"), os.path.join(site.data, "center.db-journal"),
                os.path.join(site.data, "backup"), site.imports]
snapshot(center_paths, saved + "-center")
LEFTOVER = re.compile(r"center\.db(\.tmp|\.restore)(-journal|-wal|-shm)?")


def check_import(label, done, hits):
    now = site.rows("center")
    if now not in (before, after):
        fail(f"{label}: the center holds part of the archive ({len(now[0])} customers, {len(now[1])} orders)",
             done)
        return
    backup = os.path.join(site.data, "backup")
    left = [f for f in (os.listdir(backup) if os.path.isdir(backup) else []) if LEFTOVER.fullmatch(f)]
    left += [f for f in os.listdir(site.data) if LEFTOVER.fullmatch(f)]
    if left:
        fail(f"{label}: left behind {left}", done)
    imported = "IMPORTNO: 1" in done.stdout or "IMPORTNO: 2" in done.stdout
    count("import done" if now == after else "import not done")
    if now == after:
        if done.returncode not in (0, 3) or (not imported and not output_hit(hits)):
            fail(f"{label}: the archive is in the center, but the run says otherwise", done)
        elif done.returncode == 3 and not says_what_failed(done.stdout):
            fail(f"{label}: a warning that does not say what failed", done)
        return
    if done.returncode != 1 or imported:
        fail(f"{label}: the center is as before, but the run does not say the archive failed", done)
    elif not says_what_failed(done.stdout + done.stderr) and "není připravena k replikaci" not in done.stdout:
        # The readiness check refuses a backup folder its probe file cannot be written to.
        fail(f"{label}: no Czech message that says what failed", done)


for syscall in SYSCALLS:
    n = 1
    while True:
        restore(center_paths, saved + "-center")
        done = site.run("import", "--backup", "yes", "--restore", "no", expected=None,
                        wrapper=under_strace(trace, syscall, n))
        runs += 1
        hits = injected(trace)
        if not hits:
            if done.returncode != 0:
                fail(f"import without a fault ({syscall} {n})", done)
            break
        check_import(f"import, {syscall} #{n}", done, hits)
        n += 1

for failure in failures:
    print(failure, "\n")
print(f"{runs} runs under a full disk:", ", ".join(f"{name}: {n}" for name, n in sorted(outcomes.items())))
print(f"{1 if not failures else 0} passed, {1 if failures else 0} failed")
sys.exit(1 if failures else 0)
