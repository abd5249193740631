// The saved-query pass and the query writer: each query's rows are turned into
// clause texts (SqlClauses.cpp), the clause texts are joined into one statement
// by its kind, and the statement is kept as the query's sqlText; the save
// writes it into the output database.
#include <algorithm>
#include <stdexcept>

#include "engine/ApplicationState.h"
#include "platform/MessageReceiver.h"
#include "queries/SqlClauses.h"

namespace talmera {

namespace {

// Values read for one query beyond this many bytes are damage (Access keeps a
// query's SQL under 64K characters); the rows after it are not read.
constexpr size_t kMaxQueryValueBytes = 4u << 20;

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

std::string CMDBRecovery::RebuildQueryText(const queryInfo& query, std::string* connect) {
    CollectQueryRows(query.catalogId);
    const std::vector<size_t> order = QueryRowOrder();
    queryClauses clauses(query.queryFlags);
    size_t bytes = 0;
    QueryRow row;
    for (size_t position : order) {
        if (!ReadQueryRow(position, row)) continue;
        for (const QueryRowValue& v : row.values) bytes += v.text.size();
        if (bytes > kMaxQueryValueBytes) break;
        ApplyQueryRow(clauses, row);
    }
    queryRowSpans.clear();
    queryEndMarkerCount = 0;
    FinishQueryClauses(clauses);
    if (connect) *connect = clauses.statementKind == kPassThroughStatement ? clauses.typeName1 : std::string();
    return AssembleQueryStatement(clauses);
}

void CMDBRecovery::ReadSavedQueries() {
    queryRebuildNotes.clear();
    SendProgress(kProgressStart, static_cast<intptr_t>(queries.size()));
    for (queryInfo& query : queries) {
        if (Stopped()) return;
        // A query whose statement cannot be built gets no text; the others
        // are still rebuilt.
        try {
            query.sqlText = RebuildQueryText(query, &query.connect);
        } catch (const std::exception& error) {
            query.sqlText.clear();
            query.connect.clear();
            queryRowSpans.clear();
            queryEndMarkerCount = 0;
            queryRebuildNotes.push_back("The SQL text of query " + query.name + " cannot be rebuilt: " + error.what() +
                                        ".");
        }
        SendProgress(kProgressStep);
    }
    SendProgress(kProgressEnd);
    // A silent re-reading writes no log lines.
    if (!app.rescan && mainWindow) {
        for (const std::string& note : queryRebuildNotes) {
            app.logLine = note;
            mainWindow->send(UM_LOG_LINE, 0, 0);
        }
    }
}

bool CMDBRecovery::SaveQuery(size_t position) {
    if (position >= queries.size()) return false;
    OutputSet& set = Output();
    if (!set.database) return false;
    const queryInfo& query = queries[position];
    try {
        // Created without a name, named, then appended: an engine that stores
        // a query definition as soon as it has a name stores it only once.
        set.queryDef = set.database->CreateQueryDef(std::string(), std::string());
        set.queryDef->SetName(query.name);
        set.queryDef->SetSQL(query.sqlText);
        if (!query.connect.empty()) set.queryDef->SetConnect(query.connect);
        set.database->AppendQueryDef(set.queryDef);
    } catch (const dao::ComError& error) {
        NoteOutputError(error);
        return false;
    }
    return true;
}

}  // namespace talmera
