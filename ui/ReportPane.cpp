#include "ui/ReportPane.h"

#include <QHeaderView>
#include <QPlainTextEdit>
#include <QSplitter>
#include <QTabWidget>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <map>

#include "engine/ApplicationState.h"
#include "engine/MDBRecovery.h"
#include "ui/PageMapView.h"

#if __has_include("engine/save/RecoveryReport.h")
#include "engine/save/RecoveryReport.h"
#define TALMERA_HAS_RECOVERY_REPORT 1
#endif

namespace talmera::ui {

namespace {
QString q(const std::string& text) { return QString::fromStdString(text); }
QString pages(uint64_t n) { return QString::number(n) + (n == 1 ? " page" : " pages"); }
QString rows(uint64_t n) { return QString::number(n) + (n == 1 ? " row" : " rows"); }
}  // namespace

ReportSummary SummaryOfScan(const CMDBRecovery& engine) {
    ReportSummary summary;
    const PageMap& map = engine.pageMap;
    // Pages whose rows were lost, by the table that owned them.
    std::map<uint32_t, uint64_t> lostByOwner;
    for (size_t c = 0; c < map.cellCount(); ++c) {
        if (map.rowsLost(c)) lostByOwner[map.owner(c)] += map.cellPages(c);
    }
    uint64_t unlisted = 0;
    for (const tableInfo& table : engine.tables) {
        if (table.deletedRecords) continue;
        ReportSummary::TableLoss loss;
        loss.name = q(table.name);
        if (auto found = lostByOwner.find(table.definitionPage); found != lostByOwner.end()) {
            loss.problems << "Data pages zeroed or unreadable  : " + pages(found->second) + " (their rows are lost)";
        }
        if (!table.unlistedPages.empty()) {
            unlisted += table.unlistedPages.size();
            loss.problems << "Pages set aside as older states  : " + pages(table.unlistedPages.size()) + ", " +
                                 rows(table.unlistedRecordCount);
        }
        if (!loss.problems.isEmpty()) summary.tables.push_back(loss);
    }
    summary.lines << "Tables found  : " + QString::number(engine.tables.size())
                  << "Pages of the file  : " + QString::number(map.pages());
    for (size_t k = 0; k < kPageKindCount; ++k) {
        const PageKind kind = static_cast<PageKind>(k);
        if (kind >= PageKind::Stale && map.count(kind) > 0) {
            QString label = PageKindLabel(kind);
            label[0] = label[0].toUpper();
            summary.lines << label + "  : " + pages(map.count(kind));
        }
    }
    if (map.rowsLostPages()) summary.lines << "Pages whose rows were lost  : " + pages(map.rowsLostPages());
    if (engine.statistics.rowsUnreadable) summary.lines << "Unreadable rows  : " + QString::number(engine.statistics.rowsUnreadable);
    (void)unlisted;
    size_t withLosses = 0;
    for (const auto& t : summary.tables) withLosses += t.problems.isEmpty() ? 0 : 1;
    summary.headline = map.rowsLostPages() || map.count(PageKind::Unreadable) || map.count(PageKind::Zeroed)
                           ? "Completed with losses: " + pages(map.rowsLostPages()) + " of rows lost in " +
                                 QString::number(withLosses) + (withLosses == 1 ? " table" : " tables")
                           : QString("Nothing was lost.");
    return summary;
}

#ifdef TALMERA_HAS_RECOVERY_REPORT
namespace {
ReportSummary SummaryOfReport(const RecoveryReport& report) {
    ReportSummary summary;
    summary.saveRan = report.saveRan;
    const std::string losses = LossesLine(report);
    summary.headline = losses.empty() ? QString("Nothing was lost.") : q(losses);
    for (const std::string& line : ReportLogLines(report)) summary.lines << q(line);
    if (!report.output.empty()) summary.lines << "Output  : " + q(report.output);
    for (const RecoveryReport::Table& table : report.tables) {
        if (!table.Incomplete()) continue;
        ReportSummary::TableLoss loss;
        loss.name = q(table.name);
        for (const std::string& problem : table.Problems(report.saveRan)) loss.problems << q(problem);
        summary.tables.push_back(loss);
    }
    return summary;
}
}  // namespace
#endif

ReportSummary SummaryOfRun(const CQuorvinAccessRecoveryApp& app, const CMDBRecovery& engine) {
#ifdef TALMERA_HAS_RECOVERY_REPORT
    if (app.recoveryReport) return SummaryOfReport(*app.recoveryReport);
#else
    (void)app;
#endif
    return SummaryOfScan(engine);
}

ReportPane::ReportPane(QWidget* parent) : QDockWidget("Recovery Report", parent) {
    setObjectName("ReportPane");
    setFeatures(QDockWidget::DockWidgetMovable | QDockWidget::DockWidgetClosable | QDockWidget::DockWidgetFloatable);
    tabs_ = new QTabWidget(this);
    auto* report = new QSplitter(Qt::Vertical);
    summary_ = new QPlainTextEdit;
    summary_->setReadOnly(true);
    losses_ = new QTreeWidget;
    losses_->setHeaderLabels({"Table", "Loss"});
    losses_->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    report->addWidget(summary_);
    report->addWidget(losses_);
    tabs_->addTab(report, "Summary");
    pageMap_ = new PageMapView;
    tabs_->addTab(pageMap_, "Page Map");
    setWidget(tabs_);
}

void ReportPane::Show(const ReportSummary& summary) {
    summary_->setPlainText((summary.saveRan ? "After the save\n" : "After the scan\n") + summary.headline + "\n\n" +
                           summary.lines.join('\n'));
    losses_->clear();
    for (const ReportSummary::TableLoss& table : summary.tables) {
        auto* item = new QTreeWidgetItem(losses_, {table.name, table.problems.value(0)});
        item->setForeground(0, QColor(0xC0, 0x20, 0x20));
        for (qsizetype i = 1; i < table.problems.size(); ++i) new QTreeWidgetItem(item, {QString(), table.problems[i]});
        item->setExpanded(true);
    }
}

void ReportPane::SetEngine(std::shared_ptr<const CMDBRecovery> engine) { pageMap_->SetEngine(std::move(engine)); }

void ReportPane::Clear() {
    summary_->clear();
    losses_->clear();
    pageMap_->SetEngine(nullptr);
}

}  // namespace talmera::ui
