// Table definitions: column entries, column names and the index section. A
// definition is one byte stream across its pages; entries and names split at a
// page boundary are read in two pieces and joined.
#include <algorithm>
#include <cstdio>
#include <unordered_set>

#include "engine/ApplicationState.h"
#include "engine/MDBRecovery.h"
#include "platform/LittleEndian.h"
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
        : file_(&file), pageSize_(pageSize), fileLength_(fileLength),
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
                file_->read(pagePos_ + off_, chunk, out);
                out += chunk;
            }
            off_ += static_cast<uint32_t>(chunk);
            n -= chunk;
        }
        return true;
    }
    bool advance() {
        const uint32_t next = file_->u32(pagePos_ + 4);
        if (next == 0 || static_cast<uint64_t>(next) * pageSize_ >= fileLength_) return false;
        if (!visited_.insert(next).second) return false;
        // A page that is no longer a definition page (zeroed, reused) ends the
        // chain: its bytes would otherwise become invented columns.
        if (file_->u8(static_cast<uint64_t>(next) * pageSize_) != 0x02) return false;
        pagePos_ = static_cast<uint64_t>(next) * pageSize_;
        off_ = 8;
        return true;
    }

    const PageFile* file_;
    uint32_t pageSize_;
    uint64_t fileLength_;
    uint64_t pagePos_;
    uint32_t off_;
    bool failed_ = false;
    std::unordered_set<uint32_t> visited_;
};

using le::U16;
using le::U32;

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
    const uint32_t c = U16(head + 4);
    const uint32_t x = U32(head + 6);
    const uint32_t r = U32(head + 10);
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
            col.columnNumber = U16(e + 5);
            col.variableIndex = U16(e + 7);
            col.precision = e[11];
            col.scale = e[12];
            flags = e[15];
            col.isCalculated = e[16] == 0xC0;
            col.fixedOffset = U16(e + 21);
            col.length = U16(e + 23);
        } else {
            col.columnNumber = U16(e + 1);
            col.variableIndex = U16(e + 3);
            flags = e[13];
            col.fixedOffset = U16(e + 14);
            col.length = U16(e + 16);
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

namespace {

// One stored name: its length field and as many of its bytes as were there.
struct StoredName {
    bool lengthRead = false;
    bool whole = false;          // every byte the length claims was read
    uint32_t length = 0;
    std::vector<uint8_t> bytes;  // what was read of it
};

// Names longer than Access allows are damage; their bytes are read only as
// far as the log shows them.
constexpr uint32_t kStoredNameShown = 256;

StoredName ReadStoredName(DefinitionStream& s, bool jet4) {
    StoredName n;
    uint8_t b[2] = {};
    if (!s.read(b, jet4 ? 2 : 1)) return n;
    n.lengthRead = true;
    n.length = jet4 ? U16(b) : b[0];
    n.bytes.resize(std::min(n.length, kStoredNameShown));
    if (!s.read(n.bytes.data(), n.bytes.size())) {
        n.bytes.clear();
        return n;
    }
    n.whole = n.length <= kStoredNameShown ? true : s.skip(n.length - kStoredNameShown);
    return n;
}

// ASCII letters folded, as Access and SQLite compare names.
std::string FoldName(const std::string& name) {
    std::string folded = name;
    for (char& ch : folded) {
        if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 'a' + 'A');
    }
    return folded;
}

}  // namespace

bool CMDBRecovery::IsPlausibleStoredName(const uint8_t* data, size_t size) const {
    if (size == 0 || (jet4Layout && size % 2 != 0)) return false;
    if (size > kMaxNameCharacters * textUnit) return false;
    return IsPlausibleName(DecodeStoredText(data, size));
}

