// Row dispatch, the three formatting rule sets (memo values, first plain
// values, later values) and the storing table: each value of a query row
// becomes a text fragment appended to one clause text.
#include "queries/SqlClauses.h"

#include <cctype>

namespace talmera {

namespace {

using QueryRow = CMDBRecovery::QueryRow;
using QueryRowValue = CMDBRecovery::QueryRowValue;

// Row words (Attribute + 256 × Flag) the rules name.
constexpr uint16_t kSelectRow = 257;
constexpr uint16_t kMakeTableRow = 513;
constexpr uint16_t kAppendRow = 769;
constexpr uint16_t kUpdateRow = 1025;
constexpr uint16_t kDeleteRow = 1281;
constexpr uint16_t kCrosstabRow = 1537;
constexpr uint16_t kDataDefinitionRow = 1793;
constexpr uint16_t kPassThroughRow = 2049;
constexpr uint16_t kUnionRow = 2305;
constexpr uint16_t kColumnRow = 6;          // output column (Flag 0)
constexpr uint16_t kColumnHeadingRow = 262; // crosstab column heading (Flag 1)
constexpr uint16_t kRowHeadingRow = 518;    // crosstab row heading (Flag 2)
constexpr uint16_t kInnerJoinRow = 263;
constexpr uint16_t kLeftJoinRow = 519;
constexpr uint16_t kRightJoinRow = 775;
constexpr uint16_t kTopRow = 4099;          // options row with only the TOP bit
constexpr uint16_t kUnionDistinctRow = 771; // options: all columns and DISTINCT
constexpr uint16_t kOptionsUnusedRow = 515;
constexpr uint16_t kCrosstabGroupRow = 265;
constexpr uint16_t kOptionBits = 0x0100 | 0x0200 | 0x0400 | 0x0800 | 0x1000 | 0x2000;
constexpr uint8_t kSubqueryMask = 0x37;     // null mask of a table row with an expression and an alias

bool has(const std::string& v, const char* what) { return v.find(what) != std::string::npos; }
bool startsWith(const std::string& v, const char* what) { return v.rfind(what, 0) == 0; }
bool endsWithComma(const std::string& v) { return !v.empty() && v.back() == ','; }
bool unbracketed(const std::string& v) { return (v.empty() || v.front() != '[') && (v.empty() || v.back() != ']'); }
std::string bracket(const std::string& v) { return "[" + v + "]"; }
bool hasSpecialCharacter(const std::string& v) { return v.find_first_of("%*#@!$^") != std::string::npos; }

bool isColumnRow(uint16_t w) { return w == kColumnRow || w == kColumnHeadingRow || w == kRowHeadingRow; }
bool isJoinRow(uint16_t w) { return w == kInnerJoinRow || w == kLeftJoinRow || w == kRightJoinRow; }
bool isTopRow(uint16_t w) { return (w & 0x1000) && (w & 0xFF) == 3; }

const char* parameterType(uint8_t flag) {
    switch (flag) {
        case 0: return "Value";
        case 1: return " Bit";
        case 2: return " BYTE";
        case 3: return " Short";
        case 4: return " LONG";
        case 5: return " CURRENCY";
        case 6: return " SINGLE";
        case 7: return " DOUBLE";
        case 8: return " DateTime";
        case 9: return " BINARY";
        case 10: return " Text(255)";
        case 11: return " long Binary";
        case 12: return " Text";
        case 15: return " GUID";
        case 16: return " DOUBLE";
        default: return nullptr;
    }
}

// The first value of a row when it was read through a memo header.
std::string memoRule(const queryClauses& c, uint16_t w, std::string v) {
    const uint8_t a = w & 0xFF;
    if (a == 2) return v + c.paramType + ",";
    const bool tableRow = a == 5;
    if ((isColumnRow(w) || tableRow) && has(v, " ") && !has(v, ".") && !has(v, "&")) {
        if (tableRow) return unbracketed(v) ? bracket(v) : v + ",";
        if (has(v, "(")) return v + ",";
        if (unbracketed(v) && !has(v, "!")) return has(v, "Mod") ? v : bracket(v);
        return v;
    }
    return v + ",";
}

// The first non-empty value of a row read plainly.
std::string firstValueRule(const queryClauses& c, uint16_t w, std::string v) {
    const uint8_t a = w & 0xFF;
    const bool columnRow = isColumnRow(w);
    const bool tableRow = a == 5;
    if (has(v, " ") && !has(v, ".")) {
        if (columnRow) {
            if (!has(v, "(") && unbracketed(v)) v = bracket(v);
        } else if (tableRow) {
            v = bracket(v);
        } else if (a == 2) {
            if (unbracketed(v)) v = bracket(v);
        }
    } else if (has(v, "-")) {
        v = bracket(v);
    } else if (isTopRow(w)) {
        v += " ";
    } else {
        v = bracket(v) + ",";
    }
    if (a == 2) v += c.paramType + ",";
    if ((columnRow || tableRow) && has(v, " ") && !has(v, ".") && !has(v, "(") && unbracketed(v)) v = bracket(v);
    return v;
}

// Every following non-empty value of a row.
std::string laterValueRule(const queryClauses& c, uint16_t w, uint8_t nullMask, const std::string& v) {
    const uint8_t a = w & 0xFF;
    std::string value;
    std::string lower = v;
    for (char& ch : lower) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    if (c.isUnion) {
        value.clear();
    } else if (lower == "d" && a == 11) {
        value = " DESC ,";
    } else if (c.isUpdate) {
        value = v;
    } else if (isColumnRow(w)) {
        std::string x = v;
        bool bracketStep = true;  // step 2
        if (has(x, " ") || has(x, "(") || has(x, "-")) {
            if (!has(x, ".")) {
                if (!has(x, "MOD")) x = bracket(x);
                bracketStep = false;
            }
        }
        // The original test looks for "[" at both ends.
        if (bracketStep && (x.empty() || x.back() != '[') && (x.empty() || x.front() != '[')) x = bracket(x);
        if (hasSpecialCharacter(x) && unbracketed(x)) x = bracket(x);
        if (c.isCrosstab) {
            value = x;
        } else if (w == kColumnHeadingRow) {
            value.clear();
        } else {
            value = " AS " + x + ",";
        }
    } else if (a == 5) {
        std::string x = v;
        if (has(x, " ") && !has(x, ".")) x = bracket(x);
        if (hasSpecialCharacter(x) && unbracketed(x)) x = bracket(x);
        if (c.isCrosstab) {
            value = x;
        } else if (nullMask == kSubqueryMask) {
            value = " AS " + x + ",";
        } else {
            value = x + " AS" + ",";
        }
    } else {
        value = v;
    }
    if (isJoinRow(w)) value = bracket(v);
    return value;
}

void replaceFinalComma(std::string& s, char with) {
    if (endsWithComma(s)) s.back() = with;
}

// Appends a formatted value to the clause text its row feeds.
void storeValue(queryClauses& c, uint16_t w, uint8_t nullMask, uint32_t slot, std::string value) {
    const uint8_t a = w & 0xFF;
    switch (w) {
        case kColumnRow: {
            if (c.isAppend || c.isUpdate) {
                c.outputValues.push_back(value);
                return;
            }
            std::string& list = c.isCrosstab ? c.crosstabValue : c.selectList;
            if (startsWith(value, " AS") && endsWithComma(list)) list.back() = ' ';
            list += value;
            return;
        }
        case kColumnHeadingRow:
            c.hasPivot = true;
            c.pivotList += value;
            return;
        case kRowHeadingRow:
            if (startsWith(value, " AS")) {
                if (!c.selectList.empty()) c.selectList.pop_back();
                c.selectList += " ";
            }
            c.selectList += value;
            return;
        case kInnerJoinRow:
        case kLeftJoinRow:
        case kRightJoinRow: {
            const char* keyword = w == kInnerJoinRow ? " INNER JOIN " : w == kLeftJoinRow ? " LEFT JOIN " : " RIGHT JOIN ";
            (w == kInnerJoinRow ? c.hasInnerJoin : w == kLeftJoinRow ? c.hasLeftJoin : c.hasRightJoin) = true;
            if (slot == 0) {
                c.joinText = " ON " + value;
            } else if (slot == 1) {
                c.joinText = keyword + value + c.joinText;
            } else if (slot == 2) {
                c.joinText = value + c.joinText;
                c.joinChain += c.joinText;
            }
            return;
        }
        case kOptionsUnusedRow: return;
        case kAppendRow: c.appendTarget += value; return;
        case kMakeTableRow: c.makeTableTarget = value; return;
        case kDataDefinitionRow: c.ddlText += value; return;
        case kPassThroughRow: c.passThroughValues.push_back(value); return;
        case kTopRow:
            c.hasTop = true;
            c.topValue += value + " ";
            return;
        default: break;
    }
    switch (a) {
        case 2: c.paramList += value; return;
        case 5:
            if (value.empty()) return;
            if (c.isAppend) c.hasSourceTable = true;
            replaceFinalComma(value, ' ');
            if (startsWith(value, " AS") && endsWithComma(c.tableEntry)) c.tableEntry.back() = ' ';
            c.tableEntry = nullMask == kSubqueryMask ? c.tableEntry + value : value + c.tableEntry;
            return;
        case 8:
            c.hasWhere = true;
            c.whereList += value;
            return;
        case 9:
            if (w == kCrosstabGroupRow && c.isCrosstab) return;
            c.hasGroup = true;
            c.groupList += value;
            return;
        case 10:
            c.hasHaving = true;
            c.havingList += value;
            return;
        case 11:
            c.hasOrder = true;
            if (value == " DESC ," && endsWithComma(c.orderList)) c.orderList.back() = ' ';
            c.orderList += value;
            return;
        default: break;
    }
    if (w & 0x1000) {
        c.topValue += value;
        replaceFinalComma(c.topValue, ' ');
    }
}

void setOptionBits(queryClauses& c, uint16_t w) {
    const bool a3 = (w & 0xFF) == 3;
    c.hasTop = (w & 0x1000) && a3;
    c.isPercent = (w & 0x2000) != 0;
    c.isDistinct = (w & 0x0200) && a3;
    c.isDistinctRow = (w & 0x0800) && a3;
    c.hasOwnerAccess = (w & 0x0400) && a3;
    if (w & 0x0100) {
        if (w == kUnionDistinctRow) {
            c.unionWord = " UNION ";
        } else if (c.isUnion) {
            c.unionWord = " UNION ALL ";
        }
    }
}

void applyValues(queryClauses& c, const QueryRow& row) {
    const uint16_t w = row.rowWord;
    bool afterFirst = false;
    for (const QueryRowValue& v : row.values) {
        c.anyValue = true;
        std::string formatted = v.memoHeader ? memoRule(c, w, v.text)
                                : !afterFirst ? firstValueRule(c, w, v.text)
                                              : laterValueRule(c, w, row.nullMask, v.text);
        storeValue(c, w, row.nullMask, v.slot, std::move(formatted));
        afterFirst = true;
    }
    if ((w & 0xFF) == 5 && !c.tableEntry.empty()) {
        c.tableNames.push_back(c.tableEntry);
        c.fromList += c.tableEntry + ",";
    }
    c.tableEntry.clear();
    c.statementKind = c.pendingKind;
}

}  // namespace

queryClauses::queryClauses(uint32_t queryFlags) {
    switch (queryFlags) {
        case 16: isCrosstab = true; break;
        case 48: isUpdate = true; break;
        case 64: isAppend = true; break;
        case 128: isUnion = true; break;
        default: break;
    }
}

void ApplyQueryRow(queryClauses& c, const QueryRow& row) {
    const uint16_t w = row.rowWord;
    const uint8_t a = w & 0xFF;
    const uint8_t f = static_cast<uint8_t>(w >> 8);
    switch (w) {
        case kSelectRow:
            c.head = " SELECT ";
            c.pendingKind = c.statementKind = kSelectStatement;
            return;
        case kMakeTableRow:
            c.head = " SELECT ";
            c.pendingKind = kMakeTableStatement;
            return applyValues(c, row);
        case kAppendRow:
            c.head = "INSERT INTO ";
            c.isAppend = true;
            c.pendingKind = kAppendStatement;
            return applyValues(c, row);
        case kUpdateRow:
            c.head = "UPDATE ";
            c.isUpdate = true;
            c.pendingKind = c.statementKind = kUpdateStatement;
            return;
        case kDeleteRow:
            c.head = "DELETE ";
            c.pendingKind = c.statementKind = kDeleteStatement;
            return;
        case kCrosstabRow:
            c.transformWord = "TRANSFORM ";
            c.isCrosstab = true;
            c.pendingKind = c.statementKind = kCrosstabStatement;
            return;
        case kDataDefinitionRow:
            c.head.clear();
            c.pendingKind = kDataDefinitionStatement;
            return applyValues(c, row);
        case kPassThroughRow:
            c.head.clear();
            c.pendingKind = kPassThroughStatement;
            return applyValues(c, row);
        case kUnionRow:
            c.isUnion = true;
            c.unionWord = "UNION ";
            c.pendingKind = c.statementKind = kUnionStatement;
            return;
        default: break;
    }
    if (a == 2) {
        c.pendingKind = kParameterStatement;
        if (const char* type = parameterType(f)) c.paramType = type;
        return applyValues(c, row);
    }
    if (a == 5 || a == 8 || a == 9 || a == 10 || a == 11 || isColumnRow(w) || isJoinRow(w) || w == kTopRow)
        return applyValues(c, row);
    if (w & kOptionBits) {
        setOptionBits(c, w);
        return applyValues(c, row);
    }
    c.statementKind = c.pendingKind;
}

void FinishQueryClauses(queryClauses& c) {
    if (!c.anyValue) return;
    if (!c.tableNames.empty()) c.firstTable = c.tableNames.front();
    for (std::string* s : {&c.selectList, &c.crosstabValue, &c.pivotList, &c.groupList, &c.havingList, &c.orderList,
                           &c.whereList, &c.topValue, &c.ddlText, &c.fromList, &c.joinChain})
        replaceFinalComma(*s, ' ');
    replaceFinalComma(c.paramList, ';');
    if (endsWithComma(c.appendTarget)) c.appendTarget.pop_back();
}

}  // namespace talmera
