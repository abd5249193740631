#include "output/dao/Expressions.h"

#include <cctype>
#include <charconv>
#include <cstdio>
#include <ctime>
#include <memory>
#include <random>
#include <set>

namespace talmera::dao::sqlite {

namespace {

std::string upper(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

bool sameName(std::string_view a, std::string_view b) { return upper(a) == upper(b); }

std::string quoteText(std::string_view s) {
    // SQL text ends at a NUL, so a NUL of the value is joined in as char(0).
    std::string out = "'";
    bool joined = false;
    for (char c : s) {
        if (c == '\0') {
            out += "' || char(0) || '";
            joined = true;
            continue;
        }
        if (c == '\'') out += '\'';
        out += c;
    }
    out += "'";
    return joined ? "(" + out + ")" : out;
}

// --- tokens -----------------------------------------------------------------

struct Token {
    enum Kind { End, Number, String, DateLit, Name, Word, Op };
    Kind kind = End;
    std::string text;  // Word: upper case; Name: without brackets
};

const char* const kWords[] = {"AND", "OR", "NOT", "BETWEEN", "IN", "IS", "NULL", "LIKE", "TRUE", "FALSE", "YES", "NO", "MOD"};

std::optional<std::vector<Token>> tokenise(std::string_view s) {
    std::vector<Token> out;
    size_t i = 0;
    while (true) {
        while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i]))) ++i;
        if (i >= s.size()) break;
        const char c = s[i];
        Token t;
        if (std::isdigit(static_cast<unsigned char>(c)) ||
            (c == '.' && i + 1 < s.size() && std::isdigit(static_cast<unsigned char>(s[i + 1])))) {
            size_t start = i;
            while (i < s.size() && (std::isdigit(static_cast<unsigned char>(s[i])) || s[i] == '.')) ++i;
            if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
                size_t mark = i++;
                if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
                if (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) {
                    while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) ++i;
                } else {
                    i = mark;
                }
            }
            t.kind = Token::Number;
            t.text = std::string(s.substr(start, i - start));
            if (!ParseExactDecimal(t.text)) return std::nullopt;
        } else if (c == '"' || c == '\'') {
            ++i;
            t.kind = Token::String;
            while (true) {
                if (i >= s.size()) return std::nullopt;
                if (s[i] == c) {
                    if (i + 1 < s.size() && s[i + 1] == c) {
                        t.text += c;
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                t.text += s[i++];
            }
        } else if (c == '#') {
            size_t end = s.find('#', i + 1);
            if (end == std::string_view::npos) return std::nullopt;
            t.kind = Token::DateLit;
            t.text = std::string(s.substr(i + 1, end - i - 1));
            i = end + 1;
        } else if (c == '[') {
            size_t end = s.find(']', i + 1);
            if (end == std::string_view::npos) return std::nullopt;
            t.kind = Token::Name;
            t.text = std::string(s.substr(i + 1, end - i - 1));
            i = end + 1;
        } else if (std::isalpha(static_cast<unsigned char>(c)) || c == '_' || static_cast<unsigned char>(c) >= 0x80) {
            size_t start = i;
            while (i < s.size() && (std::isalnum(static_cast<unsigned char>(s[i])) || s[i] == '_' ||
                                    static_cast<unsigned char>(s[i]) >= 0x80))
                ++i;
            t.text = std::string(s.substr(start, i - start));
            t.kind = Token::Name;
            for (const char* w : kWords)
                if (upper(t.text) == w) t.kind = Token::Word, t.text = w;
        } else {
            static const char* const kOps[] = {"<=", ">=", "<>", "=", "<", ">", "+", "-", "*", "/", "&", "(", ")", ",", "\\", "^", "!", "."};
            bool found = false;
            for (const char* op : kOps) {
                const size_t n = std::char_traits<char>::length(op);
                if (s.substr(i, n) == op) {
                    t.kind = Token::Op;
                    t.text = op;
                    i += n;
                    found = true;
                    break;
                }
            }
            if (!found) return std::nullopt;
        }
        out.push_back(std::move(t));
    }
    out.push_back(Token{});
    return out;
}

// --- syntax tree -------------------------------------------------------------

