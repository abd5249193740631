// A tokenizer and recursive-descent parser of Access SQL. Operator
// precedence is Jet's (VBA's): ^, unary minus, * and /, \, Mod, + and -, &,
// the comparisons (=, <>, <, <=, >, >=, Like, Between, In, Is), Not, And, Or,
// Xor, Eqv, Imp. The text comes from a damaged file: nesting is bounded, and
// anything unexpected ends the reading with an error, never a guess.
#include "output/dao/AccessSql.h"

#include <cctype>
#include <cstdlib>

namespace talmera::dao::sqlite::access {

namespace {

// Deeper nesting than this is not a query Access wrote.
constexpr int kMaxDepth = 200;

struct Failure {
    std::string message;
};

std::string upper(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

struct Token {
    enum Kind { End, Number, String, DateLit, Name, Op };
    Kind kind = End;
    std::string text;        // Name: without brackets; Op: the operator
    bool bracketed = false;  // Name: written in brackets
    size_t at = 0;
};

bool nameStart(unsigned char c) { return std::isalpha(c) || c == '_' || c >= 0x80; }
bool nameChar(unsigned char c) { return std::isalnum(c) || c == '_' || c >= 0x80; }

std::vector<Token> tokenise(std::string_view s) {
    std::vector<Token> out;
    size_t i = 0;
    while (true) {
        while (i < s.size() && (std::isspace(static_cast<unsigned char>(s[i])) || s[i] == '\0')) ++i;
        Token t;
        t.at = i;
        if (i >= s.size()) {
            out.push_back(t);
            return out;
        }
        const unsigned char c = static_cast<unsigned char>(s[i]);
        if (std::isdigit(c) || (c == '.' && i + 1 < s.size() && std::isdigit(static_cast<unsigned char>(s[i + 1])))) {
            const size_t start = i;
            while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) ++i;
            if (i < s.size() && s[i] == '.') {
                ++i;
                while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) ++i;
            }
            if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
                size_t mark = i + 1;
                if (mark < s.size() && (s[mark] == '+' || s[mark] == '-')) ++mark;
                if (mark < s.size() && std::isdigit(static_cast<unsigned char>(s[mark]))) {
                    i = mark;
                    while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) ++i;
                }
            }
            t.kind = Token::Number;
            t.text = std::string(s.substr(start, i - start));
        } else if (c == '"' || c == '\'') {
            const char quote = static_cast<char>(c);
            ++i;
            t.kind = Token::String;
            while (true) {
                if (i >= s.size()) throw Failure{"a string is not closed"};
                if (s[i] == quote) {
                    if (i + 1 < s.size() && s[i + 1] == quote) {
                        t.text += quote;
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                t.text += s[i++];
            }
        } else if (c == '#') {
            const size_t end = s.find('#', i + 1);
            if (end == std::string_view::npos) throw Failure{"a date literal is not closed"};
            t.kind = Token::DateLit;
            t.text = std::string(s.substr(i + 1, end - i - 1));
            i = end + 1;
        } else if (c == '[') {
            const size_t end = s.find(']', i + 1);
            if (end == std::string_view::npos) throw Failure{"a bracketed name is not closed"};
            t.kind = Token::Name;
            t.bracketed = true;
            t.text = std::string(s.substr(i + 1, end - i - 1));
            i = end + 1;
        } else if (nameStart(c)) {
            const size_t start = i;
            while (i < s.size() && nameChar(static_cast<unsigned char>(s[i]))) ++i;
            t.kind = Token::Name;
            t.text = std::string(s.substr(start, i - start));
        } else {
            static const char* const kOps[] = {"<=", ">=", "<>", "=<", "=>", "=", "<", ">", "+", "-", "*", "/", "\\",
                                               "^",  "&",  "(",  ")",  ",",  ".", "!", ";"};
            bool found = false;
            for (const char* op : kOps) {
                const size_t n = std::char_traits<char>::length(op);
                if (s.substr(i, n) == op) {
                    t.kind = Token::Op;
                    t.text = op;
                    if (t.text == "=<") t.text = "<=";
                    if (t.text == "=>") t.text = ">=";
                    i += n;
                    found = true;
                    break;
                }
            }
            if (!found) throw Failure{std::string("the character '") + static_cast<char>(c) + "' is not Access SQL"};
        }
        out.push_back(std::move(t));
    }
}

// Words that end an expression or a name list; a plain name spelt so is not
// a column.
bool reservedWord(const std::string& u) {
    static const char* const kWords[] = {
        "SELECT", "FROM",  "WHERE",  "GROUP",       "ORDER",    "BY",      "HAVING", "AS",      "ON",      "JOIN",
        "INNER",  "LEFT",  "RIGHT",  "OUTER",       "UNION",    "AND",     "OR",     "NOT",     "XOR",     "EQV",
        "IMP",    "MOD",   "LIKE",   "BETWEEN",     "IN",       "IS",      "INTO",   "PIVOT",   "TRANSFORM",
        "DISTINCT", "DISTINCTROW", "TOP", "PERCENT", "ASC",     "DESC",    "WITH",   "EXISTS",  "ALL",
        "NULL",   "TRUE",  "FALSE",  "YES",         "NO",       "PARAMETERS"};
    for (const char* w : kWords)
        if (u == w) return true;
    return false;
}

class Parser {
public:
    explicit Parser(std::vector<Token> tokens) : t_(std::move(tokens)) {}

