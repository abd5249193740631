// Drives the window through its main states and saves a picture of the screen
// after each: the selection dialog, the scanned tree, the recovery report and
// the page map (of a damaged database, they show its losses), a table's
// records, its columns, a query's SQL, a find, and the end of a save. Run under an X server
// (tools/screenshots.sh starts Xvfb). Not part of the product.
//
//   talmera-gui-screenshots DATABASE OUTPUT_FOLDER SAVE_FOLDER
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMouseEvent>
#include <QScreen>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>
#include <QTreeWidgetItem>

#include <cstdio>

#include "engine/ApplicationState.h"
#include "ui/Application.h"
#include "ui/FindBar.h"
#include "ui/LeftView.h"
#include "ui/MainFrame.h"
#include "ui/PageMapView.h"
#include "ui/RecordView.h"
#include "ui/ReportPane.h"
#include "ui/SelectFileDlg.h"

using namespace talmera;
using namespace talmera::ui;

namespace {

// Answers without blocking: boxes are noted on standard error, not shown.
class QuietPrompts : public IPrompts {
public:
    QString saveFolder;
    void MessageBox(const QString& upper, const QString& lower) override {
        std::fprintf(stderr, "[box] %s / %s\n", qPrintable(upper.simplified()), qPrintable(lower.simplified()));
    }
    bool Confirm(const QString&, const QString&) override { return true; }
    void PlatformMessage(const QString& text) override { std::fprintf(stderr, "[message] %s\n", qPrintable(text)); }
    bool ChooseSaveFolder(CQuorvinAccessRecoveryApp& app, bool& chosen) override {
        app.outputFolder = saveFolder.toStdString();
        chosen = true;
        return true;
    }
    bool AskOverwrite(const QString&) override { return true; }
    QString AskNewLocation(const QString&, const QString& proposal) override { return proposal; }
    QString ChooseLogFile(const QString&) override { return {}; }
    QString ChooseDatabaseFile() override { return {}; }
    QString ChooseFolder() override { return {}; }
};

void settle(int milliseconds = 300) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < milliseconds) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

void waitIdle(CQuorvinAccessRecoveryApp& app) {
    while (!app.idle || app.worker) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    settle();
}

void shot(const QString& folder, const QString& name) {
    settle();
    const QPixmap picture = QGuiApplication::primaryScreen()->grabWindow(0);
    const QString path = folder + "/" + name + ".png";
    picture.save(path);
    std::fprintf(stdout, "%s\n", qPrintable(path));
}

QTreeWidgetItem* child(QTreeWidgetItem* item, const QString& text) {
    for (int i = 0; item && i < item->childCount(); ++i) {
        if (item->child(i)->text(0) == text) return item->child(i);
    }
    return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    if (argc != 4) {
        std::fprintf(stderr, "usage: talmera-gui-screenshots DATABASE OUTPUT_FOLDER SAVE_FOLDER\n");
        return 64;
    }
    const QString database = QString::fromLocal8Bit(argv[1]);
    const QString out = QString::fromLocal8Bit(argv[2]);
    QDir().mkpath(out);

    CQuorvinAccessRecoveryApp app;
    InitialiseState(app);
    auto prompts = std::make_unique<QuietPrompts>();
    prompts->saveFolder = QString::fromLocal8Bit(argv[3]);
    CMainFrame frame(app, ReadProductSettings(), std::move(prompts));
    frame.resize(QGuiApplication::primaryScreen()->size());
    frame.move(0, 0);
    frame.show();
    settle(500);

    {
        CSelectFileDlg dialog(app, frame, frame.prompts());
        dialog.show();
        dialog.move(250, 120);
        settle(300);
        dialog.StartSearch(QFileInfo(database).absolutePath(), true);
        dialog.WaitForSearch();
        shot(out, "1-select-database");
        dialog.OnRepair();
    }
    waitIdle(app);
    shot(out, "2-scanned");
    // The report beside the log, then its page map pointed at a page whose rows were lost.
    frame.report()->tabs()->setCurrentIndex(0);
    shot(out, "9-recovery-report");
    frame.report()->tabs()->setCurrentIndex(1);
    settle();
    PageMapCells* cells = frame.report()->pageMap()->cells();
    for (size_t i = 0; i < cells->CellCount(); ++i) {
        if (!cells->Cell(i).rowsLost) continue;
        const QPoint at = cells->CellCentre(i);
        QMouseEvent move(QEvent::MouseMove, QPointF(at), QPointF(cells->mapToGlobal(at)), Qt::NoButton, Qt::NoButton,
                         Qt::NoModifier);
        QApplication::sendEvent(cells, &move);
        break;
    }
    shot(out, "10-page-map");
    frame.report()->tabs()->setCurrentIndex(0);

    QTreeWidgetItem* root = frame.tree()->Root();
    QTreeWidgetItem* tables = child(root, "Tables");
    if (tables) tables->setExpanded(true);
    if (QTreeWidgetItem* orders = child(tables, "Orders")) {
        orders->setExpanded(true);
        frame.tree()->OnTextClick(orders);
        waitIdle(app);
        shot(out, "3-table-data");
    }
    // The columns of the table with every kind of field.
    if (QTreeWidgetItem* customers = child(tables, "Customers")) {
        frame.tree()->OnTextClick(customers);
        waitIdle(app);
        frame.view()->tabs()->setCurrentIndex(1);
        shot(out, "4-column-information");
    }
    QTreeWidgetItem* forms = child(root, "Forms");
    if (forms && forms->childCount() > 0) {
        forms->setExpanded(true);
        frame.tree()->OnTextClick(forms->child(0));
        shot(out, "8-form-no-preview");
    }
    QTreeWidgetItem* queries = child(root, "Queries");
    if (queries && queries->childCount() > 0) {
        queries->setExpanded(true);
        frame.tree()->OnTextClick(queries->child(0));
        shot(out, "5-query-sql");
    }
    frame.findBar()->textBox()->setText("report");
    frame.findBar()->PressFind();
    shot(out, "6-find");

    if (QTreeWidgetItem* customers = child(tables, "Customers")) frame.tree()->OnCheckClick(customers);
    frame.OnSave();
    waitIdle(app);
    shot(out, "7-saved");
    return 0;
}
