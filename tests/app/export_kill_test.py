"""Kills "tamaril-cli export" with SIGKILL at each write, sync, rename and removal it makes in turn
(strace sends the signal on entering the Nth call of one system call, for N = 1, 2, … until a run
ends by itself), and checks after each kill that the shop holds either no new log row and the
earlier archive under its name, or the new log row and its complete archive, under its name or
under the temporary name the next run finishes. The next run then must find nothing in its way,
leave no temporary file or lock behind, and with it the center must receive every row.
Arguments: <program> <scratch folder>."""

import os
import re
import shutil
import sys

from transfer_site import Site, archive_number, injected, restore, snapshot

cli, work = sys.argv[1], sys.argv[2]
site = Site(cli, work)
SYSCALLS = ("write", "pwrite64", "fsync", "fdatasync", "rename", "unlink")
TEMPORARY = re.compile(r"SHOP\.ZR2\.[A-Za-z0-9]{6}")
failures = []
states = {}


def fail(what, done=None):
    if done is not None:
        what += f"\nexit {done.returncode}\nstdout:\n{done.stdout}\nstderr:\n{done.stderr}"
    failures.append(what)


# The center holds the first archive; the run to be killed exports additions, changes and
# deletions.
first_archive = site.first_transfer_then_changes("SHOP-1.ZR2")
paths = [os.path.join(site.data, name) for name in ("shop.db", "shop.db-journal", "center.db", "center.db-journal")]
paths += [site.exports, site.imports]
saved = os.path.join(work, "saved")
snapshot(paths, saved)
trace = os.path.join(work, "trace.txt")


def killed_state(label):
    """Names what a killed run left, or records why it breaks the rule."""
    files = site.export_files()
    temporaries = [f for f in files if TEMPORARY.fullmatch(f)]
    for name in files:
        if (name.endswith(".ZR2") or name.endswith(".ZR2.bak")) and archive_number(site.export_file(name)) is None:
            fail(f"{label}: {name} is cut or damaged: {files}")
    logged = site.logged()
    current = archive_number(site.export_file("SHOP.ZR2")) if "SHOP.ZR2" in files else None
    if logged == 1:
        with open(site.export_file("SHOP.ZR2"), "rb") as file:
            if file.read() != first_archive or any(f.endswith(".bak") for f in files):
                fail(f"{label}: no new log row, but the earlier archive is not in its place: {files}")
        return "no log row, earlier archive"
    if logged == 2 and current == 2:
        return "log row and archive"
    waiting = [t for t in temporaries if archive_number(site.export_file(t)) == 2]
    if logged == 2 and waiting:
        return "log row, archive under its temporary name"
    fail(f"{label}: log row {logged} without its archive: {files}")
    return "broken"


for syscall in SYSCALLS:
    n = 1
    while True:
        restore(paths, saved)
        done = site.run("export", "SHOP", expected=None,
                        wrapper=("strace", "-f", "-o", trace, "-e", "trace=" + syscall, "-e",
                                 f"inject={syscall}:signal=SIGKILL:when={n}"))
        if not injected(trace):
            if done.returncode != 0:
                fail(f"export without a kill ({syscall} {n})", done)
            break
        label = f"killed at {syscall} #{n}"
        state = killed_state(label)
        states[state] = states.get(state, 0) + 1
        logged = site.logged()
        # The next run: not kept out by the lock the killed one left, it puts a logged archive in
        # place before its own, and removes everything else the killed run left.
        again = site.run("export", "SHOP", expected=None)
        files = site.export_files()
        if again.returncode != 0 or site.logged() != logged + 1 or \
                archive_number(site.export_file("SHOP.ZR2")) != logged + 1 or \
                any(TEMPORARY.fullmatch(f) or f.endswith(".lock") for f in files):
            fail(f"{label}: the next run left {files}", again)
            n += 1
            continue
        # The center receives what the shop has: every archive above the one it holds, in place
        # or kept as replaced.
        for name in files:
            if name != "SHOP.ZR2" and not name.endswith(".ZR2.bak"):
                continue
            number = archive_number(site.export_file(name))
            if number is not None and number >= 2:
                shutil.copy(site.export_file(name), os.path.join(site.imports, f"SHOP-{number}.ZR2"))
        imported = site.run("import", "--backup", "no", expected=None)
        if imported.returncode != 0 or site.rows("center") != site.rows("shop"):
            fail(f"{label}: the center did not receive every row", imported)
        n += 1

for failure in failures:
    print(failure, "\n")
print("states after kills:", ", ".join(f"{name}: {count}" for name, count in sorted(states.items())))
print(f"{1 if not failures else 0} passed, {1 if failures else 0} failed")
sys.exit(1 if failures else 0)
