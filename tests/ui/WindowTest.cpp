// The main window driving the real recovery thread: the command rules, a scan,
// preview and save of a generated database with every message arriving through
// the thread, stops during a preview and a save, the log report and the
// existing-output questions.
#include <QtTest>

#include <QAction>
#include <QTreeWidget>
#include <QPlainTextEdit>
#include <QMouseEvent>
#include <QApplication>
#include <QCheckBox>
#include <QDesktopServices>
#include <QElapsedTimer>
#include <QTabWidget>
#include <QTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QStatusBar>
#include <QTableView>

#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <thread>

#include "engine/MDBRecovery.h"
#include "engine/run/RecoverThread.h"
#include "ui/Application.h"
#include "ui/SyncCall.h"
#include "tests/ui/UiTestSupport.h"
#include "ui/Dialogs.h"
#include "ui/FindBar.h"
#include "ui/LeftView.h"
#include "ui/OutputWnd.h"
#include "ui/PageMapView.h"
#include "ui/RecordView.h"
#include "ui/ReportPane.h"

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

// One table "Notes" (ID, Text) of the given texts.
jetwriter::Database notesDatabase(jetwriter::Format format, uint16_t codePage, const std::vector<std::string>& texts) {
    jetwriter::Database db;
    db.format = format;
    db.codePage = codePage;
    jetwriter::Table table;
    table.name = "Notes";
    jetwriter::Column id;
    id.name = "ID";
    id.type = jetwriter::kLong;
    jetwriter::Column text;
    text.name = "Text";
    text.type = jetwriter::kText;
    text.length = 200;
    table.columns = {id, text};
    for (size_t i = 0; i < texts.size(); ++i) {
        jetwriter::Row row;
        row.values = {int64_t(i + 1), texts[i]};
        table.rows.push_back(row);
    }
    db.tables.push_back(table);
    return db;
}

// The first value of a query on an SQLite file, as text.
QString sqliteText(const std::string& file, const std::string& sql) {
    QString text;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) == SQLITE_OK &&
            sqlite3_step(statement) == SQLITE_ROW) {
            text = QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(statement, 0)));
        }
        sqlite3_finalize(statement);
    }
    sqlite3_close(db);
    return text;
}

// The texts of one column of a table in an SQLite file.
QStringList sqliteTexts(const std::string& file, const std::string& table, const std::string& column) {
    QStringList texts;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* statement = nullptr;
        const std::string sql = "SELECT \"" + column + "\" FROM \"" + table + "\" ORDER BY rowid";
        if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) == SQLITE_OK) {
            while (sqlite3_step(statement) == SQLITE_ROW) {
                texts << QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(statement, 0)));
            }
        }
        sqlite3_finalize(statement);
    }
    sqlite3_close(db);
    return texts;
}

// Every item of the tree below `item`, itself included.
QList<QTreeWidgetItem*> allItems(QTreeWidgetItem* item) {
    QList<QTreeWidgetItem*> items{item};
    for (int i = 0; i < item->childCount(); ++i) items += allItems(item->child(i));
    return items;
}

// Processes nothing for a while, so that a run goes on alone (a preview then
// fills its feed and waits for the grid).
void letTheRunGoOn(int milliseconds) { std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds)); }

QByteArray utf16le(const QString& text) {
    QByteArray bytes;
    for (QChar c : text) {
        bytes.append(char(c.unicode() & 0xFF));
        bytes.append(char(c.unicode() >> 8));
    }
    return bytes;
}

