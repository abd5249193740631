// Values as the SQLite output stores them, and the conversions an assignment
// to a field goes through.
//
// Every assigned value is converted to the field's type the way DAO converts
// it, then kept in the form the output file stores for that type (see
// docs/output-format.md): integers for Yes/No and whole numbers, reals for
// Single and Double, the nearest real for Currency and Decimal (with the exact
// text beside it where the real does not give it back), ISO text for
// dates, braced upper-case text for GUIDs, blobs for binary data. The exact
// value of Currency and Decimal never passes through binary floating point
// unless the assigned value already is one (a double).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "output/dao/Dao.h"

namespace talmera::dao::sqlite {

// One value in the form SQLite stores it.
struct Stored {
    enum Kind : uint8_t { Null, Integer, Real, Text, Blob };
    Kind kind = Null;
    int64_t integer = 0;
    double real = 0;
    std::string text;
    Bytes blob;
    // Currency and Decimal: the exact decimal text when the Real does not
    // give it back (more digits than a double holds); kept beside the record.
    std::string exact;

    static Stored Int(int64_t v) {
        Stored s;
        s.kind = Integer;
        s.integer = v;
        return s;
    }
    static Stored Dbl(double v) {
        Stored s;
        s.kind = Real;
        s.real = v;
        return s;
    }
    static Stored Txt(std::string v) {
        Stored s;
        s.kind = Text;
        s.text = std::move(v);
        return s;
    }
    bool isNull() const { return kind == Null; }
    bool operator==(const Stored&) const = default;
};

// What a field allows: its type, its size (characters of text, bytes of
// binary) and, for decimals, the precision and scale when they are known.
struct FieldShape {
    int type = dbText;
    int32_t size = 0;        // 0: no limit
    int precision = 0;       // 0: up to 28 digits
    int scale = -1;          // -1: as many decimals as given
};

// Converts an assigned value to the field's stored form. Throws ComError
// (source "DAO.Field") with kErrConversion when the value does not convert,
// kErrOverflow when a number is out of the type's range, kErrTooSmall when a
// text or binary value is longer than the field's size. Null stays Null.
Stored ToStored(const FieldShape& shape, const Variant& value, const std::string& fieldName);
// The same conversion into `out`, whose text and byte buffers are reused (a
// recordset's pending values, converted once for every record). When it
// throws, `out` is Null.
void ToStoredInto(const FieldShape& shape, const Variant& value, const std::string& fieldName, Stored& out);

// The value DAO hands out for a stored value of a field of that type.
Variant FromStored(int type, const Stored& stored);

// Dates. Days since 30 December 1899, the fraction being the time of day
// (before that day the integer part counts back and the fraction still runs
// forward). The storage text is "YYYY-MM-DD HH:MM:SS", with as many digits of
// fractional seconds as it takes to give the same day number back.
inline constexpr double kFirstDay = -657434.0;                 // 1 January 100
inline constexpr double kLastDay = 2958465.9999999884;         // 31 December 9999, 23:59:59.999
std::optional<std::string> DateStorageText(double days);       // nullopt: no text gives the value back
// The storage text into `out` (its buffer reused); false when no text gives the value back.
bool DateStorageTextInto(double days, std::string& out);
std::optional<double> ParseDateText(std::string_view text);    // ISO, the locale's date and time, US
std::string IsoDate(double days);                              // storage text, or the nearest second
double DaysFromCivil(int year, int month, int day);            // whole days of a calendar date
std::optional<double> ComposeDays(int year, int month, int day, int hour, int minute, int second,
                                  int64_t fractionUnits = 0, int fractionDigits = 0);

// Exact decimals: digits × 10^exponent.
struct ExactDecimal {
    bool negative = false;
    std::string digits;  // no leading zeros; empty for zero
    int exponent = 0;
};
std::optional<ExactDecimal> ParseExactDecimal(std::string_view text);
// Rounds half to even so that at most `scale` decimals remain.
ExactDecimal RoundToScale(ExactDecimal value, int scale);
// Plain text: "-12.5"; with fixedScale >= 0 exactly that many decimals.
std::string DecimalText(const ExactDecimal& value, int fixedScale = -1);

// Canonical GUID text "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" of a text with
// braces, or nullopt.
std::optional<std::string> CanonicalGuid(std::string_view text);

// Length of UTF-8 text in UTF-16 code units, the unit Access counts text in.
size_t Utf16Length(std::string_view utf8);

std::string DataTypeName(int type);

}  // namespace talmera::dao::sqlite
