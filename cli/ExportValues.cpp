#include "cli/ExportValues.h"

#include <nettle/base64.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

#include "engine/MDBRecovery.h"
#include "engine/ValueText.h"
#include "engine/save/ComplexValues.h"
#include "engine/save/OutputTypes.h"
#include "output/dao/Dao.h"
#include "output/dao/Values.h"
#include "related/Related.h"

namespace talmera::cli {
namespace {

using dao::sqlite::FieldShape;
using dao::sqlite::Stored;

ExportType typeOfDao(int type) {
    switch (type) {
        case dao::dbBoolean: return ExportType::Boolean;
        case dao::dbByte: case dao::dbComplexByte: return ExportType::Byte;
        case dao::dbInteger: case dao::dbComplexInteger: return ExportType::Integer;
        case dao::dbLong: case dao::dbComplexLong: return ExportType::Long;
        case dao::dbBigInt: return ExportType::BigInt;
        case dao::dbCurrency: return ExportType::Currency;
        case dao::dbSingle: case dao::dbComplexSingle: return ExportType::Single;
        case dao::dbDouble: case dao::dbComplexDouble: return ExportType::Double;
        case dao::dbDecimal: case dao::dbComplexDecimal: return ExportType::Decimal;
        case dao::dbDate: return ExportType::DateTime;
        case dao::dbText: case dao::dbComplexText: return ExportType::Text;
        case dao::dbGUID: case dao::dbComplexGUID: return ExportType::Guid;
        case dao::dbBinary: return ExportType::Binary;
        case dao::dbLongBinary: return ExportType::Ole;
        default: return ExportType::Memo;
    }
}

int daoTypeOf(ExportType type) {
    switch (type) {
        case ExportType::Boolean: return dao::dbBoolean;
        case ExportType::Byte: return dao::dbByte;
        case ExportType::Integer: return dao::dbInteger;
        case ExportType::Long: return dao::dbLong;
        case ExportType::BigInt: return dao::dbBigInt;
        case ExportType::Currency: return dao::dbCurrency;
        case ExportType::Single: return dao::dbSingle;
        case ExportType::Double: return dao::dbDouble;
        case ExportType::Decimal: return dao::dbDecimal;
        case ExportType::DateTime: return dao::dbDate;
        case ExportType::Text: return dao::dbText;
        case ExportType::Guid: return dao::dbGUID;
        case ExportType::Binary: return dao::dbBinary;
        case ExportType::Ole: return dao::dbLongBinary;
        default: return dao::dbMemo;
    }
}

// The field shape the repair's output field has: no size limit, since an
// export keeps a value longer than its field rather than refusing its row.
FieldShape shapeOf(const ExportColumn& column, ExportType type) {
    FieldShape shape;
    shape.type = daoTypeOf(type);
    if (type == ExportType::Decimal) {
        shape.precision = column.precision;
        shape.scale = column.scale;
    }
    return shape;
}

// The value the repair assigns to its field for a decoded value
// (COutputDatabase::TransferRow): the typed value as the decoder made it.
dao::Variant variantOf(const RowValue& v) {
    switch (v.kind) {
        case RowValue::Kind::Boolean: return v.integer != 0;
        case RowValue::Kind::Integer: return v.integer;
        case RowValue::Kind::Currency: return dao::Currency{v.integer};
        case RowValue::Kind::Real: return v.real;
        case RowValue::Kind::DateTime: return dao::Date{v.real};
        case RowValue::Kind::Decimal:
            return v.string.empty() ? dao::Variant(std::monostate{}) : dao::Variant(dao::Decimal{v.string});
        case RowValue::Kind::Guid:
        case RowValue::Kind::Text: return v.string;
        case RowValue::Kind::Bytes: return v.bytes;
        case RowValue::Kind::Complex:
        case RowValue::Kind::None: break;
    }
    return std::monostate{};
}

// A stored value as a cell of its column's type.
ExportCell cellOf(const Stored& stored, ExportType type, int scale) {
    ExportCell cell;
    switch (stored.kind) {
        case Stored::Null: return cell;
        case Stored::Blob:
            cell.kind = ExportCell::Kind::Bytes;
            cell.bytes = stored.blob;
            return cell;
        default: break;
    }
    switch (type) {
        case ExportType::Boolean:
            cell.kind = ExportCell::Kind::Boolean;
            cell.boolean = stored.integer != 0;
            return cell;
        case ExportType::Byte:
        case ExportType::Integer:
        case ExportType::Long:
        case ExportType::BigInt:
            if (stored.kind == Stored::Integer) {
                cell.kind = ExportCell::Kind::Integer;
                cell.integer = stored.integer;
                return cell;
            }
            break;
        case ExportType::Single:
        case ExportType::Double:
            if (stored.kind == Stored::Real) {
                cell.kind = ExportCell::Kind::Real;
                cell.real = stored.real;
                return cell;
            }
            break;
        case ExportType::DateTime:
            cell.kind = ExportCell::Kind::Date;
            if (stored.kind == Stored::Real) {
                cell.days = stored.real;  // no text gives this day number back
            } else if (auto days = dao::sqlite::ParseDateText(stored.text)) {
                cell.days = *days;
                cell.text = stored.text;
            } else {
                cell.kind = ExportCell::Kind::Text;
                cell.text = stored.text;
            }
            return cell;
        default: break;
    }
    cell.kind = ExportCell::Kind::Text;
    cell.text = stored.kind == Stored::Integer ? std::to_string(stored.integer)
                : stored.kind == Stored::Real  ? shortestReal(stored.real)
                                               : stored.text;
    (void)scale;
    return cell;
}

// An exact number (Currency, Decimal): its digits from the decoded value, and
// whether the repair's double gives them back.
ExportCell exactCell(const Stored& stored, const std::string& exactText, int scale) {
    ExportCell cell;
    if (stored.isNull()) return cell;
    cell.kind = ExportCell::Kind::Exact;
    cell.scale = std::max(scale, 0);
    cell.fits = stored.exact.empty();
    cell.text = exactText;
    return cell;
}

// Converts one value as the repair's field would store it.
ExportCell convertValue(const ExportColumn& column, ExportType type, const dao::Variant& value,
                        uint64_t& unconverted, const std::string& decodedText) {
    const FieldShape shape = shapeOf(column, type);
    try {
        const Stored stored = dao::sqlite::ToStored(shape, value, column.name);
        if (type == ExportType::Currency || type == ExportType::Decimal) {
            // The digits come from the value itself, never from the double.
            std::optional<dao::sqlite::ExactDecimal> exact;
            if (const auto* c = std::get_if<dao::Currency>(&value)) {
                exact = dao::sqlite::ParseExactDecimal(std::to_string(c->tenThousandths));
                if (exact && !exact->digits.empty()) exact->exponent -= 4;
            } else if (const auto* d = std::get_if<dao::Decimal>(&value)) {
                exact = dao::sqlite::ParseExactDecimal(d->digits);
                if (exact && shape.scale >= 0) exact = dao::sqlite::RoundToScale(*exact, shape.scale);
            }
            const std::string text = exact                  ? dao::sqlite::DecimalText(*exact)
                                     : !stored.exact.empty() ? stored.exact
                                                             : shortestReal(stored.real);
            return exactCell(stored, text, type == ExportType::Currency ? 4 : column.scale);
        }
        return cellOf(stored, type, column.scale);
    } catch (const dao::ComError&) {
        // Refused by the repair's conversion (a number out of its type's
        // range, a text that is no number): kept as decoded.
        ++unconverted;
        ExportCell cell;
        if (const auto* d = std::get_if<double>(&value)) {
            cell.kind = ExportCell::Kind::Real;
            cell.real = *d;
        } else if (const auto* i = std::get_if<int64_t>(&value)) {
            cell.kind = ExportCell::Kind::Integer;
            cell.integer = *i;
        } else if (const auto* t = std::get_if<dao::Date>(&value)) {
            cell.kind = ExportCell::Kind::Date;
            cell.days = t->days;
        } else if (const auto* b = std::get_if<dao::Bytes>(&value)) {
            cell.kind = ExportCell::Kind::Bytes;
            cell.bytes = *b;
        } else if (const auto* s = std::get_if<std::string>(&value)) {
            cell.kind = ExportCell::Kind::Text;
            cell.text = *s;
        } else if (const auto* dec = std::get_if<dao::Decimal>(&value)) {
            cell.kind = ExportCell::Kind::Exact;
            cell.text = dec->digits;
            cell.fits = false;
        } else if (const auto* c = std::get_if<dao::Currency>(&value)) {
            cell.kind = ExportCell::Kind::Exact;
            auto e = dao::sqlite::ParseExactDecimal(std::to_string(c->tenThousandths));
            if (e && !e->digits.empty()) e->exponent -= 4;
            cell.text = e ? dao::sqlite::DecimalText(*e) : std::to_string(c->tenThousandths);
            cell.scale = 4;
            cell.fits = false;
        } else if (const auto* b2 = std::get_if<bool>(&value)) {
            cell.kind = ExportCell::Kind::Boolean;
            cell.boolean = *b2;
        }
        (void)decodedText;
        return cell;
    }
}

std::string extensionOf(const std::string& name) {
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot + 1 >= name.size()) return {};
    return name.substr(dot + 1);
}

// The values a multi-valued column keeps for one row, read as the repair
// saves them.
void complexValues(CMDBRecovery& engine, const columnInfo& source, const ExportColumn& column, uint32_t key,
                   ExportCell& cell, uint64_t& unconverted) {
    ExportColumn valueColumn = column;
    valueColumn.scale = -1;  // as many decimals as the value has
    valueColumn.precision = 0;
    for (const dao::Variant& value : MultiValuedValues(engine, source, key, column.complexType)) {
        cell.values.push_back(convertValue(valueColumn, column.valueType, value, unconverted, ""));
    }
}

}  // namespace

