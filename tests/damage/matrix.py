#!/usr/bin/env python3
"""The damage matrix: every source file damaged in every way talmera-damage
knows, and the real talmera-repair run on each copy as a user would run it.

    matrix.py baseline --source SOURCE ...    the undamaged file, once
    matrix.py group --source SOURCE --group G ...   the damaged copies of one group of modes
    matrix.py summary --results DIR              the table over every file and mode

A SOURCE is a real file ("corpus:PATH") or one the test writer makes
("jetwriter:NAME", see JETWRITER_SOURCES). For every run: no signal, no hang
(a timeout per run), no sanitizer report, an exit status the command
documents, the file's sha1 unchanged, and peak memory within 4x the file plus
256 MiB. For every table that the damage left whole (none of its data pages
nor its definition touched, by the damage tool's account), every row of the
undamaged file must come back in `preview`, and at least as many rows in the
repair's output. Where today's repair falls short of that, the shortfall is
listed in shortfalls.py; anything outside the list fails, and so does a
listed shortfall that no longer happens (the list would hide a regression).
"""

import argparse
import collections
import contextlib
import hashlib
import io
import json
import re
import os
import shutil
import signal
import sqlite3
import subprocess
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.dont_write_bytecode = True   # nothing is written into the source tree
import shortfalls  # noqa: E402

# Files the test writer makes: every format with memos, OLE objects,
# attachments, queries and object storage, and two of a few thousand rows.
JETWRITER_SOURCES = {
    "demo-jet3.mdb": ["demo", "--format", "jet3", "--object-storage"],
    "demo-jet4.mdb": ["demo", "--format", "jet4", "--object-storage"],
    "demo-ace.accdb": ["demo", "--format", "ace", "--object-storage"],
    "bench-rows-jet4.mdb": ["bench-rows", "--format", "jet4", "--rows", "3000"],
    "big-jet3.mdb": ["big", "--format", "jet3", "--rows", "2000"],
}

# Modes by group: each group of each file is one CTest entry, so that the
# entries share the machine's cores evenly.
GROUPS = {
    "pages": ["zero-pages", "random-pages", "swap-pages", "torn-page", "zero-5pct-pages"],
    "structure": ["zero-header", "version-byte", "zero-catalog-definition", "zero-usage-maps",
                  "zero-index-pages", "append-garbage"],
    "cuts": ["cut-quarter", "cut-half", "cut-mid-page", "cut-last-10pct"],
    "flips": ["flip-sparse", "flip-bits", "flip-dense"],
}

# Seeds per mode: modes that pick pages or bits at random get more than one;
# the version byte's seeds 1 to 4 go through its wrong values.
SEEDS = {
    "zero-pages": [1, 2, 3], "random-pages": [1, 2, 3], "swap-pages": [1, 2], "torn-page": [1, 2, 3],
    "zero-5pct-pages": [1, 2, 3], "version-byte": [1, 2, 3, 4], "cut-mid-page": [1, 2, 3],
    "flip-sparse": [1, 2, 3], "flip-bits": [1, 2],
}
RANDOM_MODES = {"zero-pages", "random-pages", "swap-pages", "torn-page", "zero-5pct-pages",
                "cut-mid-page", "flip-sparse", "flip-bits", "flip-dense", "append-garbage"}

# Exit statuses each command documents for a file that may be damaged
# (5: saved with losses, once the repair reports them).
ALLOWED_EXIT = {
    "repair": {0, 1, 2, 5},
    "catalog": {0, 1, 2},
    "preview": {0},
    "objects": {0, 1, 2},
    "export": {0, 1, 2, 5},
}

# A sanitizer's report also ends the run with a status of its own, apart from
# the program's (LeakSanitizer's is 23).
ASAN_EXIT, UBSAN_EXIT, LSAN_EXIT = 86, 87, 23
CHILD_ENV = dict(os.environ,
                 ASAN_OPTIONS=":".join(filter(None, [os.environ.get("ASAN_OPTIONS"), "exitcode=%d" % ASAN_EXIT])),
                 UBSAN_OPTIONS=":".join(filter(None, [os.environ.get("UBSAN_OPTIONS"), "exitcode=%d" % UBSAN_EXIT])))
