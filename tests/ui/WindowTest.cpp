// The main window driving the real recovery thread: the command rules, a scan,
// preview and save of a generated database with every message arriving through
// the thread, stops during a preview and a save, the log report and the
// existing-output questions.
#include <QtTest>

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QStatusBar>
#include <QTableView>

#include <sqlite3.h>

#include <fstream>

#include "engine/MDBRecovery.h"
#include "tests/ui/UiTestSupport.h"
#include "ui/Dialogs.h"
#include "ui/FindBar.h"
#include "ui/LeftView.h"
#include "ui/OutputWnd.h"
#include "ui/RecordView.h"

using namespace talmera;
using namespace talmera::ui;
using namespace talmera::ui::test;
using talmera::test::TempDir;

namespace {

QTreeWidgetItem* child(QTreeWidgetItem* item, const QString& text) {
    for (int i = 0; item && i < item->childCount(); ++i) {
        if (item->child(i)->text(0) == text) return item->child(i);
    }
    return nullptr;
}

QStringList logLines(CMainFrame& frame) {
    QStringList lines;
    for (int i = 0; i < frame.log()->list()->count(); ++i) lines << frame.log()->list()->item(i)->text();
    return lines;
}

bool hasLineStarting(CMainFrame& frame, const QString& start) {
    for (const QString& line : logLines(frame)) {
        if (line.startsWith(start)) return true;
    }
    return false;
}

// Rows of a table in an SQLite file; -1 when the table is missing.
long long sqliteRows(const std::string& file, const std::string& table) {
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        return -2;
    }
    long long rows = -1;
    sqlite3_stmt* statement = nullptr;
    const std::string sql = "SELECT count(*) FROM \"" + table + "\"";
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) == SQLITE_OK &&
        sqlite3_step(statement) == SQLITE_ROW) {
        rows = sqlite3_column_int64(statement, 0);
    }
    sqlite3_finalize(statement);
    sqlite3_close(db);
    return rows;
}

QByteArray utf16le(const QString& text) {
    QByteArray bytes;
    for (QChar c : text) {
        bytes.append(char(c.unicode() & 0xFF));
        bytes.append(char(c.unicode() >> 8));
    }
    return bytes;
}

}  // namespace

class WindowTest : public QObject {
    Q_OBJECT

private slots:
    void commandRules_data() {
        QTest::addColumn<QString>("state");
        QTest::addColumn<QList<int>>("enabled");
        QTest::addColumn<QList<int>>("disabled");
        const QList<int> always = {ID_APP_EXIT, ID_VIEW_STATUS_BAR, ID_VIEW_MESSAGEBAR, ID_HELP_INDEX, ID_APP_ABOUT,
                                   ID_HELP_SUBMITSUPPORTTICKET, ID_HELP_VIEWSUPPORTSECTION, ID_HELP_VISITKNOWLEDGEBASE};
        QTest::newRow("empty") << "idle" << always + QList<int>{ID_FILE_OPEN, ID_HELP_UPDATES, ID_TOOL_RECOVER_DELETED_RECORDS}
                               << QList<int>{ID_FILE_RECOVER, ID_FILE_STOP, ID_TOOL_SAVELOG, ID_TOOL_CLEARLOG};
        QTest::newRow("scanning") << "busy worker loaded log"
                                  << always + QList<int>{ID_FILE_STOP}
                                  << QList<int>{ID_FILE_OPEN, ID_FILE_RECOVER, ID_TOOL_SAVELOG, ID_TOOL_CLEARLOG,
                                                ID_HELP_UPDATES, ID_TOOL_RECOVER_DELETED_RECORDS};
        QTest::newRow("stop requested") << "busy worker stop loaded log root2" << always
                                        << QList<int>{ID_FILE_STOP, ID_FILE_RECOVER};
        QTest::newRow("ready") << "idle loaded log root2"
                               << always + QList<int>{ID_FILE_OPEN, ID_FILE_RECOVER, ID_HELP_UPDATES,
                                                      ID_TOOL_RECOVER_DELETED_RECORDS, ID_TOOL_SAVELOG, ID_TOOL_CLEARLOG}
                               << QList<int>{ID_FILE_STOP};
        QTest::newRow("root partly checked") << "idle loaded root3" << QList<int>{ID_FILE_RECOVER} << QList<int>{};
        QTest::newRow("root unchecked") << "idle loaded root1" << QList<int>{} << QList<int>{ID_FILE_RECOVER};
        QTest::newRow("no tree yet") << "idle loaded root0" << QList<int>{} << QList<int>{ID_FILE_RECOVER};
        QTest::newRow("invalid name") << "idle loaded invalid root2" << QList<int>{} << QList<int>{ID_FILE_RECOVER};
        QTest::newRow("run ended, thread left") << "idle worker log loaded root2"
                                                << QList<int>{ID_FILE_RECOVER}
                                                << QList<int>{ID_TOOL_SAVELOG, ID_TOOL_CLEARLOG,
                                                              ID_TOOL_RECOVER_DELETED_RECORDS};
    }