struct Node {
    enum Kind { Literal, Column, Unary, Binary, Between, In, IsNull, Like, Call };
    Kind kind = Literal;
    Token literal;                   // Literal: Number, String, DateLit, or Word TRUE/FALSE/YES/NO/NULL
    const ExprColumn* column = nullptr;
    std::string op;                  // Unary, Binary, Call (the function's name)
    bool negated = false;
    std::vector<std::unique_ptr<Node>> kids;
};
using NodePtr = std::unique_ptr<Node>;

struct Failed {};

class Parser {
public:
    Parser(std::vector<Token> tokens, const ExprColumn* self, const std::vector<ExprColumn>& columns)
        : t_(std::move(tokens)), self_(self), columns_(columns) {}

    NodePtr parseAll() {
        NodePtr n = parseOr();
        if (peek().kind != Token::End) throw Failed{};
        return n;
    }

private:
    const Token& peek(size_t ahead = 0) const { return t_[std::min(pos_ + ahead, t_.size() - 1)]; }
    bool isWord(const char* w, size_t ahead = 0) const {
        return peek(ahead).kind == Token::Word && peek(ahead).text == w;
    }
    bool isOp(const char* o, size_t ahead = 0) const { return peek(ahead).kind == Token::Op && peek(ahead).text == o; }
    Token take() { return t_[std::min(pos_++, t_.size() - 1)]; }
    void expectOp(const char* o) {
        if (!isOp(o)) throw Failed{};
        ++pos_;
    }

    static NodePtr make(Node::Kind k) {
        auto n = std::make_unique<Node>();
        n->kind = k;
        return n;
    }

    NodePtr binary(std::string op, NodePtr a, NodePtr b) {
        auto n = make(Node::Binary);
        n->op = std::move(op);
        n->kids.push_back(std::move(a));
        n->kids.push_back(std::move(b));
        return n;
    }

    NodePtr parseOr() {
        NodePtr n = parseAnd();
        while (isWord("OR")) {
            ++pos_;
            n = binary("OR", std::move(n), parseAnd());
        }
        return n;
    }
    NodePtr parseAnd() {
        NodePtr n = parseNot();
        while (isWord("AND")) {
            ++pos_;
            n = binary("AND", std::move(n), parseNot());
        }
        return n;
    }
    NodePtr parseNot() {
        if (isWord("NOT") && !isWord("BETWEEN", 1) && !isWord("IN", 1) && !isWord("LIKE", 1)) {
            ++pos_;
            auto n = make(Node::Unary);
            n->op = "NOT";
            n->kids.push_back(parseNot());
            return n;
        }
        return parseComparison();
    }

    bool startsPredicate() const {
        static const char* const kCompare[] = {"=", "<>", "<", "<=", ">", ">="};
        for (const char* o : kCompare)
            if (isOp(o)) return true;
        if (isWord("BETWEEN") || isWord("IN") || isWord("IS") || isWord("LIKE")) return true;
        return isWord("NOT") && (isWord("BETWEEN", 1) || isWord("IN", 1) || isWord("LIKE", 1));
    }

    NodePtr selfColumn() {
        if (!self_) throw Failed{};
        auto n = make(Node::Column);
        n->column = self_;
        return n;
    }

    NodePtr parseComparison() {
        NodePtr left = startsPredicate() ? selfColumn() : parseConcat();
        static const char* const kCompare[] = {"=", "<>", "<=", ">=", "<", ">"};
        for (const char* o : kCompare) {
            if (isOp(o)) {
                ++pos_;
                return binary(o, std::move(left), parseConcat());
            }
        }
        bool negated = false;
        if (isWord("NOT") && (isWord("BETWEEN", 1) || isWord("IN", 1) || isWord("LIKE", 1))) {
            negated = true;
            ++pos_;
        }
        if (isWord("BETWEEN")) {
            ++pos_;
            auto n = make(Node::Between);
            n->negated = negated;
            n->kids.push_back(std::move(left));
            n->kids.push_back(parseConcat());
            if (!isWord("AND")) throw Failed{};
            ++pos_;
            n->kids.push_back(parseConcat());
            return n;
        }
        if (isWord("IN")) {
            ++pos_;
            auto n = make(Node::In);
            n->negated = negated;
            n->kids.push_back(std::move(left));
            expectOp("(");
            n->kids.push_back(parseConcat());
            while (isOp(",")) {
                ++pos_;
                n->kids.push_back(parseConcat());
            }
            expectOp(")");
            return n;
        }
        if (isWord("LIKE")) {
            ++pos_;
            auto n = make(Node::Like);
            n->negated = negated;
            n->kids.push_back(std::move(left));
            n->kids.push_back(parseConcat());
            return n;
        }
        if (negated) throw Failed{};
        if (isWord("IS")) {
            ++pos_;
            auto n = make(Node::IsNull);
            if (isWord("NOT")) {
                n->negated = true;
                ++pos_;
            }
            if (!isWord("NULL")) throw Failed{};
            ++pos_;
            n->kids.push_back(std::move(left));
            return n;
        }
        return left;
    }