void CMDBRecovery::ReadColumnNames(tableInfo& table, void* streamPtr, uint32_t c, uint32_t r, uint32_t x) {
    auto& s = *static_cast<DefinitionStream*>(streamPtr);
    // Entry ordinal -> position in table.columns (none for a skipped entry).
    std::vector<int64_t> columnOf(c, -1);
    {
        size_t next = 0, skipped = 0;
        for (uint32_t g = 0; g < c && next < table.columns.size(); ++g) {
            if (skipped < skippedColumns.size() && skippedColumns[skipped] == g) {
                ++skipped;
                continue;
            }
            columnOf[g] = static_cast<int64_t>(next++);
        }
    }
    std::vector<bool> named(table.columns.size(), false);
    const uint32_t width = jet4Layout ? 2 : 1;
    const uint32_t longest = static_cast<uint32_t>(kMaxNameCharacters * textUnit);
    auto plausible = [&](const StoredName& n) {
        return n.whole && IsPlausibleStoredName(n.bytes.data(), n.bytes.size());
    };
    // Whether the next `count` names read from `from` are all plausible (and
    // not empty: a run of zeros is no name).
    auto namesFollow = [&](DefinitionStream from, uint32_t count) {
        for (uint32_t k = 0; k < count; ++k) {
            if (!plausible(ReadStoredName(from, jet4Layout))) return false;
        }
        return true;
    };
    constexpr uint32_t kLookahead = 4;

    bool indexesTrusted = true;
    for (uint32_t g = 0; g < c; ++g) {
        DefinitionStream before = s;
        const StoredName n = ReadStoredName(s, jet4Layout);
        const int64_t column = columnOf[g];
        const bool empty = n.whole && n.length == 0;
        if (empty || plausible(n)) {
            if (column >= 0) {
                std::string name = DecodeStoredText(n.bytes.data(), n.bytes.size());
                if (name.empty()) {
                    char generated[32];
                    std::snprintf(generated, sizeof generated, "Column#%u", g);
                    name = std::string(generated).substr(0, 10);
                }
                table.columns[column].name = std::move(name);
                named[column] = true;
            }
            continue;
        }

        // A damaged name: control characters, NUL, invalid text, too long,
        // or running past the definition. Its column gets a generated name.
        if (column >= 0) {
            columnInfo& col = table.columns[column];
            col.storedName = n.bytes;
            col.nameRepair = NameRepair::Generated;
            col.name = "Field" + std::to_string(column + 1);
            named[column] = true;
        }
        const uint32_t remaining = c - g - 1;
        const uint32_t lookahead = std::min(remaining, kLookahead);
        // A length Access could have written: only the name's bytes are bad
        // when the names after it read well from there.
        const bool lengthPlausible = n.whole && n.length <= longest && (!jet4Layout || n.length % 2 == 0);
        if (lengthPlausible && (remaining == 0 || namesFollow(s, lookahead))) continue;
        if (remaining == 0) {
            // The last name's length is out of step: where the index section
            // begins is not known.
            indexesTrusted = false;
            break;
        }
        // The length is out of step with the names (a flipped bit runs this
        // name on into the next ones): find the length after which the next
        // names read well, and go on from there.
        DefinitionStream bytesStart = before;
        uint8_t skip[2];
        if (!bytesStart.read(skip, width)) {
            indexesTrusted = false;
            break;
        }
        bool found = false;
        for (uint32_t length = 0; length <= longest && !found; length += textUnit) {
            DefinitionStream at = bytesStart;
            if (!at.skip(length)) break;
            if (namesFollow(at, lookahead)) {
                s = at;
                found = true;
            }
        }
        if (!found) {
            indexesTrusted = false;
            break;
        }
        table.columnNamesResynchronised = true;
    }

    // Columns whose names were not read (the definition ended first).
    for (size_t i = 0; i < table.columns.size(); ++i) {
        if (named[i]) continue;
        table.columns[i].nameRepair = NameRepair::Generated;
        table.columns[i].name = "Field" + std::to_string(i + 1);
    }
    MakeColumnNamesUnique(table);
    if (r != 0 && indexesTrusted && !s.failed()) ReadIndexes(table, streamPtr, r, x);
}

void CMDBRecovery::MakeColumnNamesUnique(tableInfo& table) {
    // Every name as stored or generated is kept from being taken by a
    // numbered one; the second and later of equal names get "_2", "_3", ...
    std::unordered_set<std::string> all, used;
    for (const columnInfo& col : table.columns) all.insert(FoldName(col.name));
    for (columnInfo& col : table.columns) {
        const std::string folded = FoldName(col.name);
        if (used.insert(folded).second) continue;
        std::string candidate;
        for (int n = 2;; ++n) {
            candidate = col.name + "_" + std::to_string(n);
            const std::string key = FoldName(candidate);
            if (!all.count(key) && !used.count(key)) break;
        }
        col.repeatedName = col.name;
        col.name = candidate;
        if (col.nameRepair == NameRepair::None) col.nameRepair = NameRepair::MadeUnique;
        used.insert(FoldName(candidate));
    }
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
            const uint16_t column = U16(p);
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
        const uint32_t real = U32(entry.data() + L.logicalReal);
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
            length = U16(b);
            if (length & 0x8000) continue;
        } else {
            uint8_t b;
            if (!s.read(&b, 1)) break;
            length = b;
        }
        buf.resize(length);
        if (!s.read(buf.data(), length)) break;
        if (foreignKey[n]) continue;
        std::string name = DecodeStoredText(buf.data(), buf.size());
        if (!IsPlausibleStoredName(buf.data(), buf.size())) {
            // A damaged index name (control characters, NUL, too long).
            tableInfo::RepairedIndexName repaired;
            repaired.generated = "Index" + std::to_string(names.size() + 1);
            repaired.stored.assign(buf.begin(), buf.begin() + std::min<size_t>(buf.size(), kStoredNameShown));
            name = repaired.generated;
            table.repairedIndexNames.push_back(std::move(repaired));
        }
        names.push_back(std::move(name));
    }
    for (size_t j = 0; j < used.size() && j < names.size(); ++j) {
        for (size_t i = firstIndex; i < table.indexes.size(); ++i) {
            if (table.indexes[i].realIndexNumber == used[j]) table.indexes[i].indexNames.push_back(names[j]);
        }
    }
}

}  // namespace talmera
