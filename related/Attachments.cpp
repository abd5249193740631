// Complex values into the output: the DAO type of a complex column, each
// row's attachments (inflated in memory) or values written into the field's
// own recordset, and the copy of those between two fields.
#include <zlib.h>

#include <algorithm>
#include <cstring>

#include "engine/ApplicationState.h"
#include "engine/MDBRecovery.h"
#include "engine/ValueText.h"
#include "platform/MessageReceiver.h"
#include "related/Page.h"
#include "related/Related.h"

namespace talmera {

namespace {

// An attachment is at most what Access accepts (2 GB); memory is taken as the
// data is actually read or inflated, never by a claimed length alone.
constexpr uint32_t kMaxAttachmentBytes = 0x7FFFFFFF;

// Inflates raw deflate data (no zlib header, no checksum) into out, stopping
// at limit bytes. False when zlib reports an error before the stream ended:
// out then holds what was inflated so far.
bool inflateRaw(const uint8_t* data, size_t size, size_t limit, std::vector<uint8_t>& out) {
    z_stream z{};
    if (inflateInit2(&z, -15) != Z_OK) return false;
    out.clear();
    z.next_in = const_cast<Bytef*>(data);
    z.avail_in = 0;
    size_t fed = 0;
    uint8_t block[32768];
    int rc = Z_OK;
    while (out.size() < limit) {
        if (z.avail_in == 0 && fed < size) {
            const size_t piece = std::min<size_t>(size - fed, 4096);
            z.next_in = const_cast<Bytef*>(data + fed);
            z.avail_in = static_cast<uInt>(piece);
            fed += piece;
        }
        z.next_out = block;
        z.avail_out = sizeof block;
        rc = inflate(&z, Z_NO_FLUSH);
        const size_t produced = sizeof block - z.avail_out;
        out.insert(out.end(), block, block + std::min(produced, limit - out.size()));
        if (rc == Z_STREAM_END) break;
        if (rc != Z_OK && rc != Z_BUF_ERROR) break;
        // No progress possible: the input ended before the stream did.
        if (rc == Z_BUF_ERROR && z.avail_in == 0 && fed >= size) break;
    }
    inflateEnd(&z);
    return rc == Z_STREAM_END || out.size() >= limit;
}

uint32_t le32At(const std::vector<uint8_t>& b, size_t at) { return related::at32(b, at); }

}  // namespace

bool RelatedReader::ReadAttachmentData(std::vector<uint8_t>& buffer, uint32_t length, uint32_t page, uint32_t row) const {
    related::Page p;
    uint32_t remaining = std::min(length, kMaxAttachmentBytes);
    const uint64_t visitLimit = pageCount() + 1;
    bool chained = false;
    for (uint64_t visits = 0; page != 0 && remaining > 0 && visits < visitLimit; ++visits) {
        if (static_cast<uint64_t>(page) * pageSize >= fileLength) return false;
        p.load(databaseFile, static_cast<uint64_t>(page) * pageSize, Layout());
        if (!p.isDataPage()) return false;
        uint32_t start = 0, end = 0;
        if (!p.rowBounds(row, start, end)) return false;
        if (visits == 0) {
            // The value header says whether the data is chained; a first row
            // that holds more than the data does not.
            chained = end - start < remaining;
        }
        uint32_t next = 0;
        if (chained) {
            const uint32_t pointer = p.u32(start);
            next = pointer >> 8;
            row = pointer & 0xFF;  // the row the pointer names
            start += 4;
            if (start > end) return false;  // a row too short for its pointer
        }
        const uint32_t take = std::min(remaining, end - start);
        buffer.insert(buffer.end(), p.bytes.begin() + start, p.bytes.begin() + start + take);
        remaining -= take;
        page = next;
    }
    return remaining == 0;
}

bool RelatedReader::ReadAttachmentContent(const colRecordAttachmentInfo& a, std::vector<uint8_t>& content) const {
    content.clear();
    std::vector<uint8_t> data;
    bool complete = true;
    if (a.inRowPosition) {
        data.resize(a.dataLength);
        databaseFile.read(a.inRowPosition, a.dataLength, data.data());
    } else {
        complete = ReadAttachmentData(data, a.dataLength, a.dataPage, a.dataRow);
    }
    if (data.empty()) return complete;
    // The data: a flag, the payload's length L, then the payload (a header of
    // its own length H, then the file), deflated behind a zlib header or not.
    const uint32_t fullLength = le32At(data, 4);
    if (data.size() >= 10 && data[8] == 0x78 && data[9] == 0x5E) {
        std::vector<uint8_t> payload;
        // Deflate shrinks data at most about 1032 to 1: a claimed length beyond
        // that cannot come from these bytes, and is not allocated for.
        const size_t bound = (data.size() - 10) * 1032 + 1024;
        const size_t limit = std::min<size_t>({fullLength, kMaxAttachmentBytes, bound});
        complete = inflateRaw(data.data() + 10, data.size() - 10, limit, payload) && complete;
        const uint32_t header = le32At(payload, 0);
        const size_t from = std::min<size_t>(header, payload.size());
        const size_t to = std::min<size_t>(std::max<size_t>(fullLength, from), payload.size());
        content.assign(payload.begin() + from, payload.begin() + to);
    } else {
        const uint32_t header = le32At(data, 8);
        const size_t from = std::min<size_t>(8 + static_cast<size_t>(header), data.size());
        const size_t to = std::min<size_t>(std::max<size_t>(8 + static_cast<size_t>(fullLength), from), data.size());
        content.assign(data.begin() + from, data.begin() + to);
    }
    return complete;
}

uint8_t RelatedReader::ComplexValueType(uint32_t tableId, const std::string& columnName, tableInfo& table) {
    const AttachmentInfo* info = nullptr;
    for (const AttachmentInfo& a : complexColumns) {
        if (a.tableId == tableId && a.columnName == columnName) {
            info = &a;
            break;
        }
    }
    if (!info || info->valueTableId == 0 || !jet4Layout) return 0;
    const uint32_t v = info->valueTableId;
    uint8_t type = 0;
    const uint64_t at = static_cast<uint64_t>(v) * pageSize;
    if (at < fileLength && databaseFile.u8(at + 40) == 0x4E && databaseFile.u16(at + 41) == 3) {
        const uint32_t realIndexes = databaseFile.u32(at + 51);
        if (realIndexes < 256) type = databaseFile.u8(at + 63 + 12 * static_cast<uint64_t>(realIndexes) + 50);
    }
    // The value table's own properties ("Value", "FileData") belong to the
    // complex column; read once per scan.
    for (const systemTableInfo& hidden : systemTables) {
        if (hidden.definitionPage != v) continue;
        bool done = false;
        for (const auto& r : redirectedColumns) done = done || (r.first == tableId && r.second == columnName);
        if (done) break;
        redirectedColumns.emplace_back(tableId, columnName);
        redirectActive = true;
        redirectColumn = columnName;
        ReadPropertyBlock(hidden.propertyRow, hidden.propertyPage, hidden.propertyLength, hidden.propertyFlags, table);
        redirectActive = false;
        break;
    }
    return type;
}

unsigned RelatedReader::ComplexValueScale(const columnInfo& column) const {
    // The scale is the value table's: its third column entry is "Value".
    const uint64_t def = static_cast<uint64_t>(column.valueTableId) * pageSize;
    const uint32_t realIndexes = databaseFile.u32(def + 51);
    if (!column.valueTableId || realIndexes >= 256) return 0;
    return databaseFile.u8(def + 63 + 12 * static_cast<uint64_t>(realIndexes) + 50 + 12);
}

std::vector<uint8_t> RelatedReader::ComplexValueBytes(const ComplexData& value, size_t size) const {
    std::vector<uint8_t> bytes(size);
    databaseFile.read(value.valuePosition, size, bytes.data());
    return bytes;
}

}  // namespace talmera
