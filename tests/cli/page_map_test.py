"""talmera-repair map: the SVG is well-formed XML, has one cell per page of a
damaged demo database, and its kinds, owners and lost rows agree with the
file's own bytes and the writer's layout."""
import json
import os
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET

SVG = "{http://www.w3.org/2000/svg}"


def kind_of(page_number, page, jet4):
    """What a page is, read from its own bytes."""
    if page_number == 0:
        return "header"
    if not any(page):
        return "zeroed"
    kind = page[0]
    if kind == 1:
        owner = int.from_bytes(page[4:8], "little")
        rows = int.from_bytes(page[12:14] if jet4 else page[8:10], "little")
        if owner == 0x4C41564C:
            return "longvalue"
        if owner == page_number or (page_number == 1 and owner == 0):
            return "usagemap"
        if rows == 0:
            return "free"
        return "catalog" if owner == 2 else "data"
    return {2: "definition", 3: "index", 4: "index", 5: "usagemap"}.get(kind, "unreadable")


def check(repair, jetwriter, work, fmt):
    plain = os.path.join(work, f"demo-{fmt}.mdb")
    layout = json.loads(subprocess.run([jetwriter, "demo", plain, "--format", fmt, "--print-layout"],
                                       check=True, capture_output=True, text=True).stdout.split("\nwrote")[0])
    orders = next(t for t in layout["tables"] if t["name"] == "Orders")
    zeroed = orders["dataPages"][len(orders["dataPages"]) // 2]
    damaged = os.path.join(work, f"zeroed-{fmt}.mdb")
    subprocess.run([jetwriter, "demo", damaged, "--format", fmt, "--zero-page", str(zeroed)], check=True,
                   capture_output=True)
    svg_path = os.path.join(work, f"map-{fmt}.svg")
    run = subprocess.run([repair, "map", damaged, "--svg", svg_path], capture_output=True, text=True)
    assert run.returncode == 0, run.stderr

    root = ET.parse(svg_path).getroot()  # raises on XML that is not well-formed
    cells = [r for r in root.iter(SVG + "rect") if r.get("data-first") is not None]
    data = open(damaged, "rb").read()
    size = layout["pageSize"]
    pages = len(data) // size
    assert len(cells) == pages, (len(cells), pages)
    expected = {}
    for number, cell in enumerate(cells):
        assert int(cell.get("data-first")) == number and cell.get("data-pages") == "1"
        want = kind_of(number, data[number * size:(number + 1) * size], fmt != "jet3")
        assert cell.get("data-kind") == want, (fmt, number, cell.get("data-kind"), want)
        expected[want] = expected.get(want, 0) + 1
        title = cell.find(SVG + "title").text
        assert title.startswith(f"page {number}: "), title

    # Every data page of a table names the table; the zeroed one its rows' loss.
    for table in layout["tables"]:
        for page in table["dataPages"]:
            title = cells[page].find(SVG + "title").text
            assert f"table {table['name']})" in title, title
    lost = [c for c in cells if c.get("data-lost") == "1"]
    assert [int(c.get("data-first")) for c in lost] == [zeroed], [c.get("data-first") for c in lost]
    assert cells[zeroed].get("data-kind") == "zeroed"
    assert cells[zeroed].find(SVG + "title").text == f"page {zeroed}: zeroed (table Orders); rows lost"

    # The legend counts what the cells show, and the text listing the same.
    legend = {t.get("data-kind"): int(t.get("data-count")) for t in root.iter(SVG + "text") if t.get("data-count")}
    assert legend.pop("lost") == 1
    assert {k: v for k, v in legend.items() if v} == expected, (legend, expected)
    listing = subprocess.run([repair, "map", damaged], check=True, capture_output=True, text=True).stdout
    counts = dict(line.split("\t") for line in listing.splitlines())
    assert {k: int(v) for k, v in counts.items() if int(v) and k != "lost"} == expected


def main():
    repair, jetwriter = sys.argv[1], sys.argv[2]
    with tempfile.TemporaryDirectory() as work:
        for fmt in ("jet3", "jet4", "ace"):
            check(repair, jetwriter, work, fmt)
        # The picture never replaces the database it pictures.
        source = os.path.join(work, "zeroed-jet4.mdb")
        before = open(source, "rb").read()
        run = subprocess.run([repair, "map", source, "--svg", source], capture_output=True, text=True)
        assert run.returncode != 0 and open(source, "rb").read() == before, run.returncode
    print("page map ok")


if __name__ == "__main__":
    main()
