// Small databases for the engine tests, written by the independent writer.
#pragma once

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "jetwriter/JetWriter.h"
#include "tests/support/TestSupport.h"

namespace talmera::test {

inline const char* formatName(jetwriter::Format f) {
    switch (f) {
        case jetwriter::Format::Jet3: return "jet3";
        case jetwriter::Format::Jet4: return "jet4";
        case jetwriter::Format::Ace: return "ace";
    }
    return "?";
}

inline jetwriter::Column col(const std::string& name, uint8_t type, uint16_t length = 0) {
    jetwriter::Column c;
    c.name = name;
    c.type = type;
    c.length = length;
    return c;
}

// A table of a few columns with n rows.
inline jetwriter::Table simpleTable(const std::string& name, int rows = 3) {
    jetwriter::Table t;
    t.name = name;
    t.columns = {col("ID", jetwriter::kLong), col("Label", jetwriter::kText, 50), col("Amount", jetwriter::kDouble)};
    t.columns[0].autoNumber = true;
    for (int i = 0; i < rows; ++i) {
        t.rows.push_back({{int64_t{i + 1}, std::string("row ") + std::to_string(i + 1), double(i) * 1.5}});
    }
    return t;
}

// Writes the database (with optional damage) into dir and returns its path.
inline std::string writeDatabase(const TempDir& dir, const std::string& name, const jetwriter::Database& db,
                                 jetwriter::Layout* layout = nullptr,
                                 const jetwriter::Damage* damage = nullptr) {
    jetwriter::Layout local;
    jetwriter::Layout& l = layout ? *layout : local;
    std::vector<uint8_t> image = jetwriter::write(db, &l);
    if (damage) jetwriter::applyDamage(image, *damage, l);
    const std::string path = dir.file(name);
    writeFile(path, image);
    return path;
}

inline const tableInfo* findTable(const CMDBRecovery& engine, const std::string& name) {
    for (const tableInfo& t : engine.tables) {
        if (t.name == name) return &t;
    }
    return nullptr;
}

inline std::vector<std::string> tableNames(const CMDBRecovery& engine) {
    std::vector<std::string> names;
    for (const tableInfo& t : engine.tables) names.push_back(t.name);
    return names;
}

inline std::string longText(size_t n) {
    std::string s;
    for (size_t i = 0; s.size() < n; ++i) s += "Line " + std::to_string(i) + " of a long memo. ";
    s.resize(n);
    return s;
}

// Pages whose bytes 4..7 read "LVAL", in file order.
inline std::vector<uint32_t> lvalPages(const std::vector<uint8_t>& image, uint32_t pageSize) {
    std::vector<uint32_t> pages;
    for (size_t p = 0; (p + 1) * pageSize <= image.size(); ++p) {
        if (image[p * pageSize] == 0x01 && std::memcmp(&image[p * pageSize + 4], "LVAL", 4) == 0) {
            pages.push_back(static_cast<uint32_t>(p));
        }
    }
    return pages;
}

// A Jet 4 table "Memos" (ID, Body) whose first row holds a memo of 12,000
// characters chained over long-value pages, with the pages of that chain.
struct ChainedMemo {
    std::string body = longText(12000);
    std::vector<uint8_t> image;
    uint32_t pageSize = 0;
    std::vector<uint32_t> chain;  // the long-value pages, in file order
    // The image with one of the chain's pages zeroed.
    std::vector<uint8_t> withChainPageZeroed(size_t k) const {
        std::vector<uint8_t> broken = image;
        std::fill(broken.begin() + chain[k] * pageSize, broken.begin() + (chain[k] + 1) * pageSize, 0);
        return broken;
    }
};

inline ChainedMemo chainedMemo(const std::vector<jetwriter::Row>& moreRows = {}) {
    ChainedMemo m;
    jetwriter::Table t;
    t.name = "Memos";
    t.columns = {col("ID", jetwriter::kLong), col("Body", jetwriter::kMemo)};
    t.rows = {{{int64_t{1}, m.body}}};
    t.rows.insert(t.rows.end(), moreRows.begin(), moreRows.end());
    jetwriter::Database db;
    db.format = jetwriter::Format::Jet4;
    db.tables = {t};
    jetwriter::Layout layout;
    m.image = jetwriter::write(db, &layout);
    m.pageSize = layout.pageSize;
    m.chain = lvalPages(m.image, m.pageSize);
    return m;
}

}  // namespace talmera::test
