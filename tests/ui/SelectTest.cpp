// The selection dialog: the found-files list's sorting and colours, the search
// thread over a folder tree, its Stop, and the Repair button's checks.
#include <QtTest>

#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QRegularExpression>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <filesystem>
#include <fstream>

#include "tests/ui/UiTestSupport.h"
#include "ui/LeftView.h"
#include "ui/Prompts.h"
#include "ui/SelectFileDlg.h"

using namespace talmera;
using namespace talmera::ui;
using namespace talmera::ui::test;
using talmera::test::TempDir;

namespace {

QStringList column(const CDezFileList& list, int c) {
    QStringList cells;
    for (int i = 0; i < list.topLevelItemCount(); ++i) cells << list.topLevelItem(i)->text(c);
    return cells;
}

void touch(const std::filesystem::path& path, size_t bytes = 10) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path) << std::string(bytes, 'x');
}

}  // namespace

class SelectTest : public QObject {
    Q_OBJECT

private slots:
    void sortingByEachKindOfColumn() {
        CDezFileList list;
        const QDateTime base(QDate(2024, 3, 5), QTime(10, 0));
        list.AddRow({"/b.mdb", "10", FoundFileTime(base.addDays(2)), "", FoundFileTime(base)});
        list.AddRow({"/B.mdb", "9", FoundFileTime(base), "", QString()});
        list.AddRow({"/a.mdb", "100", "", "", FoundFileTime(base.addDays(-1))});

        list.SortByColumn(0);
        QCOMPARE(column(list, 0), QStringList({"/B.mdb", "/a.mdb", "/b.mdb"}));  // byte order: upper case first
        list.SortByColumn(0);
        QCOMPARE(column(list, 0), QStringList({"/b.mdb", "/a.mdb", "/B.mdb"}));
        list.SortByColumn(1);
        QCOMPARE(column(list, 1), QStringList({"9", "10", "100"}));  // as numbers
        QVERIFY(list.ascending());
        list.SortByColumn(2);  // Modified; a cell that is no time sorts last
        QCOMPARE(column(list, 0), QStringList({"/a.mdb", "/b.mdb", "/B.mdb"}));
        list.SortByColumn(2);
        QCOMPARE(column(list, 0), QStringList({"/B.mdb", "/b.mdb", "/a.mdb"}));
        // Every second row coloured.
        QCOMPARE(list.topLevelItem(1)->background(0).color(), QColor(209, 101, 100));
        QCOMPARE(list.topLevelItem(0)->background(0).color(), QColor(Qt::white));

        QCOMPARE(CompareCells(SortKind::Date, FoundFileTime(base), FoundFileTime(base)), 0);
        QVERIFY(CompareCells(SortKind::Date, "", FoundFileTime(base)) > 0);
        QCOMPARE(DriveFolder("Logical Drive (/media/usb stick)"), QString("/media/usb stick"));
        QVERIFY(DriveEntries().contains("Logical Drive (" + QDir::homePath() + ")"));
    }

    void sortingKeepsTheChosenFile() {
        Window w;
        CSelectFileDlg dialog(w.app, *w.frame, *w.prompts);
        CDezFileList& list = *dialog.list();
        list.AddRow({"/data/b.mdb", "10", "", "", ""});
        list.AddRow({"/data/c.mdb", "9", "", "", ""});
        list.AddRow({"/data/a.mdb", "100", "", "", ""});
        list.topLevelItem(0)->setSelected(true);
        QCOMPARE(dialog.pathBox()->text(), QString("/data/b.mdb"));
        for (int column : {0, 1, 0}) {
            list.SortByColumn(column);
            QCOMPARE(list.selectedItems().size(), 1);
            QCOMPARE(list.selectedItems().first()->text(0), QString("/data/b.mdb"));
            QCOMPARE(dialog.pathBox()->text(), QString("/data/b.mdb"));
        }
        QCOMPARE(column(list, 0), QStringList({"/data/a.mdb", "/data/b.mdb", "/data/c.mdb"}));
    }

    void pathsShowTheirStartAndTheirName() {
        CDezFileList list;
        list.resize(700, 300);
        const QString path = "/home/someone/Documents/Accounts/2024/the quarterly figures of the shop/Shop.mdb";
        list.AddRow({path, "1", "", "", ""});
        // Shortened in the middle, the whole path as tooltip; the path takes
        // what the other columns leave.
        QCOMPARE(list.textElideMode(), Qt::ElideMiddle);
        QCOMPARE(list.topLevelItem(0)->toolTip(0), path);
        QCOMPARE(list.header()->sectionResizeMode(0), QHeaderView::Stretch);
        list.show();
        QTRY_VERIFY(list.isVisible());
        int others = 0;
        for (int c = 1; c < 5; ++c) others += list.columnWidth(c);
        QVERIFY2(list.columnWidth(0) >= list.viewport()->width() - others - 1,
                 qPrintable(QString::number(list.columnWidth(0))));
    }

