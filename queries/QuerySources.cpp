// The FROM clause of a rebuilt query: sources and joins nested as Access
// nests them; and the way names are bracketed in it and in PARAMETERS.
#include "queries/QuerySources.h"

#include <algorithm>
#include <cctype>
#include <deque>

namespace talmera {

namespace {

std::string lower(const std::string& s) {
    std::string out = s;
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

bool bracketed(const std::string& s) { return s.size() >= 2 && s.front() == '[' && s.back() == ']'; }

std::string withoutTrailingSpaces(std::string s) {
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
}

// A node of the join forest: a source, or a join of two nodes.
struct JoinNode {
    std::string entry;  // a source: its entry
    int kind = 0;       // a join: its kind (0 for a source)
    int left = -1, right = -1;
    std::deque<std::string> conditions;  // the first row's condition last
    int parent = -1;                     // the join that took this node in
};

const char* joinWord(int kind) {
    switch (kind) {
        case kLeftJoin: return " LEFT JOIN ";
        case kRightJoin: return " RIGHT JOIN ";
        default: return " INNER JOIN ";
    }
}

// Writes a join tree; nested joins are parenthesised. Depth is bounded by
// kMaxQueryJoins, so the recursion is too.
void writeNode(const std::vector<JoinNode>& nodes, int n, bool topLevel, std::string& out) {
    const JoinNode& node = nodes[static_cast<size_t>(n)];
    if (node.kind == 0) {
        out += withoutTrailingSpaces(node.entry);
        return;
    }
    if (!topLevel) out += "(";
    writeNode(nodes, node.left, false, out);
    out += joinWord(node.kind);
    writeNode(nodes, node.right, false, out);
    out += " ON ";
    if (node.conditions.size() == 1) {
        out += node.conditions.front();
    } else {
        for (size_t i = 0; i < node.conditions.size(); ++i) out += (i ? ") AND (" : "(") + node.conditions[i];
        out += ")";
    }
    if (!topLevel) out += ")";
}

}  // namespace

std::vector<std::string> BuildFromItems(const std::vector<querySource>& sources, const std::vector<queryJoin>& joins) {
    std::vector<JoinNode> nodes;
    // The items in order: node numbers; a node taken into a join leaves the list.
    std::vector<int> items;
    std::vector<std::string> keys;  // of the source nodes, folded
    for (const querySource& s : sources) {
        JoinNode n;
        n.entry = s.entry;
        nodes.push_back(n);
        keys.push_back(lower(s.key));
        items.push_back(static_cast<int>(nodes.size()) - 1);
    }
    auto root = [&](int n) {
        while (nodes[static_cast<size_t>(n)].parent >= 0) n = nodes[static_cast<size_t>(n)].parent;
        return n;
    };
    // The source a join row names: the first source of that key, or a new
    // source for a name no table row gave.
    auto sourceNamed = [&](const std::string& name) {
        const std::string key = lower(name);
        for (size_t i = 0; i < keys.size(); ++i)
            if (!keys[i].empty() && keys[i] == key) return static_cast<int>(i);
        JoinNode n;
        n.entry = BracketName(name);
        nodes.push_back(n);
        keys.resize(nodes.size());
        keys.back() = key;
        items.push_back(static_cast<int>(nodes.size()) - 1);
        return static_cast<int>(nodes.size()) - 1;
    };
    const size_t joinCount = std::min(joins.size(), kMaxQueryJoins);
    for (size_t j = 0; j < joinCount; ++j) {
        const queryJoin& join = joins[j];
        if (join.left.empty() || join.right.empty()) continue;
        const int from = root(sourceNamed(join.left));
        const int to = root(sourceNamed(join.right));
        if (from == to) {
            // Another condition between sources already joined: the same join.
            if (nodes[static_cast<size_t>(from)].kind != 0) nodes[static_cast<size_t>(from)].conditions.push_front(join.condition);
            continue;
        }
        JoinNode n;
        n.kind = join.kind == kLeftJoin || join.kind == kRightJoin ? join.kind : kInnerJoin;
        n.left = from;
        n.right = to;
        n.conditions.push_back(join.condition);
        nodes.push_back(n);
        const int made = static_cast<int>(nodes.size()) - 1;
        nodes[static_cast<size_t>(from)].parent = made;
        nodes[static_cast<size_t>(to)].parent = made;
        keys.resize(nodes.size());
        items.erase(std::remove_if(items.begin(), items.end(), [&](int i) { return i == from || i == to; }),
                    items.end());
        items.push_back(made);
    }
    std::vector<std::string> out;
    for (int i : items) {
        std::string text;
        writeNode(nodes, i, true, text);
        // A source in no join keeps its entry as written, spaces included.
        out.push_back(nodes[static_cast<size_t>(i)].kind == 0 ? nodes[static_cast<size_t>(i)].entry : text);
    }
    return out;
}

bool IsPlainSqlName(const std::string& name) {
    if (name.empty() || std::isdigit(static_cast<unsigned char>(name[0]))) return false;
    for (char c : name)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_') return false;
    static const char* const kKeywords[] = {
        "add",    "all",      "alter",  "and",       "any",         "as",      "asc",    "between", "by",
        "column", "constraint", "create", "database", "date",       "delete",  "desc",   "distinct", "distinctrow",
        "drop",   "exists",   "false",  "foreign",   "from",        "group",   "having", "in",      "index",
        "inner",  "insert",   "into",   "is",        "join",        "key",     "left",   "like",    "mod",
        "no",     "not",      "null",   "on",        "or",          "order",   "outer",  "owneraccess", "parameters",
        "percent", "pivot",   "primary", "procedure", "references", "right",   "select", "set",     "table",
        "time",   "top",      "transform", "true",   "union",       "unique",  "update", "value",   "values",
        "where",  "with",     "xor",    "yes",       "level",       "user",    "name",   "text",    "timestamp"};
    const std::string folded = lower(name);
    for (const char* k : kKeywords)
        if (folded == k) return false;
    return true;
}

std::string BracketName(const std::string& name) { return bracketed(name) ? name : "[" + name + "]"; }

std::string ParameterName(const std::string& name) {
    if (bracketed(name)) return name;
    const std::string folded = lower(name);
    const bool control = folded.rfind("forms!", 0) == 0 || folded.rfind("reports!", 0) == 0;
    if (!control) return "[" + name + "]";
    std::string out;
    size_t start = 0;
    while (true) {
        const size_t bang = name.find('!', start);
        out += BracketName(name.substr(start, bang == std::string::npos ? std::string::npos : bang - start));
        if (bang == std::string::npos) break;
        out += "!";
        start = bang + 1;
    }
    return out;
}

std::string ParameterTypeWord(int flag) {
    switch (flag) {
        case 0: return "Value";
        case 1: return "Bit";
        case 2: return "Byte";
        case 3: return "Short";
        case 4: return "Long";
        case 5: return "Currency";
        case 6: return "IEEESingle";
        case 7: return "IEEEDouble";
        case 8: return "DateTime";
        case 9: return "Binary";
        case 10: return "Text ( 255 )";
        case 11: return "LongBinary";
        case 12: return "LongText";
        case 15: return "Guid";
        case 16: return "Decimal";
        default: return {};
    }
}

}  // namespace talmera
