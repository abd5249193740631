// One decoded value of a row: the text the record grid shows and the typed
// value a save writes. Both come from one decoder, so that a save writes
// exactly the slots a preview shows.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace talmera {

struct RowValue {
    enum class State {
        Absent,   // the row predates the column (its column count is smaller)
        Null,     // the null-mask bit is 0
        Value,    // a value was decoded
        NoText,   // nothing to show for this column (the grid gets no cell)
    };
    enum class Kind {
        None,
        Boolean,   // integer: 0 or 1
        Integer,   // integer (byte, integer, long, large number, complex key)
        Currency,  // integer: ten-thousandths
        Real,      // real (single, double)
        DateTime,  // real: days since 30 December 1899
        Text,      // text (text, memo, extended date/time)
        Bytes,     // bytes (binary, OLE object)
        Decimal,   // text: the exact decimal digits with sign and point
        Guid,      // text: "{XXXXXXXX-...}"
        Complex,   // integer: the row's key into the value table
    };

    State state = State::Null;
    Kind kind = Kind::None;
    uint8_t type = 0;          // the column's type code as decoded
    std::string text;          // the preview text
    int64_t integer = 0;
    double real = 0;
    std::string string;        // UTF-8
    std::vector<uint8_t> bytes;
    bool incomplete = false;   // a long value whose storage broke part-way
    bool deferred = false;     // a long value a preview does not read (chain, OLE)
};

}  // namespace talmera
