// Table definitions: column entries, column names and the index section. A
// definition is one byte stream across its pages; entries and names split at a
// page boundary are read in two pieces and joined.
#include <algorithm>
#include <cstdio>
#include <unordered_set>

#include "engine/ApplicationState.h"
#include "engine/MDBRecovery.h"
#include "platform/TextCodec.h"

namespace talmera {

namespace {

// Reads a definition across its continuation pages. A continuation page's
// bytes start at its offset 8; its offset 4 names the page after it. The chain
// is untrusted: it stops at a zero or out-of-file page number, at a page that
// is not a definition page, and at a page it has already visited.
class DefinitionStream {
public:
    DefinitionStream(const PageFile& file, uint32_t pageSize, uint64_t fileLength, uint64_t position)
        : file_(file), pageSize_(pageSize), fileLength_(fileLength),
          pagePos_(position - position % pageSize), off_(static_cast<uint32_t>(position % pageSize)) {
        visited_.insert(pagePos_ / pageSize_);
    }

    bool read(uint8_t* out, size_t n) { return move(out, n); }
    bool skip(uint64_t n) {
        while (n > 0) {
            const size_t chunk = static_cast<size_t>(std::min<uint64_t>(n, 1u << 20));
            if (!move(nullptr, chunk)) return false;
            n -= chunk;
        }
        return true;
    }
    bool failed() const { return failed_; }

private:
    bool move(uint8_t* out, size_t n) {
        if (failed_) return false;
        while (n > 0) {
            if (off_ >= pageSize_ && !advance()) {
                failed_ = true;
                if (out) std::fill(out, out + n, 0);
                return false;
            }
            const size_t chunk = std::min<size_t>(n, pageSize_ - off_);
            if (out) {
                file_.read(pagePos_ + off_, chunk, out);
                out += chunk;
            }
            off_ += static_cast<uint32_t>(chunk);
            n -= chunk;
        }
        return true;
    }
    bool advance() {
        const uint32_t next = file_.u32(pagePos_ + 4);
        if (next == 0 || static_cast<uint64_t>(next) * pageSize_ >= fileLength_) return false;
        if (!visited_.insert(next).second) return false;
        // A page that is no longer a definition page (zeroed, reused) ends the
        // chain: its bytes would otherwise become invented columns.
        if (file_.u8(static_cast<uint64_t>(next) * pageSize_) != 0x02) return false;
        pagePos_ = static_cast<uint64_t>(next) * pageSize_;
        off_ = 8;
        return true;
    }

