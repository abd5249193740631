// The values of one exported row: each decoded column value converted as the
// repair converts it for its SQLite output (the same field types, the same
// conversions), then kept typed, so that every export format writes the very
// value the repaired database holds, in its own notation.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/RowValue.h"

namespace talmera {
class CMDBRecovery;
struct columnInfo;
struct tableInfo;
}  // namespace talmera

namespace talmera::cli {

// What an exported column holds, from the Access column type.
enum class ExportType {
    Boolean,
    Byte,
    Integer,     // 16-bit
    Long,        // 32-bit
    BigInt,      // 64-bit (Large Number)
    Currency,    // exact, four decimals
    Single,
    Double,
    Decimal,     // exact, precision and scale of the column
    DateTime,
    Text,        // Text (sized) and extended date/time
    Memo,
    Guid,
    Binary,
    Ole,
    Attachments, // an attachment column: files
    MultiValued, // a multi-valued column: values of valueType
};

struct ExportColumn {
    std::string name;
    ExportType type = ExportType::Text;
    ExportType valueType = ExportType::Text;  // MultiValued: the type of its values
    int complexType = 0;       // MultiValued: its field type as the repair saves it (dbComplexByte ...)
    int size = 0;              // characters of a Text column, bytes of a Binary one (0: no limit)
    int precision = 18;        // Decimal
    int scale = 0;             // Decimal (Currency: 4)
    bool autoNumber = false;
    bool complex = false;      // Attachments or MultiValued
};

// One attached file.
struct ExportAttachment {
    std::string fileName;
    std::string fileType;       // the name's extension, as Access records it
    std::vector<uint8_t> data;  // inflated
    bool complete = true;
};

struct ExportCell {
    enum class Kind { Null, Boolean, Integer, Real, Exact, Date, Text, Bytes, Attachments, Values };
    Kind kind = Kind::Null;
    bool boolean = false;
    int64_t integer = 0;
    double real = 0;
    // Exact: the decimal text with every digit the file holds ("-12.5",
    // "97"); scale: how many decimals Access shows (Currency 4); fits:
    // a double reading the text gives it back (at most 15 significant digits).
    // Text: the text (UTF-8). Date: the ISO text "YYYY-MM-DD HH:MM:SS[.f...]"
    // when one gives the day number back exactly, else empty.
    std::string text;
    int scale = 0;
    bool fits = true;
    double days = 0;            // Date
    std::vector<uint8_t> bytes; // Bytes
    std::vector<ExportAttachment> attachments;
    std::vector<ExportCell> values;  // Values: a multi-valued column's values
    // Attachments and Values: `integer` is the row's key into the column's
    // value table, which the sql dump's child table is keyed by.
    bool incomplete = false;         // a long value whose storage broke part-way
};

// The export's columns of a table, with the types the repair gives them.
std::vector<ExportColumn> exportColumns(CMDBRecovery& engine, tableInfo& table);

// Converts one decoded row (DecodeRowValues with long values read) into
// cells, one per column. A value the repair's conversion refuses keeps its
// decoded text (counted in `unconverted`): nothing the file holds is dropped.
void convertRow(CMDBRecovery& engine, const tableInfo& table, const std::vector<ExportColumn>& columns,
                const std::vector<RowValue>& values, std::vector<ExportCell>& cells, uint64_t& unconverted);

// The decimal text of an exact value with `scale` decimals at least ("12.5000").
std::string exactWithScale(const ExportCell& cell);

// ISO 8601 text of a date cell, with "T" or a space between date and time;
// empty when the day number has no exact text (see ExportCell).
std::string isoDateText(const ExportCell& cell, char separator);

// Whether a day number has no time of day.
bool dateOnly(const ExportCell& cell);

// Standard base64 (RFC 4648, with padding).
std::string base64(const uint8_t* data, size_t size);
inline std::string base64(const std::vector<uint8_t>& data) { return base64(data.data(), data.size()); }

// The shortest text that reads back as the same double ("0.1", "1e+300").
std::string shortestReal(double value);

}  // namespace talmera::cli
