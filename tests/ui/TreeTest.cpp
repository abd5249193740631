// The object tree: check-box rules, what BuildTree lists, the selection for
// Save, the saved marks, the details texts and find.
#include <QtTest>

#include "engine/MDBRecovery.h"
#include "tests/ui/UiTestSupport.h"
#include "ui/FindBar.h"
#include "ui/Application.h"
#include "ui/Images.h"
#include "ui/LeftView.h"
#include "ui/RecordView.h"
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QApplication>
#include <QCheckBox>
#include <QMenu>
#include <QTableView>
#include <QTimer>

#include "ui/Dialogs.h"

using namespace talmera;
using namespace talmera::ui;
using namespace talmera::ui::test;

namespace {

columnInfo column(const std::string& name, uint8_t type, uint16_t number, uint16_t length = 0) {
    columnInfo c;
    c.name = name;
    c.type = type;
    c.columnNumber = number;
    c.length = length;
    return c;
}

indexInfo index(const std::string& name, std::vector<uint16_t> columns, bool primary = false) {
    indexInfo i;
    i.indexNames = {name};
    i.columnNumbers = std::move(columns);
    i.isPrimary = primary;
    return i;
}

tableInfo table(const std::string& name, std::vector<columnInfo> columns, std::vector<indexInfo> indexes = {}) {
    tableInfo t;
    t.name = name;
    t.columns = std::move(columns);
    t.columnCount = uint32_t(t.columns.size());
    t.indexes = std::move(indexes);
    return t;
}

// A catalog of every kind: two tables with indexes, a table of deleted
// records, one with an index over an attachment column, queries, a link, and
// one form, report, macro and module.
void fillEngine(CQuorvinAccessRecoveryApp& app, CMDBRecovery& engine) {
    engine.tables.push_back(table("Orders", {column("OrderID", 4, 0), column("Product", 10, 1, 80)},
                                  {index("PrimaryKey", {0}, true), index("ByProduct", {1})}));
    engine.tables.push_back(table("order_2", {column("ID", 4, 0)}));
    engine.tables.push_back(table("Orders(deleted records)", {column("OrderID", 4, 0)}));
    engine.tables.back().deletedRecords = true;
    engine.tables.push_back(table("Photos", {column("ID", 4, 0), column("Picture", 18, 1)},
                                  {index("ByPicture", {0, 1}), index("Dangling", {7})}));
    engine.tables.push_back(table("Empty", {}));
    queryInfo q1;
    q1.name = "order items";
    q1.sqlText = "SELECT * FROM Orders;";
    queryInfo q2;
    q2.name = "Totals";
    engine.queries = {q1, q2};
    LinkedTableInfo link;
    link.linkName = "Suppliers";
    link.databasePath = "C:\\Data\\Suppliers.mdb";
    engine.linkedTables = {link};
    app.formNames = {"Order Form"};
    app.reportNames = {"Sales"};
    app.macroNames = {"AutoExec"};
    app.moduleNames = {"Utilities"};
}

QTreeWidgetItem* itemAt(CLeftView* tree, const QString& path) {
    QTreeWidgetItem* item = tree->Root();
    if (path.isEmpty()) return item;
    for (const QString& part : path.split('/')) {
        QTreeWidgetItem* next = nullptr;
        for (int i = 0; item && i < item->childCount() && !next; ++i) {
            if (item->child(i)->text(0) == part) next = item->child(i);
        }
        item = next;
    }
    return item;
}

QStringList childNames(QTreeWidgetItem* item) {
    QStringList names;
    for (int i = 0; item && i < item->childCount(); ++i) names << item->child(i)->text(0);
    return names;
}

QStringList qlist(const std::vector<std::string>& names) {
    QStringList list;
    for (const auto& n : names) list << QString::fromStdString(n);
    return list;
}

}  // namespace

class TreeTest : public QObject {
    Q_OBJECT