    void commandRules() {
        QFETCH(QString, state);
        QFETCH(QList<int>, enabled);
        QFETCH(QList<int>, disabled);
        const QStringList words = state.split(' ');
        CommandContext c;
        c.idle = words.contains("idle");
        c.worker = words.contains("worker");
        c.stopRequested = words.contains("stop");
        c.fileLoaded = words.contains("loaded");
        c.logHasContent = words.contains("log");
        c.invalidFile = words.contains("invalid");
        for (int r = 0; r < 4; ++r) {
            if (words.contains(QString("root%1").arg(r))) c.rootState = r;
        }
        for (int id : enabled) QVERIFY2(CommandStateFor(id, c).enabled, qPrintable(QString::number(id)));
        for (int id : disabled) QVERIFY2(!CommandStateFor(id, c).enabled, qPrintable(QString::number(id)));
        c.includeDeletedRecords = true;
        QVERIFY(CommandStateFor(ID_TOOL_RECOVER_DELETED_RECORDS, c).checked);
    }

    void scanPreviewSaveRoundTrip() {
        TempDir dir;
        const std::string source = WriteDatabase(dir, "demo.mdb", jetwriter::demoDatabase(jetwriter::Format::Jet4));
        Window w;
        CMainFrame& frame = *w.frame;
        w.Repair(source);

        // The scan: log lines, the box, the tree with everything checked.
        QVERIFY(hasLineStarting(frame, "Repairing process started on: "));
        QVERIFY(hasLineStarting(frame, "Repairing process completed on: "));
        QVERIFY(w.prompts->boxes.contains("\n\nRepairing process successfully completed.|"));
        QTreeWidgetItem* root = frame.tree()->Root();
        QCOMPARE(root->text(0), QString::fromStdString(source));
        QVERIFY(child(root, "Tables") && child(root, "Queries") && child(root, "Linked Tables"));
        QVERIFY(child(child(root, "Tables"), "Orders"));
        QVERIFY(child(child(child(root, "Tables"), "Orders"), "Indexes"));
        QCOMPARE(frame.tree()->RootCheckState(), int(kStateChecked));
        QVERIFY(frame.Command(ID_FILE_RECOVER)->isEnabled());
        QVERIFY(frame.Command(ID_TOOL_SAVELOG)->isEnabled());
        QVERIFY(!frame.Command(ID_FILE_STOP)->isEnabled());
        QVERIFY(frame.findBar()->textBox()->isEnabled());
        QVERIFY(!frame.progressBar());

        // The preview: every row arrives, one message each.
        QTreeWidgetItem* orders = child(child(root, "Tables"), "Orders");
        frame.tree()->OnTextClick(orders);
        QVERIFY(w.WaitIdle());
        const tableInfo* table = nullptr;
        for (const tableInfo& t : w.app.engine->tables) {
            if (t.name == "Orders") table = &t;
        }
        QVERIFY(table);
        CQuorvinAccessRecoveryView* view = frame.view();
        QCOMPARE(view->content(), 2);
        QCOMPARE(view->tableData()->rowCount(), int(table->recordCount));
        QCOMPARE(view->tableData()->rowCount(), 300);
        QCOMPARE(view->tableData()->Row(0).value(2), QString("Chang #1"));
        QCOMPARE(view->tableData()->columnCount(), 7);
        QCOMPARE(view->columnInformation()->rowCount(), 7);
        QCOMPARE(view->columnInformation()->Row(2), QStringList({"Product", "Text", "Text", "40 bytes"}));
        // Odd rows in the rose colour, even rows plain.
        QCOMPARE(view->tableData()->data(view->tableData()->index(1, 0), Qt::BackgroundRole).value<QColor>(),
                 QColor(247, 196, 183));
        QVERIFY(!view->tableData()->data(view->tableData()->index(0, 0), Qt::BackgroundRole).isValid());
        view->tabs()->setCurrentIndex(1);
        QVERIFY(view->tableDataList()->isHidden() && !view->columnInformationList()->isHidden());

        // A query shows its SQL.
        frame.tree()->OnTextClick(child(child(root, "Queries"), "Customer List"));
        QVERIFY(view->text().contains("SQL:\r\n\r\nSELECT"));

        // Unchecking a table keeps it out of the save.
        frame.tree()->OnCheckClick(child(child(root, "Tables"), "Customers"));
        TempDir out;
        w.prompts->saveFolder = QString::fromStdString(out.path().string());
        const auto engineBefore = w.app.engine;
        frame.OnSave();
        QVERIFY(w.WaitIdle());
        const std::string output = out.file("Repaired_demo.sqlite");
        QCOMPARE(QString::fromStdString(w.app.savedPath), QString::fromStdString(output));
        QCOMPARE(sqliteRows(output, "Orders"), 300LL);
        QCOMPARE(sqliteRows(output, "Customers"), -1LL);
        QVERIFY(w.prompts->boxes.contains("\nRepaired file saved at the desired location.|"));
        QVERIFY(logLines(frame).contains("File saved at the location  : " + QString::fromStdString(output)));
        // Each saved object lost its check; the unchecked one stays unchecked.
        QCOMPARE(CLeftView::State(child(child(root, "Tables"), "Orders")), int(kStateUnchecked));
        QCOMPARE(CLeftView::State(child(child(root, "Queries"), "Customer List")), int(kStateUnchecked));
        // The silent re-scan read the file again into a new engine; the tree stayed.
        QVERIFY(w.app.engine != engineBefore);
        QVERIFY(!w.app.engine->tables.empty());
        QCOMPARE(frame.tree()->Root(), root);
        QVERIFY(frame.findBar()->textBox()->isEnabled());
    }

