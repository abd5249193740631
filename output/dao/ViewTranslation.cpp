// Access SQL to SQLite views: name resolution over the sources a statement
// reads, the kinds of values, and the SQLite form of each operator, function
// and clause. Whatever has no SQLite form that gives the same values is
// refused with the reason, never approximated silently.
#include "output/dao/ViewTranslation.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <map>
#include <set>

#include "output/dao/AccessSql.h"
#include "output/dao/Dao.h"
#include "output/dao/Expressions.h"
#include "output/dao/Values.h"

namespace talmera::dao::sqlite {

namespace {

using access::Expr;
using access::ExprPtr;
using access::OrderItem;
using access::Select;
using access::SelectItem;
using access::Source;
using access::Statement;

std::string upper(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}
bool same(std::string_view a, std::string_view b) { return upper(a) == upper(b); }

std::string quoteText(std::string_view s) { return SqlLiteral(Stored::Txt(std::string(s))); }

std::string bracketed(const std::string& name) { return "[" + name + "]"; }

// The reason a statement has no view; `waits` when it reads a query that may
// still become a view.
struct NoView {
    std::string reason;
    bool waits = false;
};
[[noreturn]] void refuse(const std::string& reason, bool waits = false) { throw NoView{reason, waits}; }

const char* kindName(ValueKind k) {
    switch (k) {
        case ValueKind::Boolean: return "a Yes/No value";
        case ValueKind::Integer:
        case ValueKind::Real: return "a number";
        case ValueKind::Currency: return "a Currency value";
        case ValueKind::Decimal: return "a Decimal value";
        case ValueKind::Date: return "a date";
        case ValueKind::Text: return "a text";
        case ValueKind::Binary: return "binary data";
        case ValueKind::Unknown: break;
    }
    return "a value of unknown type";
}

bool numeric(ValueKind k) {
    return k == ValueKind::Integer || k == ValueKind::Real || k == ValueKind::Currency || k == ValueKind::Decimal;
}

// One translated expression.
struct Value {
    std::string sql;
    ValueKind kind = ValueKind::Unknown;
    bool isNull = false;     // the NULL literal
    bool constant = false;   // a literal
    bool aggregate = false;  // contains an aggregate
    std::string column;      // a plain column reference: the column's name
    std::string sourceKey;   // ... and the key of its source
};

Value nullValue() {
    Value v;
    v.sql = "NULL";
    v.isNull = v.constant = true;
    return v;
}

// The value as a number: exact text kinds converted, Yes/No as Access's
// -1 and 0.
std::string num(const Value& v, const char* what) {
    if (v.isNull) return "NULL";
    switch (v.kind) {
        case ValueKind::Integer:
        case ValueKind::Real: return v.sql;
        case ValueKind::Currency:
        case ValueKind::Decimal: return "CAST(" + v.sql + " AS REAL)";
        case ValueKind::Boolean: return "(-" + v.sql + ")";
        default: refuse(std::string("uses ") + kindName(v.kind) + " as a number in " + what);
    }
}

ValueKind numberKind(const Value& a, const Value& b) {
    auto k = [](const Value& v) {
        if (v.isNull) return ValueKind::Integer;
        return v.kind == ValueKind::Integer || v.kind == ValueKind::Boolean ? ValueKind::Integer : ValueKind::Real;
    };
    return k(a) == ValueKind::Integer && k(b) == ValueKind::Integer ? ValueKind::Integer : ValueKind::Real;
}

// The day number of a date (days since 30 December 1899).
std::string dayNumber(const Value& d) { return "(julianday(" + d.sql + ") - 2415018.5)"; }

// A sort key that orders as Access does: text ignoring case, exact text
// kinds as numbers, Yes before No.
std::string orderKey(const Value& v) {
    switch (v.kind) {
        case ValueKind::Text: return v.sql + " COLLATE NOCASE";
        case ValueKind::Currency:
        case ValueKind::Decimal:
        case ValueKind::Boolean: return num(v, "an ordering");
        default: return v.sql;
    }
}

// ---- sources and scopes --------------------------------------------------------

struct ScopeSource {
    std::string key;     // the name the statement calls it by
    std::string sqlName; // the SQLite alias
    std::vector<ViewColumn> columns;
};

struct OutputItem {
    Value value;
    std::string name;
};

struct Scope {
    std::vector<ScopeSource> sources;
    const Scope* outer = nullptr;
    // The select list's items so far: their aliases stand for their values.
    const std::vector<OutputItem>* items = nullptr;
    bool allowAggregates = true;
};

struct SelectResult {
    std::string sql;             // a complete SELECT
    bool simple = true;          // no ORDER BY, LIMIT or wrapping: fit for a compound part
    std::vector<ViewColumn> columns;
};

class Translator {
public:
    explicit Translator(const ViewSourceLookup& lookup) : lookup_(lookup) {}

    ViewTranslation statement(const Statement& st) {
        ViewTranslation out;
        if (!st.parameters.empty()) {
            std::string names;
            bool controls = true;
            for (const access::Parameter& p : st.parameters) {
                names += (names.empty() ? "" : ", ") + p.name;
                const std::string u = upper(p.name);
                controls = controls && (u.rfind("[FORMS]!", 0) == 0 || u.rfind("[REPORTS]!", 0) == 0);
            }
            if (controls) refuse("refers to the form controls " + names);
            refuse("asks for the parameters " + names + " when it runs");
        }
        switch (st.kind) {
            case Statement::Select: {
                if (!st.parts[0]->into.empty()) refuse("is a make-table query (SELECT ... INTO): it writes a table");
                SelectResult r = select(*st.parts[0], nullptr);
                out.select = r.sql;
                out.columns = r.columns;
                return out;
            }
            case Statement::Union: return unionStatement(st);
            case Statement::Crosstab: return crosstab(st);
            case Statement::Insert: refuse("is an append query (INSERT INTO): it changes data");
            case Statement::Update: refuse("is an update query: it changes data");
            case Statement::Delete: refuse("is a delete query: it changes data");
            case Statement::DataDefinition: refuse("is a data-definition query: it changes the database's design");
            case Statement::Other: break;
        }
        refuse("is not a SELECT statement");
    }

private:
    // ---- sources ------------------------------------------------------------------

    // The sources of one FROM item join the scope; a table's or subquery's
    // SQLite text is kept for writing the item once every source is known.
    void collectSources(const Source& s, Scope& scope, std::map<const Source*, std::string>& texts) {
        switch (s.kind) {
            case Source::Table: {
                if (!s.database.empty()) refuse("reads " + bracketed(s.name) + " of another database");
                const std::optional<ViewSource> found = lookup_(s.name);
                if (!found) refuse("reads " + bracketed(s.name) + ", which the database does not have");
                if (found->state == ViewSource::QueryWithoutView)
                    refuse("reads the query " + bracketed(s.name) + ", which is not a view", true);
                if (found->state == ViewSource::LinkedTable)
                    refuse("reads the linked table " + bracketed(s.name) + ", whose rows are in another database");
                ScopeSource src;
                src.key = s.alias.empty() ? s.name : s.alias;
                src.sqlName = QuoteIdentifier(src.key);
                src.columns = found->columns;
                addSource(scope, src);
                texts[&s] = QuoteIdentifier(found->sqliteName) + " AS " + src.sqlName;
                return;
            }
            case Source::Subquery: {
                if (s.alias.empty()) refuse("reads a subquery without an alias");
                SelectResult r = select(*s.subquery, nullptr);
                ScopeSource src;
                src.key = s.alias;
                src.sqlName = QuoteIdentifier(s.alias);
                src.columns = r.columns;
                addSource(scope, src);
                texts[&s] = "(" + r.sql + ") AS " + src.sqlName;
                return;
            }
            case Source::Join:
                collectSources(*s.left, scope, texts);
                collectSources(*s.right, scope, texts);
                return;
        }
    }

    // A FROM item's SQLite text; ON conditions may name any source of the scope.
    std::string writeSource(const Source& s, const Scope& scope, const std::map<const Source*, std::string>& texts) {
        if (s.kind != Source::Join) return texts.at(&s);
        const std::string left = writeSource(*s.left, scope, texts);
        const std::string right = writeSource(*s.right, scope, texts);
        const std::string l = s.left->kind == Source::Join ? "(" + left + ")" : left;
        const std::string r = s.right->kind == Source::Join ? "(" + right + ")" : right;
        Scope on = scope;
        on.allowAggregates = false;
        const std::string condition = Translator::condition(expr(*s.on, on), "a join").sql;
        switch (s.join) {
            case Source::Inner: return l + " INNER JOIN " + r + " ON " + condition;
            case Source::Left: return l + " LEFT JOIN " + r + " ON " + condition;
            // A right join is the left join of its sides swapped, which every
            // SQLite reads.
            case Source::Right: return r + " LEFT JOIN " + l + " ON " + condition;
        }
        refuse("reads a join this reader does not know");
    }

    void addSource(Scope& scope, const ScopeSource& s) {
        for (const ScopeSource& other : scope.sources)
            if (same(other.key, s.key)) refuse("names " + bracketed(s.key) + " twice among its sources");
        scope.sources.push_back(s);
    }

    // ---- names --------------------------------------------------------------------

    static bool formReference(const Expr& e) {
        if (e.parts.size() < 2) return false;
        const std::string first = upper(e.parts[0]);
        return first == "FORMS" || first == "REPORTS" || first == "SCREEN" || first == "PARENT" || first == "ME";
    }

    static std::string writtenName(const Expr& e) {
        std::string out;
        for (size_t i = 0; i < e.parts.size(); ++i) {
            if (i) out += e.bangs[i - 1] ? "!" : ".";
            out += bracketed(e.parts[i]);
        }
        return out;
    }

    static Value columnValue(const ScopeSource& s, const ViewColumn& c) {
        Value v;
        v.sql = s.sqlName + "." + QuoteIdentifier(c.name);
        v.kind = c.kind;
        v.column = c.name;
        v.sourceKey = s.key;
        return v;
    }

