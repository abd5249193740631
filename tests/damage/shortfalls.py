"""Where today's repair falls short of the damage matrix's rules.

Each entry names a source file (its name; "*" for every file), a damage mode,
the check that falls short and the table ("*" for any), and why: what the
repair does not do yet. The matrix fails on a shortfall outside this list and
on an entry that no longer happens, so that the list stays the truth: whoever
makes the repair meet a rule removes its entries here.

`when`: None, or CATALOG_HIT for a shortfall that happens only where the
damage destroyed data pages of the object catalog (MSysObjects).

Checks: "rows" (preview misses rows of a table whose pages the damage left
whole), "saved" (the repair's output misses them), or a fault of a run
("crash", "sanitizer", "hang", "memory", "exit", "output", "json").
"""

import fnmatch
from collections import namedtuple

Shortfall = namedtuple("Shortfall", "file mode check table when why")

CATALOG_HIT = "catalog-hit"

SHORTFALLS = [
    # A lost catalog is a lost database today: where the damage destroyed
    # data pages of MSysObjects (zeroed pages, the cut end of a file whose
    # catalog pages come last), the tables whose definitions and rows are
    # whole are not found from their definition pages; the run ends "This
    # file is not a valid MS Access file." or lists only the tables whose
    # catalog rows survived. Waits for the recovery of tables without a
    # catalog entry ("RecoveredTable" + a number; matched here by their
    # definition page).
    Shortfall("*", "*", "rows", "*", CATALOG_HIT,
              "tables without a readable catalog row are not recovered from their definitions"),
    Shortfall("*", "*", "saved", "*", CATALOG_HIT,
              "tables without a readable catalog row are not saved"),
    # Zeroed usage maps: every page the table owns is read, so Northwind's
    # Umsätze gets the 2,049 rows of its 257 stale pages, older states of the
    # table. Waits for the choice of live pages by evidence rather than by
    # the map alone.
    Shortfall("nwind.mdb", "zero-usage-maps", "extra", "Umsätze", None,
              "stale pages are read when the usage map is gone"),
]


def _applies(entry, file, mode, failure):
    return (fnmatch.fnmatchcase(file, entry.file) and fnmatch.fnmatchcase(mode, entry.mode)
            and entry.check == failure["kind"] and fnmatch.fnmatchcase(failure["table"], entry.table)
            and (entry.when != CATALOG_HIT or failure.get("catalogHit")))


def match(file, mode, seed, failure):
    """The entry that lists this failure, or None."""
    for entry in SHORTFALLS:
        if _applies(entry, file, mode, failure):
            return entry
    return None


def stale(records, ran):
    """Entries that matched no failure of the runs made, among those whose
    file and mode were run."""
    result = []
    for entry in SHORTFALLS:
        relevant = [(f, m) for f, m in ran if fnmatch.fnmatchcase(f, entry.file) and fnmatch.fnmatchcase(m, entry.mode)]
        if not relevant:
            continue
        if not any(_applies(entry, r["file"], r["mode"], failure) for r in records for failure in r["known"]):
            result.append(entry)
    return result