    NodePtr parseConcat() {
        NodePtr n = parseAdd();
        while (isOp("&")) {
            ++pos_;
            n = binary("&", std::move(n), parseAdd());
        }
        return n;
    }
    NodePtr parseAdd() {
        NodePtr n = parseMod();
        while (isOp("+") || isOp("-")) {
            std::string op = take().text;
            n = binary(op, std::move(n), parseMod());
        }
        return n;
    }
    NodePtr parseMod() {
        NodePtr n = parseMul();
        while (isWord("MOD")) {
            ++pos_;
            n = binary("MOD", std::move(n), parseMul());
        }
        return n;
    }
    NodePtr parseMul() {
        NodePtr n = parseUnary();
        while (isOp("*") || isOp("/")) {
            std::string op = take().text;
            n = binary(op, std::move(n), parseUnary());
        }
        return n;
    }
    NodePtr parseUnary() {
        if (isOp("-") || isOp("+")) {
            std::string op = take().text;
            NodePtr operand = parseUnary();
            if (op == "+") return operand;
            if (operand->kind == Node::Literal && operand->literal.kind == Token::Number) {
                operand->literal.text = "-" + operand->literal.text;
                return operand;
            }
            auto n = make(Node::Unary);
            n->op = "-";
            n->kids.push_back(std::move(operand));
            return n;
        }
        return parsePrimary();
    }
    NodePtr parsePrimary() {
        const Token& t = peek();
        if (t.kind == Token::Number || t.kind == Token::String || t.kind == Token::DateLit ||
            (t.kind == Token::Word && (t.text == "TRUE" || t.text == "FALSE" || t.text == "YES" || t.text == "NO" ||
                                       t.text == "NULL"))) {
            auto n = make(Node::Literal);
            n->literal = take();
            return n;
        }
        if (isOp("(")) {
            ++pos_;
            NodePtr n = parseOr();
            expectOp(")");
            return n;
        }
        if (t.kind == Token::Name) {
            Token name = take();
            if (isOp("(")) {
                ++pos_;
                auto n = make(Node::Call);
                n->op = upper(name.text);
                if (!isOp(")")) {
                    n->kids.push_back(parseOr());
                    while (isOp(",")) {
                        ++pos_;
                        n->kids.push_back(parseOr());
                    }
                }
                expectOp(")");
                return n;
            }
            for (const ExprColumn& c : columns_) {
                if (sameName(c.name, name.text)) {
                    auto n = make(Node::Column);
                    n->column = &c;
                    return n;
                }
            }
            if (self_ && sameName(self_->name, name.text)) return selfColumn();
        }
        throw Failed{};
    }

    std::vector<Token> t_;
    size_t pos_ = 0;
    const ExprColumn* self_;
    const std::vector<ExprColumn>& columns_;
};

// --- SQL ------------------------------------------------------------------------

bool isDecimalShape(const FieldShape& s) { return s.type == dbCurrency || s.type == dbDecimal; }
bool isTextShape(const FieldShape& s) { return s.type == dbText || s.type == dbMemo || s.type == dbGUID; }

