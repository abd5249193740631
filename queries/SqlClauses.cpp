// Row dispatch, the three formatting rule sets (memo values, first plain
// values, later values) and the storing table: each value of a query row
// becomes a text fragment appended to one clause text. The rows whose values
// the statement needs as they are (type, parameter, table, join and the
// output columns of append and update queries) are kept as values instead.
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
constexpr uint16_t kTopRow = 4099;          // options row with only the TOP bit
constexpr uint16_t kOptionsUnusedRow = 515;
constexpr uint16_t kCrosstabGroupRow = 265;
constexpr uint16_t kOptionBits = 0x0100 | 0x0200 | 0x0400 | 0x0800 | 0x1000 | 0x2000;

// Attributes of the rows kept as values.
constexpr uint8_t kTypeAttribute = 1;
constexpr uint8_t kParameterAttribute = 2;
constexpr uint8_t kOptionsAttribute = 3;
constexpr uint8_t kRemoteDatabaseAttribute = 4;
constexpr uint8_t kTableAttribute = 5;
constexpr uint8_t kColumnAttribute = 6;
constexpr uint8_t kJoinAttribute = 7;
constexpr uint8_t kOrderAttribute = 11;

// Option bits of the options row (its Flag).
constexpr uint8_t kAllColumnsOption = 0x01;
constexpr uint8_t kUnionDistinctOption = 0x02;

// Value slots: the columns of a row, last stored first.
constexpr uint32_t kExpressionSlot = 0;
constexpr uint32_t kName2Slot = 1;
constexpr uint32_t kName1Slot = 2;

bool has(const std::string& v, const char* what) { return v.find(what) != std::string::npos; }
bool startsWith(const std::string& v, const char* what) { return v.rfind(what, 0) == 0; }
bool endsWithComma(const std::string& v) { return !v.empty() && v.back() == ','; }
bool unbracketed(const std::string& v) { return (v.empty() || v.front() != '[') && (v.empty() || v.back() != ']'); }
std::string bracket(const std::string& v) { return "[" + v + "]"; }
bool hasSpecialCharacter(const std::string& v) { return v.find_first_of("%*#@!$^") != std::string::npos; }

// A value made of words only: no operator, quote, parenthesis or keyword.
bool looksLikeName(const std::string& v) {
    if (v.find_first_of("+-*/\\^&=<>(),'\"#!.[]") != std::string::npos) return false;
    std::string word;
    for (size_t i = 0; i <= v.size(); ++i) {
        if (i < v.size() && v[i] != ' ') {
            word += static_cast<char>(std::tolower(static_cast<unsigned char>(v[i])));
            continue;
        }
        for (const char* k : {"and", "or", "not", "xor", "mod", "like", "is", "between", "in", "null"})
            if (word == k) return false;
        word.clear();
    }
    return true;
}

bool isColumnRow(uint16_t w) { return w == kColumnRow || w == kColumnHeadingRow || w == kRowHeadingRow; }
bool isTopRow(uint16_t w) { return (w & 0x1000) && (w & 0xFF) == 3; }

// The first value of a row when it was read through a memo header.
std::string memoRule(uint16_t w, std::string v) {
    const uint8_t a = w & 0xFF;
    const bool tableRow = a == kTableAttribute;
    if ((isColumnRow(w) || tableRow) && has(v, " ") && !has(v, ".") && !has(v, "&")) {
        if (tableRow) return unbracketed(v) ? bracket(v) : v + ",";
        if (has(v, "(")) return v + ",";
        // Only a name with a space is bracketed: an expression (a * b) keeps
        // its meaning.
        if (unbracketed(v) && !has(v, "!")) return has(v, "Mod") || !looksLikeName(v) ? v : bracket(v);
        return v;
    }
    return v + ",";
}

// The first non-empty value of a row read plainly.
std::string firstValueRule(uint16_t w, std::string v) {
    const uint8_t a = w & 0xFF;
    const bool columnRow = isColumnRow(w);
    const bool tableRow = a == kTableAttribute;
    if (has(v, " ") && !has(v, ".")) {
        if (columnRow) {
            if (!has(v, "(") && unbracketed(v)) v = bracket(v);
        } else if (tableRow) {
            v = bracket(v);
        }
    } else if (has(v, "-")) {
        v = bracket(v);
    } else if (isTopRow(w)) {
        v += " ";
    } else {
        v = bracket(v) + ",";
    }
    if ((columnRow || tableRow) && has(v, " ") && !has(v, ".") && !has(v, "(") && unbracketed(v)) v = bracket(v);
    return v;
}

// Every following non-empty value of a row.
std::string laterValueRule(const queryClauses& c, uint16_t w, const std::string& v) {
    const uint8_t a = w & 0xFF;
    std::string value;
    std::string lower = v;
    for (char& ch : lower) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    // A descending ordering is one in a union query too.
    if (lower == "d" && a == kOrderAttribute) {
        value = " DESC ,";
    } else if (c.isUnion) {
        value.clear();
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
        // A crosstab's column heading has no alias in the statement; its
        // value and row headings have theirs, as select columns do.
        value = w == kColumnHeadingRow ? std::string() : " AS " + x + ",";
    } else {
        value = v;
    }
    return value;
}

