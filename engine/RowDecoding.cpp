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

uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t le32(const uint8_t* p) {
    return p[0] | (p[1] << 8) | (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
uint64_t le64(const uint8_t* p) { return le32(p) | (static_cast<uint64_t>(le32(p + 4)) << 32); }

// A text value whose characters are already in v.string; the preview shows
// them as they are. The copy reuses the text's buffer from the row before.
void textValue(RowValue& v, bool makeText) {
    v.state = RowValue::State::Value;
    v.kind = RowValue::Kind::Text;
    if (makeText) v.text = v.string;
}

// Values of fixed-size types. Bytes past the stored ones read as zeros.
void decodeFixedSize(uint8_t type, const uint8_t* data, size_t size, RowValue& v, bool makeText) {
    uint8_t b[16] = {};
    std::memcpy(b, data, std::min<size_t>(size, sizeof b));
    v.state = RowValue::State::Value;
    switch (type) {
        case kJetByte:
            v.kind = RowValue::Kind::Integer;
            v.integer = b[0];
            if (makeText) FormatIntegerInto(v.integer, v.text);
            break;
        case kJetInteger:
            v.kind = RowValue::Kind::Integer;
            v.integer = static_cast<int16_t>(le16(b));
            if (makeText) FormatIntegerInto(v.integer, v.text);
            break;
        case kJetLong:
            v.kind = RowValue::Kind::Integer;
            v.integer = static_cast<int32_t>(le32(b));
            if (makeText) FormatIntegerInto(v.integer, v.text);
            break;
        case kJetBigInt:
            v.kind = RowValue::Kind::Integer;
            v.integer = static_cast<int64_t>(le64(b));
            if (makeText) FormatIntegerInto(v.integer, v.text);
            break;
        case kJetCurrency:
            v.kind = RowValue::Kind::Currency;
            v.integer = static_cast<int64_t>(le64(b));
            if (makeText) FormatCurrencyInto(v.integer, v.text);
            break;
        case kJetSingle: {
            float f;
            std::memcpy(&f, b, 4);
            v.kind = RowValue::Kind::Real;
            v.real = f;
            if (makeText) FormatSingleInto(f, v.text);
            break;
        }
        case kJetDouble: {
            double d;
            std::memcpy(&d, b, 8);
            v.kind = RowValue::Kind::Real;
            v.real = d;
            if (makeText) FormatDoubleInto(d, v.text);
            break;
        }
        case kJetDateTime: {
            double d;
            std::memcpy(&d, b, 8);
            v.kind = RowValue::Kind::DateTime;
            v.real = d;
            if (makeText) FormatDateTimeInto(d, v.text);
            break;
        }
        case kJetGuid:
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
        case kJetByte: case kJetInteger: case kJetLong: case kJetCurrency: case kJetSingle: case kJetDouble: case kJetDateTime: case kJetBigInt:
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

void hyperlinkDisplay(const std::string& text, std::string& shown) {
    const size_t hash = text.find('#');
    if (hash == std::string::npos) {
        shown = text;
        return;
    }
    shown.clear();
    for (size_t i = hash; i < text.size(); ++i) {
        if (text[i] != '#') shown.push_back(text[i]);
    }
}

}  // namespace

namespace {

// A calculated column's values are of its result type (a DAO type number in
// its ResultType property); the property reader usually set it already.
uint8_t effectiveType(const columnInfo& col) {
    if (!col.isCalculated) return col.type;
    for (const columnProperties& p : col.properties) {
        if (p.name != "ResultType") continue;
        if (const uint8_t type = ColumnTypeOfResultType(std::atol(p.value.c_str()))) return type;
        break;
    }
    return col.type;
}

}  // namespace

bool CMDBRecovery::DecodeRowValues(const tableInfo& table, uint64_t pagePosition, const SlotTable& slots,
                                   size_t slot, bool readLongValues, std::vector<RowValue>& values,
                                   bool makeText) {
    if (!fileOpened || slot >= slots.size()) return false;
    const Slot* s = &slots[slot];
    // Deleted rows are read only from the deleted-row list; a moved row only
    // through its pointer.
    if (s->kind == SlotKind::Deleted || s->kind == SlotKind::OverflowTarget) return false;
    uint64_t P = pagePosition;
    Slot target;
    if (s->kind == SlotKind::OverflowPointer) {
        // The row lies on another page, row r of that page's slot table.
        if (!s->pointerRead) return false;
        P = static_cast<uint64_t>(s->targetPage) * pageSize;
        if (P + pageSize > fileLength || databaseFile.u8(P) != 0x01) return false;
        if (!LoadPageSlot(P, s->targetRow, target)) return false;
        s = &target;
    }
    return DecodeRowAt(table, P + s->start, s->size(), readLongValues, values, makeText);
}

bool CMDBRecovery::DecodeDeletedRowValues(const tableInfo& table, size_t entry, bool readLongValues,
                                          std::vector<RowValue>& values, bool makeText) {
    if (!fileOpened || entry >= table.deletedRows.size()) return false;
    const delRecordTableInfo& e = table.deletedRows[entry];
    if (!IsDeletedRowEntry(e)) return false;
    // The row ends where the page's slot table says, as any row does.
    Slot s;
    if (!LoadPageSlot(e.pagePosition, e.slot, s) || s.entry != e.entry) return false;
    return DecodeRowAt(table, e.pagePosition + s.start, s.size(), readLongValues, values, makeText);
}

bool CMDBRecovery::DecodeRowAt(const tableInfo& table, uint64_t rowPosition, uint32_t rowSize,
                               bool readLongValues, std::vector<RowValue>& values, bool makeText) {
    // A row holds at least its column count and a null mask.
    if (rowSize < 2 || rowPosition + rowSize > fileLength) return false;
    const uint8_t* row = databaseFile.view(rowPosition, rowSize);
    if (!row) return false;
    RowFrame& f = rowFrame;
    FrameShape shape;
    shape.variableColumns = table.hasVariableColumns;
    if (!f.read(row, rowSize, jet4Layout, shape)) return false;

    // The values are reused from row to row: their buffers keep their capacity.
    values.resize(table.columns.size());
    for (size_t c = 0; c < table.columns.size(); ++c) {
        const columnInfo& col = table.columns[c];
        const uint8_t type = effectiveType(col);
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
        v.type = type;
        if (col.columnNumber >= f.columns()) {
            v.state = RowValue::State::Absent;
            v.text = type == kJetBoolean ? "No" : "";
            continue;
        }
        if (!f.hasValue(col.columnNumber)) {
            v.state = RowValue::State::Null;
            v.text = " ";
            continue;
        }

        // Where the value's bytes are.
        const uint8_t* data = nullptr;
        size_t size = 0;
        if (col.isFixed) {
            const uint32_t at = f.countWidth() + col.fixedOffset;
            if (at < f.maskStart()) {
                data = f.row() + at;
                size = std::min<size_t>(col.length, f.maskStart() - at);
            }
        } else if (col.variableIndex < f.variables()) {
            // Variable data lies between the fixed area and the null mask.
            uint32_t from = 0, to = 0;
            f.variableBounds(col.variableIndex, f.maskStart(), from, to);
            data = f.row() + from;
            size = to - from;
        }
        // A calculated value: 16 bytes of header and a 4-byte length first.
        if (col.isCalculated && type != kJetMemo) {
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
            case kJetBoolean:
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
            case kJetText:
                DecodeTextInto(data, size, v.string);
                textValue(v, makeText);
                break;
            case kJetMemo: {
                if (size == 0) {
                    textValue(v, makeText);
                    break;
                }
                ReadMemoInto(data, size, readLongValues, v, col.isCalculated, v.string);
                v.state = RowValue::State::Value;
                v.kind = RowValue::Kind::Text;
                if (makeText) {
                    if (col.isHyperlink) {
                        hyperlinkDisplay(v.string, v.text);
                    } else {
                        v.text = v.string;
                    }
                }
                break;
            }
            case kJetOle: {
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
                    if (!ReadLongBinarySingle(page, length, data[4], v.bytes)) {
                        v.incomplete = true;
                        ++statistics.valuesIncomplete;
                    }
                } else {
                    ReadLongBinaryChain(page, data[4], length, v.bytes, v.incomplete);
                    if (v.incomplete) ++statistics.valuesIncomplete;
                }
                break;
            }
            case kJetBinary:
                v.state = RowValue::State::Value;
                v.kind = RowValue::Kind::Bytes;
                v.bytes.assign(data, data + size);
                if (makeText) v.text = HexText(data, size);
                break;
            case kJetDecimal:
                if (size == 0) {
                    textValue(v, makeText);
                    break;
                }
                decodeDecimal(data, size, col.scale, col.isCalculated, v, makeText);
                break;
            case kJetComplex: {
                uint8_t b[4] = {};
                std::memcpy(b, data, std::min<size_t>(size, 4));
                const uint32_t key = le32(b);
                v.state = RowValue::State::Value;
                v.kind = RowValue::Kind::Complex;
                v.integer = (key & 0x8000) ? 0 : (key & 0xFFFF);
                v.text = "Complex Data Type";
                break;
            }
            case kJetDateTimeExtended: {
                // Extended date/time: ISO text with seven decimals; bytes that
                // are not such a value are kept as the characters stored.
                if (auto iso = DecodeDateTimeExtended(data, size)) {
                    v.string = std::move(*iso);
                    textValue(v, makeText);
                    break;
                }
                v.string.assign(reinterpret_cast<const char*>(data), size);
                while (!v.string.empty() && (v.string.back() == '\0' || v.string.back() == ' ')) v.string.pop_back();
                textValue(v, makeText);
                break;
            }
            case kJetGuid:
                if (col.isVariable && size == 0) {
                    textValue(v, makeText);
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
                        if (type == kJetDateTime) {
                            decodeFixedSize(type, data, 0, v, makeText);
                        } else {
                            textValue(v, makeText);
                        }
                        break;
                    }
                    if (!jet4Layout) {
                        DecodeTextInto(data, size, v.string);
                        textValue(v, makeText);
                        break;
                    }
                    if (size >= 2 && data[0] == 0xFF && data[1] == 0xFE) {
                        uint8_t b[8] = {};
                        std::memcpy(b, data + 2, std::min<size_t>(size - 2, 8));
                        if (type == kJetInteger) {
                            v.state = RowValue::State::Value;
                            v.kind = RowValue::Kind::Integer;
                            v.integer = le16(b);
                            if (makeText) FormatIntegerInto(v.integer, v.text);
                        } else if (type == kJetDateTime) {
                            decodeFixedSize(type, b, 8, v, makeText);
                        } else {
                            v.state = RowValue::State::Value;
                            v.kind = RowValue::Kind::Integer;
                            v.integer = static_cast<int32_t>(le32(b));
                            if (makeText) FormatIntegerInto(v.integer, v.text);
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
