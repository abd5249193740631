// The recovery report in the window, beside the log: after a scan and after
// a save, its summary and the tables with losses (also marked in the tree),
// and the page map of the file.
//
// The pane shows a ReportSummary. Where the engine's recovery report is
// handed to the front end (CQuorvinAccessRecoveryApp::recoveryReport,
// engine/save/RecoveryReport.h), SummaryOfReport turns it into one; until
// then SummaryOfScan makes one from what the scan found (rows its pages hold
// against the rows the definitions count, and the pages the page map marks
// as lost).
#pragma once

#include <QDockWidget>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

class QPlainTextEdit;
class QTabWidget;
class QTreeWidget;

namespace talmera {
class CMDBRecovery;
struct CQuorvinAccessRecoveryApp;
}  // namespace talmera

namespace talmera::ui {

class PageMapView;

struct ReportSummary {
    bool saveRan = false;
    QString headline;   // "Completed with losses: ..." or "Nothing was lost."
    QStringList lines;  // the summary, one line each
    struct TableLoss {
        QString name;       // as the tree names the table
        QStringList problems;
    };
    std::vector<TableLoss> tables;  // the tables with losses
};

// From what the scan left in the engine: nothing of the file is read.
ReportSummary SummaryOfScan(const CMDBRecovery& engine);
// From the application's recovery report where the build has one; else
// SummaryOfScan.
ReportSummary SummaryOfRun(const CQuorvinAccessRecoveryApp& app, const CMDBRecovery& engine);

class ReportPane : public QDockWidget {
    Q_OBJECT
public:
    explicit ReportPane(QWidget* parent = nullptr);
    void Show(const ReportSummary& summary);
    void SetEngine(std::shared_ptr<const CMDBRecovery> engine);
    void Clear();

    QTabWidget* tabs() const { return tabs_; }
    QPlainTextEdit* summary() const { return summary_; }
    QTreeWidget* losses() const { return losses_; }
    PageMapView* pageMap() const { return pageMap_; }

private:
    QTabWidget* tabs_;
    QPlainTextEdit* summary_;
    QTreeWidget* losses_;
    PageMapView* pageMap_;
};

}  // namespace talmera::ui