    std::unique_ptr<Window> window;
    CLeftView* tree() { return window->frame->tree(); }

private slots:
    void init() {
        window = std::make_unique<Window>();
        window->app.engine = std::make_shared<CMDBRecovery>(window->app);
        fillEngine(window->app, *window->app.engine);
        QVERIFY(tree()->BuildTree(*window->app.engine, "/data/shop.mdb"));
    }
    void cleanup() { window.reset(); }

    void buildTreeListsEveryKindInOrder() {
        QCOMPARE(childNames(tree()->Root()),
                 QStringList({"Tables", "Linked Tables", "Queries", "Forms", "Reports", "Macros", "Modules"}));
        // Deleted records only with the option; a table without columns has no indexes.
        QCOMPARE(childNames(itemAt(tree(), "Tables")), QStringList({"Orders", "order_2", "Photos", "Empty"}));
        QCOMPARE(childNames(itemAt(tree(), "Tables/Orders/Indexes")), QStringList({"PrimaryKey", "ByProduct"}));
        // An index whose last column is an attachment is not listed, nor one over no column.
        QCOMPARE(childNames(itemAt(tree(), "Tables/Photos")), QStringList());
        QCOMPARE(CLeftView::Image(itemAt(tree(), "Tables/Orders")), int(kImageTable));
        QCOMPARE(CLeftView::Image(itemAt(tree(), "Linked Tables/Suppliers")), int(kImageLinkedTable));
        QCOMPARE(CLeftView::Image(itemAt(tree(), "Tables/Orders/Indexes/PrimaryKey")), int(kImageIndex));
        QCOMPARE(CLeftView::State(itemAt(tree(), "Tables/Orders/Indexes")), int(kStateNone));
        QCOMPARE(tree()->RootCheckState(), int(kStateChecked));

        window->app.includeDeletedRecords = true;
        QVERIFY(tree()->BuildTree(*window->app.engine, "/data/shop.mdb"));
        QVERIFY(childNames(itemAt(tree(), "Tables")).contains("Orders(deleted records)"));

        // Nothing found at all: the tree stays as it is.
        CMDBRecovery empty(window->app);
        CQuorvinAccessRecoveryApp& app = window->app;
        app.formNames.clear();
        app.reportNames.clear();
        app.macroNames.clear();
        app.moduleNames.clear();
        QVERIFY(!tree()->BuildTree(empty, "/other.mdb"));
        QCOMPARE(tree()->Root()->text(0), QString("/data/shop.mdb"));
    }

    void checkRules_data() {
        QTest::addColumn<QStringList>("clicks");
        QTest::addColumn<QStringList>("expected");  // "path=state"
        QTest::newRow("one table off") << QStringList{"Tables/Orders"}
                                       << QStringList{"Tables/Orders=1", "Tables=3", "=3", "Tables/order_2=2",
                                                      "Tables/Orders/Indexes=0"};
        QTest::newRow("category off stops at tables")
            << QStringList{"Tables"}
            << QStringList{"Tables=1", "Tables/Orders=1", "Tables/Empty=1", "Tables/Orders/Indexes=0",
                           "Tables/Orders/Indexes/PrimaryKey=0", "=3", "Queries=2"};
        QTest::newRow("root off") << QStringList{""}
                                  << QStringList{"=1", "Tables=1", "Queries/Totals=1", "Modules/Utilities=1",
                                                 "Tables/Orders/Indexes=0"};
        QTest::newRow("root off and on") << QStringList{"", ""}
                                         << QStringList{"=2", "Tables=2", "Tables/Orders=2", "Forms/Order Form=2"};
        QTest::newRow("every form off") << QStringList{"Forms/Order Form"}
                                        << QStringList{"Forms=1", "=3", "Reports=2"};
        QTest::newRow("every table off") << QStringList{"Tables/Orders", "Tables/order_2", "Tables/Photos", "Tables/Empty"}
                                         << QStringList{"Tables=1", "=3"};
        QTest::newRow("partial category clicked")
            << QStringList{"Tables/Orders", "Tables"} << QStringList{"Tables=1", "Tables/order_2=1", "=3"};
        QTest::newRow("one back on") << QStringList{"Tables", "Tables/Orders"}
                                     << QStringList{"Tables=3", "Tables/Orders=2", "Tables/Photos=1"};
        QTest::newRow("all categories off")
            << QStringList{"Tables", "Linked Tables", "Queries", "Forms", "Reports", "Macros", "Modules"}
            << QStringList{"=1"};
    }

