// The whole repair of a large generated database into SQLite, beside the
// usual way people move Access data into SQLite today: mdbtools' schema and
// INSERT statements piped into the sqlite3 shell.
//
// Both sides run as processes on the same file, output written to the temp
// folder:
//   BM_Repair          talmera-repair repair FILE --overwrite (scan, decode
//                      of every row with its memos and OLE values, typed
//                      write, indexes, close)
//   BM_MdbToolsSqlite  mdb-schema FILE sqlite | sqlite3 OUT, then
//                      (BEGIN; mdb-export -I sqlite -b hex FILE TABLE for
//                      every table; COMMIT) | sqlite3 OUT. The export is
//                      wrapped in one transaction (without it, sqlite3
//                      commits every statement and takes hours) and OLE bytes
//                      are written as hex literals (raw bytes break the
//                      statements).
// Each runs on two files: "events" (talmera-jetwriter big: Events, whose
// auto-number column takes the save through its scratch table, and Accounts;
// about 122 MB at 1,000,000 rows) and "ledger" (bench-rows: one table of
// mixed values with memos and OLE objects; about 240 MB). Each checks that the
// output holds every row of the largest table and reports output_MB and
// peak_RSS_MB (the peak resident memory of the repair process; of the largest
// process of the pipeline). bench/run.sh prints the ratios of the two sides.
// TALMERA_SAVE_ROWS sets the rows (default 1,000,000).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/BenchFiles.h"

namespace {

namespace fs = std::filesystem;

size_t tableRows() {
    static const size_t rows = talmera::bench::rowsFromEnvironment("TALMERA_SAVE_ROWS", 1000000);
    return rows;
}

// One input: the writer's subcommand, its tables, and the one whose rows are counted.
struct Input {
    const char* subcommand;
    std::vector<std::string> tables;
    const char* counted;
    const std::string& file() const {
        static std::string events, ledger;
        std::string& path = std::string(subcommand) == "big" ? events : ledger;
        if (path.empty()) path = talmera::bench::generatedFile(subcommand, "jet4", tableRows());
        return path;
    }
};
const Input kEvents{"big", {"Events", "Accounts"}, "Events"};
const Input kLedger{"bench-rows", {"Ledger"}, "Ledger"};

// A fresh, private output folder for one benchmark.
struct OutputFolder {
    OutputFolder() {
        std::string pattern = (fs::temp_directory_path() / "talmera-save-bench-XXXXXX").string();
        if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot create a temporary folder");
        path = pattern;
    }
    ~OutputFolder() {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
    std::string path;
};

std::string shellQuoted(const std::string& s) { return "'" + s + "'"; }

// The rows of a table in a SQLite file, counted by the sqlite3 shell.
size_t countRows(const std::string& database, const std::string& table) {
    const std::string command = "sqlite3 " + shellQuoted(database) + " 'SELECT count(*) FROM \"" + table + "\"'";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return 0;
    unsigned long long n = 0;
    if (std::fscanf(pipe, "%llu", &n) != 1) n = 0;
    pclose(pipe);
    return static_cast<size_t>(n);
}

bool finish(benchmark::State& state, const Input& input, const std::string& output, double peakRssMiB) {
    const size_t rows = countRows(output, input.counted);
    if (rows != tableRows()) {
        state.SkipWithError(("the output holds " + std::to_string(rows) + " of " + std::to_string(tableRows()) +
                             " rows")
                                .c_str());
        return false;
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * fs::file_size(input.file())));
    state.counters["rows"] = static_cast<double>(rows);
    state.counters["rows_per_s"] =
        benchmark::Counter(static_cast<double>(rows), benchmark::Counter::kIsIterationInvariantRate);
    state.counters["input_MB"] = static_cast<double>(fs::file_size(input.file())) / 1e6;
    state.counters["output_MB"] = static_cast<double>(fs::file_size(output)) / 1e6;
    state.counters["peak_RSS_MB"] = peakRssMiB;
    return true;
}

void BM_Repair(benchmark::State& state, const Input& input) {
    const std::string& source = input.file();
    OutputFolder folder;
    const std::string command = "exec " + std::string(TALMERA_REPAIR) + " repair " + shellQuoted(source) +
                                " --output-dir " + shellQuoted(folder.path) + " --overwrite >/dev/null";
    double peak = 0;
    for (auto _ : state) {
        const talmera::bench::CommandRun run = talmera::bench::runCommand(command);
        if (run.status != 0) {
            state.SkipWithError("talmera-repair failed");
            return;
        }
        peak = std::max(peak, run.peakRssMiB);
    }
    finish(state, input, folder.path + "/Repaired_" + fs::path(source).stem().string() + ".sqlite", peak);
}
BENCHMARK_CAPTURE(BM_Repair, events, kEvents)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_Repair, ledger, kLedger)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_MdbToolsSqlite(benchmark::State& state, const Input& input) {
    if (std::system("command -v mdb-export >/dev/null 2>&1 && command -v sqlite3 >/dev/null 2>&1") != 0) {
        state.SkipWithError("mdbtools or sqlite3 is not installed");
        return;
    }
    const std::string& source = input.file();
    OutputFolder folder;
    const std::string output = folder.path + "/mdbtools.sqlite";
    std::string exports;
    for (const std::string& table : input.tables)
        exports += "mdb-export -I sqlite -b hex " + shellQuoted(source) + " " + table + "; ";
    const std::string command = "rm -f " + shellQuoted(output) + " && mdb-schema " + shellQuoted(source) +
                                " sqlite | sqlite3 " + shellQuoted(output) + " && (echo 'BEGIN;'; " + exports +
                                "echo 'COMMIT;') | sqlite3 " + shellQuoted(output);
    double peak = 0;
    for (auto _ : state) {
        const talmera::bench::CommandRun run = talmera::bench::runCommand(command);
        if (run.status != 0) {
            state.SkipWithError("the mdbtools pipeline failed");
            return;
        }
        peak = std::max(peak, run.peakRssMiB);
    }
    finish(state, input, output, peak);
}
BENCHMARK_CAPTURE(BM_MdbToolsSqlite, events, kEvents)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_MdbToolsSqlite, ledger, kLedger)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