    void anyLetterCaseOfTheExtensionIsListed() {
        TempDir dir;
        for (const char* name : {"Shop.Mdb", "DATA.ACCDB", "x.mdb", "y.AcCdB", "notes.txt", "mdb"}) touch(dir.path() / name);
        Window w;
        CSelectFileDlg dialog(w.app, *w.frame, *w.prompts);
        const QString root = QString::fromStdString(dir.path().string());
        dialog.StartSearch(root, true);
        dialog.WaitForSearch();
        QStringList found = column(*dialog.list(), 0);
        found.sort();
        QCOMPARE(found, QStringList({root + "/DATA.ACCDB", root + "/Shop.Mdb", root + "/x.mdb", root + "/y.AcCdB"}));
        // Select File's dialog matches names the same way, whether it
        // compares with letter case or without.
        const QString filter = DatabaseFileFilter();
        QVERIFY(filter.startsWith("Access Files (*.mdb,*.accdb) ("));
        const QStringList patterns = filter.section('(', 2).chopped(1).split(' ');
        for (const char* name : {"Shop.Mdb", "DATA.ACCDB", "x.mdb", "y.AcCdB", "notes.txt"}) {
            bool matched = false;
            for (const QString& pattern : patterns) {
                matched = matched || QRegularExpression(QRegularExpression::wildcardToRegularExpression(pattern))
                                         .match(QString(name))
                                         .hasMatch();
            }
            QCOMPARE(matched, QString(name) != "notes.txt");
        }
    }

    void fileSizesInKilobytes() {
        TempDir dir;
        touch(dir.path() / "m.mdb", 1048576);
        touch(dir.path() / "s.mdb", 1500);
        QCOMPARE(ReadFileProperty(QString::fromStdString(dir.file("m.mdb"))).size, QString("1024"));
        QCOMPARE(ReadFileProperty(QString::fromStdString(dir.file("s.mdb"))).size, QString("1"));
        QVERIFY(!ReadFileProperty(QString::fromStdString(dir.file("s.mdb"))).modified.isEmpty());
    }

    void searchSkipsHiddenFilesAndFolders() {
        TempDir dir;
        touch(dir.path() / ".hidden.mdb");
        touch(dir.path() / "a.mdb");
        touch(dir.path() / "notes.txt");
        touch(dir.path() / "sub" / "b.ACCDB");
        touch(dir.path() / ".secret" / "c.mdb");
        Window w;
        CSelectFileDlg dialog(w.app, *w.frame, *w.prompts);
        const QString root = QString::fromStdString(dir.path().string());

        dialog.StartSearch(root, true);
        QVERIFY(!dialog.repairButton()->isEnabled());
        dialog.WaitForSearch();
        QStringList found = column(*dialog.list(), 0);
        found.sort();
        QCOMPARE(found, QStringList({root + "/a.mdb", root + "/sub/b.ACCDB"}));
        QCOMPARE(dialog.countText()->text(), QString("Total files found:  2"));
        QVERIFY(!dialog.pathBox()->text().isEmpty());
        QVERIFY(dialog.repairButton()->isEnabled());

        dialog.subfolders()->setChecked(false);
        dialog.StartSearch(root, true);
        dialog.WaitForSearch();
        QCOMPARE(column(*dialog.list(), 0), QStringList({root + "/a.mdb"}));

        // Stop before the walk: nothing is listed and the buttons come back.
        dialog.subfolders()->setChecked(true);
        dialog.StartSearch(root, true);
        dialog.OnStopSearch();
        dialog.WaitForSearch();
        QCOMPARE(dialog.list()->topLevelItemCount(), 0);
        QVERIFY(!dialog.searchRunning());
        QVERIFY(dialog.drives()->isEnabled());
        QVERIFY(dialog.subfolders()->isEnabled());
    }

    void closingWaitsForTheSearch() {
        TempDir dir;
        for (int i = 0; i < 30; ++i) touch(dir.path() / ("d" + std::to_string(i)) / "x.mdb");
        Window w;
        auto dialog = std::make_unique<CSelectFileDlg>(w.app, *w.frame, *w.prompts);
        dialog->StartSearch(QString::fromStdString(dir.path().string()), true);
        dialog->OnClose();
        QVERIFY(!dialog->searchRunning());
        dialog.reset();  // no thread may report to it now
    }

    void repairChecksTheFile() {
        TempDir dir;
        Window w;
        CSelectFileDlg dialog(w.app, *w.frame, *w.prompts);
        // A missing file: the reason is named and the dialog stays.
        dialog.pathBox()->setText(QString::fromStdString(dir.file("gone.mdb")));
        dialog.OnRepair();
        QVERIFY(w.prompts->boxes.last().contains("No such file or directory"));
        QVERIFY(w.prompts->boxes.last().contains("gone.mdb"));
        QVERIFY(w.app.selectedPath.empty());
        QCOMPARE(dialog.result(), 0);
        // A folder is no file either.
        dialog.pathBox()->setText(QString::fromStdString(dir.path().string()));
        dialog.OnRepair();
        QVERIFY(w.prompts->boxes.last().contains("Is a directory"));

        // A readable database starts the repair, with the deleted-records option.
        const std::string source = WriteDatabase(dir, "shop.mdb", jetwriter::demoDatabase(jetwriter::Format::Ace));
        dialog.pathBox()->setText(QString::fromStdString(source));
        dialog.deletedRecords()->setChecked(true);
        dialog.OnRepair();
        QCOMPARE(QString::fromStdString(w.app.selectedPath), QString::fromStdString(source));
        QVERIFY(w.app.includeDeletedRecords);
        QVERIFY(w.WaitIdle());
        QVERIFY(w.frame->tree()->Root()->childCount() > 0);
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
    }
};

QTEST_MAIN(SelectTest)
#include "SelectTest.moc"
