// The record preview of one large table in the window, beside the command
// line's preview of the same table: how close the grid comes to the speed at
// which the engine decodes the rows.
//
// The table is Events of `talmera-jetwriter big` (seven columns: long,
// date/time, long, currency, two texts, Yes/No); TALMERA_PREVIEW_ROWS sets
// its rows (default 1,000,000: about 120 MB).
//   BM_CommandLineScan     talmera-repair scan FILE > /dev/null: the scan alone
//   BM_CommandLinePreview  talmera-repair preview FILE Events > /dev/null: the
//                          scan, every row decoded into the preview's texts
//                          and written as tab-separated lines
//   BM_WindowPreview       the window (on the offscreen platform, shown), the
//                          file scanned once: a click on Events, until every
//                          row is in the grid's model and the run has ended
// Counters: rows and rows_per_s; for the window peak_RSS_MB (VmHWM, reset
// when the benchmark starts) and grid_MB, the memory the grid's rows take.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTreeWidgetItem>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>

#include "bench/BenchFiles.h"
#include "engine/ApplicationState.h"
#include "ui/Application.h"
#include "ui/LeftView.h"
#include "ui/MainFrame.h"
#include "ui/Prompts.h"
#include "ui/RecordView.h"

namespace {

using namespace talmera;
using namespace talmera::ui;

size_t tableRows() {
    static const size_t rows = talmera::bench::rowsFromEnvironment("TALMERA_PREVIEW_ROWS", 1000000);
    return rows;
}

const std::string& bigFile() {
    static const std::string path = talmera::bench::generatedFile("big", "jet4", tableRows());
    return path;
}

double statusKb(const char* field) {
    std::ifstream in("/proc/self/status");
    const std::string prefix = std::string(field) + ":";
    for (std::string line; std::getline(in, line);) {
        if (line.compare(0, prefix.size(), prefix) == 0) return std::atof(line.c_str() + prefix.size());
    }
    return 0;
}

void resetPeak() {
    std::ofstream out("/proc/self/clear_refs");
    out << "5";
}

// Answers nothing is asked of here; boxes are not shown.
class QuietPrompts : public IPrompts {
public:
    void MessageBox(const QString&, const QString&) override {}
    bool Confirm(const QString&, const QString&) override { return true; }
    void PlatformMessage(const QString&) override {}
    bool ChooseSaveFolder(CQuorvinAccessRecoveryApp&, bool&) override { return false; }
    bool AskOverwrite(const QString&) override { return false; }
    QString AskNewLocation(const QString& existing, const QString&) override { return existing; }
    QString ChooseLogFile(const QString&) override { return {}; }
    QString ChooseDatabaseFile() override { return {}; }
    QString ChooseFolder() override { return {}; }
};

void waitIdle(CQuorvinAccessRecoveryApp& app) {
    while (!app.idle || app.worker) QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

void runCommand(benchmark::State& state, const std::string& command, bool countRows) {
    const std::string& path = bigFile();
    for (auto _ : state) {
        if (std::system(command.c_str()) != 0) {
            state.SkipWithError(("failed: " + command).c_str());
            return;
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * std::filesystem::file_size(path)));
    if (countRows) {
        state.counters["rows"] = static_cast<double>(tableRows());
        state.counters["rows_per_s"] =
            benchmark::Counter(static_cast<double>(tableRows()), benchmark::Counter::kIsIterationInvariantRate);
    }
}

void BM_CommandLineScan(benchmark::State& state) {
    runCommand(state, std::string(TALMERA_REPAIR) + " scan '" + bigFile() + "' > /dev/null", false);
}
BENCHMARK(BM_CommandLineScan)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_CommandLinePreview(benchmark::State& state) {
    runCommand(state, std::string(TALMERA_REPAIR) + " preview '" + bigFile() + "' Events > /dev/null", true);
}
BENCHMARK(BM_CommandLinePreview)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_WindowPreview(benchmark::State& state) {
    const std::string& path = bigFile();
    CQuorvinAccessRecoveryApp app;
    InitialiseState(app);
    CMainFrame frame(app, ReadProductSettings(), std::make_unique<QuietPrompts>());
    frame.resize(1360, 860);
    frame.show();
    app.selectedPath = path;
    frame.HandleMessage(UM_REPAIR_SELECTED, 0, 0);
    waitIdle(app);
    QTreeWidgetItem* events = nullptr;
    QTreeWidgetItem* root = frame.tree()->Root();
    for (int i = 0; root && i < root->childCount(); ++i) {
        QTreeWidgetItem* category = root->child(i);
        for (int k = 0; category->text(0) == "Tables" && k < category->childCount(); ++k) {
            if (category->child(k)->text(0) == "Events") events = category->child(k);
        }
    }
    if (!events) {
        state.SkipWithError("the scan did not find Events");
        return;
    }
    resetPeak();
    size_t rows = 0, gridBytes = 0;
    for (auto _ : state) {
        frame.tree()->OnTextClick(events);
        waitIdle(app);
        RowModel* model = frame.view()->tableData();
        rows = model ? size_t(model->rowCount()) : 0;
        gridBytes = model ? model->store().MemoryBytes() : 0;
    }
    if (rows != tableRows()) {
        state.SkipWithError(("the grid holds " + std::to_string(rows) + " of " + std::to_string(tableRows()) + " rows")
                                .c_str());
        return;
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * std::filesystem::file_size(path)));
    state.counters["rows"] = static_cast<double>(rows);
    state.counters["rows_per_s"] =
        benchmark::Counter(static_cast<double>(rows), benchmark::Counter::kIsIterationInvariantRate);
    state.counters["peak_RSS_MB"] = statusKb("VmHWM") / 1024;
    state.counters["grid_MB"] = static_cast<double>(gridBytes) / 1e6;
}
BENCHMARK(BM_WindowPreview)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    // No display is needed.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