    void checkRules() {
        QFETCH(QStringList, clicks);
        QFETCH(QStringList, expected);
        for (const QString& path : clicks) {
            QTreeWidgetItem* item = itemAt(tree(), path);
            QVERIFY2(item, qPrintable(path));
            tree()->OnCheckClick(item);
        }
        for (const QString& expectation : expected) {
            const QString path = expectation.section('=', 0, 0);
            const int state = expectation.section('=', 1).toInt();
            QVERIFY2(itemAt(tree(), path), qPrintable(path));
            QCOMPARE(CLeftView::State(itemAt(tree(), path)), state);
        }
    }

    void lockedTreeIgnoresClicks() {
        window->app.treeLocked = true;
        tree()->OnCheckClick(itemAt(tree(), "Tables/Orders"));
        QCOMPARE(CLeftView::State(itemAt(tree(), "Tables/Orders")), int(kStateChecked));
        tree()->SelectItem(itemAt(tree(), "Queries"));
        tree()->OnTextClick(itemAt(tree(), "Tables/Orders"));
        QCOMPARE(tree()->currentItem(), itemAt(tree(), "Queries"));
        window->app.treeLocked = false;
    }

    void collectSelectionTakesCheckedItemsOnly() {
        tree()->OnCheckClick(itemAt(tree(), "Tables/Orders"));
        tree()->OnCheckClick(itemAt(tree(), "Forms"));
        tree()->CollectSelection();
        CQuorvinAccessRecoveryApp& app = window->app;
        QCOMPARE(qlist(app.selectedTables), QStringList({"order_2", "Photos", "Empty"}));
        QCOMPARE(qlist(app.selectedQueries), QStringList({"order items", "Totals"}));
        QCOMPARE(qlist(app.selectedLinkedTables), QStringList({"Suppliers"}));
        QVERIFY(app.selectedForms.empty());
        QCOMPARE(qlist(app.selectedReports), QStringList({"Sales"}));
        QCOMPARE(qlist(app.selectedMacros), QStringList({"AutoExec"}));
        QCOMPARE(qlist(app.selectedModules), QStringList({"Utilities"}));
        // With the root unchecked nothing is selected.
        tree()->OnCheckClick(tree()->Root());
        tree()->OnCheckClick(tree()->Root());
        tree()->OnCheckClick(tree()->Root());
        QCOMPARE(tree()->RootCheckState(), int(kStateUnchecked));
        tree()->CollectSelection();
        QVERIFY(app.selectedTables.empty() && app.selectedQueries.empty() && app.selectedModules.empty());
    }

    void markSavedClearsTheSavedObject() {
        CMDBRecovery& engine = *window->app.engine;
        engine.savingTables = true;
        tree()->MarkSaved(1, engine);  // order_2
        QCOMPARE(CLeftView::State(itemAt(tree(), "Tables/order_2")), int(kStateUnchecked));
        QCOMPARE(CLeftView::State(itemAt(tree(), "Tables")), int(kStatePartial));
        QCOMPARE(CLeftView::State(tree()->Root()), int(kStatePartial));
        engine.savingTables = false;
        engine.savingLinkedTables = true;
        window->app.selectedLinkedTables = {"Suppliers"};
        tree()->MarkSaved(0, engine);
        QCOMPARE(CLeftView::State(itemAt(tree(), "Linked Tables")), int(kStateUnchecked));
        engine.savingLinkedTables = false;
        // An index out of range marks nothing.
        engine.savingQueries = true;
        tree()->MarkSaved(99, engine);
        QCOMPARE(CLeftView::State(itemAt(tree(), "Queries")), int(kStateChecked));
    }