std::optional<Variant> literalValue(const Token& t, const FieldShape* against) {
    switch (t.kind) {
        case Token::Number:
            if (against && against->type == dbDate) {
                double d = 0;
                auto r = std::from_chars(t.text.data(), t.text.data() + t.text.size(), d);
                if (r.ec != std::errc()) return std::nullopt;
                return Variant(Date{d});
            }
            return Variant(t.text);
        case Token::String: return Variant(t.text);
        case Token::DateLit: {
            auto d = ParseDateText(t.text);
            if (!d) return std::nullopt;
            return Variant(Date{*d});
        }
        case Token::Word:
            if (t.text == "NULL") return Variant(std::monostate{});
            return Variant(t.text == "TRUE" || t.text == "YES");
        default: return std::nullopt;
    }
}

class Emitter {
public:
    std::string emit(const Node& n, const FieldShape* against = nullptr) {
        switch (n.kind) {
            case Node::Literal: return literal(n.literal, against);
            case Node::Column: return column(*n.column);
            case Node::Unary:
                if (n.op == "NOT") return "(NOT " + emit(*n.kids[0]) + ")";
                return "(-" + emit(*n.kids[0]) + ")";
            case Node::Binary: return binary(n);
            case Node::Between: {
                const FieldShape* shape = shapeOf(*n.kids[0]);
                return "(" + emit(*n.kids[0]) + (n.negated ? " NOT" : "") + " BETWEEN " + emit(*n.kids[1], shape) +
                       " AND " + emit(*n.kids[2], shape) + ")";
            }
            case Node::In: {
                const FieldShape* shape = shapeOf(*n.kids[0]);
                std::string out = "(" + emit(*n.kids[0]) + (n.negated ? " NOT" : "") + " IN (";
                for (size_t k = 1; k < n.kids.size(); ++k) out += (k > 1 ? ", " : "") + emit(*n.kids[k], shape);
                return out + "))";
            }
            case Node::IsNull: return "(" + emit(*n.kids[0]) + (n.negated ? " IS NOT NULL)" : " IS NULL)");
            case Node::Like: return like(n);
            case Node::Call: return call(n);
        }
        throw Failed{};
    }

private:
    static const FieldShape* shapeOf(const Node& n) { return n.kind == Node::Column ? &n.column->shape : nullptr; }

    std::string column(const ExprColumn& c) {
        // Currency and Decimal compare as numbers (a value some other client
        // stored as text too).
        if (isDecimalShape(c.shape)) return "CAST(" + QuoteIdentifier(c.name) + " AS REAL)";
        return QuoteIdentifier(c.name);
    }

    std::string literal(const Token& t, const FieldShape* against) {
        auto value = literalValue(t, against);
        if (!value) throw Failed{};
        if (std::holds_alternative<std::monostate>(*value)) return "NULL";
        if (against) {
            Stored s;
            try {
                s = ToStored(*against, *value, "rule");
            } catch (const ComError&) {
                throw Failed{};
            }
            // A numeric literal, against the CAST column: every digit of it.
            if (isDecimalShape(*against)) return s.exact.empty() ? SqlLiteral(s) : s.exact;
            return SqlLiteral(s);
        }
        if (t.kind == Token::Number) return t.text;
        if (t.kind == Token::String) return quoteText(t.text);
        if (t.kind == Token::DateLit) return quoteText(IsoDate(std::get<Date>(*value).days));
        return std::get<bool>(*value) ? "-1" : "0";
    }

    std::string binary(const Node& n) {
        static const char* const kCompare[] = {"=", "<>", "<=", ">=", "<", ">"};
        for (const char* o : kCompare) {
            if (n.op == o) {
                const FieldShape* left = shapeOf(*n.kids[0]);
                const FieldShape* right = shapeOf(*n.kids[1]);
                return "(" + emit(*n.kids[0], right) + " " + n.op + " " + emit(*n.kids[1], left) + ")";
            }
        }
        if (n.op == "AND" || n.op == "OR") return "(" + emit(*n.kids[0]) + " " + n.op + " " + emit(*n.kids[1]) + ")";
        if (n.op == "&") return "(" + emit(*n.kids[0]) + " || " + emit(*n.kids[1]) + ")";
        if (n.op == "MOD") return "(" + emit(*n.kids[0]) + " % " + emit(*n.kids[1]) + ")";
        if (n.op == "+" || n.op == "-" || n.op == "*" || n.op == "/")
            return "(" + emit(*n.kids[0]) + " " + n.op + " " + emit(*n.kids[1]) + ")";
        throw Failed{};
    }

