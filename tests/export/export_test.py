#!/usr/bin/env python3
"""The export against the repair, and its sql dumps loaded into real servers.

For each Access file (every file of the corpus, the writer's demo databases
and a demo with one data page zeroed), `repair` writes the SQLite output and
`export` writes the same tables:

  jsonl      every row equals the repaired row (as multisets: an auto-number
             table may come back in key order), complex columns included;
  csv        Python's csv module reads the same values;
  sql        the dump of each dialect loads without an error into SQLite,
             PostgreSQL and MariaDB (started here on a socket in a temporary
             folder, stopped after) with the repair's row counts, and the
             SQLite load holds the repaired values.

A server that cannot be started here is skipped with a message (exit status
77 when nothing at all could be compared). Standard library only.
"""
import argparse
import base64
import csv
import decimal
import glob
import json
import os
import pwd
import shutil
import sqlite3
import subprocess
import sys
import tempfile
import time

csv.field_size_limit(1 << 30)

FAILURES = []

# DAO type numbers of the repair's metadata.
BOOLEAN, CURRENCY, SINGLE, DOUBLE, DATE, BINARY, OLE, GUID, DECIMAL = 1, 5, 6, 7, 8, 9, 11, 15, 20
ATTACHMENT = 101


def fail(message):
    FAILURES.append(message)
    print("FAIL: " + message, file=sys.stderr)


def run(args, **kwargs):
    return subprocess.run(args, capture_output=True, **kwargs)


def safe_name(name):
    """The export's file name of a table, as attachments --extract makes names safe."""
    out = "".join("_" if ord(c) < 0x20 or c in "/\\:\x7f" else c for c in name)
    while ".." in out:
        at = out.index("..")
        out = out[:at] + "_" + out[at + 1:]
    if out in ("", "."):
        out = "attachment"
    if out.startswith("."):
        out = "_" + out[1:]
    return out


class Repaired:
    """The repair's output of one file."""

    def __init__(self, path):
        self.db = sqlite3.connect(path)
        self.db.text_factory = lambda b: b.decode("utf-8", "replace")
        q = self.db.execute
        self.tables = [(n, s) for n, s in q("SELECT name, sqlite_name FROM _talmera_tables ORDER BY position")]
        self.fields = {}
        for table, name, type_, position in q("SELECT table_name, name, type, position FROM _talmera_fields"):
            self.fields.setdefault(table, []).append((position, name, type_))
        for table in self.fields:
            self.fields[table].sort()
        self.exact = {}
        for table, field, row_id, value in q("SELECT table_name, field_name, row_id, value FROM _talmera_exact_values"):
            self.exact[(table, field, row_id)] = value

    def columns(self, table):
        return [(name, type_) for _, name, type_ in self.fields.get(table, [])]

    def complex_values(self, table, field, type_, row_id):
        if type_ == ATTACHMENT:
            rows = self.db.execute(
                "SELECT file_name, file_data FROM _talmera_attachments WHERE table_name = ? AND field_name = ? "
                "AND row_id = ? ORDER BY position", (table, field, row_id))
            return tuple((n, bytes(d or b"")) for n, d in rows)
        rows = self.db.execute(
            "SELECT value FROM _talmera_complex_values WHERE table_name = ? AND field_name = ? AND row_id = ? "
            "ORDER BY position", (table, field, row_id))
        return tuple(number(v) for (v,) in rows)

    def rows(self, table, sqlite_name):
        columns = self.columns(table)
        select = ", ".join('"%s"' % c.replace('"', '""') for c, _ in columns)
        out = []
        for row in self.db.execute('SELECT rowid, %s FROM "%s"' % (select, sqlite_name.replace('"', '""'))):
            row_id, values = row[0], row[1:]
            cells = []
            for (name, type_), value in zip(columns, values):
                if type_ > 100:
                    cells.append(self.complex_values(table, name, type_, row_id) or None)
                    continue
                exact = self.exact.get((table, name, row_id))
                cells.append(normal(type_, exact if exact is not None else value))
            out.append(tuple(cells))
        return out


def number(value):
    """A number in one comparable form: Decimal of its shortest text."""
    if value is None or isinstance(value, (bytes, tuple)):
        return value
    if isinstance(value, bool):
        return decimal.Decimal(int(value))
    try:
        return decimal.Decimal(repr(value) if isinstance(value, float) else str(value)).normalize()
    except decimal.InvalidOperation:
        return value