    Statement statement() {
        Statement st;
        if (isWord("PARAMETERS")) {
            ++pos_;
            parameters(st);
        }
        if (isWord("TRANSFORM")) {
            ++pos_;
            st.kind = Statement::Crosstab;
            st.transform = expression();
            if (isWord("AS")) {
                ++pos_;
                st.transformAlias = name("an alias");
            }
            if (!isWord("SELECT")) fail("TRANSFORM is not followed by SELECT");
            st.parts.push_back(select());
            if (!isWord("PIVOT")) fail("a crosstab has no PIVOT");
            ++pos_;
            ExprPtr pivot = expression();
            // PIVOT x IN (a, b): the column headings, not a condition.
            if (pivot->kind == Expr::In && !pivot->negated && !pivot->subquery) {
                for (size_t k = 1; k < pivot->args.size(); ++k) st.pivotIn.push_back(std::move(pivot->args[k]));
                pivot = std::move(pivot->args[0]);
            }
            st.pivot = std::move(pivot);
        } else if (isWord("SELECT") || isWord("TABLE") || isOp("(")) {
            st.parts.push_back(unionPart());
            while (isWord("UNION")) {
                ++pos_;
                bool all = false;
                if (isWord("ALL")) {
                    all = true;
                    ++pos_;
                } else if (isWord("DISTINCT")) {
                    ++pos_;
                }
                st.unionAll.push_back(all);
                st.parts.push_back(unionPart());
            }
            if (st.parts.size() > 1) {
                st.kind = Statement::Union;
                // The last part's ORDER BY sorts the whole union.
                st.unionOrderBy = std::move(st.parts.back()->orderBy);
                st.parts.back()->orderBy.clear();
                if (isWord("ORDER")) st.unionOrderBy = orderBy();
                if (isWord("WITH")) ownerAccess();
            } else {
                st.kind = Statement::Select;
            }
        } else {
            const std::string first = peek().kind == Token::Name && !peek().bracketed ? upper(peek().text) : "";
            if (first == "INSERT") st.kind = Statement::Insert;
            else if (first == "UPDATE") st.kind = Statement::Update;
            else if (first == "DELETE") st.kind = Statement::Delete;
            else if (first == "CREATE" || first == "ALTER" || first == "DROP") st.kind = Statement::DataDefinition;
            else st.kind = Statement::Other;
            return st;
        }
        while (isOp(";")) ++pos_;
        if (peek().kind != Token::End) fail("unexpected text after the statement: '" + peek().text + "'");
        return st;
    }

    ExprPtr wholeExpression() {
        ExprPtr e = expression();
        if (peek().kind != Token::End) fail("unexpected text after the expression: '" + peek().text + "'");
        return e;
    }

private:
    [[noreturn]] void fail(const std::string& message) { throw Failure{message}; }

