// Related objects as Access stores them: property blocks ("MR2"), and the
// hidden value tables of attachment and multi-valued columns, with attachment
// data deflated the way Access does it.
#include <zlib.h>

#include <cctype>
#include <stdexcept>

#include "jetwriter/Internal.h"
#include "jetwriter/JetWriter.h"

namespace jetwriter {

using namespace detail;

namespace {

void putUtf16(Bytes& out, const std::string& text) {
    for (char16_t u : utf8ToUtf16(text)) put16(out, uint16_t(u));
}


Bytes key4(uint32_t key) { return Bytes{uint8_t(key), uint8_t(key >> 8), uint8_t(key >> 16), uint8_t(key >> 24)}; }


// What Access keeps for one attached file: a 4-byte flag, the payload length,
// then the payload, deflated behind a zlib header (78 5E) or as it is. The
// payload is a header (its own length, a 1, the extension's length in
// characters with its terminating zero, the extension in UTF-16) and the file.
Bytes attachmentData(const Attachment& a) {
    const size_t dot = a.fileName.rfind('.');
    const std::string extension = dot == std::string::npos ? "" : a.fileName.substr(dot + 1);
    Bytes payload;
    const std::u16string ext = utf8ToUtf16(extension);
    put32(payload, uint32_t(12 + 2 * (ext.size() + 1)));
    put32(payload, 1);
    put32(payload, uint32_t(ext.size() + 1));
    for (char16_t u : ext) put16(payload, uint16_t(u));
    put16(payload, 0);
    payload.insert(payload.end(), a.content.begin(), a.content.end());

    Bytes data;
    put32(data, a.compressed ? 1 : 0);
    put32(data, uint32_t(payload.size()));
    if (!a.compressed) {
        data.insert(data.end(), payload.begin(), payload.end());
        return data;
    }
    // Level 4 gives the header 78 5E that Access's data carries.
    z_stream z{};
    if (deflateInit2(&z, 4, Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY) != Z_OK) throw std::runtime_error("zlib");
    Bytes out(deflateBound(&z, uLong(payload.size())));
    z.next_in = payload.data();
    z.avail_in = uInt(payload.size());
    z.next_out = out.data();
    z.avail_out = uInt(out.size());
    const int rc = deflate(&z, Z_FINISH);
    out.resize(out.size() - z.avail_out);
    deflateEnd(&z);
    if (rc != Z_STREAM_END) throw std::runtime_error("zlib: deflate did not finish");
    if (a.deflatedBytesKept && a.deflatedBytesKept < out.size()) out.resize(a.deflatedBytesKept);
    data.insert(data.end(), out.begin(), out.end());
    return data;
}

}  // namespace

Property textProperty(const std::string& name, const std::string& text) {
    Property p{name, 10, {}, 0};
    putUtf16(p.value, text);
    return p;
}

Property byteProperty(const std::string& name, uint8_t value, uint8_t type) { return Property{name, type, {value}, 0}; }

Property longProperty(const std::string& name, int32_t value) { return Property{name, 4, key4(uint32_t(value)), 0}; }

Bytes propertyBlock(const std::vector<PropertyGroup>& groups) {
    std::vector<std::string> names;
    auto indexOf = [&](const std::string& n) {
        for (size_t i = 0; i < names.size(); ++i)
            if (names[i] == n) return i;
        names.push_back(n);
        return names.size() - 1;
    };
    for (const PropertyGroup& g : groups)
        for (const Property& p : g.properties) indexOf(p.name);

    Bytes block{'M', 'R', '2', 0};
    Bytes list;
    for (const std::string& n : names) {
        Bytes u;
        putUtf16(u, n);
        put16(list, uint16_t(u.size()));
        list.insert(list.end(), u.begin(), u.end());
    }
    put32(block, uint32_t(list.size() + 6));
    put16(block, 0x80);
    block.insert(block.end(), list.begin(), list.end());

    for (const PropertyGroup& g : groups) {
        Bytes name;
        if (!g.table) putUtf16(name, g.name);
        Bytes body;
        put32(body, uint32_t(name.size() + 6));
        put16(body, uint16_t(name.size()));
        body.insert(body.end(), name.begin(), name.end());
        for (const Property& p : g.properties) {
            if (p.value.size() > 0xFFF0) throw std::invalid_argument("property " + p.name + " too long");
            put16(body, uint16_t(8 + p.value.size()));
            put8(body, p.ddl);
            put8(body, p.type);
            put16(body, uint16_t(indexOf(p.name)));
            put16(body, uint16_t(p.value.size()));
            body.insert(body.end(), p.value.begin(), p.value.end());
        }
        put32(block, uint32_t(body.size() + 6));
        put16(block, g.table ? 0 : 1);
        block.insert(block.end(), body.begin(), body.end());
    }
    return block;
}

// The two Long columns Access gives every value table, both kept among the
// variable columns: "<owner>_<column>", the auto-number of the value row, and
// "_<column>", the key the owner row's complex column holds.
namespace {

Column valueRowId(const std::string& owner, const std::string& columnName) {
    Column c = column(owner + "_" + columnName, kLong);
    c.storedVariable = true;
    c.autoNumber = true;
    return c;
}

Column valueRowKey(const std::string& columnName) {
    Column c = column("_" + columnName, kLong);
    c.storedVariable = true;
    return c;
}

}  // namespace

// Laid out as Access lays out an attachment column's value table: the six
// variable entries are FileData, FileName, FileType, FileURL, the row's
// auto-number and the key, in that order; FileFlags and FileTimeStamp are
// fixed; the key's column entry comes first in the definition.
Table attachmentValueTable(const std::string& owner, const std::string& columnName,
                           const std::vector<std::pair<uint32_t, Attachment>>& rows) {
    Table t;
    t.name = "f_" + owner + "_" + columnName;
    t.system = true;
    t.columns = {
        column("FileData", kOle),
        column("FileFlags", kLong),
        column("FileName", kText, 255),
        column("FileTimeStamp", kDateTime),
        column("FileType", kText, 255),
        column("FileURL", kMemo),
        valueRowId(owner, columnName),
        valueRowKey(columnName),
    };
    t.descriptorOrder = {7, 0, 1, 2, 3, 4, 5, 6};
    int64_t id = 0;
    for (const auto& [key, a] : rows) {
        Row r;
        const size_t dot = a.fileName.rfind('.');
        r.values = {attachmentData(a), int64_t(0), a.fileName, Value{},
                    dot == std::string::npos ? std::string() : a.fileName.substr(dot + 1),
                    Value{}, ++id, int64_t(key)};
        t.rows.push_back(std::move(r));
    }
    return t;
}

// A multi-valued column's value table: the value, the row's auto-number and
// the key. A text value is the first variable entry, before the two Longs; a
// fixed-size one sits at the row's start. "Value" is always the last column
// entry of the definition.
Table multiValueTable(const std::string& owner, const std::string& columnName, uint8_t valueType,
                      const std::vector<std::pair<uint32_t, Value>>& rows) {
    Table t;
    t.name = "f_" + owner + "_" + columnName;
    t.system = true;
    Column value = column("Value", valueType, valueType == kText ? 255 : 0);
    if (valueType == kDecimal) value.precision = 18, value.scale = 2;
    const bool text = valueType == kText;
    if (text) {
        t.columns = {value, valueRowId(owner, columnName), valueRowKey(columnName)};
        t.descriptorOrder = {1, 2, 0};
    } else {
        t.columns = {valueRowId(owner, columnName), valueRowKey(columnName), value};
    }
    int64_t id = 0;
    for (const auto& [key, v] : rows) {
        Row r;
        if (text) r.values = {v, ++id, int64_t(key)};
        else r.values = {++id, int64_t(key), v};
        t.rows.push_back(std::move(r));
    }
    return t;
}

std::string versionHistoryColumnName(const std::string& guidHex) {
    if (guidHex.size() != 32) throw std::invalid_argument("a version history GUID has 32 hexadecimal digits");
    std::string name = "VersionHistory_";
    for (size_t i = 0; i < 32; ++i) {
        if (i == 8 || i == 12 || i == 16 || i == 20) name += '-';
        name += char(std::toupper(static_cast<unsigned char>(guidHex[i])));
    }
    return name;
}

// Laid out as Access lays out the value table of a memo's version history:
// the date of the change is the one fixed column; the variable entries are
// the memo's text, the row's auto-number and the key, in that order; the
// key's column entry comes first in the definition, as in the other value
// tables.
Table versionHistoryValueTable(const std::string& owner, const std::string& memoColumn,
                               const std::string& historyColumn,
                               const std::vector<std::pair<uint32_t, MemoVersion>>& rows) {
    Table t;
    t.name = "f_" + owner + "_" + historyColumn;
    t.system = true;
    t.columns = {
        column(memoColumn, kMemo),
        column("DateModified", kDateTime),
        valueRowId(owner, historyColumn),
        valueRowKey(historyColumn),
    };
    t.descriptorOrder = {3, 0, 1, 2};
    int64_t id = 0;
    for (const auto& [key, v] : rows) {
        Row r;
        r.values = {v.text, v.modified, ++id, int64_t(key)};
        t.rows.push_back(std::move(r));
    }
    return t;
}

Database appendOnlyMemoDatabase() {
    Database db;
    db.format = Format::Ace;
    const std::string history = versionHistoryColumnName("5f8e3a1c0b7d4e2f9a6c1d3b8e0f4a27");
    Table notes;
    notes.name = "Notes";
    notes.columns = {column("ID", kLong), column("Remarks", kMemo), column(history, kComplex)};
    notes.properties = {PropertyGroup{"Remarks", false, {byteProperty("AppendOnly", 1)}}};
    const std::string longText = std::string(1500, 'x') + " and more";
    notes.rows = {{{int64_t(1), std::string("third"), int64_t(1)}},
                  {{int64_t(2), Value{}, int64_t(2)}},
                  {{int64_t(3), std::string("never changed"), int64_t(3)}},
                  {{int64_t(4), longText, int64_t(4)}}};
    db.tables.push_back(notes);
    db.tables.push_back(versionHistoryValueTable(
        "Notes", "Remarks", history,
        {{1, {std::string("first"), 45000.25}},
         {1, {std::string("second"), 45001.5}},
         {1, {std::string("third"), 45002.75}},
         {2, {std::string("was here"), 45010.0}},
         {2, {Value{}, 45011.125}},
         {4, {longText, 45020.0}}}));
    db.complexColumns.push_back({"Notes", history, db.tables.back().name});
    return db;
}

}  // namespace jetwriter
