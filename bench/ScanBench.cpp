// Throughput of the scan (page walk, catalog, definitions, usage maps and
// page collection) on a large generated database, beside a plain read of the
// same file, which is the physical limit on this machine.
//
// The file is generated once with talmera-jetwriter; its size is set with
// TALMERA_BENCH_ROWS (rows of the big table, default 3,000,000: about 400 MB).
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>

#include "bench/BenchFiles.h"
#include "engine/ApplicationState.h"
#include "engine/MDBRecovery.h"
#include "related/Related.h"

namespace {

const std::string& bigFile() {
    static const std::string path =
        talmera::bench::generatedFile("big", "jet4", talmera::bench::rowsFromEnvironment("TALMERA_BENCH_ROWS", 3000000));
    return path;
}

void BM_ReadWholeFile(benchmark::State& state) { talmera::bench::readWholeFileBenchmark(state, bigFile()); }
BENCHMARK(BM_ReadWholeFile)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ScanFile(benchmark::State& state) {
    const std::string& path = bigFile();
    uint64_t total = 0;
    size_t tables = 0;
    for (auto _ : state) {
        talmera::CQuorvinAccessRecoveryApp app;
        talmera::CMDBRecovery engine(app);
        engine.sourcePath = path;
        talmera::InstallRelatedReaders(engine);
        benchmark::DoNotOptimize(engine.ScanFile());
        total += engine.fileLength;
        tables = engine.tables.size();
    }
    state.SetBytesProcessed(static_cast<int64_t>(total));
    state.counters["tables"] = static_cast<double>(tables);
    state.counters["file_MB"] = static_cast<double>(std::filesystem::file_size(path)) / 1e6;
}
BENCHMARK(BM_ScanFile)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
