// How the whole repair grows with the rows: `talmera-repair repair` of the
// writer's two benchmark files (big: Events with its auto-number and
// Accounts; bench-rows: one table of mixed values with memos and OLE objects)
// at several row counts, in Jet 4 and ACE. Each run is one process; the
// counters give rows per second, the peak resident memory of the process,
// and the sizes of the input and the output, so that bench/ratios.py can
// print the table that shows the cost linear in rows and memory flat.
//
// TALMERA_SCALE_ROWS: the row counts, comma-separated (default
// 100000,1000000,3000000,10000000). The largest files are generated once
// into the temp folder (a 10M-row bench-rows file is about 2.4 GB).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "bench/BenchFiles.h"

namespace {

namespace fs = std::filesystem;

std::vector<size_t> rowCounts() {
    const char* text = std::getenv("TALMERA_SCALE_ROWS");
    std::vector<size_t> counts;
    std::stringstream list(text && *text ? text : "100000,1000000,3000000,10000000");
    for (std::string item; std::getline(list, item, ',');) {
        char* end = nullptr;
        const unsigned long long rows = std::strtoull(item.c_str(), &end, 10);
        if (item.empty() || *end != '\0' || rows == 0)
            throw std::invalid_argument("TALMERA_SCALE_ROWS must list positive numbers, separated by commas");
        counts.push_back(static_cast<size_t>(rows));
    }
    return counts;
}

void BM_RepairScale(benchmark::State& state, const std::string& subcommand, const std::string& format, size_t rows) {
    const std::string source = talmera::bench::generatedFile(subcommand, format, rows);
    std::string folder = (fs::temp_directory_path() / "talmera-scale-bench-XXXXXX").string();
    if (!mkdtemp(folder.data())) {
        state.SkipWithError("cannot create a temporary folder");
        return;
    }
    const std::string command = "exec " + std::string(TALMERA_REPAIR) + " repair '" + source + "' --output-dir '" +
                                folder + "' --overwrite >/dev/null";
    double peak = 0;
    for (auto _ : state) {
        const talmera::bench::CommandRun run = talmera::bench::runCommand(command);
        if (run.status != 0) {
            state.SkipWithError("talmera-repair failed");
            break;
        }
        peak = std::max(peak, run.peakRssMiB);
    }
    const fs::path output = fs::path(folder) / ("Repaired_" + fs::path(source).stem().string() + ".sqlite");
    std::error_code ec;
    state.counters["rows"] = static_cast<double>(rows);
    state.counters["rows_per_s"] =
        benchmark::Counter(static_cast<double>(rows), benchmark::Counter::kIsIterationInvariantRate);
    state.counters["input_MB"] = static_cast<double>(fs::file_size(source)) / 1e6;
    state.counters["output_MB"] = fs::exists(output, ec) ? static_cast<double>(fs::file_size(output)) / 1e6 : 0;
    state.counters["peak_RSS_MB"] = peak;
    fs::remove_all(folder, ec);
}

}  // namespace

int main(int argc, char** argv) {
    for (const char* format : {"jet4", "ace"})
        for (const char* subcommand : {"big", "bench-rows"})
            for (size_t rows : rowCounts()) {
                const std::string name =
                    std::string("BM_RepairScale/") + subcommand + "/" + format + "/" + std::to_string(rows);
                benchmark::RegisterBenchmark(name.c_str(), BM_RepairScale, std::string(subcommand),
                                             std::string(format), rows)
                    ->Unit(benchmark::kMillisecond)
                    ->UseRealTime()
                    ->Iterations(1);
            }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
