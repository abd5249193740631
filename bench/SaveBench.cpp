// The whole repair of one large generated table into SQLite, beside the usual
// way people move Access data into SQLite today: mdbtools' schema and
// INSERT statements piped into the sqlite3 shell.
//
// Both sides run as processes on the same file, output written to the temp
// folder:
//   BM_Repair          talmera-repair repair FILE --overwrite (scan, decode
//                      of every row with its memos and OLE values, typed
//                      write, indexes, close)
//   BM_MdbToolsSqlite  mdb-schema FILE sqlite | sqlite3 OUT, then
//                      (BEGIN; mdb-export -I sqlite -b hex FILE Ledger; COMMIT)
//                      | sqlite3 OUT. The export is wrapped in one transaction
//                      (without it, sqlite3 commits every statement and takes
//                      hours) and OLE bytes are written as hex literals (raw
//                      bytes break the statements).
// Each checks that the output holds every row. TALMERA_SAVE_ROWS sets the
// rows (default 1,000,000; about 240 MB).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "bench/BenchFiles.h"

namespace {

namespace fs = std::filesystem;

size_t tableRows() {
    static const size_t rows = talmera::bench::rowsFromEnvironment("TALMERA_SAVE_ROWS", 1000000);
    return rows;
}

const std::string& ledgerFile() {
    static const std::string path = talmera::bench::generatedFile("bench-rows", "jet4", tableRows());
    return path;
}

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

// The rows of Ledger in a SQLite file, counted by the sqlite3 shell.
size_t countRows(const std::string& database) {
    const std::string command = "sqlite3 " + shellQuoted(database) + " 'SELECT count(*) FROM Ledger'";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return 0;
    unsigned long long n = 0;
    if (std::fscanf(pipe, "%llu", &n) != 1) n = 0;
    pclose(pipe);
    return static_cast<size_t>(n);
}

bool finish(benchmark::State& state, const std::string& output) {
    const size_t rows = countRows(output);
    if (rows != tableRows()) {
        state.SkipWithError(("the output holds " + std::to_string(rows) + " of " + std::to_string(tableRows()) +
                             " rows")
                                .c_str());
        return false;
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * fs::file_size(ledgerFile())));
    state.counters["rows"] = static_cast<double>(rows);
    state.counters["rows_per_s"] =
        benchmark::Counter(static_cast<double>(rows), benchmark::Counter::kIsIterationInvariantRate);
    state.counters["output_MB"] = static_cast<double>(fs::file_size(output)) / 1e6;
    return true;
}

void BM_Repair(benchmark::State& state) {
    const std::string& source = ledgerFile();
    OutputFolder folder;
    const std::string command = std::string(TALMERA_REPAIR) + " repair " + shellQuoted(source) + " --output-dir " +
                                shellQuoted(folder.path) + " --overwrite >/dev/null";
    for (auto _ : state) {
        if (std::system(command.c_str()) != 0) {
            state.SkipWithError("talmera-repair failed");
            return;
        }
    }
    finish(state, folder.path + "/Repaired_" + fs::path(source).stem().string() + ".sqlite");
}
BENCHMARK(BM_Repair)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_MdbToolsSqlite(benchmark::State& state) {
    if (std::system("command -v mdb-export >/dev/null 2>&1 && command -v sqlite3 >/dev/null 2>&1") != 0) {
        state.SkipWithError("mdbtools or sqlite3 is not installed");
        return;
    }
    const std::string& source = ledgerFile();
    OutputFolder folder;
    const std::string output = folder.path + "/mdbtools.sqlite";
    const std::string command = "rm -f " + shellQuoted(output) + " && mdb-schema " + shellQuoted(source) + " sqlite | sqlite3 " +
                                shellQuoted(output) + " && (echo 'BEGIN;'; mdb-export -I sqlite -b hex " + shellQuoted(source) +
                                " Ledger; echo 'COMMIT;') | sqlite3 " + shellQuoted(output);
    for (auto _ : state) {
        if (std::system(command.c_str()) != 0) {
            state.SkipWithError("the mdbtools pipeline failed");
            return;
        }
    }
    finish(state, output);
}
BENCHMARK(BM_MdbToolsSqlite)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
