// libFuzzer target: the rows of saved queries in MSysQueries and the SQL
// rebuilt from them (queries/: QueryReader, the clause rules), then the
// rebuilt text through output/dao's Access SQL parser and its translation
// into SQLite views (fuzz/SqlSchema.h).
//
// Input (fuzz/seeds/msysqueries/): a file image (fuzz/FuzzSupport.h) of data
// pages of MSysQueries (and long-value pages their long expressions are
// on). Every ObjectId its rows carry is one query. Options bits 1 to 7,
// times 16, are the queries' catalog flags (their kind until a type row says
// otherwise).
//
// With TALMERA_FUZZ_SQL_SEEDS set to a folder, every rebuilt text is also
// written there: fuzz/run.sh makes the seeds of the sql target so.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "fuzz/FuzzSupport.h"
#include "fuzz/SqlSchema.h"
#include "queries/Queries.h"

using namespace talmera;

namespace {

constexpr size_t kMaxQueries = 32;

void keepAsSeed(const std::string& sql) {
    static const char* folder = std::getenv("TALMERA_FUZZ_SQL_SEEDS");
    if (!folder || sql.empty()) return;
    const std::string path = std::string(folder) + "/" + std::to_string(std::hash<std::string>{}(sql));
    std::ofstream(path, std::ios::binary) << sql;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Image image;
    if (!fuzz::LoadImage(data, size, image)) return 0;
    fuzz::EngineOverImage over(image.jet4, image.length());
    CMDBRecovery& engine = *over;
    const uint32_t flags = static_cast<uint32_t>(image.options >> 1) * 16u;

    // The page scan's list of MSysQueries pages, and the queries their rows name.
    const uint32_t idAt = image.jet4 ? 2 : 1;
    std::vector<uint32_t> ids;
    for (uint32_t page : image.filePages) {
        if (page == 0) continue;
        if (!over.isDataPage(page) || over.isLongValuePage(page)) continue;
        const uint64_t at = static_cast<uint64_t>(page) * image.pageSize;
        engine.queryCatalogPages.push_back(at);
        for (const Slot& slot : engine.LoadPageRows(at)) {
            if (!slot.hasBytes() || slot.size() < idAt + 4) continue;
            const uint32_t id = engine.databaseFile.u32(at + slot.start + idAt);
            if (ids.size() < kMaxQueries && std::find(ids.begin(), ids.end(), id) == ids.end()) ids.push_back(id);
        }
    }
    for (size_t i = 0; i < ids.size(); ++i) {
        queryInfo q;
        q.name = "Query" + std::to_string(i);
        q.catalogId = ids[i];
        q.queryFlags = flags;
        engine.queries.push_back(q);
    }
    QueryReader(engine).ReadSavedQueries();

    std::vector<dao::sqlite::PlannedQuery> planned;
    for (const queryInfo& q : engine.queries) {
        keepAsSeed(q.sqlText);
        planned.push_back({q.name, q.sqlText, q.connect});
    }
    fuzz::TranslateAndPlan(planned);
    return 0;
}