    Value name(const Expr& e, const Scope& scope) {
        if (formReference(e)) refuse("refers to the form control " + writtenName(e));
        if (e.parts.size() == 1) {
            for (const Scope* sc = &scope; sc; sc = sc->outer) {
                const ScopeSource* found = nullptr;
                const ViewColumn* column = nullptr;
                for (const ScopeSource& s : sc->sources) {
                    for (const ViewColumn& c : s.columns) {
                        if (!same(c.name, e.parts[0])) continue;
                        if (found) refuse("names " + bracketed(e.parts[0]) + ", a field of more than one of its tables");
                        found = &s;
                        column = &c;
                    }
                }
                if (found) {
                    markUsed(found->key);
                    return columnValue(*found, *column);
                }
                // An alias of the select list stands for its expression.
                if (sc->items) {
                    for (const OutputItem& item : *sc->items) {
                        if (!same(item.name, e.parts[0])) continue;
                        Value v = item.value;
                        v.sql = "(" + v.sql + ")";
                        v.column.clear();
                        return v;
                    }
                }
            }
            refuse("asks for the parameter " + bracketed(e.parts[0]) + " when it runs (no source has such a field)");
        }
        if (e.parts.size() == 2) {
            for (const Scope* sc = &scope; sc; sc = sc->outer) {
                for (const ScopeSource& s : sc->sources) {
                    if (!same(s.key, e.parts[0])) continue;
                    for (const ViewColumn& c : s.columns) {
                        if (!same(c.name, e.parts[1])) continue;
                        markUsed(s.key);
                        return columnValue(s, c);
                    }
                    refuse("asks for the parameter " + writtenName(e) + " when it runs (" + bracketed(s.key) +
                           " has no such field)");
                }
            }
            refuse("asks for the parameter " + writtenName(e) + " when it runs (no source is called " +
                   bracketed(e.parts[0]) + ")");
        }
        refuse("refers to " + writtenName(e) + ", which is no field of its sources");
    }

    void markUsed(const std::string& key) {
        if (usedSources_) usedSources_->insert(upper(key));
    }

    // ---- expressions --------------------------------------------------------------

    Value literal(const Expr& e) {
        Value v;
        v.constant = true;
        switch (e.kind) {
            case Expr::Number:
                v.sql = e.text;
                v.kind = e.text.find_first_of(".eE") == std::string::npos ? ValueKind::Integer : ValueKind::Real;
                if (v.sql.front() == '.') v.sql = "0" + v.sql;
                if (v.sql.back() == '.') v.sql += "0";
                return v;
            case Expr::String:
                v.sql = quoteText(e.text);
                v.kind = ValueKind::Text;
                return v;
            case Expr::DateLit: {
                const std::optional<std::string> text = AccessDateLiteralText(e.text);
                if (!text) refuse("has the date #" + e.text + "#, which Access reads by the computer's settings");
                v.sql = quoteText(*text);
                v.kind = ValueKind::Date;
                return v;
            }
            case Expr::Boolean:
                v.sql = e.number != 0 ? "1" : "0";
                v.kind = ValueKind::Boolean;
                return v;
            default: return nullValue();
        }
    }

    // Some forms repeat their operands (rounding, Int, Right...): nested deep,
    // the text would grow without bound.
    static constexpr size_t kMaxExpressionSql = 1u << 20;

    Value expr(const Expr& e, const Scope& scope) {
        Value v = expression(e, scope);
        if (v.sql.size() > kMaxExpressionSql) refuse("has an expression too long to translate");
        return v;
    }

    Value expression(const Expr& e, const Scope& scope) {
        switch (e.kind) {
            case Expr::Number:
            case Expr::String:
            case Expr::DateLit:
            case Expr::Boolean:
            case Expr::Null: return literal(e);
            case Expr::Name: return name(e, scope);
            case Expr::Star: refuse("uses * outside Count(*)");
            case Expr::Unary: return unary(e, scope);
            case Expr::Binary: return binary(e, scope);
            case Expr::Between: return between(e, scope);
            case Expr::In: return in(e, scope);
            case Expr::IsNull: {
                Value a = expr(*e.args[0], scope);
                return boolean("(" + a.sql + (e.negated ? " IS NOT NULL)" : " IS NULL)"), a);
            }
            case Expr::Like: return like(e, scope);
            case Expr::Call: return call(e, scope);
            case Expr::Subquery: {
                SelectResult r = select(*e.subquery, &scope);
                if (r.columns.size() != 1) refuse("uses a subquery of more than one column as a value");
                Value v;
                v.sql = "(" + r.sql + ")";
                v.kind = r.columns[0].kind;
                return v;
            }
            case Expr::Exists: {
                SelectResult r = select(*e.subquery, &scope);
                Value v;
                v.sql = "EXISTS (" + r.sql + ")";
                v.kind = ValueKind::Boolean;
                return v;
            }
        }
        refuse("uses an expression this reader does not know");
    }

    static Value boolean(std::string sql, const Value& from) {
        Value v;
        v.sql = std::move(sql);
        v.kind = ValueKind::Boolean;
        v.aggregate = from.aggregate;
        return v;
    }
    static Value boolean(std::string sql, const Value& a, const Value& b) {
        Value v = boolean(std::move(sql), a);
        v.aggregate = a.aggregate || b.aggregate;
        return v;
    }

    // A condition: a Yes/No value (or NULL).
    static const Value& condition(const Value& v, const char* where) {
        if (v.kind != ValueKind::Boolean && !v.isNull)
            refuse(std::string("uses ") + kindName(v.kind) + " as a condition in " + where);
        return v;
    }

    Value unary(const Expr& e, const Scope& scope) {
        Value a = expr(*e.args[0], scope);
        if (e.op == "NOT") {
            // Not of a number is bitwise in Access.
            condition(a, "Not");
            return boolean("(NOT " + a.sql + ")", a);
        }
        Value v;
        v.sql = "(-" + num(a, "a negation") + ")";
        v.kind = a.kind == ValueKind::Integer || a.kind == ValueKind::Boolean ? ValueKind::Integer : ValueKind::Real;
        v.aggregate = a.aggregate;
        return v;
    }

    // The SQLite comparison of two values as Access compares them.
    Value compare(const std::string& op, const Value& a, const Value& b) {
        const std::string sqlOp = op;
        if (a.isNull || b.isNull) return boolean("(" + a.sql + " " + sqlOp + " " + b.sql + ")", a, b);
        const ValueKind ka = a.kind, kb = b.kind;
        if (ka == ValueKind::Boolean && kb == ValueKind::Boolean)
            return boolean("(" + a.sql + " " + sqlOp + " " + b.sql + ")", a, b);
        if ((numeric(ka) || ka == ValueKind::Boolean) && (numeric(kb) || kb == ValueKind::Boolean))
            return boolean("(" + num(a, "a comparison") + " " + sqlOp + " " + num(b, "a comparison") + ")", a, b);
        if (ka == ValueKind::Text && kb == ValueKind::Text)
            return boolean("(" + a.sql + " " + sqlOp + " " + b.sql + " COLLATE NOCASE)", a, b);
        if (ka == ValueKind::Date && kb == ValueKind::Date)
            return boolean("(" + a.sql + " " + sqlOp + " " + b.sql + ")", a, b);
        if (ka == ValueKind::Date && numeric(kb))
            return boolean("(" + dayNumber(a) + " " + sqlOp + " " + num(b, "a comparison") + ")", a, b);
        if (numeric(ka) && kb == ValueKind::Date)
            return boolean("(" + num(a, "a comparison") + " " + sqlOp + " " + dayNumber(b) + ")", a, b);
        refuse(std::string("compares ") + kindName(ka) + " with " + kindName(kb));
    }

    Value binary(const Expr& e, const Scope& scope) {
        const std::string& op = e.op;
        if (op == "&") return concatenation(e, scope);
        Value a = expr(*e.args[0], scope);
        Value b = expr(*e.args[1], scope);
        if (op == "AND" || op == "OR") {
            // And and Or of numbers are bitwise in Access.
            condition(a, op.c_str());
            condition(b, op.c_str());
            return boolean("(" + a.sql + " " + op + " " + b.sql + ")", a, b);
        }
        if (op == "XOR" || op == "EQV") {
            condition(a, op.c_str());
            condition(b, op.c_str());
            return boolean("(" + a.sql + (op == "XOR" ? " <> " : " = ") + b.sql + ")", a, b);
        }
        if (op == "IMP") refuse("uses Imp");
        if (op == "=" || op == "<>" || op == "<" || op == "<=" || op == ">" || op == ">=") return compare(op, a, b);
        Value v;
        v.aggregate = a.aggregate || b.aggregate;
        if ((op == "+" || op == "-") && (a.kind == ValueKind::Date || b.kind == ValueKind::Date)) {
            // Date arithmetic counts days.
            if (op == "-" && a.kind == ValueKind::Date && b.kind == ValueKind::Date) {
                v.sql = "(julianday(" + a.sql + ") - julianday(" + b.sql + "))";
                v.kind = ValueKind::Real;
                return v;
            }
            const Value& date = a.kind == ValueKind::Date ? a : b;
            const Value& days = a.kind == ValueKind::Date ? b : a;
            if (op == "-" && b.kind == ValueKind::Date) refuse("subtracts a date from a number");
            v.sql = "datetime(julianday(" + date.sql + ") " + op + " " + num(days, "date arithmetic") + ")";
            v.kind = ValueKind::Date;
            return v;
        }
        if (op == "+" && a.kind == ValueKind::Text && b.kind == ValueKind::Text) {
            // + of two texts joins them, Null when either is Null.
            v.sql = "(" + a.sql + " || " + b.sql + ")";
            v.kind = ValueKind::Text;
            return v;
        }
        if (op == "+" || op == "-" || op == "*") {
            v.sql = "(" + num(a, "arithmetic") + " " + op + " " + num(b, "arithmetic") + ")";
            v.kind = numberKind(a, b);
            return v;
        }
        if (op == "/") {
            // Access divides in floating point, SQLite's integers would not.
            v.sql = "(" + num(a, "a division") + " * 1.0 / " + num(b, "a division") + ")";
            v.kind = ValueKind::Real;
            return v;
        }
        if (op == "\\" || op == "MOD") {
            // Access rounds the operands to whole numbers first; whole numbers
            // divide the same in SQLite.
            if (numberKind(a, b) != ValueKind::Integer) refuse("uses " + std::string(op == "MOD" ? "Mod" : "\\") + " with fractional numbers");
            v.sql = "(" + num(a, "arithmetic") + (op == "MOD" ? " % " : " / ") + num(b, "arithmetic") + ")";
            v.kind = ValueKind::Integer;
            return v;
        }
        if (op == "^") refuse("uses ^, which SQLite has no operator for");
        refuse("uses the operator " + op);
    }