    void columnInformationRows_data() {
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("length");
        QTest::addColumn<QString>("flags");
        QTest::addColumn<bool>("newNames");
        QTest::addColumn<QStringList>("cells");
        QTest::newRow("yes/no") << 1 << 0 << "" << false << QStringList{"Yes/No", "Yes/No", "1 bit"};
        QTest::newRow("byte") << 2 << 0 << "" << false << QStringList{"Number", "Byte", "1 bytes"};
        QTest::newRow("auto number") << 4 << 0 << "auto" << false << QStringList{"Auto Number", "Auto Number", "4 bytes"};
        QTest::newRow("long") << 4 << 0 << "" << false << QStringList{"Number", "Long Integer", "4 bytes"};
        QTest::newRow("binary") << 9 << 0 << "" << false << QStringList{"Number", "Binary", " "};
        QTest::newRow("text 100 bytes") << 10 << 100 << "" << false << QStringList{"Text", "Text", "50 bytes"};
        QTest::newRow("text, Access 2016") << 10 << 20 << "" << true << QStringList{"Short Text", "Short Text", "10 bytes"};
        QTest::newRow("memo, Access 2016") << 12 << 0 << "" << true
                                           << QStringList{"Long Text", "Long Text", "Up to 64,000 characters"};
        QTest::newRow("hyperlink") << 12 << 0 << "link" << false
                                   << QStringList{"HyperLink", "HyperLink", "Up to 64,000 characters"};
        QTest::newRow("ole") << 11 << 0 << "" << false << QStringList{"Ole Object", "Ole Object", "Up to 1 gigabyte"};
        QTest::newRow("guid") << 15 << 0 << "" << false << QStringList{"Number", "Replication ID", "16 bytes"};
        QTest::newRow("attachment") << 18 << 0 << "" << false << QStringList{"Attachment", "Attachment", "4 bytes"};
        QTest::newRow("calculated double") << 12 << 0 << "calc7" << false << QStringList{"Calculated", "Double", "8 bytes"};
        QTest::newRow("unknown") << 0x13 << 0 << "" << false << QStringList{"Memo", "Memo", "Up to 64,000 characters"};
    }

    void columnInformationRows() {
        QFETCH(int, type);
        QFETCH(int, length);
        QFETCH(QString, flags);
        QFETCH(bool, newNames);
        QFETCH(QStringList, cells);
        columnInfo c = column("Field", uint8_t(type), 0, uint16_t(length));
        c.isAutoNumber = flags == "auto";
        c.isHyperlink = flags == "link";
        if (flags == "calc7") {
            c.isCalculated = true;
            c.properties = {{"ResultType", "7"}};
        }
        const auto row = ColumnInformationRow(c, newNames);
        QCOMPARE(row[0], QString("Field"));
        QCOMPARE((QStringList{row[1], row[2], row[3]}), cells);
    }

    void detailsTexts() {
        const CMDBRecovery& engine = *window->app.engine;
        QCOMPARE(IndexText(engine.tables[0], engine.tables[0].indexes[0], "PrimaryKey"),
                 QString(" Index Name  -   PrimaryKey\r\n\r\n Field Name   -   OrderID\r\n PrimaryKey   -   Yes\r\n"
                         " UniqueKey    -   Yes\r\n NotNull          -   No"));
        indexInfo twoColumns = index("Pair", {1, 9, 0});
        QCOMPARE(IndexText(engine.tables[0], twoColumns, "Pair").section("\r\n", 2, 2),
                 QString(" Field Name   -   Product , OrderID"));
        QCOMPARE(QueryText(engine.queries[0]),
                 QString("Query Name: order items\r\n\r\nSQL:\r\n\r\nSELECT * FROM Orders;\r\n"));
        QCOMPARE(LinkedTableText(engine.linkedTables[0]),
                 QString(" Linked table             -    Suppliers\r\n\r\n External file path     -    "
                         "C:\\Data\\Suppliers.mdb\r\n"));
        RelationView relation{"OrdersCustomers", "Orders", "Customers", "CustomerID", "ID"};
        QCOMPARE(RelationText(relation),
                 QString(" Relation Name          -    OrdersCustomers\r\n\r\n ReferenceTable        -    Customers\r\n"
                         " ForeignKeyColumn   -    CustomerID\r\n ReferenceColumn     -    ID"));
    }