std::vector<ExportColumn> exportColumns(CMDBRecovery& engine, tableInfo& table) {
    std::vector<ExportColumn> columns;
    columns.reserve(table.columns.size());
    for (const columnInfo& col : table.columns) {
        ExportColumn column;
        column.name = col.name;
        column.autoNumber = col.isAutoNumber;
        if (col.type == kJetComplex) {
            column.complex = true;
            const int type = ComplexFieldType(engine, table.definitionPage, col.name, table);
            if (type == dao::dbAttachment) {
                column.type = ExportType::Attachments;
            } else {
                column.type = ExportType::MultiValued;
                column.valueType = typeOfDao(type);
                column.complexType = type;
            }
        } else {
            const int type = OutputFieldType(col);
            column.type = typeOfDao(type);
            if (type == dao::dbText) column.size = col.length / (engine.jet4Layout ? 2 : 1);
            if (type == dao::dbBinary) column.size = col.length;
            if (type == dao::dbCurrency) column.scale = 4;
            if (type == dao::dbDecimal) {
                column.precision = col.precision;
                column.scale = col.scale;
            }
        }
        columns.push_back(std::move(column));
    }
    return columns;
}

void convertRow(CMDBRecovery& engine, const tableInfo& table, const std::vector<ExportColumn>& columns,
                const std::vector<RowValue>& values, std::vector<ExportCell>& cells, uint64_t& unconverted) {
    cells.resize(columns.size());
    for (size_t c = 0; c < columns.size(); ++c) {
        ExportCell& cell = cells[c];
        cell = ExportCell{};
        if (c >= values.size()) continue;
        const RowValue& v = values[c];
        const ExportColumn& column = columns[c];
        // A Yes/No has no NULL: its cleared bit is No (in a row older than
        // the column as well).
        if (v.state != RowValue::State::Value) {
            if (column.type == ExportType::Boolean) cell.kind = ExportCell::Kind::Boolean;
            continue;
        }
        cell.incomplete = v.incomplete;
        if (v.kind == RowValue::Kind::Complex) {
            if (v.integer == 0) continue;  // no values
            const uint32_t key = static_cast<uint32_t>(v.integer);
            const columnInfo& source = table.columns[c];
            cell.integer = key;
            if (column.type == ExportType::Attachments) {
                cell.kind = ExportCell::Kind::Attachments;
                const RelatedReader reader(engine);
                for (const colRecordAttachmentInfo& a : source.attachments) {
                    if (a.key != key || a.dataLength == 0) continue;
                    ExportAttachment file;
                    file.fileName = a.fileName;
                    file.fileType = extensionOf(a.fileName);
                    file.complete = reader.ReadAttachmentContent(a, file.data);
                    cell.incomplete = cell.incomplete || !file.complete;
                    cell.attachments.push_back(std::move(file));
                }
            } else {
                cell.kind = ExportCell::Kind::Values;
                complexValues(engine, source, column, key, cell, unconverted);
            }
            continue;
        }
        const bool bytes = v.kind == RowValue::Kind::Bytes;
        cell = convertValue(column, column.type, variantOf(v), unconverted,
                            bytes ? std::string() : (v.kind == RowValue::Kind::Text ? v.string : v.text));
        cell.incomplete = v.incomplete;
    }
}

std::string exactWithScale(const ExportCell& cell) {
    auto e = dao::sqlite::ParseExactDecimal(cell.text);
    if (!e) return cell.text;
    return dao::sqlite::DecimalText(*e, cell.scale);
}

std::string isoDateText(const ExportCell& cell, char separator) {
    std::string text = cell.text;
    if (text.size() > 10 && text[10] == ' ') text[10] = separator;
    return text;
}

bool dateOnly(const ExportCell& cell) { return cell.days == std::trunc(cell.days); }

std::string base64(const uint8_t* data, size_t size) {
    std::string out(BASE64_ENCODE_RAW_LENGTH(size), '\0');
    if (size > 0) base64_encode_raw(reinterpret_cast<char*>(out.data()), size, data);
    return out;
}

std::string shortestReal(double value) {
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

}  // namespace talmera::cli