    // a & b & c: text joined, Null taken as "", Null only when all are.
    Value concatenation(const Expr& e, const Scope& scope) {
        std::vector<const Expr*> operands;
        std::vector<const Expr*> stack{&e};
        while (!stack.empty()) {
            const Expr* x = stack.back();
            stack.pop_back();
            if (x->kind == Expr::Binary && x->op == "&") {
                stack.push_back(x->args[1].get());
                stack.push_back(x->args[0].get());
            } else {
                operands.push_back(x);
            }
        }
        Value v;
        v.kind = ValueKind::Text;
        bool neverNull = false;
        size_t columns = 0;
        std::string joined, all;
        for (const Expr* x : operands) {
            Value o = expr(*x, scope);
            v.aggregate = v.aggregate || o.aggregate;
            if (o.isNull) continue;
            if (o.kind != ValueKind::Text && o.kind != ValueKind::Integer)
                refuse(std::string("joins ") + kindName(o.kind) + " with &, which Access writes as the computer's settings say");
            if (o.constant) neverNull = true;
            joined += (joined.empty() ? "" : " || ") + (o.constant ? o.sql : "ifnull(" + o.sql + ", '')");
            if (!o.constant) all += (all.empty() ? "" : ", ") + o.sql, ++columns;
        }
        if (joined.empty()) return nullValue();
        if (neverNull || all.empty()) {
            v.sql = "(" + joined + ")";
        } else {
            v.sql = "(CASE WHEN coalesce(" + all + (columns == 1 ? ", NULL" : "") + ") IS NULL THEN NULL ELSE " + joined +
                    " END)";
        }
        return v;
    }

    Value between(const Expr& e, const Scope& scope) {
        Value a = expr(*e.args[0], scope);
        Value low = expr(*e.args[1], scope);
        Value high = expr(*e.args[2], scope);
        compare(">=", a, low);  // the kinds must compare
        compare("<=", a, high);
        std::string left, lo, hi;
        bool ordered = a.kind != ValueKind::Text;  // min() and max() of the bounds compare them
        if (a.isNull) {
            left = a.sql, lo = low.sql, hi = high.sql;
        } else if (a.kind == ValueKind::Text) {
            left = a.sql + " COLLATE NOCASE", lo = low.sql, hi = high.sql;
        } else if (a.kind == ValueKind::Date) {
            const bool days = numeric(low.kind) || numeric(high.kind);
            left = days ? dayNumber(a) : a.sql;
            lo = low.kind == ValueKind::Date && days ? dayNumber(low) : days && !low.isNull ? num(low, "Between") : low.sql;
            hi = high.kind == ValueKind::Date && days ? dayNumber(high) : days && !high.isNull ? num(high, "Between") : high.sql;
        } else {
            left = num(a, "Between");
            lo = low.kind == ValueKind::Date ? dayNumber(low) : num(low, "Between");
            hi = high.kind == ValueKind::Date ? dayNumber(high) : num(high, "Between");
        }
        // Access takes the bounds in either order.
        if (ordered && !low.isNull && !high.isNull) {
            if (low.constant && high.constant) {
                const bool swap = low.kind == ValueKind::Date && high.kind == ValueKind::Date
                                      ? low.sql > high.sql
                                      : numeric(low.kind) && numeric(high.kind) && std::stod(low.sql) > std::stod(high.sql);
                if (swap) std::swap(lo, hi);
            } else {
                const std::string l = lo;
                lo = "min(" + l + ", " + hi + ")";
                hi = "max(" + l + ", " + hi + ")";
            }
        }
        Value v = boolean("(" + left + (e.negated ? " NOT" : "") + " BETWEEN " + lo + " AND " + hi + ")", a, low);
        v.aggregate = a.aggregate || low.aggregate || high.aggregate;
        return v;
    }

    Value in(const Expr& e, const Scope& scope) {
        Value a = expr(*e.args[0], scope);
        // The left value's form, and each item's beside it.
        auto itemForm = [&](const Value& item) {
            if (item.isNull || a.isNull) return item.sql;
            if (a.kind == ValueKind::Text) {
                if (item.kind != ValueKind::Text) refuse(std::string("looks for ") + kindName(item.kind) + " among texts");
                return item.sql;
            }
            if (a.kind == ValueKind::Date) {
                if (item.kind != ValueKind::Date) refuse(std::string("looks for ") + kindName(item.kind) + " among dates");
                return item.sql;
            }
            compare("=", a, item);
            return num(item, "In");
        };
        std::string items;
        if (e.subquery) {
            SelectResult r = select(*e.subquery, &scope);
            if (r.columns.size() != 1) refuse("uses In with a subquery of more than one column");
            Value column;
            column.kind = r.columns[0].kind;
            column.sql = "x";
            if (itemForm(column) != "x") refuse("uses In with a subquery of " + std::string(kindName(column.kind)) + " values");
            items = r.sql;
        } else {
            for (size_t k = 1; k < e.args.size(); ++k)
                items += (items.empty() ? "" : ", ") + itemForm(expr(*e.args[k], scope));
        }
        std::string left = a.sql;
        if (a.kind == ValueKind::Text) left += " COLLATE NOCASE";
        else if (a.kind != ValueKind::Date && !a.isNull) left = num(a, "In");
        return boolean("(" + left + (e.negated ? " NOT IN (" : " IN (") + items + "))", a);
    }

    // Access patterns: * any text, ? one character, # one digit, [abc] [a-c]
    // [!abc] a character (not) in the list. Both sides ignore case.
    Value like(const Expr& e, const Scope& scope) {
        Value a = expr(*e.args[0], scope);
        Value p = expr(*e.args[1], scope);
        if (a.isNull || p.isNull) return boolean("NULL", a);
        if (a.kind != ValueKind::Text) refuse(std::string("uses Like with ") + kindName(a.kind));
        if (!p.constant || p.kind != ValueKind::Text)
            refuse("uses Like with a pattern that is not a literal text");
        const std::string& pattern = e.args[1]->text;
        const bool needsGlob = pattern.find_first_of("#[") != std::string::npos;
        if (!needsGlob) {
            std::string out;
            for (char c : pattern) {
                if (c == '*') out += '%';
                else if (c == '?') out += '_';
                else if (c == '%' || c == '_' || c == '\\') out += '\\', out += c;
                else out += c;
            }
            return boolean("(" + a.sql + (e.negated ? " NOT" : "") + " LIKE " + quoteText(out) + " ESCAPE '\\')", a);
        }
        // GLOB has character lists and is exact about case: both sides upper case.
        std::string out;
        for (size_t i = 0; i < pattern.size(); ++i) {
            const char c = pattern[i];
            if (c == '#') {
                out += "[0-9]";
            } else if (c == '[') {
                const size_t end = pattern.find(']', i + 1);
                if (end == std::string::npos) refuse("uses Like with an unclosed [");
                std::string list = pattern.substr(i + 1, end - i - 1);
                if (list.empty()) refuse("uses Like with an empty []");
                if (list[0] == '!') list[0] = '^';
                out += "[" + upper(list) + "]";
                i = end;
            } else {
                out += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            }
        }
        return boolean("(" + std::string(e.negated ? "NOT " : "") + "upper(" + a.sql + ") GLOB " + quoteText(out) + ")", a);
    }

    // ---- functions ----------------------------------------------------------------

    static const std::set<std::string>& accessFunctions() {
        static const std::set<std::string> names = {
            "ABS", "ASC", "ASCW", "ATN", "AVG", "CBOOL", "CBYTE", "CCUR", "CDATE", "CDBL", "CDEC", "CHOOSE", "CHR",
            "CHRW", "CINT", "CLNG", "COS", "COUNT", "CSNG", "CSTR", "CURRENTUSER", "CVAR", "CVDATE", "DATE",
            "DATEADD", "DATEDIFF", "DATEPART", "DATESERIAL", "DATEVALUE", "DAVG", "DAY", "DCOUNT", "DDB", "DFIRST",
            "DLAST", "DLOOKUP", "DMAX", "DMIN", "DSTDEV", "DSTDEVP", "DSUM", "DVAR", "DVARP", "ENVIRON", "EVAL", "EXP",
            "FIRST", "FIX", "FORMAT", "FORMATCURRENCY", "FORMATDATETIME", "FORMATNUMBER", "FORMATPERCENT", "FV",
            "HEX", "HOUR", "IIF", "INSTR", "INSTRREV", "INT", "IPMT", "IRR", "ISDATE", "ISEMPTY", "ISERROR", "ISNULL",
            "ISNUMERIC", "LAST", "LCASE", "LEFT", "LEN", "LOG", "LTRIM", "MAX", "MID", "MIN", "MINUTE", "MIRR",
            "MONTH", "MONTHNAME", "NOW", "NPER", "NPV", "NZ", "OCT", "PARTITION", "PMT", "PPMT", "PV", "RATE",
            "REPLACE", "RGB", "RIGHT", "RND", "ROUND", "RTRIM", "SECOND", "SGN", "SIN", "SLN", "SPACE", "SQR",
            "STDEV", "STDEVP", "STR", "STRCOMP", "STRCONV", "STRING", "STRREVERSE", "SUM", "SWITCH", "SYD", "TAN",
            "TIME", "TIMER", "TIMESERIAL", "TIMEVALUE", "TRIM", "TYPENAME", "UCASE", "VAL", "VAR", "VARP",
            "VARTYPE", "WEEKDAY", "WEEKDAYNAME", "YEAR"};
        return names;
    }