def normal(type_, value):
    if value is None:
        return None
    if type_ in (BINARY, OLE):
        return bytes(value) if not isinstance(value, str) else base64.b64decode(value)
    if type_ == DATE:
        return value.replace("T", " ", 1) if isinstance(value, str) else number(value)
    if type_ in (GUID,):
        return str(value).upper()
    if isinstance(value, (int, float, bool)) or type_ in (CURRENCY, DECIMAL, SINGLE, DOUBLE, BOOLEAN):
        return number(value)
    return value


def json_cell(type_, value):
    if value is None:
        return None
    if type_ == ATTACHMENT:
        return tuple((a["file_name"], base64.b64decode(a["data"])) for a in value) or None
    if type_ > 100:
        return tuple(number(v) for v in value) or None
    return normal(type_, value)


def csv_cell(type_, text):
    if text == "":
        return None
    if type_ == BOOLEAN:
        return number(int(text))
    if type_ in (BINARY, OLE):
        return base64.b64decode(text)
    if type_ > 100:
        return "complex"  # csv names the files or joins the values only
    if type_ in (2, 3, 4, 16, CURRENCY, SINGLE, DOUBLE, DECIMAL):
        return number(text)
    return normal(type_, text)


def compare(what, expected, got):
    e, g = sorted(map(repr, expected)), sorted(map(repr, got))
    if e == g:
        return True
    missing = [x for x in e if x not in set(g)][:2]
    extra = [x for x in g if x not in set(e)][:2]
    fail("%s: %d rows expected, %d exported; missing %s; extra %s" % (what, len(e), len(g), missing, extra))
    return False


def check_file(args, source, work):
    name = os.path.basename(source)
    os.makedirs(work)
    r = run([args.repair, "repair", source, "--output-dir", work, "--overwrite"])
    # 5: saved, with losses the recovery report names (a damaged file, a
    # catalog entry without its object): the output is there to compare.
    if r.returncode not in (0, 5):
        fail("%s: repair ended with %d: %s" % (name, r.returncode, r.stderr.decode(errors="replace")))
        return None
    output = glob.glob(os.path.join(work, "Repaired_*.sqlite"))[0]
    repaired = Repaired(output)
    counts = {}

    # jsonl: every row as the repair holds it.
    jsonl = os.path.join(work, "jsonl")
    os.makedirs(jsonl)
    r = run([args.repair, "export", source, "--format", "jsonl", "--output-dir", jsonl, "--no-progress"])
    if r.returncode != 0:
        fail("%s: export jsonl ended with %d: %s" % (name, r.returncode, r.stderr.decode(errors="replace")))
        return None
    csvdir = os.path.join(work, "csv")
    os.makedirs(csvdir)
    r = run([args.repair, "export", source, "--output-dir", csvdir, "--no-progress"])
    if r.returncode != 0:
        fail("%s: export csv ended with %d" % (name, r.returncode))
    for table, sqlite_name in repaired.tables:
        columns = repaired.columns(table)
        expected = repaired.rows(table, sqlite_name)
        counts[table] = len(expected)
        path = os.path.join(jsonl, safe_name(table) + ".jsonl")
        if not os.path.exists(path):
            fail("%s: no jsonl file for %s" % (name, table))
            continue
        with open(path, encoding="utf-8") as f:
            objects = [json.loads(line) for line in f]
        got = [tuple(json_cell(t, o.get(c)) for c, t in columns) for o in objects]
        compare("%s: %s (jsonl)" % (name, table), expected, got)

        with open(os.path.join(csvdir, safe_name(table) + ".csv"), newline="", encoding="utf-8") as f:
            rows = list(csv.reader(f))
        if rows[0] != [c for c, _ in columns]:
            fail("%s: %s (csv): header %s" % (name, table, rows[0]))
        got = [tuple(csv_cell(t, v) for (_, t), v in zip(columns, row)) for row in rows[1:]]
        flat = [tuple("complex" if t > 100 and v is not None else (None if v == "" else v)
                      for (_, t), v in zip(columns, row))
                for row in expected]
        compare("%s: %s (csv)" % (name, table), flat, got)

    # sql for SQLite: the rows load, with the repaired values.
    dump = os.path.join(work, "sqlite.sql")
    r = run([args.repair, "export", source, "-I", "sqlite", "--output", dump, "--no-progress"])
    if r.returncode != 0:
        fail("%s: export sql ended with %d" % (name, r.returncode))
        return counts
    loaded = sqlite3.connect(":memory:")
    try:
        with open(dump, encoding="utf-8") as f:
            loaded.executescript(f.read())
    except sqlite3.Error as error:
        fail("%s: the SQLite dump does not load: %s" % (name, error))
        return counts
    for table, _ in repaired.tables:
        n = loaded.execute('SELECT count(*) FROM "%s"' % table.replace('"', '""')).fetchone()[0]
        if n != counts[table]:
            fail("%s: %s: %d rows in SQLite from the dump, %d repaired" % (name, table, n, counts[table]))
    return counts


