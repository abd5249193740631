// Peak resident memory of the command line's repair and preview of a large
// file, which should stay flat however large the file is: the engine keeps
// only a bounded part of the mapped file resident, and the output engine a
// bounded cache. Each runs talmera-repair as a process once per iteration on
// talmera-jetwriter big (Events, with an auto-number column, and Accounts) of
// TALMERA_MEMORY_ROWS rows (default 3,000,000: about 370 MB) and reports
// peak_RSS_MB (the kernel's ru_maxrss of the process) beside the file's size
// (input_MB); bench/run.sh prints them against the 100 MiB the repair may use.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>

#include "bench/BenchFiles.h"

namespace {

namespace fs = std::filesystem;

const std::string& bigFile() {
    static const std::string path = talmera::bench::generatedFile(
        "big", "jet4", talmera::bench::rowsFromEnvironment("TALMERA_MEMORY_ROWS", 3000000));
    return path;
}

void measure(benchmark::State& state, const std::string& arguments) {
    const std::string command = "exec " + std::string(TALMERA_REPAIR) + " " + arguments + " >/dev/null";
    double peak = 0;
    for (auto _ : state) {
        const talmera::bench::CommandRun run = talmera::bench::runCommand(command);
        if (run.status != 0) {
            state.SkipWithError(("talmera-repair " + arguments + " failed").c_str());
            return;
        }
        peak = std::max(peak, run.peakRssMiB);
    }
    state.counters["input_MB"] = static_cast<double>(fs::file_size(bigFile())) / 1e6;
    state.counters["peak_RSS_MB"] = peak;
}

void BM_RepairMemory(benchmark::State& state) {
    std::string pattern = (fs::temp_directory_path() / "talmera-memory-bench-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot create a temporary folder");
    measure(state, "repair '" + bigFile() + "' --output-dir '" + pattern + "' --overwrite");
    std::error_code ec;
    fs::remove_all(pattern, ec);
}
BENCHMARK(BM_RepairMemory)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

void BM_PreviewMemory(benchmark::State& state) { measure(state, "preview '" + bigFile() + "' Events"); }
BENCHMARK(BM_PreviewMemory)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
