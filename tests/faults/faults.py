#!/usr/bin/env python3
"""Faults of the output, from outside: the real talmera-repair writing onto a
full disk or into a read-only folder, and stopped by SIGINT or SIGKILL at
several points of a repair with --overwrite over a previous good output.

    faults.py SCENARIO --repair BIN --jetwriter BIN --work DIR

What each scenario asserts is the sound behaviour: a failed, stopped or killed
save never destroys the previous output (it is byte-identical afterwards, or
replaced by a complete new one), no scratch table stays in any output, and a
save that could not write everything is reported as a failure or a loss,
never as saved. Exit status 77: the scenario cannot be set up here (skipped).
"""

import argparse
import hashlib
import os
import select
import shutil
import signal
import sqlite3
import subprocess
import sys
import time

SKIP = 77
SCRATCH_TABLE = "QTARTable"
ROWS = 100000            # the big file's main table: a save long enough to stop halfway
SMALL_DISK = 2 * 1024 * 1024

# Points of a repair at which it is stopped: a line of its log, and a
# fraction of the time from that line to the next one (measured in a first,
# complete run) to wait after it.
POINTS = {
    "scan": (b"Repairing file...", None, 0.0),
    "save-start": (b"Saving Table.....  Events", None, 0.0),
    "mid-table": (b"Saving Table.....  Events", b"Total record(s) Repaired  :  %d" % ROWS, 0.5),
    "second-table": (b"Saving Table.....  Accounts", None, 0.0),
    "end": (b"Saving process completed", None, 0.0),
}


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def sha1_of(path):
    with open(path, "rb") as f:
        return hashlib.sha1(f.read()).hexdigest()


def table_counts(path):
    """Rows per table of an output database, through SQLite itself; raises
    Failure when it is not a sound SQLite file."""
    try:
        db = sqlite3.connect("file:%s?mode=ro" % path, uri=True)
        status = db.execute("PRAGMA quick_check").fetchone()[0]
        check(status == "ok", "%s fails SQLite's check: %s" % (path, status))
        names = [row[0] for row in db.execute("SELECT name FROM sqlite_master WHERE type = 'table'")]
        counts = {}
        for name in names:
            counts[name] = db.execute('SELECT COUNT(*) FROM "%s"' % name.replace('"', '""')).fetchone()[0]
        db.close()
        return counts
    except sqlite3.Error as e:
        raise Failure("%s cannot be read as SQLite: %s" % (path, e))


class Repair:
    """One run of `talmera-repair repair`, its log read line by line as it is
    written (standard output on a terminal, so that the log is not held in a
    buffer until the end)."""

    def __init__(self, args, arguments, limit_file_size=None):
        self.lines = []
        master, slave = os.openpty()
        self.master = master

        def prepare():
            if limit_file_size is not None:
                import resource
                # A write past the limit then fails with EFBIG instead of
                # killing the process, as a full disk fails with ENOSPC.
                signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
                resource.setrlimit(resource.RLIMIT_FSIZE, (limit_file_size, limit_file_size))

        # Standard error goes to a file: nothing waits on a full pipe.
        self.error_file = open(os.path.join(args.work, "stderr-%d" % time.monotonic_ns()), "w+b")
        self.child = subprocess.Popen([args.repair, "repair"] + arguments, stdin=subprocess.DEVNULL,
                                      stdout=slave, stderr=self.error_file, preexec_fn=prepare,
                                      start_new_session=True)
        os.close(slave)
        self.start = time.monotonic()
        self.pending = b""
        self.times = []
        self.stderr = b""

    def _read(self, timeout):
        ready, _, _ = select.select([self.master], [], [], timeout)
        if not ready:
            return True
        try:
            data = os.read(self.master, 65536)
        except OSError:
            data = b""
        if not data:
            return False
        self.pending += data
        *complete, self.pending = self.pending.split(b"\n")
        now = time.monotonic() - self.start
        for line in complete:
            line = line.rstrip(b"\r")
            self.lines.append(line)
            self.times.append(now)
        return True

    def wait_for_line(self, text, timeout):
        """Reads the log until a line starts with `text`; False when the run
        ended or the time ran out first."""
        deadline = time.monotonic() + timeout
        seen = 0
        while time.monotonic() < deadline:
            for line in self.lines[seen:]:
                if line.startswith(text):
                    return True
            seen = len(self.lines)
            if not self._read(0.002):
                return any(line.startswith(text) for line in self.lines[seen:])
        return False

    def finish(self, timeout):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline and self._read(0.05):
            if self.child.poll() is not None and not select.select([self.master], [], [], 0)[0]:
                break
        try:
            self.child.wait(max(1, deadline - time.monotonic()))
        except subprocess.TimeoutExpired:
            os.killpg(self.child.pid, signal.SIGKILL)
            self.child.wait()
            raise Failure("repair still running after %d s" % timeout)
        self.error_file.seek(0)
        self.stderr = self.error_file.read()
        self.error_file.close()
        os.close(self.master)
        return self.child.returncode

    def log(self):
        return b"\n".join(self.lines).decode("utf-8", "replace")

    def time_of(self, text):
        for line, when in zip(self.lines, self.times):
            if line.startswith(text):
                return when
        return None