# ---- the servers --------------------------------------------------------------

def unprivileged():
    """A user the servers run as when we are root (they refuse root)."""
    for name in ("postgres", "nobody"):
        try:
            return pwd.getpwnam(name)
        except KeyError:
            pass
    return None


def as_user(user, command):
    if os.geteuid() != 0:
        return command
    return ["runuser", "-u", user.pw_name, "--"] + command


def find_postgres():
    for pattern in ("/usr/lib/postgresql/*/bin/pg_ctl",):
        found = sorted(glob.glob(pattern))
        if found:
            return os.path.dirname(found[-1])
    pg_ctl = shutil.which("pg_ctl")
    return os.path.dirname(os.path.realpath(pg_ctl)) if pg_ctl else None


SOCKET_FOLDERS = []


def short_socket_folder():
    """A folder of its own under /tmp for a server's socket (removed at the end)."""
    folder = tempfile.mkdtemp(prefix="talmera-sock-", dir="/tmp")
    SOCKET_FOLDERS.append(folder)
    return folder


class Postgres:
    def __init__(self, root, top):
        self.top = top
        self.bin = find_postgres()
        self.root = root
        self.user = unprivileged()
        self.data = os.path.join(root, "pgdata")
        # A socket's path is limited to 107 bytes: it goes in a short folder.
        self.socket = short_socket_folder()

    def start(self):
        if not self.bin or not shutil.which("psql"):
            return "PostgreSQL is not installed (postgresql)"
        if os.geteuid() == 0:
            if not self.user:
                return "no unprivileged user to run PostgreSQL as"
            # The server's user walks down to its folders.
            path = self.root
            while path.startswith(self.top) and path not in ("/", ""):
                os.chmod(path, os.stat(path).st_mode | 0o711)
                path = os.path.dirname(path)
            for path in (self.root, self.socket):
                os.chown(path, self.user.pw_uid, self.user.pw_gid)
        r = run(as_user(self.user, [os.path.join(self.bin, "initdb"), "-D", self.data, "-U", "postgres", "-A",
                                    "trust", "-E", "UTF8", "--locale=C"]))
        if r.returncode != 0:
            return "initdb failed: " + r.stderr.decode(errors="replace")[-300:]
        options = "-k %s -c listen_addresses='' -c fsync=off" % self.socket
        r = run(as_user(self.user, [os.path.join(self.bin, "pg_ctl"), "-D", self.data, "-o", options, "-w", "-l",
                                    os.path.join(self.root, "pg.log"), "start"]))
        if r.returncode != 0:
            log = ""
            try:
                with open(os.path.join(self.root, "pg.log"), errors="replace") as f:
                    log = f.read()[-400:]
            except OSError:
                pass
            return "pg_ctl start failed: " + r.stderr.decode(errors="replace")[-300:] + log
        self.started = True
        return None

    def load(self, database, dump):
        base = ["psql", "-h", self.socket, "-U", "postgres", "-X", "-q", "-v", "ON_ERROR_STOP=1"]
        r = run(base + ["-d", "postgres", "-c", 'CREATE DATABASE "%s"' % database])
        if r.returncode != 0:
            return r.stderr.decode(errors="replace")
        r = run(base + ["-d", database, "-f", dump])
        return None if r.returncode == 0 else r.stderr.decode(errors="replace")[-600:]

    def count(self, database, table):
        r = run(["psql", "-h", self.socket, "-U", "postgres", "-X", "-A", "-t", "-d", database, "-c",
                 'SELECT count(*) FROM "%s"' % table.replace('"', '""')])
        return int(r.stdout) if r.returncode == 0 else None

    def stop(self):
        if getattr(self, "started", False):
            run(as_user(self.user, [os.path.join(self.bin, "pg_ctl"), "-D", self.data, "-m", "fast", "-w", "stop"]))