// Stands in for the desktop's program for documents.
class DocumentOpener : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl& url) { opened << url; }
};

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
        const std::string source = WriteDatabase(dir, "big.mdb", jetwriter::bigDatabase(jetwriter::Format::Jet4, 100000));
        Window w;
        CMainFrame& frame = *w.frame;
        w.Repair(source);
        QTreeWidgetItem* events = child(child(frame.tree()->Root(), "Tables"), "Events");
        QVERIFY(events);
        frame.tree()->OnTextClick(events);
        // The grid takes no rows meanwhile, so the run waits with its feed full.
        letTheRunGoOn(500);
        frame.UpdateCommands();
        QVERIFY(frame.Command(ID_FILE_STOP)->isEnabled());
        frame.OnStop();
        QVERIFY(w.app.idle);
        QVERIFY(!w.app.worker);
        const int rows = frame.view()->tableData()->rowCount();
        QVERIFY2(rows > 0 && rows < 100000, qPrintable(QString::number(rows)));
        // The rows shown are the table's first rows, in order.
        QCOMPARE(frame.view()->tableData()->Row(0).value(0), QString("1"));
        QCOMPARE(frame.view()->tableData()->Row(rows - 1).value(0), QString::number(rows));
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
        QCOMPARE(frame.view()->tableData()->rowCount(), 2000);
    }

    void previewKeepsUpAndCountsTheTablesRows() {
        TempDir dir;
        const std::string source = WriteDatabase(dir, "big.mdb", jetwriter::bigDatabase(jetwriter::Format::Jet4, 100000));
        Window w;
        CMainFrame& frame = *w.frame;
        frame.show();
        w.Repair(source);
        QTreeWidgetItem* tables = child(frame.tree()->Root(), "Tables");
        frame.tree()->OnTextClick(child(tables, "Events"));
        // One bar for the whole table, as long as its definition says.
        CProgressBar* bar = frame.progressBar();
        QVERIFY(bar);
        QCOMPARE(bar->Maximum(), 100000);
        letTheRunGoOn(500);
        frame.ApplyPendingSteps();
        QVERIFY(frame.progressBar() == bar);
        QVERIFY2(bar->Position() > 1000 && bar->Position() < 100000, qPrintable(QString::number(bar->Position())));

        // A click on another table while the preview runs stops it and shows
        // that table: no question, no box.
        const int boxes = int(w.prompts->boxes.size());
        QTreeWidgetItem* accounts = child(tables, "Accounts");
        const QRect text = frame.tree()->visualItemRect(accounts);
        QTest::mouseClick(frame.tree()->viewport(), Qt::LeftButton, {}, QPoint(text.right() - 4, text.center().y()));
        QVERIFY(w.WaitIdle());
        QCOMPARE(frame.tree()->currentItem(), accounts);
        QCOMPARE(frame.view()->tableData()->rowCount(), 2000);
        QCOMPARE(frame.view()->tableData()->headerData(1, Qt::Horizontal, Qt::DisplayRole).toString(), QString("Owner"));
        QCOMPARE(int(w.prompts->boxes.size()), boxes);
        QVERIFY(w.prompts->confirmations.isEmpty());
        QVERIFY(!frame.progressBar());

        // The whole large table arrives, in order, with nothing left behind.
        frame.tree()->OnTextClick(child(tables, "Events"));
        QVERIFY(w.WaitIdle());
        RowModel* rows = frame.view()->tableData();
        QCOMPARE(rows->rowCount(), 100000);
        QCOMPARE(rows->Row(99999).value(0), QString("100000"));
        QCOMPARE(rows->Row(0).value(5), QString(" "));  // every 13th description is NULL
        QCOMPARE(rows->Row(13).value(5), QString(" "));
        QCOMPARE(rows->Row(1).value(5), QString("Event 2 of the benchmark ledger"));
        QVERIFY(w.app.currentRowValues.empty());
    }

    void aStoppedPreviewLeavesNoRowBehind() {
        TempDir dir;
        const std::string source = WriteDatabase(dir, "shop.mdb", jetwriter::demoDatabase(jetwriter::Format::Jet4));
        // Whatever an earlier run left in the hand-over values, the next
        // preview's first row is the table's first row.
        Window w;
        CMainFrame& frame = *w.frame;
        w.Repair(source);
        w.app.currentRowValues = {"left over", "from", "another table"};
        frame.tree()->OnTextClick(child(child(frame.tree()->Root(), "Tables"), "Orders"));
        QVERIFY(w.WaitIdle());
        QCOMPARE(frame.view()->tableData()->rowCount(), 300);
        QCOMPARE(frame.view()->tableData()->Row(0).size(), 7);
        QCOMPARE(frame.view()->tableData()->Row(0).value(0), QString("1"));
        QCOMPARE(frame.view()->tableData()->Row(0).value(2), QString("Chang #1"));
    }

    void aSaveOfEverythingLeavesNothingToSave() {
        TempDir dir;
        jetwriter::Database database = jetwriter::demoDatabase(jetwriter::Format::Jet4);
        database.objectStorage = jetwriter::demoObjectStorage();  // its form, report, macro and module
        const std::string source = WriteDatabase(dir, "objdemo.mdb", database);
        Window w;
        CMainFrame& frame = *w.frame;
        w.Repair(source);
        TempDir out;
        w.prompts->saveFolder = QString::fromStdString(out.path().string());
        frame.OnSave();
        QVERIFY(w.WaitIdle());
        const std::string output = out.file("Repaired_objdemo.sqlite");
        QCOMPARE(sqliteRows(output, "Orders"), 300LL);
        QCOMPARE(sqliteRows(output, "Customers"), 4LL);
        // Every object lost its check, and so did the root: Save is disabled.
        for (QTreeWidgetItem* item : allItems(frame.tree()->Root())) {
            QVERIFY2(CLeftView::State(item) != kStateChecked && CLeftView::State(item) != kStatePartial,
                     qPrintable(item->text(0)));
        }
        QCOMPARE(frame.tree()->RootCheckState(), int(kStateUnchecked));
        frame.UpdateCommands();
        QVERIFY(!frame.Command(ID_FILE_RECOVER)->isEnabled());
        // Pressed anyway (a key, a stale button), with Yes to any question:
        // the good file stays.
        w.prompts->overwriteAnswer = true;
        QTest::keyClick(&frame, Qt::Key_S, Qt::ControlModifier);
        frame.OnSave();
        QVERIFY(w.WaitIdle());
        QVERIFY(w.prompts->overwriteQuestions.isEmpty());
        QCOMPARE(sqliteRows(output, "Orders"), 300LL);
        QCOMPARE(sqliteRows(output, "Customers"), 4LL);
    }

    void aSavedObjectIsMarkedAndOneNotSavedIsNamed() {
        TempDir dir;
        jetwriter::Database database = jetwriter::demoDatabase(jetwriter::Format::Jet4);
        database.objectStorage = jetwriter::demoObjectStorage();
        // A form the catalog lists but the object storage lacks, listed
        // before the form that is stored: the save passes over it.
        const auto stored = std::find_if(database.objects.begin(), database.objects.end(),
                                         [](const jetwriter::CatalogObject& o) { return o.name == "Customer Form"; });
        QVERIFY(stored != database.objects.end());
        jetwriter::CatalogObject ghost;
        ghost.name = "A Ghost Form";
        ghost.kind = jetwriter::ObjectKind::Form;
        database.objects.insert(stored, ghost);
        const std::string source = WriteDatabase(dir, "objdemo.mdb", database);
        Window w;
        CMainFrame& frame = *w.frame;
        w.Repair(source);
        QCOMPARE(w.app.formNames.front(), std::string("A Ghost Form"));
        TempDir out;
        w.prompts->saveFolder = QString::fromStdString(out.path().string());
        frame.OnSave();
        QVERIFY(w.WaitIdle());
        // The stored form is the one marked saved; the other is named as not saved.
        QTreeWidgetItem* forms = child(frame.tree()->Root(), "Forms");
        QVERIFY(child(forms, "Customer Form")->toolTip(0).isEmpty());
        QCOMPARE(child(forms, "A Ghost Form")->toolTip(0), QString("Not saved"));
        QVERIFY(hasLineStarting(frame, "Not saved  : Forms/A Ghost Form"));
        QVERIFY(!hasLineStarting(frame, "Not saved  : Forms/Customer Form"));
        // Nothing is left checked: a second Save, with Yes to any question,
        // cannot replace the output with the unsaved form alone.
        QCOMPARE(frame.tree()->RootCheckState(), int(kStateUnchecked));
        frame.UpdateCommands();
        QVERIFY(!frame.Command(ID_FILE_RECOVER)->isEnabled());
        w.prompts->overwriteAnswer = true;
        frame.OnSave();
        QVERIFY(w.WaitIdle());
        QVERIFY(w.prompts->overwriteQuestions.isEmpty());
        const std::string output = out.file("Repaired_objdemo.sqlite");
        QCOMPARE(sqliteRows(output, "Orders"), 300LL);
    }

    void aColumnWithNothingToShowKeepsItsPlace() {
        TempDir dir;
        jetwriter::Database database = jetwriter::demoDatabase(jetwriter::Format::Jet4);
        jetwriter::Table odd;
        odd.name = "Odd";
        jetwriter::Column id, blob, name;
        id.name = "ID";
        id.type = jetwriter::kLong;
        blob.name = "Blob";
        blob.type = jetwriter::kBinary;
        blob.length = 10;
        name.name = "Name";
        name.type = jetwriter::kText;
        odd.columns = {id, blob, name};
        for (int64_t k = 1; k <= 3; ++k) {
            jetwriter::Row row;
            row.values = {k, jetwriter::Bytes{1, 2, 3}, std::string("row ") + std::to_string(k)};
            odd.rows.push_back(row);
        }
        database.tables.push_back(odd);
        jetwriter::Layout layout;
        std::vector<uint8_t> image = jetwriter::write(database, &layout);
        // The middle column's type becomes one the decoder has no text for.
        const jetwriter::TableLayout& table = layout.tables.back();
        const size_t entry = size_t(table.definitionPage) * layout.pageSize + table.columnEntriesOffset + table.columnEntrySize;
        QCOMPARE(image[entry], uint8_t(jetwriter::kBinary));
        image[entry] = 0x0D;
        const std::string source = dir.file("odd.mdb");
        jetwriter::saveFile(source, image);
        Window w;
        CMainFrame& frame = *w.frame;
        w.Repair(source);
        frame.tree()->OnTextClick(child(child(frame.tree()->Root(), "Tables"), "Odd"));
        QVERIFY(w.WaitIdle());
        QCOMPARE(frame.view()->tableData()->rowCount(), 3);
        const QStringList first = frame.view()->tableData()->Row(0);
        QCOMPARE(first.size(), 3);
        QCOMPARE(first.value(0), QString("1"));
        QCOMPARE(first.value(1), QString());
        QCOMPARE(first.value(2), QString("row 1"));
    }

    void theReportAndThePageMapShowTheDamage() {
        TempDir dir;
        jetwriter::Layout layout;
        std::vector<uint8_t> image = jetwriter::write(jetwriter::demoDatabase(jetwriter::Format::Jet4), &layout);
        const auto orders = std::find_if(layout.tables.begin(), layout.tables.end(),
                                         [](const jetwriter::TableLayout& t) { return t.name == "Orders"; });
        const auto customers = std::find_if(layout.tables.begin(), layout.tables.end(),
                                            [](const jetwriter::TableLayout& t) { return t.name == "Customers"; });
        QVERIFY(orders != layout.tables.end() && customers != layout.tables.end() && orders->dataPages.size() > 2);
        const uint32_t zeroed = orders->dataPages[orders->dataPages.size() / 2];
        jetwriter::Damage damage;
        damage.zeroPages = {zeroed};
        jetwriter::applyDamage(image, damage, layout);
        const std::string source = dir.file("shop.mdb");
        jetwriter::saveFile(source, image);
        Window w;
        CMainFrame& frame = *w.frame;
        w.Repair(source);

        // The summary and the tables with losses, in the pane and in the tree.
        ReportPane* pane = frame.report();
        QVERIFY2(pane->summary()->toPlainText().startsWith("After the scan\nCompleted with losses"),
                 qPrintable(pane->summary()->toPlainText()));
        QCOMPARE(pane->losses()->topLevelItemCount(), 1);
        QCOMPARE(pane->losses()->topLevelItem(0)->text(0), QString("Orders"));
        // The engine's report counts the rows the zeroed page held.
        QVERIFY2(pane->losses()->topLevelItem(0)->text(1).contains("rows its definition counts were not found"),
                 qPrintable(pane->losses()->topLevelItem(0)->text(1)));
        QTreeWidgetItem* tables = child(frame.tree()->Root(), "Tables");
        QVERIFY(child(tables, "Orders")->toolTip(0).startsWith("Losses:\n"));
        QVERIFY(child(tables, "Customers")->toolTip(0).isEmpty());

        // The page map: a cell per page, hover and click name the page and its owner.
        PageMapCells* cells = pane->pageMap()->cells();
        QCOMPARE(cells->CellCount(), image.size() / layout.pageSize);
        cells->resize(64 * PageMapCells::kCellSize, cells->heightForWidth(64 * PageMapCells::kCellSize));
        const QPoint over = cells->CellCentre(zeroed);
        QCOMPARE(cells->CellAt(over), int(zeroed));
        QMouseEvent move(QEvent::MouseMove, QPointF(over), QPointF(cells->mapToGlobal(over)), Qt::NoButton,
                         Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(cells, &move);
        QCOMPARE(pane->pageMap()->InfoText(), QString("page %1: zeroed (table Orders); rows lost").arg(zeroed));
        const uint32_t data = customers->dataPages.front();
        QTest::mouseClick(cells, Qt::LeftButton, {}, cells->CellCentre(data));
        QCOMPARE(pane->pageMap()->InfoText(), QString("page %1: table data (table Customers)").arg(data));
        QVERIFY(pane->pageMap()->LegendText().contains("zeroed: 1"));
        QVERIFY(pane->pageMap()->LegendText().contains("rows lost: 1"));

        // After a save, its report, kept over the re-read that follows.
        TempDir out;
        w.prompts->saveFolder = QString::fromStdString(out.path().string());
        frame.OnSave();
        QVERIFY(w.WaitIdle());
        const QString text = pane->summary()->toPlainText();
        QVERIFY2(text.startsWith("After the save\n"), qPrintable(text));
        QVERIFY(text.contains("Output  : " + QString::fromStdString(out.file("Repaired_shop.sqlite"))));
        QCOMPARE(pane->losses()->topLevelItemCount(), 1);
        QVERIFY(child(child(frame.tree()->Root(), "Tables"), "Orders")->toolTip(0).startsWith("Losses:\n"));
    }

    void aSaveWithNothingCheckedReplacesNothing() {
        TempDir dir;
        const std::string source = WriteDatabase(dir, "shop.mdb", jetwriter::demoDatabase(jetwriter::Format::Jet4));
        const std::string existing = dir.file("Repaired_shop.sqlite");
        std::ofstream(existing) << "a good earlier output";
        Window w;
        CMainFrame& frame = *w.frame;
        w.Repair(source);
        // Nothing checked, the root still partly checked: the state a save
        // stopped just before its end leaves.
        QTreeWidgetItem* root = frame.tree()->Root();
        frame.tree()->OnCheckClick(root);
        QCOMPARE(frame.tree()->RootCheckState(), int(kStateUnchecked));
        CLeftView::SetState(root, kStatePartial);
        frame.UpdateCommands();
        QVERIFY(frame.Command(ID_FILE_RECOVER)->isEnabled());
        w.prompts->saveFolder = QString::fromStdString(dir.path().string());
        w.prompts->overwriteAnswer = true;
        frame.OnSave();
        QVERIFY(w.WaitIdle());
        QCOMPARE(w.prompts->boxes.last(),
                 QString("\nNothing is checked to be saved.|Check the objects to save in the tree, then press Save."));
        QVERIFY(w.prompts->overwriteQuestions.isEmpty());
        std::ifstream kept(existing);
        std::string text;
        std::getline(kept, text);
        QCOMPARE(QString::fromStdString(text), QString("a good earlier output"));
        QVERIFY(!hasLineStarting(frame, "Saving process started on:"));
    }

    void columnInformationIsReadable() {
        TempDir dir;
        const std::string source = WriteDatabase(dir, "shop.mdb", jetwriter::demoDatabase(jetwriter::Format::Jet4));
        Window w;
        CMainFrame& frame = *w.frame;
        frame.show();
        w.Repair(source);
        frame.tree()->OnTextClick(child(child(frame.tree()->Root(), "Tables"), "Customers"));
        QVERIFY(w.WaitIdle());
        CQuorvinAccessRecoveryView* view = frame.view();
        view->tabs()->setCurrentIndex(1);
        QTableView* list = view->columnInformationList();
        QTRY_VERIFY(list->isVisible());
        // A quarter of the list's width each (the third one pixel wider, the
        // fourth two), and every cell's text fits its column.
        const int quarter = list->viewport()->width() / 4;
        QVERIFY2(quarter > 150, qPrintable(QString::number(quarter)));
        QCOMPARE(list->columnWidth(0), quarter);
        QCOMPARE(list->columnWidth(2), quarter + 1);
        QCOMPARE(list->columnWidth(3), quarter + 2);
        RowModel* model = view->columnInformation();
        QVERIFY(model->rowCount() > 10);
        for (int r = 0; r < model->rowCount(); ++r) {
            for (int c = 0; c < 4; ++c) {
                const QString cell = model->Row(r).value(c);
                QVERIFY2(list->fontMetrics().horizontalAdvance(cell) + 8 < list->columnWidth(c), qPrintable(cell));
            }
        }
        // The rule holds when the window changes its size.
        frame.resize(1500, 900);
        QTRY_COMPARE(list->columnWidth(0), list->viewport()->width() / 4);
        // Table Data: a tenth or less of the width per column for up to ten
        // columns, within the list.
        view->tabs()->setCurrentIndex(0);
        frame.tree()->OnTextClick(child(child(frame.tree()->Root(), "Tables"), "Orders"));
        QVERIFY(w.WaitIdle());
        QTableView* data = view->tableDataList();
        int total = 0;
        for (int c = 0; c < 7; ++c) total += data->columnWidth(c);
        QVERIFY2(total <= data->viewport()->width() && total > data->viewport()->width() - 30,
                 qPrintable(QString("%1 of %2").arg(total).arg(data->viewport()->width())));
    }

    void theStopQuestionAsTheSaveEnds() {
        TempDir dir;
        const std::string source = WriteDatabase(dir, "shop.mdb", jetwriter::demoDatabase(jetwriter::Format::Jet4));
        Window w;
        CMainFrame& frame = *w.frame;
        w.Repair(source);
        const size_t tablesRead = w.app.engine->tables.size();
        TempDir out;
        w.prompts->saveFolder = QString::fromStdString(out.path().string());
        // Stop is pressed as the save writes its last line, before the window
        // has seen the save's end: the save ends while the question is open.
        bool pressed = false;
        QStringList boxesWhileAsked;
        w.prompts->onConfirm = [&](const QString&) {
            // The click has been seen: from here the window goes on as it would.
            frame.mailbox()->release();
            QElapsedTimer timer;
            timer.start();
            while (w.app.treeLocked && timer.elapsed() < 20000) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            QTest::qWait(300);
            boxesWhileAsked = w.prompts->boxes;
        };
        const auto connection = connect(frame.log()->list()->model(), &QAbstractItemModel::rowsInserted, this, [&] {
            if (pressed || !logLines(frame).last().startsWith("Saving process completed on ")) return;
            pressed = true;
            // The click waits behind the save's last line; the save's end
            // comes after the click.
            frame.mailbox()->hold();
            QTimer::singleShot(0, &frame, [&] { frame.OnStop(); });
        });
        frame.OnSave();
        QTRY_VERIFY_WITH_TIMEOUT(pressed && w.app.idle && !w.app.worker, 60000);
        QVERIFY(w.WaitIdle());
        disconnect(connection);
        QCOMPARE(w.prompts->confirmations.size(), 1);
        // Nothing came over the question; then the save's box, once.
        QVERIFY(!boxesWhileAsked.contains("\nRepaired file saved at the desired location.|"));
        QCOMPARE(w.prompts->boxes.count("\nRepaired file saved at the desired location.|"), 1);
        // Yes stopped nothing: the save had ended, and the re-read after it
        // ran to its end.
        QVERIFY(!w.prompts->boxes.contains(QString("\n\nProcess stopped by user.|") + kEighteenSpaces));
        QVERIFY(!hasLineStarting(frame, "Process stopped by user on "));
        QVERIFY(!hasLineStarting(frame, "File partially repaired"));
        QVERIFY(!w.app.stopRequested);
        QCOMPARE(w.app.engine->tables.size(), tablesRead);
        QVERIFY(!w.app.engine->queries.empty());
        QCOMPARE(sqliteRows(out.file("Repaired_shop.sqlite"), "Orders"), 300LL);
    }

    void codePageReadsTheOpenFileAgain() {
        TempDir dir;
        // "Привет" in Windows code page 1251; read as 1252 it is "Ïðèâåò".
        const std::string source =
            WriteDatabase(dir, "cyrillic.mdb", notesDatabase(jetwriter::Format::Jet3, 1251, {"Привет"}));
        Window w;
        CMainFrame& frame = *w.frame;
        w.app.codePage = "WINDOWS-1252";
        w.Repair(source);
        frame.tree()->OnTextClick(child(child(frame.tree()->Root(), "Tables"), "Notes"));
        QVERIFY(w.WaitIdle());
        QCOMPARE(frame.view()->tableData()->Row(0).value(1), QString("Ïðèâåò"));
        const int boxes = int(w.prompts->boxes.size());
        frame.ApplyCodePage(1251);
        QVERIFY(w.WaitIdle());
        QVERIFY(!w.prompts->boxes.mid(boxes).contains(QString(" \n\n\nThis file is already selected.|") + kEighteenSpaces));
        QVERIFY(logLines(frame).contains("Code page of Access 97 texts  : 1251 (the open file is read again)"));
        frame.tree()->OnTextClick(child(child(frame.tree()->Root(), "Tables"), "Notes"));
        QVERIFY(w.WaitIdle());
        QCOMPARE(frame.view()->tableData()->Row(0).value(1), QString("Привет"));
        // Without an open file it waits for the next repair.
        Window empty;
        empty.frame->ApplyCodePage(1250);
        QVERIFY(logLines(*empty.frame).contains("Code page of Access 97 texts  : 1250 (used from the next repair)"));
        QCOMPARE(QString::fromStdString(empty.app.codePage), QString("WINDOWS-1250"));
    }

    void previewShowsWesternTextOnlyAndTheSaveKeepsAll() {
        TempDir dir;
        const std::vector<std::string> texts = {"Müller", "Ωmega", "abc Ω def", "naïve café"};
        const std::string source = WriteDatabase(dir, "greek.mdb", notesDatabase(jetwriter::Format::Jet4, 1252, texts));
        Window w;
        CMainFrame& frame = *w.frame;
        w.Repair(source);
        frame.tree()->OnTextClick(child(child(frame.tree()->Root(), "Tables"), "Notes"));
        QVERIFY(w.WaitIdle());
        RowModel* rows = frame.view()->tableData();
        QCOMPARE(rows->Row(0).value(1), QString("Müller"));
        QCOMPARE(rows->Row(1).value(1), QString("(non-western character)"));
        QCOMPARE(rows->Row(2).value(1), QString("abc (non-western character)"));
        QCOMPARE(rows->Row(3).value(1), QString("naïve café"));
        TempDir out;
        w.prompts->saveFolder = QString::fromStdString(out.path().string());
        frame.OnSave();
        QVERIFY(w.WaitIdle());
        QCOMPARE(sqliteTexts(out.file("Repaired_greek.sqlite"), "Notes", "Text"),
                 QStringList({"Müller", "Ωmega", "abc Ω def", "naïve café"}));
    }

    void helpSaysWhereTheDocumentIs() {
        Window w;
        // No program to show documents (as on this test platform).
        w.frame->OnHelp();
        QVERIFY2(w.prompts->boxes.last().startsWith("\nNo program to show the help document is installed.|The help is "
                                                    "the file "),
                 qPrintable(w.prompts->boxes.last()));
        QVERIFY(w.prompts->boxes.last().endsWith("/README.md"));
        // With one, the README opens and nothing is said.
        DocumentOpener opener;
        QDesktopServices::setUrlHandler("file", &opener, "open");
        const int boxes = int(w.prompts->boxes.size());
        w.frame->OnHelp();
        QDesktopServices::unsetUrlHandler("file");
        QCOMPARE(int(w.prompts->boxes.size()), boxes);
        QCOMPARE(opener.opened.size(), 1);
        QVERIFY(opener.opened[0].toLocalFile().endsWith("/README.md"));
        QVERIFY(QFile::exists(opener.opened[0].toLocalFile()));
    }

    void theLicenceIsShown() {
        const ProductSettings settings = ReadProductSettings();
        CLicenceDlg licence(settings.installFolder + "/LICENSE");
        QVERIFY2(licence.text().startsWith("MIT License"), qPrintable(licence.text().left(80)));
        QVERIFY(licence.text().contains("Copyright (c) 2026 Quorvin Talmera"));
        // From the About box.
        CAboutDlg about(settings.version, settings.supportLink, settings.installFolder + "/LICENSE");
        QString shown;
        QTimer::singleShot(0, [&] {
            if (auto* window = qobject_cast<CLicenceDlg*>(QApplication::activeModalWidget())) {
                shown = window->text();
                window->accept();
            }
        });
        for (QPushButton* button : about.findChildren<QPushButton*>()) {
            if (button->text() == "View User License") button->click();
        }
        QCOMPARE(shown, licence.text());
    }

    void theFindBarStaysReachableInANarrowWindow() {
        Window w;
        CMainFrame& frame = *w.frame;
        frame.show();
        for (int width : {1400, 640}) {
            frame.resize(width, 700);
            QTRY_COMPARE(frame.width(), width);
            frame.UpdateCommands();
            QCoreApplication::processEvents();
            // Every control of the bar lies whole inside each of its parents, up to the window.
            for (QWidget* control : std::initializer_list<QWidget*>{frame.findBar()->textBox(), frame.findBar()->findButton(),
                                                                    frame.findBar()->previousButton()}) {
                QVERIFY(control->isVisibleTo(&frame));
                for (QWidget* parent = control->parentWidget(); parent; parent = parent->parentWidget()) {
                    const QRect place(control->mapTo(parent, QPoint(0, 0)), control->size());
                    QVERIFY2(parent->rect().contains(place),
                             qPrintable(QString("%1 in %2 at width %3")
                                            .arg(control->metaObject()->className(), parent->metaObject()->className())
                                            .arg(width)));
                    if (parent == &frame) break;
                }
            }
        }
        // Wide again: back beside the commands.
        frame.resize(1400, 700);
        QTRY_COMPARE(frame.width(), 1400);
        frame.UpdateCommands();
        QCOMPARE(frame.findBar()->parentWidget(), frame.ribbon()->findChild<QTabWidget*>());
    }

    void everyCommandHasAKeyInItsTooltip() {
        Window w;
        const int ids[] = {ID_FILE_OPEN, ID_FILE_RECOVER, ID_FILE_STOP, ID_APP_EXIT, ID_VIEW_STATUS_BAR,
                           ID_VIEW_MESSAGEBAR, ID_TOOL_SAVELOG, ID_TOOL_CLEARLOG, ID_HELP_UPDATES,
                           ID_TOOL_RECOVER_DELETED_RECORDS, ID_TOOL_CODEPAGE, ID_HELP_SUBMITSUPPORTTICKET,
                           ID_HELP_VIEWSUPPORTSECTION, ID_HELP_INDEX, ID_HELP_VISITKNOWLEDGEBASE, ID_APP_ABOUT};
        QSet<QString> keys;
        for (int id : ids) {
            QAction* command = w.frame->Command(id);
            QVERIFY(command);
            const QString key = command->shortcut().toString(QKeySequence::NativeText);
            QVERIFY2(!key.isEmpty(), qPrintable(command->text()));
            QVERIFY2(command->toolTip().endsWith(" (" + key + ")"), qPrintable(command->toolTip()));
            QVERIFY2(!keys.contains(key), qPrintable(key));
            keys.insert(key);
        }
        QCOMPARE(w.frame->Command(ID_FILE_RECOVER)->toolTip(), QString("Save (Ctrl+S)"));
        QCOMPARE(w.frame->Command(ID_VIEW_STATUS_BAR)->toolTip(), QString("Show or hide the Status Bar (Ctrl+Shift+B)"));
        // A key works whichever ribbon category is shown: Ctrl+Shift+M hides the log.
        w.frame->show();
        QVERIFY(QTest::qWaitForWindowActive(w.frame.get()));
        QVERIFY(!w.frame->log()->isHidden());
        QTest::keyClick(w.frame.get(), Qt::Key_M, Qt::ControlModifier | Qt::ShiftModifier);
        QVERIFY(w.frame->log()->isHidden());
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
        // Stopped while Events is written (through its scratch table: it has an auto-number).
        QTRY_VERIFY_WITH_TIMEOUT(hasLineStarting(frame, "Saving Table.....  Events") && frame.progressBar() &&
                                     frame.progressBar()->Position() > 1000,
                                 60000);
        frame.OnStop();
        QVERIFY(w.app.idle);
        QVERIFY(idleAtBox);
        QCOMPARE(tablesAtBox, size_t(2));
        const std::string output = out.file("Repaired_big.sqlite");
        QVERIFY(logLines(frame).contains("File partially repaired and saved at Location  : " +
                                         QString::fromStdString(output)));
        // The partial file: a sound database whose Events holds the table's
        // first rows, each whole and in order, and nothing of the rest; the
        // scratch table is gone; Accounts, not reached, is there and empty.
        QCOMPARE(sqliteText(output, "PRAGMA integrity_check"), QString("ok"));
        const long long events = sqliteRows(output, "Events");
        QVERIFY2(events > 0 && events < 60000, qPrintable(QString::number(events)));
        QCOMPARE(sqliteText(output, "SELECT min(EventID) || ' ' || max(EventID) || ' ' || count(DISTINCT EventID) FROM Events"),
                 QString("1 %1 %1").arg(events));
        static const char* kinds[] = {"deposit", "withdrawal", "transfer", "fee", "interest"};
        for (const long long id : {1LL, events / 2, events}) {
            const long long i = id - 1;
            const QString description = i % 13 == 0 ? QString("NULL") : QString("Event %1 of the benchmark ledger").arg(id);
            QCOMPARE(sqliteText(output, "SELECT AccountID || '|' || Kind || '|' || ifnull(Description, 'NULL') || '|' || "
                                        "Processed FROM Events WHERE EventID = " + std::to_string(id)),
                     QString("%1|%2|%3|%4").arg(1 + i % 997).arg(kinds[i % 5]).arg(description).arg(i % 2 == 0 ? 1 : 0));
        }
        QCOMPARE(sqliteRows(output, "QTARTable"), -1LL);
        QCOMPARE(sqliteRows(output, "Accounts"), 0LL);
        QVERIFY(!hasLineStarting(frame, "Total record(s) Repaired  :"));
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
