// Complex columns (ACE): attachment and multi-valued columns keep only a key in
// the table row; their values are rows of a hidden value table, and
// MSysComplexColumns says which value table serves which column.
#include <algorithm>

#include "engine/ApplicationState.h"
#include "engine/MDBRecovery.h"
#include "platform/LittleEndian.h"
#include "platform/TextCodec.h"
#include "related/Page.h"
#include "related/Related.h"

namespace talmera {

namespace {

// A column entry's flags: fixed length, and a Long's auto-number.
constexpr uint8_t kFixedFlag = 0x01;
constexpr uint8_t kAutoNumberFlag = 0x04;

// The tables read here have fixed layouts of at most 8 columns: their rows
// end with a one-byte null mask.
constexpr uint32_t kComplexNullMaskBytes = 1;
// MSysComplexColumns: the column name follows the column count and the four
// 4-byte numbers (column id, value table, owning table, complex type).
constexpr uint32_t kComplexColumnNameAt = 18;

// Rows of one data page of the given owner, as [start, end) within the page.
// A slot marked as an overflow pointer or deleted gives no row (but still
// bounds the row before it, as the slot table has it).
std::vector<std::pair<uint32_t, uint32_t>> ownedRows(const related::Page& p) {
    std::vector<std::pair<uint32_t, uint32_t>> rows;
    for (const Slot& slot : p.slots) {
        if (slot.kind == SlotKind::OverflowPointer || slot.kind == SlotKind::Deleted) continue;
        if (slot.hasBytes()) rows.emplace_back(slot.start, slot.end);
    }
    return rows;
}

// The frame of a row of those tables.
RowFrame complexRowFrame(const related::Page& p, uint32_t start, uint32_t end) {
    RowFrame frame;
    FrameShape shape;
    shape.nullMaskBytes = kComplexNullMaskBytes;
    frame.read(p.bytes.data() + start, end - start, true, shape);
    return frame;
}

// Pages whose owner is the given definition page, in file order.
template <typename F>
void forEachOwnedPage(CMDBRecovery& e, uint32_t owner, F&& visit) {
    if (owner == 0) return;
    related::Page p;
    const uint64_t pages = e.pageCount();
    for (uint64_t n = 0; n < pages; ++n) {
        const uint64_t position = n * e.pageSize;
        const uint8_t* head = e.databaseFile.view(position, 8);
        if (!head || head[0] != 0x01 || head[1] != 0x01) continue;
        const uint32_t pageOwner = le::U32(head + 4);
        if (pageOwner != owner) continue;
        p.load(e.databaseFile, position, e.Layout());
        visit(p);
    }
}

}  // namespace

void RelatedReader::ReadComplexColumns(uint32_t catalogId) {
    complexColumns.clear();
    if (!jet4Layout) return;
    forEachOwnedPage(engine_, catalogId, [&](const related::Page& p) {
        for (const auto& bounds : ownedRows(p)) {
            const uint32_t start = bounds.first, end = bounds.second;
            const uint32_t size = end - start;
            if (size < 8) continue;
            // One variable-length column, the name: its start and the end of data.
            const RowFrame frame = complexRowFrame(p, start, end);
            if (frame.storedVariables() != 1) continue;
            const uint32_t columnStart = frame.offsetAt(0);
            const uint32_t dataEnd = frame.offsetAt(1);
            AttachmentInfo a;
            a.valueTableId = p.u32(start + 6);
            a.tableId = p.u32(start + 10);
            const uint32_t nameStart = start + kComplexColumnNameAt;
            const uint32_t nameLength = dataEnd > columnStart ? dataEnd - columnStart : 0;
            if (nameStart + nameLength > end) continue;
            a.columnName = related::Utf16Cut(p.bytes.data() + nameStart, nameLength);
            complexColumns.push_back(std::move(a));
        }
    });
}

bool RelatedReader::LinkComplexColumns() {
    for (tableInfo& t : tables) {
        for (columnInfo& c : t.columns) {
            if (c.type != kJetComplex) continue;
            for (const AttachmentInfo& a : complexColumns) {
                if (a.tableId == t.definitionPage && a.columnName == c.name) {
                    c.valueTableId = a.valueTableId;
                    break;
                }
            }
        }
    }
    return !complexColumns.empty();
}

void RelatedReader::ReadComplexValues() {
    for (tableInfo& t : tables) {
        // A table of deleted records shares its source's value tables; its
        // columns were copied before the values were read.
        for (columnInfo& c : t.columns) {
            if (c.type == kJetComplex) ReadComplexValues(c);
        }
        if (Stopped()) return;
    }
}

void RelatedReader::ReadComplexValues(columnInfo& column) {
    column.complexValues.clear();
    column.attachments.clear();
    column.versions.clear();
    column.isVersionHistory = false;
    const uint32_t v = column.valueTableId;
    if (!jet4Layout || v == 0 || static_cast<uint64_t>(v) * pageSize >= fileLength) return;

    // The value table's column descriptors: type and number, then the names.
    related::Page def;
    def.load(databaseFile, static_cast<uint64_t>(v) * pageSize, Layout());
    if (def.u8(0) != 0x02) return;
    const uint32_t columnCount = def.u16(45);
    const uint32_t realIndexes = def.u32(51);
    if (columnCount == 0 || columnCount > 255 || realIndexes > 255) return;
    uint64_t at = 63 + 12 * static_cast<uint64_t>(realIndexes);
    struct Descriptor {
        uint8_t type;
        uint16_t number;
        uint16_t variableIndex;
        uint8_t flags;
        uint16_t fixedOffset;
        uint16_t length;
        std::string name;
    };
    std::vector<Descriptor> descriptors;
    for (uint32_t k = 0; k < columnCount; ++k, at += 25) {
        if (at + 25 > def.size()) return;  // a definition longer than a page: not a value table
        descriptors.push_back({def.u8(at), def.u16(at + 5), def.u16(at + 7), def.u8(at + 15), def.u16(at + 21),
                               def.u16(at + 23), {}});
    }
    for (Descriptor& d : descriptors) {
        const uint16_t n = def.u16(at);
        if (at + 2 + n > def.size()) return;
        d.name = related::Utf16Cut(def.bytes.data() + at + 2, n);
        at += 2 + n;
    }
    const bool multiValued = descriptors.back().name == "Value";
    int fileName = -1, fileUrl = -1, fileData = -1, fileFlags = -1;
    for (const Descriptor& d : descriptors) {
        if (equalsIgnoreCase(d.name, "FileName")) fileName = d.number;
        if (equalsIgnoreCase(d.name, "FileURL")) fileUrl = d.number;
        if (equalsIgnoreCase(d.name, "FileData")) fileData = d.number;
        if (equalsIgnoreCase(d.name, "FileFlags")) fileFlags = d.number;
    }
    const bool byNumber = fileName >= 0 && fileName < 6 && fileUrl >= 0 && fileUrl < 6 && fileData >= 0 &&
                          fileData < 6 && fileFlags >= 0 && fileFlags < 6;

    // An append-only memo's version history: a value table of a memo (the
    // version's text) and a date (when it was saved) besides its two Longs.
    // Told by those types, not by names; its rows are ordinary rows, read by
    // the engine's row decoder with a definition made of the descriptors.
    int memoColumn = -1, dateColumn = -1, keyColumn = -1;
    for (size_t k = 0; k < descriptors.size(); ++k) {
        const Descriptor& d = descriptors[k];
        if (d.type == kJetMemo && memoColumn < 0) memoColumn = static_cast<int>(k);
        if (d.type == kJetDateTime && dateColumn < 0) dateColumn = static_cast<int>(k);
        if (d.type == kJetLong && !(d.flags & kAutoNumberFlag)) keyColumn = static_cast<int>(k);
    }
    if (!multiValued && fileData < 0 && memoColumn >= 0 && dateColumn >= 0 && keyColumn >= 0) {
        column.isVersionHistory = true;
        tableInfo history;
        history.definitionPage = v;
        for (const Descriptor& d : descriptors) {
            columnInfo c;
            c.name = d.name;
            c.type = d.type;
            c.columnNumber = d.number;
            c.variableIndex = d.variableIndex;
            c.fixedOffset = d.fixedOffset;
            c.length = d.length;
            c.isFixed = (d.flags & kFixedFlag) != 0;
            c.isVariable = !c.isFixed;
            history.hasVariableColumns = history.hasVariableColumns || c.isVariable;
            history.columns.push_back(std::move(c));
        }
        history.columnCount = static_cast<uint32_t>(history.columns.size());
        std::vector<RowValue> values;
        forEachOwnedPage(engine_, v, [&](const related::Page& p) {
            for (const auto& [start, end] : ownedRows(p)) {
                if (!engine_.DecodeRowAt(history, p.position + start, end - start, true, values, false)) {
                    ++relatedStatistics.complexRowsSkipped;
                    continue;
                }
                const RowValue& k = values[static_cast<size_t>(keyColumn)];
                const RowValue& text = values[static_cast<size_t>(memoColumn)];
                const RowValue& date = values[static_cast<size_t>(dateColumn)];
                if (k.state != RowValue::State::Value || k.integer == 0) {
                    ++relatedStatistics.complexRowsSkipped;  // a version that belongs to no row
                    continue;
                }
                MemoVersionData version;
                version.key = static_cast<uint32_t>(k.integer);
                version.hasText = text.state == RowValue::State::Value;
                if (version.hasText) version.text = text.string;
                version.textIncomplete = text.incomplete;
                version.hasModified = date.state == RowValue::State::Value;
                if (version.hasModified) version.modified = date.real;
                column.versions.push_back(std::move(version));
            }
        });
        return;
    }

    forEachOwnedPage(engine_, v, [&](const related::Page& p) {
        for (const auto& bounds : ownedRows(p)) {
            const uint32_t start = bounds.first, end = bounds.second;
            if (end - start < 8) continue;
            // Entry k is variable column t-1-k: it starts at that column's
            // offset and ends where the next one starts (the end of data for the last).
            const RowFrame frame = complexRowFrame(p, start, end);
            const uint32_t t = frame.variables();
            if (t == 0 || t > 64) {
                ++relatedStatistics.complexRowsSkipped;
                continue;
            }
            auto entry = [&](uint32_t k, uint32_t& from, uint32_t& to) {
                if (k >= t) return false;
                const uint32_t var = t - 1 - k;
                from = frame.offset(var);
                to = frame.offset(var + 1);
                if (from > to || start + to > end) return false;
                from += start;
                to += start;
                return true;
            };
            auto key = [&](uint32_t k) {
                uint32_t from = 0, to = 0;
                if (!entry(k, from, to)) return uint32_t{0};
                uint8_t b[4] = {};
                for (uint32_t i = 0; i < 4 && from + i < to; ++i) b[i] = p.u8(from + i);
                return le::U32(b);
            };
            if ((t == 2 || t == 3) && multiValued) {
                ComplexData d;
                d.key = key(0);
                if (t == 3) {
                    uint32_t from = 0, to = 0;
                    if (!entry(2, from, to)) {
                        ++relatedStatistics.complexRowsSkipped;
                        continue;
                    }
                    d.valuePosition = p.position + from;
                    d.valueLength = to - from;
                } else {
                    d.valuePosition = p.position + start + 2;
                    d.valueLength = 0;
                }
                column.complexValues.push_back(d);
            } else if (t == 6) {
                auto entryOf = [&](int number, uint32_t fixed) { return byNumber ? 5 - static_cast<uint32_t>(number) : fixed; };
                colRecordAttachmentInfo a;
                uint32_t from = 0, to = 0;
                if (entry(entryOf(fileFlags, 2), from, to)) a.fileName = related::Utf16Cut(p.bytes.data() + from, to - from);
                if (entry(entryOf(fileName, 1), from, to)) a.altName = related::Utf16Cut(p.bytes.data() + from, to - from);
                if (entry(entryOf(fileData, 3), from, to) && to - from >= 8) {
                    const uint8_t flags = p.u8(from + 3);
                    a.dataLength = (flags == 0x40 || flags == 0x80) ? p.u24(from) : p.u32(from);
                    a.dataRow = p.u8(from + 4);
                    a.dataPage = p.u24(from + 5);
                    // Data kept in the row itself follows its 12-byte header:
                    // remembered by position, with page 0.
                    if (flags == 0x80) {
                        a.dataPage = 0;
                        a.dataRow = 0;
                        a.inRowPosition = p.position + from + 12;
                        a.dataLength = std::min<uint32_t>(a.dataLength, to - std::min(to, from + 12));
                    }
                }
                a.key = key(entryOf(fileUrl, 5));
                column.attachments.push_back(std::move(a));
            } else {
                ++relatedStatistics.complexRowsSkipped;
            }
        }
    });
}

}  // namespace talmera
