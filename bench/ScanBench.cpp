// Throughput of the scan (page walk, catalog, definitions, usage maps and
// page collection) on a large generated database, beside a plain read of the
// same file, which is the physical limit on this machine.
//
// The file is generated once with talmera-jetwriter; its size is set with
// TALMERA_BENCH_ROWS (rows of the big table, default 3,000,000: about 400 MB).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/ApplicationState.h"
#include "engine/MDBRecovery.h"

namespace {

const std::string& bigFile() {
    static const std::string path = [] {
        const char* rows = std::getenv("TALMERA_BENCH_ROWS");
        const std::string count = rows ? rows : "3000000";
        const std::string file =
            (std::filesystem::temp_directory_path() / ("talmera-bench-" + count + ".mdb")).string();
        if (!std::filesystem::exists(file)) {
            const std::string command = std::string(TALMERA_JETWRITER) + " big --format jet4 --rows " + count +
                                        " '" + file + ".part' >/dev/null && mv '" + file + ".part' '" + file + "'";
            if (std::system(command.c_str()) != 0) throw std::runtime_error("cannot generate " + file);
        }
        return file;
    }();
    return path;
}

void BM_ReadWholeFile(benchmark::State& state) {
    const std::string& path = bigFile();
    std::vector<char> buffer(1 << 20);
    uint64_t total = 0;
    for (auto _ : state) {
        const int fd = open(path.c_str(), O_RDONLY);
        ssize_t n;
        while ((n = read(fd, buffer.data(), buffer.size())) > 0) total += static_cast<uint64_t>(n);
        close(fd);
    }
    state.SetBytesProcessed(static_cast<int64_t>(total));
}
BENCHMARK(BM_ReadWholeFile)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ScanFile(benchmark::State& state) {
    const std::string& path = bigFile();
    uint64_t total = 0;
    size_t tables = 0;
    for (auto _ : state) {
        talmera::CQuorvinAccessRecoveryApp app;
        talmera::CMDBRecovery engine(app);
        engine.sourcePath = path;
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
