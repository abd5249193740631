// Throughput of the scan (page walk, catalog, definitions, usage maps and
// page collection) on a large generated database, beside a plain read of the
// same file, which is the physical limit on this machine, and the scan of an
// encrypted copy of the same tables (its pages decoded first).
//
// The file is generated once with talmera-jetwriter; its size is set with
// TALMERA_BENCH_ROWS (rows of the big table, default 3,000,000: about 400 MB).
#include <benchmark/benchmark.h>

#include <filesystem>
#include <optional>
#include <string>

#include "bench/BenchFiles.h"
#include "engine/ApplicationState.h"
#include "engine/MDBRecovery.h"
#include "platform/MessageReceiver.h"
#include "related/Related.h"

namespace {

const std::string& bigFile() {
    static const std::string path =
        talmera::bench::generatedFile("big", "jet4", talmera::bench::rowsFromEnvironment("TALMERA_BENCH_ROWS", 3000000));
    return path;
}

void BM_ReadWholeFile(benchmark::State& state) { talmera::bench::readWholeFileBenchmark(state, bigFile()); }
BENCHMARK(BM_ReadWholeFile)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same tables in an ACE file with agile encryption (AES-256, SHA-512):
// the scan decodes every page first.
const char kPassword[] = "bench";
const std::string& encryptedFile() {
    static const std::string path = talmera::bench::generatedFile(
        "big", "ace", talmera::bench::rowsFromEnvironment("TALMERA_BENCH_ROWS", 3000000), "agile",
        std::string("--encrypt agile --password ") + kPassword);
    return path;
}

// Answers the password question, and nothing else.
class PasswordAnswer : public talmera::IMessageReceiver {
public:
    intptr_t send(uint32_t, uintptr_t, intptr_t) override { return 0; }
    void post(uint32_t, uintptr_t, intptr_t) override {}
    void showMessageBox(const std::string&, const std::string&) override {}
    void showPlatformMessage(const std::string&) override {}
    std::optional<std::string> askPassword(const std::string&, int) override { return kPassword; }
};

void scanBenchmark(benchmark::State& state, const std::string& path) {
    uint64_t total = 0;
    size_t tables = 0;
    PasswordAnswer receiver;
    for (auto _ : state) {
        talmera::CQuorvinAccessRecoveryApp app;
        talmera::CMDBRecovery engine(app);
        engine.sourcePath = path;
        talmera::InstallRelatedReaders(engine);
        engine.mainWindow = &receiver;
        benchmark::DoNotOptimize(engine.ScanFile());
        total += engine.fileLength;
        tables = engine.tables.size();
    }
    state.SetBytesProcessed(static_cast<int64_t>(total));
    state.counters["tables"] = static_cast<double>(tables);
    state.counters["file_MB"] = static_cast<double>(std::filesystem::file_size(path)) / 1e6;
}

void BM_ScanFile(benchmark::State& state) { scanBenchmark(state, bigFile()); }
BENCHMARK(BM_ScanFile)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ScanEncryptedFile(benchmark::State& state) { scanBenchmark(state, encryptedFile()); }
BENCHMARK(BM_ScanEncryptedFile)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
