// libFuzzer target: Access SQL text (output/dao/AccessSql.cpp's parser and
// ViewTranslation.cpp's translation into a SQLite view, created and run in a
// SQLite database in memory over tables made up from what the text names:
// fuzz/SqlSchema.h).
//
// Input (fuzz/seeds/sql/): one statement, as the saved queries of the seed
// files rebuild it (fuzz/run.sh writes them with the msysqueries target).
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/SqlSchema.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string sql(reinterpret_cast<const char*>(data), size);
    // A second query reads the first: through its view, or waiting for one.
    talmera::fuzz::TranslateAndPlan({{"Fuzzed", sql, ""}, {"Second", "SELECT * FROM Fuzzed", ""}});
    return 0;
}
