// libFuzzer target: the rows of a table decoded with its definition
// (engine/RowDecoding.cpp, engine/LongValues.cpp, engine/DeletedRows.cpp,
// engine/UsageMap.cpp): every slot of every data page the table owns, its
// deleted rows, with and without long values.
//
// Input (fuzz/seeds/row/): a file image (fuzz/FuzzSupport.h) holding a
// table's definition pages, its usage map, data pages of the table and the
// long-value pages their rows point at, at their own page numbers. The first
// definition page of the input is the table's. Option bit 1: the pages the
// usage map does not list are read too.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/RowWalker.h"
#include "fuzz/FuzzSupport.h"
#include "platform/Utf8.h"

using namespace talmera;

namespace {

bool validUtf8(const std::string& text) {
    size_t at = 0;
    uint32_t cp = 0;
    while (at < text.size()) {
        if (!utf8::Next(text, at, cp)) return false;
    }
    return true;
}

void checkValues(const CMDBRecovery& engine, const tableInfo& table, const std::vector<RowValue>& values) {
    fuzz::Require(values.size() == table.columns.size());
    for (const RowValue& v : values) {
        // Nothing longer than the file can come out of it.
        fuzz::Require(v.bytes.size() <= engine.fileLength);
        fuzz::Require(v.string.size() <= 8 * engine.fileLength + 64);
        if (v.kind == RowValue::Kind::Text) fuzz::Require(validUtf8(v.string));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Image image;
    if (!fuzz::LoadImage(data, size, image)) return 0;
    fuzz::EngineOverImage over(image.jet4, image.length());
    CMDBRecovery& engine = *over;
    over.app.includeUnlistedPages = (image.options & 2) != 0;

    uint32_t definition = 0;
    for (uint32_t page : image.pageNumbers) {
        const uint64_t at = static_cast<uint64_t>(page) * image.pageSize;
        if (engine.databaseFile.u8(at) == 0x02 && definition == 0 && page != 0) definition = page;
    }
    if (definition == 0) return 0;
    // The page scan's list: every data page of the file that is no long-value page.
    for (uint32_t page : image.filePages) {
        if (page == 0) continue;
        if (over.isDataPage(page) && !over.isLongValuePage(page))
            engine.otherDataPages.push_back(static_cast<uint64_t>(page) * image.pageSize);
    }

    tableInfo table;
    table.name = "Fuzzed";
    table.definitionPage = definition;
    engine.tables.push_back(table);
    engine.definitionCursor = static_cast<uint64_t>(definition) * image.pageSize + (image.jet4 ? 41 : 21);
    engine.ReadTableDefinition(definition);
    if (image.jet4) engine.BuildDeletedRows();

    std::vector<RowValue> values;
    for (const tableInfo& t : engine.tables) {
        for (uint64_t page : t.pages) fuzz::Require(page % image.pageSize == 0 && page < engine.fileLength);
        RowWalker walker(engine, t);
        while (walker.nextGroup()) {
            for (size_t k = 0; k < walker.groupSize(); ++k) {
                if (!walker.candidate(k)) continue;
                if (walker.decode(k, true, values, true)) checkValues(engine, t, values);
                if (walker.decode(k, false, values, false)) checkValues(engine, t, values);
            }
        }
    }
    return 0;
}