def write_database(args, path, kind):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    if kind == "big":
        command = ["big", "--format", "jet4", "--rows", str(ROWS)]
    else:
        # With its object storage: an undamaged file whose repair loses nothing (status 0).
        command = ["demo", "--format", "jet4", "--object-storage"]
    subprocess.run([args.jetwriter] + command + [path], check=True, stdout=subprocess.DEVNULL)
    return path


def output_of(folder, database):
    return os.path.join(folder, "Repaired_%s.sqlite" % os.path.splitext(os.path.basename(database))[0])


def good_output(args, database, folder):
    """A complete repair into `folder`: the previous good output."""
    os.makedirs(folder, exist_ok=True)
    run = Repair(args, ["--output-dir", folder, database])
    status = run.finish(args.timeout)
    check(status == 0, "the first repair failed with status %d:\n%s" % (status, run.log()[-2000:]))
    return run


def no_scratch_anywhere(folder):
    """No output left in the folder holds the scratch table."""
    for name in os.listdir(folder):
        path = os.path.join(folder, name)
        if name.endswith(".sqlite") and os.path.isfile(path):
            counts = table_counts(path)
            check(SCRATCH_TABLE not in counts, "%s keeps the scratch table %s with %d rows"
                  % (name, SCRATCH_TABLE, counts.get(SCRATCH_TABLE, 0)))


def previous_kept(path, digest, counts):
    """The previous output is byte-identical, or replaced by a complete new
    one (the stop came after the new output was in place)."""
    check(os.path.exists(path), "the previous output %s is gone" % path)
    if sha1_of(path) == digest:
        return
    now = table_counts(path)
    differing = {name: (now.get(name), counts.get(name)) for name in set(now) | set(counts)
                 if now.get(name) != counts.get(name)}
    check(not differing, "the previous output was replaced by an incomplete one (table: rows now, rows before): %s"
          % ", ".join("%s: %s, %s" % (name, *differing[name]) for name in sorted(differing)))


# --------------------------------------------------------------------------
# Scenarios

def stop(args, signal_number, point):
    """--overwrite over a previous good output of the same file, stopped at
    `point` by `signal_number`."""
    database = write_database(args, os.path.join(args.work, "source", "big.mdb"), "big")
    folder = os.path.join(args.work, "out")
    first = good_output(args, database, folder)
    destination = output_of(folder, database)
    digest, counts = sha1_of(destination), table_counts(destination)

    line, until, fraction = POINTS[point]
    delay = 0.0
    if until:
        delay = fraction * max(0.0, (first.time_of(until) or 0) - (first.time_of(line) or 0))
    run = Repair(args, ["--overwrite", "--output-dir", folder, database])
    reached = run.wait_for_line(line, args.timeout)
    if reached:
        time.sleep(delay)
        try:
            os.killpg(run.child.pid, signal_number)
        except ProcessLookupError:
            pass
    status = run.finish(args.timeout)
    log = run.log()
    print("stopped at %s (line %s, %.2f s later): status %d" % (point, "reached" if reached else "not reached",
                                                               delay, status))
    print("\n".join(log.splitlines()[-6:]))
    previous_kept(destination, digest, counts)
    if signal_number == signal.SIGINT:
        check(status in (0, 130, -signal.SIGINT), "stopped with Ctrl-C, the repair ended with status %d" % status)
        check("This file is not a valid MS Access file." not in log,
              "a stop during the scan is reported as \"This file is not a valid MS Access file.\"")
        no_scratch_anywhere(folder)
    else:
        # After SIGKILL nothing of the process runs: a new file it had begun
        # may remain, but the previous output must not suffer.
        check(status in (0, -signal.SIGKILL), "killed, the repair ended with status %d" % status)