    void arity(const Expr& e, size_t least, size_t most) {
        if (e.args.size() < least || e.args.size() > most)
            refuse("calls " + e.text + " with " + std::to_string(e.args.size()) + " arguments");
    }

    std::vector<Value> arguments(const Expr& e, const Scope& scope, Value& result) {
        std::vector<Value> out;
        for (const ExprPtr& a : e.args) {
            out.push_back(expr(*a, scope));
            result.aggregate = result.aggregate || out.back().aggregate;
        }
        return out;
    }

    static const Value& text(const Value& v, const std::string& fn) {
        if (v.kind != ValueKind::Text && !v.isNull) refuse("calls " + fn + " with " + kindName(v.kind));
        return v;
    }
    static const Value& date(const Value& v, const std::string& fn) {
        if (v.kind != ValueKind::Date && !v.isNull) refuse("calls " + fn + " with " + kindName(v.kind));
        return v;
    }
    static long long integerLiteral(const Value& v, const std::string& fn) {
        if (!v.constant || v.kind != ValueKind::Integer) refuse("calls " + fn + " with an argument that is not a whole number");
        return std::stoll(v.sql);
    }
    static std::string stringLiteral(const Expr& e, const std::string& fn) {
        if (e.kind != Expr::String) refuse("calls " + fn + " with an argument that is not a literal text");
        return e.text;
    }

    // Round half to even, as Access's Round, CInt, CLng and CCur do, to
    // `digits` decimals.
    static std::string roundHalfEven(const std::string& x, long long digits) {
        const std::string scale = digits == 0 ? "" : " * 1e" + std::to_string(digits);
        const std::string s = "(" + x + scale + ")";
        // round() takes a half away from zero; an odd result of a half goes
        // back by one towards zero.
        const std::string r = "round(" + s + ")";
        const std::string even = "(" + r + " - (abs(" + r + " - " + s + ") = 0.5) * (CAST(" + r + " AS INTEGER) % 2))";
        if (digits == 0) return "CAST(" + even + " AS INTEGER)";
        const std::string& r2 = even;
        return "(" + r2 + " / 1e" + std::to_string(digits) + ")";
    }

    static std::string datePartSql(const std::string& interval, const std::string& d, const std::string& fn) {
        const std::string i = upper(interval);
        auto part = [&](const char* f) { return "CAST(strftime('" + std::string(f) + "', " + d + ") AS INTEGER)"; };
        if (i == "YYYY") return part("%Y");
        if (i == "Q") return "((" + part("%m") + " + 2) / 3)";
        if (i == "M") return part("%m");
        if (i == "Y") return part("%j");
        if (i == "D") return part("%d");
        if (i == "W") return "(" + part("%w") + " + 1)";
        if (i == "H") return part("%H");
        if (i == "N") return part("%M");
        if (i == "S") return part("%S");
        refuse("calls " + fn + " with the interval \"" + interval + "\"");
    }

    // Format(date, "pattern") for the patterns whose parts have fixed forms.
    static std::string formatDate(const std::string& d, const std::string& pattern) {
        std::vector<std::string> pieces;
        std::string literalText;
        auto flush = [&] {
            if (!literalText.empty()) pieces.push_back(quoteText(literalText));
            literalText.clear();
        };
        auto part = [&](const char* f, bool leadingZero) {
            flush();
            const std::string s = "strftime('" + std::string(f) + "', " + d + ")";
            pieces.push_back(leadingZero ? s : "CAST(" + s + " AS INTEGER)");
        };
        const std::string p = pattern;
        bool afterHour = false;
        for (size_t i = 0; i < p.size();) {
            auto run = [&](char c) {
                size_t n = 0;
                while (i + n < p.size() && std::tolower(static_cast<unsigned char>(p[i + n])) == c) ++n;
                return n;
            };
            const char c = static_cast<char>(std::tolower(static_cast<unsigned char>(p[i])));
            size_t n = 0;
            if (c == 'y') {
                n = run('y');
                if (n == 4) {
                    part("%Y", true);
                } else if (n == 2) {
                    flush();
                    pieces.push_back("substr(strftime('%Y', " + d + "), 3, 2)");
                } else {
                    refuse("calls Format with the date pattern \"" + pattern + "\"");
                }
            } else if (c == 'm') {
                n = run('m');
                if (n > 2) refuse("calls Format with month names (\"" + pattern + "\"), which depend on the language");
                // m after h is the minute in Access's patterns.
                part(afterHour ? "%M" : "%m", n == 2);
            } else if (c == 'd') {
                n = run('d');
                if (n > 2) refuse("calls Format with day names (\"" + pattern + "\"), which depend on the language");
                part("%d", n == 2);
            } else if (c == 'h') {
                n = run('h');
                if (n > 2) refuse("calls Format with the pattern \"" + pattern + "\"");
                part("%H", n == 2);
                afterHour = true;
                i += n;
                continue;
            } else if (c == 'n') {
                n = run('n');
                if (n > 2) refuse("calls Format with the pattern \"" + pattern + "\"");
                part("%M", n == 2);
            } else if (c == 's') {
                n = run('s');
                if (n > 2) refuse("calls Format with the pattern \"" + pattern + "\"");
                part("%S", n == 2);
            } else if (c == 'q') {
                n = 1;
                flush();
                pieces.push_back("((CAST(strftime('%m', " + d + ") AS INTEGER) + 2) / 3)");
            } else if (c == '\\' && i + 1 < p.size()) {
                literalText += p[i + 1];
                n = 2;
            } else if (c == '"') {
                const size_t end = p.find('"', i + 1);
                if (end == std::string::npos) refuse("calls Format with an unclosed quote");
                literalText += p.substr(i + 1, end - i - 1);
                n = end - i + 1;
            } else if (c == '-' || c == ' ' || c == '.' || c == ',' || c == '/' || c == ':') {
                // The separators are taken as written (/ and : as in the
                // United States settings).
                literalText += p[i];
                n = 1;
            } else {
                refuse("calls Format with the pattern \"" + pattern + "\"");
            }
            afterHour = afterHour && c != 'm' ? true : (c == 'h');
            i += n;
        }
        flush();
        if (pieces.empty()) refuse("calls Format with an empty pattern");
        std::string out;
        for (const std::string& piece : pieces) out += (out.empty() ? "" : " || ") + piece;
        return "(" + out + ")";
    }