class MariaDb:
    def __init__(self, root, top):
        self.root = root
        self.data = os.path.join(root, "mysqldata")
        self.socket = os.path.join(short_socket_folder(), "mysql.sock")
        self.process = None

    def start(self):
        server = shutil.which("mariadbd") or shutil.which("mysqld") or "/usr/sbin/mariadbd"
        install = shutil.which("mariadb-install-db") or shutil.which("mysql_install_db")
        if not os.path.exists(server) or not install or not shutil.which("mariadb"):
            return "MariaDB is not installed (mariadb-server)"
        user = ["--user=root"] if os.geteuid() == 0 else []
        r = run([install, "--no-defaults", "--auth-root-authentication-method=normal", "--skip-test-db",
                 "--datadir=" + self.data] + user)
        if r.returncode != 0:
            return "mariadb-install-db failed: " + (r.stderr + r.stdout).decode(errors="replace")[-300:]
        log = open(os.path.join(self.root, "mysql.log"), "wb")
        self.process = subprocess.Popen(
            [server, "--no-defaults", "--datadir=" + self.data, "--socket=" + self.socket, "--skip-networking",
             "--pid-file=" + os.path.join(self.root, "mysql.pid"), "--innodb-flush-log-at-trx-commit=0",
             "--max-allowed-packet=64M"] + user, stdout=log, stderr=log)
        for _ in range(300):
            if run(["mariadb", "--no-defaults", "-S", self.socket, "-u", "root", "-e", "SELECT 1"]).returncode == 0:
                return None
            if self.process.poll() is not None:
                return "mariadbd ended: " + open(os.path.join(self.root, "mysql.log"), errors="replace").read()[-300:]
            time.sleep(0.1)
        return "mariadbd did not answer"

    def client(self, *args):
        return ["mariadb", "--no-defaults", "-S", self.socket, "-u", "root"] + list(args)

    def load(self, database, dump):
        r = run(self.client("-e", "CREATE DATABASE `%s` CHARACTER SET utf8mb4" % database))
        if r.returncode != 0:
            return r.stderr.decode(errors="replace")
        with open(dump, "rb") as f:
            r = run(self.client(database), stdin=f)
        return None if r.returncode == 0 else r.stderr.decode(errors="replace")[-600:]

    def count(self, database, table):
        r = run(self.client("-N", "-B", database, "-e", "SELECT count(*) FROM `%s`" % table.replace("`", "``")))
        return int(r.stdout) if r.returncode == 0 else None

    def stop(self):
        if self.process and self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(timeout=60)
            except subprocess.TimeoutExpired:
                self.process.kill()