SANITIZER_MARKERS = (b"ERROR: AddressSanitizer", b"ERROR: LeakSanitizer", b"runtime error:",
                     b"UndefinedBehaviorSanitizer", b"WARNING: AddressSanitizer")

# Column types whose values live on long-value pages (memo, OLE, complex).
LONG_VALUE_TYPES = {11, 12, 18}

MIB = 1024 * 1024

# The object catalog's definition page: its data pages name it as their owner.
CATALOG_DEFINITION_PAGE = 2

# The table the save streams a table's rows through before they reach it.
SCRATCH_TABLE = "QTARTable"


def sha1_of(path):
    digest = hashlib.sha1()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            digest.update(block)
    return digest.hexdigest()


def seeds_for(mode):
    """The seeds of a mode; TALMERA_DAMAGE_SEEDS=N gives the random modes
    seeds 1 to N, for a longer campaign."""
    wanted = os.environ.get("TALMERA_DAMAGE_SEEDS")
    if wanted and mode in RANDOM_MODES:
        return list(range(1, int(wanted) + 1))
    return SEEDS.get(mode, [1])


class Run:
    """One finished run of a program: status, time, peak memory, output."""

    def __init__(self, command, returncode, timed_out, seconds, max_rss, stdout, stderr):
        self.command = command
        self.returncode = returncode
        self.timed_out = timed_out
        self.seconds = seconds
        self.max_rss = max_rss
        self.stdout = stdout
        self.stderr = stderr