    Value call(const Expr& e, const Scope& scope) {
        const std::string fn = upper(e.text);
        Value v;
        // Aggregates
        if (fn == "SUM" || fn == "AVG" || fn == "COUNT" || fn == "MIN" || fn == "MAX") {
            arity(e, 1, 1);
            if (!scope.allowAggregates) refuse("uses " + e.text + " where an aggregate is not allowed");
            v.aggregate = true;
            if (fn == "COUNT" && e.args[0]->kind == Expr::Star) {
                v.sql = "count(*)";
                v.kind = ValueKind::Integer;
                return v;
            }
            Scope inner = scope;
            inner.allowAggregates = false;
            Value a = expr(*e.args[0], inner);
            if (fn == "COUNT") {
                v.sql = "count(" + a.sql + ")";
                v.kind = ValueKind::Integer;
            } else if (fn == "SUM") {
                v.sql = "sum(" + num(a, "Sum") + ")";
                v.kind = a.kind == ValueKind::Integer || a.kind == ValueKind::Boolean ? ValueKind::Integer : ValueKind::Real;
            } else if (fn == "AVG") {
                v.sql = "avg(" + num(a, "Avg") + ")";
                v.kind = ValueKind::Real;
            } else {
                const std::string f = fn == "MIN" ? "min" : "max";
                if (a.kind == ValueKind::Text) {
                    v.sql = f + "(" + a.sql + " COLLATE NOCASE)";
                    v.kind = ValueKind::Text;
                } else if (a.kind == ValueKind::Date) {
                    v.sql = f + "(" + a.sql + ")";
                    v.kind = ValueKind::Date;
                } else {
                    v.sql = f + "(" + num(a, e.text.c_str()) + ")";
                    v.kind = a.kind == ValueKind::Integer || a.kind == ValueKind::Boolean ? ValueKind::Integer : ValueKind::Real;
                }
            }
            return v;
        }
        if (fn == "FIRST" || fn == "LAST" || fn == "STDEV" || fn == "STDEVP" || fn == "VAR" || fn == "VARP")
            refuse("uses the aggregate " + e.text + ", which SQLite has no equal of");
        if (fn.size() > 1 && fn[0] == 'D' && (fn == "DLOOKUP" || fn == "DSUM" || fn == "DCOUNT" || fn == "DAVG" ||
                                             fn == "DMIN" || fn == "DMAX" || fn == "DFIRST" || fn == "DLAST" ||
                                             fn == "DSTDEV" || fn == "DSTDEVP" || fn == "DVAR" || fn == "DVARP"))
            refuse("uses " + e.text + ", which looks its values up when it runs");

        if (fn == "DATE" || fn == "NOW" || fn == "TIME") {
            arity(e, 0, 0);
            v.kind = ValueKind::Date;
            v.sql = fn == "DATE" ? "(date('now', 'localtime') || ' 00:00:00')"
                    : fn == "NOW" ? "datetime('now', 'localtime')"
                                  : "('1899-12-30 ' || time('now', 'localtime'))";
            return v;
        }
        if (!accessFunctions().count(fn)) refuse("calls " + e.text + ", a function of the database's VBA code");

        std::vector<Value> a = arguments(e, scope, v);
        auto sqlOf = [&](size_t i) { return a[i].sql; };
        if (fn == "LEFT" || fn == "RIGHT") {
            arity(e, 2, 2);
            text(a[0], e.text);
            const std::string n = num(a[1], e.text.c_str());
            v.kind = ValueKind::Text;
            v.sql = fn == "LEFT" ? "substr(" + sqlOf(0) + ", 1, " + n + ")"
                                 : "substr(" + sqlOf(0) + ", max(length(" + sqlOf(0) + ") - " + n + " + 1, 1))";
            return v;
        }
        if (fn == "MID") {
            arity(e, 2, 3);
            text(a[0], e.text);
            v.kind = ValueKind::Text;
            v.sql = "substr(" + sqlOf(0) + ", " + num(a[1], "Mid") + (a.size() == 3 ? ", " + num(a[2], "Mid") : "") + ")";
            return v;
        }
        if (fn == "LEN" || fn == "UCASE" || fn == "LCASE" || fn == "TRIM" || fn == "LTRIM" || fn == "RTRIM") {
            arity(e, 1, 1);
            text(a[0], e.text);
            static const std::pair<const char*, const char*> kNames[] = {
                {"LEN", "length"}, {"UCASE", "upper"}, {"LCASE", "lower"},
                {"TRIM", "trim"},  {"LTRIM", "ltrim"}, {"RTRIM", "rtrim"}};
            for (const auto& [access, sqlite] : kNames)
                if (fn == access) v.sql = std::string(sqlite) + "(" + sqlOf(0) + ")";
            v.kind = fn == "LEN" ? ValueKind::Integer : ValueKind::Text;
            return v;
        }
        if (fn == "INSTR") {
            if (a.size() != 2) refuse("calls InStr with a start position or a comparison mode");
            text(a[0], e.text);
            text(a[1], e.text);
            v.kind = ValueKind::Integer;
            v.sql = "instr(upper(" + sqlOf(0) + "), upper(" + sqlOf(1) + "))";
            return v;
        }
        if (fn == "NZ") {
            arity(e, 1, 2);
            const Value& x = a[0];
            if (a.size() == 1) {
                // Nz without a default gives "" for a text and 0 for a number.
                if (x.kind == ValueKind::Text) v.sql = "ifnull(" + x.sql + ", '')", v.kind = ValueKind::Text;
                else if (numeric(x.kind)) v.sql = "ifnull(" + num(x, "Nz") + ", 0)", v.kind = numberKind(x, x);
                else refuse(std::string("calls Nz without a default on ") + kindName(x.kind));
                return v;
            }
            const Value& y = a[1];
            if (x.kind == y.kind && !numeric(x.kind)) {
                v.sql = "ifnull(" + x.sql + ", " + y.sql + ")";
                v.kind = x.kind;
            } else if ((numeric(x.kind) || x.kind == ValueKind::Boolean) && (numeric(y.kind) || y.kind == ValueKind::Boolean)) {
                v.sql = "ifnull(" + num(x, "Nz") + ", " + num(y, "Nz") + ")";
                v.kind = numberKind(x, y);
            } else if (y.isNull) {
                v.sql = x.sql;
                v.kind = x.kind;
            } else {
                refuse(std::string("calls Nz with ") + kindName(x.kind) + " and " + kindName(y.kind));
            }
            return v;
        }
        if (fn == "ISNULL") {
            arity(e, 1, 1);
            return boolean("(" + sqlOf(0) + " IS NULL)", a[0]);
        }
        if (fn == "IIF") {
            arity(e, 3, 3);
            condition(a[0], "IIf");
            const Value& x = a[1];
            const Value& y = a[2];
            std::string sx = x.sql, sy = y.sql;
            if (x.kind == y.kind || y.isNull || x.isNull) {
                v.kind = x.isNull ? y.kind : x.kind;
                if (v.kind == ValueKind::Currency || v.kind == ValueKind::Decimal) {
                    sx = num(x, "IIf");
                    sy = num(y, "IIf");
                    v.kind = ValueKind::Real;
                }
            } else if ((numeric(x.kind) || x.kind == ValueKind::Boolean) && (numeric(y.kind) || y.kind == ValueKind::Boolean)) {
                sx = num(x, "IIf");
                sy = num(y, "IIf");
                v.kind = numberKind(x, y);
            } else {
                refuse(std::string("calls IIf with ") + kindName(x.kind) + " and " + kindName(y.kind));
            }
            v.sql = "iif(" + sqlOf(0) + ", " + sx + ", " + sy + ")";
            return v;
        }
        if (fn == "SWITCH") {
            if (a.empty() || a.size() % 2) refuse("calls Switch without pairs");
            ValueKind kind = ValueKind::Unknown;
            std::string out = "(CASE";
            for (size_t i = 0; i < a.size(); i += 2) {
                condition(a[i], "Switch");
                if (!a[i + 1].isNull) {
                    if (kind != ValueKind::Unknown && kind != a[i + 1].kind) refuse("calls Switch with values of several types");
                    kind = a[i + 1].kind;
                }
                out += " WHEN " + a[i].sql + " THEN " + a[i + 1].sql;
            }
            v.sql = out + " END)";
            v.kind = kind;
            return v;
        }
        if (fn == "CHOOSE") {
            if (a.size() < 2) refuse("calls Choose without choices");
            ValueKind kind = ValueKind::Unknown;
            std::string out = "(CASE " + roundHalfEven(num(a[0], "Choose"), 0);
            for (size_t i = 1; i < a.size(); ++i) {
                if (!a[i].isNull) {
                    if (kind != ValueKind::Unknown && kind != a[i].kind) refuse("calls Choose with values of several types");
                    kind = a[i].kind;
                }
                out += " WHEN " + std::to_string(i) + " THEN " + a[i].sql;
            }
            v.sql = out + " END)";
            v.kind = kind;
            return v;
        }
        if (fn == "ABS") {
            arity(e, 1, 1);
            v.sql = "abs(" + num(a[0], "Abs") + ")";
            v.kind = numberKind(a[0], a[0]);
            return v;
        }
        if (fn == "SGN") {
            arity(e, 1, 1);
            const std::string x = num(a[0], "Sgn");
            v.sql = "(CASE WHEN " + x + " > 0 THEN 1 WHEN " + x + " < 0 THEN -1 WHEN " + x + " = 0 THEN 0 END)";
            v.kind = ValueKind::Integer;
            return v;
        }
        if (fn == "INT" || fn == "FIX") {
            arity(e, 1, 1);
            const std::string x = num(a[0], e.text.c_str());
            v.kind = ValueKind::Integer;
            if (a[0].kind == ValueKind::Integer || a[0].kind == ValueKind::Boolean) v.sql = x;
            else if (fn == "FIX") v.sql = "CAST(" + x + " AS INTEGER)";
            else v.sql = "(CAST(" + x + " AS INTEGER) - (" + x + " < CAST(" + x + " AS INTEGER)))";
            return v;
        }
        if (fn == "ROUND") {
            arity(e, 1, 2);
            const long long digits = a.size() == 2 ? integerLiteral(a[1], "Round") : 0;
            if (digits < 0 || digits > 15) refuse("calls Round with " + std::to_string(digits) + " decimals");
            v.sql = roundHalfEven(num(a[0], "Round"), digits);
            v.kind = digits == 0 ? ValueKind::Integer : ValueKind::Real;
            return v;
        }
        if (fn == "CCUR") {
            arity(e, 1, 1);
            v.sql = roundHalfEven(num(a[0], "CCur"), 4);
            v.kind = ValueKind::Real;
            return v;
        }
        if (fn == "CDBL" || fn == "CSNG") {
            arity(e, 1, 1);
            v.sql = "CAST(" + num(a[0], e.text.c_str()) + " AS REAL)";
            v.kind = ValueKind::Real;
            return v;
        }
        if (fn == "CINT" || fn == "CLNG") {
            arity(e, 1, 1);
            v.sql = a[0].kind == ValueKind::Integer ? a[0].sql : roundHalfEven(num(a[0], e.text.c_str()), 0);
            v.kind = ValueKind::Integer;
            return v;
        }
        if (fn == "CSTR") {
            arity(e, 1, 1);
            if (a[0].kind == ValueKind::Text) v.sql = a[0].sql;
            else if (a[0].kind == ValueKind::Integer) v.sql = "CAST(" + a[0].sql + " AS TEXT)";
            else refuse(std::string("calls CStr with ") + kindName(a[0].kind) + ", which Access writes as the computer's settings say");
            v.kind = ValueKind::Text;
            return v;
        }
        if (fn == "CBOOL") {
            arity(e, 1, 1);
            return boolean("(" + num(a[0], "CBool") + " <> 0)", a[0]);
        }
        if (fn == "YEAR" || fn == "MONTH" || fn == "DAY" || fn == "HOUR" || fn == "MINUTE" || fn == "SECOND") {
            arity(e, 1, 1);
            date(a[0], e.text);
            static const std::pair<const char*, const char*> kParts[] = {{"YEAR", "yyyy"}, {"MONTH", "m"}, {"DAY", "d"},
                                                                         {"HOUR", "h"},    {"MINUTE", "n"}, {"SECOND", "s"}};
            for (const auto& [access, interval] : kParts)
                if (fn == access) v.sql = datePartSql(interval, sqlOf(0), e.text);
            v.kind = ValueKind::Integer;
            return v;
        }
        if (fn == "WEEKDAY") {
            arity(e, 1, 2);
            date(a[0], e.text);
            long long first = a.size() == 2 ? integerLiteral(a[1], "Weekday") : 1;
            if (first == 0) first = 1;  // the system's first day: Sunday in the United States settings
            if (first < 1 || first > 7) refuse("calls Weekday with the first day " + std::to_string(first));
            v.sql = "((CAST(strftime('%w', " + sqlOf(0) + ") AS INTEGER) - " + std::to_string(first - 1) + " + 7) % 7 + 1)";
            v.kind = ValueKind::Integer;
            return v;
        }
        if (fn == "DATEPART") {
            arity(e, 2, 4);
            const std::string interval = stringLiteral(*e.args[0], "DatePart");
            date(a[1], e.text);
            if (upper(interval) == "W" && a.size() >= 3 && integerLiteral(a[2], "DatePart") > 1)
                refuse("calls DatePart(\"w\") with a first day other than Sunday");
            if (upper(interval) == "WW") refuse("calls DatePart with the interval \"ww\", whose weeks depend on the settings");
            v.sql = datePartSql(interval, sqlOf(1), e.text);
            v.kind = ValueKind::Integer;
            return v;
        }
        if (fn == "DATESERIAL") {
            arity(e, 3, 3);
            for (const Value& x : a)
                if (x.kind != ValueKind::Integer && !x.isNull) refuse("calls DateSerial with " + std::string(kindName(x.kind)));
            // Years 0 to 29 are 2000 to 2029, 30 to 99 are 1930 to 1999.
            const std::string y = "(CASE WHEN " + sqlOf(0) + " BETWEEN 0 AND 29 THEN " + sqlOf(0) + " + 2000 WHEN " +
                                  sqlOf(0) + " BETWEEN 30 AND 99 THEN " + sqlOf(0) + " + 1900 ELSE " + sqlOf(0) + " END)";
            v.sql = "(date(printf('%04d-01-01', " + y + "), (" + sqlOf(1) + " - 1) || ' months', (" + sqlOf(2) +
                    " - 1) || ' days') || ' 00:00:00')";
            v.kind = ValueKind::Date;
            return v;
        }
        if (fn == "DATEADD") {
            arity(e, 3, 3);
            const std::string interval = upper(stringLiteral(*e.args[0], "DateAdd"));
            date(a[2], e.text);
            if (a[1].kind != ValueKind::Integer && !a[1].isNull) refuse("calls DateAdd with a count that is not whole");
            std::string unit, count = sqlOf(1);
            if (interval == "D" || interval == "Y" || interval == "W") unit = " days";
            else if (interval == "WW") unit = " days", count = "(" + count + ") * 7";
            else if (interval == "H") unit = " hours";
            else if (interval == "N") unit = " minutes";
            else if (interval == "S") unit = " seconds";
            else refuse("calls DateAdd with the interval \"" + interval + "\", whose month ends Access handles its own way");
            v.sql = "datetime(" + sqlOf(2) + ", (" + count + ") || '" + unit + "')";
            v.kind = ValueKind::Date;
            return v;
        }
        if (fn == "DATEDIFF") {
            arity(e, 3, 5);
            const std::string interval = upper(stringLiteral(*e.args[0], "DateDiff"));
            date(a[1], e.text);
            date(a[2], e.text);
            const std::string x = sqlOf(1), y = sqlOf(2);
            auto part = [&](const char* f, const std::string& d) { return "CAST(strftime('" + std::string(f) + "', " + d + ") AS INTEGER)"; };
            if (interval == "D" || interval == "Y")
                v.sql = "CAST(julianday(date(" + y + ")) - julianday(date(" + x + ")) AS INTEGER)";
            else if (interval == "YYYY")
                v.sql = "(" + part("%Y", y) + " - " + part("%Y", x) + ")";
            else if (interval == "M")
                v.sql = "((" + part("%Y", y) + " - " + part("%Y", x) + ") * 12 + " + part("%m", y) + " - " + part("%m", x) + ")";
            else if (interval == "Q")
                v.sql = "((" + part("%Y", y) + " - " + part("%Y", x) + ") * 4 + (" + part("%m", y) + " + 2) / 3 - (" +
                        part("%m", x) + " + 2) / 3)";
            else
                refuse("calls DateDiff with the interval \"" + interval + "\"");
            v.kind = ValueKind::Integer;
            return v;
        }
        if (fn == "FORMAT") {
            arity(e, 2, 2);
            if (a[0].kind != ValueKind::Date) refuse(std::string("calls Format with ") + kindName(a[0].kind) + ", which Access writes as the computer's settings say");
            v.sql = formatDate(sqlOf(0), stringLiteral(*e.args[1], "Format"));
            v.kind = ValueKind::Text;
            return v;
        }
        refuse("calls " + e.text + ", which SQLite has no equal of");
    }