void replaceFinalComma(std::string& s, char with) {
    if (endsWithComma(s)) s.back() = with;
}

// Appends a column's fragment to a list: an alias replaces the comma after
// its expression; any other fragment follows a comma.
void appendColumn(std::string& list, const std::string& value) {
    if (startsWith(value, " AS")) {
        if (endsWithComma(list)) list.back() = ' ';
    } else if (!list.empty() && !endsWithComma(list) && !value.empty()) {
        list += ",";
    }
    list += value;
}

// Appends a formatted value to the clause text its row feeds.
void storeValue(queryClauses& c, uint16_t w, std::string value) {
    const uint8_t a = w & 0xFF;
    switch (w) {
        case kColumnRow:
            appendColumn(c.isCrosstab ? c.crosstabValue : c.selectList, value);
            return;
        case kColumnHeadingRow:
            c.hasPivot = true;
            c.pivotList += value;
            return;
        case kRowHeadingRow:
            appendColumn(c.selectList, value);
            return;
        case kOptionsUnusedRow: return;
        case kTopRow:
            c.hasTop = true;
            c.topValue += value + " ";
            return;
        default: break;
    }
    switch (a) {
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

// The options row: TOP, PERCENT, DISTINCT, DISTINCTROW, owner access, every
// column; in a union query whether duplicates are removed. Only the options
// row (Attribute 3) sets them.
void setOptionBits(queryClauses& c, uint16_t w) {
    if ((w & 0xFF) != kOptionsAttribute) return;
    const uint8_t flag = static_cast<uint8_t>(w >> 8);
    c.hasTop = (w & 0x1000) != 0;
    c.isPercent = (w & 0x2000) != 0;
    c.isDistinct = (w & 0x0200) != 0;
    c.isDistinctRow = (w & 0x0800) != 0;
    c.hasOwnerAccess = (w & 0x0400) != 0;
    if (c.isUnion) {
        c.unionWord = (flag & kUnionDistinctOption) ? " UNION " : " UNION ALL ";
    } else {
        c.allColumns = (flag & kAllColumnsOption) != 0;
    }
}

// The values of a row by slot (absent values are empty).
struct SlotValues {
    std::string expression, name1, name2;
};
SlotValues slotValues(const QueryRow& row) {
    SlotValues s;
    for (const QueryRowValue& v : row.values) {
        if (v.slot == kExpressionSlot) s.expression = v.text;
        if (v.slot == kName2Slot) s.name2 = v.text;
        if (v.slot == kName1Slot) s.name1 = v.text;
    }
    return s;
}

// Text of a row's value as the statement takes it: up to its first NUL
// (data-definition texts end with one).
std::string untilNul(const std::string& s) { return s.substr(0, s.find('\0')); }

bool startsWithSelect(const std::string& s) {
    const size_t at = s.find_first_not_of(" \t\r\n(");
    if (at == std::string::npos || s.size() - at < 6) return false;
    std::string word = s.substr(at, 6);
    for (char& ch : word) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    return word == "SELECT";
}

// A table row: a table or saved query (Name1) with its alias (Name2), a
// subquery (Expression) with its alias, a table of another database
// (Expression its path, Name1 the table), or a part of a union query.
void applyTableRow(queryClauses& c, const QueryRow& row) {
    const SlotValues s = slotValues(row);
    if (c.isUnion) {
        if (!s.expression.empty()) c.unionParts.push_back({s.name2, untilNul(s.expression)});
        return;
    }
    querySource source;
    source.key = s.name2.empty() ? s.name1 : s.name2;
    const std::string alias = s.name2.empty() ? std::string() : " AS " + BracketName(s.name2) + " ";
    if (!s.expression.empty() && s.name1.empty() && startsWithSelect(s.expression)) {
        // A subquery is written in parentheses.
        source.entry = "(" + untilNul(s.expression) + ")" + alias;
    } else if (!s.expression.empty()) {
        source.entry = BracketName(s.expression) + "." + BracketName(s.name1) + alias;
    } else {
        // A table or query: formatted by the value rules, as the select
        // list's names are; a table name before AS is bracketed when it needs
        // it.
        std::string entry;
        for (const QueryRowValue& v : row.values) {
            if (v.slot == kExpressionSlot) continue;
            std::string value;
            if (entry.empty() && v.slot == kName2Slot) {
                value = firstValueRule(row.rowWord, v.text);
            } else if (v.slot == kName1Slot && !s.name2.empty()) {
                value = (IsPlainSqlName(v.text) ? v.text : BracketName(v.text)) + " AS,";
            } else {
                value = firstValueRule(row.rowWord, v.text);
            }
            replaceFinalComma(value, ' ');
            entry = value + entry;
        }
        source.entry = entry;
    }
    if (!source.entry.empty()) c.sources.push_back(source);
}

void applyJoinRow(queryClauses& c, const QueryRow& row) {
    const SlotValues s = slotValues(row);
    const uint8_t flag = static_cast<uint8_t>(row.rowWord >> 8);
    queryJoin join;
    join.kind = flag == kLeftJoin ? kLeftJoin : flag == kRightJoin ? kRightJoin : kInnerJoin;
    join.left = s.name1;
    join.right = s.name2;
    join.condition = s.expression;
    c.joins.push_back(std::move(join));
}

void applyValues(queryClauses& c, const QueryRow& row) {
    const uint16_t w = row.rowWord;
    bool afterFirst = false;
    for (const QueryRowValue& v : row.values) {
        std::string formatted = v.memoHeader ? memoRule(w, v.text)
                                : !afterFirst ? firstValueRule(w, v.text)
                                              : laterValueRule(c, w, v.text);
        storeValue(c, w, std::move(formatted));
        afterFirst = true;
    }
}

int kindOfTypeRow(uint8_t flag) {
    switch (flag) {
        case 2: return kMakeTableStatement;
        case 3: return kAppendStatement;
        case 4: return kUpdateStatement;
        case 5: return kDeleteStatement;
        case 6: return kCrosstabStatement;
        case 7: return kDataDefinitionStatement;
        case 8: return kPassThroughStatement;
        case 9: return kUnionStatement;
        default: return kSelectStatement;
    }
}

}  // namespace

queryClauses::queryClauses(uint32_t queryFlags) {
    switch (queryFlags & 0xF0) {
        case 16: isCrosstab = true, statementKind = kCrosstabStatement; break;
        case 32: statementKind = kDeleteStatement; break;
        case 48: isUpdate = true, statementKind = kUpdateStatement; break;
        case 64: isAppend = true, statementKind = kAppendStatement; break;
        case 80: statementKind = kMakeTableStatement; break;
        case 96: statementKind = kDataDefinitionStatement; break;
        case 112: statementKind = kPassThroughStatement; break;
        case 128: isUnion = true, statementKind = kUnionStatement, unionWord = " UNION "; break;
        default: break;
    }
}

void ApplyQueryRow(queryClauses& c, const QueryRow& row) {
    const uint16_t w = row.rowWord;
    const uint8_t a = w & 0xFF;
    const uint8_t f = static_cast<uint8_t>(w >> 8);
    if (!row.values.empty()) c.anyValue = true;
    if (a == kTypeAttribute && f >= 1 && f <= 9) {
        c.statementKind = kindOfTypeRow(f);
        const SlotValues s = slotValues(row);
        c.typeName1 = s.name1;
        c.typeName2 = s.name2;
        c.typeExpression = untilNul(s.expression);
        switch (w) {
            case kSelectRow:
            case kMakeTableRow: c.head = " SELECT "; break;
            case kAppendRow: c.head = "INSERT INTO ", c.isAppend = true; break;
            case kUpdateRow: c.head = "UPDATE ", c.isUpdate = true; break;
            case kDeleteRow: c.head = "DELETE "; break;
            case kCrosstabRow: c.isCrosstab = true; break;
            case kDataDefinitionRow:
            case kPassThroughRow: c.head.clear(); break;
            case kUnionRow:
                c.isUnion = true;
                if (c.unionWord.empty()) c.unionWord = " UNION ";
                break;
            default: break;
        }
        return;
    }
    switch (a) {
        case kParameterAttribute: {
            const SlotValues s = slotValues(row);
            if (s.name1.empty()) return;
            std::string type = ParameterTypeWord(f);
            if (type.empty()) type = ParameterTypeWord(0);
            c.parameters.push_back({ParameterName(s.name1), type});
            return;
        }
        case kRemoteDatabaseAttribute: {
            const SlotValues s = slotValues(row);
            c.remotePath = s.name1;
            c.remoteType = s.expression;
            return;
        }
        case kTableAttribute: return applyTableRow(c, row);
        case kJoinAttribute: return applyJoinRow(c, row);
        case kColumnAttribute:
            if (c.isAppend || c.isUpdate) {
                const SlotValues s = slotValues(row);
                if (!s.expression.empty() || !s.name2.empty()) c.outputs.push_back({s.expression, s.name1, s.name2});
                return;
            }
            break;
        default: break;
    }
    if (a == 8 || a == 9 || a == 10 || a == 11 || isColumnRow(w) || w == kTopRow) return applyValues(c, row);
    if (w & kOptionBits) {
        setOptionBits(c, w);
        return applyValues(c, row);
    }
}

void FinishQueryClauses(queryClauses& c) {
    if (!c.anyValue) return;
    // Every column besides the listed ones ("SELECT T.a, *").
    if (c.allColumns && !c.selectList.empty() &&
        (c.statementKind == kSelectStatement || c.statementKind == kMakeTableStatement))
        appendColumn(c.selectList, "*,");
    for (std::string* s : {&c.selectList, &c.crosstabValue, &c.pivotList, &c.groupList, &c.havingList, &c.orderList,
                           &c.whereList, &c.topValue})
        replaceFinalComma(*s, ' ');
}

}  // namespace talmera