    void relationsWhereTheEngineHasThem() {
        struct Relation {
            std::string relationName, tableName, foreignTableName, foreignColumnName, columnName;
        };
        struct WithRelations {
            std::vector<Relation> relations;
        } with{{{"R1", "Orders", "Customers", "CustomerID", "ID"}}};
        struct WithoutRelations {
        } without;
        const auto relations = RelationsOf(with);
        QCOMPARE(relations.size(), size_t(1));
        QCOMPARE(QString::fromStdString(relations[0].foreignTableName), QString("Customers"));
        QVERIFY(RelationsOf(without).empty());
    }

    void clicksShowDetails() {
        window->app.idle = true;
        tree()->OnTextClick(itemAt(tree(), "Queries/order items"));
        QCOMPARE(window->frame->view()->text(), QueryText(window->app.engine->queries[0]));
        QCOMPARE(window->frame->statusPane(1)->text(), QString("Selected Item  : order items"));
        // The pane's text is read-only but can be selected and copied.
        CReadOnlyEdit* pane = window->frame->view()->textPane();
        QVERIFY(pane->isReadOnly());
        QVERIFY(pane->textInteractionFlags() & Qt::TextSelectableByMouse);
        pane->selectAll();
        QVERIFY(pane->textCursor().selectedText().contains("SELECT * FROM Orders;"));
        tree()->OnTextClick(itemAt(tree(), "Tables/Orders/Indexes/ByProduct"));
        QVERIFY(window->frame->view()->text().startsWith(" Index Name  -   ByProduct"));
        tree()->OnTextClick(itemAt(tree(), "Forms/Order Form"));
        QCOMPARE(window->frame->view()->content(), 0);
        QCOMPARE(window->frame->view()->pictureMode(), 1);
        tree()->OnTextClick(itemAt(tree(), "Linked Tables/Suppliers"));
        QVERIFY(window->frame->view()->text().contains("C:\\Data\\Suppliers.mdb"));
    }

    void tableColumnWidths() {
        CQuorvinAccessRecoveryView view(window->app);
        view.resize(1000, 600);
        std::vector<columnInfo> ten, eleven;
        for (uint16_t i = 0; i < 10; ++i) ten.push_back(column("Name", 4, i));
        for (uint16_t i = 0; i < 11; ++i) eleven.push_back(column(i == 0 ? "Name" : "Longer name", 4, i));
        view.ShowTable(table("Ten", ten));
        // The list's client width, known before the list is first shown.
        const int width = view.tableDataList()->maximumViewportSize().width();
        QVERIFY(width > 900);
        QCOMPARE(view.tableDataList()->columnWidth(3), width / 10);
        // Eleven columns or more: by the name's length.
        view.ShowTable(table("Eleven", eleven));
        QCOMPARE(view.tableDataList()->columnWidth(0), 91);
        QCOMPARE(view.tableDataList()->columnWidth(1), 11 * 4 + 75);
        QCOMPARE(view.columnInformation()->rowCount(), 11);
        QCOMPARE(view.tableData()->rowCount(), 0);
        // Rows arrive one per message; an empty row still counts its place.
        window->app.currentRowValues = {"1", "a"};
        view.AddRecordRow(true);
        window->app.currentRowValues = {};
        view.AddRecordRow(false);
        window->app.currentRowValues = {"3", "c"};
        view.AddRecordRow(false);
        QVERIFY(window->app.currentRowValues.empty());
        view.FlushRows();
        QCOMPARE(view.tableData()->rowCount(), 2);
        QCOMPARE(view.tableData()->Row(1), QStringList({"3", "c"}));
        view.ShowPicture(1);
        QCOMPARE(view.content(), 0);
        QVERIFY(!view.tableDataList());
    }

