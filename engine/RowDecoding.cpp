// Rows: locating a row slot (following overflow pointers), reading its frame
// (column count, null mask, variable-offset table) and decoding every column
// into a RowValue: the preview text and the typed value.
#include <algorithm>
#include <cstring>

#include "engine/ApplicationState.h"
#include "engine/MDBRecovery.h"
#include "engine/ValueDecoders.h"
#include "engine/ValueText.h"

namespace talmera {

namespace {

constexpr uint32_t kMaxRowColumns = 260;

uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t le32(const uint8_t* p) {
    return p[0] | (p[1] << 8) | (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
uint64_t le64(const uint8_t* p) { return le32(p) | (static_cast<uint64_t>(le32(p + 4)) << 32); }

// The frame of one row: everything needed to find each column's bytes. The
// row is read in place from the mapped file (it lies wholly inside it); the
// offset vectors are the engine's, reused from row to row.
struct Frame {
    const uint8_t* row = nullptr;  // the row's bytes, S to E
    uint32_t size = 0;
    uint32_t width = 0;            // of the column count: 2 (Jet 4) or 1 (Jet 3)
    uint32_t columns = 0;          // n: columns stored in this row
    uint32_t maskStart = 0;        // null mask position within the row
    uint32_t variables = 0;        // v
    std::vector<uint32_t>& offsets;
    std::vector<uint32_t>& varStart;
    std::vector<uint32_t>& varLength;
};

bool maskBit(const Frame& f, uint32_t column) {
    return (f.row[f.maskStart + column / 8] >> (column % 8)) & 1;
}

// Reads the variable-offset table. Jet 4 keeps 2-byte offsets; Jet 3 keeps
// 1-byte offsets and, in rows of 256 bytes or more, a jump table: one byte per
// 256-byte boundary naming the first variable column past it, between the
// variable count and the offsets. An offset table that does not fit the row
// is damage: the row is then read without variable columns.
void readVariableTable(Frame& f, bool jet4) {
    const uint32_t L = f.size;
    const uint8_t* r = f.row;
    std::vector<uint32_t>& offsets = f.offsets;
    if (jet4) {
        if (L < f.maskStart || f.maskStart < 2 + f.width) return;
        const uint32_t v = le16(r + f.maskStart - 2);
        const int64_t lowest = static_cast<int64_t>(f.maskStart) - 2 - 2 * (static_cast<int64_t>(v) + 1);
        if (lowest < f.width) return;
        offsets.resize(v + 1);
        for (uint32_t k = 0; k <= v; ++k) offsets[k] = le16(r + f.maskStart - 4 - 2 * k);
        f.variables = v;
    } else {
        if (f.maskStart < 1 + f.width) return;
        const uint32_t v = r[f.maskStart - 1];
        uint32_t jumps = (L - 1) / 256;
        const int64_t colPtr = static_cast<int64_t>(f.maskStart) - 2 - jumps;
        if (colPtr - static_cast<int64_t>(v) < f.width) return;
        // The last jump byte may be a dummy that no offset crosses.
        if ((colPtr - v) / 256 < jumps) --jumps;
        offsets.resize(v + 1);
        uint32_t used = 0;
        for (uint32_t i = 0; i <= v; ++i) {
            while (used < jumps && i == r[f.maskStart - 2 - used]) ++used;
            offsets[i] = r[colPtr - i] + 256 * used;
        }
        f.variables = v;
    }
    // Variable data lies between the fixed area and the offset table.
    const uint32_t limit = f.maskStart;
    f.varStart.resize(f.variables);
    f.varLength.resize(f.variables);
    for (uint32_t k = 0; k < f.variables; ++k) {
        const uint32_t start = std::min(offsets[k], limit);
        const uint32_t end = std::min(std::max(offsets[k + 1], start), limit);
        f.varStart[k] = start;
        f.varLength[k] = end - start;
    }
}

void setText(RowValue& v, std::string text, bool makeText) {
    v.state = RowValue::State::Value;
    v.kind = RowValue::Kind::Text;
    v.string = std::move(text);
    if (makeText) v.text = v.string;
}

// Values of fixed-size types. Bytes past the stored ones read as zeros.
void decodeFixedSize(uint8_t type, const uint8_t* data, size_t size, RowValue& v, bool makeText) {
    uint8_t b[16] = {};
    std::memcpy(b, data, std::min<size_t>(size, sizeof b));
    v.state = RowValue::State::Value;
    switch (type) {
        case 0x02:
            v.kind = RowValue::Kind::Integer;
            v.integer = b[0];
            if (makeText) v.text = std::to_string(v.integer);
            break;
        case 0x03:
            v.kind = RowValue::Kind::Integer;
            v.integer = static_cast<int16_t>(le16(b));
            if (makeText) v.text = std::to_string(v.integer);
            break;
        case 0x04:
            v.kind = RowValue::Kind::Integer;
            v.integer = static_cast<int32_t>(le32(b));
            if (makeText) v.text = std::to_string(v.integer);
            break;
        case 0x13:
            v.kind = RowValue::Kind::Integer;
            v.integer = static_cast<int64_t>(le64(b));
            if (makeText) v.text = std::to_string(v.integer);
            break;
        case 0x05:
            v.kind = RowValue::Kind::Currency;
            v.integer = static_cast<int64_t>(le64(b));
            if (makeText) v.text = FormatCurrency(v.integer);
            break;
        case 0x06: {
            float f;
            std::memcpy(&f, b, 4);
            v.kind = RowValue::Kind::Real;
            v.real = f;
            if (makeText) v.text = FormatSingle(f);
            break;
        }
        case 0x07: {
            double d;
            std::memcpy(&d, b, 8);
            v.kind = RowValue::Kind::Real;
            v.real = d;
            if (makeText) v.text = FormatDouble(d);
            break;
        }
        case 0x08: {
            double d;
            std::memcpy(&d, b, 8);
            v.kind = RowValue::Kind::DateTime;
            v.real = d;
            if (makeText) v.text = FormatDateTime(d);
            break;
        }
        case 0x0F:
            v.kind = RowValue::Kind::Guid;
            v.string = FormatGuid(b);
            if (makeText) v.text = v.string;
            break;
        default:
            v.state = RowValue::State::NoText;
            break;
    }
}

bool isFixedSizeType(uint8_t type) {
    switch (type) {
        case 0x02: case 0x03: case 0x04: case 0x05: case 0x06: case 0x07: case 0x08: case 0x13:
            return true;
        default:
            return false;
    }
}

// A decimal: a sign byte, then the magnitude as four 32-bit little-endian
// words, the most significant first. Calculated decimals keep their own
// scale and a different order (two bytes, scale, sign, low 64 bits as two
// words, high 32 bits).
void decodeDecimal(const uint8_t* data, size_t size, unsigned scale, bool calculated, RowValue& v, bool makeText) {
    uint8_t b[17] = {};
    std::memcpy(b, data, std::min<size_t>(size, sizeof b));
    bool negative;
    unsigned __int128 magnitude;
    if (calculated) {
        scale = b[2];
        negative = b[3] != 0;
        const uint64_t low = (static_cast<uint64_t>(le32(b + 4)) << 32) | le32(b + 8);
        magnitude = (static_cast<unsigned __int128>(le32(b + 12)) << 64) | low;
    } else {
        negative = b[0] != 0;
        magnitude = 0;
        for (int k = 0; k < 4; ++k) magnitude = (magnitude << 32) | le32(b + 1 + 4 * k);
    }
    if (scale > 38) scale = 38;
    v.state = RowValue::State::Value;
    v.kind = RowValue::Kind::Decimal;
    v.string = FormatDecimal(negative, magnitude, scale);
    if (makeText) v.text = v.string;
}

std::string hyperlinkDisplay(const std::string& text) {
    const size_t hash = text.find('#');
    if (hash == std::string::npos) return text;
    std::string shown;
    for (size_t i = hash; i < text.size(); ++i) {
        if (text[i] != '#') shown.push_back(text[i]);
    }
    return shown;
}

}  // namespace

int CMDBRecovery::DecodeRow(size_t slot, bool fromDeletedList) {
    const bool preview = app.previewMode;
    // A save needs the typed values only; a preview needs the texts.
    if (!DecodeRowValues(slot, fromDeletedList, !preview, lastRowValues, preview)) return 0;
    if (preview) {
        for (const RowValue& v : lastRowValues) {
            if (v.state != RowValue::State::NoText) app.currentRowValues.push_back(v.text);
        }
        ++recordsWritten;  // a preview stores nothing: every decoded row counts
    } else {
        TransferRow(*currentTable, lastRowValues);
    }
    return 1;
}

bool CMDBRecovery::DecodeRowValues(size_t slot, bool fromDeletedList, bool readLongValues,
                                   std::vector<RowValue>& values, bool makeText) {
    if (!fileOpened || currentTable == nullptr) return false;
    tableInfo& table = *currentTable;

    // Locate the row: S and E are its first and last byte.
    uint64_t S = 0, E = 0, P = 0;
    if (!fromDeletedList) {
        if (slot >= currentPageRows.size()) return false;
        const uint16_t e = currentPageRows[slot];
        const uint16_t top = e >> 12;
        if (top == 0xD || top == 0x8 || top == 0xC) return false;
        // The nearest preceding slot that still occupies bytes bounds the row.
        auto rowEnd = [&](uint64_t page, const auto& entryAt, size_t index) {
            for (size_t k = index; k-- > 0;) {
                const uint16_t prev = entryAt(k);
                if ((prev >> 12) != 0xD) return page + (prev & 0x0FFF) - 1;
            }
            return page + pageSize - 1;
        };
        if (top == 0x4) {
            // An overflow pointer: the row lies on another page. That page's
            // offset table is read here without replacing the current one.
            const uint64_t at = currentPagePosition + (e & 0x0FFF);
            const uint8_t r = databaseFile.u8(at);
            const uint32_t p = databaseFile.u24(at + 1);
            P = static_cast<uint64_t>(p) * pageSize;
            if (P + pageSize > fileLength || databaseFile.u8(P) != 0x01) return false;
            const uint32_t n = std::min<uint32_t>(databaseFile.u16(P + rowCountOffset),
                                                  (pageSize - rowCountOffset - 2) / 2);
            if (r >= n) return false;
            auto entryAt = [&](size_t k) { return databaseFile.u16(P + rowCountOffset + 2 + 2 * k); };
            S = P + (entryAt(r) & 0x0FFF);
            E = rowEnd(P, entryAt, r);
        } else {
            P = currentPagePosition;
            S = P + (e & 0x0FFF);
            E = rowEnd(P, [&](size_t k) { return currentPageRows[k]; }, slot);
        }
    } else {
        if (slot == 0 || slot >= table.deletedRows.size()) return false;
        const delRecordTableInfo& entry = table.deletedRows[slot];
        const uint64_t previous = table.deletedRows[slot - 1].entry;
        P = entry.pagePosition;
        S = P + (entry.entry & 0x0FFF);
        if (previous == pageSize) {
            E = P + pageSize - 1;
        } else if ((previous >> 12) == 0xD) {
            if (slot != 1) return false;
            E = P + pageSize - 1;
        } else {
            E = P + (previous & 0x0FFF) - 1;
        }
        if (E == 0 || S == E + 1) return false;
    }
    if (S >= E || E >= P + pageSize || E >= fileLength) return false;

    // The frame.
    Frame f{nullptr, 0, 0, 0, 0, 0, frameOffsets, frameVarStart, frameVarLength};
    f.width = jet4Layout ? 2 : 1;
    f.size = static_cast<uint32_t>(E - S + 1);
    f.row = databaseFile.view(S, f.size);
    if (!f.row) return false;
    const uint32_t L = f.size;
    f.columns = jet4Layout ? le16(f.row) : f.row[0];
    if (f.columns > kMaxRowColumns) return false;
    const uint32_t M = f.columns == 0 ? 1 : (f.columns + 7) / 8;
    if (M + f.width > L) return false;
    f.maskStart = L - M;
    if (table.hasVariableColumns) readVariableTable(f, jet4Layout);

    // The values are reused from row to row: their buffers keep their capacity.
    values.resize(table.columns.size());
    for (size_t c = 0; c < table.columns.size(); ++c) {
        columnInfo& col = table.columns[c];
        RowValue& v = values[c];
        v.state = RowValue::State::Null;
        v.kind = RowValue::Kind::None;
        v.text.clear();
        v.string.clear();
        v.bytes.clear();
        v.integer = 0;
        v.real = 0;
        v.incomplete = false;
        v.deferred = false;
        v.type = col.type;
        if (col.columnNumber >= f.columns) {
            v.state = RowValue::State::Absent;
            v.text = col.type == 0x01 ? "No" : "";
            continue;
        }
        if (!maskBit(f, col.columnNumber)) {
            v.state = RowValue::State::Null;
            v.text = " ";
            continue;
        }
        if (col.isCalculated) {
            for (const columnProperties& p : col.properties) {
                if (p.name == "ResultType") {
                    if (const uint8_t t = ColumnTypeOfResultType(std::atol(p.value.c_str()))) col.type = t;
                    break;
                }
            }
            v.type = col.type;
        }
        const uint8_t type = col.type;

        // Where the value's bytes are.
        const uint8_t* data = nullptr;
        size_t size = 0;
        if (col.isFixed) {
            const uint32_t at = f.width + col.fixedOffset;
            if (at < f.maskStart) {
                data = f.row + at;
                size = std::min<size_t>(col.length, f.maskStart - at);
            }
        } else if (col.variableIndex < f.variables) {
            data = f.row + f.varStart[col.variableIndex];
            size = f.varLength[col.variableIndex];
        }
        // A calculated value: 16 bytes of header and a 4-byte length first.
        if (col.isCalculated && type != 0x0C) {
            if (size >= 20) {
                const size_t length = le32(data + 16);
                data += 20;
                size = std::min(length, size - 20);
            } else {
                size = 0;
            }
        }
        static const uint8_t kNothing[1] = {0};
        if (!data) data = kNothing;

        switch (type) {
            case 0x01:
                // A calculated Yes/No keeps its value in a byte: 0 is No,
                // shown as a cleared Yes/No is.
                if (col.isCalculated && (size == 0 || data[0] == 0)) {
                    v.state = RowValue::State::Value;
                    v.kind = RowValue::Kind::Boolean;
                    v.integer = 0;
                    v.text = " ";
                    break;
                }
                v.state = RowValue::State::Value;
                v.kind = RowValue::Kind::Boolean;
                v.integer = 1;
                v.text = "Yes";
                break;
            case 0x0A:
                setText(v, DecodeTextBytes(data, size), makeText);
                break;
            case 0x0C: {
                if (size == 0) {
                    setText(v, "", makeText);
                    break;
                }
                if (col.isCalculated) calculatedValue = true;
                std::string text = ReadMemoValue(data, size, readLongValues, v);
                calculatedValue = false;
                v.state = RowValue::State::Value;
                v.kind = RowValue::Kind::Text;
                if (makeText) v.text = col.isHyperlink ? hyperlinkDisplay(text) : text;
                v.string = std::move(text);
                break;
            }
            case 0x0B: {
                v.state = RowValue::State::Value;
                v.kind = RowValue::Kind::Bytes;
                v.text = "OLE DATA";
                if (!readLongValues) {
                    v.deferred = true;
                    break;
                }
                if (size < 12) break;
                const uint32_t raw = le32(data);
                const uint32_t length = raw & 0x3FFFFFFF;
                const uint8_t where = static_cast<uint8_t>(raw >> 24) & 0xC0;
                const uint64_t page = static_cast<uint64_t>(le32(data + 4) >> 8) * pageSize;
                if (where == 0x80) {
                    v.bytes.assign(data + 12, data + 12 + std::min<size_t>(length, size - 12));
                } else if (where == 0x40) {
                    v.bytes.assign(std::min<uint64_t>(length, fileLength), 0);
                    ReadLongBinarySingle(page, length, data[4], v.bytes);
                } else {
                    ReadLongBinaryChain(page, data[4], length, v.bytes, v.incomplete);
                    if (v.incomplete) ++statistics.valuesIncomplete;
                }
                break;
            }
            case 0x09:
                v.state = RowValue::State::Value;
                v.kind = RowValue::Kind::Bytes;
                v.bytes.assign(data, data + size);
                if (makeText) v.text = HexText(data, size);
                break;
            case 0x10:
                if (size == 0) {
                    setText(v, "", makeText);
                    break;
                }
                decodeDecimal(data, size, col.scale, col.isCalculated, v, makeText);
                break;
            case 0x12: {
                uint8_t b[4] = {};
                std::memcpy(b, data, std::min<size_t>(size, 4));
                const uint32_t key = le32(b);
                v.state = RowValue::State::Value;
                v.kind = RowValue::Kind::Complex;
                v.integer = (key & 0x8000) ? 0 : (key & 0xFFFF);
                v.text = "Complex Data Type";
                break;
            }
            case 0x14: {
                // Extended date/time: ISO text with seven decimals; bytes that
                // are not such a value are kept as the characters stored.
                if (auto iso = DecodeDateTimeExtended(data, size)) {
                    setText(v, std::move(*iso), makeText);
                    break;
                }
                std::string text(reinterpret_cast<const char*>(data), size);
                while (!text.empty() && (text.back() == '\0' || text.back() == ' ')) text.pop_back();
                setText(v, std::move(text), makeText);
                break;
            }
            case 0x0F:
                if (col.isVariable && size == 0) {
                    setText(v, "", makeText);
                    break;
                }
                decodeFixedSize(type, data, size, v, makeText);
                break;
            default:
                if (!isFixedSizeType(type)) {
                    v.state = RowValue::State::NoText;
                    break;
                }
                if (col.isVariable) {
                    // A fixed-size type kept in a variable column.
                    if (size == 0) {
                        if (type == 0x08) {
                            decodeFixedSize(type, data, 0, v, makeText);
                        } else {
                            setText(v, "", makeText);
                        }
                        break;
                    }
                    if (!jet4Layout) {
                        setText(v, DecodeTextBytes(data, size), makeText);
                        break;
                    }
                    if (size >= 2 && data[0] == 0xFF && data[1] == 0xFE) {
                        uint8_t b[8] = {};
                        std::memcpy(b, data + 2, std::min<size_t>(size - 2, 8));
                        if (type == 0x03) {
                            v.state = RowValue::State::Value;
                            v.kind = RowValue::Kind::Integer;
                            v.integer = le16(b);
                            if (makeText) v.text = std::to_string(v.integer);
                        } else if (type == 0x08) {
                            decodeFixedSize(type, b, 8, v, makeText);
                        } else {
                            v.state = RowValue::State::Value;
                            v.kind = RowValue::Kind::Integer;
                            v.integer = static_cast<int32_t>(le32(b));
                            if (makeText) v.text = std::to_string(v.integer);
                        }
                        break;
                    }
                }
                decodeFixedSize(type, data, size, v, makeText);
                break;
        }
    }
    return true;
}

}  // namespace talmera