    const Token& peek(size_t ahead = 0) const { return t_[std::min(pos_ + ahead, t_.size() - 1)]; }
    bool isWord(const char* w, size_t ahead = 0) const {
        const Token& t = peek(ahead);
        return t.kind == Token::Name && !t.bracketed && upper(t.text) == w;
    }
    bool isOp(const char* o, size_t ahead = 0) const { return peek(ahead).kind == Token::Op && peek(ahead).text == o; }
    void expectOp(const char* o) {
        if (!isOp(o)) fail(std::string("'") + o + "' expected, found '" + peek().text + "'");
        ++pos_;
    }
    void expectWord(const char* w) {
        if (!isWord(w)) fail(std::string(w) + " expected, found '" + peek().text + "'");
        ++pos_;
    }

    struct Depth {
        explicit Depth(int& d) : d_(d) {
            if (++d_ > kMaxDepth) throw Failure{"the statement is nested too deeply"};
        }
        ~Depth() { --d_; }
        int& d_;
    };

    // A name token (bracketed, or a plain word that is no keyword).
    std::string name(const char* what) {
        const Token& t = peek();
        if (t.kind != Token::Name || (!t.bracketed && reservedWord(upper(t.text))))
            fail(std::string(what) + " expected, found '" + t.text + "'");
        ++pos_;
        return t.text;
    }

    void parameters(Statement& st) {
        while (true) {
            Parameter p;
            p.name = "[" + name("a parameter name") + "]";
            while ((isOp("!") || isOp(".")) && peek(1).kind == Token::Name) {
                p.name += peek().text + "[" + peek(1).text + "]";
                pos_ += 2;
            }
            int depth = 0;
            while (peek().kind != Token::End && !(depth == 0 && (isOp(",") || isOp(";")))) {
                if (isOp("(")) ++depth;
                if (isOp(")")) --depth;
                if (!p.type.empty() && !isOp("(") && !isOp(")") && p.type.back() != '(') p.type += ' ';
                p.type += peek().text;
                ++pos_;
            }
            st.parameters.push_back(std::move(p));
            if (isOp(",")) {
                ++pos_;
                continue;
            }
            expectOp(";");
            return;
        }
    }

    std::shared_ptr<Select> unionPart() {
        Depth d(depth_);
        if (isOp("(")) {
            ++pos_;
            auto part = unionPart();
            expectOp(")");
            return part;
        }
        if (isWord("TABLE")) {
            ++pos_;
            auto part = std::make_shared<Select>();
            SelectItem all;
            all.star = true;
            part->items.push_back(std::move(all));
            auto source = std::make_unique<Source>();
            source->name = name("a table name");
            part->from.push_back(std::move(source));
            return part;
        }
        return select();
    }

    std::shared_ptr<Select> select() {
        Depth d(depth_);
        expectWord("SELECT");
        auto s = std::make_shared<Select>();
        if (isWord("ALL")) {
            ++pos_;
        } else if (isWord("DISTINCT")) {
            s->distinct = true;
            ++pos_;
        } else if (isWord("DISTINCTROW")) {
            s->distinctRow = true;
            ++pos_;
        }
        if (isWord("TOP")) {
            ++pos_;
            if (peek().kind != Token::Number) fail("TOP without a number");
            s->top = peek().text;
            ++pos_;
            if (isWord("PERCENT")) {
                s->topPercent = true;
                ++pos_;
            }
        }
        while (true) {
            s->items.push_back(selectItem());
            if (!isOp(",")) break;
            ++pos_;
        }
        if (isWord("INTO")) {
            ++pos_;
            s->into = name("a table name");
            if (isWord("IN")) skipInDatabase();
        }
        if (isWord("FROM")) {
            ++pos_;
            while (true) {
                s->from.push_back(joinedSource());
                if (!isOp(",")) break;
                ++pos_;
            }
            if (isWord("IN")) {
                ++pos_;
                if (peek().kind != Token::String) fail("IN without a database");
                s->fromDatabase = peek().text;
                ++pos_;
                if (peek().kind == Token::Name && peek().bracketed) ++pos_;
            }
        }
        if (isWord("WHERE")) {
            ++pos_;
            s->where = expression();
        }
        if (isWord("GROUP")) {
            ++pos_;
            expectWord("BY");
            while (true) {
                s->groupBy.push_back(expression());
                if (!isOp(",")) break;
                ++pos_;
            }
        }
        if (isWord("HAVING")) {
            ++pos_;
            s->having = expression();
        }
        if (isWord("ORDER")) s->orderBy = orderBy();
        if (isWord("WITH")) {
            ownerAccess();
            s->ownerAccess = true;
        }
        return s;
    }

