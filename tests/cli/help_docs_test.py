#!/usr/bin/env python3
"""The help in its three forms: --help wrapped to the width asked, the manual
page renders without a warning and names every command, and the bash
completion script loads and completes commands, option values and the table
names of the FILE on the line."""
import os
import subprocess
import sys
import tempfile

repair, jetwriter, man_page, completion = sys.argv[1:5]
failures = []


def check(ok, message):
    if not ok:
        failures.append(message)
        print("FAIL: " + message, file=sys.stderr)


def run(args, **kwargs):
    return subprocess.run(args, capture_output=True, text=True, **kwargs)


commands = ["repair", "scan", "catalog", "queries", "attachments", "objects", "preview", "export"]

# --help and help COMMAND, wrapped to $COLUMNS when standard output is no terminal.
for width in (60, 100):
    env = dict(os.environ, COLUMNS=str(width))
    for args in ([repair, "--help"], [repair, "help", "export"], [repair, "export", "--help"]):
        r = run(args, env=env)
        check(r.returncode == 0, "%s: status %d" % (args[1:], r.returncode))
        long = [line for line in r.stdout.splitlines() if len(line) > width and " " in line.strip()]
        check(not long, "%s at %d columns: lines too long: %r" % (args[1:], width, long[:2]))
r = run([repair, "--help"], env=dict(os.environ, COLUMNS="80"))
check("Examples:" in r.stdout and "mdb-export" in r.stdout, "--help has no examples or mdbtools' names")
check(run([repair, "help", "export"]).stdout == run([repair, "export", "--help"]).stdout,
      "help export differs from export --help")
r = run([repair, "help", "export"])
for short in ("-d,", "-q,", "-X,", "-H,", "-0,", "-D,", "-T,", "-b,", "-R,", "-I,"):
    check(short in r.stdout, "export has no short option %s" % short.rstrip(","))

# The manual page: groff reports every warning (-ww), man renders it.
r = run(["groff", "-man", "-Tutf8", "-ww", "-z", man_page])
check(r.returncode == 0 and not r.stderr, "groff warns about the man page: %s" % r.stderr)
r = run(["man", "-l", "-P", "cat", man_page], env=dict(os.environ, MANWIDTH="80"))
check(r.returncode == 0, "man -l ended with %d: %s" % (r.returncode, r.stderr))
for command in commands:
    check("\n   %s\n" % command in r.stdout, "the man page has no section for %s" % command)
check("EXIT STATUS" in r.stdout and "--delimiter" in r.stdout, "the man page lacks the exit status or options")

# The completion script, loaded in a bash of its own.
with tempfile.TemporaryDirectory() as work:
    demo = os.path.join(work, "demo.mdb")
    subprocess.run([jetwriter, "demo", "--format", "jet4", demo], check=True, capture_output=True)
    script = r'''
source "$1"
PATH="$(dirname "$2"):$PATH"
complete -p talmera-repair >/dev/null || exit 9
t() { COMP_WORDS=("$@"); COMP_CWORD=$(( ${#COMP_WORDS[@]} - 1 )); COMPREPLY=(); _talmera_repair; (IFS='|'; echo "${COMPREPLY[*]}"); }
t talmera-repair ex
t talmera-repair export --for
t talmera-repair export --format ""
t talmera-repair --quiet export --format jsonl "$3" ""
t talmera-repair preview "$3" O
t talmera-repair repair "$3" --only C
t talmera-repair help pre
'''
    r = run(["bash", "--norc", "-c", script, "bash", completion, repair, demo])
    check(r.returncode == 0 and not r.stderr, "the completion script: status %d, %s" % (r.returncode, r.stderr))
    got = r.stdout.splitlines()
    expected = ["export", "--format", "csv|tsv|jsonl|sql", "Customers|Orders", "Orders", "Customers", "preview"]
    check(got == expected, "completions %r, expected %r" % (got, expected))

if failures:
    sys.exit(1)
print("help, man page and completion checked")
