// The statement of a saved query: the clause texts (SqlClauses.cpp) joined
// into one statement by its kind. The saved-query pass (SavedQueries.cpp)
// keeps it as the query's sqlText; the save writes it into the output.
#include <stdexcept>

#include "queries/SqlClauses.h"

namespace talmera {

namespace {

std::string withoutFinalComma(std::string s) {
    if (!s.empty() && s.back() == ',') s.pop_back();
    return s;
}

std::string finalCommaToSpace(std::string s) {
    if (!s.empty() && s.back() == ',') s.back() = ' ';
    return s;
}

// Column lists of an append query: value expressions and target columns,
// pair by pair (entry 2i the value, 2i + 1 the column).
void appendPairs(const std::vector<std::string>& values, std::string& columns, std::string& expressions) {
    for (size_t i = 0; i + 1 < values.size(); i += 2) {
        columns += withoutFinalComma(values[i + 1]) + ",";
        expressions += withoutFinalComma(values[i]) + ",";
    }
    columns = withoutFinalComma(columns);
    expressions = withoutFinalComma(expressions);
}

// The SET list of an update query: target = value, pair by pair (entry 2i the
// new value, 2i + 1 the target). A target with a "." becomes [table].[field].
std::string setPairs(const std::vector<std::string>& values) {
    std::string set;
    for (size_t i = 0; i + 1 < values.size(); i += 2) {
        // A value that still ends with "," after this keeps it: nothing
        // better is known for it.
        const std::string value = withoutFinalComma(values[i]);
        std::string target = values[i + 1];
        if (const size_t dot = target.find('.'); dot != std::string::npos) {
            if (target.front() != '[') target = "[" + target.substr(0, dot) + "]." + target.substr(dot + 1);
            if (target.back() != ']') {
                const size_t again = target.find('.');
                target = target.substr(0, again) + ".[" + target.substr(again + 1) + "]";
            }
        }
        set += target + "=" + value + ",";
    }
    return finalCommaToSpace(set);
}

}  // namespace

std::string AssembleQueryStatement(const queryClauses& c) {
    if (!c.anyValue) return {};
    const int kind = c.statementKind;
    const bool kindIs0or1 = kind == kSelectStatement || kind == kMakeTableStatement;
    std::string selectList = c.selectList;
    if (selectList.empty() && (kindIs0or1 || kind == kDeleteStatement || kind == kCrosstabStatement ||
                               kind == kParameterStatement))
        selectList = "*";
    std::string fromWord = c.fromWord;
    if (c.fromList.empty() && (kindIs0or1 || kind == kCrosstabStatement || kind == kParameterStatement)) fromWord.clear();
    const bool anyJoin = c.hasInnerJoin || c.hasLeftJoin || c.hasRightJoin;
    const bool joins = kindIs0or1 ? anyJoin && !c.joinChain.empty() : anyJoin;

    const std::string whereWord = c.hasWhere ? " WHERE " : "";
    const std::string groupWord = c.hasGroup ? " Group BY " : "";
    const std::string havingWord = c.hasHaving ? " HAVING " : "";
    const std::string orderWord = c.hasOrder ? " ORDER BY " : "";
    std::string topWord;
    if (c.hasTop)
        topWord = c.isPercent && (kindIs0or1 || kind == kAppendStatement) ? " TOP PERCENT " : " TOP ";
    const std::string distinctWord = c.isDistinct ? " DISTINCT " : c.isDistinctRow ? " DISTINCTROW " : "";
    const std::string ownerWord = c.hasOwnerAccess ? " WITH OWNERACCESS OPTION " : "";
    const std::string pivotWord = c.hasPivot ? " PIVOT " : "";
    const std::string tail = whereWord + c.whereList + groupWord + c.groupList + havingWord + c.havingList + orderWord +
                             c.orderList;
    const std::string joinsAfterTables = joins ? "," + c.joinChain : "";

    switch (kind) {
        case kSelectStatement:
            return "SELECT " + distinctWord + topWord + c.topValue + selectList + fromWord + c.fromList +
                   joinsAfterTables + tail + ownerWord + ";";
        case kMakeTableStatement:
            return c.head + selectList + " INTO " + finalCommaToSpace(c.makeTableTarget) + fromWord +
                   (joins ? c.joinChain : c.fromList) + tail + ownerWord + ";";
        case kAppendStatement: {
            std::string columns, expressions;
            appendPairs(c.outputValues, columns, expressions);
            if (c.hasSourceTable)
                return c.head + c.appendTarget + "(" + columns + ")" + " SELECT " + distinctWord + topWord + c.topValue +
                       expressions + fromWord + (joins ? c.joinChain : c.firstTable) + tail + ownerWord + ";";
            return c.head + c.appendTarget + "(" + columns + ")" + " VALUES" + "(" + expressions + ")" + ";";
        }
        case kUpdateStatement:
            return c.head + (joins ? c.joinChain : c.firstTable) + " SET " + setPairs(c.outputValues) + whereWord +
                   c.whereList;
        case kDeleteStatement:
            return c.head + selectList + fromWord + c.firstTable + whereWord + c.whereList;
        case kCrosstabStatement:
            return " TRANSFORM " + c.crosstabValue + c.head + topWord + c.topValue + selectList + fromWord + c.fromList +
                   joinsAfterTables + tail + pivotWord + finalCommaToSpace(c.pivotList) + ";";
        case kUnionStatement: {
            if (c.tableNames.size() < 2)
                throw std::runtime_error("a union query with " + std::to_string(c.tableNames.size()) +
                                         " table entries (two are needed)");
            auto unwrap = [](std::string s) {
                if (!s.empty() && s.front() == '[' && s.back() == ']') {
                    const size_t from = s.find_first_not_of('[');
                    if (from == std::string::npos) return std::string();
                    s.erase(0, from);
                    s.erase(s.find_last_not_of(']') + 1);
                }
                return s;
            };
            return unwrap(c.tableNames[0]) + (c.unionWord.empty() ? "UNION " : c.unionWord) + unwrap(c.tableNames[1]) +
                   c.whereList + groupWord + c.groupList + havingWord + c.havingList + orderWord + c.orderList +
                   ownerWord + ";";
        }
        case kDataDefinitionStatement:
            return c.ddlText;
        case kPassThroughStatement: {
            const size_t pairs = c.passThroughValues.size() / 2;
            return pairs ? c.passThroughValues[2 * (pairs - 1)] : std::string();
        }
        case kParameterStatement:
            if (c.head == "UPDATE ")
                return " PARAMETERS " + c.paramList + c.head + (joins ? c.joinChain : c.fromList) + " SET " +
                       setPairs(c.outputValues) + whereWord + c.whereList;
            return " PARAMETERS " + c.paramList + c.head + (c.hasTop ? " TOP " : "") + c.topValue + selectList +
                   fromWord + c.fromList + joinsAfterTables + tail + ownerWord + ";";
        default:
            return {};
    }
}

}  // namespace talmera