def check_servers(args, sources, counts, root):
    for server_class, dialect in ((Postgres, "postgres"), (MariaDb, "mysql")):
        server_root = os.path.join(root, dialect)
        os.makedirs(server_root)
        server = server_class(server_root, args.work)
        compared = tables = rows = 0
        problem = server.start()
        try:
            if problem:
                print("SKIP %s: %s" % (dialect, problem.strip()), file=sys.stderr)
                if os.environ.get("CI") and dialect in args.require:
                    fail("%s could not be started on CI: %s" % (dialect, problem))
                continue
            for n, source in enumerate(sources):
                if source not in counts:
                    continue
                name = os.path.basename(source)
                dump = os.path.join(server_root, "dump%d.sql" % n)
                r = run([args.repair, "export", source, "-I", dialect, "--output", dump, "--no-progress"])
                if r.returncode != 0:
                    fail("%s: export -I %s ended with %d" % (name, dialect, r.returncode))
                    continue
                database = "db%d" % n
                error = server.load(database, dump)
                if error:
                    fail("%s: the %s dump does not load: %s" % (name, dialect, error))
                    continue
                for table, expected in counts[source].items():
                    got = server.count(database, table[:63] if dialect == "postgres" else table[:64])
                    if got != expected:
                        fail("%s: %s: %s rows in %s, %d repaired" % (name, table, got, dialect, expected))
                    else:
                        tables += 1
                        rows += got
                compared += 1
            print("%s: %d dumps loaded, %d tables, %d rows as repaired" % (dialect, compared, tables, rows),
                  file=sys.stderr)
        finally:
            server.stop()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--repair", required=True)
    parser.add_argument("--jetwriter", required=True)
    parser.add_argument("--damage", required=True)
    parser.add_argument("--corpus", default="")
    parser.add_argument("--work", required=True)
    parser.add_argument("--servers", action="store_true", help="also load the dumps into PostgreSQL and MariaDB")
    parser.add_argument("--require", default="postgres,mysql", help="servers that must start when CI is set")
    args = parser.parse_args()
    args.work = os.path.abspath(args.work)
    shutil.rmtree(args.work, ignore_errors=True)
    os.makedirs(args.work)
    root = tempfile.mkdtemp(prefix="talmera-export-", dir=args.work)

    sources = []
    for fmt in ("jet3", "jet4", "ace"):
        path = os.path.join(root, "demo-%s.%s" % (fmt, "accdb" if fmt == "ace" else "mdb"))
        run([args.jetwriter, "demo", "--format", fmt, path], check=True)
        sources.append(path)
    # The demo with a data page zeroed: the export has what the repair recovers.
    # The first seed whose zeroed pages include a data page is taken.
    damaged = os.path.join(root, "demo-jet4-zeroed.mdb")
    report = os.path.join(root, "damage.json")
    for seed in range(1, 200):
        run([sys.executable, args.damage, "zero-pages", "--seed", str(seed), "--report", report, sources[1], damaged],
            check=True)
        with open(report) as f:
            if json.load(f)["destroyedDataPages"]:
                break
    else:
        fail("no seed of zero-pages destroys a data page of the demo")
    sources.append(damaged)
    if args.corpus and os.path.isdir(args.corpus):
        sources += sorted(glob.glob(os.path.join(args.corpus, "**", "*.mdb"), recursive=True) +
                          glob.glob(os.path.join(args.corpus, "**", "*.accdb"), recursive=True))
    else:
        print("SKIP corpus: no corpus folder", file=sys.stderr)

    # Where the files go is checked before the scan: a file that is no Access
    # database is not even read when the folder cannot take the files.
    notaccess = os.path.join(root, "notes.txt")
    with open(notaccess, "w") as f:
        f.write("not a database\n")
    for folder, said in ((os.path.join(root, "missing"), "does not exist"), (notaccess, "is not a folder")):
        r = run([args.repair, "export", notaccess, "--output-dir", folder, "--no-progress"])
        err = r.stderr.decode(errors="replace")
        if r.returncode == 0 or said not in err or "not an Access database" in err:
            fail("export --output-dir %s: status %d, %r" % (os.path.basename(folder), r.returncode, err))

    # Table names match as Access matches them; an unknown one names the close ones.
    r = run([args.repair, "export", sources[1], "customers", "--format", "jsonl", "--no-progress"])
    if r.returncode != 0 or not r.stdout:
        fail("export of 'customers' (any case): status %d" % r.returncode)
    for asked, said in (("Orderz", "did you mean Orders?"), ("Invoices", "its tables:\n  Customers\n  Orders\n")):
        r = run([args.repair, "export", sources[1], asked, "--no-progress"])
        if r.returncode != 3 or said not in r.stderr.decode(errors="replace"):
            fail("export of %s: status %d, %r" % (asked, r.returncode, r.stderr.decode(errors="replace")))

    # Northwind's employee photos, unwrapped, open as bitmaps.
    nwind = [p for p in sources if os.path.basename(p) == "nwind.mdb"]
    if nwind:
        photos = os.path.join(root, "photos")
        os.makedirs(photos)
        r = run([args.repair, "export", nwind[0], "Employees", "--format", "jsonl", "--ole", "unwrap", "--ole-dir",
                 photos, "--no-progress"])
        files = sorted(os.listdir(photos))
        if r.returncode != 0 or len(files) != 9:
            fail("nwind.mdb: --ole-dir wrote %d photos (status %d)" % (len(files), r.returncode))
        for name in files:
            with open(os.path.join(photos, name), "rb") as f:
                data = f.read()
            size = int.from_bytes(data[2:6], "little")
            if not name.endswith(".bmp") or data[:2] != b"BM" or size not in (len(data), len(data) - 10):
                fail("nwind.mdb: %s is no whole bitmap (%d bytes, header says %d)" % (name, len(data), size))
        rows = [json.loads(line) for line in r.stdout.decode().splitlines()]
        if [row["Photo"] for row in rows] != [os.path.join(photos, name) for name in files]:
            fail("nwind.mdb: the jsonl rows do not name the photo files")

    counts = {}
    for n, source in enumerate(sources):
        result = check_file(args, source, os.path.join(root, "file%d" % n))
        if result is not None:
            counts[source] = result
    print("%d files compared (jsonl, csv, SQLite dump): %d tables, %d rows" %
          (len(counts), sum(len(c) for c in counts.values()), sum(sum(c.values()) for c in counts.values())),
          file=sys.stderr)
    if damaged in counts:
        print("the demo with a zeroed data page: %d rows exported as repaired (%s)" %
              (sum(counts[damaged].values()), ", ".join("%s %d" % t for t in sorted(counts[damaged].items()))),
              file=sys.stderr)
    if args.servers:
        check_servers(args, sources, counts, os.path.join(root, "servers"))
    for folder in SOCKET_FOLDERS:
        shutil.rmtree(folder, ignore_errors=True)
    if FAILURES:
        print("%d failure(s)" % len(FAILURES), file=sys.stderr)
        return 1
    shutil.rmtree(root, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
