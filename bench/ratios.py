"""Prints the ratios the benchmarks are judged by, from Google Benchmark's
JSON output files (bench/run.sh passes them): the whole repair against the
mdbtools pipeline (time and output size), decoding against mdb-export, and
peak memory against what the repair may use. Where a benchmark is repeated,
its best time counts."""
import json
import sys

MEMORY_LIMIT_MIB = 100


def runs(paths):
    best = {}
    for path in paths:
        with open(path) as f:
            for b in json.load(f).get("benchmarks", []):
                if b.get("run_type") != "iteration" or b.get("error_occurred"):
                    continue
                name = b["run_name"].replace("/real_time", "").split("/iterations:")[0]
                kept = best.get(name)
                if kept is None or b["real_time"] < kept["real_time"]:
                    best[name] = b
    return best


def main(paths):
    best = runs(paths)
    lines = []
    for name in sorted(best):
        if not name.startswith("BM_Repair/"):
            continue
        case = name.split("/", 1)[1]
        ours, theirs = best[name], best.get("BM_MdbToolsSqlite/" + case)
        if not theirs:
            continue
        lines.append(
            f"repair {case} ({ours.get('input_MB', 0):.0f} MB, {ours.get('rows', 0):.0f} rows): "
            f"{theirs['real_time'] / ours['real_time']:.2f}x faster than the mdbtools pipeline "
            f"({ours['real_time'] / 1000:.2f} s against {theirs['real_time'] / 1000:.2f} s); output "
            f"{ours['output_MB'] / theirs['output_MB']:.2f}x the pipeline's ({ours['output_MB']:.0f} MB against "
            f"{theirs['output_MB']:.0f} MB); peak RSS {ours['peak_RSS_MB']:.0f} MiB")
    export = best.get("BM_MdbExport")
    for name in ("BM_DecodeAllRows", "BM_DecodePreview"):
        if export and name in best:
            lines.append(f"{name[3:]}: {export['real_time'] / best[name]['real_time']:.2f}x faster than mdb-export "
                         f"({best[name]['real_time'] / 1000:.2f} s against {export['real_time'] / 1000:.2f} s)")
    for name in ("BM_RepairMemory", "BM_PreviewMemory"):
        if name in best:
            b = best[name]
            verdict = "within" if b["peak_RSS_MB"] <= MEMORY_LIMIT_MIB else "OVER"
            lines.append(f"{name[3:]}: peak RSS {b['peak_RSS_MB']:.0f} MiB on a {b['input_MB']:.0f} MB file "
                         f"({verdict} {MEMORY_LIMIT_MIB} MiB)")
    scale = sorted((b for name, b in best.items() if name.startswith("BM_RepairScale/")),
                   key=lambda b: (b["run_name"].split("/")[2], b["run_name"].split("/")[1], b["rows"]))
    if scale:
        print("\nRepair by rows (wall, rows/s, peak RSS, input and output size)")
        print("  | file | format | rows | wall | rows/s | peak RSS | input | output |")
        print("  |---|---|---|---|---|---|---|---|")
        for b in scale:
            _, subcommand, format_, _ = b["run_name"].split("/")[:4]
            print(f"  | {subcommand} | {format_} | {b['rows']:,.0f} | {b['real_time'] / 1000:.2f} s | "
                  f"{b['rows_per_s']:,.0f} | {b['peak_RSS_MB']:.0f} MiB | {b['input_MB']:.0f} MB | "
                  f"{b['output_MB']:.0f} MB |")
    if lines:
        print("\nRatios")
        for line in lines:
            print("  " + line)


if __name__ == "__main__":
    main(sys.argv[1:])
