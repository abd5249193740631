// The record grid's parts: the row store within its memory budget, the feed
// between the run and the grid, the model's batches, and the preview's rule
// for texts beyond Latin-1.
#include <QtTest>

#include <QSignalSpy>

#include <atomic>
#include <random>
#include <thread>

#include "engine/CatalogRecords.h"
#include "tests/ui/UiTestSupport.h"
#include "ui/RecordView.h"
#include "ui/RowFeed.h"
#include "ui/RowStore.h"

using namespace talmera;
using namespace talmera::ui;

namespace {

// Row i of a varied table: cells of different lengths and counts, empty
// cells, texts of several scripts, now and then a long one.
std::vector<std::string> sampleRow(size_t i) {
    std::vector<std::string> cells;
    const size_t count = 1 + i % 7;
    for (size_t c = 0; c < count; ++c) {
        switch ((i + c) % 5) {
            case 0: cells.push_back(std::to_string(i * 31 + c)); break;
            case 1: cells.push_back(""); break;
            case 2: cells.push_back("Müller Ωmega 中文 " + std::to_string(i)); break;
            case 3: cells.push_back(i % 97 == 0 ? std::string(20000, char('a' + c)) : " "); break;
            default: cells.push_back("row " + std::to_string(i) + " cell " + std::to_string(c)); break;
        }
    }
    return cells;
}

columnInfo column(const std::string& name, uint8_t type) {
    columnInfo c;
    c.name = name;
    c.type = type;
    return c;
}

}  // namespace

class PreviewTest : public QObject {
    Q_OBJECT

private slots:
    void theStoreKeepsEveryTextWithinItsBudget() {
        constexpr size_t kBudget = 256 * 1024;
        RowStore store(kBudget, 64);
        constexpr size_t kRows = 20000;
        for (size_t i = 0; i < kRows; ++i) {
            store.Append(sampleRow(i));
            // Never much above the budget: sealed blocks beyond it go to the
            // temporary file; the block being filled stays.
            QVERIFY2(store.MemoryBytes() <= kBudget + (size_t(3) << 20), qPrintable(QString::number(store.MemoryBytes())));
        }
        QCOMPARE(store.Rows(), kRows);
        QVERIFY(store.BlocksOnDisk() > 0);
        // Every cell comes back as it went in, in order and at random.
        for (size_t i = 0; i < kRows; ++i) {
            const std::vector<std::string> expected = sampleRow(i);
            QCOMPARE(store.CellCount(i), expected.size());
            for (size_t c = 0; c < expected.size(); ++c) QVERIFY(store.Cell(i, c) == expected[c]);
            QVERIFY(store.Cell(i, expected.size()).empty());
        }
        std::mt19937 random(7);
        for (int n = 0; n < 5000; ++n) {
            const size_t i = random() % kRows;
            const std::vector<std::string> expected = sampleRow(i);
            const size_t c = random() % expected.size();
            QVERIFY(store.Cell(i, c) == expected[c]);
        }
        QVERIFY(store.MemoryBytes() <= kBudget + (size_t(3) << 20));
        QVERIFY(store.Cell(kRows, 0).empty());
        QCOMPARE(store.CellCount(kRows), size_t(0));
        store.Clear();
        QCOMPARE(store.Rows(), size_t(0));
        QCOMPARE(store.BlocksOnDisk(), size_t(0));
        store.Append({"again"});
        QVERIFY(store.Cell(0, 0) == "again");
    }

    void aMillionRowsInLittleMemory() {
        // Rows of the benchmark's shape: memory stays at the budget, not at
        // the rows' size.
        RowStore store;
        for (size_t i = 0; i < 1000000; ++i) {
            store.Append({std::to_string(i + 1), "01/01/2023 00:00:00", std::to_string(1 + i % 997), "-200.000000",
                          "withdrawal", "Event " + std::to_string(i + 1) + " of the benchmark ledger", "Yes"});
        }
        QVERIFY2(store.MemoryBytes() <= RowStore::kDefaultMemoryBudget + (size_t(1) << 20),
                 qPrintable(QString::number(store.MemoryBytes())));
        QVERIFY(store.Cell(999999, 5) == "Event 1000000 of the benchmark ledger");
        QVERIFY(store.Cell(0, 0) == "1");
        QVERIFY(store.Cell(500000, 2) == std::to_string(1 + 500000 % 997));
    }

