// Linked tables: the external path of each link (its Database value, when it
// is stored out of the catalog row), the Connect value, and the re-created
// link in the output with a rebuilt connect text.
#include <algorithm>

#include "engine/ApplicationState.h"
#include "engine/MDBRecovery.h"
#include "platform/MessageReceiver.h"
#include "platform/TextCodec.h"
#include "related/Page.h"
#include "related/Related.h"

namespace talmera {

namespace {

// A link's texts are short; a chain claiming more than this is damaged.
constexpr size_t kMaxLinkValueBytes = 1u << 20;

}  // namespace

bool RelatedReader::ReadLinkLongValue(uint32_t page, uint8_t row, uint16_t length, uint16_t flags, std::string& text,
                                     bool& mr2) const {
    mr2 = false;
    if (page == 0 || static_cast<uint64_t>(page) * pageSize >= fileLength) return false;
    // The whole chain is followed (each piece from the row its pointer names),
    // so a value longer than one page comes out whole.
    std::vector<uint8_t> value;
    related::Page p;
    uint32_t current = page;
    uint32_t currentRow = row;
    const uint64_t visitLimit = pageCount() + 1;
    for (uint64_t visits = 0; current != 0 && visits < visitLimit; ++visits) {
        if (static_cast<uint64_t>(current) * pageSize >= fileLength) break;
        p.load(databaseFile, static_cast<uint64_t>(current) * pageSize, Layout());
        if (!p.isDataPage()) break;
        uint32_t start = 0, end = 0;
        if (!p.rowBounds(currentRow, start, end)) break;
        uint32_t next = 0;
        if (flags == 0) {
            const uint32_t pointer = p.u32(start);
            if (related::IsPropertySignature(pointer)) {
                mr2 = true;
                return false;
            }
            next = pointer >> 8;
            currentRow = pointer & 0xFF;
            start += 4;
            if (start > end) break;  // a row too short for its pointer
        }
        if (p.isLongValuePage() && start + 1 < pageSize) {
            const size_t wanted = length > value.size() ? length - value.size() : 0;
            const size_t take = std::min<size_t>(wanted, end - start);
            if (value.size() + take > kMaxLinkValueBytes) break;
            value.insert(value.end(), p.bytes.begin() + start, p.bytes.begin() + start + take);
            if (flags != 0 || value.size() >= length) break;
        }
        current = next;
    }
    if (value.empty()) return false;
    text = LinkValueText(value.data(), value.size());
    return true;
}

std::string RelatedReader::LinkValueText(const uint8_t* data, size_t size) const {
    const bool marked = size >= 2 && data[0] == 0xFF && data[1] == 0xFE;
    if (!jet4Layout) {
        // Jet 3 keeps 8-bit text in the code page, up to the first zero.
        const size_t from = marked ? 2 : 0;
        size_t n = from;
        while (n < size && data[n] != 0) ++n;
        return codePageToUtf8(data + from, n - from, app.codePage);
    }
    // Jet 4: compressed (FF FE, one byte per character), or UTF-16.
    if (marked) return DecodeTextBytes(data, size);
    return related::Utf16Cut(data, size);
}

void RelatedReader::FetchLinkPaths() {
    for (LinkedTableInfo& link : linkedTables) {
        if (link.databaseFlags == 0x8000 || !link.databasePath.empty()) continue;
        std::string text;
        bool mr2 = false;
        if (ReadLinkLongValue(link.databasePage, link.databaseRow, link.databaseLength, link.databaseFlags, text, mr2)) {
            link.databasePath = text;
        } else if (mr2) {
            return;  // a property block where a path belongs: the catalog is not what it seems
        }
    }
}

std::string RelatedReader::ReadConnectValue(uint64_t position) const {
    if (position == 0 || position >= fileLength) return {};
    const uint64_t header = position + 4;
    const uint16_t length = databaseFile.u16(header);
    const uint16_t flags = databaseFile.u16(header + 2);
    const uint8_t row = databaseFile.u8(header + 4);
    const uint32_t page = databaseFile.u24(header + 5);
    if (flags == 0x8000) {
        // In the row, right after the 12-byte header; Access keeps it in the
        // compressed form (FF FE, one byte per character) or as UTF-16.
        const size_t n = std::min<size_t>(length, pageSize);
        std::vector<uint8_t> bytes(n);
        databaseFile.read(header + 12, n, bytes.data());
        return LinkValueText(bytes.data(), n);
    }
    if (flags != 0x4000 && flags != 0) return {};  // not a value header: no Connect value
    std::string text;
    bool mr2 = false;
    if (!ReadLinkLongValue(page, row, length, flags, text, mr2)) return {};
    return text;
}

std::string RelatedReader::RebuildConnect(const LinkedTableInfo& link) const {
    // Of the stored Connect value only the source's kind before the first ";"
    // is kept (an Outlook link keeps it whole), followed by the path.
    std::string connect, odbcConnect;
    if (link.connectPosition != 0) {
        const std::string stored = ReadConnectValue(link.connectPosition);
        if (stored.empty()) {
            connect = ";DATABASE=";
        } else {
            const size_t semicolon = stored.find(';');
            const std::string prefix = semicolon == std::string::npos ? "" : stored.substr(0, semicolon);
            // An ODBC connection lives only in its Connect value (the driver
            // or DSN, the server, the database): cut, it would name nothing.
            if (prefix == "ODBC") odbcConnect = stored;
            if (startsWith(prefix, "Outlook")) {
                connect = stored;
            } else {
                connect = semicolon == std::string::npos ? "" : stored.substr(0, semicolon + 1);
            }
            connect += "DATABASE=";
        }
    }
    // ODBC sources named in the path get an ODBC connect text of their own.
    static const char* const kOdbcMarkers[] = {"=SQL Server",
                                               "=SQL Native Client",
                                               "SERVER=ORCL",
                                               "DSN=Visual FoxPro Database",
                                               "DSN=Visual FoxPro Tables",
                                               "SourceType=DBC"};
    for (const char* marker : kOdbcMarkers) {
        if (link.databasePath.find(marker) != std::string::npos) {
            const std::string source = link.foreignName.empty() ? link.linkName : link.foreignName;
            return "ODBC;" + link.databasePath + ";DATABASE=;TABLE=" + source;
        }
    }
    if (!odbcConnect.empty()) return odbcConnect;
    return connect + link.databasePath;
}

}  // namespace talmera