def run(command, timeout, work):
    """Runs `command` with its output in files (no pipe can fill and stall
    it), waits for it with wait4 to learn its own peak memory, and kills its
    process group when it outlives `timeout`."""
    out_path, err_path = os.path.join(work, "stdout"), os.path.join(work, "stderr")
    with open(out_path, "wb") as out, open(err_path, "wb") as err:
        start = time.monotonic()
        child = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=out, stderr=err,
                                 start_new_session=True, env=CHILD_ENV)
        timed_out = threading.Event()

        def kill():
            timed_out.set()
            try:
                os.killpg(child.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass

        timer = threading.Timer(timeout, kill)
        timer.start()
        try:
            _, status, usage = os.wait4(child.pid, 0)
        finally:
            timer.cancel()
        child.returncode = os.waitstatus_to_exitcode(status)
        seconds = time.monotonic() - start
    with open(out_path, "rb") as f:
        stdout = f.read()
    with open(err_path, "rb") as f:
        stderr = f.read()
    return Run(command, child.returncode, timed_out.is_set(), seconds, usage.ru_maxrss * 1024, stdout, stderr)


class Checker:
    """Runs the commands on one file and collects every fault."""

    def __init__(self, args, work):
        self.repair = args.repair
        self.timeout = args.timeout
        self.work = work
        self.failures = []
        self.runs = 0
        self.seconds = 0.0
        self.peak = 0
        self.has_export = b"export" in run([self.repair, "--help"], 60, work).stdout.split(b"Subcommands:")[-1]

    def fail(self, kind, detail, table="*", catalog_hit=False):
        """`catalog_hit`: the damage destroyed data pages of the object catalog."""
        self.failures.append({"kind": kind, "table": table, "detail": detail, "catalogHit": catalog_hit})

    def command(self, name, arguments, database, expect=None):
        """Runs `talmera-repair NAME ARGUMENTS` on `database` and checks what
        every run must keep, whatever the file holds."""
        before = sha1_of(database)
        size = os.path.getsize(database)
        result = run([self.repair, name] + arguments, self.timeout, self.work)
        self.runs += 1
        self.seconds += result.seconds
        self.peak = max(self.peak, result.max_rss)
        what = " ".join([name] + [os.path.basename(a) if a == database else a for a in arguments])
        tail = result.stderr[-1500:].decode("utf-8", "replace")
        if result.timed_out:
            self.fail("hang", "%s: still running after %d s" % (what, self.timeout))
        elif result.returncode < 0:
            self.fail("crash", "%s: killed by signal %d\n%s" % (what, -result.returncode, tail))
        if (any(marker in result.stderr for marker in SANITIZER_MARKERS)
                or result.returncode in (ASAN_EXIT, UBSAN_EXIT, LSAN_EXIT)):
            self.fail("sanitizer", "%s: sanitizer report\n%s" % (what, tail))
        elif not result.timed_out and result.returncode >= 0:
            allowed = expect if expect is not None else ALLOWED_EXIT[name]
            if result.returncode not in allowed:
                self.fail("exit", "%s: exit status %d (expected %s)\n%s"
                          % (what, result.returncode, sorted(allowed), tail))
        if sha1_of(database) != before:
            self.fail("source-changed", "%s: the database's sha1 changed" % what)
        limit = 4 * size + 256 * MIB
        if result.max_rss > limit:
            self.fail("memory", "%s: peak memory %.0f MiB over %.0f MiB"
                      % (what, result.max_rss / MIB, limit / MIB))
        return result

    def examine(self, database, outputs, strict):
        """Every command on one file. Returns the tables found (catalog), the
        rows of each (preview) and the rows of each in the repair's output.
        `strict`: the undamaged file, where everything must succeed."""
        exact = {0} if strict else None
        catalog_run = self.command("catalog", ["--json", database], database, exact)
        tables = []
        if catalog_run.returncode == 0:
            try:
                tables = json.loads(catalog_run.stdout)["tables"]
            except (ValueError, KeyError, TypeError) as e:
                self.fail("json", "catalog --json printed no valid catalog: %s" % e)

        saved = self.repair_into(database, outputs, exact)

        rows = {}
        for index, table in enumerate(tables):
            name = table.get("name", "")
            if "\0" in name:
                continue   # not a name a command line can pass
            preview = self.command("preview", [database, name], database)
            if preview.returncode == 0:
                lines = preview.stdout.split(b"\n")
                header, body = lines[0], [line for line in lines[1:] if line]
                rows[index] = (header, body)

        extract = os.path.join(outputs, "objects")
        os.makedirs(extract, exist_ok=True)
        self.command("objects", ["--extract", extract, database], database, exact)
        if self.has_export:
            # The export command joins the matrix as soon as the program has it.
            exported = os.path.join(outputs, "export")
            os.makedirs(exported, exist_ok=True)
            self.command("export", [database, "--format", "jsonl", "--output-dir", exported], database,
                         {0} if strict else None)
        return tables, rows, saved

    def repair_into(self, database, outputs, exact):
        """`repair` into a fresh folder; the rows per table in its output, and
        a check that the log's counts are what the output holds."""
        folder = os.path.join(outputs, "repair")
        os.makedirs(folder, exist_ok=True)
        result = self.command("repair", ["--output-dir", folder, database], database,
                              {0} if exact else None)
        saved = {}
        if result.returncode not in (0, 5):
            return saved
        found = [f for f in os.listdir(folder) if f.endswith(".sqlite")]
        if len(found) != 1:
            self.fail("output", "repair ended with status %d but left %s" % (result.returncode, found))
            return saved
        logged = sum(int(m.group(1)) for m in re.finditer(rb"^Total record\(s\) Repaired\s*:\s*(\d+)",
                                                          result.stdout, re.MULTILINE))
        try:
            db = sqlite3.connect("file:%s?mode=ro" % os.path.join(folder, found[0]), uri=True)
            check = db.execute("PRAGMA quick_check").fetchone()[0]
            if check != "ok":
                self.fail("output", "the repaired database fails SQLite's check: %s" % check)
            for name, sqlite_name in db.execute("SELECT name, sqlite_name FROM _talmera_tables"):
                try:
                    quoted = '"%s"' % sqlite_name.replace('"', '""')
                    saved[name] = db.execute("SELECT COUNT(*) FROM %s" % quoted).fetchone()[0]
                except sqlite3.Error:
                    saved[name] = None
            db.close()
        except sqlite3.Error as e:
            self.fail("output", "the repaired database cannot be read: %s" % e)
            return saved
        missing = [name for name, count in saved.items() if count is None]
        if missing:
            self.fail("output", "tables listed in _talmera_tables but absent: %s" % missing)
        scratch = saved.pop(SCRATCH_TABLE, None)
        if scratch is not None:
            # Rows left in the scratch table are counted in the log but not in
            # their table: that is this fault, not a second one.
            self.fail("scratch", "the scratch table %s stayed in the output with %d rows" % (SCRATCH_TABLE, scratch))
            return saved
        total = sum(count or 0 for count in saved.values())
        if total != logged:
            self.fail("output", "the log says %d rows were saved, the output holds %d" % (logged, total))
        return saved


def make_source(args, work):
    """The undamaged file of a SOURCE: the real file itself (only read), or
    one written by the test writer into the work folder."""
    kind, _, value = args.source.partition(":")
    if kind == "corpus":
        return value
    if kind == "jetwriter" and value in JETWRITER_SOURCES:
        path = os.path.join(work, value)
        if not os.path.exists(path):
            subprocess.run([args.jetwriter] + JETWRITER_SOURCES[value] + [path], check=True,
                           stdout=subprocess.DEVNULL)
        return path
    raise SystemExit("matrix.py: unknown source %s" % args.source)


def source_id(source):
    kind, _, value = source.partition(":")
    if kind == "corpus":
        return os.path.basename(value)
    return value


def folder_of(args):
    """The source's folder of results and work files."""
    path = os.path.join(args.results, source_id(args.source))
    os.makedirs(path, exist_ok=True)
    return path


def command_baseline(args):
    folder = folder_of(args)
    work = os.path.join(folder, "baseline")
    shutil.rmtree(work, ignore_errors=True)
    for old in os.listdir(folder):
        if old.startswith("group-"):
            os.remove(os.path.join(folder, old))
    os.makedirs(work)
    database = make_source(args, folder)
    checker = Checker(args, work)
    tables, rows, saved = checker.examine(database, work, strict=True)
    if len(rows) != len(tables):
        checker.fail("baseline", "preview failed on the undamaged file")
    facts = {"source": args.source, "database": database, "size": os.path.getsize(database),
             "sha1": sha1_of(database), "tables": []}
    for index, table in enumerate(tables):
        header, body = rows.get(index, (b"", []))
        rows_file = os.path.join(work, "rows-%d.tsv" % index)
        with open(rows_file, "wb") as f:
            f.write(b"\n".join(body))
        facts["tables"].append({
            "name": table["name"], "definitionPage": table["definitionPage"], "rows": len(body),
            "rowsFile": rows_file,
            "longColumns": [i for i, c in enumerate(table.get("columns", [])) if c.get("type") in LONG_VALUE_TYPES],
            "saved": saved.get(table["name"]),
        })
    facts["failures"] = checker.failures
    with open(os.path.join(folder, "baseline.json"), "w") as f:
        json.dump(facts, f, indent=1)
    for failure in checker.failures:
        print("FAIL undamaged %s: %s: %s" % (source_id(args.source), failure["kind"], failure["detail"]))
    print("baseline %s: %d tables, %d rows, %d runs in %.1f s"
          % (source_id(args.source), len(tables), sum(t["rows"] for t in facts["tables"]),
             checker.runs, checker.seconds))
    return 1 if checker.failures else 0


def read_rows(path):
    with open(path, "rb") as f:
        data = f.read()
    return data.split(b"\n") if data else []


def project(rows, drop):
    """Rows without the columns at the positions in `drop`."""
    if not drop:
        return rows
    return [b"\t".join(v for i, v in enumerate(row.split(b"\t")) if i not in drop) for row in rows]


def judge(base, report, tables, rows, saved, checker):
    """The row rule for one damaged copy: per table of the undamaged file,
    the rows expected, recovered, destroyed by construction and extra."""
    destroyed_owners = collections.Counter()
    for page in report["destroyedDataPages"]:
        if page["owner"] != "LVAL" and page["listed"]:
            destroyed_owners[page["owner"]] += page["rows"]
    touched = {page["owner"] for page in report["destroyedDataPages"]}
    lost_definitions = {d["table"] for d in report["destroyedDefinitions"]}
    long_values_hit = "LVAL" in touched
    # Without the catalog's rows a table is found only from its definition.
    catalog_hit = CATALOG_DEFINITION_PAGE in touched

    by_page = {t.get("definitionPage"): i for i, t in enumerate(tables)}
    by_name = {t.get("name"): i for i, t in enumerate(tables)}
    matched = set()
    totals = collections.Counter()
    for table in base["tables"]:
        page = table["definitionPage"]
        expected = read_rows(table["rowsFile"])
        index = by_page.get(page, by_name.get(table["name"]))
        found = rows.get(index, (b"", []))[1] if index is not None else []
        if index is not None:
            matched.add(index)
        # A damaged long-value page changes the text of the rows that use it:
        # those columns are left out of the comparison, not the rows.
        drop = set(table["longColumns"]) if long_values_hit else set()
        want = collections.Counter(project(expected, drop))
        got = collections.Counter(project(found, drop))
        recovered = sum((want & got).values())
        extra = sum((got - want).values())
        whole = page not in touched and page not in lost_definitions
        destroyed = len(expected) if page in lost_definitions else min(len(expected), destroyed_owners[page])
        totals["expected"] += len(expected)
        totals["recovered"] += recovered
        totals["destroyed"] += destroyed
        totals["extra"] += extra
        if whole:
            totals["lostWhole"] += len(expected) - recovered
        if whole and recovered < len(expected):
            checker.fail("rows", "preview gives %d of the %d rows of a table the damage left whole"
                         % (recovered, len(expected)), table["name"], catalog_hit)
        if whole and extra:
            checker.fail("extra", "preview gives %d rows the undamaged table does not have (of %d)"
                         % (extra, len(found)), table["name"], catalog_hit)
        if whole:
            name = tables[index]["name"] if index is not None else table["name"]
            count = saved.get(name) or 0
            if count < len(expected):
                checker.fail("saved", "the output holds %d of the %d rows of a table the damage left whole"
                             % (count, len(expected)), table["name"], catalog_hit)
    for index, (_, body) in rows.items():
        if index not in matched:
            totals["extra"] += len(body)
    return totals


def command_group(args):
    folder = folder_of(args)
    with open(os.path.join(folder, "baseline.json")) as f:
        base = json.load(f)
    if base["failures"]:
        print("the undamaged file already fails; see its baseline test")
        return 1
    database = base["database"]
    if sha1_of(database) != base["sha1"]:
        print("FAIL: the undamaged file changed since its baseline")
        return 1
    extension = os.path.splitext(database)[1]
    records = []
    failed = 0
    for mode in GROUPS[args.group]:
        for seed in seeds_for(mode):
            work = os.path.join(folder, "%s-%d" % (mode, seed))
            shutil.rmtree(work, ignore_errors=True)
            os.makedirs(work)
            damaged = os.path.join(work, "damaged" + extension)
            facts = os.path.join(work, "damage.json")
            subprocess.run([sys.executable, args.damage, mode, database, damaged, "--seed", str(seed),
                            "--report", facts], check=True)
            with open(facts) as f:
                report = json.load(f)
            checker = Checker(args, work)
            tables, rows, saved = checker.examine(damaged, work, strict=False)
            totals = judge(base, report, tables, rows, saved, checker)
            known, unknown = [], []
            for failure in checker.failures:
                entry = shortfalls.match(source_id(args.source), mode, seed, failure)
                (known if entry else unknown).append(failure)
            record = {"file": source_id(args.source), "mode": mode, "seed": seed,
                      "description": report["description"], "runs": checker.runs,
                      "seconds": round(checker.seconds, 2), "peakMiB": round(checker.peak / MIB, 1),
                      "sizeMiB": round(os.path.getsize(damaged) / MIB, 2), "known": known, "failures": unknown}
            record.update(totals)
            records.append(record)
            for failure in unknown:
                print("FAIL %s %s seed %d (%s): %s [%s]: %s" % (
                    source_id(args.source), mode, seed, report["description"], failure["kind"],
                    failure["table"], failure["detail"]))
            if unknown:
                failed += 1   # the damaged copy stays in the folder to look at
            else:
                shutil.rmtree(work, ignore_errors=True)
    with open(os.path.join(folder, "group-%s.json" % args.group), "w") as f:
        json.dump(records, f, indent=1)
    for r in records:
        print("%-24s seed %d: %5d expected, %5d recovered, %5d destroyed, %5d extra, %d known shortfall(s)"
              "  (%d runs, %.1f s)" % (r["mode"], r["seed"], r["expected"], r["recovered"], r["destroyed"],
                                       r["extra"], len(r["known"]), r["runs"], r["seconds"]))
    return 1 if failed else 0


def command_summary(args):
    records = []
    ran = set()
    for name in sorted(os.listdir(args.results)) if os.path.isdir(args.results) else []:
        folder = os.path.join(args.results, name)
        for entry in sorted(os.listdir(folder)) if os.path.isdir(folder) else []:
            if entry.startswith("group-") and entry.endswith(".json"):
                with open(os.path.join(folder, entry)) as f:
                    group = json.load(f)
                records += group
                ran.update((r["file"], r["mode"]) for r in group)
    if not records:
        print("no results yet")
        return 0
    per_mode = collections.OrderedDict()
    for mode in [m for g in GROUPS.values() for m in g]:
        chosen = [r for r in records if r["mode"] == mode]
        if chosen:
            per_mode[mode] = chosen
    # destroyed: rows on the data pages the damage destroyed (or of tables
    # whose definition it destroyed); lost whole: rows missing from tables
    # the damage left whole; short: copies with a known shortfall.
    line = "| %-24s | %5s | %6s | %8s | %9s | %9s | %6s | %10s | %5s |"
    print(line % ("mode", "files", "copies", "expected", "recovered", "destroyed", "extra", "lost whole", "short"))
    print("|" + "|".join("-" * (w + 2) for w in (24, 5, 6, 8, 9, 9, 6, 10, 5)) + "|")
    grand = collections.Counter()
    for mode, chosen in per_mode.items():
        sums = collections.Counter()
        for r in chosen:
            for key in ("expected", "recovered", "destroyed", "extra", "lostWhole", "runs"):
                sums[key] += r.get(key, 0)
            sums["short"] += 1 if r["known"] else 0
            sums["seconds"] += r["seconds"]
        grand.update(sums)
        print(line % (mode, len({r["file"] for r in chosen}), len(chosen), sums["expected"], sums["recovered"],
                      sums["destroyed"], sums["extra"], sums["lostWhole"], sums["short"]))
    print("%d damaged copies, %d runs, %.0f s of runs" % (len(records), grand["runs"], grand["seconds"]))
    heaviest = max(records, key=lambda r: r.get("peakMiB", 0) / (4 * r.get("sizeMiB", 0) + 256))
    print("highest peak memory against its limit: %.0f MiB for a %.1f MiB file (limit %.0f MiB), %s %s seed %d"
          % (heaviest.get("peakMiB", 0), heaviest.get("sizeMiB", 0), 4 * heaviest.get("sizeMiB", 0) + 256,
             heaviest["file"], heaviest["mode"], heaviest["seed"]))

    print("\nKnown shortfalls that happened (file, mode, seed, check, table):")
    for r in records:
        for failure in r["known"]:
            print("  %s  %s  %d  %s  %s: %s" % (r["file"], r["mode"], r["seed"], failure["kind"],
                                                failure["table"], failure["detail"].split("\n")[0]))
    unknown = [(r, f) for r in records for f in r["failures"]]
    if unknown:
        print("\nFailures outside the list:")
        for r, failure in unknown:
            print("  %s  %s  %d  %s  %s: %s" % (r["file"], r["mode"], r["seed"], failure["kind"],
                                                failure["table"], failure["detail"].split("\n")[0]))
    stale = shortfalls.stale(records, ran)
    if stale:
        print("\nListed shortfalls that no longer happen (remove them from shortfalls.py):")
        for entry in stale:
            print("  %s" % (entry,))
    return 1 if unknown or stale else 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("command", choices=["baseline", "group", "summary"])
    parser.add_argument("--source")
    parser.add_argument("--group", choices=sorted(GROUPS))
    parser.add_argument("--repair", help="the talmera-repair program")
    parser.add_argument("--jetwriter", help="the talmera-jetwriter program")
    parser.add_argument("--damage", help="the talmera-damage program")
    parser.add_argument("--results", required=True, help="folder of the results and work files")
    parser.add_argument("--timeout", type=float, default=float(os.environ.get("TALMERA_DAMAGE_TIMEOUT", 120)))
    args = parser.parse_args()
    if args.command == "baseline":
        return command_baseline(args)
    if args.command == "group":
        return command_group(args)
    text = io.StringIO()
    with contextlib.redirect_stdout(text):
        status = command_summary(args)
    print(text.getvalue(), end="")
    with open(os.path.join(os.path.dirname(os.path.abspath(args.results)), "summary.md"), "w") as f:
        f.write(text.getvalue())
    return status


if __name__ == "__main__":
    sys.exit(main())