    // An encrypted file: the password dialog offers to retry after a wrong
    // password; the re-reading after a save does not ask again; a cancelled
    // dialog leaves the file unread with the reason.
    void encryptedFileAsksForItsPassword() {
        TempDir dir;
        jetwriter::Database db = jetwriter::demoDatabase(jetwriter::Format::Ace);
        db.encryption.method = jetwriter::Encryption::OfficeAgile;
        db.encryption.password = "secret";
        db.encryption.spinCount = 1000;
        const std::string source = WriteDatabase(dir, "locked.accdb", db);
        const QString path = QString::fromStdString(source);
        {
            Window w;
            w.prompts->passwordAnswers = {"wrong", "secret"};
            w.Repair(source);
            QCOMPARE(w.prompts->passwordQuestions, QStringList({path, path + " (retry)"}));
            QVERIFY(child(child(w.frame->tree()->Root(), "Tables"), "Orders"));
            QVERIFY(hasLineStarting(*w.frame, "Protection of the file  :  Office agile encryption (AES-256, SHA512)"));
            TempDir out;
            w.prompts->saveFolder = QString::fromStdString(out.path().string());
            w.frame->OnSave();
            QVERIFY(w.WaitIdle());
            QCOMPARE(sqliteRows(out.file("Repaired_locked.sqlite"), "Orders"), 300LL);
            QCOMPARE(w.prompts->passwordQuestions.size(), 2);
            QVERIFY(!w.app.engine->tables.empty());
        }
        Window w;
        w.Repair(source);
        QCOMPARE(w.prompts->passwordQuestions, QStringList({path}));
        QVERIFY(w.prompts->boxes.contains("This file is encrypted: a password is needed.|"));
        QVERIFY(logLines(*w.frame).contains("This file is encrypted: a password is needed."));
        QVERIFY(!w.app.invalidFile);
    }

    void fileChoiceRules() {
        TempDir dir;
        const std::string source = WriteDatabase(dir, "shop.MDB", jetwriter::demoDatabase(jetwriter::Format::Jet3));
        Window w;
        w.Repair(source);
        QVERIFY(!w.app.invalidFile);
        QVERIFY(child(w.frame->tree()->Root(), "Tables"));
        // The same file again is refused.
        w.Repair(source);
        QCOMPARE(w.prompts->boxes.last(), QString(" \n\n\nThis file is already selected.|") + kEighteenSpaces);
        // A name that is not a database's.
        w.Repair(dir.file("notes.txt"));
        QCOMPARE(w.prompts->boxes.last(), QString("This is not a valid MS Access file.|") + kEighteenSpaces);
        QVERIFY(w.app.invalidFile);
        QCOMPARE(w.frame->tree()->Root()->text(0), kProductName);
        QVERIFY(!w.frame->Command(ID_FILE_RECOVER)->isEnabled());
    }