def stop_fresh(args, point):
    """Ctrl-C halfway through a save with no previous output: the output
    that stays is a sound database without the scratch table."""
    database = write_database(args, os.path.join(args.work, "source", "big.mdb"), "big")
    folder = os.path.join(args.work, "reference")
    first = good_output(args, database, folder)
    line, until, fraction = POINTS[point]
    delay = fraction * max(0.0, (first.time_of(until) or 0) - (first.time_of(line) or 0)) if until else 0.0
    folder = os.path.join(args.work, "out")
    os.makedirs(folder)
    run = Repair(args, ["--output-dir", folder, database])
    if run.wait_for_line(line, args.timeout):
        time.sleep(delay)
        os.killpg(run.child.pid, signal.SIGINT)
    status = run.finish(args.timeout)
    print("stopped at %s: status %d" % (point, status))
    check(status in (0, 130, -signal.SIGINT), "stopped with Ctrl-C, the repair ended with status %d" % status)
    no_scratch_anywhere(folder)


def inside_namespace():
    return bool(os.environ.get("TALMERA_FAULTS_INSIDE"))


def in_mount_namespace():
    """Runs this scenario again in a mount namespace of its own (as root, or
    as root of a user namespace), where it may mount a small file system
    that goes away with it. None when no such namespace can be made."""
    unshare = shutil.which("unshare")
    if not unshare:
        return None
    prefix = [unshare, "--mount", "--propagation", "private"]
    if os.geteuid() != 0:
        prefix = [unshare, "--user", "--map-root-user", "--mount", "--propagation", "private"]
    probe = subprocess.run(prefix + ["true"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    if probe.returncode != 0:
        return None
    env = dict(os.environ, TALMERA_FAULTS_INSIDE="1")
    return subprocess.run(prefix + [sys.executable] + sys.argv, env=env).returncode


def mount_tmpfs(folder, size, read_only=False):
    os.makedirs(folder, exist_ok=True)
    options = "size=%d" % size + (",ro" if read_only else "")
    result = subprocess.run(["mount", "-t", "tmpfs", "-o", options, "talmera-faults", folder],
                            stderr=subprocess.PIPE)
    return result.returncode == 0


def full_disk(args, previous, limit_file_size):
    """A repair of 100,000 rows onto a disk with room for about 2 MB: a
    small tmpfs, or a file-size limit (writes fail with EFBIG) where no file
    system can be mounted. With `previous`, an earlier output of the same
    name (from a small file) is there and --overwrite is given."""
    database = write_database(args, os.path.join(args.work, "source", "big.mdb"), "big")
    folder = os.path.join(args.work, "disk")
    if not limit_file_size:
        if not inside_namespace() or not mount_tmpfs(folder, SMALL_DISK + (512 * 1024 if previous else 0)):
            print("a small tmpfs cannot be mounted here: skipped")
            return SKIP
    else:
        os.makedirs(folder, exist_ok=True)
    destination = output_of(folder, database)
    arguments = ["--output-dir", folder, database]
    digest = counts = None
    if previous:
        small = write_database(args, os.path.join(args.work, "small", "big.mdb"), "small")
        good_output(args, small, folder)
        digest, counts = sha1_of(destination), table_counts(destination)
        arguments = ["--overwrite"] + arguments
    run = Repair(args, arguments, SMALL_DISK if limit_file_size else None)
    status = run.finish(args.timeout)
    log = run.log()
    print("status %d\n%s\n%s" % (status, "\n".join(log.splitlines()[-8:]), run.stderr.decode("utf-8", "replace")))
    check(status in (1, 5), "the full disk ended with status %d (a full disk is a failure or a loss)" % status)
    if status == 5:
        check(os.path.exists(destination), "status 5 says the output was written, but there is none")
    if previous:
        previous_kept(destination, digest, counts)
    no_scratch_anywhere(folder)


def read_only(args, previous, early=False):
    """The output folder cannot be written: the repair fails and nothing in
    the folder changes; `early`: it says so before the scan."""
    database = write_database(args, os.path.join(args.work, "source", "demo.mdb"), "small")
    folder = os.path.join(args.work, "readonly")
    digest = None
    destination = output_of(folder, database)
    if inside_namespace():
        # Permissions do not stop root: a read-only file system does.
        if not mount_tmpfs(folder, SMALL_DISK):
            print("tmpfs cannot be mounted: skipped")
            return SKIP
        if previous:
            good_output(args, database, folder)
            digest = sha1_of(destination)
        subprocess.run(["mount", "-o", "remount,ro", folder], check=True)
    elif os.geteuid() != 0:
        os.makedirs(folder, exist_ok=True)
        if previous:
            good_output(args, database, folder)
            digest = sha1_of(destination)
        os.chmod(folder, 0o555)
    else:
        print("root without a mount namespace: no folder is read-only; skipped")
        return SKIP
    before = sorted(os.listdir(folder))
    run = Repair(args, (["--overwrite"] if previous else []) + ["--output-dir", folder, database])
    status = run.finish(args.timeout)
    if not inside_namespace():
        os.chmod(folder, 0o755)
    log = run.log()
    print("status %d\n%s\n%s" % (status, "\n".join(log.splitlines()[-5:]), run.stderr.decode("utf-8", "replace")))
    check(status == 1, "a read-only output folder ended with status %d" % status)
    check(sorted(os.listdir(folder)) == before, "the read-only folder changed")
    if previous:
        check(sha1_of(destination) == digest, "the previous output changed")
    if early:
        check("Repairing file..." not in log,
              "the scan ran before the output folder was found not writable")


SCENARIOS = {}
for _point in POINTS:
    SCENARIOS["sigint-" + _point] = lambda args, p=_point: stop(args, signal.SIGINT, p)
    SCENARIOS["sigkill-" + _point] = lambda args, p=_point: stop(args, signal.SIGKILL, p)
SCENARIOS["sigint-fresh-mid-table"] = lambda args: stop_fresh(args, "mid-table")
SCENARIOS["full-disk-tmpfs"] = lambda args: full_disk(args, False, False)
SCENARIOS["full-disk-tmpfs-overwrite"] = lambda args: full_disk(args, True, False)
SCENARIOS["full-disk-fsize"] = lambda args: full_disk(args, False, True)
SCENARIOS["full-disk-fsize-overwrite"] = lambda args: full_disk(args, True, True)
SCENARIOS["read-only-folder"] = lambda args: read_only(args, False)
SCENARIOS["read-only-folder-overwrite"] = lambda args: read_only(args, True)
SCENARIOS["read-only-folder-early"] = lambda args: read_only(args, False, True)
# Scenarios that mount a small file system where a mount namespace can be made.
NEEDS_MOUNT = {"full-disk-tmpfs", "full-disk-tmpfs-overwrite", "read-only-folder", "read-only-folder-overwrite",
               "read-only-folder-early"}


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("scenario", choices=sorted(SCENARIOS))
    parser.add_argument("--repair", required=True)
    parser.add_argument("--jetwriter", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--timeout", type=float, default=600)
    args = parser.parse_args()
    if args.scenario in NEEDS_MOUNT and not inside_namespace():
        status = in_mount_namespace()
        if status is not None:
            return status
    shutil.rmtree(args.work, ignore_errors=True)
    os.makedirs(args.work, exist_ok=True)
    try:
        status = SCENARIOS[args.scenario](args)
    except Failure as e:
        print("FAIL %s: %s" % (args.scenario, e))
        return 1
    if status == SKIP:
        return SKIP
    print("passed: %s" % args.scenario)
    return 0


if __name__ == "__main__":
    sys.exit(main())