    void theRuleForTextsBeyondLatin1_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("shown");
        QTest::newRow("empty") << "" << "";
        QTest::newRow("plain") << "Chang #1" << "Chang #1";
        QTest::newRow("Latin-1 letters") << "Müller naïve ÿ" << "Müller naïve ÿ";
        QTest::newRow("U+0100 first") << "Ābc" << "(non-western character)";
        QTest::newRow("euro sign") << "12 €" << "12 (non-western character)";
        QTest::newRow("Greek within") << "abc Ω def" << "abc (non-western character)";
        QTest::newRow("Chinese after Latin-1") << "é中é" << "é(non-western character)";
        QTest::newRow("beyond the BMP") << "x😀y" << "x(non-western character)";
    }

    void theRuleForTextsBeyondLatin1() {
        QFETCH(QString, text);
        QFETCH(QString, shown);
        std::string cell = text.toStdString();
        QCOMPARE(ShortenAtNonWesternCharacter(cell), text != shown);
        QCOMPARE(QString::fromStdString(cell), shown);
    }

    void theRuleAppliesToTextAndMemoCellsOfAccess2000Files() {
        CQuorvinAccessRecoveryApp app;
        tableInfo table;
        table.columns = {column("ID", 4), column("Name", 10), column("Notes", 12), column("When", 8)};
        columnInfo calculated = column("Label", 12);
        calculated.isCalculated = true;
        calculated.properties = {{"ResultType", "10"}};
        columnInfo number = column("Total", 12);
        number.isCalculated = true;
        number.properties = {{"ResultType", "7"}};
        table.columns.push_back(calculated);
        table.columns.push_back(number);
        table.columnCount = uint32_t(table.columns.size());
        const std::vector<std::string> row = {"Ω1", "Ωmega", "ΣΣ", "Ω date", "Ωx", "Ω2"};
        for (const bool jet4 : {true, false}) {
            CQuorvinAccessRecoveryView view(app);
            view.resize(800, 400);
            view.ShowTable(table, jet4);
            RowBatch rows;
            rows.Add(row, true);
            view.AddRecordRows(rows);
            view.FlushRows();
            const QStringList expected =
                jet4 ? QStringList{"Ω1", "(non-western character)", "(non-western character)", "Ω date",
                                   "(non-western character)", "Ω2"}
                     : QStringList{"Ω1", "Ωmega", "ΣΣ", "Ω date", "Ωx", "Ω2"};
            QCOMPARE(view.tableData()->Row(0), expected);
        }
    }

    void theModelAnnouncesRowsInBatches() {
        RowModel model(QColor(247, 196, 183));
        model.SetHeaders({"A", "B"});
        QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
        for (int i = 0; i < 1000; ++i) model.AppendRow(std::vector<std::string>{std::to_string(i), "x"});
        QCOMPARE(model.TotalRows(), 1000);
        QCOMPARE(model.rowCount(), 0);
        QTRY_COMPARE(model.rowCount(), 1000);
        QCOMPARE(inserted.count(), 1);
        QCOMPARE(model.data(model.index(999, 0), Qt::DisplayRole).toString(), QString("999"));
        QCOMPARE(model.data(model.index(5, 1), Qt::ToolTipRole).toString(), QString("x"));
        QCOMPARE(model.data(model.index(1, 0), Qt::BackgroundRole).value<QColor>(), QColor(247, 196, 183));
        QVERIFY(!model.data(model.index(2, 0), Qt::BackgroundRole).isValid());
        QVERIFY(!model.data(model.index(1000, 0), Qt::DisplayRole).isValid());
        model.AppendRow(QStringList{"last", "row"});
        model.Flush();
        QCOMPARE(model.Row(1000), QStringList({"last", "row"}));
        model.SetHeaders({"C"});
        QCOMPARE(model.rowCount(), 0);
        QCOMPARE(model.TotalRows(), 0);
    }

    void theFeedHandsRowsOverInOrderAndWaitsWhenFull() {
        std::atomic<bool> stop{false};
        std::atomic<int> wakes{0};
        RowFeed feed(3, 5, size_t(1) << 20, [&] { ++wakes; }, stop);
        std::vector<std::string> cells{"a"};
        // Closed: the row goes the ordinary way and stays where it is.
        QVERIFY(!feed.Take(cells, true));
        QCOMPARE(cells.size(), size_t(1));
        feed.Open();
        std::atomic<int> taken{0};
        std::thread run([&] {
            for (int i = 0; i < 12; ++i) {
                std::vector<std::string> row{std::to_string(i)};
                if (feed.Take(row, i == 0)) ++taken;
            }
        });
        // Five rows, then the run waits for the grid.
        QTRY_COMPARE(taken.load(), 5);
        QTest::qWait(100);
        QCOMPARE(taken.load(), 5);
        QVERIFY(wakes.load() >= 1);
        const RowBatch early = feed.TakeAll();
        QTRY_VERIFY(taken.load() >= 10);
        // A stop lets the run go on past a full feed.
        stop = true;
        run.join();
        QCOMPARE(taken.load(), 12);
        const RowBatch late = feed.TakeAll();
        QCOMPARE(early.Rows() + late.Rows(), size_t(12));
        for (size_t i = 0; i < 12; ++i) {
            const RowBatch& batch = i < early.Rows() ? early : late;
            const size_t row = i < early.Rows() ? i : i - early.Rows();
            QCOMPARE(batch.CellCount(row), size_t(1));
            QCOMPARE(QString::fromStdString(std::string(batch.Cell(row, 0))), QString::number(i));
            QCOMPARE(batch.First(row), i == 0);
        }
        // Texts of any size: a feed full of bytes waits too.
        std::atomic<bool> noStop{false};
        RowFeed bytes(100, 100, 1000, nullptr, noStop);
        bytes.Open();
        std::vector<std::string> big{std::string(1500, 'x'), ""};
        QVERIFY(bytes.Take(big, true));
        QVERIFY(big.empty());
        std::atomic<bool> second{false};
        std::thread blocked([&] {
            std::vector<std::string> more{"y"};
            second = bytes.Take(more, false);
        });
        QTest::qWait(100);
        QVERIFY(!second.load());
        const RowBatch both = [&] {
            RowBatch first = bytes.TakeAll();
            blocked.join();
            return first;
        }();
        QVERIFY(second.load());
        QCOMPARE(both.Rows(), size_t(1));
        QCOMPARE(both.CellCount(0), size_t(2));
        QCOMPARE(both.Cell(0, 0).size(), size_t(1500));
        QVERIFY(both.Cell(0, 1).empty());
        QCOMPARE(bytes.TakeAll().Rows(), size_t(1));
        feed.Close();
        std::vector<std::string> afterTheEnd{"late"};
        QVERIFY(!feed.Take(afterTheEnd, false));
    }
};

QTEST_MAIN(PreviewTest)
#include "PreviewTest.moc"