    void stopDuringPreviewKeepsTheRows() {
        TempDir dir;
        const std::string source = WriteDatabase(dir, "big.mdb", jetwriter::bigDatabase(jetwriter::Format::Jet4, 40000));
        Window w;
        CMainFrame& frame = *w.frame;
        w.Repair(source);
        QTreeWidgetItem* events = child(child(frame.tree()->Root(), "Tables"), "Events");
        QVERIFY(events);
        frame.tree()->OnTextClick(events);
        QTRY_VERIFY_WITH_TIMEOUT(frame.view()->tableData()->rowCount() > 50, 60000);
        QVERIFY(frame.Command(ID_FILE_STOP)->isEnabled());
        frame.OnStop();
        QVERIFY(w.app.idle);
        QVERIFY(!w.app.worker);
        const int rows = frame.view()->tableData()->rowCount();
        QVERIFY2(rows < 40000, qPrintable(QString::number(rows)));
        QCOMPARE(w.prompts->confirmations.last(),
                 QString("Do you want to stop the current repair process?|This process can not be resumed from current\n"
                         " state and has to be restarted."));
        QCOMPARE(w.prompts->boxes.last(), QString("\n\nProcess stopped by user.|") + kEighteenSpaces);
        const QString stopLine = logLines(frame).last();
        QVERIFY(QRegularExpression("^Process stopped by user on [A-Z][a-z]+, [A-Z][a-z]+ \\d\\d, \\d{4}  "
                                   "\\d\\d:\\d\\d:\\d\\d  (AM|PM)$")
                    .match(stopLine)
                    .hasMatch());
        // A stopped preview is not read again; the tree stays; the rows read stay.
        QVERIFY(child(frame.tree()->Root(), "Tables"));
        QCOMPARE(frame.view()->tableData()->rowCount(), rows);
        QVERIFY(!frame.progressBar());
        QVERIFY(frame.findBar()->textBox()->isEnabled());
        QVERIFY(!frame.findBar()->findButton()->isEnabled());
        // Another table can be previewed at once.
        frame.tree()->OnTextClick(child(child(frame.tree()->Root(), "Tables"), "Accounts"));
        QVERIFY(w.WaitIdle());
        QCOMPARE(frame.view()->tableData()->rowCount(), 800);
    }

    void stopDuringSaveKeepsWhatWasWritten() {
        TempDir dir;
        const std::string source = WriteDatabase(dir, "big.mdb", jetwriter::bigDatabase(jetwriter::Format::Jet4, 60000));
        Window w;
        CMainFrame& frame = *w.frame;
        w.Repair(source);
        TempDir out;
        w.prompts->saveFolder = QString::fromStdString(out.path().string());
        // The stop's box comes only after the silent re-scan has ended too.
        bool idleAtBox = false;
        size_t tablesAtBox = 0;
        w.prompts->onMessageBox = [&](const QString& upper) {
            if (upper == "\n\nProcess stopped by user.") {
                idleAtBox = w.app.idle && !w.app.worker;
                tablesAtBox = w.app.engine ? w.app.engine->tables.size() : 0;
            }
        };
        frame.OnSave();
        QTRY_VERIFY_WITH_TIMEOUT(hasLineStarting(frame, "Saving Table.....  "), 60000);
        frame.OnStop();
        QVERIFY(w.app.idle);
        QVERIFY(idleAtBox);
        QCOMPARE(tablesAtBox, size_t(2));
        const std::string output = out.file("Repaired_big.sqlite");
        QVERIFY(logLines(frame).contains("File partially repaired and saved at Location  : " +
                                         QString::fromStdString(output)));
        const long long events = sqliteRows(output, "Events");
        QVERIFY2(events < 60000, qPrintable(QString::number(events)));
        QVERIFY(!w.prompts->boxes.contains("\nRepaired file saved at the desired location.|"));
        QVERIFY(child(frame.tree()->Root(), "Tables"));
    }

