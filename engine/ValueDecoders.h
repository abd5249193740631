// Value decoders that stand on their own: the bytes of one value in, its
// typed form out. They know nothing of rows or pages, so that any reader of
// rows can use them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace talmera {

// Extended date/time (type 0x14, Access 2019 and later): 42 bytes of ASCII,
// the days since 1 January of the year 1 (19 digits), ":", the seconds of the
// day (12 digits) and its 100-nanosecond units (7 digits), ":" and the
// decimals Access shows. Gives "YYYY-MM-DD HH:MM:SS.fffffff" (years 1 to
// 9999, always seven decimals), or nullopt when the bytes are not such a value.
std::optional<std::string> DecodeDateTimeExtended(const uint8_t* data, size_t size);

// The column type code of a calculated column's ResultType property (a DAO
// field type: 1 Yes/No, 2 Byte, 3 Integer, 4 Long, 5 Currency, 6 Single,
// 7 Double, 8 Date/Time, 10 Text, 12 Memo, 15 GUID, 16 Large Number,
// 20 Decimal); 0 for a number that names no such type.
uint8_t ColumnTypeOfResultType(long daoType);

}  // namespace talmera