    void skipInDatabase() {
        ++pos_;
        if (peek().kind != Token::String) fail("IN without a database");
        ++pos_;
        if (peek().kind == Token::Name && peek().bracketed) ++pos_;
    }

    void ownerAccess() {
        expectWord("WITH");
        expectWord("OWNERACCESS");
        expectWord("OPTION");
    }

    std::vector<OrderItem> orderBy() {
        expectWord("ORDER");
        expectWord("BY");
        std::vector<OrderItem> items;
        while (true) {
            OrderItem item;
            item.expr = expression();
            if (isWord("DESC")) {
                item.descending = true;
                ++pos_;
            } else if (isWord("ASC")) {
                ++pos_;
            }
            items.push_back(std::move(item));
            if (!isOp(",")) break;
            ++pos_;
        }
        return items;
    }

    SelectItem selectItem() {
        SelectItem item;
        if (isOp("*")) {
            ++pos_;
            item.star = true;
            return item;
        }
        // T.* and [T].*
        if (peek().kind == Token::Name && (isOp(".", 1) || isOp("!", 1)) && isOp("*", 2)) {
            item.star = true;
            item.starOf = peek().text;
            pos_ += 3;
            return item;
        }
        item.expr = expression();
        if (isWord("AS")) {
            ++pos_;
            item.alias = name("an alias");
        }
        return item;
    }

    SourcePtr joinedSource() {
        Depth d(depth_);
        SourcePtr left = primarySource();
        while (true) {
            Source::JoinKind kind;
            if (isWord("INNER") && isWord("JOIN", 1)) {
                kind = Source::Inner;
                pos_ += 2;
            } else if (isWord("JOIN")) {
                kind = Source::Inner;
                ++pos_;
            } else if ((isWord("LEFT") || isWord("RIGHT")) && (isWord("JOIN", 1) || (isWord("OUTER", 1) && isWord("JOIN", 2)))) {
                kind = isWord("LEFT") ? Source::Left : Source::Right;
                pos_ += isWord("OUTER", 1) ? 3 : 2;
            } else {
                return left;
            }
            SourcePtr right = primarySource();
            expectWord("ON");
            auto join = std::make_unique<Source>();
            join->kind = Source::Join;
            join->join = kind;
            join->left = std::move(left);
            join->right = std::move(right);
            join->on = expression();
            left = std::move(join);
        }
    }

    void optionalAlias(Source& s) {
        if (isWord("AS")) {
            ++pos_;
            s.alias = name("an alias");
        } else if (peek().kind == Token::Name && (peek().bracketed || !reservedWord(upper(peek().text)))) {
            s.alias = name("an alias");
        }
    }

    SourcePtr primarySource() {
        Depth d(depth_);
        auto s = std::make_unique<Source>();
        if (isOp("(")) {
            if (isWord("SELECT", 1)) {
                ++pos_;
                s->kind = Source::Subquery;
                s->subquery = select();
                expectOp(")");
                optionalAlias(*s);
                return s;
            }
            ++pos_;
            SourcePtr inner = joinedSource();
            expectOp(")");
            return inner;
        }
        const Token& t = peek();
        if (t.kind != Token::Name) fail("a table expected, found '" + t.text + "'");
        // [SELECT ...]. AS x: a subquery as Access 97 writes it.
        if (t.bracketed && upper(t.text).rfind("SELECT", 0) == 0 && isOp(".", 1)) {
            std::vector<Token> inner = tokenise(t.text);
            Parser sub(std::move(inner));
            sub.depth_ = depth_;
            s->kind = Source::Subquery;
            s->subquery = sub.select();
            if (sub.peek().kind != Token::End) fail("unexpected text in a subquery");
            pos_ += 2;
            optionalAlias(*s);
            return s;
        }
        s->name = name("a table name");
        if (isOp(".") && peek(1).kind == Token::Name) {
            // [database].table
            ++pos_;
            s->database = s->name;
            s->name = name("a table name");
        }
        if (isWord("IN") && peek(1).kind == Token::String) {
            ++pos_;
            s->database = peek().text;
            ++pos_;
            if (peek().kind == Token::Name && peek().bracketed) ++pos_;
        }
        optionalAlias(*s);
        return s;
    }

