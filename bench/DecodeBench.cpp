// Throughput of row decoding: every row of one large generated table, as the
// save decodes it (memos and OLE objects read in full) and as the preview does
// (long values left as placeholders), beside mdb-export of the same table and
// a plain read of the file, the physical limit on this machine.
//
// The table (Ledger, talmera-jetwriter bench-rows) mixes long, text, double,
// date/time, currency and Yes/No columns with memo values in the row, on one
// long-value row and chained over pages, and OLE values in the row, on one
// long-value row and over pages. TALMERA_DECODE_ROWS sets its rows (default
// 1,000,000: about 240 MB).
//
// Memory: peak_RSS_MB is the process's VmHWM at the end of the benchmark (the
// peak is reset when it starts). The engine maps the file and keeps only a
// bounded part of the map resident, so it should not grow with the file
// either. peak_anon_MB is the largest RssAnon
// seen while decoding, the memory the decoder itself allocates; it should not
// grow with the rows.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "bench/BenchFiles.h"
#include "engine/ApplicationState.h"
#include "engine/MDBRecovery.h"
#include "related/Related.h"

namespace {

constexpr const char* kTable = "Ledger";

size_t tableRows() {
    static const size_t rows = talmera::bench::rowsFromEnvironment("TALMERA_DECODE_ROWS", 1000000);
    return rows;
}

const std::string& ledgerFile() {
    static const std::string path = talmera::bench::generatedFile("bench-rows", "jet4", tableRows());
    return path;
}

// A field of /proc/self/status in kB ("VmHWM", "RssAnon"), or 0.
double statusKb(const char* field) {
    std::ifstream in("/proc/self/status");
    const std::string prefix = std::string(field) + ":";
    for (std::string line; std::getline(in, line);) {
        if (line.compare(0, prefix.size(), prefix) == 0) return std::atof(line.c_str() + prefix.size());
    }
    return 0;
}

// Starts a new VmHWM from the current RSS (so that earlier benchmarks do not count).
void resetPeak() {
    std::ofstream out("/proc/self/clear_refs");
    out << "5";
}

// readLongValues and makeText as the save (true, false) and the preview
// (false, true) pass them.
void decodeTable(benchmark::State& state, bool readLongValues, bool makeText) {
    const std::string& path = ledgerFile();
    resetPeak();
    uint64_t fileBytes = 0, rows = 0, valueBytes = 0, incomplete = 0;
    double peakAnonKb = 0;
    for (auto _ : state) {
        talmera::CQuorvinAccessRecoveryApp app;
        talmera::CMDBRecovery engine(app);
        engine.sourcePath = path;
        talmera::InstallRelatedReaders(engine);
        if (!engine.ScanFile()) {
            state.SkipWithError("the scan found no table");
            return;
        }
        const auto found = std::find_if(engine.tables.begin(), engine.tables.end(),
                                        [](const talmera::tableInfo& t) { return t.name == kTable; });
        if (found == engine.tables.end()) {
            state.SkipWithError("the scan did not find the table");
            return;
        }
        const talmera::tableInfo& table = *found;
        const std::vector<uint64_t>& pages = found->pages;
        std::vector<talmera::RowValue> values;
        rows = valueBytes = 0;
        for (size_t k = 0; k < pages.size(); ++k) {
            const talmera::SlotTable slots = engine.LoadPageRows(pages[k]);
            for (size_t slot = 0; slot < slots.size(); ++slot) {
                if (!engine.DecodeRowValues(table, pages[k], slots, slot, readLongValues, values, makeText)) continue;
                ++rows;
                for (const talmera::RowValue& v : values) valueBytes += v.string.size() + v.bytes.size();
            }
            if (k % 1024 == 0) peakAnonKb = std::max(peakAnonKb, statusKb("RssAnon"));
        }
        peakAnonKb = std::max(peakAnonKb, statusKb("RssAnon"));
        incomplete = engine.statistics.valuesIncomplete;
        fileBytes += engine.fileLength;
    }
    if (rows != tableRows() || incomplete != 0) {
        state.SkipWithError(("decoded " + std::to_string(rows) + " of " + std::to_string(tableRows()) + " rows, " +
                             std::to_string(incomplete) + " values incomplete")
                                .c_str());
        return;
    }
    state.SetBytesProcessed(static_cast<int64_t>(fileBytes));
    state.counters["rows"] = static_cast<double>(rows);
    state.counters["rows_per_s"] =
        benchmark::Counter(static_cast<double>(rows), benchmark::Counter::kIsIterationInvariantRate);
    state.counters["values_MB"] = static_cast<double>(valueBytes) / 1e6;
    state.counters["peak_RSS_MB"] = statusKb("VmHWM") / 1024;
    state.counters["peak_anon_MB"] = peakAnonKb / 1024;
}

void BM_ReadWholeFile(benchmark::State& state) { talmera::bench::readWholeFileBenchmark(state, ledgerFile()); }
BENCHMARK(BM_ReadWholeFile)->Unit(benchmark::kMillisecond)->UseRealTime();

// The save's decoding: full memos and OLE bytes, typed values without texts.
void BM_DecodeAllRows(benchmark::State& state) { decodeTable(state, true, false); }
BENCHMARK(BM_DecodeAllRows)->Unit(benchmark::kMillisecond)->UseRealTime();

// The preview's decoding: texts; chained memos and OLE objects are not read.
void BM_DecodePreview(benchmark::State& state) { decodeTable(state, false, true); }
BENCHMARK(BM_DecodePreview)->Unit(benchmark::kMillisecond)->UseRealTime();

// mdbtools on the same table, as a peer: it decodes every row, memos and OLE
// objects included, and prints them as CSV.
void BM_MdbExport(benchmark::State& state) {
    if (std::system("command -v mdb-export >/dev/null 2>&1") != 0) {
        state.SkipWithError("mdb-export is not installed");
        return;
    }
    const std::string& path = ledgerFile();
    const std::string command = "mdb-export '" + path + "' " + kTable + " > /dev/null";
    uint64_t fileBytes = 0;
    for (auto _ : state) {
        if (std::system(command.c_str()) != 0) {
            state.SkipWithError("mdb-export failed");
            return;
        }
        fileBytes += std::filesystem::file_size(path);
    }
    state.SetBytesProcessed(static_cast<int64_t>(fileBytes));
    state.counters["rows"] = static_cast<double>(tableRows());
    state.counters["rows_per_s"] =
        benchmark::Counter(static_cast<double>(tableRows()), benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_MdbExport)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