    void existingOutputQuestions() {
        TempDir dir;
        const std::string source = WriteDatabase(dir, "shop.mdb", jetwriter::demoDatabase(jetwriter::Format::Jet4));
        const std::string existing = dir.file("Repaired_shop.sqlite");
        std::ofstream(existing) << "old";
        Window w;
        CMainFrame& frame = *w.frame;
        w.Repair(source);
        w.prompts->saveFolder = QString::fromStdString(dir.path().string());
        // No, then OK with the existing name: the platform's note, then the
        // question again; No again and the proposal is taken.
        w.prompts->overwriteAnswer = false;
        w.prompts->newLocationAnswers = {QString::fromStdString(existing)};
        frame.OnSave();
        QVERIFY(w.WaitIdle());
        QCOMPARE(w.prompts->overwriteQuestions.size(), 2);
        QCOMPARE(w.prompts->platformMessages, QStringList({"Pls Select The Diffrent Name"}));
        QCOMPARE(w.prompts->newLocationProposals.size(), 2);
        const QString proposal = w.prompts->newLocationProposals.last();
        QVERIFY2(QRegularExpression("^" + QRegularExpression::escape(QString::fromStdString(dir.path().string())) +
                                    "/Repaired_shop_[A-Z][a-z]+_\\d\\d_\\d{4} \\d\\d_\\d\\d_\\d\\d (AM|PM)\\.sqlite$")
                     .match(proposal)
                     .hasMatch(),
                 qPrintable(proposal));
        QCOMPARE(QString::fromStdString(w.app.savedPath), proposal);
        QCOMPARE(sqliteRows(proposal.toStdString(), "Orders"), 300LL);
        std::ifstream old(existing);
        std::string kept;
        old >> kept;
        QCOMPARE(QString::fromStdString(kept), QString("old"));
    }

    void saveDestinationDialog() {
        CQuorvinAccessRecoveryApp app;
        app.outputFolder = "/data/shop";
        bool newFolderChosen = false;
        ScriptedPrompts prompts;
        CSaveFilesDlg dialog(app, newFolderChosen, prompts);
        QCOMPARE(dialog.pathBox()->text(), QString("/data/shop"));
        // A new folder loses one trailing slash.
        prompts.folder = "/media/backup/";
        dialog.OnSelectNewFolder();
        QCOMPARE(dialog.pathBox()->text(), QString("/media/backup"));
        QCOMPARE(QString::fromStdString(app.outputFolder), QString("/media/backup"));
        // The root alone, or a cancelled browser, goes back to the default.
        prompts.folder = "/";
        dialog.OnBrowse();
        QCOMPARE(dialog.pathBox()->text(), QString("/data/shop"));
        prompts.folder = "/media/backup";
        dialog.OnBrowse();
        dialog.OnDefaultLocation();
        dialog.OnOk();
        QCOMPARE(QString::fromStdString(app.outputFolder), QString("/data/shop"));
        QVERIFY(newFolderChosen);
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
    }

    void deletedRecordsCommand() {
        TempDir dir;
        const std::string source = WriteDatabase(dir, "shop.mdb", jetwriter::demoDatabase(jetwriter::Format::Jet4));
        Window w;
        w.Repair(source);
        QVERIFY(!w.app.includeDeletedRecords);
        w.frame->OnDeletedRecords();
        QVERIFY(w.WaitIdle());
        QVERIFY(w.app.includeDeletedRecords);
        QVERIFY(w.frame->Command(ID_TOOL_RECOVER_DELETED_RECORDS)->isChecked());
        QVERIFY(!w.app.treeLocked);
        // The window is usable again: a table still previews.
        w.frame->tree()->OnTextClick(child(child(w.frame->tree()->Root(), "Tables"), "Orders"));
        QVERIFY(w.WaitIdle());
        QCOMPARE(w.frame->view()->tableData()->rowCount(), 300);
    }

    void renameDialogTakesTheTypedPath() {
        CRenameDialog dialog("/data/Repaired_Shop.sqlite", "/data/Repaired_Shop_June_07_2016 03_04_05 PM.sqlite");
        QCOMPARE(dialog.newLocationBox()->text(), QString("/data/Repaired_Shop_June_07_2016 03_04_05 PM.sqlite"));
        // Closed without OK: the existing path, so the question comes back.
        QCOMPARE(dialog.chosenPath(), QString("/data/Repaired_Shop.sqlite"));
        dialog.newLocationBox()->setText("/data/my copy.sqlite");
        dialog.findChildren<QPushButton*>().first()->click();
        QCOMPARE(dialog.chosenPath(), QString("/data/my copy.sqlite"));
    }

