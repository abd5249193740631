// Memo and OLE values: a 12-byte header in the row, and the value after it,
// in one row of a long-value page, or in a chain of long-value rows.
//
// Header: 4 bytes whose top two bits say where the value is (0x80 in the row,
// 0x40 one long-value row, 0 a chain) and whose low 30 bits are its length;
// then 1 byte row and 3 bytes page of the first long-value row; 4 bytes unused.
// Every piece of a chain starts with 4 bytes naming the next (row, page).
#include <algorithm>
#include <set>
#include <utility>

#include "engine/ApplicationState.h"
#include "engine/MDBRecovery.h"
#include "platform/TextCodec.h"
#include "platform/Utf8.h"

namespace talmera {

namespace {

constexpr uint32_t kLvalMarker = 0x4C41564C;  // "LVAL"

// Compressed text: a zero byte switches between one-byte characters (the byte
// is the code point U+0000 to U+00FF itself) and two-byte UCS-2 characters;
// the text starts in one-byte mode.
void appendCompressed(std::string& out, const uint8_t* data, size_t size) {
    out.reserve(out.size() + size);
    bool oneByte = true;
    size_t i = 0;
    while (i < size) {
        size_t end = i;
        while (end < size && data[end] != 0) ++end;
        if (oneByte) {
            for (size_t k = i; k < end; ++k) utf8::Append(out, data[k]);
        } else {
            appendUcs2AsUtf8(out, data + i, end - i);
        }
        if (end < size) oneByte = !oneByte;  // the zero byte itself yields nothing
        i = end + 1;
    }
}

}  // namespace

std::string CMDBRecovery::DecodeTextBytes(const uint8_t* data, size_t size) const {
    std::string text;
    DecodeTextInto(data, size, text);
    return text;
}

void CMDBRecovery::DecodeTextInto(const uint8_t* data, size_t size, std::string& text) const {
    text.clear();
    if (size == 0) return;
    if (!jet4Layout) return appendCodePageAsUtf8(text, data, size, app.codePage);
    if (size >= 2 && data[0] == 0xFF && data[1] == 0xFE) return appendCompressed(text, data + 2, size - 2);
    appendUcs2AsUtf8(text, data, size);
}

bool CMDBRecovery::LocateLongValueRow(uint64_t pagePosition, uint32_t r, uint32_t& start, uint32_t& end) const {
    if (pagePosition + pageSize > fileLength) return false;
    if (databaseFile.u32(pagePosition + 4) != kLvalMarker) return false;
    Slot slot;
    if (!LoadPageSlot(pagePosition, r, slot) || !slot.hasBytes()) return false;
    start = slot.start;
    end = slot.end;
    return true;
}

void CMDBRecovery::ReadLongTextSingleInto(uint64_t pagePosition, uint32_t length, uint8_t row, bool calculated,
                                          std::string& text) {
    text.clear();
    uint32_t start = 0, end = 0;
    if (!LocateLongValueRow(pagePosition, row, start, end)) return;
    uint64_t pos = pagePosition + start;
    uint32_t extent = end - start;
    if (calculated && jet4Layout) {
        // A calculated value: 16 bytes of header, then its own 4-byte length.
        if (extent < 20) return;
        length = databaseFile.u32(pos + 16) & 0xFFFF;
        pos += 20;
        extent -= 20;
    }
    const uint32_t take = std::min(length, extent);
    if (const uint8_t* data = databaseFile.view(pos, take)) DecodeTextInto(data, take, text);
}

// Walks a chain of long-value rows from (page, row) and collects up to length
// bytes. Each piece names the next; a chain ends at page 0. A piece that cannot
// be found, or a piece seen before (a loop), breaks the chain: the bytes read
// so far are kept and the value is marked incomplete.
static std::vector<uint8_t> readChain(CMDBRecovery& e, uint64_t pagePosition, uint8_t row, uint32_t length,
                                      bool& incomplete) {
    std::vector<uint8_t> bytes;
    // Page 0 is the file's header: a value said to start there is lost.
    incomplete = length > 0;
    if (pagePosition == 0) return bytes;
    incomplete = false;
    // Nothing longer than the file can be stored in it.
    const uint64_t cap = std::min<uint64_t>(length, e.fileLength);
    bytes.reserve(static_cast<size_t>(std::min<uint64_t>(cap, 1u << 24)));
    std::set<std::pair<uint64_t, uint32_t>> seen;
    uint32_t r = row;
    while (bytes.size() < cap) {
        if (e.app.stopRequested) break;
        uint32_t start = 0, end = 0;
        if (!seen.insert({pagePosition, r}).second || !e.LocateLongValueRow(pagePosition, r, start, end) ||
            end - start < 4) {
            incomplete = true;
            break;
        }
        const uint32_t next = e.databaseFile.u32(pagePosition + start);
        const uint32_t dataSize = end - start - 4;
        const size_t take = static_cast<size_t>(std::min<uint64_t>(dataSize, cap - bytes.size()));
        const uint8_t* data = e.databaseFile.view(pagePosition + start + 4, take);
        if (!data) {
            incomplete = true;
            break;
        }
        bytes.insert(bytes.end(), data, data + take);
        const uint32_t nextPage = next >> 8;
        if (nextPage == 0) {
            if (bytes.size() < cap) incomplete = true;
            break;
        }
        r = next & 0xFF;
        pagePosition = static_cast<uint64_t>(nextPage) * e.pageSize;
    }
    // Fewer bytes than the value claims, however the chain ended (a first
    // page of 0, a length beyond the file, a stop): the value is not whole.
    if (bytes.size() < length) incomplete = true;
    return bytes;
}

bool CMDBRecovery::ReadLongBinarySingle(uint64_t pagePosition, uint32_t length, uint8_t row,
                                        std::vector<uint8_t>& buffer) {
    buffer.clear();
    uint32_t start = 0, end = 0;
    if (!LocateLongValueRow(pagePosition, row, start, end)) return length == 0;
    // The value is what its one row holds: a claimed length beyond the row
    // (a damaged header) adds no bytes, and no allocation is made for it.
    const uint32_t take = std::min<uint32_t>(length, end - start);
    buffer.resize(take);
    databaseFile.read(pagePosition + start, take, buffer.data());
    return take == length;
}

void CMDBRecovery::ReadLongBinaryChain(uint64_t pagePosition, uint8_t row, uint32_t length,
                                       std::vector<uint8_t>& buffer, bool& incomplete) {
    buffer = readChain(*this, pagePosition, row, length, incomplete);
}

std::string CMDBRecovery::ReadMemoValue(const uint8_t* column, size_t size, bool followChain, RowValue& value,
                                        bool calculated) {
    std::string text;
    ReadMemoInto(column, size, followChain, value, calculated, text);
    return text;
}

void CMDBRecovery::ReadMemoInto(const uint8_t* column, size_t size, bool followChain, RowValue& value,
                                bool calculated, std::string& text) {
    text.clear();
    if (size < 12) return;
    const uint32_t raw = column[0] | (column[1] << 8) | (column[2] << 16) | (static_cast<uint32_t>(column[3]) << 24);
    const uint32_t length = raw & 0x3FFFFFFF;
    const uint8_t where = static_cast<uint8_t>(raw >> 24) & 0xC0;
    const uint8_t row = column[4];
    const uint32_t page = column[5] | (column[6] << 8) | (static_cast<uint32_t>(column[7]) << 16);
    const uint64_t pagePosition = static_cast<uint64_t>(page) * pageSize;
    // A calculated memo's value starts with 16 bytes of header and its own
    // 4-byte length, wherever the long value is kept.
    calculated = calculated && jet4Layout;
    auto calculatedText = [&](const uint8_t* data, size_t n) {
        if (n < 20) return;
        const uint32_t own = data[16] | (data[17] << 8) | (data[18] << 16) | (static_cast<uint32_t>(data[19]) << 24);
        DecodeTextInto(data + 20, std::min<size_t>(own, n - 20), text);
    };
    if (where == 0x80) {
        const size_t take = std::min<size_t>(length, size - 12);
        if (calculated) {
            calculatedText(column + 12, take);
        } else {
            DecodeTextInto(column + 12, take, text);
        }
        return;
    }
    if (where == 0x40) return ReadLongTextSingleInto(pagePosition, length, row, calculated, text);
    if (!followChain) {
        value.deferred = true;
        text = "LargeMemoData";
        return;
    }
    bool incomplete = false;
    const std::vector<uint8_t> bytes = readChain(*this, pagePosition, row, length, incomplete);
    // Chained text is compressed or not, just like text stored in one row.
    if (calculated) {
        calculatedText(bytes.data(), bytes.size());
    } else {
        DecodeTextInto(bytes.data(), bytes.size(), text);
    }
    if (incomplete) {
        value.incomplete = true;
        ++statistics.valuesIncomplete;
    }
}

}  // namespace talmera