    // ---- SELECT -------------------------------------------------------------------

    // The name Access gives an output column.
    std::string itemName(const SelectItem& item, const Value& v) {
        if (!item.alias.empty()) return item.alias;
        if (!v.column.empty()) return v.column;
        return "Expr" + std::to_string(1000 + exprCounter_++);
    }

    // The FROM clause's SQLite text; its sources join the scope.
    std::string fromClause(const Select& s, Scope& scope) {
        std::map<const Source*, std::string> texts;
        for (const auto& src : s.from) collectSources(*src, scope, texts);
        std::string from;
        for (const auto& src : s.from) from += (from.empty() ? "" : ", ") + writeSource(*src, scope, texts);
        return from;
    }

    // withOrder false: the ORDER BY is left out (a union part's order does
    // not matter).
    SelectResult select(const Select& s, const Scope* outer, bool withOrder = true) {
        if (++depth_ > 64) refuse("nests its subqueries too deeply");
        struct Leave {
            int& d;
            ~Leave() { --d; }
        } leave{depth_};
        if (!s.into.empty()) refuse("has a SELECT ... INTO inside");
        if (!s.fromDatabase.empty()) refuse("reads the tables of another database (IN '" + s.fromDatabase + "')");
        Scope scope;
        scope.outer = outer;
        const std::string from = fromClause(s, scope);

        // The select list; the sources it reads decide whether DISTINCTROW matters.
        std::set<std::string> used;
        std::set<std::string>* savedUsed = usedSources_;
        usedSources_ = &used;
        std::vector<OutputItem> items;
        scope.items = &items;
        bool anyAggregate = false;
        for (const SelectItem& item : s.items) {
            if (item.star) {
                bool found = item.starOf.empty();
                for (const ScopeSource& src : scope.sources) {
                    if (!item.starOf.empty() && !same(src.key, item.starOf)) continue;
                    found = true;
                    used.insert(upper(src.key));
                    for (const ViewColumn& c : src.columns) items.push_back({columnValue(src, c), c.name});
                }
                if (!found) refuse("asks for " + bracketed(item.starOf) + ".*, which is none of its sources");
                continue;
            }
            Value v = expr(*item.expr, scope);
            anyAggregate = anyAggregate || v.aggregate;
            items.push_back({v, itemName(item, v)});
        }
        // Aliases stand for their expressions in the select list only;
        // elsewhere Access asks for such a name as a parameter.
        scope.items = nullptr;
        usedSources_ = nullptr;
        struct Restore {
            std::set<std::string>*& member;
            std::set<std::string>* saved;
            ~Restore() { member = saved; }
        } restore{usedSources_, savedUsed};
        if (items.empty()) refuse("has no output columns");
        // Two columns of one name: Access calls each by its table.
        std::vector<bool> duplicate(items.size(), false);
        for (size_t i = 0; i < items.size(); ++i)
            for (size_t j = 0; j < items.size(); ++j)
                if (i != j && same(items[i].name, items[j].name)) duplicate[i] = true;
        for (size_t i = 0; i < items.size(); ++i)
            if (duplicate[i] && !items[i].value.column.empty() && same(items[i].name, items[i].value.column))
                items[i].name = items[i].value.sourceKey + "." + items[i].value.column;
        for (size_t i = 0; i < items.size(); ++i)
            for (size_t j = i + 1; j < items.size(); ++j)
                if (same(items[i].name, items[j].name)) refuse("has two output columns named " + bracketed(items[i].name));

        std::string where, group, having;
        if (s.where) {
            Scope w = scope;
            w.allowAggregates = false;
            where = condition(expr(*s.where, w), "WHERE").sql;
        }
        for (const ExprPtr& g : s.groupBy) {
            Scope gs = scope;
            gs.allowAggregates = false;
            Value v = expr(*g, gs);
            if (v.constant) continue;  // SQLite would read a number as a column position
            group += (group.empty() ? "" : ", ") + v.sql;
        }
        if (s.having) having = condition(expr(*s.having, scope), "HAVING").sql;
        std::vector<std::string> orderKeys;
        std::vector<Value> orderValues;
        const std::vector<OrderItem> noOrder;
        const std::vector<OrderItem>& orderBy = withOrder ? s.orderBy : noOrder;
        std::vector<bool> descending;
        for (const OrderItem& o : orderBy) {
            Value v = expr(*o.expr, scope);
            if (v.constant) continue;
            orderValues.push_back(v);
            descending.push_back(o.descending);
            orderKeys.push_back(orderKey(v) + (o.descending ? " DESC" : ""));
        }

        // DISTINCTROW removes rows whose records repeat: nothing when the
        // output reads every source (or there is one), else repeated rows.
        bool distinct = s.distinct;
        if (s.distinctRow && !s.distinct) {
            bool every = true;
            for (const ScopeSource& src : scope.sources) every = every && used.count(upper(src.key));
            // A grouped query's rows are distinct already.
            distinct = scope.sources.size() > 1 && !every && s.groupBy.empty() && !anyAggregate;
        }

        std::string list;
        for (const OutputItem& item : items)
            list += (list.empty() ? "" : ", ") + item.value.sql + " AS " + QuoteIdentifier(item.name);
        std::string tail;
        if (!from.empty()) tail += " FROM " + from;
        if (!where.empty()) tail += " WHERE " + where;
        if (!group.empty()) tail += " GROUP BY " + group;
        if (!having.empty()) tail += " HAVING " + having;

        SelectResult r;
        for (const OutputItem& item : items) r.columns.push_back({item.name, item.value.kind});
        std::string names;
        for (const OutputItem& item : items) names += (names.empty() ? "" : ", ") + QuoteIdentifier(item.name);
        std::string order;
        for (const std::string& k : orderKeys) order += (order.empty() ? "" : ", ") + k;

        if (!s.top) {
            r.sql = std::string("SELECT ") + (distinct ? "DISTINCT " : "") + list + tail;
            if (!order.empty()) {
                r.sql += " ORDER BY " + order;
                r.simple = false;
            }
            return r;
        }
        // TOP n keeps the rows that sort among the first n, and every row
        // that ties with the last of them; PERCENT counts from all rows.
        char* end = nullptr;
        const double n = std::strtod(s.top->c_str(), &end);
        if (end == s.top->c_str() || *end || !(n > 0) || (!s.topPercent && n != std::floor(n)) ||
            (s.topPercent && n > 100))
            refuse("has TOP " + *s.top);
        const std::string count = s.topPercent ? std::string() : std::to_string(static_cast<long long>(n));
        r.simple = false;
        if (order.empty()) {
            if (!s.topPercent) {
                r.sql = std::string("SELECT ") + (distinct ? "DISTINCT " : "") + list + tail + " LIMIT " + count;
                return r;
            }
            const std::string inner = std::string("SELECT ") + (distinct ? "DISTINCT " : "") + list + tail;
            r.sql = "SELECT " + names + " FROM (SELECT *, row_number() OVER () AS \"_talmera_row\", count(*) OVER () AS "
                    "\"_talmera_rows\" FROM (" + inner + ")) WHERE (\"_talmera_row\" - 1) * 100 < \"_talmera_rows\" * " +
                    *s.top + " ORDER BY \"_talmera_row\"";
            return r;
        }
        std::string ranked;
        if (distinct) {
            // The keys of a DISTINCT query are among its columns.
            std::string keys;
            for (size_t k = 0; k < orderValues.size(); ++k) {
                std::string name;
                for (const OutputItem& item : items)
                    if (item.value.sql == orderValues[k].sql) name = item.name;
                if (name.empty()) refuse("sorts a DISTINCT query by something it does not output");
                Value byName = orderValues[k];
                byName.sql = QuoteIdentifier(name);
                keys += (keys.empty() ? "" : ", ") + orderKey(byName) + (descending[k] ? " DESC" : "");
            }
            ranked = "SELECT *, rank() OVER (ORDER BY " + keys + ") AS \"_talmera_rank\"" +
                     (s.topPercent ? ", count(*) OVER () AS \"_talmera_rows\"" : "") + " FROM (SELECT DISTINCT " + list +
                     tail + ")";
        } else {
            ranked = "SELECT " + list + ", rank() OVER (ORDER BY " + order + ") AS \"_talmera_rank\"" +
                     (s.topPercent ? ", count(*) OVER () AS \"_talmera_rows\"" : "") + tail;
        }
        const std::string keep = s.topPercent ? "(\"_talmera_rank\" - 1) * 100 < \"_talmera_rows\" * " + *s.top
                                              : "\"_talmera_rank\" <= " + count;
        r.sql = "SELECT " + names + " FROM (" + ranked + ") WHERE " + keep + " ORDER BY \"_talmera_rank\"";
        return r;
    }