    void logReportFile() {
        TempDir dir;
        Window w;
        CMainFrame& frame = *w.frame;
        QVERIFY(!frame.Command(ID_TOOL_SAVELOG)->isEnabled());
        w.app.logLine = "Total table(s) present  :  2 \xc3\xa9";
        frame.HandleMessage(UM_LOG_LINE, 0, 0);
        QVERIFY(frame.logHasContent());
        QVERIFY(frame.Command(ID_TOOL_SAVELOG)->isEnabled());

        w.prompts->logFiles = {QString::fromStdString(dir.file("report"))};
        frame.OnSaveLog();
        QFile file(QString::fromStdString(dir.file("report.log")));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), utf16le(kLogHeader + "\r\nTotal table(s) present  :  2 \u00e9\r\n"));
        file.close();

        // An existing report: No reopens the dialog, whose cancel writes nothing.
        w.app.logLine = "another line";
        frame.HandleMessage(UM_LOG_LINE, 0, 0);
        w.prompts->logFiles = {QString::fromStdString(dir.file("report.log"))};
        w.prompts->overwriteAnswer = false;
        frame.OnSaveLog();
        QCOMPARE(w.prompts->overwriteQuestions.size(), 1);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(!file.readAll().contains(utf16le("another line")));
        file.close();
        // A name ending in .LOG is kept as typed.
        w.prompts->logFiles = {QString::fromStdString(dir.file("Upper.LOG"))};
        frame.OnSaveLog();
        QVERIFY(QFile::exists(QString::fromStdString(dir.file("Upper.LOG"))));
        QVERIFY(!QFile::exists(QString::fromStdString(dir.file("Upper.LOG.log"))));
        // A folder that cannot be written: the platform's message names the file.
        w.prompts->logFiles = {QString::fromStdString(dir.file("missing/report.log"))};
        frame.OnSaveLog();
        QVERIFY(w.prompts->platformMessages.last().contains("missing/report.log"));

        // A cleared log holds the header only and cannot be saved.
        frame.OnClearLog();
        QCOMPARE(logLines(frame), QStringList({kLogHeader}));
        QVERIFY(!frame.Command(ID_TOOL_SAVELOG)->isEnabled());
        QVERIFY(!frame.Command(ID_TOOL_CLEARLOG)->isEnabled());
        QCOMPARE(LogReportPath("a.Log"), QString("a.Log"));
        QCOMPARE(LogReportPath("a.txt"), QString("a.txt.log"));
    }

    void progressBarInTheStatusBar() {
        Window w;
        CMainFrame& frame = *w.frame;
        frame.show();
        frame.HandleMessage(UM_PROGRESS, kProgressStart, 100);
        CProgressBar* bar = frame.progressBar();
        QVERIFY(bar);
        QCOMPARE(bar->Caption(), QString("Processing"));
        QCOMPARE(bar->Maximum(), 100);
        QCOMPARE(bar->Position(), 3);  // range from 1, step 2, one step
        QCOMPARE(bar->Gap(), QFontMetrics(bar->font()).horizontalAdvance("    "));
        frame.HandleMessage(UM_PROGRESS, kProgressStep, 0);
        QCOMPARE(bar->Position(), 5);
        frame.HandleMessage(UM_PROGRESS, kProgressEnd, 0);
        QVERIFY(!frame.progressBar());
        QCOMPARE(frame.statusPane(0)->text(), QString("Ready"));
        QVERIFY(frame.statusPane(0)->isVisible());
    }

    void closeAsksWhenIdleAndRefusesWhileRunning() {
        Window w;
        CMainFrame& frame = *w.frame;
        frame.show();
        w.prompts->confirmAnswer = false;
        QVERIFY(!frame.close());
        QCOMPARE(w.prompts->confirmations.last(),
                 QString("\nExit Quorvin Talmera Access Database Repair?|") + kEighteenSpaces);
        w.app.idle = false;
        QVERIFY(!frame.close());
        QCOMPARE(w.prompts->boxes.last(),
                 QString("\nCan not exit !|Please first stop the current process before exiting Quorvin Talmera "
                         "Access Database Repair."));
        w.app.idle = true;
        w.prompts->confirmAnswer = true;
        QVERIFY(frame.close());
    }
};

QTEST_MAIN(WindowTest)
#include "WindowTest.moc"
