// The statement of a saved query: the clause texts (SqlClauses.cpp) joined
// into one statement by its kind. The saved-query pass (SavedQueries.cpp)
// keeps it as the query's sqlText; the save writes it into the output.
#include <algorithm>
#include <stdexcept>

#include "queries/SqlClauses.h"

namespace talmera {

namespace {


std::string finalCommaToSpace(std::string s) {
    if (!s.empty() && s.back() == ',') s.back() = ' ';
    return s;
}

std::string joined(const std::vector<std::string>& items, const char* separator) {
    std::string out;
    for (size_t i = 0; i < items.size(); ++i) out += (i ? separator : "") + items[i];
    return out;
}

// " IN 'path' [type]": the other database a target or the sources are in.
std::string inDatabase(const std::string& path, const std::string& type) {
    if (path.empty() && type.empty()) return {};
    std::string quoted;
    for (char c : path) quoted += c == '\'' ? std::string("''") : std::string(1, c);
    return " IN '" + quoted + "'" + (type.empty() ? "" : " " + BracketName(type));
}

// A target column of an update: [table].[field] for a qualified one, a name
// in brackets when it needs them.
std::string setTarget(std::string target) {
    if (const size_t dot = target.find('.'); dot != std::string::npos) {
        if (target.front() != '[') target = "[" + target.substr(0, dot) + "]." + target.substr(dot + 1);
        if (target.back() != ']') {
            const size_t again = target.find('.');
            target = target.substr(0, again) + ".[" + target.substr(again + 1) + "]";
        }
        return target;
    }
    return IsPlainSqlName(target) || (target.size() >= 2 && target.front() == '[' && target.back() == ']')
               ? target
               : BracketName(target);
}

// Union parts in the order of their names (X7YZ_____1, X7YZ_____2, ...);
// parts without such a name keep their place after them.
std::vector<std::string> unionPartsInOrder(const std::vector<queryUnionPart>& parts) {
    static const std::string kPrefix = "X7YZ_____";
    std::vector<std::pair<long, std::string>> numbered;
    std::vector<std::string> others;
    for (const queryUnionPart& p : parts) {
        long number = -1;
        if (p.id.rfind(kPrefix, 0) == 0 && p.id.size() > kPrefix.size() && p.id.size() - kPrefix.size() < 9 &&
            p.id.find_first_not_of("0123456789", kPrefix.size()) == std::string::npos)
            number = std::stol(p.id.substr(kPrefix.size()));
        if (number >= 0) {
            numbered.emplace_back(number, p.text);
        } else {
            others.push_back(p.text);
        }
    }
    std::stable_sort(numbered.begin(), numbered.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<std::string> out;
    for (auto& n : numbered) out.push_back(std::move(n.second));
    for (auto& o : others) out.push_back(std::move(o));
    return out;
}

std::string withoutLeadingSpaces(std::string s) {
    s.erase(0, s.find_first_not_of(' '));
    return s;
}

// The statement of the query's kind, without its PARAMETERS declaration.
std::string assembleKind(const queryClauses& c) {
    const int kind = c.statementKind;
    std::string selectList = c.selectList;
    if (selectList.empty() && kind != kUpdateStatement) selectList = "*";

    const std::vector<std::string> from = BuildFromItems(c.sources, c.joins);
    const std::string remote = inDatabase(c.remotePath, c.remoteType);
    // The sources as the select kinds write them (each followed by a space)
    // and as the action kinds do.
    const std::string selectFrom = from.empty() ? std::string() : c.fromWord + joined(from, ",") + remote + " ";
    const std::string actionFrom = from.empty() ? std::string() : joined(from, ",") + remote;

    const std::string whereWord = c.hasWhere ? " WHERE " : "";
    const std::string groupWord = c.hasGroup ? " Group BY " : "";
    const std::string havingWord = c.hasHaving ? " HAVING " : "";
    const std::string orderWord = c.hasOrder ? " ORDER BY " : "";
    const std::string topWord = c.hasTop ? " TOP " + c.topValue + (c.isPercent ? "PERCENT " : "") : "";
    const std::string distinctWord = c.isDistinct ? " DISTINCT " : c.isDistinctRow ? " DISTINCTROW " : "";
    const std::string ownerWord = c.hasOwnerAccess ? " WITH OWNERACCESS OPTION " : "";
    const std::string pivotWord = c.hasPivot ? " PIVOT " : "";
    const std::string tail = whereWord + c.whereList + groupWord + c.groupList + havingWord + c.havingList + orderWord +
                             c.orderList;
    const std::string target = BracketName(c.typeName1);

    switch (kind) {
        case kSelectStatement:
            return "SELECT " + distinctWord + topWord + selectList + selectFrom + tail + ownerWord + ";";
        case kMakeTableStatement:
            return c.head + distinctWord + topWord + selectList + " INTO " + target +
                   inDatabase(c.typeName2, c.typeExpression) + " " + selectFrom + tail + ownerWord + ";";
        case kAppendStatement: {
            // The target columns when every output column names one.
            std::vector<std::string> columns, values;
            bool everyTarget = !c.outputs.empty();
            for (const queryOutput& o : c.outputs) {
                everyTarget = everyTarget && !o.target.empty();
                columns.push_back(BracketName(o.target));
                values.push_back(o.expression + (o.alias.empty() ? "" : " AS " + BracketName(o.alias)));
            }
            const std::string into = c.head + target + inDatabase(c.typeName2, c.typeExpression) +
                                     (everyTarget ? "(" + joined(columns, ",") + ")" : std::string(" "));
            if (from.empty())
                return into + " VALUES" + "(" + joined(values, ",") + ")" + ";";
            if (values.empty()) values.push_back("*");
            return into + " SELECT " + distinctWord + topWord + joined(values, ",") + " FROM " + actionFrom + tail +
                   ownerWord + ";";
        }
        case kUpdateStatement: {
            std::string set;
            for (const queryOutput& o : c.outputs) {
                if (o.target.empty()) continue;
                set += (set.empty() ? "" : ",") + setTarget(o.target) + "=" + o.expression;
            }
            return c.head + distinctWord + actionFrom + " SET " + set + " " + whereWord + c.whereList + ownerWord;
        }
        case kDeleteStatement:
            return c.head + distinctWord + selectList + (from.empty() ? "" : c.fromWord + actionFrom) +
                   whereWord + c.whereList + ownerWord;
        case kCrosstabStatement: {
            std::string value = c.crosstabValue;
            if (!value.empty() && value.back() != ' ') value += " ";
            return " TRANSFORM " + value + "SELECT " + distinctWord + topWord + selectList + selectFrom + tail +
                   pivotWord + finalCommaToSpace(c.pivotList) + ownerWord + ";";
        }
        case kUnionStatement: {
            const std::vector<std::string> parts = unionPartsInOrder(c.unionParts);
            if (parts.size() < 2)
                throw std::runtime_error("a union query with " + std::to_string(parts.size()) +
                                         " parts (two are needed)");
            return joined(parts, c.unionWord.empty() ? " UNION " : c.unionWord.c_str()) + orderWord + c.orderList +
                   ownerWord + ";";
        }
        case kDataDefinitionStatement:
        case kPassThroughStatement:
            return c.typeExpression;
        default:
            return {};
    }
}

}  // namespace

std::string AssembleQueryStatement(const queryClauses& c) {
    if (!c.anyValue) return {};
    std::string statement = assembleKind(c);
    const bool declares = c.statementKind != kDataDefinitionStatement && c.statementKind != kPassThroughStatement;
    if (c.parameters.empty() || !declares) return statement;
    std::string declarations;
    for (const queryParameter& p : c.parameters) declarations += (declarations.empty() ? "" : ",") + p.name + " " + p.type;
    return " PARAMETERS " + declarations + "; " + withoutLeadingSpaces(statement);
}

}  // namespace talmera