    // Access patterns: * any text, ? one character. Other wildcards (# and
    // character lists) have no LIKE form; both sides ignore letter case.
    std::string like(const Node& n) {
        const Node& operand = *n.kids[0];
        const Node& pattern = *n.kids[1];
        if (operand.kind != Node::Column || !isTextShape(operand.column->shape)) throw Failed{};
        if (pattern.kind != Node::Literal || pattern.literal.kind != Token::String) throw Failed{};
        std::string p;
        for (char c : pattern.literal.text) {
            if (c == '#' || c == '[' || c == ']') throw Failed{};
            if (c == '*') p += '%';
            else if (c == '?') p += '_';
            else if (c == '%' || c == '_' || c == '\\') p += '\\', p += c;
            else p += c;
        }
        return "(" + emit(operand) + (n.negated ? " NOT" : "") + " LIKE " + quoteText(p) + " ESCAPE '\\')";
    }

    std::string call(const Node& n) {
        struct Fn {
            const char* access;
            const char* sql;
            size_t args;
        };
        static const Fn kFns[] = {{"LEN", "length", 1},  {"TRIM", "trim", 1},   {"LTRIM", "ltrim", 1},
                                  {"RTRIM", "rtrim", 1}, {"UCASE", "upper", 1}, {"LCASE", "lower", 1},
                                  {"ABS", "abs", 1}};
        for (const Fn& f : kFns) {
            if (n.op == f.access && n.kids.size() == f.args) return std::string(f.sql) + "(" + emit(*n.kids[0]) + ")";
        }
        if (n.op == "LEFT" && n.kids.size() == 2)
            return "substr(" + emit(*n.kids[0]) + ", 1, " + emit(*n.kids[1]) + ")";
        if (n.op == "MID" && (n.kids.size() == 2 || n.kids.size() == 3)) {
            std::string out = "substr(" + emit(*n.kids[0]) + ", " + emit(*n.kids[1]);
            if (n.kids.size() == 3) out += ", " + emit(*n.kids[2]);
            return out + ")";
        }
        // Date(), Now() and the rest: a CHECK constraint may not depend on the
        // clock, and other functions have no equal in SQLite.
        throw Failed{};
    }
};

double localNowDays(bool date, bool time) {
    std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    auto d = ComposeDays(date ? tm.tm_year + 1900 : 1899, date ? tm.tm_mon + 1 : 12, date ? tm.tm_mday : 30,
                         time ? tm.tm_hour : 0, time ? tm.tm_min : 0, time ? std::min(tm.tm_sec, 59) : 0);
    return d.value_or(0);
}

}  // namespace

std::string SqliteName(std::string_view name) {
    std::string out;
    out.reserve(name.size());
    for (char c : name) {
        if (c == '\0') out += "\xEF\xBF\xBD";  // U+FFFD
        else out += c;
    }
    return out;
}

