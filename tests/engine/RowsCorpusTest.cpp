// Real Access files: every row of every table decodes to the values mdbtools
// exports, apart from formatting (numbers compare numerically, dates and
// binary in one common form). Skips without the corpus or mdbtools.
//
// Where mdbtools itself falls short, its cell is not compared: it does not
// decode large numbers (type 0x13, it exports NULL) nor complex columns, and it
// prints dates outside 1900 to 9999 with a day of "00".
#include <gtest/gtest.h>

#include <algorithm>

#include "tests/support/TestSupport.h"

namespace talmera::test {
namespace {

TEST(CorpusRows, EveryTableAgreesWithMdbExport) {
    const auto dir = corpusDir();
    if (dir.empty()) GTEST_SKIP() << "no corpus folder at " << TALMERA_CORPUS_DIR;
    if (!haveProgram("mdb-export")) GTEST_SKIP() << "mdbtools is not installed";
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir)) {
        const auto ext = entry.path().extension();
        if (ext == ".mdb" || ext == ".accdb") files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    size_t compared = 0;
    for (const auto& file : files) {
        ScanResult scan = runScan(file.string());
        CMDBRecovery& engine = *scan.engine;
        for (size_t t = 0; t < engine.tables.size(); ++t) {
            const tableInfo table = engine.tables[t];
            if (!table.deletedRows.empty()) continue;
            SCOPED_TRACE(file.filename().string() + " / " + table.name);
            const auto ours = readAllRows(engine, t, true);
            const auto theirs = mdbExportRows(file.string(), table.name);
            ASSERT_EQ(ours.size(), theirs.size());
            // mdb-export lists the columns by column number.
            std::vector<size_t> order(table.columns.size());
            for (size_t c = 0; c < order.size(); ++c) order[c] = c;
            std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
                return table.columns[a].columnNumber < table.columns[b].columnNumber;
            });
            for (size_t r = 0; r < ours.size(); ++r) {
                ASSERT_EQ(ours[r].size(), theirs[r].size()) << "row " << r;
                for (size_t k = 0; k < order.size(); ++k) {
                    const size_t c = order[k];
                    const uint8_t type = table.columns[c].type;
                    if (type == 0x12 || type == 0x13) continue;
                    const auto& cell = theirs[r][k];
                    if (type == 0x08 && cell && cell->size() >= 10 &&
                        (cell->compare(5, 2, "00") == 0 || cell->compare(8, 2, "00") == 0)) {
                        continue;
                    }
                    std::string why;
                    EXPECT_TRUE(sameCell(ours[r][c], cell, &why))
                        << "row " << r << " column " << table.columns[c].name << ": " << why;
                }
            }
            ++compared;
        }
    }
    EXPECT_GT(compared, 10u);
}

}  // namespace
}  // namespace talmera::test