    // ---- expressions ----------------------------------------------------------

    static ExprPtr make(Expr::Kind k) {
        auto e = std::make_unique<Expr>();
        e->kind = k;
        return e;
    }
    static ExprPtr binary(const std::string& op, ExprPtr a, ExprPtr b) {
        auto e = make(Expr::Binary);
        e->op = op;
        e->args.push_back(std::move(a));
        e->args.push_back(std::move(b));
        return e;
    }

    ExprPtr expression() {
        Depth d(depth_);
        return logical(0);
    }

    // Imp, Eqv, Xor, Or, And: lowest first.
    ExprPtr logical(int level) {
        static const char* const kLevels[] = {"IMP", "EQV", "XOR", "OR", "AND"};
        if (level == 5) return notLevel();
        ExprPtr e = logical(level + 1);
        while (isWord(kLevels[level])) {
            ++pos_;
            e = binary(kLevels[level], std::move(e), logical(level + 1));
        }
        return e;
    }

    ExprPtr notLevel() {
        if (isWord("NOT")) {
            Depth d(depth_);
            ++pos_;
            auto e = make(Expr::Unary);
            e->op = "NOT";
            e->args.push_back(notLevel());
            return e;
        }
        return comparison();
    }

    ExprPtr comparison() {
        ExprPtr left = concat();
        while (true) {
            static const char* const kCompare[] = {"=", "<>", "<=", ">=", "<", ">"};
            bool compared = false;
            for (const char* o : kCompare) {
                if (isOp(o)) {
                    ++pos_;
                    left = binary(o, std::move(left), concat());
                    compared = true;
                    break;
                }
            }
            if (compared) continue;
            bool negated = false;
            if (isWord("NOT") && (isWord("BETWEEN", 1) || isWord("IN", 1) || isWord("LIKE", 1))) {
                negated = true;
                ++pos_;
            }
            if (isWord("BETWEEN")) {
                ++pos_;
                auto e = make(Expr::Between);
                e->negated = negated;
                e->args.push_back(std::move(left));
                e->args.push_back(concat());
                expectWord("AND");
                e->args.push_back(concat());
                left = std::move(e);
            } else if (isWord("IN")) {
                ++pos_;
                auto e = make(Expr::In);
                e->negated = negated;
                e->args.push_back(std::move(left));
                expectOp("(");
                if (isWord("SELECT")) {
                    e->subquery = select();
                } else {
                    e->args.push_back(expression());
                    while (isOp(",")) {
                        ++pos_;
                        e->args.push_back(expression());
                    }
                }
                expectOp(")");
                left = std::move(e);
            } else if (isWord("LIKE")) {
                ++pos_;
                auto e = make(Expr::Like);
                e->negated = negated;
                e->args.push_back(std::move(left));
                e->args.push_back(concat());
                left = std::move(e);
            } else if (!negated && isWord("IS")) {
                ++pos_;
                auto e = make(Expr::IsNull);
                if (isWord("NOT")) {
                    e->negated = true;
                    ++pos_;
                }
                expectWord("NULL");
                e->args.push_back(std::move(left));
                left = std::move(e);
            } else {
                if (negated) fail("NOT without BETWEEN, IN or LIKE");
                return left;
            }
        }
    }

