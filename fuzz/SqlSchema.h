// For the targets that take Access SQL: tables made up from what a statement
// names, so that its translation into a SQLite view finds its sources and
// fields (output/dao/ViewTranslation.h) and goes past the name lookup.
//
// Every table the statement reads becomes a table; a name T.c gives T (or
// the table aliased T) a field c, a bare name gives the first table one. The
// kind of each field comes from its name's first byte, so that a mutated name
// changes it.
#pragma once

#include <algorithm>
#include <cctype>
#include <memory>
#include <string>
#include <vector>

#include "output/dao/AccessSql.h"
#include "output/dao/ViewTranslation.h"

namespace talmera::fuzz {

class SchemaFromSql {
public:
    std::vector<dao::sqlite::PlannedTable> tables;

    void statement(const dao::sqlite::access::Statement& st) {
        for (const auto& part : st.parts) select(part.get(), 0);
        for (const auto& o : st.unionOrderBy) expr(o.expr.get(), 0);
        expr(st.transform.get(), 0);
        expr(st.pivot.get(), 0);
        for (const auto& e : st.pivotIn) expr(e.get(), 0);
    }

private:
    struct Alias {
        std::string alias, table;
    };
    std::vector<Alias> aliases_;

    static bool same(const std::string& a, const std::string& b) {
        return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
                   return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
               });
    }
    dao::sqlite::PlannedTable* table(const std::string& name) {
        for (auto& t : tables)
            if (same(t.name, name)) return &t;
        for (const Alias& a : aliases_)
            if (same(a.alias, name)) return table(a.table);
        return nullptr;
    }
    void addTable(const std::string& name) {
        if (name.empty() || table(name) || tables.size() >= 16) return;
        tables.push_back({name, {}, false});
    }
    void addField(dao::sqlite::PlannedTable* t, const std::string& name) {
        if (!t || name.empty() || t->columns.size() >= 64) return;
        for (const auto& c : t->columns)
            if (same(c.name, name)) return;
        using K = dao::sqlite::ValueKind;
        static const K kinds[] = {K::Text, K::Integer, K::Real, K::Currency, K::Decimal, K::Date, K::Boolean, K::Binary, K::Unknown};
        t->columns.push_back({name, kinds[static_cast<unsigned char>(name[0]) % (sizeof kinds / sizeof kinds[0])]});
    }
    void source(const dao::sqlite::access::Source* s, int depth) {
        using Source = dao::sqlite::access::Source;
        if (!s || depth > 64) return;
        switch (s->kind) {
            case Source::Table:
                addTable(s->name);
                if (!s->alias.empty()) aliases_.push_back({s->alias, s->name});
                break;
            case Source::Subquery: select(s->subquery.get(), depth + 1); break;
            case Source::Join:
                source(s->left.get(), depth + 1);
                source(s->right.get(), depth + 1);
                expr(s->on.get(), depth + 1);
                break;
        }
    }
    void select(const dao::sqlite::access::Select* s, int depth) {
        if (!s || depth > 64) return;
        for (const auto& f : s->from) source(f.get(), depth + 1);
        for (const auto& item : s->items) expr(item.expr.get(), depth + 1);
        expr(s->where.get(), depth + 1);
        for (const auto& g : s->groupBy) expr(g.get(), depth + 1);
        expr(s->having.get(), depth + 1);
        for (const auto& o : s->orderBy) expr(o.expr.get(), depth + 1);
    }
    void expr(const dao::sqlite::access::Expr* e, int depth) {
        using Expr = dao::sqlite::access::Expr;
        if (!e || depth > 64) return;
        if (e->kind == Expr::Name && !e->parts.empty()) {
            if (e->parts.size() >= 2) {
                dao::sqlite::PlannedTable* t = table(e->parts[e->parts.size() - 2]);
                addField(t, e->parts.back());
            } else if (!tables.empty()) {
                addField(&tables.front(), e->parts[0]);
            }
        }
        for (const auto& a : e->args) expr(a.get(), depth + 1);
        select(e->subquery.get(), depth + 1);
    }
};

// Parses each query's statement (and the text as one expression), then
// plans the views of the queries over the tables their statements name: each
// translation is created as a view and run in a SQLite database in memory.
inline void TranslateAndPlan(const std::vector<dao::sqlite::PlannedQuery>& queries) {
    SchemaFromSql schema;
    for (const auto& q : queries) {
        auto parsed = dao::sqlite::access::ParseStatement(q.sql);
        if (auto* st = std::get_if<dao::sqlite::access::Statement>(&parsed)) schema.statement(*st);
        (void)dao::sqlite::access::ParseExpression(q.sql);
    }
    (void)dao::sqlite::PlanViews(schema.tables, queries);
}

}  // namespace talmera::fuzz