    const PageFile& file_;
    uint32_t pageSize_;
    uint64_t fileLength_;
    uint64_t pagePos_;
    uint32_t off_;
    bool failed_ = false;
    std::unordered_set<uint32_t> visited_;
};

uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t le32(const uint8_t* p) {
    return p[0] | (p[1] << 8) | (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// Index section sizes. Jet 4 and ACE: 52-byte real-index entries with the
// flags at 46, 28-byte logical entries, names with a 2-byte length in UCS-2.
// Jet 3 writes smaller entries (39 and 20 bytes, flags at 38, real-index
// number at 4, type at 19) and names with a 1-byte length in the code page;
// reading Jet 3 with the Jet 4 sizes yields garbage indexes.
struct IndexLayout {
    uint32_t realSize, realFlags, logicalSize, logicalReal, logicalType, mapStart;
};
constexpr IndexLayout kJet4Index{52, 46, 28, 8, 23, 4};
constexpr IndexLayout kJet3Index{39, 38, 20, 4, 19, 0};

}  // namespace

void CMDBRecovery::ReadTableDefinition(uint32_t catalogId) {
    if (tables.empty()) return;
    ReadTableDefinitionInto(tables.back(), catalogId);
}

void CMDBRecovery::ReadTableDefinitionInto(tableInfo& table, uint32_t /*catalogId*/) {
    DefinitionStream s(databaseFile, pageSize, fileLength, definitionCursor);
    uint8_t head[14];
    if (!s.read(head, sizeof head)) {
        ++statistics.definitionsCut;
        return;
    }
    const uint32_t c = le16(head + 4);
    const uint32_t x = le32(head + 6);
    const uint32_t r = le32(head + 10);
    if (!s.skip(8 + static_cast<uint64_t>(jet4Layout ? 12 : 8) * r)) {
        ++statistics.definitionsCut;
        return;
    }

    skippedColumns.clear();
    const size_t entrySize = jet4Layout ? 25 : 18;
    uint8_t e[25];
    for (uint32_t i = 0; i < c; ++i) {
        if (Stopped()) return;
        if (!s.read(e, entrySize)) {
            // The chain broke inside the columns: without every column the
            // rows cannot be located, so the table keeps what was read and no pages.
            ++statistics.definitionsCut;
            return;
        }
        if (jet4Layout && e[16] == 0x20) {
            skippedColumns.push_back(i);
            continue;
        }
        columnInfo col;
        col.type = e[0];
        // Both layouts keep a flags byte in the entry: 0x01 fixed length,
        // 0x04 auto-number (long), 0x40 auto-number (GUID), 0x80 hyperlink.
        // Jet 3 must be read by it too: without it, fixed values would be
        // looked for at a running position that null fixed columns break.
        uint8_t flags;
        if (jet4Layout) {
            col.columnNumber = le16(e + 5);
            col.variableIndex = le16(e + 7);
            col.precision = e[11];
            col.scale = e[12];
            flags = e[15];
            col.isCalculated = e[16] == 0xC0;
            col.fixedOffset = le16(e + 21);
            col.length = le16(e + 23);
        } else {
            col.columnNumber = le16(e + 1);
            col.variableIndex = le16(e + 3);
            flags = e[13];
            col.fixedOffset = le16(e + 14);
            col.length = le16(e + 16);
        }
        if (flags & 0x01) {
            col.isFixed = true;
            col.isFixedDecimal = col.type == kJetDecimal;
        } else {
            col.isVariable = true;
            table.hasVariableColumns = true;
        }
        // Auto-number: bit 0x04 on a long integer (Access 2007 and later also
        // set 0x10 there, as in 0x17), bit 0x40 on a GUID.
        if ((col.type == kJetLong && (flags & 0x04)) || (col.type == kJetGuid && (flags & 0x40) && (flags & 0x0F) <= 3)) {
            col.isAutoNumber = true;
            table.hasAutoNumber = true;
        }
        col.isHyperlink = (flags & 0x80) != 0;
        ++table.columnCount;
        if (!table.hasVariableColumns &&
            (col.type == kJetText || col.type == kJetOle || col.type == kJetMemo || col.type == kJetDecimal)) {
            table.hasVariableColumns = true;
        }
        table.columns.push_back(std::move(col));
    }

    // Names, then indexes; a break there still leaves the columns usable.
    ReadColumnNames(table, &s, c, r, x);
    CollectTablePages(table);
}

void CMDBRecovery::ReadColumnNames(tableInfo& table, void* streamPtr, uint32_t c, uint32_t r, uint32_t x) {
    auto& s = *static_cast<DefinitionStream*>(streamPtr);
    size_t next = 0;
    size_t skipped = 0;
    std::vector<uint8_t> buf;
    for (uint32_t g = 0; g < c; ++g) {
        uint32_t length;
        if (jet4Layout) {
            uint8_t b[2];
            if (!s.read(b, 2)) return;
            length = le16(b);
            if (length & 0x8000) return;  // names end here; the index section is not trusted
        } else {
            uint8_t b;
            if (!s.read(&b, 1)) return;
            length = b;
        }
        buf.resize(length);
        if (!s.read(buf.data(), length)) return;
        if (skipped < skippedColumns.size() && skippedColumns[skipped] == g) {
            ++skipped;
            continue;
        }
        if (next >= table.columns.size()) continue;
        std::string name = DecodeStoredText(buf.data(), buf.size());
        if (name.empty()) {
            char generated[32];
            std::snprintf(generated, sizeof generated, "Column#%u", g);
            name = std::string(generated).substr(0, 10);
        }
        table.columns[next++].name = std::move(name);
    }
    if (r != 0) ReadIndexes(table, streamPtr, r, x);
}

void CMDBRecovery::ReadIndexes(tableInfo& table, void* streamPtr, uint32_t r, uint32_t x) {
    auto& s = *static_cast<DefinitionStream*>(streamPtr);
    const IndexLayout& L = jet4Layout ? kJet4Index : kJet3Index;
    std::vector<uint8_t> entry(std::max(L.realSize, L.logicalSize));
    const size_t firstIndex = table.indexes.size();
    for (uint32_t k = 0; k < r; ++k) {
        if (!s.read(entry.data(), L.realSize)) return;
        indexInfo idx;
        uint8_t flags = entry[L.realFlags];
        if (!jet4Layout) flags |= 0x80;  // Jet 3 stores the same flags without the high bit
        switch (flags) {
            case 0x89: idx.isPrimary = true; break;
            case 0x81: idx.isUnique = true; break;
            case 0x82: idx.ignoresNulls = true; break;
            case 0x83: idx.isUnique = idx.ignoresNulls = true; break;
            default: break;
        }
        idx.realIndexNumber = k;
        for (uint32_t slot = 0; slot < 10; ++slot) {
            const uint8_t* p = entry.data() + L.mapStart + 3 * slot;
            const uint16_t column = le16(p);
            if (column == 0xFFFF) continue;
            idx.columnNumbers.push_back(column);
            idx.columnOrders.push_back(p[2]);
        }
        table.indexes.push_back(std::move(idx));
    }

    // Access allows a few dozen indexes per table; a count far beyond that is
    // damage, and it must not size an allocation.
    constexpr uint32_t kMaxLogicalIndexes = 4096;
    if (x > kMaxLogicalIndexes) return;
    std::vector<bool> foreignKey(x, false);
    std::vector<uint32_t> used;  // real-index numbers of the kept logical indexes, in order
    for (uint32_t n = 0; n < x; ++n) {
        if (!s.read(entry.data(), L.logicalSize)) return;
        const uint32_t real = le32(entry.data() + L.logicalReal);
        const uint8_t type = entry[L.logicalType];
        if (type == 2) {
            foreignKey[n] = true;
            continue;
        }
        for (size_t i = firstIndex; i < table.indexes.size(); ++i) {
            if (table.indexes[i].realIndexNumber == real) {
                used.push_back(real);
                table.indexes[i].indexTypes.push_back(type);
            }
        }
    }

    std::vector<std::string> names;
    std::vector<uint8_t> buf;
    for (uint32_t n = 0; n < x; ++n) {
        uint32_t length;
        if (jet4Layout) {
            uint8_t b[2];
            if (!s.read(b, 2)) break;
            length = le16(b);
            if (length & 0x8000) continue;
        } else {
            uint8_t b;
            if (!s.read(&b, 1)) break;
            length = b;
        }
        buf.resize(length);
        if (!s.read(buf.data(), length)) break;
        if (foreignKey[n]) continue;
        names.push_back(DecodeStoredText(buf.data(), buf.size()));
    }
    for (size_t j = 0; j < used.size() && j < names.size(); ++j) {
        for (size_t i = firstIndex; i < table.indexes.size(); ++i) {
            if (table.indexes[i].realIndexNumber == used[j]) table.indexes[i].indexNames.push_back(names[j]);
        }
    }
}

}  // namespace talmera