    void findItem_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("matchCase");
        QTest::addColumn<bool>("wholeWord");
        QTest::addColumn<QStringList>("found");  // successive finds from the root
        QTest::newRow("part of a name") << "order" << false << false
                                        << QStringList{"Orders", "order_2", "Orders(deleted records)", "order items", "Order Form"};
        QTest::newRow("trailing spaces") << "order   " << false << false
                                         << QStringList{"Orders", "order_2", "Orders(deleted records)", "order items", "Order Form"};
        QTest::newRow("whole word") << "order" << false << true << QStringList{"order items", "Order Form"};
        QTest::newRow("match case") << "Order" << true << false
                                    << QStringList{"Orders", "Orders(deleted records)", "Order Form"};
        QTest::newRow("no match") << "zebra" << false << false << QStringList{};
        QTest::newRow("spaces only") << "   " << false << false << QStringList{};
    }

    void findItem() {
        QFETCH(QString, text);
        QFETCH(bool, matchCase);
        QFETCH(bool, wholeWord);
        QFETCH(QStringList, found);
        window->app.includeDeletedRecords = true;
        QVERIFY(tree()->BuildTree(*window->app.engine, "/data/shop.mdb"));
        tree()->SelectItem(tree()->Root());
        QStringList names;
        while (QTreeWidgetItem* item = tree()->FindItem(text, matchCase, true, wholeWord)) {
            names << item->text(0);
            QCOMPARE(tree()->startItem, item);
            tree()->SelectItem(item);
            QVERIFY(names.size() < 20);
        }
        QCOMPARE(names, found);
    }

    void findBarSteps() {
        CMainFrame& frame = *window->frame;
        CSearch* bar = frame.findBar();
        bar->EnableInput();
        bar->textBox()->setText("order ");  // a space can be typed: names have spaces
        QCOMPARE(bar->textBox()->text(), QString("order "));
        QVERIFY(bar->findButton()->isEnabled());
        QVERIFY(!bar->previousButton()->isEnabled());
        QCOMPARE(tree()->currentItem(), tree()->Root());
        bar->wholeWord()->setChecked(true);
        bar->PressFind();
        QCOMPARE(bar->findButton()->text(), QString("Find Next"));
        QCOMPARE(tree()->currentItem()->text(0), QString("order items"));
        QVERIFY(bar->previousButton()->isEnabled());
        bar->PressFind();
        QCOMPARE(tree()->currentItem()->text(0), QString("Order Form"));
        // No further match: the message, and the last match selected again.
        bar->PressFind();
        QCOMPARE(window->prompts->boxes.last(), QString("Search is finished, No further results available.|"));
        QCOMPARE(tree()->currentItem()->text(0), QString("Order Form"));
        bar->PressPrevious();
        QCOMPARE(tree()->currentItem()->text(0), QString("order items"));
        QVERIFY(bar->previousButton()->isEnabled());
        bar->PressPrevious();
        QCOMPARE(tree()->currentItem(), tree()->Root());
        QVERIFY(!bar->previousButton()->isEnabled());

        // A new text resets the history; a text found nowhere says so.
        bar->textBox()->setText("zebra");
        QCOMPARE(bar->findButton()->text(), QString("Find"));
        QVERIFY(frame.foundHistory().isEmpty());
        bar->PressFind();
        QCOMPARE(window->prompts->boxes.last(), QString("\n\nSearch is finished. No match found.|"));
        QVERIFY(!bar->previousButton()->isEnabled());
        bar->textBox()->clear();
        QVERIFY(!bar->findButton()->isEnabled());
    }

    void keysOfTheFindBoxMenusAndBoxes() {
        KeyFilter filter;
        qApp->installEventFilter(&filter);
        CSearch* bar = window->frame->findBar();
        bar->EnableInput();
        bar->textBox()->clear();
        window->frame->show();
        QVERIFY(QTest::qWaitForWindowActive(window->frame.get()));
        // A space is typed (names have spaces); Enter is Find.
        bar->textBox()->setFocus();
        QTest::keyClicks(bar->textBox(), "order items");
        QCOMPARE(bar->textBox()->text(), QString("order items"));
        QTest::keyClick(bar->textBox(), Qt::Key_Return);
        QCOMPARE(tree()->currentItem(), itemAt(tree(), "Queries/order items"));
        QCOMPARE(bar->findButton()->text(), QString("Find Next"));

        // Escape closes a menu.
        QMenu menu;
        menu.addAction("Windows code page 1251");
        menu.popup(QPoint(100, 100));
        QTRY_VERIFY(menu.isVisible());
        QTest::keyClick(&menu, Qt::Key_Escape);
        QTRY_VERIFY(!menu.isVisible());

        // In a question of the tool Enter answers nothing; Escape closes it,
        // which is No.
        CMyExitStopDialog question("File already exists.", "Do you want to overwrite?");
        bool stillOpenAfterEnter = false;
        QTimer::singleShot(0, [&] {
            QPushButton* yes = question.findChildren<QPushButton*>().first();
            yes->setFocus();
            QTest::keyClick(yes, Qt::Key_Return);
            stillOpenAfterEnter = question.isVisible();
            QTest::keyClick(&question, Qt::Key_Escape);
        });
        QTimer::singleShot(5000, &question, [&] { question.done(99); });  // never hang the tests
        const int answer = question.exec();
        QVERIFY(stillOpenAfterEnter);
        QCOMPARE(answer, int(QDialog::Rejected));
        qApp->removeEventFilter(&filter);
    }

    void keysInTheTree() {
        window->app.idle = true;
        tree()->setFocus();
        tree()->SelectItem(itemAt(tree(), "Queries/order items"));
        // The arrows show what they reach, as a click does.
        QTest::keyClick(tree(), Qt::Key_Down);
        QCOMPARE(tree()->currentItem(), itemAt(tree(), "Queries/Totals"));
        QCOMPARE(window->frame->view()->text(), QueryText(window->app.engine->queries[1]));
        QCOMPARE(window->frame->statusPane(1)->text(), QString("Selected Item  : Totals"));
        QTest::keyClick(tree(), Qt::Key_Up);
        QCOMPARE(window->frame->view()->text(), QueryText(window->app.engine->queries[0]));
        // Space checks and unchecks, with the same rules as a click.
        QTest::keyClick(tree(), Qt::Key_Space);
        QCOMPARE(CLeftView::State(itemAt(tree(), "Queries/order items")), int(kStateUnchecked));
        QCOMPARE(CLeftView::State(itemAt(tree(), "Queries")), int(kStatePartial));
        QTest::keyClick(tree(), Qt::Key_Space);
        QCOMPARE(CLeftView::State(itemAt(tree(), "Queries")), int(kStateChecked));
        // While a scan or a save holds the tree, keys do nothing.
        window->app.idle = false;
        window->app.treeLocked = true;
        QTest::keyClick(tree(), Qt::Key_Down);
        QTest::keyClick(tree(), Qt::Key_Space);
        QCOMPARE(tree()->currentItem(), itemAt(tree(), "Queries/order items"));
        QCOMPARE(CLeftView::State(itemAt(tree(), "Queries/order items")), int(kStateChecked));
        window->app.treeLocked = false;
        window->app.idle = true;
    }

    void noPreviewNoteSaysWhereTheObjectsGo() {
        window->app.idle = true;
        window->app.fileName = "shop.mdb";
        for (const char* item : {"Forms/Order Form", "Modules/Utilities", "Reports/Sales", "Macros/AutoExec"}) {
            tree()->OnTextClick(itemAt(tree(), item));
            CQuorvinAccessRecoveryView* view = window->frame->view();
            QCOMPARE(view->pictureMode(), 1);
            QVERIFY2(view->noPreviewNote().join(' ').contains("in the folder Repaired_shop_objects/"),
                     qPrintable(view->noPreviewNote().join(' ')));
        }
        // The folder is named after the file without its last extension.
        QVERIFY(NoPreviewNote("data.mdb.bak").first().endsWith("Repaired_data.mdb_objects/"));
        // Another object clears the note.
        tree()->OnTextClick(itemAt(tree(), "Queries/order items"));
        QVERIFY(window->frame->view()->noPreviewNote().isEmpty());
    }
};

QTEST_MAIN(TreeTest)
#include "TreeTest.moc"