std::string QuoteIdentifier(std::string_view name) {
    std::string out = "\"";
    for (char c : SqliteName(name)) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

std::string SqlLiteral(const Stored& v) {
    switch (v.kind) {
        case Stored::Null: return "NULL";
        case Stored::Integer: return std::to_string(v.integer);
        case Stored::Real: {
            char b[40];
            std::snprintf(b, sizeof b, "%.17g", v.real);
            std::string s = b;
            for (char& c : s)
                if (c == ',') c = '.';
            if (s.find_first_of(".eE") == std::string::npos) s += ".0";
            return s;
        }
        case Stored::Text: return quoteText(v.text);
        case Stored::Blob: {
            static const char kHex[] = "0123456789ABCDEF";
            std::string out = "X'";
            for (uint8_t b : v.blob) out += kHex[b >> 4], out += kHex[b & 15];
            return out + "'";
        }
    }
    return "NULL";
}

std::optional<std::string> TranslateRule(std::string_view rule, const ExprColumn* self,
                                         const std::vector<ExprColumn>& columns) {
    auto tokens = tokenise(rule);
    if (!tokens || tokens->size() == 1) return std::nullopt;
    try {
        Parser parser(std::move(*tokens), self, columns);
        NodePtr tree = parser.parseAll();
        return Emitter().emit(*tree);
    } catch (const Failed&) {
        return std::nullopt;
    }
}

DefaultPlan PlanDefault(std::string_view text, const FieldShape& shape) {
    DefaultPlan plan;
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
    if (!text.empty() && text.front() == '=') text.remove_prefix(1);
    auto tokens = tokenise(text);
    if (!tokens || tokens->size() == 1) return plan;
    std::vector<Token>& t = *tokens;
    // A function call without arguments.
    if (t.size() == 4 && t[0].kind == Token::Name && t[1].kind == Token::Op && t[1].text == "(" &&
        t[2].kind == Token::Op && t[2].text == ")") {
        const std::string fn = upper(t[0].text);
        if (shape.type == dbDate && fn == "NOW") {
            plan.kind = DefaultPlan::Now;
            plan.sql = "(datetime('now','localtime'))";
        } else if (shape.type == dbDate && fn == "DATE") {
            plan.kind = DefaultPlan::Today;
            plan.sql = "(date('now','localtime') || ' 00:00:00')";
        } else if (shape.type == dbDate && fn == "TIME") {
            plan.kind = DefaultPlan::TimeOfDay;
            plan.sql = "('1899-12-30 ' || time('now','localtime'))";
        } else if (shape.type == dbGUID && fn == "GENGUID") {
            plan.kind = DefaultPlan::NewGuid;
            plan.sql =
                "('{' || upper(hex(randomblob(4))) || '-' || upper(hex(randomblob(2))) || '-4' || "
                "substr(upper(hex(randomblob(2))), 2) || '-' || substr('89AB', 1 + abs(random() % 4), 1) || "
                "substr(upper(hex(randomblob(2))), 2) || '-' || upper(hex(randomblob(6))) || '}')";
        }
        return plan;
    }
    // A constant, possibly signed.
    size_t i = 0;
    std::string sign;
    if (t[0].kind == Token::Op && (t[0].text == "-" || t[0].text == "+")) {
        sign = t[0].text == "-" ? "-" : "";
        i = 1;
        if (t[i].kind != Token::Number) return plan;
    }
    if (t.size() != i + 2) return plan;
    Token literal = t[i];
    if (literal.kind == Token::Number) literal.text = sign + literal.text;
    if (literal.kind == Token::Name || literal.kind == Token::Op) return plan;
    if (literal.kind == Token::Word && literal.text == "NULL") return plan;
    auto value = literalValue(literal, &shape);
    if (!value) return plan;
    try {
        plan.constant = ToStored(shape, *value, "default");
    } catch (const ComError&) {
        return plan;
    }
    plan.kind = DefaultPlan::Constant;
    plan.sql = SqlLiteral(plan.constant);
    if (plan.constant.kind == Stored::Real || (plan.constant.kind == Stored::Integer && plan.constant.integer < 0))
        plan.sql = "(" + plan.sql + ")";
    return plan;
}

Stored EvaluateDefault(const DefaultPlan& plan) {
    switch (plan.kind) {
        case DefaultPlan::Constant: return plan.constant;
        case DefaultPlan::Now:
        case DefaultPlan::Today:
        case DefaultPlan::TimeOfDay: {
            const double d = localNowDays(plan.kind != DefaultPlan::TimeOfDay, plan.kind != DefaultPlan::Today);
            auto text = DateStorageText(d);
            return text ? Stored::Txt(*text) : Stored::Dbl(d);
        }
        case DefaultPlan::NewGuid: {
            static thread_local std::mt19937_64 random{std::random_device{}()};
            uint64_t a = random(), b = random();
            a = (a & ~0xF000ull) | 0x4000ull;                  // version 4
            b = (b & 0x3FFFFFFFFFFFFFFFull) | 0x8000000000000000ull;  // variant 1
            char buf[40];
            std::snprintf(buf, sizeof buf, "{%08X-%04X-%04X-%04X-%012llX}", static_cast<unsigned>(a >> 32),
                          static_cast<unsigned>((a >> 16) & 0xFFFF), static_cast<unsigned>(a & 0xFFFF),
                          static_cast<unsigned>(b >> 48), static_cast<unsigned long long>(b & 0xFFFFFFFFFFFFull));
            return Stored::Txt(buf);
        }
        case DefaultPlan::None: break;
    }
    return Stored{};
}

}  // namespace talmera::dao::sqlite