    ViewTranslation unionStatement(const Statement& st) {
        std::vector<SelectResult> parts;
        for (const auto& part : st.parts) {
            if (!part->into.empty()) refuse("is a make-table query (SELECT ... INTO)");
            // The order of a part that TOP does not cut does not matter: the
            // union's own ORDER BY decides.
            parts.push_back(select(*part, nullptr, /*withOrder=*/part->top.has_value()));
        }
        const size_t width = parts[0].columns.size();
        for (const SelectResult& p : parts)
            if (p.columns.size() != width) refuse("unites parts of different numbers of columns");
        std::string sql;
        for (size_t i = 0; i < parts.size(); ++i) {
            if (i) sql += st.unionAll[i - 1] ? " UNION ALL " : " UNION ";
            sql += parts[i].simple ? parts[i].sql : "SELECT * FROM (" + parts[i].sql + ")";
        }
        ViewTranslation out;
        for (size_t c = 0; c < width; ++c) {
            ViewColumn column = parts[0].columns[c];
            for (const SelectResult& p : parts)
                if (p.columns[c].kind != column.kind) column.kind = ValueKind::Unknown;
            out.columns.push_back(column);
        }
        if (st.unionOrderBy.empty()) {
            out.select = sql;
            return out;
        }
        // The union's ORDER BY names its columns (those of the first part).
        Scope scope;
        ScopeSource all;
        all.key = "_talmera_union";
        all.sqlName = "\"_talmera_union\"";
        all.columns = out.columns;
        scope.sources.push_back(all);
        std::string order;
        for (const OrderItem& o : st.unionOrderBy) {
            const Expr& e = *o.expr;
            Expr last;
            const Expr* use = &e;
            if (e.kind == Expr::Name && e.parts.size() == 2) {
                last.kind = Expr::Name;
                last.parts = {e.parts[1]};
                use = &last;
            }
            if (use->kind != Expr::Name) refuse("sorts a union by an expression");
            Value v = expr(*use, scope);
            order += (order.empty() ? "" : ", ") + orderKey(v) + (o.descending ? " DESC" : "");
        }
        out.select = "SELECT * FROM (" + sql + ") AS \"_talmera_union\" ORDER BY " + order;
        return out;
    }

    // TRANSFORM agg(x) SELECT rows ... PIVOT p IN (h1, h2): one column per
    // heading, the aggregate over the rows whose pivot value is that heading.
    ViewTranslation crosstab(const Statement& st) {
        if (st.pivotIn.empty()) refuse("is a crosstab whose column headings come from the data (no PIVOT ... IN list)");
        const Select& s = *st.parts[0];
        if (s.top) refuse("is a crosstab with TOP");
        if (!st.transform || st.transform->kind != Expr::Call) refuse("is a crosstab whose value is no aggregate");
        const std::string fn = upper(st.transform->text);
        if (fn != "SUM" && fn != "AVG" && fn != "COUNT" && fn != "MIN" && fn != "MAX")
            refuse("is a crosstab whose value uses " + st.transform->text);
        if (st.transform->args.size() != 1) refuse("is a crosstab whose aggregate has several arguments");

        // The row headings as a select of their own, then the heading columns
        // added to its list.
        Scope scope;
        const std::string from = fromClause(s, scope);
        std::vector<OutputItem> items;
        scope.items = &items;
        for (const SelectItem& item : s.items) {
            if (item.star) refuse("is a crosstab with * among its row headings");
            Value v = expr(*item.expr, scope);
            items.push_back({v, itemName(item, v)});
        }
        scope.items = nullptr;
        Scope inner = scope;
        inner.allowAggregates = false;
        const bool star = st.transform->args[0]->kind == Expr::Star;
        if (star && fn != "COUNT") refuse("is a crosstab with " + st.transform->text + "(*)");
        Value x;
        if (!star) x = expr(*st.transform->args[0], inner);
        const Value pivot = expr(*st.pivot, inner);
        ValueKind cellKind = ValueKind::Integer;
        for (const ExprPtr& h : st.pivotIn) {
            const Value heading = literal(*h);
            if (!heading.constant || heading.isNull || (heading.kind != ValueKind::Text && !numeric(heading.kind)))
                refuse("is a crosstab with a column heading that is not a text or a number");
            const std::string when = compare("=", pivot, heading).sql;
            std::string cell;
            const std::string rowsOf = "count(CASE WHEN " + when + " THEN 1 END)";
            if (fn == "COUNT") {
                cell = star ? "nullif(" + rowsOf + ", 0)"
                            : "(CASE WHEN " + rowsOf + " = 0 THEN NULL ELSE count(CASE WHEN " + when + " THEN " + x.sql + " END) END)";
                cellKind = ValueKind::Integer;
            } else if (fn == "SUM" || fn == "AVG") {
                cell = (fn == "SUM" ? "sum(CASE WHEN " : "avg(CASE WHEN ") + when + " THEN " + num(x, st.transform->text.c_str()) + " END)";
                cellKind = fn == "SUM" && (x.kind == ValueKind::Integer || x.kind == ValueKind::Boolean) ? ValueKind::Integer : ValueKind::Real;
            } else {
                const std::string f = fn == "MIN" ? "min" : "max";
                if (x.kind == ValueKind::Text) cell = f + "(CASE WHEN " + when + " THEN " + x.sql + " END COLLATE NOCASE)", cellKind = ValueKind::Text;
                else if (x.kind == ValueKind::Date) cell = f + "(CASE WHEN " + when + " THEN " + x.sql + " END)", cellKind = ValueKind::Date;
                else cell = f + "(CASE WHEN " + when + " THEN " + num(x, f.c_str()) + " END)", cellKind = ValueKind::Real;
            }
            const std::string name = h->text;
            Value v;
            v.sql = cell;
            v.kind = cellKind;
            v.aggregate = true;
            items.push_back({v, name});
        }
        for (size_t i = 0; i < items.size(); ++i)
            for (size_t j = i + 1; j < items.size(); ++j)
                if (same(items[i].name, items[j].name)) refuse("has two output columns named " + bracketed(items[i].name));
        std::string list;
        for (const OutputItem& item : items)
            list += (list.empty() ? "" : ", ") + item.value.sql + " AS " + QuoteIdentifier(item.name);
        std::string sql = std::string("SELECT ") + (s.distinct ? "DISTINCT " : "") + list;
        if (!from.empty()) sql += " FROM " + from;
        if (s.where) {
            Scope w = scope;
            w.allowAggregates = false;
            sql += " WHERE " + condition(expr(*s.where, w), "WHERE").sql;
        }
        std::string group;
        for (const ExprPtr& g : s.groupBy) {
            Scope gs = scope;
            gs.allowAggregates = false;
            Value v = expr(*g, gs);
            if (!v.constant) group += (group.empty() ? "" : ", ") + v.sql;
        }
        if (!group.empty()) sql += " GROUP BY " + group;
        if (s.having) sql += " HAVING " + condition(expr(*s.having, scope), "HAVING").sql;
        std::string order;
        for (const OrderItem& o : s.orderBy) {
            Value v = expr(*o.expr, scope);
            if (!v.constant) order += (order.empty() ? "" : ", ") + orderKey(v) + (o.descending ? " DESC" : "");
        }
        if (!order.empty()) sql += " ORDER BY " + order;
        ViewTranslation out;
        out.select = sql;
        for (const OutputItem& item : items) out.columns.push_back({item.name, item.value.kind});
        return out;
    }

