// libFuzzer target: complex columns (related/ComplexColumns.cpp,
// related/Attachments.cpp): the value table of an attachment or multi-valued
// column, its rows read into attachments and values, each attachment's data
// read along its long values and inflated, and the rows of
// MSysComplexColumns.
//
// Input (fuzz/seeds/attachment/): a file image (fuzz/FuzzSupport.h) of an
// ACE file's value table: its definition page (the first definition page of
// the input), its data pages, and the long-value pages of its data; with the
// pages of MSysComplexColumns when the seed file has them.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz/FuzzSupport.h"
#include "related/Related.h"

using namespace talmera;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Image image;
    if (!fuzz::LoadImage(data, size, image)) return 0;
    fuzz::EngineOverImage over(image.jet4, image.length(), true);
    CMDBRecovery& engine = *over;

    uint32_t valueTable = 0;
    std::vector<uint32_t> owners;
    for (uint32_t page : image.pageNumbers) {
        const uint64_t at = static_cast<uint64_t>(page) * image.pageSize;
        if (valueTable == 0 && page != 0 && engine.databaseFile.u8(at) == 0x02) valueTable = page;
        if (over.isDataPage(page) && !over.isLongValuePage(page)) {
            const uint32_t owner = engine.databaseFile.u32(at + 4);
            if (owners.size() < 4 && std::find(owners.begin(), owners.end(), owner) == owners.end()) owners.push_back(owner);
        }
    }
    RelatedReader reader(engine);
    // MSysComplexColumns: every owner of the input's data pages is tried as it.
    for (uint32_t owner : owners) reader.ReadComplexColumns(owner);

    tableInfo table;
    table.name = "Fuzzed";
    table.definitionPage = 1;
    columnInfo column;
    column.name = "Complex";
    column.type = kJetComplex;
    column.valueTableId = valueTable;
    table.columns.push_back(column);
    engine.tables.push_back(table);
    engine.complexColumns.push_back({1, valueTable, "Complex"});
    systemTableInfo hidden;
    hidden.name = "f_Complex";
    hidden.definitionPage = valueTable;
    engine.systemTables.push_back(hidden);
    reader.LinkComplexColumns();
    reader.ReadComplexValues();

    columnInfo& read = engine.tables.front().columns.front();
    (void)reader.ComplexValueType(1, "Complex", engine.tables.front());
    (void)reader.ComplexValueScale(read);
    for (const ComplexData& value : read.complexValues) {
        const size_t bytes = value.valueLength ? std::min<uint32_t>(value.valueLength, 1u << 16) : 16;
        fuzz::Require(reader.ComplexValueBytes(value, bytes).size() == bytes);
    }
    std::vector<uint8_t> content;
    for (const colRecordAttachmentInfo& a : read.attachments) {
        (void)reader.ReadAttachmentContent(a, content);
        fuzz::Require(content.size() <= 0x7FFFFFFFu);
    }
    return 0;
}