    ExprPtr concat() {
        ExprPtr e = additive();
        while (isOp("&")) {
            ++pos_;
            e = binary("&", std::move(e), additive());
        }
        return e;
    }
    ExprPtr additive() {
        ExprPtr e = modulo();
        while (isOp("+") || isOp("-")) {
            const std::string op = peek().text;
            ++pos_;
            e = binary(op, std::move(e), modulo());
        }
        return e;
    }
    ExprPtr modulo() {
        ExprPtr e = integerDivision();
        while (isWord("MOD")) {
            ++pos_;
            e = binary("MOD", std::move(e), integerDivision());
        }
        return e;
    }
    ExprPtr integerDivision() {
        ExprPtr e = multiplicative();
        while (isOp("\\")) {
            ++pos_;
            e = binary("\\", std::move(e), multiplicative());
        }
        return e;
    }
    ExprPtr multiplicative() {
        ExprPtr e = unary();
        while (isOp("*") || isOp("/")) {
            const std::string op = peek().text;
            ++pos_;
            e = binary(op, std::move(e), unary());
        }
        return e;
    }
    ExprPtr unary() {
        if (isOp("-") || isOp("+")) {
            Depth d(depth_);
            const bool minus = isOp("-");
            ++pos_;
            ExprPtr operand = unary();
            if (!minus) return operand;
            auto e = make(Expr::Unary);
            e->op = "-";
            e->args.push_back(std::move(operand));
            return e;
        }
        return power();
    }
    ExprPtr power() {
        ExprPtr e = primary();
        while (isOp("^")) {
            ++pos_;
            // The exponent may carry its own sign: 2 ^ -1.
            ExprPtr exponent;
            if (isOp("-")) {
                ++pos_;
                exponent = make(Expr::Unary);
                exponent->op = "-";
                exponent->args.push_back(primary());
            } else {
                exponent = primary();
            }
            e = binary("^", std::move(e), std::move(exponent));
        }
        return e;
    }

    ExprPtr primary() {
        Depth d(depth_);
        const Token t = peek();
        switch (t.kind) {
            case Token::Number: {
                ++pos_;
                auto e = make(Expr::Number);
                e->text = t.text;
                e->number = std::strtod(t.text.c_str(), nullptr);
                return e;
            }
            case Token::String: {
                ++pos_;
                auto e = make(Expr::String);
                e->text = t.text;
                return e;
            }
            case Token::DateLit: {
                ++pos_;
                auto e = make(Expr::DateLit);
                e->text = t.text;
                return e;
            }
            case Token::Op:
                if (t.text == "(") {
                    ++pos_;
                    if (isWord("SELECT")) {
                        auto e = make(Expr::Subquery);
                        e->subquery = select();
                        expectOp(")");
                        return e;
                    }
                    ExprPtr inner = expression();
                    expectOp(")");
                    return inner;
                }
                if (t.text == "*") {
                    ++pos_;
                    return make(Expr::Star);
                }
                fail("'" + t.text + "' where a value was expected");
            case Token::Name: break;
            case Token::End: fail("the text ends where a value was expected");
        }
        if (!t.bracketed) {
            const std::string u = upper(t.text);
            if (u == "TRUE" || u == "YES" || u == "FALSE" || u == "NO") {
                ++pos_;
                auto e = make(Expr::Boolean);
                e->number = (u == "TRUE" || u == "YES") ? -1 : 0;
                e->text = t.text;
                return e;
            }
            if (u == "NULL") {
                ++pos_;
                return make(Expr::Null);
            }
            if (u == "EXISTS" && isOp("(", 1)) {
                pos_ += 2;
                auto e = make(Expr::Exists);
                e->subquery = select();
                expectOp(")");
                return e;
            }
            if (isOp("(", 1)) {
                pos_ += 2;
                auto e = make(Expr::Call);
                e->text = t.text;
                if (!isOp(")")) {
                    while (true) {
                        e->args.push_back(expression());
                        if (!isOp(",")) break;
                        ++pos_;
                    }
                }
                expectOp(")");
                return e;
            }
            if (reservedWord(u)) fail("'" + t.text + "' where a value was expected");
        }
        ++pos_;
        auto e = make(Expr::Name);
        e->parts.push_back(t.text);
        while ((isOp(".") || isOp("!")) && peek(1).kind == Token::Name) {
            e->bangs.push_back(isOp("!"));
            e->parts.push_back(peek(1).text);
            pos_ += 2;
        }
        return e;
    }

    std::vector<Token> t_;
    size_t pos_ = 0;
    int depth_ = 0;
};

}  // namespace

std::variant<Statement, SyntaxError> ParseStatement(std::string_view text) {
    try {
        Parser p(tokenise(text));
        return p.statement();
    } catch (const Failure& f) {
        return SyntaxError{f.message};
    }
}

std::variant<ExprPtr, SyntaxError> ParseExpression(std::string_view text) {
    try {
        Parser p(tokenise(text));
        return p.wholeExpression();
    } catch (const Failure& f) {
        return SyntaxError{f.message};
    }
}

}  // namespace talmera::dao::sqlite::access