    const ViewSourceLookup& lookup_;
    int exprCounter_ = 0;
    int depth_ = 0;
    std::set<std::string>* usedSources_ = nullptr;
};

int monthOfName(const std::string& word) {
    static const char* const kMonths[] = {"JANUARY", "FEBRUARY", "MARCH",     "APRIL",   "MAY",      "JUNE",
                                          "JULY",    "AUGUST",   "SEPTEMBER", "OCTOBER", "NOVEMBER", "DECEMBER"};
    const std::string u = upper(word);
    if (u.size() < 3) return 0;
    for (int m = 0; m < 12; ++m)
        if (std::string(kMonths[m]).rfind(u, 0) == 0) return m + 1;
    return 0;
}

}  // namespace

ValueKind ValueKindOfFieldType(int daoType) {
    switch (daoType) {
        case dbBoolean: return ValueKind::Boolean;
        case dbByte:
        case dbInteger:
        case dbLong:
        case dbBigInt: return ValueKind::Integer;
        case dbSingle:
        case dbDouble: return ValueKind::Real;
        case dbCurrency: return ValueKind::Currency;
        case dbDecimal: return ValueKind::Decimal;
        case dbDate: return ValueKind::Date;
        case dbText:
        case dbMemo:
        case dbGUID: return ValueKind::Text;
        case dbBinary:
        case dbLongBinary: return ValueKind::Binary;
        default: return ValueKind::Unknown;
    }
}

std::optional<std::string> AccessDateLiteralText(std::string_view literal) {
    // Words: numbers, month names, AM/PM; separators / - , . : and spaces.
    std::vector<std::string> dateParts, timeParts;
    std::string ampm;
    int monthByName = 0;
    size_t i = 0;
    const std::string s(literal);
    std::vector<std::pair<std::string, char>> tokens;  // token, the separator after it
    while (i < s.size()) {
        while (i < s.size() && s[i] == ' ') ++i;
        if (i >= s.size()) break;
        size_t start = i;
        if (std::isdigit(static_cast<unsigned char>(s[i]))) {
            while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) ++i;
        } else if (std::isalpha(static_cast<unsigned char>(s[i]))) {
            while (i < s.size() && std::isalpha(static_cast<unsigned char>(s[i]))) ++i;
        } else {
            return std::nullopt;
        }
        std::string token = s.substr(start, i - start);
        while (i < s.size() && s[i] == ' ') ++i;
        char sep = ' ';
        if (i < s.size() && (s[i] == '/' || s[i] == '-' || s[i] == ':' || s[i] == ',' || s[i] == '.')) sep = s[i++];
        tokens.emplace_back(token, sep);
    }
    // Split into the date's parts and the time's (numbers joined by ':').
    for (size_t k = 0; k < tokens.size(); ++k) {
        const std::string& t = tokens[k].first;
        const bool timeNumber = std::isdigit(static_cast<unsigned char>(t[0])) &&
                                (tokens[k].second == ':' || (k > 0 && tokens[k - 1].second == ':'));
        if (timeNumber) {
            timeParts.push_back(t);
        } else if (upper(t) == "AM" || upper(t) == "PM") {
            ampm = upper(t);
        } else if (std::isalpha(static_cast<unsigned char>(t[0]))) {
            const int m = monthOfName(t);
            if (!m || monthByName) return std::nullopt;
            monthByName = m;
            dateParts.push_back("#month");
        } else {
            dateParts.push_back(t);
        }
    }
    int year = 1899, month = 12, day = 30;
    auto number = [](const std::string& t) { return t.size() > 9 ? -1 : std::stoi(t); };
    auto fullYear = [&](const std::string& t) {
        const int y = number(t);
        if (t.size() <= 2) return y < 30 ? 2000 + y : 1900 + y;
        return y;
    };
    if (!dateParts.empty()) {
        if (dateParts.size() != 3) return std::nullopt;  // a date without its year depends on today
        if (monthByName) {
            // 31-Jan-95, Jan 31, 1995, 31 January 1995
            std::vector<std::string> numbers;
            size_t monthAt = 0;
            for (size_t k = 0; k < 3; ++k) {
                if (dateParts[k] == "#month") monthAt = k;
                else numbers.push_back(dateParts[k]);
            }
            month = monthByName;
            if (monthAt == 2) return std::nullopt;
            if (numbers[0].size() == 4 && monthAt == 1) {
                year = fullYear(numbers[0]);
                day = number(numbers[1]);
            } else {
                day = number(numbers[0]);
                year = fullYear(numbers[1]);
            }
        } else if (dateParts[0].size() == 4) {
            year = number(dateParts[0]);  // 1995-01-31
            month = number(dateParts[1]);
            day = number(dateParts[2]);
        } else {
            month = number(dateParts[0]);  // United States order: 1/31/95
            day = number(dateParts[1]);
            year = fullYear(dateParts[2]);
        }
    }
    int hour = 0, minute = 0, second = 0;
    if (!timeParts.empty()) {
        if (timeParts.size() < 2 || timeParts.size() > 3) return std::nullopt;
        hour = number(timeParts[0]);
        minute = number(timeParts[1]);
        second = timeParts.size() == 3 ? number(timeParts[2]) : 0;
        if (!ampm.empty()) {
            if (hour < 1 || hour > 12) return std::nullopt;
            if (ampm == "AM" && hour == 12) hour = 0;
            if (ampm == "PM" && hour != 12) hour += 12;
        }
    } else if (!ampm.empty()) {
        return std::nullopt;
    }
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour < 0 || hour > 23 || minute < 0 || minute > 59 ||
        second < 0 || second > 59 || year < 100 || year > 9999)
        return std::nullopt;
    // The day must exist in its month.
    const double days = DaysFromCivil(year, month, day);
    const double first = DaysFromCivil(year, month, 1);
    const double next = month == 12 ? DaysFromCivil(year + 1, 1, 1) : DaysFromCivil(year, month + 1, 1);
    if (days < first || days >= next) return std::nullopt;
    const std::optional<double> value = ComposeDays(year, month, day, hour, minute, second);
    if (!value) return std::nullopt;
    return IsoDate(*value);
}

std::optional<std::string> RunsView(sqlite3* db, const std::string& viewName) {
    const std::string sql = "SELECT * FROM " + QuoteIdentifier(viewName) + " LIMIT 1";
    sqlite3_stmt* st = nullptr;
    int rc = sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()), &st, nullptr);
    if (rc == SQLITE_OK) rc = sqlite3_step(st);
    std::optional<std::string> failure;
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) failure = sqlite3_errmsg(db);
    sqlite3_finalize(st);
    return failure;
}

std::vector<PlannedView> PlanViews(const std::vector<PlannedTable>& tables, const std::vector<PlannedQuery>& queries) {
    std::vector<PlannedView> out(queries.size());
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(":memory:", &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        for (PlannedView& v : out) v.reason = "cannot be tried: no SQLite database in memory";
        return out;
    }
    std::vector<std::string> sqliteNames(tables.size());
    for (size_t i = 0; i < tables.size(); ++i) {
        if (tables[i].linked) continue;
        std::string columns;
        for (const ViewColumn& c : tables[i].columns) columns += (columns.empty() ? "" : ", ") + QuoteIdentifier(c.name);
        // As the output names them: SQLite keeps sqlite_ names, _talmera_ names are the metadata's.
        const std::string u = upper(tables[i].name);
        sqliteNames[i] = u.rfind("SQLITE_", 0) == 0 || u.rfind("_TALMERA_", 0) == 0 ? "t_" + tables[i].name : tables[i].name;
        if (columns.empty()) columns = "\"_talmera_none\"";
        sqlite3_exec(db, ("CREATE TABLE " + QuoteIdentifier(sqliteNames[i]) + " (" + columns + ")").c_str(), nullptr,
                     nullptr, nullptr);
    }
    std::vector<bool> made(queries.size(), false);
    std::vector<std::vector<ViewColumn>> viewColumns(queries.size());
    auto lookup = [&](const std::string& name) -> std::optional<ViewSource> {
        for (size_t i = 0; i < tables.size(); ++i) {
            if (!same(tables[i].name, name)) continue;
            ViewSource s;
            s.state = tables[i].linked ? ViewSource::LinkedTable : ViewSource::Table;
            s.sqliteName = sqliteNames[i];
            s.columns = tables[i].columns;
            return s;
        }
        for (size_t i = 0; i < queries.size(); ++i) {
            if (!same(queries[i].name, name)) continue;
            ViewSource s;
            s.state = made[i] ? ViewSource::View : ViewSource::QueryWithoutView;
            s.sqliteName = queries[i].name;
            s.columns = viewColumns[i];
            return s;
        }
        return std::nullopt;
    };
    for (bool progress = true; progress;) {
        progress = false;
        for (size_t i = 0; i < queries.size(); ++i) {
            if (made[i]) continue;
            if (!queries[i].connect.empty()) {
                out[i].reason = "is a pass-through query: its SQL runs on its ODBC source";
                continue;
            }
            ViewTranslation view = TranslateQueryToView(queries[i].sql, lookup);
            if (view.select.empty()) {
                out[i].reason = view.reason;
                continue;
            }
            const std::string name = QuoteIdentifier(queries[i].name);
            char* message = nullptr;
            std::optional<std::string> failure;
            if (sqlite3_exec(db, ("CREATE VIEW " + name + " AS " + view.select).c_str(), nullptr, nullptr, &message) !=
                SQLITE_OK) {
                failure = message ? message : "the view is refused";
            } else {
                failure = RunsView(db, queries[i].name);
                if (failure) sqlite3_exec(db, ("DROP VIEW " + name).c_str(), nullptr, nullptr, nullptr);
            }
            sqlite3_free(message);
            if (failure) {
                out[i].reason = "cannot be run by SQLite as translated: " + *failure;
                continue;
            }
            made[i] = true;
            viewColumns[i] = view.columns;
            out[i].select = view.select;
            out[i].reason.clear();
            progress = true;
        }
    }
    sqlite3_close(db);
    return out;
}

ViewTranslation TranslateQueryToView(std::string_view accessSql, const ViewSourceLookup& lookup) {
    ViewTranslation out;
    if (accessSql.find_first_not_of(" \t\r\n;") == std::string_view::npos) {
        out.reason = "has no SQL text";
        return out;
    }
    auto parsed = access::ParseStatement(accessSql);
    if (auto* error = std::get_if<access::SyntaxError>(&parsed)) {
        out.reason = "is not SQL this translation reads: " + error->message;
        return out;
    }
    try {
        Translator t(lookup);
        out = t.statement(std::get<Statement>(parsed));
    } catch (const NoView& no) {
        out = ViewTranslation{};
        out.reason = no.reason;
        out.waitsForQuery = no.waits;
    }
    return out;
}

}  // namespace talmera::dao::sqlite
